#include <gtest/gtest.h>
#include <QProcess>
#include <QRegularExpression>

namespace {

struct Outcome {
    int exit;
    QString out, err;
};

// Runs quillmere with no display at all (no X11, no Wayland, no platform
// chosen, as on a server or a plain console) unless `platform` names one.
Outcome Quillmere(const QStringList& args, const char* platform) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    if (platform) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(platform));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUILLMERE_PATH), args);
    EXPECT_TRUE(p.waitForFinished(20000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

bool Matches(const char* pattern, const QString& text) {
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromUtf8(pattern)))
        .match(text)
        .hasMatch();
}

}  // namespace

TEST(Quillmere, AnswersOnTheTerminal) {
    const char* const kUsage = "Usage: \\S+ \\[options\\] \\[archive\\]\\n[\\s\\S]*";
    const struct {
        QStringList args;
        const char* platform;  // null: no display
        int exit;
        const char* out;  // patterns the whole output matches
        const char* err;
    } cases[] = {
        {{"--version"}, nullptr, 0, "Quillmere 1\\.1\\n", ""},
        {{"-v"}, nullptr, 0, "Quillmere 1\\.1\\n", ""},
        {{"--help"},
         nullptr,
         0,
         "Usage: [^\\n]+\\n[\\s\\S]*--version[\\s\\S]*archive[\\s\\S]*",
         ""},
        {{"a.kbx", "-h"}, nullptr, 0, kUsage, ""},
        // The window system's own options do not spoil the answer.
        {{"-platform", "xcb", "--help"}, nullptr, 0, kUsage, ""},
        // Mistakes are one line and a hint, after the window system is up.
        {{"--bogus"},
         "offscreen",
         2,
         "",
         "[\\s\\S]*quillmere: Unknown option 'bogus'\\.\\nTry 'quillmere --help'[^\\n]*\\n"},
        {{"a.kbx", "b.kbx"},
         "offscreen",
         2,
         "",
         "[\\s\\S]*quillmere: only one archive can be opened\\n[^\\n]+\\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = Quillmere(c.args, c.platform);
        EXPECT_EQ(r.exit, c.exit);
        EXPECT_TRUE(Matches(c.out, r.out)) << r.out.toStdString();
        EXPECT_TRUE(Matches(c.err, r.err)) << r.err.toStdString();
    }
}
