#include "archive/stamps.h"

#include <QDir>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <cstring>
#include <ctime>

#include "archive/file_io.h"

namespace kbx {

namespace {

// The file: these words in the machine's own byte order (the cache is the
// machine's), then three words an entry (inode, change time, size), then
// the FNV-1a sum of the words before it.
constexpr quint64 kMagic = 0x31504d5453584251ULL;  // "QBXSTMP1"
enum : size_t {
    kMagicWord,
    kDevice,
    kInode,
    kSize,
    kModified,
    kChanged,
    kTreeDevice,
    kTreeInode,
    kCount,
    kHead
};
constexpr size_t kEntryWords = 3;

quint64 Sum(const quint64* words, size_t n) {
    quint64 h = 0xcbf29ce484222325ULL;
    for (size_t k = 0; k < n; ++k) h = (h ^ words[k]) * 0x100000001b3ULL;
    return h;
}

QByteArray FileName(const FileIdentity& archive) {
    return QByteArray::number(archive.device, 16) + '-' + QByteArray::number(archive.inode, 16);
}

}  // namespace

bool LocalTimes(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
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

qint64 CoarseNowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return io::Nanoseconds(now);
}

bool SettledBefore(const struct stat& st, qint64 momentNs) {
    const qint64 margin = st.st_ctim.tv_nsec != 0 ? 50'000'000 : 2'000'000'000;
    return io::Nanoseconds(st.st_ctim) < momentNs - margin;
}

FileStamp StampOf(const struct stat& st) {
    return {quint64(st.st_ino), io::Nanoseconds(st.st_ctim), qint64(st.st_size)};
}

bool TreeStamps::Unchanged(qint64 i, qint64 size, const struct stat& st) const {
    if (size_t(i) >= entries.size() || !S_ISREG(st.st_mode) || quint64(st.st_dev) != device)
        return false;
    const FileStamp& s = entries[size_t(i)];
    return s.inode != 0 && s.size == size && s == StampOf(st);
}

bool LoadStamps(const QString& folder, const FileIdentity& archive, qint64 count, quint64 device,
                quint64 inode, TreeStamps& out) {
    out = {archive, device, inode, {}};
    const QByteArray path = io::NativePath(folder) + '/' + FileName(archive);
    io::Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    const size_t words = kHead + size_t(count) * kEntryWords + 1;
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || quint64(st.st_size) != words * 8) return false;
    std::vector<quint64> w(words);
    int err = 0;
    if (io::ReadAt(fd.get(), reinterpret_cast<char*>(w.data()), st.st_size, 0, &err) != st.st_size)
        return false;
    const FileIdentity made{w[kDevice], w[kInode], qint64(w[kSize]), qint64(w[kModified]),
                            qint64(w[kChanged])};
    if (w[kMagicWord] != kMagic || made != archive || w[kTreeDevice] != device ||
        w[kTreeInode] != inode || w[kCount] != quint64(count) ||
        Sum(w.data(), words - 1) != w.back())
        return false;
    out.entries.resize(size_t(count));
    for (size_t i = 0; i < size_t(count); ++i) {
        const quint64* e = w.data() + kHead + i * kEntryWords;
        out.entries[i] = {e[0], qint64(e[1]), qint64(e[2])};
    }
    return true;
}

void SaveStamps(const QString& folder, const TreeStamps& stamps, const FileIdentity& replaced) {
    if (stamps.archive.size < 0 || !QDir().mkpath(folder)) return;
    const QByteArray native = io::NativePath(folder);
    io::Fd dir(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return;
    const FileIdentity& a = stamps.archive;
    std::vector<quint64> w{kMagic,
                           a.device,
                           a.inode,
                           quint64(a.size),
                           quint64(a.modifiedNs),
                           quint64(a.changedNs),
                           stamps.device,
                           stamps.inode,
                           quint64(stamps.entries.size())};
    w.reserve(kHead + stamps.entries.size() * kEntryWords + 1);
    for (const FileStamp& s : stamps.entries) {
        w.push_back(s.inode);
        w.push_back(quint64(s.changedNs));
        w.push_back(quint64(s.size));
    }
    w.push_back(Sum(w.data(), w.size()));
    // Whole or not at all; not flushed: stamps lost in a crash are only read
    // again, and a torn file fails its sum.
    io::AtomicFile file;
    int err = 0;
    const QByteArray name = FileName(a);
    if (!file.Create(dir.get(), name, &err) ||
        !file.Write(reinterpret_cast<const char*>(w.data()), qint64(w.size() * 8), 0) ||
        !file.Commit(false, &err))
        return;
    if (const QByteArray old = FileName(replaced); old != name)
        ::unlinkat(dir.get(), old.constData(), 0);
}

}  // namespace kbx
