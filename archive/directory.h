#pragma once
// The in-memory directory of a loaded archive.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

#include "archive/format.h"
#include "archive/names.h"

namespace kbx {

// The raw 128-byte name fields of a directory, stored in one block.
class NameFields {
  public:
    NameFields() = default;
    explicit NameFields(qint64 count) : block_(count * kNameSize, '\0') {}
    // Fields with undefined bytes, for a caller that fills every one: a
    // large directory then costs one pass over its memory, not two.
    NameFields(qint64 count, Qt::Initialization) : block_(count * kNameSize, Qt::Uninitialized) {}

    qint64 size() const { return block_.size() / kNameSize; }
    QByteArrayView operator[](qint64 i) const {
        return QByteArrayView(block_.constData() + i * kNameSize, kNameSize);
    }
    char* data(qint64 i) { return block_.data() + i * kNameSize; }

  private:
    QByteArray block_;
};

// Indexes 0..count-1 hold the entries in directory order; the element at
// index count is blank (offset 0, size 0, empty name). Before the first
// successful load every array is empty.
struct Directory {
    QString ArchivePath;
    std::vector<qint32> EntryOffset;
    std::vector<qint32> EntrySize;
    NameFields EntryName;

    // The number of entries: the arrays' upper bound (0 before any load).
    qint64 UpperBound() const { return EntryOffset.empty() ? 0 : qint64(EntryOffset.size()) - 1; }
    bool IsLoaded() const { return !EntryOffset.empty(); }

    // Entry i's name as text, cut at its first NUL.
    QString Name(qint64 i) const { return FieldName(EntryName[i]); }
};

}  // namespace kbx
