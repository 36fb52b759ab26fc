#include "archive/pattern.h"

#include <QHash>

#include "archive/names.h"

namespace kbx {

namespace {

// The non-empty components of `text`, case-folded: doubled, leading and
// trailing separators name no component.
std::vector<QString> Components(QStringView text) {
    std::vector<QString> parts;
    const QString folded = NameKey(text);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= folded.size(); ++i) {
        if (i == folded.size() || folded[i] == u'\\') {
            if (i > start) parts.push_back(folded.mid(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// Matches a bracket expression starting at p[at] == '[' against `c`. Returns
// the index after its ']', or -1 when it is unterminated (the '[' is then
// literal).
qsizetype MatchClass(QStringView p, qsizetype at, QChar c, bool* matched) {
    qsizetype i = at + 1;
    const bool negate = i < p.size() && (p[i] == u'!' || p[i] == u'^');
    if (negate) ++i;
    bool hit = false;
    bool first = true;
    for (; i < p.size(); ++i) {
        if (p[i] == u']' && !first) {
            *matched = hit != negate;
            return i + 1;
        }
        first = false;
        if (i + 2 < p.size() && p[i + 1] == u'-' && p[i + 2] != u']') {
            if (p[i] <= c && c <= p[i + 2]) hit = true;
            i += 2;
        } else if (p[i] == c) {
            hit = true;
        }
    }
    return -1;
}

// One component against one pattern component: '*' backtracks to the last
// star only, which keeps the match linear in practice.
bool MatchComponent(QStringView p, QStringView s) {
    qsizetype pi = 0, si = 0;
    qsizetype starP = -1, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == u'*') {
            starP = ++pi;
            starS = si;
            continue;
        }
        if (pi < p.size()) {
            if (p[pi] == u'?') {
                ++pi, ++si;
                continue;
            }
            if (p[pi] == u'[') {
                bool matched = false;
                const qsizetype next = MatchClass(p, pi, s[si], &matched);
                if (next >= 0 && matched) {
                    pi = next, ++si;
                    continue;
                }
                if (next < 0 && s[si] == u'[') {
                    ++pi, ++si;
                    continue;
                }
            } else if (p[pi] == s[si]) {
                ++pi, ++si;
                continue;
            }
        }
        if (starP < 0) return false;
        pi = starP;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == u'*') ++pi;
    return pi == p.size();
}

}  // namespace

NamePattern::NamePattern(QStringView pattern) : components_(Components(pattern)) {}

bool NamePattern::Matches(QStringView name) const {
    const std::vector<QString> parts = Components(name);
    const size_t P = components_.size();
    const size_t N = parts.size();
    if (P == 0 || N == 0) return false;
    // reach[i][j]: the first i pattern components can consume the first j
    // name components. Filled row by row: P * N steps, whatever the stars.
    std::vector<char> reach((P + 1) * (N + 1), 0);
    const auto at = [N](size_t i, size_t j) { return i * (N + 1) + j; };
    reach[at(0, 0)] = 1;
    for (size_t i = 0; i < P; ++i) {
        const bool deep = components_[i] == u"**";
        for (size_t j = 0; j <= N; ++j) {
            if (!reach[at(i, j)]) continue;
            if (deep) {
                // Zero or more whole components.
                for (size_t k = j; k <= N; ++k) reach[at(i + 1, k)] = 1;
                break;
            }
            if (j < N && MatchComponent(components_[i], parts[j])) reach[at(i + 1, j + 1)] = 1;
        }
    }
    // The whole name, or a folder that holds it.
    for (size_t j = 1; j <= N; ++j)
        if (reach[at(P, j)]) return true;
    return false;
}

std::vector<ArgumentMatch> MatchArguments(const Directory& dir,
                                          const std::vector<QString>& arguments) {
    std::vector<ArgumentMatch> matches(arguments.size());
    if (arguments.empty()) return matches;
    std::vector<QString> typed(arguments.size());
    QHash<QString, std::vector<size_t>> byKey;  // key -> the arguments with it
    for (size_t k = 0; k < arguments.size(); ++k) {
        typed[k] = TypedName(arguments[k]);
        byKey[NameKey(typed[k])].push_back(k);
    }
    const qint64 count = dir.Count();
    std::vector<std::vector<qint64>> sameCase(arguments.size());
    for (qint64 i = 0; i < count; ++i) {
        const QString name = dir.Name(i);
        const auto it = byKey.constFind(NameKey(name));
        if (it == byKey.cend()) continue;
        const QString written = QString(name).replace(u'/', u'\\');
        for (size_t k : *it) {
            matches[k].entries.push_back(i);
            if (written == typed[k]) sameCase[k].push_back(i);
        }
    }
    std::vector<std::pair<size_t, NamePattern>> patterns;
    for (size_t k = 0; k < arguments.size(); ++k) {
        ArgumentMatch& m = matches[k];
        m.byName = !m.entries.empty();
        if (!sameCase[k].empty()) m.entries = std::move(sameCase[k]);
        if (!m.byName) patterns.emplace_back(k, NamePattern(arguments[k]));
    }
    for (qint64 i = 0; i < count && !patterns.empty(); ++i) {
        const QString name = dir.Name(i);
        for (const auto& [k, pattern] : patterns)
            if (pattern.Matches(name)) matches[k].entries.push_back(i);
    }
    return matches;
}

}  // namespace kbx
