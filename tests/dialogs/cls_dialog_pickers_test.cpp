// Colour, font and printer dialogs against the scripted backend and a
// scripted printer registry.

#include <QCoreApplication>
#include <QPrinter>
#include <memory>
#include <tuple>

#include "tests/dialogs/dialog_test_support.h"

TEST(ClsDialogColor, RecordFromPropertiesAndFlagMask) {
    const std::tuple<qint32, quint32> cases[] = {{0, 0},       {0x10, 0},  {0x0F, 0x0F},
                                                 {0x12, 0x02}, {-1, 0x0F}, {0x1F4, 0x04}};
    Fixture f;  // one dialog object for all: custom colours start over at every call
    for (const auto& [flags, recordFlags] : cases) {
        f.dialog.setFlags(flags);
        f.dialog.setRGBResult(0x00123456);
        f.backend.colorAnswers = {0x000000FF};  // also put into the first custom colour
        f.dialog.ShowColor();
        EXPECT_EQ(f.dialog.RGBResult(), 0x000000FFu);
        const ChooseColorRecord& r = f.backend.colorRequests.last();
        EXPECT_EQ(r.Flags, recordFlags) << std::hex << flags;
        EXPECT_EQ(std::tuple(r.lStructSize, r.hwndOwner, r.hInstance, r.rgbResult),
                  std::tuple(36u, &f.owner, QCoreApplication::instance(), 0x00123456u));
        for (quint32 custom : r.lpCustColors) EXPECT_EQ(custom, 0xFFFFFFFFu);
    }
}

TEST(ClsDialogFont, RecordFromPropertiesOrErrorBeforeAnyDialog) {
    const QString serif = "DejaVu Serif", full(32, u'Ж');
    // FontName, FontSize, lfHeight (size × 1.3, half to even), iPointSize
    // (tenths), error (the name is checked first).
    const std::tuple<QString, qint32, qint32, qint32, int> cases[] = {
        {serif, 10, 13, 100, -1},
        {serif, 5, 6, 50, -1},
        {serif, 15, 20, 150, -1},
        {serif, 25, 32, 250, -1},
        {serif, 3, 4, 30, -1},
        {serif, 0, 0, 0, -1},
        {serif, -10, -13, -100, -1},
        {serif, 214748364, 279172873, 2147483640, -1},
        {full, 10, 13, 100, -1},
        {full + "Ж", 10, 0, 0, RuntimeError::SubscriptOutOfRange},
        {"", 214748365, 0, 0, RuntimeError::Overflow},
        {"", -214748365, 0, 0, RuntimeError::Overflow},
        {"", 2147483647, 0, 0, RuntimeError::Overflow},
        {full + "Ж", 2147483647, 0, 0, RuntimeError::SubscriptOutOfRange}};
    for (const auto& [name, size, height, tenths, error] : cases) {
        SCOPED_TRACE(std::to_string(name.size()) + " characters, size " + std::to_string(size));
        Fixture f;
        f.dialog.setFlags(-1);  // ignored: the dialog always gets 0x141
        f.dialog.setFontName(name);
        f.dialog.setFontSize(size);
        f.dialog.setRGBResult(0x000080FF);
        f.dialog.setBold(true);
        f.dialog.setItalic(true);
        f.dialog.setStrikeThru(true);
        EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowFont(); }), error);
        EXPECT_EQ(f.dialog.FontSize(), size);
        ASSERT_EQ(f.backend.fontRequests.size(), error < 0 ? 1 : 0);
        if (error >= 0) continue;
        const ChooseFontRecord& r = f.backend.fontRequests[0];
        const LogFontRecord& lf = r.lpLogFont;
        EXPECT_EQ(std::tuple(lf.lfHeight, r.iPointSize, r.Flags, r.lStructSize, r.nFontType,
                             r.rgbColors, r.hwndOwner, r.hDC, lf.lfFaceName, lf.lfWeight,
                             lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut),
                  std::tuple(height, tenths, 0x141u, 60u, 0x2000, 0x000080FFu, &f.owner, &f.owner,
                             name + Nuls(33 - name.size()), 700, 1, 0, 1));
    }
}

TEST(ClsDialogFont, AnswerComesBackWithTheMatchedFace) {
    using Answer = ScriptedDialogBackend::FontAnswer;
    // The face the platform matches (none: no font can be made), the answer,
    // FontName after.
    const std::tuple<std::optional<QString>, Answer, QString> cases[] = {
        {"Liberation Sans", {"Arial", 125, 700, /*italic=*/true}, "Liberation Sans"},
        {QString(100, u'x'), {"Other", 90, 400}, QString(79, u'x')},
        {QString(), {"Other", 90, 400}, QString()},
        {std::nullopt, {"Other", 90, 400}, "Arial"}};
    for (const auto& [matched, answer, name] : cases) {
        SCOPED_TRACE(name.toStdString());
        Fixture f;
        f.dialog.setFontName("Arial");
        f.dialog.setUnderline(true);
        f.backend.fontCreationFails = !matched;
        f.backend.matchedFace = matched;
        f.backend.fontAnswers = {answer};
        f.dialog.ShowFont();
        EXPECT_EQ(f.backend.fontRequests[0].lpLogFont.lfWeight, 0);  // Bold false: no preference
        // The rest of the answer arrives in any case; the size is truncated,
        // Bold read from the font type.
        EXPECT_EQ(std::tuple(f.dialog.FontName(), f.dialog.FontSize(), f.dialog.Bold(),
                             f.dialog.Italic(), f.dialog.Underline(), f.dialog.StrikeThru()),
                  std::tuple(name, answer.tenthsOfPoint / 10, answer.weight == 700, answer.italic,
                             false, false));
        ASSERT_EQ(f.backend.faceRequests.size(), 1);
        EXPECT_EQ(TextBeforeNul(f.backend.faceRequests[0].lfFaceName), answer.face);
    }
}

namespace {

void InstallPrinters(ScriptedPrinterRegistry& printers) {
    printers.installed = {{"HP LaserJet", "PSCRIPT5", "LPT1:"},
                          {"BROTHER", "brlaser", "usb"},
                          {"pdf writer", "cups-pdf", "cups-pdf:/"}};
    printers.current = 0;
}

}  // namespace

TEST(ClsDialogPrinter, RecordsFromTheCurrentPrinter) {
    for (bool duplexReadable : {true, false}) {
        Fixture f;
        InstallPrinters(f.printers);
        f.printers.orientation = 2;
        f.printers.duplex = 3;
        f.printers.duplexReadable = duplexReadable;
        f.dialog.setFlags(-1);
        f.dialog.ShowPrinter();
        ASSERT_EQ(f.backend.printerRequests.size(), 1);
        const PrintDlgRecord& r = f.backend.printerRequests[0];
        const DevModeRecord& dm = r.hDevMode;
        EXPECT_EQ(std::tuple(r.lStructSize, r.Flags, r.hwndOwner, dm.dmDeviceName, dm.dmSize,
                             dm.dmFields, dm.dmOrientation, dm.dmDuplex),
                  std::tuple(66u, 0x1C0FFFu, &f.owner, "HP LaserJet" + Nuls(32 - 11), 122, 0x1001u,
                             2, duplexReadable ? 3 : 0));
        // Names of 8, 11 and 5 characters after the 8-byte header.
        const DevNamesRecord& dn = r.hDevNames;
        EXPECT_EQ(std::tuple(dn.wDriverOffset, dn.wDeviceOffset, dn.wOutputOffset, dn.wDefault),
                  std::tuple(8, 17, 29, 0));
        EXPECT_EQ(dn.text, "PSCRIPT5" + Nuls(1) + "HP LaserJet" + Nuls(1) + "LPT1:" + Nuls(1) +
                               QString(100 - 27, u' '));
        EXPECT_EQ(dn.NameAt(dn.wOutputOffset), "LPT1:");
    }
}

TEST(DialogRecords, DevNamesCutAtTheField) {
    const DevNamesRecord r = MakeDevNames(QString(60, u'd'), QString(50, u'n'), "port");
    EXPECT_EQ(std::tuple(r.wDeviceOffset, r.wOutputOffset), std::tuple(8 + 61, 8 + 61 + 51));
    EXPECT_EQ(r.text.size(), 100);
    EXPECT_EQ(r.NameAt(r.wOutputOffset), QString());  // past the field
    EXPECT_EQ(ErrorNumberOf([] { MakeDevNames(QString(40000, u'd'), "n", "p"); }),
              RuntimeError::Overflow);
}

TEST(ClsDialogPrinter, NoCurrentPrinterShowsPrinterError) {
    Fixture f;
    f.dialog.setCancelError(true);
    EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowPrinter(); }), -1);
    EXPECT_TRUE(f.backend.printerRequests.isEmpty());
    ASSERT_EQ(f.backend.messages.size(), 1);
    const auto& m = f.backend.messages[0];
    EXPECT_EQ(std::tuple(m.caption, m.style, m.owner, m.text),
              std::tuple(QString("Printer Error"), 48u, &f.owner, PrinterInfoErrorText()));
}

TEST(ClsDialogPrinter, ChoiceSwitchesAndAdjustsTheCurrentPrinter) {
    using Answer = ScriptedDialogBackend::PrinterAnswer;
    using Settings = std::tuple<qint16, qint16, qint16>;  // orientation, duplex, copies
    auto device = std::make_shared<QPrinter>();
    // Current printer before, flags, the answer, the error (-1: none), setCurrent
    // calls, current after, the settings after.
    const std::tuple<qsizetype, qint32, Answer, int, QList<qsizetype>, qsizetype, Settings>
        cases[] = {
            // Matched whatever its case; a current name with lower case is always
            // "different", an upper-case one the same; one not installed, or none
            // (printed to a file), switches nothing.
            {0, 0, {"Brother", 2, 2, 3}, -1, {1}, 1, {2, 2, 3}},
            {0, 0, {"HP LaserJet", 2, 2, 3}, -1, {0}, 0, {2, 2, 3}},
            {0, 0, {"HP LASERJET", 2, 2, 3}, -1, {0}, 0, {2, 2, 3}},
            {0, 0, {"pdf writer", 2, 2, 3}, -1, {2}, 2, {2, 2, 3}},
            {1, 0, {"brother", 2, 2, 3}, -1, {}, 1, {2, 2, 3}},
            {0, 0, {"Gone", 2, 2, 3}, -1, {}, 0, {2, 2, 3}},
            {0, 0, {"", 2, 2, 3}, -1, {}, 0, {2, 2, 3}},
            // The device comes back when the flags ask for it.
            {0, 0x100, {"BROTHER"}, -1, {1}, 1, {1, 1, 1}},
            {0, 0x200, {"BROTHER"}, -1, {1}, 1, {1, 1, 1}},
            // A full device-name field fails before any switch or setting.
            {0, 0, {QString(32, u'P'), 2, 2, 5}, RuntimeError::InvalidArgument, {}, 0, {1, 1, 1}},
            {0, 0, {QString(31, u'P'), 1, 1, 5}, -1, {}, 0, {1, 1, 5}},
            // Copies 0 and duplex 9 are refused; the orientation still changes.
            {0, 0, {"BROTHER", 2, 9, 0}, -1, {1}, 1, {2, 1, 1}}};
    for (const auto& [before, flags, answer, error, switches, after, settings] : cases) {
        SCOPED_TRACE(answer.deviceName.toStdString());
        Fixture f;
        InstallPrinters(f.printers);
        f.printers.current = before;
        f.dialog.setFlags(flags);
        f.backend.printerAnswers = {answer};
        f.backend.printerAnswers[0].device = device;
        EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowPrinter(); }), error);
        EXPECT_EQ(std::tuple(f.printers.switches, f.printers.current), std::tuple(switches, after));
        EXPECT_EQ(Settings(f.printers.orientation, f.printers.duplex, f.printers.copies), settings);
        EXPECT_EQ(f.dialog.hDC(), flags ? device.get() : nullptr);
        EXPECT_EQ(f.dialog.hOwner(), &f.owner);  // not replaced by the device
    }
}
