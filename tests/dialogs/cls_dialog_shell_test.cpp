// Shell dialogs and help against the recording shell services.

#include "tests/dialogs/dialog_test_support.h"

TEST(ClsDialogShell, CallsPassThePropertiesAndNeverRaise) {
    Fixture f;
    f.dialog.setCancelError(true);  // a raise would fail the test: none of these raises
    f.dialog.setDialogTitle("Запуск");
    f.dialog.setDialogPrompt("Параметры");
    f.dialog.setHIcon(0x10005);
    f.dialog.setHelpFile("/usr/share/doc/quillmere/справка.html");
    f.dialog.setHelpCommand(3);
    f.dialog.setHelpKey(-5);
    // Each flags value and the argument it gives the call. Run options are
    // bits 4 to 7; the icon is the property's, not the argument.
    QStringList expected;
    for (const auto& [flags, options] :
         {std::pair{0x30, 3}, {0xF0, 15}, {0x10F, 0}, {-1, 15}, {0x80, 8}}) {
        f.dialog.setFlags(flags);
        EXPECT_FALSE(f.dialog.ShowRun(0x999).isValid());
        expected << QString("RunFileDlg(owner, 0x10005, , Запуск, Параметры, %1)").arg(options);
    }
    // Objects by bits 8 to 11: 1 printer, 2 path, 7 trash, 8 display; each
    // with the object type and name the call gets (null: the display settings
    // open instead).
    const QString trash = "2, " + f.shell.trashFolder, printer = "1, /x/Печать",
                  path = "2, /x/Печать";
    const std::pair<qint32, QString> objects[] = {{0x700, trash},   {0x800, {}},    {0x1800, {}},
                                                  {0x100, printer}, {0x200, path},  {0, "2, "},
                                                  {0x300, "2, "},   {0xF00, "2, "}, {0xFF, "2, "}};
    for (const auto& [flags, object] : objects) {
        f.dialog.setFlags(flags);
        EXPECT_FALSE(f.dialog.ShowObjectProp("/x/Печать", "Права").isValid());
        expected << (object.isNull() ? "StartDisplaySettings()"
                                     : "ObjectProperties(owner, " + object + ", Права)");
    }
    // Restart kinds are the low three bits.
    for (const auto& [flags, kind] : {std::pair{0, 0}, {2, 2}, {0xFF, 7}, {-1, 7}}) {
        f.dialog.setFlags(flags);
        EXPECT_FALSE(f.dialog.ShowRestart().isValid());
        expected << QString("RestartDialog(owner, Параметры, %1)").arg(kind);
    }
    EXPECT_FALSE(f.dialog.ShowShutDown().isValid());
    EXPECT_EQ(f.dialog.ShowFormat(2, 0xFFFF, 1), kShFmtNoFormat);
    EXPECT_FALSE(f.dialog.ShowAbout().isValid());
    EXPECT_EQ(f.dialog.AppName(), Nuls(1));  // an empty AppName keeps one NUL
    f.dialog.setAppName("Quillmere");
    f.dialog.ShowAbout();
    f.dialog.ShowHelp();
    EXPECT_EQ(f.dialog.HelpKey(), 257);
    EXPECT_EQ(
        f.shell.calls,
        expected + QStringList({"ShutDownDialog(owner)", "FormatDrive(owner, 2, 65535, 1)",
                                "ShellAbout(owner, " + Nuls(1) + ", Параметры, 0x10005)",
                                "ShellAbout(owner, Quillmere, Параметры, 0x10005)",
                                "WinHelp(owner, /usr/share/doc/quillmere/справка.html, 3, 257)"}));
}

TEST(ClsDialogShell, IconPickKeepsOnlyACopyOfAnExtractedIcon) {
    const QString app = "/old/app.ico", fits = "/" + QString(259, u'i');
    const QString set = "/new/set.ico", copyLarge = "CopyIcon(0x10001)";
    const QStringList destroyed = {"DestroyIcon(0x10002)", "DestroyIcon(0x10001)"};
    // FileName, the file and index picked (no file: cancelled), the large icon
    // or the small one, the error (-1: none), whether the picker is asked, the
    // calls after it.
    const std::tuple<QString, QString, int, bool, int, bool, QStringList> cases[] = {
        {app, set, 2, true, -1, true, QStringList{"ExtractIconEx(" + set + ", 2, 1)", copyLarge}},
        {app, set, 2, false, -1, true, {"ExtractIconEx(" + set + ", 2, 1)", "CopyIcon(0x10002)"}},
        {app, "", 0, true, -1, true, {}},
        {app, set, 3, true, -1, true, {"ExtractIconEx(" + set + ", 3, 1)"}},  // past the last
        {app, "/none.png", 0, true, -1, true, {"ExtractIconEx(/none.png, 0, 1)"}},
        {"/usr/share/icons/", set, 2, true, -1, false, {}},
        {"/", set, 2, true, -1, false, {}},
        {fits, "", 0, true, -1, true, {}},  // exactly fills the picker's buffer
        {fits + "i", set, 2, true, RuntimeError::InvalidArgument, false, {}},
        {QString(300, u'i') + "/", set, 2, true, -1, false, {}}};  // the "/" is looked at first
    for (const auto& [fileName, pickPath, pickIndex, large, error, picker, after] : cases) {
        SCOPED_TRACE(fileName.left(20).toStdString() + " " + after.join(",").toStdString());
        Fixture f;
        f.dialog.setFileName(fileName);
        f.dialog.setHIcon(42);
        f.shell.iconFiles.insert(set, 3);
        if (!pickPath.isEmpty()) f.shell.pickIcon = {pickPath, pickIndex};
        EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowIcon(large); }), error);
        QStringList calls = after;
        if (picker)
            calls.prepend("PickIconDlg(-, " + fileName + Nuls(260 - fileName.size()) + ", 260, 0)");
        const bool copied = after.size() == 2;
        if (copied) calls += destroyed;
        // The copy is the only icon left.
        EXPECT_EQ(std::tuple(f.shell.calls, f.dialog.FileName(), f.dialog.hIcon()),
                  std::tuple(calls, fileName, copied ? 0x10003u : 42u));
        if (copied) {
            EXPECT_EQ(std::tuple(f.shell.icons.size(),
                                 f.shell.icons.Icon(f.dialog.hIcon()).availableSizes()),
                      std::tuple(1, QList<QSize>({large ? QSize(32, 32) : QSize(16, 16)})));
        }
    }
}
