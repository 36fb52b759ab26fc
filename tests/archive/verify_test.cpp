#include <gtest/gtest.h>
#include <QTemporaryDir>

#include "archive/archive.h"
#include "archive/verify.h"
#include "test_util.h"

using namespace testutil;

TEST(Verify, FindsEachKindOfProblem) {
    testutil::TempDir tmp;
    const QString path = tmp.filePath(QStringLiteral("v.kbx"));
    ASSERT_TRUE(WriteFile(path, BuildArchive({
                                    {"Version\\a.txt", "aaaa"},
                                    {"version/A.TXT", "bb"},                  // duplicate of 0
                                    {"..\\evil", "cc"},                       // unsafe
                                    {"Version\\over", "dd", -4, -1, false},   // overlaps 2
                                    {"Version\\far", "", 0, 10, true},        // past the end
                                    {"Version\\dir", "ee", -200, -1, false},  // in the directory
                                    {"Version\\none", "", -7, 0, true},       // empty, inside 1
                                    {"Version\\one", "", -7, 1, true},        // one byte, inside 1
                                })));
    kbx::Directory dir;
    ASSERT_TRUE(kbx::ReadArchive(path, dir).ok());
    std::vector<std::pair<std::string, qint64>> found;
    for (const kbx::Problem& p : kbx::Verify(dir, QFileInfo(path).size()))
        found.emplace_back(kbx::KindName(p.kind), p.index);
    const std::vector<std::pair<std::string, qint64>> expected{
        {"unsafe-name", 2}, {"out-of-bounds", 4}, {"duplicate", 1},
        {"overlap", 3},     {"overlap", 7},       {"overlap", 5}};
    EXPECT_EQ(found, expected);
    // A sound archive, its last entry ending at the end of the file, has none.
    ASSERT_TRUE(WriteFile(path, BuildArchive({{"Version\\a.txt", "aaaa"}, {"Version\\b", "bb"}})));
    ASSERT_TRUE(kbx::ReadArchive(path, dir).ok());
    EXPECT_TRUE(kbx::Verify(dir, QFileInfo(path).size()).empty());
}
