#include <gtest/gtest.h>
#include <QProcess>
#include <QRegularExpression>

namespace {

bool Matches(const char* pattern, const QString& text) {
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromUtf8(pattern)))
        .match(text)
        .hasMatch();
}

// quillmere's answers, run with no display at all (no X11, no Wayland, no
// platform chosen, as on a server or a plain console) unless a row names one.
TEST(Quillmere, AnswersOnTheTerminal) {
    const char* const kVersion = "Quillmere 1\\.1\\n";
    const char* const kHelp =
        "Usage: quillmere \\[options\\] "
        "\\[archive\\]\\n[\\s\\S]*--version[\\s\\S]*archive[\\s\\S]*";
    const char* const kBogus =
        "quillmere: Unknown option 'bogus'\\.\\nTry 'quillmere --help' for more information\\.\\n";
    const char* const kOneArchive =
        "quillmere: only one archive can be opened\\nTry 'quillmere --help'[^\\n]*\\n";
    const struct {
        QStringList args;
        const char* platform;  // null: no display
        int exit;
        const char* out;  // patterns the whole output matches
        const char* err;
    } cases[] = {
        {{"--version"}, nullptr, 0, kVersion, ""},
        {{"-v"}, nullptr, 0, kVersion, ""},
        {{"--help"}, nullptr, 0, kHelp, ""},
        {{"a.kbx", "-h"}, nullptr, 0, kHelp, ""},
        // The window system's own options do not spoil the answer.
        {{"-platform", "xcb", "--help"}, nullptr, 0, kHelp, ""},
        // Mistakes are one line and a hint, with a display or without one;
        // the window system's own options are no mistake.
        {{"--bogus"}, "offscreen", 2, "", kBogus},
        {{"-style=fusion", "-reverse", "--platform", "xcb", "-qwindowtitle", "t", "--bogus"},
         nullptr,
         2,
         "",
         kBogus},
        {{"-display", ":9", "a.kbx", "b.kbx"}, nullptr, 2, "", kOneArchive},
        {{"a.kbx", "b.kbx"}, "offscreen", 2, "", kOneArchive},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        if (c.platform) env.insert("QT_QPA_PLATFORM", c.platform);
        p.setProcessEnvironment(env);
        p.start(QUILLMERE_PATH, c.args);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, c.exit);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(Matches(c.out, out)) << out.toStdString();
        EXPECT_TRUE(Matches(c.err, err)) << err.toStdString();
    }
}

}  // namespace
