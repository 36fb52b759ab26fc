#include "archive/rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>

#include "archive/archive_file.h"
#include "archive/edit_check.h"
#include "archive/file_io.h"
#include "archive/output.h"
#include "archive/records.h"

namespace kbx {

namespace {

// Writes the new archive's data back to back from the end of its directory.
// Untouched entries that lie back to back in the old archive are copied as
// one range. Copies go in pieces of at most io::kCopyPiece bytes, with the
// stop flag looked at and the progress reported before each: a stop is
// honoured within a few megabytes, whatever the size of the entries. A stop
// fails the copy with ECANCELED, and stopped() tells it from a failure.
class DataCopier {
  public:
    DataCopier(OutputArchive& out, int archive, const QString& archivePath, qint64 start,
               qint64 total, const CopyProgress& progress, const StopFlag* stop)
        : out_(out),
          archive_(archive),
          archivePath_(archivePath),
          start_(start),
          next_(start),
          total_(total),
          stop_(stop) {
        if (progress)
            piece_ = [this, &progress](long long done) { progress(next_ - start_ + done, total_); };
    }
    DataCopier(const DataCopier&) = delete;  // its writeback pacer points back at it

    // The bytes to copy in all changed by `bytes`: an entry turned out to be
    // replaced by a file of another size.
    void Grow(qint64 bytes) { total_ += bytes; }

    // Queues the old archive's bytes [offset, offset + size).
    [[nodiscard]] Failure Keep(qint64 offset, qint64 size) {
        if (size == 0) return {};  // wherever it points, it breaks no run
        if (next_ + pending_ + size > kMaxArchiveBytes) return {Reason::TooLarge};
        if (pending_ > 0 && offset != from_ + pending_) {
            if (Failure f = FlushRun(); f.reason != Reason::None) return f;
        }
        if (pending_ == 0) from_ = offset;
        pending_ += size;
        return {};
    }

    // Copies the whole of the file at `path`; `size` learns its size.
    [[nodiscard]] Failure Take(const QString& path, qint32& size) {
        if (Failure f = FlushRun(); f.reason != Reason::None) return f;
        io::Fd in;
        struct stat before {};
        if (Failure f = OpenSource(path, &in, &before); f.reason != Reason::None) return f;
        if (next_ + before.st_size > kMaxArchiveBytes) return {Reason::TooLarge};
        long long copied = 0;
        if (Failure f = Copy(in.get(), 0, before.st_size, copied); f.reason != Reason::None)
            return f;
        if (Failure f = SourceUnchanged(in.get(), before, copied); f.reason != Reason::None)
            return f;
        next_ += copied;
        size = qint32(copied);
        return {};
    }

    // A failure here is the archives', whichever edit's file comes next: it
    // names the archive, not that file.
    [[nodiscard]] Failure FlushRun() {
        if (pending_ == 0) return {};
        long long copied = 0;
        if (Failure f = Copy(archive_, from_, pending_, copied); f.reason != Reason::None) {
            f.subject = archivePath_;
            return f;
        }
        if (copied != pending_) return Failure::Path(Reason::Truncated, 0, archivePath_);
        next_ += pending_;
        pending_ = 0;
        return {};
    }

    // True when the copy ended because a stop was asked for.
    bool stopped() const { return stopped_; }
    // Where the data copied so far end.
    qint64 end() const { return next_; }

  private:
    // Copies `len` bytes of `in` from `offset` to the end of the new data;
    // `copied` learns the bytes copied (fewer when `in` ended early).
    Failure Copy(int in, qint64 offset, qint64 len, long long& copied) {
        copied = out_.CopyFrom(in, offset, next_, len, io::WritebackPacer::Long(len),
                               stop_ ? &stop_->requested : nullptr, &piece_);
        if (copied >= 0) {
            writeback_.Copied(len, next_ + copied);
            return {};
        }
        const int err = out_.error();
        stopped_ = err == ECANCELED;
        if (OutputError(err)) return Failure::Path(Reason::WriteFailed, err, archivePath_);
        return {Reason::WriteFailed, err};
    }

    OutputArchive& out_;
    int archive_;
    const QString& archivePath_;
    qint64 start_;        // where the data begin in the new archive
    qint64 next_;         // where the next bytes go
    qint64 from_ = 0;     // where the queued run starts in the old one
    qint64 pending_ = 0;  // its length
    qint64 total_;        // the data bytes to copy, for progress
    io::WritebackPacer writeback_{
        start_, [this](long long at, long long len) { out_.StartWriteback(at, len); }};
    const StopFlag* stop_;
    io::PieceHook piece_;
    bool stopped_ = false;
};

// The old archive as loaded, from the check to the end of the copy.
struct Source {
    io::Fd fd;
    long long size = 0;
    qint32 reserved = 0;  // the header's reserved field: the archive's own, kept
    qint64 dataSize = 0;  // the new archive's data bytes, as measured before the copy
};

// Opens the archive `dir` was loaded from as `source`: the same file in the
// same state, holding the same directory, its kept entries inside it. The
// new archive's size is known before anything is copied, from the kept
// entries' and the files' sizes (a file that grows later fails as changed,
// or as too large, during the copy).
Failure OpenUnchanged(const Directory& dir, const std::vector<Edit>& edits,
                      const CheckedEdits& checked, Source& source) {
    if (Failure f = OpenLoaded(dir, source.fd, &source.size); f.reason != Reason::None) return f;
    if (Failure f = RecordsUnchanged(source.fd.get(), dir); f.reason != Reason::None) return f;
    qint64 newSize = DirectoryEnd(checked.newCount);
    for (qint64 i = 0; i < dir.Count(); ++i) {
        if (checked.Edited(i, Edit::Kind::Remove, edits) ||
            checked.Edited(i, Edit::Kind::Replace, edits))
            continue;
        const qint64 offset = dir.EntryOffset[size_t(i)], size = dir.EntrySize[size_t(i)];
        if (offset < 0 || size < 0 || offset + size > source.size)
            return Failure::Entry(Reason::OutOfBounds, 0, i, dir.Name(i));
        newSize += size;
    }
    for (const Edit& edit : edits) newSize += SourceSize(edit.file, edit.size);
    if (newSize > kMaxArchiveBytes) return Failure::Path(Reason::TooLarge, 0, dir.ArchivePath);
    source.dataSize = newSize - DirectoryEnd(checked.newCount);
    return ReadReserved(source.fd.get(), dir.ArchivePath, source.reserved);
}

// Copies the new archive's data: the kept entries' bytes and the files of
// the replaced and added ones, in the new directory's order. `taken` learns
// the files' sizes by edit position. Untouched entries from `asked` on are
// put to `refresh`; the replacements it names join `edits` and `checked`.
Result CopyData(const Directory& dir, std::vector<Edit>& edits, CheckedEdits& checked,
                DataCopier& copier, std::map<size_t, qint32>& taken, const StopFlag* stop,
                const Refresh& refresh, qint64 asked) {
    const auto failed = [&](Failure why, qint64 index, const QString& file) {
        if (copier.stopped()) return Result::Stopped();
        if (why.subject.isEmpty()) {
            why.index = index;
            why.subject = file;
        }
        return Result::Unusable(std::move(why));
    };
    qint64 at = 0;  // the new entry's index
    for (qint64 i = 0; i < dir.Count(); ++i) {
        auto it = checked.action.find(i);
        if (it != checked.action.end() && edits[it->second].kind == Edit::Kind::Remove) continue;
        if (stop && stop->requested) return Result::Stopped();
        ++at;
        const bool ask = refresh && i >= asked && it == checked.action.end();
        QString file;
        if (ask) {
            if (Failure f = refresh(i, &file); f.reason != Reason::None)
                return Result::Unusable(std::move(f));
            if (!file.isEmpty()) {
                edits.push_back(Edit::Replace(i, std::move(file)));
                it = checked.action.emplace(i, edits.size() - 1).first;
            }
        }
        if (it == checked.action.end() || edits[it->second].kind == Edit::Kind::Rename) {
            if (Failure f = copier.Keep(dir.EntryOffset[size_t(i)], dir.EntrySize[size_t(i)]);
                f.reason != Reason::None)
                return failed(std::move(f), -1, dir.ArchivePath);
            continue;
        }
        if (Failure f = copier.Take(edits[it->second].file, taken[it->second]);
            f.reason != Reason::None)
            return failed(std::move(f), i, edits[it->second].file);
        // The total counted the entry's own size.
        if (ask) copier.Grow(taken[it->second] - dir.EntrySize[size_t(i)]);
    }
    for (const Added& a : checked.added) {
        if (stop && stop->requested) return Result::Stopped();
        if (Failure f = copier.Take(edits[a.edit].file, taken[a.edit]); f.reason != Reason::None)
            return failed(std::move(f), at, edits[a.edit].file);
        ++at;
    }
    if (Failure f = copier.FlushRun(); f.reason != Reason::None)
        return failed(std::move(f), -1, dir.ArchivePath);
    return {};
}

// Writes the new header and directory: the kept, replaced and renamed
// entries in their order, then the added ones, their data back to back after
// the directory.
bool WriteDirectory(OutputArchive& out, const Directory& dir, const std::vector<Edit>& edits,
                    const CheckedEdits& checked, const std::map<size_t, qint32>& taken,
                    qint32 reserved) {
    RecordWriter records(
        [&](const char* bytes, qint64 length, qint64 at) { return out.Write(bytes, length, at); },
        0, HeaderBytes(qint32(checked.newCount), reserved));
    qint64 offset = DirectoryEnd(checked.newCount);
    const auto add = [&](qint32 size, QByteArrayView name) {
        const bool ok = records.Add(qint32(offset), size, name);
        offset += size;
        return ok;
    };
    for (qint64 i = 0; i < dir.Count(); ++i) {
        const auto it = checked.action.find(i);
        bool ok = true;
        if (it == checked.action.end())
            ok = add(dir.EntrySize[size_t(i)], dir.EntryName[i]);
        else if (edits[it->second].kind == Edit::Kind::Replace)
            ok = add(taken.at(it->second), dir.EntryName[i]);
        else if (edits[it->second].kind == Edit::Kind::Rename)
            ok = add(dir.EntrySize[size_t(i)], checked.renamed.at(i));
        if (!ok) return false;
    }
    for (const Added& a : checked.added) {
        if (!add(taken.at(a.edit), a.encoded)) return false;
    }
    return records.Finish();
}

Result RewriteWhole(const Directory& dir, const std::vector<Edit>& given,
                    const CopyProgress& progress, const StopFlag* stop, const Refresh& refresh) {
    const QString& path = dir.ArchivePath;
    CheckedEdits checked;
    if (Failure f = CheckAll(dir, given, checked); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    std::vector<Edit> edits = given;
    // With nothing to do but what `refresh` finds, nothing is opened for
    // writing before it finds something: the entries before are kept.
    qint64 asked = 0;
    if (refresh && edits.empty()) {
        QString file;
        for (; file.isEmpty(); ++asked) {
            if (asked == dir.Count()) return Result::NothingDone();
            if (stop && stop->requested) return Result::Stopped();
            if (Failure f = refresh(asked, &file); f.reason != Reason::None)
                return Result::Unusable(std::move(f));
        }
        edits.push_back(Edit::Replace(asked - 1, std::move(file)));
        checked.action.emplace(asked - 1, 0);
    }
    Source source;
    if (Failure f = OpenUnchanged(dir, edits, checked, source); f.reason != Reason::None)
        return Result::Unusable(std::move(f));

    OutputArchive out;
    if (Failure f = out.Create(path, &dir.Identity); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    std::map<size_t, qint32> taken;
    DataCopier copier(out, source.fd.get(), path, DirectoryEnd(checked.newCount), source.dataSize,
                      progress, stop);
    if (Result copied = CopyData(dir, edits, checked, copier, taken, stop, refresh, asked);
        !copied.ok())
        return copied;
    // Read to the end without a change: the bytes copied are the loaded
    // archive's.
    if (io::IdentityOf(source.fd.get()) != dir.Identity)
        return Result::Unusable(Failure::Path(Reason::ArchiveChanged, 0, path));
    if (!WriteDirectory(out, dir, edits, checked, taken, source.reserved))
        return Result::Unusable(Failure::Path(Reason::WriteFailed, out.error(), path));
    // The last moment a stop cancels the edit: past it, the new archive is
    // published and the edit is done.
    if (stop && stop->requested) return Result::Stopped();
    Result r;
    if (Failure f = out.Publish(r.warnings); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    r.done = checked.newCount;
    r.bytes = copier.end();
    r.written = out.published();
    return r;
}

}  // namespace

Result Rewrite(const Directory& dir, const std::vector<Edit>& edits, const CopyProgress& progress,
               const StopFlag* stop, const Refresh& refresh) {
    if (edits.empty() && !refresh) return Result::NothingDone();
    return RewriteWhole(dir, edits, progress, stop, refresh);
}

Result Compact(const Directory& dir, const CopyProgress& progress, const StopFlag* stop) {
    return RewriteWhole(dir, {}, progress, stop, {});
}

}  // namespace kbx
