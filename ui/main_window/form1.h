#pragma once
// Form1, the main window: the archive path, the progress bar Bar1, the
// command buttons and the scrolling directory list with its popup menu. It
// owns the loaded directory, the shared Dialog object and MenuRow, and runs
// the archive operations through the engine.

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>

#include "archive/archive.h"
#include "dialogs/cls_dialog.h"
#include "ui/main_window/long_operation.h"
#include "ui/messages.h"
#include "ui/services.h"
#include "widgets/progress/cool_bar.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollBar;

namespace ui {

class Form2;
class ListCell;

class Form1 : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kRows = 11;
    static inline const QString kFilter = QStringLiteral("KBX Архив|*.kbx");

    explicit Form1(const Services& services, QWidget* parent = nullptr);
    ~Form1() override;

    // Places the window in the middle of its screen.
    void CentreOnScreen();

    // Fills the eleven rows with the entries from `top` on. Rows past the
    // blank element show empty cells.
    void ShowTxt(qint64 top);

    // Reads the archive at `path` as "Прочитать архив" does, with the path
    // box showing it: how an archive named on the command line or dropped
    // onto the window is opened. Refused (false) while a run is in progress.
    bool OpenArchive(const QString& path);

    const kbx::Directory& Directory() const { return dir_; }
    int MenuRow() const { return MenuRow_; }
    // True while a load or an unpack runs.
    bool Busy() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    // A single local file dragged from a file manager is opened on drop.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The mouse wheel over the list panel scrolls it through Scr.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The controls of the design, built in these steps.
    void BuildControls();
    void BuildWindow();
    void BuildPathBox();
    void BuildProgressAndButtons();
    void BuildListPanel();  // the headers, the rows nm, off and sz, Scr
    void BuildMenu();       // the popup menu Pack
    void Connect();
    void Form_Initialize();
    void Form_Load();

    void Command1_Click();  // Прочитать архив
    void Command2_Click();  // Обзор
    void Command3_Click();  // Распаковать всё
    void Command4_Click();  // О программе
    void Command8_Click();  // Запаковать файлы
    void Header_Click();    // Имя, Смещение, Размер
    void Scr_Change();
    void nm_Click(int index);
    void RaiseHeaders();
    void nm_MouseDown(int index, int Button);
    void UP_Click();  // Извлечь

    void ReadArchive();
    void ExtractEntry(qint64 index);

    ClsDialog& Dialog();
    // ShowOpen or ShowSave; false (after a message) when it could not be shown.
    bool ShowFileDialog(bool save);
    void SetCommand1Enabled(bool enabled);
    // Shows the folder picker; returns the folder the user confirmed this
    // time, or empty when the user cancelled (then nothing is written) or
    // the folder cannot be used (then the user is told).
    QString ChooseFolder();
    // The progress hook of a run: yields and advances Bar1 by 2 before every
    // other item (from the second record while loading, from the first entry
    // while unpacking).
    kbx::Progress AdvanceBar(LongOperation::EveryOther items);
    void Report(Operation op, qint64 t0, const kbx::Result& result);
    void ShowError(const QString& text);
    void CloseIfRequested();

    Services services_;
    kbx::Directory dir_;
    int MenuRow_ = 0;
    std::unique_ptr<ClsDialog> dialog_;
    QPointer<Form2> about_;

    std::unique_ptr<LongOperation> ops_;

    QGroupBox* Frame1_ = nullptr;
    QLabel* Label1_ = nullptr;
    QLineEdit* FilePath_ = nullptr;
    QWidget* Picture2_ = nullptr;
    QPushButton* Command2_ = nullptr;
    CoolBar* Bar1_ = nullptr;
    QPushButton* Command1_ = nullptr;
    QPushButton* Command3_ = nullptr;
    QPushButton* Command8_ = nullptr;
    QPushButton* Command4_ = nullptr;
    QFrame* Picture3_ = nullptr;
    QPushButton* Command5_ = nullptr;
    QPushButton* Command7_ = nullptr;
    QPushButton* Command6_ = nullptr;
    std::array<ListCell*, kRows> nameCells_{};    // the control array nm
    std::array<ListCell*, kRows> offsetCells_{};  // off
    std::array<ListCell*, kRows> sizeCells_{};    // sz
    QScrollBar* Scr_ = nullptr;
    QListWidget* File1_ = nullptr;
    QListWidget* File2_ = nullptr;
    QMenu* Pack_ = nullptr;
    QAction* UP_ = nullptr;
    QAction* RP_ = nullptr;
};

}  // namespace ui
