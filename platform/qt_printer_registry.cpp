#include "platform/qt_printer_registry.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPrinterInfo>

#include "platform/dialog_backend.h"
#include "platform/runtime_error.h"

QString PrinterInfoErrorText() {
    return QStringLiteral(
        "Не удалось получить сведения о принтере. Проверьте, что принтер установлен и "
        "настроен.");
}

namespace {

InstalledPrinter Describe(const QPrinterInfo& info) {
    // The system gives no driver file or port name: the make and model and
    // the location say the same to a user.
    return {info.printerName(), info.makeAndModel(), info.location()};
}

QtPrinterRegistry* programPrinter = nullptr;

void ReleaseProgramPrinter() {
    delete programPrinter;
    programPrinter = nullptr;
}

}  // namespace

qint16 DevModeOrientation(const QPrinter& printer) {
    return printer.pageLayout().orientation() == QPageLayout::Landscape ? kDmOrientLandscape
                                                                        : kDmOrientPortrait;
}

qint16 DevModeDuplex(QPrinter::DuplexMode mode) {
    switch (mode) {
        case QPrinter::DuplexShortSide:
            return kDmDupHorizontal;
        case QPrinter::DuplexLongSide:
        case QPrinter::DuplexAuto:
            return kDmDupVertical;
        case QPrinter::DuplexNone:
            break;
    }
    return kDmDupSimplex;
}

qint16 DevModeCopies(const QPrinter& printer) {
    return qint16(qBound(1, printer.copyCount(), 32767));
}

QPrinter::DuplexMode QtDuplexMode(qint16 value) {
    switch (value) {
        case kDmDupVertical:
            return QPrinter::DuplexLongSide;
        case kDmDupHorizontal:
            return QPrinter::DuplexShortSide;
        default:
            return QPrinter::DuplexNone;
    }
}

QtPrinterRegistry::QtPrinterRegistry() : printer_(std::make_unique<QPrinter>()) {
    QPrinterInfo start = QPrinterInfo::defaultPrinter();
    if (start.isNull()) {
        const QList<QPrinterInfo> all = QPrinterInfo::availablePrinters();
        if (!all.isEmpty()) start = all.first();
    }
    if (!start.isNull()) {
        printer_->setPrinterName(start.printerName());
        current_ = Describe(start);
    }
}

QtPrinterRegistry::~QtPrinterRegistry() = default;

void QtPrinterRegistry::RequireCurrent() const {
    if (!current_) throw RuntimeError(kPrinterInfoError, PrinterInfoErrorText().toStdString());
}

QString QtPrinterRegistry::DeviceName() const {
    RequireCurrent();
    return current_->DeviceName;
}

QString QtPrinterRegistry::DriverName() const {
    RequireCurrent();
    return current_->DriverName;
}

QString QtPrinterRegistry::Port() const {
    RequireCurrent();
    return current_->Port;
}

qint16 QtPrinterRegistry::Orientation() const {
    RequireCurrent();
    return DevModeOrientation(*printer_);
}

qint16 QtPrinterRegistry::Duplex() const {
    RequireCurrent();
    return DevModeDuplex(printer_->duplex());
}

qint16 QtPrinterRegistry::Copies() const {
    RequireCurrent();
    return DevModeCopies(*printer_);
}

void QtPrinterRegistry::setOrientation(qint16 value) {
    RequireCurrent();
    if (value != kDmOrientPortrait && value != kDmOrientLandscape) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    printer_->setPageOrientation(value == kDmOrientLandscape ? QPageLayout::Landscape
                                                             : QPageLayout::Portrait);
}

void QtPrinterRegistry::setDuplex(qint16 value) {
    RequireCurrent();
    if (value != kDmDupSimplex && value != kDmDupVertical && value != kDmDupHorizontal) {
        throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
    printer_->setDuplex(QtDuplexMode(value));
}

void QtPrinterRegistry::setCopies(qint16 value) {
    RequireCurrent();
    if (value < 1) throw RuntimeError(RuntimeError::InvalidPropertyValue);
    printer_->setCopyCount(value);
}

QList<InstalledPrinter> QtPrinterRegistry::Printers() const {
    QList<InstalledPrinter> printers;
    for (const QPrinterInfo& info : QPrinterInfo::availablePrinters()) {
        printers.append(Describe(info));
    }
    return printers;
}

void QtPrinterRegistry::setCurrent(qsizetype index) {
    const QList<QPrinterInfo> all = QPrinterInfo::availablePrinters();
    if (index < 0 || index >= all.size()) return;
    printer_->setPrinterName(all[index].printerName());
    current_ = Describe(all[index]);
}

QtPrinterRegistry& ProgramPrinter() {
    if (!programPrinter) {
        programPrinter = new QtPrinterRegistry;
        qAddPostRoutine(ReleaseProgramPrinter);
    }
    return *programPrinter;
}
