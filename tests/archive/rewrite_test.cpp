// Changing an archive's entries: round trips that keep every other byte,
// refusals that leave the archive as it was, and the archive's mode and
// links kept.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "test_util.h"

using namespace testutil;
using kbx::Edit;

namespace {

using Entries = std::vector<std::pair<QByteArray, QByteArray>>;  // name, bytes

class RewriteTest : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        archive = tmp.filePath(QStringLiteral("game.kbx"));
    }
    void Load(const std::vector<RawEntry>& entries) {
        ASSERT_TRUE(WriteFile(archive, BuildArchive(entries)));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    }
    QString File(const QString& name, const QByteArray& bytes) {
        const QString path = tmp.filePath(QStringLiteral("files/") + name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    // The archive's entries, in directory order, with data laid back to back
    // and nothing the verifier objects to.
    Entries Contents() {
        kbx::Directory now;
        EXPECT_TRUE(kbx::ReadArchive(archive, now).ok());
        const QByteArray bytes = ReadFile(archive);
        EXPECT_TRUE(kbx::IsSound(now.ArchivePath));
        Entries out;
        qint64 next = kbx::DirectoryEnd(now.UpperBound());
        for (qint64 i = 0; i < now.UpperBound(); ++i) {
            EXPECT_EQ(now.EntryOffset[size_t(i)], next) << i;
            out.emplace_back(now.EntryName[i].toByteArray(),
                             bytes.mid(now.EntryOffset[size_t(i)], now.EntrySize[size_t(i)]));
            next += now.EntrySize[size_t(i)];
        }
        EXPECT_EQ(next, bytes.size());
        return out;
    }
    // The archive's bytes; a FIFO in its place is never opened.
    QByteArray Current() const {
        return QFileInfo(archive).isFile() ? ReadFile(archive) : QByteArray("not a file");
    }
    QStringList Beside() const {
        return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    testutil::TempDir tmp;
    QString archive;
    kbx::Directory dir;
    const std::vector<RawEntry> base = {
        {"Version\\Data\\a.dat", QByteArray(200000, 'a')},
        {"Version\\b.txt", "bb"},
        {"Version\\Data\\empty", ""},
        {"Version\\Sub\\c.bin", "ccc"},
    };
};

TEST_F(RewriteTest, EditsKeepEveryOtherEntryByteForByte) {
    const QByteArray big(300000, 'N');
    const struct {
        const char* what;
        std::vector<Edit> (*edits)(RewriteTest&, const QByteArray&);
        Entries expected;
    } cases[] = {
        {"replace a small entry by a larger file",
         [](RewriteTest& t, const QByteArray&) {
             return std::vector<Edit>{Edit::Replace(1, t.File("b", "new b, longer"))};
         },
         {{"Version\\Data\\a.dat", QByteArray(200000, 'a')},
          {"Version\\b.txt", "new b, longer"},
          {"Version\\Data\\empty", ""},
          {"Version\\Sub\\c.bin", "ccc"}}},
        {"replace the large first entry by an empty file",
         [](RewriteTest& t, const QByteArray&) {
             return std::vector<Edit>{Edit::Replace(0, t.File("e", ""))};
         },
         {{"Version\\Data\\a.dat", ""},
          {"Version\\b.txt", "bb"},
          {"Version\\Data\\empty", ""},
          {"Version\\Sub\\c.bin", "ccc"}}},
        {"remove the first and the last",
         [](RewriteTest&, const QByteArray&) {
             return std::vector<Edit>{Edit::Remove(3), Edit::Remove(0)};
         },
         {{"Version\\b.txt", "bb"}, {"Version\\Data\\empty", ""}}},
        {"add two, one of them large, with / as separator",
         [](RewriteTest& t, const QByteArray& big) {
             return std::vector<Edit>{Edit::Add("Version/Data/new.dat", t.File("n", big)),
                                      Edit::Add("Version\\Новый.txt", t.File("r", "ru"))};
         },
         {{"Version\\Data\\a.dat", QByteArray(200000, 'a')},
          {"Version\\b.txt", "bb"},
          {"Version\\Data\\empty", ""},
          {"Version\\Sub\\c.bin", "ccc"},
          {"Version\\Data\\new.dat", big},
          {Cp1251(QStringLiteral("Version\\Новый.txt")), "ru"}}},
        {"replace, remove and add at once; a removed name is free again",
         [](RewriteTest& t, const QByteArray&) {
             return std::vector<Edit>{Edit::Add("version\\B.TXT", t.File("b2", "again")),
                                      Edit::Remove(1), Edit::Replace(2, t.File("f", "full"))};
         },
         {{"Version\\Data\\a.dat", QByteArray(200000, 'a')},
          {"Version\\Data\\empty", "full"},
          {"Version\\Sub\\c.bin", "ccc"},
          {"version\\B.TXT", "again"}}},
        {"remove everything",
         [](RewriteTest&, const QByteArray&) {
             return std::vector<Edit>{Edit::Remove(0), Edit::Remove(1), Edit::Remove(2),
                                      Edit::Remove(3)};
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Load(base);
        const kbx::Result r = kbx::Rewrite(dir, c.edits(*this, big));
        ASSERT_TRUE(r.ok()) << Describe(r);
        EXPECT_EQ(r.written, qint64(c.expected.size()));
        EXPECT_EQ(Contents(), c.expected);
        EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});
    }
}

// Untouched entries whose data are not in directory order, or not back to
// back, come out whole and in directory order.
TEST_F(RewriteTest, DataOutOfOrderAndGapsAreLaidOutAgain) {
    // Two records pointing backwards, with a gap of 5 bytes before the data.
    QByteArray bytes = BuildArchive({{"Version\\x", "xxxx"}, {"Version\\y", "yy"}});
    const qint64 start = kbx::DirectoryEnd(2);
    bytes = bytes.left(start) + "-----" + "yy" + "xxxx";
    PatchLe32(bytes, 20, qint32(start + 7));
    PatchLe32(bytes, 20 + 136, qint32(start + 5));
    ASSERT_TRUE(WriteFile(archive, bytes));
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    ASSERT_TRUE(kbx::IsSound(dir.ArchivePath));
    const kbx::Result r = kbx::Rewrite(dir, {Edit::Add("Version\\z", File("z", "z"))});
    ASSERT_TRUE(r.ok()) << Describe(r);
    EXPECT_EQ(Contents(),
              (Entries{{"Version\\x", "xxxx"}, {"Version\\y", "yy"}, {"Version\\z", "z"}}));
}

TEST_F(RewriteTest, RefusalsLeaveTheArchiveAsItWas) {
    const struct {
        const char* what;
        std::vector<Edit> (*edits)(RewriteTest&);
        kbx::Reason reason;
        kbx::NameRule rule;
    } cases[] = {
        {"index past the end", [](RewriteTest&) { return std::vector<Edit>{Edit::Remove(4)}; },
         kbx::Reason::NoSuchEntry, kbx::NameRule::None},
        {"negative index",
         [](RewriteTest& t) { return std::vector<Edit>{Edit::Replace(-1, t.File("x", "x"))}; },
         kbx::Reason::NoSuchEntry, kbx::NameRule::None},
        {"one entry edited twice",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Replace(1, t.File("x", "x")), Edit::Remove(1)};
         },
         kbx::Reason::EditConflict, kbx::NameRule::None},
        {"one name added twice",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\n", t.File("x", "x")),
                                      Edit::Add("VERSION/N", t.File("x", "x"))};
         },
         kbx::Reason::EditConflict, kbx::NameRule::None},
        {"a name that differs only in case",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\B.txt", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::CaseDuplicate},
        {"a name that is a kept entry's folder",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\sub", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::FolderClash},
        {"a name beneath a kept entry",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\b.txt\\x", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::FolderClash},
        {"the required folder Version\\Data",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\data", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::FolderClash},
        {"two added names, one the other's folder",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\n\\m", t.File("x", "x")),
                                      Edit::Add("Version\\n", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::FolderClash},
        {"a control character",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\a\x1b[2J", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::ControlChar},
        {"a name outside Windows-1251",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add(QStringLiteral("Version\\日本"), t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::NotEncodable},
        {"a name of 129 bytes",
         [](RewriteTest& t) {
             return std::vector<Edit>{
                 Edit::Add(QStringLiteral("Version\\") + QString(121, u'n'), t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::TooLong},
        {"a parent component",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Add("Version\\..\\x", t.File("x", "x"))};
         },
         kbx::Reason::UnsafeName, kbx::NameRule::BadComponent},
        {"a missing file",
         [](RewriteTest& t) {
             return std::vector<Edit>{Edit::Replace(0, t.tmp.filePath(QStringLiteral("none")))};
         },
         kbx::Reason::CannotOpenFile, kbx::NameRule::None},
        {"a folder for a file",
         [](RewriteTest& t) { return std::vector<Edit>{Edit::Add("Version\\n", t.tmp.path())}; },
         kbx::Reason::CannotOpenFile, kbx::NameRule::None},
        {"the archive rewritten since its load",
         [](RewriteTest& t) {
             std::vector<RawEntry> other = t.base;
             other[3].name = "Version\\Sub\\d.bin";
             WriteFile(t.archive, BuildArchive(other));
             return std::vector<Edit>{Edit::Remove(0)};
         },
         kbx::Reason::ArchiveChanged, kbx::NameRule::None},
        {"a kept entry of negative size",
         [](RewriteTest& t) {
             std::vector<RawEntry> bad = t.base;
             bad[3].sizeOverride = -1;
             bad[3].forceSize = true;
             t.Load(bad);
             return std::vector<Edit>{Edit::Remove(0)};
         },
         kbx::Reason::OutOfBounds, kbx::NameRule::None},
        {"the archive replaced by a FIFO",
         [](RewriteTest& t) {
             QFile::remove(t.archive);
             ::mkfifo(QFile::encodeName(t.archive), 0644);
             return std::vector<Edit>{Edit::Remove(0)};
         },
         kbx::Reason::CannotOpenArchive, kbx::NameRule::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(archive);
        Load(base);
        const std::vector<Edit> edits = c.edits(*this);
        const QByteArray before = Current();
        const kbx::Result r = kbx::Rewrite(dir, edits);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
        EXPECT_EQ(r.failure.reason, c.reason) << Describe(r);
        EXPECT_EQ(r.failure.rule, c.rule) << Describe(r);
        EXPECT_EQ(Current(), before);
        EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});
    }
}

// The archive keeps its mode; a link to it stays a link to the new archive.
TEST_F(RewriteTest, ModeAndLinksAreKept) {
    Load(base);
    ASSERT_EQ(::chmod(QFile::encodeName(archive), 0640), 0);
    const QString link = tmp.filePath(QStringLiteral("link.kbx"));
    ASSERT_TRUE(QFile::link(QStringLiteral("game.kbx"), link));
    ASSERT_TRUE(kbx::ReadArchive(link, dir).ok());
    const kbx::Result r = kbx::Rewrite(dir, {Edit::Remove(1)});
    ASSERT_TRUE(r.ok()) << Describe(r);
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), archive);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(archive), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Contents().size(), 3u);
}

TEST_F(RewriteTest, NoEditsOrAStopWriteNothing) {
    Load(base);
    EXPECT_EQ(kbx::Rewrite(dir, {}).outcome, kbx::Outcome::NothingDone);
    const QByteArray before = ReadFile(archive);
    kbx::StopFlag stop;
    std::vector<qint64> seen;
    const kbx::Result r = kbx::Rewrite(
        dir, {Edit::Remove(0), Edit::Add("Version\\n", File("n", "n"))},
        [&](qint64 index) {
            seen.push_back(index);
            stop.requested = index == 3;  // the added entry, after the three kept
        },
        &stop);
    EXPECT_EQ(r.outcome, kbx::Outcome::Stopped);
    EXPECT_EQ(seen, (std::vector<qint64>{0, 1, 2, 3}));
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});
}

}  // namespace
