#include "ui/main_window/form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/colors.h"
#include "platform/event_pump.h"
#include "platform/message_box.h"
#include "platform/property_bag.h"
#include "platform/runtime_error.h"
#include "platform/tick_counter.h"
#include "platform/twips.h"
#include "ui/about/form2.h"
#include "ui/fonts.h"
#include "ui/main_window/list_cell.h"
#include "ui/main_window/long_operation.h"
#include "ui/resources.h"
#include "ui/twips_rect.h"

namespace ui {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, QRect place) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(place);
    b->setAutoDefault(false);
    return b;
}

// A tooltip shows rich text when it looks like markup; a name is plain text.
QString PlainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text)) return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

// The text colour of a disabled path box: still grey against the enabled
// text, and at least 4.5:1 against the box's background, so the path stays
// readable. The palette's own disabled grey is often near 2:1.
QColor ReadableDisabledText(const QPalette& p) {
    const QColor back = p.color(QPalette::Disabled, QPalette::Base);
    const QColor text = p.color(QPalette::Active, QPalette::Text);
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const auto contrast = [&](const QColor& a, const QColor& b) {
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    };
    // From the background towards the enabled text colour, the first mix
    // that is readable enough: as grey as the rule allows.
    for (int percent = 40; percent < 100; percent += 2) {
        const double t = percent / 100.0;
        const QColor mix =
            QColor::fromRgbF(float(back.redF() + (text.redF() - back.redF()) * t),
                             float(back.greenF() + (text.greenF() - back.greenF()) * t),
                             float(back.blueF() + (text.blueF() - back.blueF()) * t));
        if (contrast(mix, back) >= 4.6) return mix;  // 4.5 with room for the 8-bit rounding
    }
    return text;
}

// The one local file a drag carries, or empty when it carries anything else.
QString DraggedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().first();
    if (!url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}

// The archive is only read, and the file manager is told so: a drop is a
// copy even when the user asked to move, so the source never deletes the
// user's file after the drop.
bool TakeAsCopy(QDropEvent* event) {
    if (!(event->possibleActions() & Qt::CopyAction)) return false;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

}  // namespace

Form1::Form1(const Services& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      services_(services) {
    InitResources();
    setObjectName(QStringLiteral("Form1"));
    BuildControls();
    Form_Initialize();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::BuildControls() {
    BuildWindow();
    BuildPathBox();
    BuildProgressAndButtons();
    BuildListPanel();
    BuildMenu();
    Connect();
    ops_ = std::make_unique<LongOperation>(services_.events,
                                           std::vector<QObject*>{Command1_, Command3_, UP_});
}

void Form1::BuildWindow() {
    setWindowTitle(QStringLiteral("Quillmere v1.1"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/quillmere32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/quillmere16.png"), QSize(16, 16));
    setWindowIcon(icon);
    setFont(DefaultFont());
    setFixedSize(TwipsToPixels(11415), TwipsToPixels(2580));
    setAcceptDrops(true);
}

void Form1::BuildPathBox() {
    Frame1_ = new QGroupBox(QString(), this);
    Frame1_->setObjectName(QStringLiteral("Frame1"));
    Frame1_->setGeometry(Twips(45, 0, 5550, 1005));

    Label1_ = new QLabel(QStringLiteral("Путь к игровому архиву:"), Frame1_);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->setGeometry(Twips(90, 225, 1950, 285));

    FilePath_ = new QLineEdit(Frame1_);
    FilePath_->setObjectName(QStringLiteral("FilePath"));
    FilePath_->setGeometry(Twips(90, 540, 4020, 285));
    FilePath_->setEnabled(false);  // never typed in: Browse, a drop or the command line fill it
    QPalette path = FilePath_->palette();
    path.setColor(QPalette::Disabled, QPalette::Text, ReadableDisabledText(path));
    FilePath_->setPalette(path);

    Picture2_ = new QWidget(Frame1_);
    Picture2_->setObjectName(QStringLiteral("Picture2"));
    Picture2_->setGeometry(Twips(4140, 540, 1320, 285));
    Command2_ = Button(Picture2_, "Command2", QStringLiteral("Обзор"), Twips(45, 0, 1275, 285));
}

void Form1::BuildProgressAndButtons() {
    Bar1_ = new CoolBar(this);
    Bar1_->setObjectName(QStringLiteral("Bar1"));
    Bar1_->setGeometry(Twips(45, 1035, 5550, 375));
    {
        // The design's stored properties: a fixed single border and the font.
        PropertyBag bag;
        bag.WriteProperty(QStringLiteral("BorderStyle"), 1, 0);
        bag.WriteProperty(QStringLiteral("Font"), DefaultFont());
        Bar1_->ReadProperties(bag);
    }

    Command1_ =
        Button(this, "Command1", QStringLiteral("Прочитать архив"), Twips(45, 1440, 1365, 1095));
    Command3_ =
        Button(this, "Command3", QStringLiteral("Распаковать всё"), Twips(1440, 1440, 2715, 1095));
    Command3_->setEnabled(false);
    Command8_ =
        Button(this, "Command8", QStringLiteral("Запаковать файлы"), Twips(2835, 1440, 1365, 1095));
    Command8_->setVisible(false);
    Command4_ =
        Button(this, "Command4", QStringLiteral("О программе"), Twips(4230, 1440, 1365, 1095));
}

void Form1::BuildListPanel() {
    // The list panel: a sunken 2-pixel border around an inner area that
    // clips the scroll bar and the eleventh row as the design does.
    Picture3_ = new QFrame(this);
    Picture3_->setObjectName(QStringLiteral("Picture3"));
    Picture3_->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    Picture3_->setGeometry(Twips(5625, 45, 5730, 2490));
    Picture3_->setAutoFillBackground(true);
    QPalette panel = Picture3_->palette();
    panel.setColor(QPalette::Window, ColorFromValue(kWindowBackground));
    Picture3_->setPalette(panel);
    auto* inner = new QWidget(Picture3_);
    inner->setGeometry(Picture3_->contentsRect());

    const QFont header = HeaderFont();
    Command5_ = Button(inner, "Command5", QStringLiteral("Имя"), Twips(0, 0, 3840, 195));
    Command7_ = Button(inner, "Command7", QStringLiteral("Смещение"), Twips(3825, 0, 870, 195));
    Command6_ = Button(inner, "Command6", QStringLiteral("Размер"), Twips(4680, 0, 690, 195));
    for (QPushButton* h : {Command5_, Command7_, Command6_}) h->setFont(header);

    const struct {
        std::array<ListCell*, kRows>& cells;
        const char* name;
        QRect place;
    } arrays[] = {{nameCells_, "nm", Twips(0, 180, 3830, 240)},
                  {offsetCells_, "off", Twips(3810, 180, 890, 240)},
                  {sizeCells_, "sz", Twips(4680, 180, 690, 240)}};
    for (const auto& a : arrays) {
        a.cells[0] = new ListCell(inner);
        a.cells[0]->setObjectName(QStringLiteral("%1(0)").arg(QLatin1String(a.name)));
        a.cells[0]->setGeometry(a.place);
    }

    Scr_ = new QScrollBar(Qt::Vertical, inner);
    Scr_->setObjectName(QStringLiteral("Scr"));
    Scr_->setGeometry(Twips(5355, 0, 330, 2445));
    Scr_->setRange(0, 32767);
    Scr_->setValue(0);
    Scr_->setSingleStep(1);
    Scr_->setTracking(false);               // the rows follow the thumb when it is released
    Scr_->setFocusPolicy(Qt::StrongFocus);  // a tab stop, and the arrow keys scroll it
    Picture3_->setEnabled(false);

    File1_ = new QListWidget(this);
    File1_->setObjectName(QStringLiteral("File1"));
    File1_->setGeometry(Twips(2655, 3060, 1590, 1590));
    File1_->setVisible(false);
    File2_ = new QListWidget(this);
    File2_->setObjectName(QStringLiteral("File2"));
    File2_->setGeometry(Twips(4410, 3060, 1455, 1590));
    File2_->setVisible(false);
}

void Form1::BuildMenu() {
    Pack_ = new QMenu(QStringLiteral("1"), this);
    Pack_->setObjectName(QStringLiteral("Pack"));
    UP_ = Pack_->addAction(QStringLiteral("Извлечь"));
    UP_->setObjectName(QStringLiteral("UP"));
    RP_ = Pack_->addAction(QStringLiteral("Заменить на..."));
    RP_->setObjectName(QStringLiteral("RP"));
    RP_->setEnabled(false);
}

void Form1::Connect() {
    connect(Command1_, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2_, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3_, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4_, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command8_, &QPushButton::clicked, this, &Form1::Command8_Click);
    for (QPushButton* h : {Command5_, Command7_, Command6_})
        connect(h, &QPushButton::clicked, this, &Form1::Header_Click);
    connect(Scr_, &QScrollBar::valueChanged, this, &Form1::Scr_Change);
    connect(UP_, &QAction::triggered, this, &Form1::UP_Click);
}

bool Form1::Busy() const {
    return ops_->Busy();
}

void Form1::Form_Initialize() {
    Bar1_->setCaption(QString());
}

void Form1::Form_Load() {
    Scr_->setPageStep(9);
    Pack_->menuAction()->setVisible(false);  // only ever shown as a popup

    for (int i = 1; i < kRows; ++i) {
        for (auto* cells : {&nameCells_, &offsetCells_, &sizeCells_}) {
            ListCell* prev = (*cells)[i - 1];
            ListCell* c = ListCell::CopyOf(*(*cells)[0], prev->parentWidget());
            const QString base = (*cells)[0]->objectName().chopped(3);
            c->setObjectName(QStringLiteral("%1(%2)").arg(base).arg(i));
            // Each row overlaps the one above by one pixel, so their border
            // lines coincide: row i lies at 180 + 225 * i twips.
            const float top =
                float(PixelsToTwips(prev->y())) + float(PixelsToTwips(prev->height())) - 15.0f;
            c->move(c->x(), TwipsToPixels(top));
            c->show();
            (*cells)[i] = c;
        }
    }
    RaiseHeaders();
    for (int i = 0; i < kRows; ++i) {
        const int row = i;
        connect(nameCells_[i], &ListCell::Click, this, [this, row] { nm_Click(row); });
        connect(nameCells_[i], &ListCell::MouseDown, this,
                [this, row](int Button, int, float, float) { nm_MouseDown(row, Button); });
    }

    // Keyboard order: the design's tab indexes.
    QWidget* order[] = {Command1_, FilePath_, Command2_, Bar1_,     Scr_,   Command5_, Command6_,
                        Command7_, Command3_, Command4_, Command8_, File1_, File2_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    for (auto* cells : {&nameCells_, &offsetCells_, &sizeCells_})
        for (ListCell* c : *cells) c->setFocusPolicy(Qt::NoFocus);

    // The wheel anywhere on the list panel, scroll bar aside.
    Picture3_->installEventFilter(this);
    for (QWidget* w : Picture3_->findChildren<QWidget*>())
        if (w != Scr_) w->installEventFilter(this);
}

void Form1::CentreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect r(QPoint(0, 0), frameGeometry().size());
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
}

void Form1::ShowTxt(qint64 top) {
    const qint64 last = dir_.IsLoaded() ? dir_.Count() : -1;  // the blank element
    for (int a = 0; a < kRows; ++a) {
        const qint64 k = top + a;
        if (k >= 0 && k <= last) {
            const QString name = dir_.Name(k);
            nameCells_[a]->setToolTip(PlainToolTip(name));
            nameCells_[a]->setText(name);
            offsetCells_[a]->setText(QString::number(dir_.EntryOffset[size_t(k)]));
            sizeCells_[a]->setText(QString::number(dir_.EntrySize[size_t(k)]));
        } else {
            nameCells_[a]->setToolTip(QString());
            nameCells_[a]->setText(QString());
            offsetCells_[a]->setText(QString());
            sizeCells_[a]->setText(QString());
        }
    }
}

// --- Commands ---------------------------------------------------------------

ClsDialog& Form1::Dialog() {
    if (!dialog_) dialog_ = std::make_unique<ClsDialog>(services_.dialogs);
    return *dialog_;
}

bool Form1::ShowFileDialog(bool save) {
    // The wrapper refuses a file name or filter too long for the platform's
    // buffers before it shows anything, and a chosen path too long for them
    // after; the user hears of either.
    try {
        save ? Dialog().ShowSave() : Dialog().ShowOpen();
        return true;
    } catch (const RuntimeError& e) {
        ShowError(
            e.number() == RuntimeError::BufferTooSmall
                ? QStringLiteral("Не удалось использовать выбранный файл: слишком длинный путь")
                : QStringLiteral("Не удалось открыть окно выбора файла: слишком длинный путь"));
        return false;
    }
}

void Form1::SetCommand1Enabled(bool enabled) {
    ops_->SetEnabled(Command1_, enabled);  // during a run: when it ends
}

void Form1::Command2_Click() {
    Dialog().setFilter(kFilter);
    if (!ShowFileDialog(false)) return;
    FilePath_->setText(Dialog().FileName());
    SetCommand1Enabled(!FilePath_->text().isEmpty());
}

void Form1::Command1_Click() {
    if (Busy()) return;
    Bar1_->setValue(0);
    ReadArchive();
}

bool Form1::OpenArchive(const QString& path) {
    if (Busy()) return false;
    FilePath_->setText(path);
    // A later Browse proposes this file, and cancelling it keeps the path.
    Dialog().setFileName(path);
    SetCommand1Enabled(!path.isEmpty());
    Command1_Click();
    return true;
}

void Form1::Command4_Click() {
    if (!about_) about_ = new Form2(services_, this);
    about_->Present();
}

void Form1::Header_Click() {
    Bar1_->setFocus();
}

QString Form1::ChooseFolder() {
    // Only a folder confirmed in this dialog is written to: a cancel never
    // falls back to a folder chosen earlier.
    Dialog().ShowFolder(QString());
    const QString chosen = Dialog().ChosenFolder();
    if (chosen.isEmpty()) return {};
    if (Dialog().InitDir() != chosen) {
        ShowError(QStringLiteral("Не удалось использовать папку ") + chosen +
                  QStringLiteral(": слишком длинный путь"));
        return {};
    }
    return chosen;
}

kbx::Progress Form1::AdvanceBar(LongOperation::EveryOther items) {
    return ops_->Yielding(items, [this] { Bar1_->setValue(Bar1_->Value() + 2); });
}

void Form1::ReadArchive() {
    const QString path = FilePath_->text();
    if (path.isEmpty()) {
        ShowError(kNoPathMessage);
        return;
    }
    const double oldMax = Bar1_->Max();

    const qint64 t0 = services_.ticks->Milliseconds();
    kbx::Directory fresh;
    kbx::Result result;
    ops_->Run([&] {
        result =
            kbx::ReadArchive(path, fresh, AdvanceBar(LongOperation::EveryOther::FromSecond),
                             ops_->Stop(), [this](qint64 count) { Bar1_->setMax(double(count)); });
    });
    if (!result.ok()) {
        Bar1_->setMax(oldMax);
        if (result.outcome != kbx::Outcome::Stopped)
            ShowError(FailureMessage(Operation::Load, result));
        CloseIfRequested();
        return;
    }

    dir_ = std::move(fresh);
    const qint64 count = dir_.Count();
    Bar1_->setMax(double(count));
    {
        // The rows are filled below, once, from entry 0. Fewer than ten
        // entries leave nothing to scroll.
        const QSignalBlocker block(Scr_);
        Scr_->setMaximum(int(std::clamp<qint64>(count - 10, 0, INT_MAX)));
        Scr_->setValue(0);
    }
    ShowTxt(0);
    Command1_->setEnabled(true);
    Command3_->setEnabled(true);
    Picture3_->setEnabled(true);
    Report(Operation::Load, t0, result);
}

void Form1::Command3_Click() {
    if (Busy()) return;
    Bar1_->setValue(0);
    const QString folder = ChooseFolder();
    if (folder.isEmpty()) return;
    Bar1_->setValue(0);
    const qint64 t0 = services_.ticks->Milliseconds();
    kbx::Result result;
    ops_->Run([&] {
        result = kbx::UnpackAll(dir_, folder, AdvanceBar(LongOperation::EveryOther::FromFirst),
                                ops_->Stop());
    });
    Report(Operation::Unpack, t0, result);
}

void Form1::Command8_Click() {
    if (Busy()) return;
    Bar1_->setValue(0);
    Dialog().setInitDir(QString());
    const QString root = ChooseFolder();
    if (root.isEmpty()) return;
    Dialog().setFileName(QString());
    Dialog().setFilter(kFilter);
    if (!ShowFileDialog(true)) return;
    const qint64 t0 = services_.ticks->Milliseconds();
    const QString archive = Dialog().FileName();
    if (archive.isEmpty()) return;
    kbx::Result result;
    ops_->Run([&] { result = kbx::Pack(root, archive); });
    Report(Operation::Pack, t0, result);
}

// --- The list ---------------------------------------------------------------

void Form1::Scr_Change() {
    Bar1_->setFocus();
    ShowTxt(Scr_->value());
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // Over the rows and headers the wheel turns the scroll bar exactly as it
    // would over the bar itself.
    if (event->type() == QEvent::Wheel && Scr_->isEnabled()) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPointF at = Scr_->mapFromGlobal(wheel->globalPosition());
        QWheelEvent copy(at, wheel->globalPosition(), wheel->pixelDelta(), wheel->angleDelta(),
                         wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(),
                         wheel->source(), wheel->pointingDevice());
        QCoreApplication::sendEvent(Scr_, &copy);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::nm_Click(int index) {
    for (int a = 0; a < kRows; ++a) {
        nameCells_[a]->setMark(0);
        sizeCells_[a]->setMark(0);
        offsetCells_[a]->setMark(0);
    }
    nameCells_[index]->setMark(1);
    sizeCells_[index]->setMark(1);
    offsetCells_[index]->setMark(1);
    RaiseHeaders();
}

void Form1::RaiseHeaders() {
    // The headers cover the top border line of row 0.
    for (QPushButton* h : {Command5_, Command7_, Command6_}) h->raise();
}

void Form1::nm_MouseDown(int index, int Button) {
    if (Button != 2) return;
    MenuRow_ = index;
    Pack_->exec(QCursor::pos());
}

void Form1::UP_Click() {
    if (Busy()) return;
    Bar1_->setValue(0);
    ExtractEntry(qint64(Scr_->value()) + MenuRow_);
}

void Form1::ExtractEntry(qint64 index) {
    // The blank element and rows past it hold no entry: nothing to extract.
    if (index < 0 || index >= dir_.Count()) return;
    const QString folder = ChooseFolder();
    if (folder.isEmpty()) return;
    const qint64 t0 = services_.ticks->Milliseconds();
    kbx::Result result;
    ops_->Run([&] { result = kbx::ExtractEntry(dir_, index, folder); });
    Report(Operation::Extract, t0, result);
}

// --- Reports and closing ----------------------------------------------------

void Form1::Report(Operation op, qint64 t0, const kbx::Result& result) {
    if (ops_->CloseRequested()) {  // the user closed the window during the run
        CloseIfRequested();
        return;
    }
    switch (result.outcome) {
        case kbx::Outcome::Ok:
            services_.messages->Show(
                this, CompletionText(op, services_.ticks->Milliseconds() - t0, QLocale()),
                MessageBoxService::Icon::Information, kInfoTitle);
            break;
        case kbx::Outcome::NothingDone:
        case kbx::Outcome::Stopped:
            break;
        case kbx::Outcome::EntriesFailed:
        case kbx::Outcome::Unusable:
            ShowError(FailureMessage(op, result));
            break;
    }
    // A step that failed although the result is complete is still told.
    for (const kbx::Failure& w : result.warnings) ShowError(WarningMessage(w));
}

void Form1::ShowError(const QString& text) {
    services_.messages->Show(this, text, MessageBoxService::Icon::Critical, kErrorTitle);
}

void Form1::CloseIfRequested() {
    if (ops_->TakeCloseRequest()) close();
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    // While a run is in progress a drop is refused, as the buttons are.
    if (!Busy() && !DraggedFile(event->mimeData()).isEmpty()) TakeAsCopy(event);
}

void Form1::dropEvent(QDropEvent* event) {
    const QString path = DraggedFile(event->mimeData());
    if (path.isEmpty() || !TakeAsCopy(event)) return;
    // Read after the drop has finished, so the file manager is not held
    // for the length of the load and its messages.
    QTimer::singleShot(0, this, [this, path] { OpenArchive(path); });
}

void Form1::closeEvent(QCloseEvent* event) {
    // During a run: it stops after its current item and closes its files;
    // the window closes when it has returned.
    if (ops_->DeferClose()) {
        event->ignore();
        return;
    }
    if (about_) about_->close();  // the About window goes with its owner
    QWidget::closeEvent(event);
}

}  // namespace ui
