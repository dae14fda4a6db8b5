#include "tableimage_internal.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// The image after the engine's own write: a successor shares every chunk the
// write did not touch and takes over what the write cannot have changed.

namespace archive {

using detail::appendCell;
using detail::copyOf;
using detail::sameCell;

std::shared_ptr<TableImage> TableImage::successor(const FileStamp& stamp) const {
    std::shared_ptr<TableImage> image(new TableImage);
    image->path_ = path_;
    image->stamp_ = stamp;
    image->verdict_ = verdict_;
    image->tableName_ = tableName_;
    image->columns_ = columns_;
    image->cells_ = cells_;
    image->slots_ = slots_;
    image->rowCount_ = rowCount_;
    image->deletedCount_ = deletedCount_;
    image->madeByWrite_ = true;
    return image;
}

std::shared_ptr<const TableImage> TableImage::withRowChanged(uint32_t row, std::span<const Cell> cells,
                                                             const FileStamp& stamp) const {
    if (row >= rowCount_ || cells.size() != columns_.size()) throw std::logic_error("row change outside the image");
    std::shared_ptr<TableImage> image = successor(stamp);
    const uint32_t index = row >> kChunkShift;
    const uint32_t at = row & (kChunkRows - 1);
    std::vector<bool> changed(columns_.size(), false);
    for (size_t c = 0; c < columns_.size(); ++c) {
        if (sameCell(*cells_[c][index], at, cells[c])) continue;
        // The cells behind the changed one are spliced as bytes: from a plain chunk.
        std::shared_ptr<const Chunk> plain = cells_[c][index];
        if (!plain->codes.empty()) plain = copyOf(*plain, plain->rows());
        const Chunk& old = *plain;
        changed[c] = true;
        // The chunk again with the one cell replaced; the cells behind it move.
        auto chunk = copyOf(old, at);
        const bool integerColumn = columns_[c].kind == FieldKind::Integer;
        appendCell(*chunk, cells[c], integerColumn, path_);
        const uint32_t shift = chunk->offsets.back() - old.offsets[at + 1];
        chunk->bytes.append(old.bytes, old.offsets[at + 1], std::string::npos);
        for (uint32_t i = at + 2; i < old.offsets.size(); ++i) chunk->offsets.push_back(old.offsets[i] + shift);
        chunk->nulls.insert(chunk->nulls.end(), old.nulls.begin() + at + 1, old.nulls.end());
        if (integerColumn) chunk->numbers.insert(chunk->numbers.end(), old.numbers.begin() + at + 1, old.numbers.end());
        image->cells_[c][index] = std::move(chunk);
    }
    // What depends only on columns that kept their values stays right.
    std::lock_guard lock(cacheMutex_);
    for (const auto& [column, ranks] : ranks_)
        if (!changed[static_cast<size_t>(column)]) image->ranks_.emplace(column, ranks);
    for (const auto& [column, dictionary] : dictionaries_)
        if (!changed[static_cast<size_t>(column)]) image->dictionaries_.emplace(column, dictionary);
    for (const auto& [keys, order] : sorted_)
        if (std::none_of(keys.begin(), keys.end(), [&](const SortSpec& key) { return changed[key.column]; }))
            if (order.rows) image->sorted_[keys].rows = order.rows;
    return image;
}

std::shared_ptr<const TableImage> TableImage::withRowsAppended(std::span<const int64_t> rowIds,
                                                               std::span<const Cell> cells,
                                                               const FileStamp& stamp) const {
    const size_t columns = columns_.size();
    if (cells.size() != rowIds.size() * columns) throw std::logic_error("appended rows of the wrong width");
    // Deleted rows at the end go: SQLite may give a new row the id of a
    // deleted last one, and the row ids must keep ascending.
    uint32_t keep = rowCount_;
    while (keep > 0 && isDeleted(keep - 1)) --keep;
    int64_t last = keep > 0 ? rowId(keep - 1) : INT64_MIN;
    for (const int64_t id : rowIds) {
        if (id <= last) return nullptr;
        last = id;
    }
    std::shared_ptr<TableImage> image = successor(stamp);
    Builder builder(*image, keep);
    for (size_t r = 0; r < rowIds.size(); ++r) {
        for (size_t c = 0; c < columns; ++c)
            appendCell(builder.cells(static_cast<int>(c)), cells[r * columns + c],
                       columns_[c].kind == FieldKind::Integer, path_);
        builder.endRow(rowIds[r]);
    }
    builder.finish();
    return image;
}

std::shared_ptr<const TableImage> TableImage::withRowDeleted(uint32_t row, const FileStamp& stamp) const {
    if (row >= rowCount_ || isDeleted(row)) throw std::logic_error("deleting a row the image does not show");
    std::shared_ptr<TableImage> image = successor(stamp);
    const uint32_t index = row >> kChunkShift;
    auto slots = std::make_shared<Slots>(*slots_[index]);
    if (slots->deleted.empty()) slots->deleted.assign(slots->rowIds.size(), false);
    slots->deleted[row & (kChunkRows - 1)] = true;
    image->slots_[index] = std::move(slots);
    ++image->deletedCount_;
    // The cells stay, so does every rank; a sort order would still hold the row.
    std::lock_guard lock(cacheMutex_);
    image->ranks_ = ranks_;
    image->dictionaries_ = dictionaries_;
    return image;
}

}  // namespace archive
