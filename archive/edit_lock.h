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

}  // namespace kbx
