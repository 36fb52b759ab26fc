// The Linux shell services with a recording launcher in place of every
// program start: the real dialogs are driven on the offscreen platform, and
// nothing is ever started or asked of the system.

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <tuple>

#include "platform/icon_handles.h"
#include "platform/linux_shell_services.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/dialogs/modal_driver.h"

namespace {

class LinuxShell : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }
    ProgramLauncher recorder() {
        ProgramLauncher l;
        l.startDetached = [this](const QString& p, const QStringList& a, const QString& d) {
            starts_.append({p, a, d});
            return true;
        };
        l.openUrl = [this](const QUrl& url) {
            opened_.append(url);
            return true;
        };
        l.findExecutable = [this](const QString& name) {
            return found_.contains(name) ? "/usr/bin/" + name : QString();
        };
        return l;
    }

    // Program, arguments and folder of every start.
    QList<std::tuple<QString, QStringList, QString>> starts_;
    QList<QUrl> opened_;
    QStringList found_;  // the programs the launcher pretends are installed
    IconHandleTable icons_;
    LinuxShellServices shell_{recorder(), &icons_};
    QTemporaryDir dir_;
};

}  // namespace

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

TEST_F(LinuxShell, RestartRunsNothingUnlessConfirmed) {
    for (bool confirm : {false, true}) {
        starts_.clear();
        QString text;
        ModalDriver<QMessageBox> driver([&](QMessageBox* box) {
            text = box->text() + "|" + box->informativeText();
            ClickButton(box, confirm ? "Да" : "Нет");
        });
        EXPECT_EQ(shell_.RestartDialog(nullptr, "Настройки изменены.", kEwxReboot),
                  confirm ? kIdYes : kIdNo);
        ASSERT_TRUE(driver.acted());
        EXPECT_EQ(text, "Настройки изменены.|Перезагрузить компьютер сейчас?");
        ASSERT_EQ(starts_.size(), confirm ? 1 : 0);
        if (confirm) {
            EXPECT_EQ(std::get<0>(starts_[0]), "systemctl");
            EXPECT_EQ(std::get<1>(starts_[0]), QStringList({"reboot"}));
        }
    }
}

TEST_F(LinuxShell, ShutDownAsksWhatToDo) {
    // The action chosen (-1: cancel), the arguments started.
    const std::tuple<int, QStringList> cases[] = {{-1, {}}, {0, {"poweroff"}}, {1, {"reboot"}}};
    for (const auto& [row, arguments] : cases) {
        starts_.clear();
        ModalDriver<QDialog> driver([&](QDialog* d) {
            if (row >= 0) d->findChild<QComboBox*>("actionBox")->setCurrentIndex(row);
            ClickButton(d, row < 0 ? "Отмена" : "ОК");
        });
        shell_.ShutDownDialog(nullptr);
        ASSERT_TRUE(driver.acted());
        ASSERT_EQ(starts_.size(), row < 0 ? 0 : 1);
        if (row >= 0) {
            EXPECT_EQ(std::get<1>(starts_[0]), arguments);
        }
    }
}

TEST_F(LinuxShell, FormatNeverFormats) {
    QString text;
    ModalDriver<QMessageBox> driver([&](QMessageBox* box) {
        text = box->text() + " " + box->informativeText();
        ClickButton(box, "ОК");
    });
    EXPECT_EQ(shell_.FormatDrive(nullptr, 0, 0xFFFF, 1), kShFmtNoFormat);
    ASSERT_TRUE(driver.acted());
    EXPECT_TRUE(text.contains("не форматирует")) << text.toStdString();
    EXPECT_TRUE(text.contains("диск 0, формат 65535, параметры 1")) << text.toStdString();
    EXPECT_TRUE(starts_.isEmpty());
}

TEST_F(LinuxShell, RunStartsTheTypedCommandDetached) {
    const RunDialogRequest request{nullptr,  0,          dir_.path(),
                                   "Запуск", "Команда:", kRffNoBrowse | kRffNoLabel};
    QStringList seen;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        seen = {d->windowTitle(), d->findChild<QLabel*>("description")->text()};
        EXPECT_FALSE(d->findChild<QPushButton*>("browseButton")->isVisibleTo(d));
        EXPECT_FALSE(d->findChild<QLabel*>("commandLabel")->isVisibleTo(d));
        TypeInto(d->findChild<QLineEdit*>("commandEdit"), "echo \"два слова\" x");
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.RunFileDlg(request), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(seen, QStringList({"Запуск", "Команда:"}));
    EXPECT_EQ(starts_, decltype(starts_)({{"echo", {"два слова", "x"}, dir_.path()}}));

    // The next dialog proposes the last command; cancelling starts nothing.
    QString proposed;
    ModalDriver<QDialog> again([&](QDialog* d) {
        proposed = d->findChild<QLineEdit*>("commandEdit")->text();
        ClickButton(d, "Отмена");
    });
    EXPECT_EQ(shell_.RunFileDlg({}), 0);
    ASSERT_TRUE(again.acted());
    EXPECT_EQ(proposed, "echo \"два слова\" x");
    EXPECT_EQ(starts_.size(), 1);

    // Without a proposal; a folder is opened with the desktop, not started.
    ModalDriver<QDialog> folder([&](QDialog* d) {
        EXPECT_EQ(d->findChild<QLineEdit*>("commandEdit")->text(), QString());
        TypeInto(d->findChild<QLineEdit*>("commandEdit"), dir_.path());
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.RunFileDlg({nullptr, 0, {}, {}, {}, kRffNoDefault}), 1);
    ASSERT_TRUE(folder.acted());
    EXPECT_EQ(starts_.size(), 1);
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
    int index = 5, rows = -1;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        auto* edit = d->findChild<QLineEdit*>("pathEdit");
        edit->setText(path("blue.png"));
        Q_EMIT edit->editingFinished();
        rows = d->findChild<QListWidget*>("iconList")->count();
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.PickIconDlg(nullptr, buffer, 260, index), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(std::tuple(rows, buffer.size(), index), std::tuple(1, 260, 0));
    EXPECT_EQ(TextBeforeNul(buffer), path("blue.png"));
}

TEST_F(LinuxShell, PropertiesOfAPathOpenOnTheNamedPage) {
    QFile file(path("данные.kbx"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString page, title;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        auto* pages = d->findChild<QTabWidget*>("pages");
        page = pages->tabText(pages->currentIndex());
        title = d->windowTitle();
        ClickButton(d, "Закрыть");
    });
    EXPECT_TRUE(shell_.ObjectProperties({nullptr, kShopFilePath, path("данные.kbx"), "Права"}));
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(page, "Права");
    EXPECT_TRUE(title.endsWith("данные.kbx"));
    // Nothing to show: no dialog at all.
    EXPECT_FALSE(shell_.ObjectProperties({nullptr, kShopFilePath, "", ""}));
    EXPECT_FALSE(shell_.ObjectProperties({nullptr, kShopFilePath, path("нет"), ""}));
    EXPECT_FALSE(shell_.ObjectProperties({nullptr, kShopPrinterName, "Нет такого", ""}));
}

TEST_F(LinuxShell, DisplaySettingsStartTheFirstInstalledTool) {
    EXPECT_FALSE(shell_.StartDisplaySettings());
    EXPECT_TRUE(starts_.isEmpty());
    found_ = {"arandr", "xfce4-display-settings"};
    EXPECT_TRUE(shell_.StartDisplaySettings());
    ASSERT_EQ(starts_.size(), 1);
    EXPECT_EQ(std::get<0>(starts_[0]), "/usr/bin/xfce4-display-settings");
}

TEST_F(LinuxShell, HelpOpensAnExistingFile) {
    QFile file(path("help.html"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    // File, command, result, whether it is opened.
    const std::tuple<QString, quint32, int, bool> cases[] = {
        {path("help.html"), 3, 1, true},
        {path("missing.html"), 3, 0, false},
        {"", 3, 0, false},
        {path("help.html"), kHelpQuit, 1, false}};
    for (const auto& [help, command, result, opened] : cases) {
        opened_.clear();
        EXPECT_EQ(shell_.WinHelp({nullptr, help, command, 257}), result);
        EXPECT_EQ(opened_, opened ? QList<QUrl>{QUrl::fromLocalFile(help)} : QList<QUrl>{});
    }
    EXPECT_TRUE(starts_.isEmpty());
}

TEST_F(LinuxShell, AboutShowsTitleAndLines) {
    QString title;
    QStringList lines;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        title = d->windowTitle();
        for (QLabel* l : d->findChildren<QLabel*>()) lines.append(l->text());
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.ShellAbout({nullptr, "Quillmere#Архивы KBX", "Автор: тест", 0}), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(title, "О программе Quillmere");
    EXPECT_TRUE(lines.contains("Архивы KBX"));
    EXPECT_TRUE(lines.contains("Автор: тест"));
}
