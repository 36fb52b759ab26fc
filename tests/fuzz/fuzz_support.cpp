#include "fuzz_support.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

void FuzzFail(const char* file, int line, const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n%s\n", file, line, what, detail.c_str());
    std::abort();
}

namespace fuzz {

std::string MakeScratchRoot(const char* tag) {
    static std::vector<std::string> roots;
    const char* env = std::getenv("KBX_FUZZ_TMP");
    const std::string base = env && *env ? env
                             : fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0
                                 ? "/dev/shm"
                                 : fs::temp_directory_path().string();
    std::string dir = base + "/kbx-fuzz-" + tag + "-XXXXXX";
    FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr, dir + ": " + std::strerror(errno));
    if (roots.empty())
        std::atexit([] {
            for (const std::string& r : roots) {
                ClearFolder(r);
                ::rmdir(r.c_str());
            }
        });
    roots.push_back(dir);
    return dir;
}

QString InputFile(const uint8_t* data, size_t size) {
    static const std::string path = MakeScratchRoot("input") + "/input.kbx";
    FUZZ_CHECK(WriteWhole(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))),
               path);
    return QString::fromStdString(path);
}

void ClearFolder(const std::string& path) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(path, ec)) {
        if (!e.is_symlink(ec) && e.is_directory(ec)) {
            // Folders the engine made may lack permissions; restore them first.
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
            ClearFolder(e.path());
        }
        fs::remove(e.path(), ec);
    }
}

bool WriteWhole(const std::string& path, const QByteArray& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.constData(), bytes.size());
    f.close();
    return !f.fail();
}

QByteArray ReadWhole(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(f), {}));
}

std::map<std::string, QByteArray> Tree(const std::string& root, const std::string& skip) {
    std::map<std::string, QByteArray> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(root, fs::directory_options::skip_permission_denied, ec),
         end;
         it != end; it.increment(ec)) {
        const std::string rel = it->path().string().substr(root.size() + 1);
        const fs::file_status st = it->symlink_status(ec);
        if (ec) {
            out[rel] = "?";
        } else if (fs::is_directory(st)) {
            out[rel] = "d";
            if (rel == skip) it.disable_recursion_pending();
        } else if (fs::is_symlink(st)) {
            out[rel] = "l:" + QByteArray::fromStdString(fs::read_symlink(it->path(), ec).string());
        } else {
            out[rel] = fs::is_regular_file(st) ? "f:" + ReadWhole(it->path()) : QByteArray("o");
        }
    }
    return out;
}

}  // namespace fuzz
