#pragma once
// A check of an archive's directory against its file: every entry inside the
// file, every name safe to write, no name that unpacking could not create, no
// overlapping data, no duplicate names. An archive with no problem unpacks
// into an empty writable folder without a failure.

#include <QString>

#include <functional>

#include "archive/result.h"

namespace kbx {

struct StopFlag;

struct Problem {
    enum class Kind {
        OutOfBounds,     // the entry's data lies outside the file
        UnsafeName,      // the name breaks `rule`
        RequiredFolder,  // the name is Version or Version\Data, which unpacking makes folders
        NameIsFolder,    // another entry (`other`) needs this name as a folder
        Duplicate,       // the same name as entry `other`, compared as the game compares
        Overlap,         // the data overlaps entry `other`'s, or the directory when -1
    };
    Kind kind = Kind::OutOfBounds;
    qint64 index = -1;
    QString name;                    // the entry's name as text
    NameRule rule = NameRule::None;  // UnsafeName
    QString part;                    // UnsafeName by BadComponent: the component
    qint64 other = -1;
    qint64 offset = 0;  // the entry's record
    qint64 size = 0;
    qint64 fileSize = 0;  // the archive's length
};

// The name of a problem kind for machine-readable output.
const char* KindName(Problem::Kind kind);

// Called for each problem; returning false ends the check early.
using ProblemSink = std::function<bool(const Problem&)>;

// Checks the archive at `path`. Problems come in the order of Problem::Kind,
// except that the first three, which concern one record alone, come mixed in
// index order; the others come each in index order (an entry overlapping both
// another entry and the directory: the entry first). Unusable when the file
// cannot be opened or its header is wrong; `count` learns the number of
// records once the header has been checked, `layout` the data's layout
// when the check ran to its end. A stop request, looked at before each
// record and each problem, ends the check with Outcome::Stopped.
//
// Memory is bounded by the number of records (about 40 bytes each), not by
// the names' lengths or the number of problems: records are read in blocks and
// names are read again where two may be equal.
// How the data area is used; not a problem either way.
struct Layout {
    qint64 unused = 0;  // bytes after the directory that no entry's data cover
    // The data lie back to back from the directory's end in directory order
    // and fill the file, as pack, a rewrite and compact make them.
    bool canonical = true;
};
// The layout of `count` entries' data in a file of `fileSize` bytes.
Layout MeasureLayout(const qint32* offset, const qint32* size, qint64 count, qint64 fileSize);

Result Verify(const QString& path, const ProblemSink& report, qint64* count = nullptr,
              Layout* layout = nullptr, const StopFlag* stop = nullptr);

// True when the archive at `path` can be used and has no problem.
bool IsSound(const QString& path);

}  // namespace kbx
