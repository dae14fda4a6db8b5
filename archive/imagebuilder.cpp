#include "tableimage_internal.h"

#include "imagefileformat.h"

#include "cp1252.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The chunks of cells: how a chunk keeps the values it repeats once, and the
// builder that fills an image's chunks row by row.

namespace archive::detail {
namespace {

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

// Whether a chunk of `rows` text cells keeps its `entries` distinct values
// once each (`entryBytes` with their end bytes) and a code per cell: when
// its values come twice on average and that takes at most three quarters of
// the room the plain cells take (`plainBytes`, offsets included).
bool repeatsPay(size_t rows, size_t entries, size_t entryBytes, size_t plainBytes) {
    const size_t codedBytes = entryBytes + (entries + 1) * sizeof(uint32_t) + rows * sizeof(uint16_t);
    return rows > 0 && entries * 2 <= rows && codedBytes * 4 <= plainBytes * 3;
}

// A chunk's cells, kept as repeats, written out plain again.
void decodeRepeats(Chunk& chunk) {
    if (chunk.codes.empty()) return;
    const std::shared_ptr<Chunk> plain = copyOf(chunk, chunk.rows());
    chunk.bytes = std::move(plain->bytes);
    chunk.offsets = std::move(plain->offsets);
    chunk.codes.clear();
}

}  // namespace

void askForLargePages(const void* room, size_t bytes) {
    constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
    if (bytes < 2 * kLargePage) return;
    const auto start = reinterpret_cast<uintptr_t>(room);
    const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (start + bytes) & ~(kLargePage - 1);
    if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

// A plain chunk of our own to change: a copy of the first `rows` cells of `from`.
std::shared_ptr<Chunk> copyOf(const Chunk& from, uint32_t rows) {
    auto chunk = std::make_shared<Chunk>();
    if (from.codes.empty()) {
        chunk->offsets.assign(from.offsets.begin(), from.offsets.begin() + rows + 1);
        chunk->bytes.assign(from.bytes, 0, chunk->offsets.back());
    } else {
        // Sized first: a chunk of long texts is copied once, not again with
        // every growth, and leaves no spare room to be trimmed by a copy.
        size_t bytes = rows;
        for (uint32_t i = 0; i < rows; ++i) bytes += from.text(i).size();
        chunk->bytes.reserve(bytes);
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

// A cell as a fresh read of the file gives it: an integer column's number
// worked out from its text.
void appendCell(Chunk& chunk, const Cell& cell, bool integerColumn, const std::string& path) {
    chunk.nulls.push_back(!cell);
    int64_t number = TableImage::kNoNumber;
    if (cell) {
        chunk.bytes += *cell;
        if (integerColumn)
            if (const std::optional<long long> parsed = detail::parseInteger(*cell))
                if (TableImage::isNumber(*parsed)) number = *parsed;
    }
    endCell(chunk, path);
    if (integerColumn) chunk.numbers.push_back(number);
}

// A text chunk that repeats its values keeps each once, where that pays.
void encodeRepeats(Chunk& chunk) {
    const uint32_t rows = chunk.rows();
    if (!chunk.codes.empty() || rows == 0) return;
    DistinctTexts distinct;
    CellArray<uint16_t> codes(rows);
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
    CellBytes bytes;
    bytes.reserve(entryBytes);
    CellArray<uint32_t> offsets{0};
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

// Keeps the text cells of a chunk being loaded as repeats from the start: a
// cell whose value came before in the chunk costs one lookup and no copy,
// where most columns of the archive repeat their values (categories,
// genres, publishers, issues). A chunk whose values turn out not to repeat
// enough is written out plain, by the rule of repeatsPay.
class RepeatCoder {
public:
    // A text of this length ends the coding of its chunk: kept as an entry,
    // it would be copied once more when the chunk is written out plain, and
    // what repeats beside it can save no more than the chunk's other cells
    // take, little next to it.
    static constexpr size_t kLongValueBytes = kLongTextBytes;

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

namespace {

// Also trims capacity: a loaded image is kept for long. The cells' bytes
// are trimmed only when that frees more than a sixteenth of them, and not
// in a chunk of many long texts: its room was made for them, large enough to
// come from pages of its own, which hold memory only once written, and a
// trim would copy the texts whole, which costs as much as reading them.
constexpr size_t kTrimmedBytes = 8 * detail::kLongTextBytes;

void shrink(Chunk& chunk, bool longTexts) {
    if ((!longTexts || chunk.bytes.size() <= kTrimmedBytes) &&
        chunk.bytes.capacity() - chunk.bytes.size() > chunk.bytes.size() / 16)
        chunk.bytes.shrink_to_fit();
    chunk.offsets.shrink_to_fit();
    chunk.nulls.shrink_to_fit();
    chunk.numbers.shrink_to_fit();
    chunk.codes.shrink_to_fit();
}

}  // namespace
}  // namespace archive::detail

namespace archive {

using detail::copyOf;
using detail::encodeRepeats;
using detail::endCell;
using detail::RepeatCoder;
using detail::shrink;

std::shared_ptr<TableImage::Chunk> TableImage::Builder::exactCopy(const Chunk& from,
                                                                  const std::shared_ptr<detail::LargePageRoom>& room) {
    auto copy = room ? std::make_shared<Chunk>(room) : std::make_shared<Chunk>();
    copy->bytes.assign(from.bytes.data(), from.bytes.size());
    copy->offsets.assign(from.offsets.begin(), from.offsets.end());
    copy->codes.assign(from.codes.begin(), from.codes.end());
    copy->nulls.assign(from.nulls.begin(), from.nulls.end());
    copy->numbers.assign(from.numbers.begin(), from.numbers.end());
    return copy;
}

std::shared_ptr<TableImage::Slots> TableImage::Builder::exactCopy(const Slots& from,
                                                                  const std::shared_ptr<detail::LargePageRoom>& room) {
    auto copy = room ? std::make_shared<Slots>(room) : std::make_shared<Slots>();
    copy->rowIds.assign(from.rowIds.begin(), from.rowIds.end());
    copy->deleted.assign(from.deleted.begin(), from.deleted.end());
    return copy;
}

TableImage::Builder::Builder(TableImage& image, uint32_t from) : image_(image) {
    const size_t columns = image.columns_.size();
    image.cells_.resize(columns);
    const uint32_t full = from >> kChunkShift;
    const uint32_t rest = from & (kChunkRows - 1);
    current_.resize(columns);
    longTexts_.assign(columns, false);
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

TableImage::Builder::~Builder() = default;

void TableImage::Builder::codeRepeats() {
    coders_.resize(current_.size());
    for (size_t c = 0; c < current_.size(); ++c) {
        if (image_.columns_[c].kind != FieldKind::Text) continue;
        coders_[c] = std::make_unique<RepeatCoder>();
        if (current_[c]->rows() == 0) coders_[c]->begin();
    }
}

void TableImage::Builder::appendText(int column, std::optional<std::string_view> utf8) {
    Chunk& chunk = *current_[static_cast<size_t>(column)];
    RepeatCoder* coder = static_cast<size_t>(column) < coders_.size() ? coders_[column].get() : nullptr;
    if (utf8 && utf8->size() >= RepeatCoder::kLongValueBytes) {
        longTexts_[static_cast<size_t>(column)] = true;
        if (coder && coder->coding()) coder->stop(chunk);
        // Room for the rest of the chunk at the rate of its rows so far, up
        // to what the file can hold: every growth would copy the long texts
        // read so far once more, and room not written to holds no memory.
        const size_t needed = chunk.bytes.size() + utf8->size() + 1;
        if (chunk.bytes.capacity() < needed) {
            const size_t atThisRate = needed / (chunk.nulls.size() + 1) * kChunkRows;
            const size_t fileBound = needed + static_cast<size_t>(std::max<off_t>(image_.stamp_.size, 0));
            const size_t room = std::max({needed, std::min(atThisRate, fileBound), 2 * chunk.bytes.capacity()});
            detail::reserveForLongTexts(chunk.bytes, room - chunk.bytes.size());
        }
    }
    chunk.nulls.push_back(!utf8);
    if (coder && coder->coding()) {
        coder->add(chunk, utf8.value_or(std::string_view()));
        if (chunk.bytes.size() >= UINT32_MAX) throw EngineError(detail::notATableText(image_.path_));
    } else {
        if (utf8) appendUtf8AsCp1252(chunk.bytes, *utf8);
        endCell(chunk, image_.path_);
    }
}

void TableImage::Builder::leaveRoom() {
    const char* const page = room_->partlyFilledPage();
    if (page == nullptr) return;
    // A piece ending within the page has at least its end there; one of an
    // earlier block of the room ends outside it, wherever that block lies.
    const char* const position = room_->position();
    for (const KeptPiece& piece : kept_) {
        if (piece.end <= page || piece.end > position) continue;
        if (piece.column < 0)
            image_.slots_[piece.index] = exactCopy(*image_.slots_[piece.index], nullptr);
        else
            image_.cells_[piece.column][piece.index] = exactCopy(*image_.cells_[piece.column][piece.index], nullptr);
    }
    room_->releasePartlyFilledPage();
    room_.reset();
    kept_.clear();
}

void TableImage::Builder::padChunk() {
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

void TableImage::Builder::flush() {
    for (size_t c = 0; c < current_.size(); ++c) {
        RepeatCoder* coder = c < coders_.size() ? coders_[c].get() : nullptr;
        if (coder && coder->coding()) {
            coder->end(*current_[c]);
        } else if (image_.columns_[c].kind == FieldKind::Text && !(coder && coder->stopped())) {
            encodeRepeats(*current_[c]);
        }
        if (room_) {
            Chunk& used = *current_[c];
            image_.cells_[c].push_back(exactCopy(used, room_));
            kept_.push_back({static_cast<int>(c), image_.cells_[c].size() - 1, room_->position()});
            used.bytes.clear();
            used.offsets.assign(1, 0);
            used.codes.clear();
            used.nulls.clear();
            used.numbers.clear();
            longTexts_[c] = false;
            if (coder) coder->begin();
            continue;
        }
        shrink(*current_[c], longTexts_[c]);
        longTexts_[c] = false;
        image_.cells_[c].push_back(std::move(current_[c]));
        current_[c] = std::make_shared<Chunk>();
        // Room for about what the last full chunk took, and a little more,
        // so that a chunk a little larger is not copied once to grow and
        // once more to be trimmed.
        if (slots_->rowIds.size() == kChunkRows) {
            const size_t last = image_.cells_[c].back()->bytes.size();
            detail::reserveForLongTexts(current_[c]->bytes, last + last / 32);
        }
        if (coder) coder->begin();
    }
    if (room_) {
        image_.slots_.push_back(exactCopy(*slots_, room_));
        kept_.push_back({-1, image_.slots_.size() - 1, room_->position()});
        slots_->rowIds.clear();
        slots_->deleted.clear();
        return;
    }
    image_.slots_.push_back(std::move(slots_));
    slots_ = std::make_shared<Slots>();
    slots_->rowIds.reserve(kChunkRows);
}

}  // namespace archive
