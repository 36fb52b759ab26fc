// The Qt colour, font, printer and message dialogs, driven on the offscreen
// platform.

#include <gtest/gtest.h>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinterInfo>

#include "dialogs/cls_dialog.h"
#include "platform/qt_dialog_backend.h"
#include "platform/recording_shell_services.h"
#include "platform/runtime_error.h"
#include "platform/scripted_printer_registry.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/dialogs/qstring_printer.h"

namespace {

QWidget* CustomPart(QColorDialog* d) {
    for (QWidget* w : d->findChildren<QWidget*>()) {
        if (QByteArray(w->metaObject()->className()).endsWith("QColorPicker")) return w;
    }
    return nullptr;
}

}  // namespace

TEST(QtPickers, ColorDialogCustomPartFollowsFlags) {
    const struct {
        qint32 flags;
        bool customShown;
        bool defineButton;
    } cases[] = {
        {0, false, true},    {0x2, true, false},  // full open
        {0x4, false, false},                      // prevent full open
        {0x6, false, false},                      // prevent wins
        {0x12, true, false},                      // the hook bit is dropped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags);
        ClsDialog dialog;
        dialog.setFlags(c.flags);
        bool customShown = !c.customShown;
        bool defineButton = !c.defineButton;
        ModalDriver<QColorDialog> driver([&](QColorDialog* d) {
            QWidget* custom = CustomPart(d);
            ASSERT_NE(custom, nullptr);
            customShown = custom->isVisibleTo(d);
            auto* define = d->findChild<QPushButton*>("defineCustomButton");
            defineButton = define != nullptr;
            if (define) {
                QTest::mouseClick(define, Qt::LeftButton);
                EXPECT_TRUE(custom->isVisibleTo(d));
                EXPECT_FALSE(define->isEnabled());
            }
            d->reject();
        });
        dialog.ShowColor();
        ASSERT_TRUE(driver.acted());
        EXPECT_EQ(customShown, c.customShown);
        EXPECT_EQ(defineButton, c.defineButton);
    }
}

TEST(QtPickers, ColorDialogStartsAtRgbResultAndReturnsTheChoice) {
    ClsDialog dialog;
    dialog.setFlags(1);  // start at RGBResult
    dialog.setRGBResult(0x00336699);
    QColor start;
    QList<QColor> custom;
    ModalDriver<QColorDialog> driver([&](QColorDialog* d) {
        start = d->currentColor();
        for (int i = 0; i < 16; ++i) custom.append(QColorDialog::customColor(i));
        d->setCurrentColor(QColor(0x12, 0x34, 0x56));
        ClickButton(d, "OK");
    });
    dialog.ShowColor();
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(start, QColor(0x99, 0x66, 0x33));
    for (const QColor& c : custom) EXPECT_EQ(c, QColor(Qt::white));
    EXPECT_EQ(dialog.RGBResult(), 0x00563412u);
}

TEST(QtPickers, FontDialogStartsFromPropertiesAndReadsBackTheMatchedFace) {
    const QStringList families = QFontDatabase::families();
    if (families.isEmpty()) GTEST_SKIP() << "no fonts installed";
    ClsDialog dialog;
    dialog.setFontName(families.first());
    dialog.setFontSize(10);
    dialog.setItalic(true);
    QFont start;
    QFont chosen(families.first());
    chosen.setPointSize(12);
    chosen.setWeight(QFont::Bold);
    chosen.setUnderline(true);
    ModalDriver<QFontDialog> driver([&](QFontDialog* d) {
        start = d->currentFont();
        d->setCurrentFont(chosen);
        ClickButton(d, "OK");
    });
    dialog.ShowFont();
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(start.family(), families.first());
    EXPECT_EQ(start.pointSize(), 10);
    EXPECT_TRUE(start.italic());
    EXPECT_EQ(dialog.FontSize(), 12);
    EXPECT_TRUE(dialog.Bold());
    EXPECT_TRUE(dialog.Underline());
    EXPECT_EQ(dialog.FontName(), QFontInfo(chosen).family());
}

TEST(QtPickers, TextFaceOfAnUnknownFaceIsTheSubstitute) {
    QtDialogBackend backend;
    LogFontRecord lf;
    lf.lfFaceName = FixedField("Нет такого шрифта", kLogFontFaceChars);
    const std::optional<QString> face = backend.TextFaceOf(lf);
    ASSERT_TRUE(face);
    EXPECT_NE(*face, "Нет такого шрифта");
    EXPECT_EQ(*face, QFontInfo(QFont("Нет такого шрифта")).family());
}

TEST(QtPickers, PrinterErrorWithoutAnyPrinter) {
    if (!QPrinterInfo::availablePrinters().isEmpty()) GTEST_SKIP() << "a printer is installed";
    ClsDialog dialog;
    dialog.setCancelError(true);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalDriver<QMessageBox> driver([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        ClickButton(box, "ОК");
    });
    EXPECT_NO_THROW(dialog.ShowPrinter());
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(title, "Printer Error");
    EXPECT_EQ(text, PrinterInfoErrorText());
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST(QtPickers, PrintDialogShowsAndCancels) {
    RecordingShellServices shell;
    ScriptedPrinterRegistry printers;
    printers.installed = {{"Office", "drv", "port"}};
    printers.current = 0;
    ClsDialog dialog(nullptr, &shell, &printers);
    dialog.setCancelError(true);
    QString title;
    ModalDriver<QPrintDialog> driver([&](QPrintDialog* d) {
        title = d->windowTitle();
        d->reject();
    });
    int error = -1;
    try {
        dialog.ShowPrinter();
    } catch (const RuntimeError& e) {
        error = e.number();
    }
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(title, "Печать");
    EXPECT_EQ(error, RuntimeError::Cancel);
    EXPECT_TRUE(printers.switches.isEmpty());
}
