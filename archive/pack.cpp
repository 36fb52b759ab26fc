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

QString Refusal(const QString& reason) {
    return QStringLiteral("Архив не создан: ") + reason;
}

// Regular files, and links to regular files, directly inside `dirfd`, in
// case-insensitive name order. Hidden files are included.
bool ListFolder(int dirfd, const QString& prefix, std::vector<Source>& out, QString* error) {
    const int dupfd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    DIR* d = dupfd >= 0 ? ::fdopendir(dupfd) : nullptr;
    if (!d) {
        if (dupfd >= 0) ::close(dupfd);
        *error = QStringLiteral("не удалось прочитать папку ") + prefix + QStringLiteral(": ") +
                 io::ErrorText(errno);
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
        *error = QStringLiteral("не удалось прочитать папку ") + prefix + QStringLiteral(": ") +
                 io::ErrorText(readErr);
        return false;
    }
    std::sort(found.begin(), found.end(), [](const Source& a, const Source& b) {
        const int c = QString::compare(a.display, b.display, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.native < b.native;
    });
    for (Source& s : found) {
        const QString entry = prefix + s.display;
        if (s.display.contains(u'\\'))
            return *error = entry + QStringLiteral(": имя содержит «\\»"), false;
        // Windows-1251 keeps ASCII as it is; only other names need the
        // converter, whose set-up costs more than the encoding itself.
        std::optional<QByteArray> bytes = IsAscii(entry) ? entry.toLatin1() : EncodeName(entry);
        if (!bytes)
            return *error =
                       entry + QStringLiteral(": имя нельзя записать в кодировке Windows-1251"),
                   false;
        if (bytes->size() > kNameSize)
            return *error = entry + QStringLiteral(": имя длиннее %1 байт").arg(kNameSize), false;
        // A name that extraction refuses would make an archive that cannot
        // be unpacked whole: a control character in a file name, say.
        if (QString why = NameProblem(entry); !why.isEmpty())
            return *error = entry + QStringLiteral(": ") + why, false;
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
    explicit DataWriter(int out) : out_(out), buffer_(new char[size_t(kBufferSize)]) {}

    // Returns an empty string on success, else the reason. The file must
    // still be exactly as long as it was when it was measured.
    QString Copy(const Source& s) {
        int err = 0;
        long long size = 0;
        io::Fd in = io::OpenRegularForRead(s.folder, s.native.constData(), &size, &err);
        if (!in) return QStringLiteral("не удалось открыть: ") + io::ErrorText(err);
        if (size != s.size) return Changed();
        if (s.size < kSmallFile) {
            if (bufferStart_ + buffered_ != s.offset || buffered_ + s.size + 1 > kBufferSize) {
                if (!Flush(&err)) return WriteError(err);
                bufferStart_ = s.offset;
            }
            // One byte more than expected: a file that grew reads it.
            const long long got =
                io::ReadAt(in.get(), buffer_.get() + buffered_, s.size + 1, 0, &err);
            if (got < 0) return QStringLiteral("ошибка чтения: ") + io::ErrorText(err);
            if (got != s.size) return Changed();
            buffered_ += s.size;
            return {};
        }
        if (!Flush(&err)) return WriteError(err);
        const long long copied = io::CopyInPieces(in.get(), 0, out_, s.offset, s.size, true, &err);
        if (copied < 0) return WriteError(err);
        if (copied != s.size) return Changed();
        started_ = s.offset + s.size;  // its writeback has started
        // Measured again once copied: a file cut or extended while it was
        // read fails, however much of the change the copy happened to see.
        struct stat st;
        if (::fstat(in.get(), &st) != 0 || st.st_size != s.size) return Changed();
        return {};
    }

    bool Flush(int* err) {
        if (buffered_ == 0) return true;
        if (!io::WriteAll(out_, buffer_.get(), buffered_, bufferStart_, err)) return false;
        Written(bufferStart_ + buffered_);
        bufferStart_ += buffered_;
        buffered_ = 0;
        return true;
    }

  private:
    static constexpr qint64 kBufferSize = 1 << 20;
    static constexpr qint64 kSmallFile = 64 << 10;

    static QString Changed() { return QStringLiteral("файл изменился во время упаковки"); }
    static QString WriteError(int err) {
        return QStringLiteral("ошибка записи: ") + io::ErrorText(err);
    }

    // Everything before `end` is written: start the disk on what is new.
    void Written(qint64 end) {
        if (end - started_ < io::kCopyPiece) return;
        io::StartWriteback(out_, started_, end - started_);
        started_ = end;
    }

    int out_;
    std::unique_ptr<char[]> buffer_;
    qint64 bufferStart_ = 0;
    qint64 buffered_ = 0;
    qint64 started_ = 0;
};

}  // namespace

Result Pack(const QString& root, const QString& archivePath) {
    int err = 0;
    const QByteArray rootNative = io::NativePath(root.isEmpty() ? QStringLiteral(".") : root);
    io::Fd rootFd(::open(rootNative.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd)
        return Result::Unusable(Refusal(QStringLiteral("не удалось открыть папку ") + root));
    io::Fd version(::openat(rootFd.get(), "Version", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int openErr = version ? 0 : errno;
    io::Fd data(version ? ::openat(version.get(), "Data", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    if (version && !data) openErr = errno;
    // A folder that is there but cannot be read is named with the reason.
    if (openErr != 0 && openErr != ENOENT && openErr != ENOTDIR)
        return Result::Unusable(
            Refusal(QStringLiteral("не удалось открыть папку ") + root +
                    (version ? QStringLiteral("/Version/Data") : QStringLiteral("/Version")) +
                    QStringLiteral(": ") + io::ErrorText(openErr)));
    if (!version || !data)
        return Result::Unusable(Refusal(QStringLiteral("в папке ") + root +
                                        QStringLiteral(" нет папок Version и Version/Data")));

    std::vector<Source> sources;
    QString problem;
    if (!ListFolder(data.get(), QStringLiteral("Version\\Data\\"), sources, &problem) ||
        !ListFolder(version.get(), QStringLiteral("Version\\"), sources, &problem))
        return Result::Unusable(Refusal(problem));

    const qint64 n = qint64(sources.size());
    qint64 next = DirectoryEnd(n);
    for (Source& s : sources) {
        s.offset = next;
        next += s.size;
    }
    if (next > kMaxArchiveBytes)
        return Result::Unusable(
            Refusal(QStringLiteral("данные больше 2 147 483 647 байт, предела формата")));

    const QFileInfo target(archivePath);
    const QByteArray targetDir = io::NativePath(target.absolutePath());
    io::Fd targetDirFd(::open(targetDir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!targetDirFd)
        return Result::Unusable(
            Refusal(QStringLiteral("не удалось открыть папку ") + target.absolutePath()));
    io::AtomicFile out;
    if (!out.Create(targetDirFd.get(), io::NativePath(target.fileName()), &err))
        return Result::Unusable(Refusal(archivePath + QStringLiteral(": ") + io::ErrorText(err)));

    // Header and directory first, in bounded blocks, then each file's data.
    QByteArray block = HeaderBytes(qint32(n));
    qint64 written = 0;
    const auto flush = [&] {
        if (!io::WriteAll(out.fd(), block.constData(), block.size(), written, &err)) return false;
        written += block.size();
        block.clear();
        return true;
    };
    for (const Source& s : sources) {
        AppendRecord(block, qint32(s.offset), qint32(s.size), s.encoded);
        if (block.size() >= kDirectoryBlock && !flush()) break;
    }
    if (err != 0 || !flush())
        return Result::Unusable(Refusal(archivePath + QStringLiteral(": ") + io::ErrorText(err)));
    DataWriter writer(out.fd());
    for (const Source& s : sources) {
        if (QString reason = writer.Copy(s); !reason.isEmpty())
            return Result::Unusable(Refusal(s.entry + QStringLiteral(": ") + reason));
    }
    if (!writer.Flush(&err))
        return Result::Unusable(Refusal(archivePath + QStringLiteral(": ") + io::ErrorText(err)));
    if (!out.Commit(true, &err))
        return Result::Unusable(Refusal(archivePath + QStringLiteral(": ") + io::ErrorText(err)));
    io::Fsync(targetDirFd.get(), &err);
    Result r;
    r.written = n;
    return r;
}

}  // namespace kbx
