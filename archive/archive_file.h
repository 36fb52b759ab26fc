#pragma once
// An archive opened for reading with its header checked against the file:
// shared by the directory loader and the verifier.

#include <QString>

#include "archive/file_io.h"
#include "archive/result.h"

namespace kbx {

struct ArchiveFile {
    io::Fd fd;
    qint64 count = 0;    // records in the directory, which the file holds whole
    long long size = 0;  // the file's length
};

// Opens `path` and checks its signature, count and directory end; the result
// is unusable when any of them is wrong.
Result OpenArchiveFile(const QString& path, ArchiveFile& file);

// The result of a directory that ends before its last record, or whose read
// failed with `error`.
Result DirectoryCutShort(const QString& path, int error);

}  // namespace kbx
