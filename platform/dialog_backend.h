#pragma once
// The desktop's standard dialogs as the dialog wrapper sees them: plain
// records that carry a request in and the answer back, and an interface that
// shows a dialog for a record. QtDialogBackend shows real dialogs;
// ScriptedDialogBackend answers from a script for tests.
//
// Text buffers are QStrings of fixed length, padded with NUL characters: the
// answer is the text up to the first NUL, as callers of the record expect.

#include <QString>
#include <QStringList>
#include <optional>

class QCoreApplication;
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

// Size of the file-name and file-title buffers, terminator included.
inline constexpr int kFileBufferChars = 255;
// Longest folder path, terminator included.
inline constexpr int kMaxPathChars = 260;

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

class DialogBackend {
  public:
    virtual ~DialogBackend() = default;

    // Modal open and save dialogs. On a choice the backend writes the answer
    // into `ofn` (see StoreFileChoice) and returns a positive value; on cancel
    // or failure it returns 0 and leaves the buffers as they were.
    virtual int GetOpenFileName(OpenFileNameRecord& ofn) = 0;
    virtual int GetSaveFileName(OpenFileNameRecord& ofn) = 0;

    // Modal folder picker: the chosen path, or nothing on cancel.
    virtual std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) = 0;
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

// Writes a chosen path into the record's buffers the way the platform does:
// lpstrFile and lpstrFileTitle padded with NULs to their sizes, and the name
// and extension offsets. Returns false, changing nothing, when the path or
// the name does not fit its buffer with its terminator.
bool StoreFileChoice(OpenFileNameRecord& ofn, const QString& path);
