#pragma once
// An archive opened for reading with its header checked against the file:
// shared by the directory loader, the verifier, extraction and rewriting.

#include <QString>

#include "archive/file_io.h"
#include "archive/result.h"

namespace kbx {

struct ArchiveFile {
    io::Fd fd;
    qint64 count = 0;    // records in the directory, which the file holds whole
    long long size = 0;  // the file's length
};

// Opens the archive file at `path` for reading: CannotOpenArchive (errno)
// when it cannot be opened, NotRegularFile when a FIFO, socket or device
// stands there (a folder is CannotOpenArchive with EISDIR). `size` learns
// its length. The descriptor holds the archive's read lock (LockForReading)
// until it is closed, so what it reads is never half an edit in place.
[[nodiscard]] Failure OpenForReading(const QString& path, io::Fd& fd, long long* size);

// OpenForReading without the read lock: for the editor lock's descriptor,
// which lasts over the edit's own writes.
[[nodiscard]] Failure OpenArchivePath(const QString& path, io::Fd& fd, long long* size);

// Opens `path` and checks its signature, count and directory end; the result
// is unusable when any of them is wrong.
Result OpenArchiveFile(const QString& path, ArchiveFile& file);

// Opens the loaded archive `dir` again as `fd` for reading what it loaded:
// the same file (identity and times), with the same header and the whole
// directory. Otherwise says why (cannot open, read failed, archive changed)
// and leaves `fd` alone.
[[nodiscard]] Failure OpenLoaded(const Directory& dir, io::Fd& fd, long long* archiveSize);

// The header's reserved field of the archive open as `fd` (at `path`):
// ReadFailed (errno) when it cannot be read.
[[nodiscard]] Failure ReadReserved(int fd, const QString& path, qint32& reserved);

// The result of a directory that ends before its last record, or whose read
// failed with `error`.
Result DirectoryCutShort(const QString& path, int error);

}  // namespace kbx
