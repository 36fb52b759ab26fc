#pragma once
// kbx's words: every sentence the tool prints is made here or passes through
// Kbx::tr, so that it follows the user's language.

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <climits>

#include "words/words.h"

namespace cli {

// The translation context of every kbx text.
class Kbx {
    Q_DECLARE_TR_FUNCTIONS(Kbx)
};

// Installs the Russian texts when the environment asks for Russian
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG, as gettext reads them); English
// otherwise, with its plural forms.
void LoadTranslation(QCoreApplication& app);

// True when the texts in use are Russian.
bool Russian();

// A count as Kbx::tr takes it to choose a plural form ("%n entries"). The
// counts kbx prints stay far below the limit: the format's own limits do.
inline int Plural(qint64 n) {
    return int(std::clamp<qint64>(n, 0, INT_MAX));
}

// The language of the texts in use, for the shared words.
words::Language Language();

// The text of an errno value in the user's language (see words::ErrnoText).
QString ErrorText(int err);

}  // namespace cli
