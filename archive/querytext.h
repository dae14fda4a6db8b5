#pragma once
// The text of the main window's query is a pure function of the view state:
// every rerun (sort click, keystroke in a title box, view switch) combines the
// latest values of all of it.

#include "viewstate.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace archive {

// The query lines as the engine reads them: separated by line breaks.
std::string joinQueryLines(std::span<const std::string> lines);

struct QueryText {
    std::vector<std::string> lines;  // one to three
    std::string joined() const { return joinQueryLines(lines); }
};

// The file a query of `tableFile` names in its FROM line.
std::string queriedPath(std::string_view dataPath, std::string_view tableFile);

// Sets the state's FilterJoin and, when it has a sort field, its
// SecondaryOrder, then builds the lines from the state alone.
QueryText buildQueryText(ViewState& state, std::string_view tableFile);

struct ViewDef;

// The query a view runs as it opens: no filter, by title. A table read ahead
// for a view is put in this order, which the view then finds worked out.
QueryText openingQueryText(const std::string& dataPath, const ViewDef& view);

// A literal in double quotes; a double quote inside stands doubled, so no text
// can change the shape of the statement.
std::string quotedLiteral(std::string_view text);

// UPPER(TITEL) LIKE "%TEXT%": the letters a-z turned into A-Z, all other
// characters unchanged. An empty text gives the condition "%%".
std::string titleFilterFor(std::string_view titleText);

// The category condition (characters 2-4 of the chosen name inside "%…%")
// unless the category text is "(alle)", then the rating condition unless the
// rating text is "(alle)", joined by " AND ".
std::string selectionFilterFor(std::string_view categoryField, std::string_view categoryText,
                               std::string_view ratingText);

}  // namespace archive
