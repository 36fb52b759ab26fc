#include "archive/names.h"

#include <QStringDecoder>
#include <QStringEncoder>

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

QString NameKey(QStringView name) {
    // ASCII names, nearly all of them, fold one character at a time into one
    // allocation; Unicode's folding of ASCII is AsciiKey's.
    QString key(name.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(key.data());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i].unicode() >= 0x80) {
            key = name.toString().toCaseFolded();
            key.replace(u'/', u'\\');
            return key;
        }
        out[i] = AsciiKey(name[i].unicode());
    }
    return key;
}

QString FieldNameKey(QByteArrayView field) {
    const QByteArrayView bytes = NameBytes(field);
    if (!IsAscii(bytes)) return NameKey(DecodeName(bytes));
    QString key(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(key.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) out[i] = AsciiKey(char16_t(bytes[i]));
    return key;
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
