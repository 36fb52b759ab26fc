// Shell dialogs and help against the recording shell services.

#include <memory>
#include <tuple>

#include "tests/dialogs/dialog_test_support.h"

TEST(ClsDialogShell, RunDialogOptionBits) {
    const std::tuple<qint32, quint32> cases[] = {{0x30, 3},  {0, 0},    {0xF0, 0xF},
                                                 {0x10F, 0}, {-1, 0xF}, {0x80, 8}};
    for (const auto& [flags, options] : cases) {
        Fixture f;
        f.dialog.setHOwner(&f.owner);
        f.dialog.setFlags(flags);
        f.dialog.setDialogTitle("Запуск");
        f.dialog.setDialogPrompt("Введите команду");
        f.dialog.setHIcon(0x10005);
        EXPECT_FALSE(f.dialog.ShowRun(0x999).isValid());
        ASSERT_EQ(f.shell.runCalls.size(), 1);
        const RunDialogRequest& r = f.shell.runCalls[0];
        EXPECT_EQ(r.uFlags, options) << std::hex << flags;
        EXPECT_EQ(r.hIcon, 0x10005u);  // the property, not the argument
        EXPECT_EQ(r.hwndOwner, &f.owner);
        EXPECT_EQ(std::tuple(r.lpszTitle, r.lpszDescription, r.lpszDirectory),
                  std::tuple(QString("Запуск"), QString("Введите команду"), QString()));
    }
}

TEST(ClsDialogShell, ObjectPropertiesByKind) {
    const QString trash = RecordingShellServices().trashFolder;
    // Flags, whether a property sheet shows (else: display settings), type, object.
    const std::tuple<qint32, bool, quint32, QString> cases[] = {
        {0x700, true, 2, trash},       {0x800, false, 0, {}},         {0, true, 2, ""},
        {0x100, true, 1, "/x/Печать"}, {0x200, true, 2, "/x/Печать"}, {0x300, true, 2, ""},
        {0xF00, true, 2, ""},          {0x1800, false, 0, {}},        {0xFF, true, 2, ""}};
    for (const auto& [flags, sheet, type, object] : cases) {
        Fixture f;
        f.dialog.setFlags(flags);
        EXPECT_FALSE(f.dialog.ShowObjectProp("/x/Печать", "Права").isValid());
        EXPECT_EQ(f.shell.displaySettingsStarts, sheet ? 0 : 1) << std::hex << flags;
        ASSERT_EQ(f.shell.propertyCalls.size(), sheet ? 1 : 0);
        if (!sheet) continue;
        const ObjectPropertiesRequest& r = f.shell.propertyCalls[0];
        EXPECT_EQ(std::tuple(r.shopObjectType, r.pszObjectName, r.pszPropertyPage),
                  std::tuple(type, object, QString("Права")));
    }
}

TEST(ClsDialogShell, IconPathEndingInSeparatorOrTooLong) {
    // The file name, the error (-1: none), whether the picker is asked.
    const std::tuple<QString, int, bool> cases[] = {
        {"/usr/share/icons/", -1, false},
        {"/", -1, false},
        {"/" + QString(259, u'i'), -1, true},  // exactly fills the picker's buffer
        {"/" + QString(260, u'i'), RuntimeError::InvalidArgument, false},
        {QString(300, u'i') + "/", -1, false}};  // the separator is looked at first
    for (const auto& [fileName, error, picked] : cases) {
        Fixture f;
        f.dialog.setFileName(fileName);
        f.dialog.setHIcon(7);
        EXPECT_EQ(ErrorNumberOf([&] { f.dialog.ShowIcon(true); }), error);
        EXPECT_EQ(f.shell.calls, picked ? QStringList{"PickIconDlg"} : QStringList());
        EXPECT_EQ(f.dialog.hIcon(), 7u);
    }
}

TEST(ClsDialogShell, IconPickKeepsOnlyACopyOfAnExtractedIcon) {
    using Answer = RecordingShellServices::PickIconAnswer;
    const QStringList picked = {"PickIconDlg", "ExtractIconEx", "CopyIcon", "DestroyIcon",
                                "DestroyIcon"};
    // The answer (none: cancelled), the large icon or the small one, the calls made.
    const std::tuple<std::optional<Answer>, bool, QStringList> cases[] = {
        {Answer{"/new/set.ico", 2}, true, picked},
        {Answer{"/new/set.ico", 2}, false, picked},
        {std::nullopt, true, {"PickIconDlg"}},
        {Answer{"/new/set.ico", 3}, true, {"PickIconDlg", "ExtractIconEx"}},  // past the last
        {Answer{"/none.png", 0}, true, {"PickIconDlg", "ExtractIconEx"}}};
    for (const auto& [pick, large, calls] : cases) {
        SCOPED_TRACE(calls.join(",").toStdString());
        Fixture f;
        f.dialog.setFileName("/old/app.ico");
        f.dialog.setHIcon(42);
        f.shell.iconFiles.insert("/new/set.ico", 3);
        f.shell.pickIcon = pick;
        f.dialog.ShowIcon(large);
        EXPECT_EQ(f.shell.calls, calls);
        EXPECT_EQ(f.dialog.FileName(), "/old/app.ico");
        ASSERT_EQ(f.shell.pickIconCalls.size(), 1);
        const auto& asked = f.shell.pickIconCalls[0];
        EXPECT_EQ(std::tuple(asked.owner, asked.cchPath, asked.index), std::tuple(nullptr, 260, 0));
        EXPECT_EQ(asked.path, "/old/app.ico" + Nuls(260 - 12));
        if (calls != picked) {
            EXPECT_EQ(f.dialog.hIcon(), 42u);
            continue;
        }
        ASSERT_EQ(f.shell.destroyedIcons.size(), 2);
        EXPECT_FALSE(f.shell.destroyedIcons.contains(f.dialog.hIcon()));
        EXPECT_EQ(f.shell.icons.Icon(f.dialog.hIcon()).availableSizes(),
                  QList<QSize>({large ? QSize(32, 32) : QSize(16, 16)}));
        EXPECT_EQ(f.shell.icons.size(), 1);  // only the copy is left
    }
}

TEST(ClsDialogShell, AboutWithEmptyAppNameKeepsOneNul) {
    for (const auto& [appName, after] : {std::pair<QString, QString>("", Nuls(1)),
                                         std::pair<QString, QString>("Quillmere", "Quillmere")}) {
        Fixture f;
        f.dialog.setAppName(appName);
        f.dialog.setDialogPrompt("Архивы Velmorra");
        f.dialog.setHIcon(0x10001);
        f.dialog.ShowAbout();
        EXPECT_EQ(f.dialog.AppName(), after);
        ASSERT_EQ(f.shell.aboutCalls.size(), 1);
        const AboutRequest& r = f.shell.aboutCalls[0];
        EXPECT_EQ(std::tuple(r.szApp, r.szOtherStuff, r.hIcon),
                  std::tuple(after, QString("Архивы Velmorra"), 0x10001u));
    }
}

TEST(ClsDialogShell, HelpSetsHelpKeyAndPassesTheFile) {
    for (qint32 before : {0, 257, -5, 100000}) {
        Fixture f;
        f.dialog.setHelpKey(before);
        f.dialog.setHelpFile("/usr/share/doc/quillmere/справка.html");
        f.dialog.setHelpCommand(3);
        f.dialog.ShowHelp();
        EXPECT_EQ(f.dialog.HelpKey(), 257);
        ASSERT_EQ(f.shell.helpCalls.size(), 1);
        const HelpRequest& r = f.shell.helpCalls[0];
        EXPECT_EQ(std::tuple(r.lpszHelp, r.uCommand, r.dwData),
                  std::tuple(QString("/usr/share/doc/quillmere/справка.html"), 3u, 257u));
    }
}

TEST(ClsDialogShell, RestartShutDownAndFormatPassTheirArguments) {
    Fixture f;
    f.dialog.setHOwner(&f.owner);
    f.dialog.setCancelError(true);  // no shell dialog raises the cancel error
    f.dialog.setDialogPrompt("Параметры изменены.");
    const std::pair<qint32, quint32> kinds[] = {{0, 0}, {2, 2}, {0xFF, 7}, {-1, 7}};
    for (const auto& [flags, kind] : kinds) {
        f.dialog.setFlags(flags);
        f.dialog.ShowRestart();
        const auto& r = f.shell.restartCalls.last();
        EXPECT_EQ(std::tuple(r.restartKind, r.prompt, r.owner),
                  std::tuple(kind, QString("Параметры изменены."), &f.owner));
    }
    f.dialog.ShowShutDown();
    EXPECT_EQ(f.shell.shutDownCalls, QList<QWidget*>({&f.owner}));
    EXPECT_EQ(f.dialog.ShowFormat(2, 0xFFFF, 1), kShFmtNoFormat);
    ASSERT_EQ(f.shell.formatCalls.size(), 1);
    const auto& r = f.shell.formatCalls[0];
    EXPECT_EQ(std::tuple(r.drive, r.fmtID, r.options), std::tuple(2, 0xFFFF, 1));
}
