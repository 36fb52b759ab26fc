// Byte layouts of archives the engine writes, and how it reads them back.

#include <QDir>

#include "seam_test.h"

using namespace testutil;

namespace {

class Layout : public ArchiveTest {
  protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(root + "/Version/Data")); }
    // Packs the tree and loads the result back into `dir`.
    QByteArray PackBytes() {
        const kbx::Result r = kbx::Pack(root, archive);
        EXPECT_TRUE(r.ok()) << Describe(r);
        EXPECT_TRUE(kbx::ReadArchive(archive, dir).ok());
        return ReadFile(archive);
    }
    const QString root = tmp.filePath("root");
};

TEST_F(Layout, EmptyThenThreeEntriesDataFolderFirstThenNameOrder) {
    // The builder's layout is the one the load tests read back at fixed offsets.
    EXPECT_EQ(PackBytes(), BuildArchive({}));
    EXPECT_EQ(std::tuple(dir.Count(), dir.IsLoaded()), std::tuple(0, true));  // the blank element
    Put("root/Version/b.txt", "bbb");
    Put("root/Version/a.txt", "aaaaa");
    Put("root/Version/Data/x.dat", "xxxxxxxxxx");
    EXPECT_EQ(PackBytes(), BuildArchive({{"Version\\Data\\x.dat", "xxxxxxxxxx"},
                                         {"Version\\a.txt", "aaaaa"},
                                         {"Version\\b.txt", "bbb"}}));
}

TEST_F(Layout, CaseInsensitiveOrderAndZeroSizes) {
    for (const char* f : {"b.txt", "A.txt", "c.txt", "B2.txt", "a1"})
        Put(QStringLiteral("root/Version/") + f, f[0] == 'A' ? "aa" : f[0] == 'c' ? "c" : "");
    // Zero-size entries share the offset of the entry after them.
    EXPECT_EQ(PackBytes(), BuildArchive({{"Version\\A.txt", "aa"},
                                         {"Version\\a1", ""},
                                         {"Version\\b.txt", ""},
                                         {"Version\\B2.txt", ""},
                                         {"Version\\c.txt", "c"}}));
}

TEST_F(Layout, NameLengthsAndCharacters) {
    // (file name in Version/, NULs in its 128-byte field)
    const std::pair<QString, int> cases[] = {
        {QString(119, u'n'), 1},  // "Version\" + 119 = 127 characters
        {QString(120, u'm'), 0},  // a full field without NUL comes back whole
        {"my file.dat", 128 - 19},
        {"карта.dat", 128 - 17},
    };
    for (const auto& [file, nuls] : cases) {
        SCOPED_TRACE(file.toStdString());
        QDir(root + "/Version").removeRecursively();
        QDir().mkpath(root + "/Version/Data");
        Put("root/Version/" + file, "data");
        const QByteArray field = PackBytes().mid(28, 128);
        EXPECT_EQ(field.count('\0'), nuls);
        EXPECT_EQ(field.left(8 + Cp1251(file).size()), "Version\\" + Cp1251(file));
        EXPECT_EQ(dir.Name(0), "Version\\" + file);
    }
}

// The rule each name breaks, at the edges of each rule; and names decode
// from Windows-1251 whatever their first byte.
TEST(Names, EachRuleAtItsEdges) {
    using kbx::NameRule;
    const std::tuple<QString, NameRule, QString> cases[] = {
        {"Version\\a.txt", NameRule::None, {}},
        {QString(), NameRule::Empty, {}},
        {"\\a", NameRule::Absolute, {}},
        {"/a", NameRule::Absolute, {}},
        {"C:", NameRule::DriveLetter, {}},
        {"1:a", NameRule::None, {}},
        {QString(QChar(0x1F)) + u'a', NameRule::ControlChar, {}},
        {"a\x7f", NameRule::ControlChar, {}},
        {"a~", NameRule::None, {}},
        {"a" + QString(QChar(0x9F)), NameRule::ControlChar, {}},
        {"a" + QString(QChar(0xA0)), NameRule::None, {}},
        {".\\a", NameRule::BadComponent, "."},
        {"a\\..", NameRule::BadComponent, ".."},
        {"a\\\\b", NameRule::BadComponent, ""},
        {"a/", NameRule::BadComponent, ""},
        {"a\\...\\b", NameRule::None, {}},
    };
    for (const auto& [name, rule, part] : cases) {
        SCOPED_TRACE(name.toStdString());
        QString found = "unset";
        EXPECT_EQ(kbx::NameProblem(name, &found), rule);
        if (rule == NameRule::BadComponent) {
            EXPECT_EQ(found, part);
        }
    }
    EXPECT_EQ(kbx::DecodeName("\xcf\xf0\xe8"), "При");
    EXPECT_EQ(kbx::DecodeName("a\xcf"), "aП");
}

// One key for the game's case-blind names: the ASCII fast path agrees with
// it on every character, the ends of the alphabet and Cyrillic included;
// names as users type them become names as the archive writes them.
TEST(Names, OneKeyForEveryComparison) {
    for (char16_t c = 0; c < 0x80; ++c) {
        SCOPED_TRACE(int(c));
        const QString one{QChar(c)};
        EXPECT_EQ(kbx::NameKey(one), one.toCaseFolded().replace(u'/', u'\\'));
    }
    EXPECT_EQ(kbx::NameKey(u"Version/Data/ZQ.ЖЁ"), u"version\\data\\zq.жё");
    EXPECT_TRUE(kbx::IsReservedFolder(u"VERSION/data"));
    EXPECT_FALSE(kbx::IsReservedFolder(u"Version\\Data\\x"));
    const std::pair<QString, QString> typed[] = {
        {"./Version//Data/./a[1].dds", "Version\\Data\\a[1].dds"},
        {"/Version/a", "\\Version\\a"},
        {"Version/../a", "Version\\..\\a"},
    };
    for (const auto& [in, out] : typed) EXPECT_EQ(kbx::TypedName(in), out) << in.toStdString();
}

}  // namespace
