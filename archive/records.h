#pragma once
// Directory records as they stand on disk. Every reader of an archive's
// directory reads its records through DirectoryReader, every writer writes
// them through RecordWriter, and every check that a record is still the
// loaded one is SameRecord.

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <functional>

#include "archive/directory.h"
#include "archive/file_io.h"
#include "archive/format.h"
#include "archive/result.h"

namespace kbx {

// The fields of one record; `name` is the name's bytes up to the first NUL.
struct RecordFields {
    qint32 offset;
    qint32 size;
    QByteArrayView name;
};
RecordFields ReadRecord(const char* record);

// True when `record`, as read from the file, is entry `index` of `dir` as it
// was loaded: same offset, size and name.
bool SameRecord(const char* record, const Directory& dir, qint64 index);

// Writes directory records in blocks of whole records (about 1 MiB, so that
// a directory's size in memory stays bounded), each block through `write`
// at its place in the file: every writer of a directory writes through here.
class RecordWriter {
  public:
    using Write = std::function<bool(const char* bytes, qint64 length, qint64 at)>;
    // The first record goes to `at`, after `header` when one is given.
    RecordWriter(Write write, qint64 at, QByteArrayView header = {})
        : write_(std::move(write)), at_(at), block_(header.toByteArray()) {}

    // Adds one record; false once a write has failed.
    [[nodiscard]] bool Add(qint32 offset, qint32 size, QByteArrayView name) {
        AppendRecord(block_, offset, size, name);
        return block_.size() < kBlockBytes || Flush();
    }
    // Writes what is left; false when this or an earlier write failed.
    [[nodiscard]] bool Finish() { return Flush(); }

  private:
    static constexpr qint64 kBlockBytes = (1 << 20) / kRecordSize * kRecordSize;

    bool Flush() {
        ok_ = ok_ && (block_.isEmpty() || write_(block_.constData(), block_.size(), at_));
        at_ += block_.size();
        block_.clear();
        return ok_;
    }

    Write write_;
    qint64 at_;
    QByteArray block_;
    bool ok_ = true;
};

// Of the archive `dir` was loaded from, open as `fd` with its header checked
// (OpenLoaded): ReadFailed (errno) when its records cannot be read, and
// ArchiveChanged when they are not the loaded ones; the subject is the
// archive. Reason::None when every record is the one loaded.
[[nodiscard]] Failure RecordsUnchanged(int fd, const Directory& dir);

// How a pass over the records ended.
enum class Pass { Done, Stopped, CutShort };

// Reads the records of a directory of `count` records from the file `fd`, in
// blocks of whole records: in order, about 128 KiB a read (one buffer, used
// again for each block: a fresh page costs more than a read), or a few at a
// time where they are needed out of order.
class DirectoryReader {
  public:
    DirectoryReader(int fd, qint64 count) : fd_(fd), count_(count) {}

    // Calls each(index, record) for every record in order until it returns
    // false (Pass::Stopped). Pass::CutShort when the file ends before the
    // last record or a read fails (see error()).
    template <typename Each>
    Pass ForEach(Each each) {
        QByteArray block(std::min(count_, kBlockRecords) * kRecordSize, Qt::Uninitialized);
        for (qint64 first = 0; first < count_; first += kBlockRecords) {
            const qint64 n = std::min(kBlockRecords, count_ - first);
            if (ReadInto(block.data(), first, n) != n) return Pass::CutShort;
            for (qint64 i = 0; i < n; ++i) {
                if (!each(first + i, block.constData() + i * kRecordSize)) return Pass::Stopped;
            }
        }
        return Pass::Done;
    }

    // Reads records [first, first + n) as the file holds them now into the
    // reader's buffer, where Held() finds them; as many as the file holds.
    void Read(qint64 first, qint64 n);
    // Record `index` as the last read left it in the buffer, or null.
    const char* Held(qint64 index) const {
        return index >= first_ && index < first_ + held_
                   ? buffer_.constData() + (index - first_) * kRecordSize
                   : nullptr;
    }

    // Record `index`, read with the few around it unless the buffer holds
    // it; null when the file now ends before it.
    const char* At(qint64 index);

    // The errno of the last read when it failed, or 0 when a short read was
    // the file ending early: a failing disk is not a damaged archive.
    int error() const { return error_; }

  private:
    static constexpr qint64 kBlockRecords = (128 << 10) / kRecordSize;
    static constexpr qint64 kChunkRecords = 32;

    // The one read of records: into `buf`, the whole records read.
    qint64 ReadInto(char* buf, qint64 first, qint64 n);

    int fd_;
    qint64 count_;
    int error_ = 0;
    QByteArray buffer_;
    qint64 first_ = 0;  // the records in buffer_, as At() last read them
    qint64 held_ = 0;
};

}  // namespace kbx
