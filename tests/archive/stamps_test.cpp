// Tree stamps: kept whole and refused when they are not this archive's and
// tree's; a file they vouch for is not read, and a change is still found.

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>

#include "archive/archive.h"
#include "archive/compare.h"
#include "archive/file_io.h"
#include "archive/file_io_faults.h"
#include "archive/stamps.h"
#include "seam_test.h"

using namespace testutil;

namespace {

class StampsTest : public ArchiveTest {};

// Waits past the clock's tick, so that files written before have settled.
void Settle() {
    const timespec pause{0, 60'000'000};
    ::nanosleep(&pause, nullptr);
}

TEST_F(StampsTest, SettledAndUnchanged) {
    struct stat st {};
    st.st_mode = S_IFREG;
    st.st_ino = 7;
    st.st_size = 5;
    st.st_dev = 3;
    const qint64 moment = 100'000'000'000;
    for (const auto& [ctime, settled] : {std::pair{moment - 60'000'001, true},
                                         {moment - 40'000'001, false},
                                         {moment - 1'000'000'000, false},
                                         {moment - 3'000'000'000, true}}) {
        st.st_ctim = {time_t(ctime / 1'000'000'000), long(ctime % 1'000'000'000)};
        EXPECT_EQ(kbx::SettledBefore(st, moment), settled) << ctime;
    }
    const kbx::TreeStamps stamps{{}, 3, 1, 1, {kbx::StampOf(st), {}}};
    EXPECT_TRUE(stamps.Unchanged(0, 5, st));
    EXPECT_FALSE(stamps.Unchanged(0, 6, st));  // the entry is another size
    EXPECT_FALSE(stamps.Unchanged(1, 5, st) || stamps.Unchanged(2, 5, st));  // no stamp
    for (const auto& change : std::vector<std::function<void(struct stat&)>>{
             [](struct stat& s) { s.st_mode = S_IFIFO; }, [](struct stat& s) { s.st_dev = 4; },
             [](struct stat& s) { s.st_ino = 8; }, [](struct stat& s) { s.st_size = 6; },
             [](struct stat& s) { s.st_ctim.tv_nsec += 1; }}) {
        struct stat other = st;
        change(other);
        EXPECT_FALSE(stamps.Unchanged(0, 5, other));
    }
}

TEST_F(StampsTest, KeptLoadedAndTrusted) {
    const QString a = Put("tree/Version/a.txt", "alpha");
    if (!kbx::LocalTimes(
            kbx::io::Fd(::open(QFile::encodeName(tmp.path()).constData(), O_RDONLY)).get()))
        GTEST_SKIP() << "times here may come from another machine's clock";
    const QString b = Put("tree/Version/Data/b.dat", "beta!");
    Settle();
    kbx::TreeStamps made;
    const auto pack = [&] {
        return kbx::Pack(tmp.filePath("tree"), archive, {}, nullptr, kbx::SubFolders::Ignored,
                         false, &made)
            .ok();
    };
    // A file open for writing may be changing without a new change time.
    const auto writer = [&] { return kbx::io::Fd(::open(QFile::encodeName(a), O_WRONLY)); };
    {
        const kbx::io::Fd w = writer();
        ASSERT_TRUE(pack());
    }
    ASSERT_EQ(made.entries.size(), 2u);
    EXPECT_EQ(std::pair(made.entries[0].inode != 0, made.entries[1].inode), std::pair(true, 0ULL));
    ASSERT_TRUE(pack());
    EXPECT_NE(made.entries[0].inode * made.entries[1].inode, 0u);
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    EXPECT_EQ(made.archive, dir.Identity);  // as published, not as first written

    const QString cache = tmp.filePath("cache/stamps");
    kbx::SaveStamps(cache, made, made.archive);
    kbx::TreeStamps loaded;
    kbx::FileIdentity rewritten = made.archive;
    rewritten.changedNs += 1;
    for (const auto& [identity, count, inode, mount, ok] :
         {std::tuple{made.archive, 2, made.inode, made.mount, true},
          {rewritten, 2, made.inode, made.mount, false},
          {made.archive, 3, made.inode, made.mount, false},
          {made.archive, 2, made.inode + 1, made.mount, false},
          {made.archive, 2, made.inode, made.mount + 1, false}})
        EXPECT_EQ(kbx::LoadStamps(cache, identity, count, made.device, inode, mount, loaded), ok);
    const QString kept = cache + "/" + QString::number(made.archive.device, 16) + "-" +
                         QString::number(made.archive.inode, 16);
    QByteArray bytes = ReadFile(kept);
    bytes[bytes.size() - 20] ^= 1;  // damaged: its sum fails
    ASSERT_TRUE(WriteFile(kept, bytes));
    EXPECT_FALSE(
        kbx::LoadStamps(cache, made.archive, 2, made.device, made.inode, made.mount, loaded));
    EXPECT_TRUE(loaded.entries.empty());
    kbx::SaveStamps(cache, made, made.archive);
    ASSERT_TRUE(
        kbx::LoadStamps(cache, made.archive, 2, made.device, made.inode, made.mount, loaded));
    EXPECT_EQ(loaded.entries, made.entries);
    kbx::TreeStamps moved = made;  // the archive replaced by another file: its stamps go
    moved.archive.inode += 1;
    kbx::SaveStamps(cache, moved, made.archive);
    EXPECT_FALSE(QFile::exists(kept));

    // Vouched for: compared without a read (every read counted). Then b
    // changes, its modification time put back: found, and its new stamp not
    // kept before it settles. Without stamps, a's is learned only while
    // nothing has it open for writing.
    kbx::io::SetCallHook([](kbx::io::Op, long) {});
    const kbx::TreeStamps none{made.archive, made.device, made.inode, made.mount, {}};
    struct Row {
        const kbx::TreeStamps* old;
        bool writing, changed, read, bSeen, aSeen;
    };
    for (const auto& [old, writing, changed, read, bSeen, aSeen] :
         {Row{&loaded, false, false, false, true, true},
          {&loaded, false, true, true, false, true},
          {&none, true, true, true, true, false},
          {&none, false, true, true, true, true}}) {
        if (old == &none) Settle();
        const kbx::io::Fd w = writing ? writer() : kbx::io::Fd();
        kbx::Contents a, t;
        ASSERT_TRUE(a.Open(dir).ok() && t.Open(tmp.filePath("tree")).ok());
        kbx::Pairing pairs(a, t);
        pairs.UseStamps(*old);
        const long reads = kbx::io::Calls(kbx::io::Op::Read);
        std::vector<bool> differs(2);
        {
            kbx::DiffersAhead ahead(pairs, a.count(), 1);
            for (qint64 i = 0; i < 2; ++i) {
                bool d = false;
                ASSERT_EQ(ahead.Differs(i, &d).reason, kbx::Reason::None);
                differs[size_t(i)] = d;
            }
        }
        EXPECT_EQ(differs, (std::vector<bool>{changed, false}));
        EXPECT_EQ(kbx::io::Calls(kbx::io::Op::Read) > reads, read);
        const std::vector<kbx::FileStamp> seen = pairs.TakeStamps();
        EXPECT_EQ(std::pair(seen[0].inode != 0, seen[1] == loaded.entries[1]),
                  std::pair(bSeen, aSeen));
        if (changed) continue;
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(b).constData(), &st), 0);
        ASSERT_TRUE(WriteFile(b, "BETA!"));
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(b).constData(), times, 0), 0);
    }
}

}  // namespace
