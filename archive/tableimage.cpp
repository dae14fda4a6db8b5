#include "tableimage.h"

#include "collation.h"
#include "cp1252.h"
#include "filelayer.h"
#include "transaction.h"
#include "wholefile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <future>
#include <list>
#include <numeric>
#include <thread>
#include <utility>

namespace archive {
namespace {

using detail::Command;
using detail::Database;

// How much of a text's collation key the sort of a column keeps at hand:
// more than any ordinary title needs to differ from its neighbours.
constexpr size_t kSortKeyBytes = 64;

// A sort entry that keeps the first key bytes at hand, so most comparisons
// never leave the array being sorted; `row` names a distinct value.
struct TextEntry {
    uint64_t prefix;
    uint32_t row;
};

// Marks a value id of an integer column as one of its numbers.
constexpr uint32_t kNumberBit = 0x80000000u;

uint64_t mixBits(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

uint64_t hashBytes(std::string_view bytes) {
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

// A quick hash of a short text for the loader's lookups: one multiply per
// eight bytes; the last eight (or fewer) bytes are read in one go. Also
// tells whether the text is plain ASCII.
uint64_t quickHash(std::string_view bytes, bool& ascii) {
    const char* data = bytes.data();
    const size_t size = bytes.size();
    uint64_t h = (size + 1) * 0x9E3779B97F4A7C15ULL;
    uint64_t word = 0;
    uint64_t high = 0;
    if (size >= 8) {
        size_t i = 0;
        for (; i + 8 < size; i += 8) {
            std::memcpy(&word, data + i, 8);
            high |= word;
            h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
            h ^= h >> 31;
        }
        std::memcpy(&word, data + size - 8, 8);
    } else {
        for (size_t i = 0; i < size; ++i) word |= uint64_t{static_cast<unsigned char>(data[i])} << (8 * i);
    }
    high |= word;
    ascii = (high & 0x8080808080808080ULL) == 0;
    h = (h ^ word) * 0x94D049BB133111EBULL;
    return h ^ (h >> 29);
}

// Whether `size` bytes at `a` and at `b` are the same, for the short texts
// of table cells: eight bytes at a time, the last eight read in one go.
bool sameBytes(const char* a, const char* b, size_t size) {
    if (size < 8) {
        for (size_t i = 0; i < size; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    uint64_t x = 0;
    uint64_t y = 0;
    for (size_t i = 0; i + 8 < size; i += 8) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    std::memcpy(&x, a + size - 8, 8);
    std::memcpy(&y, b + size - 8, 8);
    return x == y;
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

// The text of a cell's value that is not NULL (UTF-8). The connections that
// read whole columns run without SQLite's mutex, where a column's value may
// be read through the value interfaces: one call per cell instead of three.
std::string_view valueText(const Database& db, sqlite3_value* value, const std::string& path) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (text == nullptr && sqlite3_errcode(db.get()) == SQLITE_NOMEM)
        detail::throwForSqlite(SQLITE_NOMEM, path, db.lastError());
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_value_bytes(value))) : std::string_view();
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
    return bytes.capacity() + offsets.capacity() * sizeof(uint32_t) + codes.capacity() * sizeof(uint16_t) +
           nulls.capacity() / 8 + numbers.capacity() * sizeof(int64_t);
}

namespace {

using Chunk = TableImage::Chunk;

// A plain chunk of our own to change: a copy of the first `rows` cells of `from`.
std::shared_ptr<Chunk> copyOf(const Chunk& from, uint32_t rows) {
    auto chunk = std::make_shared<Chunk>();
    if (from.codes.empty()) {
        chunk->offsets.assign(from.offsets.begin(), from.offsets.begin() + rows + 1);
        chunk->bytes.assign(from.bytes, 0, chunk->offsets.back());
    } else {
        chunk->offsets.reserve(rows + 1);
        for (uint32_t i = 0; i < rows; ++i) {
            chunk->bytes += from.text(i);
            chunk->bytes += '\0';
            chunk->offsets.push_back(static_cast<uint32_t>(chunk->bytes.size()));
        }
    }
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

// Whether a chunk of `rows` text cells keeps its `entries` distinct values
// once each (`entryBytes` with their end bytes) and a code per cell: when
// its values come twice on average and that takes at most three quarters of
// the room the plain cells take (`plainBytes`, offsets included).
bool repeatsPay(size_t rows, size_t entries, size_t entryBytes, size_t plainBytes) {
    const size_t codedBytes = entryBytes + (entries + 1) * sizeof(uint32_t) + rows * sizeof(uint16_t);
    return rows > 0 && entries * 2 <= rows && codedBytes * 4 <= plainBytes * 3;
}

// A text chunk that repeats its values keeps each once, where that pays.
void encodeRepeats(Chunk& chunk) {
    const uint32_t rows = chunk.rows();
    if (!chunk.codes.empty() || rows == 0) return;
    DistinctTexts distinct;
    std::vector<uint16_t> codes(rows);
    size_t entryBytes = 0;
    for (uint32_t i = 0; i < rows; ++i) {
        const std::string_view value = chunk.text(i);
        const size_t before = distinct.values.size();
        const uint32_t id = distinct.idOf(value);
        if (distinct.values.size() != before) {
            entryBytes += value.size() + 1;
            if (distinct.values.size() > UINT16_MAX || distinct.values.size() * 2 > rows) return;
        }
        codes[i] = static_cast<uint16_t>(id);
    }
    const size_t plainBytes = chunk.bytes.size() + chunk.offsets.size() * sizeof(uint32_t);
    if (!repeatsPay(rows, distinct.values.size(), entryBytes, plainBytes)) return;
    std::string bytes;
    bytes.reserve(entryBytes);
    std::vector<uint32_t> offsets{0};
    offsets.reserve(distinct.values.size() + 1);
    for (const std::string_view value : distinct.values) {
        bytes += value;
        bytes += '\0';
        offsets.push_back(static_cast<uint32_t>(bytes.size()));
    }
    chunk.bytes = std::move(bytes);
    chunk.offsets = std::move(offsets);
    chunk.codes = std::move(codes);
}

// A chunk's cells, kept as repeats, written out plain again.
void decodeRepeats(Chunk& chunk) {
    if (chunk.codes.empty()) return;
    const std::shared_ptr<Chunk> plain = copyOf(chunk, chunk.rows());
    chunk.bytes = std::move(plain->bytes);
    chunk.offsets = std::move(plain->offsets);
    chunk.codes.clear();
}

// Keeps the text cells of a chunk being loaded as repeats from the start: a
// cell whose value came before in the chunk costs one lookup and no copy,
// where most columns of the archive repeat their values (categories,
// genres, publishers, issues). A chunk whose values turn out not to repeat
// enough is written out plain, by the rule of repeatsPay.
class RepeatCoder {
public:
    RepeatCoder() : slots_(kSlots) {}

    // Starts a new chunk: what the last one held is forgotten.
    void begin() {
        if (++generation_ == 0) {
            std::fill(slots_.begin(), slots_.end(), Slot{});
            generation_ = 1;
        }
        coding_ = true;
        stopped_ = false;
        plainBytes_ = 0;
    }
    bool coding() const { return coding_; }
    // The chunk's values hardly repeat: it was given up and is read plain.
    bool stopped() const { return stopped_; }

    // A cell from the file (UTF-8): a new entry, or only a code for the
    // entry that holds the same text. Plain ASCII is looked up as it comes;
    // other text is converted first.
    void add(Chunk& chunk, std::string_view utf8) {
        bool ascii = false;
        uint64_t hash = quickHash(utf8, ascii);
        std::string_view value = utf8;
        const size_t start = chunk.bytes.size();
        if (!ascii) {
            appendUtf8AsCp1252(chunk.bytes, utf8);
            value = std::string_view(chunk.bytes).substr(start);
            hash = quickHash(value, ascii);
        }
        plainBytes_ += value.size() + 1 + sizeof(uint32_t);
        const uint32_t check = static_cast<uint32_t>(hash);
        for (size_t slot = hash >> (64 - kSlotBits);; slot = (slot + 1) & (kSlots - 1)) {
            Slot& entry = slots_[slot];
            if (entry.generation != generation_) {
                const size_t entries = chunk.offsets.size() - 1;
                entry = {check, static_cast<uint16_t>(entries), generation_};
                if (chunk.bytes.size() == start) chunk.bytes += value;
                chunk.bytes += '\0';
                chunk.offsets.push_back(static_cast<uint32_t>(chunk.bytes.size()));
                chunk.codes.push_back(static_cast<uint16_t>(entries));
                break;
            }
            if (entry.check == check) {
                const uint32_t from = chunk.offsets[entry.entry];
                const uint32_t length = chunk.offsets[entry.entry + 1U] - from - 1;
                if (length == value.size() && sameBytes(chunk.bytes.data() + from, value.data(), length)) {
                    chunk.bytes.resize(start);
                    chunk.codes.push_back(entry.entry);
                    break;
                }
            }
        }
        // Values that hardly repeat are not worth the lookups.
        const size_t rows = chunk.codes.size();
        if (rows == kLookAhead && (chunk.offsets.size() - 1) * 8 > rows * 7) stop(chunk);
    }

    // The chunk is full or the load is done: kept as repeats only where that pays.
    void end(Chunk& chunk) {
        if (!coding_) return;
        coding_ = false;
        if (!repeatsPay(chunk.codes.size(), chunk.offsets.size() - 1, chunk.bytes.size(),
                        plainBytes_ + sizeof(uint32_t)))
            decodeRepeats(chunk);
    }

    // The rest of the chunk is read plain.
    void stop(Chunk& chunk) {
        coding_ = false;
        stopped_ = true;
        decodeRepeats(chunk);
    }

private:
    static constexpr int kSlotBits = TableImage::kChunkShift + 1;
    static constexpr size_t kSlots = size_t{1} << kSlotBits;
    static constexpr size_t kLookAhead = 1024;
    struct Slot {
        uint32_t check = 0;
        uint16_t entry = 0;
        uint16_t generation = 0;
    };
    std::vector<Slot> slots_;
    uint16_t generation_ = 0;
    bool coding_ = false;
    bool stopped_ = false;
    size_t plainBytes_ = 0;
};

// Also trims capacity: a loaded image is kept for long.
void shrink(Chunk& chunk) {
    chunk.bytes.shrink_to_fit();
    chunk.offsets.shrink_to_fit();
    chunk.nulls.shrink_to_fit();
    chunk.numbers.shrink_to_fit();
    chunk.codes.shrink_to_fit();
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

    // Text cells of a load are kept as repeats from the first cell of each
    // new chunk on; cells then go through appendText().
    void codeRepeats() {
        coders_.resize(current_.size());
        for (size_t c = 0; c < current_.size(); ++c) {
            if (image_.columns_[c].kind != FieldKind::Text) continue;
            coders_[c] = std::make_unique<RepeatCoder>();
            if (current_[c]->rows() == 0) coders_[c]->begin();
        }
    }

    // A text cell from the file (UTF-8; none for NULL).
    void appendText(int column, std::optional<std::string_view> utf8) {
        Chunk& chunk = *current_[static_cast<size_t>(column)];
        chunk.nulls.push_back(!utf8);
        RepeatCoder* coder = static_cast<size_t>(column) < coders_.size() ? coders_[column].get() : nullptr;
        if (coder && coder->coding()) {
            coder->add(chunk, utf8.value_or(std::string_view()));
            if (chunk.bytes.size() >= UINT32_MAX) throw EngineError(detail::notATableText(image_.path_));
        } else {
            if (utf8) appendUtf8AsCp1252(chunk.bytes, *utf8);
            endCell(chunk, image_.path_);
        }
    }

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

    // Fills the chunk begun with deleted rows: empty cells, the last row id again.
    void padChunk() {
        if (slots_->rowIds.empty()) return;
        const int64_t rowId = slots_->rowIds.back();
        if (slots_->deleted.empty()) slots_->deleted.assign(slots_->rowIds.size(), false);
        while (slots_->rowIds.size() < kChunkRows) {
            for (size_t c = 0; c < current_.size(); ++c) {
                if (image_.columns_[c].kind == FieldKind::Text) {
                    appendText(static_cast<int>(c), std::nullopt);
                    continue;
                }
                Chunk& chunk = *current_[c];
                chunk.nulls.push_back(true);
                endCell(chunk, image_.path_);
                if (image_.columns_[c].kind == FieldKind::Integer) chunk.numbers.push_back(kNoNumber);
            }
            slots_->rowIds.push_back(rowId);
            slots_->deleted.push_back(true);
            ++image_.rowCount_;
            ++image_.deletedCount_;
        }
        flush();
    }

private:
    void flush() {
        for (size_t c = 0; c < current_.size(); ++c) {
            RepeatCoder* coder = c < coders_.size() ? coders_[c].get() : nullptr;
            if (coder && coder->coding()) {
                coder->end(*current_[c]);
            } else if (image_.columns_[c].kind == FieldKind::Text && !(coder && coder->stopped())) {
                encodeRepeats(*current_[c]);
            }
            shrink(*current_[c]);
            image_.cells_[c].push_back(std::move(current_[c]));
            current_[c] = std::make_shared<Chunk>();
            if (slots_->rowIds.size() == kChunkRows) current_[c]->bytes.reserve(image_.cells_[c].back()->bytes.size());
            if (coder) coder->begin();
        }
        image_.slots_.push_back(std::move(slots_));
        slots_ = std::make_shared<Slots>();
        slots_->rowIds.reserve(kChunkRows);
    }

    TableImage& image_;
    std::vector<std::shared_ptr<Chunk>> current_;
    std::shared_ptr<Slots> slots_;
    std::vector<std::unique_ptr<RepeatCoder>> coders_;  // text columns of a load
};

namespace {

// The one table of ours in the file and its fields; a file holding anything
// else is not a table of ours, and the text says what it holds instead.
void readSchema(const Database& db, const std::string& path, std::string& tableName, std::vector<Column>& columns) {
    std::vector<std::string> tables;
    {
        Command list(db,
                     "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
                     path);
        while (list.step()) tables.emplace_back(columnText(list.get(), 0));
    }
    if (tables.size() != 1) {
        for (std::string& name : tables) name = utf8ToCp1252(name);
        throw EngineError(detail::tableCountText(path, tables));
    }
    tableName = tables.front();
    {
        // Rows are read by their row ids: a table stored without them cannot be.
        Command kind(db, "SELECT wr FROM pragma_table_list(?1)", path);
        kind.utf8(tableName);
        if (kind.step() && sqlite3_column_int(kind.get(), 0) != 0) throw EngineError(detail::withoutRowIdsText(path));
    }
    Command info(db, "SELECT name, type FROM pragma_table_info(?1)", path);
    info.utf8(tableName);
    while (info.step()) {
        bool known = false;
        const std::string_view declared = columnText(info.get(), 1);
        const FieldKind kind = kindOfDeclaredType(declared, known);
        const std::string name = utf8ToCp1252(columnText(info.get(), 0));
        if (!known) throw EngineError(detail::fieldTypeText(path, name, utf8ToCp1252(declared)));
        columns.push_back({name, kind});
    }
    if (columns.empty()) throw EngineError(detail::tableCountText(path, {}));
}

// SQLite's check of every page of the file (b-tree pages, cells, free
// list), in the state of the read transaction `db` is in: nothing for a
// sound file, else the damage text with SQLite's first finding.
std::string damageFoundIn(const Database& db, const std::string& path) {
    Command check(db, "PRAGMA quick_check(1)", path);
    while (check.step()) {
        const std::string_view report = columnText(check.get(), 0);
        if (report == "ok") return {};
        // The finding, without the line that names the schema it was found in.
        std::string_view finding = report;
        while (finding.starts_with("***")) {
            const size_t end = finding.find('\n');
            finding = end == std::string_view::npos ? std::string_view() : finding.substr(end + 1);
        }
        finding = finding.substr(0, finding.find('\n'));
        return detail::damagedText(path, readableValue(utf8ToCp1252(finding), 120));
    }
    return {};
}

// Files found sound by their path and stamp: the hard-disk copy checks
// what it copies, and the copy's image need not be checked again. The path
// keeps a file that took a deleted sound file's inode within one tick of the
// clock from passing for it. The time of the last change of the file's
// attributes is not compared: the start makes the copy writable after
// copying it, which changes nothing of its content.
struct SoundFiles {
    static constexpr size_t kRemembered = 8;
    std::mutex mutex;
    std::vector<std::pair<std::string, FileStamp>> files;  // stamps with changedNs 0
};

SoundFiles& soundFiles() {
    static SoundFiles files;
    return files;
}

std::pair<std::string, FileStamp> soundKey(const std::string& path, FileStamp stamp) {
    stamp.changedNs = 0;
    return {std::filesystem::path(path).lexically_normal().string(), stamp};
}

void noteSound(const std::string& path, const FileStamp& stamp) {
    SoundFiles& sound = soundFiles();
    std::lock_guard lock(sound.mutex);
    if (sound.files.size() == SoundFiles::kRemembered) sound.files.erase(sound.files.begin());
    sound.files.push_back(soundKey(path, stamp));
}

bool knownSound(const std::string& path, const FileStamp& stamp) {
    SoundFiles& sound = soundFiles();
    std::lock_guard lock(sound.mutex);
    return std::find(sound.files.begin(), sound.files.end(), soundKey(path, stamp)) != sound.files.end();
}

// Keeps the greatest value seen by the collation; NULL is the least.
class GreatestText {
public:
    void offer(std::optional<std::string_view> value) {
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
    std::optional<std::string> result() const {
        if (!seen_) return std::nullopt;
        return best_ ? *best_ : std::string();
    }

private:
    bool seen_ = false;
    std::optional<std::string> best_;
    std::string key_;
    std::string bestKey_;
};

// Below this span of row ids a table is read by one thread: the second
// connection would cost more than it saves.
constexpr int64_t kParallelRowIdSpan = 8 * TableImage::kChunkRows;

}  // namespace

// Reads the rows whose ids lie in (after, upTo] into the image, in row id order.
void TableImage::readRows(const detail::Database& db, const std::string& path, std::optional<int64_t> after,
                          std::optional<int64_t> upTo, const std::atomic<bool>* cancel) {
    const int columnCount = static_cast<int>(columns_.size());
    std::string select = "SELECT rowid";
    for (const Column& column : columns_) select += ", " + detail::quotedIdentifier(detail::fsPath(column.name));
    select += " FROM " + detail::quotedIdentifier(tableName_) + " WHERE 1";
    if (after) select += " AND rowid > ?1";
    if (upTo) select += " AND rowid <= ?2";
    select += " ORDER BY rowid";
    auto rows = std::make_unique<Command>(db, select, path);
    if (after) rows->integerAt(1, *after);
    if (upTo) rows->integerAt(2, *upTo);

    Builder builder(*this, rowCount_);
    builder.codeRepeats();
    sqlite3_stmt* stmt = rows->get();
    char digits[24];
    uint32_t sinceLook = 0;
    while (rows->step()) {
        if (cancel && ++sinceLook == kChunkRows) {
            sinceLook = 0;
            if (cancel->load(std::memory_order_relaxed)) throw LoadCancelled{};
        }
        for (int c = 0; c < columnCount; ++c) {
            sqlite3_value* value = sqlite3_column_value(stmt, c + 1);
            const int type = sqlite3_value_type(value);
            const bool integerColumn = columns_[c].kind == FieldKind::Integer;
            if (type == SQLITE_NULL) {
                if (!integerColumn) {
                    builder.appendText(c, std::nullopt);
                    continue;
                }
                Chunk& data = builder.cells(c);
                data.nulls.push_back(true);
                endCell(data, path);
                data.numbers.push_back(kNoNumber);
                continue;
            }
            if (integerColumn && type == SQLITE_INTEGER) {
                Chunk& data = builder.cells(c);
                const int64_t number = sqlite3_value_int64(value);
                data.nulls.push_back(false);
                const auto result = std::to_chars(digits, digits + sizeof digits, number);
                data.bytes.append(digits, result.ptr);
                endCell(data, path);
                data.numbers.push_back(number);
                continue;
            }
            const std::string_view utf8 = valueText(db, value, path);
            if (!integerColumn) {
                builder.appendText(c, utf8);
                continue;
            }
            Chunk& data = builder.cells(c);
            data.nulls.push_back(false);
            const size_t start = data.bytes.size();
            appendUtf8AsCp1252(data.bytes, utf8);
            const std::optional<long long> parsed = detail::parseInteger(std::string_view(data.bytes).substr(start));
            endCell(data, path);
            data.numbers.push_back(parsed ? *parsed : kNoNumber);
        }
        builder.endRow(sqlite3_column_int64(stmt, 0));
    }
    builder.finish();
}

// Rows of another image read from the same state of the file, appended
// behind this image's. The last chunk here is filled up with deleted rows
// first, so the other image's chunks are taken over as they are, not copied.
void TableImage::appendPart(TableImage&& part) {
    if (part.rowCount_ == 0) return;
    if (rowCount_ % kChunkRows != 0) {
        Builder builder(*this, rowCount_);
        builder.padChunk();
    }
    for (size_t c = 0; c < columns_.size(); ++c)
        cells_[c].insert(cells_[c].end(), part.cells_[c].begin(), part.cells_[c].end());
    slots_.insert(slots_.end(), part.slots_.begin(), part.slots_.end());
    rowCount_ += part.rowCount_;
    deletedCount_ += part.deletedCount_;
}

// The connection a load read its rows through, still in its read
// transaction; the check ends both.
struct TableImage::Check {
    Database db;
    std::optional<detail::Transaction> transaction;
    std::mutex mutex;  // `open` for an interrupt from another thread
    bool open = true;

    std::string run(const std::string& path) {
        std::string fault;
        try {
            fault = damageFoundIn(db, path);
            transaction->commit();
        } catch (const EngineError& error) {
            fault = error.what();
        }
        std::lock_guard lock(mutex);
        transaction.reset();
        db.close();
        open = false;
        return fault;
    }

    void interrupt() {
        std::lock_guard lock(mutex);
        if (open) sqlite3_interrupt(db.get());
    }
};

// A check still running when the last image that needs it goes is stopped.
struct TableImage::Verdict {
    std::shared_future<std::string> fault;
    std::shared_ptr<Check> check;

    ~Verdict() {
        if (check && fault.valid() && fault.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            check->interrupt();
    }
};

std::shared_ptr<const TableImage> TableImage::load(const std::string& path, const std::atomic<bool>* cancel) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::unreadableText(path));

    std::shared_ptr<TableImage> image(new TableImage);
    image->path_ = path;
    image->stamp_ = *stamp;

    auto check = std::make_unique<Check>();
    check->db = Database::openReadOnly(path);
    const Database& db = check->db;
    // Opening may have rolled back a killed writer's change: the image shows
    // the file as it is now.
    if (const std::optional<FileStamp> now = stampOf(path)) image->stamp_ = *now;
    // One read transaction: schema, rows and the check of the pages come
    // from the same state of the file.
    check->transaction.emplace(check->db, path, detail::Transaction::Lock::Deferred);
    readSchema(db, path, image->tableName_, image->columns_);

    // A large table is read by two threads, each over its own connection and
    // half of the row ids.
    std::optional<int64_t> middle;
    auto span = std::make_unique<Command>(
        db, "SELECT min(rowid), max(rowid) FROM " + detail::quotedIdentifier(image->tableName_), path);
    if (span->step() && sqlite3_column_type(span->get(), 0) == SQLITE_INTEGER) {
        const int64_t low = sqlite3_column_int64(span->get(), 0);
        const int64_t high = sqlite3_column_int64(span->get(), 1);
        // Row ids may lie at both ends of the 64-bit range: their distance
        // is worked out without overflowing.
        const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
        if (span >= static_cast<uint64_t>(kParallelRowIdSpan))
            middle = static_cast<int64_t>(static_cast<uint64_t>(low) + span / 2);
    }
    span.reset();

    std::optional<Database> secondDb;
    std::optional<detail::Transaction> secondTransaction;
    if (middle) {
        try {
            secondDb.emplace(Database::openReadOnly(path));
            secondTransaction.emplace(*secondDb, path, detail::Transaction::Lock::Deferred);
            Command look(*secondDb, "SELECT max(rowid) FROM " + detail::quotedIdentifier(image->tableName_), path);
            look.step();
        } catch (const EngineError&) {
            secondTransaction.reset();
            secondDb.reset();
        }
        // Both connections now hold the file against writers; only when no
        // write came in between do they read the same state of it.
        if (secondDb && stampOf(path) != std::optional<FileStamp>(image->stamp_)) {
            secondTransaction.reset();
            secondDb.reset();
        }
        if (!secondDb) middle.reset();
    }

    if (!middle) {
        image->readRows(db, path, std::nullopt, std::nullopt, cancel);
    } else {
        TableImage part;
        part.path_ = path;
        part.tableName_ = image->tableName_;
        part.columns_ = image->columns_;
        std::exception_ptr partFailure;
        std::thread second([&] {
            try {
                part.readRows(*secondDb, path, middle, std::nullopt, cancel);
            } catch (...) {
                partFailure = std::current_exception();
            }
        });
        std::exception_ptr firstFailure;
        try {
            image->readRows(db, path, std::nullopt, middle, cancel);
        } catch (...) {
            firstFailure = std::current_exception();
        }
        second.join();
        if (firstFailure) std::rethrow_exception(firstFailure);
        if (partFailure) std::rethrow_exception(partFailure);
        secondTransaction->commit();
        image->appendPart(std::move(part));
    }
    image->startCheck(std::move(check));
    return image;
}

void TableImage::startCheck(std::unique_ptr<Check> check) {
    auto verdict = std::make_shared<Verdict>();
    if (knownSound(path_, stamp_)) {
        check->transaction->commit();
        std::promise<std::string> sound;
        sound.set_value({});
        verdict->fault = sound.get_future().share();
    } else {
        verdict->check = std::move(check);
        verdict->fault =
            std::async(std::launch::async, [running = verdict->check, path = path_] { return running->run(path); })
                .share();
    }
    verdict_ = std::move(verdict);
}

void TableImage::requireSound() const {
    if (!verdict_) return;
    const std::string& fault = verdict_->fault.get();
    if (!fault.empty()) throw EngineError(fault);
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
    image->dictionaries_ = dictionaries_;
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
    std::shared_ptr<const Chunk> dictionary;
    auto computed = std::make_shared<const std::vector<uint32_t>>(computeRanks(column, dictionary));
    std::lock_guard lock(cacheMutex_);
    Ranks& slot = ranks_[column];
    if (!slot) slot = std::move(computed);
    if (dictionary) dictionaries_.try_emplace(column, std::move(dictionary));
    return *slot;
}

namespace {

struct RanksAlong {
    std::vector<uint32_t> ranks;
    size_t memoryBytes() const { return ranks.capacity() * sizeof(uint32_t); }
};

}  // namespace

const std::vector<uint32_t>& TableImage::ranksAlong(const std::vector<SortSpec>& keys, int column) const {
    std::string key = "ranks-along:" + std::to_string(column);
    for (const SortSpec& sortKey : keys) key += (sortKey.descending ? ":-" : ":+") + std::to_string(sortKey.column);
    return derived<RanksAlong>(key, [&] {
        const std::vector<uint32_t>& rank = ranks(column);
        RanksAlong along;
        if (keys.size() == 1 && keys.front().column == column) {
            // Along the column's own order the ranks run in sequence: each
            // as often as live rows hold it, without looking the rows up.
            std::vector<uint32_t> holders;
            for (uint32_t first = 0; first < rowCount_; first += kChunkRows) {
                const uint32_t end = std::min(rowCount_, first + kChunkRows);
                const bool someDeleted = !slots_[first >> kChunkShift]->deleted.empty();
                for (uint32_t row = first; row < end; ++row) {
                    if (someDeleted && isDeleted(row)) continue;
                    if (rank[row] >= holders.size()) holders.resize(rank[row] + size_t{1}, 0);
                    ++holders[rank[row]];
                }
            }
            const uint32_t top = holders.empty() ? 0 : static_cast<uint32_t>(holders.size() - 1);
            holders.resize(size_t{top} + 1, 0);
            along.ranks.reserve(rowCount_ - deletedCount_);
            for (uint32_t step = 0; step <= top; ++step) {
                const uint32_t r = keys.front().descending ? top - step : step;
                along.ranks.insert(along.ranks.end(), holders[r], r);
            }
            return along;
        }
        const std::vector<uint32_t>& order = sortedRows(keys);
        along.ranks.reserve(order.size());
        for (const uint32_t row : order) along.ranks.push_back(rank[row]);
        return along;
    }).ranks;
}

const TableImage::Chunk& TableImage::dictionary(int column) const {
    {
        std::lock_guard lock(cacheMutex_);
        const auto found = dictionaries_.find(column);
        if (found != dictionaries_.end()) return *found->second;
    }
    const std::vector<uint32_t>& rank = ranks(column);
    const uint32_t top = rowCount_ == 0 ? 0 : *std::max_element(rank.begin(), rank.end());
    // One row holding each rank; a rank no row holds any more (its row was
    // deleted after the ranks were made) keeps an empty cell.
    std::vector<uint32_t> holder(static_cast<size_t>(top) + 1, UINT32_MAX);
    for (uint32_t row = 0; row < rowCount_; ++row)
        if (holder[rank[row]] == UINT32_MAX) holder[rank[row]] = row;
    auto made = std::make_shared<Chunk>();
    made->offsets.reserve(holder.size() + 1);
    made->nulls.reserve(holder.size());
    for (uint32_t r = 0; r <= top; ++r) {
        const bool null = r == 0 || holder[r] == UINT32_MAX;
        made->nulls.push_back(null);
        if (!null) made->bytes += text(holder[r], column);
        endCell(*made, path_);
    }
    std::lock_guard lock(cacheMutex_);
    auto& slot = dictionaries_[column];
    if (!slot) slot = std::move(made);
    return *slot;
}

std::vector<uint32_t> TableImage::computeRanks(int column, std::shared_ptr<const Chunk>& dictionary) const {
    // A column repeats few values (categories, publishers, issues) or, for
    // titles, far fewer than it has rows: each distinct value is sorted once
    // and its rank handed to every row that holds it. Equal ranks mean equal
    // bytes, since the collation breaks its ties by the bytes.
    std::vector<uint32_t> ranks(rowCount_, 0);  // NULL stays 0, below everything
    std::vector<uint32_t> valueOfRow(rowCount_, 0);
    const bool integerColumn = columns_[column].kind == FieldKind::Integer;

    if (integerColumn) {
        // Values that are no number (only from a foreign file) sort below
        // the numbers, by their bytes; they go through the text path below.
        DistinctNumbers numbers;
        DistinctTexts others;
        for (uint32_t row = 0; row < rowCount_; ++row) {
            if (isNull(row, column)) continue;
            const int64_t number = cells_[column][row >> kChunkShift]->numbers[row & (kChunkRows - 1)];
            valueOfRow[row] = number == kNoNumber ? others.idOf(text(row, column)) : numbers.idOf(number) | kNumberBit;
        }
        std::vector<uint32_t> textOrder(others.values.size());
        std::iota(textOrder.begin(), textOrder.end(), 0u);
        std::sort(textOrder.begin(), textOrder.end(),
                  [&](uint32_t a, uint32_t b) { return others.values[a] < others.values[b]; });
        std::vector<uint32_t> numberOrder(numbers.values.size());
        std::iota(numberOrder.begin(), numberOrder.end(), 0u);
        std::sort(numberOrder.begin(), numberOrder.end(),
                  [&](uint32_t a, uint32_t b) { return numbers.values[a] < numbers.values[b]; });
        std::vector<uint32_t> textRank(textOrder.size());
        std::vector<uint32_t> numberRank(numberOrder.size());
        uint32_t rank = 0;
        for (const uint32_t id : textOrder) textRank[id] = ++rank;
        for (const uint32_t id : numberOrder) numberRank[id] = ++rank;
        for (uint32_t row = 0; row < rowCount_; ++row) {
            if (isNull(row, column)) continue;
            const uint32_t value = valueOfRow[row];
            ranks[row] = value & kNumberBit ? numberRank[value & ~kNumberBit] : textRank[value];
        }
        return ranks;
    }

    DistinctTexts distinct;
    for (uint32_t row = 0; row < rowCount_; ++row)
        if (!isNull(row, column)) valueOfRow[row] = distinct.idOf(text(row, column));
    // The distinct values by collation key, then by bytes; the first key
    // bytes at hand, so most comparisons stay within the array being sorted.
    // Only the beginning of each key is made: a long text costs no more
    // than that, and two beginnings that are equal go back to the texts.
    const size_t count = distinct.values.size();
    std::string keys;
    std::vector<size_t> keyOffsets(count + 1, 0);
    std::vector<bool> keyCut(count, false);
    std::vector<TextEntry> entries(count);
    for (uint32_t id = 0; id < count; ++id) {
        keyCut[id] = appendCollationKeyPrefix(keys, distinct.values[id], kSortKeyBytes);
        keyOffsets[id + 1] = keys.size();
    }
    for (uint32_t id = 0; id < count; ++id) {
        uint64_t prefix = 0;
        const size_t start = keyOffsets[id];
        for (size_t i = 0; i < 8; ++i) {
            prefix <<= 8;
            if (start + i < keyOffsets[id + 1]) prefix |= static_cast<unsigned char>(keys[start + i]);
        }
        entries[id] = {prefix, id};
    }
    auto keyOf = [&](uint32_t id) {
        return std::string_view(keys).substr(keyOffsets[id], keyOffsets[id + 1] - keyOffsets[id]);
    };
    std::sort(entries.begin(), entries.end(), [&](const TextEntry& a, const TextEntry& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if (const int byKey = keyOf(a.row).compare(keyOf(b.row)); byKey != 0) return byKey < 0;
        if (keyCut[a.row] || keyCut[b.row])
            if (const int byKey = compareCollationKeys(distinct.values[a.row], distinct.values[b.row]); byKey != 0)
                return byKey < 0;
        return distinct.values[a.row] < distinct.values[b.row];
    });
    std::vector<uint32_t> rankOfValue(count);
    for (uint32_t i = 0; i < count; ++i) rankOfValue[entries[i].row] = i + 1;
    for (uint32_t row = 0; row < rowCount_; ++row)
        if (!isNull(row, column)) ranks[row] = rankOfValue[valueOfRow[row]];
    auto made = std::make_shared<Chunk>();
    made->offsets.reserve(count + 2);
    made->nulls.reserve(count + 1);
    size_t bytes = count + 1;
    for (const std::string_view value : distinct.values) bytes += value.size();
    made->bytes.reserve(bytes);  // copied once, not again with every growth
    made->nulls.push_back(true);  // rank 0: NULL
    endCell(*made, path_);
    for (const TextEntry& entry : entries) {
        made->nulls.push_back(false);
        made->bytes += distinct.values[entry.row];
        endCell(*made, path_);
    }
    dictionary = std::move(made);
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
    for (const auto& [column, dictionary] : dictionaries_) total += dictionary->memory() + dictionary->upperMemory();
    for (const auto& [keys, rows] : sorted_) total += rows->capacity() * sizeof(uint32_t);
    for (const auto& [key, entry] : derived_) total += entry.bytes;
    return total;
}

// ---- the cache of images, keyed by the file's path

namespace {

constexpr size_t kCachedImages = 4;  // three views and one spare
constexpr int kBackgroundNiceness = 10;

// A load running in the background; whoever asks for its file first takes
// its result (or, when it failed or the file changed meanwhile, loads anew).
struct PendingLoad {
    std::string path;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::future<std::shared_ptr<const TableImage>> result;
};

struct ImageCache {
    std::mutex mutex;
    std::list<std::shared_ptr<const TableImage>> images;  // most recently used first
    std::list<PendingLoad> pending;

    // The program ends: loads still running stop at their next chunk of rows.
    ~ImageCache() { cancelPending([](const PendingLoad&) { return true; }); }

    template <class Which>
    void cancelPending(Which which) {
        std::list<PendingLoad> stopped;
        {
            std::lock_guard lock(mutex);
            for (auto it = pending.begin(); it != pending.end();) {
                auto next = std::next(it);
                if (which(*it)) {
                    it->cancel->store(true);
                    stopped.splice(stopped.end(), pending, it);
                }
                it = next;
            }
        }
        for (PendingLoad& load : stopped) load.result.wait();
    }

    void keep(std::shared_ptr<const TableImage> image) {
        images.remove_if([&](const auto& cached) { return cached->path() == image->path(); });
        images.push_front(std::move(image));
        if (images.size() > kCachedImages) images.pop_back();
    }
};

ImageCache& imageCache() {
    static ImageCache cache;
    return cache;
}

}  // namespace

std::shared_ptr<const TableImage> imageOf(const std::string& path) {
    if (std::shared_ptr<const TableImage> image = imageIfAtHand(path)) return image;
    std::shared_ptr<const TableImage> image = TableImage::load(path);
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    cache.keep(image);
    return image;
}

std::shared_ptr<const TableImage> imageIfAtHand(const std::string& path) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::unreadableText(path));
    ImageCache& cache = imageCache();
    std::optional<PendingLoad> pending;
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
        const auto running = std::find_if(cache.pending.begin(), cache.pending.end(),
                                          [&](const PendingLoad& load) { return load.path == path; });
        if (running != cache.pending.end()) {
            pending.emplace(std::move(*running));
            cache.pending.erase(running);
        }
    }
    if (pending) {
        // Waiting costs no more than loading here would; a failed load is
        // repeated below, so its error comes from the file as it is now.
        std::shared_ptr<const TableImage> loaded;
        try {
            loaded = pending->result.get();
        } catch (...) {
        }
        if (loaded && loaded->stamp() == *stamp) {
            std::lock_guard lock(cache.mutex);
            cache.keep(loaded);
            return loaded;
        }
    }
    return nullptr;
}

GreatestValue greatestValueOf(const std::string& path, std::string_view field) {
    GreatestValue answer;
    GreatestText greatest;
    auto columnNamed = [&](const std::vector<Column>& columns) {
        for (size_t i = 0; i < columns.size(); ++i) {
            answer.fieldNames.push_back(columns[i].name);
            if (answer.column < 0 && equalsIgnoringCase(columns[i].name, field)) answer.column = static_cast<int>(i);
        }
    };
    if (std::shared_ptr<const TableImage> image = imageIfAtHand(path)) {
        columnNamed(image->columns());
        if (answer.column < 0) return answer;
        for (uint32_t row = 0; row < image->rowCount(); ++row) {
            if (image->isDeleted(row)) continue;
            greatest.offer(image->isNull(row, answer.column) ? std::nullopt
                                                             : std::optional(image->text(row, answer.column)));
        }
        answer.value = greatest.result();
        return answer;
    }
    Database db = Database::openReadOnly(path);
    detail::Transaction transaction(db, path, detail::Transaction::Lock::Deferred);
    std::string tableName;
    std::vector<Column> columns;
    readSchema(db, path, tableName, columns);
    columnNamed(columns);
    if (answer.column < 0) return answer;
    Command values(db,
                   "SELECT " + detail::quotedIdentifier(detail::fsPath(columns[answer.column].name)) + " FROM " +
                       detail::quotedIdentifier(tableName),
                   path);
    // Rows of one issue mostly lie together: a value like the one before
    // has been offered already.
    std::string value;
    std::string previous;
    bool previousKnown = false;
    while (values.step()) {
        sqlite3_value* cell = sqlite3_column_value(values.get(), 0);
        if (sqlite3_value_type(cell) == SQLITE_NULL) {
            greatest.offer(std::nullopt);
            continue;
        }
        const std::string_view utf8 = valueText(db, cell, path);
        if (previousKnown && utf8 == previous) continue;
        previous.assign(utf8);
        previousKnown = true;
        value.clear();
        appendUtf8AsCp1252(value, utf8);
        greatest.offer(value);
    }
    transaction.commit();
    answer.value = greatest.result();
    return answer;
}

void copyTableFile(const std::string& sourceFolder, const ViewDef& view, const std::string& target) {
    const std::optional<std::string> found = findFileIgnoringCase(sourceFolder, std::string(view.copiedFileName));
    const std::string source = found.value_or(detail::joinPath(sourceFolder, view.copiedFileName));
    if (!found || !stampOf(source)) throw EngineError(detail::unreadableText(source));
    // The read transaction keeps writers off the source while its bytes are
    // copied, so the bytes checked are the bytes copied.
    Database db = Database::openReadOnly(source);
    detail::Transaction transaction(db, source, detail::Transaction::Lock::Deferred);
    std::string tableName;
    std::vector<Column> columns;
    readSchema(db, source, tableName, columns);
    std::vector<std::string> names;
    for (const Column& column : columns) names.push_back(column.name);
    if (const auto mismatch = fieldMismatchText(view, source, names)) throw EngineError(*mismatch);
    // The pages are checked while the bytes are copied; the copy takes the
    // target's place only once the check found nothing.
    std::string damage;
    std::exception_ptr failure;
    std::thread checker([&] {
        try {
            damage = damageFoundIn(db, source);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        copyWholeFile(source, target, [&] {
            checker.join();
            if (failure) std::rethrow_exception(failure);
            if (!damage.empty()) throw EngineError(damage);
        });
    } catch (...) {
        if (checker.joinable()) checker.join();
        throw;
    }
    transaction.commit();
    if (const std::optional<FileStamp> copied = stampOf(target)) noteSound(target, *copied);
}

void prefetchImage(const std::string& path, LoadPriority priority) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) return;  // the open that follows reports it
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    for (const auto& cached : cache.images)
        if (cached->path() == path && cached->stamp() == *stamp) return;
    for (const PendingLoad& load : cache.pending)
        if (load.path == path) return;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto result = std::async(std::launch::async, [path, cancel, priority] {
        // A thread of its own niceness (threads it starts inherit it), so
        // that reading ahead gives way to what the user is doing now.
        if (priority == LoadPriority::Background)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kBackgroundNiceness);
        return TableImage::load(path, cancel.get());
    });
    cache.pending.push_back({path, std::move(cancel), std::move(result)});
}

void publishImage(std::shared_ptr<const TableImage> image) {
    ImageCache& cache = imageCache();
    const std::string path = image->path();
    cache.cancelPending([&](const PendingLoad& load) { return load.path == path; });
    std::lock_guard lock(cache.mutex);
    cache.keep(std::move(image));
}

void forgetImage(const std::string& path) {
    ImageCache& cache = imageCache();
    cache.cancelPending([&](const PendingLoad& load) { return load.path == path; });
    std::lock_guard lock(cache.mutex);
    cache.images.remove_if([&](const auto& cached) { return cached->path() == path; });
}

void clearImageCache() {
    ImageCache& cache = imageCache();
    cache.cancelPending([](const PendingLoad&) { return true; });
    std::lock_guard lock(cache.mutex);
    cache.images.clear();
}

}  // namespace archive
