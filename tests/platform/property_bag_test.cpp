#include <gtest/gtest.h>
#include <QFont>

#include "platform/property_bag.h"
#include "platform/runtime_error.h"
#include "tests/support/error_number.h"

TEST(PropertyBag, DefaultsAreNotStored) {
    PropertyBag bag;
    bag.WriteProperty("Max", 0.0, 0);  // equal to the default, though typed differently
    bag.WriteProperty("Value", 5.0, 0);
    bag.WriteProperty("Style", 3);  // no default: always stored
    EXPECT_EQ(bag.Keys(), (QStringList{"Value", "Style"}));
    EXPECT_EQ(bag.ReadProperty("Max", 7).toInt(), 7);

    // Writing the default again drops the earlier value instead of leaving it stale.
    bag.WriteProperty("Value", 0.0, 0);
    EXPECT_FALSE(bag.Contains("Value"));
    EXPECT_EQ(bag.ReadProperty("Value", 1).toInt(), 1);
}

// Converts `stored`; with an `error`, the conversion must raise it instead.
template <typename T>
void Check(T (*convert)(const QVariant&), const QVariant& stored, const QVariant& expected,
           int error = -1) {
    SCOPED_TRACE(stored.toString().toStdString());
    QVariant converted;
    EXPECT_EQ(ErrorNumberOf([&] { converted = QVariant::fromValue(convert(stored)); }), error);
    EXPECT_EQ(converted, error < 0 ? expected : QVariant());  // nothing on an error
}

TEST(PropertyBag, Conversions) {
    const int kOverflow = RuntimeError::Overflow;
    Check(PropertyToInt16, 2.5, qint16(2));  // halves round to even
    Check(PropertyToInt16, -2.5, qint16(-2));
    Check(PropertyToInt16, 32767, qint16(32767));  // the bounds still fit
    Check(PropertyToInt16, -32768, qint16(-32768));
    Check(PropertyToInt16, 32768, {}, kOverflow);
    Check(PropertyToInt16, true, qint16(-1));
    Check(PropertyToInt16, QString(" 12 "), qint16(12));
    Check(PropertyToInt16, QString("abc"), {}, kTypeMismatch);
    Check(PropertyToInt32, 3e9, {}, kOverflow);
    Check(PropertyToDouble, QString("1e3"), 1000.0);
    Check(PropertyToDouble, QVariant(), 0.0);
    Check(PropertyToBoolean, QString("True"), true);
    Check(PropertyToBoolean, -1, true);
    Check(PropertyToBoolean, QString("yes"), {}, kTypeMismatch);
    Check(PropertyToColor, qint32(-2147483633), quint32(0x8000000Fu));  // a system colour, signed
    Check(PropertyToColor, 5e9, {}, kOverflow);
    Check(PropertyToText, 12, QString("12"));
    Check(PropertyToText, QFont(), {}, kTypeMismatch);
    Check(PropertyToFont, QString("Arial"), {}, kTypeMismatch);
}
