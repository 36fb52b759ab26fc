#include "ui/main_window/list_cell.h"

#include <QMouseEvent>

#include "platform/colors.h"

namespace ui {

ListCell::ListCell(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setAutoFillBackground(false);  // transparent: the panel's colour shows through
    QPalette p = palette();
    p.setColor(QPalette::Window, ColorFromValue(kWindowBackground));
    p.setColor(QPalette::WindowText, ColorFromValue(kWindowText));
    setPalette(p);
    setIndent(1);
    setMark(0);
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
    } else {
        setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
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
