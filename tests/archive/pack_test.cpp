// Packing: round trips, refusals before anything is written, and an existing
// archive that survives every failure byte for byte.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <map>

#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive.h"
#include "archive/file_io.h"
#include "test_util.h"

using namespace testutil;

namespace {

class PackTest : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.filePath(QStringLiteral("root"));
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
        target = tmp.filePath(QStringLiteral("target/out.kbx"));
        ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("target"))));
    }
    void Put(const QString& rel, const QByteArray& bytes) {
        ASSERT_TRUE(WriteFile(root + u'/' + rel, bytes));
    }
    // The folder of the target holds exactly the target, or nothing.
    void ExpectNoTemporaries() {
        const QStringList left = QDir(tmp.filePath(QStringLiteral("target")))
                                     .entryList(QDir::Files | QDir::Hidden | QDir::System);
        EXPECT_TRUE(left.isEmpty() || left == QStringList{QStringLiteral("out.kbx")})
            << left.join(u' ').toStdString();
    }
    testutil::TempDir tmp;
    QString root, target;
};

TEST_F(PackTest, RoundTripsGeneratedTrees) {
    QRandomGenerator rng(20261206);
    for (int tree = 0; tree < 6; ++tree) {
        QDir(root).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
        const int files = int(rng.bounded(1, 40));
        for (int i = 0; i < files; ++i) {
            QByteArray data(int(rng.bounded(i % 7 == 0 ? 200000 : 300)), '\0');
            for (char& c : data) c = char(rng.bounded(256));
            const QString name =
                (i % 3 == 0 ? QStringLiteral(".hidden%1") : QStringLiteral("файл %1.dat")).arg(i);
            Put((i % 2 ? QStringLiteral("Version/") : QStringLiteral("Version/Data/")) + name,
                data);
        }
        const auto before = Snapshot(root);
        const kbx::Result packed = kbx::Pack(root, target);
        ASSERT_TRUE(packed.ok()) << testutil::Describe(packed);
        EXPECT_EQ(packed.written, qint64(before.size()));
        kbx::Directory dir;
        ASSERT_TRUE(kbx::ReadArchive(target, dir).ok());
        const QString out = tmp.filePath(QStringLiteral("out%1").arg(tree));
        QDir().mkpath(out);
        ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
        EXPECT_EQ(Snapshot(out), before) << "tree " << tree;
    }
    ExpectNoTemporaries();
}

TEST_F(PackTest, SmallAndLargeFilesAcrossWriteBlocks) {
    // Small files are gathered into blocks before they are written; sizes
    // around the small-file limit, empty files and more small bytes than
    // one block must all land at their own offsets.
    std::map<QString, QByteArray> files;
    const qsizetype sizes[] = {0, 1, 65535, 65536, 65537, 1 << 20, 0, 7};
    int n = 0;
    for (qsizetype size : sizes) {
        QByteArray data(size, '\0');
        for (qsizetype i = 0; i < size; ++i) data[i] = char(n * 31 + i % 251);
        files[QStringLiteral("Version/Data/s%1.dat").arg(n++)] = data;
    }
    for (int i = 0; i < 40; ++i)
        files[QStringLiteral("Version/m%1.dat").arg(i, 2, 10, QLatin1Char('0'))] =
            QByteArray(60000, char('a' + i % 26));
    for (const auto& [rel, data] : files) Put(rel, data);
    // Files untouched for a moment are trusted from their change time alone;
    // fresh ones (as in the other tests) are read twice.
    ::usleep(200000);
    // With a progress hook every file is measured as it is listed, and its
    // copy must agree with that size.
    for (bool measured : {false, true}) {
        SCOPED_TRACE(measured);
        const kbx::Result r = measured ? kbx::Pack(root, target, [](const kbx::PackStep&) {})
                                       : kbx::Pack(root, target);
        ASSERT_TRUE(r.ok()) << Describe(r);
        kbx::Directory dir;
        ASSERT_TRUE(kbx::ReadArchive(target, dir).ok());
        const QString out = tmp.filePath(QStringLiteral("out"));
        QDir().mkpath(out);
        ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
        EXPECT_EQ(Snapshot(out), files);
    }
}

TEST_F(PackTest, OnlyRegularFilesAndLinksToThemArePacked) {
    Put(QStringLiteral("Version/real.txt"), "real");
    Put(QStringLiteral("Version/A.txt"), "a");  // after _ in an order that ignores case
    Put(QStringLiteral("Version/_u.txt"), "u");
    Put(QStringLiteral("Version/Data/Sub/deep.txt"), "not packed");
    Put(QStringLiteral("Version/Other/x.txt"), "not packed");
    ASSERT_EQ(::symlink("real.txt", (root + QStringLiteral("/Version/link.txt")).toLocal8Bit()), 0);
    ASSERT_EQ(::symlink("Other", (root + QStringLiteral("/Version/dirlink")).toLocal8Bit()), 0);
    ASSERT_EQ(::symlink("missing", (root + QStringLiteral("/Version/dangling")).toLocal8Bit()), 0);
    ASSERT_EQ(::mkfifo((root + QStringLiteral("/Version/Data/fifo")).toLocal8Bit(), 0600), 0);
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    kbx::Directory dir;
    ASSERT_TRUE(kbx::ReadArchive(target, dir).ok());
    QStringList names;
    for (qint64 i = 0; i < dir.UpperBound(); ++i) names << dir.Name(i);
    EXPECT_EQ(
        names,
        (QStringList{QStringLiteral("Version\\_u.txt"), QStringLiteral("Version\\A.txt"),
                     QStringLiteral("Version\\link.txt"), QStringLiteral("Version\\real.txt")}));
}

TEST_F(PackTest, RefusesBeforeWritingAnything) {
    const QByteArray old = "an existing archive that must survive";
    const struct {
        const char* what;
        std::function<void(PackTest&)> setup;
        kbx::Reason reason;
        kbx::NameRule rule;
    } cases[] = {
        {"no Version/Data",
         [](PackTest& t) { QDir(t.root + QStringLiteral("/Version/Data")).removeRecursively(); },
         kbx::Reason::NoTree, kbx::NameRule::None},
        {"no Version",
         [](PackTest& t) { QDir(t.root + QStringLiteral("/Version")).removeRecursively(); },
         kbx::Reason::NoTree, kbx::NameRule::None},
        {"name outside Windows-1251",
         [](PackTest& t) { t.Put(QStringLiteral("Version/日本.txt"), "x"); },
         kbx::Reason::UnsafeName, kbx::NameRule::NotEncodable},
        {"backslash in a name", [](PackTest& t) { t.Put(QStringLiteral("Version/a\\b.txt"), "x"); },
         kbx::Reason::UnsafeName, kbx::NameRule::Backslash},
        {"name of 129 bytes",
         [](PackTest& t) { t.Put(QStringLiteral("Version/") + QString(121, u'n'), "x"); },
         kbx::Reason::UnsafeName, kbx::NameRule::TooLong},
        {"names that differ only in case",
         [](PackTest& t) {
             t.Put(QStringLiteral("Version/Z.txt"), "x");
             t.Put(QStringLiteral("Version/z.txt"), "x");
         },
         kbx::Reason::UnsafeName, kbx::NameRule::CaseDuplicate},
        {"a file named like the Data folder",
         [](PackTest& t) { t.Put(QStringLiteral("Version/DATA"), "x"); }, kbx::Reason::UnsafeName,
         kbx::NameRule::CaseDuplicate},
        {"control character in a name",
         [](PackTest& t) { t.Put(QStringLiteral("Version/bell\x07"), "x"); },
         kbx::Reason::UnsafeName, kbx::NameRule::ControlChar},
        {"unreadable folder",
         [](PackTest& t) { ::chmod((t.root + QStringLiteral("/Version")).toLocal8Bit(), 0300); },
         kbx::Reason::CannotReadFolder, kbx::NameRule::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(root).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
        Put(QStringLiteral("Version/fine.txt"), "fine");
        ASSERT_TRUE(WriteFile(target, old));
        c.setup(*this);
        if (std::string(c.what) == "unreadable folder" && ::geteuid() == 0) {
            ::chmod((root + QStringLiteral("/Version")).toLocal8Bit(), 0755);
            continue;  // root reads every folder
        }
        const kbx::Result r = kbx::Pack(root, target);
        ::chmod((root + QStringLiteral("/Version")).toLocal8Bit(), 0755);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
        EXPECT_EQ(r.failure.reason, c.reason) << testutil::Describe(r);
        EXPECT_EQ(r.failure.rule, c.rule);
        EXPECT_EQ(ReadFile(target), old) << c.what;
        ExpectNoTemporaries();
    }
}

// What stands at the output path decides what is replaced: a file keeps its
// mode and owner, a link is followed to its file and stays, anything that is
// not a file is refused before anything is written.
TEST_F(PackTest, OutputPathKinds) {
    const QString dirPath = tmp.filePath(QStringLiteral("target"));
    const QString real = dirPath + QStringLiteral("/real.kbx");
    const auto native = [](const QString& p) { return QFile::encodeName(p); };
    const auto fileMode = [&](const QString& p) {
        struct stat st {};
        return ::lstat(native(p), &st) == 0 ? st.st_mode : 0u;
    };
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const QByteArray old = "old archive";
    const struct {
        const char* what;
        std::function<void()> setup;
        kbx::Reason refused;  // None: packed
        std::function<void()> check;
    } cases[] = {
        {"nothing there: the usual mode", [] {}, kbx::Reason::None,
         [&] { EXPECT_EQ(fileMode(target), S_IFREG | (0666 & ~mask)); }},
        {"a private file keeps its mode",
         [&] {
             WriteFile(target, old);
             ::chmod(native(target), 0600);
         },
         kbx::Reason::None, [&] { EXPECT_EQ(fileMode(target), S_IFREG | 0600u); }},
        {"a file keeps its owner and group where the process may set them",
         [&] {
             WriteFile(target, old);
             ASSERT_EQ(::chown(native(target), ::geteuid() == 0 ? 65534 : ::geteuid(),
                               ::geteuid() == 0 ? 65534 : ::getegid()),
                       0);
         },
         kbx::Reason::None,
         [&] {
             struct stat st {};
             ASSERT_EQ(::stat(native(target), &st), 0);
             EXPECT_EQ(st.st_uid, ::geteuid() == 0 ? 65534u : ::geteuid());
             EXPECT_EQ(st.st_gid, ::geteuid() == 0 ? 65534u : ::getegid());
         }},
        {"a link: the file it names is replaced, the link stays",
         [&] {
             WriteFile(real, old);
             ::chmod(native(real), 0640);
             ::symlink("real.kbx", native(target));
         },
         kbx::Reason::None,
         [&] {
             EXPECT_TRUE(S_ISLNK(fileMode(target)));
             EXPECT_EQ(fileMode(real), S_IFREG | 0640u);
             EXPECT_TRUE(ReadFile(real).startsWith("GEEK"));
         }},
        {"a chain of links, the last one leading nowhere yet",
         [&] {
             ::symlink("middle", native(target));
             ::symlink(native(real), native(dirPath + QStringLiteral("/middle")));
         },
         kbx::Reason::None,
         [&] {
             EXPECT_TRUE(S_ISLNK(fileMode(target)));
             EXPECT_TRUE(S_ISLNK(fileMode(dirPath + QStringLiteral("/middle"))));
             EXPECT_TRUE(ReadFile(real).startsWith("GEEK"));
         }},
        {"a folder", [&] { QDir().mkpath(target); }, kbx::Reason::TargetNotRegular,
         [&] { EXPECT_TRUE(S_ISDIR(fileMode(target))); }},
        {"a FIFO", [&] { ::mkfifo(native(target), 0644); }, kbx::Reason::TargetNotRegular,
         [&] { EXPECT_TRUE(S_ISFIFO(fileMode(target))); }},
        {"a link to a FIFO",
         [&] {
             ::mkfifo(native(real), 0644);
             ::symlink("real.kbx", native(target));
         },
         kbx::Reason::TargetNotRegular, [&] { EXPECT_TRUE(S_ISFIFO(fileMode(real))); }},
        {"a link to a device", [&] { ::symlink("/dev/null", native(target)); },
         kbx::Reason::TargetNotRegular,
         [&] { EXPECT_TRUE(S_ISCHR(fileMode(QStringLiteral("/dev/null")))); }},
        {"a link into a missing folder", [&] { ::symlink("missing/real.kbx", native(target)); },
         kbx::Reason::CannotOpenFolder, [&] { EXPECT_TRUE(S_ISLNK(fileMode(target))); }},
    };
    Put(QStringLiteral("Version/a.txt"), "a");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(dirPath).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dirPath));
        c.setup();
        ::alarm(30);  // a FIFO opened by mistake would block forever
        const kbx::Result r = kbx::Pack(root, target);
        ::alarm(0);
        if (c.refused != kbx::Reason::None) {
            EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
            EXPECT_EQ(r.failure.reason, c.refused) << Describe(r);
            EXPECT_EQ(r.failure.index, -1);
        } else {
            EXPECT_TRUE(r.ok()) << Describe(r);
            EXPECT_EQ(ReadFile(target).size(), 20 + 136 + 1);
        }
        c.check();
        for (const QString& left :
             QDir(dirPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System))
            EXPECT_FALSE(left.startsWith(QStringLiteral(".kbx-"))) << left.toStdString();
    }
}

// The archive being replaced, found in the packed tree under its own name or
// through a link, is left out with a warning; the engine's temporaries left
// in the tree are left out silently.
TEST_F(PackTest, OwnOutputAndTemporariesAreLeftOut) {
    Put(QStringLiteral("Version/fine.txt"), "fine");
    Put(QStringLiteral("Version/.kbx-123-abc.tmp"), "half-written");
    const QString inside = root + QStringLiteral("/Version/out.kbx");
    ASSERT_TRUE(
        QFile::link(QStringLiteral("../out.kbx"), root + QStringLiteral("/Version/Data/link.kbx")));
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "an old file there" : "its own previous archive");
        if (run == 0) Put(QStringLiteral("Version/out.kbx"), "old");
        const kbx::Result r = kbx::Pack(root, inside);
        ASSERT_TRUE(r.ok()) << Describe(r);
        ASSERT_EQ(r.warnings.size(), 2u) << Describe(r);
        EXPECT_EQ(r.warnings[0].reason, kbx::Reason::OutputInTree);
        EXPECT_EQ(r.warnings[0].subject, QStringLiteral("Version\\Data\\link.kbx"));
        EXPECT_EQ(r.warnings[1].subject, QStringLiteral("Version\\out.kbx"));
        kbx::Directory dir;
        ASSERT_TRUE(kbx::ReadArchive(inside, dir).ok());
        ASSERT_EQ(dir.UpperBound(), 1);
        EXPECT_EQ(dir.Name(0), QStringLiteral("Version\\fine.txt"));
    }
}

TEST_F(PackTest, ReplacesALongerArchiveWithoutAStaleTail) {
    ASSERT_TRUE(WriteFile(target, QByteArray(10000, 'x')));
    Put(QStringLiteral("Version/a.txt"), "a");
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    EXPECT_EQ(QFileInfo(target).size(), 20 + 136 + 1);
}

// A stop between two files leaves the earlier archive as it was and no
// temporary file; the hook sees every file before it is copied.
TEST_F(PackTest, StopPublishesNothing) {
    Put(QStringLiteral("Version/Data/a.dat"), "aa");
    Put(QStringLiteral("Version/b.txt"), "bbb");
    ASSERT_TRUE(WriteFile(target, "earlier"));
    for (bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed file");
        kbx::StopFlag stop;
        std::vector<QString> seen;
        kbx::io::ForceNamedFiles(named);
        const kbx::Result r = kbx::Pack(
            root, target,
            [&](const kbx::PackStep& step) {
                seen.push_back(step.entry);
                EXPECT_EQ(step.count, 2);
                EXPECT_EQ(step.totalSize, 5);
                stop.requested = step.index == 1;
            },
            &stop);
        kbx::io::ForceNamedFiles(false);
        EXPECT_EQ(r.outcome, kbx::Outcome::Stopped);
        EXPECT_EQ(seen, (std::vector<QString>{QStringLiteral("Version\\Data\\a.dat"),
                                              QStringLiteral("Version\\b.txt")}));
        EXPECT_EQ(ReadFile(target), "earlier");
        ExpectNoTemporaries();
    }
}

// With a progress hook the sizes come from the listing: a file that grows
// between its listing and its copy fails, so the sizes shown are the sizes
// packed.
TEST_F(PackTest, MeasuredFileThatChangesSizeFails) {
    Put(QStringLiteral("Version/Data/a.dat"), "aa");
    Put(QStringLiteral("Version/b.txt"), "bbb");
    const kbx::Result r = kbx::Pack(root, target, [&](const kbx::PackStep& step) {
        if (step.index == 1) Put(QStringLiteral("Version/b.txt"), "bbbb");
    });
    EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
    EXPECT_EQ(r.failure.reason, kbx::Reason::FileChanged) << Describe(r);
    EXPECT_EQ(r.failure.subject, QStringLiteral("Version\\b.txt"));
    ExpectNoTemporaries();
}

}  // namespace
