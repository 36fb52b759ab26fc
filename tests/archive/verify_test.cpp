
#include <tuple>

#include "archive/file_io_faults.h"
#include "archive/verify.h"
#include "seam_test.h"

using namespace testutil;

namespace {

using Kind = kbx::Problem::Kind;
using Found = std::tuple<std::string, qint64, qint64>;  // kind, index, other

class Verify : public ArchiveTest {
  protected:
    // Writes the archive and lists what verify finds in it.
    std::vector<Found> Problems(const std::vector<RawEntry>& entries) {
        EXPECT_TRUE(WriteFile(archive, BuildArchive(entries)));
        std::vector<Found> found;
        const kbx::Result r = kbx::Verify(archive, [&](const kbx::Problem& p) {
            found.emplace_back(kbx::KindName(p.kind), p.index, p.other);
            return true;
        });
        EXPECT_TRUE(r.ok());
        return found;
    }
};

TEST_F(Verify, FindsEachKindOfProblemInOrder) {
    const std::vector<RawEntry> entries{
        {"Version\\dir", "ee", -1788, -1, false},  // 0: at 0, the header
        {"Version\\a.txt", "aaaa"},
        {"version/A.TXT", "bb"},                  // 2: same as 1
        {"..\\evil", "cc"},                       // 3: unsafe
        {"Version\\over", "dd", -2, -1, false},   // 4: overlaps 3
        {"Version\\Data\\far", "", 0, 10, true},  // 5: past the end
        {"version\\DATA", ""},                    // 6: made a folder
        {"Version\\sub", ""},                     // 7: folder of 9
        {"Version\\subway", ""},
        {"Version/SUB\\x", ""},
        {"Version\\x", "ff", -1799, -1, false},  // 10: overlaps 0
        {"v", ""},                               // 11: folder of 12
        {"V\\w", ""},
    };
    const std::vector<Found> expected{
        {"unsafe-name", 3, -1},   {"out-of-bounds", 5, -1},   {"required-folder", 6, -1},
        {"name-is-folder", 7, 9}, {"name-is-folder", 11, 12}, {"duplicate", 2, 1},
        {"overlap", 0, -1},       {"overlap", 4, 3},          {"overlap", 10, 0},
        {"overlap", 10, -1},
    };
    EXPECT_EQ(Problems(entries), expected);
    // Names are told apart by themselves, not by their hashes.
    kbx::ForceHashCollisions(true);
    EXPECT_EQ(Problems(entries), expected);
    kbx::ForceHashCollisions(false);

    // The first problem can end the check, as `verify --json` does to learn
    // whether there is any.
    qint64 calls = 0, count = 0;
    const auto first = [&](const kbx::Problem&) {
        ++calls;
        return false;
    };
    EXPECT_TRUE(kbx::Verify(archive, first, &count).ok());
    EXPECT_EQ(std::tuple(calls, count), std::tuple(1, 13));
    // An empty entry inside another's data overlaps nothing; a one-byte one
    // does. A sound archive, its last entry ending at the file's end, has none.
    EXPECT_EQ(Problems({{"Version\\a.txt", "aaaa"},
                        {"Version\\none", "", -3, 0, true},
                        {"Version\\one", "", -3, 1, true},
                        {"Version\\b", "bb"}}),
              (std::vector<Found>{{"overlap", 2, 0}}));
    EXPECT_EQ(Problems({{"Version\\a.txt", "aaaa"}, {"Version\\b", "bb"}}), std::vector<Found>{});
}

TEST_F(Verify, ProblemsCarryTheirFields) {
    const QByteArray bytes = BuildArchive({{"Version\\a\\..\\b", "x", 0, -3, true}});
    ASSERT_TRUE(WriteFile(archive, bytes));
    std::vector<kbx::Problem> found;
    ASSERT_TRUE(kbx::Verify(archive, [&](const kbx::Problem& p) {
                    found.push_back(p);
                    return true;
                }).ok());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(std::tuple(found[0].kind, found[0].offset, found[0].size, found[0].fileSize),
              std::tuple(Kind::OutOfBounds, 156, -3, bytes.size()));
    EXPECT_EQ(std::tuple(found[1].kind, found[1].rule, found[1].part, found[1].name),
              std::tuple(Kind::UnsafeName, kbx::NameRule::BadComponent, "..", "Version\\a\\..\\b"));
}

// Names of `n` characters that Windows-1251 holds in one byte and UTF-8 in
// three ("€").
QByteArray Euros(int n) {
    return QByteArray(n, '\x88');
}

// Verify finds no problem in an archive exactly when unpacking it into an
// empty writable folder succeeds, except where verify is stricter on purpose:
// the game's file system ignores letter case, and overlapping data is a
// broken archive even though each entry can be written.
TEST_F(Verify, AgreesWithAnActualUnpack) {
    const struct {
        const char* label;
        std::vector<RawEntry> entries;
        bool unpacks;
        bool verifies;
    } cases[] = {
        {"plain tree", {{"Version\\a", "1"}, {"Version\\Data\\b", "2"}}, true, true},
        {"deeper folders", {{"Version\\x\\y\\z", "1"}, {"Version\\x\\w", "2"}}, true, true},
        {"Data at the top", {{"Data", "1"}, {"Version\\Datas", "2"}}, true, true},
        {"a prefix that is no folder",
         {{"Version\\su", "1"}, {"Version\\sub\\x", "2"}},
         true,
         true},
        {"file, then its folder", {{"Version\\sub", "1"}, {"Version\\sub\\x", "2"}}, false, false},
        {"folder, then its file", {{"Version\\sub\\x", "1"}, {"Version\\sub", "2"}}, false, false},
        {"folder named with /", {{"Version/sub", "1"}, {"Version\\sub\\x\\y", "2"}}, false, false},
        {"folder in Data", {{"Version\\Data\\a\\b", "1"}, {"Version\\Data\\a", "2"}}, false, false},
        {"Version itself", {{"Version", "1"}}, false, false},
        {"Version\\Data itself", {{"Version\\Data", "1"}}, false, false},
        {"Version/Data itself", {{"Version/Data", "1"}}, false, false},
        {"255 bytes in UTF-8", {{"Version\\" + Euros(85), "1"}}, true, true},
        {"256 bytes in UTF-8", {{"Version\\" + Euros(85) + "a", "1"}}, false, false},
        {"a long folder", {{"Version\\" + Euros(86) + "\\a", "1"}}, false, false},
        {"unsafe", {{"..\\a", "1"}}, false, false},
        {"out of bounds", {{"Version\\a", "1", 0, 9, true}}, false, false},
        {"folder differing in case",
         {{"Version\\SUB", "1"}, {"Version\\sub\\x", "2"}},
         true,
         false},
        {"version in lower case", {{"version", "1"}}, true, false},
        {"duplicate", {{"Version\\a", "1"}, {"Version\\a", "2"}}, true, false},
        {"overlap", {{"Version\\a", "12"}, {"Version\\b", "3", -1, -1, false}}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString out = tmp.filePath(QString::number(&c - cases));
        ASSERT_TRUE(QDir().mkpath(out));
        EXPECT_EQ(Problems(c.entries).empty(), c.verifies);
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        EXPECT_EQ(kbx::UnpackAll(dir, out).ok(), c.unpacks);
    }
}

}  // namespace
