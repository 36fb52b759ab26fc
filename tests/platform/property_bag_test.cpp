#include <gtest/gtest.h>
#include <QFont>

#include <functional>

#include "platform/property_bag.h"
#include "platform/runtime_error.h"

TEST(PropertyBag, DefaultsAreNotStored) {
    PropertyBag bag;
    bag.WriteProperty("Max", 0.0, 0);  // equal to the default, though typed differently
    bag.WriteProperty("Caption", "Caption", "Caption");
    bag.WriteProperty("Value", 5.0, 0);
    bag.WriteProperty("Style", 3);  // no default: always stored
    EXPECT_EQ(bag.Keys(), (QStringList{"Value", "Style"}));
    EXPECT_EQ(bag.ReadProperty("Max", 7).toInt(), 7);
    EXPECT_EQ(bag.ReadProperty("Value", 0).toDouble(), 5.0);

    // Writing the default again drops the earlier value instead of leaving it stale.
    bag.WriteProperty("Value", 0.0, 0);
    EXPECT_FALSE(bag.Contains("Value"));
    EXPECT_EQ(bag.ReadProperty("Value", 1).toInt(), 1);
}

TEST(PropertyBag, Conversions) {
    enum Target { Int16, Int32, Double, Boolean, Color, Text, Font };
    const struct {
        QVariant stored;
        Target target;
        QVariant expected;  // invalid: the conversion throws `error`
        int error;
    } cases[] = {
        {2.5, Int16, qint16(2), 0},  // halves round to even
        {3.5, Int16, qint16(4), 0},
        {-32768, Int16, qint16(-32768), 0},
        {32768, Int16, {}, RuntimeError::Overflow},
        {true, Int16, qint16(-1), 0},
        {QString(" 12 "), Int16, qint16(12), 0},
        {QString("abc"), Int16, {}, kTypeMismatch},
        {QFont(), Int16, {}, kTypeMismatch},
        {3e9, Int32, {}, RuntimeError::Overflow},
        {QString("1e3"), Double, 1000.0, 0},
        {QVariant(), Double, 0.0, 0},
        {QString("True"), Boolean, true, 0},
        {0, Boolean, false, 0},
        {-1, Boolean, true, 0},
        {QString("yes"), Boolean, {}, kTypeMismatch},
        {qint32(-2147483633), Color, quint32(0x8000000Fu), 0},  // a system colour stored signed
        {quint32(0x00FF0000u), Color, quint32(0x00FF0000u), 0},
        {5e9, Color, {}, RuntimeError::Overflow},
        {12, Text, QString("12"), 0},
        {QFont(), Text, {}, kTypeMismatch},
        {QString("Arial"), Font, {}, kTypeMismatch},
    };
    const std::function<QVariant(const QVariant&)> convert[] = {
        [](const QVariant& v) { return QVariant::fromValue(PropertyToInt16(v)); },
        [](const QVariant& v) { return QVariant::fromValue(PropertyToInt32(v)); },
        [](const QVariant& v) { return QVariant(PropertyToDouble(v)); },
        [](const QVariant& v) { return QVariant(PropertyToBoolean(v)); },
        [](const QVariant& v) { return QVariant::fromValue(PropertyToColor(v)); },
        [](const QVariant& v) { return QVariant(PropertyToText(v)); },
        [](const QVariant& v) { return QVariant(PropertyToFont(v)); },
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row++);
        if (c.expected.isValid()) {
            EXPECT_EQ(convert[c.target](c.stored), c.expected);
        } else {
            try {
                convert[c.target](c.stored);
                ADD_FAILURE() << "no error";
            } catch (const RuntimeError& e) {
                EXPECT_EQ(e.number(), c.error);
            }
        }
    }
}
