// Quillmere: opens the main window and runs until it is closed. An archive
// named on the command line is read as soon as the window shows, as the
// "Прочитать архив" button would read it.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/event_pump.h"
#include "platform/message_box.h"
#include "platform/qt_dialog_backend.h"
#include "platform/shell_service.h"
#include "platform/tick_counter.h"
#include "platform/window_title.h"
#include "ui/fonts.h"
#include "ui/main_window/form1.h"

namespace {

struct Options {
    QCommandLineOption help;
    QCommandLineOption version;
};

// The terminal's texts are English, like kbx's; the window's are Russian.
Options Describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("View, extract and unpack the KBX archives of Velmorra."));
    parser.addPositionalArgument(QStringLiteral("archive"),
                                 QStringLiteral("A KBX archive to read when the window opens."),
                                 QStringLiteral("[archive]"));
    return {parser.addHelpOption(), parser.addVersionOption()};
}

// True when the command line asks only for words on the terminal. It is
// looked at before the application object exists, because a window system
// (a display) is needed for that and not for an answer.
bool AsksForWords(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return false;
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0) return true;
    }
    return false;
}

void Print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int AnswerOnTerminal(int argc, char** argv) {
    // The usage line names the program, not the path it was started by.
    char name[] = "quillmere";
    std::vector<char*> args(argv, argv + argc);
    args[0] = name;
    int count = argc;
    QCoreApplication core(count, args.data());
    QCommandLineParser parser;
    const Options options = Describe(parser);
    parser.parse(core.arguments());  // the window system's own options are no error here
    if (parser.isSet(options.version)) {
        Print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
    } else {
        Print(stdout, parser.helpText());
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
}

int UsageError(const QString& text) {
    Print(
        stderr,
        QStringLiteral("quillmere: %1\nTry 'quillmere --help' for more information.\n").arg(text));
    return 2;
}

// The arguments as the parser sees them once QApplication has taken out the
// window system's own options (QGuiApplication's, QApplication's and the X11
// ones, with one dash or two; "-style=name" and "-stylesheet=path" too), so
// that a mistake is found before a display is needed.
QStringList WithoutWindowSystemOptions(int argc, char** argv) {
    static const QStringList withValue = {
        "platform",     "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowtitle", "qwindowicon",        "session",       "style",  "stylesheet",
        "display",      "geometry",           "title",         "icon",   "name",
        "visual"};
    static const QStringList alone = {"reverse",     "nograb", "dograb", "testability",
                                      "widgetcount", "sync",   "cmap"};
    QStringList kept;
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QStringLiteral("--")) {
            for (; i < argc; ++i) kept << QString::fromLocal8Bit(argv[i]);
            break;
        }
        const QString word = arg.startsWith(QStringLiteral("--")) ? arg.mid(2) : arg.mid(1);
        if (i == 0 || !arg.startsWith(u'-') || word.isEmpty()) {
            kept << arg;
        } else if (withValue.contains(word)) {
            ++i;  // its value goes with it
        } else if (!alone.contains(word) && !word.startsWith(QStringLiteral("qmljsdebugger=")) &&
                   !word.startsWith(QStringLiteral("style=")) &&
                   !word.startsWith(QStringLiteral("stylesheet="))) {
            kept << arg;
        }
    }
    return kept;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
    if (AsksForWords(argc, argv)) return AnswerOnTerminal(argc, argv);
    {
        // Mistakes are answered before QApplication, which needs a display.
        QCommandLineParser parser;
        Describe(parser);
        if (!parser.parse(WithoutWindowSystemOptions(argc, argv)))
            return UsageError(parser.errorText());
        if (parser.positionalArguments().size() > 1)
            return UsageError(QStringLiteral("only one archive can be opened"));
    }

    QApplication app(argc, argv);  // takes the window system's options out of the arguments
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Quillmere"));
    QCommandLineParser parser;
    Describe(parser);
    if (!parser.parse(QApplication::arguments())) return UsageError(parser.errorText());
    const QStringList archives = parser.positionalArguments();
    if (archives.size() > 1) return UsageError(QStringLiteral("only one archive can be opened"));

    ui::InstallFontSubstitutions();

    // Every text of the program is Russian, so Qt's own dialogs and buttons
    // are too, whatever the machine's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    QtMessageBoxService messages;
    QtTickCounter ticks;
    QtEventPump events;
    QtShellService shell;
    QtDialogBackend dialogs;
    QtWindowTitles titles;
    ui::Services services{&messages, &ticks, &events, &shell, &dialogs, &titles};

    ui::Form1 window(services);
    window.show();
    window.CentreOnScreen();
    if (!archives.isEmpty() && !archives.first().isEmpty()) {
        // Read once the window is on the screen, so the bar is seen to move.
        const QString path = QFileInfo(archives.first()).absoluteFilePath();
        QTimer::singleShot(0, &window, [&window, path] { window.OpenArchive(path); });
    }
    return app.exec();
}
