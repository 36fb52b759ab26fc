// Extraction and unpacking: where files land, what is refused, and that
// nothing outside the target folder or already on disk is damaged.

#include <QDir>
#include <QFile>

#include <unistd.h>

#include "archive/file_io.h"
#include "seam_test.h"

using namespace testutil;

namespace {

using Files = std::map<QString, QByteArray>;

class Extract : public ArchiveTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(out));
        Put("outside/sentinel", "keep me");
    }
    void TearDown() override {
        ArchiveTest::TearDown();
        // Nothing ever lands outside the target folder.
        EXPECT_EQ(Snapshot(outside), (Files{{"sentinel", "keep me"}}));
    }
    const QString out = tmp.filePath("out"), outside = tmp.filePath("outside");
};

// Twice: the second run finds every name taken and must replace, not add;
// the first replaces a longer file without leaving its tail.
TEST_F(Extract, UnpackRecreatesTheTreeByteForByteAndAgain) {
    const QByteArray big(3 << 20, 'b');  // larger than a copy chunk
    Load({{"Version\\a.txt", "alpha"},
          {"Version\\Data\\b.dat", big},
          {"Version\\Data\\c.dat", ""},
          {Cp1251("Version\\Data\\карта.dat"), "map"},
          {"Version/Sub/deep.txt", "deep"}});
    ASSERT_TRUE(WriteFile(out + "/Version/a.txt", "a much longer old file"));
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        std::vector<qint64> seen;
        const kbx::Result r = kbx::UnpackAll(dir, out, [&](qint64 i) { seen.push_back(i); });
        EXPECT_EQ(std::tuple(r.ok(), r.done), std::tuple(true, 5)) << Describe(r);
        EXPECT_EQ(seen, (std::vector<qint64>{0, 1, 2, 3, 4}));
        EXPECT_EQ(Snapshot(out), (Files{{"Version/a.txt", "alpha"},
                                        {"Version/Data/b.dat", big},
                                        {"Version/Data/c.dat", ""},
                                        {"Version/Data/карта.dat", "map"},
                                        {"Version/Sub/deep.txt", "deep"}}));
    }
    // The same bytes, empty entry included, one after another into a
    // descriptor.
    QFile file(tmp.filePath("piped"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const kbx::Result w = kbx::WriteEntries(dir, {4, 2, 0, 1}, file.handle());
    file.close();
    EXPECT_TRUE(w.ok()) << Describe(w);
    EXPECT_EQ(ReadFile(file.fileName()), "deepalpha" + big);
}

TEST_F(Extract, SmallEntriesAreRightWhateverTheirDataOrder) {
    // Small entries are read through a block of the archive. "early" points
    // back into big's bytes, before the block read for "late"; "inside"
    // points into late's bytes, inside that block.
    QByteArray big(1536 * 1024, '\0');
    for (qsizetype i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 4096);
    const qint64 late = 10;  // "late bytes"
    Load({{"Version\\big", big},
          {"Version\\late", "late bytes"},
          {"Version\\early", "xxxx", -(big.size() + late) + 100},
          {"Version\\inside", "yyyy", -(late + 4) + 5}});
    ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
    EXPECT_EQ(Snapshot(out), (Files{{"Version/big", big},
                                    {"Version/late", "late bytes"},
                                    {"Version/early", big.mid(100, 4)},
                                    {"Version/inside", "byte"}}));
}

TEST_F(Extract, EmptyArchiveThenSingleEntriesAndTheBlankElement) {
    Load({});  // makes the two folders
    ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
    EXPECT_TRUE(QDir(out + "/Version/Data").exists());
    Load({{"Version\\a.txt", "alpha"}, {"Version\\Data\\music.dat", "music"}});
    EXPECT_TRUE(kbx::ExtractEntry(dir, 1, out + u'/').ok());
    EXPECT_EQ(Snapshot(out), (Files{{"Version/Data/music.dat", "music"}}));
    for (qint64 index : {qint64(2), qint64(-1), qint64(1) << 40})
        EXPECT_EQ(kbx::ExtractEntry(dir, index, out).outcome, kbx::Outcome::NothingDone) << index;
    EXPECT_EQ(Snapshot(out).size(), 1u);
    // A list of entries skips the same indexes and writes the others.
    const kbx::Result r = kbx::ExtractEntries(dir, {2, -1, qint64(1) << 40, 0}, out);
    EXPECT_EQ(std::tuple(r.ok(), r.done), std::tuple(true, 1));
    EXPECT_EQ(Snapshot(out).size(), 2u);
}

TEST_F(Extract, ProbeNeverTouchesAUsersFileNamedTest) {
    ASSERT_TRUE(WriteFile(out + "/Version/test", "user data"));
    EXPECT_TRUE(kbx::TestFolder(out + "/Version/"));
    EXPECT_FALSE(kbx::TestFolder(out + "/missing/"));
    EXPECT_FALSE(kbx::TestFolder("/proc"));  // opens, but takes no file
    const QString fresh = out + "/fresh";
    EXPECT_EQ(kbx::PrepareOutputFolders(fresh).reason, kbx::Reason::CannotOpenFolder);
    EXPECT_FALSE(QDir(fresh).exists());  // only beneath a folder that is there
    ASSERT_TRUE(QDir().mkpath(fresh));
    EXPECT_EQ(kbx::PrepareOutputFolders(fresh).reason, kbx::Reason::None);
    EXPECT_TRUE(QDir(fresh + "/Version/Data").exists());
    QDir(fresh).removeRecursively();
    Load({{"Version\\a.txt", "a"}});
    ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
    // Version was present, so Data was not made; nothing else is left behind.
    EXPECT_EQ(Snapshot(out), (Files{{"Version/test", "user data"}, {"Version/a.txt", "a"}}));
    EXPECT_FALSE(QDir(out + "/Version/Data").exists());
}

TEST_F(Extract, HostileNamesAreRefusedAndTheRestIsWritten) {
    // One name per rule; the rules' edges are the format test's.
    const QByteArray hostile[] = {"..\\escape.txt", "/abs.txt", "C:\\escape.txt", "",
                                  "Version\\bell\x07"};
    std::vector<RawEntry> entries{{"Version\\first.txt", "1"}};
    for (const QByteArray& name : hostile) entries.push_back({name, "evil"});
    entries.push_back({"Version\\last.txt", "2"});
    Load(entries);
    const kbx::Result r = kbx::UnpackAll(dir, out);
    EXPECT_EQ(std::tuple(r.outcome, r.failures.size(), r.done),
              std::tuple(kbx::Outcome::EntriesFailed, std::size(hostile), 2));
    for (const kbx::Failure& f : r.failures) {
        SCOPED_TRACE(f.subject.toStdString());
        EXPECT_EQ(f.reason, kbx::Reason::UnsafeName);
        EXPECT_NE(f.rule, kbx::NameRule::None);
    }
    EXPECT_EQ(Snapshot(out), (Files{{"Version/first.txt", "1"}, {"Version/last.txt", "2"}}));
    EXPECT_FALSE(QFile::exists(tmp.filePath("escape.txt")));
}

TEST_F(Extract, PlantedSymlinksAreNeverFollowed) {
    // Version/Data points outside; so does a file link.
    ASSERT_TRUE(QDir().mkpath(out + "/Version"));
    ASSERT_EQ(::symlink(outside.toLocal8Bit(), (out + "/Version/Data").toLocal8Bit()), 0);
    ASSERT_EQ(
        ::symlink((outside + "/sentinel").toLocal8Bit(), (out + "/Version/a.txt").toLocal8Bit()),
        0);
    Load({{"Version\\Data\\sentinel", "overwritten!"},
          {"Version\\Data\\new.txt", "planted"},
          {"Version\\a.txt", "replaces the link"}});
    const kbx::Result r = kbx::UnpackAll(dir, out);
    EXPECT_EQ(std::tuple(r.outcome, r.failures.size()),
              std::tuple(kbx::Outcome::EntriesFailed, 2u));
    // The file link itself is replaced by the entry; its target is untouched.
    EXPECT_EQ(ReadFile(out + "/Version/a.txt"), "replaces the link");
    EXPECT_FALSE(QFileInfo(out + "/Version/a.txt").isSymLink());
    // Version/Data swapped for a link as the first entry is published.
    QDir(out + "/Version").removeRecursively();
    kbx::io::ResetFaults();
    kbx::io::SetCallHook([&](kbx::io::Op op, long n) {
        if (op == kbx::io::Op::Publish && n == 1 && QDir(out + "/Version/Data").removeRecursively())
            QFile::link(outside, out + "/Version/Data");
    });
    const kbx::Result swapped = kbx::UnpackAll(dir, out);
    EXPECT_EQ(swapped.done, 1) << Describe(swapped);  // a.txt
}

TEST_F(Extract, EntriesOutsideTheFileFail) {
    const std::pair<const char*, RawEntry> cases[] = {
        {"past the end", {"Version\\big", "abc", 0, 4, true}},
        {"negative size", {"Version\\neg", "abc", 0, -1, true}},
        {"negative offset", {"Version\\off", "abc", -1'000'000, -1, false}},
        {"offset + size overflows 32 bits",
         {"Version\\wrap", "abc", 2'000'000'000, 0x7fffffff, true}},
    };
    for (const auto& [what, entry] : cases) {
        SCOPED_TRACE(what);
        Load({{"Version\\ok.txt", "fine"}, entry});
        for (const kbx::Result& r : {kbx::UnpackAll(dir, out), kbx::ExtractEntry(dir, 1, out)}) {
            EXPECT_EQ(r.outcome, kbx::Outcome::EntriesFailed);
            EXPECT_EQ(r.failures,
                      Failures{kbx::Failure::Entry(kbx::Reason::OutOfBounds, 0, 1, dir.Name(1))});
        }
    }
    EXPECT_EQ(Snapshot(out), (Files{{"Version/ok.txt", "fine"}}));
    // The bounds are the file's: an entry at offset 0 is inside, and holds
    // the header's first bytes.
    Load({{"Version\\ok.txt", "fine"}, {"Version\\head", "", -296, 8, true}});
    EXPECT_TRUE(kbx::UnpackAll(dir, out).ok());
    EXPECT_EQ(ReadFile(out + "/Version/head"), QByteArray("GEEK\0\x01\0\0", 8));
}

// A target whose Version folder cannot be made (a plain file stands there)
// stops the run before anything is written, and says which folder and why.
TEST_F(Extract, UnpreparableTargetWritesNothing) {
    ASSERT_TRUE(WriteFile(out + "/Version", "plain"));
    const std::vector<RawEntry> archives[] = {{}, {{"readme.txt", "top level"}}};
    for (const std::vector<RawEntry>& entries : archives) {
        SCOPED_TRACE(entries.size());
        Load(entries);
        const kbx::Result r = kbx::UnpackAll(dir, out);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << Describe(r);
        EXPECT_EQ(r.failure, kbx::Failure::Path(kbx::Reason::CannotPrepareFolder, ENOTDIR,
                                                out + "/Version/Data"));
        EXPECT_EQ(r.done, 0);
        EXPECT_EQ(Snapshot(out), (Files{{"Version", "plain"}}));
    }
}

// An existing file is replaced, kept (the entry fails with EEXIST) or
// skipped, on both ways of creating the new file, and when renaming without
// replacing is refused (a link takes over); no temporary is left unless
// its removal fails, which a warning tells.
TEST_F(Extract, OverwritePolicy) {
    Load({{"Version\\a.txt", "new"}, {"Version\\b.txt", "fresh"}});
    using enum kbx::Overwrite;
    int n = 0;
    for (const kbx::Overwrite policy : {Replace, Keep, Skip}) {
        const int refusal = policy == Skip ? ENOSYS : EINVAL;
        for (const auto& [named, refused] : {std::pair{false, 0}, {true, 0}, {true, refusal}}) {
            SCOPED_TRACE(testing::Message() << int(policy) << named << refused);
            const QString target = out + u'/' + QString::number(++n);
            ASSERT_TRUE(WriteFile(target + "/Version/a.txt", "old"));
            kbx::io::ForceNamedFiles(named);
            kbx::io::Refuse(kbx::io::Facility::RenameNoReplace, refused);
            const kbx::Result r = kbx::UnpackAll(dir, target, {}, nullptr, policy);
            EXPECT_EQ(r.ok(), policy != Keep);
            EXPECT_EQ(r.failures, policy != Keep ? Failures{}
                                                 : Failures{kbx::Failure::Entry(
                                                       kbx::Reason::CannotCreateFile, EEXIST, 0,
                                                       QStringLiteral("Version\\a.txt"))});
            EXPECT_EQ(Snapshot(target), (Files{{"Version/a.txt", policy == Replace ? "new" : "old"},
                                               {"Version/b.txt", "fresh"}}));
        }
    }
    // A temporary name that cannot be dropped after the link leaves the entry
    // written whole, and a warning that names it.
    kbx::io::ForceNamedFiles(true);
    kbx::io::Refuse(kbx::io::Facility::RenameNoReplace, EINVAL);
    kbx::io::FailNth(kbx::io::Op::Remove, 1);
    const kbx::Result left = kbx::UnpackAll(dir, out, {}, nullptr, Keep);
    ASSERT_EQ(left.warnings.size(), 1u) << Describe(left);
    EXPECT_EQ(left.warnings[0].reason, kbx::Reason::TemporaryLeft);
    EXPECT_TRUE(kbx::io::IsTemporaryName(left.warnings[0].detail.toUtf8()));
    EXPECT_EQ(ReadFile(out + "/Version/a.txt"), "new");
}

}  // namespace
