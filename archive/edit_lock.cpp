#include "archive/edit_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>
#include <vector>

#include "archive/archive_file.h"

namespace kbx {

namespace {

// How often a waiting editor looks at the lock and its stop flag. A blocking
// flock would not return on a signal whose handler restarts system calls.
constexpr long kPollNs = 20'000'000;

// The files whose lock this process holds (device, inode).
std::vector<std::pair<quint64, quint64>> g_held;

Result Busy(const QString& path) {
    return Result::Unusable(Failure::Path(Reason::ArchiveBusy, 0, path));
}

// Takes the lock of `type` on the byte past the largest archive, looking at
// `stop` between tries; a blocking lock would not return on a signal whose
// handler restarts system calls.
bool LockByte(int fd, short type, const StopFlag* stop, int* err) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kMaxArchiveBytes + 1;
    lock.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        // Where the file system keeps no such locks, no reader or editor
        // holds one: each goes on as without them.
        if (errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)
            return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return *err = errno, false;
        if (stop && stop->requested) return *err = ECANCELED, false;
        const timespec pause{0, kPollNs / 20};
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

}  // namespace

bool LockForReading(int fd, int* err) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return *err = errno, false;
    if (EditLock::HeldHere(quint64(st.st_dev), quint64(st.st_ino))) return true;
    return LockByte(fd, F_RDLCK, nullptr, err);
}

bool LockForWriting(int fd, const StopFlag* stop, int* err) {
    return LockByte(fd, F_WRLCK, stop, err);
}

EditLock::~EditLock() {
    if (!fd_) return;
    const auto it = std::find(g_held.begin(), g_held.end(), std::pair(device_, inode_));
    if (it != g_held.end()) g_held.erase(it);
}

bool EditLock::HeldHere(quint64 device, quint64 inode) {
    return std::find(g_held.begin(), g_held.end(), std::pair(device, inode)) != g_held.end();
}

Result EditLock::Acquire(const QString& path, bool wait, const std::function<void()>& waiting,
                         const StopFlag* stop) {
    const QByteArray native = io::NativePath(path);
    bool told = false;
    for (;;) {
        io::Fd fd;
        if (Failure f = OpenArchivePath(path, fd, nullptr); f.reason != Reason::None)
            return Result::Unusable(std::move(f));
        while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return Result::Unusable(Failure::Path(Reason::CannotOpenArchive, errno, path));
            if (!wait) return Busy(path);
            if (!told && waiting) waiting();
            told = true;
            if (stop && stop->requested) return Result::Stopped();
            const timespec pause{0, kPollNs};
            ::nanosleep(&pause, nullptr);
        }
        // The editor before us may have renamed its result over the path:
        // then the file locked is no longer the archive, and the new one is.
        struct stat locked {
        }, named{};
        if (::fstat(fd.get(), &locked) != 0)
            return Result::Unusable(Failure::Path(Reason::CannotOpenArchive, errno, path));
        if (::stat(native.constData(), &named) != 0) {
            if (errno == ENOENT) continue;  // between two renames: look again
            return Result::Unusable(Failure::Path(Reason::CannotOpenArchive, errno, path));
        }
        if (locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
            fd_ = std::move(fd);
            device_ = quint64(locked.st_dev);
            inode_ = quint64(locked.st_ino);
            g_held.emplace_back(device_, inode_);
            return {};
        }
    }
}

}  // namespace kbx
