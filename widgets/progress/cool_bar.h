#pragma once
// CoolBar: a progress bar drawn as one filled rectangle whose extent follows
// Value against Max in one of eight directions, with a caption label laid over
// it. Geometry is worked out in twips and mapped to pixels last.
//
// The bar is a retained picture: only a Value assignment (directly or through
// Percent) redraws it. Changing Max, Style, BarColor or the size shows at the
// next Value.

#include <QEvent>
#include <QFont>
#include <QImage>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <optional>

class QLabel;
class PropertyBag;

class CoolBar : public QWidget {
    Q_OBJECT

  public:
    // Corners of the bar rectangle in twips, measured from the top-left
    // corner of the inner area; the corners may come in any order.
    struct Corners {
        float x1, y1, x2, y2;
    };

    explicit CoolBar(QWidget* parent = nullptr);
    ~CoolBar() override;

    // Colour values are 0x00BBGGRR or a system colour 0x800000NN.
    quint32 BackColor() const { return backColor_; }
    void setBackColor(quint32 New_BackColor);
    quint32 ForeColor() const { return foreColor_; }
    void setForeColor(quint32 New_ForeColor);
    // The control's own enabled state, whatever its parents' state is.
    // setEnabled, setFont and setStyle hide QWidget's functions of the same
    // names: call them on a CoolBar, not through a QWidget pointer, or the
    // change is not notified (and for the font, not shown on the caption).
    bool Enabled() const;
    void setEnabled(bool New_Enabled);
    // The caption label's font.
    QFont Font() const;
    void setFont(const QFont& New_Font);
    // 0 = no border, 1 = fixed single. Throws RuntimeError::Overflow for a
    // value outside 16 bits and RuntimeError::InvalidPropertyValue for any
    // other value; nothing changes then.
    qint32 BorderStyle() const { return borderStyle_; }
    void setBorderStyle(qint32 New_BorderStyle);
    // Qt paints through QPainter and hands out no device context: always 0.
    qint32 hdc() const { return 0; }
    // The native window the control is shown in (0 before it is created).
    qint32 hWnd() const;
    // The text last assigned or loaded; the label shows it only once it has
    // been assigned.
    QString Caption() const { return caption_; }
    void setCaption(const QString& New_Caption);
    double Max() const { return max_; }
    void setMax(double New_Max);
    double Value() const { return value_; }
    // Stores the value, redraws the bar and notifies "Value". Never throws:
    // a bar that cannot be computed is simply not drawn.
    void setValue(double New_Value);
    // The fill direction 0 to 7; other values draw nothing. Throws
    // RuntimeError::Overflow when a loaded style does not fit 32 bits.
    qint32 Style() const;
    void setStyle(qint32 New_Style);
    quint32 BarColor() const { return barColor_; }
    void setBarColor(quint32 New_BarColor);
    quint32 CaptionColor() const { return captionColor_; }
    void setCaptionColor(quint32 New_CaptionColor);
    // Read: floor(Value / (Max / 100)), or 100 when Max is 0; throws
    // RuntimeError::Overflow when that does not fit 16 bits. Write: clamps
    // the value to at most 100 and assigns Value = (Max / 100) * p.
    qint16 Percent() const;
    void setPercent(qint16 New_Percent);

    // The help text of a property or event, empty when it has none.
    static QString HelpText(const QString& member);

    // A newly placed control: ambient font, caption "Caption", Max and Value
    // 0, style 0, blue bar, percent 0. Draws nothing.
    void InitProperties();
    // Applies the stored properties; a value that cannot be converted throws
    // RuntimeError and ends the load. The loaded caption is kept but the label
    // goes on showing its own text until Caption is assigned, and nothing is
    // drawn until Value is assigned.
    void ReadProperties(const PropertyBag& PropBag);
    void WriteProperties(PropertyBag& PropBag) const;

    // The font of the host, or of the application when there is none.
    QFont AmbientFont() const;

    // Caption position in twips, measured in the inner area, for a control of
    // the given outer size and a label of the given size.
    static QPointF CaptionPosition(float controlWidth, float controlHeight, float labelWidth,
                                   float labelHeight);
    // The bar for value `v` with the given Max and Style on a control of
    // outer size W x H twips; empty when nothing is to be drawn (a style
    // outside 0..7, or a coordinate that overflows single precision).
    static std::optional<Corners> BarCorners(qint32 style, double v, double max, float W, float H);

    // The label that shows the caption.
    QLabel* CaptionLabel() const { return label_; }

  Q_SIGNALS:
    // Reports a changed property by its storage key.
    void PropertyChanged(const QString& PropertyName);

    // Arguments are references: a change a handler makes is seen by the code
    // that raised the event. Coordinates are twips in the coordinates of the
    // piece that was under the mouse (the surface's inner area, or the label).
    void Click();
    void DblClick();
    void KeyDown(qint16& KeyCode, qint16& Shift);
    void KeyPress(qint16& KeyAscii);
    void KeyUp(qint16& KeyCode, qint16& Shift);
    void MouseDown(qint16& Button, qint16& Shift, float& X, float& Y);
    void MouseMove(qint16& Button, qint16& Shift, float& X, float& Y);
    void MouseUp(qint16& Button, qint16& Shift, float& X, float& Y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int BorderPixels() const;
    QRect InnerRect() const;
    void Redraw() noexcept;
    // Shows the caption in `font`, sized to its text and centred again.
    void ApplyFont(const QFont& font);
    // Checks and applies a border style (see setBorderStyle); the caption
    // moves with the inner area.
    void ApplyBorderStyle(qint32 style);
    void LayoutCaption();
    void PlaceLabel();
    void ApplyCaptionColor();
    // Raises the mouse events for `event` delivered to a piece whose origin
    // lies at `origin` (widget pixels of that piece).
    void RaiseMouse(QEvent::Type type, QMouseEvent* event, QPoint origin, QObject* piece);

    QLabel* label_ = nullptr;
    QImage picture_;  // the retained bar, transparent where the background shows

    // Members in the order the control keeps them.
    qint16 percent_ = 0;
    QString caption_;
    double max_ = 0.0;
    double value_ = 0.0;
    QVariant style_;  // keeps the numeric type a loaded style came with
    quint32 barColor_ = 0;

    // Surface and label state.
    quint32 backColor_;
    quint32 foreColor_;
    qint16 borderStyle_ = 0;
    quint32 captionColor_;
    float labelLeft_ = 0.0f;  // twips in the inner area
    float labelTop_ = 0.0f;

    QObject* pressedPiece_ = nullptr;  // where the last press went, for Click
    bool afterDoubleClick_ = false;
};
