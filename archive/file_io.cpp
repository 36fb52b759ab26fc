#include "archive/file_io.h"

#include "archive/file_io_faults.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>

namespace kbx::io {

namespace {

// The counts are atomic: a comparison reads on a thread of its own (see
// DiffersAhead) while the edit it feeds writes.
struct FaultPlan {
    std::array<std::atomic<long>, size_t(Op::Count_)> remaining{};  // 0 = never fail
    std::array<std::atomic<long>, size_t(Op::Count_)> calls{};
    CallHook hook;
    long long readLimit = 0;  // 0 = whole reads
    long tearWrite = 0;       // the write, counted down, that writes half and fails
    std::vector<std::pair<unsigned long long, unsigned long long>> flushed;
};
FaultPlan g_faults;

// True when this call of `op` is the one chosen to fail.
bool Injected(Op op) {
    const long n = ++g_faults.calls[size_t(op)];
    if (g_faults.hook) g_faults.hook(op, n);
    std::atomic<long>& left = g_faults.remaining[size_t(op)];
    long now = left.load();
    while (now > 0 && !left.compare_exchange_weak(now, now - 1)) {
    }
    if (now != 1) return false;
    errno = EIO;
    return true;
}

// The same, with the failure's errno left in *err.
bool Injected(Op op, int* err) {
    if (!Injected(op)) return false;
    *err = errno;
    return true;
}

bool g_forceBuffered = false;
bool g_forceNamed = false;
std::array<bool, size_t(Facility::Count_)> g_disabled{};
std::array<int, size_t(Facility::Count_)> g_refusal{};
// Cleared for good by the first call that finds the facility unavailable.
bool g_openat2Works = true;
bool g_linkByDescriptor = true;

bool Disabled(Facility f) {
    return g_disabled[size_t(f)];
}

constexpr long long kChunk = 1 << 20;  // bounded buffer for copies without the kernel
constexpr long long kSplicePipe = 512 << 10;
constexpr long long kSmallCopy = 64 << 10;  // copied through a stack buffer
// As many links as the kernel follows in one path before it gives up.
constexpr int kMaxLinks = 40;

// Copies through `buf` until `len` bytes are done or the source ends.
long long BufferedCopy(int in, long long inOffset, int out, long long outOffset, long long len,
                       char* buf, long long bufSize, int* err) {
    long long done = 0;
    while (done < len) {
        const long long want = std::min(len - done, bufSize);
        const long long got = ReadAt(in, buf, want, inOffset + done, err);
        if (got < 0) return -1;
        if (got == 0) return done;
        if (!WriteAll(out, buf, got, outOffset + done, err)) return -1;
        done += got;
    }
    return done;
}

// A short name of our own in a folder, whatever the final name's length.
// The process id is asked once: every call would be a system call.
QByteArray TemporaryName() {
    static const QByteArray prefix = ".kbx-" + QByteArray::number(::getpid()) + '-';
    return prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
}

// True when an open file can be given a name through /proc/self/fd, which
// linking an unnamed file needs without special privileges.
bool CanLinkOpenFiles() {
    static const bool ok = ::access("/proc/self/fd", X_OK) == 0;
    return ok;
}

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
    for (std::atomic<long>& n : g_faults.remaining) n = 0;
    for (std::atomic<long>& n : g_faults.calls) n = 0;
    g_faults.hook = {};
    g_faults.readLimit = 0;
    g_faults.tearWrite = 0;
    g_faults.flushed.clear();
}
void ResetSeam() {
    ResetFaults();
    ForceBufferedCopy(false);
    ForceNamedFiles(false);
    ForceUnknownEntryTypes(false);
    g_disabled = {};
    g_refusal = {};
    g_openat2Works = g_linkByDescriptor = true;
}
void TearNthWrite(long k) {
    g_faults.tearWrite = k;
}
void ForceBufferedCopy(bool on) {
    g_forceBuffered = on;
}
void ForceNamedFiles(bool on) {
    g_forceNamed = on;
}
namespace {
bool g_unknownTypes = false;
}
void ForceUnknownEntryTypes(bool on) {
    g_unknownTypes = on;
}
bool UnknownEntryTypesForced() {
    return g_unknownTypes;
}
void LimitReads(long long bytes) {
    g_faults.readLimit = bytes;
}
void Disable(Facility facility, bool disabled) {
    g_disabled[size_t(facility)] = disabled;
}
void Refuse(Facility facility, int err) {
    g_refusal[size_t(facility)] = err;
    g_openat2Works = g_linkByDescriptor = true;
}
std::vector<std::pair<unsigned long long, unsigned long long>> Flushed() {
    return g_faults.flushed;
}

bool IsTemporaryName(QByteArrayView name) {
    return name.startsWith(".kbx-") && name.endsWith(".tmp");
}

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
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
    // O_NONBLOCK is the only status flag the file was opened with.
    ::fcntl(fd.get(), F_SETFL, 0);
    if (size) *size = st.st_size;
    return fd;
}

FileIdentity IdentityOf(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return {};
    return IdentityOf(st);
}

FileIdentity IdentityOf(const struct stat& st) {
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), Nanoseconds(st.st_mtim),
            Nanoseconds(st.st_ctim)};
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
    if (g_openat2Works && !Disabled(Facility::Openat2)) {
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const int fd =
            g_refusal[size_t(Facility::Openat2)] != 0
                ? (errno = g_refusal[size_t(Facility::Openat2)], -1)
                : int(::syscall(SYS_openat2, root, joined.constData(), &how, sizeof how));
        if (fd >= 0) return Fd(fd);
        if (Openat2Unavailable(errno)) {
            g_openat2Works = false;
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
        if (Injected(Op::Read, err)) return -1;
        long long want = len - done;
        if (g_faults.readLimit > 0) want = std::min(want, g_faults.readLimit);
        const ssize_t n = ::pread(fd, buf + done, size_t(want), off_t(offset + done));
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

bool BatchReadsAllowed() {
    return !g_faults.hook && g_faults.readLimit == 0 && g_faults.remaining[size_t(Op::Read)] == 0;
}

long long ReadOnce(int fd, char* buf, long long len, long long offset, int* err) {
    for (;;) {
        if (Injected(Op::Read, err)) return -1;
        if (g_faults.readLimit > 0) len = std::min(len, g_faults.readLimit);
        const ssize_t n = ::pread(fd, buf, size_t(len), off_t(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return *err = errno, -1;
    }
}

bool WriteAll(int fd, const char* buf, long long len, long long offset, int* err) {
    long long done = 0;
    while (done < len) {
        if (Injected(Op::Write, err)) return false;
        if (g_faults.tearWrite > 0 && --g_faults.tearWrite == 0) {
            const long long half = (len - done) / 2;
            const ssize_t n = offset < 0
                                  ? ::write(fd, buf + done, size_t(half))
                                  : ::pwrite(fd, buf + done, size_t(half), off_t(offset + done));
            if (half > 0 && n < 0) {
                *err = errno;
                return false;
            }
            *err = EIO;
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

namespace {

// A pipe of our own for copies between offsets that sit at different places
// within a page (entries follow each other without padding, so that is the
// usual case for both pack and unpack). The kernel's own file-to-file copy
// goes through a pipe of 16 slots, and at such offsets every page travels as
// two pieces. A 512 KiB pipe moves 128 pages a trip with no copy through
// user space (bench/README.md, unpack (b), has the sizes measured). One pipe
// per copy: four calls against the 4 per MiB of the copy, and no descriptor
// outlives the operation.
struct SplicePipe {
    SplicePipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        out = Fd(fds[0]);
        in = Fd(fds[1]);
        const int size = ::fcntl(in.get(), F_SETPIPE_SZ, int(kSplicePipe));
        capacity = size > 0 ? size : ::fcntl(in.get(), F_GETPIPE_SZ);
        if (capacity <= 0) capacity = kPage;
    }
    Fd out, in;  // the pipe's read and write ends
    long long capacity = 0;
};

constexpr long long kNoSplice = -2;

// Copies through the pipe; kNoSplice when these files cannot be spliced
// (nothing has been copied then), fewer than `len` when the source ended.
long long SpliceCopy(int in, long long inOffset, int out, long long outOffset, long long len,
                     int* err) {
    static bool works = true;
    if (!works) return kNoSplice;
    SplicePipe pipe;
    if (pipe.in.get() < 0) return kNoSplice;  // no descriptors left: copy otherwise
    long long done = 0;
    while (done < len) {
        if (Injected(Op::Read, err)) return -1;
        long long want = std::min(len - done, pipe.capacity);
        if (g_faults.readLimit > 0) want = std::min(want, g_faults.readLimit);
        loff_t inOff = inOffset + done;
        const int refusal = g_refusal[size_t(Facility::Splice)];
        const ssize_t n = refusal != 0
                              ? (errno = refusal, -1)
                              : ::splice(in, &inOff, pipe.in.get(), nullptr, size_t(want), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done == 0 && (errno == EINVAL || errno == ENOSYS)) {
                if (errno == ENOSYS) works = false;
                return kNoSplice;
            }
            *err = errno;
            return -1;
        }
        if (n == 0) return done;  // the source ended early
        if (Injected(Op::Write, err)) return -1;
        loff_t outOff = outOffset + done;
        for (long long left = n; left > 0;) {
            const ssize_t m = ::splice(pipe.out.get(), nullptr, out, &outOff, size_t(left), 0);
            if (m < 0 && errno == EINTR) continue;
            if (m < 0 && errno == EINVAL && done == 0 && left == n) return kNoSplice;
            if (m <= 0) {
                *err = m < 0 ? errno : EIO;
                return -1;
            }
            left -= m;
        }
        done += n;
    }
    return done;
}

}  // namespace

long long CopyRange(int in, long long inOffset, int out, long long outOffset, long long len,
                    int* err) {
    if (len <= kSmallCopy) {
        char buf[kSmallCopy];
        return BufferedCopy(in, inOffset, out, outOffset, len, buf, kSmallCopy, err);
    }
    long long done = 0;
    if (!g_forceBuffered && (inOffset - outOffset) % kPage != 0) {
        done = SpliceCopy(in, inOffset, out, outOffset, len, err);
        if (done != kNoSplice) return done;
        done = 0;
    }
    // Where the offsets sit at the same place within a page, the kernel's copy
    // moves whole pages (and some file systems share the blocks instead).
    static bool kernelCopy = true;
    while (kernelCopy && !g_forceBuffered && done < len) {
        if (Injected(Op::Write, err)) return -1;
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
    // One buffer per thread, kept: a copy per entry would map and fault in
    // a fresh megabyte each time.
    thread_local std::unique_ptr<char[]> buf;
    if (!buf) buf.reset(new char[size_t(kChunk)]);
    const long long rest = BufferedCopy(in, inOffset + done, out, outOffset + done, len - done,
                                        buf.get(), kChunk, err);
    return rest < 0 ? -1 : done + rest;
}

long long CopyInPieces(int in, long long inOffset, int out, long long outOffset, long long len,
                       bool startWriteback, int* err, const std::atomic<bool>* stop,
                       const PieceHook* piece) {
    long long done = 0;
    while (done < len) {
        if (piece && *piece) (*piece)(done);
        if (stop && *stop) return *err = ECANCELED, -1;
        const long long piece = std::min(len - done, kCopyPiece);
        const long long n = CopyRange(in, inOffset + done, out, outOffset + done, piece, err);
        if (n < 0) return -1;
        if (startWriteback && n > 0) StartWriteback(out, outOffset + done, n);
        done += n;
        if (n < piece) break;  // the source ended early
    }
    return done;
}

void StartWriteback(int fd, long long offset, long long len) {
    ::sync_file_range(fd, off_t(offset), off_t(len), SYNC_FILE_RANGE_WRITE);
}

bool Fsync(int fd, int* err) {
    if (Injected(Op::Fsync) || ::fsync(fd) != 0) {
        *err = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0) g_faults.flushed.emplace_back(st.st_dev, st.st_ino);
    return true;
}

bool Truncate(int fd, long long length, int* err) {
    if (Injected(Op::Truncate, err)) return false;
    while (::ftruncate(fd, off_t(length)) != 0) {
        if (errno != EINTR) return *err = errno, false;
    }
    return true;
}

bool RenameIn(int dirfd, const char* from, const char* to, int* err) {
    if (Injected(Op::Publish, err)) return false;
    if (::renameat(dirfd, from, dirfd, to) != 0) return *err = errno, false;
    return true;
}

bool RemoveIn(int dirfd, const char* name, int* err) {
    if (Injected(Op::Remove, err)) return false;
    if (::unlinkat(dirfd, name, 0) != 0) return *err = errno, false;
    return true;
}

bool FollowLinks(QByteArray& path, struct stat* st, bool* exists, int* err) {
    for (int hops = 0;; ++hops) {
        if (::lstat(path.constData(), st) != 0) {
            if (errno != ENOENT) return *err = errno, false;
            *exists = false;
            return true;
        }
        if (!S_ISLNK(st->st_mode)) {
            *exists = true;
            return true;
        }
        if (hops == kMaxLinks) return *err = ELOOP, false;
        QByteArray to(qsizetype(st->st_size > 0 ? st->st_size : PATH_MAX) + 1, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), to.data(), size_t(to.size()));
        if (n < 0) return *err = errno, false;
        if (n >= to.size()) return *err = ENAMETOOLONG, false;  // it grew meanwhile
        to.truncate(n);
        if (to.isEmpty()) return *err = ENOENT, false;
        // A relative link is resolved from the folder that holds it.
        const qsizetype slash = path.lastIndexOf('/');
        path = to.startsWith('/') || slash < 0 ? to : path.left(slash + 1) + to;
    }
}

bool SameFileState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool CloseFd(Fd& fd, int* err) {
    const bool injected = Injected(Op::Close);
    const int saved = errno;
    // The descriptor is gone either way; never close it twice.
    const int rc = ::close(fd.release());
    const int closeErr = errno;
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
    error_ = leftError_ = 0;
    leftName_.clear();
    dirfd_ = dirfd;
    final_ = finalName;
    // An unnamed file costs one directory change at Commit instead of two
    // (create, then rename). Some file systems cannot make one; they get a
    // named temporary instead.
    if (CanLinkOpenFiles() && !g_forceNamed) {
        const int fd = ::openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = Fd(fd);
            unnamed_ = true;
            return true;
        }
    }
    return CreateNamed(err);
}

bool AtomicFile::CreateNamed(int* err) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        QByteArray temp = TemporaryName();
        const int fd =
            ::openat(dirfd_, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = Fd(fd);
            temp_ = std::move(temp);
            return true;
        }
        if (errno != EEXIST) break;
    }
    *err = errno;
    return false;
}

// Gives the unnamed file `name` in its folder; fails when the name is taken.
bool AtomicFile::LinkUnder(const QByteArray& name) {
    // Linking the descriptor itself skips a walk through /proc; kernels
    // before 6.10 allow it only with CAP_DAC_READ_SEARCH.
    // The test seam answers as such a kernel does, whatever this one did,
    // and leaves the process's choice alone.
    const bool refused = Disabled(Facility::LinkByDescriptor);
    if (g_linkByDescriptor || refused) {
        if (refused)
            errno = EPERM;
        else if (g_refusal[size_t(Facility::LinkByDescriptor)] != 0)
            errno = g_refusal[size_t(Facility::LinkByDescriptor)];
        else if (::linkat(fd_.get(), "", dirfd_, name.constData(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != EPERM && errno != ENOENT && errno != EINVAL) return false;
        if (!refused) g_linkByDescriptor = false;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_.get());
    return ::linkat(AT_FDCWD, self.constData(), dirfd_, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

// Renames the temporary file to the final name unless that name is taken.
bool AtomicFile::RenameNoReplace() {
    if (const int refusal = g_refusal[size_t(Facility::RenameNoReplace)]; refusal != 0)
        errno = refusal;
    else if (::renameat2(dirfd_, temp_.constData(), dirfd_, final_.constData(), RENAME_NOREPLACE) ==
             0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the flag: a link fails on a taken name as well.
    if (::linkat(dirfd_, temp_.constData(), dirfd_, final_.constData(), 0) != 0) return false;
    // The file has its final name now; a temporary name that cannot be
    // dropped is a second name of a complete file, told as a warning.
    if (!RemoveIn(dirfd_, temp_.constData(), &leftError_)) leftName_ = temp_;
    return true;
}

bool AtomicFile::Write(const char* buf, long long len, long long offset) {
    if (error_ != 0) return false;
    if (!fd_) return error_ = EBADF, false;
    return WriteAll(fd_.get(), buf, len, offset, &error_);
}

long long AtomicFile::CopyFrom(int in, long long inOffset, long long outOffset, long long len,
                               bool startWriteback, const std::atomic<bool>* stop,
                               const PieceHook* piece) {
    if (error_ != 0) return -1;
    if (!fd_) return error_ = EBADF, -1;
    return CopyInPieces(in, inOffset, fd_.get(), outOffset, len, startWriteback, &error_, stop,
                        piece);
}

void AtomicFile::StartWriteback(long long offset, long long len) const {
    if (fd_) io::StartWriteback(fd_.get(), offset, len);
}

bool AtomicFile::Commit(bool durable, int* err, bool replace) {
    if (error_ != 0 || !fd_) {
        *err = error_ != 0 ? error_ : EBADF;
        return false;
    }
    struct stat mine {};
    if (::fstat(fd_.get(), &mine) != 0) mine.st_ino = 0;
    if (!Name(durable, err, replace)) return false;
    // Naming changed the file's change time: it is measured under its name,
    // and known only where the name still leads to this file, unwritten since.
    struct stat named {};
    if (mine.st_ino != 0 &&
        ::fstatat(dirfd_, final_.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == mine.st_dev && named.st_ino == mine.st_ino &&
        named.st_size == mine.st_size && Nanoseconds(named.st_mtim) == Nanoseconds(mine.st_mtim))
        committed_ = IdentityOf(named);
    return true;
}

bool AtomicFile::Name(bool durable, int* err, bool replace) {
    if (durable && !Fsync(fd_.get(), err)) return false;
    if (Injected(Op::Publish, err)) return false;
    if (unnamed_) {
        if (!expectTaken_ || !replace) {
            if (LinkUnder(final_)) {
                unnamed_ = false;
                if (CloseFd(fd_, err)) return true;
                // The name is ours alone: nothing was there before the link.
                ::unlinkat(dirfd_, final_.constData(), 0);
                return false;
            }
            if (errno != EEXIST || !replace) {
                *err = errno;
                return false;
            }
            foundTaken_ = true;
        }
        // The final name is taken: a temporary name first, then a rename.
        for (int attempt = 0; attempt < 16 && temp_.isEmpty(); ++attempt) {
            QByteArray temp = TemporaryName();
            if (LinkUnder(temp))
                temp_ = std::move(temp);
            else if (errno != EEXIST)
                break;
        }
        if (temp_.isEmpty()) {
            *err = errno;
            return false;
        }
        unnamed_ = false;
    }
    if (!CloseFd(fd_, err)) return false;
    if (replace ? ::renameat(dirfd_, temp_.constData(), dirfd_, final_.constData()) != 0
                : !RenameNoReplace()) {
        *err = errno;
        return false;
    }
    temp_.clear();
    return true;
}

bool AtomicFile::SetOwner(uid_t uid, gid_t gid, int* err) {
    if (!fd_) return *err = EBADF, false;
    if (::fchown(fd_.get(), uid, gid) != 0) return *err = errno, false;
    return true;
}

bool AtomicFile::SetMode(mode_t mode, int* err) {
    if (!fd_) return *err = EBADF, false;
    if (::fchmod(fd_.get(), mode) != 0) return *err = errno, false;
    return true;
}

void AtomicFile::Discard() {
    fd_.reset();  // an unnamed file vanishes with its descriptor
    unnamed_ = false;
    if (!temp_.isEmpty()) ::unlinkat(dirfd_, temp_.constData(), 0);
    temp_.clear();
}

}  // namespace kbx::io
