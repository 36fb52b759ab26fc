// Loading a directory: what a good archive gives, and that no broken or
// hostile file changes what was loaded before.

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "archive/archive.h"
#include "test_util.h"

using namespace testutil;

namespace {

class Load : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        good = tmp.filePath(QStringLiteral("good.kbx"));
        bad = tmp.filePath(QStringLiteral("bad.kbx"));
        ASSERT_TRUE(WriteFile(good, BuildArchive({{"Version\\a.txt", "aaaa"},
                                                  {"Version\\Data\\b.dat", "bb"},
                                                  {"Version\\c.txt", ""}})));
        ASSERT_TRUE(kbx::ReadArchive(good, loaded).ok());
    }
    // Loads `bytes` over the good directory and checks it survived.
    kbx::Result LoadBad(const QByteArray& bytes) {
        EXPECT_TRUE(WriteFile(bad, bytes));
        const kbx::Result r = kbx::ReadArchive(bad, loaded);
        if (!r.ok()) ExpectGoodDirectory();
        return r;
    }
    void ExpectGoodDirectory() {
        EXPECT_EQ(loaded.ArchivePath, good);
        ASSERT_EQ(loaded.UpperBound(), 3);
        EXPECT_EQ(loaded.Name(1), QStringLiteral("Version\\Data\\b.dat"));
    }
    testutil::TempDir tmp;
    QString good, bad;
    kbx::Directory loaded;
};

TEST_F(Load, ReadsRecordsAndKeepsTheBlankElement) {
    EXPECT_EQ(loaded.EntryOffset, (std::vector<qint32>{428, 432, 434, 0}));
    EXPECT_EQ(loaded.EntrySize, (std::vector<qint32>{4, 2, 0, 0}));
    EXPECT_EQ(loaded.Name(3), QString());
    EXPECT_TRUE(loaded.EntryName[3].isEmpty());
}

TEST_F(Load, ProgressIsCalledOncePerRecordInOrder) {
    std::vector<qint64> calls;
    kbx::Directory dir;
    ASSERT_TRUE(kbx::ReadArchive(good, dir, [&](qint64 k) { calls.push_back(k); }).ok());
    EXPECT_EQ(calls, (std::vector<qint64>{0, 1, 2}));
}

TEST_F(Load, ALaterLoadReplacesEverything) {
    std::vector<RawEntry> many;
    for (int i = 0; i < 40; ++i) many.push_back({"Version\\f" + QByteArray::number(i), "x"});
    ASSERT_TRUE(WriteFile(bad, BuildArchive(many)));
    ASSERT_TRUE(kbx::ReadArchive(bad, loaded).ok());
    ASSERT_TRUE(WriteFile(bad, BuildArchive({{"Version\\only", "1"}})));
    ASSERT_TRUE(kbx::ReadArchive(bad, loaded).ok());
    EXPECT_EQ(loaded.EntryOffset.size(), 2u);
    EXPECT_EQ(loaded.EntryName.size(), 2);
    EXPECT_EQ(loaded.Name(1), QString());
}

TEST_F(Load, StoppingChangesNothing) {
    kbx::StopFlag stop;
    ASSERT_TRUE(WriteFile(bad, BuildArchive({{"x", "1"}, {"y", "2"}, {"z", "3"}})));
    const kbx::Result r = kbx::ReadArchive(
        bad, loaded, [&](qint64 k) { stop.requested = k == 1; }, &stop);
    EXPECT_EQ(r.outcome, kbx::Outcome::Stopped);
    ExpectGoodDirectory();
}

TEST_F(Load, EveryPrefixOfAnArchiveIsRefused) {
    const QByteArray whole = ReadFile(good);
    for (qint64 n = 0; n < 20 + 136 * 3; ++n) {
        const kbx::Result r = LoadBad(whole.left(n));
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << n;
        EXPECT_EQ(r.failure.index, -1) << n;  // the archive's failure, no entry's
        EXPECT_EQ(r.failure.reason, n < 8    ? kbx::Reason::NotKbx
                                    : n < 20 ? kbx::Reason::HeaderTooShort
                                             : kbx::Reason::DirectoryPastEnd)
            << n;
    }
    // Past the directory, a short data area still loads; its entries fail later.
    EXPECT_TRUE(LoadBad(whole.left(20 + 136 * 3)).ok());
}

TEST_F(Load, BrokenHeadersAreRefusedWithAReason) {
    const QByteArray base = BuildArchive({{"Version\\a", "1234"}, {"Version\\b", "56"}});
    const struct {
        const char* what;
        qint64 at;
        qint32 value;
        kbx::Reason reason;
    } cases[] = {
        {"negative count", 16, -1, kbx::Reason::NegativeCount},
        {"huge count", 16, 0x7fffffff, kbx::Reason::DirectoryEndMismatch},
        {"count larger than directory", 16, 3, kbx::Reason::DirectoryEndMismatch},
        {"count smaller than directory", 16, 1, kbx::Reason::DirectoryEndMismatch},
        {"directory end off by one", 8, 20 + 136 * 2 + 1, kbx::Reason::DirectoryEndMismatch},
        {"negative directory end", 8, -20, kbx::Reason::DirectoryEndMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bytes = base;
        PatchLe32(bytes, c.at, c.value);
        const kbx::Result r = LoadBad(bytes);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
        EXPECT_EQ(r.failure.reason, c.reason);
    }
}

TEST_F(Load, ConsistentButHugeCountIsRefusedBeforeAllocating) {
    // A header that agrees with itself but describes 10 million records.
    QByteArray bytes =
        QByteArray("GEEK\0\x01\0\0", 8) + Le32(20 + 136 * 10'000'000) + Le32(0) + Le32(10'000'000);
    const kbx::Result r = LoadBad(bytes);
    EXPECT_EQ(r.failure.reason, kbx::Reason::DirectoryPastEnd);
}

TEST_F(Load, UnopenableOrUnusualPathsAreRefused) {
    const QString fifo = tmp.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const struct {
        QString path;
        int error;
    } cases[] = {{tmp.filePath(QStringLiteral("missing.kbx")), ENOENT},
                 {tmp.path(), EISDIR},
                 {fifo, EINVAL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const kbx::Result r = kbx::ReadArchive(c.path, loaded);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
        EXPECT_EQ(r.failure.reason, kbx::Reason::CannotOpenArchive);
        EXPECT_EQ(r.failure.error, c.error);
        EXPECT_EQ(r.failure.subject, c.path);
        ExpectGoodDirectory();
    }
}

}  // namespace
