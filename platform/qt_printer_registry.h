#pragma once
// The program-wide current printer on Qt's print support: it starts as the
// system's default printer (or the first installed one when there is no
// default) and keeps the copies, duplex mode and orientation set on it.

#include <QPrinter>
#include <memory>
#include <optional>

#include "platform/printer_registry.h"

class QtPrinterRegistry : public PrinterRegistry {
  public:
    QtPrinterRegistry();
    ~QtPrinterRegistry() override;

    QString DeviceName() const override;
    QString DriverName() const override;
    QString Port() const override;
    qint16 Orientation() const override;
    qint16 Duplex() const override;
    qint16 Copies() const override;
    void setOrientation(qint16 value) override;
    void setDuplex(qint16 value) override;
    void setCopies(qint16 value) override;
    QList<InstalledPrinter> Printers() const override;
    void setCurrent(qsizetype index) override;

    // The current printer as a device to print on; nullptr without one.
    QPrinter* Device() const { return current_ ? printer_.get() : nullptr; }

  private:
    void RequireCurrent() const;

    std::unique_ptr<QPrinter> printer_;
    std::optional<InstalledPrinter> current_;
};

// A Qt printer's settings as device-mode values (kDmOrient..., kDmDup...,
// copies in 1..32767), and a kDmDup... value as Qt's duplex mode (an unknown
// value: one-sided). The current printer and the printer dialog's answer
// both read and write them so.
qint16 DevModeOrientation(const QPrinter& printer);
qint16 DevModeDuplex(QPrinter::DuplexMode mode);
qint16 DevModeCopies(const QPrinter& printer);
QPrinter::DuplexMode QtDuplexMode(qint16 value);

// The program's one current printer, made on first use and released when the
// application object goes away.
QtPrinterRegistry& ProgramPrinter();
