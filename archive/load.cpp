#include <fcntl.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/archive.h"
#include "archive/file_io.h"

namespace kbx {

namespace {
// The directory is read in blocks of whole records: one read for any
// directory under 4 MiB, and bounded memory beyond that.
constexpr qint64 kRecordsPerRead = (4 << 20) / kRecordSize;
}  // namespace

Result ReadArchive(const QString& path, Directory& dir, const Progress& progress,
                   const StopFlag* stop, const std::function<void(qint64 count)>& counted) {
    int err = 0;
    long long fileSize = 0;
    const QByteArray native = io::NativePath(path);
    io::Fd fd = io::OpenRegularForRead(AT_FDCWD, native.constData(), &fileSize, &err);
    if (!fd) return Result::Unusable({Reason::CannotOpenArchive, err, {}, -1, path});

    char header[kHeaderSize];
    const long long got = io::ReadAt(fd.get(), header, kHeaderSize, 0, &err);
    if (got < 0) return Result::Unusable({Reason::CannotOpenArchive, err, {}, -1, path});
    if (!HasSignature(QByteArrayView(header, got)))
        return Result::Unusable({Reason::NotKbx, 0, {}, -1, path});
    if (got < kHeaderSize) return Result::Unusable({Reason::HeaderTooShort, 0, {}, -1, path});

    const qint64 directoryEnd = ReadLE32(header + kDirectoryEndOffset);
    const qint64 count = ReadLE32(header + kCountOffset);
    if (count < 0) return Result::Unusable({Reason::NegativeCount, 0, {}, -1, path});
    if (directoryEnd != DirectoryEnd(count))
        return Result::Unusable({Reason::DirectoryEndMismatch, 0, {}, -1, path});
    // Checked before anything is allocated for `count` records.
    if (DirectoryEnd(count) > fileSize)
        return Result::Unusable({Reason::DirectoryPastEnd, 0, {}, -1, path});

    if (counted) counted(count);
    Directory fresh;
    fresh.EntryOffset.assign(size_t(count + 1), 0);
    fresh.EntrySize.assign(size_t(count + 1), 0);
    fresh.EntryName.Reserve(count + 1);

    QByteArray block(std::min(count, kRecordsPerRead) * kRecordSize, Qt::Uninitialized);
    for (qint64 first = 0; first < count; first += kRecordsPerRead) {
        const qint64 n = std::min(kRecordsPerRead, count - first);
        const long long want = n * kRecordSize;
        const long long read = io::ReadAt(fd.get(), block.data(), want, DirectoryEnd(first), &err);
        if (read != want)
            return Result::Unusable(read < 0 ? Failure{Reason::ReadFailed, err, {}, -1, path}
                                             : Failure{Reason::DirectoryPastEnd, 0, {}, -1, path});
        for (qint64 i = 0; i < n; ++i) {
            const qint64 k = first + i;
            if (progress) progress(k);
            if (stop && stop->requested) {
                Result r;
                r.outcome = Outcome::Stopped;
                return r;
            }
            const char* rec = block.constData() + i * kRecordSize;
            fresh.EntryOffset[size_t(k)] = ReadLE32(rec + kRecordOffsetField);
            fresh.EntrySize[size_t(k)] = ReadLE32(rec + kRecordSizeField);
            fresh.EntryName.Append(QByteArrayView(rec + kRecordNameField, kNameSize));
        }
    }
    fresh.EntryName.Append({});  // the blank element
    fresh.ArchivePath = path;
    fresh.Identity = io::IdentityOf(fd.get());
    dir = std::move(fresh);
    Result r;
    r.written = count;
    return r;
}

}  // namespace kbx
