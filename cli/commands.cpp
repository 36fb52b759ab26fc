#include "cli/commands.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <optional>

#include "archive/archive.h"
#include "archive/pattern.h"
#if __has_include("archive/rewrite.h")
#include "archive/rewrite.h"
#endif
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
        fd_ = ::open(raw.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            Io().Error(
                Kbx::tr("%1: cannot open folder: %2").arg(QuoteBytes(raw), ErrorText(errno)));
            return false;
        }
        const QString text = QFile::decodeName(raw);
        path_ = QFile::encodeName(text) == raw ? text : QStringLiteral("/proc/self/fd/%1").arg(fd_);
        return true;
    }
    ~TargetFolder() {
        if (fd_ >= 0) ::close(fd_);
    }
    const QString& path() const { return path_; }
    QString Shown() const { return QuoteBytes(raw_); }

  private:
    QByteArray raw_;
    QString path_;
    int fd_ = -1;
};

// Loads the archive at `raw`, or reports why it cannot be used. Returns the
// path as the engine took it.
std::optional<QString> Load(const QByteArray& raw, kbx::Directory& dir) {
    std::optional<QString> path = EnginePath(raw);
    if (!path) return std::nullopt;
    const kbx::Result r = kbx::ReadArchive(*path, dir, {}, &Stop());
    if (r.outcome == kbx::Outcome::Stopped) return std::nullopt;
    if (!r.ok()) {
        Io().Error(Shown(*path) + QStringLiteral(": ") + ReasonText(r.failure));
        return std::nullopt;
    }
    return path;
}

// Entries selected by patterns; each pattern that selects nothing is
// reported.
struct Selection {
    std::vector<kbx::NamePattern> patterns;
    std::vector<bool> used;

    explicit Selection(const std::vector<QByteArray>& texts) {
        for (const QByteArray& t : texts) patterns.emplace_back(QString::fromUtf8(t));
        used.assign(texts.size(), false);
    }
    bool Empty() const { return patterns.empty(); }
    bool Selects(QStringView name) {
        bool any = false;
        for (size_t k = 0; k < patterns.size(); ++k) {
            if (patterns[k].Matches(name)) any = used[k] = true;
        }
        return any;
    }
    // Reports the patterns that matched nothing; true when there were some.
    bool ReportUnused(const QString& archive, const std::vector<QByteArray>& texts) const {
        bool missing = false;
        for (size_t k = 0; k < used.size(); ++k) {
            if (used[k]) continue;
            Io().Error(Kbx::tr("%1: %2: no matching entry").arg(archive, QuoteBytes(texts[k])));
            missing = true;
        }
        return missing;
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

// Progress in entries and bytes, and -v's line per entry, from the engine's
// hook (called before each entry).
class Watcher {
  public:
    Watcher(const kbx::Directory& dir, QString what, qint64 entries, qint64 bytes, bool verbose)
        : dir_(dir), what_(std::move(what)), entries_(entries), bytes_(bytes), verbose_(verbose) {}
    // Entries' bytes on stdout may share the terminal: no progress line then.
    void NoProgress() { progress_ = false; }

    void operator()(qint64 index) {
        if (index < 0 || index >= dir_.UpperBound()) return;
        if (verbose_) Io().Verbose(Quote(dir_.Name(index)));
        if (progress_)
            Io().Progress(Kbx::tr("%1: %2/%3 entries, %4/%5")
                              .arg(what_)
                              .arg(done_)
                              .arg(entries_)
                              .arg(Bytes(doneBytes_), Bytes(bytes_)));
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
            if (f.subject == engine ||
                (f.subject.startsWith(engine) && f.subject[engine.size()] == u'/'))
                return shown + Quote(f.subject.mid(engine.size())) + QStringLiteral(": ") + reason;
        }
        return context + QStringLiteral(": ") + Quote(f.subject) + QStringLiteral(": ") + reason;
    }
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
    Io().Verbose(Kbx::tr("%1: %2 entries, %3 in %4 s")
                     .arg(what)
                     .arg(entries)
                     .arg(Bytes(bytes), Seconds(clock.ElapsedMs())));
}

kbx::Overwrite Policy(const ParsedArgs& args) {
    if (args.Has("keep-old-files")) return kbx::Overwrite::Keep;
    if (args.Has("skip-old-files")) return kbx::Overwrite::Skip;
    return kbx::Overwrite::Replace;
}

std::vector<QByteArray> Rest(const ParsedArgs& args, size_t from) {
    return {args.operands.begin() + qsizetype(from), args.operands.end()};
}

// Entries selected by the patterns, in directory order. An index costs 8
// bytes: a million entries stay well inside the memory bound.
std::vector<qint64> Select(const kbx::Directory& dir, Selection& selection) {
    std::vector<qint64> indexes;
    for (qint64 i = 0; i < dir.UpperBound(); ++i) {
        if (selection.Selects(dir.Name(i))) indexes.push_back(i);
    }
    return indexes;
}

}  // namespace

namespace {
// Constant-initialised: the signal handlers may touch it at any moment.
kbx::StopFlag g_stop;
}  // namespace

kbx::StopFlag& Stop() {
    return g_stop;
}

int List(const ParsedArgs& args) {
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    const std::vector<QByteArray> texts = Rest(args, 1);
    Selection selection(texts);
    const auto selected = [&](qint64 i) {
        return selection.Empty() || selection.Selects(dir.Name(i));
    };
    WriteList([](QByteArrayView bytes) { Io().Out(bytes); }, *path, dir, args.Has("json"), selected,
              [] { return Io().Ok() && !Stop().requested; });
    return selection.ReportUnused(Shown(*path), texts) ? kFailed : kOk;
}

int Verify(const ParsedArgs& args) {
    const std::optional<QString> path = EnginePath(args.operands[0]);
    if (!path) return kUnusable;
    qint64 problems = 0;
    const kbx::Result r = WriteVerify([](QByteArrayView bytes) { Io().Out(bytes); }, *path,
                                      args.Has("json"), args.Has("verbose"), &problems);
    if (!r.ok()) {
        Io().Error(Shown(*path) + QStringLiteral(": ") + ReasonText(r.failure));
        return kUnusable;
    }
    return problems == 0 ? kOk : kFailed;
}

int Extract(const ParsedArgs& args) {
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    const std::vector<QByteArray> texts = Rest(args, 1);
    Selection selection(texts);
    const std::vector<qint64> indexes = Select(dir, selection);
    const bool missing = selection.ReportUnused(Shown(*path), texts);
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
    for (qint64 i = 0; i < dir.UpperBound(); ++i) bytes += dir.EntrySize[size_t(i)];
    const bool verbose = args.Has("verbose");
    const kbx::Stopwatch clock;
    Watcher watch(dir, Kbx::tr("unpack"), dir.UpperBound(), bytes, verbose);
    const int code =
        Finish(kbx::UnpackAll(dir, folder.path(), std::ref(watch), &Stop(), Policy(args)),
               {Shown(*path), {{*path, Shown(*path)}, {folder.path(), folder.Shown()}}});
    if (code == kOk && verbose) ReportTime(Kbx::tr("unpack"), dir.UpperBound(), bytes, clock);
    return code;
}

int Pack(const ParsedArgs& args) {
    const auto root = EnginePath(args.operands[0]);
    if (!root) return kUnusable;
    const auto archive = EnginePath(args.Value("output"));
    if (!archive) return kUnusable;
    const bool verbose = args.Has("verbose");
    const kbx::Stopwatch clock;
    qint64 bytes = 0;
    qint64 doneBytes = 0;
    // A hook makes pack measure every file before copying it, one status
    // call more per file: only when its names or bytes are shown.
    kbx::PackProgress hook;
    if (verbose || Io().ShowsProgress())
        hook = [&](const kbx::PackStep& step) {
            if (verbose) Io().Verbose(Quote(step.entry));
            Io().Progress(Kbx::tr("%1: %2/%3 entries, %4/%5")
                              .arg(Kbx::tr("pack"))
                              .arg(step.index)
                              .arg(step.count)
                              .arg(Bytes(doneBytes), Bytes(step.totalSize)));
            doneBytes += step.size;
            bytes = step.totalSize;
        };
    const kbx::Result r =
        kbx::Pack(*root, *archive, hook, &Stop(),
                  args.Has("recursive") ? kbx::SubFolders::Packed : kbx::SubFolders::Reported);
    const int code =
        Finish(r, {Shown(*root), {{*root, Shown(*root)}, {*archive, Shown(*archive)}}});
    if (code == kOk && verbose) ReportTime(Kbx::tr("pack"), r.written, bytes, clock);
    // The archive is published but lacks files of the tree: never a success.
    for (const kbx::Failure& w : r.warnings) {
        if (code == kOk &&
            (w.reason == kbx::Reason::FolderLeftOut || w.reason == kbx::Reason::FolderLinkLeftOut))
            return kFailed;
    }
    return code;
}

#if __has_include("archive/rewrite.h")

namespace {

// Entry `name` as typed ("/" or "\" between folders, letter case ignored),
// or -1.
qint64 FindEntry(const kbx::Directory& dir, const QByteArray& typed) {
    QString want = QString::fromUtf8(typed).toCaseFolded();
    want.replace(u'/', u'\\');
    for (qint64 i = 0; i < dir.UpperBound(); ++i) {
        if (dir.Name(i).toCaseFolded() == want) return i;
    }
    return -1;
}

// Runs the edits; the archive is replaced only by a complete new one.
int Rewrite(const ParsedArgs& args, const QString& path, const kbx::Directory& dir,
            const std::vector<kbx::Edit>& edits, const QString& what) {
    const kbx::Stopwatch clock;
    const kbx::Result r = kbx::Rewrite(
        dir, edits,
        [&](qint64 index) { Io().Progress(Kbx::tr("%1: entry %2").arg(what).arg(index + 1)); },
        &Stop());
    const int code = Finish(r, {Shown(path), {{path, Shown(path)}}});
    if (code == kOk && args.Has("verbose")) ReportTime(what, r.written, 0, clock);
    return code;
}

// NAME FILE pairs as edits made by `make`; nothing, with the exit code set,
// when a file path cannot be used or (replace) a name is not in the archive.
template <typename Make>
std::optional<std::vector<kbx::Edit>> Pairs(const ParsedArgs& args, const QString& path,
                                            const kbx::Directory& dir, bool existing, Make make,
                                            int* code) {
    std::vector<kbx::Edit> edits;
    for (size_t k = 1; k + 1 < args.operands.size(); k += 2) {
        const QByteArray& name = args.operands[k];
        const auto file = EnginePath(args.operands[k + 1]);
        if (!file) return *code = kUnusable, std::nullopt;
        const qint64 index = existing ? FindEntry(dir, name) : -1;
        if (existing && index < 0) {
            Io().Error(Kbx::tr("%1: %2: no such entry").arg(Shown(path), QuoteBytes(name)));
            return *code = kFailed, std::nullopt;
        }
        edits.push_back(make(index, QString::fromUtf8(name), *file));
    }
    return edits;
}

}  // namespace

namespace {

// replace and add: NAME FILE pairs, turned into edits by `make`; `existing`
// says whether each NAME must already be an entry.
template <typename Make>
int EditPairs(const ParsedArgs& args, bool existing, Make make, const QString& command) {
    int code = kOk;
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    const auto edits = Pairs(args, *path, dir, existing, make, &code);
    if (!edits) return code;
    return Rewrite(args, *path, dir, *edits, command);
}

}  // namespace

int Replace(const ParsedArgs& args) {
    return EditPairs(
        args, true,
        [](qint64 index, QString, QString file) {
            return kbx::Edit::Replace(index, std::move(file));
        },
        Kbx::tr("replace"));
}

int Add(const ParsedArgs& args) {
    return EditPairs(
        args, false,
        [](qint64, QString name, QString file) {
            return kbx::Edit::Add(std::move(name), std::move(file));
        },
        Kbx::tr("add"));
}

int Remove(const ParsedArgs& args) {
    kbx::Directory dir;
    const std::optional<QString> path = Load(args.operands[0], dir);
    if (!path) return kUnusable;
    const std::vector<QByteArray> texts = Rest(args, 1);
    Selection selection(texts);
    std::vector<kbx::Edit> edits;
    for (qint64 index : Select(dir, selection)) edits.push_back(kbx::Edit::Remove(index));
    // A pattern that matches nothing is likely a typing error: nothing is
    // removed then.
    if (selection.ReportUnused(Shown(*path), texts)) return kFailed;
    return Rewrite(args, *path, dir, edits, Kbx::tr("remove"));
}

#else

namespace {
int NotAvailable(const char* command) {
    Io().Error(Kbx::tr("%1: not available in this version").arg(QString::fromLatin1(command)));
    return kUnusable;
}
}  // namespace

int Replace(const ParsedArgs&) {
    return NotAvailable("replace");
}
int Add(const ParsedArgs&) {
    return NotAvailable("add");
}
int Remove(const ParsedArgs&) {
    return NotAvailable("remove");
}

#endif

}  // namespace cli
