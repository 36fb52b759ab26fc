// kbx run as a process: exit codes, stdout and stderr bytes, files written.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <QElapsedTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "run_kbx.h"
#include "test_util.h"

using namespace testutil;

namespace {

using Args = std::vector<QByteArray>;

QByteArray B(const QString& s) {
    return QFile::encodeName(s);
}

QString Q(const QByteArray& path) {
    return QFile::decodeName(path);
}

std::string Join(const Args& args) {
    return QByteArrayList(args.begin(), args.end()).join(' ').toStdString();
}

// True when `bytes` hold no control character but the tab and the newline
// that separate fields and lines: nothing a terminal would act on.
bool Printable(const QByteArray& bytes) {
    for (QChar c : QString::fromUtf8(bytes)) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n') || (u >= 0x7F && u <= 0x9F)) return false;
    }
    return true;
}

// A file named by bytes that need not be valid text.
QByteArray ReadRaw(const QByteArray& path) {
    std::ifstream f(path.toStdString(), std::ios::binary);
    return QByteArray::fromStdString({std::istreambuf_iterator<char>(f), {}});
}

// A usage mistake: "list: ..." hints at "kbx list --help".
QByteArray Usage(const QByteArray& problem) {
    const qsizetype colon = problem.indexOf(':');
    return "kbx: " + problem + "\nTry 'kbx " + (colon < 0 ? "" : problem.left(colon) + ' ') +
           "--help' for more information.\n";
}

QByteArray Failure(const QByteArray& path, const char* reason) {
    return "kbx: " + path + ": " + reason + '\n';
}

// The names of the good archive, in directory order, as kbx prints them.
const QByteArray kMap = "Version\\Data\\карта.dat\n";
const QByteArray kNames = "Version\\a.txt\n" + kMap + "Version\\Data\\b.dat\n";

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        good = Archive("good.kbx", {{"Version\\a.txt", "alpha"},
                                    {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "map"},
                                    {"Version\\Data\\b.dat", "beta"}});
    }
    QByteArray Path(const char* name) const { return B(tmp.filePath(QString::fromUtf8(name))); }
    QByteArray Archive(const char* name, const std::vector<RawEntry>& entries) const {
        const QByteArray p = Path(name);
        EXPECT_TRUE(WriteFile(Q(p), BuildArchive(entries)));
        return p;
    }
    testutil::TempDir tmp;
    QByteArray good;
};

// Usage mistakes: one line naming the real problem, then a hint to --help.
// Other errors: one line, the path as typed, the real reason. A failed write
// to stdout counts too.
TEST_F(Cli, ExactAnswers) {
    const QByteArray missing = Path("missing.kbx"), text = Path("text.kbx");
    const QByteArray plain = Path("plain"), blocked = Path("blocked"), dir = B(tmp.path());
    ASSERT_TRUE(WriteFile(Q(text), "plain text, not an archive"));
    ASSERT_TRUE(WriteFile(Q(plain), "a file"));
    ASSERT_TRUE(WriteFile(Q(blocked + "/Version"), "a file"));
    const QByteArray hostile = Archive("hostile.kbx", {{"C:\\evil", "x"}, {"Version\\ok", "y"}});
    const QByteArray empty = Archive("empty.kbx", {});
    const QByteArray overlap =
        Archive("overlap.kbx", {{"Version\\a", "aa"}, {"Version\\b", "b", -1}});
    const QByteArray full = "kbx: cannot write to standard output: No space left on device\n";
    const QByteArray main = RunKbx({"--help"}).out;
    // A tree whose only files lie in a sub-folder: pack writes an empty archive and fails.
    const QByteArray tree = Path("tree"), sub = tree + "/Version/Data/textures";
    ASSERT_TRUE(WriteFile(Q(sub + "/a.dds"), "a") && WriteFile(Q(sub + "/deep/b.dds"), "b"));
    const struct {
        Args args;
        QByteArray err;
        int code = 2;
        QByteArray out = {};
        const char* stdoutPath = nullptr;
    } cases[] = {
        {{}, Usage("missing command")},
        {{"frobnicate"}, Usage("unknown command frobnicate")},
        {{"--frob"}, Usage("unknown option --frob")},
        {{"list"}, Usage("list: missing archive")},
        {{"list", good, "-C", "x"}, Usage("list: unknown option -C")},
        {{"list", good, "--json=yes"}, Usage("list: option --json takes no value")},
        {{"verify", good, "more"}, Usage("verify: unexpected argument more")},
        {{"extract", good}, Usage("extract: missing pattern")},
        {{"extract", good, "x", "-k", "--skip-old-files"},
         Usage("extract: --keep-old-files and --skip-old-files exclude each other")},
        {{"unpack", good, "-C"}, Usage("unpack: option -C needs a value")},
        {{"pack", "root"}, Usage("pack: missing -o ARCHIVE")},
        {{"pack", "root", "--output"}, Usage("pack: option --output needs a value")},
        {{"replace", good, "a"}, Usage("replace: FILE missing after the last NAME")},
        {{"add", good}, Usage("add: missing NAME and FILE")},
        {{"list", good, "--frob"}, Usage("list: unknown option --frob")},
        {{"help", "--help"}, "", 0, main},
        {{"diff", good}, Usage("diff: missing A or B")},
        {{"add", good, "a", "f", "b"}, Usage("add: FILE missing after the last NAME")},
        {{"rename", good, "Version/A.txt", "Version/a.txt"},
         Failure(good, "Version\\a.txt: the entry has this name already")},
        {{"pack", tree, "-o", Path("p.kbx")},
         Failure(sub, "left out with the files in it (2); --recursive packs sub-folders"),
         1},
        {{"pack", "-r", tree, "-o", Path("p.kbx")}, "", 0},
        {{"--version"}, "", 0, "kbx (Quillmere) " QUILLMERE_VERSION "\n"},
        {{"list", missing}, Failure(missing, "No such file or directory")},
        {{"verify", dir}, Failure(dir, "Is a directory")},
        {{"unpack", text}, Failure(text, "not a KBX archive")},
        {{"unpack", good, "-C", plain + "/sub"},
         Failure(plain + "/sub", "cannot create folder: Not a directory")},
        {{"unpack", good, "-C", blocked}, Failure(blocked + "/Version/Data", "Not a directory")},
        {{"unpack", hostile, "-C", Path("out")},
         Failure(hostile, "C:\\evil: unsafe name (path with a drive letter)"),
         1},
        {{"extract", good, "x*", "-C", Path("none")}, Failure(good, "x*: no matching entry"), 1},
        {{"add", good, "Version/a.txt", plain},
         Failure(good,
                 "Version\\a.txt: unsafe name (an entry of that name is in the archive "
                 "already (replace changes it))")},
        {{"add", good, "version/A.TXT", plain},
         Failure(good,
                 "version\\A.TXT: unsafe name (the name differs from another only in "
                 "letter case)")},
        {{"add", empty, "Version", plain},
         Failure(empty, "Version: unsafe name (unpacking makes a folder of this name)")},
        {{"add", empty, "foo.txt", plain},
         Failure(empty,
                 "foo.txt: unsafe name (the name does not begin with Version\\, so no pack "
                 "could make it)")},
        {{"add", empty, "Version/f", dir},
         Failure(dir, "not a regular file (a folder, FIFO, socket or device)")},
        {{"list", good}, full, 2, {}, "/dev/full"},
        {{"list", good, "--json"}, full, 2, {}, "/dev/full"},
        {{"verify", good, "-v"}, full, 2, {}, "/dev/full"},
        {{"extract", good, "**", "-O"}, full, 2, {}, "/dev/full"},
        {{"--help"}, full, 2, {}, "/dev/full"},
        {{"verify", overlap},
         "",
         1,
         "overlap\t1\tVersion\\b\tdata overlaps entry 0\n2 entries, 1 problem\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const KbxRun r = RunKbx(c.args, {.stdoutPath = c.stdoutPath});
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(QFileInfo::exists(Q(plain + "/sub")));
    EXPECT_FALSE(QFileInfo::exists(Q(Path("none"))));
    EXPECT_EQ(ReadFile(Q(Path("out/Version/ok"))), "y");  // the safe entry is written
}

TEST_F(Cli, HelpForEveryCommand) {
    const KbxRun main = RunKbx({"--help"});
    EXPECT_EQ(main.code, 0);
    for (const char* command : {"list", "verify", "extract", "unpack", "pack", "replace", "add",
                                "remove", "rename", "undo", "compact"}) {
        SCOPED_TRACE(command);
        EXPECT_TRUE(main.out.contains(QByteArray("  ") + command + ' '));
        const KbxRun viaHelp = RunKbx({"help", command}), viaOption = RunKbx({command, "--help"});
        EXPECT_EQ(viaHelp.code, 0);
        EXPECT_EQ(viaOption.code, 0);
        EXPECT_TRUE(viaHelp.out.startsWith(QByteArray("Usage: kbx ") + command));
        EXPECT_EQ(viaHelp.out, viaOption.out);
    }
}

// Names and paths reach the terminal only quoted: one line per entry, every
// control character visible; JSON carries the exact name.
TEST_F(Cli, NamesAndPathsAreQuoted) {
    const QByteArray title = "Version\\\x1b]0;t\x07\x1b[2J.txt", lines = "Version\\a\tb\nc";
    const QByteArray hostile =
        Archive("hostile.kbx", {{title, "x"},
                                {lines, "y"},
                                {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "map"},
                                {"Version\\del\x7f", "z"}});
    const KbxRun list = RunKbx({"list", hostile});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out,
              "0\t564\t1\tVersion\\\\x1b]0;t\\x07\\x1b[2J.txt\n"
              "1\t565\t1\tVersion\\a\\x09b\\x0ac\n2\t566\t3\t" +
                  kMap + "3\t569\t1\tVersion\\del\\x7f\n");
    const QJsonArray entries =
        QJsonDocument::fromJson(RunKbx({"list", hostile, "--json"}).out)["entries"].toArray();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0]["name"].toString().toLatin1(), title);
    EXPECT_EQ(entries[1]["name"].toString().toLatin1(), lines);
    EXPECT_EQ(entries[2]["name"].toString(), QStringLiteral("Version\\Data\\карта.dat"));

    const QByteArray out = Path("out");
    const QByteArray odd = "\x1b[2J\xc2\x9b\xff\xe2\x80\xa8\xe2\x81\xa9\xef\xbb\xbf.kbx";
    const struct {
        Args args;
        int code;
        int lines;  // lines on stdout and stderr together
    } cases[] = {
        {{"verify", hostile}, 1, 4},
        {{"unpack", "-v", hostile, "-C", out}, 1, 7},
        {{"extract", "-v", hostile, "**", "-C", out}, 1, 7},
        {{"rename", "-n", hostile, title, "Version/t"}, 0, 1},
        {{"list", odd}, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(Printable(r.out + r.err)) << (r.out + r.err).toStdString();
        EXPECT_EQ(r.out.count('\n') + r.err.count('\n'), c.lines);
    }
    // Also the line separator, the bidirectional isolates and the byte order
    // mark, which reorder or hide text.
    EXPECT_TRUE(RunKbx({"list", odd})
                    .err.startsWith("kbx: \\x1b[2J\\u009b\\xff\\u2028\\u2069\\ufeff.kbx: "));
}

// A path is used exactly as given; one that cannot be is refused, and
// nothing is written.
TEST_F(Cli, PathsAreBytes) {
    // Under a UTF-8 locale and under C alike (Qt decodes paths as UTF-8 in both).
    for (const QByteArray locale : {"LANG=C.UTF-8", "LANG=C"}) {
        SCOPED_TRACE(locale.toStdString());
        const QByteArray odd = Path("d") + "\xff" + locale.right(1);
        const KbxRun r = RunKbx({"unpack", good, "-C", odd}, {.env = {locale, "LC_ALL="}});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(ReadRaw(odd + "/Version/Data/b.dat"), "beta");
        std::filesystem::remove_all(odd.toStdString());
    }

    const QByteArray oddArchive = Path("a") + "\xfe.kbx", root = Path("root");
    std::filesystem::copy_file(good.toStdString(), oddArchive.toStdString());
    ASSERT_TRUE(QDir().mkpath(Q(root + "/Version/Data")));
    const auto before = Snapshot(tmp.path());
    for (const Args& args : {Args{"list", oddArchive}, Args{"unpack", oddArchive, "-C", Path("u")},
                             Args{"pack", root, "-o", Path("p") + "\xfd.kbx"}}) {
        SCOPED_TRACE(args[0].toStdString());
        const KbxRun r = RunKbx(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.endsWith(
            ": cannot use this path: it is not valid text in the system's encoding\n"))
            << r.err.toStdString();
    }
    EXPECT_EQ(Snapshot(tmp.path()), before);
    std::filesystem::remove(oddArchive.toStdString());  // TempDir cannot name it
}

// Like tar: nothing on success; -v names each entry and ends with the time.
// On a terminal, progress in entries and bytes, erased at the end.
TEST_F(Cli, QuietVerboseOrProgress) {
    const QByteArray root = Path("root");
    const struct {
        Args args;
        QByteArray verboseOut;  // without the closing timing line
        QByteArray progress;    // the first on a terminal
    } cases[] = {
        {{"unpack", good, "-C", root}, kNames, "unpack: 0/3 entries, 0 B/12 B"},
        {{"extract", good, "**/*.dat", "-C", root},
         kMap + "Version\\Data\\b.dat\n",
         "extract: 0/2 entries, 0 B/7 B"},
        {{"pack", root, "--output=" + Path("p.kbx")},
         "Version\\Data\\b.dat\n" + kMap + "Version\\a.txt\n",
         "pack: 0/3 entries, 0 B/12 B"},
        {{"verify", good}, "", ""},
        // The same bytes.
        {{"replace", good, "Version/a.txt", root + "/Version/a.txt"},
         "Version\\a.txt\n",
         "replace: 0 B/12 B"},
        {{"unpack", Archive("mib.kbx", {{"Version\\m", QByteArray(1 << 20, 'm')}}), "-C", root},
         "Version\\m\n",
         "unpack: 0/1 entry, 0 B/1.0 MiB"},
    };
    const QRegularExpression timing(
        QStringLiteral("^[a-z]+: .* in [0-9.]+ s\n$|^[0-9]+ entries, no problems\n$"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0].toStdString());
        KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out + r.err, "");
        Args verbose = c.args;
        verbose.push_back("-v");
        r = RunKbx(verbose);
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.out.startsWith(c.verboseOut)) << r.out.toStdString();
        const QByteArray last = r.out.mid(c.verboseOut.size());
        EXPECT_TRUE(timing.match(QString::fromUtf8(last)).hasMatch()) << last.toStdString();
        if (c.progress.isEmpty()) continue;
        r = RunKbx(c.args, {.stderrOnTerminal = true});
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.err.startsWith("\r\x1b[K" + c.progress)) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith("\r\x1b[K"));
        EXPECT_FALSE(r.err.contains('\n'));
    }
    // With the entries on stdout, the names go to stderr.
    const KbxRun r = RunKbx({"extract", good, "version/data/*", "-O", "-v"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "mapbeta");
    EXPECT_TRUE(r.err.startsWith(kMap + "Version\\Data\\b.dat\n"));
}

// Patterns select entries as the game's file system names them.
TEST_F(Cli, PatternsSelectEntries) {
    const struct {
        Args patterns;
        QByteArray indexes;  // first column of the listing
        int code;
    } cases[] = {
        {{"version/data/*"}, "12", 0},     {{"VERSION\\A.TXT"}, "0", 0},
        {{"**/*.dat"}, "12", 0},           {{"Version/Data"}, "12", 0},
        {{"*/?.txt", "*/*/b.*"}, "02", 0}, {{"Version/[!a]*"}, "12", 0},
        {{"Version/[!ad]*"}, "", 1},       {{"Version/*", "nope"}, "012", 1},
    };
    for (const auto& c : cases) {
        Args args{"list", good};
        args.insert(args.end(), c.patterns.begin(), c.patterns.end());
        SCOPED_TRACE(Join(args));
        const KbxRun r = RunKbx(args);
        QByteArray first;
        for (const QByteArray& line : r.out.split('\n')) first += line.left(1);
        EXPECT_EQ(first, c.indexes);
        EXPECT_EQ(r.code, c.code);
    }
}

// tar's overwrite options: an existing file is replaced, kept (an error),
// or left while the others are written.
TEST_F(Cli, OldFiles) {
    const struct {
        const char* option;
        int code;
        QByteArray after;
    } cases[] = {{"", 0, "alpha"},
                 {"--keep-old-files", 1, "old"},
                 {"-k", 1, "old"},
                 {"--skip-old-files", 0, "old"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const QString root = tmp.filePath(QStringLiteral("old") + QString::fromLatin1(c.option));
        ASSERT_TRUE(WriteFile(root + "/Version/a.txt", "old"));
        Args args{"unpack", good, "-C", B(root)};
        if (*c.option) args.push_back(c.option);
        const KbxRun r = RunKbx(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(ReadFile(root + "/Version/a.txt"), c.after);
        EXPECT_EQ(ReadFile(root + "/Version/Data/b.dat"), "beta");
        EXPECT_EQ(r.err.isEmpty(), c.code == 0) << r.err.toStdString();
    }
}

// Help and messages follow the locale: Russian under a Russian one,
// English otherwise (LANGUAGE counts only beside a locale other than C).
TEST_F(Cli, LanguageFollowsTheLocale) {
    const QByteArray missing = Path("missing.kbx");
    const struct {
        Args env;  // LANG, LC_ALL, LC_MESSAGES, LANGUAGE
        bool russian;
    } cases[] = {
        {{"LANG=ru_RU.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE="}, true},
        {{"LANG=C.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=ru"}, false},
        {{"LANG=en_US.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=ru:en"}, true},
        {{"LANG=ru_RU.UTF-8", "LC_ALL=", "LC_MESSAGES=C", "LANGUAGE="}, false},
        {{"LANG=C", "LC_ALL=ru_RU.UTF-8", "LC_MESSAGES=", "LANGUAGE="}, true},
        {{"LANG=ru_RU.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=en:ru"}, false},
    };
    // Counts agree with their nouns: one, two to four, five and more.
    std::vector<RawEntry> five;
    for (char n = '0'; n < '5'; ++n) five.push_back({QByteArray("Version\\") + n, "x"});
    const QByteArray sized[] = {Archive("1.kbx", {five[0]}), Archive("2.kbx", {five[0], five[1]}),
                                Archive("5.kbx", five)};
    const char* counted[][3] = {{"1 entry", "2 entries", "5 entries"},
                                {"1 запись", "2 записи", "5 записей"}};
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        SCOPED_TRACE(Join(c.env));
        EXPECT_EQ(RunKbx({"verify", "-v", sized[k % 3]}, {.env = c.env}).out,
                  counted[c.russian][k % 3] +
                      QByteArray(c.russian ? ", ошибок нет\n" : ", no problems\n"));
        EXPECT_EQ(RunKbx({"list", missing}, {.env = c.env}).err,
                  Failure(missing,
                          c.russian ? "нет такого файла или папки" : "No such file or directory"));
        EXPECT_TRUE(RunKbx({"help", "unpack"}, {.env = c.env})
                        .out.startsWith(c.russian ? "Использование: " : "Usage: "));
        EXPECT_EQ(RunKbx({"list", good, "-x"}, {.env = c.env}).err,
                  c.russian ? "kbx: list: неизвестный параметр -x\nПодробнее: «kbx list --help».\n"
                            : Usage("list: unknown option -x"));
    }
}

// SIGINT, SIGTERM and SIGHUP stop an unpack at the next entry: every file
// written is whole, no temporary is left, and the exit status is 128 + N.
TEST_F(Cli, SignalsStopBetweenEntries) {
    std::vector<RawEntry> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({"Version\\f" + QByteArray::number(i), QByteArray::number(i)});
    const QByteArray big = Archive("big.kbx", many);
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signo);
        const QString target = tmp.filePath(QStringLiteral("s%1").arg(signo));
        bool sent = false;
        // -v names each entry before it is written: the first names on the
        // pipe mean the unpack is under way.
        const KbxRun r =
            RunKbx({"unpack", "-v", big, "-C", B(target)}, {.onOutput = [&](pid_t pid) {
                       if (!std::exchange(sent, true)) ::kill(pid, signo);
                   }});
        EXPECT_EQ(r.code, 128 + signo) << r.err.toStdString();
        const std::map<QString, QByteArray> files = Snapshot(target);
        EXPECT_GT(files.size(), 0u);
        EXPECT_LT(files.size(), many.size());
        for (const auto& [name, bytes] : files) {
            ASSERT_TRUE(name.startsWith(QStringLiteral("Version/f"))) << name.toStdString();
            EXPECT_EQ(bytes, name.mid(9).toLatin1());
        }
    }
}

// replace, add and remove write a new archive in the old one's place; the
// entries they leave alone keep their bytes, and the result passes verify.
// When they fail, the archive is left as it was.
TEST_F(Cli, ChangesInPlace) {
    const QByteArray file = Path("new.txt");
    ASSERT_TRUE(WriteFile(Q(file), "NEW BYTES"));
    const QByteArray before = ReadFile(Q(good));
    const struct {
        Args args;
        int code;
        QByteArray listing;  // names, one a line, after the command
    } cases[] = {
        {{"replace", good, "version/A.TXT", file}, 0, kNames},
        {{"add", good, "Version/Data/new.dat", file}, 0, kNames + "Version\\Data\\new.dat\n"},
        {{"remove", good, "**/b.*"}, 0, "Version\\a.txt\n" + kMap},
        {{"replace", good, "nope", file}, 1, ""},
        {{"add", good, "Version/a.txt", file}, 2, ""},
        {{"remove", good, "Version/a.txt", "nope"}, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        ASSERT_TRUE(WriteFile(Q(good), before));
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
        if (c.code != 0) {
            EXPECT_EQ(ReadFile(Q(good)), before);
            continue;
        }
        EXPECT_EQ(RunKbx({"verify", good}).code, 0);
        QByteArray names;
        for (const QByteArray& line : RunKbx({"list", good}).out.split('\n'))
            if (!line.isEmpty()) names += line.split('\t').value(3) + '\n';
        EXPECT_EQ(names, c.listing);
        // Every entry still there has its old bytes, or the file's.
        EXPECT_EQ(RunKbx({"extract", good, "Version/a.txt", "-O"}).out,
                  c.args[0] == "replace" ? "NEW BYTES" : "alpha");
        EXPECT_EQ(RunKbx({"extract", good, "**/карта.dat", "-O"}).out, "map");
    }
}

// A name typed as list prints it selects that entry, never one a pattern
// would also match, and of case twins the one typed exactly; an edit that
// cannot tell which entry is meant changes nothing.
TEST_F(Cli, NamesSelectExactly) {
    const QByteArray file = Path("new.txt");
    ASSERT_TRUE(WriteFile(Q(file), "NEW"));
    const std::vector<RawEntry> entries = {{"Version\\Data\\a[1].dds", "bracket"},
                                           {"Version\\Data\\a1.dds", "one"},
                                           {"Version\\Data\\A.dds", "upper"},
                                           {"Version\\Data\\a.dds", "lower"}};
    const struct {
        Args args;
        int code;
        QByteArray after;  // each entry's bytes, by list order, after the run
    } cases[] = {
        {{"remove", "Version\\Data\\a[1].dds"}, 0, "one upper lower"},
        {{"remove", "version/data/A[1].DDS"}, 0, "one upper lower"},
        {{"remove", "Version/Data/a[[]1].dds"}, 0, "one upper lower"},
        {{"replace", "Version\\Data\\a.dds", file}, 0, "bracket one upper NEW"},
        {{"replace", "./Version//Data/A.dds", file}, 0, "bracket one NEW lower"},
        {{"replace", "version/data/A.DDS", file}, 2, "bracket one upper lower"},
        {{"remove", "version/data/A.DDS"}, 2, "bracket one upper lower"},
        {{"rename", "version/data/A.DDS", "Version/x"}, 2, "bracket one upper lower"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const QByteArray twins = Archive("twins.kbx", entries);
        Args args{c.args[0], twins};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const KbxRun r = RunKbx(args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        QByteArrayList bytes;
        for (const QByteArray& line : RunKbx({"list", twins}).out.split('\n'))
            if (!line.isEmpty())
                bytes << RunKbx({"extract", twins, line.split('\t').value(3), "-O"}).out;
        EXPECT_EQ(bytes.join(' '), c.after);
    }
    const QByteArray twins = Archive("twins.kbx", entries);
    EXPECT_EQ(RunKbx({"extract", twins, "Version/Data/a[1].dds", "-O"}).out, "bracket");
    EXPECT_EQ(RunKbx({"remove", twins, "VERSION/DATA/A.DDS"}).err,
              Failure(twins,
                      "VERSION/DATA/A.DDS: names several entries: Version\\Data\\A.dds, "
                      "Version\\Data\\a.dds"));
}

// A second editor waits for the first and then edits its result, or with
// --no-wait refuses; a signal after the new archive is published changes
// nothing and the run reports its success.
TEST_F(Cli, OneEditorAtATime) {
    const QByteArray wait = "kbx: " + good + ": waiting for another process editing this archive\n";
    int held = ::open(good.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const KbxRun busy = RunKbx({"remove", "--no-wait", good, "Version/a.txt"});
    EXPECT_EQ(busy.code, 2);
    EXPECT_EQ(busy.err, Failure(good, "another process is editing this archive"));
    const KbxRun waited = RunKbx({"remove", good, "Version/a.txt"}, {.onError = [&](pid_t) {
                                     if (held >= 0) ::close(std::exchange(held, -1));
                                 }});
    EXPECT_EQ(waited.code, 0);
    EXPECT_EQ(waited.err, wait);
    EXPECT_EQ(RunKbx({"list", good}).out.count('\n'), 2);

    const KbxRun late = RunKbx({"remove", "-v", good, "Version/Data/b.dat"},
                               {.onOutput = [](pid_t pid) { ::kill(pid, SIGINT); }});
    EXPECT_EQ(late.code, 0) << late.err.toStdString();
    EXPECT_EQ(RunKbx({"list", good}).out.count('\n'), 1);
}

// diff between archives and unpacked trees: one line per difference in the
// first side's order, names matched as the game matches them, exit 1 when
// anything differs; unpacking and comparing back finds nothing.
TEST_F(Cli, DiffArchivesAndTrees) {
    const QByteArray other = Archive("other.kbx", {{"VERSION\\A.TXT", "alpha"},
                                                   {"Version\\Data\\b.dat", "BETA"},
                                                   {"Version\\Data\\c\x1b.dat", "new"}});
    const QByteArray tree = Path("tree");
    ASSERT_EQ(RunKbx({"unpack", good, "-C", tree}).code, 0);
    const struct {
        Args args;
        int code;
        QByteArray out;
    } cases[] = {
        {{good, good}, 0, ""},
        {{good, tree}, 0, ""},
        {{tree, good}, 0, ""},
        {{good, other}, 1, "- " + kMap + "M Version\\Data\\b.dat\n+ Version\\Data\\c\\x1b.dat\n"},
        {{other, good, "--json"},
         1,
         "{\"a\":\"" + other + "\",\"b\":\"" + good +
             "\",\"changes\":[{\"change\":\"M\",\"name\":\"Version\\\\Data\\\\b.dat\"},"
             "{\"change\":\"-\",\"name\":\"Version\\\\Data\\\\c\\u001b.dat\"},"
             "{\"change\":\"+\",\"name\":\"Version\\\\Data\\\\карта.dat\"}]}\n"},
    };
    for (const auto& c : cases) {
        Args args{"diff"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(Join(args));
        const KbxRun r = RunKbx(args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out);
    }
    // Same sizes, other bytes; a file only in the tree, one of them another's
    // name in other letters (the name in the same letters pairs first).
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/a.txt", "ALPHA"));
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/A.TXT", "alpha"));
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/Data/sub/x", "x"));
    EXPECT_EQ(RunKbx({"diff", good, tree}).out,
              "M Version\\a.txt\n+ Version\\A.TXT\n+ Version\\Data\\sub\\x\n");
}

// Names from a file, one a line or NUL-ended, count as if typed after the
// archive: patterns and exact names alike, NAME FILE pairs as two in a row.
TEST_F(Cli, NamesFromAFile) {
    const QByteArray lines = Path("lines"), nul = Path("nul"), pairs = Path("pairs");
    ASSERT_TRUE(WriteFile(Q(Path("renames")), "Version/a.txt\nVersion/z.txt\n"));
    const QByteArray file = Path("new.txt");
    ASSERT_TRUE(WriteFile(Q(file), "NEW"));
    ASSERT_TRUE(WriteFile(Q(lines), "Version/a.txt\n**/b.*\n"));
    ASSERT_TRUE(WriteFile(Q(nul), QByteArray("Version\\Data\\b.dat\0Version/a.txt", 32)));
    ASSERT_TRUE(WriteFile(Q(pairs), "Version/a.txt\n" + file + "\n"));
    const struct {
        Args args;
        int code;
        QByteArray out;
    } cases[] = {
        {{"list", good, "-T", lines}, 0, "0\n2\n"},
        {{"list", good, "-T", nul, "--null"}, 0, "0\n2\n"},
        {{"list", good, "Version/Data/*", "-T", nul}, 1, "1\n2\n"},
        {{"list", good, "--null"}, 2, ""},
        {{"replace", good, "-T", pairs}, 0, ""},
        {{"list", good, "-T", Path("none")}, 2, ""},
        {{"rename", good, "-T", Path("renames")}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        QByteArray first;
        for (const QByteArray& line : r.out.split('\n'))
            if (!line.isEmpty()) first += line.split('\t').value(0) + '\n';
        EXPECT_EQ(first, c.out);
    }
    EXPECT_EQ(RunKbx({"extract", good, "Version/z.txt", "-O"}).out, "NEW");
}

// undo takes back the last -i edit while the archive is unchanged.
TEST_F(Cli, UndoInPlace) {
    const QByteArray file = Path("new.txt");
    ASSERT_TRUE(WriteFile(Q(file), "NEW BYTES"));
    const struct {
        Args args;
        int code;
        QByteArray err = {};
    } steps[] = {
        {{"rename", "-i", good, "Version/a.txt", "Version/z.txt"}, 0},
        {{"undo", good}, 0},  // else the next step finds no Version/a.txt
        {{"replace", "-i", good, "Version/a.txt", file}, 0},
        {{"undo", good}, 0},
        {{"undo", good}, 2, Failure(good, "nothing to undo: no edit in place is recorded")},
        {{"add", "--in-place", good, "Version/n.txt", file}, 0},
        {{"remove", good, "Version/n.txt"}, 0},
        {{"undo", good},
         2,
         Failure(good, "cannot undo: the archive changed since its last edit in place")},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(Join(s.args));
        const KbxRun r = RunKbx(s.args);
        EXPECT_EQ(std::pair(r.code, r.err), std::pair(s.code, s.err));
    }
    EXPECT_EQ(RunKbx({"extract", good, "**", "-O"}).out, "alphamapbeta");
}

// kbx -i killed at any moment: the next command leaves the archive as it
// was or as edited, byte for byte, and says when it rolled back.
TEST_F(Cli, KilledEditsRollBack) {
    std::vector<RawEntry> entries;
    for (int i = 0; i < 4; ++i)
        entries.push_back(
            {"Version\\f" + QByteArray::number(i), QByteArray(1 << 20, char('a' + i))});
    const QByteArray archive = Archive("big.kbx", entries), file = Path("file");
    ASSERT_TRUE(WriteFile(Q(file), QByteArray(3 << 20, 'N')));
    const QByteArray before = ReadFile(Q(archive));
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(RunKbx({"add", "-i", archive, "Version/n", file}).code, 0);
    const qint64 full = clock.nsecsElapsed();
    const QByteArray after = ReadFile(Q(archive));
    for (int run = 0; run < 6; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(WriteFile(Q(archive), before));
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(KBX_PATH, "kbx", "add", "-i", archive.constData(), "Version/n",
                    file.constData(), nullptr);
            ::_exit(127);
        }
        const qint64 wait = full * run / 5;
        const timespec pause{time_t(wait / 1'000'000'000), long(wait % 1'000'000'000)};
        ::nanosleep(&pause, nullptr);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const KbxRun list = RunKbx({"list", archive});
        EXPECT_TRUE(list.code == 0 &&
                    (list.err.isEmpty() || list.err == Failure(archive,
                                                               "rolled back an "
                                                               "interrupted edit")))
            << list.err.toStdString();
        EXPECT_TRUE(ReadFile(Q(archive)) == before || ReadFile(Q(archive)) == after);
    }
}

// The modder's loop: unpack, edit, a dry run that changes nothing, update
// (whole and in place), and diff then finds nothing; an update with nothing
// to do leaves the archive's file as it was.
TEST_F(Cli, UnpackEditUpdateDiff) {
    const QByteArray tree = Path("work");
    ASSERT_EQ(RunKbx({"unpack", good, "-C", tree}).code, 0);
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/a.txt", "ALPHA"));  // same size, other bytes
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/Data/new/x.dat", "x"));
    const QByteArray before = ReadFile(Q(good));
    const QByteArray changes = "Version\\a.txt\nVersion\\Data\\new\\x.dat\n";
    for (const char* dry : {"-n", "--dry-run"}) {
        const KbxRun r = RunKbx({"update", dry, good, tree});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, changes);
    }
    EXPECT_EQ(RunKbx({"remove", "-n", good, "Version/Data"}).out,
              "Version\\Data\\карта.dat\nVersion\\Data\\b.dat\n");
    EXPECT_EQ(RunKbx({"add", "-n", good, "Other/x", Path("work/Version/a.txt")}).code, 2);
    EXPECT_EQ(RunKbx({"rename", "-n", good, "Version/a.txt", "version/z"}).out,
              "Version\\a.txt -> version\\z\n");
    // What a pack of the tree would hold (its left-out folder named on stderr).
    const KbxRun pack = RunKbx({"pack", "-n", tree, "-o", good});
    EXPECT_EQ(std::pair(pack.code, pack.out),
              std::pair(1, "Version\\Data\\b.dat\n" + kMap + "Version\\a.txt\n"));
    EXPECT_EQ(ReadFile(Q(good)), before);
    const KbxRun update = RunKbx({"update", "-v", good, tree});
    EXPECT_EQ(update.code, 0) << update.err.toStdString();
    EXPECT_TRUE(update.out.startsWith(changes + "update: 2 entries, ")) << update.out.toStdString();
    EXPECT_EQ(RunKbx({"diff", good, tree}).code, 0);
    struct stat was {
    }, now{};
    ASSERT_EQ(::stat(good.constData(), &was), 0);
    EXPECT_EQ(RunKbx({"update", good, tree}).code, 0);
    ASSERT_EQ(::stat(good.constData(), &now), 0);
    EXPECT_TRUE(was.st_ino == now.st_ino && was.st_mtim.tv_nsec == now.st_mtim.tv_nsec);
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/Data/b.dat", "BETA!"));
    // In place, the bytes written are the new file's and its record.
    EXPECT_TRUE(RunKbx({"update", "-i", "-v", good, tree})
                    .out.startsWith("Version\\Data\\b.dat\nupdate: 1 entry, 141 B in "));
    EXPECT_EQ(RunKbx({"diff", good, tree}).out, "");
}

}  // namespace
