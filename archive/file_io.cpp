#include "archive/file_io.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace kbx::io {

namespace {

struct FaultPlan {
    std::array<long, size_t(Op::Count_)> remaining{};  // 0 = never fail
    std::array<long, size_t(Op::Count_)> calls{};
    CallHook hook;
};
FaultPlan g_faults;

// True when this call of `op` is the one chosen to fail.
bool Injected(Op op) {
    const long n = ++g_faults.calls[size_t(op)];
    if (g_faults.hook) g_faults.hook(op, n);
    long& left = g_faults.remaining[size_t(op)];
    if (left == 0) return false;
    if (--left == 0) {
        errno = EIO;
        return true;
    }
    return false;
}

constexpr long long kChunk = 1 << 20;  // bounded buffer for copies without copy_file_range

bool Openat2Unavailable(int err) {
    // Old kernels lack the call; some sandboxes refuse it outright.
    return err == ENOSYS || err == EPERM || err == E2BIG || err == EINVAL;
}

}  // namespace

void Fd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void FailNth(Op op, long k) {
    g_faults.remaining[size_t(op)] = k;
}
long Calls(Op op) {
    return g_faults.calls[size_t(op)];
}
void SetCallHook(CallHook hook) {
    g_faults.hook = std::move(hook);
}
void ResetFaults() {
    g_faults = {};
}

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

QString ErrorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

Fd OpenRegularForRead(int dirfd, const char* path, long long* size, int* err) {
    Fd fd(::openat(dirfd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        *err = errno;
        return {};
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        *err = errno;
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        *err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return {};
    }
    // Regular files never block; clear the flag so reads behave plainly.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if (size) *size = st.st_size;
    return fd;
}

Fd OpenDirBeneath(int root, const QStringList& components, bool create, int* err) {
    if (components.isEmpty()) {
        Fd fd(::fcntl(root, F_DUPFD_CLOEXEC, 0));
        if (!fd) *err = errno;
        return fd;
    }
    QByteArray joined;
    for (const QString& c : components) {
        if (!joined.isEmpty()) joined += '/';
        joined += NativePath(c);
    }
    // Fast path: the whole folder path in one call, refusing links and any
    // escape from the root.
    static bool openat2Works = true;
    if (openat2Works) {
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const int fd = int(::syscall(SYS_openat2, root, joined.constData(), &how, sizeof how));
        if (fd >= 0) return Fd(fd);
        if (Openat2Unavailable(errno)) {
            openat2Works = false;
        } else if (errno != ENOENT || !create) {
            *err = errno;
            return {};
        }
    }
    // Component by component: each one a single name that is never followed
    // when it is a link, created when missing.
    Fd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current) {
        *err = errno;
        return {};
    }
    for (const QString& c : components) {
        const QByteArray name = NativePath(c);
        Fd next(::openat(current.get(), name.constData(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next && errno == ENOENT && create) {
            if (::mkdirat(current.get(), name.constData(), 0777) != 0 && errno != EEXIST) {
                *err = errno;
                return {};
            }
            next = Fd(::openat(current.get(), name.constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (!next) {
            // A link where a folder should be reads as ELOOP or ENOTDIR.
            *err = errno;
            return {};
        }
        current = std::move(next);
    }
    return current;
}

long long ReadAt(int fd, char* buf, long long len, long long offset, int* err) {
    long long done = 0;
    while (done < len) {
        const ssize_t n = ::pread(fd, buf + done, size_t(len - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

bool WriteAll(int fd, const char* buf, long long len, long long offset, int* err) {
    long long done = 0;
    while (done < len) {
        if (Injected(Op::Write)) {
            *err = errno;
            return false;
        }
        const ssize_t n = offset < 0
                              ? ::write(fd, buf + done, size_t(len - done))
                              : ::pwrite(fd, buf + done, size_t(len - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return false;
        }
        done += n;
    }
    return true;
}

long long CopyRange(int in, long long inOffset, int out, long long outOffset, long long len,
                    int* err) {
    long long done = 0;
    static bool kernelCopy = true;
    while (kernelCopy && done < len) {
        if (Injected(Op::Write)) {
            *err = errno;
            return -1;
        }
        loff_t inOff = inOffset + done;
        loff_t outOff = outOffset + done;
        const ssize_t n =
            ::copy_file_range(in, &inOff, out, &outOff, size_t(std::min(len - done, 1LL << 30)), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
                if (errno == ENOSYS) kernelCopy = false;
                break;  // fall back to the buffered copy for the rest
            }
            *err = errno;
            return -1;
        }
        if (n == 0) return done;  // the source ended early
        done += n;
    }
    if (done == len) return done;
    const long long bufSize = std::min(len - done, kChunk);
    std::unique_ptr<char[]> buf(new char[size_t(bufSize)]);
    while (done < len) {
        const long long want = std::min(len - done, bufSize);
        const long long got = ReadAt(in, buf.get(), want, inOffset + done, err);
        if (got < 0) return -1;
        if (got == 0) return done;
        if (!WriteAll(out, buf.get(), got, outOffset + done, err)) return -1;
        done += got;
    }
    return done;
}

bool Fsync(int fd, int* err) {
    if (Injected(Op::Fsync) || ::fsync(fd) != 0) {
        *err = errno;
        return false;
    }
    return true;
}

bool CloseFd(Fd& fd, int* err) {
    const bool injected = Injected(Op::Close);
    const int saved = errno;
    const int rc = ::close(fd.get());
    const int closeErr = errno;
    // The descriptor is gone either way; never close it twice.
    fd = Fd();
    if (injected) {
        *err = saved;
        return false;
    }
    if (rc != 0 && closeErr != EINTR) {
        *err = closeErr;
        return false;
    }
    return true;
}

bool AtomicFile::Create(int dirfd, const QByteArray& finalName, int* err) {
    Discard();
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A short name of our own, whatever the final name's length.
        QByteArray temp = ".kbx-" + QByteArray::number(::getpid()) + '-' +
                          QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        const int fd =
            ::openat(dirfd, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = Fd(fd);
            dirfd_ = dirfd;
            temp_ = std::move(temp);
            final_ = finalName;
            return true;
        }
        if (errno != EEXIST) break;
    }
    *err = errno;
    return false;
}

bool AtomicFile::Commit(bool durable, int* err) {
    if (durable && !Fsync(fd_.get(), err)) return false;
    if (!CloseFd(fd_, err)) return false;
    if (Injected(Op::Rename) ||
        ::renameat(dirfd_, temp_.constData(), dirfd_, final_.constData()) != 0) {
        *err = errno;
        return false;
    }
    temp_.clear();
    return true;
}

void AtomicFile::Discard() {
    fd_.reset();
    if (!temp_.isEmpty()) ::unlinkat(dirfd_, temp_.constData(), 0);
    temp_.clear();
}

}  // namespace kbx::io
