// Times the main window's load of an archive with the window's own rhythm:
// a QApplication (offscreen unless QT_QPA_PLATFORM says otherwise), a shown
// window with the CoolBar as Bar1, pending events processed before every
// odd record and Bar1 advanced by 2 there, as Form1 does.
//
//   kbx_bench_window ARCHIVE [RUNS]
//
// Prints one line per run and the median, in milliseconds.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "archive/archive.h"
#include "widgets/progress/cool_bar.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: kbx_bench_window ARCHIVE [RUNS]\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = QFile::decodeName(argv[1]);
    const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;

    QWidget window;
    window.resize(400, 300);
    auto* bar = new CoolBar(&window);
    bar->setObjectName(QStringLiteral("Bar1"));
    bar->setGeometry(3, 69, 370, 25);
    window.show();
    QApplication::processEvents();

    // Bar1 counts towards the count the header announces, as in the window.
    QFile header(path);
    if (!header.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const QByteArray head = header.read(kbx::kHeaderSize);
    if (head.size() == kbx::kHeaderSize)
        bar->setMax(double(kbx::ReadLE32(head.constData() + kbx::kCountOffset)));

    // Run 0 is a warm-up that puts the file in the page cache.
    std::vector<qint64> times;
    for (int run = 0; run <= runs; ++run) {
        kbx::Directory dir;
        kbx::StopFlag stop;
        bar->setValue(0);
        QElapsedTimer clock;
        clock.start();
        const kbx::Result r = kbx::ReadArchive(
            path, dir,
            [bar](qint64 k) {
                if (k % 2 != 1) return;
                QApplication::processEvents();
                bar->setValue(bar->Value() + 2);
            },
            &stop);
        const qint64 ms = clock.elapsed();
        if (!r.ok()) {
            std::fprintf(stderr, "load failed: %s\n", qPrintable(r.message));
            return 1;
        }
        if (run == 0) continue;
        times.push_back(ms);
        std::printf("run %d: %lld entries, %lld ms\n", run,
                    static_cast<long long>(dir.UpperBound()), static_cast<long long>(ms));
    }
    std::sort(times.begin(), times.end());
    std::printf("median %lld ms\n", static_cast<long long>(times[times.size() / 2]));
    return 0;
}
