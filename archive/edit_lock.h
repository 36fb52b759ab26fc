#pragma once
// One editor at a time for each archive file, among all processes that take
// this lock. An edit holds it from before its load to after its publication,
// so a second editor loads the first one's result, and no update is lost.

#include <QString>

#include <functional>

#include "archive/archive.h"
#include "archive/file_io.h"

namespace kbx {

class EditLock {
  public:
    EditLock() = default;
    ~EditLock();
    EditLock(const EditLock&) = delete;
    EditLock& operator=(const EditLock&) = delete;

    // Locks the file that `path` names (links followed). An edit replaces
    // the archive by a rename, so the lock is taken on the file and then
    // checked to be the one the path still names; when it is not, the file
    // now there is locked instead. While another process holds the lock,
    // `wait` unset fails at once with Reason::ArchiveBusy; set, it calls
    // `waiting` once and waits, until the lock is free or `stop` asks to
    // stop (Outcome::Stopped). A path that names no regular file fails as
    // the load would (CannotOpenArchive with errno).
    [[nodiscard]] Result Acquire(const QString& path, bool wait,
                                 const std::function<void()>& waiting = {},
                                 const StopFlag* stop = nullptr);

    bool held() const { return bool(fd_); }

    // True when this process holds the lock of the file (device, inode):
    // a second lock of the same file in the same process would wait for
    // the first.
    static bool HeldHere(quint64 device, quint64 inode);

  private:
    io::Fd fd_;  // the lock lasts as long as this descriptor
    quint64 device_ = 0, inode_ = 0;
};

// Readers and edits in place. An edit in place overwrites the header and
// directory that readers read; while it writes them it holds the file's
// write lock, and a reader holds the read lock from its open to its close,
// so that it reads the archive before or after an edit and never between.
// Both are locks of the open file (fcntl's F_OFD_ kind) on one byte past the
// largest archive, apart from the editor lock, which readers never take.

// Takes the read lock on the archive open at `fd`, waiting while an edit in
// place writes (a few writes and a flush). It lasts until `fd` is closed.
// Nothing is taken where this process holds the file's EditLock: its own
// edit does not write while it reads. False with errno in *err.
bool LockForReading(int fd, int* err);

// Takes the write lock on the archive open at `fd`, waiting while readers
// read, or until `stop` asks to stop (ECANCELED). It lasts until `fd` is
// closed.
bool LockForWriting(int fd, const StopFlag* stop, int* err);

}  // namespace kbx
