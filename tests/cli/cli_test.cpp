// kbx run as a process: exit codes, stdout and stderr bytes, files written.

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>

#include "run_kbx.h"
#include "test_util.h"

using namespace testutil;

namespace {

QByteArray B(const QString& s) {
    return QFile::encodeName(s);
}

// True when `bytes` hold no control character but the tab and the newline
// that separate fields and lines: nothing a terminal would act on.
bool Printable(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n') || (u >= 0x7F && u <= 0x9F)) return false;
    }
    return true;
}

std::vector<QByteArray> Files(const QString& root) {
    std::vector<QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) files.push_back(B(QDir(root).relativeFilePath(it.next())));
    std::sort(files.begin(), files.end());
    return files;
}

QByteArray ReadRaw(const QByteArray& path) {
    QFile f;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) return "<missing>";
    return f.readAll();
}

KbxOptions ToFull() {
    KbxOptions o;
    o.stdoutPath = "/dev/full";
    return o;
}

KbxOptions OnTerminal() {
    KbxOptions o;
    o.stderrOnTerminal = true;
    return o;
}

const QByteArray kHint = "Try 'kbx --help' for more information.\n";

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        good = B(tmp.filePath(QStringLiteral("good.kbx")));
        ASSERT_TRUE(
            WriteFile(QFile::decodeName(good),
                      BuildArchive({{"Version\\a.txt", "alpha"},
                                    {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "map"},
                                    {"Version\\Data\\b.dat", "beta"}})));
    }
    QByteArray Path(const char* name) const { return B(tmp.filePath(QString::fromUtf8(name))); }
    QByteArray Archive(const char* name, const std::vector<RawEntry>& entries) const {
        const QByteArray p = Path(name);
        EXPECT_TRUE(WriteFile(QFile::decodeName(p), BuildArchive(entries)));
        return p;
    }
    testutil::TempDir tmp;
    QByteArray good;
};

// Usage errors: one line naming the real problem, then a hint to --help.
TEST_F(Cli, UsageErrorsNameTheProblem) {
    const struct {
        std::vector<QByteArray> args;
        QByteArray err;
    } cases[] = {
        {{}, "kbx: missing command\n" + kHint},
        {{"frobnicate"}, "kbx: unknown command frobnicate\n" + kHint},
        {{"--frob"}, "kbx: unknown option --frob\n" + kHint},
        {{"list"}, "kbx: list: missing archive\nTry 'kbx list --help' for more information.\n"},
        {{"list", good, "-C", "x"},
         "kbx: list: unknown option -C\nTry 'kbx list --help' for more information.\n"},
        {{"list", good, "--json=yes"},
         "kbx: list: option --json takes no value\nTry 'kbx list --help' for more information.\n"},
        {{"verify", good, "more"},
         "kbx: verify: unexpected argument more\nTry 'kbx verify --help' for more information.\n"},
        {{"extract", good},
         "kbx: extract: missing pattern\nTry 'kbx extract --help' for more information.\n"},
        {{"extract", good, "x", "-k", "--skip-old-files"},
         "kbx: extract: --keep-old-files and --skip-old-files exclude each other\n"
         "Try 'kbx extract --help' for more information.\n"},
        {{"unpack", good, "-C"},
         "kbx: unpack: option -C needs a value\nTry 'kbx unpack --help' for more information.\n"},
        {{"pack", "root"},
         "kbx: pack: missing -o ARCHIVE\nTry 'kbx pack --help' for more information.\n"},
        {{"pack", "root", "--output"},
         "kbx: pack: option --output needs a value\nTry 'kbx pack --help' for more "
         "information.\n"},
        {{"replace", good, "a"},
         "kbx: replace: missing NAME and FILE\nTry 'kbx replace --help' for more information.\n"},
        {{"add", good, "a", "f", "b"},
         "kbx: add: FILE missing after the last NAME\nTry 'kbx add --help' for more "
         "information.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QByteArrayList(c.args.begin(), c.args.end()).join(' ').toStdString());
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        if (!c.err.isEmpty()) {
            EXPECT_EQ(r.err, c.err);
        }
    }
}

TEST_F(Cli, HelpAndVersion) {
    const KbxRun main = RunKbx({"--help"});
    EXPECT_EQ(main.code, 0);
    for (const char* command :
         {"list", "verify", "extract", "unpack", "pack", "replace", "add", "remove"}) {
        SCOPED_TRACE(command);
        EXPECT_TRUE(main.out.contains(QByteArray("  ") + command + ' '));
        const KbxRun viaHelp = RunKbx({"help", command});
        const KbxRun viaOption = RunKbx({command, "--help"});
        EXPECT_EQ(viaHelp.code, 0);
        EXPECT_TRUE(viaHelp.out.startsWith(QByteArray("Usage: kbx ") + command));
        EXPECT_EQ(viaHelp.out, viaOption.out);
        EXPECT_EQ(viaOption.code, 0);
    }
    const KbxRun version = RunKbx({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "kbx (Quillmere) " QUILLMERE_VERSION "\n");
}

// Names and paths reach the terminal only quoted: one line per entry, every
// control character visible; JSON carries the exact name.
TEST_F(Cli, NamesAndPathsAreQuoted) {
    const QByteArray title = "Version\\\x1b]0;t\x07\x1b[2J.txt";
    const QByteArray lines = "Version\\a\tb\nc";
    const QByteArray hostile =
        Archive("hostile.kbx", {{title, "x"},
                                {lines, "y"},
                                {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "map"},
                                {"Version\\del\x7f", "z"}});
    const KbxRun list = RunKbx({"list", hostile});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(
        list.out,
        "0\t564\t1\tVersion\\\\x1b]0;t\\x07\\x1b[2J.txt\n1\t565\t1\tVersion\\a\\x09b\\x0ac\n" +
            QStringLiteral("2\t566\t3\tVersion\\Data\\карта.dat\n").toUtf8() +
            "3\t569\t1\tVersion\\del\\x7f\n");
    const QJsonArray entries =
        QJsonDocument::fromJson(RunKbx({"list", hostile, "--json"}).out)["entries"].toArray();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0]["name"].toString().toLatin1(), title);
    EXPECT_EQ(entries[1]["name"].toString().toLatin1(), lines);
    EXPECT_EQ(entries[2]["name"].toString(), QStringLiteral("Version\\Data\\карта.dat"));

    const QByteArray out = Path("out");
    const QByteArray odd = "\x1b[2J\xc2\x9b\xff\xe2\x80\xa8\xe2\x81\xa9\xef\xbb\xbf.kbx";
    const struct {
        std::vector<QByteArray> args;
        int code;
        int lines;  // lines on stdout and stderr together
    } cases[] = {
        {{"verify", hostile}, 1, 4},
        {{"unpack", "-v", hostile, "-C", out}, 1, 7},
        {{"extract", "-v", hostile, "**", "-C", out}, 1, 7},
        {{"list", odd}, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0].toStdString());
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(Printable(r.out)) << r.out.toStdString();
        EXPECT_TRUE(Printable(r.err)) << r.err.toStdString();
        EXPECT_EQ(r.out.count('\n') + r.err.count('\n'), c.lines)
            << r.out.toStdString() << r.err.toStdString();
    }
    // Also the line separator, the bidirectional isolates and the byte order
    // mark, which reorder or hide text.
    EXPECT_TRUE(RunKbx({"list", odd})
                    .err.startsWith("kbx: \\x1b[2J\\u009b\\xff\\u2028\\u2069\\ufeff.kbx: "));
}

// A failed write to stdout is reported and exits 2.
TEST_F(Cli, FailedWritesToStdoutCount) {
    for (const std::vector<QByteArray>& args : std::vector<std::vector<QByteArray>>{
             {"list", good},
             {"list", good, "--json"},
             {"verify", good, "-v"},
             {"extract", good, "**", "-O"},
             {"--help"},
         }) {
        SCOPED_TRACE(args[0].toStdString());
        const KbxRun r = RunKbx(args, ToFull());
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.endsWith("No space left on device\n")) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1);
    }
}

// A path is used exactly as given; one that cannot be is refused, and
// nothing is written.
TEST_F(Cli, PathsAreBytes) {
    const QByteArray odd = Path("d") + "\xff";
    KbxRun r;
    // Under a UTF-8 locale and under C alike (Qt decodes paths as UTF-8 in both).
    for (const QByteArray locale : {"LANG=C.UTF-8", "LANG=C"}) {
        SCOPED_TRACE(locale.toStdString());
        KbxOptions o;
        o.env = {locale, "LC_ALL="};
        r = RunKbx({"unpack", good, "-C", odd + locale.right(1)}, o);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(ReadRaw(odd + locale.right(1) + "/Version/Data/b.dat"), "beta");
        std::filesystem::remove_all((odd + locale.right(1)).toStdString());
    }

    const QByteArray oddArchive = Path("a") + "\xfe.kbx";
    ASSERT_TRUE(QFile::copy(QFile::decodeName(good), QFile::decodeName(Path("plain.kbx"))));
    ASSERT_EQ(::rename(Path("plain.kbx").constData(), oddArchive.constData()), 0);
    const QByteArray root = Path("root");
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(root) + QStringLiteral("/Version/Data")));
    const std::vector<QByteArray> before = Files(tmp.path());
    for (const std::vector<QByteArray>& args : std::vector<std::vector<QByteArray>>{
             {"list", oddArchive},
             {"unpack", oddArchive, "-C", Path("u")},
             {"pack", root, "-o", Path("p") + "\xfd.kbx"},
         }) {
        SCOPED_TRACE(args[0].toStdString());
        r = RunKbx(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(
            r.err.endsWith(": cannot use this path: it is not valid text in the system's "
                           "encoding\n"))
            << r.err.toStdString();
    }
    EXPECT_EQ(Files(tmp.path()), before);
    std::filesystem::remove(oddArchive.toStdString());  // TempDir cannot name it
}

// Like tar: nothing on success; -v names each entry and ends with the time.
TEST_F(Cli, SilenceIsSuccess) {
    const QByteArray root = Path("root");
    const struct {
        std::vector<QByteArray> args;
        QByteArray verboseOut;  // without the closing timing line
    } cases[] = {
        {{"unpack", good, "-C", root},
         "Version\\a.txt\n" + QStringLiteral("Version\\Data\\карта.dat\n").toUtf8() +
             "Version\\Data\\b.dat\n"},
        {{"extract", good, "Version/a.txt", "-C", root}, "Version\\a.txt\n"},
        {{"pack", root, "--output=" + Path("p.kbx")},
         "Version\\Data\\b.dat\n" + QStringLiteral("Version\\Data\\карта.dat\n").toUtf8() +
             "Version\\a.txt\n"},
        {{"verify", good}, ""},
        {{"replace", good, "Version/a.txt", root + "/Version/a.txt"}, ""},  // the same bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0].toStdString());
        KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        std::vector<QByteArray> verbose = c.args;
        verbose.push_back("-v");
        r = RunKbx(verbose);
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.out.startsWith(c.verboseOut)) << r.out.toStdString();
        const QByteArray last = r.out.mid(c.verboseOut.size());
        EXPECT_TRUE(
            QRegularExpression(
                QStringLiteral("^[a-z]+: .* in [0-9.]+ s\n$|^[0-9]+ entries, no problems\n$"))
                .match(QString::fromUtf8(last))
                .hasMatch())
            << last.toStdString();
    }
}

// Patterns select entries as the game's file system names them.
TEST_F(Cli, PatternsSelectEntries) {
    const struct {
        std::vector<QByteArray> patterns;
        QByteArray indexes;  // first column of the listing
        int code;
    } cases[] = {
        {{"version/data/*"}, "12", 0},     {{"VERSION\\A.TXT"}, "0", 0},
        {{"**/*.dat"}, "12", 0},           {{"Version/Data"}, "12", 0},
        {{"*/?.txt", "*/*/b.*"}, "02", 0}, {{"Version/[!a]*"}, "12", 0},
        {{"Version/[!ad]*"}, "", 1},       {{"Version/*", "nope"}, "012", 1},
    };
    for (const auto& c : cases) {
        std::vector<QByteArray> args{"list", good};
        args.insert(args.end(), c.patterns.begin(), c.patterns.end());
        SCOPED_TRACE(QByteArrayList(args.begin(), args.end()).join(' ').toStdString());
        const KbxRun r = RunKbx(args);
        QByteArray first;
        for (const QByteArray& line : r.out.split('\n'))
            if (!line.isEmpty()) first += line.left(1);
        EXPECT_EQ(first, c.indexes);
        EXPECT_EQ(r.code, c.indexes.isEmpty() ? 1 : c.code);
    }
    const KbxRun none = RunKbx({"extract", good, "x*", "-C", Path("none")});
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.err, "kbx: " + good + ": x*: no matching entry\n");
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(Path("none"))));
}

TEST_F(Cli, ExtractToStdout) {
    const KbxRun r = RunKbx({"extract", good, "version/data/*", "-O", "-v"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "mapbeta");
    EXPECT_TRUE(r.err.startsWith(
        QStringLiteral("Version\\Data\\карта.dat\nVersion\\Data\\b.dat\n").toUtf8()));
}

// Progress in entries and bytes on a terminal, erased at the end; none
// when stderr is not a terminal.
TEST_F(Cli, ProgressOnlyOnATerminal) {
    ASSERT_EQ(RunKbx({"unpack", good, "-C", Path("t")}).code, 0);
    const struct {
        std::vector<QByteArray> args;
        QByteArray first;
    } cases[] = {
        {{"unpack", good, "-C", Path("u")}, "\r\x1b[Kunpack: 0/3 entries, 0 B/12 B"},
        {{"extract", good, "**/*.dat", "-C", Path("x")}, "\r\x1b[Kextract: 0/2 entries, 0 B/7 B"},
        {{"pack", Path("t"), "-o", Path("p.kbx")}, "\r\x1b[Kpack: 0/3 entries, 0 B/12 B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0].toStdString());
        KbxRun r = RunKbx(c.args, OnTerminal());
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.err.startsWith(c.first)) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith("\r\x1b[K"));
        EXPECT_FALSE(r.err.contains('\n'));
        r = RunKbx(c.args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, "");
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
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/Version")));
        ASSERT_TRUE(WriteFile(root + QStringLiteral("/Version/a.txt"), "old"));
        std::vector<QByteArray> args{"unpack", good, "-C", B(root)};
        if (*c.option) args.push_back(c.option);
        const KbxRun r = RunKbx(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(ReadFile(root + QStringLiteral("/Version/a.txt")), c.after);
        EXPECT_EQ(ReadFile(root + QStringLiteral("/Version/Data/b.dat")), "beta");
        EXPECT_EQ(r.err.isEmpty(), c.code == 0) << r.err.toStdString();
    }
}

// Errors: one line, the path as typed, the real reason.
TEST_F(Cli, ErrorsNameThePathAndTheReason) {
    const QByteArray missing = Path("missing.kbx");
    const QByteArray text = Path("text.kbx");
    ASSERT_TRUE(WriteFile(QFile::decodeName(text), "plain text, not an archive"));
    const QByteArray hostile = Archive("hostile.kbx", {{"C:\\evil", "x"}, {"Version\\ok", "y"}});
    const QByteArray plain = Path("plain");
    ASSERT_TRUE(WriteFile(QFile::decodeName(plain), "a file"));
    const QByteArray blocked = Path("blocked");
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(blocked)));
    ASSERT_TRUE(WriteFile(QFile::decodeName(blocked) + QStringLiteral("/Version"), "a file"));
    const struct {
        std::vector<QByteArray> args;
        int code;
        QByteArray err;
    } cases[] = {
        {{"list", missing}, 2, "kbx: " + missing + ": No such file or directory\n"},
        {{"verify", B(tmp.path())}, 2, "kbx: " + B(tmp.path()) + ": Is a directory\n"},
        {{"unpack", text}, 2, "kbx: " + text + ": not a KBX archive\n"},
        {{"unpack", good, "-C", plain + "/sub"},
         2,
         "kbx: " + plain + "/sub: cannot create folder: Not a directory\n"},
        {{"unpack", good, "-C", blocked},
         2,
         "kbx: " + blocked + "/Version/Data: Not a directory\n"},
        {{"unpack", hostile, "-C", Path("out")},
         1,
         "kbx: " + hostile + ": C:\\evil: unsafe name (path with a drive letter)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QByteArrayList(c.args.begin(), c.args.end()).join(' ').toStdString());
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(plain) + QStringLiteral("/sub")));
    EXPECT_EQ(ReadFile(QFile::decodeName(Path("out")) + QStringLiteral("/Version/ok")), "y");
}

// Help and messages follow the locale: Russian under a Russian one,
// English otherwise (LANGUAGE counts only beside a locale other than C).
TEST_F(Cli, LanguageFollowsTheLocale) {
    const QByteArray missing = Path("missing.kbx");
    const QByteArray english = "kbx: " + missing + ": No such file or directory\n";
    const QByteArray russian =
        "kbx: " + missing + QStringLiteral(": Нет такого файла или папки\n").toUtf8();
    const struct {
        std::vector<QByteArray> env;
        bool russian;
    } cases[] = {
        {{"LANG=ru_RU.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE="}, true},
        {{"LANG=C.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=ru"}, false},
        {{"LANG=en_US.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=ru:en"}, true},
        {{"LANG=ru_RU.UTF-8", "LC_ALL=", "LC_MESSAGES=C", "LANGUAGE="}, false},
        {{"LANG=C", "LC_ALL=ru_RU.UTF-8", "LC_MESSAGES=", "LANGUAGE="}, true},
        {{"LANG=ru_RU.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=en:ru"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QByteArrayList(c.env.begin(), c.env.end()).join(' ').toStdString());
        KbxOptions o;
        o.env = c.env;
        EXPECT_EQ(RunKbx({"list", missing}, o).err, c.russian ? russian : english);
        const KbxRun help = RunKbx({"help", "unpack"}, o);
        EXPECT_TRUE(help.out.startsWith(c.russian ? QStringLiteral("Использование: ").toUtf8()
                                                  : QByteArray("Usage: ")));
        EXPECT_EQ(RunKbx({"list", good, "-x"}, o).err,
                  c.russian ? QStringLiteral("kbx: list: неизвестный параметр -x\n"
                                             "Подробнее: «kbx list --help».\n")
                                  .toUtf8()
                            : QByteArray("kbx: list: unknown option -x\n"
                                         "Try 'kbx list --help' for more information.\n"));
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
        KbxOptions o;
        bool sent = false;
        // -v names each entry before it is written: the first names on the
        // pipe mean the unpack is under way.
        o.onOutput = [&](pid_t pid, const QByteArray&) {
            if (!std::exchange(sent, true)) ::kill(pid, signo);
        };
        const KbxRun r = RunKbx({"unpack", "-v", big, "-C", B(target)}, o);
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

#if __has_include("archive/rewrite.h")
// replace, add and remove write a new archive in the old one's place; the
// entries they leave alone keep their bytes, and the result passes verify.
TEST_F(Cli, ChangesInPlace) {
    const QByteArray file = Path("new.txt");
    ASSERT_TRUE(WriteFile(QFile::decodeName(file), "NEW BYTES"));
    const QByteArray before = ReadFile(QFile::decodeName(good));
    const struct {
        std::vector<QByteArray> args;
        int code;
        QByteArray listing;  // names, one a line, after the command
    } cases[] = {
        {{"replace", good, "version/A.TXT", file},
         0,
         "Version\\a.txt\n" + QStringLiteral("Version\\Data\\карта.dat\n").toUtf8() +
             "Version\\Data\\b.dat\n"},
        {{"add", good, "Version/Data/new.dat", file},
         0,
         "Version\\a.txt\n" + QStringLiteral("Version\\Data\\карта.dat\n").toUtf8() +
             "Version\\Data\\b.dat\nVersion\\Data\\new.dat\n"},
        {{"remove", good, "**/b.*"},
         0,
         "Version\\a.txt\n" + QStringLiteral("Version\\Data\\карта.dat\n").toUtf8()},
        {{"replace", good, "nope", file}, 1, ""},
        {{"add", good, "Version/a.txt", file}, 2, ""},
        {{"remove", good, "Version/a.txt", "nope"}, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QByteArrayList(c.args.begin(), c.args.end()).join(' ').toStdString());
        ASSERT_TRUE(WriteFile(QFile::decodeName(good), before));
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
        if (c.code != 0) {
            EXPECT_EQ(ReadFile(QFile::decodeName(good)), before);
            continue;
        }
        EXPECT_EQ(RunKbx({"verify", good}).code, 0);
        QByteArray names;
        for (const QByteArray& line : RunKbx({"list", good}).out.split('\n'))
            if (!line.isEmpty()) names += line.split('\t').value(3) + '\n';
        EXPECT_EQ(names, c.listing);
        // Every entry still there has its old bytes, or the file's.
        const KbxRun a = RunKbx({"extract", good, "Version/a.txt", "-O"});
        EXPECT_EQ(a.out, c.args[0] == "replace" ? "NEW BYTES" : "alpha");
        EXPECT_EQ(RunKbx({"extract", good, "**/карта.dat", "-O"}).out, "map");
    }
}
#else
TEST_F(Cli, ChangesInPlaceNotAvailable) {
    for (const char* command : {"replace", "add", "remove"}) {
        SCOPED_TRACE(command);
        const KbxRun r = RunKbx({command, good, "Version/a.txt", good});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, QByteArray("kbx: ") + command + ": not available in this version\n");
    }
}
#endif

}  // namespace
