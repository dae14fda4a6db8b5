#include "collation.h"
#include "imagefilecodec.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// A cache file with a sound checksum was written by this program, or made
// by hand to look so: what the image's readers index by (offsets, codes,
// ranks, dictionary entries, row numbers) is checked before the file stands
// for its table. What is checked here is what the image itself would have
// worked out of its cells, so a file that passes answers as the table does.

namespace archive::detail {

void ImageFileCodec::requireSoundChunk(const TableImage::Chunk& chunk, std::optional<uint32_t> rows,
                                       bool integerColumn) {
    const CellArray<uint32_t>& offsets = chunk.offsets;
    if (offsets.empty() || offsets.front() != 0 || offsets.back() != chunk.bytes.size()) throw Unusable{};
    // Each cell ends in its 0 byte.
    for (size_t i = 1; i < offsets.size(); ++i)
        if (offsets[i] <= offsets[i - 1] || chunk.bytes[offsets[i] - 1] != '\0') throw Unusable{};
    const size_t entries = offsets.size() - 1;
    if (!chunk.codes.empty()) {
        if (entries > UINT16_MAX + size_t{1}) throw Unusable{};
        for (const uint16_t code : chunk.codes)
            if (code >= entries) throw Unusable{};
    }
    const uint32_t count = chunk.rows();
    if (rows && count != *rows) throw Unusable{};
    if (chunk.nulls.size() != count) throw Unusable{};
    if (chunk.numbers.size() != (integerColumn ? count : 0)) throw Unusable{};
    // A NULL cell is empty and no number: a pattern search runs over the
    // bytes of a whole chunk and would find text in it.
    for (uint32_t i = 0; i < count; ++i)
        if (chunk.nulls[i] && (!chunk.text(i).empty() || (integerColumn && chunk.numbers[i] != TableImage::kNoNumber)))
            throw Unusable{};
}

void ImageFileCodec::requireFittingRanks(const TableImage& image) {
    const uint32_t rowCount = image.rowCount_;
    // Named, not bound: a lambda below takes the column, which clang 14
    // does not allow of a structured binding.
    for (const auto& rankedColumn : image.ranks_) {
        const int column = rankedColumn.first;
        const TableImage::Ranks& kept = rankedColumn.second;
        const std::vector<uint32_t>& ranks = *kept;
        const auto found = image.dictionaries_.find(column);
        const TableImage::Chunk* dictionary = found == image.dictionaries_.end() ? nullptr : found->second.get();
        if (image.columns_[static_cast<size_t>(column)].kind == FieldKind::Integer) {
            // Few distinct values and no collation keys: worked out again
            // at a fraction of what the order itself costs.
            std::shared_ptr<const TableImage::Chunk> none;
            if (image.computeRanks(column, none) != ranks) throw Unusable{};
            if (!dictionary) continue;
            // As dictionary() makes it: the first holder's value per rank,
            // NULL for rank 0 and for a rank no row holds.
            std::vector<uint32_t> holder(dictionary->rows(), UINT32_MAX);
            for (uint32_t row = 0; row < rowCount; ++row)
                if (holder[ranks[row]] == UINT32_MAX) holder[ranks[row]] = row;
            if (holder.empty() || (rowCount > 0 && holder.back() == UINT32_MAX)) throw Unusable{};
            for (uint32_t r = 0; r < holder.size(); ++r) {
                const bool null = r == 0 || holder[r] == UINT32_MAX;
                if (dictionary->nulls[r] != null ||
                    dictionary->entryText(r) != (null ? std::string_view() : image.text(holder[r], column)))
                    throw Unusable{};
            }
            continue;
        }
        // A text column's ranks: NULL at rank 0, then each distinct value
        // once, in the collation's order, each held by a row of that rank
        // and only by those. Its dictionary, where it came along, lists
        // those values; without one the first row of each rank stands for it.
        uint32_t entries = 0;
        if (dictionary) {
            entries = dictionary->rows();
            if (entries == 0 || !dictionary->nulls[0] || !dictionary->entryText(0).empty()) throw Unusable{};
        } else {
            for (const uint32_t rank : ranks) entries = std::max(entries, rank);
            ++entries;
        }
        std::vector<uint32_t> holder(entries, UINT32_MAX);
        auto valueOf = [&](uint32_t rank) {
            return dictionary ? dictionary->entryText(rank) : image.text(holder[rank], column);
        };
        for (uint32_t index = 0; index < image.chunkCount(); ++index) {
            const TableImage::Chunk& cells = image.chunk(column, index);
            const uint32_t first = index << TableImage::kChunkShift;
            const uint32_t* rank = ranks.data() + first;
            for (uint32_t i = 0; i < cells.rows(); ++i) {
                if (rank[i] >= entries || cells.nulls[i] != (rank[i] == 0)) throw Unusable{};
                if (holder[rank[i]] == UINT32_MAX) {
                    holder[rank[i]] = first + i;
                    if (!dictionary) continue;
                }
                if (rank[i] != 0 && cells.text(i) != valueOf(rank[i])) throw Unusable{};
            }
        }
        for (uint32_t r = 1; r < entries; ++r) {
            if (holder[r] == UINT32_MAX || (dictionary && dictionary->nulls[r])) throw Unusable{};
            if (r > 1 && compareCollated(valueOf(r - 1), valueOf(r)) >= 0) throw Unusable{};
        }
    }
}

void ImageFileCodec::requireFittingOrders(const TableImage& image) {
    for (const auto& sortedBy : image.sorted_) {
        const std::vector<SortSpec>& keys = sortedBy.first;
        const auto& kept = sortedBy.second;
        if (!kept.rows) continue;
        // An order goes into the file with the ranks of its keys.
        std::vector<const std::vector<uint32_t>*> ranks;
        for (const SortSpec& key : keys) {
            const auto found = image.ranks_.find(key.column);
            if (found == image.ranks_.end()) throw Unusable{};
            ranks.push_back(found->second.get());
        }
        // Rows tie on every key only in stored order.
        auto before = [&](uint32_t a, uint32_t b) {
            for (size_t k = 0; k < keys.size(); ++k) {
                const uint32_t ra = (*ranks[k])[a];
                const uint32_t rb = (*ranks[k])[b];
                if (ra != rb) return keys[k].descending ? ra > rb : ra < rb;
            }
            return a < b;
        };
        // Strictly ascending by keys and row, so no row comes twice: with
        // as many rows as live ones, each live row once.
        const std::vector<uint32_t>& rows = *kept.rows;
        for (size_t i = 1; i < rows.size(); ++i)
            if (!before(rows[i - 1], rows[i])) throw Unusable{};
    }
}

}  // namespace archive::detail
