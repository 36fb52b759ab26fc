#pragma once
// The in-memory directory of a loaded archive.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

#include "archive/format.h"
#include "archive/names.h"

namespace kbx {

// The names of a directory, each held as the bytes of its field up to the
// first NUL (the whole field when it has none), packed one after another:
// a directory costs the length of its names, not 128 bytes an entry.
class NameFields {
  public:
    NameFields() = default;

    void Reserve(qint64 count) { starts_.reserve(size_t(count) + 1); }
    // Appends the name held in `field` (a raw field, or a name's bytes).
    void Append(QByteArrayView field) {
        block_.append(NameBytes(field));
        starts_.push_back(quint32(block_.size()));
    }
    qint64 size() const { return qint64(starts_.size()) - 1; }
    QByteArrayView operator[](qint64 i) const {
        return QByteArrayView(block_.constData() + starts_[size_t(i)],
                              starts_[size_t(i) + 1] - starts_[size_t(i)]);
    }

  private:
    QByteArray block_;
    // Where each name starts; fields are at most 128 bytes and a directory
    // at most 2^31 bytes, so 32 bits hold every position.
    std::vector<quint32> starts_{0};
};

// What identifies an archive file and its state when it was loaded: the
// same file, not rewritten since, has the same values.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;  // modification time in nanoseconds
    qint64 changedNs = 0;   // status change time in nanoseconds

    bool operator==(const FileIdentity&) const = default;
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
