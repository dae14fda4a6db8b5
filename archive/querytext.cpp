#include "querytext.h"

#include "cp1252.h"
#include "sorting.h"
#include "tables.h"

namespace archive {

std::string joinQueryLines(std::span<const std::string> lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

std::string quotedLiteral(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    quoted += '"';
    return quoted;
}

std::string queriedPath(std::string_view dataPath, std::string_view tableFile) {
    std::string path(dataPath);
    path += '/';
    path += tableFile;
    return path;
}

QueryText buildQueryText(ViewState& state, std::string_view tableFile) {
    const bool hasTitle = !state.TitleFilter.empty();
    const bool hasSelection = !state.SelectionFilter.empty();
    state.FilterJoin = hasTitle && hasSelection ? " AND " : "";
    if (!state.SortField.empty()) state.SecondaryOrder = secondaryOrderFor(state.CurrentView, state.SortField);

    QueryText query;
    query.lines.push_back("SELECT * FROM " + quotedLiteral(queriedPath(state.DataPath, tableFile)));
    if (hasTitle || hasSelection)
        query.lines.push_back("WHERE " + state.TitleFilter + state.FilterJoin + state.SelectionFilter + " ");
    if (!state.SortField.empty())
        query.lines.push_back("ORDER BY " + state.SortField + state.SortDirection + state.SecondaryOrder);
    return query;
}

QueryText openingQueryText(const std::string& dataPath, const ViewDef& view) {
    ViewState opening;
    opening.DataPath = dataPath;
    opening.CurrentView = std::string(view.name);
    opening.SortField = titleOrder().field;
    opening.SortDirection = titleOrder().direction;
    return buildQueryText(opening, view.tableFile);
}

std::string titleFilterFor(std::string_view titleText) {
    std::string pattern = "%";
    pattern += upperAscii(titleText);
    pattern += '%';
    return "UPPER(" + std::string(kTitleField) + ") LIKE " + quotedLiteral(pattern);
}

std::string selectionFilterFor(std::string_view categoryField, std::string_view categoryText,
                               std::string_view ratingText) {
    std::string filter;
    if (categoryText != kAllEntries) {
        const std::string_view inner = categoryText.size() > 1 ? categoryText.substr(1, 3) : std::string_view{};
        // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
        filter = std::string(categoryField) + " LIKE " + quotedLiteral("%" + std::string(inner) + "%");
#pragma GCC diagnostic pop
    }
    if (ratingText != kAllEntries) {
        if (!filter.empty()) filter += " AND ";
        filter += "WERTUNG >= ";
        filter += ratingText;
    }
    return filter;
}

}  // namespace archive
