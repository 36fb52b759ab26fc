#include "cli/text.h"

#include <QTranslator>

#include <locale.h>
#include <string.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cli {

namespace {

bool g_russian = false;

QByteArray Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? QByteArray(v) : QByteArray();
}

// The language part of a locale name: "ru" of "ru_RU.UTF-8@x".
QByteArray Language(const QByteArray& locale) {
    qsizetype end = 0;
    while (end < locale.size() && locale[end] != '_' && locale[end] != '.' && locale[end] != '@')
        ++end;
    return locale.left(end);
}

// Russian when the first language the user asks for that kbx has is Russian.
// As with gettext, LANGUAGE counts only when a locale other than C is set.
bool WantsRussian() {
    QByteArray locale = Env("LC_ALL");
    if (locale.isEmpty()) locale = Env("LC_MESSAGES");
    if (locale.isEmpty()) locale = Env("LANG");
    if (locale.isEmpty() || locale == "C" || locale == "POSIX" || locale.startsWith("C."))
        return false;
    QList<QByteArray> wanted = Env("LANGUAGE").split(':');
    wanted.append(locale);
    for (const QByteArray& w : wanted) {
        const QByteArray lang = Language(w);
        if (lang == "ru") return true;
        if (lang == "en") return false;
    }
    return false;
}

// The errno values a user meets, with the C library's English texts; the
// Russian ones come from the translation.
struct ErrnoText {
    int err;
    const char* text;
};
const ErrnoText kErrnoTexts[] = {
    {ENOENT, QT_TRANSLATE_NOOP("Kbx", "No such file or directory")},
    {EACCES, QT_TRANSLATE_NOOP("Kbx", "Permission denied")},
    {EPERM, QT_TRANSLATE_NOOP("Kbx", "Operation not permitted")},
    {ENOSPC, QT_TRANSLATE_NOOP("Kbx", "No space left on device")},
    {EDQUOT, QT_TRANSLATE_NOOP("Kbx", "Disk quota exceeded")},
    {EROFS, QT_TRANSLATE_NOOP("Kbx", "Read-only file system")},
    {EEXIST, QT_TRANSLATE_NOOP("Kbx", "File exists")},
    {EISDIR, QT_TRANSLATE_NOOP("Kbx", "Is a directory")},
    {ENOTDIR, QT_TRANSLATE_NOOP("Kbx", "Not a directory")},
    {ENAMETOOLONG, QT_TRANSLATE_NOOP("Kbx", "File name too long")},
    {ELOOP, QT_TRANSLATE_NOOP("Kbx", "Too many levels of symbolic links")},
    {EIO, QT_TRANSLATE_NOOP("Kbx", "Input/output error")},
    {EFBIG, QT_TRANSLATE_NOOP("Kbx", "File too large")},
    {EMFILE, QT_TRANSLATE_NOOP("Kbx", "Too many open files")},
    {ENFILE, QT_TRANSLATE_NOOP("Kbx", "Too many open files in system")},
    {EINVAL, QT_TRANSLATE_NOOP("Kbx", "Invalid argument")},
    {ENOTEMPTY, QT_TRANSLATE_NOOP("Kbx", "Directory not empty")},
    {EBUSY, QT_TRANSLATE_NOOP("Kbx", "Device or resource busy")},
    {ENOMEM, QT_TRANSLATE_NOOP("Kbx", "Cannot allocate memory")},
    {EPIPE, QT_TRANSLATE_NOOP("Kbx", "Broken pipe")},
    {EXDEV, QT_TRANSLATE_NOOP("Kbx", "Invalid cross-device link")},
    {ETXTBSY, QT_TRANSLATE_NOOP("Kbx", "Text file busy")},
    {ENXIO, QT_TRANSLATE_NOOP("Kbx", "No such device or address")},
    {ENODEV, QT_TRANSLATE_NOOP("Kbx", "No such device")},
    {EAGAIN, QT_TRANSLATE_NOOP("Kbx", "Resource temporarily unavailable")},
    {EOPNOTSUPP, QT_TRANSLATE_NOOP("Kbx", "Operation not supported")},
    {ESTALE, QT_TRANSLATE_NOOP("Kbx", "Stale file handle")},
    {ETIMEDOUT, QT_TRANSLATE_NOOP("Kbx", "Connection timed out")},
    {EOVERFLOW, QT_TRANSLATE_NOOP("Kbx", "Value too large for defined data type")},
};

}  // namespace

void LoadTranslation(QCoreApplication& app) {
    static QTranslator translator;
    if (WantsRussian() && translator.load(QStringLiteral(":/i18n/kbx_ru.qm"))) {
        app.installTranslator(&translator);
        g_russian = true;
        return;
    }
    // The English texts are the source's, but for their plural forms ("1
    // entry", "2 entries"), which only a translation can choose.
    if (translator.load(QStringLiteral(":/i18n/kbx_en.qm"))) app.installTranslator(&translator);
}

bool Russian() {
    return g_russian;
}

QString ErrorText(int err) {
    if (g_russian) {
        for (const ErrnoText& t : kErrnoTexts)
            if (t.err == err) return Kbx::tr(t.text);
        // Never the C library's English in a Russian sentence.
        return Kbx::tr("system error %1").arg(err);
    }
    // The C library's own English text: strerror would follow LANGUAGE.
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    return QString::fromLocal8Bit(c ? ::strerror_l(err, c) : std::strerror(err));
}

}  // namespace cli
