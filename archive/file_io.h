#pragma once
// The engine's file layer: descriptors, writes that land whole or not at all,
// folder walks that never leave their root, and in-kernel copying. The
// engine's reads and writes of file data, publications (link or rename),
// flushes, truncations, removals and the closes whose failure it reports
// (CloseFd) go through here, so tests can make the k-th one fail
// (file_io_faults.h).
//
// Threading: the engine runs one operation at a time per process, from one
// thread at a time; within `update`, a comparison reads ahead of the edit on
// threads of its own (DiffersAhead), through ReadAt, ReadOnce and
// BatchReader only. The test seam's counts are atomic for them; its other
// knobs and the capability probes (openat2, copy_file_range, linking by
// descriptor) are process-wide and unsynchronised, set only between
// operations.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>

#include "archive/directory.h"

namespace kbx::io {

// An owned file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset();
    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_ = -1;
};

// True for the names of this program's temporary files (see AtomicFile),
// which a killed run may leave: never packed, never compared.
bool IsTemporaryName(QByteArrayView name);

// Local 8-bit path for a QString path.
QByteArray NativePath(const QString& path);

// Opens an existing file for reading without blocking on FIFOs or devices.
// Fails for anything but a regular file: EISDIR for a folder, EINVAL for a
// FIFO, socket or device.
Fd OpenRegularForRead(int dirfd, const char* path, long long* size, int* err);

// The identity and state of an open file, or a default one (size -1) when
// it cannot be read.
FileIdentity IdentityOf(int fd);

// FNV-1a, 64 bits, of `n` bytes at `p`, continued from `h` (kFnvStart to
// begin): the checksum of the files the engine keeps for itself.
constexpr quint64 kFnvStart = 0xcbf29ce484222325ULL, kFnvPrime = 0x100000001b3ULL;
constexpr quint64 Fnv1a(quint64 h, const char* p, qint64 n) {
    for (qint64 i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * kFnvPrime;
    return h;
}

// A file time (a timespec or a statx timestamp) in nanoseconds.
template <typename Time>
constexpr qint64 Nanoseconds(const Time& t) {
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}
FileIdentity IdentityOf(const struct stat& st);

// Opens folder `components` beneath `root`, creating missing folders when
// `create` is set. No component may be a symbolic link.
Fd OpenDirBeneath(int root, const QStringList& components, bool create, int* err);

// Reads exactly `len` bytes at `offset`; fewer only at end of file.
long long ReadAt(int fd, char* buf, long long len, long long offset, int* err);
// One read of at most `len` bytes at `offset`, retried only when interrupted
// before it read anything. A regular file's read falls short at its end, and
// where a signal or a network file system cuts it short: a caller that takes
// a short read for the end must be able to tell (ReadAt reads again instead,
// one call more at every end).
long long ReadOnce(int fd, char* buf, long long len, long long offset, int* err);
// False while the test seam watches or shapes reads (a call hook, a planned
// read failure, a read limit): every read must then be a single one of
// ReadAt or ReadOnce (see BatchReader).
bool BatchReadsAllowed();

// Writes all of `len` bytes at `offset` (or at the current position when
// offset < 0).
bool WriteAll(int fd, const char* buf, long long len, long long offset, int* err);

// Copies `len` bytes from `in` at `inOffset` to `out` at `outOffset`: small
// ranges through a buffer on the stack (one read and one write cost less than
// the kernel's splice set-up), larger ones in the kernel where it can and
// through a bounded buffer otherwise. Returns the bytes copied; fewer than
// `len` means the source ended early.
long long CopyRange(int in, long long inOffset, int out, long long outOffset, long long len,
                    int* err);

// The smallest page the kernel caches files in.
inline constexpr long long kPage = 4096;

// CopyRange in pieces of kCopyPiece bytes; with `startWriteback`, disk
// writes are started after each piece (see StartWriteback), so that a long
// copy is flushed while it runs. (Two threads would not help: the file
// system locks the output file for each write.) `stop`, looked at before
// each piece, ends the copy with -1 and ECANCELED once it is set; `piece`,
// called before each piece, learns the bytes copied so far.
inline constexpr long long kCopyPiece = 4LL << 20;
using PieceHook = std::function<void(long long copied)>;
long long CopyInPieces(int in, long long inOffset, int out, long long outOffset, long long len,
                       bool startWriteback, int* err, const std::atomic<bool>* stop = nullptr,
                       const PieceHook* piece = nullptr);

// Asks the kernel to start writing the range to disk now, without waiting,
// so that a later Fsync finds little left to do. Only a hint.
void StartWriteback(int fd, long long offset, long long len);

// Paces StartWriteback over a file written front to back in many small
// copies: the disk is started once kCopyPiece bytes have gathered, not after
// each copy, which would cost a call per file as dear as the copy of a small
// one.
class WritebackPacer {
  public:
    // `start(offset, len)` starts the disk's writes on a range of the file
    // (StartWriteback on its descriptor); the file is written from `from`.
    using Start = std::function<void(long long offset, long long len)>;
    WritebackPacer(long long from, Start start) : started_(from), start_(std::move(start)) {}
    // Everything before `end` is written: the disk's writes start on what
    // gathered, once that is kCopyPiece bytes.
    void Written(long long end) {
        if (end - started_ < kCopyPiece) return;
        start_(started_, end - started_);
        started_ = end;
    }
    // A copy of `len` bytes ended at `end`: a long one (CopyInPieces with
    // startWriteback, as Long says) started its own pieces' writes.
    void Copied(long long len, long long end) {
        if (Long(len))
            started_ = end;
        else
            Written(end);
    }
    static bool Long(long long len) { return len >= kCopyPiece; }

  private:
    long long started_;
    Start start_;
};

bool Fsync(int fd, int* err);

// Sets the file's length, as ftruncate does.
bool Truncate(int fd, long long length, int* err);

// Renames `from` to `to` within the folder `dirfd`, replacing `to`.
bool RenameIn(int dirfd, const char* from, const char* to, int* err);

// Removes the name `name` of a file in the folder `dirfd`.
bool RemoveIn(int dirfd, const char* name, int* err);

// Follows the links standing at `path`, one by one, to the name they finally
// lead to. `st` learns what stands there (without following it) and
// `exists` whether anything does. Returns false with `err` set when the
// chain cannot be followed (a loop, say).
bool FollowLinks(QByteArray& path, struct stat* st, bool* exists, int* err);

// True when two measurements show the same file unchanged: what a careful
// archiver compares (identity, size, modification and change times).
bool SameFileState(const struct stat& a, const struct stat& b);
bool CloseFd(Fd& fd, int* err);

// A file that appears under its final name only whole, by Commit(). It is
// written as an unnamed file in its folder (O_TMPFILE) and linked in by
// Commit; where that is unavailable, or the final name is taken, it goes
// under a temporary name of its own and is renamed over the final name, so
// an existing file or link there is replaced and never written through.
// Until Commit the final name is untouched; a file that is never committed
// leaves nothing behind.
class AtomicFile {
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { Discard(); }

    bool Create(int dirfd, const QByteArray& finalName, int* err);

    // Writes and copies into the file. The first failure is kept: every
    // later call fails at once, and Commit refuses, so a file with a hole or
    // a torn write can never be published. The descriptor is never handed
    // out, so nothing can write around this record.
    bool Write(const char* buf, long long len, long long offset);
    // CopyInPieces into the file; returns the bytes copied (fewer when the
    // source ends early) or -1 on a failure, which is kept (a stop too, as
    // ECANCELED: the file is then incomplete and can never be committed).
    long long CopyFrom(int in, long long inOffset, long long outOffset, long long len,
                       bool startWriteback, const std::atomic<bool>* stop = nullptr,
                       const PieceHook* piece = nullptr);
    void StartWriteback(long long offset, long long len) const;
    // The first error of a write or copy, or 0.
    int error() const { return error_; }

    // Publishes the file under its final name, flushed to disk first when
    // `durable` is set. Refuses (with the kept error) after a failed write.
    // With `replace` unset, an existing file (or anything else) under the
    // final name stays and the commit fails with EEXIST; the check and the
    // naming are one step.
    bool Commit(bool durable, int* err, bool replace = true);
    // After a Commit that succeeded: the file as it stood under its name
    // just after (size -1 when that is not known).
    const FileIdentity& committed() const { return committed_; }
    // The final name is probably taken (a run that found its files already
    // there): a replacing Commit goes straight to a temporary name and a
    // rename, which replaces a file and creates a missing one alike, without
    // first trying a link that would fail.
    void ExpectTaken() { expectTaken_ = true; }
    // True when Commit found the final name taken.
    bool foundTaken() const { return foundTaken_; }
    // After a Commit that succeeded: the temporary name that stayed beside
    // the final one because it could not be removed, and why (errno); empty
    // and 0 when none did.
    const QByteArray& leftName() const { return leftName_; }
    int leftError() const { return leftError_; }
    void Discard();

    // Gives the unpublished file an owner and group, or a mode (07777 bits),
    // as fchown and fchmod do.
    bool SetOwner(uid_t uid, gid_t gid, int* err);
    bool SetMode(mode_t mode, int* err);

  private:
    bool CreateNamed(int* err);
    bool Name(bool durable, int* err, bool replace);
    bool LinkUnder(const QByteArray& name);
    bool RenameNoReplace();

    int error_ = 0;
    int dirfd_ = -1;
    QByteArray temp_;  // the temporary name, while the file has one
    QByteArray final_;
    Fd fd_;
    bool unnamed_ = false;  // no name yet: nothing to remove on failure
    bool expectTaken_ = false;
    bool foundTaken_ = false;
    QByteArray leftName_;
    int leftError_ = 0;
    FileIdentity committed_;
};

}  // namespace kbx::io
