#include "editrules.h"

#include "cp1252.h"

namespace archive {
namespace {

struct ExitRuleEntry {
    std::string_view view;   // empty: every view
    std::string_view title;
    std::string_view field;
    ColumnExitRule::Action action;
    std::span<const CodeEntry> (*codes)();
};

// In the order the checks run; for one column at most one applies.
const ExitRuleEntry kExitRules[] = {
    {kViewTips, "Art", "ART", ColumnExitRule::Action::ExpandCode, tipKindCodes},
    {{}, "Ausgabe", "AUSGABE", ColumnExitRule::Action::CompleteIssue, nullptr},
    {{}, "Rubrik", "RUBRIK", ColumnExitRule::Action::ExpandCode, sectionCodes},
    {{}, "Genre", "GENRE", ColumnExitRule::Action::ExpandCode, genreCodes},
};

}  // namespace

std::optional<ColumnExitRule> columnExitRule(std::string_view view, std::string_view columnTitle) {
    for (const ExitRuleEntry& entry : kExitRules) {
        if (!entry.view.empty() && entry.view != view) continue;
        if (entry.title != columnTitle) continue;
        return ColumnExitRule{entry.field, entry.action,
                              entry.codes ? entry.codes() : std::span<const CodeEntry>{}};
    }
    return std::nullopt;
}

ColumnExitOutcome applyColumnExitRule(const ColumnExitRule& rule, std::string_view value) {
    ColumnExitOutcome outcome;
    if (rule.action == ColumnExitRule::Action::ExpandCode) {
        if (const auto name = expandCode(rule.codes, value)) outcome.replacement = std::string(*name);
        return outcome;
    }
    const std::optional<std::string> completed = completeIssueCode(value);
    if (!completed) {
        outcome.refused = true;
    } else if (*completed != value) {
        outcome.replacement = *completed;
    }
    return outcome;
}

std::optional<std::string_view> mediumFieldForClick(std::string_view view, std::string_view columnTitle) {
    if (view == kViewDisc && columnTitle == "CD/DVD") return "MEDIUM";
    return std::nullopt;
}

}  // namespace archive
