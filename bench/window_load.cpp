// Times the main window's load of an archive: the real Form1 on the offscreen
// platform (unless QT_QPA_PLATFORM says otherwise), shown, with the path typed
// into FilePath and "Прочитать архив" (Command1) clicked. The window runs its
// own rhythm: pending events processed before every odd record, Bar1 advanced
// by 2. Message boxes are recorded instead of shown, so nothing waits for a
// person; the completion box's text is printed with the first run.
//
//   kbx_bench_window ARCHIVE [RUNS]
//
// Prints one line per run (after an untimed warm-up) and the median, in
// milliseconds, from the click to the end of the click's handling: the
// load, the rows filled and the completion box.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/event_pump.h"
#include "platform/message_box.h"
#include "platform/qt_dialog_backend.h"
#include "platform/shell_service.h"
#include "platform/tick_counter.h"
#include "ui/main_window/form1.h"

namespace {

// Keeps each box the window would show, so that a run reads its report.
class MessageLog final : public MessageBoxService {
  public:
    struct Shown {
        QString text;
        Icon icon;
    };
    void Show(QWidget*, const QString& text, Icon icon, const QString&) override {
        shown.push_back({text, icon});
    }
    std::vector<Shown> shown;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: kbx_bench_window ARCHIVE [RUNS]\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = QFile::decodeName(argv[1]);
    const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;

    MessageLog messages;
    QtTickCounter ticks;
    QtEventPump events;
    QtShellService shell;
    QtDialogBackend dialogs;
    ui::Form1 window(ui::Services{&messages, &ticks, &events, &shell, &dialogs});
    window.show();
    QApplication::processEvents();

    auto* filePath = window.findChild<QLineEdit*>(QStringLiteral("FilePath"));
    auto* read = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    if (!filePath || !read) {
        std::fputs("the window has no FilePath or Command1\n", stderr);
        return 1;
    }
    filePath->setText(path);

    std::vector<qint64> times;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms the page cache
        messages.shown.clear();
        QElapsedTimer clock;
        clock.start();
        read->click();
        const qint64 ms = clock.elapsed();
        const bool loaded = messages.shown.size() == 1 &&
                            messages.shown[0].icon == MessageBoxService::Icon::Information;
        if (!loaded || window.Directory().Count() <= 0) {
            std::fprintf(
                stderr, "load failed: %s\n",
                messages.shown.empty() ? "no message" : qPrintable(messages.shown[0].text));
            return 1;
        }
        if (run == 0) {
            std::printf("window: %s\n", qPrintable(messages.shown[0].text.simplified()));
            continue;
        }
        times.push_back(ms);
        std::printf("run %d: %lld entries, %lld ms\n", run,
                    static_cast<long long>(window.Directory().Count()),
                    static_cast<long long>(ms));
    }
    std::sort(times.begin(), times.end());
    std::printf("median %lld ms\n", static_cast<long long>(times[times.size() / 2]));
    return 0;
}
