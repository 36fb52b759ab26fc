#pragma once
// Entry names: Windows-1251 text in a 128-byte field, "\" between folders.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

#include "archive/result.h"

namespace kbx {

// True for "\\" and "/", which both separate folders in a typed name.
inline bool IsSeparator(QChar c) {
    return c == u'\\' || c == u'/';
}

// True when every byte is below 0x80: such a name reads the same in every
// code page, and needs no converter.
bool IsAscii(QByteArrayView bytes);

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

// A name as the game's case-insensitive file system compares it: letter case
// folded, "/" read as "\". Two names with the same key are one file there.
QString NameKey(QStringView name);
// Appends NameKey(name) to `out` (which `name` must not view into).
void AppendNameKey(QString& out, QStringView name);
// Appends NameKey(FieldName(field)), the key of the name held in a raw
// field, to `out`, without decoding an ASCII name first.
void AppendFieldNameKey(QString& out, QByteArrayView field);
// What NameKey makes of one ASCII character, for loops that fold names
// without building strings.
constexpr char16_t AsciiKey(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c == u'/' ? u'\\' : c;
}

// A name as a user may type it, written as the archive writes names: "/" or
// "\" between folders, doubled separators and "." components dropped, so
// that "./Version//a.txt" is "Version\a.txt". ".." and a leading separator
// are kept for the name rules to refuse.
QString TypedName(QStringView typed);

// True for "Version" and "Version\Data" in any letter case: the folders
// every unpack makes, which no entry may be. The first takes a NameKey.
bool IsReservedKey(QStringView key);
inline bool IsReservedFolder(QStringView name) {
    return IsReservedKey(NameKey(name));
}

// A folder or file name on disk holds at most this many bytes (UTF-8).
inline constexpr qsizetype kMaxComponentBytes = 255;

// Why a name must not be written beneath a target folder, or NameRule::None
// when it is safe: not empty, not absolute, no drive letter, no empty, "." or
// ".." component, no control character, no component longer than a file name
// on disk may be. `part` learns the offending component for
// NameRule::BadComponent and NameRule::ComponentTooLong.
NameRule NameProblem(QStringView name, QString* part = nullptr);

}  // namespace kbx
