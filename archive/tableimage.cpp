#include "tableimage_internal.h"

#include "cp1252.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// What every image answers from its cells alone, the image of cells at hand,
// and the stamp that tells a changed file from the one an image was read from.

namespace archive {

using detail::appendCell;

std::optional<FileStamp> stampOf(const std::string& path) {
    const std::string fsName = detail::fsPath(path);
    // Without waiting, should a pipe stand in the table's place.
    const int fd = ::open(fsName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    // The clock behind the file times is coarse; two commits within one tick
    // that keep the size are told apart by the header's change counter.
    unsigned char counter[4] = {};
    if (::pread(fd, counter, sizeof counter, 24) == static_cast<ssize_t>(sizeof counter))
        stamp.changeCounter = (uint32_t{counter[0]} << 24) | (uint32_t{counter[1]} << 16) |
                              (uint32_t{counter[2]} << 8) | uint32_t{counter[3]};
    ::close(fd);
    return stamp;
}

// ---- chunks

const std::string& TableImage::Chunk::upper() const {
    std::call_once(upperOnce_, [this] {
        std::string upper;
        detail::reserveForLongTexts(upper, bytes.size());
        appendUpperCp1252(upper, bytes);
        upper_ = std::move(upper);
        upperReady_ = true;
    });
    return upper_;
}

size_t TableImage::Chunk::memory() const {
    return bytes.capacity() + offsets.capacity() * sizeof(uint32_t) + codes.capacity() * sizeof(uint16_t) +
           nulls.capacity() / 8 + numbers.capacity() * sizeof(int64_t);
}

std::shared_ptr<const TableImage> TableImage::fromCells(std::vector<Column> columns, std::span<const Cell> cells) {
    const size_t width = columns.size();
    if (width == 0 || cells.size() % width != 0) throw std::logic_error("cells of the wrong width");
    std::shared_ptr<TableImage> image(new TableImage);
    image->columns_ = std::move(columns);
    Builder builder(*image, 0);
    for (size_t r = 0; r < cells.size() / width; ++r) {
        for (size_t c = 0; c < width; ++c)
            appendCell(builder.cells(static_cast<int>(c)), cells[r * width + c],
                       image->columns_[c].kind == FieldKind::Integer, image->path_);
        builder.endRow(static_cast<int64_t>(r + 1));
    }
    builder.finish();
    return image;
}

std::vector<uint32_t> TableImage::liveRows() const {
    std::vector<uint32_t> rows;
    rows.reserve(rowCount_ - deletedCount_);
    if (deletedCount_ == 0) {
        for (uint32_t row = 0; row < rowCount_; ++row) rows.push_back(row);
    } else {
        for (uint32_t row = 0; row < rowCount_; ++row)
            if (!isDeleted(row)) rows.push_back(row);
    }
    return rows;
}

std::optional<long long> TableImage::integer(uint32_t row, int column) const {
    const Chunk& data = *cells_[column][row >> kChunkShift];
    const uint32_t i = row & (kChunkRows - 1);
    if (!data.numbers.empty()) {
        const int64_t value = data.numbers[i];
        if (!isNumber(value)) return std::nullopt;
        return value;
    }
    if (data.nulls[i]) return std::nullopt;
    return detail::parseInteger(data.text(i));
}

std::optional<uint32_t> TableImage::rowOfRowId(int64_t id) const {
    // Row ids ascend; a deleted row may share its id with a later live one.
    uint32_t low = 0;
    uint32_t high = rowCount_;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (rowId(middle) < id)
            low = middle + 1;
        else
            high = middle;
    }
    for (; low < rowCount_ && rowId(low) == id; ++low)
        if (!isDeleted(low)) return low;
    return std::nullopt;
}

size_t TableImage::cellMemory() const {
    size_t total = 0;
    for (const auto& slots : slots_) total += slots->rowIds.capacity() * sizeof(int64_t) + slots->deleted.capacity() / 8;
    for (const auto& chunks : cells_)
        for (const ChunkPtr& chunk : chunks) total += chunk->memory();
    return total;
}

size_t TableImage::totalMemory() const {
    size_t total = cellMemory();
    for (const auto& chunks : cells_)
        for (const ChunkPtr& chunk : chunks) total += chunk->upperMemory();
    std::lock_guard lock(cacheMutex_);
    for (const auto& [column, ranks] : ranks_) total += ranks->capacity() * sizeof(uint32_t);
    for (const auto& [column, dictionary] : dictionaries_) total += dictionary->memory() + dictionary->upperMemory();
    for (const auto& [keys, order] : sorted_) {
        if (order.rows) total += order.rows->capacity() * sizeof(uint32_t);
        for (const auto& [column, ranks] : order.ranksAlong) total += ranks->capacity() * sizeof(uint32_t);
    }
    for (const auto& [key, entry] : derived_) total += entry.bytes;
    return total;
}

}  // namespace archive
