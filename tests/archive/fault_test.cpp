// Failing disks and a changing world: every write, rename, fsync and close
// of an unpack, a single extraction, a pack and a rewrite made to fail in
// turn; pack inputs that change or misbehave; folders that disappear; and an archive
// rewritten between its load and its unpack. Each run must end with an error
// result, no half-written file under a final name, an existing archive
// byte-identical, and no temporary file left.

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <grp.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>

#include "archive/batch_read.h"
#include "archive/file_io.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "seam_test.h"

using namespace testutil;
using kbx::Outcome;
using kbx::Reason;
using kbx::io::Facility;
using kbx::io::Op;

namespace {

void Fifo(const QString& path) {
    QFile::remove(path);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path), 0644), 0) << path.toStdString();
}
// Overwrites bytes of a file in place; its size stays.
void WriteAt(const QString& path, qint64 at, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.seek(at) && f.write(bytes) == bytes.size());
}
// Runs `change` just before the engine's first call of kind `op`.
void OnFirst(Op op, std::function<void()> change) {
    kbx::io::ResetFaults();
    kbx::io::SetCallHook([op, change](Op o, long n) {
        if (o == op && n == 1) change();
    });
}

class Faults : public ArchiveTest {
  public:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        ResetArchive();
        ResetRoot();
        ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("target"))));
    }

    // The output folder as a user had it: one entry's file already there.
    void ResetOutput() {
        QDir(out).removeRecursively();
        ASSERT_TRUE(WriteFile(out + QStringLiteral("/Version/b.txt"), kOldFile));
    }
    // The archive as loaded, whatever a run did to it.
    void ResetArchive() {
        QFile::remove(archive);
        QDir(archive).removeRecursively();
        Load(entries);
    }
    void ResetRoot() {
        QDir(root).removeRecursively();
        for (const auto& [rel, bytes] : tree) ASSERT_TRUE(WriteFile(root + u'/' + rel, bytes));
    }
    void ResetTarget() { ASSERT_TRUE(WriteFile(target, kOldArchive)); }

    // The files of a whole unpack, by relative path.
    std::map<QString, QByteArray> Unpacked() const {
        std::map<QString, QByteArray> files;
        for (const RawEntry& e : entries)
            files[QString::fromLatin1(e.name).replace(u'\\', u'/')] = e.data;
        return files;
    }
    // Every file in the output is an entry's, whole, or the old file; no
    // temporary is left anywhere.
    void ExpectNoPartialFiles(const std::string& what) {
        const auto allowed = Unpacked();
        for (const auto& [name, bytes] : Snapshot(out)) {
            ASSERT_TRUE(allowed.count(name)) << what << ": " << name.toStdString();
            EXPECT_TRUE(bytes == allowed.at(name) || (name == "Version/b.txt" && bytes == kOldFile))
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
    const QString out = tmp.filePath("out"), root = tmp.filePath("root"),
                  target = tmp.filePath("target/new.kbx");
};

// Every k-th call of every kind, across the five operations, with every
// descriptor closed again whatever the outcome.
TEST_F(Faults, EveryDiskFailureEndsInAnErrorWithNothingDamaged) {
    kbx::Directory loaded;
    const QString file = tmp.filePath(QStringLiteral("replacement"));
    ASSERT_TRUE(WriteFile(file, QByteArray(300000, 'r')));
    const std::vector<Op> all = {Op::Write, Op::Publish, Op::Fsync, Op::Close, Op::Read};
    const std::vector<Op> unpacking = {Op::Write, Op::Publish, Op::Close, Op::Read};
    // Each run starts from the same output, target and archive (only a
    // rewrite writes it), and must leave them as they were.
    const QByteArray original = BuildArchive(entries);
    // More small files than one buffer holds: several flushes before the last.
    const QString small = tmp.filePath(QStringLiteral("small"));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(
            WriteFile(small + QStringLiteral("/Version/Data/%1").arg(i), QByteArray(60000, 's')));
    const auto reset = [&](const std::string& name) {
        loaded = kbx::Directory();
        ResetOutput();
        ResetTarget();
        if (name == "rewrite") ResetArchive();
    };
    const struct {
        std::string name;
        std::function<kbx::Result()> run;
        std::vector<Op> makes;  // kinds of call a clean run must make
    } operations[] = {
        {"load", [&] { return kbx::ReadArchive(archive, loaded); }, {Op::Read}},
        {"verify",
         [&] {  // every name's hash the same: the same reads in every run, whatever the seed
             kbx::ForceHashCollisions(true);
             const kbx::Result r = kbx::Verify(archive, [](const kbx::Problem&) { return true; });
             kbx::ForceHashCollisions(false);
             return r;
         },
         {Op::Read}},
        {"unpack", [&] { return kbx::UnpackAll(dir, out); }, unpacking},
        {"extract", [&] { return kbx::ExtractEntry(dir, 0, out); }, unpacking},
        {"pack", [&] { return kbx::Pack(root, target); }, all},
        {"pack of small files", [&] { return kbx::Pack(small, target); }, all},
        {"rewrite",
         [&] {
             return kbx::Rewrite(dir, {kbx::Edit::Replace(1, file), kbx::Edit::Remove(3),
                                       kbx::Edit::Add(QStringLiteral("Version\\new"), file)});
         },
         all},
    };
    // The kernel's copy makes one write per piece; the bounded-buffer copy,
    // used where the kernel cannot copy, makes several per entry and reads
    // through ReadAt. The fallbacks for systems without openat2, unnamed
    // files or linking by descriptor take other paths to the same files;
    // reads take no fallback.
    const struct {
        const char* name;
        bool buffered, fallbacks, named;
    } modes[] = {
        {"", false, false, false},
        {" (buffered)", true, false, false},
        {" (no openat2, link through /proc)", false, true, false},
        {" (named temporaries)", false, false, true},
    };
    const char* opNames[] = {"write", "publish", "fsync", "close", "read"};
    long injected = 0;
    for (const auto& mode : modes) {
        kbx::io::ForceBufferedCopy(mode.buffered);
        for (Facility f : {Facility::Openat2, Facility::LinkByDescriptor})
            kbx::io::Disable(f, mode.fallbacks);
        kbx::io::ForceNamedFiles(mode.named);
        for (const auto& o : operations) {
            for (Op op : all) {
                if (op == Op::Read && (mode.fallbacks || mode.named)) continue;
                // A clean run counts the calls of this kind.
                reset(o.name);
                kbx::io::ResetFaults();
                const int descriptors = OpenDescriptors();
                const kbx::Result clean = o.run();
                ASSERT_TRUE(clean.ok() && clean.warnings.empty()) << o.name << mode.name;
                EXPECT_EQ(OpenDescriptors(), descriptors) << o.name << mode.name << " leaks";
                const long calls = kbx::io::Calls(op);
                EXPECT_EQ(calls > 0, std::count(o.makes.begin(), o.makes.end(), op) > 0)
                    << o.name << " makes " << calls << " " << opNames[int(op)];
                for (long k = 1; k <= calls; ++k) {
                    const std::string what =
                        o.name + mode.name + ", " + opNames[int(op)] + " #" + std::to_string(k);
                    reset(o.name);
                    kbx::io::ResetFaults();
                    kbx::io::FailNth(op, k);
                    const kbx::Result r = o.run();
                    kbx::io::ResetFaults();
                    if (o.makes == all && op == Op::Fsync && k == calls) {
                        // The folder's flush comes after the archive is
                        // complete under its name: a warning, not an error.
                        ASSERT_TRUE(r.ok()) << what;
                        ASSERT_EQ(r.warnings.size(), 1u) << what;
                        EXPECT_EQ(r.warnings[0].reason, Reason::FolderNotFlushed) << what;
                        EXPECT_EQ(r.warnings[0].error, EIO) << what;
                        continue;
                    }
                    ASSERT_FALSE(r.ok()) << what << " failed but was reported as success";
                    // Only a failed read of the header makes an archive
                    // unusable for the extraction of its entries.
                    if (o.makes == unpacking &&
                        (r.outcome != Outcome::Unusable || op != Op::Read || k != 1)) {
                        EXPECT_EQ(r.outcome, Outcome::EntriesFailed) << what;
                        ASSERT_EQ(r.failures.size(), 1u) << what;
                        if (o.name == "extract") {
                            EXPECT_EQ(r.failures[0].subject, "Version\\Data\\a.dat") << what;
                            EXPECT_EQ(r.failures[0].error, EIO) << what;
                        }
                    } else {
                        EXPECT_EQ(r.outcome, Outcome::Unusable) << what;
                        EXPECT_EQ(r.failure.error, EIO) << what;
                        if (o.name != "rewrite") {  // a file being packed has no index
                            EXPECT_EQ(r.failure.index, -1) << what;
                        } else {
                            // The first write copies the kept entry 0, before
                            // the replacement's file: the archive's failure.
                            const bool ofArchive = r.failure.subject == archive;
                            EXPECT_EQ(r.failure.index == -1, ofArchive) << what;
                            EXPECT_TRUE(ofArchive || op != Op::Write || k != 1) << what;
                        }
                    }
                    EXPECT_FALSE(loaded.IsLoaded()) << what << ": a failed load changed it";
                    ExpectNoPartialFiles(what);
                    ExpectTargetIntact(what);
                    EXPECT_TRUE(ReadFile(archive) == original) << what;
                    EXPECT_EQ(OpenDescriptors(), descriptors) << what << ": descriptors leaked";
                    ++injected;
                }
            }
        }
    }
    RecordProperty("faults_injected", int(injected));
}

// A file that changes as it is copied fails the pack, at the same size too;
// so does one replaced, before it is opened, by a FIFO, a link or nothing.
TEST_F(Faults, PackInputsThatChangeFailThePack) {
    const QString x = root + QStringLiteral("/Version/Data/x.dat");
    const QString y = root + QStringLiteral("/Version/Data/y.dat");
    // Each change runs as x.dat's copy starts: after x.dat was opened and
    // measured, before y.dat is opened. With a progress hook every file is
    // measured as the folders are listed, and must keep that size.
    const struct {
        const char* what;
        std::function<void()> change;
        Reason reason;
        QString subject;
        bool measured = false;
    } cases[] = {
        {"grows", [&] { WriteFile(x, QByteArray(200001, 'x')); }, Reason::FileChanged, x},
        {"shrinks", [&] { QFile::resize(x, 1000); }, Reason::FileChanged, x},
        {"rewritten in place at the same size", [&] { WriteAt(x, 100000, "changed"); },
         Reason::FileChanged, x},
        {"the next file becomes a FIFO", [&] { Fifo(y); }, Reason::NotRegularFile, y},
        {"the next file becomes a link to a device",
         [&] { QFile::remove(y), QFile::link(QStringLiteral("/dev/zero"), y); },
         Reason::FileChanged, y},
        {"the next file disappears", [&] { QFile::remove(y); }, Reason::CannotOpenFile, y},
        {"the next file grows after it was listed", [&] { WriteFile(y, "yyy"); },
         Reason::FileChanged, y, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRoot();
        ResetTarget();
        OnFirst(Op::Write, c.change);
        HangGuard guard(30);
        const kbx::Result r = kbx::Pack(
            root, target, c.measured ? kbx::PackProgress([](const kbx::PackStep&) {}) : nullptr);
        kbx::io::ResetFaults();
        EXPECT_EQ(Refusal(r), std::pair(Outcome::Unusable, c.reason)) << Describe(r);
        EXPECT_EQ(r.failure.subject, QDir(root).relativeFilePath(c.subject).replace(u'/', u'\\'));
        ExpectTargetIntact(c.what);
    }
}

// Extraction meets a FIFO where a file goes, and where a folder goes.
TEST_F(Faults, FifosWhereFilesGoNeverBlock) {
    HangGuard guard(30);
    ResetOutput();
    Fifo(out + QStringLiteral("/Version/Sub"));
    Fifo(out + QStringLiteral("/Version/b.txt"));
    EXPECT_EQ(kbx::UnpackAll(dir, out).failures,
              Failures{kbx::Failure::Entry(Reason::CannotCreateFolder, ENOTDIR, 2,
                                           "Version\\Sub\\c.bin")});
    EXPECT_EQ(ReadFile(out + QStringLiteral("/Version/b.txt")), "new b");
}

// Folders and files that cannot be read, and a target folder that refuses
// new folders. Tests run as root, which reads everything, so each check
// runs in a child that has given up root.
TEST_F(Faults, UnreadableFoldersAndFilesFailWithTheirReason) {
    for (const QString& d :
         {tmp.path(), root, root + QStringLiteral("/Version"),
          root + QStringLiteral("/Version/Data"), tmp.filePath(QStringLiteral("target"))})
        ASSERT_EQ(::chmod(QFile::encodeName(d), 0777), 0);
    const QString locked = tmp.filePath(QStringLiteral("locked"));
    ASSERT_EQ(::mkdir(QFile::encodeName(locked), 0555), 0);
    const struct {
        const char* lock;  // made unreadable; none: unpack into `locked`
        Reason reason;
        const char* subject;
    } cases[] = {
        {"/Version/Data", Reason::CannotReadFolder, ".*/Version/Data\\]"},
        {"/Version/z.txt", Reason::CannotOpenFile, "Version\\\\z.txt\\]"},
        {nullptr, Reason::CannotPrepareFolder, "/locked/Version/Data\\]"},
    };
    for (const auto& c : cases) {
        const QByteArray path = QFile::encodeName(root + QString::fromLatin1(c.lock));
        const mode_t mode = QFileInfo(QFile::decodeName(path)).isDir() ? 0777 : 0644;
        ASSERT_TRUE(!c.lock || ::chmod(path, 0) == 0);
        EXPECT_EXIT(
            {
                if (::geteuid() == 0 &&
                    (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                    std::_Exit(3);
                const kbx::Result r =
                    c.lock ? kbx::Pack(root, target) : kbx::UnpackAll(dir, locked);
                std::fprintf(stderr, "%s\n", Describe(r).c_str());
                std::_Exit(r.outcome == Outcome::Unusable && !QFile::exists(target) &&
                                   r.done == 0 && r.failure.reason == c.reason &&
                                   r.failure.error == EACCES
                               ? 0
                               : 1);
            },
            ::testing::ExitedWithCode(0), c.subject)
            << c.subject;
        ASSERT_TRUE(!c.lock || ::chmod(path, mode) == 0);
    }
}

// The folder written into, or the folder packed, is removed while the
// operation runs; the vanished folder is not made again.
TEST_F(Faults, FoldersThatDisappearMidway) {
    const QString targetDir = tmp.filePath(QStringLiteral("target"));
    const struct {
        const char* what;
        Op at;
        QString folder;
        std::function<kbx::Result()> run;
        Outcome outcome;
    } cases[] = {
        {"unpack, after the first entry is in place", Op::Publish, out,
         [&] { return kbx::UnpackAll(dir, out); }, Outcome::EntriesFailed},
        {"single extraction, as the entry is copied", Op::Write, out,
         [&] { return kbx::ExtractEntry(dir, 1, out); }, Outcome::EntriesFailed},
        {"pack, the target's folder", Op::Write, targetDir, [&] { return kbx::Pack(root, target); },
         Outcome::Unusable},
        {"pack, the packed root", Op::Write, root, [&] { return kbx::Pack(root, target); },
         Outcome::Unusable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetOutput();
        ASSERT_TRUE(QDir().mkpath(targetDir));
        ResetTarget();
        OnFirst(c.at, [&] { QDir(c.folder).removeRecursively(); });
        const kbx::Result r = c.run();
        kbx::io::ResetFaults();
        EXPECT_EQ(std::tuple(r.outcome, r.done), std::tuple(c.outcome, 0));
        EXPECT_FALSE(QFileInfo::exists(c.folder));
        EXPECT_EQ(Temporaries(tmp.path()), QStringList());
    }
    ExpectTargetIntact("root removed");
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
    const qint64 data = 20 + 136 * 4;  // where the first entry's data start
    const struct {
        const char* what;
        std::function<void()> change;
        Reason reason;  // for one entry at least, or None
    } cases[] = {
        {"truncated inside the header", [&] { QFile::resize(archive, 10); }, Reason::None},
        {"truncated inside the directory", [&] { QFile::resize(archive, 20 + 136 + 50); },
         Reason::None},
        {"truncated inside the data", [&] { QFile::resize(archive, data + 100); },
         Reason::ArchiveChanged},
        {"replaced by another archive", [&] { WriteFile(archive, BuildArchive(shuffled)); },
         Reason::ArchiveChanged},
        // Same length and same directory: only the file's identity and times
        // tell these apart from the loaded one.
        {"data rewritten in place", [&] { WriteAt(archive, original.size() - 1, "!"); },
         Reason::ArchiveChanged},
        {"same directory renamed over it",
         [&] {
             WriteFile(archive + QStringLiteral(".new"), original.chopped(1) + '!');
             ::rename(QFile::encodeName(archive + QStringLiteral(".new")),
                      QFile::encodeName(archive));
         },
         Reason::ArchiveChanged},
        {"replaced by an archive of fewer entries",
         [&] {
             WriteFile(archive, BuildArchive({entries[0], entries[1]}));
         },
         Reason::None},
        {"replaced by other bytes", [&] { WriteFile(archive, QByteArray(original.size(), 'q')); },
         Reason::None},
        {"replaced by a folder", [&] { QFile::remove(archive), QDir().mkpath(archive); },
         Reason::None},
        {"replaced by a FIFO", [&] { Fifo(archive); }, Reason::None},
    };
    for (const auto& c : cases) {
        ResetArchive();
        c.change();
        for (bool single : {false, true}) {
            ResetOutput();
            const kbx::Result r =
                single ? kbx::ExtractEntry(dir, 0, out) : kbx::UnpackAll(dir, out);
            const std::string what = std::string(c.what) + (single ? ", single" : ", unpack");
            EXPECT_FALSE(r.ok()) << what;
            if (!single) {
                EXPECT_EQ(r.outcome, Outcome::Unusable) << what;
            }
            if (c.reason != Reason::None) {
                EXPECT_EQ(r.failure.reason, c.reason) << what << ": " << Describe(r);
                EXPECT_EQ(r.failure.index, -1) << what;
            }
            // Whatever was written is the loaded entry's own bytes.
            ExpectNoPartialFiles(what);
        }
    }
    // Midway: the archive cut short inside the next entry's data after the
    // first entry is written, and at the start of the first entry's data as
    // the kernel copies it; the directory rewritten in place after the first
    // entry (records are read in blocks, never before the bytes they vouch
    // for). What is cut is truncated, not a write error.
    const struct {
        const char* what;
        Op at;
        std::function<void()> change;
        qint64 written;  // the empty entry, and a.dat when it was whole
        size_t failures;
        Reason reason;
        qint64 index;  // of the first failure
    } midway[] = {
        {"cut midway", Op::Publish, [&] { QFile::resize(archive, data + (3 << 20) + 2); }, 2, 2,
         Reason::Truncated, 1},
        {"cut as the copy starts", Op::Write, [&] { QFile::resize(archive, data); }, 1, 3,
         Reason::Truncated, 0},
        {"rewritten midway", Op::Publish, [&] { WriteFile(archive, BuildArchive(shuffled)); }, 2, 2,
         Reason::ArchiveChanged, 1},
    };
    for (const auto& m : midway) {
        SCOPED_TRACE(m.what);
        ResetArchive();
        ResetOutput();
        OnFirst(m.at, m.change);
        const kbx::Result r = kbx::UnpackAll(dir, out);
        kbx::io::ResetFaults();
        EXPECT_EQ(std::tuple(r.outcome, r.done), std::tuple(Outcome::EntriesFailed, m.written));
        ASSERT_EQ(r.failures.size(), m.failures) << Describe(r);
        for (const kbx::Failure& f : r.failures) EXPECT_EQ(f.reason, m.reason);
        EXPECT_EQ(r.failures[0].index, m.index);
        ExpectNoPartialFiles(m.what);
    }

    // The archive rewritten in place, at the same size, while a rewrite
    // copies from it: nothing is published.
    ResetArchive();
    OnFirst(Op::Write, [&] { WriteAt(archive, 2000, "changed"); });
    const kbx::Result r = kbx::Rewrite(dir, {kbx::Edit::Remove(1)});
    kbx::io::ResetFaults();
    EXPECT_EQ(Refusal(r), std::pair(Outcome::Unusable, Reason::ArchiveChanged)) << Describe(r);
    EXPECT_EQ(Temporaries(tmp.path()), QStringList());
}

// Reads that the kernel cuts short, on both copy paths, change no byte of a
// load, an unpack, an extraction or a pack.
TEST_F(Faults, ShortReadsChangeNothing) {
    ResetTarget();
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    const QByteArray packed = ReadFile(target);
    // A byte at a time for the load, a small entry and pack; 4093 for the
    // 3 MiB entry, spliced or buffered (a byte would take millions of calls).
    for (const auto& [buffered, limit] : {std::pair{false, 1LL}, {false, 4093LL}, {true, 4093LL}}) {
        SCOPED_TRACE(testing::Message() << "reads of " << limit << (buffered ? ", buffered" : ""));
        kbx::io::ForceBufferedCopy(buffered);
        kbx::io::ResetFaults();
        kbx::io::LimitReads(limit);
        kbx::Directory loaded;
        ASSERT_TRUE(kbx::ReadArchive(archive, loaded).ok());
        // The header and the directory, `limit` bytes at a time at most.
        EXPECT_GE(kbx::io::Calls(Op::Read), kbx::DirectoryEnd(4) / limit);
        if (limit > 1) {
            ResetOutput();  // a wrong name, offset or size shows in the files
            EXPECT_TRUE(kbx::UnpackAll(loaded, out).ok());
            EXPECT_EQ(Snapshot(out), Unpacked());
        }
        ResetOutput();
        EXPECT_TRUE(kbx::ExtractEntry(loaded, 1, out).ok());
        EXPECT_EQ(ReadFile(out + QStringLiteral("/Version/b.txt")), "new b");
        ResetTarget();
        EXPECT_TRUE(kbx::Pack(root, target).ok());
        EXPECT_TRUE(ReadFile(target) == packed);
    }
}

// Pack makes the archive durable and then the folder entry that names it;
// unpacking flushes nothing (a modder can unpack again). A failed flush of
// the folder leaves the new archive whole in place.
TEST_F(Faults, PackFlushesTheArchiveAndThenItsFolder) {
    using Ids = std::vector<std::pair<quint64, quint64>>;
    ResetTarget();
    kbx::io::ResetFaults();
    ASSERT_TRUE(kbx::Pack(root, target).ok());
    EXPECT_EQ(kbx::io::Flushed(),
              (Ids{FileId(target), FileId(tmp.filePath(QStringLiteral("target")))}));
    const QByteArray packed = ReadFile(target);

    ResetOutput();
    kbx::io::ResetFaults();
    ASSERT_TRUE(kbx::UnpackAll(dir, out).ok());
    EXPECT_EQ(kbx::io::Flushed(), Ids{});

    ResetTarget();
    kbx::io::ResetFaults();
    kbx::io::FailNth(Op::Fsync, 2);
    EXPECT_TRUE(kbx::Pack(root, target).ok());
    EXPECT_EQ(kbx::io::Calls(Op::Fsync), 2);
    EXPECT_TRUE(ReadFile(target) == packed);
    EXPECT_EQ(Temporaries(tmp.path()), QStringList());
}

// A write the kernel refuses (here: past the process's file size limit, as a
// full disk would) fails the entry or the pack with the kernel's reason.
TEST_F(Faults, RealWriteErrorsAreReported) {
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    const QString big = tmp.filePath(QStringLiteral("big"));
    ASSERT_TRUE(WriteFile(big, QByteArray(150000, 'b')));
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered);
        kbx::io::ForceBufferedCopy(buffered);
        ResetOutput();
        const kbx::Result u = kbx::UnpackAll(dir, out);
        EXPECT_EQ(u.failures, Failures{kbx::Failure::Entry(Reason::WriteFailed, EFBIG, 0,
                                                           "Version\\Data\\a.dat")});
        EXPECT_EQ(u.done, 3);
        ResetTarget();
        const kbx::Result p = kbx::Pack(root, target);
        EXPECT_EQ(p.outcome, Outcome::Unusable);
        EXPECT_EQ(p.failure,
                  kbx::Failure::Entry(Reason::WriteFailed, EFBIG, -1, "Version\\Data\\x.dat"));
        // The archive being written is what is full, not the file read.
        EXPECT_EQ(kbx::Rewrite(dir, {kbx::Edit::Replace(0, big)}).failure,
                  kbx::Failure::Path(Reason::WriteFailed, EFBIG, archive));
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
// linked through /proc. Any other failure is the folder's or the file's; a
// copy whose splice keeps failing fails its entry at once, never retrying.
TEST_F(Faults, FallbacksTakeOverAndStillRefuseLinks) {
    HangGuard guard(60);
    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    // -1: the facility disabled; 0: the call runs; EACCES is the folder's own
    // refusal, and fails the entries that would go there.
    const std::pair<Facility, std::vector<int>> cases[] = {
        {Facility::Openat2, {0, -1, ENOSYS, EPERM, E2BIG, EINVAL, EACCES}},
        {Facility::LinkByDescriptor, {EPERM, ENOENT, EINVAL, EACCES}},
        {Facility::Splice, {EIO}},
    };
    for (const auto& [facility, refusals] : cases) {
        for (int refusal : refusals) {
            SCOPED_TRACE(testing::Message() << int(facility) << " refused with " << refusal);
            kbx::io::Disable(facility, refusal < 0);
            kbx::io::Refuse(facility, std::max(refusal, 0));
            ResetOutput();
            ASSERT_TRUE(QFile::link(elsewhere, out + QStringLiteral("/Version/Sub")));
            const kbx::Result r = kbx::UnpackAll(dir, out);
            kbx::io::Refuse(facility, 0);
            EXPECT_NE(r.outcome, Outcome::Ok);
            EXPECT_EQ(r.done, refusal == EACCES ? 0 : refusal == EIO ? 2 : 3);
            EXPECT_EQ(
                QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                QStringList());
        }
    }
}

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
    kbx::io::Fd source(::memfd_create("source", MFD_CLOEXEC));
    ASSERT_EQ(::write(source.get(), "jkl", 3), 3);
    EXPECT_EQ(out.CopyFrom(source.get(), 0, 9, 3, false), -1);
    EXPECT_EQ(out.error(), EIO);
    EXPECT_FALSE(out.Commit(true, &err));
    EXPECT_EQ(err, EIO);
    EXPECT_EQ(kbx::io::Calls(Op::Publish), 0);
    out.Discard();
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// A batch gives each file what one read from its start gives, or the error:
// a file shorter or longer than asked, an empty one, one gone, a folder, a
// FIFO whose writer writes nothing (at once: never waiting on it, as a
// read that would wait fails), and no descriptor left open. While the seam
// shapes reads, nothing is read and the caller reads one by one.
TEST_F(Faults, BatchReadsGiveWhatOneReadGives) {
    const QString dirPath = tmp.filePath(QStringLiteral("batch"));
    ASSERT_TRUE(QDir().mkpath(dirPath + QStringLiteral("/sub")));
    for (const auto& [name, bytes] :
         {std::pair{"short", "abc"}, {"long", "abcdefgh"}, {"empty", ""}})
        Put(QStringLiteral("batch/") + name, bytes);
    const QByteArray fifo = QFile::encodeName(dirPath + QStringLiteral("/fifo"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const kbx::io::Fd writer(::open(fifo.constData(), O_RDWR | O_NONBLOCK));
    const kbx::io::Fd dirfd(::open(QFile::encodeName(dirPath).constData(), O_RDONLY));
    // name, bytes read (-1: an error, which the kernel chooses), whole
    const std::tuple<const char*, long long, bool> rows[] = {
        {"short", 3, true},       {"long", 5, true},  {"empty", 0, true},
        {"gone", -ENOENT, false}, {"sub", -1, false}, {"fifo", -1, false}};
    char bufs[6][5];
    std::vector<kbx::io::BatchRead> reads;
    for (size_t k = 0; k < 6; ++k)
        reads.push_back({dirfd.get(), std::get<0>(rows[k]), bufs[k], 5, 99, false});
    // Where the kernel or a sandbox refuses the queue, nothing is read in
    // batches at all.
    io_uring_params params{};
    const int probe = int(::syscall(__NR_io_uring_setup, 4, &params));
    kbx::io::BatchReader reader;
    if (probe < 0) {
        EXPECT_FALSE(reader.Read(reads));
        return;
    }
    ::close(probe);
    const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    std::vector<kbx::io::BatchRead> gone{reads[3]}, sub{reads[4]};
    ASSERT_TRUE(reader.Read(gone));  // the queue is made; a missing file leaves batching on
    const uint before = openFiles();
    ASSERT_TRUE(reader.Read(reads));
    EXPECT_EQ(openFiles(), before);
    for (size_t k = 0; k < 6; ++k) {
        const auto& [name, got, whole] = rows[k];
        EXPECT_EQ(got == -1 && reads[k].got < 0 ? -1 : reads[k].got, got) << name;
        EXPECT_EQ(reads[k].whole, whole) << name;
        const int read = int(std::max(0LL, reads[k].got));
        EXPECT_EQ(QByteArray(bufs[k], read), QByteArray("abcdefgh").left(read));
    }
    // A batch of which nothing could be read without waiting ends batching.
    ASSERT_TRUE(reader.Read(sub));
    EXPECT_EQ(reader.Read(gone), sub[0].got != -EOPNOTSUPP && sub[0].got != -EINVAL);
    kbx::io::LimitReads(1);
    EXPECT_FALSE(kbx::io::BatchReader().Read(reads));
}

}  // namespace

// The disk's writes start once every 4 MiB written, over bytes never started
// before; a long copy that started its own moves the mark without a call.
TEST(WritebackPacer, StartsEachRangeOnceEveryPiece) {
    constexpr long long M = 1 << 20;
    std::vector<std::pair<long long, long long>> started;
    kbx::io::WritebackPacer pacer(
        100, [&](long long at, long long len) { started.emplace_back(at, len); });
    for (long long end = 100 + M; end <= 100 + 9 * M; end += M) pacer.Written(end);
    pacer.Copied(5 * M, 100 + 14 * M);
    pacer.Copied(M, 100 + 17 * M);
    pacer.Copied(M, 100 + 18 * M);
    EXPECT_EQ(started, (std::vector<std::pair<long long, long long>>{
                           {100, 4 * M}, {100 + 4 * M, 4 * M}, {100 + 14 * M, 4 * M}}));
}
