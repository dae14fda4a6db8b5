#include "greatestvalue.h"

#include "collation.h"
#include "tableimage.h"

#include <algorithm>

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
    // Rows of one issue mostly lie together: a row of the same entry of its
    // chunk as the row before has been offered already.
    for (uint32_t index = 0; index < image.chunkCount(); ++index) {
        const TableImage::Chunk& chunk = image.chunk(column, index);
        const uint32_t first = index << TableImage::kChunkShift;
        const uint32_t rows = std::min(chunk.rows(), image.rowCount() - first);
        std::optional<uint32_t> offered;
        bool offeredNull = false;
        for (uint32_t i = 0; i < rows; ++i) {
            if (image.isDeleted(first + i)) continue;
            const uint32_t entry = chunk.entry(i);
            const bool null = chunk.nulls[i];
            if (offered == entry && offeredNull == null) continue;
            offered = entry;
            offeredNull = null;
            greatest.offer(null ? std::nullopt : std::optional(chunk.entryText(entry)));
        }
    }
    return greatest.result();
}

}  // namespace archive
