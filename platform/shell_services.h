#pragma once
// The desktop shell's small system dialogs and the help viewer, as the
// dialog wrapper uses them: shut down, restart, run, format, icon picker,
// object properties, about box, help. LinuxShellServices shows Qt dialogs
// for them; RecordingShellServices records the calls for tests and never
// starts anything.
//
// Safety: an implementation never shuts down, restarts, logs out or starts a
// program unless the user confirms it in a dialog, and never formats a
// drive at all. The one exception is StartDisplaySettings, which only opens
// the desktop's display settings.

#include <QString>

class QWidget;

// Restart kinds of RestartDialog: the low two bits pick the action, the
// force bit asks that running programs do not hold it up.
inline constexpr quint32 kEwxLogOff = 0;
inline constexpr quint32 kEwxShutDown = 1;
inline constexpr quint32 kEwxReboot = 2;
inline constexpr quint32 kEwxForce = 4;
inline constexpr quint32 kRestartKindMask = 7;

// Answers of RestartDialog.
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Option bits of the run dialog.
inline constexpr quint32 kRffNoBrowse = 0x1;       // no "Обзор..." button
inline constexpr quint32 kRffNoDefault = 0x2;      // no command proposed
inline constexpr quint32 kRffCalcDirectory = 0x4;  // work in the program's own folder
inline constexpr quint32 kRffNoLabel = 0x8;        // no label before the command box

// Object types of ObjectProperties.
inline constexpr quint32 kShopPrinterName = 1;
inline constexpr quint32 kShopFilePath = 2;

// Results of FormatDrive.
inline constexpr qint32 kShFmtError = -1;
inline constexpr qint32 kShFmtCancel = -2;
inline constexpr qint32 kShFmtNoFormat = -3;  // the drive cannot be formatted

// Help command that closes the help viewer.
inline constexpr quint32 kHelpQuit = 2;

// Longest path of the icon picker, terminator included.
inline constexpr int kIconPathChars = 260;

struct RunDialogRequest {
    QWidget* hwndOwner = nullptr;
    quint32 hIcon = 0;        // icon handle; 0: the dialog's own
    QString lpszDirectory;    // working folder; empty: the current one
    QString lpszTitle;        // caption; empty: the dialog's own
    QString lpszDescription;  // line above the command box; empty: the dialog's own
    quint32 uFlags = 0;       // kRff... bits
};

struct ObjectPropertiesRequest {
    QWidget* hwndOwner = nullptr;
    quint32 shopObjectType = 0;  // kShopPrinterName or kShopFilePath
    QString pszObjectName;
    QString pszPropertyPage;  // title of the page shown first; empty: the first
};

struct AboutRequest {
    QWidget* hwndOwner = nullptr;
    // Title text; a "#" separates the caption's text from the first line.
    QString szApp;
    QString szOtherStuff;  // extra line of text
    quint32 hIcon = 0;     // icon handle; 0: the program's own icon
};

struct HelpRequest {
    QWidget* hwndOwner = nullptr;
    QString lpszHelp;  // the help file
    quint32 uCommand = 0;
    quint32 dwData = 0;
};

class ShellServices {
  public:
    virtual ~ShellServices() = default;

    // Asks which of shut down, restart and log off to do, and does it only
    // when the user confirms.
    virtual void ShutDownDialog(QWidget* owner) = 0;

    // Shows `prompt` and asks to confirm the action that `restartKind`
    // (kEwx... bits) names; does it only on "yes". Returns kIdYes or kIdNo.
    virtual int RestartDialog(QWidget* owner, const QString& prompt, quint32 restartKind) = 0;

    // Asks for a command line and starts it detached. Returns nonzero when
    // something was started.
    virtual int RunFileDlg(const RunDialogRequest& request) = 0;

    // Never formats: shows the request and returns kShFmtNoFormat.
    virtual qint32 FormatDrive(QWidget* owner, qint32 drive, qint32 fmtID, qint32 options) = 0;

    // Lets the user pick an icon file and the index of an icon in it.
    // `path` is a buffer of `cchPath` characters padded with NULs; on a
    // choice the path and `index` are replaced and a nonzero value returned.
    virtual int PickIconDlg(QWidget* owner, QString& path, int cchPath, int& index) = 0;

    // Makes icons from the icon `index` of the file: a large and a small one,
    // as new handles. Returns the number of icons made (0: none).
    virtual int ExtractIconEx(const QString& path, int index, quint32* large, quint32* small,
                              int nIcons) = 0;
    virtual quint32 CopyIcon(quint32 icon) = 0;
    virtual bool DestroyIcon(quint32 icon) = 0;

    // A properties dialog for a path or a printer; false, with nothing
    // shown, when the object is not found.
    virtual bool ObjectProperties(const ObjectPropertiesRequest& request) = 0;
    // The folder that holds deleted files.
    virtual QString TrashFolder() const = 0;
    // Opens the desktop's display settings; false when none is found.
    virtual bool StartDisplaySettings() = 0;

    virtual int ShellAbout(const AboutRequest& request) = 0;

    // Opens the help file with the desktop's handler; nonzero on success.
    virtual int WinHelp(const HelpRequest& request) = 0;
};
