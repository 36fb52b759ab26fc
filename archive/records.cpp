#include "archive/records.h"

#include "archive/names.h"

namespace kbx {

RecordFields ReadRecord(const char* record) {
    return {ReadLE32(record + kRecordOffsetField), ReadLE32(record + kRecordSizeField),
            NameBytes(QByteArrayView(record + kRecordNameField, kNameSize))};
}

bool SameRecord(const char* record, const Directory& dir, qint64 index) {
    const RecordFields r = ReadRecord(record);
    return r.offset == dir.EntryOffset[size_t(index)] && r.size == dir.EntrySize[size_t(index)] &&
           r.name == dir.EntryName[index];
}

Failure RecordsUnchanged(int fd, const Directory& dir) {
    DirectoryReader reader(fd, dir.Count());
    const Pass pass =
        reader.ForEach([&](qint64 i, const char* record) { return SameRecord(record, dir, i); });
    if (pass == Pass::Done) return {};
    const Reason why = reader.error() != 0 ? Reason::ReadFailed : Reason::ArchiveChanged;
    return Failure::Path(why, reader.error(), dir.ArchivePath);
}

qint64 DirectoryReader::ReadInto(char* buf, qint64 first, qint64 n) {
    error_ = 0;
    const long long got = io::ReadAt(fd_, buf, n * kRecordSize, DirectoryEnd(first), &error_);
    return std::max(got, 0LL) / kRecordSize;
}

void DirectoryReader::Read(qint64 first, qint64 n) {
    if (buffer_.size() < n * kRecordSize) buffer_.resize(n * kRecordSize);
    first_ = first;
    held_ = ReadInto(buffer_.data(), first, n);
}

const char* DirectoryReader::At(qint64 index) {
    if (const char* held = Held(index)) return held;
    const qint64 first = index - index % kChunkRecords;
    Read(first, std::min(kChunkRecords, count_ - first));
    return Held(index);
}

}  // namespace kbx
