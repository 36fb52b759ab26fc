// The journal of an edit in place, and what makes every moment of the edit
// recoverable.
//
// An edit in place of ARCHIVE changes it in three ways only: bytes appended
// past its old length, header and directory bytes overwritten within it, and
// (undo, rollback) its length set back. Before the first of these, the edit
// writes ARCHIVE-journal beside the file the archive's path finally names:
//
//   offset  size  field (integers little-endian)
//   0       8     "KBXJOURN"
//   8       4     version, 1
//   12      4     n, the number of saved ranges (at most 16)
//   16      8     the archive's device   } which file the journal belongs to:
//   24      8     the archive's inode    } stable across the edit, while its
//   32      8     its birth time in ns   } size and times are not (0: unknown)
//   40      8     the archive's length before the edit
//   48      16n   n ranges: offset and length, each within that length
//   ...           the ranges' bytes as they were before the edit
//   ...     8     FNV-1a 64 checksum of every byte before it (the seal)
// and, once the edit is complete (the journal is then retired):
//   ...     8     the archive's length after the edit
//   ...     8     its modification time after the edit, in ns
//   ...     8     FNV-1a 64 checksum of every byte before it
//
// Appended bytes are never saved: setting the length back removes them.
//
// The order of an edit, and why a crash at each point is safe (a crash
// keeps what was flushed; "recovered" means after Recover ran):
//  1. The journal is created, written and sealed, then flushed, and its
//     folder flushed. A crash before the folder flush leaves no journal, or
//     one whose seal does not match (torn): the archive was not touched, and
//     Recover removes such a journal.
//  2. New data are appended past the old length. A crash leaves bytes past
//     the old length, which the live journal rolls back by setting the
//     length.
//  3. The header and directory bytes that change are overwritten (all of
//     them saved in step 1); then the archive is flushed, once for steps 2
//     and 3: until step 4 the journal rolls both back, whichever of their
//     writes reached the disk. A crash leaves some of them changed; the
//     rollback writes every saved range back and sets the length: the
//     archive as before.
//  4. The journal is retired: the state after the edit is appended, the
//     journal renamed to ARCHIVE-undo (replacing the previous undo record)
//     and the folder flushed. Until the rename is on disk the journal is
//     live and a crash rolls the whole edit back; after it the archive is
//     the edited one (and an undo record whose state after the edit was
//     lost is one that undo refuses).
// A rollback writes every saved range, sets the length, flushes the
// archive, removes the journal and flushes the folder. Each of these may be
// done again from the start, so a crash during a rollback only means it runs
// again. A failed edit rolls back at once; a rollback that fails leaves the
// journal for the next Recover.
//
// Undo takes the undo record back only when the archive is the file it
// belongs to, with the length and modification time recorded in step 4
// (the file has not changed since). It renames ARCHIVE-undo to
// ARCHIVE-journal and flushes the folder: from then on the record is a live
// journal, whose rollback is the undo, and a crash leaves it to Recover,
// which finishes the undo. Before the rename the archive is untouched.
//
// A journal belongs to the archive when the device, inode and birth time
// match and the archive is at least as long as before the edit (neither an
// edit nor a rollback ever makes it shorter). A journal that does not belong
// (the archive was replaced by another file since) is left alone and
// reported, never applied. Recover works under the archive's editor lock: a
// live edit holds it, so its journal is never taken for an interrupted one.

#include "archive/journal.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/edit_lock.h"

namespace kbx {

namespace journal {

namespace {

constexpr char kMagic[8] = {'K', 'B', 'X', 'J', 'O', 'U', 'R', 'N'};
constexpr quint32 kVersion = 1;
constexpr qint64 kHeaderBytes = 48;
constexpr qint64 kRangeBytes = 16;
constexpr qint64 kSumBytes = 8;
constexpr qint64 kTrailerBytes = 24;
constexpr quint32 kMaxRanges = 16;
// Bytes read or written at a time, through one buffer: a fresh page costs
// more than a read.
constexpr qint64 kBlock = 128 << 10;

void Put64(char* p, quint64 v) {
    for (int i = 0; i < 8; ++i) p[i] = char((v >> (8 * i)) & 0xFF);
}
quint64 Get64(const char* p) {
    quint64 v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | quint64(static_cast<unsigned char>(p[i]));
    return v;
}

// The file a journal belongs to, as it stays through an edit.
struct Owner {
    quint64 device = 0, inode = 0;
    qint64 birthNs = 0;  // 0 where the file system does not keep it
};

Owner OwnerOf(const struct stat& st, int fd) {
    Owner o{quint64(st.st_dev), quint64(st.st_ino), 0};
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        o.birthNs = io::Nanoseconds(sx.stx_btime);
    return o;
}

qint64 ModifiedNs(const struct stat& st) {
    return io::Nanoseconds(st.st_mtim);
}

// What a journal holds.
struct Contents {
    Owner owner;
    qint64 length = 0;  // the archive's length before the edit
    std::vector<Range> ranges;
    qint64 saved = 0;  // where the saved bytes begin
    bool retired = false;
    qint64 sizeAfter = -1, modifiedAfterNs = 0;
};

enum class State {
    Torn,        // not sealed: never complete, never acted on
    Whole,       // sealed
    Damaged,     // sealed, but not a journal this program can apply
    Unreadable,  // a read failed (errno in *err)
};

// Reads and checks the journal behind `fd`, in blocks. What is not a
// regular file (a folder or a FIFO under the journal's name) is no journal
// of ours: Damaged, never read.
State Examine(int fd, Contents* c, int* err) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return *err = errno, State::Unreadable;
    if (!S_ISREG(st.st_mode)) return State::Damaged;
    const qint64 size = st.st_size;
    char head[kHeaderBytes];
    long long got = io::ReadAt(fd, head, kHeaderBytes, 0, err);
    if (got < 0) return State::Unreadable;
    if (got < kHeaderBytes || std::memcmp(head, kMagic, sizeof kMagic) != 0) return State::Torn;
    const quint32 n = quint32(Get64(head + 8) >> 32);
    if (n > kMaxRanges) return State::Torn;
    c->owner = {Get64(head + 16), Get64(head + 24), qint64(Get64(head + 32))};
    c->length = qint64(Get64(head + 40));
    char table[kMaxRanges * kRangeBytes];
    got = io::ReadAt(fd, table, n * kRangeBytes, kHeaderBytes, err);
    if (got < 0) return State::Unreadable;
    if (got < qint64(n) * kRangeBytes) return State::Torn;
    qint64 bodyEnd = kHeaderBytes + n * kRangeBytes;
    c->saved = bodyEnd;
    c->ranges.clear();
    bool sane = quint32(Get64(head + 8)) == kVersion && c->length >= 0;
    for (quint32 i = 0; i < n; ++i) {
        const Range r{qint64(Get64(table + i * kRangeBytes)),
                      qint64(Get64(table + i * kRangeBytes + 8))};
        if (r.length < 0 || r.length > size) return State::Torn;
        sane = sane && r.offset >= 0 && r.offset <= c->length - r.length;
        c->ranges.push_back(r);
        bodyEnd += r.length;
    }
    if (bodyEnd + kSumBytes > size) return State::Torn;
    quint64 sum = io::Fnv1a(io::kFnvStart, head, kHeaderBytes);
    sum = io::Fnv1a(sum, table, n * kRangeBytes);
    QByteArray block(qsizetype(std::min(kBlock, bodyEnd)), Qt::Uninitialized);
    for (qint64 at = c->saved; at < bodyEnd;) {
        const qint64 want = std::min<qint64>(block.size(), bodyEnd - at);
        got = io::ReadAt(fd, block.data(), want, at, err);
        if (got < 0) return State::Unreadable;
        if (got < want) return State::Torn;
        sum = io::Fnv1a(sum, block.constData(), want);
        at += want;
    }
    char tail[kSumBytes + kTrailerBytes];
    const qint64 tailBytes = size >= bodyEnd + kSumBytes + kTrailerBytes ? sizeof tail : kSumBytes;
    got = io::ReadAt(fd, tail, tailBytes, bodyEnd, err);
    if (got < 0) return State::Unreadable;
    if (got < tailBytes || Get64(tail) != sum) return State::Torn;
    if (!sane) return State::Damaged;
    sum = io::Fnv1a(sum, tail, kSumBytes + 16);
    if (tailBytes > kSumBytes && Get64(tail + kSumBytes + 16) == sum) {
        c->retired = true;
        c->sizeAfter = qint64(Get64(tail + kSumBytes));
        c->modifiedAfterNs = qint64(Get64(tail + kSumBytes + 8));
    }
    return State::Whole;
}

// Opens the journal or undo record `name` beside the archive for reading,
// never through a link and without waiting on a FIFO.
io::Fd OpenRecord(const Place& place, const QByteArray& name) {
    return io::Fd(::openat(place.folder.get(), name.constData(),
                           O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
}

// True when the journal `c` belongs to the archive behind `archive`.
bool Belongs(const Contents& c, int archive, const struct stat& st) {
    const Owner now = OwnerOf(st, archive);
    return now.device == c.owner.device && now.inode == c.owner.inode &&
           (now.birthNs == 0 || c.owner.birthNs == 0 || now.birthNs == c.owner.birthNs) &&
           st.st_size >= c.length;
}

Failure About(const Place& place, Reason reason, int err) {
    return Failure::Path(reason, err, place.journalPath);
}

// Writes the saved ranges back, sets the length, flushes the archive,
// removes the journal and flushes the folder.
Failure Apply(const Place& place, int archive, int journal, const Contents& c,
              std::vector<Failure>* warnings) {
    int err = 0;
    qint64 from = c.saved;
    for (const Range& r : c.ranges) {
        const long long n =
            io::CopyInPieces(journal, from, archive, r.offset, r.length, false, &err);
        if (n != r.length) return About(place, Reason::CannotRollBack, n < 0 ? err : EIO);
        from += r.length;
    }
    if (!io::Truncate(archive, c.length, &err) || !io::Fsync(archive, &err) ||
        !io::RemoveIn(place.folder.get(), place.JournalName().constData(), &err))
        return About(place, Reason::CannotRollBack, err);
    // The archive is whole; a journal that comes back after a power loss
    // only rolls back again to the same bytes.
    if (!io::Fsync(place.folder.get(), &err) && warnings)
        warnings->push_back(Failure::Path(Reason::FolderNotFlushed, err, place.folderText));
    return {};
}

}  // namespace

bool Locate(const QString& path, Place* place, int* err) {
    QByteArray target = io::NativePath(path);
    struct stat st {};
    bool exists = false;
    if (target.isEmpty()) return *err = ENOENT, false;
    if (!io::FollowLinks(target, &st, &exists, err)) return false;
    if (!exists) return *err = ENOENT, false;
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : target.left(slash);
    place->folder = io::Fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!place->folder) return *err = errno, false;
    place->name = target.mid(slash + 1);
    place->archivePath = path;
    place->journalPath = QFile::decodeName(target + "-journal");
    place->folderText = QFile::decodeName(folder);
    return true;
}

Failure OpenForWriting(const Place& place, io::Fd& fd, struct stat* st) {
    const auto refuse = [&](int err) {
        return Failure::Path(Reason::CannotOpenArchive, err, place.archivePath);
    };
    io::Fd opened(::openat(place.folder.get(), place.name.constData(),
                           O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (!opened) return refuse(errno);
    if (::fstat(opened.get(), st) != 0) return refuse(errno);
    if (!S_ISREG(st->st_mode)) return Failure::Path(Reason::NotRegularFile, 0, place.archivePath);
    // Made read-only on purpose: refused even to a privileged user.
    if ((st->st_mode & 0222) == 0) return refuse(EACCES);
    ::fcntl(opened.get(), F_SETFL, 0);
    fd = std::move(opened);
    return {};
}

Failure Writer::Write(const Place& place, int archive, qint64 length,
                      const std::vector<Range>& ranges) {
    const QByteArray name = place.JournalName();
    const int made = ::openat(place.folder.get(), name.constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (made < 0) return About(place, Reason::CannotCreateFile, errno);
    fd_ = io::Fd(made);
    int err = 0;
    Failure why;
    const auto abandon = [&](Failure f) {
        fd_.reset();
        int ignored = 0;
        io::RemoveIn(place.folder.get(), name.constData(), &ignored);
        return f;
    };
    struct stat st {};
    if (::fstat(archive, &st) != 0) return abandon(About(place, Reason::WriteFailed, errno));
    const Owner owner = OwnerOf(st, archive);
    QByteArray head(kHeaderBytes + qsizetype(ranges.size()) * kRangeBytes, '\0');
    std::memcpy(head.data(), kMagic, sizeof kMagic);
    Put64(head.data() + 8, kVersion | quint64(ranges.size()) << 32);
    Put64(head.data() + 16, owner.device);
    Put64(head.data() + 24, owner.inode);
    Put64(head.data() + 32, quint64(owner.birthNs));
    Put64(head.data() + 40, quint64(length));
    for (size_t i = 0; i < ranges.size(); ++i) {
        Put64(head.data() + kHeaderBytes + i * kRangeBytes, quint64(ranges[i].offset));
        Put64(head.data() + kHeaderBytes + i * kRangeBytes + 8, quint64(ranges[i].length));
    }
    sum_ = io::Fnv1a(io::kFnvStart, head.constData(), head.size());
    if (!io::WriteAll(fd_.get(), head.constData(), head.size(), 0, &err))
        return abandon(About(place, Reason::WriteFailed, err));
    length_ = head.size();
    qint64 total = 0;
    for (const Range& r : ranges) total += r.length;
    QByteArray block(qsizetype(std::min(kBlock, std::max<qint64>(total, kSumBytes))),
                     Qt::Uninitialized);
    for (const Range& r : ranges) {
        for (qint64 done = 0; done < r.length;) {
            const qint64 want = std::min<qint64>(block.size(), r.length - done);
            const long long got = io::ReadAt(archive, block.data(), want, r.offset + done, &err);
            if (got != want)
                return abandon(
                    Failure::Path(Reason::ReadFailed, got < 0 ? err : EIO, place.archivePath));
            sum_ = io::Fnv1a(sum_, block.constData(), want);
            if (!io::WriteAll(fd_.get(), block.constData(), want, length_, &err))
                return abandon(About(place, Reason::WriteFailed, err));
            length_ += want;
            done += want;
        }
    }
    char seal[kSumBytes];
    Put64(seal, sum_);
    sum_ = io::Fnv1a(sum_, seal, kSumBytes);
    if (!io::WriteAll(fd_.get(), seal, kSumBytes, length_, &err) || !io::Fsync(fd_.get(), &err) ||
        !io::Fsync(place.folder.get(), &err))
        return abandon(About(place, Reason::WriteFailed, err));
    length_ += kSumBytes;
    return {};
}

Failure Writer::Retire(const Place& place, int archive, std::vector<Failure>& warnings) {
    struct stat st {};
    int err = 0;
    if (::fstat(archive, &st) != 0) return About(place, Reason::WriteFailed, errno);
    char tail[kTrailerBytes];
    Put64(tail, quint64(st.st_size));
    Put64(tail + 8, quint64(ModifiedNs(st)));
    Put64(tail + 16, io::Fnv1a(sum_, tail, 16));
    // The trailer is not flushed on its own: lost to a power loss, it only
    // makes the record one that undo refuses.
    if (!io::WriteAll(fd_.get(), tail, kTrailerBytes, length_, &err) ||
        !io::RenameIn(place.folder.get(), place.JournalName().constData(),
                      place.UndoName().constData(), &err))
        return About(place, Reason::WriteFailed, err);
    fd_.reset();
    if (!io::Fsync(place.folder.get(), &err))
        warnings.push_back(Failure::Path(Reason::FolderNotFlushed, err, place.folderText));
    return {};
}

Failure RollBack(const Place& place, int archive) {
    io::Fd journal = OpenRecord(place, place.JournalName());
    if (!journal) return About(place, Reason::CannotRollBack, errno);
    Contents c;
    int err = 0;
    const State s = Examine(journal.get(), &c, &err);
    if (s != State::Whole) return About(place, Reason::CannotRollBack, err ? err : EIO);
    return Apply(place, archive, journal.get(), c, nullptr);
}

bool Orphaned(const QString& path, int fd) {
    Place place;
    int err = 0;
    struct stat st {};
    if (!Locate(path, &place, &err) || ::fstat(fd, &st) != 0 ||
        EditLock::HeldHere(quint64(st.st_dev), quint64(st.st_ino)))
        return false;
    io::Fd journal = OpenRecord(place, place.JournalName());
    if (!journal) return false;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return false;  // a live edit's
    ::flock(fd, LOCK_UN);
    // Recover rolls back, removes or refuses all but another file's journal,
    // which it leaves alone.
    Contents c;
    switch (Examine(journal.get(), &c, &err)) {
        case State::Damaged:
            return false;
        case State::Whole:
            return Belongs(c, fd, st);
        default:
            return true;
    }
}

}  // namespace journal

Result Recover(const QString& path) {
    using namespace journal;
    Place place;
    int err = 0;
    // A path that leads nowhere is the load's to report.
    if (!Locate(path, &place, &err)) return {};
    const QByteArray name = place.JournalName();
    struct stat st {};
    if (::fstatat(place.folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    if (::fstatat(place.folder.get(), place.name.constData(), &st, 0) != 0) return {};
    // A live edit holds the lock until its journal is retired.
    EditLock own;
    if (!EditLock::HeldHere(quint64(st.st_dev), quint64(st.st_ino))) {
        if (Result locked = own.Acquire(path, false); !locked.ok()) return locked;
    }
    io::Fd journal = OpenRecord(place, name);
    if (!journal) {
        if (errno == ENOENT) return {};  // the edit ended while we waited
        return Result::Unusable(About(place, Reason::CannotRollBack, errno));
    }
    Result r;
    const auto foreign = [&] {
        r.warnings.push_back(About(place, Reason::ForeignJournal, 0));
        return r;
    };
    Contents c;
    switch (Examine(journal.get(), &c, &err)) {
        case State::Unreadable:
            return Result::Unusable(About(place, Reason::CannotRollBack, err));
        case State::Torn:
            // Never sealed, so the archive was never touched.
            if (io::RemoveIn(place.folder.get(), name.constData(), &err))
                io::Fsync(place.folder.get(), &err);
            return r;
        case State::Damaged:
            return foreign();
        case State::Whole:
            break;
    }
    io::Fd archive(::openat(place.folder.get(), place.name.constData(),
                            O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!archive || ::fstat(archive.get(), &st) != 0) return r;  // the load reports it
    if (!Belongs(c, archive.get(), st)) return foreign();
    io::Fd writable;
    if (Failure f = OpenForWriting(place, writable, &st); f.reason != Reason::None)
        return Result::Unusable(f.reason == Reason::NotRegularFile
                                    ? std::move(f)
                                    : About(place, Reason::CannotRollBack, f.error));
    if (::faccessat(place.folder.get(), ".", W_OK, AT_EACCESS) != 0)
        return Result::Unusable(About(place, Reason::CannotRollBack, errno));
    // Written back while no reader reads.
    if (!LockForWriting(writable.get(), nullptr, &err))
        return Result::Unusable(About(place, Reason::CannotRollBack, err));
    if (Failure f = Apply(place, writable.get(), journal.get(), c, &r.warnings);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    r.warnings.push_back(Failure::Path(Reason::RolledBack, 0, path));
    return r;
}

Result Undo(const QString& path) {
    using namespace journal;
    Place place;
    int err = 0;
    if (!Locate(path, &place, &err))
        return Result::Unusable(Failure::Path(Reason::CannotOpenArchive, err, path));
    const auto refuse = [&](Reason reason) {
        return Result::Unusable(Failure::Path(reason, 0, path));
    };
    io::Fd record = OpenRecord(place, place.UndoName());
    if (!record) return refuse(Reason::NothingToUndo);
    Contents c;
    if (Examine(record.get(), &c, &err) != State::Whole || !c.retired)
        return refuse(Reason::NothingToUndo);
    struct stat st {};
    io::Fd archive;
    if (Failure f = OpenForWriting(place, archive, &st); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    if (!Belongs(c, archive.get(), st) || st.st_size != c.sizeAfter ||
        ModifiedNs(st) != c.modifiedAfterNs)
        return refuse(Reason::UndoStale);
    // From the flushed rename on, the record is a live journal.
    if (!io::RenameIn(place.folder.get(), place.UndoName().constData(),
                      place.JournalName().constData(), &err) ||
        !io::Fsync(place.folder.get(), &err))
        return Result::Unusable(About(place, Reason::WriteFailed, err));
    Result r;
    if (!LockForWriting(archive.get(), nullptr, &err))
        return Result::Unusable(About(place, Reason::WriteFailed, err));
    if (Failure f = Apply(place, archive.get(), record.get(), c, &r.warnings);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    return r;
}

}  // namespace kbx
