// kbx run as a process: exit codes, stdout and stderr bytes, files written.

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <signal.h>

#include "run_kbx.h"
#include "test_util.h"

using namespace testutil;

namespace {

QByteArray B(const QString& s) {
    return QFile::encodeName(s);
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
    QTemporaryDir tmp;
    QByteArray good;
};

TEST_F(Cli, ListPrintsEntriesAsUtf8) {
    const KbxRun r = RunKbx({"list", good});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              QStringLiteral("0\t428\t5\tVersion\\a.txt\n1\t433\t3\tVersion\\Data\\карта.dat\n"
                             "2\t436\t4\tVersion\\Data\\b.dat\n")
                  .toUtf8());
    EXPECT_EQ(r.err, "");

    const KbxRun j = RunKbx({"list", good, "--json"});
    ASSERT_EQ(j.code, 0);
    const QJsonObject doc = QJsonDocument::fromJson(j.out).object();
    EXPECT_EQ(doc[QStringLiteral("count")].toInt(), 3);
    EXPECT_EQ(
        doc[QStringLiteral("entries")].toArray()[1].toObject()[QStringLiteral("name")].toString(),
        QStringLiteral("Version\\Data\\карта.dat"));
}

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
        {{"replace", good, "a"},
         "kbx: replace: missing NAME and FILE\nTry 'kbx replace --help' for more information.\n"},
        {{"add", good, "a", "f", "b"},
         "kbx: add: FILE missing after the last NAME\nTry 'kbx add --help' for more "
         "information.\n"},
        {{"list", "\x1b[2J"}, ""},  // an archive name is quoted (checked below)
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QByteArrayList(c.args.begin(), c.args.end()).join(' ').toStdString());
        const KbxRun r = RunKbx(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        if (!c.err.isEmpty()) {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_FALSE(r.err.contains('\x1b'));
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

}  // namespace
