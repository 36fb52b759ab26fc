// Failing disks and a changing world: every write, rename, fsync and close
// of an unpack, a single extraction, a pack and a rewrite made to fail in
// turn; pack inputs that change or misbehave; folders that disappear; and an archive
// rewritten between its load and its unpack. Each run must end with an error
// result, no half-written file under a final name, an existing archive
// byte-identical, and no temporary file left.

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <functional>

#include "archive/archive.h"
#include "archive/file_io.h"
#include "archive/rewrite.h"
#include "test_util.h"

using namespace testutil;
using kbx::io::Op;

namespace {

const Op kOps[] = {Op::Write, Op::Publish, Op::Fsync, Op::Close, Op::Read};
const char* OpName(Op op) {
    static const char* names[] = {"write", "publish", "fsync", "close", "read"};
    return names[int(op)];
}
using kbx::io::Facility;

// Names of the engine's temporary files anywhere beneath `root`.
QStringList Temporaries(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().startsWith(QStringLiteral(".kbx-"))) found << path;
    }
    return found;
}

// Fails the test if the guarded code runs longer than `seconds`: a FIFO or a
// device that blocks would otherwise hang the whole suite.
struct HangGuard {
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
};

class Faults : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        archive = tmp.filePath(QStringLiteral("game.kbx"));
        out = tmp.filePath(QStringLiteral("out"));
        root = tmp.filePath(QStringLiteral("root"));
        target = tmp.filePath(QStringLiteral("target/new.kbx"));
        ASSERT_TRUE(WriteFile(archive, BuildArchive(entries)));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        for (const auto& [rel, bytes] : tree) ASSERT_TRUE(WriteFile(root + u'/' + rel, bytes));
        ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("target"))));
    }
    void TearDown() override {
        kbx::io::ResetFaults();
        kbx::io::ForceBufferedCopy(false);
        for (Facility f : {Facility::Openat2, Facility::LinkByDescriptor})
            kbx::io::Disable(f, false);
        kbx::io::ForceNamedFiles(false);
        for (Facility f : {Facility::Openat2, Facility::LinkByDescriptor}) kbx::io::Refuse(f, 0);
    }

    // The output folder as a user had it: one entry's file already there.
    void ResetOutput() {
        QDir(out).removeRecursively();
        ASSERT_TRUE(WriteFile(out + QStringLiteral("/Version/b.txt"), kOldFile));
    }
    // The archive as loaded, whatever a run did to it.
    void ResetArchive() {
        ASSERT_TRUE(WriteFile(archive, BuildArchive(entries)));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    }
    void ResetTarget() { ASSERT_TRUE(WriteFile(target, kOldArchive)); }

    // Every file in the output is an entry's, whole, or the old file; no
    // temporary is left.
    void ExpectNoPartialFiles(const std::string& what) {
        std::map<QString, QByteArray> allowed;
        for (const RawEntry& e : entries)
            allowed[QString::fromLatin1(e.name).replace(u'\\', u'/')] = e.data;
        for (const auto& [name, bytes] : Snapshot(out)) {
            ASSERT_TRUE(allowed.count(name)) << what << ": " << name.toStdString();
            EXPECT_TRUE(bytes == allowed[name] || (name == "Version/b.txt" && bytes == kOldFile))
                << what << ": " << name.toStdString() << " holds " << bytes.size() << " bytes";
        }
        EXPECT_EQ(Temporaries(tmp.path()), QStringList()) << what;
    }
    void ExpectTargetIntact(const std::string& what) {
        EXPECT_EQ(ReadFile(target), kOldArchive) << what;
        EXPECT_EQ(QDir(tmp.filePath(QStringLiteral("target")))
                      .entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList{QStringLiteral("new.kbx")})
            << what;
    }

    const QByteArray kOldFile = "the user's own file, longer than the entry";
    const QByteArray kOldArchive = QByteArray(70000, 'o');
    // Large enough that a copy may take several writes, with a zero-size
    // entry and a subfolder.
    const std::vector<RawEntry> entries = {
        {"Version\\Data\\a.dat", QByteArray(3 << 20, 'a')},
        {"Version\\b.txt", "new b"},
        {"Version\\Sub\\c.bin", "ccc"},
        {"Version\\Data\\empty", ""},
    };
    const std::map<QString, QByteArray> tree = {
        {"Version/Data/x.dat", QByteArray(200000, 'x')},
        {"Version/Data/y.dat", "yy"},
        {"Version/z.txt", "zzz"},
    };
    testutil::TempDir tmp;
    QString archive, out, root, target;
    kbx::Directory dir;
};

// Every k-th call of every kind, across the four operations, with every
// descriptor closed again whatever the outcome.
TEST_F(Faults, EveryDiskFailureEndsInAnErrorWithNothingDamaged) {
    struct Operation {
        const char* name;
        std::function<void(Faults&)> reset;
        std::function<kbx::Result(Faults&)> run;
        std::function<void(Faults&, const kbx::Result&, const std::string&)> check;
        std::vector<Op> makes;  // kinds of call a clean run must make
    };
    kbx::Directory loaded;
    const Operation operations[] = {
        {"load",
         [&](Faults&) { loaded = kbx::Directory(); },
         [&](Faults& t) { return kbx::ReadArchive(t.archive, loaded); },
         [&](Faults&, const kbx::Result& r, const std::string& what) {
             EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << what;
             EXPECT_FALSE(loaded.IsLoaded()) << what << ": a failed load changed the directory";
             EXPECT_EQ(r.failure.index, -1) << what;
         },
         {Op::Read}},
        {"unpack",
         [](Faults& t) { t.ResetOutput(); },
         [](Faults& t) { return kbx::UnpackAll(t.dir, t.out); },
         [](Faults& t, const kbx::Result& r, const std::string& what) {
             // Only a failed read of the header makes the archive unusable.
             if (r.outcome != kbx::Outcome::Unusable || !what.ends_with("read #1")) {
                 EXPECT_EQ(r.outcome, kbx::Outcome::EntriesFailed) << what;
                 EXPECT_EQ(r.failures.size(), 1u) << what;
             } else {
                 EXPECT_EQ(r.failure.error, EIO) << what;
             }
             t.ExpectNoPartialFiles(what);
         },
         {Op::Write, Op::Publish, Op::Close, Op::Read}},
        {"extract",
         [](Faults& t) { t.ResetOutput(); },
         [](Faults& t) { return kbx::ExtractEntry(t.dir, 0, t.out); },
         [](Faults& t, const kbx::Result& r, const std::string& what) {
             if (r.outcome == kbx::Outcome::Unusable && what.ends_with("read #1")) {
                 EXPECT_EQ(r.failure.error, EIO) << what;
             } else {
                 EXPECT_EQ(r.outcome, kbx::Outcome::EntriesFailed) << what;
                 ASSERT_EQ(r.failures.size(), 1u) << what;
                 EXPECT_EQ(r.failures[0].subject, QStringLiteral("Version\\Data\\a.dat")) << what;
                 EXPECT_EQ(r.failures[0].error, EIO) << what;
             }
             t.ExpectNoPartialFiles(what);
         },
         {Op::Write, Op::Publish, Op::Close, Op::Read}},
        {"pack",
         [](Faults& t) { t.ResetTarget(); },
         [](Faults& t) { return kbx::Pack(t.root, t.target); },
         [](Faults& t, const kbx::Result& r, const std::string& what) {
             EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << what;
             EXPECT_EQ(r.failure.error, EIO) << what;
             EXPECT_EQ(r.failure.index, -1) << what;  // a file being packed has no index
             t.ExpectTargetIntact(what);
             EXPECT_EQ(Temporaries(t.tmp.path()), QStringList()) << what;
         },
         {Op::Write, Op::Publish, Op::Fsync, Op::Close, Op::Read}},
        {"rewrite",
         [](Faults& t) { t.ResetArchive(); },
         [](Faults& t) {
             const QString file = t.tmp.filePath(QStringLiteral("replacement"));
             WriteFile(file, QByteArray(300000, 'r'));
             return kbx::Rewrite(t.dir, {kbx::Edit::Replace(1, file), kbx::Edit::Remove(3),
                                         kbx::Edit::Add(QStringLiteral("Version\\new"), file)});
         },
         [](Faults& t, const kbx::Result& r, const std::string& what) {
             EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << what;
             EXPECT_EQ(r.failure.error, EIO) << what;
             EXPECT_EQ(ReadFile(t.archive), BuildArchive(t.entries)) << what;
             EXPECT_EQ(Temporaries(t.tmp.path()), QStringList()) << what;
         },
         {Op::Write, Op::Publish, Op::Fsync, Op::Close, Op::Read}},
    };
    // The kernel's copy makes one write per piece; the bounded-buffer copy,
    // used where the kernel cannot copy, makes several per entry and reads
    // through ReadAt. The fallbacks for systems without openat2, unnamed
    // files or linking by descriptor take other paths to the same files.
    const struct {
        const char* name;
        bool buffered;
        std::vector<Facility> disabled;
        bool named = false;
    } modes[] = {
        {"", false, {}},
        {" (buffered)", true, {}},
        {" (no openat2, link through /proc)",
         false,
         {Facility::Openat2, Facility::LinkByDescriptor}},
        {" (named temporaries)", false, {}, true},
    };
    long injected = 0;
    for (const auto& mode : modes) {
        kbx::io::ForceBufferedCopy(mode.buffered);
        for (Facility f : mode.disabled) kbx::io::Disable(f, true);
        kbx::io::ForceNamedFiles(mode.named);
        for (const Operation& o : operations) {
            for (Op op : kOps) {
                if (op == Op::Read && (!mode.disabled.empty() || mode.named))
                    continue;  // reads take no fallback
                // A clean run counts the calls of this kind.
                o.reset(*this);
                kbx::io::ResetFaults();
                const int descriptors = OpenDescriptors();
                const kbx::Result clean = o.run(*this);
                ASSERT_TRUE(clean.ok() && clean.warnings.empty()) << o.name << mode.name;
                EXPECT_EQ(OpenDescriptors(), descriptors) << o.name << mode.name << " leaks";
                const long calls = kbx::io::Calls(op);
                if (std::count(o.makes.begin(), o.makes.end(), op)) {
                    EXPECT_GT(calls, 0) << o.name << " makes no " << OpName(op);
                } else {
                    EXPECT_EQ(calls, 0) << o.name << " makes a " << OpName(op);
                }
                for (long k = 1; k <= calls; ++k) {
                    const std::string what = std::string(o.name) + mode.name + ", " + OpName(op) +
                                             " #" + std::to_string(k);
                    o.reset(*this);
                    kbx::io::ResetFaults();
                    kbx::io::FailNth(op, k);
                    const kbx::Result r = o.run(*this);
                    kbx::io::ResetFaults();
                    const bool publishes =
                        std::string(o.name) == "pack" || std::string(o.name) == "rewrite";
                    if (publishes && op == Op::Fsync && k == calls) {
                        // The folder's flush comes after the archive is
                        // complete under its name: a warning, not an error.
                        ASSERT_TRUE(r.ok()) << what;
                        ASSERT_EQ(r.warnings.size(), 1u) << what;
                        EXPECT_EQ(r.warnings[0].reason, kbx::Reason::FolderNotFlushed) << what;
                        EXPECT_EQ(r.warnings[0].error, EIO) << what;
                        continue;
                    }
                    ASSERT_FALSE(r.ok()) << what << " failed but was reported as success";
                    o.check(*this, r, what);
                    EXPECT_EQ(OpenDescriptors(), descriptors) << what << ": descriptors leaked";
                    ++injected;
                }
            }
        }
        for (Facility f : mode.disabled) kbx::io::Disable(f, false);
        kbx::io::ForceNamedFiles(false);
    }
    kbx::io::ForceBufferedCopy(false);
    RecordProperty("faults_injected", int(injected));
    std::printf("faults injected: %ld\n", injected);
}

// A file that changes as it is copied fails the pack, at the same size too;
// so does one replaced, before it is opened, by a FIFO, a link or nothing.
TEST_F(Faults, PackInputsThatChangeFailThePack) {
    const QString x = root + QStringLiteral("/Version/Data/x.dat");
    const QString y = root + QStringLiteral("/Version/Data/y.dat");
    // Each change runs as x.dat's copy starts: after x.dat was opened and
    // measured, before y.dat is opened.
    const struct {
        const char* what;
        std::function<void()> change;
        kbx::Reason reason;
        const char* subject;
    } cases[] = {
        {"grows", [&] { WriteFile(x, QByteArray(200001, 'x')); }, kbx::Reason::FileChanged, "x"},
        {"shrinks", [&] { QFile::resize(x, 1000); }, kbx::Reason::FileChanged, "x"},
        {"rewritten in place at the same size",
         [&] {
             QFile f(x);
             f.open(QIODevice::ReadWrite);
             f.seek(100000);
             f.write("changed");
         },
         kbx::Reason::FileChanged, "x"},
        {"the next file becomes a FIFO",
         [&] {
             QFile::remove(y);
             ::mkfifo(QFile::encodeName(y).constData(), 0644);
         },
         kbx::Reason::CannotOpenFile, "y"},
        {"the next file becomes a link to a device",
         [&] {
             QFile::remove(y);
             QFile::link(QStringLiteral("/dev/zero"), y);
         },
         kbx::Reason::FileChanged, "y"},
        {"the next file disappears", [&] { QFile::remove(y); }, kbx::Reason::CannotOpenFile, "y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(root).removeRecursively();
        for (const auto& [rel, bytes] : tree) ASSERT_TRUE(WriteFile(root + u'/' + rel, bytes));
        ResetTarget();
        kbx::io::ResetFaults();
        kbx::io::SetCallHook([&](Op op, long n) {
            if (op == Op::Write && n == 1) c.change();
        });
        HangGuard guard(30);
        const kbx::Result r = kbx::Pack(root, target);
        kbx::io::ResetFaults();
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
        EXPECT_EQ(r.failure.reason, c.reason) << testutil::Describe(r);
        EXPECT_EQ(r.failure.subject, QStringLiteral("Version\\Data\\%1.dat").arg(c.subject));
        ExpectTargetIntact(c.what);
    }
}

// FIFOs, device nodes and links to them are not packed, and never block.
TEST_F(Faults, FifosAndDevicesNeitherHangNorArePacked) {
    const QByteArray v = QFile::encodeName(root + QStringLiteral("/Version"));
    ASSERT_EQ(::mkfifo(v + "/fifo", 0644), 0);
    ASSERT_EQ(::mkfifo(v + "/Data/fifo", 0644), 0);
    ASSERT_EQ(::symlink("fifo", v + "/link-to-fifo"), 0);
    ASSERT_EQ(::symlink("/dev/zero", v + "/Data/zero"), 0);
    ASSERT_EQ(::symlink("/dev/tty", v + "/tty"), 0);
    // A real device node where this system lets us make one.
    const bool node = ::mknod(v + "/Data/null", S_IFCHR | 0666, makedev(1, 3)) == 0;
    HangGuard guard(30);
    ResetTarget();
    const kbx::Result r = kbx::Pack(root, target);
    ASSERT_TRUE(r.ok()) << testutil::Describe(r);
    EXPECT_EQ(r.written, 3) << "device node made: " << node;

    // Extraction meets a FIFO where a file goes, and where a folder goes.
    ResetOutput();
    ASSERT_EQ(::mkfifo(QFile::encodeName(out + QStringLiteral("/Version/Sub")), 0644), 0);
    QFile::remove(out + QStringLiteral("/Version/b.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(out + QStringLiteral("/Version/b.txt")), 0644), 0);
    const kbx::Result u = kbx::UnpackAll(dir, out);
    EXPECT_EQ(u.outcome, kbx::Outcome::EntriesFailed);
    ASSERT_EQ(u.failures.size(), 1u);
    EXPECT_EQ(u.failures[0].subject, QStringLiteral("Version\\Sub\\c.bin"));
    EXPECT_EQ(ReadFile(out + QStringLiteral("/Version/b.txt")), "new b");

    // An archive path that names a FIFO is refused, not waited on.
    const QString fifo = tmp.filePath(QStringLiteral("fifo.kbx"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo), 0644), 0);
    kbx::Directory other;
    EXPECT_EQ(kbx::ReadArchive(fifo, other).outcome, kbx::Outcome::Unusable);
}

// A link that leads nowhere is skipped like any other non-file, wherever the
// folder listing puts it: alone in a folder, it is the last entry read.
TEST_F(Faults, DanglingLinksAreSkipped) {
    const QByteArray v = QFile::encodeName(root + QStringLiteral("/Version"));
    QDir(root + QStringLiteral("/Version/Data")).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
    ASSERT_EQ(::symlink("missing", v + "/Data/dangling"), 0);
    ResetTarget();
    const kbx::Result r = kbx::Pack(root, target);
    ASSERT_TRUE(r.ok()) << testutil::Describe(r);
    EXPECT_EQ(r.written, 1);
}

// Folders and files that cannot be read. Tests run as root, which reads
// everything, so the check runs in a child that has given up root.
TEST_F(Faults, UnreadableFoldersAndFilesFailWithTheirReason) {
    const auto asNobody = [&](const std::function<bool()>& body) {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                std::_Exit(3);
        }
        std::_Exit(body() ? 0 : 1);
    };
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()), 0777), 0);
    for (const QString& d :
         {root, root + QStringLiteral("/Version"), root + QStringLiteral("/Version/Data"),
          tmp.filePath(QStringLiteral("target"))})
        ASSERT_EQ(::chmod(QFile::encodeName(d), 0777), 0);
    // A folder, then a file, that only root could read.
    const struct {
        const char* path;
        kbx::Reason reason;
        const char* subject;
    } locks[] = {
        {"/Version/Data", kbx::Reason::CannotReadFolder, ".*/Version/Data\\]"},
        {"/Version/z.txt", kbx::Reason::CannotOpenFile, "Version\\\\z.txt\\]"},
    };
    for (const auto& lock : locks) {
        const QByteArray path = QFile::encodeName(root + QString::fromLatin1(lock.path));
        const mode_t mode = QFileInfo(QFile::decodeName(path)).isDir() ? 0777 : 0644;
        ASSERT_EQ(::chmod(path, 0), 0);
        EXPECT_EXIT(asNobody([&] {
                        const kbx::Result r = kbx::Pack(root, target);
                        std::fprintf(stderr, "%s\n", testutil::Describe(r).c_str());
                        return r.outcome == kbx::Outcome::Unusable && !QFile::exists(target) &&
                               r.failure.reason == lock.reason && r.failure.error == EACCES;
                    }),
                    ::testing::ExitedWithCode(0), lock.subject)
            << lock.path;
        ASSERT_EQ(::chmod(path, mode), 0);
    }

    // A target folder that refuses new files: its Version folders cannot be
    // made, so nothing is written and the run says why.
    const QByteArray locked = QFile::encodeName(tmp.filePath(QStringLiteral("locked")));
    ASSERT_EQ(::mkdir(locked, 0555), 0);
    EXPECT_EXIT(asNobody([&] {
                    const kbx::Result r = kbx::UnpackAll(dir, QFile::decodeName(locked));
                    std::fprintf(stderr, "%s\n", testutil::Describe(r).c_str());
                    return r.outcome == kbx::Outcome::Unusable && r.written == 0 &&
                           r.failure.reason == kbx::Reason::CannotPrepareFolder &&
                           r.failure.error == EACCES;
                }),
                ::testing::ExitedWithCode(0), "/locked/Version/Data\\]");
}

// The folder written into is removed while the operation runs.
TEST_F(Faults, TargetFolderThatDisappearsMidway) {
    // Removes `folder` just before the engine's first call of kind `op`.
    const auto removeAt = [](Op op, const QString& folder) {
        kbx::io::ResetFaults();
        kbx::io::SetCallHook([op, folder](Op o, long n) {
            if (o == op && n == 1) QDir(folder).removeRecursively();
        });
    };

    // Unpack: gone after the first entry is renamed into place.
    ResetOutput();
    removeAt(Op::Publish, out);
    kbx::Result r = kbx::UnpackAll(dir, out);
    EXPECT_EQ(r.outcome, kbx::Outcome::EntriesFailed);
    EXPECT_EQ(r.written, 0);
    EXPECT_FALSE(QFileInfo::exists(out)) << "the vanished folder was made again";

    // Single extraction: gone while the entry is copied.
    ResetOutput();
    removeAt(Op::Write, out);
    r = kbx::ExtractEntry(dir, 1, out);
    EXPECT_EQ(r.outcome, kbx::Outcome::EntriesFailed);
    EXPECT_FALSE(QFileInfo::exists(out));

    // Pack: the target's folder, then the packed root.
    const QString targetDir = tmp.filePath(QStringLiteral("target"));
    ResetTarget();
    removeAt(Op::Write, targetDir);
    r = kbx::Pack(root, target);
    EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
    EXPECT_FALSE(QFileInfo::exists(targetDir));

    ASSERT_TRUE(QDir().mkpath(targetDir));
    ResetTarget();
    removeAt(Op::Write, root);
    r = kbx::Pack(root, target);
    kbx::io::ResetFaults();
    EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
    ExpectTargetIntact("root removed");
    EXPECT_EQ(Temporaries(tmp.path()), QStringList());
}

// The archive is truncated or replaced after the load: the directory no
// longer describes the file, and nothing is written as if it did.
TEST_F(Faults, ArchiveChangedBetweenLoadAndUnpack) {
    HangGuard wholeTest(120);
    const QByteArray original = ReadFile(archive);
    // Same length, other names and offsets.
    std::vector<RawEntry> shuffled = entries;
    std::swap(shuffled[0], shuffled[1]);
    shuffled[2].name = "Version\\Sub\\other.bin";
    const struct {
        const char* what;
        std::function<void()> change;
        kbx::Outcome outcome;
        kbx::Reason reason;  // for one entry at least
    } cases[] = {
        {"truncated inside the header", [&] { QFile::resize(archive, 10); }, kbx::Outcome::Unusable,
         kbx::Reason::None},
        {"truncated inside the directory", [&] { QFile::resize(archive, 20 + 136 + 50); },
         kbx::Outcome::Unusable, kbx::Reason::None},
        {"truncated inside the data", [&] { QFile::resize(archive, 20 + 136 * 4 + 100); },
         kbx::Outcome::Unusable, kbx::Reason::ArchiveChanged},
        {"replaced by another archive", [&] { WriteFile(archive, BuildArchive(shuffled)); },
         kbx::Outcome::Unusable, kbx::Reason::ArchiveChanged},
        // Same length and same directory: only the file's identity and times
        // tell these apart from the loaded one.
        {"data rewritten in place",
         [&] {
             QFile f(archive);
             f.open(QIODevice::ReadWrite);
             f.seek(original.size() - 1);
             f.write("!");
         },
         kbx::Outcome::Unusable, kbx::Reason::ArchiveChanged},
        {"same directory renamed over it",
         [&] {
             QByteArray other = original;
             other[other.size() - 1] = '!';
             WriteFile(archive + QStringLiteral(".new"), other);
             ::rename(QFile::encodeName(archive + QStringLiteral(".new")),
                      QFile::encodeName(archive));
         },
         kbx::Outcome::Unusable, kbx::Reason::ArchiveChanged},
        {"replaced by an archive of fewer entries",
         [&] {
             WriteFile(archive, BuildArchive({entries[0], entries[1]}));
         },
         kbx::Outcome::Unusable, kbx::Reason::None},
        {"replaced by other bytes", [&] { WriteFile(archive, QByteArray(original.size(), 'q')); },
         kbx::Outcome::Unusable, kbx::Reason::None},
        {"replaced by a folder",
         [&] {
             QFile::remove(archive);
             QDir().mkpath(archive);
         },
         kbx::Outcome::Unusable, kbx::Reason::None},
        {"replaced by a FIFO",
         [&] {
             QFile::remove(archive);
             ::mkfifo(QFile::encodeName(archive), 0644);
         },
         kbx::Outcome::Unusable, kbx::Reason::None},
    };
    for (const auto& c : cases) {
        QFile::remove(archive);
        QDir(archive).removeRecursively();
        ASSERT_TRUE(WriteFile(archive, original));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        c.change();
        for (bool single : {false, true}) {
            ResetOutput();
            const kbx::Result r =
                single ? kbx::ExtractEntry(dir, 0, out) : kbx::UnpackAll(dir, out);
            const std::string what = std::string(c.what) + (single ? ", single" : ", unpack");
            EXPECT_FALSE(r.ok()) << what;
            if (!single) {
                EXPECT_EQ(r.outcome, c.outcome) << what;
            }
            if (c.reason != kbx::Reason::None) {
                EXPECT_EQ(r.failure.reason, c.reason) << what << ": " << testutil::Describe(r);
                EXPECT_EQ(r.failure.index, -1) << what;
            }
            // Whatever was written is the loaded entry's own bytes.
            ExpectNoPartialFiles(what);
        }
    }
    // Midway: the archive cut short after the first entry is written, inside
    // the next one's data; and at the start of the first entry's data, as
    // the kernel copies it. What is cut is truncated, not a write error.
    const struct {
        const char* what;
        Op at;
        qint64 size;
        qint64 written;  // the empty entry, and a.dat when it was whole
    } cuts[] = {
        {"cut midway", Op::Publish, 20 + 136 * 4 + (3 << 20) + 2, 2},
        {"cut as the copy starts", Op::Write, 20 + 136 * 4, 1},
    };
    for (const auto& cut : cuts) {
        QFile::remove(archive);
        ASSERT_TRUE(WriteFile(archive, original));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        ResetOutput();
        kbx::io::ResetFaults();
        kbx::io::SetCallHook([&](Op op, long n) {
            if (op == cut.at && n == 1) QFile::resize(archive, cut.size);
        });
        const kbx::Result r = kbx::UnpackAll(dir, out);
        kbx::io::ResetFaults();
        EXPECT_EQ(r.outcome, kbx::Outcome::EntriesFailed) << cut.what;
        EXPECT_EQ(r.written, cut.written) << cut.what;
        for (const kbx::Failure& f : r.failures)
            EXPECT_EQ(f.reason, kbx::Reason::Truncated)
                << cut.what << ": " << f.subject.toStdString();
        ExpectNoPartialFiles(cut.what);
    }

    // Midway: the directory rewritten in place after the first entry. Records
    // are read in blocks, never before the bytes they vouch for.
    ASSERT_TRUE(WriteFile(archive, original));
    ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
    ResetOutput();
    kbx::io::SetCallHook([&](Op op, long n) {
        if (op == Op::Publish && n == 1) WriteFile(archive, BuildArchive(shuffled));
    });
    const kbx::Result rewritten = kbx::UnpackAll(dir, out);
    kbx::io::ResetFaults();
    ASSERT_EQ(rewritten.failures.size(), 2u) << testutil::Describe(rewritten);
    EXPECT_EQ(rewritten.failures[0].reason, kbx::Reason::ArchiveChanged);
    EXPECT_EQ(rewritten.failures[0].index, 1);
    ExpectNoPartialFiles("rewritten midway");
}

// Reads that the kernel cuts short, on both copy paths, change no byte of a
// load, an unpack or a pack.
TEST_F(Faults, ShortReadsChangeNothing) {
    ResetTarget();
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    const QByteArray packed = ReadFile(target);
    std::map<QString, QByteArray> unpacked;
    for (const RawEntry& e : entries)
        unpacked[QString::fromLatin1(e.name).replace(u'\\', u'/')] = e.data;
    for (bool buffered : {false, true}) {
        for (long long limit : {1LL, 4093LL}) {
            const std::string what = "at most " + std::to_string(limit) + " bytes per read" +
                                     (buffered ? ", buffered" : "");
            // A read of one byte at a time is slow on a 3 MiB entry: the
            // load and the small entries get it, the large copies 4093.
            kbx::io::ForceBufferedCopy(buffered && limit > 1);
            kbx::io::ResetFaults();
            kbx::io::LimitReads(limit);
            kbx::Directory loaded;
            ASSERT_TRUE(kbx::ReadArchive(archive, loaded).ok()) << what;
            EXPECT_EQ(loaded.EntryOffset, dir.EntryOffset) << what;
            EXPECT_EQ(loaded.EntrySize, dir.EntrySize) << what;
            for (qint64 i = 0; i < dir.UpperBound(); ++i)
                EXPECT_EQ(loaded.Name(i), dir.Name(i)) << what;
            ResetOutput();
            EXPECT_TRUE(kbx::UnpackAll(loaded, out).ok()) << what;
            EXPECT_EQ(Snapshot(out), unpacked) << what;
            ResetOutput();
            EXPECT_TRUE(kbx::ExtractEntry(loaded, 1, out).ok()) << what;
            EXPECT_EQ(ReadFile(out + QStringLiteral("/Version/b.txt")), "new b") << what;
            ResetTarget();
            EXPECT_TRUE(kbx::Pack(root, target).ok()) << what;
            EXPECT_TRUE(ReadFile(target) == packed) << what;
            EXPECT_GT(kbx::io::Calls(Op::Read), 0) << what;
        }
    }
}

// Pack makes the archive durable and then the folder entry that names it;
// unpacking flushes nothing (a modder can unpack again). A failed flush of
// the folder leaves the new archive whole in place.
TEST_F(Faults, PackFlushesTheArchiveAndThenItsFolder) {
    const auto id = [](const QString& path) {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        return std::pair<unsigned long long, unsigned long long>(st.st_dev, st.st_ino);
    };
    using Ids = std::vector<std::pair<unsigned long long, unsigned long long>>;
    ResetTarget();
    kbx::io::ResetFaults();
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    EXPECT_EQ(kbx::io::Flushed(), (Ids{id(target), id(tmp.filePath(QStringLiteral("target")))}));
    const QByteArray packed = ReadFile(target);

    ResetOutput();
    kbx::io::ResetFaults();
    ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
    EXPECT_EQ(kbx::io::Flushed(), Ids{});

    ResetTarget();
    kbx::io::ResetFaults();
    kbx::io::FailNth(Op::Fsync, 2);
    kbx::Pack(root, target);
    EXPECT_EQ(kbx::io::Calls(Op::Fsync), 2);
    EXPECT_TRUE(ReadFile(target) == packed);
    EXPECT_EQ(Temporaries(tmp.path()), QStringList());
}

// The format's offsets are 32-bit: data that would end past 2^31 - 1 bytes is
// refused before the file that passes the limit is copied, and the old
// archive stays. Sparse files make the sizes cheap.
TEST_F(Faults, PackRefusesDataPastTheFormatLimit) {
    const qint64 room = kbx::kMaxArchiveBytes - kbx::DirectoryEnd(1);  // one file fits exactly
    const struct {
        const char* what;
        std::vector<qint64> sizes;
    } cases[] = {
        {"one file a byte past the limit", {room + 1}},
        {"a small file, then one that passes the limit with it",
         {10, room - 136 - 9}},  // the second record takes 136 bytes of room
        {"a file past 4 GiB", {(4LL << 30) + 5}},
    };
    for (const auto& c : cases) {
        QDir(root).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version/Data")));
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            QFile f(root + QStringLiteral("/Version/Data/big%1").arg(i));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(c.sizes[i])) << c.what;
        }
        ResetTarget();
        const kbx::Result r = kbx::Pack(root, target);
        EXPECT_EQ(r.outcome, kbx::Outcome::Unusable) << c.what;
        EXPECT_EQ(r.failure.reason, kbx::Reason::TooLarge) << c.what;
        ExpectTargetIntact(c.what);
    }
}

// A write the kernel refuses (here: past the process's file size limit, as a
// full disk would) fails the entry or the pack with the kernel's reason.
TEST_F(Faults, RealWriteErrorsAreReported) {
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (bool buffered : {false, true}) {
        kbx::io::ForceBufferedCopy(buffered);
        ResetOutput();
        const kbx::Result u = kbx::UnpackAll(dir, out);
        EXPECT_EQ(u.outcome, kbx::Outcome::EntriesFailed) << buffered;
        ASSERT_EQ(u.failures.size(), 1u) << buffered;
        EXPECT_EQ(u.failures[0].subject, QStringLiteral("Version\\Data\\a.dat")) << buffered;
        EXPECT_EQ(u.failures[0].error, EFBIG) << buffered;
        EXPECT_EQ(u.written, 3) << buffered;
        ResetTarget();
        const kbx::Result p = kbx::Pack(root, target);
        EXPECT_EQ(p.outcome, kbx::Outcome::Unusable) << buffered;
        EXPECT_EQ(p.failure.error, EFBIG) << buffered;
    }
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    ::signal(SIGXFSZ, previous);
    // ResetTarget wrote 70000 bytes under the limit; the old archive is whole.
    ExpectTargetIntact("over the size limit");
    ExpectNoPartialFiles("over the size limit");
}

// An unnamed file has no name in the folder while it is written; its
// fallback, a named temporary, has one.
TEST_F(Faults, UnnamedFilesShowNoNameWhileWritten) {
    for (bool named : {false, true}) {
        kbx::io::ForceNamedFiles(named);
        ResetOutput();
        QStringList seen;
        kbx::io::ResetFaults();
        kbx::io::SetCallHook([&](Op op, long) {
            if (op == Op::Write) seen << Temporaries(out);
        });
        EXPECT_TRUE(kbx::ExtractEntry(dir, 1, out).ok()) << named;
        kbx::io::ResetFaults();
        EXPECT_EQ(seen.size(), named ? 1 : 0) << named;
        EXPECT_EQ(Temporaries(out), QStringList()) << named;
    }
}

// Without openat2 or linking by descriptor (absent from the kernel, refused
// by a sandbox) the fallbacks do the work: folders opened name by name, where
// a link planted in place of a folder is still never followed, and files
// linked through /proc. Any other failure is the folder's or the file's.
TEST_F(Faults, FallbacksTakeOverAndStillRefuseLinks) {
    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const struct {
        Facility facility;
        int refusal;  // 0: the call runs
        bool disabled;
        qint64 written;
    } cases[] = {
        {Facility::Openat2, 0, false, 3},
        {Facility::Openat2, 0, true, 3},
        {Facility::Openat2, ENOSYS, false, 3},
        {Facility::Openat2, EPERM, false, 3},
        {Facility::Openat2, E2BIG, false, 3},
        {Facility::Openat2, EINVAL, false, 3},
        {Facility::Openat2, EACCES, false, 0},
        {Facility::LinkByDescriptor, EPERM, false, 3},
        {Facility::LinkByDescriptor, ENOENT, false, 3},
        {Facility::LinkByDescriptor, EINVAL, false, 3},
        {Facility::LinkByDescriptor, EACCES, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.facility) << " refused with " << c.refusal
                                        << (c.disabled ? ", disabled" : ""));
        kbx::io::Disable(c.facility, c.disabled);
        kbx::io::Refuse(c.facility, c.refusal);
        ResetOutput();
        ASSERT_TRUE(QFile::link(elsewhere, out + QStringLiteral("/Version/Sub")));
        const kbx::Result r = kbx::UnpackAll(dir, out);
        kbx::io::Refuse(c.facility, 0);
        EXPECT_NE(r.outcome, kbx::Outcome::Ok);
        EXPECT_EQ(r.written, c.written);
        EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList());
    }
}

}  // namespace

namespace {

// A file whose write failed once can never be published, even when every
// later write succeeds: it would have a hole or a torn block in it.
TEST(AtomicFile, KeepsItsFirstErrorAndRefusesToCommit) {
    testutil::TempDir tmp;
    ASSERT_TRUE(tmp.isValid());
    kbx::io::Fd folder(::open(QFile::encodeName(tmp.path()).constData(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(folder);
    kbx::io::AtomicFile out;
    int err = 0;
    ASSERT_TRUE(out.Create(folder.get(), "final.dat", &err));
    EXPECT_TRUE(out.Write("abc", 3, 0));
    kbx::io::ResetFaults();
    kbx::io::FailNth(Op::Write, 1);
    EXPECT_FALSE(out.Write("def", 3, 3));
    kbx::io::ResetFaults();
    EXPECT_FALSE(out.Write("ghi", 3, 6));
    EXPECT_EQ(out.error(), EIO);
    EXPECT_FALSE(out.Commit(true, &err));
    EXPECT_EQ(err, EIO);
    EXPECT_EQ(kbx::io::Calls(Op::Publish), 0);
    out.Discard();
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// The archive rewritten in place, at the same size, while a rewrite copies
// from it: nothing is published.
TEST_F(Faults, ArchiveChangedDuringRewrite) {
    ResetArchive();
    kbx::io::ResetFaults();
    kbx::io::SetCallHook([&](Op op, long n) {
        if (op != Op::Write || n != 1) return;
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(2000);
        f.write("changed");
    });
    const kbx::Result r = kbx::Rewrite(dir, {kbx::Edit::Remove(1)});
    kbx::io::ResetFaults();
    EXPECT_EQ(r.outcome, kbx::Outcome::Unusable);
    EXPECT_EQ(r.failure.reason, kbx::Reason::ArchiveChanged) << testutil::Describe(r);
    EXPECT_EQ(Temporaries(tmp.path()), QStringList());
}

}  // namespace
