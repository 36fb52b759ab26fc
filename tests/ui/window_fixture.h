#pragma once
// A Form1 on the offscreen platform with every desktop service replaced by a
// double, plus helpers that write archives and drive the window's controls.

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "platform/event_pump.h"
#include "platform/shell_service.h"
#include "platform/tick_counter.h"
#include "platform/window_title.h"
#include "test_util.h"
#include "tests/support/recording_message_box.h"
#include "tests/support/scripted_dialog_backend.h"
#include "ui/fonts.h"
#include "ui/main_window/form1.h"
#include "ui/main_window/list_cell.h"

using TestEntry = testutil::RawEntry;
using testutil::ReadFile;
using Icon = MessageBoxService::Icon;

// Returns the scripted readings in turn, then keeps the last one.
struct ScriptedTickCounter final : TickCounter {
    qint64 Milliseconds() override {
        if (!script.empty()) now = script.front(), script.pop_front();
        return now;
    }
    std::deque<qint64> script;
    qint64 now = 0;
};

// Counts the calls; `onPump` (given the call number, from 1) stands for what
// the user does at that moment.
struct RecordingEventPump final : EventPump {
    void ProcessPendingEvents() override {
        ++calls;
        if (onPump) onPump(calls);
    }
    int calls = 0;
    std::function<void(int call)> onPump;
};

// Records the links and answers with `result`.
struct RecordingShell final : ShellService {
    bool OpenUrl(const QUrl& url) override { return opened.push_back(url), result; }
    std::vector<QUrl> opened;
    bool result = true;
};

// Records the windows whose title is cleared, and clears it as the program
// does (an X server shows the result).
struct RecordingTitles final : WindowTitles {
    void ClearTitle(QWidget* window) override { cleared.push_back(window), qt.ClearTitle(window); }
    std::vector<QWidget*> cleared;
    QtWindowTitles qt;
};

// Entries Version\Data\e000.dat ... with distinct contents.
inline std::vector<TestEntry> NumberedEntries(int count) {
    std::vector<TestEntry> out;
    for (int i = 0; i < count; ++i)
        out.push_back(
            {QStringLiteral("Version\\Data\\e%1.dat").arg(i, 3, 10, QChar('0')).toLatin1(),
             QByteArray("entry ") + QByteArray::number(i) + QByteArray(i % 7, 'x')});
    return out;
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        ui::InstallFontSubstitutions();
        Recreate();
    }
    void TearDown() override {
        form_.reset();
        QLocale::setDefault(QLocale::c());
    }
    void Recreate() {
        form_.reset();
        form_ = std::make_unique<ui::Form1>(
            ui::Services{&messages_, &ticks_, &events_, &shell_, &dialogs_, &titles_});
        form_->show();
        QApplication::setActiveWindow(form_.get());
    }
    ui::Form1& Form() { return *form_; }

    template <typename T = QWidget>
    T* Child(const QString& name) {
        T* w = form_->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    bool Enabled(const char* name) { return Child(name)->isEnabled(); }
    QString Path() { return Child<QLineEdit>("FilePath")->text(); }
    QScrollBar* Scroll() { return Child<QScrollBar>("Scr"); }
    ui::ListCell* Cell(const char* array, int row) {
        return Child<ui::ListCell>(QStringLiteral("%1(%2)").arg(array).arg(row));
    }
    QStringList RowTexts(int row) {  // name, offset, size
        return {Cell("nm", row)->text(), Cell("off", row)->text(), Cell("sz", row)->text()};
    }
    // `count` boxes shown so far, the last one with `icon`, its title and
    // `text` (a null text: any).
    void ExpectBoxes(size_t count, Icon icon, const QString& text) {
        ASSERT_EQ(messages_.shown.size(), count);
        const auto& box = messages_.shown.back();
        EXPECT_EQ(std::tuple(box.icon, box.title, text.isNull() ? text : box.text),
                  std::tuple(icon, icon == Icon::Critical ? "Ошибка" : "Quillmere  v1.1", text));
    }

    // Writes a file (or an archive of `count` numbered entries) in the temporary folder.
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(testutil::WriteFile(tmp_.filePath(name), bytes)) << name.toStdString();
        return tmp_.filePath(name);
    }
    QString WriteArchive(const QString& name, int count) {
        return WriteFile(name, testutil::BuildArchive(NumberedEntries(count)));
    }
    QString Folder(const QString& name) {  // a new empty folder
        EXPECT_TRUE(QDir().mkpath(tmp_.filePath(name)));
        return tmp_.filePath(name);
    }

    // What the next file or folder dialog answers; an empty answer cancels.
    void AnswerFile(const QString& a) {
        a.isEmpty() ? dialogs_.cancelFile() : dialogs_.chooseFile(a);
    }
    void AnswerFolder(const QString& a) {
        a.isEmpty() ? dialogs_.cancelFolder() : dialogs_.chooseFolder(a);
    }
    void Click(const char* name) {  // a left click on a button
        if (auto* b = Child<QAbstractButton>(name)) QTest::mouseClick(b, Qt::LeftButton);
    }
    void Browse(const QString& answer) { AnswerFile(answer), Click("Command2"); }  // Обзор
    void Load(const QString& path) { Browse(path), Click("Command1"); }  // then Прочитать архив
    // A right click on a cell of the list (action null: the menu is dismissed);
    // the menu opens over a name only.
    void RightClickAndChoose(int row, const char* action, const char* column = "nm") {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            seen = true;
            if (!action) return void(menu->close());
            QAction* a = menu->findChild<QAction*>(action);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
        });
        QTest::mouseClick(Cell(column, row), Qt::RightButton);
        QApplication::processEvents();  // the check above runs here when no menu opened
        EXPECT_EQ(seen, column == std::string("nm"))
            << "the menu's state is wrong at " << column << row;
    }
    // Drags `urls` (none: the path of a.kbx as text) from a file manager onto the window and
    // drops them there, the drop delivered even when the drag was refused; a
    // drop is read once events run. The user holds Shift, asking the file
    // manager for a move.
    struct Dropped {
        bool drag, drop;            // accepted
        Qt::DropAction dropAction;  // what the file manager is told to do
    };
    Dropped Drop(const QList<QUrl>& urls) {
        QMimeData data;
        urls.isEmpty() ? data.setText(tmp_.filePath("a.kbx")) : data.setUrls(urls);
        const QPoint at = Form().rect().center();
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(&Form(), &enter);
        QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        EXPECT_EQ(drop.proposedAction(), Qt::MoveAction);
        QApplication::sendEvent(&Form(), &drop);
        QApplication::processEvents();
        return {enter.isAccepted(), drop.isAccepted(), drop.dropAction()};
    }

    RecordingMessageBox messages_;
    ScriptedTickCounter ticks_;
    RecordingEventPump events_;
    RecordingShell shell_;
    ScriptedDialogBackend dialogs_;
    RecordingTitles titles_;
    testutil::TempDir tmp_;

  private:
    std::unique_ptr<ui::Form1> form_;
};
