#pragma once
// What differs between two archives, two unpacked trees, or one of each.

#include <QString>

#include <functional>
#include <vector>

#include "archive/archive.h"
#include "archive/file_io.h"

namespace kbx {

// One side of a comparison: the entries of an archive, or the files beneath
// a folder's Version/ under the names an unpack gives them
// ("Version\Data\a.dds"), in the order of their names.
class Contents {
  public:
    // A folder is read as a tree (its files listed now, each measured and
    // read when compared); anything else is loaded as an archive. Links to
    // files are followed; links to folders are not.
    [[nodiscard]] Result Open(const QString& path, const StopFlag* stop = nullptr);
    // The archive `dir` was loaded from, read through that directory (which
    // must outlive this).
    [[nodiscard]] Result Open(const Directory& dir);

    bool isTree() const { return tree_; }
    qint64 count() const { return tree_ ? qint64(names_.size()) : dir_->Count(); }
    QString name(qint64 i) const { return tree_ ? names_[size_t(i)] : dir_->Name(i); }
    // The item's size; a tree's file is opened to learn it (and kept open for
    // Read). -1 with `*err` set when it cannot be opened.
    qint64 Size(qint64 i, int* err);
    // Of a tree: the file's path, as the engine takes paths.
    QString FilePath(qint64 i) const;
    // Of an archive: the directory it was loaded into.
    const Directory& directory() const { return *dir_; }

    // Reads item `i`'s bytes from `offset`: the count read, fewer only at
    // its end, or -1 with `*err` set. An archive's entries read one after
    // another in the order of their data cost one read per megabyte.
    long long Read(qint64 i, char* buf, long long len, long long offset, int* err);

  private:
    Result OpenTree(const QString& path, const StopFlag* stop);
    bool OpenItem(qint64 i, int* err);

    QString path_;
    bool tree_ = false;
    long long archiveSize_ = 0;
    // Of a tree: names; sizes (-1 until measured); each file's folder
    // beneath the root and its name there.
    std::vector<QString> names_;
    std::vector<qint64> sizes_;
    std::vector<quint32> folderOf_;
    std::vector<QByteArray> leaves_;
    std::vector<QByteArray> folders_;
    Directory owned_;
    const Directory* dir_ = &owned_;
    io::Fd archive_;
    // Of an archive: the bytes [windowStart_, + window_.size()) as last read.
    QByteArray window_;
    qint64 windowStart_ = 0;
    qint64 openItem_ = -1;  // the tree file open in file_
    io::Fd file_;
    qint64 openFolder_ = -1;  // the folder open in folder_, by index in folders_
    io::Fd folder_;
};

enum class Change { Modified, Added, Removed };

// Compares `a` with `b`, item by item. Names match as the game compares them
// (letter case ignored), a name of the same letter case first. Reported in
// a's order, then b's items that a lacks in b's order: Removed (in a only;
// `b` is -1), Modified (bytes differ), Added (in b only; `a` is -1). Sizes are
// compared first; bytes only where sizes agree, through two bounded buffers.
// `report` returns false to end the comparison. A read that fails ends it
// with ReadFailed (subject: the item's name), an item that ends early with
// Truncated.
using ChangeSink = std::function<bool(Change change, qint64 a, qint64 b)>;
[[nodiscard]] Result Compare(Contents& a, Contents& b, const ChangeSink& report,
                             const StopFlag* stop = nullptr);

}  // namespace kbx
