#pragma once
// kbx's words for engine results. Every text goes through Qt's translation
// system (context "kbx"), so that it follows the user's locale.

#include <QString>

#include "archive/result.h"
#include "archive/verify.h"

namespace cli {

// The system's text for an errno value.
QString SystemReason(int error);

// Why a name is refused.
QString RuleText(const kbx::Failure& f);

// One failure as "subject: reason", for an error line.
QString FailureText(const kbx::Failure& f);

// The detail of a verify problem.
QString ProblemDetail(const kbx::Problem& p);

}  // namespace cli
