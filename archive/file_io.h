#pragma once
// The engine's file layer: descriptors, writes that land whole or not at all,
// folder walks that never leave their root, and in-kernel copying. Every
// write, rename, fsync and close goes through here, so tests can make the
// k-th one fail.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <utility>

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

  private:
    int fd_ = -1;
};

// Test seam: the k-th call (1-based, counted from now) of the given kind
// fails with EIO. k = 0 switches the kind back to normal.
enum class Op { Write, Rename, Fsync, Close, Count_ };
void FailNth(Op op, long k);
// Test seam: calls of each kind made since the last ResetFaults(), and a
// hook run just before each one (with its 1-based number), so that tests can
// change files at an exact point of an operation.
long Calls(Op op);
using CallHook = std::function<void(Op op, long n)>;
void SetCallHook(CallHook hook);
void ResetFaults();

// Local 8-bit path for a QString path.
QByteArray NativePath(const QString& path);

// The text of an errno value.
QString ErrorText(int err);

// Opens an existing file for reading without blocking on FIFOs or devices.
// Fails with EINVAL-like errors for anything but a regular file.
Fd OpenRegularForRead(int dirfd, const char* path, long long* size, int* err);

// Opens folder `components` beneath `root`, creating missing folders when
// `create` is set. No component may be a symbolic link.
Fd OpenDirBeneath(int root, const QStringList& components, bool create, int* err);

// Reads exactly `len` bytes at `offset`; fewer only at end of file.
long long ReadAt(int fd, char* buf, long long len, long long offset, int* err);

// Writes all of `len` bytes at `offset` (or at the current position when
// offset < 0).
bool WriteAll(int fd, const char* buf, long long len, long long offset, int* err);

// Copies `len` bytes from `in` at `inOffset` to `out` at `outOffset`, in the
// kernel where it can and through a bounded buffer otherwise. Returns the
// bytes copied; fewer than `len` means the source ended early.
long long CopyRange(int in, long long inOffset, int out, long long outOffset, long long len,
                    int* err);

bool Fsync(int fd, int* err);
bool CloseFd(Fd& fd, int* err);

// A file written under a temporary name in its folder and renamed over its
// final name only by Commit(). Until then the final name is untouched; a
// file that is never committed is removed.
class AtomicFile {
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { Discard(); }

    bool Create(int dirfd, const QByteArray& finalName, int* err);
    int fd() const { return fd_.get(); }
    // Flushes to disk first when `durable` is set.
    bool Commit(bool durable, int* err);
    void Discard();

  private:
    int dirfd_ = -1;
    QByteArray temp_;
    QByteArray final_;
    Fd fd_;
};

}  // namespace kbx::io
