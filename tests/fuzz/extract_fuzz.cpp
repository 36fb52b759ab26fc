// Fuzz target: extraction of arbitrary archives. The target folder sits
// beside sentinel files and holds links planted to lead outside it; any
// change outside the target folder, any temporary left behind, any file that
// is not an entry's, or any failure reported as success aborts.

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdint>
#include <set>

#include "archive/archive.h"
#include "fuzz_support.h"
#include "tests/support/describe.h"

namespace {

struct Scene {
    const std::string base = fuzz::MakeScratchRoot("extract"), target = base + "/target",
                      outside = base + "/outside";
    std::map<std::string, QByteArray> around;  // the base folder without the target's contents

    Scene() {
        FUZZ_CHECK(::mkdir(target.c_str(), 0755) == 0 && ::mkdir(outside.c_str(), 0755) == 0, base);
        FUZZ_CHECK(fuzz::WriteWhole(base + "/sentinel", "beside the target") &&
                       fuzz::WriteWhole(outside + "/sentinel", "outside the target"),
                   base);
        Plant();
        around = Around();
    }

    // Links inside the target that lead out of it: relative and absolute, to
    // folders and to a file, at the top and inside Version.
    void Plant() const {
        const std::string v = target + "/Version";
        ::mkdir(v.c_str(), 0755);
        ::mkdir((v + "/Data").c_str(), 0755);
        ::symlink("../outside", (target + "/out").c_str());
        ::symlink("..", (target + "/up").c_str());
        ::symlink(outside.c_str(), (v + "/abs").c_str());
        ::symlink("../../../outside/sentinel", (v + "/Data/sentinel").c_str());
        ::symlink("../../outside/sentinel", (v + "/sentinel").c_str());
    }

    std::map<std::string, QByteArray> Around() const { return fuzz::Tree(base, "target"); }
};

std::string Show(const std::map<std::string, QByteArray>& t) {
    std::string s;
    for (const auto& [k, v] : t) s += k + " = " + v.left(40).toStdString() + "\n";
    return s;
}

// The relative path an entry's file has on disk, or "" for a refused name.
std::string DiskPath(const QString& name) {
    if (kbx::NameProblem(name) != kbx::NameRule::None) return {};
    return QFile::encodeName(kbx::NameComponents(name).join(u'/')).toStdString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scene scene;
    kbx::Directory dir;
    if (!kbx::ReadArchive(fuzz::InputFile(data, size), dir).ok()) return 0;
    const qint64 count = dir.Count();
    const QString target = QString::fromStdString(scene.target);

    const kbx::Result all = kbx::UnpackAll(dir, target);
    FUZZ_CHECK(all.outcome == kbx::Outcome::Ok || all.outcome == kbx::Outcome::EntriesFailed,
               testsupport::Describe(all));
    FUZZ_CHECK(all.ok() == all.failures.empty(), "failures reported as success");
    FUZZ_CHECK(all.done + qint64(all.failures.size()) == count, "");

    // Which file each entry should have left, and which entries must fail.
    std::set<qint64> failed;
    for (const kbx::Failure& f : all.failures) failed.insert(f.index);
    std::map<std::string, qint64> lastWriter;
    std::set<std::string> names;
    for (qint64 i = 0; i < count; ++i) {
        const std::string path = DiskPath(dir.Name(i));
        const qint64 off = dir.EntryOffset[size_t(i)], len = dir.EntrySize[size_t(i)];
        const bool inside = off >= 0 && len >= 0 && off + len <= qint64(size);
        if (path.empty() || !inside)
            FUZZ_CHECK(failed.count(i), "unsafe entry written: " + dir.Name(i).toStdString());
        if (!path.empty()) names.insert(path);
        if (!failed.count(i)) lastWriter[path] = i;
    }

    // A single extraction, and the blank element that does nothing.
    if (count > 0) {
        const kbx::Result one = kbx::ExtractEntry(dir, 0, target);
        FUZZ_CHECK(one.ok() == !failed.count(0), testsupport::Describe(one));
        FUZZ_CHECK(one.ok() || (one.failures.size() == 1 && one.failures[0].index == 0), "");
        if (one.ok()) lastWriter[DiskPath(dir.Name(0))] = 0;
    }
    FUZZ_CHECK(kbx::ExtractEntry(dir, count, target).outcome == kbx::Outcome::NothingDone, "");

    const std::map<std::string, QByteArray> around = scene.Around();
    FUZZ_CHECK(around == scene.around, "changed outside the target:\n" + Show(around));
    const std::map<std::string, QByteArray> inside = fuzz::Tree(scene.target);
    for (const auto& [path, what] : inside)  // folders and planted links aside
        FUZZ_CHECK(what == "d" || what.startsWith("l:") || names.count(path),
                   "not an entry's file (a temporary?): " + path);
    for (const auto& [path, i] : lastWriter) {
        const auto it = inside.find(path);
        FUZZ_CHECK(it != inside.end(), "written entry missing: " + path);
        const QByteArray expected =
            "f:" + QByteArray(reinterpret_cast<const char*>(data) + dir.EntryOffset[size_t(i)],
                              dir.EntrySize[size_t(i)]);
        FUZZ_CHECK(it->second == expected, "wrong bytes in " + path);
    }

    fuzz::ClearFolder(scene.target);
    scene.Plant();
    return 0;
}
