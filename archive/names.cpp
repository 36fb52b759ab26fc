#include "archive/names.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

namespace kbx {

namespace {
constexpr auto kCodePage = "windows-1251";

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}
}  // namespace

bool IsAscii(QByteArrayView bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

QByteArrayView NameBytes(QByteArrayView field) {
    if (field.isEmpty()) return field;  // an empty view may have no storage at all
    const void* nul = std::memchr(field.data(), '\0', size_t(field.size()));
    if (!nul) return field;
    return field.first(static_cast<const char*>(nul) - field.data());
}

QString DecodeName(QByteArrayView bytes) {
    // Pure ASCII needs no converter; this keeps large directories fast.
    if (IsAscii(bytes)) return QString::fromLatin1(bytes);
    QStringDecoder decoder(kCodePage);
    Q_ASSERT(decoder.isValid());
    return decoder.decode(bytes);
}

std::optional<QByteArray> EncodeName(QStringView name) {
    QStringEncoder encoder(kCodePage, QStringEncoder::Flag::Stateless);
    Q_ASSERT(encoder.isValid());
    QByteArray bytes = encoder.encode(name);
    if (encoder.hasError()) return std::nullopt;
    return bytes;
}

QStringList NameComponents(QStringView name) {
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i == name.size() || IsSeparator(name[i])) {
            parts.append(name.mid(start, i - start).toString());
            start = i + 1;
        }
    }
    return parts;
}

namespace {

// Makes room for `n` more characters at the end of `out`, which grows by
// doubling (a block of many keys is appended to key by key), and returns
// where they go.
char16_t* Extend(QString& out, qsizetype n) {
    const qsizetype at = out.size();
    if (out.capacity() < at + n) out.reserve(std::max(2 * out.capacity(), at + n));
    out.resize(at + n);
    return reinterpret_cast<char16_t*>(out.data()) + at;
}

}  // namespace

void AppendNameKey(QString& out, QStringView name) {
    // ASCII names, nearly all of them, fold one character at a time; Unicode's
    // folding of ASCII is AsciiKey's.
    const qsizetype at = out.size();
    char16_t* key = Extend(out, name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i].unicode() >= 0x80) {
            out.truncate(at);
            out += name.toString().toCaseFolded().replace(u'/', u'\\');
            return;
        }
        key[i] = AsciiKey(name[i].unicode());
    }
}

QString NameKey(QStringView name) {
    QString key;
    AppendNameKey(key, name);
    return key;
}

void AppendFieldNameKey(QString& out, QByteArrayView field) {
    const QByteArrayView bytes = NameBytes(field);
    if (!IsAscii(bytes)) return AppendNameKey(out, DecodeName(bytes));
    char16_t* key = Extend(out, bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) key[i] = AsciiKey(char16_t(bytes[i]));
}

QString TypedName(QStringView typed) {
    // A leading separator stays, so that an absolute path is still refused
    // as one rather than read as a name in the archive.
    QString name = !typed.isEmpty() && IsSeparator(typed[0]) ? QStringLiteral("\\") : QString();
    const qsizetype root = name.size();
    for (const QString& part : NameComponents(typed)) {
        if (part.isEmpty() || part == u".") continue;
        if (name.size() > root) name += u'\\';
        name += part;
    }
    return name;
}

bool IsReservedKey(QStringView key) {
    return key == u"version" || key == u"version\\data";
}

NameRule NameProblem(QStringView name, QString* part) {
    if (name.isEmpty()) return NameRule::Empty;
    if (IsSeparator(name[0])) return NameRule::Absolute;
    if (name.size() >= 2 && name[1] == u':' && name[0].isLetter()) return NameRule::DriveLetter;
    // One pass, no allocation: large directories are checked entry by entry.
    qsizetype start = 0;
    qsizetype bytes = 0;  // the component's length on disk, in UTF-8
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i < name.size() && IsControl(name[i].unicode())) return NameRule::ControlChar;
        if (i == name.size() || IsSeparator(name[i])) {
            const QStringView component = name.mid(start, i - start);
            if (component.isEmpty() || component == u"." || component == u"..") {
                if (part) *part = component.toString();
                return NameRule::BadComponent;
            }
            if (bytes > kMaxComponentBytes) {
                if (part) *part = component.toString();
                return NameRule::ComponentTooLong;
            }
            start = i + 1;
            bytes = 0;
        } else {
            const char16_t c = name[i].unicode();
            bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;  // names hold no surrogates
        }
    }
    return NameRule::None;
}

}  // namespace kbx
