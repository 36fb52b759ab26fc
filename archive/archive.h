#pragma once
// The archive engine: loading a directory, extracting, unpacking and packing.
// It reports through results and a progress hook and never shows a window.
//
// Threading: one operation at a time per process. The file layer keeps
// process-wide state (the test fault plan, capability probes); call the
// engine from one thread at a time.

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

#include "archive/directory.h"
#include "archive/format.h"
#include "archive/names.h"
#include "archive/result.h"

namespace kbx {

// Called once per directory record (loading) or entry (unpacking), with its
// index, before it is processed. The caller decides its own rhythm.
using Progress = std::function<void(qint64 index)>;

// Set by the caller (typically from inside the progress hook) to end a load
// or an unpack after the current item. A stopped load changes nothing.
// Safe to set from a signal handler: the flag is a lock-free atomic.
struct StopFlag {
    std::atomic<bool> requested{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

// Loads the archive at `path`. Only a successful load touches `dir`, and it
// replaces it whole, ArchivePath included. `counted` learns the number of
// records once the header has been checked, before the first record.
Result ReadArchive(const QString& path, Directory& dir, const Progress& progress = {},
                   const StopFlag* stop = nullptr,
                   const std::function<void(qint64 count)>& counted = {});

// True when a file can be created and removed in `folder`. It probes with a
// name of its own, so a user's file is never touched.
bool TestFolder(const QString& folder);

// Creates folder/Version and folder/Version/Data unless folder/Version
// already accepts files. Returns why that failed, or Reason::None.
Failure PrepareOutputFolders(const QString& folder);

// Writes entry `index` beneath `folder` under its own relative name. An index
// outside 0..count-1 (the blank element included) does nothing.
Result ExtractEntry(const Directory& dir, qint64 index, const QString& folder);

// What extraction does with a file that already stands under an entry's name.
enum class Overwrite {
    Replace,  // replaced whole, atomically
    Keep,     // left as it is; the entry fails with EEXIST
    Skip,     // left as it is; the entry counts as done
};

// Writes the given entries beneath `folder`, opening the archive once. Failed
// entries do not stop the others.
Result ExtractEntries(const Directory& dir, const std::vector<qint64>& indexes,
                      const QString& folder, const Progress& progress = {},
                      const StopFlag* stop = nullptr, Overwrite overwrite = Overwrite::Replace);

// Writes every entry beneath `folder`, in directory order.
Result UnpackAll(const Directory& dir, const QString& folder, const Progress& progress = {},
                 const StopFlag* stop = nullptr, Overwrite overwrite = Overwrite::Replace);

// Writes the bytes of the given entries, one after another, to `fd` (a pipe
// or a terminal as well as a file) through a bounded buffer.
Result WriteEntries(const Directory& dir, const std::vector<qint64>& indexes, int fd,
                    const Progress& progress = {}, const StopFlag* stop = nullptr);

// One file about to be packed: its place among `count` files, its entry
// name and size, and the size of all the files' data together.
struct PackStep {
    qint64 index;
    qint64 count;
    const QString& entry;
    qint64 size;
    qint64 totalSize;
};
using PackProgress = std::function<void(const PackStep& step)>;

// What Pack does with the folders inside Version/Data and Version (but Data).
enum class SubFolders {
    Ignored,   // left out silently
    Reported,  // left out, each one holding files named in a FolderLeftOut warning
    Packed,    // packed, depth first: a folder's files, then each sub-folder's
};

// Packs root/Version/Data/* and then root/Version/* into `archivePath`, in
// case-insensitive name order within each folder. An
// existing archive there is replaced only by a complete new one (see
// OutputArchive for what stands at the path). A stop between two files
// publishes nothing and leaves no temporary file. With a progress hook every
// file is measured when the folders are listed, so that the hook learns the
// sizes before the copy (one status call more per file, and a file whose size
// differs by its copy fails as changed); without one, sizes are learned as
// the files are read. A link to a folder is never followed: with sub-folders
// reported or packed it is named in a FolderLinkLeftOut warning. Packed
// sub-folders' names meet a file name's rules, and no two names in a folder,
// a file's and a folder's included, differ only in case.
//
// With `dryRun`, the tree is listed and checked, and the target looked at,
// as for a pack, and the progress hook learns every file in order, but no
// file is read and nothing is written, not even a temporary file. The
// result is the pack's, warnings included, up to the copy.
//
// `stamps`, when given, learns the packed files' stamps (see stamps.h) with
// the archive's identity as published.
struct TreeStamps;
Result Pack(const QString& root, const QString& archivePath, const PackProgress& progress = {},
            const StopFlag* stop = nullptr, SubFolders subFolders = SubFolders::Ignored,
            bool dryRun = false, TreeStamps* stamps = nullptr);

// Milliseconds from a monotonic clock.
class Stopwatch {
  public:
    Stopwatch() { timer_.start(); }
    qint64 ElapsedMs() const { return timer_.elapsed(); }

  private:
    QElapsedTimer timer_;
};

}  // namespace kbx
