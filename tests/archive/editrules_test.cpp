// The edit mode's cell rules: which column expands which code list, how
// issues complete, and which click cycles the medium.

#include "editrules.h"

#include <gtest/gtest.h>

using namespace archive;

namespace {

std::optional<std::string> afterLeaving(std::string_view view, std::string_view title, std::string_view value) {
    const auto rule = columnExitRule(view, title);
    if (!rule) return std::nullopt;
    return applyColumnExitRule(*rule, value).replacement;
}

}  // namespace

TEST(EditRules, LeavingAColumnExpandsItsCodes) {
    EXPECT_EQ(afterLeaving(kViewGames, "Rubrik", "ac"), "Action");
    EXPECT_EQ(afterLeaving(kViewGames, "Genre", "Ec"), "Echtzeit-Strategie");
    EXPECT_EQ(afterLeaving(kViewTips, "Art", "l"), "L\xF6sung");
    // A value that is no code, and columns without a rule, stay as they are.
    EXPECT_EQ(afterLeaving(kViewGames, "Rubrik", "Action"), std::nullopt);
    EXPECT_EQ(afterLeaving(kViewGames, "Spieletitel", "ac"), std::nullopt);
    // The disc contents' kind is titled "Kategorie"; the tips' codes belong to the tips only.
    EXPECT_FALSE(columnExitRule(kViewDisc, "Art"));
    EXPECT_FALSE(columnExitRule(kViewDisc, "Kategorie"));
    EXPECT_EQ(columnExitRule(kViewGames, "Rubrik")->field, "RUBRIK");
}

TEST(EditRules, IssuesCompleteOrAreRefused) {
    for (std::string_view view : {kViewGames, kViewDisc, kViewTips}) {
        const auto rule = columnExitRule(view, "Ausgabe");
        ASSERT_TRUE(rule);
        EXPECT_EQ(applyColumnExitRule(*rule, "7").replacement, "2001/07");
        EXPECT_EQ(applyColumnExitRule(*rule, "3/11").replacement, "2003/11");
        const ColumnExitOutcome complete = applyColumnExitRule(*rule, "2004/09");
        EXPECT_FALSE(complete.refused);
        EXPECT_FALSE(complete.replacement);
        EXPECT_TRUE(applyColumnExitRule(*rule, "").refused);
        EXPECT_TRUE(applyColumnExitRule(*rule, "12004/09").refused);
    }
}

TEST(EditRules, OnlyTheDiscMediumColumnCycles) {
    EXPECT_EQ(mediumFieldForClick(kViewDisc, "CD/DVD"), "MEDIUM");
    EXPECT_FALSE(mediumFieldForClick(kViewDisc, "Name"));
    EXPECT_FALSE(mediumFieldForClick(kViewGames, "CD/DVD"));
}
