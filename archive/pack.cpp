#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <memory>

#include "archive/archive.h"
#include "archive/file_io.h"

namespace kbx {

namespace {

// The directory is written in blocks of about this size, so that its size in
// memory stays bounded whatever the number of files.
constexpr qint64 kDirectoryBlock = 1 << 20;

struct Source {
    int folder;          // descriptor of Version or Version/Data
    QByteArray native;   // the file's name on disk
    QString display;     // the same name as text
    QString entry;       // the entry name, "Version\\..."
    QByteArray encoded;  // the entry name in the archive's code page
    qint64 size = 0;
    qint64 offset = 0;
};

bool IsAscii(QStringView text) {
    for (QChar c : text) {
        if (c.unicode() >= 0x80) return false;
    }
    return true;
}

// Regular files, and links to regular files, directly inside `dirfd`, in
// case-insensitive name order. Hidden files are included.
bool ListFolder(int dirfd, const QString& prefix, std::vector<Source>& out, Failure* error) {
    const int dupfd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    DIR* d = dupfd >= 0 ? ::fdopendir(dupfd) : nullptr;
    if (!d) {
        *error = {Reason::CannotReadFolder, errno, {}, -1, prefix};
        if (dupfd >= 0) ::close(dupfd);
        return false;
    }
    ::rewinddir(d);
    std::vector<Source> found;
    // errno is cleared before every readdir: a skipped entry's failed stat
    // (a dangling link) must not read as a failed read of the folder.
    for (errno = 0; dirent* e = ::readdir(d); errno = 0) {
        const QByteArray native(e->d_name);
        if (native == "." || native == "..") continue;
        struct stat st;
        if (::fstatat(dirfd, e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        Source s;
        s.folder = dirfd;
        s.native = native;
        s.display = QFile::decodeName(native);
        s.size = st.st_size;
        found.push_back(std::move(s));
    }
    const int readErr = errno;
    ::closedir(d);
    if (readErr != 0) {
        *error = {Reason::CannotReadFolder, readErr, {}, -1, prefix};
        return false;
    }
    std::sort(found.begin(), found.end(), [](const Source& a, const Source& b) {
        const int c = QString::compare(a.display, b.display, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.native < b.native;
    });
    for (Source& s : found) {
        const QString entry = prefix + s.display;
        Failure bad{Reason::UnsafeName, 0, NameRule::None, -1, entry};
        if (s.display.contains(u'\\')) bad.rule = NameRule::Backslash;
        // Windows-1251 keeps ASCII as it is; only other names need the
        // converter, whose set-up costs more than the encoding itself.
        std::optional<QByteArray> bytes = IsAscii(entry) ? entry.toLatin1() : EncodeName(entry);
        if (bad.rule == NameRule::None && !bytes) bad.rule = NameRule::NotEncodable;
        if (bad.rule == NameRule::None && bytes->size() > kNameSize) bad.rule = NameRule::TooLong;
        // A name that extraction refuses would make an archive that cannot
        // be unpacked whole: a control character in a file name, say.
        if (bad.rule == NameRule::None) bad.rule = NameProblem(entry, &bad.detail);
        if (bad.rule != NameRule::None) return *error = std::move(bad), false;
        s.encoded = std::move(*bytes);
        s.entry = entry;
        out.push_back(std::move(s));
    }
    return true;
}

// Writes the sources' bytes into the archive. Small files are gathered in a
// bounded buffer and written in large blocks, as their bytes are contiguous
// in the archive; large ones are copied by the kernel (see io::CopyInPieces). Disk
// writes are started as the archive grows, so the final flush, which the
// archive needs before it may replace an existing one, finds little left.
class DataWriter {
  public:
    explicit DataWriter(io::AtomicFile& out) : out_(out), buffer_(new char[size_t(kBufferSize)]) {}

    // Returns Reason::None on success, else why the file failed. The file
    // must still be exactly as long as it was when it was measured.
    Failure Copy(const Source& s) {
        Failure f = CopyFile(s);
        if (f.reason != Reason::None) f.subject = s.entry;
        return f;
    }

    bool Flush(int* err) {
        if (buffered_ == 0) return true;
        if (!out_.Write(buffer_.get(), buffered_, bufferStart_)) return *err = out_.error(), false;
        Written(bufferStart_ + buffered_);
        bufferStart_ += buffered_;
        buffered_ = 0;
        return true;
    }

  private:
    static constexpr qint64 kBufferSize = 1 << 20;
    static constexpr qint64 kSmallFile = 64 << 10;

    static Failure Changed() { return {Reason::FileChanged}; }
    static Failure WriteError(int err) { return {Reason::WriteFailed, err}; }

    Failure CopyFile(const Source& s) {
        int err = 0;
        long long size = 0;
        io::Fd in = io::OpenRegularForRead(s.folder, s.native.constData(), &size, &err);
        if (!in) return {Reason::CannotOpenFile, err};
        if (size != s.size) return Changed();
        if (s.size < kSmallFile) {
            if (bufferStart_ + buffered_ != s.offset || buffered_ + s.size + 1 > kBufferSize) {
                if (!Flush(&err)) return WriteError(err);
                bufferStart_ = s.offset;
            }
            // One byte more than expected: a file that grew reads it.
            const long long got =
                io::ReadAt(in.get(), buffer_.get() + buffered_, s.size + 1, 0, &err);
            if (got < 0) return {Reason::ReadFailed, err};
            if (got != s.size) return Changed();
            buffered_ += s.size;
            return {};
        }
        if (!Flush(&err)) return WriteError(err);
        const long long copied = out_.CopyFrom(in.get(), 0, s.offset, s.size, true);
        if (copied < 0) return WriteError(out_.error());
        if (copied != s.size) return Changed();
        started_ = s.offset + s.size;  // its writeback has started
        // Measured again once copied: a file cut or extended while it was
        // read fails, however much of the change the copy happened to see.
        struct stat st;
        if (::fstat(in.get(), &st) != 0 || st.st_size != s.size) return Changed();
        return {};
    }

    // Everything before `end` is written: start the disk on what is new.
    void Written(qint64 end) {
        if (end - started_ < io::kCopyPiece) return;
        out_.StartWriteback(started_, end - started_);
        started_ = end;
    }

    io::AtomicFile& out_;
    std::unique_ptr<char[]> buffer_;
    qint64 bufferStart_ = 0;
    qint64 buffered_ = 0;
    qint64 started_ = 0;
};

}  // namespace

Result Pack(const QString& root, const QString& archivePath, const PackProgress& progress,
            const StopFlag* stop) {
    int err = 0;
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

    std::vector<Source> sources;
    Failure problem;
    if (!ListFolder(data.get(), QStringLiteral("Version\\Data\\"), sources, &problem) ||
        !ListFolder(version.get(), QStringLiteral("Version\\"), sources, &problem))
        return Result::Unusable(std::move(problem));

    const qint64 n = qint64(sources.size());
    qint64 next = DirectoryEnd(n);
    for (Source& s : sources) {
        s.offset = next;
        next += s.size;
    }
    if (next > kMaxArchiveBytes)
        return Result::Unusable({Reason::TooLarge, 0, {}, -1, archivePath});

    const QFileInfo target(archivePath);
    const QByteArray targetDir = io::NativePath(target.absolutePath());
    io::Fd targetDirFd(::open(targetDir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!targetDirFd)
        return Result::Unusable({Reason::CannotOpenFolder, errno, {}, -1, target.absolutePath()});
    const auto failed = [&](Reason why, int error) {
        return Result::Unusable({why, error, {}, -1, archivePath});
    };
    io::AtomicFile out;
    if (!out.Create(targetDirFd.get(), io::NativePath(target.fileName()), &err))
        return failed(Reason::CannotCreateArchive, err);

    // Header and directory first, in bounded blocks, then each file's data.
    QByteArray block = HeaderBytes(qint32(n));
    qint64 written = 0;
    const auto flush = [&] {
        if (!out.Write(block.constData(), block.size(), written)) return false;
        written += block.size();
        block.clear();
        return true;
    };
    for (const Source& s : sources) {
        AppendRecord(block, qint32(s.offset), qint32(s.size), s.encoded);
        if (block.size() >= kDirectoryBlock && !flush()) break;
    }
    if (out.error() != 0 || !flush()) return failed(Reason::WriteFailed, out.error());
    DataWriter writer(out);
    for (qint64 i = 0; i < n; ++i) {
        const Source& s = sources[size_t(i)];
        if (progress) progress({i, n, s.entry, s.size, next - DirectoryEnd(n)});
        if (stop && stop->requested) {
            Result r;  // `out` is discarded unpublished
            r.outcome = Outcome::Stopped;
            return r;
        }
        if (Failure f = writer.Copy(s); f.reason != Reason::None)
            return Result::Unusable(std::move(f));
    }
    if (!writer.Flush(&err)) return failed(Reason::WriteFailed, err);
    if (!out.Commit(true, &err)) return failed(Reason::WriteFailed, err);
    Result r;
    r.written = n;
    // The archive is complete under its name; a folder that cannot be
    // flushed leaves only the name's durability in doubt, so it warns.
    if (!io::Fsync(targetDirFd.get(), &err))
        r.warnings.push_back({Reason::FolderNotFlushed, err, {}, -1, target.absolutePath()});
    return r;
}

}  // namespace kbx
