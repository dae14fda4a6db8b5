#pragma once
// The in-memory image of one table file: loaded from SQLite once (a large
// file by two threads), compact (per column one byte buffer and one offset
// array per chunk of rows, not a string per cell; a chunk that repeats its
// values keeps each once). A query scans it and answers with row numbers.
//
// What a query needs beyond the cells is worked out on first use and kept
// with the image: the collation rank of each row of a column, the column's
// distinct values in rank order, and the row orders of the last few ORDER
// BYs (sortedRows() says how many). A title keystroke then tests each
// distinct title once and walks the sort order with the ranks, with no sort.
//
// An image never changes once made. Whoever holds one (the cache of images,
// a query's result, a table, the statistics walking a query's rows) reads it
// without locks and without fear of a write in between: when the engine has
// written rows to the file itself, it makes a new image out of the old one
// and the rows it wrote, and puts the new one into the cache in place of the
// old. The old image lives on unchanged for as long as a data set still holds
// it, so a query opened before the write keeps reading the rows, and the row
// numbers, it was opened on; it sees the write when it is opened again.
//
// A new image must cost about what was written, not a copy of a million
// rows. So the cells lie in chunks of kChunkRows consecutive rows, per column,
// each chunk held by shared_ptr: a new image shares every chunk it does not
// change, copies the chunk of an edited row only in the columns whose value
// changed, and the last chunk when rows are appended. A deleted row keeps its
// row number and its cells, marked deleted: no other row moves, queries and
// tables never show it, and the slots go when the file is next read whole
// (when deleted rows pile up, or when the file changed from outside).
//
// The new image takes over of the worked-out data what the write cannot have
// touched: upper-cased bytes live in the chunk they belong to; the ranks of a
// column travel along unless a value of that column changed or rows were
// appended; a sort order travels along when the write was an edit and none of
// its columns changed. Everything else, readers' derived data included, is
// worked out again on first use, never eagerly by the write.

#include "valuetypes.h"

#include <sys/types.h>

#include <atomic>
#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>
#include <vector>

namespace archive {
namespace detail {
class Database;
class LargePageRoom;
struct ImageFileCodec;
}

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

// Thrown by a load its caller cancelled.
struct LoadCancelled {};

// The containers of an image's cells: their room comes from the heap, or,
// for an image read from its cache file or a large table read from the
// file, from large blocks of the image's own (detail::HeldRoom).
using CellBytes = std::pmr::string;
template <class T>
using CellArray = std::pmr::vector<T>;

namespace detail {
// Keeps the room that containers beside it took their memory from for as
// long as they live: declared before them, it goes after them. A copy of
// such containers takes its room from the heap, so a copy holds nothing; a
// move takes the room along, as the containers do; an assignment leaves
// each its own, as it leaves the containers theirs.
class HeldRoom {
public:
    HeldRoom() = default;
    explicit HeldRoom(std::shared_ptr<std::pmr::memory_resource> room) : room_(std::move(room)) {}
    HeldRoom(const HeldRoom&) noexcept {}
    HeldRoom(HeldRoom&&) noexcept = default;
    HeldRoom& operator=(const HeldRoom&) noexcept { return *this; }
    HeldRoom& operator=(HeldRoom&&) noexcept { return *this; }
    ~HeldRoom() = default;
    // What the containers beside it are made with.
    std::pmr::memory_resource* get() const {
        return room_ ? room_.get() : std::pmr::get_default_resource();
    }

private:
    std::shared_ptr<std::pmr::memory_resource> room_;
};

// The test seam of the load, null in the program: called once the rows are
// read, before the load looks whether the file changed meanwhile.
using RowsReadHook = void (*)(const std::string& path);
extern RowsReadHook rowsReadHook;
// Called by each half of a load (`upperHalf` for the one above the middle
// row id) after every chunk of rows, before it looks whether to stop; what
// it throws fails that half. `halt` is the flag by which the halves of a
// two-thread load stop each other (null for a load on one thread).
using ChunkReadHook = void (*)(bool upperHalf, const std::atomic<bool>* halt);
extern ChunkReadHook chunkReadHook;
}  // namespace detail

class TableImage {
public:
    static constexpr uint32_t kChunkShift = 12;
    static constexpr uint32_t kChunkRows = 1u << kChunkShift;

    // The cells of one column for up to kChunkRows consecutive rows. Plain:
    // back to back, each followed by a 0 byte, cell i is [offsets[i],
    // offsets[i+1] - 1). A chunk that repeats few values (categories,
    // publishers, comments) holds each distinct value once that way instead,
    // and `codes` names the entry of every cell; entry(i) says which.
    class Chunk {
        detail::HeldRoom room_;

    public:
        Chunk() = default;
        // Cells in `room`, which the chunk keeps; its offsets start empty,
        // for a reader that fills them in whole.
        explicit Chunk(std::shared_ptr<std::pmr::memory_resource> room)
            : room_(std::move(room)), bytes(room_.get()), offsets(room_.get()), codes(room_.get()),
              nulls(room_.get()), numbers(room_.get()) {}

        CellBytes bytes;
        CellArray<uint32_t> offsets{0};
        CellArray<uint16_t> codes;   // empty for a plain chunk
        CellArray<bool> nulls;
        CellArray<int64_t> numbers;  // integer columns only

        uint32_t rows() const {
            return static_cast<uint32_t>(codes.empty() ? offsets.size() - 1 : codes.size());
        }
        uint32_t entry(uint32_t i) const { return codes.empty() ? i : codes[i]; }
        // The values held: one per row in a plain chunk, each distinct one once otherwise.
        uint32_t entryCount() const { return static_cast<uint32_t>(offsets.size() - 1); }
        std::string_view entryText(uint32_t e) const {
            return {bytes.data() + offsets[e], offsets[e + 1] - offsets[e] - 1};
        }
        std::string_view text(uint32_t i) const { return entryText(entry(i)); }
        // The same bytes upper-cased (UPPER maps byte to byte, so the offsets
        // are shared), worked out on first use.
        const std::string& upper() const;
        size_t memory() const;
        size_t upperMemory() const { return upperReady_ ? upper_.capacity() : 0; }

    private:
        mutable std::once_flag upperOnce_;
        mutable std::string upper_;
        mutable std::atomic<bool> upperReady_{false};
    };

    // Reads the whole table; throws EngineError for a missing, foreign or
    // damaged file. `path` is the program's (Windows-1252) path.
    // A load whose `cancel` turns true is abandoned: it throws LoadCancelled.
    // A file changed while its rows were read is read again; one that keeps
    // changing throws EngineError.
    static std::shared_ptr<const TableImage> load(const std::string& path, const std::atomic<bool>* cancel = nullptr);
    // The same for a reader that needs a few fields of a large table once:
    // only the fields named (any letter case; those the table lacks are left
    // out) are read, into an image of the caller's own that no cache holds.
    // The table's cache file, when it still stands for the file, costs less
    // than reading even one column: then that whole image comes back.
    static std::shared_ptr<const TableImage> loadFields(const std::string& path,
                                                        std::span<const std::string_view> fields);
    // An image of rows at hand rather than of a file, for what works on an
    // image alone (the query evaluation's tests): `cells` holds
    // columns.size() cells per row; the rows get the ids 1, 2, … in order.
    static std::shared_ptr<const TableImage> fromCells(std::vector<Column> columns, std::span<const Cell> cells);

    const std::string& path() const { return path_; }
    const FileStamp& stamp() const { return stamp_; }

    // SQLite's own check of every page of the file (PRAGMA quick_check, in
    // the state the rows were read from) runs in the background once the
    // rows are read, so it costs no time a reader waits for while the first
    // result is being sorted. Rows read from a damaged b-tree may be blank,
    // doubled or missing without any error on the way: no data set shows
    // them. Waits for the check; throws EngineError saying that the table is
    // damaged, and SQLite's finding in brackets.
    void requireSound() const;
    const std::string& sqlTableName() const { return tableName_; }
    const std::vector<Column>& columns() const { return columns_; }
    // The names of all the table's fields, also of those an image of some
    // fields left out.
    std::vector<std::string> fieldNames() const;
    // An image of some fields only (loadFields), never to stand for the table.
    bool partial() const { return !tableFields_.empty(); }
    // One past the highest row number; deleted rows keep their numbers and count here.
    uint32_t rowCount() const { return rowCount_; }
    uint32_t deletedCount() const { return deletedCount_; }
    bool isDeleted(uint32_t row) const {
        const Slots& chunk = *slots_[row >> kChunkShift];
        return !chunk.deleted.empty() && chunk.deleted[row & (kChunkRows - 1)];
    }
    // The rows not deleted, ascending: the table's stored order.
    std::vector<uint32_t> liveRows() const;

    std::string_view text(uint32_t row, int column) const {
        return cells_[column][row >> kChunkShift]->text(row & (kChunkRows - 1));
    }
    bool isNull(uint32_t row, int column) const {
        return cells_[column][row >> kChunkShift]->nulls[row & (kChunkRows - 1)];
    }
    // Nothing for NULL or a value that is no integer.
    std::optional<long long> integer(uint32_t row, int column) const;
    int64_t rowId(uint32_t row) const { return slots_[row >> kChunkShift]->rowIds[row & (kChunkRows - 1)]; }
    // The row holding `rowId`; nothing when there is none (or it was deleted).
    std::optional<uint32_t> rowOfRowId(int64_t rowId) const;

    // The chunks of a column, in row order: chunk k holds rows from k * kChunkRows on.
    uint32_t chunkCount() const { return static_cast<uint32_t>(slots_.size()); }
    const Chunk& chunk(int column, uint32_t index) const { return *cells_[column][index]; }
    // Integer columns: kNoNumber stands for NULL or a text that is no
    // number, kBlobCell for a BLOB (its bytes are the cell's text), which
    // is no number either and sorts after every text, as SQLite sorts it.
    // Neither is taken for the integer it would be.
    static constexpr int64_t kNoNumber = INT64_MIN;
    static constexpr int64_t kBlobCell = INT64_MIN + 1;
    static constexpr bool isNumber(int64_t value) { return value > kBlobCell; }

    // The live row numbers in the order of the keys, each with its own
    // direction; rows that tie on every key stay in stored order.
    // An image keeps the kKeptOrders orders last asked for (each with the
    // ranks along it), not every order it was ever sorted in: at a million
    // rows each costs megabytes, and a user sorts by every column in turn.
    // When an order goes, so do the ranks of the columns no kept order sorts
    // by. What sortedRows() and ranksAlong() hand out stays valid while
    // fewer than kKeptOrders other orders are asked for on the image; what
    // ranks() hands out, only until an order is asked for that does not sort
    // by that column.
    static constexpr size_t kKeptOrders = 2;
    const std::vector<uint32_t>& sortedRows(const std::vector<SortSpec>& keys) const;

    // The collation rank of each row's cell in `column`: 0 for NULL, then
    // 1, 2, ... for the distinct values in ascending order; equal ranks,
    // equal bytes.
    const std::vector<uint32_t>& ranks(int column) const;
    // The ranks of `column` for the rows of sortedRows(keys), in that order.
    const std::vector<uint32_t>& ranksAlong(const std::vector<SortSpec>& keys, int column) const;
    // The distinct values of `column` in rank order, as the cells of one
    // chunk: cell r holds the value of rank r, cell 0 stands for NULL. A
    // condition on the column is tested once per distinct value here, and
    // the rows take the outcome through their ranks.
    const Chunk& dictionary(int column) const;
    // The same when it has been worked out already, else null: for a reader
    // that has a way of its own and must not pay for sorting the column.
    const Chunk* dictionaryIfAtHand(int column) const;

    // Data a reader works out from the cells once per image and keeps for as
    // long as the image lives (the statistics' per-row facts, say): `make()`
    // runs on the first request for `key`, outside the lock, and the first
    // result stored wins. The image knows nothing of what it holds; a key
    // stands for one type only. A type with `size_t memoryBytes() const`
    // counts that in totalMemory(). An image made by a write starts without.
    template <class T, class Factory>
    const T& derived(const std::string& key, Factory&& make) const;

    // Bytes held: the cells alone, and with everything worked out so far.
    size_t cellMemory() const;
    size_t totalMemory() const;

    // ---- the image after the engine's own write to the file, which now has
    // `stamp`. The cells are those the file holds now, one per column in
    // column order: an integer column's value as its decimal text.

    // Row `row` now holds `cells`.
    std::shared_ptr<const TableImage> withRowChanged(uint32_t row, std::span<const Cell> cells,
                                                     const FileStamp& stamp) const;
    // Rows appended at the end: `cells` holds columns().size() cells per row
    // id. Nothing when a row id does not follow the last one (the file's
    // order would differ from the image's): read the file again then.
    std::shared_ptr<const TableImage> withRowsAppended(std::span<const int64_t> rowIds, std::span<const Cell> cells,
                                                       const FileStamp& stamp) const;
    std::shared_ptr<const TableImage> withRowDeleted(uint32_t row, const FileStamp& stamp) const;

private:
    TableImage() = default;
    class Builder;
    // Writes an image to its cache file and makes one of it again.
    friend struct detail::ImageFileCodec;

    // One read of the file; nothing when the file changed while it was read.
    // `fields`: the fields to read, null for all.
    static std::shared_ptr<const TableImage> loadUnlessChanged(const std::string& path,
                                                               const std::atomic<bool>* cancel,
                                                               std::span<const std::string_view>* fields = nullptr);
    // Stops with LoadCancelled once `cancel` or `halt` (the other half of a
    // two-thread load failed) turns true. The chunks go to `room` where one is given.
    void readRows(const detail::Database& db, const std::string& path, std::optional<int64_t> after,
                  std::optional<int64_t> upTo, const std::atomic<bool>* cancel, const std::atomic<bool>* halt,
                  std::shared_ptr<detail::LargePageRoom> room = nullptr);
    void appendPart(TableImage&& part);

    // Row ids and deletion marks of one chunk of rows.
    struct Slots {
        Slots() = default;
        explicit Slots(std::shared_ptr<std::pmr::memory_resource> in)
            : room(std::move(in)), rowIds(room.get()), deleted(room.get()) {}
        detail::HeldRoom room;
        CellArray<int64_t> rowIds;
        CellArray<bool> deleted;  // empty while none is deleted
    };
    using ChunkPtr = std::shared_ptr<const Chunk>;
    using Ranks = std::shared_ptr<const std::vector<uint32_t>>;
    using Order = std::shared_ptr<const std::vector<uint32_t>>;

    // A new image with this one's cells and rows, the file's new stamp and
    // nothing worked out yet.
    std::shared_ptr<TableImage> successor(const FileStamp& stamp) const;

    // A text column's distinct values come out in rank order on the way:
    // they are handed back as the column's dictionary.
    std::vector<uint32_t> computeRanks(int column, std::shared_ptr<const Chunk>& dictionary) const;

    struct Check;
    // Starts the check on a connection the rows were read through, whose
    // read transaction it ends.
    void startCheck(std::shared_ptr<Check> check);
    // The verdict of a file the hard-disk copy has found sound already.
    void knownSoundVerdict();
    // Waits for the check while `stop` stays false: true once the file was
    // found sound, false for a damaged or unchecked one or when stopped.
    bool foundSound(const std::atomic<bool>& stop) const;

    std::string path_;
    FileStamp stamp_;
    // The check's outcome: empty for a sound file, else the error text.
    // Successors share it: the engine writes only to a table found sound.
    struct Verdict;
    std::shared_ptr<const Verdict> verdict_;
    std::string tableName_;
    std::vector<Column> columns_;
    std::vector<std::string> tableFields_;  // all the table's fields, for a partial image only
    std::vector<std::vector<ChunkPtr>> cells_;  // [column][chunk]
    std::vector<std::shared_ptr<const Slots>> slots_;  // [chunk]
    uint32_t rowCount_ = 0;
    uint32_t deletedCount_ = 0;
    // Made out of another image after the engine's own write: the cache file
    // is left to the next load, not rewritten whole after every edit.
    bool madeByWrite_ = false;

    mutable std::mutex cacheMutex_;
    mutable std::map<int, Ranks> ranks_;
    // Made from the ranks: travels along wherever they do.
    mutable std::map<int, std::shared_ptr<const Chunk>> dictionaries_;
    // An order worked out, and the ranks of columns along it, dropped together.
    struct KeptOrder {
        Order rows;  // null while only ranks along it were asked for
        std::map<int, Ranks> ranksAlong;
        uint64_t lastUse = 0;
    };
    mutable std::map<std::vector<SortSpec>, KeptOrder> sorted_;
    mutable uint64_t orderUses_ = 0;
    // Under cacheMutex_: marks `keys` used now and drops the least recently
    // used orders beyond kKeptOrders (never `keys`).
    KeptOrder& useOrder(const std::vector<SortSpec>& keys) const;

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

}  // namespace archive
