#include "archive/batch_read.h"

#include <fcntl.h>
#include <liburing.h>
#include <unistd.h>

#include <cerrno>

#include "archive/file_io.h"

namespace kbx::io {

struct BatchReader::Ring {
    io_uring ring{};
};

namespace {

// Submits what was queued and reaps `count` completions, each to
// (*results)[user_data] where `results` is given. False when the queue
// itself failed: completions may then be missing, and the queue is not used
// again. A signal during the wait only interrupts the wait.
bool Reap(io_uring& ring, unsigned count, std::vector<long long>* results) {
    for (unsigned reaped = 0; reaped < count;) {
        const int r = io_uring_submit_and_wait(&ring, 1);
        if (r == -EINTR) continue;
        if (r < 0) return false;
        io_uring_cqe* cqe = nullptr;
        unsigned head = 0, seen = 0;
        io_uring_for_each_cqe(&ring, head, cqe) {
            if (results) (*results)[cqe->user_data] = cqe->res;
            ++seen;
        }
        io_uring_cq_advance(&ring, seen);
        reaped += seen;
    }
    return true;
}

}  // namespace

BatchReader::BatchReader() = default;

BatchReader::~BatchReader() {
    if (ring_) io_uring_queue_exit(&ring_->ring);
}

bool BatchReader::Read(std::vector<BatchRead>& reads) {
    if (broken_ || reads.empty() || reads.size() > kMax || !BatchReadsAllowed()) return false;
    if (!ring_) {
        auto ring = std::make_unique<Ring>();
        if (io_uring_queue_init(unsigned(2 * kMax), &ring->ring, 0) < 0) return !(broken_ = true);
        ring_ = std::move(ring);
    }
    io_uring& ring = ring_->ring;
    const size_t n = reads.size();
    std::vector<long long> fds(n, -EBADF), got(2 * n, 0);
    for (size_t k = 0; k < n; ++k) {
        io_uring_sqe* sqe = io_uring_get_sqe(&ring);
        io_uring_prep_openat(sqe, reads[k].dirfd, reads[k].name,
                             O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
        io_uring_sqe_set_data64(sqe, k);
    }
    // Where the queue fails before the closes, the descriptors it gave are
    // closed here.
    const auto closeAll = [&] {
        for (long long fd : fds)
            if (fd >= 0) ::close(int(fd));
    };
    if (!Reap(ring, unsigned(n), &fds)) return closeAll(), !(broken_ = true);
    unsigned reading = 0;
    for (size_t k = 0; k < n; ++k) {
        if (fds[k] < 0) continue;
        io_uring_sqe* sqe = io_uring_get_sqe(&ring);
        io_uring_prep_read(sqe, int(fds[k]), reads[k].buf, reads[k].len, 0);
        // Never waits: the queue would wait on a FIFO's writer in spite of
        // O_NONBLOCK. A read that would wait (a FIFO, a device, data not in
        // memory) fails, or stops at what is in memory, and the caller's
        // single read takes it over.
        sqe->rw_flags = RWF_NOWAIT;
        io_uring_sqe_set_data64(sqe, k);
        ++reading;
        // A read that ends at len - 1 on a page's edge may have stopped at a
        // page not in memory: one byte read there tells the end (0) apart.
        if ((reads[k].len - 1) % kPage != 0) continue;
        sqe = io_uring_get_sqe(&ring);
        io_uring_prep_read(sqe, int(fds[k]), &probes_[k], 1, reads[k].len - 1);
        sqe->rw_flags = RWF_NOWAIT;
        io_uring_sqe_set_data64(sqe, n + k);
        ++reading;
    }
    if (!Reap(ring, reading, &got)) return closeAll(), !(broken_ = true);
    unsigned closes = 0;
    for (size_t k = 0; k < n; ++k) {
        if (fds[k] < 0) continue;
        io_uring_sqe* sqe = io_uring_get_sqe(&ring);
        io_uring_prep_close(sqe, int(fds[k]));
        io_uring_sqe_set_data64(sqe, k);
        ++closes;
    }
    // Where the queue fails now, a close may or may not have been made: the
    // descriptors are left as they are, since closing one twice could close
    // a file another thread has opened since.
    if (!Reap(ring, closes, nullptr)) broken_ = true;
    bool anyRead = false, unsupported = false;
    for (size_t k = 0; k < n; ++k) {
        const long long g = fds[k] < 0 ? fds[k] : got[k];
        reads[k].got = g;
        // A read that does not wait stops short of the file's end only at a
        // multiple of kPage, and with at least one byte read (where none is
        // in memory it fails with EAGAIN): 0 bytes read is the end.
        reads[k].whole = g == reads[k].len || g == 0 || (g > 0 && g % kPage != 0) ||
                         (g > 0 && g + 1 == reads[k].len && got[n + k] == 0);
        anyRead = anyRead || g >= 0;
        unsupported = unsupported || g == -EOPNOTSUPP || g == -EINVAL;
    }
    // Where nothing is read without waiting (a file system without it, as
    // tmpfs, or a kernel without the queue's opens), every batch would be
    // read again one file at a time: the thread reads that way from now on.
    if (!anyRead && unsupported) broken_ = true;
    return true;
}

}  // namespace kbx::io
