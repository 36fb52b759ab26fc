// Name patterns: separators, letter case, wildcards, folders.

#include <gtest/gtest.h>

#include "archive/pattern.h"

namespace {

struct Case {
    const char* label;
    const char16_t* pattern;
    const char16_t* name;
    bool matches;
};

class PatternTest : public ::testing::TestWithParam<Case> {};

TEST_P(PatternTest, Matches) {
    const Case& c = GetParam();
    EXPECT_EQ(kbx::NamePattern(QStringView(c.pattern)).Matches(QStringView(c.name)), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PatternTest,
    ::testing::Values(
        Case{"exact_slash", u"Version/a.txt", u"Version\\a.txt", true},
        Case{"case_and_backslash", u"version\\A.TXT", u"Version\\a.txt", true},
        Case{"cyrillic_case", u"ВЕРСИЯ/*", u"версия\\карта", true},
        Case{"star", u"Version/*.txt", u"Version\\a.txt", true},
        Case{"star_stays_in_folder", u"Version/*.txt", u"Version\\Data\\a.txt", false},
        Case{"deep_none", u"Version/**/a.txt", u"Version\\a.txt", true},
        Case{"deep_several", u"Version/**/a.txt", u"Version\\Data\\x\\a.txt", true},
        Case{"deep_twice", u"**/**/x", u"x", true},
        Case{"deep_all", u"**", u"Version\\a", true},
        Case{"question_one", u"Version/?.txt", u"Version\\ab.txt", false},
        Case{"question", u"Version/a?.txt", u"Version\\ab.txt", true},
        Case{"range_folded_inclusive", u"Version/[a-c].txt", u"Version\\C.txt", true},
        Case{"negated", u"Version/[!a-c].txt", u"Version\\d.txt", true},
        Case{"negated_caret", u"Version/[^a-c].txt", u"Version\\a.txt", false},
        Case{"bracket_first", u"Version/[]x].txt", u"Version\\].txt", true},
        Case{"unterminated", u"Version/[ab", u"Version\\[ab", true},
        Case{"folder_selects_content", u"Version/Data", u"Version\\Data\\b.dat", true},
        Case{"folder_prefix_only_whole", u"Version/Dat", u"Version\\Data\\b.dat", false},
        Case{"extra_separators", u"Version//Data/", u"Version\\Data\\b.dat", true},
        Case{"longer_than_name", u"Version/a.txt/x", u"Version\\a.txt", false},
        Case{"star_backtracks", u"*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaab", true},
        Case{"star_fails", u"*a*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        Case{"empty_pattern", u"", u"Version\\a", false},
        Case{"empty_name", u"*", u"", false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

}  // namespace
