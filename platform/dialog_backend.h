#pragma once
// The desktop's standard dialogs as the dialog wrapper sees them: plain
// records that carry a request in and the answer back, and an interface that
// shows a dialog for a record. QtDialogBackend shows real dialogs;
// ScriptedDialogBackend (tests/support/) answers from a script for tests.
//
// Text buffers are QStrings of fixed length, padded with NUL characters: the
// answer is the text up to the first NUL, as callers of the record expect.

#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>

class QCoreApplication;
class QPrinter;
class QWidget;

// Option bits of OpenFileNameRecord::Flags that the backends act on.
inline constexpr qint32 kOfnOverwritePrompt = 0x00000002;  // ask before replacing a file
inline constexpr qint32 kOfnFileMustExist = 0x00001000;    // only an existing file may be chosen
// Hook and template bits: the wrapper never supports them and clears them.
inline constexpr qint32 kOfnHookAndTemplateMask = 0x000000E0;

// Option bits of BrowseInfoRecord::ulFlags.
inline constexpr quint32 kBifReturnOnlyFsDirs = 0x0001;
inline constexpr quint32 kBifBrowseForComputer = 0x1000;
inline constexpr quint32 kBifBrowseForPrinter = 0x2000;
inline constexpr quint32 kBifBrowseIncludeFiles = 0x4000;  // a file may be chosen too

// Size of the file-name and file-title buffers, terminator included: any
// path the system accepts (PATH_MAX) fits.
inline constexpr int kFileBufferChars = 4096;
// Longest folder path in bytes, terminator included (PATH_MAX).
inline constexpr int kMaxPathChars = 4096;
// What an open or save dialog returns for a chosen path longer than its buffers.
inline constexpr int kChoiceDoesNotFit = -1;

// Request and answer of an open or save dialog.
struct OpenFileNameRecord {
    quint32 lStructSize = 0;
    QWidget* hwndOwner = nullptr;           // parent of the dialog; nullptr: none
    QCoreApplication* hInstance = nullptr;  // the program instance
    QString lpstrFilter;                    // description NUL pattern NUL ... NUL NUL
    QString lpstrCustomFilter;              // unused by the backends
    quint32 nMaxCustFilter = 0;
    quint32 nFilterIndex = 0;  // 1-based filter shown first; 0: the first one
    QString lpstrFile;         // in: proposed name; out: chosen path; nMaxFile chars
    quint32 nMaxFile = 0;
    QString lpstrFileTitle;  // out: chosen name without folder; nMaxFileTitle chars
    quint32 nMaxFileTitle = 0;
    QString lpstrInitialDir;
    QString lpstrTitle;  // empty: the dialog's own caption
    qint32 Flags = 0;
    quint16 nFileOffset = 0;     // out: where the name starts in lpstrFile
    quint16 nFileExtension = 0;  // out: where the extension starts (0: none)
    QString lpstrDefExt;         // suffix added to a typed name without one
    quintptr lCustData = 0;
    quintptr lpfnHook = 0;
    QString lpTemplateName;
};

// Request of a folder picker.
struct BrowseInfoRecord {
    QWidget* hwndOwner = nullptr;
    QString pidlRoot;   // folder the picker starts at; empty: the picker's default
    QString lpszTitle;  // prompt; empty: none
    quint32 ulFlags = 0;
};

// Option bits of ChooseColorRecord::Flags.
inline constexpr quint32 kCcRgbInit = 0x01;          // start at rgbResult (else black)
inline constexpr quint32 kCcFullOpen = 0x02;         // the custom-colour part shows at once
inline constexpr quint32 kCcPreventFullOpen = 0x04;  // the custom-colour part is never shown
inline constexpr quint32 kCcShowHelp = 0x08;         // no help on this platform; ignored
inline constexpr int kCustomColorCount = 16;

// Request and answer of a colour dialog. Colours are 0x00BBGGRR values.
struct ChooseColorRecord {
    quint32 lStructSize = 0;
    QWidget* hwndOwner = nullptr;
    QCoreApplication* hInstance = nullptr;
    quint32 rgbResult = 0;  // in: the starting colour (with kCcRgbInit); out: the choice
    std::array<quint32, kCustomColorCount> lpCustColors{};  // in and out
    quint32 Flags = 0;
    quintptr lCustData = 0;
    quintptr lpfnHook = 0;
    QString lpTemplateName;
};

// Room of LogFontRecord::lfFaceName: the platform's 32 characters and one
// more; the name ends at its first NUL.
inline constexpr int kLogFontFaceChars = 33;
inline constexpr qint32 kFontWeightBold = 700;

// A font description, as the font dialog takes and returns it.
struct LogFontRecord {
    qint32 lfHeight = 0;  // in: cell height wanted; out: character height (negative)
    qint32 lfWidth = 0;
    qint32 lfEscapement = 0;
    qint32 lfOrientation = 0;
    qint32 lfWeight = 0;  // 0: no preference; 400 normal; 700 bold
    quint8 lfItalic = 0;
    quint8 lfUnderline = 0;
    quint8 lfStrikeOut = 0;
    quint8 lfCharSet = 0;
    quint8 lfOutPrecision = 0;
    quint8 lfClipPrecision = 0;
    quint8 lfQuality = 0;
    quint8 lfPitchAndFamily = 0;
    QString lfFaceName = QString(kLogFontFaceChars, QChar(u'\0'));
};

// Option bits of ChooseFontRecord::Flags the backends act on.
inline constexpr quint32 kCfScreenFonts = 0x001;
inline constexpr quint32 kCfInitToLogFontStruct = 0x040;  // start from lpLogFont
inline constexpr quint32 kCfEffects = 0x100;              // underline, strike-out, colour
// Bits of ChooseFontRecord::nFontType.
inline constexpr quint16 kBoldFontType = 0x0100;
inline constexpr quint16 kItalicFontType = 0x0200;
inline constexpr quint16 kRegularFontType = 0x0400;
inline constexpr quint16 kScreenFontType = 0x2000;

// Request and answer of a font dialog.
struct ChooseFontRecord {
    quint32 lStructSize = 0;
    QWidget* hwndOwner = nullptr;
    // Device the font is chosen for: the owner window's surface; nullptr for
    // the screen.
    QWidget* hDC = nullptr;
    LogFontRecord lpLogFont;  // in and out
    qint32 iPointSize = 0;    // in and out: tenths of a point
    quint32 Flags = 0;
    quint32 rgbColors = 0;  // in and out: text colour 0x00BBGGRR
    quintptr lCustData = 0;
    quintptr lpfnHook = 0;
    QString lpTemplateName;
    QCoreApplication* hInstance = nullptr;
    QString lpszStyle;
    quint16 nFontType = 0;  // in: kScreenFontType; out: bold, italic, regular bits too
    qint32 nSizeMin = 0;
    qint32 nSizeMax = 0;
};

// Option bits of PrintDlgRecord::Flags the backends act on.
inline constexpr quint32 kPdSelection = 0x000001;      // start with "selection" chosen
inline constexpr quint32 kPdPageNums = 0x000002;       // start with the page range chosen
inline constexpr quint32 kPdNoSelection = 0x000004;    // no "selection" choice
inline constexpr quint32 kPdNoPageNums = 0x000008;     // no page range choice
inline constexpr quint32 kPdCollate = 0x000010;        // collate copies
inline constexpr quint32 kPdPrintToFile = 0x000020;    // start with printing to a file
inline constexpr quint32 kPdReturnDc = 0x000100;       // return the printer's device
inline constexpr quint32 kPdReturnIc = 0x000200;       // the same, for information only
inline constexpr quint32 kPdReturnDefault = 0x000400;  // no dialog: the default printer
inline constexpr quint32 kPdDisablePrintToFile = 0x080000;
inline constexpr quint32 kPdHidePrintToFile = 0x100000;

// Characters of DevModeRecord::dmDeviceName and dmFormName, terminator
// included.
inline constexpr int kDeviceNameChars = 32;
// Bytes of the device-mode record exchanged with the dialog, and its size.
inline constexpr quint16 kDevModeExchangedBytes = 122;
// dmFields bits.
inline constexpr quint32 kDmOrientation = 0x0001;
inline constexpr quint32 kDmCopies = 0x0100;
inline constexpr quint32 kDmDuplex = 0x1000;
// dmOrientation values.
inline constexpr qint16 kDmOrientPortrait = 1;
inline constexpr qint16 kDmOrientLandscape = 2;
// dmDuplex values.
inline constexpr qint16 kDmDupSimplex = 1;
inline constexpr qint16 kDmDupVertical = 2;    // bound on the long edge
inline constexpr qint16 kDmDupHorizontal = 3;  // bound on the short edge

// A printer's settings in the platform's narrow device-mode layout (124
// bytes). Names are fixed 32-character fields padded with NULs.
struct DevModeRecord {
    QString dmDeviceName = QString(kDeviceNameChars, QChar(u'\0'));
    quint16 dmSpecVersion = 0;
    quint16 dmDriverVersion = 0;
    quint16 dmSize = 0;
    quint16 dmDriverExtra = 0;
    quint32 dmFields = 0;
    qint16 dmOrientation = 0;
    qint16 dmPaperSize = 0;
    qint16 dmPaperLength = 0;
    qint16 dmPaperWidth = 0;
    qint16 dmScale = 0;
    qint16 dmCopies = 0;
    qint16 dmDefaultSource = 0;
    qint16 dmPrintQuality = 0;
    qint16 dmColor = 0;
    qint16 dmDuplex = 0;
    qint16 dmYResolution = 0;
    qint16 dmTTOption = 0;
    qint16 dmCollate = 0;
    QString dmFormName = QString(kDeviceNameChars, QChar(u'\0'));
    quint16 dmLogPixels = 0;
    quint32 dmBitsPerPel = 0;
    quint32 dmPelsWidth = 0;
    quint32 dmPelsHeight = 0;
    quint32 dmDisplayFlags = 0;
    quint32 dmDisplayFrequency = 0;
};

// Characters of DevNamesRecord::text.
inline constexpr int kDevNamesTextChars = 100;
// Size of the device-names header: four 16-bit fields.
inline constexpr quint16 kDevNamesHeaderBytes = 8;

// A printer's driver, device and port names: offsets from the start of the
// record (header included) to each NUL-terminated name in `text`.
struct DevNamesRecord {
    quint16 wDriverOffset = 0;
    quint16 wDeviceOffset = 0;
    quint16 wOutputOffset = 0;
    quint16 wDefault = 0;
    QString text = QString(kDevNamesTextChars, QChar(u' '));

    // The NUL-terminated name starting at `offset` (an empty text when the
    // offset lies outside the record).
    QString NameAt(quint16 offset) const;
};

// Request and answer of a printer dialog.
struct PrintDlgRecord {
    quint32 lStructSize = 0;
    QWidget* hwndOwner = nullptr;
    DevModeRecord hDevMode;    // in and out
    DevNamesRecord hDevNames;  // in and out
    // Out: the chosen printer as a device to draw on, when Flags ask for it
    // (kPdReturnDc or kPdReturnIc); otherwise nullptr. Shared with the caller,
    // who may keep it as long as it likes.
    std::shared_ptr<QPrinter> hDC;
    quint32 Flags = 0;
    quint16 nFromPage = 0;
    quint16 nToPage = 0;
    quint16 nMinPage = 0;
    quint16 nMaxPage = 0;
    quint16 nCopies = 0;
    QCoreApplication* hInstance = nullptr;
};

// Message box style bits (icon and buttons) of DialogBackend::MessageBox.
inline constexpr quint32 kMbOk = 0x00;
inline constexpr quint32 kMbIconStop = 0x10;
inline constexpr quint32 kMbIconExclamation = 0x30;
inline constexpr quint32 kMbIconInformation = 0x40;

class DialogBackend {
  public:
    virtual ~DialogBackend() = default;

    // Modal open and save dialogs. On a choice the backend writes the answer
    // into `ofn` (see StoreFileChoice) and returns a positive value; on cancel
    // or failure it returns 0, and for a choice that does not fit the buffers
    // kChoiceDoesNotFit, leaving the buffers as they were.
    virtual int GetOpenFileName(OpenFileNameRecord& ofn) = 0;
    virtual int GetSaveFileName(OpenFileNameRecord& ofn) = 0;

    // Modal folder picker: the chosen path, or nothing on cancel.
    virtual std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) = 0;

    // The dialogs below have safe defaults so that a backend written only
    // for files and folders keeps working: each default is a cancel.

    // Modal colour dialog. On a choice it writes rgbResult and lpCustColors
    // and returns a nonzero value; on cancel it returns 0.
    virtual int ChooseColor(ChooseColorRecord& cc);

    // Modal font dialog. On a choice it writes the LOGFONT record,
    // iPointSize, rgbColors and nFontType and returns a nonzero value.
    virtual int ChooseFont(ChooseFontRecord& cf);

    // The face the platform actually uses for `lf` (the face asked for when
    // it is installed, otherwise the nearest match), or nothing when no font
    // can be made from the record.
    virtual std::optional<QString> TextFaceOf(const LogFontRecord& lf);

    // Modal printer dialog. On a choice it writes the device-mode and
    // device-names records (and hDC when asked) and returns a nonzero value.
    virtual int PrintDlg(PrintDlgRecord& pd);

    // Modal message box with one OK button; `style` carries the icon bits.
    // Returns the button pressed (1: OK).
    virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                           quint32 style);
};

// The text of a NUL-padded buffer: everything before the first NUL, or the
// whole buffer when it holds none.
QString TextBeforeNul(const QString& buffer);

// The (description, pattern) pairs of a NUL-separated filter list. The list
// ends at an empty description, as the double NUL marks it.
QList<QPair<QString, QString>> FilterPairs(const QString& lpstrFilter);

// The same list written as Qt name filters: "KBX Архив (*.kbx)". Patterns
// separated by ";" are separated by blanks.
QStringList QtNameFilters(const QString& lpstrFilter);

// `text` in a fixed field of `chars` characters: cut, or padded with NULs.
QString FixedField(const QString& text, int chars);

// The device-names record of a printer: the header's offsets count from the
// start of the record (wDriverOffset 8), and the text is driver NUL device
// NUL port NUL, padded with blanks and cut at 100 characters. Throws
// RuntimeError(Overflow) when an offset does not fit a signed 16-bit number.
DevNamesRecord MakeDevNames(const QString& driver, const QString& device, const QString& port);

// Writes a chosen path into the record's buffers the way the platform does:
// lpstrFile and lpstrFileTitle padded with NULs to their sizes, and the name
// and extension offsets. Returns false, changing nothing, when the path or
// the name does not fit its buffer with its terminator.
bool StoreFileChoice(OpenFileNameRecord& ofn, const QString& path);
