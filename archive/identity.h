#pragma once

#include <QtGlobal>

namespace kbx {

// What identifies an archive file and its state when it was loaded: the
// same file, not rewritten since, has the same values.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;  // modification time in nanoseconds
    qint64 changedNs = 0;   // status change time in nanoseconds

    bool operator==(const FileIdentity&) const = default;
};

}  // namespace kbx
