// kbx run as a process: exit codes, output and error lines.

#include <gtest/gtest.h>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "test_util.h"

using namespace testutil;

namespace {

struct Outcome {
    int code;
    QString out;
    QString err;
};

Outcome Kbx(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(KBX_PATH), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        good = tmp.filePath(QStringLiteral("good.kbx"));
        ASSERT_TRUE(WriteFile(
            good, BuildArchive({{"Version\\a.txt", "alpha"},
                                {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "map"}})));
    }
    QTemporaryDir tmp;
    QString good;
};

TEST_F(Cli, ListPrintsEntriesAsUtf8) {
    const Outcome r = Kbx({QStringLiteral("list"), good});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              QStringLiteral("0\t292\t5\tVersion\\a.txt\n1\t297\t3\tVersion\\Data\\карта.dat\n"));
    EXPECT_EQ(r.err, QString());

    const Outcome j = Kbx({QStringLiteral("list"), good, QStringLiteral("--json")});
    ASSERT_EQ(j.code, 0);
    const QJsonObject doc = QJsonDocument::fromJson(j.out.toUtf8()).object();
    EXPECT_EQ(doc[QStringLiteral("count")].toInt(), 2);
    EXPECT_EQ(
        doc[QStringLiteral("entries")].toArray()[1].toObject()[QStringLiteral("name")].toString(),
        QStringLiteral("Version\\Data\\карта.dat"));
}

TEST_F(Cli, ExitCodes) {
    const QString broken = tmp.filePath(QStringLiteral("broken.kbx"));
    QByteArray bytes = BuildArchive({{"Version\\a", "1"}});
    PatchLe32(bytes, 16, 5);
    ASSERT_TRUE(WriteFile(broken, bytes));
    const QString hostile = tmp.filePath(QStringLiteral("hostile.kbx"));
    ASSERT_TRUE(WriteFile(hostile, BuildArchive({{"..\\evil", "x"}, {"Version\\ok", "y"}})));
    const QString out = tmp.filePath(QStringLiteral("out"));
    const QString root = tmp.filePath(QStringLiteral("root"));
    QDir().mkpath(root + QStringLiteral("/Version/Data"));
    WriteFile(root + QStringLiteral("/Version/x.txt"), "x");
    const struct {
        QStringList args;
        int code;
    } cases[] = {
        {{}, 2},
        {{QStringLiteral("frobnicate")}, 2},
        {{QStringLiteral("list")}, 2},
        {{QStringLiteral("list"), good, QStringLiteral("-C"), out}, 2},
        {{QStringLiteral("pack"), root}, 2},
        {{QStringLiteral("verify"), good}, 0},
        {{QStringLiteral("verify"), hostile}, 1},
        {{QStringLiteral("verify"), broken}, 2},
        {{QStringLiteral("list"), tmp.filePath(QStringLiteral("missing.kbx"))}, 2},
        {{QStringLiteral("extract"), good, QStringLiteral("Version\\a.txt"), QStringLiteral("-C"),
          out},
         0},
        {{QStringLiteral("extract"), good, QStringLiteral("nope"), QStringLiteral("-C"), out}, 1},
        {{QStringLiteral("unpack"), good, QStringLiteral("-C"), out}, 0},
        {{QStringLiteral("unpack"), hostile, QStringLiteral("-C"), out}, 1},
        {{QStringLiteral("unpack"), broken, QStringLiteral("-C"), out}, 2},
        {{QStringLiteral("pack"), root, QStringLiteral("-o"),
          tmp.filePath(QStringLiteral("p.kbx"))},
         0},
        {{QStringLiteral("pack"), tmp.path(), QStringLiteral("-o"),
          tmp.filePath(QStringLiteral("q.kbx"))},
         2},
        {{QStringLiteral("--help")}, 0},
    };
    for (const auto& c : cases) {
        const Outcome r = Kbx(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(u' ').toStdString() << "\n" << r.err.toStdString();
        if (c.code == 2 && c.args.size() >= 2 && c.args[0] != u"pack") {
            // One line naming the file and the reason, or the usage text.
            EXPECT_TRUE(r.err.startsWith(QStringLiteral("kbx: "))) << r.err.toStdString();
        }
    }
    EXPECT_EQ(ReadFile(out + QStringLiteral("/Version/Data/карта.dat")), "map");
    EXPECT_EQ(ReadFile(out + QStringLiteral("/Version/ok")), "y");
}

TEST_F(Cli, ErrorsNameTheFileAndTheReason) {
    const QString missing = tmp.filePath(QStringLiteral("missing.kbx"));
    EXPECT_EQ(Kbx({QStringLiteral("list"), missing}).err,
              QStringLiteral("kbx: ") + missing + QStringLiteral(": No such file or directory\n"));
    const QString hostile = tmp.filePath(QStringLiteral("hostile.kbx"));
    ASSERT_TRUE(WriteFile(hostile, BuildArchive({{"C:\\evil", "x"}})));
    const Outcome r = Kbx({QStringLiteral("unpack"), hostile, QStringLiteral("-C"), tmp.path()});
    EXPECT_EQ(r.err, QStringLiteral("kbx: ") + hostile +
                         QStringLiteral(": C:\\evil: unsafe name (path with a drive letter)\n"));
    const Outcome v = Kbx({QStringLiteral("verify"), hostile, QStringLiteral("--json")});
    const QJsonObject doc = QJsonDocument::fromJson(v.out.toUtf8()).object();
    EXPECT_FALSE(doc[QStringLiteral("ok")].toBool());
    EXPECT_EQ(doc[QStringLiteral("problems")]
                  .toArray()[0]
                  .toObject()[QStringLiteral("problem")]
                  .toString(),
              QStringLiteral("unsafe-name"));
}

}  // namespace
