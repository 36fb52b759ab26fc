#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

#include "archive/archive.h"
#include "archive/file_io.h"
#include "archive/output.h"

namespace kbx {

namespace {

// The directory is written in blocks of about this size, so that its size in
// memory stays bounded whatever the number of files.
constexpr qint64 kDirectoryBlock = 1 << 20;

const QString kDataPrefix = QStringLiteral("Version\\Data\\");
const QString kVersionPrefix = QStringLiteral("Version\\");

// One file to pack, as compact as it can be: a tree of 200,000 files costs
// the length of their names and 12 bytes each.
struct Listed {
    quint32 nameAt;   // where the name starts in the names block
    quint16 nameLen;  // a name on disk is at most 255 bytes
    quint8 folder;    // 0: Version/Data, 1: Version
    quint8 flags;
    qint32 size = 0;  // learned as the file is copied
};
// A link or a name of unknown kind, resolved by a stat of its own: its file
// may be anywhere, so it is opened through the link and checked twice.
constexpr quint8 kStatted = 1;
constexpr quint8 kAscii = 2;

// Temporary files of this program (see io::AtomicFile), left by a run that
// was killed, are never packed.
bool IsOurTemporary(QByteArrayView name) {
    return name.startsWith(".kbx-") && name.endsWith(".tmp");
}

// Whether timestamps on this file system come from this machine's clock, so
// that a file can be trusted unchanged from its change time alone (see
// DataWriter::Read).
bool LocalTimes(int dirfd) {
    struct statfs fs {};
    if (::fstatfs(dirfd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case F2FS_SUPER_MAGIC:
        case OVERLAYFS_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

// The files of both folders: names in one block, the rest in a compact list.
class Listing {
  public:
    // With `measure`, every file's size is learned from the listing (one
    // status call each), for callers that show progress in bytes; otherwise
    // sizes are learned as the files are read.
    Listing(const OutputArchive& out, bool measure) : out_(out), measure_(measure) {}

    // Adds the regular files (and links to them) directly inside `dirfd`.
    // Folders, FIFOs, sockets, devices and dangling links are left out; so
    // are the archive being replaced and our own temporaries.
    bool Add(int dirfd, quint8 folder, std::vector<Failure>& warnings, Failure* error) {
        struct stat self {};
        if (::fstat(dirfd, &self) != 0) return *error = ReadError(folder, errno), false;
        const int dupfd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
        DIR* d = dupfd >= 0 ? ::fdopendir(dupfd) : nullptr;
        if (!d) {
            *error = ReadError(folder, errno);
            if (dupfd >= 0) ::close(dupfd);
            return false;
        }
        const size_t first = files_.size();
        // errno is cleared before every readdir: a skipped entry's failed stat
        // (a dangling link) must not read as a failed read of the folder.
        for (errno = 0; dirent* e = ::readdir(d); errno = 0) {
            const QByteArrayView name(e->d_name);
            if (name == "." || name == ".." || IsOurTemporary(name)) continue;
            quint8 flags = IsAscii(name) ? kAscii : 0;
            dev_t dev = self.st_dev;
            ino_t ino = e->d_ino;
            qint64 size = 0;
            if (e->d_type != DT_REG || measure_) {
                if (e->d_type != DT_REG && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) continue;
                struct stat st;
                const int follow = e->d_type == DT_REG ? AT_SYMLINK_NOFOLLOW : 0;
                if (::fstatat(dirfd, e->d_name, &st, follow) != 0 || !S_ISREG(st.st_mode)) continue;
                if (e->d_type != DT_REG) flags |= kStatted;
                dev = st.st_dev;
                ino = st.st_ino;
                size = std::min<qint64>(st.st_size, kMaxArchiveBytes);
            }
            if (out_.Replaces(dev, ino)) {
                warnings.push_back({Reason::OutputInTree, 0, NameRule::None, -1,
                                    Prefix(folder) + QFile::decodeName(name.toByteArray())});
                continue;
            }
            files_.push_back(
                {quint32(names_.size()), quint16(name.size()), folder, flags, qint32(size)});
            names_.append(name);
            total_ += size;
        }
        const int readErr = errno;
        ::closedir(d);
        if (readErr != 0) return *error = ReadError(folder, readErr), false;
        std::sort(files_.begin() + qsizetype(first), files_.end(),
                  [this](const Listed& a, const Listed& b) { return Less(a, b); });
        return true;
    }

    // Refuses the first name that cannot become an entry that verify
    // accepts and unpack writes back as the same file.
    bool Check(Failure* error) const {
        for (size_t i = 0; i < files_.size(); ++i) {
            const Listed& f = files_[i];
            const QString entry = Entry(f);
            Failure bad{Reason::UnsafeName, 0, NameRule::None, -1, entry};
            if (Name(f).contains(u'\\')) bad.rule = NameRule::Backslash;
            std::optional<QByteArray> bytes = Encoded(f);
            if (bad.rule == NameRule::None && !bytes) bad.rule = NameRule::NotEncodable;
            if (bad.rule == NameRule::None && bytes->size() > kNameSize)
                bad.rule = NameRule::TooLong;
            // A name that extraction refuses would make an archive that
            // cannot be unpacked whole: a control character, say.
            if (bad.rule == NameRule::None) bad.rule = NameProblem(entry, &bad.detail);
            // The game's file system ignores case: "Z" and "z" would be one
            // file there, and a file "data" beside the folder Data too.
            if (bad.rule == NameRule::None && i > 0 && files_[i - 1].folder == f.folder &&
                Compare(files_[i - 1], f) == 0) {
                bad.rule = NameRule::CaseDuplicate;
                bad.detail = Entry(files_[i - 1]);
            }
            if (bad.rule == NameRule::None && f.folder == 1 &&
                QString::compare(Name(f), QStringLiteral("Data"), Qt::CaseInsensitive) == 0) {
                bad.rule = NameRule::CaseDuplicate;
                bad.detail = QStringLiteral("Version\\Data");
            }
            if (bad.rule != NameRule::None) return *error = std::move(bad), false;
        }
        return true;
    }

    std::vector<Listed>& files() { return files_; }
    bool measured() const { return measure_; }
    // The sum of the measured sizes.
    qint64 total() const { return total_; }
    QByteArrayView Native(const Listed& f) const {
        return QByteArrayView(names_.constData() + f.nameAt, f.nameLen);
    }
    QString Entry(const Listed& f) const { return Prefix(f.folder) + Name(f); }
    // The entry name in the archive's code page; nothing when it has none.
    std::optional<QByteArray> Encoded(const Listed& f) const {
        // Windows-1251 keeps ASCII as it is; only other names need the
        // converter, whose set-up costs more than the encoding itself.
        if (f.flags & kAscii) return Prefix(f.folder).toLatin1() + Native(f).toByteArray();
        const QString entry = Entry(f);
        if (QFile::encodeName(Name(f)) != Native(f)) return std::nullopt;  // not text here
        return EncodeName(entry);
    }
    static QString Prefix(quint8 folder) { return folder == 0 ? kDataPrefix : kVersionPrefix; }

  private:
    static Failure ReadError(quint8 folder, int err) {
        return {Reason::CannotReadFolder, err, NameRule::None, -1, Prefix(folder)};
    }
    QString Name(const Listed& f) const { return QFile::decodeName(Native(f).toByteArray()); }

    // Case-insensitive order of the names as text, as a user sees them.
    int Compare(const Listed& a, const Listed& b) const {
        if ((a.flags & b.flags & kAscii) == 0)
            return QString::compare(Name(a), Name(b), Qt::CaseInsensitive);
        const QByteArrayView x = Native(a), y = Native(b);
        const qsizetype n = std::min(x.size(), y.size());
        for (qsizetype i = 0; i < n; ++i) {
            const int cx = ToLower(x[i]), cy = ToLower(y[i]);
            if (cx != cy) return cx - cy;
        }
        return int(x.size() - y.size());
    }
    bool Less(const Listed& a, const Listed& b) const {
        const int c = Compare(a, b);
        return c != 0 ? c < 0 : Native(a) < Native(b);
    }
    static int ToLower(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'A' && u <= 'Z' ? u + 32 : u;
    }

    const OutputArchive& out_;
    const bool measure_;
    qint64 total_ = 0;
    QByteArray names_;
    std::vector<Listed> files_;
};

// Writes the files' bytes into the archive, back to back from `start`.
// Small files are gathered in a bounded buffer and written in large blocks;
// large ones are copied by the kernel (see io::CopyInPieces). Disk writes are
// started as the archive grows, so the final flush, which the archive needs
// before it may replace an existing one, finds little left.
//
// A file that changes while it is read fails the pack. For a small file on a
// local file system that costs no status call beyond one fstat after the
// read: a change time older than the moment before the file was opened
// proves that nothing touched the file while it was read (every write sets
// the change time to the clock's present, which only grows). A file changed
// moments before is read and measured a second time; so is any file on a
// file system whose times may come from another machine's clock, and any
// large file is measured before and after its copy.
class DataWriter {
  public:
    DataWriter(OutputArchive& out, const Listing& listing, qint64 start, const bool localTimes[2])
        : out_(out),
          listing_(listing),
          next_(start),
          bufferStart_(start),
          started_(start),
          buffer_(new char[size_t(kBufferSize)]),
          localTimes_{localTimes[0], localTimes[1]} {}

    // Copies one file and records its size; Reason::None on success.
    Failure Copy(int dirfd, Listed& f) {
        Failure why = CopyFile(dirfd, f);
        if (why.reason != Reason::None) why.subject = listing_.Entry(f);
        return why;
    }

    bool Flush() {
        if (buffered_ == 0) return true;
        if (!out_.Write(buffer_.get(), buffered_, bufferStart_)) return false;
        Written(bufferStart_ + buffered_);
        bufferStart_ += buffered_;
        buffered_ = 0;
        return true;
    }

  private:
    static constexpr qint64 kBufferSize = 1 << 20;
    static constexpr qint64 kSmallFile = 64 << 10;
    // How long before its opening a file must have last changed for its
    // change time alone to prove it unchanged: the clock's tick where times
    // have nanoseconds, and a whole second where a file system keeps seconds
    // only (it rounds a change down by up to a second).
    static constexpr qint64 kTickMargin = 50'000'000;
    static constexpr qint64 kSecondMargin = 2'000'000'000;

    Failure CopyFile(int dirfd, Listed& f) {
        const QByteArray name = listing_.Native(f).toByteArray();
        // O_NONBLOCK: a FIFO put in a file's place must not stall the pack
        // (regular files ignore the flag). A name listed as a file is opened
        // as that name, never through a link that took its place.
        const int flags =
            O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((f.flags & kStatted) ? 0 : O_NOFOLLOW);
        timespec opened{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &opened);
        io::Fd in(::openat(dirfd, name.constData(), flags));
        if (!in) return {errno == ELOOP ? Reason::FileChanged : Reason::CannotOpenFile, errno};
        if (buffered_ + kSmallFile + 1 > kBufferSize && !Flush()) return WriteError();
        if (buffered_ == 0) bufferStart_ = next_;

        struct stat before {};
        const bool trustTimes = localTimes_[f.folder] && !(f.flags & kStatted);
        long long got = -1;
        if (!trustTimes) {
            if (::fstat(in.get(), &before) != 0) return {Reason::ReadFailed, errno};
            if (!S_ISREG(before.st_mode)) return {Reason::CannotOpenFile, EINVAL};
            if (out_.Replaces(before.st_dev, before.st_ino)) return {Reason::OutputInTree};
            if (before.st_size > kSmallFile) return CopyLarge(in.get(), f, before);
        }
        // One byte more than a small file holds: a larger one reads it.
        char* at = buffer_.get() + buffered_;
        int readErr = 0;
        got = io::ReadAt(in.get(), at, kSmallFile + 1, 0, &readErr);
        struct stat after {};
        if (::fstat(in.get(), &after) != 0) return {Reason::ReadFailed, errno};
        // A FIFO that took a file's name since the listing refuses the read.
        if (!S_ISREG(after.st_mode)) return {Reason::CannotOpenFile, EINVAL};
        if (got < 0) return {Reason::ReadFailed, readErr};
        if (out_.Replaces(after.st_dev, after.st_ino)) return {Reason::OutputInTree};
        if (trustTimes) {
            if (got > kSmallFile) return CopyLarge(in.get(), f, after);
            const qint64 margin = after.st_ctim.tv_nsec != 0 ? kTickMargin : kSecondMargin;
            if (io::Nanoseconds(after.st_ctim) >= io::Nanoseconds(opened) - margin) {
                // Changed moments ago, perhaps while it was read: read it
                // again between two equal measurements.
                before = after;
                got = io::ReadAt(in.get(), at, kSmallFile + 1, 0, &readErr);
                if (got < 0) return {Reason::ReadFailed, readErr};
                if (::fstat(in.get(), &after) != 0) return {Reason::ReadFailed, errno};
                if (!io::SameFileState(before, after)) return {Reason::FileChanged};
            }
        } else if (!io::SameFileState(before, after)) {
            return {Reason::FileChanged};
        }
        if (got != after.st_size || (listing_.measured() && got != f.size))
            return {Reason::FileChanged};
        if (next_ + got > kMaxArchiveBytes) return {Reason::TooLarge};
        f.size = qint32(got);
        buffered_ += got;
        next_ += got;
        return {};
    }

    // A file too large for the buffer, measured as `before`: copied in the
    // kernel and measured again.
    Failure CopyLarge(int in, Listed& f, const struct stat& before) {
        if (next_ + before.st_size > kMaxArchiveBytes) return {Reason::TooLarge};
        if (!Flush()) return WriteError();
        const long long copied = out_.CopyFrom(in, 0, next_, before.st_size, true);
        if (copied < 0) return WriteError();
        struct stat after {};
        if (::fstat(in, &after) != 0) return {Reason::ReadFailed, errno};
        // A file cut or extended while it was read fails, however much of the
        // change the copy happened to see.
        if (copied != before.st_size || !io::SameFileState(before, after) ||
            (listing_.measured() && copied != f.size))
            return {Reason::FileChanged};
        f.size = qint32(copied);
        next_ += copied;
        bufferStart_ = next_;
        started_ = next_;  // its writeback has started
        return {};
    }

    Failure WriteError() const { return {Reason::WriteFailed, out_.error()}; }

    // Everything before `end` is written: start the disk on what is new.
    void Written(qint64 end) {
        if (end - started_ < io::kCopyPiece) return;
        out_.StartWriteback(started_, end - started_);
        started_ = end;
    }

    OutputArchive& out_;
    const Listing& listing_;
    qint64 next_;  // where the next file's bytes go
    qint64 bufferStart_;
    qint64 buffered_ = 0;
    qint64 started_;
    std::unique_ptr<char[]> buffer_;
    bool localTimes_[2];
};

}  // namespace

Result Pack(const QString& root, const QString& archivePath, const PackProgress& progress,
            const StopFlag* stop) {
    const QByteArray rootNative = io::NativePath(root.isEmpty() ? QStringLiteral(".") : root);
    io::Fd rootFd(::open(rootNative.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) return Result::Unusable({Reason::CannotOpenFolder, errno, {}, -1, root});
    io::Fd version(::openat(rootFd.get(), "Version", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int openErr = version ? 0 : errno;
    io::Fd data(version ? ::openat(version.get(), "Data", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    if (version && !data) openErr = errno;
    // A folder that is there but cannot be read is named with the reason.
    if (openErr != 0 && openErr != ENOENT && openErr != ENOTDIR)
        return Result::Unusable(
            {Reason::CannotReadFolder,
             openErr,
             {},
             -1,
             root + (version ? QStringLiteral("/Version/Data") : QStringLiteral("/Version"))});
    if (!version || !data) return Result::Unusable({Reason::NoTree, 0, {}, -1, root});

    // The target is looked at first: a folder or a device there is refused
    // before any work, and an old archive inside the tree is left out.
    OutputArchive out;
    if (Failure f = out.Create(archivePath); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    Result r;
    Listing listing(out, bool(progress));
    Failure problem;
    if (!listing.Add(data.get(), 0, r.warnings, &problem) ||
        !listing.Add(version.get(), 1, r.warnings, &problem) || !listing.Check(&problem))
        return Result::Unusable(std::move(problem));

    std::vector<Listed>& files = listing.files();
    const qint64 n = qint64(files.size());
    if (DirectoryEnd(n) > kMaxArchiveBytes)
        return Result::Unusable({Reason::TooLarge, 0, {}, -1, archivePath});
    // The data first, from the end of the directory on; the directory once
    // every size is known.
    const bool localTimes[2] = {LocalTimes(data.get()), LocalTimes(version.get())};
    if (DirectoryEnd(n) + listing.total() > kMaxArchiveBytes)
        return Result::Unusable({Reason::TooLarge, 0, {}, -1, archivePath});
    DataWriter writer(out, listing, DirectoryEnd(n), localTimes);
    for (qint64 i = 0; i < n; ++i) {
        Listed& f = files[size_t(i)];
        if (progress) {
            const QString entry = listing.Entry(f);
            progress({i, n, entry, f.size, listing.total()});
        }
        if (stop && stop->requested) {
            Result stopped;  // `out` is discarded unpublished
            stopped.outcome = Outcome::Stopped;
            return stopped;
        }
        if (Failure why = writer.Copy(f.folder == 0 ? data.get() : version.get(), f);
            why.reason != Reason::None)
            return Result::Unusable(std::move(why));
    }
    if (!writer.Flush())
        return Result::Unusable({Reason::WriteFailed, out.error(), {}, -1, archivePath});

    QByteArray block = HeaderBytes(qint32(n));
    qint64 written = 0;
    const auto flush = [&] {
        if (!out.Write(block.constData(), block.size(), written)) return false;
        written += block.size();
        block.clear();
        return true;
    };
    qint64 offset = DirectoryEnd(n);
    for (const Listed& f : files) {
        AppendRecord(block, qint32(offset), f.size, *listing.Encoded(f));
        offset += f.size;
        if (block.size() >= kDirectoryBlock && !flush()) break;
    }
    if (out.error() != 0 || !flush())
        return Result::Unusable({Reason::WriteFailed, out.error(), {}, -1, archivePath});
    if (Failure f = out.Publish(r.warnings); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    r.written = n;
    return r;
}

}  // namespace kbx
