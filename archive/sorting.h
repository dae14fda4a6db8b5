#pragma once
// The order of the result grid: what a click on a column title sorts by, in
// which direction, and the tie-break that follows the sort field in the
// ORDER BY line. The field definitions drive all of it.

#include "tables.h"

#include <string>
#include <string_view>

namespace archive {

inline constexpr std::string_view kDescending = " DESC";
inline constexpr std::string_view kTitleField = "TITEL";
inline constexpr std::string_view kIssueField = "AUSGABE";
// The games' rating: the minimum-rating filter and the statistics read it.
inline constexpr std::string_view kRatingField = "WERTUNG";

// The sort part of the view state.
struct SortOrder {
    std::string field;      // SortField
    std::string direction;  // SortDirection: " DESC" or empty
    bool operator==(const SortOrder&) const = default;
};

// The order every view opens in: by title, ascending.
inline SortOrder titleOrder() { return {std::string(kTitleField), {}}; }
// The order whose first record holds a table's newest issue.
inline SortOrder newestIssueOrder() { return {std::string(kIssueField), std::string(kDescending)}; }

// The order after a click on the column titled `columnTitle` (compared
// exactly, with case) in `view`. Another column than the sort column starts
// ascending, or largest first where its field says so (ratings, issues,
// counters); a click on the sort column reverses it. A title that is none of
// the view's leaves the field as it is, so such a click reverses the order
// in force.
SortOrder orderAfterTitleClick(const ViewDef& view, std::string_view columnTitle, const SortOrder& current);

// The tie-break tail of the ORDER BY line (SecondaryOrder): every field but
// the title is followed by the title; the disc contents sorted by name are
// followed by the issue, newest first; games and tips by title have none.
std::string secondaryOrderFor(std::string_view view, std::string_view sortField);

}  // namespace archive
