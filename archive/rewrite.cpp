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

// The directory is written in blocks of whole records.
constexpr qint64 kRecordsPerBlock = (1 << 20) / kRecordSize;

// Writes the new archive's data back to back from the end of its directory.
// Untouched entries that lie back to back in the old archive are copied as
// one range. Copies go in pieces of at most io::kCopyPiece bytes, with the
// stop flag looked at before each: a stop is honoured within a few
// megabytes, whatever the size of the entries.
class DataCopier {
  public:
    DataCopier(OutputArchive& out, int archive, const QString& archivePath, qint64 start,
               const StopFlag* stop)
        : out_(out), archive_(archive), archivePath_(archivePath), next_(start), stop_(stop) {}

    // Queues the old archive's bytes [offset, offset + size).
    bool Keep(qint64 offset, qint64 size, Failure* why) {
        if (size == 0) return true;  // wherever it points, it breaks no run
        if (next_ + pending_ + size > kMaxArchiveBytes) return *why = {Reason::TooLarge}, false;
        if (pending_ > 0 && offset != from_ + pending_ && !FlushRun(why)) return false;
        if (pending_ == 0) from_ = offset;
        pending_ += size;
        return true;
    }

    // Copies the whole of the file at `path`; its size is learned here.
    bool Take(const QString& path, qint32* size, Failure* why) {
        if (!FlushRun(why)) return false;
        io::Fd in;
        struct stat before {};
        if (*why = OpenSource(path, &in, &before); why->reason != Reason::None) return false;
        if (next_ + before.st_size > kMaxArchiveBytes) return *why = {Reason::TooLarge}, false;
        const long long copied = Copy(in.get(), 0, before.st_size, why);
        if (copied < 0) return false;
        if (*why = SourceUnchanged(in.get(), before, copied); why->reason != Reason::None)
            return false;
        next_ += copied;
        *size = qint32(copied);
        return true;
    }

    // A failure here is the archives', whichever edit's file comes next: it
    // names the archive, not that file.
    bool FlushRun(Failure* why) {
        if (pending_ == 0) return true;
        const long long copied = Copy(archive_, from_, pending_, why);
        if (copied < 0) {
            if (why->reason != Reason::None) why->subject = archivePath_;
            return false;
        }
        if (copied != pending_) return *why = {Reason::Truncated, 0, {}, -1, archivePath_}, false;
        next_ += pending_;
        pending_ = 0;
        return true;
    }

    // True when the copy ended because a stop was asked for.
    bool stopped() const { return stopped_; }

  private:
    // Copies `len` bytes of `in` from `offset` to the end of the new data;
    // returns the bytes copied (fewer when `in` ended early), or -1 with
    // `why` set (or left empty when stopped).
    long long Copy(int in, qint64 offset, qint64 len, Failure* why) {
        const long long n =
            out_.CopyFrom(in, offset, next_, len, true, stop_ ? &stop_->requested : nullptr);
        if (n >= 0) return n;
        const int err = out_.error();
        if (err == ECANCELED) return stopped_ = true, -1;
        *why = OutputError(err) ? Failure{Reason::WriteFailed, err, {}, -1, archivePath_}
                                : Failure{Reason::WriteFailed, err};
        return -1;
    }

    OutputArchive& out_;
    int archive_;
    const QString& archivePath_;
    qint64 next_;         // where the next bytes go in the new archive
    qint64 from_ = 0;     // where the queued run starts in the old one
    qint64 pending_ = 0;  // its length
    const StopFlag* stop_;
    bool stopped_ = false;
};

Result RewriteWhole(const Directory& dir, const std::vector<Edit>& edits, const Progress& progress,
                    const StopFlag* stop) {
    const QString& path = dir.ArchivePath;
    const qint64 count = dir.Count();
    CheckedEdits checked;
    if (Result refused; !CheckAll(dir, edits, &checked, &refused)) return refused;
    const auto& [action, added, newCount] = checked;

    // The old archive, as loaded: the same file in the same state, holding
    // the same directory, from now to the end of the copy.
    const auto changed = [&] {
        return Result::Unusable({Reason::ArchiveChanged, 0, {}, -1, path});
    };
    int err = 0;
    long long fileSize = 0;
    Result opened;
    io::Fd archive = OpenLoaded(dir, &fileSize, &opened);
    if (!archive) return opened;
    if (Failure f = RecordsUnchanged(archive.get(), dir); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    // The new archive's size, known before anything is copied: the kept
    // entries' and the files' sizes (a file that grows later fails as
    // changed, or as too large, during the copy).
    qint64 newSize = DirectoryEnd(newCount);
    for (qint64 i = 0; i < count; ++i) {
        if (action.count(i)) continue;
        const qint64 offset = dir.EntryOffset[size_t(i)], size = dir.EntrySize[size_t(i)];
        if (offset < 0 || size < 0 || offset + size > fileSize)
            return Result::Unusable({Reason::OutOfBounds, 0, {}, i, dir.Name(i)});
        newSize += size;
    }
    for (const Edit& edit : edits) {
        struct stat st {};
        if (edit.kind != Edit::Kind::Remove &&
            ::stat(io::NativePath(edit.file).constData(), &st) == 0 && S_ISREG(st.st_mode))
            newSize += st.st_size;
    }
    if (newSize > kMaxArchiveBytes) return Result::Unusable({Reason::TooLarge, 0, {}, -1, path});
    // The header's reserved field is the archive's own: kept as it is.
    char reserved[kFieldSize];
    if (io::ReadAt(archive.get(), reserved, kFieldSize, kReservedOffset, &err) != kFieldSize)
        return Result::Unusable({Reason::ReadFailed, err, {}, -1, path});

    OutputArchive out;
    if (Failure f = out.Create(path, &dir.Identity); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    // Sizes of the entries whose bytes come from files, by edit position.
    std::map<size_t, qint32> taken;
    DataCopier copier(out, archive.get(), path, DirectoryEnd(newCount), stop);
    qint64 at = 0;  // the new entry's index
    Failure why;
    const auto fileFailed = [&](qint64 index, const QString& file) {
        if (copier.stopped()) return StoppedResult();
        if (why.subject.isEmpty()) {
            why.index = index;
            why.subject = file;
        }
        return Result::Unusable(std::move(why));
    };
    for (qint64 i = 0; i < count; ++i) {
        const auto it = action.find(i);
        if (it != action.end() && edits[it->second].kind == Edit::Kind::Remove) continue;
        if (progress) progress(at);
        if (stop && stop->requested) return StoppedResult();
        ++at;
        if (it == action.end()) {
            if (!copier.Keep(dir.EntryOffset[size_t(i)], dir.EntrySize[size_t(i)], &why))
                return fileFailed(-1, path);
        } else if (!copier.Take(edits[it->second].file, &taken[it->second], &why)) {
            return fileFailed(i, edits[it->second].file);
        }
    }
    for (const Added& a : added) {
        if (progress) progress(at);
        if (stop && stop->requested) return StoppedResult();
        if (!copier.Take(edits[a.edit].file, &taken[a.edit], &why))
            return fileFailed(at, edits[a.edit].file);
        ++at;
    }
    if (!copier.FlushRun(&why)) return fileFailed(-1, path);
    // Read to the end without a change: the bytes copied are the loaded
    // archive's.
    if (io::IdentityOf(archive.get()) != dir.Identity) return changed();

    QByteArray block = HeaderBytes(qint32(newCount));
    std::copy_n(reserved, kFieldSize, block.data() + kReservedOffset);
    qint64 written = 0;
    qint64 offset = DirectoryEnd(newCount);
    const auto record = [&](qint32 size, QByteArrayView name) {
        AppendRecord(block, qint32(offset), size, name);
        offset += size;
        if (block.size() < kRecordsPerBlock * kRecordSize) return true;
        const bool ok = out.Write(block.constData(), block.size(), written);
        written += block.size();
        block.clear();
        return ok;
    };
    bool ok = true;
    for (qint64 i = 0; i < count && ok; ++i) {
        const auto it = action.find(i);
        if (it == action.end())
            ok = record(dir.EntrySize[size_t(i)], dir.EntryName[i]);
        else if (edits[it->second].kind == Edit::Kind::Replace)
            ok = record(taken[it->second], dir.EntryName[i]);
    }
    for (const Added& a : added) ok = ok && record(taken[a.edit], a.encoded);
    if (!ok || !out.Write(block.constData(), block.size(), written))
        return Result::Unusable({Reason::WriteFailed, out.error(), {}, -1, path});
    // The last moment a stop cancels the edit: past it, the new archive is
    // published and the edit is done.
    if (stop && stop->requested) return StoppedResult();
    Result r;
    if (Failure f = out.Publish(r.warnings); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    r.done = newCount;
    return r;
}

}  // namespace

Result Rewrite(const Directory& dir, const std::vector<Edit>& edits, const Progress& progress,
               const StopFlag* stop) {
    if (edits.empty()) {
        Result r;
        r.outcome = Outcome::NothingDone;
        return r;
    }
    return RewriteWhole(dir, edits, progress, stop);
}

Result Compact(const Directory& dir, const Progress& progress, const StopFlag* stop) {
    return RewriteWhole(dir, {}, progress, stop);
}

}  // namespace kbx
