#include <gtest/gtest.h>
#include <QCoreApplication>
#include <memory>

#include "dialogs/cls_dialog.h"
#include "platform/runtime_error.h"
#include "platform/scripted_dialog_backend.h"
#include "tests/dialogs/qstring_printer.h"

namespace {

const QChar kNul(u'\0');

QString Nuls(int n) {
    return QString(n, kNul);
}

// The record of the one open dialog that `dialog` asked for, cancelled.
OpenFileNameRecord RecordOfCancelledOpen(ClsDialog& dialog, ScriptedDialogBackend& backend) {
    backend.cancelFile();
    dialog.ShowOpen();
    EXPECT_EQ(backend.fileRequests().size(), 1);
    return backend.fileRequests().value(0).record;
}

int ErrorNumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return -1;
}

}  // namespace

TEST(ClsDialogInitOFN, FillsTheRecordFromTheProperties) {
    ScriptedDialogBackend backend;
    ClsDialog dialog(&backend);
    auto owner = std::make_unique<QWidget>();
    dialog.setHOwner(owner.get());
    dialog.setFlags(0x7FFFFFFF);
    dialog.setDefaultExt("kbx");
    dialog.setInitDir("/data/work");
    dialog.setFileName("old.kbx");
    dialog.setFilterIndex(2);
    dialog.setDialogTitle("Выбор архива");

    const OpenFileNameRecord r = RecordOfCancelledOpen(dialog, backend);
    EXPECT_EQ(r.Flags, 0x7FFFFF1F);  // hook and template bits cleared, all else kept
    EXPECT_EQ(r.hwndOwner, owner.get());
    EXPECT_EQ(r.lStructSize, 76u);
    EXPECT_EQ(r.lpstrDefExt, "kbx");
    EXPECT_EQ(r.lpstrInitialDir, "/data/work");
    EXPECT_EQ(r.lpstrFile, "old.kbx" + Nuls(255 - 7));
    EXPECT_EQ(r.nMaxFile, 255u);
    EXPECT_EQ(r.lpstrFileTitle, Nuls(255));
    EXPECT_EQ(r.nMaxFileTitle, 255u);
    EXPECT_EQ(r.nFilterIndex, 2u);
    EXPECT_EQ(r.lpstrTitle, "Выбор архива");
    EXPECT_EQ(r.hInstance, QCoreApplication::instance());
}

TEST(ClsDialogInitOFN, FilterBecomesNulSeparatedList) {
    const struct {
        QString filter;
        QString record;
    } cases[] = {
        {"", Nuls(2)},
        {"KBX Архив|*.kbx", "KBX Архив" + Nuls(1) + "*.kbx" + Nuls(2)},
        {"KBX Архив|*.kbx|", "KBX Архив" + Nuls(1) + "*.kbx" + Nuls(3)},
        {"A|*.a|Все|*.*", "A" + Nuls(1) + "*.a" + Nuls(1) + "Все" + Nuls(1) + "*.*" + Nuls(2)},
        {"||", Nuls(4)},
    };
    for (const auto& c : cases) {
        ScriptedDialogBackend backend;
        ClsDialog dialog(&backend);
        dialog.setFilter(c.filter);
        EXPECT_EQ(RecordOfCancelledOpen(dialog, backend).lpstrFilter, c.record)
            << c.filter.toStdString();
        EXPECT_EQ(dialog.Filter(), c.filter);
    }
}

TEST(ClsDialogInitOFN, EmptyInitDirStartsInProgramFolderAndStaysEmpty) {
    ScriptedDialogBackend backend;
    ClsDialog dialog(&backend);
    const OpenFileNameRecord r = RecordOfCancelledOpen(dialog, backend);
    EXPECT_EQ(r.lpstrInitialDir, QCoreApplication::applicationDirPath());
    EXPECT_FALSE(r.lpstrInitialDir.isEmpty());
    EXPECT_EQ(dialog.InitDir(), QString());
}

TEST(ClsDialogInitOFN, LengthLimitsRaiseBeforeAnyDialog) {
    const struct {
        int fileNameChars;
        int filterChars;
        int error;  // -1: accepted
    } cases[] = {
        {255, 0, -1},
        {256, 0, RuntimeError::InvalidArgument},
        {0, 32767, -1},
        {0, 32768, RuntimeError::Overflow},
        {256, 32768, RuntimeError::InvalidArgument},  // the name is checked first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fileNameChars << " / " << c.filterChars);
        for (bool save : {false, true}) {
            ScriptedDialogBackend backend;
            ClsDialog dialog(&backend);
            dialog.setFileName(QString(c.fileNameChars, u'n'));
            dialog.setFilter(QString(c.filterChars, u'|'));
            EXPECT_EQ(ErrorNumberOf([&] { save ? dialog.ShowSave() : dialog.ShowOpen(); }),
                      c.error);
            EXPECT_EQ(backend.fileRequests().size(), c.error < 0 ? 1 : 0);
            if (c.error < 0 && c.fileNameChars == 255) {
                // Exactly full: the proposed name fills the buffer, no terminator.
                EXPECT_EQ(backend.fileRequests()[0].record.lpstrFile, QString(255, u'n'));
            }
        }
    }
}

TEST(ClsDialogFiles, CancelKeepsPropertiesAndRaisesOnlyWhenAsked) {
    const struct {
        bool save;
        bool cancelError;
        int error;
    } cases[] = {
        {false, false, -1},
        {false, true, RuntimeError::Cancel},
        {true, false, -1},
        {true, true, RuntimeError::Cancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "save " << c.save << " CancelError " << c.cancelError);
        ScriptedDialogBackend backend;
        ClsDialog dialog(&backend);
        dialog.setCancelError(c.cancelError);
        backend.chooseFile("/arch/first.kbx");
        dialog.ShowOpen();
        dialog.setFileName("");  // as the Pack command does before its save dialog
        backend.cancelFile();
        EXPECT_EQ(ErrorNumberOf([&] { c.save ? dialog.ShowSave() : dialog.ShowOpen(); }), c.error);
        EXPECT_EQ(dialog.FileName(), QString());
        EXPECT_EQ(dialog.FileTitle(), "first.kbx");
    }
}

TEST(ClsDialogFiles, ChoiceGivesFullPathAndBareName) {
    const struct {
        bool save;
        QString chosen;
        QString title;
    } cases[] = {
        {false, "/games/velmorra/data.kbx", "data.kbx"},
        {true, "/games/velmorra/Новый архив", "Новый архив"},  // typed without extension
        {true, "/top.kbx", "top.kbx"},
    };
    for (const auto& c : cases) {
        ScriptedDialogBackend backend;
        ClsDialog dialog(&backend);
        dialog.setFilter("KBX Архив|*.kbx");
        dialog.setFilterIndex(1);
        backend.chooseFile(c.chosen);
        c.save ? dialog.ShowSave() : dialog.ShowOpen();
        EXPECT_EQ(dialog.FileName(), c.chosen);
        EXPECT_EQ(dialog.FileTitle(), c.title);
        EXPECT_EQ(dialog.FilterIndex(), 1);
        ASSERT_EQ(backend.fileRequests().size(), 1);
        EXPECT_EQ(backend.fileRequests()[0].kind,
                  c.save ? ScriptedDialogBackend::FileDialogKind::Save
                         : ScriptedDialogBackend::FileDialogKind::Open);
    }
}

TEST(ClsDialogFiles, SecondCallProposesTheFirstChoice) {
    ScriptedDialogBackend backend;
    ClsDialog dialog(&backend);
    backend.chooseFile("/arch/a.kbx");
    backend.chooseFile("/arch/b.kbx");
    dialog.ShowOpen();
    dialog.ShowSave();
    ASSERT_EQ(backend.fileRequests().size(), 2);
    EXPECT_EQ(TextBeforeNul(backend.fileRequests()[0].record.lpstrFile), QString());
    EXPECT_EQ(TextBeforeNul(backend.fileRequests()[1].record.lpstrFile), "/arch/a.kbx");
    EXPECT_EQ(dialog.FileName(), "/arch/b.kbx");
}

TEST(ClsDialogFiles, PathTooLongForTheBufferCountsAsCancel) {
    ScriptedDialogBackend backend;
    ClsDialog dialog(&backend);
    dialog.setFileName("keep.kbx");
    const QString fits = "/" + QString(253, u'f');  // 254 characters and the terminator
    const QString tooLong = "/" + QString(254, u'g');
    backend.chooseFile(tooLong);
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), "keep.kbx");
    dialog.setCancelError(true);
    backend.chooseFile(tooLong);
    EXPECT_EQ(ErrorNumberOf([&] { dialog.ShowOpen(); }), RuntimeError::Cancel);
    backend.chooseFile(fits);
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), fits);
}

TEST(ClsDialogFolder, FlagsBecomeBrowseFlags) {
    const struct {
        qint32 flags;
        quint32 ulFlags;
    } cases[] = {
        {0, 0x1},         {0x4000, 0x4000}, {0x5001, 0x5001}, {0x0FFF, 0x1},
        {0x1000, 0x1000}, {0x2002, 0x2000}, {-1, 0x7001},
    };
    for (const auto& c : cases) {
        ScriptedDialogBackend backend;
        ClsDialog dialog(&backend);
        dialog.setFlags(c.flags);
        dialog.setDialogPrompt("Куда распаковать?");
        dialog.ShowFolder("/games");
        ASSERT_EQ(backend.folderRequests().size(), 1);
        const BrowseInfoRecord& r = backend.folderRequests()[0];
        EXPECT_EQ(r.ulFlags, c.ulFlags) << std::hex << c.flags;
        EXPECT_EQ(r.pidlRoot, "/games");
        EXPECT_EQ(r.lpszTitle, "Куда распаковать?");
        EXPECT_EQ(r.hwndOwner, nullptr);
    }
}

TEST(ClsDialogFolder, ChoiceSetsInitDirCancelLeavesIt) {
    const QString longest = "/" + QString(258, u'd');  // 259 characters and the terminator
    const struct {
        QString before;
        std::optional<QString> answer;
        QString after;
    } cases[] = {
        {"", std::nullopt, ""},
        {"/old", std::nullopt, "/old"},
        {"", "/games/work", "/games/work"},
        {"/old", "/games/work/", "/games/work"},
        {"", "/", "/"},
        {"", "//", "/"},
        {"/old", longest, longest},
        {"/old", longest + "d", "/old"},  // past the path limit: a failure
        {"/old", "", "/old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.value_or("<cancel>").toStdString());
        ScriptedDialogBackend backend;
        ClsDialog dialog(&backend);
        dialog.setCancelError(true);  // has no effect on the folder picker
        dialog.setFileName("keep.kbx");
        dialog.setInitDir(c.before);
        if (c.answer) {
            backend.chooseFolder(*c.answer);
        } else {
            backend.cancelFolder();
        }
        EXPECT_EQ(dialog.ShowFolder(), QString());
        EXPECT_EQ(dialog.InitDir(), c.after);
        EXPECT_EQ(dialog.FileName(), "keep.kbx");
    }
}

TEST(ClsDialogFolder, PackSequenceStartsSaveInPickedFolder) {
    ScriptedDialogBackend backend;
    ClsDialog dialog(&backend);
    dialog.setInitDir("");
    backend.chooseFolder("/games/tree");
    dialog.ShowFolder();
    dialog.setFileName("");
    dialog.setFilter("KBX Архив|*.kbx");
    backend.chooseFile("/games/tree/out");
    dialog.ShowSave();
    ASSERT_EQ(backend.fileRequests().size(), 1);
    EXPECT_EQ(backend.fileRequests()[0].record.lpstrInitialDir, "/games/tree");
    EXPECT_EQ(dialog.FileName(), "/games/tree/out");
    // A later Browse offers the archive just saved, in the same folder.
    dialog.ShowOpen();
    EXPECT_EQ(TextBeforeNul(backend.fileRequests()[1].record.lpstrFile), "/games/tree/out");
    EXPECT_EQ(backend.fileRequests()[1].record.lpstrInitialDir, "/games/tree");
}

TEST(ClsDialogOwner, DeletedOwnerIsNotHandedOn) {
    ScriptedDialogBackend backend;
    ClsDialog dialog(&backend);
    auto owner = std::make_unique<QWidget>();
    dialog.setHOwner(owner.get());
    owner.reset();
    EXPECT_EQ(dialog.hOwner(), nullptr);
    dialog.ShowFolder();
    ASSERT_EQ(backend.folderRequests().size(), 1);
    EXPECT_EQ(backend.folderRequests()[0].hwndOwner, nullptr);
}

TEST(DialogRecords, FilterListAsQtNameFilters) {
    const struct {
        QString list;
        QStringList filters;
    } cases[] = {
        {Nuls(2), {}},
        {"KBX Архив" + Nuls(1) + "*.kbx" + Nuls(2), {"KBX Архив (*.kbx)"}},
        {"Тексты" + Nuls(1) + "*.txt;*.doc" + Nuls(1) + "Все" + Nuls(1) + "*" + Nuls(2),
         {"Тексты (*.txt *.doc)", "Все (*)"}},
        {Nuls(1) + "*.kbx" + Nuls(2), {}},  // an empty description ends the list
        {"A" + Nuls(1) + "*.a" + Nuls(1) + "B" + Nuls(3), {"A (*.a)"}},
    };
    for (const auto& c : cases) EXPECT_EQ(QtNameFilters(c.list), c.filters);
}

TEST(DialogRecords, StoredChoiceOffsets) {
    const struct {
        QString path;
        quint16 nameOffset;
        quint16 extensionOffset;
    } cases[] = {
        {"/a/b.kbx", 3, 5},
        {"/a/noext", 3, 8},  // points at the terminator
        {"/a/dot.", 3, 0},
        {"/a.b/c", 5, 6},
    };
    for (const auto& c : cases) {
        OpenFileNameRecord r;
        r.nMaxFile = 20;
        r.nMaxFileTitle = 10;
        ASSERT_TRUE(StoreFileChoice(r, c.path));
        EXPECT_EQ(r.lpstrFile.size(), 20);
        EXPECT_EQ(r.lpstrFileTitle.size(), 10);
        EXPECT_EQ(r.nFileOffset, c.nameOffset) << c.path.toStdString();
        EXPECT_EQ(r.nFileExtension, c.extensionOffset) << c.path.toStdString();
    }
    OpenFileNameRecord small;
    small.nMaxFile = 5;
    small.lpstrFile = "keep";
    EXPECT_FALSE(StoreFileChoice(small, "/abcd"));
    EXPECT_EQ(small.lpstrFile, "keep");
}
