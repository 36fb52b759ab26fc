#pragma once
// Small files read many at a time, through the kernel's submission queue
// (io_uring): opening, reading and closing a batch of files costs three
// system calls in all instead of three a file. Comparing a tree of 20,000
// small files with an archive is mostly those calls.

#include <QByteArray>

#include <array>
#include <memory>
#include <vector>

namespace kbx::io {

// One file of a batch: `name` in the folder open at `dirfd`, opened as a
// tree's file is opened for reading (read only, without blocking on a FIFO,
// never as a controlling terminal), read once from its start into
// [buf, buf + len) without waiting, and closed. `got` learns the count read,
// or -errno of the open or the read (EAGAIN or EOPNOTSUPP where the read
// would wait, as on a FIFO). `whole` learns whether that count is known to
// be all the file held, up to `len`: a read that does not wait stops at the
// first page not in memory, which may be taken for the file's end.
struct BatchRead {
    int dirfd = -1;
    const char* name = nullptr;
    char* buf = nullptr;
    unsigned len = 0;
    long long got = 0;
    bool whole = false;
};

// One thread's queue. Not shared between threads.
class BatchReader {
  public:
    BatchReader();
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // The most files one Read takes.
    static constexpr size_t kMax = 64;

    // Reads each of `reads` (at most kMax). False when nothing was read and
    // the caller is to read one file at a time: the kernel has no queue or a
    // sandbox refuses it, the queue failed before (it is not tried again),
    // or the file layer's test seam watches reads (file_io_faults.h), which
    // only single reads pass through. The buffers must outlive this reader:
    // where the queue fails, a read under way may still land in them.
    bool Read(std::vector<BatchRead>& reads);

  private:
    struct Ring;
    std::unique_ptr<Ring> ring_;
    bool broken_ = false;
    // Bytes read only to find files' ends. They live as long as the queue:
    // a read still under way where the queue failed writes here, never into
    // freed memory.
    std::array<char, kMax> probes_{};
};

}  // namespace kbx::io
