#pragma once
// kbx's words for engine results. Every text goes through Qt's translation
// system, so that it follows the user's locale.

#include <QString>

#include "archive/result.h"
#include "archive/verify.h"

namespace cli {

// Why a name is refused.
QString RuleText(const kbx::Failure& f);

// What went wrong, without the file or entry concerned; the caller names it.
QString ReasonText(const kbx::Failure& f);

// The detail of a verify problem.
QString ProblemDetail(const kbx::Problem& p);

}  // namespace cli
