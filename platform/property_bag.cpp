#include "platform/property_bag.h"

#include <QMetaType>

#include <cmath>
#include <optional>

#include "platform/runtime_error.h"

namespace {

[[noreturn]] void Mismatch() {
    throw RuntimeError(kTypeMismatch, "Type mismatch");
}

bool IsNumber(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Float:
        case QMetaType::Double:
            return true;
        default:
            return false;
    }
}

// The numeric value of a number, with true as -1.
double NumberOf(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? -1.0 : 0.0;
    return v.toDouble();
}

std::optional<double> ParseNumber(const QString& text) {
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok) return std::nullopt;
    return d;
}

// The number a stored value stands for; an empty value counts as 0.
double NumericValue(const QVariant& v) {
    if (!v.isValid()) return 0.0;
    if (IsNumber(v)) return NumberOf(v);
    if (v.typeId() == QMetaType::QString) {
        if (auto d = ParseNumber(v.toString())) return *d;
    }
    Mismatch();
}

// Rounds half to even and checks the range [lo, hi].
double WholeNumber(double d, double lo, double hi) {
    if (std::isnan(d)) throw RuntimeError(RuntimeError::Overflow);
    const double r = std::nearbyint(d);
    if (r < lo || r > hi) throw RuntimeError(RuntimeError::Overflow);
    return r;
}

}  // namespace

void PropertyBag::WriteProperty(const QString& key, const QVariant& value,
                                const QVariant& defaultValue) {
    const bool store = !defaultValue.isValid() || !SameValue(value, defaultValue);
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        if (entries_[i].first != key) continue;
        if (store) {
            entries_[i].second = value;
        } else {
            entries_.removeAt(i);
        }
        return;
    }
    if (store) entries_.append({key, value});
}

QVariant PropertyBag::ReadProperty(const QString& key, const QVariant& defaultValue) const {
    for (const auto& e : entries_) {
        if (e.first == key) return e.second;
    }
    return defaultValue;
}

bool PropertyBag::Contains(const QString& key) const {
    for (const auto& e : entries_) {
        if (e.first == key) return true;
    }
    return false;
}

QStringList PropertyBag::Keys() const {
    QStringList keys;
    for (const auto& e : entries_) keys.append(e.first);
    return keys;
}

bool PropertyBag::SameValue(const QVariant& a, const QVariant& b) {
    if (IsNumber(a) && IsNumber(b)) return NumberOf(a) == NumberOf(b);
    if (a.typeId() != b.typeId()) return false;
    return a == b;
}

double PropertyToDouble(const QVariant& value) {
    return NumericValue(value);
}

qint16 PropertyToInt16(const QVariant& value) {
    return static_cast<qint16>(WholeNumber(NumericValue(value), -32768.0, 32767.0));
}

qint32 PropertyToInt32(const QVariant& value) {
    return static_cast<qint32>(WholeNumber(NumericValue(value), -2147483648.0, 2147483647.0));
}

bool PropertyToBoolean(const QVariant& value) {
    if (value.typeId() == QMetaType::QString) {
        const QString t = value.toString().trimmed();
        if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
        if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    }
    const double d = NumericValue(value);
    if (std::isnan(d)) Mismatch();
    return d != 0.0;
}

QString PropertyToText(const QVariant& value) {
    if (!value.isValid()) return QString();
    if (value.typeId() == QMetaType::QString) return value.toString();
    if (value.typeId() == QMetaType::Bool) {
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    }
    if (IsNumber(value)) return value.toString();
    Mismatch();
}

quint32 PropertyToColor(const QVariant& value) {
    const double r = WholeNumber(NumericValue(value), -2147483648.0, 4294967295.0);
    return static_cast<quint32>(static_cast<qint64>(r));
}

QFont PropertyToFont(const QVariant& value) {
    if (value.typeId() != QMetaType::QFont) Mismatch();
    return value.value<QFont>();
}

QVariant PropertyToNumber(const QVariant& value) {
    if (!value.isValid()) return QVariant::fromValue<qint16>(0);
    if (IsNumber(value)) return value;
    if (value.typeId() == QMetaType::QString) {
        if (auto d = ParseNumber(value.toString())) return *d;
    }
    Mismatch();
}
