#pragma once
// What a tree's files were when they last held their entries' bytes, so that
// an update need not read a file that has not changed since.
//
// A file's change time is set from the clock when a write begins, at a
// rename, a link or a change of its times, and a program cannot set it back.
// A file whose change time, inode and size are what they were when its bytes
// were found equal to its entry's (or were copied into it) still holds those
// bytes, provided that
// - the file system's times come from this machine's clock (LocalTimes);
// - the stamp was taken after its file had settled (SettledBefore): a file
//   changed in the clock's present tick could change again within the same
//   tick and keep its change time;
// - nothing had the file open for writing when it was measured (NoWriters):
//   a write under way, or a shared mapping already written to, changes the
//   bytes without setting the time again. A writer that opens the file
//   later sets it when it first writes;
// - the machine has not started again, nor the tree's file system been
//   mounted again, since: a crash may keep bytes flushed by a writer and lose
//   the time it set with them;
// - the archive is the one the stamps were made with (its FileIdentity:
//   device, inode, size, modification and change times), and the entry has
//   the file's size.
// A clock set back by hand defeats the rule, as it does for every tool that
// trusts times (make, rsync, git).
//
// The stamps live in a cache folder, one file an archive, named by its
// device and inode. A file that is missing, damaged (it carries a checksum),
// or made for another archive or tree is not used: the files are read.

#include <QString>

#include <sys/stat.h>
#include <vector>

#include "archive/directory.h"

namespace kbx {

// Whether the file system of `fd` takes its times from this machine's clock.
bool LocalTimes(int fd);
// The clock the file system takes its times from, now, in nanoseconds.
qint64 CoarseNowNs();
// True when `st`, measured after `momentNs` (CoarseNowNs), last changed so
// long before that any later change shows in its change time: the clock's
// tick where times have nanoseconds, two seconds where they have seconds
// only (a file system may round a time down by up to a second).
bool SettledBefore(const struct stat& st, qint64 momentNs);
// True when no process has the file open at `fd` (opened for reading only)
// for writing: a read lease is granted, and given back at once. False also
// where leases are refused (a file of another user, a file system without
// them). A writer that opens the file meanwhile breaks the lease and waits
// for it, which lasts microseconds; the break is told by SIGURG, which
// processes ignore unless they ask for it.
bool NoWriters(int fd);
// The mount of the file system that `fd` lies on (0 where unknown): a
// mount's identifier is not given again until the machine restarts.
quint64 MountOf(int fd);

// One file's state; inode 0 stands for none.
struct FileStamp {
    quint64 inode = 0;
    qint64 changedNs = 0;
    qint64 size = -1;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const struct stat& st);

// The stamps of a tree's files, by the index of the entry each one's bytes
// equal, for one archive.
struct TreeStamps {
    FileIdentity archive;
    quint64 device = 0, inode = 0;   // the tree's Version folder; its files lie on this device
    quint64 mount = 0;               // the Version folder's (MountOf)
    std::vector<FileStamp> entries;  // by entry index; none where not known

    // True when the file measured as `st` still holds the bytes of entry `i`
    // (whose size is `size`).
    bool Unchanged(qint64 i, qint64 size, const struct stat& st) const;
};

// Loads the stamps kept in `folder` for the archive `archive` (of `count`
// entries) and the tree whose Version folder is (`device`, `inode`, on
// `mount`), kept since this machine last started and by this user. False,
// with `out` empty, when there are none or they cannot be used.
bool LoadStamps(const QString& folder, const FileIdentity& archive, qint64 count, quint64 device,
                quint64 inode, quint64 mount, TreeStamps& out);
// Keeps `stamps` in `folder` (made when missing), in place of those of
// `replaced`, the archive as it was before. A failure only loses the stamps.
void SaveStamps(const QString& folder, const TreeStamps& stamps, const FileIdentity& replaced);

}  // namespace kbx
