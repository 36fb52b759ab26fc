#pragma once
// The program's current printer (where its print output would go) and the
// printers installed on the system, as the printer dialog reads and switches
// them. QtPrinterRegistry is the real one; ScriptedPrinterRegistry stands in
// for it in tests (tests/support/).

#include <QList>
#include <QString>

// Error number of a current printer that cannot be read, for example because
// no printer is installed.
inline constexpr int kPrinterInfoError = 484;

struct InstalledPrinter {
    QString DeviceName;
    QString DriverName;
    QString Port;
};

class PrinterRegistry {
  public:
    virtual ~PrinterRegistry() = default;

    // The current printer. Every read throws RuntimeError(kPrinterInfoError)
    // with a description for the user when there is no current printer.
    virtual QString DeviceName() const = 0;
    virtual QString DriverName() const = 0;
    virtual QString Port() const = 0;
    virtual qint16 Orientation() const = 0;  // kDmOrientPortrait or kDmOrientLandscape
    virtual qint16 Duplex() const = 0;       // kDmDupSimplex, kDmDupVertical, kDmDupHorizontal
    virtual qint16 Copies() const = 0;

    // Adjust the current printer. Each throws RuntimeError: kPrinterInfoError
    // without a current printer, InvalidPropertyValue for a value it does not
    // know (copies below 1, an unknown orientation or duplex mode).
    virtual void setOrientation(qint16 value) = 0;
    virtual void setDuplex(qint16 value) = 0;
    virtual void setCopies(qint16 value) = 0;

    // The installed printers, in the system's order.
    virtual QList<InstalledPrinter> Printers() const = 0;
    // Makes Printers()[index] the current printer; an index out of range
    // changes nothing.
    virtual void setCurrent(qsizetype index) = 0;
};

// Russian description of kPrinterInfoError, shown to the user.
QString PrinterInfoErrorText();
