// Changing an archive's entries: round trips that keep every other byte,
// refusals that leave the archive as it was, and the archive's mode and
// links kept.

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "archive/compare.h"
#include "archive/file_io.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "seam_test.h"

using namespace testutil;
using kbx::Edit;

namespace {

// The process's descriptor limit set to `fds` (0: left as it is) for as long
// as this lives.
class DescriptorLimit {
  public:
    explicit DescriptorLimit(int fds) {
        ::getrlimit(RLIMIT_NOFILE, &was_);
        struct rlimit now = was_;
        if (fds != 0) now.rlim_cur = rlim_t(fds);
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &now), 0);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &was_); }

  private:
    struct rlimit was_ {};
};

class RewriteTest : public ArchiveTest {
  public:
    QStringList Beside() const {
        return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    const std::vector<RawEntry> base = {
        {"Version\\Data\\a.dat", QByteArray(200000, 'a')},
        {"Version\\b.txt", "bb"},
        {"Version\\Data\\empty", ""},
        {"Version\\Sub\\c.bin", "ccc"},
    };
};

TEST_F(RewriteTest, EditsKeepEveryOtherEntryByteForByte) {
    const QByteArray big(300000, 'N');
    const RawEntry a = base[0], b = base[1], e = base[2], c = base[3];
    const struct {
        const char* what;
        std::vector<Edit> edits;
        std::vector<RawEntry> expected;  // the new archive's entries, data back to back
    } cases[] = {
        {"replace a small entry by a larger file",
         {Edit::Replace(1, Put("files/b", "new b, longer"))},
         {a, {"Version\\b.txt", "new b, longer"}, e, c}},
        {"replace the large first entry by an empty file",
         {Edit::Replace(0, Put("files/e", ""))},
         {{"Version\\Data\\a.dat", ""}, b, e, c}},
        {"remove the first and the last", {Edit::Remove(3), Edit::Remove(0)}, {b, e}},
        {"add two, one of them large, with / as separator",
         {Edit::Add("Version/Data/new.dat", Put("files/n", big)),
          Edit::Add("Version\\Новый.txt", Put("files/r", "ru"))},
         {a, b, e, c, {"Version\\Data\\new.dat", big}, {Cp1251("Version\\Новый.txt"), "ru"}}},
        {"replace, remove and add at once; a removed name is free again",
         {Edit::Add("version\\B.TXT", Put("files/b2", "again")), Edit::Remove(1),
          Edit::Replace(2, Put("files/f", "full"))},
         {a, {"Version\\Data\\empty", "full"}, c, {"version\\B.TXT", "again"}}},
        {"remove everything",
         {Edit::Remove(0), Edit::Remove(1), Edit::Remove(2), Edit::Remove(3)},
         {}},
        {"swap two names, change one's letter case; places and bytes stay",
         {Edit::Rename(3, "Version/Data/a.dat"), Edit::Rename(0, "Version\\Sub\\c.bin"),
          Edit::Rename(1, "Version\\B.TXT")},
         {{"Version\\Sub\\c.bin", a.data}, {"Version\\B.TXT", "bb"}, e, {a.name, "ccc"}}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        Load(base);
        const kbx::Result r = kbx::Rewrite(dir, t.edits);
        ASSERT_TRUE(r.ok()) << Describe(r);
        EXPECT_EQ(r.done, qint64(t.expected.size()));
        EXPECT_EQ(ReadFile(archive), BuildArchive(t.expected));
        EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});
    }

    // Untouched entries whose data are not in directory order, or not back
    // to back (two records pointing backwards, after a gap of 5 bytes), come
    // out whole and in directory order.
    QByteArray bytes = BuildArchive({{"Version\\x", "xxxx"}, {"Version\\y", "yy"}});
    const qint64 start = kbx::DirectoryEnd(2);
    bytes = bytes.left(start) + "-----" + "yy" + "xxxx";
    PatchLe32(bytes, 20, qint32(start + 7));
    PatchLe32(bytes, 20 + 136, qint32(start + 5));
    ASSERT_TRUE(WriteFile(archive, bytes));
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    ASSERT_TRUE(kbx::IsSound(dir.ArchivePath));
    const kbx::Result r = kbx::Rewrite(dir, {Edit::Add("Version\\z", Put("files/z", "z"))});
    ASSERT_TRUE(r.ok()) << Describe(r);
    EXPECT_EQ(ReadFile(archive),
              BuildArchive({{"Version\\x", "xxxx"}, {"Version\\y", "yy"}, {"Version\\z", "z"}}));
}

TEST_F(RewriteTest, RefusalsLeaveTheArchiveAsItWas) {
    const QString x = Put("files/x", "x");
    const auto add = [&](const QString& name) { return Edit::Add(name, x); };
    const std::vector<Edit> removeFirst = {Edit::Remove(0)};
    using R = kbx::Reason;
    using N = kbx::NameRule;
    struct Case {
        std::string what;
        std::vector<Edit> edits;
        R reason;
        N rule = N::None;
        std::function<void(RewriteTest&)> setup = nullptr;  // after the load
    };
    std::vector<Case> cases = {
        {"index past the end", {Edit::Remove(4)}, R::NoSuchEntry},
        {"negative index", {Edit::Replace(-1, x)}, R::NoSuchEntry},
        {"one entry edited twice", {Edit::Replace(1, x), Edit::Remove(1)}, R::EditConflict},
        {"one name added twice", {add("Version\\n"), add("Version/n")}, R::EditConflict},
        {"two added names differing in case",
         {add("Version\\n"), add("VERSION/N")},
         R::UnsafeName,
         N::CaseDuplicate},
        {"an added name is another's folder",
         {add("Version\\n\\m"), add("Version\\n")},
         R::UnsafeName,
         N::FolderClash},
        {"renamed to its name", {Edit::Rename(1, "Version/b.txt")}, R::EditConflict, N::Exists},
        {"a missing file", {Edit::Replace(0, tmp.filePath("none"))}, R::CannotOpenFile},
        {"a folder for a file", {Edit::Add("Version\\n", tmp.path())}, R::NotRegularFile},
        {"a write-protected archive", removeFirst, R::CannotOpenArchive, N::None,
         [](RewriteTest& t) {
             ::chmod(QFile::encodeName(t.archive), 0444);
             ASSERT_TRUE(kbx::ReadArchive(t.archive, t.dir).ok());
         }},
        {"the archive rewritten since its load", removeFirst, R::ArchiveChanged, N::None,
         [](RewriteTest& t) {
             std::vector<RawEntry> other = t.base;
             other[3].name = "Version\\Sub\\d.bin";
             WriteFile(t.archive, BuildArchive(other));
         }},
        {"a kept entry of negative size", removeFirst, R::OutOfBounds, N::None,
         [](RewriteTest& t) {
             std::vector<RawEntry> bad = t.base;
             bad[3].sizeOverride = -1;
             bad[3].forceSize = true;
             t.Load(bad);
         }},
        {"the archive replaced by a FIFO", removeFirst, R::NotRegularFile, N::None,
         [](RewriteTest& t) {
             QFile::remove(t.archive);
             ::mkfifo(QFile::encodeName(t.archive), 0644);
         }},
    };
    // Names that may not be added, or given by a rename, beside the kept entries.
    const std::pair<QString, N> names[] = {
        {"Version\\B.txt", N::CaseDuplicate},   // differs only in case
        {"Version\\sub", N::FolderClash},       // a kept entry's folder
        {"Version\\b.txt\\x", N::FolderClash},  // beneath a kept entry
        {"Version\\data", N::ReservedFolder},   // the required folder Version\Data
        {"version", N::ReservedFolder},
        {"foo.txt", N::OutsideVersion},  // no pack would make it again
        {"Other\\x.dds", N::OutsideVersion},
        {"Version\\a\x1b[2J", N::ControlChar},
        {QStringLiteral("Version\\日本"), N::NotEncodable},
        {"Version\\" + QString(121, u'n'), N::TooLong},
        {"Version\\..\\x", N::BadComponent},
    };
    for (const auto& [name, rule] : names) {
        cases.push_back({name.toStdString(), {add(name)}, R::UnsafeName, rule});
        cases.push_back(
            {"renamed " + name.toStdString(), {Edit::Rename(0, name)}, R::UnsafeName, rule});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(archive);
        Load(base);
        if (c.setup) c.setup(*this);
        // The archive's bytes; a FIFO in its place is never opened.
        const auto current = [&] {
            return QFileInfo(archive).isFile() ? ReadFile(archive) : QByteArray("not a file");
        };
        const QByteArray before = current();
        const kbx::Result r = kbx::Rewrite(dir, c.edits);
        EXPECT_EQ(Refusal(r), std::pair(kbx::Outcome::Unusable, c.reason)) << Describe(r);
        EXPECT_EQ(r.failure.rule, c.rule) << Describe(r);
        EXPECT_EQ(current(), before);
        EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});
    }
}

// The archive keeps its mode; a link to it stays a link to the new archive.
// No edits, or a stop, write nothing.
TEST_F(RewriteTest, ModeLinksAndStops) {
    Load(base);
    EXPECT_EQ(kbx::Rewrite(dir, {}).outcome, kbx::Outcome::NothingDone);
    const QByteArray before = ReadFile(archive);
    kbx::StopFlag stop;
    std::vector<std::pair<qint64, qint64>> seen;  // bytes copied, of the total
    const kbx::Result stopped = kbx::Rewrite(
        dir, {Edit::Remove(0), Edit::Add("Version\\n", Put("files/n", "n"))},
        [&](qint64 copied, qint64 total) {
            seen.emplace_back(copied, total);
            stop.requested = copied == 5;  // the added entry, after the three kept in one run
        },
        &stop);
    EXPECT_EQ(stopped.outcome, kbx::Outcome::Stopped);
    EXPECT_EQ(seen, (std::vector<std::pair<qint64, qint64>>{{0, 6}, {5, 6}}));
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});

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
    EXPECT_EQ(ReadFile(archive), BuildArchive({base[0], base[2], base[3]}));
}

// An entry that lies past the archive's end ends early when compared:
// Truncated, naming the entry, not a failed read.
TEST_F(RewriteTest, AnEntryPastTheEndEndsEarlyWhenCompared) {
    QByteArray bytes = BuildArchive({{"Version\\f", "abc"}});
    PatchLe32(bytes, kbx::DirectoryEnd(0) + kbx::kRecordOffsetField, 1 << 20);
    ASSERT_TRUE(WriteFile(archive, bytes) && WriteFile(tmp.filePath("tree/Version/f"), "abc"));
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    kbx::Contents a, t;
    ASSERT_TRUE(a.Open(dir).ok() && t.Open(tmp.filePath("tree")).ok());
    kbx::Pairing pairs(a, t);
    kbx::DiffersAhead ahead(pairs, a.count());
    bool differs = false;
    const kbx::Failure f = ahead.Differs(0, &differs);
    EXPECT_EQ(std::tie(f.reason, f.subject),
              std::tuple(kbx::Reason::Truncated, QStringLiteral("Version\\f")));
}

// A tree read in batches, each file as its own:
// - 0grown, grown past its entry's one page with that page not in memory,
//   differs, though a read that does not wait ends where the entry ends;
//   0same, of the entry's page, does not;
// - 0link, a link to a file, is compared as its target;
// - a\f, b\f, c\f: each read in its own folder, also where a folder's
//   descriptor number comes back for a later one (c\f holds a\f's entry);
// - d pairs with the entry d only, not also with D;
// - c\f fails once its folder is gone;
// and the tree's files come in their names' order, whatever the listing's.
TEST_F(RewriteTest, TreesComparedInBatches) {
    const QByteArray page(4096, 'p');
    const QString grown = tmp.filePath("tree/Version/0grown");
    ASSERT_TRUE(WriteFile(grown, page) && WriteFile(tmp.filePath("tree/Version/0same"), page));
    const kbx::io::Fd fd(::open(QFile::encodeName(grown).constData(), O_WRONLY | O_APPEND));
    ASSERT_EQ(::write(fd.get(), QByteArray(4096, 'q').constData(), 4096), 4096);
    ASSERT_EQ(::fsync(fd.get()), 0);  // appended, the second page is cached apart and leaves
    ASSERT_EQ(::posix_fadvise(fd.get(), 4096, 4096, POSIX_FADV_DONTNEED), 0);
    ASSERT_TRUE(WriteFile(tmp.filePath("target"), "new") &&
                QFile::link(tmp.filePath("target"), tmp.filePath("tree/Version/0link")));
    std::vector<RawEntry> entries = {
        {"Version\\0grown", page}, {"Version\\0link", "old"}, {"Version\\0same", page}};
    for (const QByteArray folder : {"a", "b", "c"}) {
        entries.push_back({"Version\\" + folder + "\\f", "old"});
        ASSERT_TRUE(WriteFile(tmp.filePath("tree/Version/" + folder + "/f"),
                              folder == "a" ? "new" : "old"));
    }
    entries.push_back({"Version\\d", "old"});
    entries.push_back({"Version\\D", "old"});
    ASSERT_TRUE(WriteFile(tmp.filePath("tree/Version/d"), "old"));
    Load(entries);
    kbx::Contents a, t;
    ASSERT_TRUE(a.Open(dir).ok() && t.Open(tmp.filePath("tree")).ok());
    kbx::Pairing pairs(a, t);
    std::vector<bool> differs(size_t(a.count()));
    const auto compare = [&] {
        kbx::DiffersAhead ahead(pairs, a.count(), 1);
        kbx::Failure f;
        for (qint64 i = 0; i < a.count() && f.reason == kbx::Reason::None; ++i) {
            bool d = false;
            f = ahead.Differs(i, &d);
            differs[size_t(i)] = d;
        }
        return f;
    };
    ASSERT_EQ(compare().reason, kbx::Reason::None);
    EXPECT_EQ(differs, (std::vector<bool>{true, true, false, true, false, false, false, false}));
    EXPECT_EQ(std::pair(pairs.Match(6), pairs.Match(7)), std::pair(6LL, -1LL));
    QStringList names;
    for (qint64 j = 0; j < t.count(); ++j) names << t.name(j);
    EXPECT_EQ(names.join(' '),
              "Version\\0grown Version\\0link Version\\0same Version\\a\\f "
              "Version\\b\\f Version\\c\\f Version\\d");
    EXPECT_EQ(t.FilePath(6), tmp.filePath("tree") + "/Version/d");
    // A batch holds a quarter of the descriptors past 64 open, none at 64.
    for (const auto& [fds, most] : {std::pair{72, size_t(2)}, {64, size_t(0)}}) {
        const DescriptorLimit limit(fds);
        kbx::Contents::Reader r;
        t.ReadAhead(r, {{0, 5}, {1, 5}, {2, 5}});
        EXPECT_EQ(r.batchFiles, most) << fds;
    }
    // A folder gone since the listing fails its file, not reading another.
    ASSERT_TRUE(QDir(tmp.filePath("tree/Version/c")).removeRecursively());
    const kbx::Failure gone = compare();
    EXPECT_EQ(std::tie(gone.reason, gone.subject),
              std::tuple(kbx::Reason::ReadFailed, QStringLiteral("Version\\c\\f")));
}

// update's way: a tree compared on threads ahead of the copy, each file
// whose size (as its read shows, across the 1 MiB buffer too, however the
// reads are cut) or bytes differ replacing its entry as the copy reaches it,
// beside an added entry or none; progress counts the files' sizes. A refusal
// drops the comparison ahead; with nothing to change, nothing is written; a
// file that cannot be read fails the update.
TEST_F(RewriteTest, RefreshFromATreeComparedAhead) {
    const QByteArray big((1 << 20) + 5, 'z'), cut = big.left(big.size() - 1);
    const std::pair<QByteArray, QByteArray> rows[] = {
        {"abc", "abc"}, {"abc", "abcd"},  {"abc", "ab"}, {"abc", "abd"},   {"", ""},   {"", "x"},
        {big, big},     {big, big + "!"}, {big, cut},    {big, cut + "y"}, {"abc", ""}};
    std::vector<RawEntry> entries;
    std::vector<RawEntry> tree;
    for (int i = 0; i < 1100; ++i) {  // past the 1,024 items compared ahead
        const auto& [entry, file] = rows[i < 11 ? i : 0];
        entries.push_back({"Version\\f" + QByteArray::number(i), entry});
        tree.push_back({entries.back().name, file});
        ASSERT_TRUE(WriteFile(tmp.filePath("tree/Version/f" + QString::number(i)), file));
    }
    qint64 total = 0;
    const QByteArray late = QFile::encodeName(tmp.filePath("tree/Version/f1050"));
    int threads = 1;
    // swap: after the listing, the file f1050 is left (0), made a FIFO (1)
    // or removed (2).
    const auto update = [&](const std::vector<Edit>& edits, int swap = 0) {
        kbx::Contents a, t;
        EXPECT_TRUE(a.Open(dir).ok() && t.Open(tmp.filePath("tree")).ok());
        EXPECT_TRUE(swap == 0 || ::unlink(late) == 0);
        EXPECT_TRUE(swap != 1 || ::mkfifo(late, 0600) == 0);
        const bool swapped = swap != 0;
        kbx::Pairing pairs(a, t);
        kbx::DiffersAhead ahead(pairs, a.count(), threads);
        return kbx::Rewrite(
            dir, edits, [&](qint64, qint64 all) { total = all; }, nullptr,
            [&](qint64 i, QString* file) {
                bool differs = false;  // past the swapped file, asked for the last item next
                const kbx::Failure f = ahead.Differs(swapped && i > 0 ? 1099 : i, &differs);
                if (differs) *file = t.FilePath(pairs.Match(i));
                return f;
            });
    };
    // Rows: the reads' limit, threads, and descriptors the process may open
    // (0: as it is); three threads' batches must fit in 128.
    for (const auto& [limit, n, fds] : {std::tuple{0LL, 1, 0}, {65536LL, 2, 0}, {0LL, 3, 128}}) {
        SCOPED_TRACE(testing::Message() << limit << " " << n << " " << fds);
        threads = n;
        kbx::io::LimitReads(limit);
        const DescriptorLimit descriptors(fds);
        Load(entries);
        ASSERT_EQ(::chmod(QFile::encodeName(archive), 0444), 0);
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        EXPECT_EQ(update({}).failure.reason, kbx::Reason::CannotOpenArchive);
        ASSERT_EQ(::chmod(QFile::encodeName(archive), 0644), 0);
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        std::vector<RawEntry> expected = tree;
        std::vector<Edit> edits;
        if (limit == 0) {
            edits.push_back(Edit::Add("Version/new", Put("new", "new")));
            expected.push_back({"Version\\new", "new"});
        }
        const kbx::Result r = update(edits);
        ASSERT_TRUE(r.ok()) << Describe(r);
        EXPECT_EQ(ReadFile(archive), BuildArchive(expected));
        EXPECT_EQ(total, r.bytes - kbx::DirectoryEnd(r.done));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        const auto was = FileStamp(archive);
        EXPECT_EQ(update({}).outcome, kbx::Outcome::NothingDone);
        EXPECT_EQ(FileStamp(archive), was);
        // A FIFO put in a file's place after the listing, or the file gone,
        // fails as that file, also for the items asked after it.
        for (int swap : {1, 2}) {
            const kbx::Result failed = update({}, swap);
            EXPECT_EQ(failed.failure.subject, QStringLiteral("Version\\f1050")) << Describe(failed);
            ASSERT_TRUE((swap == 2 || ::unlink(late) == 0) && WriteFile(late, "abc"));
        }
    }
}

}  // namespace

namespace {

// What an edit writes is decided by the archive it loaded: the header's
// reserved field stays; a size past the format's limit is refused before a
// byte is copied; a stop during one long copy cancels the edit; and a link
// pointed at another archive while the edit runs leaves both archives as
// they were.
TEST_F(RewriteTest, WritesTheLoadedArchiveOnlyAndStopsWithinACopy) {
    using kbx::io::Op;
    QByteArray bytes = BuildArchive(base);
    PatchLe32(bytes, kbx::kReservedOffset, 0x5a5a1234);
    ASSERT_TRUE(WriteFile(archive, bytes));
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    ASSERT_TRUE(kbx::Rewrite(dir, {Edit::Remove(1)}).ok());
    EXPECT_EQ(ReadFile(archive).mid(kbx::kReservedOffset, 4), Le32(0x5a5a1234));

    const QString huge = Put("files/huge", {});
    ASSERT_TRUE(QFile::resize(huge, kbx::kMaxArchiveBytes));  // sparse: no disk used
    Load(base);
    kbx::io::ResetFaults();
    const kbx::Result tooLarge = kbx::Rewrite(dir, {Edit::Add("Version\\huge", huge)});
    EXPECT_EQ(tooLarge.failure.reason, kbx::Reason::TooLarge) << Describe(tooLarge);
    EXPECT_EQ(kbx::io::Calls(Op::Write), 0);

    const QByteArray big(9 << 20, 'b');
    Load({{"Version\\big", big}, {"Version\\small", "s"}});
    const QByteArray before = ReadFile(archive);
    kbx::StopFlag stop;
    kbx::io::ForceBufferedCopy(true);
    kbx::io::ResetFaults();
    kbx::io::SetCallHook([&](Op op, long n) {
        if (op == Op::Write && n == 2) stop.requested = true;
    });
    EXPECT_EQ(kbx::Rewrite(dir, {Edit::Remove(1)}, {}, &stop).outcome, kbx::Outcome::Stopped);
    // The copy went no further than the piece it was in: 1 MiB a write.
    EXPECT_LE(kbx::io::Calls(Op::Write), kbx::io::kCopyPiece >> 20);
    kbx::io::ForceBufferedCopy(false);
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(Beside(), QStringList{QStringLiteral("game.kbx")});

    // cur.kbx leads to game.kbx at the load and when the edit opens it, and
    // to other.kbx from its first read on.
    const QString other = tmp.filePath(QStringLiteral("other.kbx"));
    const QString link = tmp.filePath(QStringLiteral("cur.kbx"));
    ASSERT_TRUE(WriteFile(other, BuildArchive({{"Version\\y", "y"}})));
    ASSERT_TRUE(QFile::link(QStringLiteral("game.kbx"), link));
    ASSERT_TRUE(kbx::ReadArchive(link, dir).ok());
    kbx::io::ResetFaults();
    kbx::io::SetCallHook([&](Op op, long n) {
        if (op != Op::Read || n != 1) return;
        QFile::remove(link);
        QFile::link(QStringLiteral("other.kbx"), link);
    });
    const QByteArray otherBefore = ReadFile(other);
    const kbx::Result r = kbx::Rewrite(dir, {Edit::Remove(0)});
    EXPECT_EQ(r.failure.reason, kbx::Reason::ArchiveChanged) << Describe(r);
    EXPECT_EQ(ReadFile(other), otherBefore);
    EXPECT_EQ(ReadFile(archive), before);
}

}  // namespace
