#pragma once
// What differs between two archives, two unpacked trees, or one of each.

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "archive/batch_read.h"
#include "archive/file_io.h"
#include "archive/stamps.h"

namespace kbx {

// One side of a comparison: the entries of an archive, or the files beneath
// a folder's Version/ under the names an unpack gives them
// ("Version\Data\a.dds"), in the order of their names.
class Contents {
  public:
    // What one reader holds open: an archive's bytes last read, or a tree's
    // file and its folder. Threads that read the same Contents at once read
    // through a Reader each (and measure different items).
    struct Reader {
        QByteArray window;  // of an archive: [windowStart, + size) as last read
        qint64 windowStart = 0;
        qint64 openItem = -1;  // the tree file open in `file`
        io::Fd file;
        qint64 openFolder = -1;  // the folder open in `folder`, by index in folders_
        io::Fd folder;
        // Of a tree: files' first bytes read in one batch (ReadAhead), each
        // given once to the Read that asks for them.
        struct Ahead {
            qint64 item;
            long long len, got, at;  // asked, read (or -errno), place in aheadBytes
            bool whole;              // got is known to be all the file held (up to len)
        };
        std::vector<Ahead> ahead;
        std::unique_ptr<char[]> aheadBytes;
        std::unique_ptr<io::BatchReader> batch;  // after aheadBytes: gone before them
        size_t batchFiles = 0;  // the most files a batch holds open, learned with `batch`
    };

    // A folder is read as a tree (its files listed now, each measured and
    // read when compared); anything else is loaded as an archive. Links to
    // files are followed; links to folders are not.
    [[nodiscard]] Result Open(const QString& path, const StopFlag* stop = nullptr);
    // The archive `dir` was loaded from, read through that directory (which
    // must outlive this).
    [[nodiscard]] Result Open(const Directory& dir);

    bool isTree() const { return tree_; }
    qint64 count() const { return tree_ ? qint64(slot_.size()) : dir_->Count(); }
    QString name(qint64 i) const { return tree_ ? names_.at(At(i)).toString() : dir_->Name(i); }
    // NameKey of the item's name, kept from the listing or the load (as
    // long as this).
    QStringView key(qint64 i) const { return keys_.at(At(i)); }
    // The item's size; a tree's file is opened to learn it (and kept open for
    // Read). -1 with `*err` set when it cannot be opened, or is not a regular
    // file (EISDIR, EINVAL).
    qint64 Size(Reader& r, qint64 i, int* err);
    // The item's size when known without a system call; -1 for a tree's file
    // not measured yet.
    qint64 KnownSize(qint64 i) const;
    // Of a tree: the file's path, as the engine takes paths.
    QString FilePath(qint64 i) const;
    // Of a tree: measures the file (following a link) as it is now; false
    // when it cannot be.
    bool Stat(Reader& r, qint64 i, struct stat* st);
    // Of a tree: true when the file, measured as `st`, is so still while
    // nothing has it open for writing (NoWriters).
    bool Unwritten(Reader& r, qint64 i, const struct stat& st);
    // Of a tree whose file system's times are local (see stamps.h): true,
    // with its Version folder's device, inode and mount.
    bool Stampable(TreeStamps& stamps) const;
    // Of an archive: the directory it was loaded into.
    const Directory& directory() const { return *dir_; }

    // Reads item `i`'s bytes from `offset`: the count read, fewer only at
    // its end, or -1 with `*err` set. A tree's file not measured is read as
    // far as asked, or to its end. An archive's entries read one after
    // another in the order of their data cost one read per 256 KiB.
    long long Read(Reader& r, qint64 i, char* buf, long long len, long long offset, int* err);
    // Of a tree: reads the (item, length) pairs' first bytes in one batch,
    // as far as they fit, for the Reads that will ask for them from offset 0
    // (each once). What was not read ahead, or failed, is read by Read
    // itself, which reports the failure. Of an archive: nothing.
    void ReadAhead(Reader& r, const std::vector<std::pair<qint64, long long>>& items);

  private:
    Result OpenTree(const QString& path, const StopFlag* stop);
    bool OpenItem(Reader& r, qint64 i, int* err);
    bool OpenFolder(Reader& r, qint64 folder, int* err);

    // Where item `i`'s texts and sizes are: of a tree, the place the listing
    // found it in (items are numbered in name order); of an archive, `i`.
    size_t At(qint64 i) const { return tree_ ? slot_[size_t(i)] : size_t(i); }
    // A tree's file's name in its folder, ended by a NUL.
    const char* Leaf(qint64 i) const { return leaves_.block.constData() + leaves_.start(At(i)); }

    QString path_;
    bool tree_ = false;
    long long archiveSize_ = 0;
    // Names' keys; of a tree also the names, sizes (-1 until measured), each
    // file's folder beneath the root and its name there (NUL-ended), each in
    // the listing's order, and the listing's places in name order.
    Texts<QString> names_, keys_;
    std::vector<qint64> sizes_;
    std::vector<quint32> folderOf_;
    Texts<QByteArray> leaves_;
    std::vector<quint32> slot_;
    std::vector<QByteArray> folders_;
    quint64 versionDevice_ = 0, versionInode_ = 0, versionMount_ = 0;
    bool localTimes_ = false;
    Directory owned_;
    const Directory* dir_ = &owned_;
    io::Fd archive_;
};

// How the items of two sides pair up, and whether a pair differs, as
// Compare decides it: names match as the game compares them (letter case
// ignored), a name of the same letter case first, each of b's items paired
// at most once.
class Pairing {
  public:
    Pairing(Contents& a, Contents& b);
    // b's item paired with a's item `i`, or -1 when b has none.
    qint64 Match(qint64 i) const { return match_[size_t(i)]; }
    // b's items that no item of a pairs with, in b's order.
    std::vector<qint64> Unmatched() const;
    // The readers and the two buffers one thread compares through.
    struct Lane {
        Lane();
        Contents::Reader a, b;
        std::unique_ptr<char[]> bufA, bufB;
        // Of the items read ahead last, from `sameFrom` on: those whose
        // stamps prove them alike.
        qint64 sameFrom = 0;
        std::vector<char> same;
        bool Same(qint64 i) const {
            return i >= sameFrom && i - sameFrom < qint64(same.size()) &&
                   same[size_t(i - sameFrom)];
        }
    };
    // From now on (a an archive, b a tree; before any comparison), a pair
    // whose file `old` vouches for (TreeStamps::Unchanged) is alike without
    // a read, and each paired file is measured so that TakeStamps() learns it.
    void UseStamps(const TreeStamps& old);
    // By a's index, the stamps of the paired files measured (none where a
    // file had not settled, see SettledBefore); taken once the comparison is
    // over.
    std::vector<FileStamp> TakeStamps() { return std::move(seen_); }
    // `differs` learns whether a's item `i` and b's item `j` hold different
    // bytes: sizes are compared first, bytes only where sizes agree, through
    // the lane's two bounded buffers. A tree's file of b not measured yet
    // shows its size in the read of its bytes, which asks one byte past a's
    // size; only one that differs is measured (what is not a regular file
    // fails with EISDIR or EINVAL). A read that fails is ReadFailed (subject:
    // the item's name), an item that ends early Truncated. Threads with a
    // Lane each may compare different pairs at once.
    [[nodiscard]] Failure Differs(Lane& lane, qint64 i, qint64 j, bool* differs);
    // Reads ahead, in one batch, the small files of b that Differs will read
    // for a's items [from, to).
    void ReadAhead(Lane& lane, qint64 from, qint64 to);

  private:
    // Differs' reading of the bytes, with a's size known; `cut` learns
    // whether b's file, not measured, ended before that size.
    Failure Bytes(Lane& lane, qint64 i, qint64 j, qint64 size, bool* differs, bool* cut);
    // Measures the files paired with a's items [from, to) (see UseStamps).
    void Stamp(Lane& lane, qint64 from, qint64 to);

    Contents& a_;
    Contents& b_;
    std::vector<qint64> match_;
    const TreeStamps* old_ = nullptr;
    qint64 moment_ = 0;  // CoarseNowNs() before any file was measured
    std::vector<FileStamp> seen_;
};

// Pairing::Differs of a's paired items in a's order, worked out at most
// kAhead items ahead of the asker by `threads` threads of its own (see
// DefaultThreads), so that a caller that copies as it asks compares and
// copies at once, and one that only asks waits for the comparison about half
// as long: reading many small files is mostly system calls, which two
// processors make side by side. The threads take turns by
// batches of kBatch items. Until this is destroyed, the pairing and both
// sides' reading belong to those threads: the caller may still call Match,
// name and FilePath, which read only what Open set.
class DiffersAhead {
  public:
    explicit DiffersAhead(Pairing& pairs, qint64 count, int threads = DefaultThreads(false));
    ~DiffersAhead();
    DiffersAhead(const DiffersAhead&) = delete;
    DiffersAhead& operator=(const DiffersAhead&) = delete;

    // Pairing::Differs(i, Match(i)), or `differs` false for an unpaired item;
    // `i` rises from call to call (items may be skipped). After a failure,
    // every later item answers with it.
    [[nodiscard]] Failure Differs(qint64 i, bool* differs);

    // Two threads where the machine has two processors, one otherwise; one
    // fewer for a caller that copies while it asks, which then keeps a
    // processor to itself.
    static int DefaultThreads(bool callerCopies = false);

  private:
    // How far ahead the threads work, and how many items either side lets
    // pass before it wakes the other: a wake costs a system call or two.
    static constexpr qint64 kAhead = 1024, kBatch = 64;
    void Work(Pairing& pairs, int thread);
    // Under mutex_: every item below this is answered; the asker is to be
    // woken.
    qint64 Answered() const;
    bool AskerWakes() const;

    const qint64 count_;
    const int threads_;
    std::mutex mutex_;
    std::condition_variable answered_, asked_;
    std::vector<char> differs_;    // item i's answer in differs_[i % kAhead]
    std::vector<qint64> pending_;  // each thread's next item to answer; count_ when done
    std::vector<qint64> wanted_;   // each thread sleeps until next_ reaches its; -1 awake
    qint64 next_ = 0;              // the asker's next item: the ones before are free
    qint64 known_ = 0, told_ = 0;  // the asker's own: Answered() and next_ as last seen
    qint64 awaited_ = -1;          // the asker sleeps until Answered() reaches it
    qint64 failedAt_;              // the first item whose comparison failed (count_: none)
    Failure failure_;              // and its failure, the answer from there on
    bool quit_ = false;
    std::vector<std::thread> workers_;
};

enum class Change { Modified, Added, Removed };

// Compares `a` with `b`, item by item, paired as Pairing pairs them.
// Reported in a's order, then b's items that a lacks in b's order: Removed (in a only;
// `b` is -1), Modified (bytes differ, see Pairing::Differs), Added (in b
// only; `a` is -1). `report` returns false to end the comparison. A failure
// of Pairing::Differs ends it.
using ChangeSink = std::function<bool(Change change, qint64 a, qint64 b)>;
[[nodiscard]] Result Compare(Contents& a, Contents& b, const ChangeSink& report,
                             const StopFlag* stop = nullptr);

}  // namespace kbx
