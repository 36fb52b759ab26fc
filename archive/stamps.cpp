#include "archive/stamps.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <array>
#include <csignal>
#include <ctime>
#include <type_traits>

#include "archive/file_io.h"

namespace kbx {

namespace {

// The file: these words in the machine's own byte order (the cache is the
// machine's), then three words an entry (inode, change time, size), then
// the FNV-1a sum of the words before it.
constexpr quint64 kMagic = 0x31504d5453584251ULL;  // "QBXSTMP1"
// Its head: the magic, the archive's identity (5 words), the tree's device,
// inode and mount, the machine's start, the count.
constexpr size_t kHead = 11;
constexpr size_t kEntryWords = 3;
static_assert(sizeof(FileStamp) == kEntryWords * 8 && std::is_trivially_copyable_v<FileStamp>);

// io::Fnv1a a word at a time, not a byte: a tree's stamps are summed at
// every update, and eight times fewer steps cost a few milliseconds less.
quint64 Sum(quint64 h, const quint64* words, size_t n) {
    for (size_t k = 0; k < n; ++k) h = (h ^ words[k]) * io::kFnvPrime;
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

bool NoWriters(int fd) {
    // SIGURG, not SIGIO, tells a break: SIGIO would end the process.
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0 || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) return false;
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return true;
}

quint64 MountOf(int fd) {
    constexpr unsigned kUniqueMountId = 0x4000;  // STATX_MNT_ID_UNIQUE, where headers lack it
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, kUniqueMountId, &sx) != 0 || !(sx.stx_mask & kUniqueMountId))
        return 0;
    return sx.stx_mnt_id;
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

namespace {

// The words of the head of stamps' file.
using Head = std::array<quint64, kHead>;

// This run of the machine: the sum of its boot identifier (0 where unknown).
quint64 Boot() {
    static const quint64 boot = [] {
        QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        const QByteArray id = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return id.isEmpty() ? 0 : io::Fnv1a(io::kFnvStart, id.constData(), id.size());
    }();
    return boot;
}

Head HeadOf(const FileIdentity& a, quint64 device, quint64 inode, quint64 mount, qint64 count) {
    return {kMagic, a.device, a.inode, quint64(a.size), quint64(a.modifiedNs), quint64(a.changedNs),
            device, inode,    mount,   Boot(),          quint64(count)};
}

// The sum of the head and the entries' words.
quint64 SumOf(const Head& head, const std::vector<FileStamp>& entries) {
    return Sum(Sum(io::kFnvStart, head.data(), head.size()),
               reinterpret_cast<const quint64*>(entries.data()), entries.size() * kEntryWords);
}

}  // namespace

bool LoadStamps(const QString& folder, const FileIdentity& archive, qint64 count, quint64 device,
                quint64 inode, quint64 mount, TreeStamps& out) {
    out = {archive, device, inode, mount, {}};
    const QByteArray path = io::NativePath(folder) + '/' + FileName(archive);
    io::Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    const qint64 body = count * qint64(sizeof(FileStamp)), head = qint64(sizeof(Head));
    struct stat st {};
    // Only the user's own stamps, which no one else may have written.
    if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_size != head + body + 8 ||
        st.st_uid != ::geteuid() || (st.st_mode & 022) != 0 || mount == 0 || Boot() == 0)
        return false;
    const Head expected = HeadOf(archive, device, inode, mount, count);
    Head found{};
    quint64 sum = 0;
    int err = 0;
    out.entries.resize(size_t(count));
    const bool read =
        io::ReadAt(fd.get(), reinterpret_cast<char*>(found.data()), head, 0, &err) == head &&
        io::ReadAt(fd.get(), reinterpret_cast<char*>(out.entries.data()), body, head, &err) ==
            body &&
        io::ReadAt(fd.get(), reinterpret_cast<char*>(&sum), 8, head + body, &err) == 8;
    if (read && found == expected && SumOf(found, out.entries) == sum) return true;
    out.entries.clear();
    return false;
}

void SaveStamps(const QString& folder, const TreeStamps& stamps, const FileIdentity& replaced) {
    if (stamps.archive.size < 0 || stamps.mount == 0 || Boot() == 0 || !QDir().mkpath(folder))
        return;
    const QByteArray native = io::NativePath(folder);
    io::Fd dir(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return;
    const Head head = HeadOf(stamps.archive, stamps.device, stamps.inode, stamps.mount,
                             qint64(stamps.entries.size()));
    const quint64 sum = SumOf(head, stamps.entries);
    const qint64 body = qint64(stamps.entries.size() * sizeof(FileStamp));
    // Whole or not at all; not flushed: stamps lost in a crash are only read
    // again, and a torn file fails its sum.
    io::AtomicFile file;
    int err = 0;
    const QByteArray name = FileName(stamps.archive);
    if (!file.Create(dir.get(), name, &err) ||
        !file.Write(reinterpret_cast<const char*>(head.data()), sizeof(Head), 0) ||
        !file.Write(reinterpret_cast<const char*>(stamps.entries.data()), body, sizeof(Head)) ||
        !file.Write(reinterpret_cast<const char*>(&sum), 8, qint64(sizeof(Head)) + body) ||
        !file.Commit(false, &err))
        return;
    if (const QByteArray old = FileName(replaced); old != name)
        ::unlinkat(dir.get(), old.constData(), 0);
}

}  // namespace kbx
