// The Qt dialogs, driven through their own controls on the offscreen
// platform.

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "dialogs/cls_dialog.h"
#include "platform/runtime_error.h"
#include "tests/dialogs/qstring_printer.h"

namespace {

// Waits for the modal file dialog, hands it to `act`, and closes whatever is
// still modal a while later so that a failing test cannot hang.
class DialogDriver {
  public:
    explicit DialogDriver(std::function<void(QFileDialog*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(20);
    }
    bool acted() const { return acted_; }

  private:
    void tick() {
        ++ticks_;
        QWidget* modal = QApplication::activeModalWidget();
        if (!acted_) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog && dialog->isVisible()) {
                acted_ = true;
                ticks_ = 0;
                // Acted on from a timer of its own: a question box opened by
                // the action then runs while this watch keeps ticking.
                QTimer::singleShot(0, dialog, [this, dialog] { act_(dialog); });
            }
            return;
        }
        if (modal && ticks_ > 100) {
            ADD_FAILURE() << "still open: " << modal->metaObject()->className();
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
        }
    }

    std::function<void(QFileDialog*)> act_;
    QTimer timer_;
    int ticks_ = 0;
    bool acted_ = false;
};

void Type(QFileDialog* dialog, const QString& text) {
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->clear();
    // Key by key, with the character as the event's text, so that Cyrillic
    // names are typed as well.
    for (const QChar ch : text) {
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    ASSERT_EQ(edit->text(), text);
}

void Click(QFileDialog* dialog, QDialogButtonBox::ButtonRole role) {
    auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox");
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) {
        if (box->buttonRole(b) == role) {
            ASSERT_TRUE(b->isEnabled());
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    }
    ADD_FAILURE() << "no button with role " << role;
}

class QtDialogs : public testing::Test {
  protected:
    void SetUp() override {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkdir("sub"));
        QFile existing(path("a.kbx"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("GEEK");
    }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }

    QTemporaryDir dir_;
};

}  // namespace

TEST_F(QtDialogs, OpenShowsRecordAndReturnsTypedFile) {
    ClsDialog dialog;
    dialog.setInitDir(dir_.path());
    dialog.setFilter("KBX Архив|*.kbx|Все файлы|*.*");
    dialog.setFilterIndex(2);
    dialog.setDialogTitle("Выбор архива");
    QStringList filters;
    QString selectedFilter, directory, title;
    bool confirmOverwrite = true;
    QFileDialog::FileMode mode = QFileDialog::Directory;
    DialogDriver driver([&](QFileDialog* d) {
        filters = d->nameFilters();
        selectedFilter = d->selectedNameFilter();
        directory = d->directory().absolutePath();
        title = d->windowTitle();
        mode = d->fileMode();
        confirmOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
        Type(d, "a.kbx");
        Click(d, QDialogButtonBox::AcceptRole);
    });
    dialog.ShowOpen();
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(filters, QStringList({"KBX Архив (*.kbx)", "Все файлы (*.*)"}));
    EXPECT_EQ(selectedFilter, "Все файлы (*.*)");
    EXPECT_EQ(directory, QDir(dir_.path()).absolutePath());
    EXPECT_EQ(title, "Выбор архива");
    EXPECT_EQ(mode, QFileDialog::AnyFile);  // flags 0: no existence check
    EXPECT_FALSE(confirmOverwrite);
    EXPECT_EQ(dialog.FileName(), path("a.kbx"));
    EXPECT_EQ(dialog.FileTitle(), "a.kbx");
}

TEST_F(QtDialogs, SaveKeepsTypedNameAndReplacesWithoutAsking) {
    ClsDialog dialog;
    dialog.setInitDir(dir_.path());
    dialog.setFilter("KBX Архив|*.kbx");
    const struct {
        QString typed;
        QString expected;
    } cases[] = {
        {"Новый", path("Новый")},  // no extension added
        {"a.kbx", path("a.kbx")},  // existing: no overwrite question with flags 0
    };
    for (const auto& c : cases) {
        DialogDriver driver([&](QFileDialog* d) {
            Type(d, c.typed);
            Click(d, QDialogButtonBox::AcceptRole);
        });
        dialog.ShowSave();
        ASSERT_TRUE(driver.acted());
        EXPECT_EQ(dialog.FileName(), c.expected);
    }
}

TEST_F(QtDialogs, FlagBitsAndCancel) {
    ClsDialog dialog;
    dialog.setFileName(path("a.kbx"));  // proposes its own folder and name
    dialog.setFlags(kOfnFileMustExist | kOfnOverwritePrompt);
    dialog.setCancelError(true);
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool confirmOverwrite = false;
    QString directory, proposed;
    DialogDriver driver([&](QFileDialog* d) {
        mode = d->fileMode();
        confirmOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
        directory = d->directory().absolutePath();
        proposed = d->findChild<QLineEdit*>("fileNameEdit")->text();
        Click(d, QDialogButtonBox::RejectRole);
    });
    int error = -1;
    try {
        dialog.ShowSave();
    } catch (const RuntimeError& e) {
        error = e.number();
    }
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(error, RuntimeError::Cancel);
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_TRUE(confirmOverwrite);
    EXPECT_EQ(directory, QDir(dir_.path()).absolutePath());
    EXPECT_EQ(proposed, "a.kbx");
    EXPECT_EQ(dialog.FileName(), path("a.kbx"));
}

TEST_F(QtDialogs, FolderPickerStartsAtTopFolderAndSetsInitDir) {
    ClsDialog dialog;
    dialog.setDialogPrompt("Папка для распаковки");
    QString title, directory;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    DialogDriver driver([&](QFileDialog* d) {
        title = d->windowTitle();
        directory = d->directory().absolutePath();
        mode = d->fileMode();
        Type(d, "sub");
        Click(d, QDialogButtonBox::AcceptRole);
    });
    EXPECT_EQ(dialog.ShowFolder(dir_.path()), QString());
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(title, "Папка для распаковки");
    EXPECT_EQ(directory, QDir(dir_.path()).absolutePath());
    EXPECT_EQ(mode, QFileDialog::Directory);
    EXPECT_EQ(dialog.InitDir(), path("sub"));
}

TEST_F(QtDialogs, FolderPickerIncludeFilesAndCancel) {
    ClsDialog dialog;
    dialog.setFlags(kBifBrowseIncludeFiles);
    dialog.setInitDir("/kept");
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    DialogDriver driver([&](QFileDialog* d) {
        mode = d->fileMode();
        Click(d, QDialogButtonBox::RejectRole);
    });
    EXPECT_EQ(dialog.ShowFolder(dir_.path()), QString());
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.InitDir(), "/kept");
}
