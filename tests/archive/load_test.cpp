// Loading a directory: what a good archive gives, and that no broken or
// hostile file changes what was loaded before.

#include <sys/stat.h>

#include "seam_test.h"

using namespace testutil;

namespace {

class Load : public ArchiveTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(archive, BuildArchive({{"Version\\a.txt", "aaaa"},
                                                     {"Version\\Data\\b.dat", "bb"},
                                                     {"Version\\c.txt", ""}})));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir, [&](qint64 k) { calls.push_back(k); }).ok());
    }
    // Loads `bytes` over the good directory and checks it survived.
    kbx::Result LoadBad(const QByteArray& bytes) {
        EXPECT_TRUE(WriteFile(bad, bytes));
        const kbx::Result r = kbx::ReadArchive(bad, dir);
        if (!r.ok()) ExpectGoodDirectory();
        return r;
    }
    void ExpectGoodDirectory() {
        EXPECT_EQ(dir.ArchivePath, archive);
        ASSERT_EQ(dir.Count(), 3);
        EXPECT_EQ(dir.Name(1), "Version\\Data\\b.dat");
    }
    // `archive` holds the good archive, loaded into `dir`.
    const QString bad = tmp.filePath("bad.kbx");
    std::vector<qint64> calls;  // progress of the good load
};

TEST_F(Load, ReadsRecordsWithProgressAndKeepsTheBlankElement) {
    EXPECT_EQ(calls, (std::vector<qint64>{0, 1, 2}));
    EXPECT_EQ(dir.EntryOffset, (std::vector<qint32>{428, 432, 434, 0}));
    EXPECT_EQ(dir.EntrySize, (std::vector<qint32>{4, 2, 0, 0}));
    EXPECT_EQ(std::tuple(dir.Name(3), dir.EntryName[3].isEmpty()), std::tuple(QString(), true));
    // A later, smaller load replaces everything.
    std::vector<RawEntry> many;
    for (int i = 0; i < 40; ++i) many.push_back({"Version\\f" + QByteArray::number(i), "x"});
    for (const auto& entries : {many, std::vector<RawEntry>{{"Version\\only", "1"}}}) {
        ASSERT_TRUE(WriteFile(bad, BuildArchive(entries)));
        ASSERT_TRUE(kbx::ReadArchive(bad, dir).ok());
    }
    EXPECT_EQ(std::tuple(dir.EntryOffset.size(), dir.EntryName.size(), dir.Name(1)),
              std::tuple(2u, 2, QString()));
}

TEST_F(Load, EveryPrefixOfAnArchiveIsRefused) {
    const QByteArray whole = ReadFile(archive);
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
        std::vector<std::pair<qint64, qint32>> patches;  // (at, little-endian value)
        kbx::Reason reason;
    } cases[] = {
        {"negative count", {{16, -1}}, kbx::Reason::NegativeCount},
        {"huge count", {{16, 0x7fffffff}}, kbx::Reason::DirectoryEndMismatch},
        {"count larger than directory", {{16, 3}}, kbx::Reason::DirectoryEndMismatch},
        {"count smaller than directory", {{16, 1}}, kbx::Reason::DirectoryEndMismatch},
        {"directory end off by one", {{8, 20 + 136 * 2 + 1}}, kbx::Reason::DirectoryEndMismatch},
        {"negative directory end", {{8, -20}}, kbx::Reason::DirectoryEndMismatch},
        // Agrees with itself but describes 10 million records: refused
        // before allocating.
        {"consistent but huge",
         {{8, 20 + 136 * 10'000'000}, {16, 10'000'000}},
         kbx::Reason::DirectoryPastEnd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bytes = base;
        for (const auto& [at, value] : c.patches) PatchLe32(bytes, at, value);
        const kbx::Result r = LoadBad(bytes);
        EXPECT_EQ(Refusal(r), std::pair(kbx::Outcome::Unusable, c.reason));
    }
    // The signature must match exactly, byte for byte and in case.
    for (int at = 0; at < 8; ++at) {
        QByteArray bytes = base;
        bytes[at] = char(bytes[at] ^ (at < 4 ? 0x20 : 1));
        const kbx::Result r = LoadBad(bytes);
        EXPECT_EQ(Refusal(r), std::pair(kbx::Outcome::Unusable, kbx::Reason::NotKbx)) << at;
    }
}

TEST_F(Load, UnopenableOrUnusualPathsAreRefused) {
    const QString fifo = tmp.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const std::pair<QString, int> cases[] = {
        {tmp.filePath("missing.kbx"), ENOENT}, {tmp.path(), EISDIR}, {fifo, 0}};
    for (const auto& [path, error] : cases) {
        SCOPED_TRACE(path.toStdString());
        const kbx::Result r = kbx::ReadArchive(path, dir);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
        EXPECT_EQ(r.failure, kbx::Failure::Path(error == 0 ? kbx::Reason::NotRegularFile
                                                           : kbx::Reason::CannotOpenArchive,
                                                error, path));
        ExpectGoodDirectory();
    }
}

}  // namespace
