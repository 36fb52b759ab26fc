#include "archive/compare.h"

#include <QFile>
#include <QHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <numeric>
#include <utility>

#include "archive/archive_file.h"

namespace kbx {

namespace {

// Deeper folders cannot hold a name that fits an entry's 128 bytes.
constexpr int kMaxDepth = 64;
constexpr long long kBuffer = 1 << 20;
// An archive's entries are read through a window of this many bytes (a
// buffer that is filled again and again: its fresh pages cost more than
// its reads).
constexpr qint64 kWindow = 256 << 10;
// Files read ahead in batches: each smaller than kAheadFile, at most
// kAheadBytes of them at once for each thread, from at most kAheadFolders + 1
// folders (each batch's files and folders are open at once).
constexpr long long kAheadFile = 64 << 10, kAheadBytes = 1 << 20;
constexpr size_t kAheadFolders = 7;

// How many files one batch may hold open: a quarter of what the process may
// open past 64 descriptors, so that two comparing threads' batches and
// their folders leave room for the rest (the archive, its lock, the files
// read one at a time). None where the limit is 64 or less: files are then
// read one at a time, as without batches.
size_t BatchFiles() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    const rlim_t spare = limit.rlim_cur > 64 ? (limit.rlim_cur - 64) / 4 : 0;
    return size_t(std::min<rlim_t>(spare, io::BatchReader::kMax));
}

// The regular files beneath a tree's Version/, in the order listed, kept
// as Contents keeps them (see there).
struct Listing {
    Texts<QString> names, keys;
    std::vector<qint64> sizes;
    std::vector<quint32> folderOf;
    Texts<QByteArray> leaves;
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
        const QByteArrayView entry(e->d_name);
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
        if (type == DT_DIR) {
            if (depth >= kMaxDepth) continue;
            const QByteArray file = native + '/' + entry.toByteArray();
            io::Fd sub(::openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub && errno == ENOENT) continue;  // gone since it was listed
            if (!sub)
                return Failure::Path(Reason::CannotReadFolder, errno, QFile::decodeName(file));
            const QString inside = prefix + QFile::decodeName(entry.toByteArray()) + u'\\';
            if (Failure f = Walk(sub.get(), inside, file, depth + 1, out, stop);
                f.reason != Reason::None)
                return f;
            continue;
        }
        if (type != DT_REG) continue;
        // An ASCII name reads the same in every encoding: no decoder.
        QString& name = out.names.block;
        const qsizetype at = name.size();
        name += prefix;
        if (IsAscii(entry))
            name += QLatin1StringView(entry);
        else
            name += QFile::decodeName(entry.toByteArray());
        out.names.End();
        AppendNameKey(out.keys.block, QStringView(name).sliced(at));
        out.keys.End();
        out.sizes.push_back(size);
        out.folderOf.push_back(folder);
        out.leaves.block += entry;
        out.leaves.block += '\0';
        out.leaves.End();
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
    struct stat st {};
    localTimes_ = ::fstat(version.get(), &st) == 0 && LocalTimes(version.get());
    versionDevice_ = quint64(st.st_dev);
    versionInode_ = quint64(st.st_ino);
    versionMount_ = MountOf(version.get());
    Listing l;
    if (Failure f = Walk(version.get(), QStringLiteral("Version\\"), "Version", 1, l, stop);
        f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    if (stop && stop->requested) return Result::Stopped();
    slot_.resize(l.sizes.size());
    std::iota(slot_.begin(), slot_.end(), 0);
    std::sort(slot_.begin(), slot_.end(), [&](quint32 x, quint32 y) {
        const int byKey = l.keys.at(x).compare(l.keys.at(y));  // one comparison, not two
        return byKey != 0 ? byKey < 0 : l.names.at(x) < l.names.at(y);
    });
    names_ = std::move(l.names);
    keys_ = std::move(l.keys);
    sizes_ = std::move(l.sizes);
    folderOf_ = std::move(l.folderOf);
    leaves_ = std::move(l.leaves);
    folders_ = std::move(l.folders);
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
    keys_ = {};
    keys_.ends.reserve(size_t(dir.Count()));
    for (qint64 i = 0; i < dir.Count(); ++i) {
        AppendFieldNameKey(keys_.block, dir.EntryName[i]);
        keys_.End();
    }
    if (Failure f = OpenLoaded(dir, archive_, &archiveSize_); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    return {};
}

QString Contents::FilePath(qint64 i) const {
    const QByteArray leaf = leaves_.at(At(i)).chopped(1).toByteArray();  // without its NUL
    return path_ + u'/' + QFile::decodeName(folders_[folderOf_[At(i)]] + '/' + leaf);
}

bool Contents::Stat(Reader& r, qint64 i, struct stat* st) {
    int err = 0;
    return OpenFolder(r, folderOf_[At(i)], &err) && ::fstatat(r.folder.get(), Leaf(i), st, 0) == 0;
}

bool Contents::Unwritten(Reader& r, qint64 i, const struct stat& st) {
    int err = 0;
    if (!OpenFolder(r, folderOf_[At(i)], &err)) return false;
    const io::Fd fd(
        ::openat(r.folder.get(), Leaf(i), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat now {};
    return fd && NoWriters(fd.get()) && ::fstat(fd.get(), &now) == 0 &&
           StampOf(now) == StampOf(st) && now.st_dev == st.st_dev;
}

bool Contents::Stampable(TreeStamps& stamps) const {
    stamps.device = versionDevice_;
    stamps.inode = versionInode_;
    stamps.mount = versionMount_;
    return tree_ && localTimes_ && versionMount_ != 0;
}

// Opens a folder of the tree in `r`, unless it is the one open there.
bool Contents::OpenFolder(Reader& r, qint64 folder, int* err) {
    if (r.openFolder == folder) return true;
    const QByteArray native = io::NativePath(path_) + '/' + folders_[size_t(folder)];
    r.folder = io::Fd(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    r.openFolder = r.folder ? folder : -1;
    if (!r.folder) *err = errno;
    return bool(r.folder);
}

// Opens a tree's file through its folder, which stays open for the next
// files: they are compared in name order, folder by folder.
bool Contents::OpenItem(Reader& r, qint64 i, int* err) {
    if (r.openItem == i) return true;
    if (!OpenFolder(r, folderOf_[At(i)], err)) return false;
    // Opened without blocking on a FIFO put in the file's place; the flag
    // changes nothing for a regular file's reads, so it stays.
    r.openItem = -1;
    r.file =
        io::Fd(::openat(r.folder.get(), Leaf(i), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!r.file) return *err = errno, false;
    r.openItem = i;
    return true;
}

qint64 Contents::Size(Reader& r, qint64 i, int* err) {
    if (!tree_) return dir_->EntrySize[size_t(i)];
    if (sizes_[At(i)] >= 0) return sizes_[At(i)];
    struct stat st {};
    if (!OpenItem(r, i, err)) return -1;
    if (::fstat(r.file.get(), &st) != 0) return *err = errno, -1;
    if (!S_ISREG(st.st_mode)) return *err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL, -1;
    return sizes_[At(i)] = qint64(st.st_size);
}

qint64 Contents::KnownSize(qint64 i) const {
    return tree_ ? sizes_[At(i)] : dir_->EntrySize[size_t(i)];
}

long long Contents::Read(Reader& r, qint64 i, char* buf, long long len, long long offset,
                         int* err) {
    if (tree_) {
        for (Reader::Ahead& a : r.ahead) {
            if (a.item != i || offset != 0) continue;
            a.item = -1;
            if (a.len != len || a.got < 0 || !a.whole) break;
            std::memcpy(buf, r.aheadBytes.get() + a.at, size_t(a.got));
            return a.got;
        }
        if (!OpenItem(r, i, err)) return -1;
        const qint64 size = sizes_[At(i)];
        if (size < 0) return io::ReadOnce(r.file.get(), buf, len, offset, err);
        return io::ReadAt(r.file.get(), buf, std::min(len, size - offset), offset, err);
    }
    const qint64 start = dir_->EntryOffset[size_t(i)], size = dir_->EntrySize[size_t(i)];
    if (start < 0 || start + size > archiveSize_) return 0;  // outside: ends at once
    len = std::min(len, size - offset);
    const qint64 at = start + offset, end = r.windowStart + r.window.size();
    if (at >= r.windowStart && at + len <= end) {
        std::memcpy(buf, r.window.constData() + (at - r.windowStart), size_t(len));
        return len;
    }
    if (len > kWindow / 4) return io::ReadAt(archive_.get(), buf, len, at, err);
    // Where the window left off, the next entries are likely to follow: a
    // window's worth is read ahead. Elsewhere only what is asked for.
    const qint64 want =
        at >= r.windowStart && at <= end ? std::min(kWindow, archiveSize_ - at) : len;
    r.window.resize(want);
    const long long n = io::ReadAt(archive_.get(), r.window.data(), want, at, err);
    r.window.resize(std::max(0LL, n));
    r.windowStart = at;
    if (n < 0) return -1;
    const long long got = std::min<long long>(len, n);
    std::memcpy(buf, r.window.constData(), size_t(got));
    return got;
}

void Contents::ReadAhead(Reader& r, const std::vector<std::pair<qint64, long long>>& items) {
    r.ahead.clear();
    if (!tree_ || items.empty()) return;
    if (!r.batch) {
        r.batch = std::make_unique<io::BatchReader>();
        r.batchFiles = BatchFiles();
    }
    const size_t most = r.batchFiles;
    if (most == 0) return;
    if (!r.aheadBytes) r.aheadBytes.reset(new char[size_t(kAheadBytes)]);
    std::vector<io::Fd> left;  // folders of earlier files, open until the batch is read
    std::vector<io::BatchRead> reads;
    long long at = 0;
    for (const auto& [i, len] : items) {
        const qint64 folder = folderOf_[At(i)];
        if (at + len > kAheadBytes || reads.size() == most ||
            (r.openFolder != folder && left.size() == kAheadFolders))
            break;
        int err = 0;
        if (r.openFolder != folder) left.push_back(std::move(r.folder));
        if (!OpenFolder(r, folder, &err)) continue;  // Read reports it
        reads.push_back({r.folder.get(), Leaf(i), r.aheadBytes.get() + at, unsigned(len), 0});
        r.ahead.push_back({i, len, 0, at, false});
        at += len;
    }
    if (!r.batch->Read(reads)) return r.ahead.clear();
    for (size_t k = 0; k < reads.size(); ++k) {
        r.ahead[k].got = reads[k].got;
        r.ahead[k].whole = reads[k].whole;
    }
}

Pairing::Lane::Lane() : bufA(new char[size_t(kBuffer)]), bufB(new char[size_t(kBuffer) + 1]) {}

Pairing::Pairing(Contents& a, Contents& b) : a_(a), b_(b), match_(size_t(a.count()), -1) {
    // b's items by key: the first of each key, and each item's next of the
    // same key, in b's order.
    QHash<QStringView, qint64> first;
    first.reserve(b.count());
    std::vector<qint64> next(size_t(b.count()), -1);
    for (qint64 j = b.count() - 1; j >= 0; --j) {
        const QStringView key = b.key(j);
        if (const auto it = first.find(key); it != first.end())
            next[size_t(j)] = std::exchange(*it, j);
        else
            first.insert(key, j);
    }
    std::vector<char> matched(size_t(b.count()), 0);
    for (qint64 i = 0; i < a.count(); ++i) {
        const auto it = first.constFind(a.key(i));
        if (it == first.cend()) continue;
        qint64 j = -1;
        if (next[size_t(*it)] < 0) {
            // The one item of that key (nearly every name): letter case
            // cannot choose, and a's name is not made.
            if (!matched[size_t(*it)]) j = *it;
        } else {
            const QString name = a.name(i);
            for (qint64 c = *it; c >= 0; c = next[size_t(c)]) {
                if (matched[size_t(c)]) continue;
                if (j < 0 || b.name(c) == name) j = c;
                if (b.name(c) == name) break;
            }
        }
        if (j < 0) continue;
        matched[size_t(j)] = 1;
        match_[size_t(i)] = j;
    }
}

std::vector<qint64> Pairing::Unmatched() const {
    std::vector<char> matched(size_t(b_.count()), 0);
    for (qint64 j : match_)
        if (j >= 0) matched[size_t(j)] = 1;
    std::vector<qint64> out;
    for (qint64 j = 0; j < b_.count(); ++j)
        if (!matched[size_t(j)]) out.push_back(j);
    return out;
}

void Pairing::UseStamps(const TreeStamps& old) {
    old_ = &old;
    moment_ = CoarseNowNs();
    seen_.assign(size_t(a_.count()), {});
}

void Pairing::Stamp(Lane& lane, qint64 from, qint64 to) {
    lane.sameFrom = from;
    lane.same.assign(size_t(to - from), 0);
    for (qint64 i = from; i < to; ++i) {
        struct stat st {};
        const qint64 j = Match(i);
        if (j < 0 || !b_.Stat(lane.b, j, &st)) continue;
        lane.same[size_t(i - from)] = old_->Unchanged(i, a_.KnownSize(i), st);
        if (lane.same[size_t(i - from)] ||
            (S_ISREG(st.st_mode) && quint64(st.st_dev) == old_->device &&
             SettledBefore(st, moment_) && b_.Unwritten(lane.b, j, st)))
            seen_[size_t(i)] = StampOf(st);
    }
}

void Pairing::ReadAhead(Lane& lane, qint64 from, qint64 to) {
    if (!b_.isTree()) return;
    if (old_) Stamp(lane, from, to);
    std::vector<std::pair<qint64, long long>> items;
    for (qint64 i = from; i < to; ++i) {
        if (lane.Same(i)) continue;
        const qint64 j = Match(i), size = j >= 0 ? a_.KnownSize(i) : -1;
        // As Bytes reads a small file not measured: a's size and one byte more.
        if (size >= 0 && size < kAheadFile && b_.KnownSize(j) < 0) items.emplace_back(j, size + 1);
    }
    b_.ReadAhead(lane.b, items);
}

Failure Pairing::Differs(Lane& lane, qint64 i, qint64 j, bool* differs) {
    if (lane.Same(i)) return *differs = false, Failure{};
    int err = 0;
    const qint64 size = a_.Size(lane.a, i, &err);
    if (size < 0) return {Reason::ReadFailed, err, {}, -1, a_.name(i)};
    bool cut = false;
    if (Failure f = Bytes(lane, i, j, size, differs, &cut); f.reason != Reason::None) return f;
    if (!*differs || b_.KnownSize(j) >= 0) return {};
    // What differs as read unmeasured is measured, so that anything but a
    // regular file fails; a read cut short before the end (by a signal, or a
    // network file system) is done again at the file's size.
    if (b_.Size(lane.b, j, &err) < 0) return {Reason::ReadFailed, err, {}, -1, b_.name(j)};
    if (cut && b_.KnownSize(j) == size) return Bytes(lane, i, j, size, differs, &cut);
    return {};
}

Failure Pairing::Bytes(Lane& lane, qint64 i, qint64 j, qint64 size, bool* differs, bool* cut) {
    int err = 0;
    // b's file not measured is read one byte past a's size, in reads that
    // fall short only at its end: its length shows without a status call.
    const qint64 other = b_.KnownSize(j);
    *differs = other >= 0 && other != size;
    for (qint64 done = 0; !*differs;) {
        const long long want = std::min(kBuffer, size - done);
        const long long ask = want + (other < 0 && done + want == size ? 1 : 0);
        const long long x = want > 0 ? a_.Read(lane.a, i, lane.bufA.get(), want, done, &err) : 0;
        const long long y = x == want ? b_.Read(lane.b, j, lane.bufB.get(), ask, done, &err) : x;
        if (x != want || y < 0 || (other >= 0 && y != want))
            return {x < 0 || y < 0 ? Reason::ReadFailed : Reason::Truncated,
                    err,
                    {},
                    -1,
                    x != want ? a_.name(i) : b_.name(j)};
        *cut = y < want;
        *differs = y != want || std::memcmp(lane.bufA.get(), lane.bufB.get(), size_t(want)) != 0;
        done += want;
        if (done == size) break;
    }
    return {};
}

DiffersAhead::DiffersAhead(Pairing& pairs, qint64 count, int threads)
    : count_(count),
      threads_(std::max(1, threads)),
      differs_(size_t(kAhead)),
      pending_(size_t(threads_)),
      wanted_(size_t(threads_), -1),
      failedAt_(count) {
    for (int t = 0; t < threads_; ++t) {
        pending_[size_t(t)] = std::min(count_, t * kBatch);
        workers_.emplace_back([this, &pairs, t] { Work(pairs, t); });
    }
}

DiffersAhead::~DiffersAhead() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    asked_.notify_all();
    for (std::thread& t : workers_) t.join();
}

int DiffersAhead::DefaultThreads(bool callerCopies) {
    const int processors = int(std::thread::hardware_concurrency());
    return std::clamp(processors - (callerCopies ? 1 : 0), 1, 2);
}

qint64 DiffersAhead::Answered() const {
    return std::min(failedAt_, *std::min_element(pending_.begin(), pending_.end()));
}

bool DiffersAhead::AskerWakes() const {
    return awaited_ >= 0 && (Answered() >= awaited_ || failedAt_ < awaited_);
}

void DiffersAhead::Work(Pairing& pairs, int thread) {
    Pairing::Lane lane;
    qint64& pending = pending_[size_t(thread)];
    qint64& wanted = wanted_[size_t(thread)];
    for (qint64 batch = thread * kBatch; batch < count_; batch += threads_ * kBatch) {
        const qint64 end = std::min(count_, batch + kBatch);
        {
            std::unique_lock lock(mutex_);
            if (end > next_ + kAhead && batch < failedAt_) {
                wanted = end - kAhead;
                asked_.wait(lock,
                            [&] { return quit_ || end <= next_ + kAhead || batch >= failedAt_; });
                wanted = -1;
            }
            if (quit_ || batch >= failedAt_) break;
        }
        // The batch's places in differs_ are this thread's until it is
        // published: the asker reads none of them before, and asks for no
        // item kAhead past them.
        Failure failure;
        qint64 failed = -1;
        pairs.ReadAhead(lane, batch, end);
        for (qint64 i = batch; i < end && failed < 0; ++i) {
            bool differs = false;
            if (const qint64 j = pairs.Match(i); j >= 0)
                failure = pairs.Differs(lane, i, j, &differs);
            if (failure.reason != Reason::None) failed = i;
            differs_[size_t(i % kAhead)] = differs;
        }
        std::unique_lock lock(mutex_);
        pending = batch + threads_ * kBatch;
        if (failed >= 0 && failed < failedAt_) {
            failedAt_ = failed;
            failure_ = std::move(failure);
            asked_.notify_all();  // the others stop waiting to work past it
        }
        const bool wake = AskerWakes();
        lock.unlock();
        if (wake) answered_.notify_one();
        if (failed >= 0) break;
    }
    const std::lock_guard lock(mutex_);
    pending = count_;
    if (AskerWakes()) answered_.notify_one();
}

Failure DiffersAhead::Differs(qint64 i, bool* differs) {
    // Answers below known_ were seen published, and stay until next_ passes
    // them: they are read without the lock, which is taken once a batch.
    if (i >= known_ || i >= told_ + kBatch) {
        std::unique_lock lock(mutex_);
        next_ = told_ = i;  // the items before are not asked again: their places are free
        if (std::any_of(wanted_.begin(), wanted_.end(), [&](qint64 w) { return w >= 0 && i >= w; }))
            asked_.notify_all();
        if (Answered() <= i && failedAt_ > i) {
            awaited_ = std::min(i + kBatch, count_);
            answered_.wait(lock, [&] { return Answered() > i || failedAt_ <= i; });
            awaited_ = -1;
        }
        known_ = Answered();
        if (i >= failedAt_) return failure_;
    }
    *differs = differs_[size_t(i % kAhead)] != 0;
    return {};
}

Result Compare(Contents& a, Contents& b, const ChangeSink& report, const StopFlag* stop) {
    Pairing pairs(a, b);
    DiffersAhead ahead(pairs, a.count());
    for (qint64 i = 0; i < a.count(); ++i) {
        if (stop && stop->requested) return Result::Stopped();
        const qint64 j = pairs.Match(i);
        bool differs = false;
        if (Failure f = ahead.Differs(i, &differs); f.reason != Reason::None)
            return Result::Unusable(std::move(f));
        if ((j < 0 || differs) && !report(j < 0 ? Change::Removed : Change::Modified, i, j))
            return {};
    }
    for (qint64 j : pairs.Unmatched()) {
        if (stop && stop->requested) return Result::Stopped();
        if (!report(Change::Added, -1, j)) return {};
    }
    return {};
}

}  // namespace kbx
