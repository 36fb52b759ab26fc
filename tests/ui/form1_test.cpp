#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "archive/messages.h"
#include "ui/fonts.h"
#include "window_fixture.h"

namespace {
using Icon = MessageBoxService::Icon;

const QString kCompletionHead = QStringLiteral("Обработка завершена\r\n");
}  // namespace

using Form1Test = WindowTest;

TEST_F(Form1Test, StartsInItsDesignedState) {
    ui::Form1& f = Form();
    EXPECT_EQ(f.windowTitle(), "Quillmere v1.1");
    EXPECT_EQ(f.size(), QSize(761, 172));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f.windowIcon().isNull());

    auto* path = Child<QLineEdit>("FilePath");
    EXPECT_TRUE(path->text().isEmpty());
    EXPECT_FALSE(path->isEnabled());
    EXPECT_TRUE(Child<QPushButton>("Command1")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>("Command3")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>("Command8")->isVisible());
    EXPECT_FALSE(Child<QListWidget>("File1")->isVisible());
    EXPECT_FALSE(Child<QListWidget>("File2")->isVisible());
    EXPECT_FALSE(Child<QWidget>("Picture3")->isEnabled());
    EXPECT_TRUE(Action("UP")->isEnabled());
    EXPECT_FALSE(Action("RP")->isEnabled());
    EXPECT_EQ(Action("UP")->text(), "Извлечь");
    EXPECT_EQ(Action("RP")->text(), "Заменить на...");
    EXPECT_EQ(f.MenuRow(), 0);

    auto* bar = Child<CoolBar>("Bar1");
    EXPECT_EQ(bar->BorderStyle(), 1);
    EXPECT_EQ(bar->Font().pointSizeF(), 8.25);
    EXPECT_EQ(bar->Font().family(), "MS Sans Serif");
    EXPECT_TRUE(bar->Caption().isEmpty());
    EXPECT_TRUE(bar->CaptionLabel()->text().isEmpty());

    auto* scr = Child<QScrollBar>("Scr");
    EXPECT_EQ(scr->maximum(), 32767);
    EXPECT_EQ(scr->pageStep(), 9);
    EXPECT_EQ(scr->singleStep(), 1);

    // Eleven rows at 180 + 225 * i twips (12 + 15 * i pixels), 16 pixels high.
    for (int i = 0; i < ui::Form1::kRows; ++i) {
        for (const char* a : {"nm", "off", "sz"}) {
            ui::ListCell* c = Cell(a, i);
            EXPECT_EQ(c->y(), 12 + 15 * i) << a << i;
            EXPECT_EQ(c->height(), 16);
            EXPECT_TRUE(c->isVisible());
            EXPECT_TRUE(c->text().isEmpty());
            EXPECT_EQ(c->Mark(), 0);
        }
    }
    EXPECT_EQ(Cell("nm", 10)->geometry(), QRect(0, 162, 255, 16));
    EXPECT_EQ(Cell("off", 1)->geometry(), QRect(254, 27, 59, 16));
}

TEST_F(Form1Test, TabOrderFollowsTheDesign) {
    const char* expected[] = {"Command1", "FilePath", "Command2", "Bar1",     "Scr",
                              "Command5", "Command6", "Command7", "Command3", "Command4",
                              "Command8", "File1",    "File2"};
    QStringList seen;
    QWidget* w = Child<QWidget>("Command1");
    for (int guard = 0; guard < 200 && seen.size() < int(std::size(expected)); ++guard) {
        const QString n = w->objectName();
        if (!n.isEmpty() && !seen.contains(n) &&
            std::find_if(std::begin(expected), std::end(expected), [&](const char* e) {
                return n == QLatin1String(e);
            }) != std::end(expected))
            seen << n;
        w = w->nextInFocusChain();
    }
    QStringList want;
    for (const char* e : expected) want << e;
    EXPECT_EQ(seen, want);
}

TEST_F(Form1Test, FontsAreMatchedAndKeepTheirSizes) {
    const QFont def = ui::DefaultFont(), head = ui::HeaderFont(), big = ui::DisplayFont();
    EXPECT_LT(head.pointSizeF(), def.pointSizeF());
    EXPECT_LT(def.pointSizeF(), big.pointSizeF());
    for (const QFont& f : {def, head, big}) {
        const QString family = QFontInfo(f).family();
        EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic))
            << family.toStdString();
    }
    // Ten rows of 16 pixels hold the default font's line.
    EXPECT_LE(QFontMetrics(def).height(), 16);
    EXPECT_EQ(Child<QPushButton>("Command5")->font().pointSizeF(), head.pointSizeF());
}

TEST_F(Form1Test, BrowseFillsThePathAndSetsRead) {
    const struct {
        const char* what;
        std::vector<QString> answers;  // one Browse per answer; "" cancels
        QString path;
        bool readEnabled;
    } cases[] = {
        {"a file chosen", {"/data/a.kbx"}, "/data/a.kbx", true},
        {"the very first Browse cancelled", {""}, "", false},
        {"a cancel after a choice keeps it", {"/data/a.kbx", ""}, "/data/a.kbx", true},
        {"a second choice replaces the first", {"/data/a.kbx", "/data/b.kbx"}, "/data/b.kbx", true},
    };
    for (const auto& c : cases) {
        Recreate();
        for (const QString& a : c.answers) Browse(a);
        EXPECT_EQ(Child<QLineEdit>("FilePath")->text(), c.path) << c.what;
        EXPECT_EQ(Child<QPushButton>("Command1")->isEnabled(), c.readEnabled) << c.what;
    }
    EXPECT_TRUE(messages_.shown.empty());
    // Browse offers the one archive filter.
    ASSERT_FALSE(dialogs_.fileRequests().isEmpty());
    EXPECT_EQ(QtNameFilters(dialogs_.fileRequests().back().record.lpstrFilter),
              QStringList{"KBX Архив (*.kbx)"});
}

TEST_F(Form1Test, ReadReportsUnusableFilesAndStaysUsable) {
    const QString notKbx = WriteFile("note.kbx", "GEEK\0\2\0\0 and more text");
    const QString good = WriteArchive("good.kbx", NumberedEntries(3));
    const struct {
        const char* what;
        QString path;
        QString message;
    } cases[] = {
        {"no path", QString(), kbx::kNoPathMessage},
        {"not an archive", notKbx, kbx::kNotKbxMessage},
        {"not an archive, again", notKbx, kbx::kNotKbxMessage},
        {"missing file", tmp_.filePath("missing.kbx"),
         QStringLiteral("Не удалось открыть файл ") + tmp_.filePath("missing.kbx")},
    };
    for (const auto& c : cases) {
        messages_.shown.clear();
        if (!c.path.isEmpty()) Browse(c.path);
        Click("Command1");
        ASSERT_EQ(messages_.shown.size(), 1u) << c.what;
        EXPECT_EQ(messages_.shown[0].text, c.message) << c.what;
        EXPECT_EQ(messages_.shown[0].icon, Icon::Critical);
        EXPECT_EQ(messages_.shown[0].title, "Ошибка");
        EXPECT_FALSE(Form().Directory().IsLoaded()) << c.what;
        EXPECT_TRUE(Child<QPushButton>("Command1")->isEnabled()) << c.what;
        EXPECT_FALSE(Child<QPushButton>("Command3")->isEnabled()) << c.what;
    }
    // The rejected files were closed: a good archive loads afterwards.
    messages_.shown.clear();
    Load(good);
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].icon, Icon::Information);
    EXPECT_EQ(Form().Directory().UpperBound(), 3);
    // A rejected file after a good load keeps the loaded directory.
    Load(notKbx);
    EXPECT_EQ(Form().Directory().ArchivePath, good);
    EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e000.dat");
}

TEST_F(Form1Test, CompletionMessagesCarryTheExactTexts) {
    const QString archive = WriteArchive("a.kbx", NumberedEntries(4));
    const QString out = Folder("out");
    const QString root = Folder("root");
    QDir().mkpath(root + "/Version/Data");
    WriteFile("root/Version/a.txt", "hello");

    ticks_.script = {1000, 2500};  // the load takes 1500 ms
    Load(archive);
    ticks_.script = {3000, 3020};  // the unpack 20 ms
    AnswerFolder(out);
    Click("Command3");
    ticks_.script = {4000, 6000};  // the extraction 2000 ms
    AnswerFolder(out);
    RightClickAndChoose(1, "UP");
    ticks_.script = {7000, 8234};  // the pack 1234 ms
    AnswerFolder(root);
    AnswerFile(tmp_.filePath("new.kbx"));
    Child<QPushButton>("Command8")->click();  // hidden: no user can reach it

    const QString expected[] = {
        kCompletionHead + "Архив читался 1,5 секунд",
        kCompletionHead + "Архив распаковывался 0,02 секунд",
        kCompletionHead + "Файл извлекался 2 секунд",
        kCompletionHead + "Архив запаковывался 1,234 секунд",
    };
    ASSERT_EQ(messages_.shown.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(messages_.shown[i].text, expected[i]);
        EXPECT_EQ(messages_.shown[i].icon, Icon::Information);
        EXPECT_EQ(messages_.shown[i].title, "Quillmere  v1.1");
    }
    EXPECT_EQ(ReadFile(out + "/Version/Data/e001.dat"), NumberedEntries(4)[1].data);
    EXPECT_TRUE(QFileInfo::exists(tmp_.filePath("new.kbx")));
}

TEST_F(Form1Test, Bar1FollowsTheLoadAndUnpackRhythm) {
    const struct {
        int count;
        double loadValue;    // advanced before odd records
        double unpackValue;  // advanced before even entries
        int loadPumps;
        int unpackPumps;
    } cases[] = {
        {4, 4, 4, 2, 2}, {5, 4, 6, 2, 3}, {6, 6, 6, 3, 3}, {1, 0, 2, 0, 1}, {0, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        Recreate();
        const QString archive =
            WriteArchive(QStringLiteral("r%1.kbx").arg(c.count), NumberedEntries(c.count));
        events_.calls = 0;
        Load(archive);
        auto* bar = Child<CoolBar>("Bar1");
        EXPECT_EQ(bar->Max(), c.count);
        EXPECT_EQ(bar->Value(), c.loadValue) << c.count;
        EXPECT_EQ(events_.calls, c.loadPumps) << c.count;

        events_.calls = 0;
        AnswerFolder(Folder(QStringLiteral("u%1").arg(c.count)));
        Click("Command3");
        EXPECT_EQ(bar->Max(), c.count);
        EXPECT_EQ(bar->Value(), c.unpackValue) << c.count;
        EXPECT_EQ(events_.calls, c.unpackPumps) << c.count;
    }
}

TEST_F(Form1Test, ListShowsAndScrollsTwentyFiveEntries) {
    auto entries = NumberedEntries(25);
    Load(WriteArchive("a.kbx", entries));
    auto* scr = Child<QScrollBar>("Scr");
    EXPECT_EQ(scr->maximum(), 15);
    EXPECT_EQ(RowTexts(0), QStringList({"Version\\Data\\e000.dat", "3420", "7"}));
    EXPECT_EQ(Cell("nm", 0)->toolTip(), "Version\\Data\\e000.dat");

    // A click in the track below the thumb moves nine rows.
    QTest::mouseClick(scr, Qt::LeftButton, {}, QPoint(scr->width() / 2, scr->height() - 30));
    EXPECT_EQ(scr->value(), 9);
    EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e009.dat");
    EXPECT_TRUE(Child<QWidget>("Bar1")->hasFocus());

    SetScroll(15);
    for (int a = 0; a < 10; ++a)
        EXPECT_EQ(RowTexts(a)[0], QString::fromLatin1(entries[size_t(15 + a)].name));
    EXPECT_EQ(RowTexts(10), QStringList({"", "0", "0"}));  // the blank element

    // At 12, row 4 shows entry 16, and "Извлечь" there writes it.
    SetScroll(12);
    const QString out = Folder("out");
    AnswerFolder(out);
    RightClickAndChoose(4, "UP");
    EXPECT_EQ(Form().MenuRow(), 4);
    EXPECT_EQ(ReadFile(out + "/Version/Data/e016.dat"), entries[16].data);
    EXPECT_FALSE(QFileInfo::exists(out + "/Version/Data/e015.dat"));

    // A dismissed menu on row 4, then row 7: entry 19.
    RightClickAndChoose(4, nullptr);
    AnswerFolder(out);
    RightClickAndChoose(7, "UP");
    EXPECT_EQ(ReadFile(out + "/Version/Data/e019.dat"), entries[19].data);

    // A new load while scrolled shows the new archive from entry 0.
    auto second = NumberedEntries(12);
    second[0].name = "Version\\first.txt";
    Load(WriteArchive("b.kbx", second));
    EXPECT_EQ(scr->value(), 0);
    EXPECT_EQ(scr->maximum(), 2);
    EXPECT_EQ(RowTexts(0)[0], "Version\\first.txt");
    EXPECT_EQ(Form().Directory().UpperBound(), 12);
}

TEST_F(Form1Test, RowMarkFollowsLeftClicksOnNames) {
    Load(WriteArchive("a.kbx", NumberedEntries(25)));
    auto marked = [&] {
        QList<int> rows;
        for (int a = 0; a < ui::Form1::kRows; ++a) {
            const int m = Cell("nm", a)->Mark();
            EXPECT_EQ(Cell("off", a)->Mark(), m);
            EXPECT_EQ(Cell("sz", a)->Mark(), m);
            if (m) rows << a;
        }
        return rows;
    };
    QTest::mouseClick(Cell("nm", 3), Qt::LeftButton);
    EXPECT_EQ(marked(), QList<int>{3});
    QTest::mouseClick(Cell("nm", 5), Qt::LeftButton);
    EXPECT_EQ(marked(), QList<int>{5});
    QTest::mouseClick(Cell("off", 7), Qt::LeftButton);  // offset and size cells do nothing
    QTest::mouseClick(Cell("sz", 8), Qt::LeftButton);
    EXPECT_EQ(marked(), QList<int>{5});
    RightClickAndChoose(2, nullptr);  // a right click leaves the mark
    SetScroll(4);                     // the mark belongs to the row
    EXPECT_EQ(marked(), QList<int>{5});
    EXPECT_NE(Cell("nm", 5)->frameStyle(), Cell("nm", 4)->frameStyle());
}

TEST_F(Form1Test, HeadersOnlyMoveTheFocus) {
    Load(WriteArchive("a.kbx", NumberedEntries(12)));
    const QStringList before = RowTexts(0);
    for (const char* h : {"Command5", "Command7", "Command6"}) {
        Child<QWidget>("Scr")->setFocus();
        Click(h);
        EXPECT_TRUE(Child<QWidget>("Bar1")->hasFocus()) << h;
        EXPECT_EQ(RowTexts(0), before);
    }
}

TEST_F(Form1Test, NamesAndNumbersAreShownAsStored) {
    std::vector<TestEntry> entries = NumberedEntries(10);
    entries[0].name = QByteArray("DATA.BIN");  // padded with NULs in the field
    entries[1].name = QByteArray("Version\\\xea\xe0\xf0\xf2\xe0.dat");  // Cyrillic in 1251
    entries[2].name = QByteArray("Version\\<b>bold</b>");
    QByteArray bytes = ArchiveBytes(entries);
    kbx::WriteLE32(bytes.data() + kbx::DirectoryEnd(3) + kbx::kRecordSizeField, -1);
    Load(WriteFile("a.kbx", bytes));
    EXPECT_EQ(RowTexts(0)[0], "DATA.BIN");
    EXPECT_EQ(Cell("nm", 0)->toolTip(), "DATA.BIN");
    EXPECT_EQ(RowTexts(1)[0], "Version\\карта.dat");
    EXPECT_EQ(RowTexts(2)[0], "Version\\<b>bold</b>");
    EXPECT_TRUE(Cell("nm", 2)->toolTip().contains("&lt;b&gt;"));
    EXPECT_EQ(RowTexts(3)[2], "-1");
}

TEST_F(Form1Test, SmallDirectoriesLeaveRowsPastTheBlankEmpty) {
    Load(WriteArchive("a.kbx", NumberedEntries(3)));
    EXPECT_EQ(Child<QScrollBar>("Scr")->maximum(), 0);
    EXPECT_EQ(RowTexts(3), QStringList({"", "0", "0"}));
    for (int a = 4; a < ui::Form1::kRows; ++a) EXPECT_EQ(RowTexts(a), QStringList({"", "", ""}));

    messages_.shown.clear();
    const int before = DialogsShown();
    RightClickAndChoose(3, "UP");  // the blank element
    RightClickAndChoose(8, "UP");  // past it
    EXPECT_EQ(DialogsShown(), before);
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Form1Test, ScrollBarReachesEveryEntryOfALargeArchive) {
    const int count = 40000;
    Load(WriteArchive("big.kbx", NumberedEntries(count)));
    auto* scr = Child<QScrollBar>("Scr");
    EXPECT_EQ(scr->maximum(), count - 10);
    SetScroll(scr->maximum());
    EXPECT_EQ(RowTexts(9)[0], "Version\\Data\\e39999.dat");
    EXPECT_EQ(RowTexts(10), QStringList({"", "0", "0"}));
}

TEST_F(Form1Test, OperationsRefuseReentryWhileTheyYield) {
    const QString archive = WriteArchive("a.kbx", NumberedEntries(30));
    Load(archive);
    SetScroll(0);
    messages_.shown.clear();

    // During the next load the user tries every archive command and scrolls.
    bool tried = false;
    events_.calls = 0;
    events_.onPump = [&](int call) {
        if (call != 1) return;
        tried = true;
        EXPECT_TRUE(Form().Busy());
        EXPECT_EQ(Child<CoolBar>("Bar1")->Max(), 30);  // the count, known from the start
        EXPECT_FALSE(Child<QPushButton>("Command1")->isEnabled());
        EXPECT_FALSE(Child<QPushButton>("Command3")->isEnabled());
        EXPECT_FALSE(Action("UP")->isEnabled());
        Click("Command1");
        Click("Command3");
        Browse(archive);  // Browse itself must not re-enable Read mid-run
        EXPECT_FALSE(Child<QPushButton>("Command1")->isEnabled());
        SetScroll(5);  // scrolling stays available
        EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e005.dat");
    };
    Click("Command1");
    events_.onPump = nullptr;
    EXPECT_TRUE(tried);
    EXPECT_EQ(messages_.shown.size(), 1u);  // only the one load's report
    EXPECT_TRUE(Child<QPushButton>("Command1")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>("Command3")->isEnabled());
    EXPECT_TRUE(Action("UP")->isEnabled());
    EXPECT_FALSE(Form().Busy());

    // The same during an unpack.
    messages_.shown.clear();
    tried = false;
    events_.calls = 0;
    events_.onPump = [&](int call) {
        if (call != 2) return;
        tried = true;
        EXPECT_FALSE(Child<QPushButton>("Command1")->isEnabled());
        EXPECT_FALSE(Child<QPushButton>("Command3")->isEnabled());
        Click("Command3");
        Click("Command1");
    };
    AnswerFolder(Folder("out"));
    Click("Command3");
    events_.onPump = nullptr;
    EXPECT_TRUE(tried);
    EXPECT_EQ(messages_.shown.size(), 1u);
    EXPECT_TRUE(Child<QPushButton>("Command3")->isEnabled());
}

TEST_F(Form1Test, ClosingDuringAnUnpackStopsAfterTheCurrentEntry) {
    auto entries = NumberedEntries(10);
    Load(WriteArchive("a.kbx", entries));
    messages_.shown.clear();
    const QString out = Folder("out");
    events_.onPump = [&](int call) {
        if (call == 2) Form().close();  // before entry 2
    };
    events_.calls = 0;
    AnswerFolder(out);
    Click("Command3");
    events_.onPump = nullptr;
    EXPECT_FALSE(Form().isVisible());
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_EQ(ReadFile(out + "/Version/Data/e001.dat"), entries[1].data);
    EXPECT_FALSE(QFileInfo::exists(out + "/Version/Data/e002.dat"));
    const QStringList left = QDir(out + "/Version/Data").entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, QStringList({"e000.dat", "e001.dat"}));
}

TEST_F(Form1Test, ClosingDuringALoadKeepsTheOldDirectory) {
    const QString first = WriteArchive("a.kbx", NumberedEntries(3));
    Load(first);
    Browse(WriteArchive("b.kbx", NumberedEntries(20)));
    messages_.shown.clear();
    events_.onPump = [&](int) { Form().close(); };
    Click("Command1");
    events_.onPump = nullptr;
    EXPECT_FALSE(Form().isVisible());
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_EQ(Form().Directory().ArchivePath, first);
}

TEST_F(Form1Test, EngineFailuresAreShown) {
    auto entries = NumberedEntries(4);
    QByteArray bytes = ArchiveBytes(entries);
    // Entry 1 claims bytes far past the end of the file.
    kbx::WriteLE32(bytes.data() + kbx::DirectoryEnd(1) + kbx::kRecordOffsetField, 1 << 30);
    Load(WriteFile("a.kbx", bytes));
    messages_.shown.clear();
    const QString out = Folder("out");
    AnswerFolder(out);
    Click("Command3");
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].icon, Icon::Critical);
    EXPECT_EQ(messages_.shown[0].title, "Ошибка");
    EXPECT_TRUE(messages_.shown[0].text.startsWith("Распаковка завершена с ошибками"));
    EXPECT_EQ(ReadFile(out + "/Version/Data/e002.dat"), entries[2].data);  // the others written

    messages_.shown.clear();
    AnswerFolder(out);
    RightClickAndChoose(1, "UP");
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_TRUE(messages_.shown[0].text.startsWith("Не удалось извлечь Version\\Data\\e001.dat"));
    EXPECT_TRUE(Child<QPushButton>("Command3")->isEnabled());
}

TEST_F(Form1Test, CancelledFolderDialogsDoNothing) {
    Load(WriteArchive("a.kbx", NumberedEntries(12)));
    messages_.shown.clear();
    AnswerFolder("");
    Click("Command3");
    AnswerFolder("");
    RightClickAndChoose(0, "UP");
    AnswerFolder("");
    Child<QPushButton>("Command8")->click();
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_EQ(DialogsShown(), 3 + 1);  // the three folder pickers and the Browse

    // A cancel after a confirmed folder uses that folder again.
    const QString out = Folder("out");
    AnswerFolder(out);
    RightClickAndChoose(0, "UP");
    AnswerFolder("");
    RightClickAndChoose(1, "UP");
    EXPECT_EQ(messages_.shown.size(), 2u);
    EXPECT_TRUE(QFileInfo::exists(out + "/Version/Data/e001.dat"));
}

TEST_F(Form1Test, AboutOpensOneWindowAtATime) {
    Click("Command4");
    Click("Command4");
    QList<QWidget*> abouts = Form().findChildren<QWidget*>("Form2");
    ASSERT_EQ(abouts.size(), 1);
    EXPECT_TRUE(abouts[0]->isVisible());
    abouts[0]->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form().findChildren<QWidget*>("Form2").isEmpty());
    Click("Command4");
    EXPECT_EQ(Form().findChildren<QWidget*>("Form2").size(), 1);

    // Closing the main window takes the About window with it.
    QWidget* about = Form().findChild<QWidget*>("Form2");
    Form().close();
    EXPECT_FALSE(about->isVisible());
}

TEST_F(Form1Test, RowsFollowTheThumbOnlyWhenItIsReleased) {
    Load(WriteArchive("a.kbx", NumberedEntries(40)));
    auto* scr = Child<QScrollBar>("Scr");
    scr->setSliderDown(true);  // the user holds the thumb
    scr->setSliderPosition(20);
    EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e000.dat");
    scr->setSliderDown(false);  // and lets go
    EXPECT_EQ(scr->value(), 20);
    EXPECT_EQ(RowTexts(0)[0], "Version\\Data\\e020.dat");
    EXPECT_TRUE(Child<QWidget>("Bar1")->hasFocus());
}
