#include "collation.h"
#include "querytext.h"
#include "sorting.h"
#include "tables.h"

#include <gtest/gtest.h>

using namespace archive;

namespace {

// A click in the view that has the title, as the grid shows it there.
SortOrder click(std::string_view title, const SortOrder& current) {
    for (const ViewDef* view : allViews())
        if (fieldByGridTitle(*view, title)) return orderAfterTitleClick(*view, title, current);
    return orderAfterTitleClick(gamesView(), title, current);
}

bool largestFirst(std::string_view field) { return field == "WERTUNG" || field == "AUSGABE" || field == "COUNTER"; }

}  // namespace

TEST(TitleClick, EveryColumnOfEveryViewSortsByItsFieldAscendingExceptTheLargestFirstOnes) {
    for (const ViewDef* view : allViews()) {
        for (const FieldDef& field : view->fields) {
            const SortOrder next = click(field.gridTitle, {"KEINFELD", " DESC"});
            EXPECT_EQ(next.field, field.name) << view->name << " / " << field.gridTitle;
            EXPECT_EQ(next.direction, largestFirst(field.name) ? " DESC" : "") << view->name << " / " << field.gridTitle;
        }
    }
}

TEST(TitleClick, AClickOnTheSortColumnReversesItAndAnotherColumnStartsAfresh) {
    SortOrder order{"TITEL", ""};
    order = click("Wert.", order);
    EXPECT_EQ(order, (SortOrder{"WERTUNG", " DESC"}));
    order = click("Wert.", order);
    EXPECT_EQ(order, (SortOrder{"WERTUNG", ""}));
    order = click("Wert.", order);
    EXPECT_EQ(order, (SortOrder{"WERTUNG", " DESC"}));
    // A new column forgets the direction of the old one.
    EXPECT_EQ(click("Spieletitel", order), (SortOrder{"TITEL", ""}));
    EXPECT_EQ(click("Ausgabe", {"WERTUNG", ""}), (SortOrder{"AUSGABE", " DESC"}));
    EXPECT_EQ(click("Kommentar", {"GENRE", " DESC"}), (SortOrder{"KOMMENTAR", ""}));
    // Right after the start (title, ascending) the title column reverses; so
    // does another title of the same field, and right after a view switch the
    // direction in force is reversed, whatever it was.
    EXPECT_EQ(click("Spieletitel", {"TITEL", ""}), (SortOrder{"TITEL", " DESC"}));
    EXPECT_EQ(click("Name", {"TITEL", " DESC"}), (SortOrder{"TITEL", ""}));
    EXPECT_EQ(click("Kategorie", {"ART", ""}), (SortOrder{"ART", " DESC"}));
}

TEST(TitleClick, ATitleThatSortsNothingKeepsTheFieldAndReversesTheOrder) {
    // Field names stand as titles until the grid is formatted; titles compare with case.
    for (const char* title : {"TITEL", "spieletitel", "Wert", "", "Counter "}) {
        EXPECT_EQ(click(title, {"WERTUNG", " DESC"}), (SortOrder{"WERTUNG", ""})) << title;
        EXPECT_EQ(click(title, {"GENRE", ""}), (SortOrder{"GENRE", " DESC"})) << title;
    }
    EXPECT_EQ(click("Rubrik", {"", ""}), (SortOrder{"RUBRIK", ""}));
    EXPECT_EQ(click("unbekannt", {"", ""}), (SortOrder{"", " DESC"}));
}

TEST(SecondaryOrder, TitleBreaksTiesExceptAfterTheTitleWhereTheDiscContentsTakeTheNewestIssue) {
    for (const ViewDef* view : allViews()) {
        for (const FieldDef& field : view->fields) {
            if (field.name == "TITEL") continue;
            EXPECT_EQ(secondaryOrderFor(view->name, field.name), ", TITEL") << field.name;
        }
    }
    EXPECT_EQ(secondaryOrderFor(kViewDisc, "TITEL"), ", AUSGABE DESC");
    EXPECT_EQ(secondaryOrderFor(kViewGames, "TITEL"), "");
    EXPECT_EQ(secondaryOrderFor(kViewTips, "TITEL"), "");
    EXPECT_EQ(secondaryOrderFor("", "TITEL"), "");  // before the first view switch
}

TEST(QueryText, TheStateCarriesTheJoinAndTheTieBreakItsLinesAreBuiltFrom) {
    ViewState state;
    state.DataPath = "/daten";
    state.CurrentView = std::string(kViewDisc);
    state.SortField = "TITEL";
    state.SortDirection = " DESC";
    EXPECT_EQ(buildQueryText(state, "CDData.db").lines,
              (std::vector<std::string>{"SELECT * FROM \"/daten/CDData.db\"", "ORDER BY TITEL DESC, AUSGABE DESC"}));
    EXPECT_EQ(state.SecondaryOrder, ", AUSGABE DESC");
    EXPECT_EQ(state.FilterJoin, "");

    // A view switch keeps the direction; the tie-break follows the view.
    state.CurrentView = std::string(kViewTips);
    EXPECT_EQ(buildQueryText(state, "TippsData.db").lines.back(), "ORDER BY TITEL DESC");
    EXPECT_EQ(state.SecondaryOrder, "");

    state.CurrentView = std::string(kViewGames);
    state.TitleFilter = titleFilterFor("rally");
    state.SelectionFilter = selectionFilterFor("RUBRIK", "Action", "80");
    state.SortField = "WERTUNG";
    const QueryText full = buildQueryText(state, "GameData.db");
    EXPECT_EQ(full.joined(), "SELECT * FROM \"/daten/GameData.db\"\n"
                             "WHERE UPPER(TITEL) LIKE \"%RALLY%\" AND RUBRIK LIKE \"%cti%\" AND WERTUNG >= 80 \n"
                             "ORDER BY WERTUNG DESC, TITEL");
    EXPECT_EQ(state.FilterJoin, " AND ");
    EXPECT_EQ(state.SecondaryOrder, ", TITEL");

    // Without a sort field there is no ORDER BY line, and the tie-break in
    // the state stays what it was; one filter alone needs no join.
    state.SortField.clear();
    state.SelectionFilter.clear();
    EXPECT_EQ(buildQueryText(state, "GameData.db").lines,
              (std::vector<std::string>{"SELECT * FROM \"/daten/GameData.db\"", "WHERE UPPER(TITEL) LIKE \"%RALLY%\" "}));
    EXPECT_EQ(state.SecondaryOrder, ", TITEL");
    EXPECT_EQ(state.FilterJoin, "");
}

// The sort keeps only the beginning of each collation key and compares the
// rest as it is made: both must order every pair as the whole keys do,
// wherever the cut falls (also inside a character that weighs two bytes).
TEST(Collation, KeyBeginningsAndKeysComparedAsMadeOrderAsWholeKeysDo) {
    const std::string stem(62, 'a');
    const std::pair<std::string, std::string> pairs[] = {
        {"Stra\xDF" "e", "Strasse"}, {"\xDF", "ss"},   {"\xDF", "st"},  {"\xC6ther", "aether"}, {"a", "ab"},
        {"", "a"},                    {"", ""},          {"Zork", "zork"}, {stem + "\xDF", stem + "ss"},
        {stem + "\xDF" "b", stem + "ssa"}, {stem + "a\xDF", stem + "aat"}, {stem + stem, stem + stem + "x"},
    };
    const auto sign = [](int value) { return (value > 0) - (value < 0); };
    for (const auto& [a, b] : pairs) {
        std::string keyA, keyB;
        appendCollationKey(keyA, a);
        appendCollationKey(keyB, b);
        const int whole = sign(keyA.compare(keyB));
        EXPECT_EQ(sign(compareCollationKeys(a, b)), whole) << a << " / " << b;
        EXPECT_EQ(sign(compareCollationKeys(b, a)), -whole) << a << " / " << b;
        for (const size_t limit : {1, 2, 63, 64, 65}) {
            std::string beginA, beginB;
            const bool cutA = appendCollationKeyPrefix(beginA, a, limit);
            const bool cutB = appendCollationKeyPrefix(beginB, b, limit);
            EXPECT_EQ(beginA, keyA.substr(0, limit));
            EXPECT_EQ(cutA, keyA.size() > limit);
            if (const int byBeginning = sign(beginA.compare(beginB)); byBeginning != 0)
                EXPECT_EQ(byBeginning, whole) << a << " / " << b << " cut at " << limit;
            else
                EXPECT_TRUE(whole == 0 || cutA || cutB) << a << " / " << b << " cut at " << limit;
        }
    }
}
