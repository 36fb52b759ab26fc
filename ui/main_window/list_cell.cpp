#include "ui/main_window/list_cell.h"

#include <QMouseEvent>

#include "platform/colors.h"

namespace ui {

ListCell::ListCell(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, ColorFromValue(kWindowText));
    // The sunken border of a marked cell: dark grey and black above and to
    // the left, button face below and to the right, so that it shows on the
    // white list panel.
    p.setColor(QPalette::Dark, QColor(128, 128, 128));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::Light, ColorFromValue(kButtonFace));
    p.setColor(QPalette::Midlight, ColorFromValue(kButtonFace).darker(110));
    p.setColor(QPalette::Window, ColorFromValue(kButtonFace));
    setPalette(p);
    setIndent(1);
    setMark(0);  // transparent: the panel's colour shows through
}

ListCell* ListCell::CopyOf(const ListCell& element0, QWidget* parent) {
    auto* c = new ListCell(parent);
    c->setGeometry(element0.geometry());
    c->setFont(element0.font());
    c->setPalette(element0.palette());
    c->setAlignment(element0.alignment());
    c->setText(element0.text());
    c->setToolTip(element0.toolTip());
    c->setMark(element0.Mark());
    c->hide();
    return c;
}

void ListCell::setMark(int New_Mark) {
    mark_ = New_Mark;
    if (mark_ == 0) {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        setAutoFillBackground(false);
    } else {
        // Sunken, on the button face, and above the neighbouring rows whose
        // border lines it shares.
        setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        setAutoFillBackground(true);
        raise();
    }
}

namespace {
int ButtonCode(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
    }
}

int ShiftCode(Qt::KeyboardModifiers m) {
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
           (m & Qt::AltModifier ? 4 : 0);
}
}  // namespace

void ListCell::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) leftDown_ = true;
    const QPointF at = event->position();
    Q_EMIT MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), float(at.x()),
                     float(at.y()));
    event->accept();
}

void ListCell::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = event->button() == Qt::LeftButton && leftDown_ &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) leftDown_ = false;
    event->accept();
    if (click) Q_EMIT Click();
}

}  // namespace ui
