#include "sorting.h"

#include "tables.h"

namespace archive {
SortOrder orderAfterTitleClick(std::string_view columnTitle, const SortOrder& current) {
    const SortKey* key = sortKeyForTitle(columnTitle);
    if (!key || key->field == current.field)
        return {current.field, current.direction.empty() ? std::string(kDescending) : std::string()};
    return {std::string(key->field), key->descendingFirst ? std::string(kDescending) : std::string()};
}

std::string secondaryOrderFor(std::string_view view, std::string_view sortField) {
    if (sortField != kTitleField) return ", " + std::string(kTitleField);
    if (view == kViewDisc) return ", " + std::string(kIssueField) + std::string(kDescending);
    return {};
}

}  // namespace archive
