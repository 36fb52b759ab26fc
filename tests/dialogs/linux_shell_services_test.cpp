// The Linux shell services with a recording launcher in place of every
// program start: the real dialogs are driven on the offscreen platform, and
// nothing is ever started or asked of the system.

#include <gtest/gtest.h>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>

#include "platform/icon_handles.h"
#include "platform/linux_shell_services.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/dialogs/qstring_printer.h"

namespace {

struct Start {
    QString program;
    QStringList arguments;
    QString directory;
};

// A launcher that only records. `found` lists the programs it pretends are
// installed.
struct RecordingLauncher {
    QList<Start> starts;
    QList<QUrl> opened;
    QStringList found;

    ProgramLauncher launcher() {
        ProgramLauncher l;
        l.startDetached = [this](const QString& p, const QStringList& a, const QString& d) {
            starts.append({p, a, d});
            return true;
        };
        l.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return true;
        };
        l.findExecutable = [this](const QString& name) {
            return found.contains(name) ? "/usr/bin/" + name : QString();
        };
        return l;
    }
};

class LinuxShell : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }

    RecordingLauncher recorder_;
    IconHandleTable icons_;
    LinuxShellServices shell_{recorder_.launcher(), &icons_};
    QTemporaryDir dir_;
};

}  // namespace

TEST(PowerActions, CommandForEachRestartKind) {
    const struct {
        quint32 kind;
        QString session;
        CommandLine command;
    } cases[] = {
        {0, "7", {"loginctl", {"terminate-session", "7"}}},
        {0, "", {"loginctl", {"terminate-session", "self"}}},
        {4, "7", {"loginctl", {"terminate-session", "7"}}},
        {1, "", {"systemctl", {"poweroff"}}},
        {5, "", {"systemctl", {"--check-inhibitors=no", "poweroff"}}},
        {2, "", {"systemctl", {"reboot"}}},
        {3, "", {"systemctl", {"reboot"}}},
        {7, "", {"systemctl", {"--check-inhibitors=no", "reboot"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PowerActionCommand(c.kind, c.session), c.command) << c.kind;
    }
}

TEST_F(LinuxShell, RestartRunsNothingUnlessConfirmed) {
    for (bool confirm : {false, true}) {
        recorder_.starts.clear();
        QString text, question;
        ModalDriver<QMessageBox> driver([&](QMessageBox* box) {
            text = box->text();
            question = box->informativeText();
            ClickButton(box, confirm ? "Да" : "Нет");
        });
        const int answer = shell_.RestartDialog(nullptr, "Настройки изменены.", kEwxReboot);
        ASSERT_TRUE(driver.acted());
        EXPECT_EQ(text, "Настройки изменены.");
        EXPECT_EQ(question, "Перезагрузить компьютер сейчас?");
        EXPECT_EQ(answer, confirm ? kIdYes : kIdNo);
        ASSERT_EQ(recorder_.starts.size(), confirm ? 1 : 0);
        if (confirm) {
            EXPECT_EQ(recorder_.starts[0].program, "systemctl");
            EXPECT_EQ(recorder_.starts[0].arguments, QStringList({"reboot"}));
        }
    }
}

TEST_F(LinuxShell, ShutDownAsksWhatToDo) {
    const struct {
        int row;  // -1: cancel
        QStringList arguments;
    } cases[] = {{-1, {}}, {0, {"poweroff"}}, {1, {"reboot"}}};
    for (const auto& c : cases) {
        recorder_.starts.clear();
        ModalDriver<QDialog> driver([&](QDialog* d) {
            if (c.row < 0) {
                ClickButton(d, "Отмена");
                return;
            }
            d->findChild<QComboBox*>("actionBox")->setCurrentIndex(c.row);
            ClickButton(d, "ОК");
        });
        shell_.ShutDownDialog(nullptr);
        ASSERT_TRUE(driver.acted());
        ASSERT_EQ(recorder_.starts.size(), c.row < 0 ? 0 : 1);
        if (c.row >= 0) {
            EXPECT_EQ(recorder_.starts[0].arguments, c.arguments);
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
    EXPECT_TRUE(recorder_.starts.isEmpty());
}

TEST_F(LinuxShell, RunStartsTheTypedCommandDetached) {
    RunDialogRequest request;
    request.lpszTitle = "Запуск";
    request.lpszDescription = "Команда:";
    request.lpszDirectory = dir_.path();
    request.uFlags = kRffNoBrowse | kRffNoLabel;
    QString title, description;
    bool browseShown = true, labelShown = true;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        title = d->windowTitle();
        description = d->findChild<QLabel*>("description")->text();
        browseShown = d->findChild<QPushButton*>("browseButton")->isVisibleTo(d);
        labelShown = d->findChild<QLabel*>("commandLabel")->isVisibleTo(d);
        TypeInto(d->findChild<QLineEdit*>("commandEdit"), "echo \"два слова\" x");
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.RunFileDlg(request), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(title, "Запуск");
    EXPECT_EQ(description, "Команда:");
    EXPECT_FALSE(browseShown);
    EXPECT_FALSE(labelShown);
    ASSERT_EQ(recorder_.starts.size(), 1);
    EXPECT_EQ(recorder_.starts[0].program, "echo");
    EXPECT_EQ(recorder_.starts[0].arguments, QStringList({"два слова", "x"}));
    EXPECT_EQ(recorder_.starts[0].directory, dir_.path());

    // The next dialog proposes the last command; cancelling starts nothing.
    QString proposed;
    ModalDriver<QDialog> again([&](QDialog* d) {
        proposed = d->findChild<QLineEdit*>("commandEdit")->text();
        ClickButton(d, "Отмена");
    });
    EXPECT_EQ(shell_.RunFileDlg({}), 0);
    ASSERT_TRUE(again.acted());
    EXPECT_EQ(proposed, "echo \"два слова\" x");
    EXPECT_EQ(recorder_.starts.size(), 1);
}

TEST_F(LinuxShell, RunOpensAFolderWithTheDesktop) {
    ModalDriver<QDialog> driver([&](QDialog* d) {
        TypeInto(d->findChild<QLineEdit*>("commandEdit"), dir_.path());
        ClickButton(d, "ОК");
    });
    RunDialogRequest request;
    request.uFlags = kRffNoDefault;
    EXPECT_EQ(shell_.RunFileDlg(request), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_TRUE(recorder_.starts.isEmpty());
    EXPECT_EQ(recorder_.opened, QList<QUrl>({QUrl::fromLocalFile(dir_.path())}));
}

TEST_F(LinuxShell, IconsFromPngAndIcoFiles) {
    QImage red(48, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(path("one.png")));
    const bool icoWritable = QImageWriter::supportedImageFormats().contains("ico");
    if (icoWritable) {
        ASSERT_TRUE(red.save(path("one.ico")));
    }

    const struct {
        QString file;
        int index;
        int count;
    } cases[] = {
        {"one.png", 0, 1}, {"one.png", 1, 0}, {"one.png", -1, 0}, {"none.png", 0, 0}, {"", 0, 0},
    };
    for (const auto& c : cases) {
        quint32 large = 0, small = 0;
        const qsizetype before = icons_.size();
        EXPECT_EQ(
            shell_.ExtractIconEx(c.file.isEmpty() ? "" : path(c.file), c.index, &large, &small, 1),
            c.count)
            << c.file.toStdString() << " " << c.index;
        EXPECT_EQ(icons_.size(), before + 2 * c.count);
        if (c.count == 0) continue;
        EXPECT_EQ(icons_.Icon(large).availableSizes().value(0), QSize(32, 32));
        EXPECT_EQ(icons_.Icon(small).availableSizes().value(0), QSize(16, 16));
        const quint32 copy = shell_.CopyIcon(large);
        EXPECT_TRUE(shell_.DestroyIcon(large));
        EXPECT_TRUE(shell_.DestroyIcon(small));
        EXPECT_FALSE(icons_.Icon(copy).isNull());
    }
    if (icoWritable) {
        quint32 large = 0, small = 0;
        EXPECT_EQ(shell_.ExtractIconEx(path("one.ico"), 0, &large, &small, 1), 1);
    }
}

TEST_F(LinuxShell, IconPickerReturnsPathAndIndex) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(path("blue.png")));
    QString buffer = QString(260, QChar(u'\0'));
    int index = 0;
    int rows = -1;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        auto* edit = d->findChild<QLineEdit*>("pathEdit");
        edit->setText(path("blue.png"));
        Q_EMIT edit->editingFinished();
        rows = d->findChild<QListWidget*>("iconList")->count();
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.PickIconDlg(nullptr, buffer, 260, index), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(buffer.size(), 260);
    EXPECT_EQ(buffer.left(buffer.indexOf(QChar(u'\0'))), path("blue.png"));
    EXPECT_EQ(index, 0);
}

TEST_F(LinuxShell, PropertiesOfAPathOpenOnTheNamedPage) {
    QFile file(path("данные.kbx"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("GEEK");
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
    EXPECT_TRUE(recorder_.starts.isEmpty());
    recorder_.found = {"arandr", "xfce4-display-settings"};
    EXPECT_TRUE(shell_.StartDisplaySettings());
    ASSERT_EQ(recorder_.starts.size(), 1);
    EXPECT_EQ(recorder_.starts[0].program, "/usr/bin/xfce4-display-settings");
}

TEST_F(LinuxShell, HelpOpensAnExistingFile) {
    QFile file(path("help.html"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const struct {
        QString file;
        quint32 command;
        int result;
        bool opened;
    } cases[] = {
        {path("help.html"), 3, 1, true},
        {path("missing.html"), 3, 0, false},
        {"", 3, 0, false},
        {path("help.html"), kHelpQuit, 1, false},
    };
    for (const auto& c : cases) {
        recorder_.opened.clear();
        EXPECT_EQ(shell_.WinHelp({nullptr, c.file, c.command, 257}), c.result);
        EXPECT_EQ(recorder_.opened.size(), c.opened ? 1 : 0);
        if (c.opened) {
            EXPECT_EQ(recorder_.opened[0], QUrl::fromLocalFile(c.file));
        }
    }
    EXPECT_TRUE(recorder_.starts.isEmpty());
}

TEST_F(LinuxShell, AboutShowsTitleAndLines) {
    QString title;
    QStringList lines;
    ModalDriver<QDialog> driver([&](QDialog* d) {
        title = d->windowTitle();
        for (QLabel* l : d->findChildren<QLabel*>()) {
            if (!l->text().isEmpty()) lines.append(l->text());
        }
        ClickButton(d, "ОК");
    });
    EXPECT_EQ(shell_.ShellAbout({nullptr, "Quillmere#Архивы KBX", "Автор: тест", 0}), 1);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(title, "О программе Quillmere");
    EXPECT_TRUE(lines.contains("Архивы KBX"));
    EXPECT_TRUE(lines.contains("Автор: тест"));
}
