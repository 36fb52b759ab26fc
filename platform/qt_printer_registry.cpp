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
    return printer_->pageLayout().orientation() == QPageLayout::Landscape ? kDmOrientLandscape
                                                                          : kDmOrientPortrait;
}

qint16 QtPrinterRegistry::Duplex() const {
    RequireCurrent();
    switch (printer_->duplex()) {
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

qint16 QtPrinterRegistry::Copies() const {
    RequireCurrent();
    return qint16(qBound(1, printer_->copyCount(), 32767));
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
    switch (value) {
        case kDmDupSimplex:
            printer_->setDuplex(QPrinter::DuplexNone);
            return;
        case kDmDupVertical:
            printer_->setDuplex(QPrinter::DuplexLongSide);
            return;
        case kDmDupHorizontal:
            printer_->setDuplex(QPrinter::DuplexShortSide);
            return;
        default:
            throw RuntimeError(RuntimeError::InvalidPropertyValue);
    }
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
