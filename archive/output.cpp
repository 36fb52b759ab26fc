#include "archive/output.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace kbx {

Failure OutputArchive::Fail(Reason reason, int error) const {
    return Failure::Path(reason, error, path_);
}

Failure OutputArchive::CheckLoaded() const {
    struct stat now {};
    if (::fstatat(folder_.get(), name_.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(now.st_mode) || io::IdentityOf(now) != *loaded_)
        return Fail(Reason::ArchiveChanged, 0);
    return {};
}

Failure OutputArchive::Create(const QString& path, const FileIdentity* loaded, bool start) {
    path_ = path;
    if (loaded) loaded_ = *loaded;
    QByteArray target = io::NativePath(path);
    int err = 0;
    if (target.isEmpty()) return Fail(Reason::CannotCreateArchive, ENOENT);
    if (!io::FollowLinks(target, &old_, &exists_, &err))
        return Fail(Reason::CannotCreateArchive, err);
    // Checked before anything is created: a device or a FIFO is never
    // written through, nor replaced by a file.
    if (exists_ && !S_ISREG(old_.st_mode))
        return Fail(loaded_ ? Reason::ArchiveChanged : Reason::TargetNotRegular, 0);

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : target.left(slash);
    name_ = target.mid(slash + 1);
    folderText_ = QFile::decodeName(folder);
    folder_ = io::Fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) return Failure::Path(Reason::CannotOpenFolder, errno, folderText_);
    if (loaded_) {
        // Checked through the folder now open: a link switched since the
        // chain was followed leads nowhere the edit could write.
        if (Failure f = CheckLoaded(); f.reason != Reason::None) return f;
        if (::faccessat(folder_.get(), name_.constData(), W_OK, AT_EACCESS) != 0)
            return Fail(Reason::CannotOpenArchive, errno);
        if ((old_.st_mode & 0222) == 0) return Fail(Reason::CannotOpenArchive, EACCES);
    }
    if (!start) {
        if (::faccessat(folder_.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
            return Fail(Reason::CannotCreateArchive, errno);
        return {};
    }
    if (!file_.Create(folder_.get(), name_, &err)) return Fail(Reason::CannotCreateArchive, err);
    return {};
}

Failure OutputArchive::Publish(std::vector<Failure>& warnings) {
    int err = 0;
    if (file_.error() != 0) return Fail(Reason::WriteFailed, file_.error());
    if (exists_) {
        // The owner first: a change of owner clears the set-ID bits, which
        // the mode then restores. Only the file's owner or a privileged
        // process may give a file away; others keep the new file their own.
        if (!file_.SetOwner(old_.st_uid, old_.st_gid, &err) && err != EPERM)
            return Fail(Reason::WriteFailed, err);
        if (err == EPERM) file_.SetOwner(uid_t(-1), old_.st_gid, &err);
        if (!file_.SetMode(old_.st_mode & 07777, &err)) return Fail(Reason::WriteFailed, err);
    }
    // An edit replaces the archive it loaded, and nothing else.
    if (loaded_) {
        if (Failure f = CheckLoaded(); f.reason != Reason::None) return f;
    }
    // Whatever took the name since Create must still be something a rename
    // may replace.
    struct stat now {};
    if (::fstatat(folder_.get(), name_.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(now.st_mode))
        return Fail(Reason::TargetNotRegular, 0);
    if (!file_.Commit(true, &err)) return Fail(Reason::WriteFailed, err);
    if (!io::Fsync(folder_.get(), &err))
        warnings.push_back(Failure::Path(Reason::FolderNotFlushed, err, folderText_));
    return {};
}

}  // namespace kbx
