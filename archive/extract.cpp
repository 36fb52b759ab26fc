#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "archive/archive.h"
#include "archive/archive_file.h"
#include "archive/file_io.h"
#include "archive/records.h"

namespace kbx {

namespace {

QString NativeFolder(const QString& folder) {
    return folder.isEmpty() ? QStringLiteral(".") : folder;
}

// True when a file of our own can be created and removed in `dirfd`.
bool ProbeAt(int dirfd) {
    io::AtomicFile probe;
    int err = 0;
    if (!probe.Create(dirfd, QByteArray(), &err)) return false;
    probe.Discard();
    return true;
}

// The Version and Version/Data folders; a Version folder that already
// accepts files is left as it is. Links are never followed. Returns why they
// could not be made (a plain file named Version, say), or Reason::None.
Failure PrepareAt(int root, const QString& folder) {
    int err = 0;
    const QString version = QStringLiteral("Version");
    if (io::Fd v = io::OpenDirBeneath(root, {version}, false, &err); v && ProbeAt(v.get()))
        return {};
    if (io::OpenDirBeneath(root, {version, QStringLiteral("Data")}, true, &err)) return {};
    return Failure::Path(Reason::CannotPrepareFolder, err,
                         folder + QStringLiteral("/Version/Data"));
}

// Writes entries beneath one target folder, keeping the archive open, and
// the few parent folders of a run (Version and Version/Data, say) open
// between entries.
class Extractor {
  public:
    Extractor(const Directory& dir, int archive, long long archiveSize, int root,
              Overwrite overwrite, std::vector<Failure>& warnings)
        : dir_(dir),
          archive_(archive),
          archiveSize_(archiveSize),
          root_(root),
          overwrite_(overwrite),
          warnings_(warnings),
          records_(archive, dir.Count()) {}

    // Returns Reason::None on success, else why the entry failed.
    Failure Write(qint64 index) {
        Failure f = WriteEntry(index);
        if (f.reason != Reason::None) {
            f.index = index;
            f.subject = dir_.Name(index);
        }
        return f;
    }

  private:
    static constexpr qint64 kSmallEntry = 64 << 10;
    static constexpr qint64 kWindow = 1 << 20;
    static constexpr qint64 kRecordBlock = 1024;
    static constexpr size_t kParents = 8;

    Failure WriteEntry(qint64 index) {
        const qint64 offset = dir_.EntryOffset[size_t(index)];
        const qint64 size = dir_.EntrySize[size_t(index)];
        const bool small = size <= kSmallEntry;
        int err = 0;
        // A small entry's bytes are read (with those of the entries after it)
        // before its record is compared, so that the record on disk is never
        // older than the bytes written under its name.
        if (small && offset >= 0 && size >= 0 && offset + size <= archiveSize_ &&
            !Window(offset, size, &err) && err != 0)
            return {Reason::ReadFailed, err};
        // The record on disk must still be the one loaded; otherwise the
        // archive was rewritten since, and its bytes are not this entry's.
        const char* record = Record(index, !small);
        if (!record && records_.error() != 0) return {Reason::ReadFailed, records_.error()};
        if (!record || !SameRecord(record, dir_, index)) return {Reason::ArchiveChanged};
        const QString name = dir_.Name(index);
        Failure unsafe{Reason::UnsafeName};
        if ((unsafe.rule = NameProblem(name, &unsafe.detail)) != NameRule::None) return unsafe;
        if (offset < 0 || size < 0 || offset + size > archiveSize_) return {Reason::OutOfBounds};

        QStringList parts = NameComponents(name);
        const QByteArray file = io::NativePath(parts.takeLast());
        const int parent = Parent(parts, &err);
        if (parent < 0) return {Reason::CannotCreateFolder, err};
        io::AtomicFile out;
        if (!out.Create(parent, file, &err)) return {Reason::CannotCreateFile, err};
        if (replacing_) out.ExpectTaken();
        if (small) {
            // Small entries come from a window of the archive read in large
            // blocks: one read for many entries instead of one each.
            const char* bytes = Window(offset, size, &err);
            if (!bytes && err != 0) return {Reason::ReadFailed, err};
            if (!bytes) return {Reason::Truncated};
            if (!out.Write(bytes, size, 0)) return {Reason::WriteFailed, out.error()};
        } else {
            const long long copied = out.CopyFrom(archive_, offset, 0, size, false);
            if (copied < 0) return {Reason::WriteFailed, out.error()};
            if (copied != size) return {Reason::Truncated};
        }
        const bool committed = out.Commit(false, &err, overwrite_ == Overwrite::Replace);
        // A run that finds one of its files already there is most likely
        // unpacking again over an earlier run: the rest go straight to a
        // temporary name and a rename.
        replacing_ = replacing_ || out.foundTaken();
        if (!committed) {
            if (err == EEXIST && overwrite_ == Overwrite::Skip) return {};
            return {err == EEXIST ? Reason::CannotCreateFile : Reason::WriteFailed, err};
        }
        if (out.leftError() != 0)
            warnings_.push_back({Reason::TemporaryLeft, out.leftError(), NameRule::None, index,
                                 name, QFile::decodeName(out.leftName())});
        return {};
    }

    // Record `index` as it is on disk now, read with those after it whose
    // bytes the window holds; re-read when `fresh`, or when the window has
    // moved since. Null when the archive no longer holds it (records_.error()
    // tells a failed read).
    const char* Record(qint64 index, bool fresh) {
        if (fresh || recordsWindow_ != windowReads_ || !records_.Held(index)) {
            const qint64 last = std::min(index + kRecordBlock, dir_.Count());
            qint64 n = 1;
            while (!fresh && index + n < last && InWindow(index + n)) ++n;
            records_.Read(index, n);
            recordsWindow_ = fresh ? -1 : windowReads_;
        }
        return records_.Held(index);
    }

    bool InWindow(qint64 index) const {
        const qint64 offset = dir_.EntryOffset[size_t(index)];
        const qint64 size = dir_.EntrySize[size_t(index)];
        return size >= 0 && size <= kSmallEntry && offset >= windowStart_ &&
               offset + size <= windowStart_ + windowLength_;
    }

    // The folder `parts` beneath the root, created when missing; kept open
    // with the last few used.
    int Parent(const QStringList& parts, int* err) {
        ++uses_;
        for (ParentFolder& p : parents_) {
            if (p.fd && p.parts == parts) {
                p.used = uses_;
                return p.fd.get();
            }
        }
        io::Fd fd = io::OpenDirBeneath(root_, parts, true, err);
        if (!fd) return -1;
        ParentFolder* slot = nullptr;
        if (parents_.size() < kParents) {
            slot = &parents_.emplace_back();
        } else {
            slot = &*std::min_element(
                parents_.begin(), parents_.end(),
                [](const ParentFolder& a, const ParentFolder& b) { return a.used < b.used; });
        }
        *slot = {parts, std::move(fd), uses_};
        return slot->fd.get();
    }

    // The archive's bytes [offset, offset + size), read through the window;
    // null with `err` set on a read error, null alone when the archive ends
    // first.
    const char* Window(qint64 offset, qint64 size, int* err) {
        *err = 0;
        if (offset < windowStart_ || offset + size > windowStart_ + windowLength_) {
            if (window_.isEmpty()) window_.resize(kWindow);
            const long long got = io::ReadAt(archive_, window_.data(),
                                             std::min(kWindow, archiveSize_ - offset), offset, err);
            ++windowReads_;
            windowStart_ = offset;
            windowLength_ = std::max(got, 0LL);
            if (got < size) return nullptr;
        }
        return window_.constData() + (offset - windowStart_);
    }

    struct ParentFolder {
        QStringList parts;
        io::Fd fd;
        qint64 used = 0;
    };

    const Directory& dir_;
    int archive_;
    long long archiveSize_;
    int root_;
    Overwrite overwrite_;
    std::vector<Failure>& warnings_;  // steps that failed in entries written whole
    std::vector<ParentFolder> parents_;
    qint64 uses_ = 0;
    bool replacing_ = false;
    QByteArray window_;
    qint64 windowStart_ = 0;
    qint64 windowLength_ = 0;
    qint64 windowReads_ = 0;
    DirectoryReader records_;
    qint64 recordsWindow_ = -1;  // the window read the records_ held belong to
};

template <typename IndexAt>
Result ExtractSome(const Directory& dir, qint64 n, IndexAt indexAt, const QString& folder,
                   const Progress& progress, const StopFlag* stop,
                   Overwrite overwrite = Overwrite::Replace) {
    const qint64 count = dir.Count();
    long long archiveSize = 0;
    io::Fd archive;
    if (Failure f = OpenLoaded(dir, archive, &archiveSize); f.reason != Reason::None)
        return Result::Unusable(std::move(f));

    const QByteArray rootPath = io::NativePath(NativeFolder(folder));
    io::Fd root(::open(rootPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) return Result::Unusable(Failure::Path(Reason::CannotOpenFolder, errno, folder));
    if (Failure f = PrepareAt(root.get(), folder); f.reason != Reason::None)
        return Result::Unusable(std::move(f));

    Result result;
    Extractor extractor(dir, archive.get(), archiveSize, root.get(), overwrite, result.warnings);
    for (qint64 i = 0; i < n; ++i) {
        const qint64 index = indexAt(i);
        if (progress) progress(index);
        if (stop && stop->requested) {
            result.outcome = Outcome::Stopped;
            return result;
        }
        if (index < 0 || index >= count) continue;
        if (Failure f = extractor.Write(index); f.reason != Reason::None)
            result.failures.push_back(std::move(f));
        else
            ++result.done;
    }
    if (!result.failures.empty()) result.outcome = Outcome::EntriesFailed;
    return result;
}

}  // namespace

bool TestFolder(const QString& folder) {
    const QByteArray path = io::NativePath(NativeFolder(folder));
    io::Fd dir(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir && ProbeAt(dir.get());
}

Failure PrepareOutputFolders(const QString& folder) {
    const QByteArray path = io::NativePath(NativeFolder(folder));
    io::Fd root(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) return Failure::Path(Reason::CannotOpenFolder, errno, folder);
    return PrepareAt(root.get(), folder);
}

Result ExtractEntry(const Directory& dir, qint64 index, const QString& folder) {
    if (index < 0 || index >= dir.Count()) return Result::NothingDone();
    return ExtractSome(
        dir, 1, [index](qint64) { return index; }, folder, {}, nullptr);
}

Result ExtractEntries(const Directory& dir, const std::vector<qint64>& indexes,
                      const QString& folder, const Progress& progress, const StopFlag* stop,
                      Overwrite overwrite) {
    return ExtractSome(
        dir, qint64(indexes.size()), [&](qint64 i) { return indexes[size_t(i)]; }, folder, progress,
        stop, overwrite);
}

Result UnpackAll(const Directory& dir, const QString& folder, const Progress& progress,
                 const StopFlag* stop, Overwrite overwrite) {
    return ExtractSome(
        dir, dir.Count(), [](qint64 i) { return i; }, folder, progress, stop, overwrite);
}

Result WriteEntries(const Directory& dir, const std::vector<qint64>& indexes, int fd,
                    const Progress& progress, const StopFlag* stop) {
    long long archiveSize = 0;
    io::Fd archive;
    if (Failure f = OpenLoaded(dir, archive, &archiveSize); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    Result result;
    constexpr long long kBuffer = 1 << 20;
    std::unique_ptr<char[]> buf(new char[size_t(kBuffer)]);
    for (qint64 index : indexes) {
        if (progress) progress(index);
        if (stop && stop->requested) {
            result.outcome = Outcome::Stopped;
            return result;
        }
        if (index < 0 || index >= dir.Count()) continue;
        const qint64 offset = dir.EntryOffset[size_t(index)];
        const qint64 size = dir.EntrySize[size_t(index)];
        Failure f;
        if (offset < 0 || size < 0 || offset + size > archiveSize) f.reason = Reason::OutOfBounds;
        for (long long done = 0; f.reason == Reason::None && done < size;) {
            const long long got = io::ReadAt(
                archive.get(), buf.get(), std::min(kBuffer, size - done), offset + done, &f.error);
            if (got <= 0) {
                f.reason = got < 0 ? Reason::ReadFailed : Reason::Truncated;
                break;
            }
            // The output is the caller's, not a file of ours: a failed write
            // ends the run.
            int err = 0;
            if (!io::WriteAll(fd, buf.get(), got, -1, &err))
                return Result::Unusable({Reason::WriteFailed, err});
            done += got;
        }
        if (f.reason == Reason::None) {
            ++result.done;
            continue;
        }
        f.index = index;
        f.subject = dir.Name(index);
        result.failures.push_back(std::move(f));
    }
    if (!result.failures.empty()) result.outcome = Outcome::EntriesFailed;
    return result;
}

}  // namespace kbx
