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
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    kbx::Directory dir;
    ASSERT_TRUE(kbx::ReadArchive(target, dir).ok());
    const QString out = tmp.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
    EXPECT_EQ(Snapshot(out), files);
}

TEST_F(PackTest, OnlyRegularFilesAndLinksToThemArePacked) {
    Put(QStringLiteral("Version/real.txt"), "real");
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
    EXPECT_EQ(names, (QStringList{QStringLiteral("Version\\link.txt"),
                                  QStringLiteral("Version\\real.txt")}));
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

}  // namespace
