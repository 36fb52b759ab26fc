#include "platform/qt_dialog_backend.h"

#include <QBoxLayout>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSettings>

#include "platform/colors.h"
#include "platform/qt_printer_registry.h"

namespace {

int RunFileDialog(OpenFileNameRecord& ofn, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(ofn.hwndOwner);
    dialog.setAcceptMode(mode);
    if (!ofn.lpstrTitle.isEmpty()) {
        dialog.setWindowTitle(ofn.lpstrTitle);
    } else {
        dialog.setWindowTitle(mode == QFileDialog::AcceptOpen ? QStringLiteral("Открыть")
                                                              : QStringLiteral("Сохранить как"));
    }

    // Without the must-exist bit any typed name is accepted, as the record
    // asks; without the overwrite bit an existing file is replaced silently.
    dialog.setFileMode((ofn.Flags & kOfnFileMustExist) ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(ofn.Flags & kOfnOverwritePrompt));

    const QStringList filters = QtNameFilters(ofn.lpstrFilter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const qsizetype index = ofn.nFilterIndex > 0 ? qsizetype(ofn.nFilterIndex) - 1 : 0;
        if (index < filters.size()) dialog.selectNameFilter(filters[index]);
    }
    if (!ofn.lpstrInitialDir.isEmpty()) dialog.setDirectory(ofn.lpstrInitialDir);
    dialog.setDefaultSuffix(ofn.lpstrDefExt);
    // A proposed name with a folder opens the dialog in that folder.
    const QString proposed = TextBeforeNul(ofn.lpstrFile);
    if (!proposed.isEmpty()) dialog.selectFile(proposed);

    if (dialog.exec() != QDialog::Accepted) return 0;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return 0;
    return StoreFileChoice(ofn, chosen.first()) ? 1 : kChoiceDoesNotFit;
}

}  // namespace

QtDialogBackend::QtDialogBackend() {
    // The user's settings files are sought in a folder that cannot exist
    // (a path under a device file), so Qt reads nothing and writes nothing.
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

int QtDialogBackend::GetOpenFileName(OpenFileNameRecord& ofn) {
    return RunFileDialog(ofn, QFileDialog::AcceptOpen);
}

int QtDialogBackend::GetSaveFileName(OpenFileNameRecord& ofn) {
    return RunFileDialog(ofn, QFileDialog::AcceptSave);
}

std::optional<QString> QtDialogBackend::BrowseForFolder(const BrowseInfoRecord& bi) {
    QFileDialog dialog(bi.hwndOwner);
    dialog.setWindowTitle(bi.lpszTitle.isEmpty() ? QStringLiteral("Обзор папок") : bi.lpszTitle);
    if (bi.ulFlags & kBifBrowseIncludeFiles) {
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    }
    if (!bi.pidlRoot.isEmpty()) dialog.setDirectory(bi.pidlRoot);

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    return chosen.first();
}

namespace {

// A custom colour value as the colour dialog shows it: only the colour
// bytes count (0xFFFFFFFF, the unset entry, shows white).
QColor CustomColor(quint32 value) {
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

bool IsCustomPart(const QWidget* w) {
    const QByteArray name = w->metaObject()->className();
    if (name.endsWith("QColorPicker") || name.endsWith("QColorLuminancePicker") ||
        name.endsWith("QColorShower")) {
        return true;
    }
    const auto* button = qobject_cast<const QPushButton*>(w);
    return button && button->text() == QColorDialog::tr("&Add to Custom Colors");
}

}  // namespace

int QtDialogBackend::ChooseColor(ChooseColorRecord& cc) {
    // The custom colours are the dialog's shared table: fill it from the
    // record before the dialog exists and read it back after.
    for (int i = 0; i < kCustomColorCount; ++i) {
        QColorDialog::setCustomColor(i, CustomColor(cc.lpCustColors[i]));
    }
    QColorDialog dialog(cc.hwndOwner);
    dialog.setOption(QColorDialog::DontUseNativeDialog);  // the parts below must be ours
    dialog.setWindowTitle(QStringLiteral("Цвет"));
    dialog.setCurrentColor((cc.Flags & kCcRgbInit) ? ColorFromValue(cc.rgbResult)
                                                   : QColor(Qt::black));

    if (!(cc.Flags & kCcFullOpen) || (cc.Flags & kCcPreventFullOpen)) {
        QList<QWidget*> customPart;
        for (QWidget* w : dialog.findChildren<QWidget*>()) {
            if (IsCustomPart(w)) customPart.append(w);
        }
        for (QWidget* w : customPart) w->hide();
        auto* layout = qobject_cast<QBoxLayout*>(dialog.layout());
        if (!(cc.Flags & kCcPreventFullOpen) && layout) {
            auto* define = new QPushButton(QStringLiteral("Определить цвет >>"), &dialog);
            define->setObjectName("defineCustomButton");
            layout->insertWidget(layout->count() - 1, define);
            QObject::connect(define, &QPushButton::clicked, &dialog, [&dialog, define, customPart] {
                for (QWidget* w : customPart) w->show();
                define->setEnabled(false);
                dialog.adjustSize();
            });
        }
    }

    if (dialog.exec() != QDialog::Accepted) return 0;
    cc.rgbResult = ValueFromColor(dialog.selectedColor());
    for (int i = 0; i < kCustomColorCount; ++i) {
        const QColor now = QColorDialog::customColor(i);
        if (now != CustomColor(cc.lpCustColors[i])) cc.lpCustColors[i] = ValueFromColor(now);
    }
    return 1;
}

namespace {

QFont FontFromLogFont(const LogFontRecord& lf, qint32 iPointSize) {
    QFont font;
    const QString face = TextBeforeNul(lf.lfFaceName);
    if (!face.isEmpty()) font.setFamilies({face});
    if (iPointSize > 0) {
        font.setPointSizeF(iPointSize / 10.0);
    } else if (lf.lfHeight != 0) {
        font.setPixelSize(qBound(1, qAbs(lf.lfHeight), 0xFFFF));
    }
    if (lf.lfWeight > 0) font.setWeight(QFont::Weight(qBound(1, lf.lfWeight, 1000)));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    return font;
}

}  // namespace

int QtDialogBackend::ChooseFont(ChooseFontRecord& cf) {
    const QFont start = (cf.Flags & kCfInitToLogFontStruct)
                            ? FontFromLogFont(cf.lpLogFont, cf.iPointSize)
                            : QFont();
    QFontDialog dialog(start, cf.hwndOwner);
    dialog.setWindowTitle(QStringLiteral("Шрифт"));
    if (dialog.exec() != QDialog::Accepted) return 0;

    const QFont font = dialog.selectedFont();
    const QFontInfo info(font);
    LogFontRecord& lf = cf.lpLogFont;
    // The face field keeps its terminator: a longer family name is cut.
    lf.lfFaceName = FixedField(font.family().left(kLogFontFaceChars - 1), kLogFontFaceChars);
    lf.lfHeight = -info.pixelSize();
    lf.lfWeight = font.weight();
    lf.lfItalic = font.italic() ? 1 : 0;
    lf.lfUnderline = font.underline() ? 1 : 0;
    lf.lfStrikeOut = font.strikeOut() ? 1 : 0;
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : info.pointSizeF();
    cf.iPointSize = qRound(points * 10);
    const bool bold = font.weight() >= QFont::DemiBold;
    cf.nFontType = kScreenFontType | (bold ? kBoldFontType : 0) |
                   (font.italic() ? kItalicFontType : 0) |
                   (!bold && !font.italic() ? kRegularFontType : 0);
    return 1;
}

std::optional<QString> QtDialogBackend::TextFaceOf(const LogFontRecord& lf) {
    return QFontInfo(FontFromLogFont(lf, 0)).family();
}

namespace {

constexpr quint32 kDmCollate = 0x8000;

}  // namespace

int QtDialogBackend::PrintDlg(PrintDlgRecord& pd) {
    DevModeRecord& dm = pd.hDevMode;
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    const QString device = pd.hDevNames.NameAt(pd.hDevNames.wDeviceOffset);
    const QPrinterInfo wanted = QPrinterInfo::printerInfo(device);
    if (pd.Flags & kPdReturnDefault) {
        const QPrinterInfo standard = QPrinterInfo::defaultPrinter();
        if (standard.isNull()) return 0;
        printer->setPrinterName(standard.printerName());
    } else if (!wanted.isNull()) {
        printer->setPrinterName(wanted.printerName());
    }
    if (dm.dmFields & kDmOrientation) {
        printer->setPageOrientation(dm.dmOrientation == kDmOrientLandscape ? QPageLayout::Landscape
                                                                           : QPageLayout::Portrait);
    }
    if (dm.dmFields & kDmDuplex) printer->setDuplex(QtDuplexMode(dm.dmDuplex));
    if ((dm.dmFields & kDmCopies) && dm.dmCopies > 0) printer->setCopyCount(dm.dmCopies);
    printer->setCollateCopies(pd.Flags & kPdCollate);
    if (pd.nMaxPage > 0 && pd.nMinPage <= pd.nMaxPage) {
        printer->setFromTo(qBound(pd.nMinPage, pd.nFromPage, pd.nMaxPage),
                           qBound(pd.nMinPage, pd.nToPage, pd.nMaxPage));
    }

    if (!(pd.Flags & kPdReturnDefault)) {
        QPrintDialog dialog(printer.get(), pd.hwndOwner);
        dialog.setWindowTitle(QStringLiteral("Печать"));
        QAbstractPrintDialog::PrintDialogOptions options =
            QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintCollateCopies;
        if (!(pd.Flags & (kPdDisablePrintToFile | kPdHidePrintToFile))) {
            options |= QAbstractPrintDialog::PrintToFile;
        }
        if (!(pd.Flags & kPdNoSelection)) options |= QAbstractPrintDialog::PrintSelection;
        if (!(pd.Flags & kPdNoPageNums)) options |= QAbstractPrintDialog::PrintPageRange;
        dialog.setOptions(options);
        if (pd.nMaxPage > 0 && pd.nMinPage <= pd.nMaxPage) {
            dialog.setMinMax(pd.nMinPage, pd.nMaxPage);
        }
        if ((pd.Flags & kPdSelection) && !(pd.Flags & kPdNoSelection)) {
            dialog.setPrintRange(QAbstractPrintDialog::Selection);
        } else if ((pd.Flags & kPdPageNums) && !(pd.Flags & kPdNoPageNums)) {
            dialog.setPrintRange(QAbstractPrintDialog::PageRange);
        }
        if (dialog.exec() != QDialog::Accepted) return 0;
    }

    // The answer, as the platform writes it: the device name fills its
    // field, cut to 32 characters.
    const QString chosen = printer->printerName();
    dm.dmDeviceName = FixedField(chosen, kDeviceNameChars);
    dm.dmFields |= kDmOrientation | kDmDuplex | kDmCopies | kDmCollate;
    dm.dmOrientation = DevModeOrientation(*printer);
    dm.dmDuplex = DevModeDuplex(printer->duplex());
    dm.dmCopies = DevModeCopies(*printer);
    dm.dmCollate = printer->collateCopies() ? 1 : 0;
    const QPrinterInfo info = QPrinterInfo::printerInfo(chosen);
    pd.hDevNames = MakeDevNames(info.makeAndModel(), chosen, info.location());
    pd.nCopies = quint16(dm.dmCopies);
    pd.Flags &= ~(kPdSelection | kPdPageNums | kPdCollate);
    if (printer->printRange() == QPrinter::Selection) pd.Flags |= kPdSelection;
    if (printer->printRange() == QPrinter::PageRange) {
        pd.Flags |= kPdPageNums;
        pd.nFromPage = quint16(printer->fromPage());
        pd.nToPage = quint16(printer->toPage());
    }
    if (printer->collateCopies()) pd.Flags |= kPdCollate;
    pd.hDC = (pd.Flags & (kPdReturnDc | kPdReturnIc)) ? printer : nullptr;
    return 1;
}

int QtDialogBackend::MessageBox(QWidget* owner, const QString& text, const QString& caption,
                                quint32 style) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style & 0x70) {
        case kMbIconStop:
            icon = QMessageBox::Critical;
            break;
        case 0x20:
            icon = QMessageBox::Question;
            break;
        case kMbIconExclamation:
            icon = QMessageBox::Warning;
            break;
        case kMbIconInformation:
            icon = QMessageBox::Information;
            break;
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("ОК"));
    box.exec();
    return 1;
}
