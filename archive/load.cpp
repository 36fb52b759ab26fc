#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/archive.h"
#include "archive/archive_file.h"
#include "archive/edit_lock.h"
#include "archive/file_io.h"
#include "archive/journal.h"
#include "archive/records.h"

namespace kbx {

Failure OpenArchivePath(const QString& path, io::Fd& fd, long long* size) {
    int err = 0;
    fd = io::OpenRegularForRead(AT_FDCWD, io::NativePath(path).constData(), size, &err);
    if (fd) return {};
    return {err == EINVAL ? Reason::NotRegularFile : Reason::CannotOpenArchive,
            err == EINVAL ? 0 : err, NameRule::None, -1, path};
}

Failure OpenForReading(const QString& path, io::Fd& fd, long long* size) {
    if (Failure f = OpenArchivePath(path, fd, nullptr); f.reason != Reason::None) return f;
    // Read between edits in place only; the size is the one after any edit
    // waited for.
    int err = 0;
    struct stat st {};
    if (LockForReading(fd.get(), &err) && ::fstat(fd.get(), &st) != 0) err = errno;
    if (err != 0) {
        fd = io::Fd();
        return Failure::Path(Reason::CannotOpenArchive, err, path);
    }
    if (size) *size = st.st_size;
    return {};
}

Result OpenArchiveFile(const QString& path, ArchiveFile& file) {
    // An edit in place that was interrupted is rolled back first: a
    // half-edited archive is never read as a whole one. An edit that dies
    // between that look and the read lock leaves its journal to the next.
    Result recovered;
    long long fileSize = 0;
    io::Fd fd;
    for (int look = 0;; ++look) {
        Result r = Recover(path);
        if (!r.ok()) return r;
        for (Failure& w : r.warnings) recovered.warnings.push_back(std::move(w));
        if (Failure f = OpenForReading(path, fd, &fileSize); f.reason != Reason::None)
            return Result::Unusable(std::move(f));
        if (!journal::Orphaned(path, fd.get())) break;
        fd = io::Fd();
        // Edits that keep dying under the reader: never read what they left.
        if (look == 2) return Result::Unusable(Failure::Path(Reason::ArchiveBusy, 0, path));
    }
    int err = 0;

    char header[kHeaderSize];
    const long long got = io::ReadAt(fd.get(), header, kHeaderSize, 0, &err);
    if (got < 0) return Result::Unusable(Failure::Path(Reason::CannotOpenArchive, err, path));
    if (!HasSignature(QByteArrayView(header, got)))
        return Result::Unusable(Failure::Path(Reason::NotKbx, 0, path));
    if (got < kHeaderSize) return Result::Unusable(Failure::Path(Reason::HeaderTooShort, 0, path));

    const qint64 directoryEnd = ReadLE32(header + kDirectoryEndOffset);
    const qint64 count = ReadLE32(header + kCountOffset);
    if (count < 0) return Result::Unusable(Failure::Path(Reason::NegativeCount, 0, path));
    if (directoryEnd != DirectoryEnd(count))
        return Result::Unusable(Failure::Path(Reason::DirectoryEndMismatch, 0, path));
    // Checked before anything is allocated for `count` records.
    if (DirectoryEnd(count) > fileSize) return DirectoryCutShort(path, 0);
    file.fd = std::move(fd);
    file.count = count;
    file.size = fileSize;
    return recovered;
}

Result DirectoryCutShort(const QString& path, int error) {
    return Result::Unusable(error != 0 ? Failure::Path(Reason::ReadFailed, error, path)
                                       : Failure::Path(Reason::DirectoryPastEnd, 0, path));
}

Result ReadArchive(const QString& path, Directory& dir, const Progress& progress,
                   const StopFlag* stop, const std::function<void(qint64 count)>& counted) {
    ArchiveFile file;
    Result r = OpenArchiveFile(path, file);
    if (!r.ok()) return r;
    const qint64 count = file.count;
    if (counted) counted(count);
    Directory fresh;
    fresh.EntryOffset.assign(size_t(count + 1), 0);
    fresh.EntrySize.assign(size_t(count + 1), 0);
    fresh.EntryName.Reserve(count + 1);

    DirectoryReader reader(file.fd.get(), count);
    const Pass pass = reader.ForEach([&](qint64 k, const char* rec) {
        if (progress) progress(k);
        if (stop && stop->requested) return false;
        const RecordFields fields = ReadRecord(rec);
        fresh.EntryOffset[size_t(k)] = fields.offset;
        fresh.EntrySize[size_t(k)] = fields.size;
        fresh.EntryName.Append(fields.name);
        return true;
    });
    if (pass == Pass::CutShort) return DirectoryCutShort(path, reader.error());
    if (pass == Pass::Stopped) {
        r.outcome = Outcome::Stopped;  // with the warnings of the recovery
        return r;
    }
    fresh.EntryName.Append({});  // the blank element
    fresh.ArchivePath = path;
    fresh.Identity = io::IdentityOf(file.fd.get());
    dir = std::move(fresh);
    r.done = count;
    return r;
}

// Opens the loaded archive again. A file replaced, rewritten or truncated
// since the load is another file now, or has another size or time, or no
// longer has the loaded directory's header or holds the whole directory;
// nothing is read from it. The records themselves are compared as their
// entries are written.
Failure OpenLoaded(const Directory& dir, io::Fd& fd, long long* archiveSize) {
    const qint64 count = dir.Count();
    io::Fd archive;
    if (Failure f = OpenForReading(dir.ArchivePath, archive, archiveSize); f.reason != Reason::None)
        return f;
    int err = 0;
    char header[kHeaderSize];
    const bool same = io::IdentityOf(archive.get()) == dir.Identity;
    const long long got = same ? io::ReadAt(archive.get(), header, kHeaderSize, 0, &err) : 0;
    if (got < 0)  // a failing disk, not a changed archive
        return Failure::Path(Reason::ReadFailed, err, dir.ArchivePath);
    if (!same || got != kHeaderSize || !HasSignature(QByteArrayView(header, kHeaderSize)) ||
        ReadLE32(header + kCountOffset) != count ||
        ReadLE32(header + kDirectoryEndOffset) != DirectoryEnd(count) ||
        DirectoryEnd(count) > *archiveSize)
        return Failure::Path(Reason::ArchiveChanged, 0, dir.ArchivePath);
    fd = std::move(archive);
    return {};
}

Failure ReadReserved(int fd, const QString& path, qint32& reserved) {
    int err = 0;
    char field[kFieldSize];
    if (io::ReadAt(fd, field, kFieldSize, kReservedOffset, &err) != kFieldSize)
        return Failure::Path(Reason::ReadFailed, err, path);
    reserved = ReadLE32(field);
    return {};
}

}  // namespace kbx
