// Colour, font and printer dialogs against the scripted backend and a
// scripted printer registry.

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QPrinter>
#include <functional>
#include <memory>

#include "dialogs/cls_dialog.h"
#include "platform/recording_shell_services.h"
#include "platform/runtime_error.h"
#include "platform/scripted_dialog_backend.h"
#include "platform/scripted_printer_registry.h"
#include "tests/dialogs/qstring_printer.h"

namespace {

const QChar kNul(u'\0');

int ErrorNumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return -1;
}

// A dialog object with every double in place.
struct Fixture {
    ScriptedDialogBackend backend;
    RecordingShellServices shell;
    ScriptedPrinterRegistry printers;
    ClsDialog dialog{&backend, &shell, &printers};
};

}  // namespace

TEST(ClsDialogColor, RecordFromPropertiesAndFlagMask) {
    const struct {
        qint32 flags;
        quint32 recordFlags;
    } cases[] = {
        {0, 0}, {0x10, 0}, {0x0F, 0x0F}, {0x12, 0x02}, {-1, 0x0F}, {0x1F4, 0x04},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto owner = std::make_unique<QWidget>();
        f.dialog.setHOwner(owner.get());
        f.dialog.setFlags(c.flags);
        f.dialog.setRGBResult(0x00123456);
        f.dialog.ShowColor();
        ASSERT_EQ(f.backend.colorRequests().size(), 1);
        const ChooseColorRecord& r = f.backend.colorRequests()[0];
        EXPECT_EQ(r.Flags, c.recordFlags) << std::hex << c.flags;
        EXPECT_EQ(r.lStructSize, 36u);
        EXPECT_EQ(r.hwndOwner, owner.get());
        EXPECT_EQ(r.hInstance, QCoreApplication::instance());
        EXPECT_EQ(r.rgbResult, 0x00123456u);
        EXPECT_EQ(r.lpfnHook, 0u);
    }
}

TEST(ClsDialogColor, CustomColoursResetAtEveryCall) {
    Fixture f;
    f.backend.chooseColor(0x000000FF, /*addToCustom=*/true);
    f.backend.chooseColor(0x0000FF00);
    f.dialog.ShowColor();
    EXPECT_EQ(f.dialog.RGBResult(), 0x000000FFu);
    f.dialog.ShowColor();
    EXPECT_EQ(f.dialog.RGBResult(), 0x0000FF00u);
    ASSERT_EQ(f.backend.colorRequests().size(), 2);
    for (const ChooseColorRecord& r : f.backend.colorRequests()) {
        for (quint32 custom : r.lpCustColors) EXPECT_EQ(custom, 0xFFFFFFFFu);
    }
    // The second dialog started from the first one's answer.
    EXPECT_EQ(f.backend.colorRequests()[1].rgbResult, 0x000000FFu);
}

TEST(ClsDialogPickers, CancelKeepsPropertiesAndRaisesOnlyWhenAsked) {
    const std::function<void(Fixture&)> cancels[] = {
        [](Fixture& f) { f.backend.cancelColor(); },
        [](Fixture& f) { f.backend.cancelFont(); },
        [](Fixture& f) { f.backend.cancelPrinter(); },
    };
    const std::function<void(ClsDialog&)> shows[] = {
        [](ClsDialog& d) { d.ShowColor(); },
        [](ClsDialog& d) { d.ShowFont(); },
        [](ClsDialog& d) { d.ShowPrinter(); },
    };
    for (int which = 0; which < 3; ++which) {
        for (bool cancelError : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "dialog " << which << " CancelError " << cancelError);
            Fixture f;
            f.printers.installed = {{"Office", "drv", "port"}};
            f.printers.current = 0;
            f.dialog.setCancelError(cancelError);
            f.dialog.setRGBResult(0x00ABCDEF);
            f.dialog.setFontName("Serif");
            f.dialog.setFontSize(11);
            cancels[which](f);
            EXPECT_EQ(ErrorNumberOf([&] { shows[which](f.dialog); }),
                      cancelError ? RuntimeError::Cancel : -1);
            EXPECT_EQ(f.dialog.RGBResult(), 0x00ABCDEFu);
            EXPECT_EQ(f.dialog.FontName(), "Serif");
            EXPECT_EQ(f.dialog.FontSize(), 11);
            EXPECT_TRUE(f.printers.switches.isEmpty());
            EXPECT_EQ(f.printers.copies, 1);
        }
    }
}

TEST(ClsDialogFont, RecordFromProperties) {
    const struct {
        qint32 size;
        qint32 height;  // size × 1.3, half to even
        qint32 tenths;
    } cases[] = {
        {10, 13, 100}, {5, 6, 50}, {15, 20, 150},    {25, 32, 250},
        {3, 4, 30},    {0, 0, 0},  {-10, -13, -100}, {214748364, 279172873, 2147483640},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto owner = std::make_unique<QWidget>();
        f.dialog.setHOwner(owner.get());
        f.dialog.setFlags(-1);  // ignored: the dialog always gets 0x141
        f.dialog.setFontName("DejaVu Serif");
        f.dialog.setFontSize(c.size);
        f.dialog.setRGBResult(0x000080FF);
        f.dialog.ShowFont();
        ASSERT_EQ(f.backend.fontRequests().size(), 1);
        const ChooseFontRecord& r = f.backend.fontRequests()[0];
        EXPECT_EQ(r.lpLogFont.lfHeight, c.height) << c.size;
        EXPECT_EQ(r.iPointSize, c.tenths) << c.size;
        EXPECT_EQ(r.Flags, 0x141u);
        EXPECT_EQ(r.lStructSize, 60u);
        EXPECT_EQ(r.nFontType, 0x2000);
        EXPECT_EQ(r.rgbColors, 0x000080FFu);
        EXPECT_EQ(r.hwndOwner, owner.get());
        EXPECT_EQ(r.hDC, owner.get());
        EXPECT_EQ(r.lpLogFont.lfFaceName, "DejaVu Serif" + QString(33 - 12, kNul));
        EXPECT_EQ(r.lpLogFont.lfWeight, 0);  // Bold false: no preference
    }
}

TEST(ClsDialogFont, StyleBitsGoIn) {
    Fixture f;
    f.dialog.setBold(true);
    f.dialog.setItalic(true);
    f.dialog.setUnderline(false);
    f.dialog.setStrikeThru(true);
    f.dialog.ShowFont();
    ASSERT_EQ(f.backend.fontRequests().size(), 1);
    const LogFontRecord& lf = f.backend.fontRequests()[0].lpLogFont;
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(lf.lfStrikeOut, 1);
}

TEST(ClsDialogFont, ErrorsBeforeAnyDialog) {
    const struct {
        int nameChars;
        qint32 size;
        int error;
    } cases[] = {
        {32, 10, -1},
        {33, 10, RuntimeError::SubscriptOutOfRange},
        {0, 214748365, RuntimeError::Overflow},
        {0, -214748365, RuntimeError::Overflow},
        {0, 2147483647, RuntimeError::Overflow},
        {33, 2147483647, RuntimeError::SubscriptOutOfRange},  // the name comes first
    };
    for (const auto& c : cases) {
        Fixture f;
        f.dialog.setFontName(QString(c.nameChars, u'Ж'));
        f.dialog.setFontSize(c.size);
        EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowFont(); }), c.error)
            << c.nameChars << " / " << c.size;
        EXPECT_EQ(f.backend.fontRequests().size(), c.error < 0 ? 1 : 0);
        EXPECT_EQ(f.dialog.FontSize(), c.size);
    }
}

TEST(ClsDialogFont, AnswerComesBackWithTheMatchedFace) {
    Fixture f;
    f.dialog.setFontName("Arial");
    f.dialog.setFontSize(10);
    f.dialog.setUnderline(true);
    f.backend.matchedFace = "Liberation Sans";
    ScriptedDialogBackend::FontAnswer answer;
    answer.face = "Arial";
    answer.tenthsOfPoint = 125;  // 12.5 points: the size is truncated
    answer.weight = 700;
    answer.italic = true;
    f.backend.chooseFont(answer);
    f.dialog.ShowFont();
    EXPECT_EQ(f.dialog.FontSize(), 12);
    EXPECT_TRUE(f.dialog.Bold());  // read from the font type, lfWeight was 0 going in
    EXPECT_TRUE(f.dialog.Italic());
    EXPECT_FALSE(f.dialog.Underline());
    EXPECT_FALSE(f.dialog.StrikeThru());
    EXPECT_EQ(f.dialog.FontName(), "Liberation Sans");
    ASSERT_EQ(f.backend.faceRequests().size(), 1);
    EXPECT_EQ(TextBeforeNul(f.backend.faceRequests()[0].lfFaceName), "Arial");
}

TEST(ClsDialogFont, FaceNameLimitsAndFailedFont) {
    const struct {
        std::optional<QString> matched;  // nullopt: no font can be made
        QString name;
    } cases[] = {
        {QString(100, u'x'), QString(79, u'x')},
        {QString(), QString()},
        {std::nullopt, "Old Face"},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.dialog.setFontName("Old Face");
        f.backend.fontCreationFails = !c.matched;
        f.backend.matchedFace = c.matched;
        f.backend.chooseFont({"Other", 90, 400});
        f.dialog.ShowFont();
        EXPECT_EQ(f.dialog.FontName(), c.name);
        EXPECT_EQ(f.dialog.FontSize(), 9);  // the rest of the answer still arrives
    }
}

namespace {

void InstallPrinters(ScriptedPrinterRegistry& printers) {
    printers.installed = {
        {"HP LaserJet", "PSCRIPT5", "LPT1:"},
        {"BROTHER", "brlaser", "usb"},
        {"pdf writer", "cups-pdf", "cups-pdf:/"},
    };
    printers.current = 0;
}

}  // namespace

TEST(ClsDialogPrinter, RecordsFromTheCurrentPrinter) {
    Fixture f;
    InstallPrinters(f.printers);
    f.printers.orientation = 2;
    f.printers.duplex = 3;
    auto owner = std::make_unique<QWidget>();
    f.dialog.setHOwner(owner.get());
    f.dialog.setFlags(-1);
    f.dialog.ShowPrinter();
    ASSERT_EQ(f.backend.printerRequests().size(), 1);
    const PrintDlgRecord& r = f.backend.printerRequests()[0];
    EXPECT_EQ(r.lStructSize, 66u);
    EXPECT_EQ(r.hwndOwner, owner.get());
    EXPECT_EQ(r.Flags, 0x1C0FFFu);
    EXPECT_EQ(r.hDevMode.dmDeviceName, "HP LaserJet" + QString(32 - 11, kNul));
    EXPECT_EQ(r.hDevMode.dmSize, 122);
    EXPECT_EQ(r.hDevMode.dmFields, 0x1001u);
    EXPECT_EQ(r.hDevMode.dmOrientation, 2);
    EXPECT_EQ(r.hDevMode.dmDuplex, 3);
    // Names of 8, 11 and 5 characters.
    EXPECT_EQ(r.hDevNames.wDriverOffset, 8);
    EXPECT_EQ(r.hDevNames.wDeviceOffset, 17);
    EXPECT_EQ(r.hDevNames.wOutputOffset, 29);
    EXPECT_EQ(r.hDevNames.wDefault, 0);
    const QString names = QStringLiteral("PSCRIPT5") + kNul + "HP LaserJet" + kNul + "LPT1:" + kNul;
    EXPECT_EQ(names.size(), 27);
    EXPECT_EQ(r.hDevNames.text, names + QString(100 - 27, u' '));
    EXPECT_EQ(r.hDevNames.NameAt(r.hDevNames.wDeviceOffset), "HP LaserJet");
    EXPECT_EQ(r.hDevNames.NameAt(r.hDevNames.wOutputOffset), "LPT1:");
}

TEST(ClsDialogPrinter, UnreadableDuplexIsZero) {
    Fixture f;
    InstallPrinters(f.printers);
    f.printers.duplexReadable = false;
    f.dialog.ShowPrinter();
    ASSERT_EQ(f.backend.printerRequests().size(), 1);
    EXPECT_EQ(f.backend.printerRequests()[0].hDevMode.dmDuplex, 0);
}

TEST(DialogRecords, DevNamesCutAtTheField) {
    const DevNamesRecord r = MakeDevNames(QString(60, u'd'), QString(50, u'n'), "port");
    EXPECT_EQ(r.wDeviceOffset, 8 + 61);
    EXPECT_EQ(r.wOutputOffset, 8 + 61 + 51);
    EXPECT_EQ(r.text.size(), 100);
    EXPECT_EQ(r.NameAt(r.wOutputOffset), QString());  // past the field
    EXPECT_EQ(ErrorNumberOf([] { MakeDevNames(QString(40000, u'd'), "n", "p"); }),
              RuntimeError::Overflow);
}

TEST(ClsDialogPrinter, NoCurrentPrinterShowsPrinterError) {
    Fixture f;
    auto owner = std::make_unique<QWidget>();
    f.dialog.setHOwner(owner.get());
    f.dialog.setCancelError(true);
    EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowPrinter(); }), -1);
    EXPECT_TRUE(f.backend.printerRequests().isEmpty());
    ASSERT_EQ(f.backend.messages().size(), 1);
    const auto& m = f.backend.messages()[0];
    EXPECT_EQ(m.caption, "Printer Error");
    EXPECT_EQ(m.style, 48u);
    EXPECT_EQ(m.text, PrinterInfoErrorText());
    EXPECT_EQ(m.owner, owner.get());
}

TEST(ClsDialogPrinter, ChoiceSwitchesAndAdjustsTheCurrentPrinter) {
    const struct {
        QString chosen;
        QList<qsizetype> switches;
        qsizetype current;
    } cases[] = {
        {"Brother", {1}, 1},      // matched whatever its case
        {"HP LaserJet", {0}, 0},  // stored with lower case: always "different"
        {"HP LASERJET", {0}, 0},
        {"pdf writer", {2}, 2},
        {"Gone", {}, 0},  // not installed: stays
        {"", {}, 0},      // printed to a file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen.toStdString());
        Fixture f;
        InstallPrinters(f.printers);
        auto owner = std::make_unique<QWidget>();
        f.dialog.setHOwner(owner.get());
        f.backend.choosePrinter({c.chosen, 2, 2, 3, nullptr});
        f.dialog.ShowPrinter();
        EXPECT_EQ(f.printers.switches, c.switches);
        EXPECT_EQ(f.printers.current, c.current);
        EXPECT_EQ(f.printers.orientation, 2);
        EXPECT_EQ(f.printers.duplex, 2);
        EXPECT_EQ(f.printers.copies, 3);
        EXPECT_EQ(f.dialog.hOwner(), owner.get());  // not replaced by the device
    }
}

TEST(ClsDialogPrinter, UpperCaseCurrentNameIsNotSwitchedAgain) {
    Fixture f;
    InstallPrinters(f.printers);
    f.printers.current = 1;  // "BROTHER"
    f.backend.choosePrinter({"brother", 1, 1, 1, nullptr});
    f.dialog.ShowPrinter();
    EXPECT_TRUE(f.printers.switches.isEmpty());
}

TEST(ClsDialogPrinter, DeviceComesBackOnlyWhenAsked) {
    auto device = std::make_shared<QPrinter>();
    const struct {
        qint32 flags;
        QPrinter* expected;
    } cases[] = {{0, nullptr}, {0x100, device.get()}, {0x200, device.get()}};
    for (const auto& c : cases) {
        Fixture f;
        InstallPrinters(f.printers);
        f.dialog.setFlags(c.flags);
        f.backend.choosePrinter({"BROTHER", 1, 1, 1, device});
        f.dialog.ShowPrinter();
        EXPECT_EQ(f.dialog.hDC(), c.expected) << c.flags;
        EXPECT_EQ(f.dialog.hOwner(), nullptr);
    }
}

TEST(ClsDialogPrinter, FullDeviceNameFieldFailsBeforeAnySwitch) {
    Fixture f;
    InstallPrinters(f.printers);
    f.backend.choosePrinter({QString(32, u'P'), 2, 2, 5, nullptr});
    EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowPrinter(); }), RuntimeError::InvalidArgument);
    EXPECT_TRUE(f.printers.switches.isEmpty());
    EXPECT_EQ(f.printers.copies, 1);
    f.backend.choosePrinter({QString(31, u'P'), 2, 2, 5, nullptr});
    EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowPrinter(); }), -1);
    EXPECT_EQ(f.printers.copies, 5);
}

TEST(ClsDialogPrinter, RefusedSettingLeavesTheOthers) {
    Fixture f;
    InstallPrinters(f.printers);
    f.backend.choosePrinter({"BROTHER", 2, 9, 0, nullptr});  // copies 0, duplex 9: refused
    f.dialog.ShowPrinter();
    EXPECT_EQ(f.printers.copies, 1);
    EXPECT_EQ(f.printers.duplex, 1);
    EXPECT_EQ(f.printers.orientation, 2);
}
