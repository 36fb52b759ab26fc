// Shell dialogs and help against the recording shell services.

#include <gtest/gtest.h>
#include <functional>
#include <memory>

#include "dialogs/cls_dialog.h"
#include "platform/recording_shell_services.h"
#include "platform/runtime_error.h"
#include "platform/scripted_dialog_backend.h"
#include "platform/scripted_printer_registry.h"
#include "tests/dialogs/qstring_printer.h"

namespace {

struct Fixture {
    ScriptedDialogBackend backend;
    RecordingShellServices shell;
    ScriptedPrinterRegistry printers;
    ClsDialog dialog{&backend, &shell, &printers};
};

}  // namespace

TEST(ClsDialogShell, RunDialogOptionBits) {
    const struct {
        qint32 flags;
        quint32 options;
    } cases[] = {{0x30, 3}, {0, 0}, {0xF0, 0xF}, {0x10F, 0}, {-1, 0xF}, {0x80, 8}};
    for (const auto& c : cases) {
        Fixture f;
        auto owner = std::make_unique<QWidget>();
        f.dialog.setHOwner(owner.get());
        f.dialog.setFlags(c.flags);
        f.dialog.setDialogTitle("Запуск");
        f.dialog.setDialogPrompt("Введите команду");
        f.dialog.setHIcon(0x10005);
        EXPECT_FALSE(f.dialog.ShowRun(0x999).isValid());
        ASSERT_EQ(f.shell.runCalls.size(), 1);
        const RunDialogRequest& r = f.shell.runCalls[0];
        EXPECT_EQ(r.uFlags, c.options) << std::hex << c.flags;
        EXPECT_EQ(r.hIcon, 0x10005u);  // the property, not the argument
        EXPECT_EQ(r.hwndOwner, owner.get());
        EXPECT_EQ(r.lpszTitle, "Запуск");
        EXPECT_EQ(r.lpszDescription, "Введите команду");
        EXPECT_EQ(r.lpszDirectory, QString());
    }
}

TEST(ClsDialogShell, ObjectPropertiesByKind) {
    const QString trash = RecordingShellServices().trashFolder;
    const struct {
        qint32 flags;
        bool sheet;
        quint32 type;
        QString object;
    } cases[] = {
        {0x700, true, 2, trash},       {0x800, false, 0, {}},         {0, true, 2, ""},
        {0x100, true, 1, "/x/Печать"}, {0x200, true, 2, "/x/Печать"}, {0x300, true, 2, ""},
        {0xF00, true, 2, ""},          {0x1800, false, 0, {}},        {0xFF, true, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags);
        Fixture f;
        f.dialog.setFlags(c.flags);
        EXPECT_FALSE(f.dialog.ShowObjectProp("/x/Печать", "Права").isValid());
        EXPECT_EQ(f.shell.displaySettingsStarts, c.sheet ? 0 : 1);
        ASSERT_EQ(f.shell.propertyCalls.size(), c.sheet ? 1 : 0);
        if (!c.sheet) continue;
        const ObjectPropertiesRequest& r = f.shell.propertyCalls[0];
        EXPECT_EQ(r.shopObjectType, c.type);
        EXPECT_EQ(r.pszObjectName, c.object);
        EXPECT_EQ(r.pszPropertyPage, "Права");
    }
}

TEST(ClsDialogShell, IconPathEndingInSeparatorOrTooLong) {
    const struct {
        QString fileName;
        int error;
    } cases[] = {
        {"/usr/share/icons/", -1},
        {"/", -1},
        {"/" + QString(260, u'i'), RuntimeError::InvalidArgument},
        {QString(300, u'i') + "/", -1},  // the separator is looked at first
    };
    for (const auto& c : cases) {
        Fixture f;
        f.dialog.setFileName(c.fileName);
        f.dialog.setHIcon(7);
        int error = -1;
        try {
            f.dialog.ShowIcon(true);
        } catch (const RuntimeError& e) {
            error = e.number();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(f.shell.calls.isEmpty()) << f.shell.calls.join(",").toStdString();
        EXPECT_EQ(f.dialog.FileName(), c.fileName);
        EXPECT_EQ(f.dialog.hIcon(), 7u);
    }
}

TEST(ClsDialogShell, IconPickCopiesOneIconAndDestroysBoth) {
    for (bool large : {true, false}) {
        Fixture f;
        f.dialog.setFileName("/old/app.ico");
        f.shell.iconFiles.insert("/new/set.ico", 3);
        f.shell.pickIcon = RecordingShellServices::PickIconAnswer{"/new/set.ico", 2};
        f.dialog.ShowIcon(large);

        ASSERT_EQ(f.shell.pickIconCalls.size(), 1);
        const auto& pick = f.shell.pickIconCalls[0];
        EXPECT_EQ(pick.owner, nullptr);
        EXPECT_EQ(pick.cchPath, 260);
        EXPECT_EQ(pick.index, 0);
        EXPECT_EQ(pick.path, "/old/app.ico" + QString(260 - 12, QChar(u'\0')));

        EXPECT_EQ(f.shell.calls, QStringList({"PickIconDlg", "ExtractIconEx", "CopyIcon",
                                              "DestroyIcon", "DestroyIcon"}));
        ASSERT_EQ(f.shell.destroyedIcons.size(), 2);
        const quint32 largeIcon = f.shell.destroyedIcons[1];  // small first, then large
        const quint32 smallIcon = f.shell.destroyedIcons[0];
        EXPECT_NE(f.dialog.hIcon(), 0u);
        EXPECT_NE(f.dialog.hIcon(), largeIcon);
        EXPECT_NE(f.dialog.hIcon(), smallIcon);
        EXPECT_TRUE(f.shell.icons.Contains(f.dialog.hIcon()));
        EXPECT_EQ(f.shell.icons.size(), 1);  // only the copy is left
        EXPECT_EQ(f.dialog.FileName(), "/old/app.ico");
    }
}

TEST(ClsDialogShell, IconPickWithoutAnIconLeavesHIcon) {
    const struct {
        std::optional<RecordingShellServices::PickIconAnswer> pick;
        QStringList calls;
    } cases[] = {
        {std::nullopt, {"PickIconDlg"}},  // cancelled
        {RecordingShellServices::PickIconAnswer{"/new/set.ico", 3},
         {"PickIconDlg", "ExtractIconEx"}},
        {RecordingShellServices::PickIconAnswer{"/none.png", 0}, {"PickIconDlg", "ExtractIconEx"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.dialog.setFileName("/old/app.ico");
        f.dialog.setHIcon(42);
        f.shell.iconFiles.insert("/new/set.ico", 3);
        f.shell.pickIcon = c.pick;
        f.dialog.ShowIcon(true);
        EXPECT_EQ(f.shell.calls, c.calls);
        EXPECT_EQ(f.dialog.hIcon(), 42u);
        EXPECT_EQ(f.dialog.FileName(), "/old/app.ico");
    }
}

TEST(ClsDialogShell, AboutWithEmptyAppNameKeepsOneNul) {
    const struct {
        QString appName;
        QString after;
    } cases[] = {{"", QString(1, QChar(u'\0'))}, {"Quillmere", "Quillmere"}};
    for (const auto& c : cases) {
        Fixture f;
        f.dialog.setAppName(c.appName);
        f.dialog.setDialogPrompt("Архивы Velmorra");
        f.dialog.setHIcon(0x10001);
        f.dialog.ShowAbout();
        EXPECT_EQ(f.dialog.AppName(), c.after);
        EXPECT_EQ(f.dialog.AppName().size(), c.after.size());
        ASSERT_EQ(f.shell.aboutCalls.size(), 1);
        EXPECT_EQ(f.shell.aboutCalls[0].szApp, c.after);
        EXPECT_EQ(f.shell.aboutCalls[0].szOtherStuff, "Архивы Velmorra");
        EXPECT_EQ(f.shell.aboutCalls[0].hIcon, 0x10001u);
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
        EXPECT_EQ(f.shell.helpCalls[0].lpszHelp, "/usr/share/doc/quillmere/справка.html");
        EXPECT_EQ(f.shell.helpCalls[0].uCommand, 3u);
        EXPECT_EQ(f.shell.helpCalls[0].dwData, 257u);
    }
}

TEST(ClsDialogShell, RestartShutDownAndFormatPassTheirArguments) {
    Fixture f;
    auto owner = std::make_unique<QWidget>();
    f.dialog.setHOwner(owner.get());
    f.dialog.setCancelError(true);  // no shell dialog raises the cancel error
    f.dialog.setDialogPrompt("Параметры изменены.");
    for (qint32 flags : {0, 2, 0xFF, -1}) {
        f.dialog.setFlags(flags);
        f.dialog.ShowRestart();
    }
    ASSERT_EQ(f.shell.restartCalls.size(), 4);
    const quint32 kinds[] = {0, 2, 7, 7};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.shell.restartCalls[i].restartKind, kinds[i]);
        EXPECT_EQ(f.shell.restartCalls[i].prompt, "Параметры изменены.");
        EXPECT_EQ(f.shell.restartCalls[i].owner, owner.get());
    }
    f.dialog.ShowShutDown();
    EXPECT_EQ(f.shell.shutDownCalls, QList<QWidget*>({owner.get()}));
    EXPECT_EQ(f.dialog.ShowFormat(2, 0xFFFF, 1), kShFmtNoFormat);
    ASSERT_EQ(f.shell.formatCalls.size(), 1);
    EXPECT_EQ(f.shell.formatCalls[0].drive, 2);
    EXPECT_EQ(f.shell.formatCalls[0].fmtID, 0xFFFF);
    EXPECT_EQ(f.shell.formatCalls[0].options, 1);
}

TEST(IconHandles, CopyAndDestroy) {
    IconHandleTable table;
    const quint32 a = table.Add(QIcon());
    const quint32 b = table.CopyIcon(a);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(table.CopyIcon(0), 0u);
    EXPECT_EQ(table.CopyIcon(12345), 0u);
    EXPECT_TRUE(table.DestroyIcon(a));
    EXPECT_FALSE(table.DestroyIcon(a));  // twice: already gone
    EXPECT_TRUE(table.Contains(b));
    EXPECT_FALSE(table.DestroyIcon(0));
}
