#include "dialogs/cls_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <cmath>

#include "platform/linux_shell_services.h"
#include "platform/printer_registry.h"
#include "platform/qt_dialog_backend.h"
#include "platform/qt_printer_registry.h"
#include "platform/runtime_error.h"

namespace {
constexpr quint32 kOfnRecordSize = 76;
// Longest filter the conversion walks: its position counter is 16-bit.
constexpr qsizetype kMaxFilterChars = 32767;
// Bits of `flags` the folder picker understands: browse for computer,
// browse for printer, include files, and (only with one of those) bit 0.
constexpr quint32 kFolderFlagMask = 0x7001;

constexpr quint32 kChooseColorRecordSize = 36;
// Bits of `flags` the colour dialog understands: start colour, full open,
// prevent full open, help. Hook and template bits are dropped.
constexpr quint32 kColorFlagMask = 0x0F;

constexpr quint32 kChooseFontRecordSize = 60;
// The font dialog always lists screen fonts, starts from the font described
// by the properties and offers the effects (colour, underline, strike-out).
constexpr quint32 kFontDialogFlags = kCfScreenFonts | kCfInitToLogFontStruct | kCfEffects;
// Longest face name the answer is read into, without its terminator.
constexpr int kFaceBufferChars = 79;

constexpr quint32 kPrintDlgRecordSize = 66;
// Bits of `flags` the printer dialog understands; hook and template bits
// are dropped.
constexpr quint32 kPrintFlagMask = 0x1C0FFF;
constexpr quint32 kDevModeFields = kDmOrientation | kDmDuplex;
const QString kPrinterErrorCaption = QStringLiteral("Printer Error");

// Bits 4 to 7 of `flags` are the run dialog's options.
constexpr quint32 kRunFlagMask = 0xF0;
// Bits 8 to 11 of `flags` pick the object of ShowObjectProp.
constexpr quint32 kObjectKindMask = 0xF00;
constexpr quint32 kObjectKindTrash = 7;
constexpr quint32 kObjectKindDisplay = 8;

constexpr qint32 kHelpData = 257;

// A 32-bit result of a computation that may not fit, as the property types
// require.
qint32 Checked32(double value) {
    if (!(value >= -2147483648.0 && value <= 2147483647.0)) {
        throw RuntimeError(RuntimeError::Overflow);
    }
    return qint32(value);
}

}  // namespace

QString StartFolder(const QString& programFolder) {
    const QFileInfo folder(programFolder);
    return folder.isDir() && folder.isWritable() ? programFolder : QDir::currentPath();
}

ClsDialog::ClsDialog(DialogBackend* backend) : ClsDialog(backend, nullptr, nullptr) {}

ClsDialog::ClsDialog(DialogBackend* backend, ShellServices* shell, PrinterRegistry* printers)
    : backend_(backend), shell_(shell), printers_(printers) {
    if (!backend_) {
        ownBackend_ = std::make_unique<QtDialogBackend>();
        backend_ = ownBackend_.get();
    }
}

ShellServices& ClsDialog::Shell() {
    if (!shell_) {
        ownShell_ = std::make_unique<LinuxShellServices>();
        shell_ = ownShell_.get();
    }
    return *shell_;
}

PrinterRegistry& ClsDialog::Printers() {
    return printers_ ? *printers_ : ProgramPrinter();
}

ClsDialog::~ClsDialog() = default;

void ClsDialog::InitOFN() {
    OFN.Flags = flags_ & ~kOfnHookAndTemplateMask;
    OFN.hwndOwner = hOwner_;
    OFN.lStructSize = kOfnRecordSize;
    OFN.lpstrDefExt = DefaultExt_;
    OFN.lpstrInitialDir =
        InitDir_.isEmpty() ? StartFolder(QCoreApplication::applicationDirPath()) : InitDir_;

    if (FileName_.size() > kFileBufferChars) throw RuntimeError(RuntimeError::InvalidArgument);
    OFN.lpstrFile = FileName_ + QString(kFileBufferChars - FileName_.size(), QChar(u'\0'));
    OFN.nMaxFile = kFileBufferChars;
    OFN.lpstrFileTitle = QString(kFileBufferChars, QChar(u'\0'));
    OFN.nMaxFileTitle = kFileBufferChars;

    if (Filter_.size() > kMaxFilterChars) throw RuntimeError(RuntimeError::Overflow);
    QString filter = Filter_;
    filter.replace(u'|', QChar(u'\0'));
    filter += QString(2, QChar(u'\0'));
    OFN.lpstrFilter = filter;

    OFN.nFilterIndex = quint32(FilterIndex_);
    OFN.lpstrTitle = DialogTitle_;
    OFN.hInstance = QCoreApplication::instance();
}

void ClsDialog::ShowOpen() {
    ShowFileDialog(false);
}

void ClsDialog::ShowSave() {
    ShowFileDialog(true);
}

void ClsDialog::ShowFileDialog(bool save) {
    InitOFN();
    LastApiResult = save ? backend_->GetSaveFileName(OFN) : backend_->GetOpenFileName(OFN);
    if (LastApiResult > 0) {
        // The title first, then the name; a buffer without a terminator
        // leaves its property as it was.
        const qsizetype titleEnd = OFN.lpstrFileTitle.indexOf(QChar(u'\0'));
        if (titleEnd >= 0) FileTitle_ = OFN.lpstrFileTitle.left(titleEnd);
        const qsizetype nameEnd = OFN.lpstrFile.indexOf(QChar(u'\0'));
        if (nameEnd >= 0) FileName_ = OFN.lpstrFile.left(nameEnd);
        return;
    }
    if (LastApiResult == kChoiceDoesNotFit) throw RuntimeError(RuntimeError::BufferTooSmall);
    if (CancelError_) throw RuntimeError(RuntimeError::Cancel);
}

QString ClsDialog::ShowFolder(const QString& TopFolder) {
    BrowseInfoRecord bi;
    bi.hwndOwner = hOwner_;
    bi.pidlRoot = TopFolder;
    bi.lpszTitle = DialogPrompt_;
    bi.ulFlags = kBifReturnOnlyFsDirs;
    const quint32 requested = quint32(flags_) & kFolderFlagMask;
    if (requested >= kBifBrowseForComputer) bi.ulFlags = requested;

    const std::optional<QString> chosen = backend_->BrowseForFolder(bi);
    ChosenFolder_.clear();
    if (chosen) {
        QString path = TextBeforeNul(*chosen);
        while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
        ChosenFolder_ = path;
        // The path must fit the platform's path buffer with its terminator.
        if (!path.isEmpty() && QFile::encodeName(path).size() < kMaxPathChars) setInitDir(path);
    }
    return {};
}

void ClsDialog::ShowColor() {
    ChooseColorRecord cc;
    cc.lStructSize = kChooseColorRecordSize;
    cc.hwndOwner = hOwner_;
    cc.hInstance = QCoreApplication::instance();
    cc.rgbResult = RGBResult_;
    cc.lpCustColors.fill(0xFFFFFFFFu);  // custom colours are not remembered
    cc.Flags = quint32(flags_) & kColorFlagMask;

    LastApiResult = backend_->ChooseColor(cc);
    if (LastApiResult != 0) {
        RGBResult_ = cc.rgbResult;
        return;
    }
    if (CancelError_) throw RuntimeError(RuntimeError::Cancel);
}

void ClsDialog::ShowFont() {
    ChooseFontRecord cf;
    LogFontRecord& lf = cf.lpLogFont;
    // The name and its terminator must fit the face field.
    if (FontName_.size() + 1 > kLogFontFaceChars) {
        throw RuntimeError(RuntimeError::SubscriptOutOfRange);
    }
    lf.lfFaceName = FixedField(FontName_, kLogFontFaceChars);
    // Round half to even, as the default floating-point rounding does.
    lf.lfHeight = Checked32(std::nearbyint(double(FontSize_) * 1.3));
    lf.lfItalic = Italic_ ? 1 : 0;
    lf.lfUnderline = Underline_ ? 1 : 0;
    lf.lfStrikeOut = StrikeThru_ ? 1 : 0;
    if (Bold_) lf.lfWeight = kFontWeightBold;

    cf.lStructSize = kChooseFontRecordSize;
    cf.hwndOwner = hOwner_;
    cf.hDC = hOwner_;
    cf.Flags = kFontDialogFlags;
    cf.rgbColors = RGBResult_;
    cf.iPointSize = Checked32(double(FontSize_) * 10);
    cf.nFontType = kScreenFontType;

    LastApiResult = backend_->ChooseFont(cf);
    if (LastApiResult == 0) {
        if (CancelError_) throw RuntimeError(RuntimeError::Cancel);
        return;
    }
    Italic_ = lf.lfItalic != 0;
    Underline_ = lf.lfUnderline != 0;
    StrikeThru_ = lf.lfStrikeOut != 0;
    FontSize_ = cf.iPointSize / 10;
    RGBResult_ = cf.rgbColors;
    Bold_ = (cf.nFontType & kBoldFontType) != 0;

    // The face the system uses for the chosen font; without a font the name
    // stays as it was.
    const std::optional<QString> face = backend_->TextFaceOf(lf);
    if (!face) return;
    const QString name = face->left(kFaceBufferChars);
    LastApiResult = int(name.size());
    FontName_ = name;
}

void ClsDialog::ShowPrinter() {
    PrinterRegistry& printer = Printers();
    PrintDlgRecord pd;
    pd.lStructSize = kPrintDlgRecordSize;
    pd.hwndOwner = hOwner_;
    pd.Flags = quint32(flags_) & kPrintFlagMask;
    pd.hInstance = QCoreApplication::instance();

    DevModeRecord& dm = pd.hDevMode;
    try {
        dm.dmDeviceName = FixedField(printer.DeviceName(), kDeviceNameChars);
        dm.dmSize = kDevModeExchangedBytes;
        dm.dmFields = kDevModeFields;
        dm.dmOrientation = printer.Orientation();
    } catch (const RuntimeError& e) {
        // No current printer to start from: tell the user, nothing else.
        backend_->MessageBox(hOwner_, QString::fromStdString(e.what()), kPrinterErrorCaption,
                             kMbIconExclamation | kMbOk);
        return;
    }
    try {
        dm.dmDuplex = printer.Duplex();
    } catch (const RuntimeError&) {
        dm.dmDuplex = 0;  // not known: the dialog's own choice
    }
    pd.hDevNames = MakeDevNames(printer.DriverName(), printer.DeviceName(), printer.Port());

    LastApiResult = backend_->PrintDlg(pd);
    if (LastApiResult == 0) {
        if (CancelError_) throw RuntimeError(RuntimeError::Cancel);
        return;
    }
    // The device goes to hDC; hOwner stays the owner window.
    hDC_ = pd.hDC;

    const qsizetype end = dm.dmDeviceName.indexOf(QChar(u'\0'));
    if (end < 0) throw RuntimeError(RuntimeError::InvalidArgument);
    const QString chosen = dm.dmDeviceName.left(end).toUpper();
    if (chosen != printer.DeviceName()) {
        const QList<InstalledPrinter> installed = printer.Printers();
        for (qsizetype i = 0; i < installed.size(); ++i) {
            if (installed[i].DeviceName.toUpper() == chosen) printer.setCurrent(i);
        }
    }
    // Each setting on its own: one the printer refuses leaves the others.
    try {
        printer.setCopies(dm.dmCopies);
    } catch (const RuntimeError&) {
    }
    try {
        printer.setDuplex(dm.dmDuplex);
    } catch (const RuntimeError&) {
    }
    try {
        printer.setOrientation(dm.dmOrientation);
    } catch (const RuntimeError&) {
    }
}

QVariant ClsDialog::ShowShutDown() {
    Shell().ShutDownDialog(hOwner_);
    return {};
}

QVariant ClsDialog::ShowRestart() {
    Shell().RestartDialog(hOwner_, DialogPrompt_, quint32(flags_) & kRestartKindMask);
    return {};
}

QVariant ClsDialog::ShowRun(quint32 /*hIcon*/) {
    RunDialogRequest request;
    request.hwndOwner = hOwner_;
    request.hIcon = hIcon_;
    request.lpszTitle = DialogTitle_;
    request.lpszDescription = DialogPrompt_;
    request.uFlags = (quint32(flags_) & kRunFlagMask) / 16;
    Shell().RunFileDlg(request);
    return {};
}

qint32 ClsDialog::ShowFormat(qint32 iDrive, qint32 iCapacity, qint32 iFormatType) {
    return Shell().FormatDrive(hOwner_, iDrive, iCapacity, iFormatType);
}

QVariant ClsDialog::ShowIcon(bool LargeIcon) {
    if (FileName_.endsWith(u'/')) return {};
    if (FileName_.size() > kIconPathChars) throw RuntimeError(RuntimeError::InvalidArgument);
    // The picker works on a buffer of its own: FileName keeps its value.
    QString path = FileName_ + QString(kIconPathChars - FileName_.size(), QChar(u'\0'));
    int index = 0;
    ShellServices& shell = Shell();
    if (shell.PickIconDlg(nullptr, path, kIconPathChars, index) == 0) return {};
    quint32 large = 0;
    quint32 small = 0;
    if (shell.ExtractIconEx(TextBeforeNul(path), index, &large, &small, 1) > 0) {
        hIcon_ = shell.CopyIcon(LargeIcon ? large : small);
        shell.DestroyIcon(small);
        shell.DestroyIcon(large);
    }
    return {};
}

QVariant ClsDialog::ShowObjectProp(const QString& sObjectName, const QString& sTab) {
    const quint32 kind = (quint32(flags_) & kObjectKindMask) / 256;
    ObjectPropertiesRequest request;
    request.hwndOwner = hOwner_;
    request.shopObjectType = kShopFilePath;
    request.pszPropertyPage = sTab;
    if (kind == kShopPrinterName || kind == kShopFilePath) {
        request.shopObjectType = kind;
        request.pszObjectName = sObjectName;
    } else if (kind == kObjectKindTrash) {
        request.pszObjectName = Shell().TrashFolder();
    } else if (kind == kObjectKindDisplay) {
        Shell().StartDisplaySettings();
        return {};
    }
    Shell().ObjectProperties(request);
    return {};
}

QVariant ClsDialog::ShowAbout() {
    if (AppName_.isEmpty()) AppName_ = QString(1, QChar(u'\0'));
    AboutRequest request;
    request.hwndOwner = hOwner_;
    request.szApp = AppName_;
    request.szOtherStuff = DialogPrompt_;
    request.hIcon = hIcon_;
    Shell().ShellAbout(request);
    return {};
}

void ClsDialog::ShowHelp() {
    HelpKey_ = kHelpData;
    HelpRequest request;
    request.hwndOwner = hOwner_;
    request.lpszHelp = HelpFile_;
    request.uCommand = quint32(HelpCommand_);
    request.dwData = kHelpData;
    LastApiResult = Shell().WinHelp(request);
}
