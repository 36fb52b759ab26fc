#include "cli/console.h"

#include <QList>

#include <unistd.h>
#include <cerrno>

namespace cli {

namespace {

bool NeedsEscape(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void AppendEscape(QString& out, char32_t c) {
    if (c < 0x80)
        out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QChar(u'0'));
    else
        out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QChar(u'0'));
}

void AppendCodePoint(QString& out, char32_t c) {
    if (NeedsEscape(c))
        AppendEscape(out, c);
    else
        out += QString::fromUcs4(&c, 1);
}

// Length of the valid UTF-8 sequence at the start of `s` and its code point;
// 0 when the bytes there are not valid UTF-8.
int DecodeUtf8(QByteArrayView s, char32_t* cp) {
    const auto b = [&](qsizetype i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int len = 0;
    char32_t v = 0;
    char32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2, v = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, v = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, v = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < len) return 0;
    for (int i = 1; i < len; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i) & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return len;
}

}  // namespace

QString Quote(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) AppendCodePoint(out, c);
    return out;
}

QString QuoteBytes(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    while (!bytes.isEmpty()) {
        char32_t c = 0;
        const int n = DecodeUtf8(bytes, &c);
        if (n == 0) {
            out += QStringLiteral("\\x%1").arg(uint(static_cast<unsigned char>(bytes[0])), 2, 16,
                                               QChar(u'0'));
            bytes = bytes.sliced(1);
        } else {
            AppendCodePoint(out, c);
            bytes = bytes.sliced(n);
        }
    }
    return out;
}

void Console::Out(QByteArrayView bytes) {
    if (outErrno_ != 0 || bytes.isEmpty()) return;
    if (shown_) EraseProgress();
    errno = 0;
    if (std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
        outErrno_ = errno != 0 ? errno : EIO;
}

void Console::Error(const QString& line) {
    EraseProgress();
    std::fflush(stdout);  // keeps the order of the two streams on one terminal
    const QByteArray bytes = (QStringLiteral("kbx: ") + line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

void Console::Verbose(const QString& line) {
    if (!verboseToStderr_) {
        Out(line + u'\n');
        return;
    }
    EraseProgress();
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

bool Console::Flush() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (outErrno_ == 0) outErrno_ = errno != 0 ? errno : EIO;
    }
    return outErrno_ == 0;
}

bool Console::ShowsProgress() {
    if (tty_ < 0) tty_ = ::isatty(STDERR_FILENO) == 1 ? 1 : 0;
    return tty_ == 1;
}

void Console::Progress(const QString& line) {
    if (!ShowsProgress()) return;
    if (lastDraw_.isValid() && lastDraw_.elapsed() < 100) return;
    lastDraw_.start();
    std::fflush(stdout);
    const QByteArray bytes = (QStringLiteral("\r\033[K") + line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    shown_ = true;
}

void Console::EraseProgress() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

Console& Io() {
    static Console console;
    return console;
}

}  // namespace cli
