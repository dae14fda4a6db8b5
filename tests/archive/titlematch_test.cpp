// From a row of one table to the rows of the other two: the game a title
// speaks of, and how many rows the quick field shows for a game's title,
// which must be what the query itself shows.

#include "engine.h"
#include "querytext.h"
#include "sorting.h"
#include "tablefixtures.h"
#include "tableimage.h"
#include "testfolder.h"
#include "titlematch.h"
#include "viewstate.h"

#include <gtest/gtest.h>

using namespace archive;

namespace {

// Stored order matters: ties go to the first game.
const std::vector<Cell> kGames = {
    std::string("Asphaltfieber"), std::string("Asphaltfieber 2001"), std::string("R\xFC" "ckkehr"),
    std::string("F_1"),           std::string("Box%Kampf"),          std::string("Gold"),
    std::string("GOLD"),          std::string(""),                   std::nullopt,
    std::string("Zeitreise"),     std::string("Reise"),              std::string("Omega"),
    std::string("Alpha"),         std::string("%"),
};
const std::vector<Cell> kDisc = {
    std::string("Asphaltfieber 2001 Demo"), std::string("asphaltfieber patch"), std::string("R\xDC" "CKKEHR Demo"),
    std::string("Box-Kampf Trailer"),       std::string("F-1 Demo"),            std::string("F_1 Patch"),
    std::string("Unbekannt"),               std::nullopt,                       std::string(""),
};

std::shared_ptr<const TableImage> titles(const std::vector<Cell>& cells) {
    return TableImage::fromCells({{"TITEL", FieldKind::Text}}, cells);
}

}  // namespace

TEST(TitleLinks, TheGameATitleSpeaksOf) {
    struct Case {
        std::string title;
        std::optional<std::string> game;
    };
    const std::string longEntry = std::string(300, 'x') + " Reise";
    const Case cases[] = {
        {"asphaltfieber patch", "Asphaltfieber"},              // case
        {"Asphaltfieber 2001 Demo", "Asphaltfieber 2001"},     // the longer of two containing each other
        {"R\xDC" "CKKEHR Demo", "R\xFC" "ckkehr"},             // umlauts upper-cased as UPPER does
        {"Box-Kampf Trailer", "Box%Kampf"},                    // '%' any run
        {"F-1 Demo", std::nullopt},                            // '_' is itself
        {"F_1 Patch", "F_1"},
        {"Goldene Zeitreise", "Zeitreise"},                    // Gold, Reise and Zeitreise inside
        {"Gold Edition", "Gold"},                              // Gold and GOLD: the first stored
        {"Alpha und Omega", "Omega"},                          // equally long: the first stored
        {longEntry, "Reise"},                                  // a long title
        {"Unbekannt", std::nullopt},                           // '%' and "" lead nowhere
        {"", std::nullopt},
    };
    const auto games = titles(kGames);
    for (const Case& c : cases) {
        const std::optional<LinkedGame> found = gameOfTitle(*games, c.title);
        ASSERT_EQ(found.has_value(), c.game.has_value()) << c.title;
        if (!found) continue;
        EXPECT_EQ(found->title, *c.game) << c.title;
        EXPECT_EQ(games->text(found->row, 0), *c.game);
    }
}

TEST(TitleLinks, RowsTheQuickFieldShowsForAGame) {
    struct Case {
        std::string game;
        size_t disc;
        size_t games;
    };
    const Case cases[] = {
        {"Asphaltfieber", 2, 2},     {"Asphaltfieber 2001", 1, 1}, {"R\xFC" "ckkehr", 1, 1},
        {"Box%Kampf", 1, 1},         {"F_1", 1, 1},                {"gold", 0, 2},
        {"Unbekannt Zwei", 0, 0},
    };
    const auto games = titles(kGames);
    const auto disc = titles(kDisc);
    for (const Case& c : cases) {
        EXPECT_EQ(countTitleRows(*disc, c.game), c.disc) << c.game;
        EXPECT_EQ(countTitleRows(*games, c.game), c.games) << c.game;
    }
    // The distinct titles, once the grid has worked them out, give the same.
    disc->dictionary(0);
    for (const Case& c : cases) EXPECT_EQ(countTitleRows(*disc, c.game), c.disc) << c.game;
    // A deleted row is no row, whichever way it is counted; a deleted game
    // leaves the title to the next.
    const auto edited = disc->withRowDeleted(1, disc->stamp());
    EXPECT_EQ(countTitleRows(*edited, "Asphaltfieber"), 1u);
    edited->dictionary(0);
    EXPECT_EQ(countTitleRows(*edited, "Asphaltfieber"), 1u);
    EXPECT_EQ(gameOfTitle(*games->withRowDeleted(5, games->stamp()), "Gold Edition")->title, "GOLD");
    EXPECT_EQ(quickTitleText("R\xFC" "ckkehr 2"), "R\xDC" "CKKEHR 2");
    EXPECT_FALSE(leadsToRows("%%"));
}

// The count is the number of rows the query shows once the quick field holds
// the title, before and after a keystroke has worked out the distinct titles.
TEST(TitleLinks, CountsAreTheRowsOfTheQuery) {
    TestFolder folder;
    std::vector<Row> rows;
    for (const Cell& title : kDisc) rows.push_back({title, "2001/05", "Demo", "CD"});
    for (int i = 0; i < 5000; ++i) {
        std::string title = i % 3 ? "Asphaltfieber Level " : "Rennen ";
        title += std::to_string(i);
        rows.push_back({title, "2001/05", "Demo", "CD"});
    }
    writeTable(folder.file("CDData.db"), discView(), rows);
    ViewState state;
    state.DataPath = folder.path();
    state.CurrentView = std::string(kViewDisc);
    state.SortField = std::string(kTitleField);
    auto run = [&](Query& query) {
        query.sql = buildQueryText(state, "CDData.db").lines;
        query.prepare();
        query.open();
    };
    Query all;
    run(all);
    for (const char* title :
         {"Asphaltfieber", "asphaltfieber 2001", "R\xFC" "ckkehr", "F_1", "Box%Kampf", "Level 1%9"}) {
        const size_t counted = countTitleRows(*all.image(), title);
        state.TitleFilter = titleFilterFor(quickTitleText(title));
        Query filtered;
        run(filtered);
        EXPECT_EQ(counted, static_cast<size_t>(filtered.recordCount())) << title;
        EXPECT_EQ(countTitleRows(*all.image(), title), counted) << title;
        state.TitleFilter.clear();
    }
}
