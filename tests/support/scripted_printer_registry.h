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
    qint16 orientation = 1;
    qint16 duplex = 1;
    qint16 copies = 1;
    bool duplexReadable = true;  // false: reading the duplex mode fails

    // Every setCurrent call, in order.
    QList<qsizetype> switches;

    QString DeviceName() const override { return Current().DeviceName; }
    QString DriverName() const override { return Current().DriverName; }
    QString Port() const override { return Current().Port; }
    qint16 Orientation() const override;
    qint16 Duplex() const override;
    qint16 Copies() const override;
    void setOrientation(qint16 value) override;
    void setDuplex(qint16 value) override;
    void setCopies(qint16 value) override;
    QList<InstalledPrinter> Printers() const override { return installed; }
    void setCurrent(qsizetype index) override;

  private:
    const InstalledPrinter& Current() const;
};
