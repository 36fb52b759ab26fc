// Edits in place: new bytes appended, changed header and directory bytes
// overwritten, everything overwritten saved first in the journal (see
// journal.cpp for the order of writes and why each crash point is safe).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>

#include "archive/archive_file.h"
#include "archive/edit_check.h"
#include "archive/edit_lock.h"
#include "archive/journal.h"
#include "archive/records.h"
#include "archive/rewrite.h"

namespace kbx {

namespace {

// Where each entry of the edited directory comes from, and where its data
// are once the edit is done.
struct Plan {
    // By new index: the old index (>= 0), or -1 - k for the k-th added entry.
    std::vector<qint64> source;
    // New indexes whose data are appended (moved, replaced or added), in the
    // order they are appended, with the file they come from (empty: moved
    // from within the archive).
    struct Append {
        qint64 index;
        QString file;
        qint64 size = -1;  // the file's, where its caller measured it
    };
    std::vector<Append> appends;
    std::map<qint64, std::pair<qint32, qint32>> placed;  // new index -> offset, size
    qint64 count = 0;
    qint64 firstChanged = 0;  // the first record that changes, by new index
    qint64 lastChanged = -1;  // and the last
};

// Appends the bytes of `in` [offset, offset + len) at `at`, in pieces with
// the stop flag looked at and `piece` called before each, the disk's writes
// paced by `writeback`. Returns the bytes copied, -1 with *err, or -2 when
// stopped.
long long Append(int in, qint64 offset, int archive, qint64 at, qint64 len, const StopFlag* stop,
                 const io::PieceHook& piece, io::WritebackPacer& writeback, int* err) {
    const long long n =
        io::CopyInPieces(in, offset, archive, at, len, io::WritebackPacer::Long(len), err,
                         stop ? &stop->requested : nullptr, &piece);
    if (n >= 0) writeback.Copied(len, at + n);
    return n < 0 && *err == ECANCELED ? -2 : n;
}

// Plans the edited directory of `dir` (whose archive is `size` bytes long):
// each entry's source, the data appended (kept data the larger directory
// would cover, then the replaced entries' files and the added ones) and the
// range of records that change. `appendTotal` learns the bytes appended, as
// measured now.
Failure MakePlan(const Directory& dir, const std::vector<Edit>& edits, const CheckedEdits& checked,
                 qint64 size, Plan& plan, qint64* appendTotal) {
    const auto& [action, added, renamed, newCount] = checked;
    // The new directory: kept entries in their order, then the added ones.
    qint64 firstRemoved = -1;
    std::vector<qint64> replaced;  // new indexes
    std::vector<qint64> changed;   // new indexes of the records that change in place
    for (qint64 i = 0; i < dir.Count(); ++i) {
        const auto it = action.find(i);
        const Edit* edit = it == action.end() ? nullptr : &edits[it->second];
        if (edit && edit->kind == Edit::Kind::Remove) {
            if (firstRemoved < 0) firstRemoved = qint64(plan.source.size());
            continue;
        }
        if (edit && edit->kind == Edit::Kind::Replace)
            replaced.push_back(qint64(plan.source.size()));
        if (edit && edit->kind == Edit::Kind::Rename) changed.push_back(qint64(plan.source.size()));
        plan.source.push_back(i);
    }
    const qint64 kept = qint64(plan.source.size());
    for (size_t k = 0; k < added.size(); ++k) plan.source.push_back(-1 - qint64(k));
    plan.count = newCount;
    const qint64 newEnd = DirectoryEnd(plan.count);

    // Kept data the directory would cover move to the end, first; then the
    // replaced entries' files and the added ones.
    qint64 total = std::max<qint64>(size, newEnd);
    changed.insert(changed.end(), replaced.begin(), replaced.end());
    for (qint64 j = 0; j < kept; ++j) {
        const qint64 i = plan.source[size_t(j)];
        const qint64 offset = dir.EntryOffset[size_t(i)], length = dir.EntrySize[size_t(i)];
        if (checked.Edited(i, Edit::Kind::Replace, edits)) continue;
        if (offset < 0 || length < 0 || offset + length > size)
            return Failure::Entry(Reason::OutOfBounds, 0, i, dir.Name(i));
        if (length > 0 && offset < newEnd) {
            plan.appends.push_back({j, {}});
            changed.push_back(j);
            total += length;
        }
    }
    for (qint64 j : replaced) {
        const Edit& e = edits[action.at(plan.source[size_t(j)])];
        plan.appends.push_back({j, e.file, e.size});
    }
    for (size_t k = 0; k < added.size(); ++k) {
        const Edit& e = edits[added[k].edit];
        plan.appends.push_back({kept + qint64(k), e.file, e.size});
    }
    for (const auto& a : plan.appends) total += SourceSize(a.file, a.size);
    if (total > kMaxArchiveBytes) return Failure::Path(Reason::TooLarge, 0, dir.ArchivePath);
    // What the progress counts: the bytes appended, as measured now.
    *appendTotal = total - std::max<qint64>(size, newEnd);

    // The records that change: the moved and replaced ones, and from the
    // first removed one on (the rest move up) or the first added one.
    plan.firstChanged = plan.count;
    if (firstRemoved >= 0) plan.firstChanged = firstRemoved;
    if (!added.empty()) plan.firstChanged = std::min(plan.firstChanged, kept);
    if (firstRemoved >= 0 || !added.empty()) plan.lastChanged = plan.count - 1;
    for (qint64 j : changed) {
        plan.firstChanged = std::min(plan.firstChanged, j);
        plan.lastChanged = std::max(plan.lastChanged, j);
    }
    return {};
}

}  // namespace

Result EditInPlace(const Directory& dir, const std::vector<Edit>& edits,
                   const CopyProgress& progress, const StopFlag* stop) {
    if (edits.empty()) return Result::NothingDone();
    const QString& path = dir.ArchivePath;
    const qint64 count = dir.Count();
    CheckedEdits checked;
    if (Failure f = CheckAll(dir, edits, checked); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    auto& [action, added, renamed, newCount] = checked;
    const auto failed = [&](Reason reason, int err = 0) {
        return Result::Unusable(Failure::Path(reason, err, path));
    };

    // The archive as loaded, opened for writing through the folder that
    // holds its journal.
    long long size = 0;
    io::Fd reader;
    if (Failure f = OpenLoaded(dir, reader, &size); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    int err = 0;
    if (Failure f = RecordsUnchanged(reader.get(), dir); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    journal::Place place;
    if (!journal::Locate(path, &place, &err)) return failed(Reason::ArchiveChanged);
    struct stat st {};
    io::Fd archive;
    if (Failure f = journal::OpenForWriting(place, archive, &st); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    if (io::IdentityOf(st) != dir.Identity) return failed(Reason::ArchiveChanged);
    if (::faccessat(place.folder.get(), place.name.constData(), W_OK, AT_EACCESS) != 0)
        return failed(Reason::CannotOpenArchive, errno);

    Plan plan;
    qint64 appendTotal = 0;
    if (Failure f = MakePlan(dir, edits, checked, size, plan, &appendTotal);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    const qint64 newEnd = DirectoryEnd(plan.count);
    const bool headerChanges = plan.count != count;
    std::vector<journal::Range> saved;
    if (headerChanges) saved.push_back({0, kHeaderSize});
    const qint64 from = DirectoryEnd(plan.firstChanged);
    const qint64 to = std::min<qint64>(DirectoryEnd(plan.lastChanged + 1), size);
    if (from < to) saved.push_back({from, to - from});
    qint32 reserved = 0;
    if (Failure f = ReadReserved(archive.get(), path, reserved); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    if (stop && stop->requested) return Result::Stopped();

    journal::Writer journal;
    if (Failure f = journal.Write(place, archive.get(), size, saved); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    // From here on a failure rolls the archive back.
    const auto undo = [&](Result r) {
        if (journal::RollBack(place, archive.get()).reason != Reason::None) {
            // The journal stays live: the next Recover rolls back.
        }
        return r;
    };

    const qint64 appendStart = std::max<qint64>(size, newEnd);
    qint64 next = appendStart;
    io::PieceHook piece;
    io::WritebackPacer writeback(next, [fd = archive.get()](long long at, long long len) {
        io::StartWriteback(fd, at, len);
    });
    if (progress) piece = [&](long long done) { progress(next - appendStart + done, appendTotal); };
    for (const Plan::Append& a : plan.appends) {
        qint64 length = 0;
        if (a.file.isEmpty()) {
            const qint64 i = plan.source[size_t(a.index)];
            length = dir.EntrySize[size_t(i)];
            const long long n = Append(archive.get(), dir.EntryOffset[size_t(i)], archive.get(),
                                       next, length, stop, piece, writeback, &err);
            if (n == -2) return undo(Result::Stopped());
            if (n != length)
                return undo(failed(n < 0 ? Reason::WriteFailed : Reason::Truncated, err));
        } else {
            io::Fd in;
            struct stat before {};
            const auto fileFailed = [&](Failure f) {
                if (f.subject.isEmpty()) f.subject = a.file;
                if (f.index < 0) f.index = a.index;
                return undo(Result::Unusable(std::move(f)));
            };
            if (Failure f = OpenSource(a.file, &in, &before); f.reason != Reason::None)
                return fileFailed(std::move(f));
            if (next + before.st_size > kMaxArchiveBytes) return undo(failed(Reason::TooLarge));
            const long long n = Append(in.get(), 0, archive.get(), next, before.st_size, stop,
                                       piece, writeback, &err);
            if (n == -2) return undo(Result::Stopped());
            if (n < 0)
                return OutputError(err) ? undo(failed(Reason::WriteFailed, err))
                                        : fileFailed({Reason::WriteFailed, err});
            if (Failure f = SourceUnchanged(in.get(), before, n); f.reason != Reason::None)
                return fileFailed(std::move(f));
            length = n;
        }
        plan.placed[a.index] = {qint32(next), qint32(length)};
        next += length;
    }
    // No flush here: until the journal is retired, a crash rolls the
    // appended bytes back with the directory, whichever reached the disk.
    // The last moment a stop cancels the edit.
    if (stop && stop->requested) return undo(Result::Stopped());

    // The header and the changed records, over the bytes the journal saved,
    // while no reader reads them (this edit's own read lock is let go).
    reader = io::Fd();
    if (!LockForWriting(archive.get(), stop, &err))
        return undo(err == ECANCELED ? Result::Stopped() : failed(Reason::WriteFailed, err));
    Result r;
    r.bytes = next - appendStart;
    if (headerChanges) {
        r.bytes += kHeaderSize;
        const QByteArray header = HeaderBytes(qint32(plan.count), reserved);
        if (!io::WriteAll(archive.get(), header.constData(), kHeaderSize, 0, &err))
            return undo(failed(Reason::WriteFailed, err));
    }
    RecordWriter records(
        [&](const char* bytes, qint64 length, qint64 at) {
            return io::WriteAll(archive.get(), bytes, length, at, &err);
        },
        from);
    for (qint64 j = plan.firstChanged; j <= plan.lastChanged; ++j) {
        const qint64 src = plan.source[size_t(j)];
        qint32 offset = 0, length = 0;
        if (auto it = plan.placed.find(j); it != plan.placed.end()) {
            std::tie(offset, length) = it->second;
        } else {
            offset = dir.EntryOffset[size_t(src)];
            length = dir.EntrySize[size_t(src)];
        }
        QByteArrayView name;
        if (src < 0)
            name = added[size_t(-1 - src)].encoded;
        else if (auto it = renamed.find(src); it != renamed.end())
            name = it->second;
        else
            name = dir.EntryName[src];
        if (!records.Add(offset, length, name)) return undo(failed(Reason::WriteFailed, err));
        r.bytes += kRecordSize;
    }
    if (!records.Finish()) return undo(failed(Reason::WriteFailed, err));
    if (!io::Fsync(archive.get(), &err)) return undo(failed(Reason::WriteFailed, err));
    r.written = io::IdentityOf(archive.get());

    if (Failure f = journal.Retire(place, archive.get(), r.warnings); f.reason != Reason::None)
        return undo(Result::Unusable(std::move(f)));
    r.done = plan.count;
    return r;
}

}  // namespace kbx
