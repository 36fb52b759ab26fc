#include "widgets/progress/cool_bar.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "platform/colors.h"
#include "platform/property_bag.h"
#include "platform/runtime_error.h"
#include "platform/twips.h"

namespace {

// Size of a newly placed control: 1095 x 555 twips.
constexpr int kDesignWidthPixels = 73;
constexpr int kDesignHeightPixels = 37;
constexpr quint32 kBlue = 0x00FF0000u;
const QString kDesignCaption = QStringLiteral("Caption");

// Mouse buttons as the events report them: 1 left, 2 right, 4 middle.
qint16 ButtonCode(Qt::MouseButtons buttons) {
    qint16 code = 0;
    if (buttons & Qt::LeftButton) code |= 1;
    if (buttons & Qt::RightButton) code |= 2;
    if (buttons & Qt::MiddleButton) code |= 4;
    return code;
}

// Modifier keys as the events report them: 1 Shift, 2 Ctrl, 4 Alt.
qint16 ShiftCode(Qt::KeyboardModifiers modifiers) {
    qint16 code = 0;
    if (modifiers & Qt::ShiftModifier) code |= 1;
    if (modifiers & Qt::ControlModifier) code |= 2;
    if (modifiers & Qt::AltModifier) code |= 4;
    return code;
}

// Virtual-key code of a Qt key: letters and digits keep their codes, the
// common editing and function keys get theirs, anything else reports 0.
qint16 KeyCodeOf(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        return static_cast<qint16>(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<qint16>(0x70 + key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 0x09;
        case Qt::Key_Clear:
            return 0x0C;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        case Qt::Key_Alt:
            return 0x12;
        case Qt::Key_Pause:
            return 0x13;
        case Qt::Key_CapsLock:
            return 0x14;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Delete:
            return 0x2E;
        case Qt::Key_NumLock:
            return 0x90;
        case Qt::Key_ScrollLock:
            return 0x91;
        default:
            return 0;
    }
}

// (v or d) x scale rounded to single precision; empty when the product
// overflows double or does not fit single precision.
std::optional<float> Coordinate(double a, double scale) {
    const double p = a * scale;
    if (!std::isfinite(p) || std::fabs(p) > double(FLT_MAX)) return std::nullopt;
    return static_cast<float>(p);
}

// Twips along one axis to a pixel edge; values far outside the area are
// pulled in first so that the rounding stays within int.
int PixelEdge(double twips, int extentPixels) {
    const double limit = PixelsToTwips(extentPixels + 1);
    return TwipsToPixels(std::clamp(twips, -kTwipsPerPixel, limit));
}

}  // namespace

CoolBar::CoolBar(QWidget* parent)
    : QWidget(parent),
      backColor_(kButtonFace),
      foreColor_(kButtonText),
      captionColor_(kButtonText) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);

    label_ = new QLabel(kDesignCaption, this);
    label_->setObjectName(QStringLiteral("Label"));
    label_->setTextFormat(Qt::PlainText);
    label_->setFocusPolicy(Qt::NoFocus);
    label_->setMouseTracking(true);
    label_->installEventFilter(this);
    ApplyCaptionColor();

    resize(kDesignWidthPixels, kDesignHeightPixels);
    InitProperties();
}

CoolBar::~CoolBar() = default;

void CoolBar::setBackColor(quint32 New_BackColor) {
    backColor_ = New_BackColor;
    update();
    Q_EMIT PropertyChanged(QStringLiteral("BackColor"));
}

void CoolBar::setForeColor(quint32 New_ForeColor) {
    foreColor_ = New_ForeColor;
    Q_EMIT PropertyChanged(QStringLiteral("ForeColor"));
}

bool CoolBar::Enabled() const {
    return !testAttribute(Qt::WA_ForceDisabled);
}

void CoolBar::setEnabled(bool New_Enabled) {
    QWidget::setEnabled(New_Enabled);
    Q_EMIT PropertyChanged(QStringLiteral("Enabled"));
}

QFont CoolBar::Font() const {
    return label_->font();
}

void CoolBar::setFont(const QFont& New_Font) {
    ApplyFont(New_Font);
    Q_EMIT PropertyChanged(QStringLiteral("Font"));
}

void CoolBar::setBorderStyle(qint32 New_BorderStyle) {
    ApplyBorderStyle(New_BorderStyle);
    Q_EMIT PropertyChanged(QStringLiteral("BorderStyle"));
}

qint32 CoolBar::hWnd() const {
    return static_cast<qint32>(effectiveWinId());
}

void CoolBar::setCaption(const QString& New_Caption) {
    caption_ = New_Caption;
    label_->setText(caption_);
    label_->adjustSize();
    LayoutCaption();
    Q_EMIT PropertyChanged(QStringLiteral("Caption"));
}

void CoolBar::setMax(double New_Max) {
    max_ = New_Max;
    Q_EMIT PropertyChanged(QStringLiteral("Max"));
}

void CoolBar::setValue(double New_Value) {
    value_ = New_Value;
    Redraw();
    Q_EMIT PropertyChanged(QStringLiteral("Value"));
}

qint32 CoolBar::Style() const {
    return PropertyToInt32(style_);
}

void CoolBar::setStyle(qint32 New_Style) {
    style_ = QVariant::fromValue<qint32>(New_Style);
    Q_EMIT PropertyChanged(QStringLiteral("Style"));
}

void CoolBar::setBarColor(quint32 New_BarColor) {
    barColor_ = New_BarColor;
    Q_EMIT PropertyChanged(QStringLiteral("BarColor"));
}

void CoolBar::setCaptionColor(quint32 New_CaptionColor) {
    captionColor_ = New_CaptionColor;
    ApplyCaptionColor();
    Q_EMIT PropertyChanged(QStringLiteral("CaptionColor"));
}

qint16 CoolBar::Percent() const {
    if (max_ == 0) return 100;
    // Max / 100 first, then Value divided by it: 7 / (7 / 100) falls just
    // below 100 and reads 99.
    const double step = max_ / 100.0;
    const double result = std::floor(value_ / step);
    if (!(result >= -32768.0 && result <= 32767.0)) throw RuntimeError(RuntimeError::Overflow);
    return static_cast<qint16>(result);
}

void CoolBar::setPercent(qint16 New_Percent) {
    qint16 p = New_Percent;
    if (p > 100) p = 100;
    setValue((max_ / 100.0) * p);
    percent_ = p;
    Q_EMIT PropertyChanged(QStringLiteral("Percent"));
}

QString CoolBar::HelpText(const QString& member) {
    static const QList<QPair<QString, QString>> texts = {
        {"BackColor",
         "Returns/sets the background color used to display text and graphics in an object."},
        {"ForeColor",
         "Returns/sets the foreground color used to display text and graphics in an object."},
        {"Enabled",
         "Returns/sets a value that determines whether an object can respond to user-generated "
         "events."},
        {"Font", "Returns a Font object."},
        {"BorderStyle", "Returns/sets the border style for an object."},
        {"hdc", "Returns a handle (from Microsoft Windows) to the object's device context."},
        {"hWnd", "Returns a handle (from Microsoft Windows) to an object's window."},
        {"Click", "Occurs when the user presses and then releases a mouse button over an object."},
        {"DblClick",
         "Occurs when the user presses and releases a mouse button and then presses and releases "
         "it again over an object."},
        {"KeyDown", "Occurs when the user presses a key while an object has the focus."},
        {"KeyPress", "Occurs when the user presses and releases an ANSI key."},
        {"KeyUp", "Occurs when the user releases a key while an object has the focus."},
        {"MouseDown",
         "Occurs when the user presses the mouse button while an object has the focus."},
        {"MouseMove", "Occurs when the user moves the mouse."},
        {"MouseUp",
         "Occurs when the user releases the mouse button while an object has the focus."},
    };
    for (const auto& t : texts) {
        if (t.first == member) return t.second;
    }
    return QString();
}

void CoolBar::InitProperties() {
    ApplyFont(AmbientFont());
    caption_ = kDesignCaption;
    max_ = 0.0;
    value_ = 0.0;
    style_ = QVariant::fromValue<qint16>(0);
    barColor_ = kBlue;
    percent_ = 0;
}

void CoolBar::ReadProperties(const PropertyBag& PropBag) {
    backColor_ = PropertyToColor(PropBag.ReadProperty("BackColor", kButtonFace));
    update();
    foreColor_ = PropertyToColor(PropBag.ReadProperty("ForeColor", kButtonText));
    QWidget::setEnabled(PropertyToBoolean(PropBag.ReadProperty("Enabled", true)));
    ApplyFont(PropertyToFont(PropBag.ReadProperty("Font", AmbientFont())));
    ApplyBorderStyle(
        PropertyToInt16(PropBag.ReadProperty("BorderStyle", QVariant::fromValue<qint16>(0))));
    // The label keeps showing its own text until Caption is assigned.
    caption_ = PropertyToText(PropBag.ReadProperty("Caption", kDesignCaption));
    // Max, Value and Style take effect at the next Value assignment.
    max_ = PropertyToDouble(PropBag.ReadProperty("Max", 0.0));
    value_ = PropertyToDouble(PropBag.ReadProperty("Value", 0.0));
    style_ = PropertyToNumber(PropBag.ReadProperty("Style", QVariant::fromValue<qint16>(0)));
    barColor_ = PropertyToColor(PropBag.ReadProperty("BarColor", kBlue));
    captionColor_ = PropertyToColor(PropBag.ReadProperty("CaptionColor", kButtonText));
    ApplyCaptionColor();
    // A stored percentage is kept as it is and does not move Value.
    percent_ = PropertyToInt16(PropBag.ReadProperty("Percent", QVariant::fromValue<qint16>(0)));
}

void CoolBar::WriteProperties(PropertyBag& PropBag) const {
    PropBag.WriteProperty("BackColor", backColor_, kButtonFace);
    PropBag.WriteProperty("ForeColor", foreColor_, kButtonText);
    PropBag.WriteProperty("Enabled", Enabled(), true);
    PropBag.WriteProperty("Font", label_->font(), AmbientFont());
    PropBag.WriteProperty("BorderStyle", QVariant::fromValue<qint16>(borderStyle_),
                          QVariant::fromValue<qint16>(0));
    PropBag.WriteProperty("Caption", caption_, kDesignCaption);
    PropBag.WriteProperty("Max", max_, 0.0);
    PropBag.WriteProperty("Value", value_, 0.0);
    PropBag.WriteProperty("Style", style_, QVariant::fromValue<qint16>(0));
    PropBag.WriteProperty("BarColor", barColor_, kBlue);
    PropBag.WriteProperty("CaptionColor", captionColor_, kButtonText);
    PropBag.WriteProperty("Percent", QVariant::fromValue<qint16>(percent_),
                          QVariant::fromValue<qint16>(0));
}

QFont CoolBar::AmbientFont() const {
    if (parentWidget()) return parentWidget()->font();
    return QApplication::font();
}

QPointF CoolBar::CaptionPosition(float controlWidth, float controlHeight, float labelWidth,
                                 float labelHeight) {
    const float left = (controlWidth - labelWidth) / 2.0f;
    const float top = (controlHeight - labelHeight - 40.0f) / 2.0f;
    return QPointF(left, top);
}

std::optional<CoolBar::Corners> CoolBar::BarCorners(qint32 style, double v, double max, float W,
                                                    float H) {
    // A scale that cannot be computed (Max not above 0, or an overflowing
    // quotient) counts as 0.
    double hs = 0.0;
    double vs = 0.0;
    if (max > 0) {
        if (const double q = W / max; std::isfinite(q)) hs = q;
        if (const double q = H / max; std::isfinite(q)) vs = q;
    }
    const double d = max - v;
    const bool dOk = std::isfinite(d);
    auto fromV = [&](double scale) { return Coordinate(v, scale); };
    auto fromD = [&](double scale) { return dOk ? Coordinate(d, scale) : std::optional<float>(); };
    auto corners = [](float x1, float y1, std::optional<float> x2,
                      std::optional<float> y2) -> std::optional<Corners> {
        if (!x2 || !y2) return std::nullopt;
        return Corners{x1, y1, *x2, *y2};
    };
    switch (style) {
        case 0:
            return corners(0, 0, fromV(hs), H);
        case 1:
            return corners(W, 0, fromD(hs), H);
        case 2:
            return corners(0, 0, W, fromV(vs));
        case 3:
            return corners(W, H, 0.0f, fromD(vs));
        case 4:
            return corners(0, 0, fromV(hs), fromV(vs));
        case 5:
            return corners(0, H, fromV(hs), fromD(vs));
        case 6:
            return corners(W, 0, fromD(hs), fromV(vs));
        case 7:
            return corners(W, H, fromD(hs), fromD(vs));
        default:
            return std::nullopt;
    }
}

void CoolBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect inner = InnerRect();
    painter.fillRect(inner, ColorFromValue(backColor_, palette()));
    if (!picture_.isNull()) {
        painter.save();
        painter.setClipRect(inner);
        painter.drawImage(inner.topLeft(), picture_);
        painter.restore();
    }
    if (borderStyle_ == 1) qDrawWinPanel(&painter, rect(), palette(), true);
}

void CoolBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutCaption();
}

void CoolBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) ApplyCaptionColor();
    QWidget::changeEvent(event);
}

void CoolBar::mousePressEvent(QMouseEvent* event) {
    RaiseMouse(QEvent::MouseButtonPress, event, InnerRect().topLeft(), this);
}

void CoolBar::mouseReleaseEvent(QMouseEvent* event) {
    RaiseMouse(QEvent::MouseButtonRelease, event, InnerRect().topLeft(), this);
}

void CoolBar::mouseDoubleClickEvent(QMouseEvent* event) {
    RaiseMouse(QEvent::MouseButtonDblClick, event, InnerRect().topLeft(), this);
}

void CoolBar::mouseMoveEvent(QMouseEvent* event) {
    RaiseMouse(QEvent::MouseMove, event, InnerRect().topLeft(), this);
}

void CoolBar::keyPressEvent(QKeyEvent* event) {
    qint16 keyCode = KeyCodeOf(event->key());
    qint16 shift = ShiftCode(event->modifiers());
    Q_EMIT KeyDown(keyCode, shift);
    const QString text = event->text();
    if (!text.isEmpty()) {
        qint16 keyAscii = static_cast<qint16>(text.at(0).unicode());
        Q_EMIT KeyPress(keyAscii);
    }
    event->accept();
}

void CoolBar::keyReleaseEvent(QKeyEvent* event) {
    qint16 keyCode = KeyCodeOf(event->key());
    qint16 shift = ShiftCode(event->modifiers());
    Q_EMIT KeyUp(keyCode, shift);
    event->accept();
}

bool CoolBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == label_) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
                // The label's events carry the label's own coordinates.
                RaiseMouse(event->type(), static_cast<QMouseEvent*>(event), QPoint(0, 0), label_);
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

int CoolBar::BorderPixels() const {
    return borderStyle_ == 1 ? 2 : 0;
}

QRect CoolBar::InnerRect() const {
    const int b = BorderPixels();
    return rect().adjusted(b, b, -b, -b);
}

void CoolBar::Redraw() noexcept {
    // Cls: the whole picture goes back to the background.
    const QRect inner = InnerRect();
    picture_ =
        inner.isEmpty() ? QImage() : QImage(inner.size(), QImage::Format_ARGB32_Premultiplied);
    picture_.fill(Qt::transparent);
    update();
    try {
        // The scales come from the outer size; drawing is clipped to the
        // inner area.
        const float W = static_cast<float>(PixelsToTwips(width()));
        const float H = static_cast<float>(PixelsToTwips(height()));
        const std::optional<Corners> c = BarCorners(Style(), value_, max_, W, H);
        if (!c || picture_.isNull()) return;
        const int left = PixelEdge(std::min(c->x1, c->x2), inner.width());
        const int right = PixelEdge(std::max(c->x1, c->x2), inner.width());
        const int top = PixelEdge(std::min(c->y1, c->y2), inner.height());
        const int bottom = PixelEdge(std::max(c->y1, c->y2), inner.height());
        // Half-open edges: a rectangle of zero width or height paints nothing.
        const QRect fill = QRect(left, top, right - left, bottom - top) & picture_.rect();
        if (fill.isEmpty()) return;
        QPainter painter(&picture_);
        painter.fillRect(fill, ColorFromValue(barColor_, palette()));
    } catch (...) {
        // A style that cannot be read leaves the surface cleared.
    }
}

void CoolBar::ApplyFont(const QFont& font) {
    label_->setFont(font);
    label_->adjustSize();
    LayoutCaption();
}

void CoolBar::ApplyBorderStyle(qint32 style) {
    if (style < -32768 || style > 32767) throw RuntimeError(RuntimeError::Overflow);
    if (style != 0 && style != 1) throw RuntimeError(RuntimeError::InvalidPropertyValue);
    borderStyle_ = static_cast<qint16>(style);
    PlaceLabel();
    update();
}

void CoolBar::LayoutCaption() {
    const QPointF pos = CaptionPosition(static_cast<float>(PixelsToTwips(width())),
                                        static_cast<float>(PixelsToTwips(height())),
                                        static_cast<float>(PixelsToTwips(label_->width())),
                                        static_cast<float>(PixelsToTwips(label_->height())));
    labelLeft_ = static_cast<float>(pos.x());
    labelTop_ = static_cast<float>(pos.y());
    PlaceLabel();
}

void CoolBar::PlaceLabel() {
    const QPoint origin = InnerRect().topLeft();
    label_->move(origin.x() + TwipsToPixels(labelLeft_), origin.y() + TwipsToPixels(labelTop_));
}

void CoolBar::ApplyCaptionColor() {
    QPalette p = label_->palette();
    p.setColor(QPalette::WindowText, ColorFromValue(captionColor_, palette()));
    label_->setPalette(p);
}

void CoolBar::RaiseMouse(QEvent::Type type, QMouseEvent* event, QPoint origin, QObject* piece) {
    const QPointF local = event->position() - QPointF(origin);
    float x = static_cast<float>(PixelsToTwips(local.x()));
    float y = static_cast<float>(PixelsToTwips(local.y()));
    qint16 shift = ShiftCode(event->modifiers());
    switch (type) {
        case QEvent::MouseButtonPress: {
            pressedPiece_ = piece;
            afterDoubleClick_ = false;
            qint16 button = ButtonCode(event->button());
            Q_EMIT MouseDown(button, shift, x, y);
            break;
        }
        case QEvent::MouseButtonDblClick:
            pressedPiece_ = piece;
            afterDoubleClick_ = true;
            Q_EMIT DblClick();
            break;
        case QEvent::MouseButtonRelease: {
            const QWidget* w = piece == label_ ? static_cast<QWidget*>(label_) : this;
            const bool inside = w->rect().contains(event->position().toPoint());
            const bool click = pressedPiece_ == piece && !afterDoubleClick_ && inside;
            pressedPiece_ = nullptr;
            afterDoubleClick_ = false;
            qint16 button = ButtonCode(event->button());
            Q_EMIT MouseUp(button, shift, x, y);
            if (click) Q_EMIT Click();
            break;
        }
        case QEvent::MouseMove: {
            qint16 buttons = ButtonCode(event->buttons());
            Q_EMIT MouseMove(buttons, shift, x, y);
            break;
        }
        default:
            break;
    }
}
