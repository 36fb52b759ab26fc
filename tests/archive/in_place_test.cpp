// Edits in place: a crash at every step of an edit or an undo, or a torn
// write, leaves after recovery the archive as it was or as edited, byte for
// byte; journals that must not be applied are left alone; undo refuses an
// archive that changed.

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "archive/archive_file.h"
#include "archive/edit_lock.h"
#include "archive/file_io.h"
#include "archive/journal.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "seam_test.h"

using namespace testutil;
using kbx::Edit;
using kbx::Reason;
using kbx::io::Op;

namespace {

// The archive and its journal and undo record, as a crash leaves them.
struct State {
    QByteArray archive;
    std::optional<QByteArray> journal, undo;
    bool operator==(const State&) const = default;
};

class InPlace : public ArchiveTest {
  public:
    // The base archive, written into the same file each time, loaded.
    void Reset() {
        QFile::remove(journal);
        QFile::remove(undo);
        Load(base);
    }
    State Take() const {
        const auto opt = [](const QString& p) {
            return QFileInfo::exists(p) ? std::optional(ReadFile(p)) : std::nullopt;
        };
        return {ReadFile(archive), opt(journal), opt(undo)};
    }
    // Puts a state back, the archive into its own file (its identity is the
    // journal's owner).
    void Restore(const State& s) {
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.write(s.archive) == s.archive.size() &&
                    f.resize(s.archive.size()));
        for (const auto& [path, bytes] : {std::pair(journal, s.journal), std::pair(undo, s.undo)}) {
            QFile::remove(path);
            EXPECT_TRUE(!bytes || WriteFile(path, *bytes));
        }
    }
    // Every state must recover to `before` or `after`, leaving no journal.
    void ExpectRecovers(const std::vector<State>& states, const QByteArray& before,
                        const QByteArray& after) {
        for (size_t k = 0; k < states.size(); ++k) {
            SCOPED_TRACE("state " + std::to_string(k));
            Restore(states[k]);
            ASSERT_TRUE(kbx::Recover(archive).ok());
            const State now = Take();
            EXPECT_TRUE((now.archive == before || now.archive == after) && !now.journal);
        }
    }
    // Runs `op` with a state taken before every call that changes a file
    // (the call itself not yet made: a crash there), and the last state.
    // Checks the order of flushes on the way: no byte of the archive
    // changes before the files `first` are flushed, and the journal is
    // retired only after the archive's last change was flushed. With `tear`,
    // that write is torn in half (and fails).
    std::vector<State> Crashes(const std::function<void()>& op, const QByteArray& before,
                               const QStringList& first, long tear = 0) {
        std::vector<State> states;
        size_t flushedAtChange = 0;
        QByteArray last = before;
        kbx::io::ResetFaults();
        kbx::io::TearNthWrite(tear);
        kbx::io::SetCallHook([&](Op o, long) {
            if (o == Op::Read || o == Op::Close) return;
            states.push_back(Take());
            const State& s = states.back();
            const auto flushed = kbx::io::Flushed();
            const auto since = [&](size_t from, std::pair<quint64, quint64> file) {
                return std::find(flushed.begin() + qsizetype(from), flushed.end(), file) !=
                       flushed.end();
            };
            if (s.archive != last) {
                for (const QString& path : first)
                    EXPECT_TRUE(last != before || since(0, FileId(path))) << path.toStdString();
                last = s.archive;
                flushedAtChange = flushed.size();
            }
            const bool retired = !s.journal && s.undo && s.archive != before;
            EXPECT_TRUE(!retired || since(flushedAtChange, FileId(archive))) << "unflushed";
        });
        op();
        kbx::io::ResetFaults();
        states.push_back(Take());
        return states;
    }

    const QString journal = archive + QStringLiteral("-journal"),
                  undo = archive + QStringLiteral("-undo");
    std::vector<RawEntry> base = {{"Version\\a.txt", "alpha"},
                                  {"Version\\Data\\b.dat", QByteArray(300, 'b')},
                                  {"Version\\Data\\empty", ""},
                                  {"Version\\c", "c"}};
};

// Replace, add (the directory grows over the first entries' data, which
// move), remove, all at once, rename, and undo of an add: stopped before each write,
// flush, truncation, rename and removal, or with a write torn in half.
TEST_F(InPlace, EveryCrashRecoversToBeforeOrAfter) {
    const QString big = Put("big", QByteArray(5000, 'B')), small = Put("small", "s");
    const std::vector<Edit> add = {Edit::Add("Version\\n1", small), Edit::Add("Version\\n2", big),
                                   Edit::Add("Version\\n3", small)};
    const struct {
        const char* what;
        std::vector<Edit> edits;
        qint64 unused;      // bytes no entry uses after the edit
        bool undo = false;  // edit, then crash the undo
    } cases[] = {
        {"replace", {Edit::Replace(1, big)}, 300},
        {"add three", add, 0},  // the directory covers every old entry's data
        {"remove two", {Edit::Remove(0), Edit::Remove(2)}, 5 + 2 * 136},
        {"replace, remove and add", {Edit::Replace(3, small), Edit::Remove(1), add[1]}, 300 + 1},
        {"swap names", {Edit::Rename(0, "Version\\c"), Edit::Rename(3, "Version\\a.txt")}, 0},
        {"undo of an add", add, 0, true},
    };
    const auto layout = [&] {  // measured only when verify finds no problem
        kbx::Layout l{-1, false};
        EXPECT_TRUE(kbx::Verify(
                        archive, [](const kbx::Problem&) { return false; }, nullptr, &l)
                        .ok());
        return std::pair(l.unused, l.canonical);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto setup = [&] {
            Reset();
            EXPECT_TRUE(!c.undo || kbx::EditInPlace(dir, c.edits).ok());
        };
        const auto run = [&] {
            return (c.undo ? kbx::Undo(archive) : kbx::EditInPlace(dir, c.edits)).ok();
        };
        setup();
        const QByteArray before = ReadFile(archive);
        const auto inode = FileId(archive);  // and with it mode, owner and links
        kbx::io::ResetFaults();
        ASSERT_TRUE(run());
        const long writes = kbx::io::Calls(Op::Write);
        const QByteArray after = ReadFile(archive);
        EXPECT_EQ(FileId(archive), inode);
        // An undo restores the packed base; a rename moves no data.
        EXPECT_EQ(layout(), std::pair(c.unused, c.undo || c.edits[0].kind == Edit::Kind::Rename));
        if (!c.undo) {  // the entries a whole rewrite gives, once compacted
            const QString copy = Put("copy.kbx", before);
            ASSERT_TRUE(kbx::ReadArchive(copy, dir).ok() && kbx::Rewrite(dir, c.edits).ok());
            ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok() && kbx::Compact(dir).ok());
            EXPECT_EQ(ReadFile(archive), ReadFile(copy));
            EXPECT_EQ(layout(), std::pair(qint64(0), true));
        }

        setup();
        const QStringList first = {tmp.path(), c.undo ? tmp.path() : journal};
        const std::vector<State> states = Crashes([&] { EXPECT_TRUE(run()); }, before, first);
        EXPECT_EQ(states.back().archive, after);
        ExpectRecovers(states, before, after);
        // A torn write fails the edit, which rolls back: every state, those
        // of the rollback too, recovers to the archive before (an undo whose
        // rollback failed is finished by the recovery).
        for (long k = 1; k <= writes; ++k) {
            SCOPED_TRACE("torn write " + std::to_string(k));
            setup();
            const auto torn = Crashes([&] { EXPECT_FALSE(run()); }, before, first, k);
            EXPECT_TRUE(c.undo || torn.back().archive == before);
            ExpectRecovers(torn, before, c.undo ? after : before);
        }
    }
}

// Journals that must not be applied, refusals that change nothing, and
// undo only of an unchanged archive.
TEST_F(InPlace, JournalsRefusalsAndUndo) {
    const QString file = Put("f", "new");
    Reset();
    const QByteArray before = ReadFile(archive);
    ASSERT_TRUE(kbx::EditInPlace(dir, {Edit::Replace(0, file)}).ok());
    const QByteArray after = ReadFile(archive), record = ReadFile(undo);
    ASSERT_TRUE(kbx::Undo(archive).ok() && !QFileInfo::exists(undo));
    EXPECT_EQ(kbx::Undo(archive).failure.reason, Reason::NothingToUndo);
    const QString other = Put("other.kbx", before);
    ASSERT_TRUE(kbx::ReadArchive(other, dir).ok() && kbx::EditInPlace(dir, {Edit::Remove(1)}).ok());
    const QByteArray foreign = ReadFile(other + QStringLiteral("-undo"));
    // Its saved bytes never reached the disk.
    const QByteArray unwritten = QByteArray(record).replace(64, 136, QByteArray(136, 0));
    const QString huge = Put("huge", {});
    ASSERT_TRUE(QFile::resize(huge, kbx::kMaxArchiveBytes));  // sparse: no disk used
    const State restored{before, {}, {}}, foreignThere{before, foreign, {}};
    const Edit tooBig = Edit::Add("Version\\huge", huge), drop = Edit::Remove(0);
    const struct {
        const char* what;
        State state;
        Reason reason;  // of the load, the edit, or the undo
        std::optional<Reason> warning = {};
        std::optional<State> expected = {};  // unset: `state` unchanged
        mode_t mode = 0644;
        bool undoes = false;
        std::optional<Edit> edit = {};  // refused before a byte is written
    } cases[] = {
        {"a live journal", {after, record, {}}, Reason::None, Reason::RolledBack, restored},
        {"a torn journal", {before, record.left(100), {}}, Reason::None, {}, restored},
        {"a journal never on disk", {before, unwritten, {}}, Reason::None, {}, restored},
        {"another file's journal", foreignThere, Reason::None, Reason::ForeignJournal},
        {"write-protected", {after, record, {}}, Reason::CannotRollBack, {}, {}, 0444},
        {"undo after a change", {after, {}, record}, Reason::UndoStale, {}, {}, 0644, true},
        {"undo, read-only", {after, {}, record}, Reason::CannotOpenArchive, {}, {}, 0444, true},
        {"edit past the limit", restored, Reason::TooLarge, {}, {}, 0644, false, tooBig},
        {"edit, write-protected", restored, Reason::CannotOpenArchive, {}, {}, 0444, false, drop},
        {"edit, foreign journal", foreignThere, Reason::CannotCreateFile, {}, {}, 0644, 0, drop},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        Restore(c.state);
        ::chmod(QFile::encodeName(archive), c.mode);
        kbx::Result r = c.undoes ? kbx::Undo(archive) : kbx::ReadArchive(archive, dir);
        if (c.edit) {
            kbx::io::ResetFaults();
            r = kbx::EditInPlace(dir, {*c.edit});
            EXPECT_EQ(kbx::io::Calls(Op::Write), 0);
        }
        ::chmod(QFile::encodeName(archive), 0644);
        EXPECT_EQ(r.failure.reason, c.reason) << Describe(r);
        EXPECT_EQ(r.warnings.empty() ? std::nullopt : std::optional(r.warnings[0].reason),
                  c.warning);
        EXPECT_EQ(Take(), c.expected.value_or(c.state));
    }
    // A folder under the journal's name is no journal: reported, left alone.
    Restore(restored);
    ASSERT_TRUE(QDir().mkdir(journal));
    const kbx::Result r = kbx::ReadArchive(archive, dir);
    EXPECT_EQ(std::tuple(r.ok(), r.warnings.size(), r.warnings.at(0).reason),
              std::tuple(true, size_t(1), Reason::ForeignJournal));
    EXPECT_TRUE(QDir().rmdir(journal));
}

// A reader waits while an edit in place overwrites the directory, and an
// edit waits to overwrite while a reader reads; then each goes on whole. A
// journal whose edit died is the reader's to roll back first, another
// file's is not.
TEST_F(InPlace, ReadersReadBetweenEdits) {
    const std::function<void(int*)> holders[] = {
        [&](int* fd) {
            int err = 0;
            *fd = ::open(QFile::encodeName(archive), O_RDWR | O_CLOEXEC);
            ASSERT_TRUE(kbx::LockForWriting(*fd, nullptr, &err));
        },
        [&](int* fd) {
            kbx::io::Fd reading;
            ASSERT_EQ(kbx::OpenForReading(archive, reading, nullptr).reason, kbx::Reason::None);
            *fd = reading.release();
        }};
    for (int row = 0; row < 2; ++row) {
        Reset();
        int fd = -1;
        holders[row](&fd);
        std::atomic<bool> done = false;
        kbx::Directory read;
        std::thread other([&] {
            EXPECT_TRUE(row == 0 ? kbx::ReadArchive(archive, read).ok()
                                 : kbx::EditInPlace(dir, {Edit::Remove(0)}).ok());
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(done) << row;
        ::close(fd);
        other.join();
        EXPECT_EQ(read.Count(), row == 0 ? dir.Count() : 0) << row;
    }
    Reset();

    const QString other = Put("other.kbx", ReadFile(archive));
    kbx::Directory otherDir;
    ASSERT_TRUE(kbx::ReadArchive(other, otherDir).ok());
    ASSERT_TRUE(kbx::EditInPlace(otherDir, {Edit::Remove(0)}).ok());
    ASSERT_TRUE(kbx::EditInPlace(dir, {Edit::Remove(0)}).ok());
    const QByteArray own = ReadFile(undo), foreign = ReadFile(other + QStringLiteral("-undo"));
    for (const auto& [journalBytes, orphaned] : {std::pair(own, true), std::pair(foreign, false)}) {
        Reset();
        ASSERT_TRUE(WriteFile(journal, journalBytes));
        const kbx::io::Fd reading(::open(QFile::encodeName(archive), O_RDONLY | O_CLOEXEC));
        EXPECT_EQ(kbx::journal::Orphaned(archive, reading.get()), orphaned);
    }
}

}  // namespace
