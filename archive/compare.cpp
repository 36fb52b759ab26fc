#include "archive/compare.h"

#include <QFile>
#include <QHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <numeric>

#include "archive/archive_file.h"

namespace kbx {

namespace {

// Deeper folders cannot hold a name that fits an entry's 128 bytes.
constexpr int kMaxDepth = 64;
constexpr long long kBuffer = 1 << 20;
// An archive's entries are read through a window of this many bytes.
constexpr qint64 kWindow = 1 << 20;

struct Found {
    QString name;      // "Version\..." as an entry would be named
    quint32 folder;    // its folder, by index in Listing::folders
    QByteArray leaf;   // its name in that folder
    qint64 size = -1;  // -1: not measured yet
};

struct Listing {
    std::vector<Found> found;
    std::vector<QByteArray> folders;  // beneath the root, "/" between folders
};

// Adds the regular files beneath `dirfd` (links to files followed, links to
// folders not) as `prefix` + name. The folder listing's kinds spare a
// status call for most names: files are measured when they are compared.
Failure Walk(int dirfd, const QString& prefix, const QByteArray& native, int depth, Listing& out,
             const StopFlag* stop) {
    const int dupfd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, int (*)(DIR*)> d(dupfd >= 0 ? ::fdopendir(dupfd) : nullptr, ::closedir);
    if (!d) {
        const int err = errno;
        if (dupfd >= 0) ::close(dupfd);
        return Failure::Path(Reason::CannotReadFolder, err, QFile::decodeName(native));
    }
    const quint32 folder = quint32(out.folders.size());
    out.folders.push_back(native);
    for (errno = 0; dirent* e = ::readdir(d.get()); errno = 0) {
        if (stop && stop->requested) return {};
        const QByteArray entry(e->d_name);
        if (entry == "." || entry == ".." || io::IsTemporaryName(entry)) continue;
        unsigned char type = e->d_type;
        qint64 size = -1;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat st {};
            if (::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            const bool link = S_ISLNK(st.st_mode);
            if (link && ::fstatat(dirfd, e->d_name, &st, 0) != 0) continue;
            type = S_ISREG(st.st_mode)            ? DT_REG
                   : S_ISDIR(st.st_mode) && !link ? DT_DIR
                                                  : DT_UNKNOWN;
            size = qint64(st.st_size);
        }
        const QString name = prefix + QFile::decodeName(entry);
        if (type == DT_DIR) {
            if (depth >= kMaxDepth) continue;
            const QByteArray file = native + '/' + entry;
            io::Fd sub(::openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub && errno == ENOENT) continue;  // gone since it was listed
            if (!sub)
                return Failure::Path(Reason::CannotReadFolder, errno, QFile::decodeName(file));
            if (Failure f = Walk(sub.get(), name + u'\\', file, depth + 1, out, stop);
                f.reason != Reason::None)
                return f;
            continue;
        }
        if (type == DT_REG) out.found.push_back({name, folder, entry, size});
    }
    if (errno != 0)
        return Failure::Path(Reason::CannotReadFolder, errno, QFile::decodeName(native));
    return {};
}

}  // namespace

Result Contents::OpenTree(const QString& path, const StopFlag* stop) {
    const QByteArray native = io::NativePath(path);
    io::Fd root(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) return Result::Unusable(Failure::Path(Reason::CannotOpenFolder, errno, path));
    io::Fd version(
        ::openat(root.get(), "Version", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!version) return Result::Unusable(Failure::Path(Reason::NoTree, 0, path));
    Listing listing;
    if (Failure f = Walk(version.get(), QStringLiteral("Version\\"), "Version", 1, listing, stop);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    if (stop && stop->requested) return Result::Stopped();
    std::vector<Found>& found = listing.found;
    std::vector<QString> keys;
    keys.reserve(found.size());
    for (const Found& f : found) keys.push_back(NameKey(f.name));
    std::vector<size_t> order(found.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        return std::tie(keys[x], found[x].name) < std::tie(keys[y], found[y].name);
    });
    for (size_t k : order) {
        names_.push_back(std::move(found[k].name));
        sizes_.push_back(found[k].size);
        folderOf_.push_back(found[k].folder);
        leaves_.push_back(std::move(found[k].leaf));
    }
    folders_ = std::move(listing.folders);
    tree_ = true;
    return {};
}

Result Contents::Open(const QString& path, const StopFlag* stop) {
    path_ = path;
    struct stat st {};
    if (::stat(io::NativePath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return OpenTree(path, stop);
    if (Result r = ReadArchive(path, owned_, {}, stop); !r.ok()) return r;
    return Open(owned_);
}

Result Contents::Open(const Directory& dir) {
    dir_ = &dir;
    path_ = dir.ArchivePath;
    if (Failure f = OpenLoaded(dir, archive_, &archiveSize_); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    return {};
}

QString Contents::FilePath(qint64 i) const {
    return path_ + u'/' +
           QFile::decodeName(folders_[folderOf_[size_t(i)]] + '/' + leaves_[size_t(i)]);
}

// Opens a tree's file through its folder, which stays open for the next
// files: they are compared in name order, folder by folder. Its size is
// learned; anything but a regular file is refused.
bool Contents::OpenItem(qint64 i, int* err) {
    if (openItem_ == i) return true;
    const qint64 folder = folderOf_[size_t(i)];
    if (openFolder_ != folder) {
        const QByteArray native = io::NativePath(path_) + '/' + folders_[size_t(folder)];
        folder_ = io::Fd(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        openFolder_ = folder_ ? folder : -1;
        if (!folder_) return *err = errno, false;
    }
    // Opened without blocking on a FIFO put in the file's place; the flag
    // changes nothing for a regular file's reads, so it stays.
    openItem_ = -1;
    file_ = io::Fd(::openat(folder_.get(), leaves_[size_t(i)].constData(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!file_ || ::fstat(file_.get(), &st) != 0) return *err = errno, false;
    if (!S_ISREG(st.st_mode)) return *err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL, false;
    openItem_ = i;
    sizes_[size_t(i)] = qint64(st.st_size);
    return true;
}

qint64 Contents::Size(qint64 i, int* err) {
    if (!tree_) return dir_->EntrySize[size_t(i)];
    if (sizes_[size_t(i)] < 0 && !OpenItem(i, err)) return -1;
    return sizes_[size_t(i)];
}

long long Contents::Read(qint64 i, char* buf, long long len, long long offset, int* err) {
    if (tree_) {
        if (!OpenItem(i, err)) return -1;
        return io::ReadAt(file_.get(), buf, std::min(len, sizes_[size_t(i)] - offset), offset, err);
    }
    const qint64 start = dir_->EntryOffset[size_t(i)], size = dir_->EntrySize[size_t(i)];
    if (start < 0 || start + size > archiveSize_) return 0;  // outside: ends at once
    len = std::min(len, size - offset);
    const qint64 at = start + offset, end = windowStart_ + window_.size();
    if (at >= windowStart_ && at + len <= end) {
        std::memcpy(buf, window_.constData() + (at - windowStart_), size_t(len));
        return len;
    }
    if (len > kWindow / 4) return io::ReadAt(archive_.get(), buf, len, at, err);
    // Where the window left off, the next entries are likely to follow: a
    // megabyte is read ahead. Elsewhere only what is asked for.
    const qint64 want =
        at >= windowStart_ && at <= end ? std::min(kWindow, archiveSize_ - at) : len;
    window_.resize(want);
    const long long n = io::ReadAt(archive_.get(), window_.data(), want, at, err);
    window_.resize(std::max(0LL, n));
    windowStart_ = at;
    if (n < 0) return -1;
    const long long got = std::min<long long>(len, n);
    std::memcpy(buf, window_.constData(), size_t(got));
    return got;
}

Result Compare(Contents& a, Contents& b, const ChangeSink& report, const StopFlag* stop) {
    // b's items by key; each matched at most once.
    QHash<QString, std::vector<qint64>> byKey;
    for (qint64 j = 0; j < b.count(); ++j) byKey[NameKey(b.name(j))].push_back(j);
    std::vector<char> matched(size_t(b.count()), 0);
    std::unique_ptr<char[]> bufA(new char[size_t(kBuffer)]), bufB(new char[size_t(kBuffer)]);
    Result result;
    const auto stopped = [&] {
        result.outcome = Outcome::Stopped;
        return result;
    };
    // Reads both items through; true when every byte agrees.
    const auto same = [&](qint64 i, qint64 j, qint64 size, Failure* why) {
        for (qint64 done = 0; done < size;) {
            const long long want = std::min(kBuffer, size - done);
            const long long x = a.Read(i, bufA.get(), want, done, &why->error);
            const long long y = x == want ? b.Read(j, bufB.get(), want, done, &why->error) : x;
            if (x != want || y != want) {
                why->reason = x < 0 || y < 0 ? Reason::ReadFailed : Reason::Truncated;
                why->subject = (x != want ? a : b).name(x != want ? i : j);
                return false;
            }
            if (std::memcmp(bufA.get(), bufB.get(), size_t(want)) != 0) return false;
            done += want;
        }
        return true;
    };
    for (qint64 i = 0; i < a.count(); ++i) {
        if (stop && stop->requested) return stopped();
        const QString name = a.name(i);
        qint64 j = -1;
        if (const auto it = byKey.constFind(NameKey(name)); it != byKey.cend()) {
            for (qint64 c : *it) {
                if (matched[size_t(c)]) continue;
                if (j < 0 || b.name(c) == name) j = c;
                if (b.name(c) == name) break;
            }
        }
        if (j < 0) {
            if (!report(Change::Removed, i, -1)) return result;
            continue;
        }
        matched[size_t(j)] = 1;
        Failure why;
        const qint64 size = a.Size(i, &why.error), other = size < 0 ? -1 : b.Size(j, &why.error);
        if (size < 0 || other < 0)
            return Result::Unusable(
                {Reason::ReadFailed, why.error, {}, -1, size < 0 ? name : b.name(j)});
        const bool equal = size == other && same(i, j, size, &why);
        if (why.reason != Reason::None) return Result::Unusable(std::move(why));
        if (!equal && !report(Change::Modified, i, j)) return result;
    }
    for (qint64 j = 0; j < b.count(); ++j) {
        if (stop && stop->requested) return stopped();
        if (!matched[size_t(j)] && !report(Change::Added, -1, j)) return result;
    }
    return result;
}

}  // namespace kbx
