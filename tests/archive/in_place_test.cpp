// Edits in place: a crash at every step of an edit or an undo, or a torn
// write, leaves after recovery the archive as it was or as edited, byte for
// byte; journals that must not be applied are left alone; undo refuses an
// archive that changed.

#include <gtest/gtest.h>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <functional>
#include <optional>

#include "archive/archive.h"
#include "archive/file_io.h"
#include "archive/journal.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "test_util.h"

using namespace testutil;
using kbx::Edit;
using kbx::Reason;
using kbx::io::Op;

namespace {

// The archive and its journal and undo record, as a crash leaves them.
struct State {
    QByteArray archive;
    std::optional<QByteArray> journal, undo;
};

std::pair<quint64, quint64> Inode(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path), &st);
    return {st.st_dev, st.st_ino};
}

class InPlace : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        archive = tmp.filePath(QStringLiteral("game.kbx"));
        journal = archive + QStringLiteral("-journal");
        undo = archive + QStringLiteral("-undo");
    }
    void TearDown() override { kbx::io::ResetFaults(); }
    QString File(const char* name, const QByteArray& bytes) {
        const QString path = tmp.filePath(QString::fromUtf8(name));
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    // The base archive, written into the same file each time, loaded.
    void Reset() {
        QFile::remove(journal);
        QFile::remove(undo);
        ASSERT_TRUE(WriteFile(archive, BuildArchive(base)));
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
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
            if (bytes) {
                ASSERT_TRUE(WriteFile(path, *bytes));
            }
        }
    }
    // Every state must recover to `before` or `after`, leaving no journal.
    void ExpectRecovers(const std::vector<State>& states, const QByteArray& before,
                        const QByteArray& after) {
        for (size_t k = 0; k < states.size(); ++k) {
            SCOPED_TRACE("state " + std::to_string(k));
            Restore(states[k]);
            const kbx::Result r = kbx::Recover(archive);
            ASSERT_TRUE(r.ok()) << Describe(r);
            const QByteArray now = ReadFile(archive);
            EXPECT_TRUE(now == before || now == after);
            EXPECT_FALSE(QFileInfo::exists(journal));
        }
    }
    // Runs `op` with a state taken before every call that changes a file
    // (the call itself not yet made: a crash there), and the last state.
    // Checks the order of flushes on the way: no byte of the archive
    // changes before the files `first` are flushed, and the journal is
    // retired only after the archive's last change was flushed.
    std::vector<State> Crashes(const std::function<void()>& op, const QByteArray& before,
                               const QStringList& first) {
        std::vector<State> states;
        size_t flushedAtChange = 0;
        QByteArray last = before;
        kbx::io::ResetFaults();
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
                    EXPECT_TRUE(last != before || since(0, Inode(path))) << path.toStdString();
                last = s.archive;
                flushedAtChange = flushed.size();
            }
            const bool retired = !s.journal && s.undo && s.archive != before;
            EXPECT_TRUE(!retired || since(flushedAtChange, Inode(archive))) << "unflushed";
        });
        op();
        kbx::io::ResetFaults();
        states.push_back(Take());
        return states;
    }

    testutil::TempDir tmp;
    QString archive, journal, undo;
    kbx::Directory dir;
    std::vector<RawEntry> base = {{"Version\\a.txt", "alpha"},
                                  {"Version\\Data\\b.dat", QByteArray(300, 'b')},
                                  {"Version\\Data\\empty", ""},
                                  {"Version\\c", "c"}};
};

// Replace, add (the directory grows over the first entries' data, which
// move), remove, all at once, and undo of an add: stopped before each write,
// flush, truncation, rename and removal, or with a write torn in half.
TEST_F(InPlace, EveryCrashRecoversToBeforeOrAfter) {
    const QString big = File("big", QByteArray(5000, 'B')), small = File("small", "s");
    const std::vector<Edit> add = {Edit::Add("Version\\n1", small), Edit::Add("Version\\n2", big),
                                   Edit::Add("Version\\n3", small)};
    const struct {
        const char* what;
        std::vector<Edit> edits;
        bool undo = false;  // edit, then crash the undo
    } cases[] = {
        {"replace", {Edit::Replace(1, big)}},
        {"add three", add},
        {"remove two", {Edit::Remove(0), Edit::Remove(2)}},
        {"replace, remove and add", {Edit::Replace(3, small), Edit::Remove(1), add[1]}},
        {"undo of an add", add, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto setup = [&] {
            Reset();
            EXPECT_TRUE(!c.undo || kbx::EditInPlace(dir, c.edits).ok());
        };
        const auto run = [&] {
            const kbx::Result r = c.undo ? kbx::Undo(archive) : kbx::EditInPlace(dir, c.edits);
            return r.ok();
        };
        setup();
        const QByteArray before = ReadFile(archive);
        kbx::io::ResetFaults();
        ASSERT_TRUE(run());
        const QByteArray after = ReadFile(archive);
        EXPECT_NE(before, after);
        EXPECT_TRUE(kbx::IsSound(archive));
        const long writes = kbx::io::Calls(Op::Write);

        setup();
        const QStringList first =
            c.undo ? QStringList{tmp.path()} : QStringList{tmp.path(), journal};
        const std::vector<State> states = Crashes([&] { EXPECT_TRUE(run()); }, before, first);
        EXPECT_EQ(states.back().archive, after);
        ExpectRecovers(states, before, after);
        // A crash during the rollback of the last live state.
        for (auto s = states.rbegin(); s != states.rend(); ++s) {
            if (!s->journal) continue;
            Restore(*s);
            ExpectRecovers(Crashes([&] { kbx::Recover(archive); }, s->archive, {}), before, after);
            break;
        }
        // A torn write fails the edit, which rolls back: the state just after
        // the tear, and the end, recover to the archive before (an undo
        // whose rollback failed is finished by the recovery).
        for (long k = 1; k <= writes; ++k) {
            SCOPED_TRACE("torn write " + std::to_string(k));
            setup();
            std::vector<State> torn;
            kbx::io::ResetFaults();
            kbx::io::TearNthWrite(k);
            kbx::io::SetCallHook([&](Op o, long n) {
                if (torn.empty() && kbx::io::Calls(Op::Write) >= k && !(o == Op::Write && n == k))
                    torn.push_back(Take());
            });
            EXPECT_FALSE(run());
            kbx::io::ResetFaults();
            torn.push_back(Take());
            EXPECT_TRUE(c.undo || torn.back().archive == before);
            ExpectRecovers(torn, before, c.undo ? after : before);
        }
    }
}

// The archive keeps its inode, mode and links; its entries are those a
// whole rewrite gives, and only the changed records are overwritten.
TEST_F(InPlace, SameEntriesAsARewriteSameFile) {
    const QString file = File("f", "new bytes");
    const struct {
        const char* what;
        std::vector<Edit> edits;
        qint64 unused;
    } cases[] = {
        {"replace", {Edit::Replace(1, file)}, 300},
        {"add", {Edit::Add("Version\\x", file)}, 169},  // a and b moved; b's tail left
        {"remove the first", {Edit::Remove(0)}, 5 + 136},
        {"remove the last", {Edit::Remove(3)}, 1 + 136},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        ASSERT_EQ(::chmod(QFile::encodeName(archive), 0640), 0);
        const QString link = tmp.filePath(QStringLiteral("hard.kbx"));
        QFile::remove(link);
        ASSERT_EQ(::link(QFile::encodeName(archive), QFile::encodeName(link)), 0);
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        const auto inode = Inode(archive);
        const QByteArray before = ReadFile(archive);
        ASSERT_TRUE(kbx::EditInPlace(dir, c.edits).ok());
        EXPECT_EQ(Inode(archive), inode);
        EXPECT_EQ(Inode(link), inode);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(archive), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        const QByteArray after = ReadFile(archive);
        if (c.edits[0].kind == Edit::Kind::Replace) {
            // Only entry 1's record changed below the old end.
            for (qsizetype i = 0; i < before.size(); ++i)
                ASSERT_TRUE(before[i] == after[i] || (i - 20) / 136 == 1) << i;
        }
        const auto layout = [&] {
            kbx::Layout l;
            EXPECT_TRUE(kbx::Verify(
                            archive, [](const kbx::Problem&) { return false; }, nullptr, &l)
                            .ok());
            return std::pair(l.unused, l.canonical);
        };
        EXPECT_EQ(layout(), std::pair(c.unused, false));
        kbx::Directory edited;
        ASSERT_TRUE(kbx::ReadArchive(archive, edited).ok());
        ASSERT_TRUE(kbx::Compact(edited).ok());
        EXPECT_EQ(layout(), std::pair(qint64(0), true));
        const QString copy = File("copy.kbx", before);
        ASSERT_TRUE(kbx::ReadArchive(copy, dir).ok());
        ASSERT_TRUE(kbx::Rewrite(dir, c.edits).ok());
        EXPECT_EQ(ReadFile(archive), ReadFile(copy));
    }
}

// Journals that must not be applied, refusals that change nothing, and
// undo only of an unchanged archive.
TEST_F(InPlace, JournalsRefusalsAndUndo) {
    const QString file = File("f", "new");
    Reset();
    const QByteArray before = ReadFile(archive);
    ASSERT_TRUE(kbx::EditInPlace(dir, {Edit::Replace(0, file)}).ok());
    const QByteArray after = ReadFile(archive), record = ReadFile(undo);
    ASSERT_TRUE(kbx::Undo(archive).ok());
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_FALSE(QFileInfo::exists(undo));
    EXPECT_EQ(kbx::Undo(archive).failure.reason, Reason::NothingToUndo);
    // Another archive's journal.
    const QString other = File("other.kbx", before);
    kbx::Directory otherDir;
    ASSERT_TRUE(kbx::ReadArchive(other, otherDir).ok());
    ASSERT_TRUE(kbx::EditInPlace(otherDir, {Edit::Remove(1)}).ok());
    const QByteArray foreign = ReadFile(other + QStringLiteral("-undo"));

    const struct {
        const char* what;
        std::function<void()> setup;
        Reason reason;                       // of Recover, or of Undo when `undoes`
        std::optional<Reason> warning = {};  // of Recover
        bool journalStays = false;
        bool undoes = false;
    } cases[] = {
        {"a live journal: rolled back",
         [&] {
             Restore({after, record, {}});
         },
         Reason::None, Reason::RolledBack},
        {"a torn journal: removed",
         [&] {
             Restore({before, record.left(100), {}});
         },
         Reason::None},
        {"a journal whose saved bytes never reached the disk: removed",
         [&] {
             Restore({before, QByteArray(record).replace(64, 136, QByteArray(136, 0)), {}});
         },
         Reason::None},
        {"a journal of another file: left alone",
         [&] {
             Restore({before, foreign, {}});
         },
         Reason::None, Reason::ForeignJournal, true},
        {"a live journal of a write-protected archive",
         [&] {
             Restore({after, record, {}});
             ::chmod(QFile::encodeName(archive), 0444);
         },
         Reason::CannotRollBack,
         {},
         true},
        {"undo after a later change",
         [&] {
             Restore({after, {}, record});
         },
         Reason::UndoStale,
         {},
         false,
         true},
        {"undo of a write-protected archive",
         [&] {
             Reset();
             ASSERT_TRUE(kbx::EditInPlace(dir, {Edit::Replace(0, file)}).ok());
             ::chmod(QFile::encodeName(archive), 0444);
         },
         Reason::CannotOpenArchive,
         {},
         false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.setup();
        const State was = Take();
        const kbx::Result r = c.undoes ? kbx::Undo(archive) : kbx::Recover(archive);
        ::chmod(QFile::encodeName(archive), 0644);
        EXPECT_EQ(r.failure.reason, c.reason) << Describe(r);
        EXPECT_EQ(r.warnings.empty() ? std::nullopt : std::optional(r.warnings[0].reason),
                  c.warning);
        const State now = Take();
        const bool applied = c.warning == Reason::RolledBack;
        EXPECT_EQ(now.archive, applied ? before : was.archive);
        EXPECT_EQ(now.journal, c.journalStays ? was.journal : std::nullopt);
        EXPECT_EQ(now.undo, was.undo);
    }

    // Edits refused before a byte is written.
    const QString huge = File("huge", {});
    ASSERT_TRUE(QFile::resize(huge, kbx::kMaxArchiveBytes));  // sparse: no disk used
    const struct {
        const char* what;
        std::vector<Edit> edits;
        Reason reason;
        std::function<void()> setup = [] {};
    } refusals[] = {
        {"past the size limit", {Edit::Add("Version\\huge", huge)}, Reason::TooLarge},
        {"write-protected",
         {Edit::Remove(0)},
         Reason::CannotOpenArchive,
         [&] { ::chmod(QFile::encodeName(archive), 0444); }},
        {"another file's journal in the way",
         {Edit::Remove(0)},
         Reason::CannotCreateFile,
         [&] { WriteFile(journal, foreign); }},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.what);
        Reset();
        c.setup();
        ASSERT_TRUE(kbx::ReadArchive(archive, dir).ok());
        const State was = Take();
        kbx::io::ResetFaults();
        const kbx::Result r = kbx::EditInPlace(dir, c.edits);
        ::chmod(QFile::encodeName(archive), 0644);
        EXPECT_EQ(r.failure.reason, c.reason) << Describe(r);
        EXPECT_EQ(kbx::io::Calls(Op::Write), 0);
        const State now = Take();
        EXPECT_EQ(now.archive, was.archive);
        EXPECT_EQ(now.journal, was.journal);
    }
}

}  // namespace
