// Quillmere: opens the main window and runs until it is closed.

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "platform/event_pump.h"
#include "platform/message_box.h"
#include "platform/qt_dialog_backend.h"
#include "platform/shell_service.h"
#include "platform/tick_counter.h"
#include "ui/fonts.h"
#include "ui/main_window/form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral("1.1"));
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
    ui::Services services{&messages, &ticks, &events, &shell, &dialogs};

    ui::Form1 window(services);
    window.show();
    window.CentreOnScreen();
    return app.exec();
}
