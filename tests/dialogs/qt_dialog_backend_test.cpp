// The Qt file, folder, colour, font, printer and message dialogs, driven
// through their own controls on the offscreen platform.

#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <tuple>

#include "platform/qt_printer_registry.h"
#include "tests/dialogs/dialog_test_support.h"

namespace {

constexpr auto kAccept = QDialogButtonBox::AcceptRole;
constexpr auto kReject = QDialogButtonBox::RejectRole;

QLineEdit* NameEdit(QFileDialog* d) {
    return d->findChild<QLineEdit*>("fileNameEdit");
}

}  // namespace

// Each test runs alone in its process under ctest, so the user folders set
// here are the ones Qt looks up: the dialogs must leave nothing in them (no
// history, no last folder).
class QtFileDialogs : public testing::Test {
  protected:
    void SetUp() override {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        ASSERT_TRUE(dir_.isValid() && home_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkdir("sub"));
        QFile existing(path("a.kbx"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        qputenv("HOME", home_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home_.filePath(".config").toLocal8Bit());
    }
    void TearDown() override {
        qputenv("HOME", oldHome_);
        qputenv("XDG_CONFIG_HOME", oldConfig_);
        EXPECT_EQ(
            QDir(home_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
    }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }

    QTemporaryDir dir_, home_;
    const QByteArray oldHome_ = qgetenv("HOME"), oldConfig_ = qgetenv("XDG_CONFIG_HOME");
    ClsDialog dialog_;
};

TEST_F(QtFileDialogs, OpenAndSaveShowTheRecordAndReturnTheTypedName) {
    const auto any = QFileDialog::AnyFile;
    const QString kbx = "KBX Архив (*.kbx)", all = "Все файлы (*.*)";
    const QString dir = QDir(dir_.path()).absolutePath();
    const int mustExist = kOfnFileMustExist | kOfnOverwritePrompt;
    // Save or open, flags, FileFilter index, FileName before, what is typed
    // (empty: cancel), the file mode, whether a replacement is confirmed, the
    // filter selected.
    const std::tuple<bool, int, int, QString, QString, QFileDialog::FileMode, bool, QString>
        cases[] = {// flags 0: no existence check, no question before replacing "a.kbx"
                   {false, 0, 2, "", "a.kbx", any, false, all},
                   {true, 0, 1, "", "Новый", any, false, kbx},  // no extension added
                   {true, 0, 0, "", "a.kbx", any, false, kbx},
                   // a full path proposes its own folder and name
                   {true, mustExist, 2, path("a.kbx"), "", QFileDialog::ExistingFile, true, all}};
    for (const auto& [save, flags, index, before, typed, mode, confirm, selected] : cases) {
        SCOPED_TRACE(typed.toStdString());
        dialog_.setInitDir(before.isEmpty() ? dir_.path() : "");
        dialog_.setFilter("KBX Архив|*.kbx|Все файлы|*.*");
        dialog_.setFilterIndex(index);
        dialog_.setDialogTitle("Выбор архива");
        dialog_.setFlags(flags);
        dialog_.setFileName(before);
        dialog_.setCancelError(true);
        Drive<QFileDialog>(
            [&](QFileDialog* d) {
                EXPECT_EQ(d->nameFilters(), QStringList({kbx, all}));
                EXPECT_EQ(std::tuple(d->selectedNameFilter(), d->directory().absolutePath(),
                                     d->windowTitle(), NameEdit(d)->text()),
                          std::tuple(selected, dir, QString("Выбор архива"),
                                     QFileInfo(before).fileName()));
                EXPECT_EQ(std::tuple(d->fileMode(), d->acceptMode() == QFileDialog::AcceptSave,
                                     !d->testOption(QFileDialog::DontConfirmOverwrite)),
                          std::tuple(mode, save, confirm));
                if (!typed.isEmpty()) TypeInto(NameEdit(d), typed);
                ClickButton(d, {}, typed.isEmpty() ? kReject : kAccept);
            },
            [&] {
                EXPECT_EQ(ErrorNumberOf([&] { save ? dialog_.ShowSave() : dialog_.ShowOpen(); }),
                          typed.isEmpty() ? RuntimeError::Cancel : -1);
            });
        EXPECT_EQ(dialog_.FileName(), typed.isEmpty() ? before : path(typed));
        if (!typed.isEmpty()) {
            EXPECT_EQ(dialog_.FileTitle(), typed);
        }
    }
}

TEST_F(QtFileDialogs, FolderPickerSetsInitDirOrKeepsItOnCancel) {
    // Flags, the file mode expected, whether a folder is picked.
    const std::tuple<qint32, QFileDialog::FileMode, bool> cases[] = {
        {0, QFileDialog::Directory, true},
        {kBifBrowseIncludeFiles, QFileDialog::ExistingFile, false}};
    for (const auto& [flags, mode, pick] : cases) {
        dialog_.setFlags(flags);
        dialog_.setInitDir("/kept");
        dialog_.setDialogPrompt("Папка для распаковки");
        Drive<QFileDialog>(
            [&](QFileDialog* d) {
                EXPECT_EQ(
                    std::tuple(d->windowTitle(), d->directory().absolutePath(), d->fileMode()),
                    std::tuple(QString("Папка для распаковки"), QDir(dir_.path()).absolutePath(),
                               mode));
                if (pick) TypeInto(NameEdit(d), "sub");
                ClickButton(d, {}, pick ? kAccept : kReject);
            },
            [&] { EXPECT_EQ(dialog_.ShowFolder(dir_.path()), QString()); });
        EXPECT_EQ(dialog_.InitDir(), pick ? path("sub") : "/kept");
    }
}

TEST(QtPickers, ColorDialogFollowsFlagsAndReturnsTheChoice) {
    // Flags (2: full open, 4: prevent it, which wins, 0x10: a hook, dropped),
    // whether the custom part shows at once, whether a button opens it.
    const std::tuple<qint32, bool, bool> cases[] = {{0x1, false, true},
                                                    {0x3, true, false},
                                                    {0x5, false, false},
                                                    {0x7, false, false},
                                                    {0x13, true, false}};
    for (const auto& [flags, customShown, defineButton] : cases) {
        ClsDialog dialog;
        dialog.setFlags(flags);  // bit 1: start at RGBResult
        dialog.setRGBResult(0x00336699);
        Drive<QColorDialog>(
            [&](QColorDialog* d) {
                EXPECT_EQ(d->currentColor(), QColor(0x99, 0x66, 0x33));
                for (int i = 0; i < 16; ++i) EXPECT_EQ(QColorDialog::customColor(i), Qt::white);
                QWidget* custom = nullptr;
                for (QWidget* w : d->findChildren<QWidget*>()) {
                    if (QByteArray(w->metaObject()->className()).endsWith("QColorPicker"))
                        custom = w;
                }
                ASSERT_NE(custom, nullptr);
                EXPECT_EQ(custom->isVisibleTo(d), customShown) << flags;
                auto* define = d->findChild<QPushButton*>("defineCustomButton");
                EXPECT_EQ(define != nullptr, defineButton) << flags;
                if (define) {
                    QTest::mouseClick(define, Qt::LeftButton);
                    EXPECT_TRUE(custom->isVisibleTo(d));
                }
                d->setCurrentColor(QColor(0x12, 0x34, 0x56));
                ClickButton(d, "OK");
            },
            [&] { dialog.ShowColor(); });
        EXPECT_EQ(dialog.RGBResult(), 0x00563412u);
    }
}

TEST(QtPickers, FontDialogStartsFromPropertiesAndReadsBackTheMatchedFace) {
    const QStringList families = QFontDatabase::families();
    if (families.isEmpty()) GTEST_SKIP() << "no fonts installed";
    ClsDialog dialog;
    dialog.setFontName(families.first());
    dialog.setFontSize(10);
    dialog.setItalic(true);
    QFont chosen(families.first());
    chosen.setPointSize(12);
    chosen.setWeight(QFont::Bold);
    chosen.setUnderline(true);
    Drive<QFontDialog>(
        [&](QFontDialog* d) {
            const QFont start = d->currentFont();
            EXPECT_EQ(std::tuple(start.family(), start.pointSize(), start.italic()),
                      std::tuple(families.first(), 10, true));
            d->setCurrentFont(chosen);
            ClickButton(d, "OK");
        },
        [&] { dialog.ShowFont(); });
    EXPECT_EQ(std::tuple(dialog.FontSize(), dialog.Bold(), dialog.Underline(), dialog.FontName()),
              std::tuple(12, true, true, QFontInfo(chosen).family()));
}

TEST(QtPickers, PrinterErrorWithoutAnyPrinter) {
    if (!QPrinterInfo::availablePrinters().isEmpty()) GTEST_SKIP() << "a printer is installed";
    ClsDialog dialog;
    dialog.setCancelError(true);
    Drive<QMessageBox>(
        [&](QMessageBox* box) {
            EXPECT_EQ(
                std::tuple(box->windowTitle(), box->text(), box->icon()),
                std::tuple(QString("Printer Error"), PrinterInfoErrorText(), QMessageBox::Warning));
            ClickButton(box, "ОК");
        },
        [&] { EXPECT_EQ(ErrorNumberOf([&] { dialog.ShowPrinter(); }), -1); });
}

TEST(QtPickers, PrintDialogShowsAndCancels) {
    Fixture f;
    f.printers.installed = {{"Office", "drv", "port"}};
    f.printers.current = 0;
    ClsDialog dialog(nullptr, &f.shell, &f.printers);  // the Qt dialogs
    dialog.setCancelError(true);
    Drive<QPrintDialog>(
        [&](QPrintDialog* d) {
            EXPECT_EQ(d->windowTitle(), "Печать");
            ClickButton(d, {}, kReject);
        },
        [&] { EXPECT_EQ(ErrorNumberOf([&] { dialog.ShowPrinter(); }), RuntimeError::Cancel); });
    EXPECT_TRUE(f.printers.switches.isEmpty());
}

TEST(QtPrinterValues, DuplexOrientationAndCopies) {
    for (qint16 duplex : {kDmDupSimplex, kDmDupVertical, kDmDupHorizontal}) {
        EXPECT_EQ(DevModeDuplex(QtDuplexMode(duplex)), duplex);
    }
    EXPECT_EQ(QtDuplexMode(9), QPrinter::DuplexNone);
    EXPECT_EQ(DevModeDuplex(QPrinter::DuplexAuto), kDmDupVertical);
    QPrinter printer;
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setCopyCount(3);
    EXPECT_EQ(std::tuple(DevModeOrientation(printer), DevModeCopies(printer)),
              std::tuple(kDmOrientLandscape, 3));
}
