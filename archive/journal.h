#pragma once
// The rollback journal of an edit in place, and the undo record a completed
// edit leaves: how an archive changed in place is brought back whole after a
// crash, and taken back on request. journal.cpp describes the format and the
// order of writes that makes every moment of an edit recoverable.

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <vector>

#include "archive/file_io.h"
#include "archive/result.h"

namespace kbx {

// Rolls back an edit in place that was interrupted (a crash, a power loss, a
// kill) before the archive at `path` is read: after it the archive is byte
// for byte as it was before that edit. Called by every load (ReadArchive,
// Verify); takes the archive's EditLock when this process does not hold it.
// Without a journal beside the archive it costs one status call.
// - A journal that was never completed is removed: the archive was not yet
//   touched.
// - A journal of another file (one replaced since, say) is left alone and
//   reported as a ForeignJournal warning (subject = the journal).
// - A rollback adds a RolledBack warning (subject = `path`).
// Refusals: ArchiveBusy (another process is editing the archive now: its
// journal is live), CannotRollBack (errno, subject = the journal: the
// archive or its folder cannot be written; the archive must not be read).
Result Recover(const QString& path);

// Takes back the last edit in place of the archive at `path`, from its undo
// record: afterwards the archive is byte for byte as before that edit. The
// caller holds the archive's EditLock and has run Recover. Refusals, with
// nothing changed: NothingToUndo (no undo record, or a damaged one),
// UndoStale (the archive is not the file edited, or changed since: its size
// or modification time differ), CannotOpenArchive (errno; EACCES for a
// write-protected archive). The undo is crash-safe as the edit was: its
// record becomes the journal that a crash leaves to Recover, which then
// finishes it. On success the undo record is gone.
Result Undo(const QString& path);

namespace journal {

// Where an archive's journal and undo record are: beside the file its path
// finally names (links followed), under that file's name with "-journal"
// and "-undo" added, so that every path to the archive finds them.
struct Place {
    io::Fd folder;
    QByteArray name;  // the archive's name in the folder
    QString archivePath;
    QString journalPath;  // for messages
    QString folderText;
    QByteArray JournalName() const { return name + "-journal"; }
    QByteArray UndoName() const { return name + "-undo"; }
};
// False with errno in *err when the path cannot be followed or its folder
// opened.
bool Locate(const QString& path, Place* place, int* err);

// Opens the archive for writing as `fd`: CannotOpenArchive (errno, subject
// = the archive) when it cannot be, EACCES also for a privileged user when
// it has no write permission bit at all (made read-only on purpose), and
// NotRegularFile when no regular file stands there. `st` learns its status.
[[nodiscard]] Failure OpenForWriting(const Place& place, io::Fd& fd, struct stat* st);

// True when a journal stands beside the archive open at `fd` and no editor
// holds the archive's EditLock: an edit died there, and Recover must roll it
// back before the archive is read.
bool Orphaned(const QString& path, int fd);

struct Range {
    qint64 offset = 0;
    qint64 length = 0;
};

// Writes an edit's journal: the archive's identity and length and the bytes
// of `ranges` as they are now.
class Writer {
  public:
    // Creates the journal (EEXIST when one is there), fills it and flushes
    // it and its folder. On failure nothing is left behind; the reason names
    // the journal.
    [[nodiscard]] Failure Write(const Place& place, int archive, qint64 length,
                                const std::vector<Range>& ranges);
    // Records the archive's size and modification time after the edit,
    // flushes, and renames the journal to the undo record (replacing the
    // previous one). A failure leaves the journal live. A folder that cannot
    // be flushed after the rename is a FolderNotFlushed warning.
    [[nodiscard]] Failure Retire(const Place& place, int archive, std::vector<Failure>& warnings);

  private:
    io::Fd fd_;
    qint64 length_ = 0;  // bytes written
    quint64 sum_ = 0;    // the checksum of those bytes
};

// Rolls the archive back from its live journal: the saved bytes written
// back, the length restored, the archive flushed, the journal removed and
// its folder flushed. Used when an edit fails after its journal was made;
// on failure the journal stays for Recover.
[[nodiscard]] Failure RollBack(const Place& place, int archive);

}  // namespace journal

}  // namespace kbx
