#pragma once
// The store a host keeps a control's design-time properties in. A value equal
// to its default is never stored, and a key that is absent reads back as the
// default the reader gives, so a bag holds only what differs from a fresh
// control.

#include <QFont>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

class PropertyBag {
  public:
    // Stores `value` under `key` unless it equals `defaultValue`; an omitted
    // (invalid) default means the value is always stored. A value equal to the
    // default also removes an earlier entry, so that reading the key yields the
    // default and not a stale value.
    void WriteProperty(const QString& key, const QVariant& value,
                       const QVariant& defaultValue = QVariant());

    // The stored value, or `defaultValue` when nothing is stored under `key`.
    QVariant ReadProperty(const QString& key, const QVariant& defaultValue = QVariant()) const;

    bool Contains(const QString& key) const;
    // Stored keys in the order they were first written.
    QStringList Keys() const;
    void Clear() { entries_.clear(); }

    // Two values count as equal when both are numbers of the same value,
    // whatever their types, or when they are the same value of the same type.
    static bool SameValue(const QVariant& a, const QVariant& b);

  private:
    QList<QPair<QString, QVariant>> entries_;
};

// Conversions a reader applies to a stored value on its way to a property.
// A value of the wrong kind throws RuntimeError kTypeMismatch; a number outside
// the target's range throws RuntimeError::Overflow. Whole-number targets round
// halves to even. Booleans count as -1 (true) and 0; text must hold a number,
// or "True"/"False" for a Boolean.
inline constexpr int kTypeMismatch = 13;

double PropertyToDouble(const QVariant& value);
qint16 PropertyToInt16(const QVariant& value);
qint32 PropertyToInt32(const QVariant& value);
bool PropertyToBoolean(const QVariant& value);
QString PropertyToText(const QVariant& value);
// A colour value: any 32-bit pattern, given signed or unsigned.
quint32 PropertyToColor(const QVariant& value);
QFont PropertyToFont(const QVariant& value);
// A number kept with the type it was stored with; text holding a number
// becomes a double.
QVariant PropertyToNumber(const QVariant& value);
