#include "cli/text.h"

#include <QTranslator>

#include <cstdlib>

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

words::Language Language() {
    return g_russian ? words::Language::Russian : words::Language::English;
}

QString ErrorText(int err) {
    return words::ErrnoText(err, Language());
}

}  // namespace cli
