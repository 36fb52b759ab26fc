// Open, save and folder dialogs against the scripted backend.

#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <tuple>

#include "tests/dialogs/dialog_test_support.h"

namespace {

// The record of the one open dialog asked for, cancelled.
OpenFileNameRecord RecordOfCancelledOpen(Fixture& f) {
    f.dialog.ShowOpen();  // no answer prepared: cancelled
    EXPECT_EQ(f.backend.fileRequests().size(), 1);
    return f.backend.fileRequests().value(0).record;
}

}  // namespace

TEST(ClsDialogInitOFN, FillsTheRecordFromTheProperties) {
    Fixture f;
    f.dialog.setFlags(0x7FFFFFFF);
    f.dialog.setDefaultExt("kbx");
    f.dialog.setInitDir("/data/work");
    f.dialog.setFileName("old.kbx");
    f.dialog.setFilterIndex(2);
    f.dialog.setDialogTitle("Выбор архива");
    const OpenFileNameRecord r = RecordOfCancelledOpen(f);
    // Hook and template bits cleared, all else kept.
    EXPECT_EQ(std::tuple(r.Flags, r.hwndOwner, r.lStructSize, r.hInstance, r.lpstrDefExt,
                         r.lpstrInitialDir, r.lpstrTitle, r.lpstrFile, r.lpstrFileTitle, r.nMaxFile,
                         r.nMaxFileTitle, r.nFilterIndex),
              std::tuple(0x7FFFFF1Fu, &f.owner, 76u, QCoreApplication::instance(), QString("kbx"),
                         QString("/data/work"), QString("Выбор архива"),
                         "old.kbx" + Nuls(kFileBufferChars - 7), Nuls(kFileBufferChars),
                         quint32(kFileBufferChars), quint32(kFileBufferChars), 2u));
}

TEST(ClsDialogInitOFN, FilterBecomesNulSeparatedListAndQtNameFilters) {
    // The Filter property, the list in the record, the filters a Qt dialog shows.
    const std::tuple<QString, QString, QStringList> cases[] = {
        {"", Nuls(2), {}},
        {"KBX Архив|*.kbx", "KBX Архив" + Nuls(1) + "*.kbx" + Nuls(2), {"KBX Архив (*.kbx)"}},
        {"KBX Архив|*.kbx|", "KBX Архив" + Nuls(1) + "*.kbx" + Nuls(3), {"KBX Архив (*.kbx)"}},
        {"Тексты|*.txt;*.doc|Все|*",
         "Тексты" + Nuls(1) + "*.txt;*.doc" + Nuls(1) + "Все" + Nuls(1) + "*" + Nuls(2),
         {"Тексты (*.txt *.doc)", "Все (*)"}},
        {"|*.kbx", Nuls(1) + "*.kbx" + Nuls(2), {}},  // an empty description ends the list
        {"A|*.a|B||", "A" + Nuls(1) + "*.a" + Nuls(1) + "B" + Nuls(4), {"A (*.a)"}},
        {"||", Nuls(4), {}}};
    for (const auto& [filter, list, filters] : cases) {
        SCOPED_TRACE(filter.toStdString());
        Fixture f;
        f.dialog.setFilter(filter);
        const OpenFileNameRecord r = RecordOfCancelledOpen(f);
        // Without InitDir the dialog starts in the program's folder; InitDir stays
        // empty.
        EXPECT_EQ(std::tuple(r.lpstrFilter, QtNameFilters(r.lpstrFilter), r.lpstrInitialDir,
                             f.dialog.InitDir()),
                  std::tuple(list, filters, QCoreApplication::applicationDirPath(), QString()));
    }
}

TEST(ClsDialogInitOFN, StartsInTheProgramFolderOnlyWhereTheUserCanWrite) {
    QTemporaryDir tmp;
    const QString locked = tmp.filePath("locked"), file = tmp.filePath("file");
    ASSERT_TRUE(QDir().mkdir(locked) && QFile(file).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    const QString here = QDir::currentPath();
    EXPECT_EQ(StartFolder(tmp.path()), tmp.path());  // beside the game
    EXPECT_EQ(StartFolder(tmp.filePath("gone")), here);
    EXPECT_EQ(StartFolder(file), here);  // not a folder
    // Installed where this user cannot write: the locked folder, or for root,
    // who may write anywhere, a read-only mount.
    for (const QString& unwritable : {locked, QStringLiteral("/proc/sys")}) {
        if (QFileInfo(unwritable).isDir() && ::access(qPrintable(unwritable), W_OK) != 0) {
            EXPECT_EQ(StartFolder(unwritable), here) << unwritable.toStdString();
        }
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ClsDialogInitOFN, LengthLimitsRaiseBeforeAnyDialog) {
    // File name length, filter length, error (-1: accepted).
    const std::tuple<int, int, int> cases[] = {
        {kFileBufferChars, 0, -1},
        {kFileBufferChars + 1, 0, RuntimeError::InvalidArgument},
        {0, 32767, -1},
        {0, 32768, RuntimeError::Overflow},
        {kFileBufferChars + 1, 32768, RuntimeError::InvalidArgument}};  // the name is checked first
    for (const auto& [nameChars, filterChars, error] : cases) {
        for (bool save : {false, true}) {
            Fixture f;
            f.dialog.setFileName(QString(nameChars, u'n'));
            f.dialog.setFilter(QString(filterChars, u'|'));
            EXPECT_EQ(ErrorNumberOf([&] { save ? f.dialog.ShowSave() : f.dialog.ShowOpen(); }),
                      error)
                << nameChars << " / " << filterChars;
            ASSERT_EQ(f.backend.fileRequests().size(), error < 0 ? 1 : 0);
            if (error >= 0) continue;
            const auto& [kind, record] = f.backend.fileRequests()[0];
            EXPECT_EQ(kind, save ? ScriptedDialogBackend::FileDialogKind::Save
                                 : ScriptedDialogBackend::FileDialogKind::Open);
            // Exactly full: the proposed name fills the buffer, no terminator.
            EXPECT_EQ(record.lpstrFile,
                      QString(nameChars, u'n') + Nuls(kFileBufferChars - nameChars));
        }
    }
}

TEST(ClsDialogShow, CancelKeepsPropertiesAndRaisesOnlyWhenAsked) {
    for (int kind = 0; kind < 5; ++kind) {  // open, save, colour, font, printer
        for (bool cancelError : {false, true}) {
            Fixture f;  // answers nothing after the first file: every dialog is cancelled
            f.printers.installed = {{"Office", "drv", "port"}};
            f.printers.current = 0;
            f.backend.chooseFile("/arch/first.kbx");
            f.dialog.ShowOpen();
            f.dialog.setFileName("");  // as the Pack command does before its save dialog
            f.dialog.setCancelError(cancelError);
            f.dialog.setRGBResult(0x00ABCDEF);
            f.dialog.setFontName("Serif");
            f.dialog.setFontSize(11);
            const std::function<void()> shows[] = {
                [&] { f.dialog.ShowOpen(); }, [&] { f.dialog.ShowSave(); },
                [&] { f.dialog.ShowColor(); }, [&] { f.dialog.ShowFont(); },
                [&] { f.dialog.ShowPrinter(); }};
            EXPECT_EQ(ErrorNumberOf(shows[kind]), cancelError ? RuntimeError::Cancel : -1) << kind;
            EXPECT_EQ(std::tuple(f.dialog.FileName(), f.dialog.FileTitle(), f.dialog.RGBResult(),
                                 f.dialog.FontName(), f.dialog.FontSize(), f.printers.switches,
                                 f.printers.copies),
                      std::tuple(QString(), QString("first.kbx"), 0x00ABCDEFu, QString("Serif"), 11,
                                 decltype(f.printers.switches)(), 1));
        }
    }
}

TEST(ClsDialogFolder, FlagsAndChoiceOfTheFolderPicker) {
    // PATH_MAX bytes with the terminator; longer paths are refused.
    const QString longest = "/" + QString(kMaxPathChars - 2, u'd');
    // Flags, the record's flags, InitDir before, the answer (none: cancel),
    // InitDir after.
    const std::tuple<qint32, quint32, QString, std::optional<QString>, QString> cases[] = {
        {0, 0x1, "", std::nullopt, ""},
        {0x4000, 0x4000, "/old", std::nullopt, "/old"},
        {0x5001, 0x5001, "", "/games/work", "/games/work"},
        {0x0FFF, 0x1, "/old", "/games/work/", "/games/work"},
        {0x1000, 0x1000, "", "/", "/"},
        {0x2002, 0x2000, "", "//", "/"},
        {-1, 0x7001, "/old", longest, longest},
        {0, 0x1, "/old", longest + "d", "/old"},  // past the limit
        {0, 0x1, "/old", "", "/old"}};
    for (const auto& [flags, ulFlags, before, answer, after] : cases) {
        SCOPED_TRACE(answer.value_or("<cancel>").left(20).toStdString());
        Fixture f;
        auto owner = std::make_unique<QWidget>();
        f.dialog.setHOwner(owner.get());
        owner.reset();  // a deleted owner is not handed on
        f.dialog.setFlags(flags);
        f.dialog.setDialogPrompt("Куда распаковать?");
        f.dialog.setCancelError(true);  // has no effect on the folder picker
        f.dialog.setFileName("keep.kbx");
        f.dialog.setInitDir(before);
        answer ? f.backend.chooseFolder(*answer) : f.backend.cancelFolder();
        EXPECT_EQ(f.dialog.ShowFolder("/games"), QString());
        EXPECT_EQ(std::tuple(f.dialog.InitDir(), f.dialog.FileName()),
                  std::tuple(after, QString("keep.kbx")));
        ASSERT_EQ(f.backend.folderRequests().size(), 1);
        const BrowseInfoRecord& r = f.backend.folderRequests()[0];
        EXPECT_EQ(std::tuple(r.ulFlags, r.pidlRoot, r.lpszTitle, r.hwndOwner),
                  std::tuple(ulFlags, QString("/games"), QString("Куда распаковать?"), nullptr))
            << std::hex << flags;
    }
}

TEST(DialogRecords, StoredChoiceOffsets) {
    // Path, name offset, extension offset (the terminator without one; 0 after
    // a bare dot), in buffers of 20 and 10 characters; -1: refused, the record
    // left as it was.
    const std::tuple<QString, int, int> cases[] = {
        {"/a/b.kbx", 3, 5},
        {"/a/noext", 3, 8},
        {"/a/dot.", 3, 0},
        {"/a.b/c", 5, 6},
        {"/aaaaaaaa/bbbbbbbbb", 10, 19},  // both fill their buffers with the terminator
        {"/aaaaaaaaa/bbbbbbbbb", -1, -1},
        {"/a/bbbbbbbbbb", -1, -1},
        {"", -1, -1}};
    for (const auto& [path, nameOffset, extensionOffset] : cases) {
        SCOPED_TRACE(path.toStdString());
        OpenFileNameRecord r;
        r.nMaxFile = 20;
        r.nMaxFileTitle = 10;
        r.lpstrFile = "keep";
        ASSERT_EQ(StoreFileChoice(r, path), nameOffset >= 0);
        if (nameOffset < 0) {
            EXPECT_EQ(r.lpstrFile, "keep");
            continue;
        }
        EXPECT_EQ(std::tuple(r.lpstrFile.size(), r.lpstrFileTitle.size(), int(r.nFileOffset),
                             int(r.nFileExtension)),
                  std::tuple(20, 10, nameOffset, extensionOffset));
    }
}
