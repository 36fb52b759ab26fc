#pragma once
// One cell of the directory list: a bordered, transparent, left-aligned
// single-line label with a mark state. A marked cell is drawn with a sunken
// 3-D border instead of its plain line, so the marked row stands out.

#include <QLabel>

namespace ui {

class ListCell : public QLabel {
    Q_OBJECT

  public:
    explicit ListCell(QWidget* parent);

    // A further element of a control array: every setting of `element0`
    // except its position in the tab order; not visible until shown.
    static ListCell* CopyOf(const ListCell& element0, QWidget* parent);

    int Mark() const { return mark_; }
    void setMark(int New_Mark);

  Q_SIGNALS:
    // A left button pressed and released over the cell.
    void Click();
    // Button: 1 left, 2 right, 4 middle; Shift: 1 Shift, 2 Ctrl, 4 Alt.
    void MouseDown(int Button, int Shift, float X, float Y);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int mark_ = 0;
    bool leftDown_ = false;
};

}  // namespace ui
