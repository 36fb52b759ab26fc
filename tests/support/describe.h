#pragma once
// A result as text for failure output: outcome, reasons, errnos, subjects.

#include <string>

#include "archive/result.h"

namespace testsupport {

inline std::string Describe(const kbx::Failure& f) {
    return "reason " + std::to_string(int(f.reason)) + " errno " + std::to_string(f.error) +
           " rule " + std::to_string(int(f.rule)) + " [" + f.subject.toStdString() + "]";
}

inline std::string Describe(const kbx::Result& r) {
    std::string text = "outcome " + std::to_string(int(r.outcome));
    if (r.outcome == kbx::Outcome::Unusable) text += ": " + Describe(r.failure);
    for (const kbx::Failure& f : r.failures) text += "; " + Describe(f);
    for (const kbx::Failure& f : r.warnings) text += "; warning " + Describe(f);
    return text;
}

}  // namespace testsupport
