// Byte layouts of archives the engine writes, and how it reads them back.

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>

#include "archive/archive.h"
#include "test_util.h"

using namespace testutil;

namespace {

class Layout : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.filePath(QStringLiteral("root"));
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
        archive = tmp.filePath(QStringLiteral("out.kbx"));
    }
    void Put(const QString& rel, const QByteArray& bytes) {
        ASSERT_TRUE(WriteFile(root + u'/' + rel, bytes));
    }
    QByteArray PackBytes() {
        const kbx::Result r = kbx::Pack(root, archive);
        EXPECT_TRUE(r.ok()) << testutil::Describe(r);
        return ReadFile(archive);
    }
    testutil::TempDir tmp;
    QString root, archive;
};

QByteArray Field(const QByteArray& name) {
    return name + QByteArray(128 - name.size(), '\0');
}

TEST_F(Layout, EmptyArchiveIsTwentyBytes) {
    const QByteArray expected = QByteArray("GEEK\0\x01\0\0", 8) + Le32(20) + Le32(0) + Le32(0);
    EXPECT_EQ(PackBytes(), expected);
    kbx::Directory dir;
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    EXPECT_EQ(dir.UpperBound(), 0);
    EXPECT_TRUE(dir.IsLoaded());  // the blank element
}

TEST_F(Layout, OneEntryArchiveIs166Bytes) {
    Put(QStringLiteral("Version/a.txt"), "0123456789");
    const QByteArray expected = QByteArray("GEEK\0\x01\0\0", 8) + Le32(156) + Le32(0) + Le32(1) +
                                Le32(156) + Le32(10) + Field("Version\\a.txt") + "0123456789";
    ASSERT_EQ(expected.size(), 166);
    EXPECT_EQ(PackBytes(), expected);
}

TEST_F(Layout, DataFolderFirstThenVersionInNameOrder) {
    Put(QStringLiteral("Version/b.txt"), "bbb");
    Put(QStringLiteral("Version/a.txt"), "aaaaa");
    Put(QStringLiteral("Version/Data/x.dat"), "xxxxxxxxxx");
    const QByteArray bytes = PackBytes();
    ASSERT_EQ(bytes.size(), 446);
    const QByteArray expected = QByteArray("GEEK\0\x01\0\0", 8) + Le32(428) + Le32(0) + Le32(3) +
                                Le32(428) + Le32(10) + Field("Version\\Data\\x.dat") + Le32(438) +
                                Le32(5) + Field("Version\\a.txt") + Le32(443) + Le32(3) +
                                Field("Version\\b.txt") + "xxxxxxxxxx" + "aaaaa" + "bbb";
    EXPECT_EQ(bytes, expected);
}

TEST_F(Layout, CaseInsensitiveOrderAndZeroSizes) {
    const char* files[][2] = {
        {"b.txt", ""}, {"A.txt", "aa"}, {"c.txt", "c"}, {"B2.txt", ""}, {"a1", ""}};
    for (const auto& f : files) Put(QStringLiteral("Version/") + QLatin1String(f[0]), f[1]);
    PackBytes();
    kbx::Directory dir;
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    QStringList names;
    for (qint64 i = 0; i < dir.UpperBound(); ++i) names << dir.Name(i);
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("Version\\A.txt"), QStringLiteral("Version\\a1"),
                           QStringLiteral("Version\\b.txt"), QStringLiteral("Version\\B2.txt"),
                           QStringLiteral("Version\\c.txt")}));
    // Zero-size entries share the offset of the entry after them.
    const qint32 data = 20 + 136 * 5;
    EXPECT_EQ(dir.EntryOffset,
              (std::vector<qint32>{data, data + 2, data + 2, data + 2, data + 2, 0}));
    EXPECT_EQ(dir.EntrySize, (std::vector<qint32>{2, 0, 0, 0, 1, 0}));
    EXPECT_EQ(ReadFile(archive).size(), data + 3);
}

TEST_F(Layout, NameLengthsAndCharacters) {
    // (file name in Version/, its entry name as text)
    const QString n127 = QString(119, u'n');  // "Version\" + 119 = 127 characters
    const QString n128 = QString(120, u'm');
    const struct {
        QString file;
        int nulsInField;
    } cases[] = {
        {n127, 1},
        {n128, 0},  // a full field without NUL comes back whole
        {QStringLiteral("my file.dat"), 128 - 19},
        {QStringLiteral("карта.dat"), 128 - 17},
    };
    for (const auto& c : cases) {
        QDir(root + QStringLiteral("/Version")).removeRecursively();
        QDir().mkpath(root + QStringLiteral("/Version/Data"));
        Put(QStringLiteral("Version/") + c.file, "data");
        const QByteArray bytes = PackBytes();
        const QByteArray field = bytes.mid(28, 128);
        EXPECT_EQ(field.count('\0'), c.nulsInField) << c.file.toStdString();
        EXPECT_EQ(field.left(8 + Cp1251(c.file).size()), "Version\\" + Cp1251(c.file));
        kbx::Directory dir;
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        EXPECT_EQ(dir.Name(0), QStringLiteral("Version\\") + c.file);
    }
}

TEST_F(Layout, SignatureMustMatchExactly) {
    const QByteArray good = BuildArchive({{"Version\\a", "1"}});
    const struct {
        int at;
        char value;
    } cases[] = {{0, 'g'}, {1, 'e'}, {3, 'k'}, {4, 1}, {5, 0}, {6, 1}, {7, 1}};
    for (const auto& c : cases) {
        QByteArray bad = good;
        bad[c.at] = c.value;
        ASSERT_TRUE(WriteFile(archive, bad));
        kbx::Directory dir;
        const kbx::Result r = kbx::ReadArchive(archive, dir);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << c.at;
        EXPECT_EQ(r.failure.reason, kbx::Reason::NotKbx) << c.at;
        EXPECT_FALSE(dir.IsLoaded());
    }
    QByteArray lower = good;
    lower.replace(0, 4, "geek");
    ASSERT_TRUE(WriteFile(archive, lower));
    kbx::Directory dir;
    EXPECT_EQ(kbx::ReadArchive(archive, dir).failure.reason, kbx::Reason::NotKbx);
}

// The rule each name breaks, at the edges of each rule; and names decode
// from Windows-1251 whatever their first byte.
TEST(Names, EachRuleAtItsEdges) {
    using kbx::NameRule;
    const struct {
        QString name;
        NameRule rule;
        QString part;
    } cases[] = {
        {QStringLiteral("Version\\a.txt"), NameRule::None, {}},
        {QString(), NameRule::Empty, {}},
        {QStringLiteral("\\a"), NameRule::Absolute, {}},
        {QStringLiteral("/a"), NameRule::Absolute, {}},
        {QStringLiteral("C:"), NameRule::DriveLetter, {}},
        {QStringLiteral("1:a"), NameRule::None, {}},
        {QStringLiteral("\x1f"
                        "a"),
         NameRule::ControlChar,
         {}},
        {QStringLiteral("a\x7f"), NameRule::ControlChar, {}},
        {QStringLiteral("a~"), NameRule::None, {}},
        {QStringLiteral("a") + QChar(0x9F), NameRule::ControlChar, {}},
        {QStringLiteral("a") + QChar(0xA0), NameRule::None, {}},
        {QStringLiteral(".\\a"), NameRule::BadComponent, QStringLiteral(".")},
        {QStringLiteral("a\\.."), NameRule::BadComponent, QStringLiteral("..")},
        {QStringLiteral("a\\\\b"), NameRule::BadComponent, QString()},
        {QStringLiteral("a/"), NameRule::BadComponent, QString()},
        {QStringLiteral("a\\...\\b"), NameRule::None, {}},
    };
    for (const auto& c : cases) {
        QString part = QStringLiteral("unset");
        EXPECT_EQ(kbx::NameProblem(c.name, &part), c.rule) << c.name.toStdString();
        if (c.rule == NameRule::BadComponent) {
            EXPECT_EQ(part, c.part) << c.name.toStdString();
        }
    }
    EXPECT_EQ(kbx::DecodeName("\xcf\xf0\xe8"), QStringLiteral("При"));
    EXPECT_EQ(kbx::DecodeName("a\xcf"), QStringLiteral("aП"));
}

}  // namespace
