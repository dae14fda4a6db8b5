#include "greatestvalue.h"

#include "collation.h"
#include "tableimage.h"

namespace archive {

void GreatestText::offer(std::optional<std::string_view> value) {
    seen_ = true;
    if (!value) return;
    key_.clear();
    appendCollationKey(key_, *value);
    if (best_) {
        const int byKey = key_.compare(bestKey_);
        if (byKey < 0 || (byKey == 0 && *value <= *best_)) return;
    }
    best_ = std::string(*value);
    bestKey_.swap(key_);
}

std::optional<std::string> GreatestText::result() const {
    if (!seen_) return std::nullopt;
    return best_ ? *best_ : std::string();
}

std::optional<std::string> greatestInImage(const TableImage& image, int column) {
    GreatestText greatest;
    for (uint32_t row = 0; row < image.rowCount(); ++row) {
        if (image.isDeleted(row)) continue;
        greatest.offer(image.isNull(row, column) ? std::nullopt : std::optional(image.text(row, column)));
    }
    return greatest.result();
}

}  // namespace archive
