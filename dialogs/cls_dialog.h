#pragma once
// ClsDialog: the desktop's standard dialogs behind one set of properties.
// A caller sets the properties that matter, calls a Show method and reads
// the answer back from the properties. Nothing is reset between calls: one
// object remembers its folder, file name and filter from call to call.
//
// The dialogs themselves come from a DialogBackend: the Qt dialogs by
// default, or a scripted backend in tests. The shell dialogs and help come
// from ShellServices, and the printer dialog switches the program's current
// printer in a PrinterRegistry. Every Show method is modal.

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <memory>

#include "platform/dialog_backend.h"

class PrinterRegistry;
class QPrinter;
class ShellServices;

// The folder the open and save dialogs start in while InitDir is empty: the
// program's own folder, which beside the game is the game's folder. Where
// the user cannot write to it (an installed program in /usr/bin) it serves
// nobody, and the working folder the program was started from is used.
QString StartFolder(const QString& programFolder);

class ClsDialog {
  public:
    // `backend` is not owned and must outlive the object; nullptr selects
    // the Qt dialogs, owned by the object.
    explicit ClsDialog(DialogBackend* backend = nullptr);
    // The same, with the shell services and the printer registry: neither is
    // owned; nullptr selects the desktop's shell services (made on first use)
    // and the program's current printer.
    ClsDialog(DialogBackend* backend, ShellServices* shell, PrinterRegistry* printers);
    ~ClsDialog();
    ClsDialog(const ClsDialog&) = delete;
    ClsDialog& operator=(const ClsDialog&) = delete;

    // When true, ShowOpen, ShowSave, ShowColor, ShowFont and ShowPrinter
    // raise RuntimeError(RuntimeError::Cancel) if the dialog ends without a
    // choice. ShowFolder and the shell dialogs ignore it.
    void setCancelError(bool vData) { CancelError_ = vData; }
    bool CancelError() const { return CancelError_; }

    // Owner window of every dialog: the dialog is modal over it and centred
    // on it. nullptr (the default): no owner, the dialog is modal over the
    // whole application. The object does not keep a destroyed owner alive:
    // after the owner widget is deleted this reads nullptr again. No Show
    // method changes it.
    QWidget* hOwner() const { return hOwner_; }
    void setHOwner(QWidget* New_hOwner) { hOwner_ = New_hOwner; }

    // Option bits; each Show method takes the bits it understands.
    qint32 flags() const { return flags_; }
    void setFlags(qint32 New_Flags) { flags_ = New_Flags; }

    // Caption of the open, save and run dialogs (empty: the dialog's own).
    QString DialogTitle() const { return DialogTitle_; }
    void setDialogTitle(const QString& sTitle) { DialogTitle_ = sTitle; }

    // Prompt of the folder picker; text of the restart question, description
    // of the run dialog and extra line of the about box.
    QString DialogPrompt() const { return DialogPrompt_; }
    void setDialogPrompt(const QString& New_Prompt) { DialogPrompt_ = New_Prompt; }

    // Title text of the about box.
    QString AppName() const { return AppName_; }
    void setAppName(const QString& New_AppName) { AppName_ = New_AppName; }

    // Icon of the run dialog and the about box, as a handle of the program's
    // icon table (see platform/icon_handles.h); 0: the dialog's own icon.
    // Written by ShowIcon.
    void setHIcon(quint32 vData) { hIcon_ = vData; }
    quint32 hIcon() const { return hIcon_; }

    // Font description, in and out of the font dialog.
    bool Bold() const { return Bold_; }
    void setBold(bool bBold) { Bold_ = bBold; }
    QString FontName() const { return FontName_; }
    void setFontName(const QString& sName) { FontName_ = sName; }
    qint32 FontSize() const { return FontSize_; }  // points
    void setFontSize(qint32 lSize) { FontSize_ = lSize; }
    bool Italic() const { return Italic_; }
    void setItalic(bool BItalic) { Italic_ = BItalic; }
    bool StrikeThru() const { return StrikeThru_; }
    void setStrikeThru(bool bStrikethru) { StrikeThru_ = bStrikethru; }
    bool Underline() const { return Underline_; }
    void setUnderline(bool bUnderline) { Underline_ = bUnderline; }

    // Suffix the file dialogs add to a typed name that has none (empty:
    // names come back as typed).
    QString DefaultExt() const { return DefaultExt_; }
    void setDefaultExt(const QString& sDefExt) { DefaultExt_ = sDefExt; }

    // In: the name the open and save dialogs propose (at most 255
    // characters). Out: the full path of the chosen file. Also the icon file
    // ShowIcon starts from.
    QString FileName() const { return FileName_; }
    void setFileName(const QString& sFileName) { FileName_ = sFileName; }

    // Out: the chosen file's name without its folder.
    QString FileTitle() const { return FileTitle_; }
    void setFileTitle(const QString& sTitle) { FileTitle_ = sTitle; }

    // File types of the open and save dialogs: description and pattern pairs
    // separated by "|", e.g. "KBX Архив|*.kbx" (at most 32,767 characters).
    QString Filter() const { return Filter_; }
    void setFilter(const QString& sFilter) { Filter_ = sFilter; }

    // 1-based file type shown first (0: the first one). Never written by the
    // object, whichever type the user ends on.
    qint32 FilterIndex() const { return FilterIndex_; }
    void setFilterIndex(qint32 lIndex) { FilterIndex_ = lIndex; }

    // In: the folder the open and save dialogs start in (empty: the
    // program's own folder). Out: the folder chosen in ShowFolder, without a
    // trailing "/" unless it is the root "/".
    QString InitDir() const { return InitDir_; }
    void setInitDir(const QString& sDir) { InitDir_ = sDir; }

    // Help file and command of ShowHelp; ShowHelp sets HelpKey to 257.
    qint32 HelpCommand() const { return HelpCommand_; }
    void setHelpCommand(qint32 lCommand) { HelpCommand_ = lCommand; }
    QString HelpFile() const { return HelpFile_; }
    void setHelpFile(const QString& sFile) { HelpFile_ = sFile; }
    qint32 HelpKey() const { return HelpKey_; }
    void setHelpKey(qint32 sKey) { HelpKey_ = sKey; }

    // Colour value 0x00BBGGRR in and out of the colour and font dialogs.
    quint32 RGBResult() const { return RGBResult_; }
    void setRGBResult(quint32 lValue) { RGBResult_ = lValue; }

    // Folder picker. Starts at `TopFolder` when one is given and shows
    // DialogPrompt. On a choice InitDir becomes the chosen folder; on cancel,
    // or a path the platform cannot use (PATH_MAX bytes or more), nothing
    // changes. Never raises an error for a cancel. The result is always
    // empty.
    QString ShowFolder(const QString& TopFolder = {});
    // The folder confirmed in the last ShowFolder, whether or not InitDir
    // took it; empty after a cancel. A caller that must act only on this
    // choice reads it instead of InitDir, which keeps earlier choices.
    QString ChosenFolder() const { return ChosenFolder_; }

    // Open and save dialogs, filled by InitOFN from the properties. On a
    // choice FileTitle and then FileName receive the answer; on cancel
    // nothing changes, and with CancelError set RuntimeError(Cancel) is
    // raised; a chosen path longer than the buffer changes nothing and raises
    // RuntimeError(BufferTooSmall). With flags 0 the open dialog accepts a
    // name that does not exist and the save dialog replaces a file without
    // asking.
    // Throws the errors of InitOFN before any dialog is shown.
    void ShowOpen();
    void ShowSave();

    // Fills the file dialogs' record from the properties. Throws
    // RuntimeError(InvalidArgument) when FileName is longer than 255
    // characters and RuntimeError(Overflow) when Filter is longer than 32,767.
    void InitOFN();

    // Colour dialog for RGBResult. The sixteen custom colours start unset
    // (0xFFFFFFFF) at every call and are forgotten afterwards. Of `flags` only
    // the low four bits count: start at RGBResult (1), custom part open (2),
    // custom part unavailable (4), help (8).
    void ShowColor();

    // Font dialog for FontName, FontSize, Bold, Italic, StrikeThru, Underline
    // and RGBResult (text colour). `flags` is not used. FontName comes back
    // as the face the system actually uses, which can differ from the one
    // chosen. Throws before any dialog: RuntimeError(SubscriptOutOfRange)
    // when FontName is longer than 32 characters, RuntimeError(Overflow) when
    // FontSize × 10 does not fit 32 bits.
    void ShowFont();

    // Printer dialog for the program's current printer: afterwards the
    // printer chosen is current, with the copies, duplex mode and orientation
    // chosen. Without a current printer it shows "Printer Error" and returns.
    // Throws RuntimeError(InvalidArgument) when the chosen device name fills
    // its whole 32-character field.
    void ShowPrinter();

    // The chosen printer as a device to draw on, from the last successful
    // ShowPrinter whose `flags` asked for one (0x100 or 0x200); otherwise
    // nullptr. hOwner is never replaced by it.
    QPrinter* hDC() const { return hDC_.get(); }

    // Shell dialogs. They never raise the cancel error and show no message of
    // their own. Those that return a QVariant return an empty one.

    // Asks whether to shut down, restart or log off, and does it only when
    // the user confirms.
    QVariant ShowShutDown();
    // Shows DialogPrompt and asks to confirm the action that `flags` AND 7
    // names (0 log off, 1 shut down, 2 reboot, 4 force); does it on "yes".
    QVariant ShowRestart();
    // Run dialog with DialogTitle, DialogPrompt and the icon hIcon; option
    // bits are bits 4 to 7 of `flags`. The typed command is started
    // detached. The argument has no effect: the icon is the property's.
    QVariant ShowRun(quint32 hIcon = 0);
    // Never formats anything: shows the request and returns the result for
    // "cannot format" (-3).
    qint32 ShowFormat(qint32 iDrive, qint32 iCapacity, qint32 iFormatType);
    // Icon picker starting at FileName. On a pick, hIcon becomes a copy of
    // the large (or small) icon; FileName keeps its value. A FileName ending
    // in "/" returns at once; one longer than 260 characters throws
    // RuntimeError(InvalidArgument).
    QVariant ShowIcon(bool LargeIcon);
    // Properties by (`flags` AND 0xF00) / 256: 1 the printer `sObjectName`,
    // 2 the path `sObjectName`, 7 the trash folder, 8 the display settings
    // (started instead of a properties dialog), anything else an empty path.
    // `sTab` names the page shown first.
    QVariant ShowObjectProp(const QString& sObjectName, const QString& sTab);
    // About box with AppName, DialogPrompt and hIcon. An empty AppName becomes
    // one NUL character and keeps that value.
    QVariant ShowAbout();
    // Opens HelpFile with the desktop's handler; sets HelpKey to 257.
    void ShowHelp();

  private:
    void ShowFileDialog(bool save);
    ShellServices& Shell();
    PrinterRegistry& Printers();

    std::unique_ptr<DialogBackend> ownBackend_;
    DialogBackend* backend_;
    std::unique_ptr<ShellServices> ownShell_;
    ShellServices* shell_ = nullptr;
    PrinterRegistry* printers_ = nullptr;
    std::shared_ptr<QPrinter> hDC_;

    bool CancelError_ = false;
    QPointer<QWidget> hOwner_;
    qint32 flags_ = 0;
    QString DialogTitle_;
    QString DialogPrompt_;
    QString AppName_;
    quint32 hIcon_ = 0;
    bool Bold_ = false;
    QString FontName_;
    qint32 FontSize_ = 0;
    bool Italic_ = false;
    bool StrikeThru_ = false;
    bool Underline_ = false;
    QString DefaultExt_;
    QString FileName_;
    QString FileTitle_;
    QString Filter_;
    qint32 FilterIndex_ = 0;
    QString InitDir_;
    QString ChosenFolder_;
    qint32 HelpCommand_ = 0;
    QString HelpFile_;
    qint32 HelpKey_ = 0;
    quint32 RGBResult_ = 0;

    // Value returned by the last dialog call.
    int LastApiResult = 0;
    // The file dialogs' record, kept between calls: fields InitOFN does not
    // set hold what the last dialog left in them.
    OpenFileNameRecord OFN;
};
