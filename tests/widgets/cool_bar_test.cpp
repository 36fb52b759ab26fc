#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <cfloat>
#include <cmath>
#include <functional>

#include "platform/property_bag.h"
#include "platform/runtime_error.h"
#include "tests/support/error_number.h"
#include "widgets/progress/cool_bar.h"

namespace {

const QColor kBlue(0, 0, 255), kWhite(255, 255, 255);

// The bounding box of the pixels of `widget` painted in `color` (with
// `other`: in any other colour), and the most saturated of them.
struct Ink {
    QRect box;
    QColor strongest;
};
Ink InkOf(QWidget& widget, const QColor& color, bool other = false) {
    const QImage image = widget.grab().toImage();
    Ink ink;
    int best = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if ((c == color) == other) continue;
            ink.box |= QRect(x, y, 1, 1);
            const int spread =
                std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
            if (spread > best) best = spread, ink.strongest = c;
        }
    return ink;
}
QRect FillOf(QWidget& widget, const QColor& color = kBlue) {
    return InkOf(widget, color).box;
}
Ink Letters(QWidget& bar) {  // on a white bar
    return InkOf(bar, kWhite, true);
}

// The dominant channel of a colour: 'r', 'g' or 'b'.
char Hue(const QColor& c) {
    if (c.red() > c.green() && c.red() > c.blue()) return 'r';
    return c.green() > c.blue() ? 'g' : 'b';
}

// Whether `change` makes the shown `widget` paint again.
bool Repaints(QWidget& widget, const std::function<void()>& change) {
    struct Counter : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::Paint;
            return false;
        }
    } paints;
    widget.installEventFilter(&paints);
    change();
    QCoreApplication::processEvents();
    return paints.count > 0;
}

// The main window's bar: 5550 x 375 twips (370 x 25 pixels), white, no caption.
void Plain(CoolBar& bar) {
    bar.resize(370, 25);
    bar.setBackColor(0x00FFFFFFu);
    bar.setCaption(QString());
}

// A bag from key, value, key, value...
PropertyBag BagOf(const QVariantList& pairs) {
    PropertyBag bag;
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        bag.WriteProperty(pairs[i].toString(), pairs[i + 1]);
    return bag;
}
PropertyBag Saved(const CoolBar& bar) {
    PropertyBag bag;
    bar.WriteProperties(bag);
    return bag;
}

}  // namespace

TEST(CoolBarDrawing, FilledRegions) {
    const struct {
        qint32 style, border;
        double max, value;
        QRect expected;  // empty: nothing drawn
    } cases[] = {
        {0, 0, 100, 50, QRect(0, 0, 185, 25)},   // to 2775 twips: half the width
        {1, 0, 100, 25, QRect(278, 0, 92, 25)},  // from 4162.5 twips
        {2, 0, 100, 40, QRect(0, 0, 370, 10)},
        {3, 0, 100, 25, QRect(0, 19, 370, 6)},  // from 281.25 twips: the bottom quarter
        // The corner styles, away from half of Max, where the extent from
        // Value and the extent from Max - Value differ on both axes.
        {4, 0, 100, 50, QRect(0, 0, 185, 13)},   // the top-left quarter
        {4, 0, 100, 25, QRect(0, 0, 93, 6)},     // to 1387.5 and 93.75 twips
        {5, 0, 100, 25, QRect(0, 19, 93, 6)},    // up from the bottom edge
        {6, 0, 100, 80, QRect(74, 0, 296, 20)},  // from 1110 twips to the right edge
        {7, 0, 100, 80, QRect(74, 5, 296, 20)},
        {0, 1, 100, 100, QRect(2, 2, 366, 21)},  // scaled to the outer size, clipped inside
        {0, 1, 100, 50, QRect(2, 2, 185, 21)},
        {1, 0, 100, 150, QRect(0, 0, 370, 25)},  // beyond Max: clipped, full
        {0, 0, 100, -10, QRect()},
        {0, 0, 0, 50, QRect()},                   // Max 0: zero width
        {0, 0, 0.5, 0.25, QRect(0, 0, 185, 25)},  // a Max below 1 scales as well
        {0, 0, std::nan(""), 50, QRect()},
        {8, 0, 100, 50, QRect()},
        {0, 0, 1e-306, 50, QRect()},     // the scale overflows and counts as 0
        {0, 0, 1e-300, 50, QRect()},     // the coordinate does not fit single precision
        {1, 0, 100, -1.7e308, QRect()},  // Max - Value overflows
        {0, 0, 5550, FLT_MAX, QRect(0, 0, 370, 25)},  // a scale of 1: the largest float fits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.style << " " << c.border << " " << c.max << " " << c.value);
        CoolBar bar;
        Plain(bar);
        bar.setBorderStyle(c.border);
        bar.setMax(c.max);
        bar.setStyle(c.style);
        bar.setValue(100);  // an earlier picture that the next Value must clear
        EXPECT_NO_THROW(bar.setValue(c.value));
        EXPECT_EQ(FillOf(bar), c.expected);
    }
}

TEST(CoolBarDrawing, OnlyValueChangesThePictureAndEveryValueRepaints) {
    CoolBar bar;
    Plain(bar);
    bar.setMax(100);
    bar.setValue(50);
    bar.setBarColor(0x000000FFu);  // red
    bar.setMax(200);
    bar.setStyle(1);
    bar.resize(740, 25);
    EXPECT_EQ(FillOf(bar), QRect(0, 0, 185, 25));
    bar.setValue(100);  // now red, style 1, Max 200, on the wider control
    EXPECT_EQ(std::tuple(FillOf(bar), FillOf(bar, Qt::red)),
              std::tuple(QRect(), QRect(370, 0, 370, 25)));

    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    for (qint32 style : {0, 8}) {  // a drawn bar, then one that only clears
        bar.setStyle(style);
        EXPECT_TRUE(Repaints(bar, [&] { bar.setValue(50); })) << style;
    }
    // The border is no part of the picture: it shows at once.
    EXPECT_TRUE(Repaints(bar, [&] { bar.setBorderStyle(1); }));
}

TEST(CoolBarPercent, ReadAndWrite) {
    const struct {
        double max, value;
        int expected;  // -1000: the overflow error
    } reads[] = {
        {7, 7, 99},  // 7 / 0.07 falls just below 100
        {9, 9, 100},          {100, 29, 29},   {100, 99.9, 99},  {100, -0.5, -1},
        {0, 0, 100},          {0, 12345, 100}, {-100, 50, -50},  {1, 327.67, 32767},
        {1, -327.68, -32768}, {1, 400, -1000}, {1, -400, -1000},
    };
    for (const auto& c : reads) {
        CoolBar bar;
        bar.setMax(c.max);
        bar.setValue(c.value);
        const int error = ErrorNumberOf([&] { EXPECT_EQ(bar.Percent(), c.expected) << c.value; });
        EXPECT_EQ(error, c.expected == -1000 ? RuntimeError::Overflow : -1) << c.value;
    }
    const struct {
        double max;
        qint16 p;
        double value;
        int stored;  // what saving keeps under "Percent"
    } writes[] = {{200, 150, 200, 100}, {50, -10, -5, -10}, {100, 0, 0, 0}, {0, 60, 0, 60}};
    for (const auto& c : writes) {
        CoolBar bar;
        bar.setMax(c.max);
        bar.setPercent(c.p);
        EXPECT_EQ(bar.Value(), c.value);
        bar.setValue(c.value + 1);  // the kept percentage does not follow Value
        EXPECT_EQ(Saved(bar).ReadProperty("Percent", 0).toInt(), c.stored);
    }
}

TEST(CoolBarProperties, BorderStyleRejectsOtherValuesAndMovesTheCaption) {
    const int kInvalid = RuntimeError::InvalidPropertyValue, kOverflow = RuntimeError::Overflow;
    const std::pair<qint32, int> cases[] = {{1, -1},
                                            {0, -1},
                                            {2, kInvalid},
                                            {-1, kInvalid},
                                            {32768, kOverflow},
                                            {-32768, kInvalid},
                                            {-32769, kOverflow}};
    CoolBar bar;
    for (const auto& [value, error] : cases) {
        const qint32 before = bar.BorderStyle();
        EXPECT_EQ(ErrorNumberOf([&] { bar.setBorderStyle(value); }), error) << value;
        EXPECT_EQ(bar.BorderStyle(), error == -1 ? value : before);
    }
    // The label is placed in the inner area: a border moves it with the area.
    const QPoint plain = bar.CaptionLabel()->pos();
    bar.setBorderStyle(1);
    EXPECT_EQ(bar.CaptionLabel()->pos(), plain + QPoint(2, 2));
}

TEST(CoolBarPersistence, RoundTripOmitsDefaults) {
    CoolBar bar;
    EXPECT_TRUE(Saved(bar).Keys().isEmpty()) << Saved(bar).Keys().join(",").toStdString();

    bar.setFont(QFont("Sans Serif", 11, QFont::Bold));
    bar.setBorderStyle(1);
    bar.setCaption("Чтение");
    bar.setMax(60);
    bar.setValue(30);
    bar.setStyle(5);
    bar.setBarColor(0x0000FF00u);
    bar.setPercent(20);
    bar.setEnabled(false);
    const PropertyBag bag = Saved(bar);
    EXPECT_EQ(bag.Keys(), (QStringList{"Enabled", "Font", "BorderStyle", "Caption", "Max", "Value",
                                       "Style", "BarColor", "Percent"}));
    CoolBar loaded;
    loaded.ReadProperties(bag);
    const PropertyBag again = Saved(loaded);
    EXPECT_EQ(again.Keys(), bag.Keys());
    for (const QString& key : bag.Keys())
        EXPECT_TRUE(PropertyBag::SameValue(again.ReadProperty(key), bag.ReadProperty(key)))
            << key.toStdString();
    EXPECT_EQ(loaded.Value(), 12);  // Max 60 x 20%: the stored percent did not move it
}

TEST(CoolBarPersistence, LoadedCaptionAndPictureWaitForAssignment) {
    const PropertyBag bag = BagOf({"BackColor", 0x00FFFFFFu, "Caption", "Загрузка", "Max", 100,
                                   "Value", 50, "Percent", 80, "CaptionColor", 0x000000FFu});
    CoolBar bar;
    bar.resize(370, 25);
    bar.ReadProperties(bag);
    // Value not moved by the stored 80 %.
    EXPECT_EQ(std::tuple(bar.Caption(), bar.CaptionLabel()->text(), bar.Value(), FillOf(bar)),
              std::tuple("Загрузка", "Caption", 50, QRect()));
    bar.setCaption(QString());
    EXPECT_EQ(bar.CaptionLabel()->text(), QString());
    bar.setValue(bar.Value());
    EXPECT_EQ(FillOf(bar), QRect(0, 0, 185, 25));
    // A loaded caption colour is the one the caption shows.
    bar.setValue(0);
    bar.setCaption(QStringLiteral("Загрузка"));
    EXPECT_EQ(Hue(Letters(bar).strongest), 'r');
}

TEST(CoolBarPersistence, UnconvertibleValueEndsTheLoad) {
    const struct {
        const char* key;
        QVariant stored;
        int error;
        double value;  // Value after the failed load: loaded only when it comes first
    } cases[] = {
        {"Max", QString("много"), kTypeMismatch, 0},
        {"Enabled", QString("может быть"), kTypeMismatch, 0},
        {"Font", QString("Arial"), kTypeMismatch, 0},
        {"BorderStyle", 5, RuntimeError::InvalidPropertyValue, 0},
        {"BorderStyle", 70000, RuntimeError::Overflow, 0},
        {"Style", QString("вниз"), kTypeMismatch, 7},
        {"Percent", 40000, RuntimeError::Overflow, 7},
    };
    for (const auto& c : cases) {
        CoolBar bar;
        const PropertyBag bag = BagOf({c.key, c.stored, "Value", 7});
        EXPECT_EQ(ErrorNumberOf([&] { bar.ReadProperties(bag); }), c.error) << c.key;
        EXPECT_EQ(bar.Value(), c.value) << c.key;
    }
    // A loaded Style that does not fit 32 bits loads, fails when read and draws nothing.
    CoolBar bar;
    bar.ReadProperties(BagOf({"Style", 1e12}));
    EXPECT_EQ(ErrorNumberOf([&] { bar.Style(); }), RuntimeError::Overflow);
    bar.setMax(100);
    EXPECT_NO_THROW(bar.setValue(50));
}

TEST(CoolBarEvents, FromTheControls) {
    CoolBar bar;
    bar.resize(370, 25);
    bar.setBorderStyle(1);
    bar.setCaption("Загрузка");
    QStringList seen;
    for (const auto& [signal, name] : {std::pair{&CoolBar::MouseDown, "down"},
                                       {&CoolBar::MouseUp, "up"},
                                       {&CoolBar::MouseMove, "move"}})
        QObject::connect(&bar, signal, [&seen, name](qint16& b, qint16& s, float& x, float& y) {
            seen << QString("%1 %2 %3 %4 %5").arg(name).arg(b).arg(s).arg(x).arg(y);
        });
    QObject::connect(&bar, &CoolBar::Click, [&] { seen << "click"; });
    QObject::connect(&bar, &CoolBar::DblClick, [&] { seen << "dblclick"; });
    QObject::connect(&bar, &CoolBar::KeyPress, [&](qint16& a) { seen << QString::number(a); });
    for (const auto& [signal, name] :
         {std::pair{&CoolBar::KeyDown, "keydown"}, {&CoolBar::KeyUp, "keyup"}})
        QObject::connect(&bar, signal, [&seen, name](qint16& k, qint16& s) {
            seen << QString("%1 %2 %3").arg(name).arg(k).arg(s);
        });

    // The surface reports twips from its inner area, past the 2-pixel border;
    // the label reports its own coordinates.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(12, 7));
    QTest::mouseClick(bar.CaptionLabel(), Qt::RightButton, Qt::ControlModifier, QPoint(1, 2));
    // A double click: the second release raises no Click.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(12, 7));
    QTest::mouseDClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(12, 7));
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(12, 7));
    QTest::keyClick(&bar, 'a', Qt::NoModifier);
    // A release outside the label but inside the surface still clicks.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
    // Moves report the buttons held, on the surface and on the label; the
    // surface reports moves with no button held too.
    EXPECT_TRUE(bar.hasMouseTracking());
    for (QWidget* piece : std::initializer_list<QWidget*>{&bar, bar.CaptionLabel()}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 9), piece->mapToGlobal(QPointF(20, 9)),
                         Qt::NoButton, Qt::RightButton, Qt::AltModifier);
        QApplication::sendEvent(piece, &move);
    }
    EXPECT_EQ(seen, (QStringList{"down 1 1 150 75", "up 1 1 150 75", "click", "down 2 2 15 30",
                                 "up 2 2 15 30", "click", "down 1 0 150 75", "up 1 0 150 75",
                                 "click", "dblclick", "up 1 0 150 75", "keydown 65 0", "97",
                                 "keyup 65 0", "down 1 0 4470 270", "up 1 0 4470 270", "click",
                                 "move 2 4 270 105", "move 2 4 300 135"}));
}

// The caption is drawn centred over the bar, in CaptionColor (a system colour
// follows the palette), in the caption's font, and lets the bar show around
// its letters.
TEST(CoolBarDrawing, CaptionPixels) {
    CoolBar bar;
    Plain(bar);
    bar.setFont(QFont(QStringLiteral("Sans Serif"), 8));
    bar.setCaption(QStringLiteral("Загрузка"));
    // Shown: a hidden widget gets its resize event again at each grab, which
    // would lay the caption out afresh and hide a missed layout.
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    const auto centredAt = [&](const Ink& ink, int x) {
        EXPECT_NEAR(ink.box.center().x(), x, 3);
        EXPECT_NEAR(ink.box.center().y(), 12, 4);
    };
    for (const auto& [color, hue] :
         {std::pair{0x000000FFu, 'r'}, {0x0000C000u, 'g'}, {0x00FF0000u, 'b'}}) {
        SCOPED_TRACE(hue);
        bar.setCaptionColor(color);
        const Ink ink = Letters(bar);
        ASSERT_FALSE(ink.box.isEmpty());
        EXPECT_EQ(Hue(ink.strongest), hue);
        EXPECT_TRUE(bar.CaptionLabel()->geometry().contains(ink.box));
        centredAt(ink, 185);
    }
    const Ink small = Letters(bar);

    // The default caption colour is the system's button text: it follows
    // the palette.
    bar.setCaptionColor(0x80000012u);
    QPalette palette = bar.palette();
    palette.setColor(QPalette::ButtonText, QColor(0, 160, 0));
    bar.setPalette(palette);
    EXPECT_EQ(Hue(Letters(bar).strongest), 'g');

    // A larger font makes larger letters, still centred.
    bar.setFont(QFont(QStringLiteral("Sans Serif"), 14));
    const Ink large = Letters(bar);
    EXPECT_GT(large.box.height(), small.box.height());
    EXPECT_GT(large.box.width(), small.box.width());
    centredAt(large, 185);
    // A longer caption is not cut to the last one's size; a resized
    // control centres it again.
    bar.setCaption(QStringLiteral("Загрузка архива"));
    const Ink longer = Letters(bar);
    EXPECT_GT(longer.box.width(), large.box.width());
    centredAt(longer, 185);
    for (const int width : {500, 370}) {
        bar.resize(width, 25);
        QCoreApplication::processEvents();
        centredAt(Letters(bar), width / 2);
    }

    // Over a full bar the label has no background of its own.
    bar.setMax(100);
    bar.setValue(100);
    const QRect label = bar.CaptionLabel()->geometry();
    const QImage image = bar.grab().toImage();
    EXPECT_EQ(std::tuple(image.pixelColor(label.topLeft()), image.pixelColor(label.bottomRight())),
              std::tuple(kBlue, kBlue));
    // The sunken border is drawn over the picture's edge.
    bar.setBorderStyle(1);
    const QColor corner = bar.grab().toImage().pixelColor(0, 0);
    EXPECT_NE(corner, kBlue);
    EXPECT_NE(corner, bar.palette().color(QPalette::Window));

    bar.setBorderStyle(0);
    bar.setCaption(QString());
    bar.setValue(0);
    EXPECT_TRUE(Letters(bar).box.isEmpty());
}

// Key codes at the edges of each range, and keys without a code.
TEST(CoolBarEvents, KeyCodes) {
    CoolBar bar;
    QList<int> codes;
    QObject::connect(&bar, &CoolBar::KeyDown, [&](qint16& k, qint16&) { codes << k; });
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Z, Qt::Key_0, Qt::Key_9, Qt::Key_F1, Qt::Key_F24,
                        Qt::Key_F25, Qt::Key_Launch0})
        QTest::keyPress(&bar, key);
    EXPECT_EQ(codes, (QList<int>{65, 90, 48, 57, 0x70, 0x87, 0, 0}));
    // A new control has its design size; help texts are found by member.
    EXPECT_EQ(CoolBar().size(), QSize(73, 37));
    EXPECT_EQ(std::tuple(CoolBar::HelpText("MouseMove"), CoolBar::HelpText("Nothing")),
              std::tuple(QStringLiteral("Occurs when the user moves the mouse."), QString()));
}
