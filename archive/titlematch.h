#pragma once
// The three tables speak of the same games: a disc item or a tip belongs to a
// game when the quick title field, holding the game's title, shows it. So a
// row belongs to a game when its title, upper-cased as the engine's UPPER
// does, contains the game's title as the quick field holds it ('%' in it any
// run of characters, '_' itself). The counts here are taken over the table
// images with the query evaluation's own test, and so are the rows the grid
// shows once the title is in the quick field.

#include "tableimage.h"
#include "tables.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace archive {

// The image of a view's table in the data folder, as a query on it reads it
// (loaded, or waited for when it is being read). Throws EngineError as such
// a query would.
std::shared_ptr<const TableImage> imageOfView(const std::string& dataPath, const ViewDef& view);

// The quick field's text for a title: its letters in capitals, as typing the
// title into the field gives it.
std::string quickTitleText(std::string_view title);

// False for a title that would lead to every row: empty, or nothing but '%'.
bool leadsToRows(std::string_view title);

// The title column of an image; -1 when it has none.
int titleColumn(const TableImage& image);

// The live rows of `image` the quick field holding quickTitleText(title) shows.
size_t countTitleRows(const TableImage& image, std::string_view title);

// The game a title speaks of: of the games whose title the rule finds in
// `title`, the one with the longest title; of equally long ones the first in
// the games table's stored order. A game whose title would lead to every row
// is none. Nothing when no game is found.
struct LinkedGame {
    uint32_t row = 0;
    std::string title;  // as stored
};
std::optional<LinkedGame> gameOfTitle(const TableImage& games, std::string_view title);

// What the grid's menu offers on a row of `view` whose title is `title`: the
// game (the row's own title on a game row, the game the title speaks of on
// the others) and, for the two tables other than the row's own, the rows the
// quick field will show for it; none without a game. Reads the tables of
// `dataPath`; throws EngineError as a query on them would.
struct LinkCounts {
    std::optional<std::string> game;  // the title as stored
    size_t games = 0;
    size_t disc = 0;
    size_t tips = 0;
};
LinkCounts linkCounts(const std::string& dataPath, const ViewDef& view, std::string_view title);

}  // namespace archive
