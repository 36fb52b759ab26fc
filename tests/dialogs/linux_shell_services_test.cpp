// The Linux shell services with a recording launcher in place of every
// program start: the real dialogs are driven on the offscreen platform, and
// nothing is ever started or asked of the system.

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <tuple>

#include "platform/icon_handles.h"
#include "platform/linux_shell_services.h"
#include "tests/dialogs/dialog_test_support.h"

namespace {

// Program, arguments and folder of a start.
using Start = std::tuple<QString, QStringList, QString>;

}  // namespace

class LinuxShell : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }
    QString touch(const QString& name) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path(name);
    }
    QList<Start> starts_;
    QList<QUrl> opened_;
    QStringList found_;  // the programs the launcher pretends are installed
    IconHandleTable icons_;
    LinuxShellServices shell_{
        {.startDetached =
             [this](const QString& p, const QStringList& a, const QString& d) {
                 starts_.append({p, a, d});
                 return true;
             },
         .openUrl =
             [this](const QUrl& url) {
                 opened_.append(url);
                 return true;
             },
         .findExecutable =
             [this](const QString& name) {
                 return found_.contains(name) ? "/usr/bin/" + name : QString();
             }},
        &icons_};
    QTemporaryDir dir_;
};

TEST(PowerActions, CommandForEachRestartKind) {
    const std::tuple<quint32, QString, CommandLine> cases[] = {
        {0, "7", {"loginctl", {"terminate-session", "7"}}},
        {0, "", {"loginctl", {"terminate-session", "self"}}},
        {4, "7", {"loginctl", {"terminate-session", "7"}}},
        {1, "", {"systemctl", {"poweroff"}}},
        {5, "", {"systemctl", {"--check-inhibitors=no", "poweroff"}}},
        {2, "", {"systemctl", {"reboot"}}},
        {3, "", {"systemctl", {"reboot"}}},
        {7, "", {"systemctl", {"--check-inhibitors=no", "reboot"}}}};
    for (const auto& [kind, session, command] : cases) {
        EXPECT_EQ(PowerActionCommand(kind, session), command) << kind;
    }
}

TEST_F(LinuxShell, BoxesShowTheirTextAndStartOnlyWhatIsConfirmed) {
    using Call = std::function<int(LinuxShellServices&)>;
    const Call restart = [](LinuxShellServices& s) {
        return s.RestartDialog(nullptr, "Настройки изменены.", kEwxReboot);
    };
    const Call shutDown = [](LinuxShellServices& s) {
        s.ShutDownDialog(nullptr);
        return 0;
    };
    const Call format = [](LinuxShellServices& s) { return s.FormatDrive(nullptr, 0, 0xFFFF, 1); };
    const Call about = [](LinuxShellServices& s) {
        return s.ShellAbout({nullptr, "Quillmere#Архивы KBX", "Автор: тест", 0});
    };
    const QStringList question = {"Настройки изменены.", "Перезагрузить компьютер сейчас?"};
    const QStringList formatText = {"Эта программа не форматирует диски.",
                                    "Запрошено: диск 0, формат 65535, параметры 1."};
    const QStringList aboutText = {"О программе Quillmere", "Архивы KBX", "Автор: тест"};
    // A path's properties open on the page named.
    const QString file = touch("данные.kbx");
    const Call properties = [&](LinuxShellServices& s) {
        return int(s.ObjectProperties({nullptr, kShopFilePath, file, "Права"}));
    };
    // The call, the action picked (-1: none), the button, the result, lines shown, starts.
    const std::tuple<Call, int, QString, int, QStringList, QList<Start>> cases[] = {
        {restart, -1, "Нет", kIdNo, question, {}},
        {restart, -1, "Да", kIdYes, question, {{"systemctl", {"reboot"}, ""}}},
        {shutDown, -1, "Отмена", 0, {}, {}},
        {shutDown, 0, "ОК", 0, {}, {{"systemctl", {"poweroff"}, ""}}},
        {shutDown, 1, "ОК", 0, {}, {{"systemctl", {"reboot"}, ""}}},
        {format, -1, "ОК", kShFmtNoFormat, formatText, {}},
        {about, -1, "ОК", 1, aboutText, {}},
        {properties, -1, "Закрыть", 1, {"Свойства: " + file, "page Права"}, {}}};
    for (const auto& [call, row, button, result, shown, starts] : cases) {
        SCOPED_TRACE(button.toStdString() + " " + std::to_string(row));
        starts_.clear();
        QStringList lines;
        Drive<QDialog>(
            [&](QDialog* d) {
                lines = QStringList{d->windowTitle()};
                for (QLabel* l : d->findChildren<QLabel*>()) lines.append(l->text());
                if (auto* pages = d->findChild<QTabWidget*>("pages")) {
                    lines.append("page " + pages->tabText(pages->currentIndex()));
                }
                if (row >= 0) d->findChild<QComboBox*>("actionBox")->setCurrentIndex(row);
                ClickButton(d, button);
            },
            [&] { EXPECT_EQ(call(shell_), result); });
        for (const QString& line : shown) EXPECT_TRUE(lines.contains(line)) << line.toStdString();
        EXPECT_EQ(starts_, starts);
    }
}

TEST_F(LinuxShell, RunStartsTheTypedCommandDetached) {
    const QString command = "echo \"два слова\" x";
    // The request, the title shown, whether the browse button and the label
    // show, the command proposed, what is typed (empty: cancel), the result.
    const RunDialogRequest first{nullptr,  0,          dir_.path(),
                                 "Запуск", "Команда:", kRffNoBrowse | kRffNoLabel};
    const std::tuple<RunDialogRequest, QString, bool, QString, QString, int> cases[] = {
        {first, "Запуск", false, "", command, 1},
        // The next dialog proposes the last command; cancelling starts nothing.
        {{}, "Выполнить", true, command, "", 0},
        // Without a proposal; a folder is opened with the desktop, not started.
        {{nullptr, 0, {}, {}, {}, kRffNoDefault}, "Выполнить", true, "", dir_.path(), 1}};
    for (const auto& [request, title, shown, proposed, typed, result] : cases) {
        Drive<QDialog>(
            [&](QDialog* d) {
                auto* edit = d->findChild<QLineEdit*>("commandEdit");
                EXPECT_EQ(std::tuple(d->windowTitle(), edit->text(),
                                     d->findChild<QPushButton*>("browseButton")->isVisibleTo(d),
                                     d->findChild<QLabel*>("commandLabel")->isVisibleTo(d)),
                          std::tuple(title, proposed, shown, shown));
                if (!shown) {
                    EXPECT_EQ(d->findChild<QLabel*>("description")->text(), "Команда:");
                }
                if (!typed.isEmpty()) TypeInto(edit, typed);
                ClickButton(d, typed.isEmpty() ? "Отмена" : "ОК");
            },
            [&] { EXPECT_EQ(shell_.RunFileDlg(request), result); });
    }
    EXPECT_EQ(starts_, QList<Start>({{"echo", {"два слова", "x"}, dir_.path()}}));
    EXPECT_EQ(opened_, QList<QUrl>({QUrl::fromLocalFile(dir_.path())}));
}

TEST_F(LinuxShell, IconsFromImageFiles) {
    QImage red(48, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(path("one.png")));
    const bool ico = QImageWriter::supportedImageFormats().contains("ico");
    if (ico) {
        ASSERT_TRUE(red.save(path("one.ico")));
    }
    // File, icon index, icons extracted.
    const std::tuple<QString, int, int> cases[] = {
        {"one.png", 0, 1},  {"one.png", 1, 0}, {"one.png", -1, 0},
        {"none.png", 0, 0}, {"", 0, 0},        {ico ? "one.ico" : "one.png", 0, 1}};
    for (const auto& [file, index, count] : cases) {
        quint32 large = 0, small = 0;
        const qsizetype before = icons_.size();
        EXPECT_EQ(shell_.ExtractIconEx(file.isEmpty() ? "" : path(file), index, &large, &small, 1),
                  count)
            << file.toStdString() << " " << index;
        EXPECT_EQ(icons_.size(), before + 2 * count);
        if (count == 0) continue;
        EXPECT_EQ(icons_.Icon(large).availableSizes().value(0), QSize(32, 32));
        EXPECT_EQ(icons_.Icon(small).availableSizes().value(0), QSize(16, 16));
        const quint32 copy = shell_.CopyIcon(large);
        EXPECT_TRUE(shell_.DestroyIcon(large));
        EXPECT_TRUE(shell_.DestroyIcon(small));
        EXPECT_FALSE(shell_.DestroyIcon(small));  // twice: already gone
        EXPECT_EQ(shell_.CopyIcon(small), 0u);
        EXPECT_FALSE(icons_.Icon(copy).isNull());
    }
}

TEST_F(LinuxShell, IconPickerReturnsPathAndIndex) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(path("blue.png")));
    QString buffer = Nuls(260);
    int index = 5;
    Drive<QDialog>(
        [&](QDialog* d) {
            auto* edit = d->findChild<QLineEdit*>("pathEdit");
            edit->setText(path("blue.png"));
            Q_EMIT edit->editingFinished();
            EXPECT_EQ(d->findChild<QListWidget*>("iconList")->count(), 1);
            ClickButton(d, "ОК");
        },
        [&] { EXPECT_EQ(shell_.PickIconDlg(nullptr, buffer, 260, index), 1); });
    EXPECT_EQ(std::tuple(buffer.size(), index), std::tuple(260, 0));
    EXPECT_EQ(TextBeforeNul(buffer), path("blue.png"));
}

TEST_F(LinuxShell, WithoutADialog) {
    // Properties with nothing to show.
    EXPECT_FALSE(shell_.ObjectProperties({nullptr, kShopFilePath, "", ""}));
    EXPECT_FALSE(shell_.ObjectProperties({nullptr, kShopFilePath, path("нет"), ""}));
    EXPECT_FALSE(shell_.ObjectProperties({nullptr, kShopPrinterName, "Нет такого", ""}));
    // Display settings: the first tool installed, if any.
    EXPECT_FALSE(shell_.StartDisplaySettings());
    found_ = {"arandr", "xfce4-display-settings"};
    EXPECT_TRUE(shell_.StartDisplaySettings());
    EXPECT_EQ(starts_, QList<Start>({{"/usr/bin/xfce4-display-settings", {}, ""}}));
    // Help opens an existing file: the file, command, result, whether it is opened.
    const QString help = touch("help.html");
    const std::tuple<QString, quint32, int, bool> cases[] = {{help, 3, 1, true},
                                                             {path("missing.html"), 3, 0, false},
                                                             {"", 3, 0, false},
                                                             {help, kHelpQuit, 1, false}};
    for (const auto& [file, command, result, opened] : cases) {
        opened_.clear();
        EXPECT_EQ(shell_.WinHelp({nullptr, file, command, 257}), result);
        EXPECT_EQ(opened_, opened ? QList<QUrl>{QUrl::fromLocalFile(file)} : QList<QUrl>{});
    }
    EXPECT_EQ(starts_.size(), 1);  // help starts nothing
}
