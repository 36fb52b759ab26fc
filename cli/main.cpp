// kbx: the archive engine from the command line. See kbx(1).
//
// Exit codes: 0 success; 1 some entries failed, a pattern matched nothing or
// verify found problems; 2 a usage error, an unusable archive or path, or a
// failed write to stdout; 128 + N when signal N stopped the run.

#include <QCoreApplication>

#include <signal.h>
#include <unistd.h>
#include <atomic>
#include <cstring>

#include "archive/archive.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/text.h"

namespace {

using cli::Kbx;

struct Command {
    const char* name;
    std::vector<cli::OptionDef> options;
    size_t minOperands;
    size_t maxOperands;  // SIZE_MAX: no limit
    int (*run)(const cli::ParsedArgs&);
};

constexpr cli::OptionDef kHelp{'h', "help", false};
constexpr cli::OptionDef kVerbose{'v', "verbose", false};
constexpr cli::OptionDef kJson{0, "json", false};
constexpr cli::OptionDef kDirectory{'C', "directory", true};
constexpr cli::OptionDef kKeep{'k', "keep-old-files", false};
constexpr cli::OptionDef kSkip{0, "skip-old-files", false};
constexpr cli::OptionDef kNoWait{0, "no-wait", false};
constexpr cli::OptionDef kFilesFrom{'T', "files-from", true};
constexpr cli::OptionDef kNull{0, "null", false};
constexpr cli::OptionDef kInPlace{'i', "in-place", false};
constexpr cli::OptionDef kDryRun{'n', "dry-run", false};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"list", {kHelp, kJson, kFilesFrom, kNull}, 1, SIZE_MAX, cli::List},
        {"verify", {kHelp, kJson, kVerbose}, 1, 1, cli::Verify},
        {"extract",
         {kHelp, kVerbose, kDirectory, {'O', "to-stdout", false}, kKeep, kSkip, kFilesFrom, kNull},
         2,
         SIZE_MAX,
         cli::Extract},
        {"unpack", {kHelp, kVerbose, kDirectory, kKeep, kSkip}, 1, 1, cli::Unpack},
        {"pack",
         {kHelp, kVerbose, {'o', "output", true}, {'r', "recursive", false}, kDryRun},
         1,
         1,
         cli::Pack},
        {"replace",
         {kHelp, kVerbose, kNoWait, kInPlace, kFilesFrom, kNull, kDryRun},
         3,
         SIZE_MAX,
         cli::Replace},
        {"add",
         {kHelp, kVerbose, kNoWait, kInPlace, kFilesFrom, kNull, kDryRun},
         3,
         SIZE_MAX,
         cli::Add},
        {"remove",
         {kHelp, kVerbose, kNoWait, kInPlace, kFilesFrom, kNull, kDryRun},
         2,
         SIZE_MAX,
         cli::Remove},
        {"rename",
         {kHelp, kVerbose, kNoWait, kInPlace, kFilesFrom, kNull, kDryRun},
         3,
         SIZE_MAX,
         cli::Rename},
        {"update", {kHelp, kVerbose, kNoWait, kInPlace, kDryRun}, 2, 2, cli::Update},
        {"undo", {kHelp, kNoWait}, 1, 1, cli::Undo},
        {"compact", {kHelp, kVerbose, kNoWait}, 1, 1, cli::Compact},
        {"diff", {kHelp, kJson}, 2, 2, cli::Diff},
    };
    return commands;
}

QString MainHelp() {
    return Kbx::tr(
        "Usage: kbx COMMAND [OPTION...] ARGUMENT...\n"
        "Lists, checks, unpacks and packs KBX archives of the game Velmorra.\n"
        "\n"
        "Commands:\n"
        "  list ARCHIVE [PATTERN...]     list the entries: index, offset, size, name\n"
        "  verify ARCHIVE                check the header, directory, bounds and names\n"
        "  extract ARCHIVE PATTERN...    extract the entries that match\n"
        "  unpack ARCHIVE                extract every entry\n"
        "  pack ROOT -o ARCHIVE          pack ROOT/Version/Data/* and then ROOT/Version/*\n"
        "  replace ARCHIVE NAME FILE...  give entries the contents of files\n"
        "  add ARCHIVE NAME FILE...      append new entries\n"
        "  remove ARCHIVE PATTERN...     drop entries\n"
        "  rename ARCHIVE OLD NEW...     give entries new names\n"
        "  diff A B                      what differs between archives or unpacked trees\n"
        "  update ARCHIVE TREE           put the files of TREE/Version/ that differ into ARCHIVE\n"
        "  undo ARCHIVE                  take back the last edit made with -i\n"
        "  compact ARCHIVE               rewrite the archive without unused bytes\n"
        "  help [COMMAND]                describe a command\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help\n"
        "      --version  show the version\n"
        "\n"
        "'kbx help COMMAND' or 'kbx COMMAND --help' describes a command and its options.\n"
        "\n"
        "Exit status: 0 success; 1 some entries failed, a pattern matched nothing or\n"
        "verify found problems; 2 a usage error, an unusable archive or path, or a\n"
        "failed write; 128+N when signal N stopped the run.\n");
}

// The options of the commands that take names or patterns.
QString NamesHelp() {
    return Kbx::tr(
        "  -T, --files-from FILE  also take the names from FILE ('-': standard\n"
        "                         input), one a line\n"
        "      --null             names in FILE end with a NUL byte, not a newline\n");
}

QString PatternHelp() {
    return Kbx::tr(
        "A PATTERN is an entry's name as 'list' prints it, with '/' or '\\' between\n"
        "folders and letter case ignored. A PATTERN that is an entry's name selects\n"
        "that entry only (of the entries whose names differ only in letter case, the\n"
        "one typed exactly); any other is a pattern: '*' and '?' match within one\n"
        "folder or file name, '[...]' one of the characters, '**' any number of\n"
        "folders ('[[]' is a literal '[' that makes a name a pattern). A folder's\n"
        "name selects everything in it. A pattern that matches nothing is an error.\n");
}

// The options of the commands that write entries into a folder.
QString WriteOptionsHelp() {
    return Kbx::tr(
        "  -C, --directory DIR  write into DIR (default: the current folder),\n"
        "                       created when missing\n"
        "  -k, --keep-old-files fail on a file that already exists\n"
        "      --skip-old-files leave an existing file as it is and go on\n"
        "  -v, --verbose        print each entry's name and the time taken\n"
        "  -h, --help           show this help\n"
        "\n"
        "An existing file is replaced whole by default: it is never seen half written.\n");
}

// The options of the commands that edit entries.
QString InPlaceHelp() {
    return Kbx::tr(
        "  -i, --in-place  change the archive in place: only the new bytes are written\n"
        "                  (at its end) and the directory bytes that change; the old\n"
        "                  data stay as unused bytes until 'kbx compact'. A crash at any\n"
        "                  moment leaves the archive as it was or as edited; 'kbx undo'\n"
        "                  takes the edit back\n"
        "  -n, --dry-run   print the entries that would change, and change nothing\n"
        "  -v, --verbose   print each entry changed, the bytes written and the time\n"
        "                  taken\n"
        "      --no-wait   fail when another process is editing the archive\n"
        "  -h, --help      show this help\n");
}

QString CommandHelp(const QString& name) {
    if (name == u"list")
        return Kbx::tr(
                   "Usage: kbx list ARCHIVE [PATTERN...] [--json]\n"
                   "Prints one line per entry: index, offset, size and name, separated by tabs.\n"
                   "Control characters in names are shown as escapes such as \\x1b.\n"
                   "\n"
                   "      --json     print a JSON document with the exact names\n"
                   "  -h, --help     show this help\n") +
               NamesHelp() + u'\n' + PatternHelp();
    if (name == u"verify")
        return Kbx::tr(
            "Usage: kbx verify ARCHIVE [--json] [-v]\n"
            "Checks the header and directory, that every entry lies inside the file,\n"
            "that every name is safe to write, and that no data overlaps and no name\n"
            "repeats. Prints one line per problem; exit status 1 when there are some.\n"
            "\n"
            "      --json     print a JSON document\n"
            "  -v, --verbose  also report an archive without problems\n"
            "  -h, --help     show this help\n");
    if (name == u"extract")
        return Kbx::tr(
                   "Usage: kbx extract ARCHIVE PATTERN... [-C DIR] [-O] [-k | --skip-old-files] "
                   "[-v]\n"
                   "Writes the entries that match beneath DIR under their own names.\n"
                   "\n"
                   "  -O, --to-stdout      write the entries' bytes to standard output\n") +
               WriteOptionsHelp() + NamesHelp() + u'\n' + PatternHelp();
    if (name == u"unpack")
        return Kbx::tr(
                   "Usage: kbx unpack ARCHIVE [-C DIR] [-k | --skip-old-files] [-v]\n"
                   "Writes every entry beneath DIR, creating Version/ and Version/Data/ there.\n"
                   "\n") +
               WriteOptionsHelp();
    if (name == u"pack")
        return Kbx::tr(
            "Usage: kbx pack ROOT -o ARCHIVE [-r] [-n] [-v]\n"
            "Packs the files of ROOT/Version/Data and then those of ROOT/Version into\n"
            "ARCHIVE. An existing ARCHIVE is replaced only by a complete new one.\n"
            "Without -r, each sub-folder left out is named with the number of files in\n"
            "it, and the exit status is 1. Links to folders are never followed.\n"
            "\n"
            "  -o, --output ARCHIVE  the archive to write (required)\n"
            "  -r, --recursive       pack sub-folders too: a folder's files, then each\n"
            "                        sub-folder's, as \"Version\\Data\\sub\\file\"\n"
            "  -n, --dry-run         print the entries a pack would hold, and write nothing\n"
            "  -v, --verbose         print each entry's name and the time taken\n"
            "  -h, --help            show this help\n");
    if (name == u"replace")
        return Kbx::tr(
                   "Usage: kbx replace ARCHIVE NAME FILE [NAME FILE...] [-i] [-v]\n"
                   "Gives each entry NAME the contents of FILE; the entry keeps its place and "
                   "name.\n"
                   "The new archive replaces the old one only when it is complete.\n"
                   "\n") +
               InPlaceHelp() + NamesHelp() +
               Kbx::tr("In FILE, each NAME and its FILE are two names in a row.\n");
    if (name == u"add")
        return Kbx::tr(
                   "Usage: kbx add ARCHIVE NAME FILE [NAME FILE...] [-i] [-v]\n"
                   "Appends entries NAME with the contents of FILE; a name already in the\n"
                   "archive, or not beneath Version/, is refused. The new archive replaces the\n"
                   "old one only when it is complete.\n"
                   "\n") +
               InPlaceHelp() + NamesHelp() +
               Kbx::tr("In FILE, each NAME and its FILE are two names in a row.\n");
    if (name == u"remove")
        return Kbx::tr(
                   "Usage: kbx remove ARCHIVE PATTERN... [-i] [-v]\n"
                   "Drops the entries that match. The new archive replaces the old one only\n"
                   "when it is complete.\n"
                   "\n") +
               InPlaceHelp() + NamesHelp() + u'\n' + PatternHelp();
    if (name == u"rename")
        return Kbx::tr(
                   "Usage: kbx rename ARCHIVE OLD NEW [OLD NEW...] [-i] [-v]\n"
                   "Gives the entry OLD the name NEW; it keeps its place and its bytes. OLD\n"
                   "is an entry's name, as for replace; NEW follows the rules of add: a name\n"
                   "another entry keeps, or not beneath Version/, is refused. The new archive\n"
                   "replaces the old one only when it is complete.\n"
                   "\n") +
               InPlaceHelp() + NamesHelp() +
               Kbx::tr("In FILE, each OLD and its NEW are two names in a row.\n");
    if (name == u"undo")
        return Kbx::tr(
            "Usage: kbx undo ARCHIVE\n"
            "Takes back the last edit made with -i, byte for byte, when the archive has\n"
            "not changed since. Like the edit, it survives a crash at any moment.\n"
            "\n"
            "      --no-wait  fail when another process is editing the archive\n"
            "  -h, --help     show this help\n");
    if (name == u"compact")
        return Kbx::tr(
            "Usage: kbx compact ARCHIVE [-v]\n"
            "Writes the archive anew with its data back to back in directory order,\n"
            "dropping the unused bytes that edits made with -i leave. The new archive\n"
            "replaces the old one only when it is complete.\n"
            "\n"
            "  -v, --verbose  print the time taken\n"
            "      --no-wait  fail when another process is editing the archive\n"
            "  -h, --help     show this help\n");
    if (name == u"update")
        return Kbx::tr(
                   "Usage: kbx update ARCHIVE TREE [-i] [-n] [-v]\n"
                   "Puts the files beneath TREE/Version/ into ARCHIVE under the names unpack\n"
                   "gives them: a file whose bytes differ from its entry replaces it, a file\n"
                   "without an entry is added; entries without a file stay. When nothing\n"
                   "differs the archive is not touched.\n"
                   "\n") +
               InPlaceHelp();
    if (name == u"diff")
        return Kbx::tr(
            "Usage: kbx diff A B [--json]\n"
            "Compares A with B, each an archive or a folder holding an unpacked Version/\n"
            "tree. Prints one line per difference, in A's order, then B's:\n"
            "  M NAME  the bytes differ\n"
            "  + NAME  only in B\n"
            "  - NAME  only in A\n"
            "Names match with letter case ignored, as in the game. Sizes are compared\n"
            "first, bytes only where sizes agree. Exit status 0 when A and B hold the\n"
            "same, 1 when they differ.\n"
            "\n"
            "      --json     print a JSON document with the exact names\n"
            "  -h, --help     show this help\n");
    return {};
}

int Usage(const QString& problem, const QString& command) {
    cli::Io().Error(problem);
    const QString hint = command.isEmpty()
                             ? Kbx::tr("Try 'kbx --help' for more information.")
                             : Kbx::tr("Try 'kbx %1 --help' for more information.").arg(command);
    const QByteArray bytes = (hint + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    return cli::kUnusable;
}

int Help(const QString& text) {
    cli::Io().Out(text);
    return cli::kOk;
}

int RunCommand(const Command& c, const std::vector<QByteArray>& args) {
    const QString name = QString::fromLatin1(c.name);
    cli::ParsedArgs parsed;
    if (QString problem = cli::ParseArgs(args, c.options, &parsed); !problem.isEmpty())
        return Usage(name + QStringLiteral(": ") + problem, name);
    if (parsed.Has("help")) return Help(CommandHelp(name));
    if (parsed.Has("null") && !parsed.Has("files-from"))
        return Usage(name + QStringLiteral(": ") + Kbx::tr("--null needs -T FILE"), name);
    if (parsed.Has("files-from")) {
        // Names from a file come after those on the command line, as if
        // typed there; the archive must be on the command line.
        if (parsed.operands.empty())
            return Usage(name + QStringLiteral(": ") + Kbx::tr("missing archive"), name);
        if (!cli::ReadNames(parsed.Value("files-from"), parsed.Has("null"), parsed.operands))
            return cli::kUnusable;
    }
    const size_t n = parsed.operands.size();
    if (n < c.minOperands) {
        QString missing = Kbx::tr("missing archive");
        if (name == u"diff") missing = Kbx::tr("missing A or B");
        if (name == u"update" && n == 1) missing = Kbx::tr("missing TREE");
        if (name == u"pack")
            missing = Kbx::tr("missing folder ROOT");
        else if (n >= 1 && (name == u"extract" || name == u"remove"))
            missing = Kbx::tr("missing pattern");
        else if (n >= 2 && (name == u"replace" || name == u"add"))
            missing = Kbx::tr("FILE missing after the last NAME");
        else if (n >= 1 && (name == u"replace" || name == u"add"))
            missing = Kbx::tr("missing NAME and FILE");
        else if (n >= 2 && name == u"rename")
            missing = Kbx::tr("NEW missing after the last OLD");
        else if (n >= 1 && name == u"rename")
            missing = Kbx::tr("missing OLD and NEW");
        return Usage(name + QStringLiteral(": ") + missing, name);
    }
    if (n > c.maxOperands)
        return Usage(name + QStringLiteral(": ") +
                         Kbx::tr("unexpected argument %1")
                             .arg(cli::QuoteBytes(parsed.operands[c.maxOperands])),
                     name);
    if ((name == u"replace" || name == u"add") && (n - 1) % 2 != 0)
        return Usage(name + QStringLiteral(": ") + Kbx::tr("FILE missing after the last NAME"),
                     name);
    if (name == u"rename" && (n - 1) % 2 != 0)
        return Usage(name + QStringLiteral(": ") + Kbx::tr("NEW missing after the last OLD"), name);
    if (name == u"pack" && !parsed.Has("output"))
        return Usage(name + QStringLiteral(": ") + Kbx::tr("missing -o ARCHIVE"), name);
    if (parsed.Has("keep-old-files") && parsed.Has("skip-old-files"))
        return Usage(name + QStringLiteral(": ") +
                         Kbx::tr("--keep-old-files and --skip-old-files exclude each other"),
                     name);
    if (parsed.Has("to-stdout") && parsed.Has("directory"))
        return Usage(name + QStringLiteral(": ") + Kbx::tr("-O and -C exclude each other"), name);
    return c.run(parsed);
}

std::atomic<int> g_signal{0};

extern "C" void OnSignal(int signo) {
    g_signal.store(signo);
    cli::Stop().requested = true;
}

void CatchSignals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

int Run(int argc, char** argv) {
    std::vector<QByteArray> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    if (args.empty()) return Usage(Kbx::tr("missing command"), {});
    const QByteArray first = args.front();
    if (first == "-h" || first == "--help") return Help(MainHelp());
    if (first == "--version" || first == "-V")
        return Help(QStringLiteral("kbx (Quillmere) %1\n").arg(QStringLiteral(QUILLMERE_VERSION)));
    if (first == "help") {
        if (args.size() == 1 || args[1] == "-h" || args[1] == "--help") return Help(MainHelp());
        const QString name = QString::fromUtf8(args[1]);
        const QString text = CommandHelp(name);
        if (text.isEmpty())
            return Usage(Kbx::tr("unknown command %1").arg(cli::QuoteBytes(args[1])), {});
        return Help(text);
    }
    for (const Command& c : Commands()) {
        if (first == c.name) return RunCommand(c, {args.begin() + 1, args.end()});
    }
    if (first.startsWith('-'))
        return Usage(Kbx::tr("unknown option %1").arg(cli::QuoteBytes(first)), {});
    return Usage(Kbx::tr("unknown command %1").arg(cli::QuoteBytes(first)), {});
}

}  // namespace

int main(int argc, char** argv) {
    CatchSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kbx"));
    cli::LoadTranslation(app);
    int code = Run(argc, argv);
    cli::Io().EraseProgress();
    if (!cli::Io().Flush()) {
        cli::Io().Error(Kbx::tr("cannot write to standard output: %1")
                            .arg(cli::ErrorText(cli::Io().OutErrno())));
        code = cli::kUnusable;
    }
    if (const int s = g_signal.load(); s != 0 && !cli::Published()) return 128 + s;
    return code;
}
