#pragma once
// Inside the table image only: what its parts (the chunk builder, the load,
// the successors after a write, the ordering indexes and the image cache)
// share. Nothing outside the image includes this.

#include "filelayer.h"
#include "tableimage.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace archive::detail {

inline uint64_t mixBits(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

inline uint64_t hashBytes(std::string_view bytes) {
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ bytes.size();
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        h = (h ^ mixBits(word)) * 0x9E3779B97F4A7C15ULL;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    return mixBits(h ^ mixBits(tail ^ 0xC2B2AE3D27D4EB4FULL));
}

// The distinct values of a column, each with the id of its first
// appearance: open addressing over the values' hashes.
template <class Value, class Hash>
class Distinct {
public:
    std::vector<Value> values;

    uint32_t idOf(const Value& value) {
        if ((values.size() + 1) * 2 > slots_.size()) grow();
        const uint64_t hash = Hash{}(value);
        for (size_t slot = hash & mask_;; slot = (slot + 1) & mask_) {
            Slot& entry = slots_[slot];
            if (entry.id == kEmpty) {
                entry = {hash, static_cast<uint32_t>(values.size())};
                values.push_back(value);
                return entry.id;
            }
            if (entry.hash == hash && values[entry.id] == value) return entry.id;
        }
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        uint64_t hash = 0;
        uint32_t id = kEmpty;
    };

    void grow() {
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(std::max<size_t>(64, slots_.size() * 2)));
        mask_ = slots_.size() - 1;
        for (const Slot& entry : old) {
            if (entry.id == kEmpty) continue;
            size_t slot = entry.hash & mask_;
            while (slots_[slot].id != kEmpty) slot = (slot + 1) & mask_;
            slots_[slot] = entry;
        }
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
};

// A text this long is a long text: a copy of it costs about what reading
// it costs, so the image copies it as seldom as it can.
constexpr size_t kLongTextBytes = size_t{256} << 10;

// Asks that the untouched `room` of `bytes`, megabytes long and about to
// be written whole, come in large pages: each costs one fault where small
// ones cost hundreds. Where the system gives none for the asking, nothing
// changes.
void askForLargePages(const void* room, size_t bytes);

// Room for `more` elements in `values`, to be written once, whole: it asks
// for large pages, each of which costs one fault where small ones cost
// hundreds. Where the system gives none for the asking, it is plain room.
template <class Container>
void reserveInLargePages(Container& values, size_t more) {
    values.reserve(values.size() + more);
    askForLargePages(values.data(), values.capacity() * sizeof(*values.data()));
}

// Room for `bytes` more in `text`, which long texts will fill.
template <class Text>
void reserveForLongTexts(Text& text, size_t bytes) {
    reserveInLargePages(text, bytes);
}

// A long text is hashed by its length and its first and last bytes: texts
// with equal hashes are told apart by their bytes, which a comparison leaves
// at the first difference, so a long text costs no more than a short one.
constexpr size_t kHashedEnds = 128;
struct HashText {
    uint64_t operator()(std::string_view text) const {
        if (text.size() <= 2 * kHashedEnds) return hashBytes(text);
        return hashBytes(text.substr(0, kHashedEnds)) ^
               mixBits(hashBytes(text.substr(text.size() - kHashedEnds)) + text.size());
    }
};
struct HashNumber {
    uint64_t operator()(int64_t number) const { return mixBits(static_cast<uint64_t>(number) ^ 0x9E3779B97F4A7C15ULL); }
};
using DistinctTexts = Distinct<std::string_view, HashText>;
using DistinctNumbers = Distinct<int64_t, HashNumber>;

// ---- cells of a chunk

using Chunk = TableImage::Chunk;

// A plain chunk of our own to change: a copy of the first `rows` cells of `from`.
std::shared_ptr<Chunk> copyOf(const Chunk& from, uint32_t rows);

inline void endCell(Chunk& chunk, const std::string& path) {
    chunk.bytes += '\0';
    if (chunk.bytes.size() >= UINT32_MAX) throw EngineError(detail::notATableText(path));
    chunk.offsets.push_back(static_cast<uint32_t>(chunk.bytes.size()));
}

// A cell as a fresh read of the file gives it: an integer column's number
// worked out from its text.
void appendCell(Chunk& chunk, const Cell& cell, bool integerColumn, const std::string& path);

inline bool sameCell(const Chunk& chunk, uint32_t i, const Cell& cell) {
    return chunk.nulls[i] ? !cell : cell && chunk.text(i) == *cell;
}

// A text chunk that repeats its values keeps each once, where that pays.
void encodeRepeats(Chunk& chunk);

// ---- reading the file

// The text of a column of the current row (UTF-8; empty for NULL).
std::string_view columnText(sqlite3_stmt* stmt, int index);
// The text of a cell's value that is not NULL (UTF-8). The connections that
// read whole columns run without SQLite's mutex, where a column's value may
// be read through the value interfaces: one call per cell instead of three.
std::string_view valueText(const Database& db, sqlite3_value* value, const std::string& path);

// The one table of ours in the file and its fields; a file holding anything
// else is not a table of ours, and the text says what it holds instead.
void readSchema(const Database& db, const std::string& path, std::string& tableName, std::vector<Column>& columns);

// The statement giving a table's least and greatest row id (both NULL when
// it has no rows), without reading its rows.
std::string rowIdEndsStatement(std::string_view quotedTable);

// SQLite's check of every page of the file (b-tree pages, cells, free
// list), in the state of the read transaction `db` is in: nothing for a
// sound file, else the damage text with SQLite's first finding.
std::string damageFoundIn(const Database& db, const std::string& path);

// ---- filling an image row by row

class RepeatCoder;

}  // namespace archive::detail

namespace archive {

// Fills the chunks of an image row by row: the load, and the rows a write
// appends. Starts behind row `from`, taking over the chunk that holds it as
// a copy of its own (the image it came from keeps the original).
class TableImage::Builder {
public:
    Builder(TableImage& image, uint32_t from);
    ~Builder();
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    // The chunk the current row's cell of `column` goes to: one cell per
    // column, then endRow().
    Chunk& cells(int column) { return *current_[static_cast<size_t>(column)]; }

    // Text cells of a load are kept as repeats from the first cell of each
    // new chunk on; cells then go through appendText().
    void codeRepeats();
    // A text cell from the file (UTF-8; none for NULL).
    void appendText(int column, std::optional<std::string_view> utf8);
    void endRow(int64_t rowId) {
        if (image_.rowCount_ == UINT32_MAX - 1) throw EngineError(detail::notATableText(image_.path_));
        slots_->rowIds.push_back(rowId);
        if (!slots_->deleted.empty()) slots_->deleted.push_back(false);
        ++image_.rowCount_;
        if (slots_->rowIds.size() == kChunkRows) flush();
    }
    void finish() {
        if (!slots_->rowIds.empty()) flush();
        if (room_) leaveRoom();
    }
    // Fills the chunk begun with deleted rows: empty cells, the last row id again.
    void padChunk();
    // Each chunk and its row ids are kept in `room`, exactly as large as they
    // are; the builder's own containers are used again for the next. The
    // room's last large page, partly filled, goes back to the system at the
    // end, and what it held to the heap.
    void keepChunksIn(std::shared_ptr<detail::LargePageRoom> room) { room_ = std::move(room); }

private:
    void flush();
    void leaveRoom();
    // Copies with room for exactly what they hold, in `room` or on the heap.
    static std::shared_ptr<Chunk> exactCopy(const Chunk& from, const std::shared_ptr<detail::LargePageRoom>& room);
    static std::shared_ptr<Slots> exactCopy(const Slots& from, const std::shared_ptr<detail::LargePageRoom>& room);

    TableImage& image_;
    std::vector<std::shared_ptr<Chunk>> current_;
    std::shared_ptr<Slots> slots_;
    std::vector<std::unique_ptr<detail::RepeatCoder>> coders_;  // text columns of a load
    std::vector<bool> longTexts_;  // the current chunk of the column holds a long text
    std::shared_ptr<detail::LargePageRoom> room_;
    // Where the room stood after each chunk (column, or -1 for row ids) was
    // kept in it, in the order kept.
    struct KeptPiece {
        int column;
        size_t index;
        const char* end;
    };
    std::vector<KeptPiece> kept_;
};

}  // namespace archive
