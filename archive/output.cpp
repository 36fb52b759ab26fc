#include "archive/output.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace kbx {

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int kMaxLinks = 40;

// Follows the links standing at `path`, one by one, to the name they finally
// lead to. `st` learns what stands there (without following it) and
// `exists` whether anything does. Returns false with `err` set when the
// chain cannot be followed (a loop, say).
bool FollowLinks(QByteArray& path, struct stat* st, bool* exists, int* err) {
    for (int hops = 0;; ++hops) {
        if (::lstat(path.constData(), st) != 0) {
            if (errno != ENOENT) return *err = errno, false;
            *exists = false;
            return true;
        }
        if (!S_ISLNK(st->st_mode)) {
            *exists = true;
            return true;
        }
        if (hops == kMaxLinks) return *err = ELOOP, false;
        QByteArray to(qsizetype(st->st_size > 0 ? st->st_size : PATH_MAX) + 1, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), to.data(), size_t(to.size()));
        if (n < 0) return *err = errno, false;
        if (n >= to.size()) return *err = ENAMETOOLONG, false;  // it grew meanwhile
        to.truncate(n);
        if (to.isEmpty()) return *err = ENOENT, false;
        // A relative link is resolved from the folder that holds it.
        const qsizetype slash = path.lastIndexOf('/');
        path = to.startsWith('/') || slash < 0 ? to : path.left(slash + 1) + to;
    }
}

}  // namespace

Failure OutputArchive::Fail(Reason reason, int error) const {
    return {reason, error, NameRule::None, -1, path_};
}

Failure OutputArchive::CheckLoaded() const {
    struct stat now {};
    if (::fstatat(folder_.get(), name_.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(now.st_mode) || io::IdentityOf(now) != *loaded_)
        return Fail(Reason::ArchiveChanged, 0);
    return {};
}

Failure OutputArchive::Create(const QString& path, const FileIdentity* loaded) {
    path_ = path;
    if (loaded) loaded_ = *loaded;
    QByteArray target = io::NativePath(path);
    int err = 0;
    if (target.isEmpty()) return Fail(Reason::CannotCreateArchive, ENOENT);
    if (!FollowLinks(target, &old_, &exists_, &err)) return Fail(Reason::CannotCreateArchive, err);
    // Checked before anything is created: a device or a FIFO is never
    // written through, nor replaced by a file.
    if (exists_ && !S_ISREG(old_.st_mode))
        return Fail(loaded_ ? Reason::ArchiveChanged : Reason::TargetNotRegular, 0);

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : target.left(slash);
    name_ = target.mid(slash + 1);
    folderText_ = QFile::decodeName(folder);
    folder_ = io::Fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) return {Reason::CannotOpenFolder, errno, NameRule::None, -1, folderText_};
    if (loaded_) {
        // Checked through the folder now open: a link switched since the
        // chain was followed leads nowhere the edit could write.
        if (Failure f = CheckLoaded(); f.reason != Reason::None) return f;
        if (::faccessat(folder_.get(), name_.constData(), W_OK, AT_EACCESS) != 0)
            return Fail(Reason::CannotOpenArchive, errno);
        if ((old_.st_mode & 0222) == 0) return Fail(Reason::CannotOpenArchive, EACCES);
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
        warnings.push_back({Reason::FolderNotFlushed, err, NameRule::None, -1, folderText_});
    return {};
}

}  // namespace kbx
