#pragma once
// A Form1 on the offscreen platform with every desktop service replaced by a
// double, plus helpers that write archives and drive the window's controls.

#include <gtest/gtest.h>
#include <QMimeData>

#include <memory>
#include <vector>

#include "tests/support/recording_event_pump.h"
#include "tests/support/recording_message_box.h"
#include "tests/support/recording_shell.h"
#include "tests/support/scripted_dialog_backend.h"
#include "tests/support/scripted_tick_counter.h"
#include "test_util.h"
#include "ui/main_window/form1.h"
#include "ui/main_window/list_cell.h"

using TestEntry = testutil::RawEntry;
using testutil::ReadFile;

// Entries Version\Data\e000.dat ... with distinct contents.
std::vector<TestEntry> NumberedEntries(int count);
// The archive's bytes: header, directory, then the data in entry order.
inline QByteArray ArchiveBytes(const std::vector<TestEntry>& entries) {
    return testutil::BuildArchive(entries);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void Recreate();
    ui::Form1& Form() { return *form_; }

    template <typename T = QWidget>
    T* Child(const QString& name) {
        T* w = form_->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    bool Enabled(const char* name) { return Child(name)->isEnabled(); }
    ui::ListCell* Cell(const char* array, int row) {
        return Child<ui::ListCell>(QStringLiteral("%1(%2)").arg(array).arg(row));
    }
    QStringList RowTexts(int row);  // name, offset, size

    // Writes a file (or an archive of `count` numbered entries) in the temporary folder.
    QString WriteFile(const QString& name, const QByteArray& bytes);
    QString WriteArchive(const QString& name, int count) {
        return WriteFile(name, ArchiveBytes(NumberedEntries(count)));
    }
    QString Folder(const QString& name);  // a new empty folder

    // What the next file or folder dialog answers; an empty answer cancels.
    void AnswerFile(const QString& a) {
        a.isEmpty() ? dialogs_.cancelFile() : dialogs_.chooseFile(a);
    }
    void AnswerFolder(const QString& a) {
        a.isEmpty() ? dialogs_.cancelFolder() : dialogs_.chooseFolder(a);
    }
    void Click(const char* name);  // a left click on a button
    void Browse(const QString& answer) { AnswerFile(answer), Click("Command2"); }  // Обзор
    void Load(const QString& path) { Browse(path), Click("Command1"); }  // then Прочитать архив
    void RightClickAndChoose(int row, const char* action);               // action null: dismiss
    // Drags `data` from a file manager onto the window and drops it there,
    // the drop delivered even when the drag was refused; a drop is read once
    // events run. The user holds Shift, asking the file manager for a move.
    struct Dropped {
        bool drag, drop;            // accepted
        Qt::DropAction dropAction;  // what the file manager is told to do
    };
    Dropped Drop(const QMimeData& data);
    void SetScroll(int value);

    RecordingMessageBox messages_;
    ScriptedTickCounter ticks_;
    RecordingEventPump events_;
    RecordingShell shell_;
    ScriptedDialogBackend dialogs_;
    testutil::TempDir tmp_;

  private:
    std::unique_ptr<ui::Form1> form_;
};
