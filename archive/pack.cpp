#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <memory>

#include "archive/archive.h"
#include "archive/file_io.h"
#include "archive/file_io_faults.h"
#include "archive/output.h"
#include "archive/records.h"
#include "archive/stamps.h"

namespace kbx {

namespace {

const QString kDataPrefix = QStringLiteral("Version\\Data\\");
const QString kVersionPrefix = QStringLiteral("Version\\");

// A name in the names block.
struct NameRef {
    quint32 at;   // where the name starts in the names block
    quint16 len;  // a name on disk is at most 255 bytes
    quint8 flags;
};
// A link or a name of unknown kind, resolved by a stat of its own: its file
// may be anywhere, so it is opened through the link and checked twice.
constexpr quint8 kStatted = 1;
constexpr quint8 kAscii = 2;
// A sub-folder's name that is a link to a folder: never followed.
constexpr quint8 kLinkToFolder = 4;

// One file to pack, as compact as it can be: a tree of 200,000 files costs
// the length of their names and 16 bytes each.
struct Listed {
    NameRef name;
    quint32 folder;   // index into the listing's folders
    qint32 size = 0;  // learned as the file is copied
};

// A folder whose files are packed. Folders 0 (Version/Data) and 1 (Version)
// head the two groups and have no name; the others are their sub-folders.
struct Folder {
    NameRef name;
    quint32 parent;
    quint8 group;  // 0: beneath Version/Data, 1: beneath Version
};

// Opens sub-folder `name` of `dirfd`; a link in its place is refused (ELOOP
// or ENOTDIR), so that no walk leaves the tree.
io::Fd OpenSubFolder(int dirfd, const char* name) {
    return io::Fd(
        ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
}

// Calls `each` with every name in the folder `dirfd` but "." and "..".
// Returns 0, or the errno of a failed read.
template <typename Each>
int ReadFolder(int dirfd, Each each) {
    const int dupfd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    DIR* d = dupfd >= 0 ? ::fdopendir(dupfd) : nullptr;
    if (!d) {
        const int err = errno;
        if (dupfd >= 0) ::close(dupfd);
        return err;
    }
    // errno is cleared before every readdir: a skipped entry's failed stat
    // (a dangling link) must not read as a failed read of the folder.
    for (errno = 0; dirent* e = ::readdir(d); errno = 0) {
        if (io::UnknownEntryTypesForced()) e->d_type = DT_UNKNOWN;
        const QByteArrayView name(e->d_name);
        if (name != "." && name != "..") each(*e);
    }
    const int err = errno;
    ::closedir(d);
    return err;
}

// The kind of `e` (DT_REG, DT_DIR, DT_LNK...), a link not followed. A name
// the listing gives no kind is looked at, and `st` then holds its status.
unsigned char KindOf(int dirfd, const dirent& e, struct stat* st, bool* statted) {
    *statted = false;
    if (e.d_type != DT_UNKNOWN) return e.d_type;
    if (::fstatat(dirfd, e.d_name, st, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
    *statted = true;
    return IFTODT(st->st_mode);
}

// Counts into `left` (a FolderLeftOut warning) the regular files beneath
// sub-folder `name` of `dirfd`, at any depth, no link followed: -1 and the
// errno when the sub-folder cannot be read. Folders beneath it that cannot
// be read count as empty.
void CountFiles(int dirfd, const char* name, Failure& left) {
    left.count = -1;
    const io::Fd fd = OpenSubFolder(dirfd, name);
    if (!fd) {
        left.error = errno;
        return;
    }
    qint64 n = 0;
    std::vector<QByteArray> subs;
    const int readErr = ReadFolder(fd.get(), [&](const dirent& e) {
        struct stat st;
        bool statted;
        const unsigned char kind = KindOf(fd.get(), e, &st, &statted);
        if (kind == DT_REG) ++n;
        if (kind == DT_DIR) subs.emplace_back(e.d_name);
    });
    if (readErr != 0) {
        left.error = readErr;
        return;
    }
    for (const QByteArray& sub : subs) {
        Failure inner;
        CountFiles(fd.get(), sub.constData(), inner);
        n += std::max<qint64>(inner.count, 0);
    }
    left.count = n;
}

// The files of both groups: names in one block, the rest in compact lists,
// in the order they are packed.
class Listing {
  public:
    // With `measure`, every file's size is learned from the listing (one
    // status call each), for callers that show progress in bytes; otherwise
    // sizes are learned as the files are read. Sub-folders are handled as
    // `subFolders` says; `root` names them in warnings.
    Listing(const OutputArchive& out, bool measure, SubFolders subFolders, const QString& root)
        : out_(out),
          measure_(measure),
          subFolders_(subFolders),
          root_(root.isEmpty() ? QString() : root + u'/') {
        folders_.push_back({{0, 0, kAscii}, 0, 0});
        folders_.push_back({{0, 0, kAscii}, 1, 1});
    }

    // Refuses the first name that cannot become an entry that verify
    // accepts and unpack writes back as the same file.
    [[nodiscard]] Failure Check() const {
        for (size_t i = 0; i < files_.size(); ++i) {
            const Listed& f = files_[i];
            const QString entry = Entry(f);
            Failure bad = Failure::Name(NameRule::None, entry);
            if (Name(f.name).contains(u'\\')) bad.rule = NameRule::Backslash;
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
                Compare(files_[i - 1].name, f.name) == 0) {
                bad.rule = NameRule::CaseDuplicate;
                bad.detail = Entry(files_[i - 1]);
            }
            if (bad.rule == NameRule::None && IsReservedFolder(entry)) {
                bad.rule = NameRule::CaseDuplicate;
                bad.detail = QStringLiteral("Version\\Data");
            }
            if (bad.rule != NameRule::None) return bad;
        }
        return {};
    }

    std::vector<Listed>& files() { return files_; }
    const std::vector<Listed>& files() const { return files_; }
    const std::vector<Folder>& folders() const { return folders_; }
    bool measured() const { return measure_; }
    // The sum of the measured sizes.
    qint64 total() const { return total_; }
    QByteArrayView Native(const NameRef& n) const {
        return QByteArrayView(names_.constData() + n.at, n.len);
    }
    QString Entry(const Listed& f) const { return FolderEntry(f.folder) + Name(f.name); }
    // The entry name in the archive's code page; nothing when it has none.
    std::optional<QByteArray> Encoded(const Listed& f) const {
        // Windows-1251 keeps ASCII as it is; only other names need the
        // converter, whose set-up costs more than the encoding itself.
        bool ascii = f.name.flags & kAscii;
        for (quint32 at = f.folder; at > 1 && ascii; at = folders_[at].parent)
            ascii = folders_[at].name.flags & kAscii;
        if (ascii) return FolderEntry(f.folder).toLatin1() + Native(f.name).toByteArray();
        if (!IsText(f.name)) return std::nullopt;
        for (quint32 at = f.folder; at > 1; at = folders_[at].parent)
            if (!IsText(folders_[at].name)) return std::nullopt;
        return EncodeName(Entry(f));
    }
    // A folder's entry name with the closing "\": "Version\Data\a\".
    QString FolderEntry(quint32 folder) const {
        QString path;
        for (; folder > 1; folder = folders_[folder].parent)
            path.prepend(Name(folders_[folder].name) + u'\\');
        return (folders_[folder].group == 0 ? kDataPrefix : kVersionPrefix) + path;
    }

    Failure ReadError(quint32 folder, int err) const {
        return Failure::Path(Reason::CannotReadFolder, err,
                             folder > 1 ? Path(folder) : FolderEntry(folder));
    }

    // Adds the regular files (and links to them) inside `dirfd`, listed as
    // `folder` (0 or 1 for the folder that heads a group), and, when
    // sub-folders are packed, those beneath it, depth first. FIFOs, sockets,
    // devices and dangling links are left out; so are the archive being
    // replaced and our own temporaries.
    [[nodiscard]] Failure Add(int dirfd, quint32 folder, std::vector<Failure>& warnings) {
        struct stat self {};
        if (::fstat(dirfd, &self) != 0) return ReadError(folder, errno);
        const size_t first = files_.size();
        std::vector<NameRef> subs;
        const int readErr = ReadFolder(dirfd, [&](const dirent& e) {
            const QByteArrayView name(e.d_name);
            if (io::IsTemporaryName(name)) return;
            // The folder Data inside Version heads the other group.
            if (folder == 1 && name == "Data") return;
            struct stat st;
            bool statted;
            quint8 flags = 0;
            switch (KindOf(dirfd, e, &st, &statted)) {
                case DT_DIR:
                    if (subFolders_ != SubFolders::Ignored) subs.push_back(Keep(name, 0));
                    return;
                case DT_LNK:
                    if (::fstatat(dirfd, e.d_name, &st, 0) != 0) return;
                    if (S_ISDIR(st.st_mode) && subFolders_ != SubFolders::Ignored)
                        subs.push_back(Keep(name, kLinkToFolder));
                    if (!S_ISREG(st.st_mode)) return;
                    flags = kStatted;
                    statted = true;
                    break;
                case DT_REG:
                    if (measure_ && !statted) {
                        if (::fstatat(dirfd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                            !S_ISREG(st.st_mode))
                            return;
                        statted = true;
                    }
                    break;
                default:
                    return;
            }
            const dev_t dev = statted ? st.st_dev : self.st_dev;
            const ino_t ino = statted ? st.st_ino : e.d_ino;
            if (out_.Replaces(dev, ino)) {
                warnings.push_back(
                    Failure::Entry(Reason::OutputInTree, 0, -1,
                                   FolderEntry(folder) + QFile::decodeName(e.d_name)));
                return;
            }
            const qint64 size = statted ? std::min<qint64>(st.st_size, kMaxArchiveBytes) : 0;
            files_.push_back({Keep(name, flags), folder, qint32(size)});
            total_ += size;
        });
        if (readErr != 0) return ReadError(folder, readErr);
        const auto less = [this](const NameRef& a, const NameRef& b) {
            const int c = Compare(a, b);
            return c != 0 ? c < 0 : Native(a) < Native(b);
        };
        std::sort(files_.begin() + qsizetype(first), files_.end(),
                  [&](const Listed& a, const Listed& b) { return less(a.name, b.name); });
        std::sort(subs.begin(), subs.end(), less);
        const size_t own = files_.size();
        const NameRef* lastPacked = nullptr;
        for (const NameRef& sub : subs) {
            const QByteArray native = Native(sub).toByteArray();
            if (sub.flags & kLinkToFolder) {
                warnings.push_back(
                    Failure::Path(Reason::FolderLinkLeftOut, 0, Path(folder) + u'/' + Name(sub)));
                continue;
            }
            if (subFolders_ == SubFolders::Reported) {
                Failure left =
                    Failure::Path(Reason::FolderLeftOut, 0, Path(folder) + u'/' + Name(sub));
                CountFiles(dirfd, native.constData(), left);
                if (left.count != 0) warnings.push_back(std::move(left));
                continue;
            }
            const io::Fd fd = OpenSubFolder(dirfd, native.constData());
            folders_.push_back({sub, folder, folders_[folder].group});
            const quint32 index = quint32(folders_.size() - 1);
            if (!fd) return ReadError(index, errno);
            const size_t before = files_.size();
            if (Failure f = Add(fd.get(), index, warnings); f.reason != Reason::None) return f;
            if (files_.size() == before) continue;  // no entry will name it
            if (Failure f = CheckFolder(index, first, own, lastPacked); f.reason != Reason::None)
                return f;
            lastPacked = &sub;
        }
        return {};
    }

  private:
    // The folder as a path beneath the root, for warnings and errors.
    QString Path(quint32 folder) const {
        QString path = FolderEntry(folder);
        path.chop(1);
        return root_ + path.replace(u'\\', u'/');
    }
    QString Name(const NameRef& n) const { return QFile::decodeName(Native(n).toByteArray()); }
    // Whether the name's bytes are text in the system's encoding.
    bool IsText(const NameRef& n) const {
        return (n.flags & kAscii) || QFile::encodeName(Name(n)) == Native(n);
    }
    NameRef Keep(QByteArrayView name, quint8 flags) {
        const NameRef n{quint32(names_.size()), quint16(name.size()),
                        quint8(flags | (IsAscii(name) ? kAscii : 0))};
        names_.append(name);
        return n;
    }

    // The rules a file's own name meets, for a packed folder's name: no "\"
    // in it, text in the system's encoding, and no other name in its folder
    // (a file's, files_[first, own), or the packed sub-folder before it)
    // that differs only in case.
    [[nodiscard]] Failure CheckFolder(quint32 index, size_t first, size_t own,
                                      const NameRef* before) const {
        const Folder& f = folders_[index];
        QString entry = FolderEntry(index);
        entry.chop(1);
        Failure bad = Failure::Name(NameRule::None, entry);
        const auto same = [&](const NameRef& other) { return Compare(other, f.name) == 0; };
        if (Name(f.name).contains(u'\\')) {
            bad.rule = NameRule::Backslash;
        } else if (!IsText(f.name)) {
            bad.rule = NameRule::NotEncodable;
        } else if (before && same(*before)) {
            bad.rule = NameRule::CaseDuplicate;
            bad.detail = FolderEntry(f.parent) + Name(*before);
        } else if (IsReservedFolder(entry)) {
            bad.rule = NameRule::CaseDuplicate;
            bad.detail = QStringLiteral("Version\\Data");
        } else {
            const auto at = std::partition_point(
                files_.begin() + qsizetype(first), files_.begin() + qsizetype(own),
                [&](const Listed& file) { return Compare(file.name, f.name) < 0; });
            if (at == files_.begin() + qsizetype(own) || !same(at->name)) return {};
            bad.rule = NameRule::CaseDuplicate;
            bad.detail = Entry(*at);
        }
        return bad;
    }

    // Case-insensitive order of the names as text, as a user sees them.
    int Compare(const NameRef& a, const NameRef& b) const {
        if ((a.flags & b.flags & kAscii) == 0)
            return QString::compare(Name(a), Name(b), Qt::CaseInsensitive);
        const QByteArrayView x = Native(a), y = Native(b);
        const qsizetype n = std::min(x.size(), y.size());
        for (qsizetype i = 0; i < n; ++i) {
            const int cx = AsciiKey(static_cast<unsigned char>(x[i]));
            const int cy = AsciiKey(static_cast<unsigned char>(y[i]));
            if (cx != cy) return cx - cy;
        }
        return int(x.size() - y.size());
    }

    const OutputArchive& out_;
    const bool measure_;
    const SubFolders subFolders_;
    const QString root_;  // with its closing "/", or empty
    qint64 total_ = 0;
    QByteArray names_;
    std::vector<Listed> files_;
    std::vector<Folder> folders_;
};

// The folders of the copy, opened in the listing's order: only the path from
// a group's folder down to the current one stays open, each folder opened
// beneath its parent with no link followed.
class OpenFolders {
  public:
    OpenFolders(const Listing& listing, int data, int version)
        : listing_(listing), heads_{data, version}, local_{LocalTimes(data), LocalTimes(version)} {}

    // The folder's descriptor and whether its times are local; -1 with
    // errno when it cannot be opened.
    int Get(quint32 folder, bool* localTimes) {
        const std::vector<Folder>& folders = listing_.folders();
        std::vector<quint32> chain;  // from below the group's folder down
        quint32 head = folder;
        for (; head > 1; head = folders[head].parent) chain.push_back(head);
        std::reverse(chain.begin(), chain.end());
        size_t keep = 0;
        while (keep < open_.size() && keep < chain.size() && open_[keep].folder == chain[keep])
            ++keep;
        open_.resize(keep);
        for (size_t i = keep; i < chain.size(); ++i) {
            const int parent = i == 0 ? heads_[head] : open_[i - 1].fd.get();
            const QByteArray name = listing_.Native(folders[chain[i]].name).toByteArray();
            io::Fd fd = OpenSubFolder(parent, name.constData());
            if (!fd) return -1;
            const bool local = LocalTimes(fd.get());
            open_.push_back({chain[i], std::move(fd), local});
        }
        if (chain.empty()) return *localTimes = local_[head], heads_[head];
        *localTimes = open_.back().local;
        return open_.back().fd.get();
    }

  private:
    struct Open {
        quint32 folder;
        io::Fd fd;
        bool local;
    };
    const Listing& listing_;
    const int heads_[2];
    const bool local_[2];
    std::vector<Open> open_;
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
    // `device`: the tree's, whose files get stamps (0: none do).
    DataWriter(OutputArchive& out, const Listing& listing, qint64 start, quint64 device)
        : device_(device),
          out_(out),
          listing_(listing),
          next_(start),
          bufferStart_(start),
          writeback_(start, [this](long long at, long long len) { out_.StartWriteback(at, len); }),
          buffer_(new char[size_t(kBufferSize)]) {}

    // Copies one file of the folder `dirfd`, whose times are local when
    // `localTimes` is set, and records its size; Reason::None on success.
    Failure Copy(int dirfd, bool localTimes, Listed& f) {
        stamp_ = {};
        Failure why = CopyFile(dirfd, localTimes, f);
        if (why.reason != Reason::None) why.subject = listing_.Entry(f);
        if (device_ != 0) stamps_.push_back(stamp_);
        return why;
    }

    // Each file's stamp, in the order copied: none where its times are not
    // local or it had not settled when opened.
    std::vector<FileStamp>& stamps() { return stamps_; }

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

    Failure CopyFile(int dirfd, bool localTimes, Listed& f) {
        const QByteArray name = listing_.Native(f.name).toByteArray();
        // O_NONBLOCK: a FIFO put in a file's place must not stall the pack
        // (regular files ignore the flag). A name listed as a file is opened
        // as that name, never through a link that took its place.
        const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                          ((f.name.flags & kStatted) ? 0 : O_NOFOLLOW);
        opened_ = CoarseNowNs();
        io::Fd in(::openat(dirfd, name.constData(), flags));
        if (!in) return {errno == ELOOP ? Reason::FileChanged : Reason::CannotOpenFile, errno};
        unwritten_ = device_ != 0 && localTimes && NoWriters(in.get());
        if (buffered_ + kSmallFile + 1 > kBufferSize && !Flush()) return WriteError();
        if (buffered_ == 0) bufferStart_ = next_;

        struct stat before {};
        const bool trustTimes = localTimes && !(f.name.flags & kStatted);
        long long got = -1;
        if (!trustTimes) {
            if (::fstat(in.get(), &before) != 0) return {Reason::ReadFailed, errno};
            if (!S_ISREG(before.st_mode)) return {Reason::NotRegularFile};
            if (out_.Replaces(before.st_dev, before.st_ino)) return {Reason::OutputInTree};
            if (before.st_size > kSmallFile) return CopyLarge(in.get(), f, before);
        }
        // One byte more than a small file holds: a larger one reads it.
        char* at = buffer_.get() + buffered_;
        int readErr = 0;
        got = io::ReadOnce(in.get(), at, kSmallFile + 1, 0, &readErr);
        struct stat after {};
        if (::fstat(in.get(), &after) != 0) return {Reason::ReadFailed, errno};
        // A FIFO that took a file's name since the listing refuses the read.
        if (!S_ISREG(after.st_mode)) return {Reason::NotRegularFile};
        // One read takes a local file whole, which the measurement after it
        // shows; a read cut short of that size reads on.
        if (got >= 0 && got < after.st_size && got <= kSmallFile) {
            const long long more =
                io::ReadAt(in.get(), at + got, kSmallFile + 1 - got, got, &readErr);
            got = more < 0 ? -1 : got + more;
        }
        if (got < 0) return {Reason::ReadFailed, readErr};
        if (out_.Replaces(after.st_dev, after.st_ino)) return {Reason::OutputInTree};
        if (trustTimes) {
            if (got > kSmallFile) return CopyLarge(in.get(), f, after);
            if (!SettledBefore(after, opened_)) {
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
        Stamp(after);
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
        const long long copied =
            out_.CopyFrom(in, 0, next_, before.st_size, io::WritebackPacer::Long(before.st_size));
        if (copied < 0) return WriteError();
        struct stat after {};
        if (::fstat(in, &after) != 0) return {Reason::ReadFailed, errno};
        // A file cut or extended while it was read fails, however much of the
        // change the copy happened to see.
        if (copied != before.st_size || !io::SameFileState(before, after) ||
            (listing_.measured() && copied != f.size))
            return {Reason::FileChanged};
        Stamp(after);
        f.size = qint32(copied);
        next_ += copied;
        bufferStart_ = next_;
        writeback_.Copied(copied, next_);
        return {};
    }

    Failure WriteError() const { return {Reason::WriteFailed, out_.error()}; }

    // The file copied, as measured after its bytes were read.
    void Stamp(const struct stat& after) {
        if (unwritten_ && quint64(after.st_dev) == device_ && SettledBefore(after, opened_))
            stamp_ = StampOf(after);
    }

    // Everything before `end` is written: start the disk on what is new.
    void Written(qint64 end) { writeback_.Written(end); }

    const quint64 device_;
    OutputArchive& out_;
    const Listing& listing_;
    qint64 next_;  // where the next file's bytes go
    qint64 bufferStart_;
    qint64 buffered_ = 0;
    io::WritebackPacer writeback_;
    std::unique_ptr<char[]> buffer_;
    qint64 opened_ = 0;       // CoarseNowNs() before the file being copied was opened
    bool unwritten_ = false;  // and nothing had it open for writing then (NoWriters)
    FileStamp stamp_;
    std::vector<FileStamp> stamps_;
};

// The tree's Version and Version/Data folders: NoTree when either is not
// there, CannotReadFolder (errno) when one is there but cannot be read.
Failure OpenTree(const QString& root, io::Fd& version, io::Fd& data) {
    const QByteArray rootNative = io::NativePath(root.isEmpty() ? QStringLiteral(".") : root);
    const io::Fd rootFd(::open(rootNative.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) return Failure::Path(Reason::CannotOpenFolder, errno, root);
    version = io::Fd(::openat(rootFd.get(), "Version", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int openErr = version ? 0 : errno;
    data =
        io::Fd(version ? ::openat(version.get(), "Data", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    if (version && !data) openErr = errno;
    if (openErr != 0 && openErr != ENOENT && openErr != ENOTDIR)
        return Failure::Path(
            Reason::CannotReadFolder, openErr,
            root + (version ? QStringLiteral("/Version/Data") : QStringLiteral("/Version")));
    if (!version || !data) return Failure::Path(Reason::NoTree, 0, root);
    return {};
}

// Lists the files of both groups and checks their names (see Listing).
Failure ListTree(Listing& listing, int data, int version, std::vector<Failure>& warnings) {
    if (Failure f = listing.Add(data, 0, warnings); f.reason != Reason::None) return f;
    if (Failure f = listing.Add(version, 1, warnings); f.reason != Reason::None) return f;
    return listing.Check();
}

// Copies the listed files' bytes into `out`, back to back after the
// directory, learning each one's size; Outcome::Stopped when asked to stop
// between two files. `stamps` learns the stamps of the files on `device`
// (0: none).
Result CopyFiles(OutputArchive& out, Listing& listing, int data, int version,
                 const PackProgress& progress, const StopFlag* stop, quint64 device,
                 std::vector<FileStamp>& stamps) {
    std::vector<Listed>& files = listing.files();
    const qint64 n = qint64(files.size());
    DataWriter writer(out, listing, DirectoryEnd(n), device);
    OpenFolders folders(listing, data, version);
    for (qint64 i = 0; i < n; ++i) {
        Listed& f = files[size_t(i)];
        if (progress) {
            const QString entry = listing.Entry(f);
            progress({i, n, entry, f.size, listing.total()});
        }
        if (stop && stop->requested) return Result::Stopped();
        bool localTimes = false;
        const int dirfd = folders.Get(f.folder, &localTimes);
        // A folder swapped for a link or removed since it was listed.
        if (dirfd < 0) return Result::Unusable(listing.ReadError(f.folder, errno));
        if (Failure why = writer.Copy(dirfd, localTimes, f); why.reason != Reason::None)
            return Result::Unusable(std::move(why));
    }
    if (!writer.Flush()) return Result::Unusable({Reason::WriteFailed, out.error()});
    stamps = std::move(writer.stamps());
    return {};
}

// Writes the header and a record for every listed file, whose data lie back
// to back after the directory in the listing's order.
bool WriteDirectory(OutputArchive& out, const Listing& listing) {
    const std::vector<Listed>& files = listing.files();
    const qint64 n = qint64(files.size());
    RecordWriter records(
        [&](const char* bytes, qint64 length, qint64 at) { return out.Write(bytes, length, at); },
        0, HeaderBytes(qint32(n)));
    qint64 offset = DirectoryEnd(n);
    for (const Listed& f : files) {
        if (!records.Add(qint32(offset), f.size, *listing.Encoded(f))) return false;
        offset += f.size;
    }
    return records.Finish();
}

}  // namespace

Result Pack(const QString& root, const QString& archivePath, const PackProgress& progress,
            const StopFlag* stop, SubFolders subFolders, bool dryRun, TreeStamps* stamps) {
    io::Fd version, data;
    if (Failure f = OpenTree(root, version, data); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    // The target is looked at first: a folder or a device there is refused
    // before any work, and an old archive inside the tree is left out.
    OutputArchive out;
    if (Failure f = out.Create(archivePath, nullptr, !dryRun); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    Result r;
    Listing listing(out, bool(progress), subFolders, root);
    if (Failure f = ListTree(listing, data.get(), version.get(), r.warnings);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    // The data first, from the end of the directory on; the directory once
    // every size is known.
    const qint64 n = qint64(listing.files().size());
    if (DirectoryEnd(n) + listing.total() > kMaxArchiveBytes)
        return Result::Unusable(Failure::Path(Reason::TooLarge, 0, archivePath));
    if (dryRun) {
        // What would be packed, in order, through the progress hook; nothing is written.
        const std::vector<Listed>& files = listing.files();
        for (qint64 i = 0; i < n; ++i) {
            const Listed& f = files[size_t(i)];
            if (progress) progress({i, n, listing.Entry(f), f.size, listing.total()});
            if (stop && stop->requested) return Result::Stopped();
        }
        r.done = n;
        return r;
    }
    std::vector<FileStamp> made;
    struct stat tree {};
    const bool stamping = stamps && ::fstat(version.get(), &tree) == 0;
    Result copied = CopyFiles(out, listing, data.get(), version.get(), progress, stop,
                              stamping ? quint64(tree.st_dev) : 0, made);
    if (copied.outcome == Outcome::Unusable && copied.failure.subject.isEmpty())
        copied.failure.subject = archivePath;
    if (!copied.ok()) return copied;  // `out` is discarded unpublished
    if (!WriteDirectory(out, listing))
        return Result::Unusable(Failure::Path(Reason::WriteFailed, out.error(), archivePath));
    if (Failure f = out.Publish(r.warnings); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    r.done = n;
    r.written = out.published();
    if (stamping)
        *stamps = {r.written, quint64(tree.st_dev), quint64(tree.st_ino), MountOf(version.get()),
                   std::move(made)};
    return r;
}

}  // namespace kbx
