#pragma once
// The main window's shared state. The main window owns it for the whole run;
// the selection module writes the filters, the statistics windows read the
// issues and walk the months, and the query text is built from the filter
// and sort part of it.

#include "tables.h"

#include <string>

namespace archive {

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
    int GameFirstMonth = kFirstIssueMonth, GameFirstYear = kFirstIssueYear;
    int CDFirstMonth = kFirstIssueMonth, CDFirstYear = kFirstIssueYear;
    int TippsFirstMonth = kFirstIssueMonth, TippsFirstYear = kFirstIssueYear;
    int GameLastMonth = 0, GameLastYear = 0;
    int CDLastMonth = 0, CDLastYear = 0;
    int TippsLastMonth = 0, TippsLastYear = 0;
    int StatMonth = 0, StatYear = 0;
};

}  // namespace archive
