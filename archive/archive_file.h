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
// its length.
[[nodiscard]] Failure OpenForReading(const QString& path, io::Fd& fd, long long* size);

// Opens `path` and checks its signature, count and directory end; the result
// is unusable when any of them is wrong.
Result OpenArchiveFile(const QString& path, ArchiveFile& file);

// Opens the loaded archive `dir` again for reading what it loaded: the same
// file (identity and times), with the same header and the whole directory.
// Otherwise `failure` says why (cannot open, read failed, archive changed)
// and the result is closed.
io::Fd OpenLoaded(const Directory& dir, long long* archiveSize, Result* failure);

// The result of a directory that ends before its last record, or whose read
// failed with `error`.
Result DirectoryCutShort(const QString& path, int error);

}  // namespace kbx
