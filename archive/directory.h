#pragma once
// The in-memory directory of a loaded archive.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <type_traits>
#include <vector>

#include "archive/format.h"
#include "archive/identity.h"
#include "archive/names.h"

namespace kbx {

// Texts kept back to back in one block, each found by the order it was
// added in: 20,000 names cost a few allocations (and frees), not 20,000. A
// text is appended to `block`, then ended by End().
template <typename Block>
struct Texts {
    using View = std::conditional_t<std::is_same_v<Block, QString>, QStringView, QByteArrayView>;
    Block block;
    std::vector<qsizetype> ends;
    void End() { ends.push_back(block.size()); }
    qsizetype start(size_t k) const { return k == 0 ? 0 : ends[k - 1]; }
    View at(size_t k) const { return View(block).sliced(start(k), ends[k] - start(k)); }
};

// The names of a directory, each held as the bytes of its field up to the
// first NUL (the whole field when it has none), packed one after another:
// a directory costs the length of its names, not 128 bytes an entry.
class NameFields {
  public:
    void Reserve(qint64 count) { names_.ends.reserve(size_t(count)); }
    // Appends the name held in `field` (a raw field, or a name's bytes).
    void Append(QByteArrayView field) {
        names_.block.append(NameBytes(field));
        names_.End();
    }
    qint64 size() const { return qint64(names_.ends.size()); }
    QByteArrayView operator[](qint64 i) const { return names_.at(size_t(i)); }

  private:
    Texts<QByteArray> names_;
};

// Indexes 0..count-1 hold the entries in directory order; the element at
// index count is blank (offset 0, size 0, empty name). Before the first
// successful load every array is empty.
struct Directory {
    QString ArchivePath;
    FileIdentity Identity;  // of the file at ArchivePath when it was loaded
    std::vector<qint32> EntryOffset;
    std::vector<qint32> EntrySize;
    NameFields EntryName;

    // The number of entries (0 before any load), which is also the index of
    // the blank element.
    qint64 Count() const { return EntryOffset.empty() ? 0 : qint64(EntryOffset.size()) - 1; }
    bool IsLoaded() const { return !EntryOffset.empty(); }

    // Entry i's name as text, cut at its first NUL.
    QString Name(qint64 i) const { return FieldName(EntryName[i]); }
};

}  // namespace kbx
