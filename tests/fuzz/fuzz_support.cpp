#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

void FuzzFail(const char* file, int line, const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n%s\n", file, line, what, detail.c_str());
    std::abort();
}

namespace fuzz {

namespace {

std::vector<std::string>& RootsToRemove() {
    static std::vector<std::string> roots;
    return roots;
}

void RemoveTree(const std::string& path) {
    ClearFolder(path);
    ::rmdir(path.c_str());
}

void RemoveRootsAtExit() {
    for (const std::string& r : RootsToRemove()) RemoveTree(r);
}

void ClearAt(int dirfd) {
    DIR* d = ::fdopendir(dirfd);
    if (!d) {
        ::close(dirfd);
        return;
    }
    std::vector<std::pair<std::string, bool>> names;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st;
        const bool isDir =
            ::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        names.emplace_back(e->d_name, isDir);
    }
    for (const auto& [name, isDir] : names) {
        if (isDir) {
            // Folders the engine made may lack permissions; restore them first.
            ::fchmodat(dirfd, name.c_str(), 0700, 0);
            const int sub = ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (sub >= 0) ClearAt(sub);
            ::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(dirfd, name.c_str(), 0);
        }
    }
    ::closedir(d);
}

void TreeAt(int dirfd, const std::string& prefix, const std::string& skip,
            std::map<std::string, QByteArray>& out) {
    DIR* d = ::fdopendir(dirfd);
    if (!d) {
        ::close(dirfd);
        return;
    }
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const std::string rel = prefix + e->d_name;
        struct stat st;
        if (::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            out[rel] = "?";
        } else if (S_ISDIR(st.st_mode)) {
            out[rel] = "d";
            if (rel == skip) continue;
            const int sub = ::openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (sub >= 0) TreeAt(sub, rel + "/", skip, out);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlinkat(dirfd, e->d_name, target, sizeof target);
            out[rel] = "l:" + QByteArray(target, n > 0 ? int(n) : 0);
        } else if (S_ISREG(st.st_mode)) {
            QByteArray content = "f:";
            const int fd = ::openat(dirfd, e->d_name, O_RDONLY | O_NOFOLLOW);
            if (fd >= 0) {
                char buf[65536];
                ssize_t n;
                while ((n = ::read(fd, buf, sizeof buf)) > 0) content.append(buf, int(n));
                ::close(fd);
            }
            out[rel] = content;
        } else {
            out[rel] = "o";
        }
    }
    ::closedir(d);
}

}  // namespace

MemFile::MemFile() {
    fd_ = ::memfd_create("kbx-fuzz", MFD_CLOEXEC);
    if (fd_ >= 0) {
        path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
        struct stat st;
        if (::stat(path_.toLocal8Bit().constData(), &st) == 0) return;
        ::close(fd_);
    }
    // No memfd or no /proc: a plain file, reused for every input.
    const std::string root = MakeScratchRoot("memfile");
    const std::string file = root + "/input.kbx";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd_ >= 0, std::strerror(errno));
    path_ = QString::fromStdString(file);
}

MemFile::~MemFile() {
    if (fd_ >= 0) ::close(fd_);
}

void MemFile::Set(const uint8_t* data, size_t size) {
    FUZZ_CHECK(::ftruncate(fd_, off_t(size)) == 0, std::strerror(errno));
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, off_t(done));
        FUZZ_CHECK(n > 0, std::strerror(errno));
        done += size_t(n);
    }
}

std::string MakeScratchRoot(const char* tag) {
    struct stat st;
    std::string base = "/dev/shm";
    if (const char* t = std::getenv("KBX_FUZZ_TMP"); t && *t)
        base = t;
    else if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
             ::access(base.c_str(), W_OK) != 0)
        base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string templ = base + "/kbx-fuzz-" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    FUZZ_CHECK(::mkdtemp(buf.data()) != nullptr, templ + ": " + std::strerror(errno));
    if (RootsToRemove().empty()) std::atexit(RemoveRootsAtExit);
    RootsToRemove().push_back(buf.data());
    return buf.data();
}

void ClearFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) ClearAt(fd);
}

bool WriteWhole(const std::string& path, const QByteArray& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

QByteArray ReadWhole(const std::string& path) {
    QByteArray out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, int(n));
    ::close(fd);
    return out;
}

std::map<std::string, QByteArray> Tree(const std::string& root, const std::string& skip) {
    std::map<std::string, QByteArray> out;
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) TreeAt(fd, "", skip, out);
    return out;
}

bool IsTemporaryName(const std::string& name) {
    const size_t slash = name.rfind('/');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    return base.rfind(".kbx-", 0) == 0;
}

}  // namespace fuzz
