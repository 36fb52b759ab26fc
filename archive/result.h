#pragma once
// Outcome of an engine operation, as data. An operation either succeeds,
// does nothing, fails for some entries while finishing the others, finds
// the archive, folder or target unusable and stops before it changes
// anything, or stops when its caller asks. What went wrong is a reason code with the system's errno
// and the entry or path concerned; the window and the command line turn it into words. The engine
// builds no sentences.

#include <QString>

#include <vector>

#include "archive/identity.h"

namespace kbx {

// Why a name may not be written beneath a target folder.
enum class NameRule {
    None,
    Empty,             // no characters at all
    Absolute,          // starts with a separator
    DriveLetter,       // "C:..."
    BadComponent,      // an empty, "." or ".." component (Failure::detail holds it)
    ControlChar,       // a character below 0x20, DEL or a C1 control
    Backslash,         // pack: a file name that holds "\"
    NotEncodable,      // pack: no Windows-1251 encoding
    TooLong,           // pack: over 128 bytes once encoded
    CaseDuplicate,     // pack: another name in the folder differs only in case
    Exists,            // add: an entry of exactly this name is in the archive already
    ComponentTooLong,  // a component longer than a file name may be on disk
    FolderClash,       // the name is a folder of another entry, or has one as its folder
                       // (Failure::detail: the other)
    ReservedFolder,    // "Version" or "Version\Data": folders every unpack makes
    OutsideVersion,    // add: not beneath "Version\", so no pack could make it again
};

enum class Reason {
    None,
    // The archive as a whole.
    CannotOpenArchive,     // errno; subject = the archive path
    NotKbx,                // no signature
    HeaderTooShort,        // the file ends inside the header
    NegativeCount,         // the header's entry count is below zero
    DirectoryEndMismatch,  // the header's directory end disagrees with its count
    DirectoryPastEnd,      // the directory runs past the end of the file
    ArchiveChanged,        // the file is no longer the one loaded
    // Folders.
    CannotOpenFolder,     // errno; subject = the folder
    CannotPrepareFolder,  // errno; subject = the folder (Version or Version/Data)
    FolderNotFlushed,     // errno; a warning: the result is complete but its
                          // folder entry may not survive a power loss
    TemporaryLeft,        // errno; a warning; subject = the entry written, detail = the
                          // temporary name beside its file that could not be removed
    // One entry or file.
    UnsafeName,          // rule; subject = the name
    OutOfBounds,         // the entry's data lies outside the file
    CannotCreateFolder,  // errno
    CannotCreateFile,    // errno
    ReadFailed,          // errno
    WriteFailed,         // errno
    Truncated,           // the archive ended before the entry's data did
    // Pack.
    NoTree,               // subject = the root; no Version and Version/Data in it
    CannotReadFolder,     // errno; subject = the folder
    CannotOpenFile,       // errno; subject = the entry
    FileChanged,          // subject = the entry; it changed while it was read
    TooLarge,             // the data would pass the format's 2^31 - 1 byte limit
    CannotCreateArchive,  // errno; subject = the archive path
    TargetNotRegular,     // subject = the archive path; a folder, FIFO, socket or device
                          // stands there, and is never written through or replaced
    OutputInTree,         // a warning; subject = the entry: the archive being replaced
                          // lies in the packed tree and is left out
    // Changing an archive's entries.
    NoSuchEntry,     // index: an edit names an index outside the directory
    EditConflict,    // index or subject: one entry edited twice, one name given twice
                     // (rule Exists: an entry renamed to the name it has)
    ArchiveBusy,     // subject = the archive; another process is editing it
    NotRegularFile,  // subject = the file; a folder, FIFO, socket or device given as a source
    // Pack, as warnings: files that are not in the archive. Subject = the folder's path.
    FolderLeftOut,      // a sub-folder not packed, with `count` regular files beneath it
                        // (-1 and errno: it could not be read)
    FolderLinkLeftOut,  // a link to a folder: never followed, so nothing beneath it is packed
    // Edits in place, their journal and their undo record.
    RolledBack,      // a warning; subject = the archive: an interrupted edit was rolled back
    ForeignJournal,  // subject = the journal; it belongs to another file (or one replaced
                     // since) and is left alone: a warning when reading, a refusal when editing
    CannotRollBack,  // errno; subject = the journal: an interrupted edit cannot be rolled
                     // back (the archive or its folder cannot be written); nothing is read
    NothingToUndo,   // subject = the archive; no undo record, or an unreadable one
    UndoStale,       // subject = the archive; it changed since its last edit in place
};

struct [[nodiscard]] Failure {
    Failure() = default;
    Failure(Reason why, int err = 0, NameRule nameRule = NameRule::None, qint64 at = -1,
            QString about = {}, QString part = {})
        : reason(why),
          error(err),
          rule(nameRule),
          index(at),
          subject(std::move(about)),
          detail(std::move(part)) {}

    // About a file, folder or archive at `path`.
    static Failure Path(Reason why, int err, QString path) {
        return Failure(why, err, NameRule::None, -1, std::move(path));
    }
    // About entry `index` (-1: one not in the directory) named `name`.
    static Failure Entry(Reason why, int err, qint64 index, QString name) {
        return Failure(why, err, NameRule::None, index, std::move(name));
    }
    // The name `name` refused by `rule`; `other` is the second name the rule
    // speaks of (see NameRule), `index` the entry concerned.
    static Failure Name(NameRule rule, QString name, QString other = {}, qint64 index = -1) {
        return Failure(Reason::UnsafeName, 0, rule, index, std::move(name), std::move(other));
    }

    Reason reason = Reason::None;
    int error = 0;  // the errno where the system gave one
    NameRule rule = NameRule::None;
    qint64 index = -1;  // directory index, or -1 for a file or path
    QString subject;    // the entry name, file or path concerned
    QString detail;     // the rule's or warning's second name (see NameRule, TemporaryLeft)
    qint64 count = 0;   // FolderLeftOut: the files left out
};

enum class Outcome {
    Ok,
    NothingDone,    // nothing to do (for example, the blank element)
    EntriesFailed,  // the operation ran to its end, but some entries failed
    Unusable,       // stopped before anything was changed
    Stopped,        // the caller asked to stop; finished entries stay written
};

struct [[nodiscard]] Result {
    Outcome outcome = Outcome::Ok;
    Failure failure;                // why, when Unusable
    std::vector<Failure> failures;  // entries that failed, in order
    // Steps that failed although the result is complete and safe (a folder
    // flush, an interrupted edit rolled back): the caller shows them as
    // warnings.
    std::vector<Failure> warnings;
    qint64 done = 0;   // entries written, files packed, records loaded, or entries after an edit
    qint64 bytes = 0;  // edits: the bytes written into the archive
    FileIdentity written;  // edits and packs: the archive as left (size -1: not known)

    bool ok() const { return outcome == Outcome::Ok || outcome == Outcome::NothingDone; }

    static Result Unusable(Failure why) {
        Result r;
        r.outcome = Outcome::Unusable;
        r.failure = std::move(why);
        return r;
    }
    static Result Stopped() {
        Result r;
        r.outcome = Outcome::Stopped;
        return r;
    }
    static Result NothingDone() {
        Result r;
        r.outcome = Outcome::NothingDone;
        return r;
    }
};

}  // namespace kbx
