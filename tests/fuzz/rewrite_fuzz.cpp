// Fuzz target: apply random edits to a small archive. The input describes
// the archive's entries (names from a pool with case twins, folders of other
// entries and unsafe names, or raw bytes) and a list of edits (replace,
// add, remove, with files of given sizes). A rewrite either gives exactly
// the entries a plain model predicts, laid back to back, and an archive that
// verify accepts whenever it accepted the old one; or it refuses and leaves
// the old archive byte-identical with no temporary beside it. Edits that
// only touch existing entries with readable files never fail.

#include <sys/stat.h>
#include <cstdint>
#include <set>
#include <vector>

#include "archive/archive.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "fuzz_support.h"
#include "tests/support/describe.h"
#include "tests/support/test_util.h"

namespace {

struct Scene {
    const std::string base = fuzz::MakeScratchRoot("rewrite"), archive = base + "/game.kbx",
                      files = base + "/files";
};

const char* const kNames[] = {
    "Version\\a.txt", "Version\\A.TXT",  "Version\\Data\\b.dat", "Version\\Data",
    "Version\\sub",   "Version\\sub\\c", "version/data/d",       "Version\\\x01",
    "Version\\..\\e", "\\abs",           "Version\\\xe0\xe1",    "",
};

// Reads bytes from the input, zero once it is used up.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Next() { return at < size ? data[at++] : 0; }
    bool More() const { return at < size; }
    QByteArray Name() {
        const uint8_t pick = Next();
        if (pick < 0xF0) return kNames[pick % std::size(kNames)];
        // A raw name of up to 15 bytes.
        QByteArray raw;
        for (int n = pick & 0x0F; n > 0; --n) raw.append(char(Next()));
        return raw;
    }
    QByteArray Bytes(char tag) {
        const size_t n = Next();  // then a byte whose low bit makes it 997 times more
        return QByteArray(qsizetype(n * (Next() & 1 ? 997 : 1)), tag);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scene scene;
    fuzz::ClearFolder(scene.base);
    ::mkdir(scene.files.c_str(), 0755);
    Reader in{data, size};

    std::vector<testutil::RawEntry> entries;
    for (int n = in.Next() % 6; n > 0; --n) {
        const QByteArray name = in.Name();
        entries.push_back({name, in.Bytes(char('a' + entries.size()))});
    }
    const QByteArray old = testutil::BuildArchive(entries);
    FUZZ_CHECK(fuzz::WriteWhole(scene.archive, old), scene.archive);
    kbx::Directory dir;
    const QString archive = QString::fromStdString(scene.archive);
    FUZZ_CHECK(kbx::ReadArchive(archive, dir).ok(), "");
    const bool wasClean = kbx::IsSound(dir.ArchivePath);
    const qint64 count = dir.Count();

    // The edits, and what a plain model expects of them.
    std::vector<kbx::Edit> edits;
    std::vector<testutil::RawEntry> kept = entries, appended;
    std::vector<bool> removed(entries.size(), false);
    std::set<qint64> touched;
    bool simple = true;  // only valid, distinct indexes with readable files
    while (in.More() && edits.size() < 6) {
        const uint8_t kind = in.Next() % 3;
        const std::string file = scene.files + "/f" + std::to_string(edits.size());
        if (kind == 2) {
            const QString name = kbx::DecodeName(in.Name());
            const QByteArray bytes = in.Bytes('N');
            FUZZ_CHECK(fuzz::WriteWhole(file, bytes), file);
            edits.push_back(kbx::Edit::Add(name, QString::fromStdString(file)));
            appended.push_back(
                {kbx::EncodeName(QString(name).replace(u'/', u'\\')).value_or(QByteArray()),
                 bytes});
            simple = false;
            continue;
        }
        const qint64 index = qint64(in.Next()) - 1;
        simple = simple && index >= 0 && index < count && touched.insert(index).second;
        if (kind == 0) {
            const QByteArray bytes = in.Bytes('R');
            FUZZ_CHECK(fuzz::WriteWhole(file, bytes), file);
            edits.push_back(kbx::Edit::Replace(index, QString::fromStdString(file)));
            if (index >= 0 && index < count) kept[size_t(index)].data = bytes;
        } else {
            edits.push_back(kbx::Edit::Remove(index));
            if (index >= 0 && index < count) removed[size_t(index)] = true;
        }
    }

    const kbx::Result r = kbx::Rewrite(dir, edits);
    for (const auto& [name, what] : fuzz::Tree(scene.base, "files"))
        FUZZ_CHECK(name == "game.kbx" || name == "files", "left beside the archive: " + name);
    if (edits.empty() || !r.ok()) {
        FUZZ_CHECK(
            r.outcome == (edits.empty() ? kbx::Outcome::NothingDone : kbx::Outcome::Unusable),
            testsupport::Describe(r));
        FUZZ_CHECK(fuzz::ReadWhole(scene.archive) == old, "a refused rewrite changed the archive");
        FUZZ_CHECK(edits.empty() || !simple, "refused plain edits: " + testsupport::Describe(r));
        return 0;
    }

    std::vector<testutil::RawEntry> expected;
    for (size_t i = 0; i < kept.size(); ++i)
        if (!removed[i]) expected.push_back(kept[i]);
    expected.insert(expected.end(), appended.begin(), appended.end());
    // Names as a directory keeps them (up to the first NUL), data back to back.
    for (testutil::RawEntry& e : expected) e.name = kbx::NameBytes(e.name.left(128)).toByteArray();
    FUZZ_CHECK(fuzz::ReadWhole(scene.archive) == testutil::BuildArchive(expected),
               "the archive is not the model's entries laid back to back");
    FUZZ_CHECK(r.done == qint64(expected.size()), "");
    if (wasClean) FUZZ_CHECK(kbx::IsSound(archive), "verify rejects the result");
    return 0;
}
