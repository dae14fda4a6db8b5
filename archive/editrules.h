#pragma once
// What the edit mode does to a cell beyond plain typing: leaving a column
// expands a short code into its full name or completes an issue entry, and a
// click on a disc item's medium steps it through CD, CD/DVD and DVD. The
// field definitions say which field does what; the grid's columns are known
// by their titles.

#include "tables.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace archive {

struct ColumnExitRule {
    using Action = ExitRule;
    std::string_view field;             // the field whose value the rule reads and writes
    Action action;
    std::span<const CodeEntry> codes;   // ExpandCode only
};

// The rule for leaving the column titled `columnTitle` in `view`, if any.
std::optional<ColumnExitRule> columnExitRule(const ViewDef& view, std::string_view columnTitle);

struct ColumnExitOutcome {
    bool refused = false;                    // an issue entry that cannot be completed
    std::optional<std::string> replacement;  // the value to store, when it changes
};
ColumnExitOutcome applyColumnExitRule(const ColumnExitRule& rule, std::string_view value);

// The field a click cycles through the media (MEDIUM in the disc contents'
// "CD/DVD" column), if the clicked column is one.
std::optional<std::string_view> mediumFieldForClick(const ViewDef& view, std::string_view columnTitle);

// The message for an issue entry that cannot be completed.
inline constexpr char kIssueEntryMessage[] = "Fehlerhafter Eintrag im Feld \"Ausgabe\"";

}  // namespace archive
