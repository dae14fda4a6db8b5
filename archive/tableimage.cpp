#include "tableimage.h"

#include "cp1252.h"
#include "filelayer.h"
#include "transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <list>
#include <numeric>

namespace archive {
namespace {

using detail::Command;
using detail::Database;

// ---- collation: letter case ignored, accented letters with their base
// letter, ß as ss; ties are broken by the bytes afterwards.

struct Weight {
    char bytes[2];
    uint8_t length;
};

std::array<Weight, 256> makeWeights() {
    std::array<Weight, 256> weights{};
    for (int b = 0; b < 256; ++b) weights[b] = {{static_cast<char>(b), 0}, 1};
    auto set = [&](std::initializer_list<int> bytes, const char* weight) {
        for (int b : bytes) weights[b] = {{weight[0], weight[1]}, static_cast<uint8_t>(std::strlen(weight))};
    };
    for (int b = 'A'; b <= 'Z'; ++b) weights[b].bytes[0] = static_cast<char>(b - 'A' + 'a');
    set({0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5}, "a");
    set({0xC6, 0xE6}, "ae");
    set({0xC7, 0xE7}, "c");
    set({0xD0, 0xF0}, "d");
    set({0xC8, 0xC9, 0xCA, 0xCB, 0xE8, 0xE9, 0xEA, 0xEB}, "e");
    set({0x83}, "f");
    set({0xCC, 0xCD, 0xCE, 0xCF, 0xEC, 0xED, 0xEE, 0xEF}, "i");
    set({0xD1, 0xF1}, "n");
    set({0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD8, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF8}, "o");
    set({0x8C, 0x9C}, "oe");
    set({0x8A, 0x9A}, "s");
    set({0xDF}, "ss");
    set({0xDE, 0xFE}, "th");
    set({0xD9, 0xDA, 0xDB, 0xDC, 0xF9, 0xFA, 0xFB, 0xFC}, "u");
    set({0xDD, 0xFD, 0xFF, 0x9F}, "y");
    set({0x8E, 0x9E}, "z");
    return weights;
}

const std::array<Weight, 256> kWeights = makeWeights();

// A sort entry that keeps the first key bytes at hand, so most comparisons
// never leave the array being sorted.
struct TextEntry {
    uint64_t prefix;
    uint32_t row;
};

struct NumberEntry {
    int64_t value;
    uint32_t row;
};

FieldKind kindOfDeclaredType(std::string_view declared, bool& known) {
    const std::string upper = upperCp1252(declared);
    known = true;
    if (upper.find("INT") != std::string::npos) return FieldKind::Integer;
    if (upper.find("CHAR") != std::string::npos || upper.find("CLOB") != std::string::npos ||
        upper.find("TEXT") != std::string::npos)
        return FieldKind::Text;
    known = false;
    return FieldKind::Text;
}

std::string_view columnText(sqlite3_stmt* stmt, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(stmt, index))) : std::string_view();
}

}  // namespace

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
        upper_ = upperCp1252(bytes);
        upperReady_ = true;
    });
    return upper_;
}

size_t TableImage::Chunk::memory() const {
    return bytes.capacity() + offsets.capacity() * sizeof(uint32_t) + nulls.capacity() / 8 +
           numbers.capacity() * sizeof(int64_t);
}

namespace {

using Chunk = TableImage::Chunk;

// A chunk of our own to change: a copy of the first `rows` cells of `from`.
std::shared_ptr<Chunk> copyOf(const Chunk& from, uint32_t rows) {
    auto chunk = std::make_shared<Chunk>();
    chunk->offsets.assign(from.offsets.begin(), from.offsets.begin() + rows + 1);
    chunk->bytes.assign(from.bytes, 0, chunk->offsets.back());
    chunk->nulls.assign(from.nulls.begin(), from.nulls.begin() + rows);
    if (!from.numbers.empty()) chunk->numbers.assign(from.numbers.begin(), from.numbers.begin() + rows);
    return chunk;
}

void endCell(Chunk& chunk, const std::string& path) {
    chunk.bytes += '\0';
    if (chunk.bytes.size() >= UINT32_MAX) throw EngineError(detail::notATableText(path));
    chunk.offsets.push_back(static_cast<uint32_t>(chunk.bytes.size()));
}

// A cell as a fresh read of the file gives it: an integer column's number
// worked out from its text.
void appendCell(Chunk& chunk, const Cell& cell, bool integerColumn, const std::string& path) {
    chunk.nulls.push_back(!cell);
    int64_t number = TableImage::kNoNumber;
    if (cell) {
        chunk.bytes += *cell;
        if (integerColumn)
            if (const std::optional<long long> parsed = detail::parseInteger(*cell)) number = *parsed;
    }
    endCell(chunk, path);
    if (integerColumn) chunk.numbers.push_back(number);
}

bool sameCell(const Chunk& chunk, uint32_t i, const Cell& cell) {
    return chunk.nulls[i] ? !cell : cell && chunk.text(i) == *cell;
}

// Also trims capacity: a loaded image is kept for long.
void shrink(Chunk& chunk) {
    chunk.bytes.shrink_to_fit();
    chunk.offsets.shrink_to_fit();
    chunk.nulls.shrink_to_fit();
    chunk.numbers.shrink_to_fit();
}

}  // namespace

// Fills the chunks of an image row by row: the load, and the rows a write
// appends. Starts behind row `from`, taking over the chunk that holds it as
// a copy of its own (the image it came from keeps the original).
class TableImage::Builder {
public:
    Builder(TableImage& image, uint32_t from) : image_(image) {
        const size_t columns = image.columns_.size();
        image.cells_.resize(columns);
        const uint32_t full = from >> kChunkShift;
        const uint32_t rest = from & (kChunkRows - 1);
        current_.resize(columns);
        for (size_t c = 0; c < columns; ++c) {
            auto& chunks = image.cells_[c];
            current_[c] = rest ? copyOf(*chunks[full], rest) : std::make_shared<Chunk>();
            chunks.resize(full);
        }
        slots_ = std::make_shared<Slots>();
        if (rest) {
            const Slots& old = *image.slots_[full];
            slots_->rowIds.assign(old.rowIds.begin(), old.rowIds.begin() + rest);
            if (!old.deleted.empty()) slots_->deleted.assign(old.deleted.begin(), old.deleted.begin() + rest);
        }
        for (uint32_t row = from; row < image.rowCount_; ++row)
            if (image.isDeleted(row)) --image.deletedCount_;
        image.slots_.resize(full);
        image.rowCount_ = from;
    }

    // The chunk the current row's cell of `column` goes to: one cell per
    // column, then endRow().
    Chunk& cells(int column) { return *current_[static_cast<size_t>(column)]; }

    void endRow(int64_t rowId) {
        if (image_.rowCount_ == UINT32_MAX - 1) throw EngineError(detail::notATableText(image_.path_));
        slots_->rowIds.push_back(rowId);
        if (!slots_->deleted.empty()) slots_->deleted.push_back(false);
        ++image_.rowCount_;
        if (slots_->rowIds.size() == kChunkRows) flush();
    }

    void finish() {
        if (!slots_->rowIds.empty()) flush();
    }

private:
    void flush() {
        for (size_t c = 0; c < current_.size(); ++c) {
            shrink(*current_[c]);
            image_.cells_[c].push_back(std::move(current_[c]));
            current_[c] = std::make_shared<Chunk>();
            if (slots_->rowIds.size() == kChunkRows) current_[c]->bytes.reserve(image_.cells_[c].back()->bytes.size());
        }
        image_.slots_.push_back(std::move(slots_));
        slots_ = std::make_shared<Slots>();
        slots_->rowIds.reserve(kChunkRows);
    }

    TableImage& image_;
    std::vector<std::shared_ptr<Chunk>> current_;
    std::shared_ptr<Slots> slots_;
};

std::shared_ptr<const TableImage> TableImage::load(const std::string& path) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::unreadableText(path));

    std::shared_ptr<TableImage> image(new TableImage);
    image->path_ = path;
    image->stamp_ = *stamp;

    Database db = Database::openReadOnly(path);
    // Opening may have rolled back a killed writer's change: the image shows
    // the file as it is now.
    if (const std::optional<FileStamp> now = stampOf(path)) image->stamp_ = *now;
    // One read transaction: schema and rows come from the same state of the file.
    detail::Transaction transaction(db, path, detail::Transaction::Lock::Deferred);

    {
        Command tables(db,
                       "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
                       path);
        int count = 0;
        while (tables.step()) {
            image->tableName_ = std::string(columnText(tables.get(), 0));
            ++count;
        }
        if (count != 1) throw EngineError(detail::notATableText(path));
    }
    {
        Command info(db, "SELECT name, type FROM pragma_table_info(?1)", path);
        info.utf8(image->tableName_);
        while (info.step()) {
            bool known = false;
            const FieldKind kind = kindOfDeclaredType(columnText(info.get(), 1), known);
            if (!known) throw EngineError(detail::notATableText(path));
            image->columns_.push_back({utf8ToCp1252(columnText(info.get(), 0)), kind});
        }
        if (image->columns_.empty()) throw EngineError(detail::notATableText(path));
    }

    const int columnCount = static_cast<int>(image->columns_.size());
    std::string select = "SELECT rowid";
    for (const Column& column : image->columns_) select += ", " + detail::quotedIdentifier(detail::fsPath(column.name));
    select += " FROM " + detail::quotedIdentifier(image->tableName_) + " ORDER BY rowid";
    std::unique_ptr<Command> rows;
    try {
        rows = std::make_unique<Command>(db, select, path);
    } catch (const EngineError&) {
        throw EngineError(detail::notATableText(path));  // e.g. a table without row ids
    }

    Builder builder(*image, 0);
    sqlite3_stmt* stmt = rows->get();
    char digits[24];
    while (rows->step()) {
        for (int c = 0; c < columnCount; ++c) {
            Chunk& data = builder.cells(c);
            const bool integerColumn = image->columns_[c].kind == FieldKind::Integer;
            const int type = sqlite3_column_type(stmt, c + 1);
            int64_t number = kNoNumber;
            if (type == SQLITE_NULL) {
                data.nulls.push_back(true);
            } else {
                data.nulls.push_back(false);
                if (integerColumn && type == SQLITE_INTEGER) {
                    number = sqlite3_column_int64(stmt, c + 1);
                    const auto result = std::to_chars(digits, digits + sizeof digits, number);
                    data.bytes.append(digits, result.ptr);
                } else {
                    const std::string_view utf8 = columnText(stmt, c + 1);
                    if (utf8.data() == nullptr && sqlite3_errcode(db.get()) == SQLITE_NOMEM)
                        detail::throwForSqlite(SQLITE_NOMEM, path, db.lastError());
                    const size_t start = data.bytes.size();
                    appendUtf8AsCp1252(data.bytes, utf8);
                    if (integerColumn) {
                        const std::optional<long long> parsed =
                            detail::parseInteger(std::string_view(data.bytes).substr(start));
                        if (parsed) number = *parsed;
                    }
                }
            }
            endCell(data, path);
            if (integerColumn) data.numbers.push_back(number);
        }
        builder.endRow(sqlite3_column_int64(stmt, 0));
    }
    builder.finish();
    rows.reset();
    transaction.commit();
    return image;
}

std::shared_ptr<TableImage> TableImage::successor(const FileStamp& stamp) const {
    std::shared_ptr<TableImage> image(new TableImage);
    image->path_ = path_;
    image->stamp_ = stamp;
    image->tableName_ = tableName_;
    image->columns_ = columns_;
    image->cells_ = cells_;
    image->slots_ = slots_;
    image->rowCount_ = rowCount_;
    image->deletedCount_ = deletedCount_;
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
        const Chunk& old = *cells_[c][index];
        if (sameCell(old, at, cells[c])) continue;
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
    for (const auto& [keys, order] : sorted_)
        if (std::none_of(keys.begin(), keys.end(), [&](const SortSpec& key) { return changed[key.column]; }))
            image->sorted_.emplace(keys, order);
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
        if (value == kNoNumber) return std::nullopt;
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

const std::vector<uint32_t>& TableImage::ranks(int column) const {
    {
        std::lock_guard lock(cacheMutex_);
        const auto found = ranks_.find(column);
        if (found != ranks_.end()) return *found->second;
    }
    auto computed = std::make_shared<const std::vector<uint32_t>>(computeRanks(column));
    std::lock_guard lock(cacheMutex_);
    Ranks& slot = ranks_[column];
    if (!slot) slot = std::move(computed);
    return *slot;
}

std::vector<uint32_t> TableImage::computeRanks(int column) const {
    std::vector<uint32_t> ranks(rowCount_, 0);  // NULL stays 0, below everything

    // The non-null values in ascending order, then one rank per distinct value.
    if (columns_[column].kind == FieldKind::Integer) {
        // Values that are no number (only from a foreign file) sort below the numbers, by their bytes.
        std::vector<NumberEntry> numbers;
        std::vector<uint32_t> others;
        for (uint32_t row = 0; row < rowCount_; ++row) {
            if (isNull(row, column)) continue;
            const int64_t number = cells_[column][row >> kChunkShift]->numbers[row & (kChunkRows - 1)];
            if (number == kNoNumber)
                others.push_back(row);
            else
                numbers.push_back({number, row});
        }
        std::sort(others.begin(), others.end(),
                  [&](uint32_t a, uint32_t b) { return text(a, column) < text(b, column); });
        std::sort(numbers.begin(), numbers.end(), [](const NumberEntry& a, const NumberEntry& b) {
            return a.value != b.value ? a.value < b.value : a.row < b.row;
        });
        uint32_t rank = 0;
        for (size_t i = 0; i < others.size(); ++i) {
            if (i == 0 || text(others[i - 1], column) != text(others[i], column)) ++rank;
            ranks[others[i]] = rank;
        }
        for (size_t i = 0; i < numbers.size(); ++i) {
            if (i == 0 || numbers[i - 1].value != numbers[i].value) ++rank;
            ranks[numbers[i].row] = rank;
        }
        return ranks;
    }

    // Text: the collation key of every row, back to back.
    std::string keys;
    size_t cellBytes = 0;
    for (const ChunkPtr& chunk : cells_[column]) cellBytes += chunk->bytes.size();
    keys.reserve(cellBytes + cellBytes / 16);
    std::vector<size_t> keyOffsets(rowCount_ + 1, 0);
    std::vector<TextEntry> entries;
    entries.reserve(rowCount_);
    for (uint32_t row = 0; row < rowCount_; ++row) {
        for (char c : text(row, column)) {
            const Weight& weight = kWeights[static_cast<unsigned char>(c)];
            keys.append(weight.bytes, weight.length);
        }
        keyOffsets[row + 1] = keys.size();
        if (isNull(row, column)) continue;
        uint64_t prefix = 0;
        const size_t start = keyOffsets[row];
        for (size_t i = 0; i < 8; ++i) {
            prefix <<= 8;
            if (start + i < keys.size()) prefix |= static_cast<unsigned char>(keys[start + i]);
        }
        entries.push_back({prefix, row});
    }
    auto keyOf = [&](uint32_t row) {
        return std::string_view(keys).substr(keyOffsets[row], keyOffsets[row + 1] - keyOffsets[row]);
    };
    // <0, 0, >0 like memcmp: the key first, then the bytes.
    auto compare = [&](const TextEntry& a, const TextEntry& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix ? -1 : 1;
        if (const int byKey = keyOf(a.row).compare(keyOf(b.row)); byKey != 0) return byKey;
        return text(a.row, column).compare(text(b.row, column));
    };
    std::sort(entries.begin(), entries.end(), [&](const TextEntry& a, const TextEntry& b) {
        const int order = compare(a, b);
        return order != 0 ? order < 0 : a.row < b.row;
    });
    uint32_t rank = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == 0 || compare(entries[i - 1], entries[i]) != 0) ++rank;
        ranks[entries[i].row] = rank;
    }
    return ranks;
}

const std::vector<uint32_t>& TableImage::sortedRows(const std::vector<SortSpec>& keys) const {
    {
        std::lock_guard lock(cacheMutex_);
        const auto found = sorted_.find(keys);
        if (found != sorted_.end()) return *found->second;
    }
    auto rows = std::make_shared<std::vector<uint32_t>>(liveRows());
    // Least significant key first; each pass is a stable counting sort by
    // rank, so rows equal on every key keep their stored order.
    std::vector<uint32_t> buffer(rows->size());
    std::vector<uint32_t> counts;
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        const std::vector<uint32_t>& rank = ranks(key->column);
        const uint32_t top = rowCount_ == 0 ? 0 : *std::max_element(rank.begin(), rank.end());
        counts.assign(static_cast<size_t>(top) + 2, 0);
        auto bucket = [&](uint32_t row) { return key->descending ? top - rank[row] : rank[row]; };
        for (uint32_t row : *rows) ++counts[bucket(row) + 1];
        for (size_t i = 1; i < counts.size(); ++i) counts[i] += counts[i - 1];
        for (uint32_t row : *rows) buffer[counts[bucket(row)]++] = row;
        rows->swap(buffer);
    }
    std::lock_guard lock(cacheMutex_);
    Order& slot = sorted_[keys];
    if (!slot) slot = std::move(rows);
    return *slot;
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
    for (const auto& [keys, rows] : sorted_) total += rows->capacity() * sizeof(uint32_t);
    for (const auto& [key, entry] : derived_) total += entry.bytes;
    return total;
}

// ---- the cache of images, keyed by the file's path

namespace {

constexpr size_t kCachedImages = 4;  // three views and one spare

struct ImageCache {
    std::mutex mutex;
    std::list<std::shared_ptr<const TableImage>> images;  // most recently used first
};

ImageCache& imageCache() {
    static ImageCache cache;
    return cache;
}

}  // namespace

std::shared_ptr<const TableImage> imageOf(const std::string& path) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::unreadableText(path));
    ImageCache& cache = imageCache();
    {
        std::lock_guard lock(cache.mutex);
        for (auto it = cache.images.begin(); it != cache.images.end(); ++it) {
            if ((*it)->path() != path) continue;
            if ((*it)->stamp() == *stamp) {
                cache.images.splice(cache.images.begin(), cache.images, it);
                return cache.images.front();
            }
            cache.images.erase(it);
            break;
        }
    }
    std::shared_ptr<const TableImage> image = TableImage::load(path);
    std::lock_guard lock(cache.mutex);
    cache.images.remove_if([&](const auto& cached) { return cached->path() == path; });
    cache.images.push_front(image);
    if (cache.images.size() > kCachedImages) cache.images.pop_back();
    return image;
}

void publishImage(std::shared_ptr<const TableImage> image) {
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    cache.images.remove_if([&](const auto& cached) { return cached->path() == image->path(); });
    cache.images.push_front(std::move(image));
    if (cache.images.size() > kCachedImages) cache.images.pop_back();
}

void forgetImage(const std::string& path) {
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    cache.images.remove_if([&](const auto& cached) { return cached->path() == path; });
}

void clearImageCache() {
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    cache.images.clear();
}

}  // namespace archive
