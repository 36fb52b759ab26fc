#include <QFileInfo>
#include <QPushButton>
#include <QWheelEvent>

#include <cmath>

#include "archive/format.h"
#include "window_fixture.h"

namespace {
const QStringList kEmptyRow{"", "", ""}, kBlankRow{"", "0", "0"};  // blank: past the last entry
const QString kDone = "Обработка завершена\r\n";
const QString kNotKbx = "Этот файл не является KBX архивом игры Velmorra";
}  // namespace

using Form1Test = WindowTest;

TEST_F(Form1Test, StartsInItsDesignedState) {
    EXPECT_EQ(std::tuple(Form().windowTitle(), Form().minimumSize(), Form().maximumSize()),
              std::tuple("Quillmere v1.1", QSize(761, 172), QSize(761, 172)));
    const std::pair<const char*, bool> enabled[] = {
        {"FilePath", false}, {"Command1", true}, {"Command3", false}, {"Picture3", false}};
    for (const auto& [name, on] : enabled) EXPECT_EQ(Enabled(name), on) << name;
    for (const char* hidden : {"Command8", "File1", "File2"})
        EXPECT_FALSE(Child(hidden)->isVisible()) << hidden;
    EXPECT_TRUE(Child<QAction>("UP")->isEnabled() && !Child<QAction>("RP")->isEnabled());
    EXPECT_EQ(QStringList({Child<QAction>("UP")->text(), Child<QAction>("RP")->text()}),
              QStringList({"Извлечь", "Заменить на..."}));
    auto* bar = Child<CoolBar>("Bar1");
    EXPECT_EQ(std::tuple(bar->BorderStyle(), bar->CaptionLabel()->text(), Scroll()->maximum(),
                         Child("Command5")->font().pointSizeF()),
              std::tuple(1, QString(), 32767, 6.75));
    // Eleven empty rows at 180 + 225 * i twips (12 + 15 * i pixels), 16 pixels high.
    for (int i = 0; i < ui::Form1::kRows; ++i) EXPECT_EQ(RowTexts(i), kEmptyRow);
    EXPECT_EQ(Cell("nm", 10)->geometry(), QRect(0, 162, 255, 16));
    EXPECT_EQ(Cell("off", 1)->geometry(), QRect(254, 27, 59, 16));
}

TEST_F(Form1Test, BrowseFillsTheReadablePathAndSetsRead) {
    const struct {
        std::vector<QString> answers;  // one Browse per answer; "" cancels
        QString path;
    } cases[] = {
        {{"/data/a.kbx"}, "/data/a.kbx"},
        {{""}, ""},                            // the very first Browse cancelled: Read goes off
        {{"/data/a.kbx", ""}, "/data/a.kbx"},  // a cancel keeps the earlier choice
        {{"/data/a.kbx", "/data/b.kbx"}, "/data/b.kbx"},
    };
    for (const auto& c : cases) {
        Recreate();
        for (const QString& a : c.answers) Browse(a);
        EXPECT_EQ(std::tuple(Path(), Enabled("Command1"), Enabled("FilePath")),
                  std::tuple(c.path, !c.path.isEmpty(), false));
    }
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_EQ(QtNameFilters(dialogs_.fileRequests().back().record.lpstrFilter),
              QStringList{"KBX Архив (*.kbx)"});
    // The path box is still drawn as disabled (not in the enabled text
    // colour), but readable.
    auto* box = Child<QLineEdit>("FilePath");
    EXPECT_NE(box->palette().color(QPalette::Disabled, QPalette::Text),
              box->palette().color(QPalette::Active, QPalette::Text));
    // The contrast of the drawn text on the drawn background.
    const QImage shot = box->grab().toImage();
    const auto luminance = [](QRgb c) {
        const auto lin = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
    };
    const double back = luminance(shot.pixel(shot.width() - 6, shot.height() / 2));
    double best = 1;
    for (int y = 2; y < shot.height() - 2; ++y)
        for (int x = 2; x < shot.width() / 2; ++x) {
            const double l = luminance(shot.pixel(x, y));
            best = std::max(best, (std::max(l, back) + 0.05) / (std::min(l, back) + 0.05));
        }
    EXPECT_GE(best, 4.5);
}

TEST_F(Form1Test, ReadReportsUnusableFilesAndStaysUsable) {
    // Sized, so that the bytes after the first NUL are written too.
    static const char kAlmostSignature[] = "GEEK\0\2\0\0 and more text";
    const QString notKbx =
        WriteFile("note.kbx", QByteArray(kAlmostSignature, sizeof kAlmostSignature - 1));
    const QString missing = tmp_.filePath("missing.kbx");
    const std::pair<QString, QString> cases[] = {
        {QString(), "Введите путь к игровому архиву!"},
        {notKbx, kNotKbx},
        {notKbx, kNotKbx},  // again: a rejected file is refused the same way twice
        {missing, "Не удалось открыть файл " + missing + ": нет такого файла или папки"},
    };
    for (const auto& [path, message] : cases) {
        SCOPED_TRACE(message.toStdString());
        messages_.shown.clear();
        if (!path.isEmpty()) Browse(path);
        Click("Command1");
        ExpectBoxes(1, Icon::Critical, message);
        EXPECT_FALSE(Form().Directory().IsLoaded());
        EXPECT_TRUE(Enabled("Command1") && !Enabled("Command3"));
    }
    // The rejected files were closed: a good archive loads afterwards, and a
    // rejected file after it keeps the loaded directory.
    const QString good = WriteArchive("good.kbx", 3);
    Load(good);
    EXPECT_EQ(Form().Directory().Count(), 3);
    Load(notKbx);
    EXPECT_EQ(Form().Directory().ArchivePath, good);
    EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e000.dat");
}

TEST_F(Form1Test, CompletionMessagesCarryTheExactTexts) {
    const QString out = Folder("out"), root = Folder("root");
    Folder("root/Version/Data");
    WriteFile("root/Version/a.txt", "hello");
    ticks_.script = {1000, 2500};  // the load takes 1500 ms
    Load(WriteArchive("a.kbx", 4));
    ExpectBoxes(1, Icon::Information, kDone + "Архив читался 1,5 секунд");
    ticks_.script = {3000, 3020};  // the unpack 20 ms
    AnswerFolder(out);
    Click("Command3");
    ExpectBoxes(2, Icon::Information, kDone + "Архив распаковывался 0,02 секунд");
    ticks_.script = {4000, 6000};  // the extraction 2000 ms
    AnswerFolder(out);
    RightClickAndChoose(1, "UP");
    ExpectBoxes(3, Icon::Information, kDone + "Файл извлекался 2 секунд");
    ticks_.script = {7000, 8234};  // the pack 1234 ms
    AnswerFolder(root);
    AnswerFile(tmp_.filePath("new.kbx"));
    Child<QPushButton>("Command8")->click();  // hidden: no user can reach it
    ExpectBoxes(4, Icon::Information, kDone + "Архив запаковывался 1,234 секунд");
    EXPECT_EQ(ReadFile(out + "/Version/Data/e001.dat"), NumberedEntries(4)[1].data);
    EXPECT_TRUE(QFileInfo::exists(tmp_.filePath("new.kbx")));
}

TEST_F(Form1Test, Bar1FollowsTheLoadAndUnpackRhythm) {
    const struct {
        int count;
        double loadValue;    // advanced before odd records
        double unpackValue;  // advanced before even entries
        int loadPumps, unpackPumps;
    } cases[] = {
        {4, 4, 4, 2, 2}, {5, 4, 6, 2, 3}, {6, 6, 6, 3, 3}, {1, 0, 2, 0, 1}, {0, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        Recreate();
        events_.calls = 0;
        Load(WriteArchive(QStringLiteral("r%1.kbx").arg(c.count), c.count));
        const auto bar = [&] {  // Max, Value, and the pumps since the last call
            auto* b = Child<CoolBar>("Bar1");
            return std::tuple(b->Max(), b->Value(), std::exchange(events_.calls, 0));
        };
        EXPECT_EQ(bar(), std::tuple(double(c.count), c.loadValue, c.loadPumps));
        AnswerFolder(Folder(QStringLiteral("u%1").arg(c.count)));
        Click("Command3");
        EXPECT_EQ(bar(), std::tuple(double(c.count), c.unpackValue, c.unpackPumps));
    }
}

TEST_F(Form1Test, ListShowsAndScrollsTwentyFiveEntries) {
    const auto entries = NumberedEntries(25);
    Load(WriteArchive("a.kbx", 25));
    auto* scr = Scroll();
    EXPECT_EQ(scr->maximum(), 15);
    EXPECT_EQ(RowTexts(0), QStringList({"Version\\Data\\e000.dat", "3420", "7"}));

    // A click in the track below the thumb moves nine rows and the focus to Bar1.
    QTest::mouseClick(scr, Qt::LeftButton, {}, QPoint(scr->width() / 2, scr->height() - 30));
    EXPECT_EQ(std::tuple(scr->value(), RowTexts(0)[0], Child("Bar1")->hasFocus()),
              std::tuple(9, "Version\\Data\\e009.dat", true));
    // The column headers only move the focus.
    scr->setFocus();
    Click("Command6");
    EXPECT_EQ(std::tuple(Child("Bar1")->hasFocus(), RowTexts(0)[0]),
              std::tuple(true, "Version\\Data\\e009.dat"));
    // A held thumb moves the rows only when it is released.
    scr->setSliderDown(true);
    scr->setSliderPosition(15);
    EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e009.dat");
    scr->setSliderDown(false);
    for (int a = 0; a < 10; ++a)
        EXPECT_EQ(RowTexts(a)[0], QString::fromLatin1(entries[size_t(15 + a)].name));
    EXPECT_EQ(RowTexts(10), kBlankRow);

    // At 12, row 4 shows entry 16, and "Извлечь" there writes it.
    scr->setValue(12);
    const QString out = Folder("out");
    AnswerFolder(out);
    RightClickAndChoose(4, "UP");
    EXPECT_EQ(std::tuple(Form().MenuRow(), ReadFile(out + "/Version/Data/e016.dat"),
                         QFileInfo::exists(out + "/Version/Data/e015.dat")),
              std::tuple(4, entries[16].data, false));
    // A dismissed menu on row 4, then row 7: entry 19.
    RightClickAndChoose(4, nullptr);
    AnswerFolder(out);
    RightClickAndChoose(7, "UP");
    EXPECT_EQ(ReadFile(out + "/Version/Data/e019.dat"), entries[19].data);

    // A new load while scrolled shows the new archive from entry 0.
    Load(WriteArchive("b.kbx", 12));
    EXPECT_EQ(std::tuple(scr->value(), scr->maximum(), RowTexts(0)[0]),
              std::tuple(0, 2, "Version\\Data\\e000.dat"));
}

TEST_F(Form1Test, RowMarkAndShiftCodesFollowLeftClicksOnNames) {
    Load(WriteArchive("a.kbx", 25));
    // Offset and size cells do nothing.
    for (const auto& [column, row] : {std::pair{"nm", 3}, {"nm", 5}, {"off", 7}, {"sz", 8}})
        QTest::mouseClick(Cell(column, row), Qt::LeftButton);
    // Nor does a right click, which opens the menu over a name only, for its row.
    for (int a = 0; a < ui::Form1::kRows; ++a) {
        for (const char* column : {"off", "sz", "nm"}) RightClickAndChoose(a, nullptr, column);
        EXPECT_EQ(Form().MenuRow(), a);
    }
    Scroll()->setValue(4);  // the mark belongs to the row
    for (int a = 0; a < ui::Form1::kRows; ++a)
        for (const char* column : {"nm", "off", "sz"})
            EXPECT_EQ(Cell(column, a)->Mark(), a == 5 ? 1 : 0) << column << a;
    EXPECT_NE(Cell("nm", 5)->frameStyle(), Cell("nm", 4)->frameStyle());
    // A press on a row reports its keyboard state in the design's codes.
    const std::pair<Qt::KeyboardModifiers, int> cases[] = {
        {Qt::NoModifier, 0},
        {Qt::ShiftModifier, 1},
        {Qt::ControlModifier, 2},
        {Qt::AltModifier, 4},
        {Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 7}};
    ui::ListCell* cell = Cell("nm", 3);
    int shift = -1;
    QObject::connect(cell, &ui::ListCell::MouseDown,
                     [&](int, int Shift, float, float) { shift = Shift; });
    for (const auto& [modifiers, code] : cases) {
        SCOPED_TRACE(code);
        QTest::mouseClick(cell, Qt::LeftButton, modifiers, cell->rect().center());
        EXPECT_EQ(shift, code);
    }
}

TEST_F(Form1Test, NamesNumbersAndRowsAreShownAsStored) {
    std::vector<TestEntry> entries = NumberedEntries(3);
    entries[0].name = QByteArray("DATA.BIN");  // padded with NULs in the field
    entries[1].name = QByteArray("Version\\\xea\xe0\xf0\xf2\xe0.dat");  // Cyrillic in 1251
    entries[2].name = QByteArray("Version\\<b>bold</b>");
    QByteArray bytes = testutil::BuildArchive(entries);
    kbx::WriteLE32(bytes.data() + kbx::DirectoryEnd(2) + kbx::kRecordSizeField, -1);
    Load(WriteFile("a.kbx", bytes));
    EXPECT_EQ(std::tuple(RowTexts(0)[0], RowTexts(1)[0], RowTexts(2)),
              std::tuple("DATA.BIN", "Version\\карта.dat",
                         QStringList({"Version\\<b>bold</b>", "443", "-1"})));
    EXPECT_TRUE(Cell("nm", 2)->toolTip().contains("&lt;b&gt;"));
    // Three entries: no scrolling, the blank element, then empty rows.
    EXPECT_EQ(std::tuple(Scroll()->maximum(), RowTexts(3), RowTexts(4)),
              std::tuple(0, kBlankRow, kEmptyRow));
    messages_.shown.clear();
    for (int row : {3, 8}) RightClickAndChoose(row, "UP");  // the blank element, then past it
    EXPECT_EQ(std::tuple(dialogs_.folderRequests().size(), messages_.shown.size()),
              std::tuple(0, 0u));

    // The scroll bar reaches every entry of an archive past 32767 entries.
    Load(WriteArchive("big.kbx", 40000));
    Scroll()->setValue(Scroll()->maximum());
    EXPECT_EQ(std::tuple(Scroll()->value(), RowTexts(9)[0], RowTexts(10)),
              std::tuple(40000 - 10, "Version\\Data\\e39999.dat", kBlankRow));
}

TEST_F(Form1Test, OperationsRefuseReentryWhileTheyYield) {
    const QString archive = WriteArchive("a.kbx", 30);
    // A first load that fails midway, Browse used during it: Unpack stays off.
    const QString cut = WriteArchive("cut.kbx", 30841);  // two reads of the directory
    events_.onPump = [&](int call) {
        if (call == 1) QFile::resize(cut, kbx::DirectoryEnd(30840)), Browse(archive);
    };
    Load(cut);
    EXPECT_TRUE(Enabled("Command1") && !Enabled("Command3") && Child<QAction>("UP")->isEnabled());
    Load(archive);
    // During a load and an unpack the user tries every archive command;
    // scrolling stays available.
    int tried = 0, at = 0;
    events_.onPump = [&](int call) {
        if (call != at) return;
        ++tried;
        // Max is the count, known from the start.
        EXPECT_EQ(std::tuple(Form().Busy(), Child<CoolBar>("Bar1")->Max(), Enabled("Command1"),
                             Enabled("Command3"), Child<QAction>("UP")->isEnabled()),
                  std::tuple(true, 30, false, false, false));
        Click("Command1");
        Click("Command3");
        Browse(archive);  // Browse itself must not re-enable Read mid-run
        EXPECT_FALSE(Enabled("Command1"));
        const Dropped dropped = Drop({QUrl::fromLocalFile(archive)});
        EXPECT_FALSE(dropped.drag || dropped.drop);
        EXPECT_FALSE(Form().OpenArchive(archive));
        Scroll()->setValue(5);
        EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e005.dat");
    };
    for (const char* command : {"Command1", "Command3"}) {
        messages_.shown.clear();
        events_.calls = 0;
        at = tried + 1;
        if (tried) AnswerFolder(Folder("out"));
        Click(command);
        EXPECT_EQ(messages_.shown.size(), 1u) << command;  // only the one run's report
        EXPECT_TRUE(Enabled("Command1") && Enabled("Command3") && !Form().Busy());
        EXPECT_TRUE(Child<QAction>("UP")->isEnabled());
    }
    EXPECT_EQ(tried, 2);
}

TEST_F(Form1Test, ClosingDuringARunStopsItQuietly) {
    // A load closed at once keeps the old directory.
    const QString first = WriteArchive("a.kbx", 10);
    Load(first);
    Browse(WriteArchive("b.kbx", 20));
    messages_.shown.clear();
    events_.onPump = [&](int) { Form().close(); };
    Click("Command1");
    EXPECT_EQ(
        std::tuple(Form().isVisible(), Form().Directory().ArchivePath, messages_.shown.size()),
        std::tuple(false, first, 0u));
    // An unpack closed before entry 2 stops after the current entry.
    events_.onPump = nullptr;
    Recreate();
    Load(first);
    messages_.shown.clear();
    const QString out = Folder("out");
    events_.onPump = [&](int call) {
        if (call != 2) return;
        Form().close();
        EXPECT_TRUE(Form().isVisible());  // until the run has returned
    };
    events_.calls = 0;
    AnswerFolder(out);
    Click("Command3");
    EXPECT_EQ(std::tuple(Form().isVisible(),
                         QDir(out + "/Version/Data").entryList(QDir::Files | QDir::Hidden),
                         messages_.shown.size()),
              std::tuple(false, QStringList({"e000.dat", "e001.dat"}), 0u));
}

TEST_F(Form1Test, FailuresAndCancelledFoldersAreHandled) {
    auto entries = NumberedEntries(4);
    QByteArray bytes = testutil::BuildArchive(entries);
    // Entry 1 claims bytes far past the end of the file.
    kbx::WriteLE32(bytes.data() + kbx::DirectoryEnd(1) + kbx::kRecordOffsetField, 1 << 30);
    Load(WriteFile("a.kbx", bytes));
    // Cancelled folder pickers do nothing.
    messages_.shown.clear();
    AnswerFolder("");
    Click("Command3");
    AnswerFolder("");
    RightClickAndChoose(0, "UP");
    AnswerFolder("");
    Child<QPushButton>("Command8")->click();
    EXPECT_EQ(std::tuple(dialogs_.folderRequests().size(), messages_.shown.size()),
              std::tuple(3, 0u));

    const QString out = Folder("out");
    AnswerFolder(out);
    Click("Command3");
    ExpectBoxes(1, Icon::Critical,
                "Распаковка завершена с ошибками\r\nНе извлечено файлов: 1\r\n"
                "Version\\Data\\e001.dat: данные записи лежат за пределами архива");
    EXPECT_EQ(ReadFile(out + "/Version/Data/e002.dat"), entries[2].data);  // the others written
    // A cancel after a confirmed folder writes nothing there and says nothing.
    QDir(out).removeRecursively();
    for (const char* command : {"Command3", "UP"}) {
        SCOPED_TRACE(command);
        AnswerFolder("");
        command == std::string("UP") ? RightClickAndChoose(0, "UP") : Click(command);
        EXPECT_EQ(std::tuple(messages_.shown.size(), QFileInfo::exists(out)),
                  std::tuple(1u, false));
    }
    ASSERT_TRUE(QDir().mkpath(out));
    AnswerFolder(out);
    RightClickAndChoose(1, "UP");
    ExpectBoxes(2, Icon::Critical,
                "Не удалось извлечь Version\\Data\\e001.dat: данные записи "
                "лежат за пределами архива");
    EXPECT_TRUE(Enabled("Command3"));
}

TEST_F(Form1Test, ArchivesNamedOrDroppedAreReadAsReadReadsThem) {
    // The message and rhythm of "Прочитать архив" (see the tests above).
    const QString archive = WriteArchive("a.kbx", 5);
    for (const bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "named on the command line");
        Recreate();
        messages_.shown.clear();
        ticks_.script = {1000, 2500};
        events_.calls = 0;
        if (dropped) {
            EXPECT_TRUE(Form().acceptDrops());
            const Dropped d = Drop({QUrl::fromLocalFile(archive)});
            EXPECT_TRUE(d.drag && d.drop);
            EXPECT_EQ(d.dropAction, Qt::CopyAction);  // the file manager keeps the file
        } else {
            EXPECT_TRUE(Form().OpenArchive(archive));
        }
        EXPECT_EQ(Path(), archive);
        ExpectBoxes(1, Icon::Information, kDone + "Архив читался 1,5 секунд");
        EXPECT_EQ(std::tuple(events_.calls, Child<CoolBar>("Bar1")->Value(), RowTexts(0)[0],
                             Enabled("Command3")),
                  std::tuple(2, 4, "Version\\Data\\e000.dat", true));
        // A Browse cancelled afterwards keeps the archive in the path box.
        Browse("");
        EXPECT_EQ(std::tuple(Path(), Enabled("Command1")), std::tuple(archive, true));
    }

    // Only a single local file is taken; nothing else starts a read.
    const QList<QUrl> refused[] = {
        {QUrl::fromLocalFile(archive), QUrl::fromLocalFile(WriteArchive("b.kbx", 3))},  // two
        {QUrl::fromLocalFile(tmp_.path())},                                             // a folder
        {QUrl("https://example.org/a.kbx")},                                            // remote
        {},  // no file at all
    };
    messages_.shown.clear();
    for (const auto& urls : refused) {
        const Dropped d = Drop(urls);
        EXPECT_FALSE(d.drag || d.drop) << urls.size();
    }
    EXPECT_EQ(std::tuple(messages_.shown.size(), Path()), std::tuple(0u, archive));
}

TEST_F(Form1Test, WheelOverTheListScrollsLikeTheScrollBar) {
    const auto entries = NumberedEntries(25);
    Load(WriteArchive("a.kbx", 25));
    const struct {
        const char* over;
        int notches;  // towards the user: down the list
        int value;
    } turns[] = {{"Scr", 1, 3},     {"nm(2)", 1, 6},  {"sz(9)", 2, 12}, {"Command5", -1, 9},
                 {"off(0)", -5, 0}, {"nm(10)", 9, 9},  // at most a page a turn, as on the bar
                 {"nm(10)", 4, 15}};
    for (const auto& t : turns) {
        SCOPED_TRACE(t.over);
        QWidget* w = Child(t.over);
        const QPoint at = w->rect().center();
        QWheelEvent wheel(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120 * t.notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &wheel);
        EXPECT_EQ(Scroll()->value(), t.value);
        EXPECT_EQ(RowTexts(0)[0], QString::fromLatin1(entries[size_t(t.value)].name));
    }
}

// Paths as long as Linux allows are used as chosen: a folder past the old
// 260-character limit is written to, an archive path past 255 is read.
TEST_F(Form1Test, LongPathsAreUsedAsChosen) {
    QString deep = QStringLiteral("d");
    while (tmp_.filePath(deep).size() < 600) deep += QStringLiteral("/") + QString(100, u'd');
    const QString longArchive = Folder(deep) + QStringLiteral("/a.kbx");
    ASSERT_TRUE(QFile::copy(WriteArchive("a.kbx", 2), longArchive));
    Load(longArchive);
    EXPECT_EQ(Path(), longArchive);
    ExpectBoxes(1, Icon::Information, {});
    AnswerFolder(Folder(deep));
    Click("Command3");
    ExpectBoxes(2, Icon::Information, {});
    EXPECT_EQ(ReadFile(tmp_.filePath(deep) + "/Version/Data/e001.dat"), NumberedEntries(2)[1].data);
    // A path the system cannot take is named in an error, and nothing is written.
    const QString tooLong = QStringLiteral("/") + QString(5000, u'x');
    AnswerFolder(tooLong);
    Click("Command3");
    ExpectBoxes(3, Icon::Critical,
                "Не удалось использовать папку " + tooLong + ": слишком длинный путь");
    Browse(tooLong);  // a file whose path does not fit the dialog's buffer
    ExpectBoxes(4, Icon::Critical, "Не удалось использовать выбранный файл: слишком длинный путь");
}
