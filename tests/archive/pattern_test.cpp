// Name patterns: separators, letter case, wildcards, folders.

#include <gtest/gtest.h>

#include "archive/pattern.h"

namespace {

TEST(PatternTest, MatchesEachRow) {
    const struct {
        const char16_t* pattern;
        const char16_t* name;
        bool matches;
    } rows[] = {
        {u"Version/a.txt", u"Version\\a.txt", true},  // either separator
        {u"version\\A.TXT", u"Version\\a.txt", true},
        {u"ВЕРСИЯ/*", u"версия\\карта", true},
        {u"Version/*.txt", u"Version\\a.txt", true},
        {u"Version/*.txt", u"Version\\Data\\a.txt", false},  // * stays in its folder
        {u"Version/**/a.txt", u"Version\\a.txt", true},
        {u"Version/**/a.txt", u"Version\\Data\\x\\a.txt", true},
        {u"**/**/x", u"x", true},
        {u"**", u"Version\\a", true},
        {u"Version/?.txt", u"Version\\ab.txt", false},
        {u"Version/a?.txt", u"Version\\ab.txt", true},
        {u"Version/[a-c].txt", u"Version\\C.txt", true},
        {u"Version/[!a-c].txt", u"Version\\d.txt", true},
        {u"Version/[^a-c].txt", u"Version\\a.txt", false},
        {u"Version/[]x].txt", u"Version\\].txt", true},
        {u"Version/[ab", u"Version\\[ab", true},  // unterminated
        {u"[a-", u"[a-", true},                   // unterminated ranges end at the pattern's end
        {u"[a-", u"a", false},
        {u"x[!", u"x[!", true},
        {u"[z-", u"[z-", true},
        {u"Version/Data", u"Version\\Data\\b.dat", true},  // a folder selects its content
        {u"Version/Dat", u"Version\\Data\\b.dat", false},
        {u"Version//Data/", u"Version\\Data\\b.dat", true},
        {u"Version/a.txt/x", u"Version\\a.txt", false},
        {u"*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaab", true},  // backtracking
        {u"*a*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {u"", u"Version\\a", false},
        {u"*", u"", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(QString::fromUtf16(r.pattern).toStdString() + " on " +
                     QString::fromUtf16(r.name).toStdString());
        EXPECT_EQ(kbx::NamePattern(QStringView(r.pattern)).Matches(QStringView(r.name)), r.matches);
    }
}

}  // namespace
