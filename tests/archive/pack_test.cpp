// Packing: round trips, refusals before anything is written, and an existing
// archive that survives every failure byte for byte.

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <functional>
#include <map>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "seam_test.h"

using namespace testutil;

namespace {

class PackTest : public ArchiveTest {
  public:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("target"))));
        ClearRoot();
    }
    void ClearRoot() {
        QDir(root).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
    }
    int Link(const char* to, const QString& rel) {
        return ::symlink(to, QFile::encodeName(root + u'/' + rel));
    }
    // Packs the root and unpacks the archive again: the files come back.
    void ExpectRoundTrip(const std::map<QString, QByteArray>& files, bool measured = false) {
        const kbx::Result r = kbx::Pack(root, target, measured ? Measured : kbx::PackProgress());
        ASSERT_TRUE(r.ok()) << Describe(r);
        EXPECT_EQ(r.done, qint64(files.size()));
        ASSERT_TRUE(kbx::ReadArchive(target, dir).ok());
        const QString out = tmp.filePath(QStringLiteral("out"));
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
        EXPECT_EQ(Snapshot(out), files);
    }
    // A progress hook: the listing measures every file.
    const kbx::PackProgress Measured = [](const kbx::PackStep&) {};
    const QString root = tmp.filePath("root"), target = tmp.filePath("target/out.kbx");
};

TEST_F(PackTest, RoundTrips) {
    QRandomGenerator rng(20261206);
    for (int tree = 0; tree < 6; ++tree) {
        SCOPED_TRACE(tree);
        ClearRoot();
        std::map<QString, QByteArray> files;
        for (int i = 0, n = int(rng.bounded(1, 40)); i < n; ++i) {
            QByteArray data(int(rng.bounded(i % 7 == 0 ? 200000 : 300)), '\0');
            for (char& c : data) c = char(rng.bounded(256));
            const QString name =
                (i % 3 == 0 ? QStringLiteral(".hidden%1") : QStringLiteral("файл %1.dat")).arg(i);
            files[(i % 2 ? QStringLiteral("Version/") : QStringLiteral("Version/Data/")) + name] =
                data;
        }
        for (const auto& [rel, data] : files) Put("root/" + rel, data);
        ExpectRoundTrip(files);
    }
    EXPECT_EQ(Temporaries(tmp.path()), QStringList());

    // Small files are gathered into blocks before they are written; sizes
    // around the small-file limit, empty files and more small bytes than
    // one block must all land at their own offsets.
    ClearRoot();
    std::map<QString, QByteArray> files;
    int n = 0;
    for (qsizetype size : {0, 1, 65535, 65536, 65537, 1 << 20, 0, 7}) {
        QByteArray data(size, '\0');
        for (qsizetype i = 0; i < size; ++i) data[i] = char(n * 31 + i % 251);
        files[QStringLiteral("Version/Data/s%1.dat").arg(n++)] = data;
    }
    for (int i = 0; i < 40; ++i)
        files[QStringLiteral("Version/m%1.dat").arg(i, 2, 10, QLatin1Char('0'))] =
            QByteArray(60000, char('a' + i % 26));
    for (const auto& [rel, data] : files) Put("root/" + rel, data);
    // Files untouched for a moment are trusted from their change time alone;
    // fresh ones (as above) are read twice. With a progress hook every file
    // is measured as it is listed, and its copy must agree with that size.
    ::usleep(200000);
    for (bool measured : {false, true}) ExpectRoundTrip(files, measured);
    // Listings without entry kinds, as some file systems give: each name is looked up.
    kbx::io::ForceUnknownEntryTypes(true);
    ExpectRoundTrip(files);
}

TEST_F(PackTest, OnlyRegularFilesAndLinksToThemArePacked) {
    Put(QStringLiteral("root/Version/real.txt"), "real");
    // In an order that ignores case: _ before letters, a before B (pairs
    // of neighbours, so that the folder's listing order, which differs
    // between file systems, does not decide).
    for (const char* name : {"B", "a", "d", "C", "F", "e", "g", "H", "_u"})
        Put(QStringLiteral("root/Version/%1.txt").arg(QLatin1String(name)), name);
    Put(QStringLiteral("root/Version/Data/Sub/deep.txt"), "not packed");
    Put(QStringLiteral("root/Version/Other/x.txt"), "not packed");
    ASSERT_EQ(Link("real.txt", QStringLiteral("Version/link.txt")), 0);
    ASSERT_EQ(Link("Other", QStringLiteral("Version/dirlink")), 0);
    ASSERT_EQ(Link("missing", QStringLiteral("Version/dangling")), 0);
    // FIFOs, device nodes and links to them are not packed, and never block.
    for (const char* fifo : {"/Version/fifo", "/Version/Data/fifo"})
        ASSERT_EQ(::mkfifo(QFile::encodeName(root + QString::fromLatin1(fifo)), 0600), 0);
    ASSERT_EQ(Link("fifo", QStringLiteral("Version/link-to-fifo")), 0);
    ASSERT_EQ(Link("/dev/zero", QStringLiteral("Version/Data/zero")), 0);
    ASSERT_EQ(Link("/dev/tty", QStringLiteral("Version/tty")), 0);
    // A real device node where this system lets us make one.
    ::mknod(QFile::encodeName(root + QStringLiteral("/Version/Data/null")), S_IFCHR | 0666,
            makedev(1, 3));
    HangGuard guard(30);
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    std::vector<RawEntry> packed;
    for (const QByteArray name : {"_u", "a", "B", "C", "d", "e", "F", "g", "H"})
        packed.push_back({"Version\\" + name + ".txt", name});
    packed.insert(packed.end(), {{"Version\\link.txt", "real"}, {"Version\\real.txt", "real"}});
    EXPECT_EQ(ReadFile(target), BuildArchive(packed));

    // A link that leads nowhere, alone in its folder, is the last entry read.
    ClearRoot();
    ASSERT_EQ(Link("missing", QStringLiteral("Version/Data/dangling")), 0);
    Put(QStringLiteral("root/Version/a.txt"), "a");
    const kbx::Result r = kbx::Pack(root, target);
    EXPECT_EQ(std::tuple(r.ok(), r.done), std::tuple(true, 1)) << Describe(r);
}

// The format's offsets are 32-bit: data that would end past 2^31 - 1 bytes
// are refused before the file that passes the limit is copied; data that end
// exactly there are copied (here the first write fails, so that no copy of
// 2 GiB runs). Listings that measure each file are checked by their total
// first. Sparse files make the sizes cheap.
TEST_F(PackTest, RefusesBeforeWritingAnything) {
    const QByteArray old = "an existing archive that must survive";
    const qint64 room = kbx::kMaxArchiveBytes - kbx::DirectoryEnd(1);  // one file fits exactly
    using R = kbx::Reason;
    using N = kbx::NameRule;
    const kbx::SubFolders P = kbx::SubFolders::Packed;
    const struct {
        const char* what;
        QString put;  // a file added beside Version/fine.txt (4 bytes)
        R reason;
        N rule = N::None;
        qint64 size = 1;      // of the file added
        QString remove = {};  // a folder removed
        kbx::SubFolders subFolders = kbx::SubFolders::Ignored;
    } cases[] = {
        {"no Version/Data", {}, R::NoTree, N::None, 0, "Version/Data"},
        {"no Version", {}, R::NoTree, N::None, 0, "Version"},
        {"name outside Windows-1251", "Version/日本.txt", R::UnsafeName, N::NotEncodable},
        {"backslash in a name", "Version/a\\b.txt", R::UnsafeName, N::Backslash},
        {"name of 129 bytes", "Version/" + QString(121, u'n'), R::UnsafeName, N::TooLong},
        {"names that differ only in case", "Version/FINE.txt", R::UnsafeName, N::CaseDuplicate},
        {"a file named like the Data folder", "Version/DATA", R::UnsafeName, N::CaseDuplicate},
        {"control character in a name", "Version/bell\x07", R::UnsafeName, N::ControlChar},
        {"one file a byte past the limit", "Version/Data/big", R::TooLarge, N::None, room + 1},
        // The second record takes 136 bytes of room.
        {"a small file, then one that passes the limit with it", "Version/z.big", R::TooLarge,
         N::None, room - 136 - 3},
        {"a small file, then one that ends exactly at the limit", "Version/z.big", R::WriteFailed,
         N::None, room - 136 - 4},
        {"a file past 4 GiB", "Version/Data/big", R::TooLarge, N::None, (4LL << 30) + 5},
        // A packed folder's name is a part of its files' names.
        {"a folder and a file that differ only in case", "Version/FINE.TXT/x", R::UnsafeName,
         N::CaseDuplicate, 1, "", P},
        {"a folder named like the Data folder", "Version/data/x", R::UnsafeName, N::CaseDuplicate,
         1, "", P},
        {"backslash in a folder's name", "Version/a\\b/x", R::UnsafeName, N::Backslash, 1, "", P},
        {"a path of 129 bytes", "Version/" + QString(60, u'n') + u'/' + QString(60, u'n'),
         R::UnsafeName, N::TooLong, 1, "", P},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClearRoot();
        Put(QStringLiteral("root/Version/fine.txt"), "fine");
        ASSERT_TRUE(WriteFile(target, old));
        if (!c.remove.isEmpty()) QDir(root + u'/' + c.remove).removeRecursively();
        const QString put = root + u'/' + c.put;
        ASSERT_TRUE(c.put.isEmpty() || (WriteFile(put, {}) && QFile::resize(put, c.size)));
        for (const kbx::PackProgress& measured : {kbx::PackProgress(), Measured}) {
            kbx::io::FailNth(kbx::io::Op::Write, 1);
            const kbx::Result r = kbx::Pack(root, target, measured, nullptr, c.subFolders);
            kbx::io::ResetFaults();
            EXPECT_EQ(Refusal(r), std::pair(kbx::Outcome::Unusable, c.reason)) << Describe(r);
            EXPECT_EQ(r.failure.rule, c.rule);
            EXPECT_EQ(ReadFile(target), old);
            EXPECT_EQ(Temporaries(tmp.path()), QStringList());
        }
    }
}

// Sub-folders are left out silently (the window's pack), named with the
// files beneath them, or packed depth first: an archive of nested names,
// unpacked and packed again, comes back byte for byte. A link to a folder out
// of the tree is never followed, not even once it replaces a listed folder.
TEST_F(PackTest, SubFolders) {
    const std::vector<RawEntry> nested = {
        {"Version\\Data\\a.dat", "a"},
        {"Version\\Data\\textures\\b.dds", "bb"},
        {"Version\\Data\\textures\\deep\\c.dds", "ccc"},
        {Cp1251(QStringLiteral("Version\\Data\\Карты\\m.dat")), "map"},
        {"Version\\top.txt", "top"},
        {"Version\\Sounds\\s.wav", "wav"},
    };
    ASSERT_TRUE(WriteFile(target, BuildArchive(nested)));
    ASSERT_TRUE(kbx::ReadArchive(target, dir).ok());
    ASSERT_TRUE(kbx::UnpackAll(dir, root).ok());
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data/empty")));
    const QString outside = tmp.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(WriteFile(outside + QStringLiteral("/b.dds"), "outside"));
    ASSERT_EQ(Link(QFile::encodeName(outside).constData(), QStringLiteral("Version/Data/link")), 0);
    using S = kbx::SubFolders;
    const struct {
        S mode;
        std::vector<RawEntry> entries;
        QStringList warnings;  // files left out, or "link", and the path
    } cases[] = {
        {S::Ignored, {nested[0], nested[4]}, {}},
        {S::Reported,
         {nested[0], nested[4]},
         {"link Version/Data/link", "2 Version/Data/textures", "1 Version/Data/Карты",
          "1 Version/Sounds"}},
        {S::Packed, nested, {"link Version/Data/link"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        const kbx::Result r = kbx::Pack(root, target, {}, nullptr, c.mode);
        ASSERT_TRUE(r.ok()) << Describe(r);
        EXPECT_EQ(ReadFile(target), BuildArchive(c.entries));
        QStringList warnings;
        for (const kbx::Failure& w : r.warnings)
            warnings << (w.reason == kbx::Reason::FolderLinkLeftOut ? QStringLiteral("link")
                                                                    : QString::number(w.count)) +
                            u' ' + w.subject.mid(root.size() + 1);
        EXPECT_EQ(warnings, c.warnings);
    }

    const kbx::Result swapped = kbx::Pack(
        root, target,
        [&](const kbx::PackStep& step) {
            if (step.index != 0) return;
            QDir(root).rename(QStringLiteral("Version/Data/textures"), QStringLiteral("moved"));
            Link(QFile::encodeName(outside).constData(), QStringLiteral("Version/Data/textures"));
        },
        nullptr, S::Packed);
    EXPECT_EQ(swapped.failure.reason, kbx::Reason::CannotReadFolder) << Describe(swapped);
    EXPECT_EQ(ReadFile(target), BuildArchive(nested));
}

// What stands at the output path decides what is replaced: a file keeps its
// mode and owner (and loses its longer tail), a link is followed to its file
// and stays, anything that is not a file is refused before anything is
// written.
TEST_F(PackTest, OutputPathKinds) {
    const QString dirPath = tmp.filePath(QStringLiteral("target"));
    const QString real = dirPath + QStringLiteral("/real.kbx");
    const QString middle = dirPath + QStringLiteral("/middle");
    const auto native = [](const QString& p) { return QFile::encodeName(p); };
    const auto lstat = [&](const QString& p) {  // mode, owner, group; not followed
        struct stat st {};
        ::lstat(native(p), &st);  // zeros: nothing there
        return std::tuple(st.st_mode, st.st_uid, st.st_gid);
    };
    const mode_t mask = ::umask(0);
    ::umask(mask);
    // Where the process may set them, an owner and group not its own.
    const uid_t uid = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t gid = ::geteuid() == 0 ? 65534 : ::getegid();
    const auto old = [&](const QString& path, mode_t mode) {
        ASSERT_TRUE(WriteFile(path, QByteArray(10000, 'o')));
        ASSERT_EQ(::chmod(native(path), mode), 0);
        ASSERT_EQ(::chown(native(path), uid, gid), 0);
    };
    const auto link = [&](const char* to, const QString& at) {
        ASSERT_EQ(::symlink(to, native(at)), 0);
    };
    const struct {
        const char* what;
        std::function<void()> setup;
        kbx::Reason refused;  // None: packed
        QString path;         // afterwards: what stands there
        mode_t mode;
        bool owned = false;  // by the owner and group `old` gave it
    } cases[] = {
        {"nothing there: the usual mode", [] {}, kbx::Reason::None, target,
         S_IFREG | (0666 & ~mask)},
        {"a longer private file", [&] { old(target, 0600); }, kbx::Reason::None, target,
         S_IFREG | 0600, true},
        {"a link: the file it names is replaced, the link stays",
         [&] { old(real, 0640), link("real.kbx", target); }, kbx::Reason::None, real,
         S_IFREG | 0640, true},
        {"a chain of links, the last one leading nowhere yet",
         [&] { link("middle", target), link(native(real), middle); }, kbx::Reason::None, middle,
         S_IFLNK | 0777},
        {"a folder", [&] { QDir().mkpath(target); }, kbx::Reason::TargetNotRegular, target,
         S_IFDIR | (0777 & ~mask)},
        {"a FIFO", [&] { ::mkfifo(native(target), 0600); }, kbx::Reason::TargetNotRegular, target,
         S_IFIFO | 0600},
        {"a link to a FIFO", [&] { ::mkfifo(native(real), 0600), link("real.kbx", target); },
         kbx::Reason::TargetNotRegular, real, S_IFIFO | 0600},
        {"a link to a device", [&] { link("/dev/null", target); }, kbx::Reason::TargetNotRegular,
         QStringLiteral("/dev/null"), S_IFCHR | 0666},
        {"a link into a missing folder", [&] { link("missing/real.kbx", target); },
         kbx::Reason::CannotOpenFolder, target, S_IFLNK | 0777},
    };
    Put(QStringLiteral("root/Version/a.txt"), "a");
    const QByteArray packed = BuildArchive({{"Version\\a.txt", "a"}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(dirPath).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dirPath));
        c.setup();
        const mode_t before = std::get<0>(lstat(target));
        HangGuard guard(30);  // a FIFO opened by mistake would block forever
        const kbx::Result r = kbx::Pack(root, target);
        if (c.refused != kbx::Reason::None) {
            EXPECT_EQ(Refusal(r), std::pair(kbx::Outcome::Unusable, c.refused)) << Describe(r);
            EXPECT_EQ(r.failure.index, -1);
        } else {
            EXPECT_TRUE(r.ok()) << Describe(r);
            EXPECT_EQ(ReadFile(target), packed);
        }
        // What stood at the path keeps its kind and mode: a link stays a link.
        EXPECT_TRUE(before == 0 || std::get<0>(lstat(target)) == before);
        const auto [mode, owner, group] = lstat(c.path);
        EXPECT_EQ(mode, c.mode);
        EXPECT_TRUE(!c.owned || (owner == uid && group == gid)) << owner << " " << group;
        EXPECT_EQ(Temporaries(dirPath), QStringList());
    }
}

// The archive being replaced, found in the packed tree under its own name or
// through a link, is left out with a warning; the engine's temporaries left
// in the tree are left out silently.
TEST_F(PackTest, OwnOutputAndTemporariesAreLeftOut) {
    Put(QStringLiteral("root/Version/fine.txt"), "fine");
    Put(QStringLiteral("root/Version/.kbx-123-abc.tmp"), "half-written");
    const QString inside = root + QStringLiteral("/Version/out.kbx");
    ASSERT_EQ(Link("../out.kbx", QStringLiteral("Version/Data/link.kbx")), 0);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "an old file there" : "its own previous archive");
        if (run == 0) Put(QStringLiteral("root/Version/out.kbx"), "old");
        const kbx::Result r = kbx::Pack(root, inside);
        ASSERT_TRUE(r.ok()) << Describe(r);
        EXPECT_EQ(
            r.warnings,
            (Failures{
                kbx::Failure::Entry(kbx::Reason::OutputInTree, 0, -1, "Version\\Data\\link.kbx"),
                kbx::Failure::Entry(kbx::Reason::OutputInTree, 0, -1, "Version\\out.kbx")}));
        EXPECT_EQ(ReadFile(inside), BuildArchive({{"Version\\fine.txt", "fine"}}));
    }
}

// A stop between two files leaves the earlier archive as it was and no
// temporary file; the hook sees every file, with the sizes of the listing,
// before it is copied.
TEST_F(PackTest, StopPublishesNothing) {
    Put(QStringLiteral("root/Version/Data/a.dat"), "aa");
    Put(QStringLiteral("root/Version/b.txt"), "bbb");
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
                EXPECT_EQ(std::tuple(step.count, step.totalSize), std::tuple(2, 5));
                stop.requested = step.index == 1;
            },
            &stop);
        EXPECT_EQ(r.outcome, kbx::Outcome::Stopped);
        EXPECT_EQ(seen, (std::vector<QString>{"Version\\Data\\a.dat", "Version\\b.txt"}));
        EXPECT_EQ(ReadFile(target), "earlier");
        EXPECT_EQ(Temporaries(tmp.path()), QStringList());
    }
}

}  // namespace
