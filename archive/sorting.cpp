#include "sorting.h"

#include "tables.h"

namespace archive {
SortOrder orderAfterTitleClick(const ViewDef& view, std::string_view columnTitle, const SortOrder& current) {
    const FieldDef* field = fieldByGridTitle(view, columnTitle);
    if (!field || field->name == current.field)
        return {current.field, current.direction.empty() ? std::string(kDescending) : std::string()};
    return {std::string(field->name), field->descendingFirst ? std::string(kDescending) : std::string()};
}

std::string secondaryOrderFor(std::string_view view, std::string_view sortField) {
    if (sortField != kTitleField) return ", " + std::string(kTitleField);
    if (view == kViewDisc) return ", " + std::string(kIssueField) + std::string(kDescending);
    return {};
}

}  // namespace archive
