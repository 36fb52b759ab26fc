#pragma once
// The words for what the engine reports, in English and in Russian: every
// reason, errno value and name rule has its text here and nowhere else. The
// window (in Russian) and kbx (in the user's language) build their sentences
// from these clauses.

#include <QString>

#include "archive/result.h"

namespace words {

enum class Language { English, Russian };

// The text of an errno value: the C library's own English, or Russian from
// our table ("системная ошибка N" for a value it lacks: never English in a
// Russian sentence).
QString ErrnoText(int err, Language language);

// Why a name is refused; `detail` is the offending part as the caller shows
// it (kbx quotes it for a terminal).
QString RuleText(kbx::NameRule rule, const QString& detail, Language language);

// What went wrong, without the file or entry concerned; the caller names it.
// `detail` as for RuleText.
QString ReasonText(const kbx::Failure& f, const QString& detail, Language language);

// `text` with its first letter in upper case, to open a sentence.
QString Capitalized(const QString& text);

}  // namespace words
