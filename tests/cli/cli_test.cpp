// kbx run as a process: exit codes, stdout and stderr bytes, files written.

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

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

// The entries of the good archive, and their names in directory order as
// kbx prints them.
const RawEntry kA{"Version\\a.txt", "alpha"}, kM{Cp1251("Version\\Data\\карта.dat"), "map"},
    kB{"Version\\Data\\b.dat", "beta"};
const QByteArray kMap = "Version\\Data\\карта.dat\n";
const QByteArray kNames = "Version\\a.txt\n" + kMap + "Version\\Data\\b.dat\n";
// Its listing, a line an entry: index, offset, size, name.
const QByteArray kList0 = "0\t428\t5\tVersion\\a.txt\n", kList1 = "1\t433\t3\t" + kMap,
                 kList2 = "2\t436\t4\tVersion\\Data\\b.dat\n";

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        good = Archive("good.kbx", {kA, kM, kB});
        qputenv("XDG_CACHE_HOME", Path("cache"));  // the stamps of trees' files
    }
    QByteArray Path(const QByteArray& name) const { return B(tmp.filePath(Q(name))); }
    // Writes the file `name` in the test's folder and returns its path.
    QByteArray File(const QByteArray& name, const QByteArray& bytes) const {
        const QByteArray p = Path(name);
        EXPECT_TRUE(WriteFile(Q(p), bytes)) << name.toStdString();
        return p;
    }
    QByteArray Archive(const QByteArray& name, const std::vector<RawEntry>& entries) const {
        return File(name, BuildArchive(entries));
    }
    testutil::TempDir tmp;
    QByteArray good;
};

// What one run of kbx answers: its exit code and the bytes on stdout and
// stderr (stdout sent to `stdoutPath` when one is given).
struct Answer {
    Args args;
    QByteArray err;
    int code = 2;
    QByteArray out = {};
    const char* stdoutPath = nullptr;
};

// Runs each row in turn: later rows see what earlier ones changed.
void ExpectAnswers(const std::vector<Answer>& rows) {
    for (const Answer& a : rows) {
        SCOPED_TRACE(Join(a.args));
        const KbxRun r = RunKbx(a.args, {.stdoutPath = a.stdoutPath});
        EXPECT_EQ(r.code, a.code);
        EXPECT_EQ(r.out, a.out);
        EXPECT_EQ(r.err, a.err);
    }
}

// Usage mistakes: one line naming the real problem, then a hint to --help.
// Other errors: one line, the path as typed, the real reason. A failed write
// to stdout counts too.
TEST_F(Cli, ExactAnswers) {
    const QByteArray missing = Path("missing.kbx"), text = File("text.kbx", "not an archive");
    const QByteArray plain = File("plain", "a file"), blocked = Path("blocked"),
                     dir = B(tmp.path());
    File("blocked/Version", "a file");
    const QByteArray hostile = Archive("hostile.kbx", {{"C:\\evil", "x"}, {"Version\\ok", "y"}});
    const QByteArray empty = Archive("empty.kbx", {});
    const QByteArray overlap =
        Archive("overlap.kbx", {{"Version\\a", "aa"}, {"Version\\b", "b", -1}});
    const QByteArray full = "kbx: cannot write to standard output: No space left on device\n";
    const QByteArray main = RunKbx({"--help"}).out;
    // A tree whose only files lie in a sub-folder: pack writes an empty archive and fails.
    const QByteArray tree = Path("tree"), sub = tree + "/Version/Data/textures";
    ASSERT_TRUE(WriteFile(Q(sub + "/a.dds"), "a") && WriteFile(Q(sub + "/deep/b.dds"), "b"));
    const QByteArray loop = Path("loop");  // a link to itself
    ASSERT_EQ(::symlink("loop", loop.constData()), 0);
    // diff between archives and unpacked trees: one line per difference in
    // the first side's order, names matched as the game matches them.
    const QByteArray other = Archive("other.kbx", {{"VERSION\\A.TXT", "alpha"},
                                                   {"Version\\Data\\b.dat", "BETA"},
                                                   {"Version\\Data\\c\x1b.dat", "new"}});
    const QByteArray unpacked = Path("unpacked");
    ASSERT_EQ(RunKbx({"unpack", good, "-C", unpacked}).code, 0);
    ExpectAnswers({
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
        {{"extract", good, "**", "-O", "-C", dir}, Usage("extract: -O and -C exclude each other")},
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
        // As root a read-only folder takes files: a path under a file fails for anyone.
        {{"pack", "-r", tree, "-o", plain + "/p.kbx"},
         Failure(plain + "/p.kbx", "Not a directory")},
        {{"pack", "-r", tree, "-o", loop}, Failure(loop, "Too many levels of symbolic links")},
        {{"pack", "-r", tree, "-o", sub + "/a.dds"},
         Failure(tree, "Version\\Data\\textures\\a.dds: left out: it is the archive being written"),
         0},
        {{"--version"}, "", 0, "kbx (Quillmere) " QUILLMERE_VERSION "\n"},
        {{"list", missing}, Failure(missing, "No such file or directory")},
        // Quoted: also the line separator, the bidirectional isolates and the
        // byte order mark, which reorder or hide text.
        {{"list", "\x1b[2J\xc2\x9b\xff\xe2\x80\xa8\xe2\x81\xa9\xef\xbb\xbf.kbx"},
         Failure("\\x1b[2J\\u009b\\xff\\u2028\\u2069\\ufeff.kbx",
                 "cannot use this path: it is not valid text in the system's encoding")},
        {{"verify", dir}, Failure(dir, "Is a directory")},
        {{"unpack", text}, Failure(text, "not a KBX archive")},
        {{"unpack", good, "-C", plain + "/sub"},
         Failure(plain + "/sub", "cannot create folder: Not a directory")},
        {{"unpack", good, "-C", blocked}, Failure(blocked + "/Version/Data", "Not a directory")},
        {{"unpack", hostile, "-C", Path("out")},
         Failure(hostile, "C:\\evil: unsafe name (path with a drive letter)"),
         1},
        {{"extract", good, "x*", "-C", Path("none")}, Failure(good, "x*: no matching entry"), 1},
        // Patterns select entries as the game's file system names them.
        {{"list", good, "version/data/*"}, "", 0, kList1 + kList2},
        {{"list", good, "VERSION\\A.TXT"}, "", 0, kList0},
        {{"list", good, "**/*.dat"}, "", 0, kList1 + kList2},
        {{"list", good, "Version/Data"}, "", 0, kList1 + kList2},
        {{"list", good, "*/?.txt", "*/*/b.*"}, "", 0, kList0 + kList2},
        {{"list", good, "Version/[!a]*"}, "", 0, kList1 + kList2},
        {{"list", good, "Version/[!ad]*"}, Failure(good, "Version/[!ad]*: no matching entry"), 1},
        {{"list", good, "Version/*", "nope"},
         Failure(good, "nope: no matching entry"),
         1,
         kList0 + kList1 + kList2},
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
        {{"diff", good, good}, "", 0},
        {{"diff", good, unpacked}, "", 0},
        {{"diff", unpacked, good}, "", 0},
        {{"diff", good, other},
         "",
         1,
         "- " + kMap + "M Version\\Data\\b.dat\n+ Version\\Data\\c\\x1b.dat\n"},
        {{"diff", other, good, "--json"},
         "",
         1,
         "{\"a\":\"" + other + "\",\"b\":\"" + good +
             "\",\"changes\":[{\"change\":\"M\",\"name\":\"Version\\\\Data\\\\b.dat\"},"
             "{\"change\":\"-\",\"name\":\"Version\\\\Data\\\\c\\u001b.dat\"},"
             "{\"change\":\"+\",\"name\":\"Version\\\\Data\\\\карта.dat\"}]}\n"},
    });
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
        EXPECT_EQ(std::pair(viaHelp.code, viaOption.code), std::pair(0, 0));
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
    QStringList names;
    for (const QJsonValue& e :
         QJsonDocument::fromJson(RunKbx({"list", hostile, "--json"}).out)["entries"].toArray())
        names << e["name"].toString();
    EXPECT_EQ(names, (QStringList{title, lines, "Version\\Data\\карта.dat", "Version\\del\x7f"}));

    const QByteArray out = Path("out");
    const struct {
        Args args;
        int code;
        int lines;  // lines on stdout and stderr together
    } cases[] = {
        {{"verify", hostile}, 1, 4},
        {{"unpack", "-v", hostile, "-C", out}, 1, 7},
        {{"extract", "-v", hostile, "**", "-C", out}, 1, 7},
        {{"rename", "-n", hostile, title, "Version/t"}, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code);
        // No control character but the tab and the newline that separate
        // fields and lines: nothing a terminal would act on.
        const QRegularExpression control(
            QStringLiteral("[\\x{0}-\\x{8}\\x{b}-\\x{1f}\\x{7f}-\\x{9f}]"));
        EXPECT_FALSE(QString::fromUtf8(r.out + r.err).contains(control))
            << (r.out + r.err).toStdString();
        EXPECT_EQ(r.out.count('\n') + r.err.count('\n'), c.lines);
    }
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
    const char* invalid = "cannot use this path: it is not valid text in the system's encoding";
    ExpectAnswers({
        {{"list", oddArchive}, Failure(Path("a") + "\\xfe.kbx", invalid)},
        {{"unpack", oddArchive, "-C", Path("u")}, Failure(Path("a") + "\\xfe.kbx", invalid)},
        {{"pack", root, "-o", Path("p") + "\xfd.kbx"}, Failure(Path("p") + "\\xfd.kbx", invalid)},
    });
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

// tar's overwrite options: an existing file is replaced, kept (an error),
// or left while the others are written.
TEST_F(Cli, OldFiles) {
    const std::pair<const char*, QByteArray> cases[] = {
        {"", "alpha"}, {"--keep-old-files", "old"}, {"-k", "old"}, {"--skip-old-files", "old"}};
    for (const auto& [option, after] : cases)
        File(QByteArray("old") + option + "/Version/a.txt", "old");
    const QByteArray kept = Failure(good, "Version\\a.txt: cannot create file: File exists");
    ExpectAnswers({
        {{"unpack", good, "-C", Path("old")}, "", 0},
        {{"unpack", good, "-C", Path("old--keep-old-files"), "--keep-old-files"}, kept, 1},
        {{"unpack", good, "-C", Path("old-k"), "-k"}, kept, 1},
        {{"unpack", good, "-C", Path("old--skip-old-files"), "--skip-old-files"}, "", 0},
    });
    for (const auto& [option, after] : cases) {
        const QString root = Q(Path(QByteArray("old") + option));
        EXPECT_EQ(ReadFile(root + "/Version/a.txt"), after) << option;
        EXPECT_EQ(ReadFile(root + "/Version/Data/b.dat"), "beta") << option;
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

// SIGINT, SIGTERM and SIGHUP stop a run at its next entry, file or block with
// exit status 128 + N: an unpack leaves whole files only; pack, replace and
// verify leave every file as it was (no temporary, the old archive's bytes)
// and print no closing line. Each run still has more to print than a pipe
// holds when the signal comes (replace: a gigabyte to copy).
TEST_F(Cli, SignalsStopBetweenEntries) {
    std::vector<RawEntry> many, broken;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray name = "Version\\Data\\" + QByteArray(80, 'f') + QByteArray::number(i);
        if (i < 3000) many.push_back({name, QByteArray::number(i)});
        broken.push_back({name, {}, 0, 1 << 30, true});  // out of bounds
    }
    const QByteArray big = Archive("w/big.kbx", many), bad = Archive("w/broken.kbx", broken);
    const QByteArray tree = Path("tree"), out = Path("out"), huge = Path("huge");
    ASSERT_EQ(RunKbx({"unpack", big, "-C", tree}).code, 0);
    ASSERT_TRUE(WriteFile(Q(huge), {}) && QFile::resize(Q(huge), 1 << 30));
    const std::pair<Args, bool> cases[] = {
        // second: signalled at its progress line on a terminal, not at its output
        {{"unpack", "-v", big, "-C", out}, false},
        {{"pack", "-v", tree, "-o", Archive("w/old.kbx", {})}, false},
        {{"verify", bad}, false},
        {{"verify", "--json", bad}, false},
        {{"replace", big, many[0].name, huge}, true},
    };
    const std::map<QString, QByteArray> before = Snapshot(Q(Path("w")));
    for (const auto& [args, progress] : cases)
        for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(Join(args) + ' ' + std::to_string(signo));
            QDir(Q(out)).removeRecursively();
            bool sent = false;
            const auto send = [&](pid_t pid) { sent = sent || ::kill(pid, signo) == 0; };
            const KbxRun r =
                RunKbx(args, {.stderrOnTerminal = progress, .onOutput = send, .onError = send});
            EXPECT_EQ(r.code, 128 + signo) << r.err.toStdString();
            EXPECT_FALSE(r.out.contains(" entries, ") || r.out.endsWith("}\n"));  // no closing line
            EXPECT_LT(r.out.size(), 2 << 20);  // verify: the 1 MiB block it was writing at most
            EXPECT_EQ(Snapshot(Q(Path("w"))), before);
            const std::map<QString, QByteArray> files = Snapshot(Q(out));
            EXPECT_EQ(files.empty(), args[0] != "unpack");
            EXPECT_LT(files.size(), many.size());
            for (const auto& [name, bytes] : files) EXPECT_EQ(name.mid(93).toLatin1(), bytes);
        }
}

// replace, add and remove write a new archive in the old one's place, its
// data back to back; the entries they leave alone keep their bytes. When
// they fail, the archive is left as it was.
TEST_F(Cli, ChangesInPlace) {
    const QByteArray file = File("new.txt", "NEW BYTES");
    const QByteArray before = ReadFile(Q(good));
    const struct {
        Args args;
        int code;
        std::vector<RawEntry> after;
    } cases[] = {
        {{"replace", good, "version/A.TXT", file}, 0, {{kA.name, "NEW BYTES"}, kM, kB}},
        {{"add", good, "Version/Data/new.dat", file},
         0,
         {kA, kM, kB, {"Version\\Data\\new.dat", "NEW BYTES"}}},
        {{"remove", good, "**/b.*"}, 0, {kA, kM}},
        {{"replace", good, "nope", file}, 1, {kA, kM, kB}},
        {{"remove", good, "Version/a.txt", "nope"}, 1, {kA, kM, kB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        ASSERT_TRUE(WriteFile(Q(good), before));
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(std::pair(r.code, r.out), std::pair(c.code, QByteArray())) << r.err.toStdString();
        EXPECT_EQ(ReadFile(Q(good)), BuildArchive(c.after));
    }
}

// A name typed as list prints it selects that entry, never one a pattern
// would also match, and of case twins the one typed exactly; an edit that
// cannot tell which entry is meant changes nothing.
TEST_F(Cli, NamesSelectExactly) {
    const QByteArray file = File("new.txt", "NEW");
    const RawEntry bracket{"Version\\Data\\a[1].dds", "bracket"},
        one{"Version\\Data\\a1.dds", "one"}, upper{"Version\\Data\\A.dds", "upper"},
        lower{"Version\\Data\\a.dds", "lower"};
    const std::vector<RawEntry> entries = {bracket, one, upper, lower};
    const struct {
        Args args;
        int code;
        std::vector<RawEntry> after;
    } cases[] = {
        {{"remove", "Version\\Data\\a[1].dds"}, 0, {one, upper, lower}},
        {{"remove", "version/data/A[1].DDS"}, 0, {one, upper, lower}},
        {{"remove", "Version/Data/a[[]1].dds"}, 0, {one, upper, lower}},
        {{"replace", "Version\\Data\\a.dds", file}, 0, {bracket, one, upper, {lower.name, "NEW"}}},
        {{"replace", "./Version//Data/A.dds", file}, 0, {bracket, one, {upper.name, "NEW"}, lower}},
        {{"replace", "version/data/A.DDS", file}, 2, entries},
        {{"remove", "version/data/A.DDS"}, 2, entries},
        {{"rename", "version/data/A.DDS", "Version/x"}, 2, entries},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const QByteArray twins = Archive("twins.kbx", entries);
        Args args{c.args[0], twins};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        EXPECT_EQ(RunKbx(args).code, c.code);
        EXPECT_EQ(ReadFile(Q(twins)), BuildArchive(c.after));
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

// Names from a file, one a line or NUL-ended, count as if typed after the
// archive: patterns and exact names alike, NAME FILE pairs as two in a row.
TEST_F(Cli, NamesFromAFile) {
    const QByteArray lines = File("lines", "Version/a.txt\n**/b.*\n"),
                     file = File("new.txt", "NEW");
    const QByteArray nul = File("nul", QByteArray("Version\\Data\\b.dat\0Version/a.txt", 32));
    const QByteArray pairs = File("pairs", "Version/a.txt\n" + file + "\n");
    const QByteArray renames = File("renames", "Version/a.txt\nVersion/z.txt\n");
    ExpectAnswers({
        {{"list", good, "-T", lines}, "", 0, kList0 + kList2},
        {{"list", good, "-T", nul, "--null"}, "", 0, kList0 + kList2},
        {{"list", good, "Version/Data/*", "-T", nul},
         Failure(good, "Version\\Data\\b.dat\\x00Version/a.txt: no matching entry"),
         1,
         kList1 + kList2},
        {{"list", good, "--null"}, Usage("list: --null needs -T FILE")},
        {{"replace", good, "-T", pairs}, "", 0},
        {{"list", good, "-T", Path("none")}, Failure(Path("none"), "No such file or directory")},
        {{"rename", good, "-T", renames}, "", 0},
        {{"extract", good, "Version/z.txt", "-O"}, "", 0, "NEW"},
    });
}

// undo takes back the last -i edit while the archive is unchanged.
TEST_F(Cli, UndoInPlace) {
    const QByteArray file = File("new.txt", "NEW BYTES");
    ExpectAnswers({
        {{"rename", "-i", good, "Version/a.txt", "Version/z.txt"}, "", 0},
        {{"undo", good}, "", 0},  // else the next step finds no Version/a.txt
        {{"replace", "-i", good, "Version/a.txt", file}, "", 0},
        {{"undo", good}, "", 0},
        {{"undo", good}, Failure(good, "nothing to undo: no edit in place is recorded")},
        {{"add", "--in-place", good, "Version/n.txt", file}, "", 0},
        {{"remove", good, "Version/n.txt"}, "", 0},
        {{"undo", good},
         Failure(good, "cannot undo: the archive changed since its last edit in place")},
        {{"extract", good, "**", "-O"}, "", 0, "alphamapbeta"},
    });
}

// kbx -i killed at any moment: the next command leaves the archive as it
// was or as edited, byte for byte, and says when it rolled back. The kill
// moments spread over one measured run; any of them gives a valid verdict.
TEST_F(Cli, KilledEditsRollBack) {
    std::vector<RawEntry> entries;
    for (int i = 0; i < 4; ++i)
        entries.push_back(
            {"Version\\f" + QByteArray::number(i), QByteArray(1 << 20, char('a' + i))});
    const QByteArray archive = Archive("big.kbx", entries),
                     file = File("file", QByteArray(3 << 20, 'N'));
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
        const auto rolledBack = Failure(archive, "rolled back an interrupted edit");
        EXPECT_TRUE(list.code == 0 && (list.err.isEmpty() || list.err == rolledBack))
            << list.err.toStdString();
        EXPECT_TRUE(ReadFile(Q(archive)) == before || ReadFile(Q(archive)) == after);
    }
}

// The modder's loop: unpack, edit, diff and a dry run that change nothing,
// update (whole and in place), and diff then finds nothing; an update with nothing
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
    // Same sizes, other bytes; a file only in the tree; a link to a folder is
    // not followed.
    ASSERT_TRUE(QFile::link("Data/new", Q(tree) + "/Version/linked"));
    EXPECT_EQ(RunKbx({"diff", good, tree}).out, "M Version\\a.txt\n+ Version\\Data\\new\\x.dat\n");
    ASSERT_TRUE(QFile::remove(Q(tree) + "/Version/linked"));
    // A file only in the tree with another's name in other letters (the name
    // in the same letters pairs first).
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/A.TXT", "alpha"));
    EXPECT_EQ(RunKbx({"diff", good, tree}).out,
              "M Version\\a.txt\n+ Version\\A.TXT\n+ Version\\Data\\new\\x.dat\n");
    ASSERT_TRUE(QFile::remove(Q(tree) + "/Version/A.TXT"));
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
    const auto was = FileStamp(Q(good));
    EXPECT_NE(was, decltype(was){});
    EXPECT_EQ(RunKbx({"update", good, tree}).code, 0);
    EXPECT_EQ(FileStamp(Q(good)), was);
    ASSERT_TRUE(WriteFile(Q(tree) + "/Version/Data/b.dat", "BETA!"));
    // In place, the bytes written are the new file's and its record.
    EXPECT_TRUE(RunKbx({"update", "-i", "-v", good, tree})
                    .out.startsWith("Version\\Data\\b.dat\nupdate: 1 entry, 141 B in "));
    EXPECT_EQ(RunKbx({"diff", good, tree}).out, "");
}

// Stamps kept by pack and carried on by update: a change that keeps the
// size and the modification time is still found after a dry run, and after
// an update in place; an untouched file is never taken for changed.
TEST_F(Cli, StampedTreeUpdates) {
    const QString tree = Q(Path("tree")), a = tree + "/Version/a.txt";
    ASSERT_TRUE(WriteFile(a, "alpha") && WriteFile(tree + "/Version/Data/b.dat", "beta!"));
    const timespec settle{0, 60'000'000};  // past the clock's tick: the files' stamps are kept
    ::nanosleep(&settle, nullptr);
    ASSERT_EQ(RunKbx({"pack", B(tree), "-o", good}).code, 0);
    struct stat st {};
    for (const QByteArray bytes : {"ALPHA", "alpHA"}) {
        ASSERT_TRUE(::stat(QFile::encodeName(a), &st) == 0 && WriteFile(a, bytes));
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(a), times, 0), 0);
        ::nanosleep(&settle, nullptr);
        EXPECT_EQ(RunKbx({"update", "-n", good, B(tree)}).out, "Version\\a.txt\n");
        EXPECT_EQ(RunKbx({"update", "-i", "-v", good, B(tree)}).out.left(14), "Version\\a.txt\n");
        EXPECT_EQ(RunKbx({"diff", good, B(tree)}).out, "");
    }
}

}  // namespace
