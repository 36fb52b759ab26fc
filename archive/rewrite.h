#pragma once
// Changing a loaded archive without unpacking it: entries replaced by a
// file's bytes, added at the end, removed, or renamed. One operation serves
// every kind of change, so that several changes cost one new archive.

#include <QString>

#include <vector>

#include "archive/archive.h"

namespace kbx {

// One change to an archive's entries.
struct Edit {
    enum class Kind { Replace, Add, Remove, Rename };
    Kind kind = Kind::Replace;
    qint64 index = -1;  // Replace, Remove, Rename: the entry, by its directory index
    QString name;       // Add, Rename: the entry's new name; "/" is taken as "\"
    QString file;       // Replace, Add: the file whose bytes the entry gets
    qint64 size = -1;   // and its size as the caller measured it; -1: measured here

    static Edit Replace(qint64 index, QString file) {
        return {Kind::Replace, index, {}, std::move(file)};
    }
    static Edit Add(QString name, QString file) {
        return {Kind::Add, -1, std::move(name), std::move(file)};
    }
    static Edit Remove(qint64 index) { return {Kind::Remove, index, {}, {}}; }
    static Edit Rename(qint64 index, QString name) {
        return {Kind::Rename, index, std::move(name), {}};
    }
    // True for the edits that give an entry a name of their own.
    bool Names() const { return kind == Kind::Add || kind == Kind::Rename; }
    // True for the edits whose bytes come from a file.
    bool TakesFile() const { return kind == Kind::Replace || kind == Kind::Add; }
};

// Bytes of entry data an edit has copied so far, and the bytes it copies in
// all; reported before each piece of at most io::kCopyPiece bytes, so that a
// report costs nothing beside the copy.
using CopyProgress = std::function<void(qint64 copied, qint64 total)>;

// Writes the archive `dir` was loaded from again with `edits` applied, and
// puts the new archive in the old one's place (see OutputArchive: the file a
// link names is replaced, the mode and owner are kept).
//
// The new archive holds, in this order: the entries of `dir` that are not
// removed, in their directory order, each under its own name (a replaced
// entry keeps its place and name and gets the file's bytes; a renamed one
// keeps its place and bytes under its new name); then the added entries, in
// the order of `edits`. Its data follow the directory back to
// back in directory order, so later entries' offsets move as sizes change.
// Untouched entries' bytes are copied from the old archive in the kernel
// where it can; nothing is held in memory whole.
//
// Before anything is written, the edits are checked; any refusal returns
// Outcome::Unusable with the first reason and leaves the archive untouched:
// - NoSuchEntry (index): Replace or Remove of an index outside the directory;
// - EditConflict (index, subject = the entry name): one entry edited twice,
//   or one name given twice (added or renamed to); with rule Exists, an
//   entry renamed to the name it has;
// - UnsafeName (rule, subject = the new name, detail): an added or new name
//   (of a rename; the entry's old name is free) that
//   pack would refuse (NotEncodable, TooLong, ComponentTooLong, Empty,
//   Absolute, DriveLetter, BadComponent, ControlChar), that differs only in
//   case from a kept entry or another added one (CaseDuplicate; index and
//   detail name that entry), that is "Version" or "Version\Data"
//   (ReservedFolder), that does not lie beneath "Version\" (OutsideVersion),
//   or that is a folder of a kept entry or has one as its folder
//   (FolderClash), or that names a kept entry (Exists). Names are taken as
//   users type them (TypedName);
// - ArchiveChanged (subject = the archive path): the file at the path is not
//   the one loaded (Directory::Identity: device, inode, size, times), no
//   longer holds the loaded directory, or changed while it was read; checked
//   again when the new archive is published, so that it replaces the loaded
//   file and no other, whatever a link or folder at the path leads to now;
// - CannotOpenArchive (error EACCES, subject = the archive path): the user
//   may not write the archive, or it has no write permission at all;
// - OutOfBounds (index, subject = the name): an untouched entry's data lie
//   outside the file (its archive would not pass verify anyway);
// - CannotOpenFile, NotRegularFile, ReadFailed, FileChanged (index, subject
//   = the file): a replacement or added file that cannot be read, is a
//   folder, FIFO, socket or device, or changes while it is copied;
// - TooLarge: the new archive would pass 2^31 - 1 bytes, as measured before
//   anything is copied, or as the files grow during the copy;
// - CannotOpenArchive, TargetNotRegular, CannotOpenFolder,
//   CannotCreateArchive, WriteFailed, Truncated (subject = the archive path):
//   the old archive cannot be read to its end or the new one cannot be
//   written. Whatever fails, the old archive stays byte for byte as it was
//   and nothing is left beside it.
// A folder that cannot be flushed after the new archive took its name is a
// FolderNotFlushed warning in Result::warnings; the result is still ok.
//
// `edits` empty and no `refresh`: Outcome::NothingDone, nothing written.
// `progress` learns the bytes of entry data copied (see CopyProgress), the
// total counting the sizes of the files `refresh` names once they are
// copied. A stop request, looked at between copies of at most
// io::kCopyPiece bytes and last just before the new archive is published,
// ends the operation with Outcome::Stopped, the old archive in place and
// nothing left beside it.
// The header's reserved field keeps the old archive's value.
// On success Result::done is the new archive's number of entries and
// Result::bytes its size (every byte of it was written). An archive that
// passed Verify before passes it after.
//
// `refresh`, when given, is asked about each entry that no edit touches, in
// directory order, just before its bytes would be copied: a file it names
// (in `*file`) replaces the entry, as a Replace edit would; an empty name
// keeps it. A failure it returns ends the edit as a refusal. With `refresh`
// and no edits, nothing is opened for writing until it names a file: when
// it names none, the result is Outcome::NothingDone and the archive is not
// touched. A `refresh` that compares the entry with its file thus compares
// while the bytes copied before go to disk, instead of before the copy.
using Refresh = std::function<Failure(qint64 index, QString* file)>;
Result Rewrite(const Directory& dir, const std::vector<Edit>& edits,
               const CopyProgress& progress = {}, const StopFlag* stop = nullptr,
               const Refresh& refresh = {});

// Rewrite with no edits: the same entries, their data laid back to back in
// directory order after the directory, with no unused bytes. Runs even when
// the archive is laid out so already.
Result Compact(const Directory& dir, const CopyProgress& progress = {},
               const StopFlag* stop = nullptr);

// Applies `edits` to the archive `dir` was loaded from in place: the file
// keeps its inode, mode, owner and links. New bytes (a replaced or added
// entry's file, and the data of entries the grown directory would cover) are
// appended at the end; the header and the directory records that change (a
// renamed entry's among them: names have a fixed size, so a rename alone
// neither grows nor shrinks the directory) are overwritten; a removed entry's data, and the bytes a
// shrunk directory no longer covers, stay as unused space (see Compact). The bytes overwritten are
// first saved in a journal beside the archive (see journal.h), so that a crash at any moment leaves
// the archive, once recovered, as it was before or as it is after; a completed edit keeps the
// journal as the archive's undo record (see Undo). The caller holds the archive's EditLock.
//
// The edits are checked and refused as by Rewrite, and further:
// - TooLarge: the archive would pass 2^31 - 1 bytes (unused space counts;
//   Compact first);
// - CannotCreateFile (errno, subject = the journal's path): the journal
//   cannot be made beside the archive (EEXIST: a journal of another file
//   stands there, see Recover).
// A failure or a stop after the journal was made rolls the archive back
// before returning; where even that fails, the journal stays, and the next
// Recover rolls back. The result's reasons name the archive, a file or the
// journal as Rewrite's do; Result::done is the new number of entries and
// Result::bytes the bytes written into the archive (appended and
// overwritten; the journal's not counted). `progress` counts the bytes
// appended.
Result EditInPlace(const Directory& dir, const std::vector<Edit>& edits,
                   const CopyProgress& progress = {}, const StopFlag* stop = nullptr);

}  // namespace kbx
