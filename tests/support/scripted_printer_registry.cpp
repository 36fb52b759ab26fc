#include "tests/support/scripted_printer_registry.h"

#include "platform/runtime_error.h"

const InstalledPrinter& ScriptedPrinterRegistry::Current() const {
    if (current < 0 || current >= installed.size()) {
        throw RuntimeError(kPrinterInfoError, PrinterInfoErrorText().toStdString());
    }
    return installed[current];
}

qint16 ScriptedPrinterRegistry::Orientation() const {
    Current();
    return orientation;
}

qint16 ScriptedPrinterRegistry::Duplex() const {
    Current();
    if (!duplexReadable) throw RuntimeError(kPrinterInfoError);
    return duplex;
}

qint16 ScriptedPrinterRegistry::Copies() const {
    Current();
    return copies;
}

void ScriptedPrinterRegistry::setOrientation(qint16 value) {
    Current();
    if (value != 1 && value != 2) throw RuntimeError(RuntimeError::InvalidPropertyValue);
    orientation = value;
}

void ScriptedPrinterRegistry::setDuplex(qint16 value) {
    Current();
    if (value < 1 || value > 3) throw RuntimeError(RuntimeError::InvalidPropertyValue);
    duplex = value;
}

void ScriptedPrinterRegistry::setCopies(qint16 value) {
    Current();
    if (value < 1) throw RuntimeError(RuntimeError::InvalidPropertyValue);
    copies = value;
}

void ScriptedPrinterRegistry::setCurrent(qsizetype index) {
    switches.append(index);
    if (index >= 0 && index < installed.size()) current = index;
}
