#pragma once
// Byte layout of a KBX archive: a 20-byte header, a directory of 136-byte
// records, then the entries' bytes. Every integer is a little-endian signed
// 32-bit value; nothing is padded or aligned.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <array>
#include <cstdint>

#if defined(QUILLMERE_ENGINE) && (defined(QT_GUI_LIB) || defined(QT_WIDGETS_LIB))
#error "the archive engine links QtCore only"
#endif

namespace kbx {

inline constexpr std::array<char, 8> kSignature{'G', 'E', 'E', 'K', '\0', '\x01', '\0', '\0'};

// Header fields, by offset from the start of the file.
inline constexpr qint64 kSignatureOffset = 0;
inline constexpr qint64 kSignatureSize = 8;
inline constexpr qint64 kDirectoryEndOffset = 8;
inline constexpr qint64 kReservedOffset = 12;
inline constexpr qint64 kCountOffset = 16;
inline constexpr qint64 kFieldSize = 4;
inline constexpr qint64 kHeaderSize = 20;

// Directory record fields, by offset from the start of the record.
inline constexpr qint64 kRecordOffsetField = 0;
inline constexpr qint64 kRecordSizeField = 4;
inline constexpr qint64 kRecordNameField = 8;
inline constexpr qint64 kNameSize = 128;
inline constexpr qint64 kRecordSize = 136;

// Offsets and sizes are signed 32-bit, so no archive can describe more.
inline constexpr qint64 kMaxArchiveBytes = INT32_MAX;

static_assert(kSignatureOffset + kSignatureSize == kDirectoryEndOffset);
static_assert(kDirectoryEndOffset + kFieldSize == kReservedOffset);
static_assert(kReservedOffset + kFieldSize == kCountOffset);
static_assert(kCountOffset + kFieldSize == kHeaderSize);
static_assert(kRecordOffsetField + kFieldSize == kRecordSizeField);
static_assert(kRecordSizeField + kFieldSize == kRecordNameField);
static_assert(kRecordNameField + kNameSize == kRecordSize);
static_assert(kSignature.size() == kSignatureSize);

// Where the directory ends and the data area begins for `count` records.
constexpr qint64 DirectoryEnd(qint64 count) {
    return kHeaderSize + kRecordSize * count;
}

inline qint32 ReadLE32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<qint32>(std::uint32_t(u[0]) | std::uint32_t(u[1]) << 8 |
                               std::uint32_t(u[2]) << 16 | std::uint32_t(u[3]) << 24);
}

inline void WriteLE32(char* p, qint32 value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// True when `bytes` starts with the exact 8-byte signature.
bool HasSignature(QByteArrayView bytes);

// The 20-byte header for an archive of `count` entries, with `reserved` in
// its reserved field.
QByteArray HeaderBytes(qint32 count, qint32 reserved = 0);

// Appends one directory record; `name` is at most kNameSize bytes and is
// padded with NULs to the full field.
void AppendRecord(QByteArray& out, qint32 offset, qint32 size, QByteArrayView name);

}  // namespace kbx
