#include "tests/support/scripted_printer_registry.h"

#include "platform/runtime_error.h"

const InstalledPrinter& ScriptedPrinterRegistry::Current() const {
    if (current < 0 || current >= installed.size()) {
        throw RuntimeError(kPrinterInfoError, PrinterInfoErrorText().toStdString());
    }
    return installed[current];
}

qint16 ScriptedPrinterRegistry::Read(qint16 value, bool readable) const {
    Current();
    if (!readable) throw RuntimeError(kPrinterInfoError);
    return value;
}

void ScriptedPrinterRegistry::Write(qint16& field, qint16 value, bool valid) {
    Current();
    if (!valid) throw RuntimeError(RuntimeError::InvalidPropertyValue);
    field = value;
}

void ScriptedPrinterRegistry::setCurrent(qsizetype index) {
    switches.append(index);
    if (index >= 0 && index < installed.size()) current = index;
}
