#include "editrules.h"

#include "cp1252.h"

namespace archive {

std::optional<ColumnExitRule> columnExitRule(const ViewDef& view, std::string_view columnTitle) {
    const FieldDef* field = fieldByGridTitle(view, columnTitle);
    if (!field || field->exitRule == ExitRule::None) return std::nullopt;
    return ColumnExitRule{field->name, field->exitRule, field->codes};
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

std::optional<std::string_view> mediumFieldForClick(const ViewDef& view, std::string_view columnTitle) {
    const FieldDef* field = fieldByGridTitle(view, columnTitle);
    if (!field || !field->cyclesMedia) return std::nullopt;
    return field->name;
}

}  // namespace archive
