#pragma once
// The in-memory image of one table file: loaded from SQLite once, compact
// (per column one byte buffer and one offset array, not a string per cell),
// never changed after loading. A query scans it and answers with row numbers.
//
// What a query needs beyond the cells is worked out on first use and kept
// with the image: the upper-cased bytes of a column, the collation rank of
// each row of a column, and the row order of each ORDER BY. A title keystroke
// then costs one pass over the upper-cased titles and no sort.

#include "engine.h"

#include <sys/types.h>

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>
#include <vector>

namespace archive {

// What tells a changed table file from the one an image was loaded from.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    uint32_t changeCounter = 0;  // SQLite counts every commit in the file header
    bool operator==(const FileStamp&) const = default;
};

// Nothing when the file cannot be examined.
std::optional<FileStamp> stampOf(const std::string& path);

// One sort key of an ORDER BY, by column index.
struct SortSpec {
    int column = 0;
    bool descending = false;
    bool operator<(const SortSpec& other) const {
        return column != other.column ? column < other.column : descending < other.descending;
    }
    bool operator==(const SortSpec&) const = default;
};

class TableImage {
public:
    // Reads the whole table; throws EngineError for a missing, foreign or
    // damaged file. `path` is the program's (Windows-1252) path.
    static std::shared_ptr<const TableImage> load(const std::string& path);

    const std::string& path() const { return path_; }
    const FileStamp& stamp() const { return stamp_; }
    const std::string& sqlTableName() const { return tableName_; }
    const std::vector<Column>& columns() const { return columns_; }
    uint32_t rowCount() const { return rowCount_; }

    std::string_view text(uint32_t row, int column) const {
        const ColumnData& data = data_[column];
        return {data.bytes.data() + data.offsets[row], data.offsets[row + 1] - data.offsets[row] - 1};
    }
    bool isNull(uint32_t row, int column) const { return data_[column].nulls[row]; }
    // Nothing for NULL or a value that is no integer.
    std::optional<long long> integer(uint32_t row, int column) const;
    int64_t rowId(uint32_t row) const { return rowIds_[row]; }
    // The row holding `rowId`; nothing when there is none.
    std::optional<uint32_t> rowOfRowId(int64_t rowId) const;

    // A column's cells back to back, each followed by a 0 byte, and where
    // each starts (rowCount() + 1 entries): row r is [offsets[r], offsets[r+1] - 1).
    struct Bytes {
        const std::string& bytes;
        const std::vector<uint32_t>& offsets;
    };
    Bytes bytes(int column) const { return {data_[column].bytes, data_[column].offsets}; }
    // The same layout upper-cased (UPPER maps byte to byte, so the offsets are shared).
    Bytes upperBytes(int column) const;
    // Integer columns: the value of each row, kNoNumber for NULL or a non-number.
    static constexpr int64_t kNoNumber = INT64_MIN;
    const std::vector<int64_t>& numbers(int column) const { return data_[column].numbers; }

    // Row numbers in the order of the keys, each with its own direction;
    // rows that tie on every key stay in stored order.
    const std::vector<uint32_t>& sortedRows(const std::vector<SortSpec>& keys) const;

    // Data a reader works out from the cells once per image and keeps for as
    // long as the image lives (the statistics' per-row facts, say): `make()`
    // runs on the first request for `key`, outside the lock, and the first
    // result stored wins. The image knows nothing of what it holds; a key
    // stands for one type only. A type with `size_t memoryBytes() const`
    // counts that in totalMemory().
    template <class T, class Factory>
    const T& derived(const std::string& key, Factory&& make) const;

    // Bytes held: the cells alone, and with everything worked out so far.
    size_t cellMemory() const;
    size_t totalMemory() const;

private:
    TableImage() = default;

    struct ColumnData {
        std::string bytes;
        std::vector<uint32_t> offsets;
        std::vector<bool> nulls;
        std::vector<int64_t> numbers;  // integer columns only
    };

    // Equal ranks for equal values; NULL lowest (rank 0).
    const std::vector<uint32_t>& ranks(int column) const;
    std::vector<uint32_t> computeRanks(int column) const;

    std::string path_;
    FileStamp stamp_;
    std::string tableName_;
    std::vector<Column> columns_;
    std::vector<ColumnData> data_;
    std::vector<int64_t> rowIds_;  // ascending: the file is read in rowid order
    uint32_t rowCount_ = 0;

    mutable std::mutex cacheMutex_;
    mutable std::map<int, std::unique_ptr<std::string>> upper_;
    mutable std::map<int, std::unique_ptr<std::vector<uint32_t>>> ranks_;
    mutable std::map<std::vector<SortSpec>, std::unique_ptr<std::vector<uint32_t>>> sorted_;

    struct Derived {
        std::shared_ptr<const void> data;
        std::type_index type;
        size_t bytes;
    };
    mutable std::map<std::string, Derived> derived_;
};

template <class T, class Factory>
const T& TableImage::derived(const std::string& key, Factory&& make) const {
    auto stored = [&](const Derived& entry) -> const T& {
        if (entry.type != std::type_index(typeid(T)))
            throw std::logic_error("derived data \"" + key + "\" asked for as another type");
        return *static_cast<const T*>(entry.data.get());
    };
    {
        std::lock_guard lock(cacheMutex_);
        const auto found = derived_.find(key);
        if (found != derived_.end()) return stored(found->second);
    }
    auto made = std::make_shared<const T>(make());
    size_t bytes = sizeof(T);
    if constexpr (requires(const T& value) { { value.memoryBytes() } -> std::convertible_to<size_t>; })
        bytes = made->memoryBytes();
    std::lock_guard lock(cacheMutex_);
    const auto [slot, inserted] = derived_.try_emplace(key, Derived{std::move(made), typeid(T), bytes});
    return stored(slot->second);
}

// The image of a table file, loaded again only when the file has changed.
std::shared_ptr<const TableImage> imageOf(const std::string& path);
// Drops the image of one file, after the engine wrote it.
void forgetImage(const std::string& path);

}  // namespace archive
