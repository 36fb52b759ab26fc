#pragma once
// A check of a loaded directory against its file: every entry inside the
// file, every name safe to write, no overlapping data, no duplicate names.

#include <QString>

#include <vector>

#include "archive/directory.h"
#include "archive/result.h"

namespace kbx {

struct Problem {
    enum class Kind { OutOfBounds, UnsafeName, Overlap, Duplicate };
    Kind kind;
    qint64 index;
    QString name;
    NameRule rule = NameRule::None;  // UnsafeName: which rule
    QString part = {};               // UnsafeName: the offending component
    // Duplicate and Overlap: the other entry, or -1 for the directory itself.
    qint64 other = -1;
    // OutOfBounds: the entry's data and the file's length.
    qint64 offset = 0, size = 0, fileSize = 0;
};

// The name of a problem kind for machine-readable output.
const char* KindName(Problem::Kind kind);

// Problems of `dir` for an archive file of `fileSize` bytes, in index order
// within each kind.
std::vector<Problem> Verify(const Directory& dir, qint64 fileSize);

}  // namespace kbx
