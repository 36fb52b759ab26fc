#pragma once
// Printer registry for tests: a prepared list of printers, one of them
// current (or none), and a record of every switch and adjustment.

#include <QList>

#include "platform/printer_registry.h"

class ScriptedPrinterRegistry : public PrinterRegistry {
  public:
    // The installed printers and the index of the current one (-1: none, so
    // every read of the current printer fails).
    QList<InstalledPrinter> installed;
    qsizetype current = -1;
    qint16 orientation = 1, duplex = 1, copies = 1;
    bool duplexReadable = true;  // false: reading the duplex mode fails

    // Every setCurrent call, in order.
    QList<qsizetype> switches;

    QString DeviceName() const override { return Current().DeviceName; }
    QString DriverName() const override { return Current().DriverName; }
    QString Port() const override { return Current().Port; }
    qint16 Orientation() const override { return Read(orientation); }
    qint16 Duplex() const override { return Read(duplex, duplexReadable); }
    qint16 Copies() const override { return Read(copies); }
    void setOrientation(qint16 v) override { Write(orientation, v, v == 1 || v == 2); }
    void setDuplex(qint16 v) override { Write(duplex, v, v >= 1 && v <= 3); }
    void setCopies(qint16 v) override { Write(copies, v, v >= 1); }
    QList<InstalledPrinter> Printers() const override { return installed; }
    void setCurrent(qsizetype index) override;

  private:
    const InstalledPrinter& Current() const;
    // Fail without a current printer, and for a value that cannot be read or
    // is not valid.
    qint16 Read(qint16 value, bool readable = true) const;
    void Write(qint16& field, qint16 value, bool valid);
};
