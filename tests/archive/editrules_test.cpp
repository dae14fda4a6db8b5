// The edit mode's cell rules: which column expands which code list, how
// issues complete, and which click cycles the medium.

#include "editrules.h"

#include <gtest/gtest.h>

using namespace archive;

namespace {

std::optional<std::string> afterLeaving(const ViewDef& view, std::string_view title, std::string_view value) {
    const auto rule = columnExitRule(view, title);
    if (!rule) return std::nullopt;
    return applyColumnExitRule(*rule, value).replacement;
}

}  // namespace

TEST(EditRules, LeavingAColumnExpandsItsCodes) {
    EXPECT_EQ(afterLeaving(gamesView(), "Rubrik", "ac"), "Action");
    EXPECT_EQ(afterLeaving(gamesView(), "Genre", "Ec"), "Echtzeit-Strategie");
    EXPECT_EQ(afterLeaving(tipsView(), "Art", "l"), "L\xF6sung");
    // A value that is no code, and columns without a rule, stay as they are.
    EXPECT_EQ(afterLeaving(gamesView(), "Rubrik", "Action"), std::nullopt);
    EXPECT_EQ(afterLeaving(gamesView(), "Spieletitel", "ac"), std::nullopt);
    // The disc contents' kind is titled "Kategorie"; the tips' codes belong to the tips only.
    EXPECT_FALSE(columnExitRule(discView(), "Art"));
    EXPECT_FALSE(columnExitRule(discView(), "Kategorie"));
    EXPECT_EQ(columnExitRule(gamesView(), "Rubrik")->field, "RUBRIK");
}

TEST(EditRules, IssuesCompleteOrAreRefused) {
    for (const ViewDef* view : allViews()) {
        const auto rule = columnExitRule(*view, "Ausgabe");
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
    EXPECT_EQ(mediumFieldForClick(discView(), "CD/DVD"), "MEDIUM");
    EXPECT_FALSE(mediumFieldForClick(discView(), "Name"));
    EXPECT_FALSE(mediumFieldForClick(gamesView(), "CD/DVD"));
}

// Every field of every view: its title finds it again, its exit rule has what
// it needs, and the rules reach the grid through the title alone.
TEST(EditRules, EveryFieldOfEveryViewCarriesItsOwnRules) {
    for (const ViewDef* view : allViews()) {
        for (const FieldDef& field : view->fields) {
            SCOPED_TRACE(std::string(view->name) + " / " + std::string(field.name));
            ASSERT_EQ(fieldByGridTitle(*view, field.gridTitle), &field);
            EXPECT_EQ(field.exitRule == ExitRule::ExpandCode, !field.codes.empty());
            if (field.exitRule != ExitRule::None) {
                EXPECT_EQ(field.kind, FieldKind::Text);
            }
            const auto rule = columnExitRule(*view, field.gridTitle);
            EXPECT_EQ(rule.has_value(), field.exitRule != ExitRule::None);
            if (rule) {
                EXPECT_EQ(rule->field, field.name);
            }
            EXPECT_EQ(mediumFieldForClick(*view, field.gridTitle).has_value(), field.cyclesMedia);
            // A field name standing as the title before the grid is formatted is no title.
            if (field.name != field.gridTitle) {
                EXPECT_FALSE(fieldByGridTitle(*view, field.name));
            }
        }
    }
}
