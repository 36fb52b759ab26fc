#pragma once
// A result as text for failure output: outcome, reasons, errnos, subjects;
// and failures compared whole, so that one check covers every field.

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "archive/result.h"

namespace testsupport {

inline std::string Describe(const kbx::Failure& f) {
    return "reason " + std::to_string(int(f.reason)) + " errno " + std::to_string(f.error) +
           " rule " + std::to_string(int(f.rule)) + " index " + std::to_string(f.index) + " [" +
           f.subject.toStdString() + "] [" + f.detail.toStdString() + "] count " +
           std::to_string(f.count);
}

inline std::string Describe(const kbx::Result& r) {
    std::string text = "outcome " + std::to_string(int(r.outcome));
    if (r.outcome == kbx::Outcome::Unusable) text += ": " + Describe(r.failure);
    for (const kbx::Failure& f : r.failures) text += "; " + Describe(f);
    for (const kbx::Failure& f : r.warnings) text += "; warning " + Describe(f);
    return text;
}

using Failures = std::vector<kbx::Failure>;

}  // namespace testsupport

namespace kbx {

// Found by argument-dependent lookup in the tests' comparisons.
inline bool operator==(const Failure& a, const Failure& b) {
    return std::tie(a.reason, a.error, a.rule, a.index, a.subject, a.detail, a.count) ==
           std::tie(b.reason, b.error, b.rule, b.index, b.subject, b.detail, b.count);
}
inline void PrintTo(const Failure& f, std::ostream* os) {
    *os << testsupport::Describe(f);
}

}  // namespace kbx
