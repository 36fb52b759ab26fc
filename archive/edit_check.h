#pragma once
// What every way of changing an archive's entries checks before it writes:
// the edits against each other and against the entries that stay, the
// archive against the directory loaded from it, and the files read into it.
// Shared by the whole rewrite and the edit in place, so that both refuse the
// same edits for the same reasons.

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <map>
#include <vector>

#include "archive/directory.h"
#include "archive/file_io.h"
#include "archive/result.h"
#include "archive/rewrite.h"

namespace kbx {

// A name an edit gives (an added entry's, or a renamed one's new name),
// checked: its name in the archive's code page.
struct Added {
    size_t edit;  // position in the edits
    QString name;
    QByteArray encoded;
    QString key;
};

// The edits of one run, checked.
struct CheckedEdits {
    std::map<qint64, size_t> action;       // edited index -> position of its edit
    std::vector<Added> added;              // the added entries, in the order of the edits
    std::map<qint64, QByteArray> renamed;  // renamed index -> its new name, encoded
    qint64 newCount = 0;                   // entries after the edits

    // True when entry `index` has an edit of `kind`.
    bool Edited(qint64 index, Edit::Kind kind, const std::vector<Edit>& edits) const {
        const auto it = action.find(index);
        return it != action.end() && edits[it->second].kind == kind;
    }
};

// Checks `edits` (CheckEdits) and that the new directory fits the format
// (TooLarge, subject = the archive); `checked` learns the checked edits.
[[nodiscard]] Failure CheckAll(const Directory& dir, const std::vector<Edit>& edits,
                               CheckedEdits& checked);

// Checks the edits against each other and against the kept entries (see
// Rewrite for the refusals), and fills `checked` but for newCount.
Failure CheckEdits(const Directory& dir, const std::vector<Edit>& edits, CheckedEdits* checked);

// True for the errors of a copy that belong to the archive being written
// rather than to the file read: the disk or quota is full, or the file
// system cannot take the new archive.
bool OutputError(int err);

// Opens a file whose bytes an entry gets: CannotOpenFile (errno) or
// NotRegularFile (a folder, FIFO, socket or device) otherwise.
Failure OpenSource(const QString& path, io::Fd* fd, struct stat* st);

// The size of the regular file at `path` now, 0 when none stands there (or
// `path` is empty): what an edit's file adds to the archive, measured before
// anything is copied. A file that grows later fails during its copy.
// A size the caller measured (`known` >= 0) stands for it.
qint64 SourceSize(const QString& path, qint64 known = -1);

// FileChanged when the file opened with status `before` is not the same
// file in the same state after `copied` bytes were read from it.
Failure SourceUnchanged(int fd, const struct stat& before, long long copied);

}  // namespace kbx
