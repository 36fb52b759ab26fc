#include <gtest/gtest.h>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>

#include "platform/property_bag.h"
#include "platform/runtime_error.h"
#include "widgets/progress/cool_bar.h"

// Readable failure messages for lists of texts.
void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

constexpr quint32 kWhite = 0x00FFFFFFu;
const QColor kBlueBar(0, 0, 255);
const QColor kRedBar(255, 0, 0);

// The main window's bar: 5550 x 375 twips, no caption, white background.
void MakeWideBar(CoolBar& bar, qint32 border = 0) {
    bar.resize(370, 25);
    bar.setBorderStyle(border);
    bar.setBackColor(kWhite);
    bar.setCaption(QString());
}

// The bounding box of the pixels painted in `color`, and whether every pixel
// inside it has that colour.
struct Fill {
    QRect box;
    bool solid;
};

Fill FindFill(const QImage& image, const QColor& color) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == color) box |= QRect(x, y, 1, 1);
        }
    }
    bool solid = true;
    for (int y = box.top(); y <= box.bottom() && !box.isEmpty(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) solid &= image.pixelColor(x, y) == color;
    }
    return {box, solid};
}

QImage Shot(CoolBar& bar) {
    return bar.grab().toImage();
}

int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return -1;
}

}  // namespace

TEST(CoolBarDrawing, FilledRegions) {
    const struct {
        qint32 style;
        double max, value;
        QRect expected;  // in pixels of the 370 x 25 control; empty: nothing drawn
    } cases[] = {
        {0, 100, 50, QRect(0, 0, 185, 25)},  // to 2775 twips: half the width
        {0, 100, 100, QRect(0, 0, 370, 25)},
        {1, 100, 25, QRect(278, 0, 92, 25)},  // from 4162.5 twips
        {2, 100, 40, QRect(0, 0, 370, 10)},
        {3, 100, 25, QRect(0, 19, 370, 6)},  // from 281.25 twips: the bottom quarter
        {4, 100, 50, QRect(0, 0, 185, 13)},  // the top-left quarter
        {5, 100, 50, QRect(0, 13, 185, 12)},
        {6, 100, 50, QRect(185, 0, 185, 13)},
        {7, 100, 50, QRect(185, 13, 185, 12)},
        {0, 100, 150, QRect(0, 0, 370, 25)},  // beyond Max: clipped, full
        {1, 100, 150, QRect(0, 0, 370, 25)},
        {0, 100, -10, QRect()},
        {0, 0, 50, QRect()},  // Max 0: zero width
        {0, -5, 50, QRect()},
        {0, std::nan(""), 50, QRect()},
        {8, 100, 50, QRect()},
        {-1, 100, 50, QRect()},
        {0, 1e-306, 50, QRect()},     // the scale overflows and counts as 0
        {0, 1e-300, 50, QRect()},     // the coordinate does not fit single precision
        {1, 100, -1.7e308, QRect()},  // Max - Value overflows
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "style " << c.style << " max " << c.max << " value " << c.value);
        CoolBar bar;
        MakeWideBar(bar);
        bar.setMax(c.max);
        bar.setStyle(c.style);
        bar.setValue(100);  // an earlier picture that the next Value must clear
        QSignalSpy changed(&bar, &CoolBar::PropertyChanged);
        EXPECT_NO_THROW(bar.setValue(c.value));
        EXPECT_EQ(bar.Value(), c.value == c.value ? c.value : bar.Value());
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed[0][0].toString(), "Value");
        const Fill fill = FindFill(Shot(bar), kBlueBar);
        EXPECT_EQ(fill.box, c.expected);
        EXPECT_TRUE(fill.solid);
    }
}

TEST(CoolBarDrawing, CornersInTwips) {
    const struct {
        qint32 style;
        double value;
        CoolBar::Corners expected;
    } cases[] = {
        {0, 50, {0, 0, 2775, 375}},
        {1, 25, {5550, 0, 4162.5f, 375}},
        {3, 25, {5550, 375, 0, 281.25f}},
        {7, 100, {5550, 375, 0, 0}},
    };
    for (const auto& c : cases) {
        const auto got = CoolBar::BarCorners(c.style, c.value, 100, 5550, 375);
        ASSERT_TRUE(got.has_value()) << c.style;
        EXPECT_EQ(got->x1, c.expected.x1);
        EXPECT_EQ(got->y1, c.expected.y1);
        EXPECT_EQ(got->x2, c.expected.x2);
        EXPECT_EQ(got->y2, c.expected.y2);
    }
}

TEST(CoolBarDrawing, OnlyValueChangesThePicture) {
    CoolBar bar;
    MakeWideBar(bar);
    bar.setMax(100);
    bar.setValue(50);
    bar.setBarColor(0x000000FFu);  // red
    bar.setMax(200);
    bar.setStyle(1);
    EXPECT_EQ(FindFill(Shot(bar), kBlueBar).box, QRect(0, 0, 185, 25));
    bar.resize(740, 25);
    EXPECT_EQ(FindFill(Shot(bar), kBlueBar).box, QRect(0, 0, 185, 25));
    bar.setValue(100);  // now red, style 1, Max 200, on the wider control
    EXPECT_TRUE(FindFill(Shot(bar), kBlueBar).box.isEmpty());
    EXPECT_EQ(FindFill(Shot(bar), kRedBar).box, QRect(370, 0, 370, 25));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

TEST(CoolBarDrawing, EveryValueRepaintsTheScreen) {
    CoolBar bar;
    MakeWideBar(bar);
    bar.setMax(100);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    PaintCounter paints;
    bar.installEventFilter(&paints);
    for (qint32 style : {0, 8}) {  // a drawn bar, then one that only clears
        bar.setStyle(style);
        const int before = paints.count;
        bar.setValue(50);
        QCoreApplication::processEvents();
        EXPECT_GT(paints.count, before) << style;
    }
}

TEST(CoolBarDrawing, BorderClipsToTheInnerArea) {
    CoolBar bar;
    MakeWideBar(bar, 1);
    bar.setMax(100);
    bar.setValue(100);
    // The scales use the outer size, the picture starts inside the border.
    EXPECT_EQ(FindFill(Shot(bar), kBlueBar).box, QRect(2, 2, 366, 21));
    bar.setValue(50);
    EXPECT_EQ(FindFill(Shot(bar), kBlueBar).box, QRect(2, 2, 185, 21));
}

TEST(CoolBarPercent, Read) {
    const struct {
        double max, value;
        int expected;  // -1000: the overflow error
    } cases[] = {
        {7, 7, 99},  // 7 / 0.07 falls just below 100
        {9, 9, 100},     {100, 29, 29},   {100, 99.9, 99},    {100, -0.5, -1}, {0, 0, 100},
        {0, 12345, 100}, {-100, 50, -50}, {1, 327.67, 32767}, {1, 400, -1000}, {1, -400, -1000},
    };
    for (const auto& c : cases) {
        CoolBar bar;
        bar.setMax(c.max);
        bar.setValue(c.value);
        if (c.expected == -1000) {
            EXPECT_EQ(ErrorOf([&] { bar.Percent(); }), RuntimeError::Overflow) << c.value;
        } else {
            EXPECT_EQ(bar.Percent(), c.expected) << c.max << " " << c.value;
        }
    }
}

TEST(CoolBarPercent, Write) {
    const struct {
        double max;
        qint16 p;
        double value;
        int stored;  // what saving keeps under "Percent"
    } cases[] = {{200, 150, 200, 100}, {50, -10, -5, -10}, {100, 0, 0, 0}, {0, 60, 0, 60}};
    for (const auto& c : cases) {
        CoolBar bar;
        bar.setMax(c.max);
        QSignalSpy changed(&bar, &CoolBar::PropertyChanged);
        bar.setPercent(c.p);
        EXPECT_EQ(bar.Value(), c.value);
        ASSERT_EQ(changed.count(), 2);
        EXPECT_EQ(changed[0][0].toString(), "Value");
        EXPECT_EQ(changed[1][0].toString(), "Percent");
        bar.setValue(c.value + 1);  // the kept percentage does not follow Value
        PropertyBag bag;
        bar.WriteProperties(bag);
        EXPECT_EQ(bag.ReadProperty("Percent", 0).toInt(), c.stored);
    }
}

TEST(CoolBarProperties, BorderStyleRejectsOtherValues) {
    const struct {
        qint32 value;
        int error;  // -1: accepted
    } cases[] = {{1, -1},
                 {0, -1},
                 {2, RuntimeError::InvalidPropertyValue},
                 {-1, RuntimeError::InvalidPropertyValue},
                 {32768, RuntimeError::Overflow},
                 {-32769, RuntimeError::Overflow}};
    CoolBar bar;
    for (const auto& c : cases) {
        const qint32 before = bar.BorderStyle();
        QSignalSpy changed(&bar, &CoolBar::PropertyChanged);
        EXPECT_EQ(ErrorOf([&] { bar.setBorderStyle(c.value); }), c.error) << c.value;
        EXPECT_EQ(bar.BorderStyle(), c.error == -1 ? c.value : before);
        EXPECT_EQ(changed.count(), c.error == -1 ? 1 : 0);
    }
}

TEST(CoolBarProperties, CaptionLayout) {
    const struct {
        float w, h, lw, lh, left, top;
    } cases[] = {{1095, 555, 540, 195, 277.5f, 160},
                 {5550, 375, 0, 195, 2775, 70},
                 {300, 100, 540, 195, -120, -67.5f}};
    for (const auto& c : cases) {
        EXPECT_EQ(CoolBar::CaptionPosition(c.w, c.h, c.lw, c.lh), QPointF(c.left, c.top));
    }
    // The label is placed in the inner area: a border moves it with the area.
    CoolBar bar;
    bar.resize(370, 25);
    bar.setCaption("Загрузка");
    const QPoint plain = bar.CaptionLabel()->pos();
    bar.setBorderStyle(1);
    EXPECT_EQ(bar.CaptionLabel()->pos(), plain + QPoint(2, 2));
    EXPECT_EQ(bar.CaptionLabel()->text(), "Загрузка");
    bar.setCaption(QString());
    EXPECT_EQ(bar.CaptionLabel()->text(), QString());
}

TEST(CoolBarPersistence, RoundTripOmitsDefaults) {
    CoolBar fresh;
    PropertyBag empty;
    fresh.WriteProperties(empty);
    EXPECT_TRUE(empty.Keys().isEmpty()) << empty.Keys().join(",").toStdString();

    CoolBar bar;
    QFont font("Sans Serif", 11);
    font.setBold(true);
    bar.setFont(font);
    bar.setBorderStyle(1);
    bar.setCaption("Чтение");
    bar.setMax(60);
    bar.setValue(30);
    bar.setStyle(5);
    bar.setBarColor(0x0000FF00u);
    bar.setPercent(20);
    bar.setEnabled(false);
    PropertyBag bag;
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.Keys(), (QStringList{"Enabled", "Font", "BorderStyle", "Caption", "Max", "Value",
                                       "Style", "BarColor", "Percent"}));

    CoolBar loaded;
    loaded.ReadProperties(bag);
    PropertyBag again;
    loaded.WriteProperties(again);
    for (const QString& key : bag.Keys()) {
        EXPECT_TRUE(PropertyBag::SameValue(again.ReadProperty(key), bag.ReadProperty(key)))
            << key.toStdString();
    }
    EXPECT_EQ(again.Keys(), bag.Keys());
    EXPECT_EQ(loaded.Value(), 12);  // Max 60 x 20%: the stored percent did not move it
    EXPECT_EQ(loaded.Style(), 5);
    EXPECT_FALSE(loaded.Enabled());
    EXPECT_TRUE(loaded.Font().bold());
}

TEST(CoolBarPersistence, LoadedCaptionAndPictureWaitForAssignment) {
    PropertyBag bag;
    bag.WriteProperty("BackColor", kWhite);
    bag.WriteProperty("Caption", "Загрузка");
    bag.WriteProperty("Max", 100);
    bag.WriteProperty("Value", 50);
    bag.WriteProperty("Percent", 80);
    CoolBar bar;
    bar.resize(370, 25);
    QSignalSpy changed(&bar, &CoolBar::PropertyChanged);
    bar.ReadProperties(bag);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(bar.Caption(), "Загрузка");
    EXPECT_EQ(bar.CaptionLabel()->text(), "Caption");
    EXPECT_EQ(bar.Value(), 50);  // not moved by the stored 80 %
    EXPECT_TRUE(FindFill(Shot(bar), kBlueBar).box.isEmpty());
    bar.setCaption(QString());
    EXPECT_EQ(bar.CaptionLabel()->text(), QString());
    bar.setValue(bar.Value());
    EXPECT_EQ(FindFill(Shot(bar), kBlueBar).box, QRect(0, 0, 185, 25));
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
        PropertyBag bag;
        bag.WriteProperty(c.key, c.stored);
        bag.WriteProperty("Value", 7);
        CoolBar bar;
        EXPECT_EQ(ErrorOf([&] { bar.ReadProperties(bag); }), c.error) << c.key;
        EXPECT_EQ(bar.Value(), c.value) << c.key;
    }
}

TEST(CoolBarPersistence, LoadedStyleKeepsItsType) {
    PropertyBag bag;
    bag.WriteProperty("Style", 2.5);  // reads as 2: halves round to even
    CoolBar bar;
    bar.ReadProperties(bag);
    EXPECT_EQ(bar.Style(), 2);
    PropertyBag saved;
    bar.WriteProperties(saved);
    EXPECT_EQ(saved.ReadProperty("Style").typeId(), QMetaType::Double);

    bag.WriteProperty("Style", 1e12);  // loads, but cannot be read as 32 bits
    bar.ReadProperties(bag);
    EXPECT_EQ(ErrorOf([&] { bar.Style(); }), RuntimeError::Overflow);
    bar.setMax(100);
    EXPECT_NO_THROW(bar.setValue(50));  // and draws nothing
}

TEST(CoolBarEvents, HandlerChangesAreSeenByTheRaiser) {
    CoolBar bar;
    QObject::connect(&bar, &CoolBar::KeyDown, [](qint16& code, qint16& shift) {
        code = 0;
        shift = 7;
    });
    QObject::connect(&bar, &CoolBar::MouseDown,
                     [](qint16& button, qint16&, float& x, float&) { button = 0, x = -1.5f; });
    qint16 code = 65, shift = 1, button = 1;
    float x = 30, y = 45;
    Q_EMIT bar.KeyDown(code, shift);
    Q_EMIT bar.MouseDown(button, shift, x, y);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shift, 7);
    EXPECT_EQ(button, 0);
    EXPECT_EQ(x, -1.5f);
}

TEST(CoolBarEvents, MouseAndKeysFromTheControls) {
    CoolBar bar;
    bar.resize(370, 25);
    bar.setBorderStyle(1);
    bar.setCaption("Загрузка");
    QStringList seen;
    auto mouse = [&](const char* name) {
        return [&seen, name](qint16& b, qint16& s, float& x, float& y) {
            seen << QString("%1 %2 %3 %4 %5").arg(name).arg(b).arg(s).arg(x).arg(y);
        };
    };
    QObject::connect(&bar, &CoolBar::MouseDown, mouse("down"));
    QObject::connect(&bar, &CoolBar::MouseUp, mouse("up"));
    QObject::connect(&bar, &CoolBar::Click, [&] { seen << "click"; });
    QObject::connect(&bar, &CoolBar::DblClick, [&] { seen << "dblclick"; });
    QObject::connect(&bar, &CoolBar::KeyDown,
                     [&](qint16& k, qint16& s) { seen << QString("keydown %1 %2").arg(k).arg(s); });
    QObject::connect(&bar, &CoolBar::KeyPress,
                     [&](qint16& a) { seen << QString("keypress %1").arg(a); });
    QObject::connect(&bar, &CoolBar::KeyUp,
                     [&](qint16& k, qint16& s) { seen << QString("keyup %1 %2").arg(k).arg(s); });

    // The surface reports twips from its inner area, past the 2-pixel border.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(12, 7));
    // The label reports its own coordinates.
    QTest::mouseClick(bar.CaptionLabel(), Qt::RightButton, Qt::ControlModifier, QPoint(1, 2));
    // A double click: the second release raises no Click.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(12, 7));
    QTest::mouseDClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(12, 7));
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(12, 7));
    QTest::keyClick(&bar, 'a', Qt::NoModifier);
    EXPECT_EQ(seen, (QStringList{"down 1 1 150 75", "up 1 1 150 75", "click", "down 2 2 15 30",
                                 "up 2 2 15 30", "click", "down 1 0 150 75", "up 1 0 150 75",
                                 "click", "dblclick", "up 1 0 150 75", "keydown 65 0",
                                 "keypress 97", "keyup 65 0"}));
}

// Writes coolbar_styles.png (or $QUILLMERE_LOOK_PNG) with the eight styles at
// 60 %, to be looked at. $QUILLMERE_LOOK_SHOW_MS keeps the window on screen.
TEST(CoolBarLook, EightStyles) {
    QWidget window;
    window.setWindowTitle("CoolBar");
    auto* layout = new QVBoxLayout(&window);
    for (int style = 0; style < 8; ++style) {
        auto* bar = new CoolBar(&window);
        bar->setFixedSize(370, 25);
        bar->setBorderStyle(1);
        bar->setMax(100);
        bar->setStyle(style);
        bar->setBarColor(style % 2 ? 0x00C08000u : 0x00FF0000u);
        bar->setCaptionColor(0x00000000u);
        bar->setCaption(QString("Стиль %1").arg(style));
        bar->setValue(60);
        layout->addWidget(bar);
    }
    window.show();
    const int showMs = qEnvironmentVariableIntValue("QUILLMERE_LOOK_SHOW_MS");
    if (showMs > 0) QTest::qWait(showMs);
    const QString path = qEnvironmentVariableIsSet("QUILLMERE_LOOK_PNG")
                             ? qEnvironmentVariable("QUILLMERE_LOOK_PNG")
                             : QDir::current().filePath("coolbar_styles.png");
    ASSERT_TRUE(window.grab().save(path));
    const QImage image(path);
    EXPECT_FALSE(FindFill(image, kBlueBar).box.isEmpty());
}
