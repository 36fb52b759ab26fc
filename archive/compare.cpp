#include "archive/compare.h"

#include <QFile>
#include <QHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <numeric>

#include "archive/archive_file.h"

namespace kbx {

namespace {

// Deeper folders cannot hold a name that fits an entry's 128 bytes.
constexpr int kMaxDepth = 64;
constexpr long long kBuffer = 1 << 20;

struct Found {
    QString name;     // "Version\..." as an entry would be named
    QByteArray file;  // beneath the root, "/" between folders
    qint64 size;
};

// Adds the regular files beneath `dirfd` (links to files followed, links to
// folders not) as `prefix` + name.
Failure Walk(int dirfd, const QString& prefix, const QByteArray& native, int depth,
             std::vector<Found>& found, const StopFlag* stop) {
    const int dupfd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, int (*)(DIR*)> d(dupfd >= 0 ? ::fdopendir(dupfd) : nullptr, ::closedir);
    if (!d) {
        const int err = errno;
        if (dupfd >= 0) ::close(dupfd);
        return Failure::Path(Reason::CannotReadFolder, err, QFile::decodeName(native));
    }
    for (errno = 0; dirent* e = ::readdir(d.get()); errno = 0) {
        if (stop && stop->requested) return {};
        const QByteArray entry(e->d_name);
        if (entry == "." || entry == ".." || io::IsTemporaryName(entry)) continue;
        struct stat st {};
        if (::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const QString name = prefix + QFile::decodeName(entry);
        const QByteArray file = native + '/' + entry;
        if (S_ISDIR(st.st_mode)) {
            if (depth >= kMaxDepth) continue;
            io::Fd sub(::openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub)
                return Failure::Path(Reason::CannotReadFolder, errno, QFile::decodeName(file));
            if (Failure f = Walk(sub.get(), name + u'\\', file, depth + 1, found, stop);
                f.reason != Reason::None)
                return f;
            continue;
        }
        if (S_ISLNK(st.st_mode) && ::fstatat(dirfd, e->d_name, &st, 0) != 0) continue;
        if (S_ISREG(st.st_mode)) found.push_back({name, file, qint64(st.st_size)});
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
    std::vector<Found> found;
    if (Failure f = Walk(version.get(), QStringLiteral("Version\\"), "Version", 1, found, stop);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    if (stop && stop->requested) return Result::Stopped();
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
        files_.push_back(std::move(found[k].file));
    }
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
    return path_ + u'/' + QFile::decodeName(files_[size_t(i)]);
}

long long Contents::Read(qint64 i, char* buf, long long len, long long offset, int* err) {
    len = std::min(len, size(i) - offset);
    if (!tree_) {
        const qint64 start = dir_->EntryOffset[size_t(i)];
        if (start < 0 || start + size(i) > archiveSize_) return 0;  // outside: ends at once
        return io::ReadAt(archive_.get(), buf, len, start + offset, err);
    }
    if (openItem_ != i) {
        file_ =
            io::OpenRegularForRead(AT_FDCWD, io::NativePath(FilePath(i)).constData(), nullptr, err);
        openItem_ = file_ ? i : -1;
        if (!file_) return -1;
    }
    return io::ReadAt(file_.get(), buf, len, offset, err);
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
    const auto same = [&](qint64 i, qint64 j, Failure* why) {
        for (qint64 done = 0; done < a.size(i);) {
            const long long want = std::min(kBuffer, a.size(i) - done);
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
        const bool equal = a.size(i) == b.size(j) && same(i, j, &why);
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
