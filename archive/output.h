#pragma once
// Where a new archive is written: the path a user gave for it, published
// there only when the archive is complete and on disk.

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <optional>
#include <vector>

#include "archive/file_io.h"
#include "archive/result.h"

namespace kbx {

// A new archive for a path, written as a file without a name and given the
// path's name only by Publish. Until then whatever stands at the path is
// untouched; an archive that is never published leaves nothing behind.
//
// What stands at the path decides where the archive goes:
// - nothing: a new file, with the usual mode (0666 less the umask);
// - a regular file: it is replaced, and the new file takes its mode, and its
//   owner and group where the process may set them;
// - a symbolic link (or a chain of them): the file it finally names is
//   replaced as above (or created, when the link leads nowhere) and the link
//   stays as it is;
// - a folder, FIFO, socket or device: refused by Create with
//   Reason::TargetNotRegular, before anything is written.
class OutputArchive {
  public:
    OutputArchive() = default;
    OutputArchive(const OutputArchive&) = delete;
    OutputArchive& operator=(const OutputArchive&) = delete;

    // Starts the new file. Failures name `path` as given: TargetNotRegular,
    // CannotOpenFolder (the folder of the file to be written, with errno) or
    // CannotCreateArchive (errno).
    //
    // With `loaded`, the new file is an edit of that archive and may replace
    // it only: the file the path leads to must be the loaded one, unchanged
    // (ArchiveChanged otherwise, here and again at Publish), and writable by
    // the user (CannotOpenArchive with EACCES when it is not, also for a
    // privileged user when it has no write permission bit at all: it was
    // made read-only on purpose).
    //
    // With `start` unset, only what stands at the path is looked at and the
    // folder checked for a new file (CannotCreateArchive with errno when it
    // cannot take one): nothing is created, and Publish fails.
    [[nodiscard]] Failure Create(const QString& path, const FileIdentity* loaded = nullptr,
                                 bool start = true);

    // True when the file at (dev, ino) is the one this archive replaces, so
    // that a reader of the disk can leave the old archive out.
    bool Replaces(dev_t dev, ino_t ino) const {
        return exists_ && old_.st_dev == dev && old_.st_ino == ino;
    }

    // Writes and copies into the new file; the first failure is kept and
    // every later call fails (see io::AtomicFile).
    bool Write(const char* buf, long long len, long long offset) {
        return file_.Write(buf, len, offset);
    }
    long long CopyFrom(int in, long long inOffset, long long outOffset, long long len,
                       bool startWriteback, const std::atomic<bool>* stop = nullptr,
                       const io::PieceHook* piece = nullptr) {
        return file_.CopyFrom(in, inOffset, outOffset, len, startWriteback, stop, piece);
    }
    void StartWriteback(long long offset, long long len) const {
        file_.StartWriteback(offset, len);
    }
    int error() const { return file_.error(); }

    // Flushes the file to disk, gives it the replaced file's mode and owner,
    // puts it under its name, and flushes the folder. Returns Reason::None or
    // why the archive was not published (WriteFailed with errno; or
    // TargetNotRegular when something other than a file took the name in the
    // meantime); nothing is then changed at the path. A folder that cannot be
    // flushed after the file took its name adds a FolderNotFlushed warning:
    // the archive is complete, only its name's survival of a power loss is
    // in doubt.
    Failure Publish(std::vector<Failure>& warnings);

    // After Publish: the archive as it stood just after (size -1 when not known).
    const FileIdentity& published() const { return file_.committed(); }

    // Drops the unpublished file.
    void Discard() { file_.Discard(); }

  private:
    Failure Fail(Reason reason, int error) const;

    QString path_;        // as given, for messages
    QString folderText_;  // the folder written into, for messages
    io::Fd folder_;
    QByteArray name_;  // the file's name in folder_
    io::AtomicFile file_;
    // The loaded file's name may lead elsewhere now: ArchiveChanged then.
    [[nodiscard]] Failure CheckLoaded() const;

    bool exists_ = false;  // a regular file stands at the name
    struct stat old_ {};
    std::optional<FileIdentity> loaded_;
};

}  // namespace kbx
