#pragma once
// The text of the main window's query is a pure function of the view state:
// every rerun (sort click, keystroke in a title box, view switch) combines the
// latest values of all of it.

#include <string>
#include <string_view>
#include <vector>

namespace archive {

// The main window's shared state. Every window reads or writes it; the query
// text is built from the filter and sort part of it.
struct ViewState {
    bool HardDiskMode = false;
    bool EditMode = false;
    std::string SourcePath;
    std::string DataPath;          // folder of the tables, no trailing "/"
    double EngineVersion = 0;
    std::string CurrentView;       // "Spiele", "CD-Inhalt" or "Tipps"
    std::string CurrentTableFile;  // "GameData.db", "CDData.db" or "TippsData.db"
    std::string CategoryField;     // "RUBRIK" or "ART"
    std::string SelectionFilter;   // category and rating condition, or empty
    std::string TitleFilter;       // title condition, or empty
    std::string FilterJoin;        // " AND " when both filters are set
    std::string SortField;         // empty: no ORDER BY line
    std::string SortDirection;     // " DESC" or empty
    std::string SecondaryOrder;    // ", TITEL", ", AUSGABE DESC" or empty
    int SavedColumnIndex = 0;
    int GameFirstMonth = 10, GameFirstYear = 1997;
    int CDFirstMonth = 10, CDFirstYear = 1997;
    int TippsFirstMonth = 10, TippsFirstYear = 1997;
    int GameLastMonth = 0, GameLastYear = 0;
    int CDLastMonth = 0, CDLastYear = 0;
    int TippsLastMonth = 0, TippsLastYear = 0;
    int StatMonth = 0, StatYear = 0;
};

struct QueryText {
    std::vector<std::string> lines;  // one to three
    std::string filterJoin;          // " AND " when both filters are set
    std::string secondaryOrder;      // ", TITEL", ", AUSGABE DESC" or empty
    std::string joined() const;      // lines separated by "\n"
};

QueryText buildQueryText(const ViewState& state, std::string_view tableFile);

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
