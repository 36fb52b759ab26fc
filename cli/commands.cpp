#include "cli/commands.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <future>
#include <optional>

#include "archive/archive.h"
#include "archive/compare.h"
#include "archive/edit_check.h"
#include "archive/edit_lock.h"
#include "archive/file_io.h"
#include "archive/journal.h"
#include "archive/pattern.h"
#include "archive/rewrite.h"
#include "archive/verify.h"
#include "cli/console.h"
#include "cli/failure_text.h"
#include "cli/listing.h"
#include "cli/text.h"

namespace cli {

namespace {

// A path the engine can take: its text, which converts back to exactly the
// bytes given. Reported and refused (nothing is written) otherwise.
std::optional<QString> EnginePath(const QByteArray& raw) {
    const QString text = QFile::decodeName(raw);
    if (QFile::encodeName(text) == raw && !raw.isEmpty()) return text;
    Io().Error(Kbx::tr("%1: cannot use this path: it is not valid text in the system's encoding")
                   .arg(QuoteBytes(raw)));
    return std::nullopt;
}

QString Shown(const QString& path) {
    return Quote(path);
}

// The folder entries are written into (-C): created when missing, with the
// reason of the step that failed; named for the engine by its own text, or,
// when its bytes are not valid text, through the open descriptor.
class TargetFolder {
  public:
    bool Open(const QByteArray& raw) {
        raw_ = raw;
        for (qsizetype slash = raw.indexOf('/', 1);; slash = raw.indexOf('/', slash + 1)) {
            const QByteArray prefix = slash < 0 ? raw : raw.left(slash);
            if (::mkdir(prefix.constData(), 0777) != 0 && errno != EEXIST) {
                Io().Error(Kbx::tr("%1: cannot create folder: %2")
                               .arg(QuoteBytes(prefix), ErrorText(errno)));
                return false;
            }
            if (slash < 0) break;
        }
        fd_ = kbx::io::Fd(::open(raw.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd_) {
            Io().Error(
                Kbx::tr("%1: cannot open folder: %2").arg(QuoteBytes(raw), ErrorText(errno)));
            return false;
        }
        const QString text = QFile::decodeName(raw);
        path_ = QFile::encodeName(text) == raw ? text
                                               : QStringLiteral("/proc/self/fd/%1").arg(fd_.get());
        return true;
    }
    const QString& path() const { return path_; }
    QString Shown() const { return QuoteBytes(raw_); }

  private:
    QByteArray raw_;
    QString path_;
    kbx::io::Fd fd_;  // keeps the folder that path_ may name through /proc
};

// How the paths an operation gave the engine are shown: a failure about one
// of them (or about something beneath a folder) names it as the user typed
// it; any other subject (an entry) is named after `context`.
struct Subjects {
    QString context;  // shown before an entry's name, and for failures without a subject
    std::vector<std::pair<QString, QString>> paths;  // engine path -> as shown

    QString Line(const kbx::Failure& f) const {
        const QString reason = ReasonText(f);
        if (f.subject.isEmpty()) return context + QStringLiteral(": ") + reason;
        for (const auto& [engine, shown] : paths) {
            // The archive's journal and undo record are named after it.
            const QStringView rest = QStringView(f.subject).mid(engine.size());
            if (f.subject == engine ||
                (f.subject.startsWith(engine) &&
                 (rest.startsWith(u'/') || rest == u"-journal" || rest == u"-undo")))
                return shown + Quote(f.subject.mid(engine.size())) + QStringLiteral(": ") + reason;
        }
        return context + QStringLiteral(": ") + Quote(f.subject) + QStringLiteral(": ") + reason;
    }
};

// Reports the warnings of opening the archive at `path` (an interrupted edit
// rolled back, a journal left alone) and why it cannot be used; true when it
// can.
bool Loaded(const kbx::Result& r, const QString& path) {
    const Subjects subjects{Shown(path), {{path, Shown(path)}}};
    for (const kbx::Failure& w : r.warnings) Io().Error(subjects.Line(w));
    if (r.outcome == kbx::Outcome::Stopped) return false;
    if (!r.ok()) Io().Error(subjects.Line(r.failure));
    return r.ok();
}

// Loads the archive at `raw`, or reports why it cannot be used. Returns the
// path as the engine took it.
std::optional<QString> Load(const QByteArray& raw, kbx::Directory& dir) {
    std::optional<QString> path = EnginePath(raw);
    if (!path) return std::nullopt;
    const kbx::Result r = kbx::ReadArchive(*path, dir, {}, &Stop());
    if (!Loaded(r, *path)) return std::nullopt;
    return path;
}

// What the arguments of a command select: each is an entry's name or a
// pattern (see kbx::MatchArguments).
struct Selection {
    std::vector<QByteArray> texts;
    std::vector<kbx::ArgumentMatch> matches;

    Selection(const kbx::Directory& dir, std::vector<QByteArray> arguments)
        : texts(std::move(arguments)) {
        std::vector<QString> typed;
        typed.reserve(texts.size());
        for (const QByteArray& t : texts) typed.push_back(QString::fromUtf8(t));
        matches = kbx::MatchArguments(dir, typed);
    }
    bool Empty() const { return texts.empty(); }
    // For each of `count` entries, whether any argument selects it.
    std::vector<char> Marks(qint64 count) const {
        std::vector<char> marked(size_t(count), 0);
        for (const kbx::ArgumentMatch& m : matches)
            for (qint64 i : m.entries) marked[size_t(i)] = 1;
        return marked;
    }
    // Every entry any argument selects, each once, in directory order.
    std::vector<qint64> Indexes(qint64 count) const {
        const std::vector<char> marked = Marks(count);
        std::vector<qint64> indexes;
        for (qint64 i = 0; i < count; ++i)
            if (marked[size_t(i)]) indexes.push_back(i);
        return indexes;
    }
    // Reports the arguments that selected nothing; true when there were some.
    bool ReportUnused(const QString& archive) const {
        bool missing = false;
        for (size_t k = 0; k < texts.size(); ++k) {
            if (!matches[k].entries.empty()) continue;
            Io().Error(Kbx::tr("%1: %2: no matching entry").arg(archive, QuoteBytes(texts[k])));
            missing = true;
        }
        return missing;
    }
    // Reports the names that stand for several entries, none of them in the
    // letter case typed; an edit must not guess which one is meant. True
    // when there were some.
    bool ReportAmbiguous(const QString& archive, const kbx::Directory& dir) const {
        bool ambiguous = false;
        for (size_t k = 0; k < texts.size(); ++k) {
            if (!matches[k].byName || matches[k].entries.size() < 2) continue;
            QStringList names;
            for (qint64 i : matches[k].entries) names << Quote(dir.Name(i));
            Io().Error(Kbx::tr("%1: %2: names several entries: %3")
                           .arg(archive, QuoteBytes(texts[k]), names.join(QStringLiteral(", "))));
            ambiguous = true;
        }
        return ambiguous;
    }
};

QString Bytes(qint64 n) {
    const QLocale locale = Russian() ? QLocale(QLocale::Russian) : QLocale::c();
    if (n < 1024) return Kbx::tr("%1 B").arg(n);
    if (n < (1 << 20)) return Kbx::tr("%1 KiB").arg(locale.toString(double(n) / 1024, 'f', 1));
    return Kbx::tr("%1 MiB").arg(locale.toString(double(n) / (1 << 20), 'f', 1));
}

QString Seconds(qint64 ms) {
    const QLocale locale = Russian() ? QLocale(QLocale::Russian) : QLocale::c();
    return locale.toString(double(ms) / 1000, 'f', 3);
}

// The progress line of a command that goes entry by entry.
QString EntriesLine(const QString& what, qint64 done, qint64 entries, qint64 doneBytes,
                    qint64 bytes) {
    return Kbx::tr("%1: %2/%n entries, %3/%4", nullptr, Plural(entries))
        .arg(what)
        .arg(done)
        .arg(Bytes(doneBytes), Bytes(bytes));
}

// The progress of an edit, in bytes copied; none when no line is drawn.
kbx::CopyProgress CopyLine(const QString& what) {
    if (!Io().ShowsProgress()) return {};
    return [what](qint64 copied, qint64 total) {
        Io().Progress(Kbx::tr("%1: %2/%3").arg(what, Bytes(copied), Bytes(total)));
    };
}

// Progress in entries and bytes, and -v's line per entry, from the engine's
// hook (called before each entry).
class Watcher {
  public:
    Watcher(const kbx::Directory& dir, QString what, qint64 entries, qint64 bytes, bool verbose)
        : dir_(dir), what_(std::move(what)), entries_(entries), bytes_(bytes), verbose_(verbose) {}
    // Entries' bytes on stdout may share the terminal: no progress line then.
    void NoProgress() { progress_ = false; }

    void operator()(qint64 index) {
        if (index < 0 || index >= dir_.Count()) return;
        if (verbose_) Io().Verbose(Quote(dir_.Name(index)));
        if (progress_) Io().Progress(EntriesLine(what_, done_, entries_, doneBytes_, bytes_));
        ++done_;
        doneBytes_ += dir_.EntrySize[size_t(index)];
    }

  private:
    const kbx::Directory& dir_;
    QString what_;
    qint64 entries_, bytes_;
    bool verbose_;
    bool progress_ = true;
    qint64 done_ = 0, doneBytes_ = 0;
};

// Reports the engine's result; returns the exit code.
int Finish(const kbx::Result& r, const Subjects& subjects) {
    Io().EraseProgress();
    for (const kbx::Failure& w : r.warnings) Io().Error(subjects.Line(w));
    if (r.outcome == kbx::Outcome::Stopped) return kFailed;
    if (r.outcome == kbx::Outcome::Unusable) {
        Io().Error(subjects.Line(r.failure));
        return kUnusable;
    }
    for (const kbx::Failure& f : r.failures) Io().Error(subjects.Line(f));
    return r.failures.empty() ? kOk : kFailed;
}

void ReportTime(const QString& what, qint64 entries, qint64 bytes, const kbx::Stopwatch& clock) {
    Io().Verbose(Kbx::tr("%1: %n entries, %2 in %3 s", nullptr, Plural(entries))
                     .arg(what, Bytes(bytes), Seconds(clock.ElapsedMs())));
}

kbx::Overwrite Policy(const ParsedArgs& args) {
    if (args.Has("keep-old-files")) return kbx::Overwrite::Keep;
    if (args.Has("skip-old-files")) return kbx::Overwrite::Skip;
    return kbx::Overwrite::Replace;
}

std::vector<QByteArray> Rest(const ParsedArgs& args, size_t from) {
    return {args.operands.begin() + qsizetype(from), args.operands.end()};
}

}  // namespace

namespace {
// Constant-initialised: the signal handlers may touch it at any moment.
kbx::StopFlag g_stop;
// Set once an edit or a pack has published its archive: a signal after that
// point changes nothing, and the run reports its success.
bool g_published = false;
}  // namespace

kbx::StopFlag& Stop() {
    return g_stop;
}

bool ReadNames(const QByteArray& path, bool nul, std::vector<QByteArray>& names) {
    kbx::io::Fd owned;
    int fd = STDIN_FILENO;
    if (path != "-") {
        owned = kbx::io::Fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        fd = owned.get();
    }
    QByteArray text;
    char buf[65536];
    for (ssize_t n = fd < 0 ? -1 : 0;;) {
        n = fd < 0 ? -1 : ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Io().Error(QuoteBytes(path) + QStringLiteral(": ") + ErrorText(errno));
            return false;
        }
        if (n == 0) break;
        text.append(buf, n);
    }
    const char end = nul ? '\0' : '\n';
    for (qsizetype from = 0; from < text.size();) {
        qsizetype to = text.indexOf(end, from);
        if (to < 0) to = text.size();
        names.push_back(text.mid(from, to - from));
        from = to + 1;
    }
    return true;
}

int List(const ParsedArgs& args) {
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    const Selection selection(dir, Rest(args, 1));
    const std::vector<char> marked =
        selection.Empty() ? std::vector<char>() : selection.Marks(dir.Count());
    const auto selected = [&](qint64 i) { return selection.Empty() || marked[size_t(i)]; };
    WriteList([](QByteArrayView bytes) { Io().Out(bytes); }, *path, dir, args.Has("json"), selected,
              [] { return Io().Ok() && !Stop().requested; });
    return selection.ReportUnused(Shown(*path)) ? kFailed : kOk;
}

int Verify(const ParsedArgs& args) {
    const std::optional<QString> path = EnginePath(args.operands[0]);
    if (!path) return kUnusable;
    qint64 problems = 0;
    const kbx::Result r = WriteVerify([](QByteArrayView bytes) { Io().Out(bytes); }, *path,
                                      args.Has("json"), args.Has("verbose"), &problems, &Stop());
    if (!Loaded(r, *path)) return kUnusable;
    return problems == 0 ? kOk : kFailed;
}

int Extract(const ParsedArgs& args) {
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    const Selection selection(dir, Rest(args, 1));
    const std::vector<qint64> indexes = selection.Indexes(dir.Count());
    const bool missing = selection.ReportUnused(Shown(*path));
    if (indexes.empty()) return kFailed;
    qint64 bytes = 0;
    for (qint64 i : indexes) bytes += dir.EntrySize[size_t(i)];
    const bool verbose = args.Has("verbose");
    const kbx::Stopwatch clock;
    Watcher watch(dir, Kbx::tr("extract"), qint64(indexes.size()), bytes, verbose);
    int code = kOk;
    if (args.Has("to-stdout")) {
        Io().SetVerboseToStderr(true);
        watch.NoProgress();
        const kbx::Result r =
            kbx::WriteEntries(dir, indexes, STDOUT_FILENO, std::ref(watch), &Stop());
        if (r.outcome == kbx::Outcome::Unusable && r.failure.reason == kbx::Reason::WriteFailed) {
            Io().Error(
                Kbx::tr("cannot write to standard output: %1").arg(ErrorText(r.failure.error)));
            return kUnusable;
        }
        code = Finish(r, {Shown(*path), {{*path, Shown(*path)}}});
    } else {
        TargetFolder folder;
        if (!folder.Open(args.Has("directory") ? args.Value("directory") : QByteArray(".")))
            return kUnusable;
        code = Finish(kbx::ExtractEntries(dir, indexes, folder.path(), std::ref(watch), &Stop(),
                                          Policy(args)),
                      {Shown(*path), {{*path, Shown(*path)}, {folder.path(), folder.Shown()}}});
    }
    if (code == kOk && verbose)
        ReportTime(Kbx::tr("extract"), qint64(indexes.size()), bytes, clock);
    return code == kOk && missing ? kFailed : code;
}

int Unpack(const ParsedArgs& args) {
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    TargetFolder folder;
    if (!folder.Open(args.Has("directory") ? args.Value("directory") : QByteArray(".")))
        return kUnusable;
    qint64 bytes = 0;
    for (qint64 i = 0; i < dir.Count(); ++i) bytes += dir.EntrySize[size_t(i)];
    const bool verbose = args.Has("verbose");
    const kbx::Stopwatch clock;
    Watcher watch(dir, Kbx::tr("unpack"), dir.Count(), bytes, verbose);
    const int code =
        Finish(kbx::UnpackAll(dir, folder.path(), std::ref(watch), &Stop(), Policy(args)),
               {Shown(*path), {{*path, Shown(*path)}, {folder.path(), folder.Shown()}}});
    if (code == kOk && verbose) ReportTime(Kbx::tr("unpack"), dir.Count(), bytes, clock);
    return code;
}

// Where the stamps of trees' files are kept (see archive/stamps.h): a cache,
// whose loss only costs an update its speed. Empty where the user has none.
namespace {
QString StampFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/quillmere/stamps");
}
}  // namespace

int Pack(const ParsedArgs& args) {
    const auto root = EnginePath(args.operands[0]);
    if (!root) return kUnusable;
    const auto archive = EnginePath(args.Value("output"));
    if (!archive) return kUnusable;
    // A dry run names what a pack would hold, as -v does, and writes nothing.
    const bool dry = args.Has("dry-run"), verbose = args.Has("verbose") || dry;
    const kbx::Stopwatch clock;
    qint64 bytes = 0;
    qint64 doneBytes = 0;
    // A hook makes pack measure every file before copying it, one status
    // call more per file: only when its names or bytes are shown.
    kbx::PackProgress hook;
    if (verbose || Io().ShowsProgress())
        hook = [&](const kbx::PackStep& step) {
            if (verbose) Io().Verbose(Quote(step.entry));
            if (!dry)
                Io().Progress(EntriesLine(Kbx::tr("pack"), step.index, step.count, doneBytes,
                                          step.totalSize));
            doneBytes += step.size;
            bytes = step.totalSize;
        };
    const QString stampFolder = StampFolder();
    kbx::TreeStamps stamps;
    const kbx::Result r =
        kbx::Pack(*root, *archive, hook, &Stop(),
                  args.Has("recursive") ? kbx::SubFolders::Packed : kbx::SubFolders::Reported, dry,
                  stampFolder.isEmpty() ? nullptr : &stamps);
    g_published = r.outcome == kbx::Outcome::Ok && !dry;
    if (g_published) kbx::SaveStamps(stampFolder, stamps, stamps.archive);
    const int code =
        Finish(r, {Shown(*root), {{*root, Shown(*root)}, {*archive, Shown(*archive)}}});
    if (code == kOk && verbose && !dry) ReportTime(Kbx::tr("pack"), r.done, bytes, clock);
    // The archive is published but lacks files of the tree: never a success.
    for (const kbx::Failure& w : r.warnings) {
        if (code == kOk &&
            (w.reason == kbx::Reason::FolderLeftOut || w.reason == kbx::Reason::FolderLinkLeftOut))
            return kFailed;
    }
    return code;
}

int Diff(const ParsedArgs& args) {
    kbx::Contents sides[2];
    QString paths[2];
    for (int k = 0; k < 2; ++k) {
        const std::optional<QString> path = EnginePath(args.operands[size_t(k)]);
        if (!path) return kUnusable;
        paths[k] = *path;
        const kbx::Result r = sides[k].Open(*path, &Stop());
        if (r.outcome == kbx::Outcome::Stopped) return kFailed;
        if (!r.ok()) {
            Io().Error(Shown(*path) + QStringLiteral(": ") + ReasonText(r.failure));
            return kUnusable;
        }
    }
    const bool json = args.Has("json");
    QByteArray out;
    if (json) {
        out = "{\"a\":";
        AppendJsonString(out, paths[0]);
        out += ",\"b\":";
        AppendJsonString(out, paths[1]);
        out += ",\"changes\":[";
    }
    qint64 changes = 0;
    const auto flush = [&](qsizetype atLeast) {
        if (out.size() < atLeast) return;
        Io().Out(out);
        out.clear();
    };
    const kbx::Result r = kbx::Compare(
        sides[0], sides[1],
        [&](kbx::Change change, qint64 a, qint64 b) {
            const char mark = change == kbx::Change::Modified ? 'M'
                              : change == kbx::Change::Added  ? '+'
                                                              : '-';
            const QString name = a >= 0 ? sides[0].name(a) : sides[1].name(b);
            if (json) {
                if (changes > 0) out += ',';
                out += "{\"change\":\"";
                out += mark;
                out += "\",\"name\":";
                AppendJsonString(out, name);
                out += '}';
            } else {
                out += mark;
                out += ' ';
                out += Quote(name).toUtf8();
                out += '\n';
            }
            ++changes;
            flush(1 << 20);
            return Io().Ok();
        },
        &Stop());
    if (json && r.ok()) out += "]}\n";
    flush(0);
    if (r.outcome == kbx::Outcome::Stopped) return kFailed;
    if (!r.ok()) {
        Io().Error(Subjects{Shown(paths[0]), {}}.Line(r.failure));
        return kUnusable;
    }
    return changes == 0 ? kOk : kFailed;
}

namespace {

// An edit of the archive at `raw`: its editor lock, then its directory,
// loaded under the lock so that an earlier editor's result is what is
// edited. The lock is held until the edit is over.
struct EditRun {
    kbx::EditLock lock;
    kbx::Directory dir;
    QString path;
    kbx::FileIdentity written;  // after Run's edit: the archive as it left it

    // Returns 0 when loaded, or the exit code.
    int Open(const ParsedArgs& args) {
        if (const int code = Lock(args)) return code;
        return Load(args.operands[0], dir) ? 0 : kUnusable;
    }

    // Takes the editor lock only; returns 0 or the exit code.
    int Lock(const ParsedArgs& args) {
        const std::optional<QString> typed = EnginePath(args.operands[0]);
        if (!typed) return kUnusable;
        path = *typed;
        const kbx::Result locked = lock.Acquire(
            path, !args.Has("no-wait"),
            [&] {
                Io().Error(Kbx::tr("%1: waiting for another process editing this archive")
                               .arg(Shown(path)));
            },
            &Stop());
        if (locked.outcome == kbx::Outcome::Stopped) return kFailed;
        if (!locked.ok()) {
            Io().Error(Shown(path) + QStringLiteral(": ") + ReasonText(locked.failure));
            return kUnusable;
        }
        return 0;
    }

    // Runs the edits: in place with --in-place, otherwise by a new archive
    // that replaces the old one only when it is complete. A failure about
    // one of `files` (engine path -> as typed) names it. A new archive takes
    // `refresh` (see kbx::Rewrite), whose replacements `refreshed` learns;
    // they are shown before `edits`.
    int Run(const ParsedArgs& args, const std::vector<kbx::Edit>& edits, const QString& what,
            const std::vector<std::pair<QString, QString>>& files = {},
            const kbx::Refresh& refresh = {}, const std::vector<kbx::Edit>& refreshed = {}) {
        Subjects subjects{Shown(path), {{path, Shown(path)}}};
        subjects.paths.insert(subjects.paths.end(), files.begin(), files.end());
        // The entries an edit changes, by name (a renamed one by its old
        // name and its new): what -v and --dry-run show.
        const auto changed = [&] {
            for (const kbx::Edit& e : refreshed) Io().Verbose(Quote(dir.Name(e.index)));
            for (const kbx::Edit& e : edits) {
                if (e.kind == kbx::Edit::Kind::Rename)
                    Io().Verbose(Quote(dir.Name(e.index)) + QStringLiteral(" -> ") +
                                 Quote(kbx::TypedName(e.name)));
                else
                    Io().Verbose(Quote(e.kind == kbx::Edit::Kind::Add ? kbx::TypedName(e.name)
                                                                      : dir.Name(e.index)));
            }
        };
        if (args.Has("dry-run")) {
            // Every check an edit makes before it writes, and nothing written.
            kbx::CheckedEdits checked;
            if (kbx::Failure f = kbx::CheckAll(dir, edits, checked); f.reason != kbx::Reason::None)
                return Finish(kbx::Result::Unusable(std::move(f)), subjects);
            for (const kbx::Edit& e : edits) {
                kbx::io::Fd fd;
                struct stat st {};
                if (!e.TakesFile()) continue;
                if (kbx::Failure f = kbx::OpenSource(e.file, &fd, &st);
                    f.reason != kbx::Reason::None) {
                    f.subject = e.file;
                    return Finish(kbx::Result::Unusable(std::move(f)), subjects);
                }
            }
            changed();
            return kOk;
        }
        const kbx::Stopwatch clock;
        const kbx::CopyProgress progress = CopyLine(what);
        const kbx::Result r = args.Has("in-place")
                                  ? kbx::EditInPlace(dir, edits, progress, &Stop())
                                  : kbx::Rewrite(dir, edits, progress, &Stop(), refresh);
        g_published = r.outcome == kbx::Outcome::Ok;
        written = r.outcome == kbx::Outcome::NothingDone ? dir.Identity : r.written;
        const int code = Finish(r, subjects);
        if (g_published && args.Has("verbose")) {
            changed();
            ReportTime(what, qint64(refreshed.size() + edits.size()), r.bytes, clock);
        }
        return code;
    }
};

// replace, add and rename: NAME FILE (rename: OLD NEW) pairs, turned into
// edits of `kind`. Replace and rename take an entry's name first, add and
// replace a file second.
int EditPairs(const ParsedArgs& args, kbx::Edit::Kind kind, const QString& command) {
    using Kind = kbx::Edit::Kind;
    EditRun edit;
    if (const int code = edit.Open(args)) return code;
    std::vector<QByteArray> names;
    std::vector<QString> seconds;  // files, or new names
    std::vector<std::pair<QString, QString>> shown;
    for (size_t k = 1; k + 1 < args.operands.size(); k += 2) {
        names.push_back(args.operands[k]);
        if (kind == Kind::Rename) {
            seconds.push_back(QString::fromUtf8(args.operands[k + 1]));
            continue;
        }
        const auto file = EnginePath(args.operands[k + 1]);
        if (!file) return kUnusable;
        seconds.push_back(*file);
        shown.emplace_back(*file, QuoteBytes(args.operands[k + 1]));
    }
    std::optional<Selection> selection;
    if (kind != Kind::Add) {
        selection.emplace(edit.dir, names);
        for (size_t k = 0; k < names.size(); ++k) {
            if (selection->matches[k].byName) continue;
            Io().Error(
                Kbx::tr("%1: %2: no such entry").arg(Shown(edit.path), QuoteBytes(names[k])));
            return kFailed;
        }
        if (selection->ReportAmbiguous(Shown(edit.path), edit.dir)) return kUnusable;
    }
    std::vector<kbx::Edit> edits;
    for (size_t k = 0; k < names.size(); ++k) {
        if (kind == Kind::Add) {
            edits.push_back(kbx::Edit::Add(QString::fromUtf8(names[k]), seconds[k]));
            continue;
        }
        const qint64 index = selection->matches[k].entries.front();
        edits.push_back(kind == Kind::Replace ? kbx::Edit::Replace(index, seconds[k])
                                              : kbx::Edit::Rename(index, seconds[k]));
    }
    return edit.Run(args, edits, command, shown);
}

}  // namespace

bool Published() {
    return g_published;
}

int Replace(const ParsedArgs& args) {
    return EditPairs(args, kbx::Edit::Kind::Replace, Kbx::tr("replace"));
}

int Add(const ParsedArgs& args) {
    return EditPairs(args, kbx::Edit::Kind::Add, Kbx::tr("add"));
}

int Rename(const ParsedArgs& args) {
    return EditPairs(args, kbx::Edit::Kind::Rename, Kbx::tr("rename"));
}

int Compact(const ParsedArgs& args) {
    EditRun edit;
    if (const int code = edit.Open(args)) return code;
    const kbx::Stopwatch clock;
    const kbx::Result r = kbx::Compact(edit.dir, CopyLine(Kbx::tr("compact")), &Stop());
    g_published = r.outcome == kbx::Outcome::Ok;
    const int code = Finish(r, {Shown(edit.path), {{edit.path, Shown(edit.path)}}});
    if (code == kOk && args.Has("verbose")) ReportTime(Kbx::tr("compact"), r.done, r.bytes, clock);
    return code;
}

int Undo(const ParsedArgs& args) {
    EditRun edit;
    if (const int code = edit.Lock(args)) return code;
    if (!Loaded(kbx::Recover(edit.path), edit.path)) return kUnusable;
    const kbx::Result r = kbx::Undo(edit.path);
    g_published = r.outcome == kbx::Outcome::Ok;
    return Finish(r, {Shown(edit.path), {{edit.path, Shown(edit.path)}}});
}

int Update(const ParsedArgs& args) {
    EditRun edit;
    if (const int code = edit.Lock(args)) return code;
    const std::optional<QString> root = EnginePath(args.operands[1]);
    if (!root) return kUnusable;
    // The tree is listed while the archive loads: both mostly wait on the
    // system, and on a large tree each takes about as long.
    kbx::Contents archive, tree;
    std::future<kbx::Result> listed =
        std::async(std::launch::async, [&] { return tree.Open(*root, &Stop()); });
    if (!Load(args.operands[0], edit.dir)) return kUnusable;
    kbx::Result r = archive.Open(edit.dir);
    if (kbx::Result walked = listed.get(); r.ok()) r = std::move(walked);
    if (r.ok() && !tree.isTree())
        r = kbx::Result::Unusable({kbx::Reason::NoTree, 0, {}, -1, *root});
    const Subjects subjects{Shown(edit.path),
                            {{edit.path, Shown(edit.path)}, {*root, QuoteBytes(args.operands[1])}}};
    if (!r.ok()) return Finish(r, subjects);
    // What differs becomes the edits: a file whose bytes differ replaces its
    // entry, a file without one is added, entries without a file stay.
    kbx::Pairing pairs(archive, tree);
    std::vector<kbx::Edit> edits, replaced;
    for (qint64 j : pairs.Unmatched())
        edits.push_back(kbx::Edit::Add(tree.name(j), tree.FilePath(j)));
    // Files whose stamps show them unchanged since they last held their
    // entries' bytes are not read; the others' stamps are learned. Stamps
    // begin with a pack of the tree: learning every file's costs a first
    // update more than it would save it.
    const QString stampFolder = StampFolder();
    kbx::TreeStamps stamps;
    const bool stamping = !stampFolder.isEmpty() && tree.Stampable(stamps) &&
                          kbx::LoadStamps(stampFolder, edit.dir.Identity, archive.count(),
                                          stamps.device, stamps.inode, stamps.mount, stamps);
    if (stamping) pairs.UseStamps(stamps);
    // The comparison runs on threads of its own, ahead of the copy. A new
    // archive compares while it copies, and is not begun while nothing
    // differs. An edit in place, or a dry run, needs every edit first.
    const bool copying = !args.Has("in-place") && !args.Has("dry-run");
    auto ahead = std::make_unique<kbx::DiffersAhead>(pairs, archive.count(),
                                                     kbx::DiffersAhead::DefaultThreads(copying));
    const auto refresh = [&](qint64 i, QString* file) -> kbx::Failure {
        bool differs = false;
        if (kbx::Failure f = ahead->Differs(i, &differs); f.reason != kbx::Reason::None) return f;
        if (!differs) return {};
        *file = tree.FilePath(pairs.Match(i));
        replaced.push_back(kbx::Edit::Replace(i, *file));
        replaced.back().size = tree.KnownSize(pairs.Match(i));  // measured as it differed
        return {};
    };
    int code = kOk;
    if (copying) {
        code = edit.Run(args, edits, Kbx::tr("update"), subjects.paths, refresh, replaced);
    } else {
        for (qint64 i = 0; i < archive.count(); ++i) {
            if (Stop().requested) return Finish(kbx::Result::Stopped(), subjects);
            QString unused;
            if (kbx::Failure f = refresh(i, &unused); f.reason != kbx::Reason::None)
                return Finish(kbx::Result::Unusable(std::move(f)), subjects);
        }
        replaced.insert(replaced.end(), edits.begin(), edits.end());
        edit.written = edit.dir.Identity;  // nothing differs: the archive is not touched
        if (!replaced.empty()) code = edit.Run(args, replaced, Kbx::tr("update"), subjects.paths);
    }
    ahead.reset();  // every stamp is learned
    if (code != kOk || !stamping) return code;
    // The files alike, and those whose bytes their entries now hold (none
    // after a dry run); added files are learned the next time, when they are
    // compared.
    std::vector<kbx::FileStamp> seen = pairs.TakeStamps();
    for (const kbx::Edit& e : replaced)
        if (e.kind == kbx::Edit::Kind::Replace && !g_published) seen[size_t(e.index)] = {};
    seen.resize(size_t(archive.count()) + (g_published ? edits.size() : 0));
    const kbx::FileIdentity before = stamps.archive;
    stamps.archive = edit.written;
    stamps.entries = std::move(seen);
    kbx::SaveStamps(stampFolder, stamps, before);
    return code;
}

int Remove(const ParsedArgs& args) {
    EditRun edit;
    if (const int code = edit.Open(args)) return code;
    const Selection selection(edit.dir, Rest(args, 1));
    // A pattern that matches nothing is likely a typing error, and a name
    // that stands for several entries a guess: nothing is removed then.
    if (selection.ReportUnused(Shown(edit.path))) return kFailed;
    if (selection.ReportAmbiguous(Shown(edit.path), edit.dir)) return kUnusable;
    std::vector<kbx::Edit> edits;
    for (qint64 index : selection.Indexes(edit.dir.Count()))
        edits.push_back(kbx::Edit::Remove(index));
    return edit.Run(args, edits, Kbx::tr("remove"));
}

}  // namespace cli
