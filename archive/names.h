#pragma once
// Entry names: Windows-1251 text in a 128-byte field, "\" between folders.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

#include "archive/result.h"

namespace kbx {

// The name's bytes: up to the first NUL, or the whole field when it has none.
QByteArrayView NameBytes(QByteArrayView field);

// Windows-1251 bytes to text, whatever the machine's locale.
QString DecodeName(QByteArrayView bytes);

// The name held in a raw field, decoded.
inline QString FieldName(QByteArrayView field) {
    return DecodeName(NameBytes(field));
}

// Text to Windows-1251 bytes; nothing when a character has no encoding.
std::optional<QByteArray> EncodeName(QStringView name);

// The folders and file of a name; both "\" and "/" separate them.
QStringList NameComponents(QStringView name);

// Why a name must not be written beneath a target folder, or NameRule::None
// when it is safe: not empty, not absolute, no drive letter, no empty, "." or
// ".." component, no control character. `part` learns the offending
// component for NameRule::BadComponent.
NameRule NameProblem(QStringView name, QString* part = nullptr);

}  // namespace kbx
