#pragma once
// kbx's words for engine results, in the user's language: the shared words
// (words/) for reasons and name rules, Qt's translation for the rest.

#include <QString>

#include "archive/result.h"
#include "archive/verify.h"

namespace cli {

// What went wrong, without the file or entry concerned; the caller names it.
QString ReasonText(const kbx::Failure& f);

// The detail of a verify problem.
QString ProblemDetail(const kbx::Problem& p);

}  // namespace cli
