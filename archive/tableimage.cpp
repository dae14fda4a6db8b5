#include "tableimage.h"

#include "cp1252.h"
#include "filelayer.h"

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

using detail::Database;
using detail::Statement;

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

// Steps a statement and insists on a row or the end: a damaged page found
// halfway must never pass for the end of the table.
bool stepRow(sqlite3_stmt* stmt, const Database& db, const std::string& path) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    detail::throwForSqlite(rc, path, db.lastError());
}

}  // namespace

std::optional<FileStamp> stampOf(const std::string& path) {
    const std::string fsName = detail::fsPath(path);
    const int fd = ::open(fsName.c_str(), O_RDONLY | O_CLOEXEC);
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

std::shared_ptr<const TableImage> TableImage::load(const std::string& path) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::notFoundText(path));

    std::shared_ptr<TableImage> image(new TableImage);
    image->path_ = path;
    image->stamp_ = *stamp;

    Database db = Database::openReadOnly(path);
    // One read transaction: schema and rows come from the same state of the file.
    db.exec("BEGIN", path);

    {
        Statement tables(db,
                         "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
                         path);
        int count = 0;
        while (stepRow(tables.get(), db, path)) {
            image->tableName_ = std::string(columnText(tables.get(), 0));
            ++count;
        }
        if (count != 1) throw EngineError(detail::notATableText(path));
    }
    {
        Statement info(db, "SELECT name, type FROM pragma_table_info(?1)", path);
        sqlite3_bind_text(info.get(), 1, image->tableName_.data(), static_cast<int>(image->tableName_.size()),
                          SQLITE_STATIC);
        while (stepRow(info.get(), db, path)) {
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
    std::unique_ptr<Statement> rows;
    try {
        rows = std::make_unique<Statement>(db, select, path);
    } catch (const EngineError&) {
        throw EngineError(detail::notATableText(path));  // e.g. a table without row ids
    }

    image->data_.resize(columnCount);
    for (ColumnData& data : image->data_) data.offsets.push_back(0);
    sqlite3_stmt* stmt = rows->get();
    char digits[24];
    while (stepRow(stmt, db, path)) {
        if (image->rowCount_ == UINT32_MAX - 1) throw EngineError(detail::notATableText(path));
        image->rowIds_.push_back(sqlite3_column_int64(stmt, 0));
        for (int c = 0; c < columnCount; ++c) {
            ColumnData& data = image->data_[c];
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
            data.bytes += '\0';
            if (data.bytes.size() >= UINT32_MAX) throw EngineError(detail::notATableText(path));
            data.offsets.push_back(static_cast<uint32_t>(data.bytes.size()));
            if (integerColumn) data.numbers.push_back(number);
        }
        ++image->rowCount_;
    }
    rows.reset();
    db.exec("COMMIT", path);

    for (ColumnData& data : image->data_) {
        data.bytes.shrink_to_fit();
        data.offsets.shrink_to_fit();
        data.nulls.shrink_to_fit();
        data.numbers.shrink_to_fit();
    }
    image->rowIds_.shrink_to_fit();
    return image;
}

std::optional<long long> TableImage::integer(uint32_t row, int column) const {
    const ColumnData& data = data_[column];
    if (!data.numbers.empty()) {
        const int64_t value = data.numbers[row];
        if (value == kNoNumber) return std::nullopt;
        return value;
    }
    if (data.nulls[row]) return std::nullopt;
    return detail::parseInteger(text(row, column));
}

std::optional<uint32_t> TableImage::rowOfRowId(int64_t rowId) const {
    const auto found = std::lower_bound(rowIds_.begin(), rowIds_.end(), rowId);
    if (found == rowIds_.end() || *found != rowId) return std::nullopt;
    return static_cast<uint32_t>(found - rowIds_.begin());
}

TableImage::Bytes TableImage::upperBytes(int column) const {
    std::lock_guard lock(cacheMutex_);
    std::unique_ptr<std::string>& upper = upper_[column];
    if (!upper) upper = std::make_unique<std::string>(upperCp1252(data_[column].bytes));
    return {*upper, data_[column].offsets};
}

const std::vector<uint32_t>& TableImage::ranks(int column) const {
    {
        std::lock_guard lock(cacheMutex_);
        const auto found = ranks_.find(column);
        if (found != ranks_.end()) return *found->second;
    }
    auto computed = std::make_unique<std::vector<uint32_t>>(computeRanks(column));
    std::lock_guard lock(cacheMutex_);
    std::unique_ptr<std::vector<uint32_t>>& slot = ranks_[column];
    if (!slot) slot = std::move(computed);
    return *slot;
}

std::vector<uint32_t> TableImage::computeRanks(int column) const {
    const ColumnData& data = data_[column];
    std::vector<uint32_t> ranks(rowCount_, 0);  // NULL stays 0, below everything

    // The non-null values in ascending order, then one rank per distinct value.
    if (columns_[column].kind == FieldKind::Integer) {
        // Values that are no number (only from a foreign file) sort below the numbers, by their bytes.
        std::vector<NumberEntry> numbers;
        std::vector<uint32_t> others;
        for (uint32_t row = 0; row < rowCount_; ++row) {
            if (data.nulls[row]) continue;
            if (data.numbers[row] == kNoNumber)
                others.push_back(row);
            else
                numbers.push_back({data.numbers[row], row});
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
    keys.reserve(data.bytes.size() + data.bytes.size() / 16);
    std::vector<size_t> keyOffsets(rowCount_ + 1, 0);
    std::vector<TextEntry> entries;
    entries.reserve(rowCount_);
    for (uint32_t row = 0; row < rowCount_; ++row) {
        for (char c : text(row, column)) {
            const Weight& weight = kWeights[static_cast<unsigned char>(c)];
            keys.append(weight.bytes, weight.length);
        }
        keyOffsets[row + 1] = keys.size();
        if (data.nulls[row]) continue;
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
    auto rows = std::make_unique<std::vector<uint32_t>>(rowCount_);
    std::iota(rows->begin(), rows->end(), 0u);
    // Least significant key first; each pass is a stable counting sort by
    // rank, so rows equal on every key keep their stored order.
    std::vector<uint32_t> buffer(rowCount_);
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
    std::unique_ptr<std::vector<uint32_t>>& slot = sorted_[keys];
    if (!slot) slot = std::move(rows);
    return *slot;
}

size_t TableImage::cellMemory() const {
    size_t total = rowIds_.capacity() * sizeof(int64_t);
    for (const ColumnData& data : data_)
        total += data.bytes.capacity() + data.offsets.capacity() * sizeof(uint32_t) + data.nulls.capacity() / 8 +
                 data.numbers.capacity() * sizeof(int64_t);
    return total;
}

size_t TableImage::totalMemory() const {
    size_t total = cellMemory();
    std::lock_guard lock(cacheMutex_);
    for (const auto& [column, upper] : upper_) total += upper->capacity();
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
    if (!stamp) throw EngineError(detail::notFoundText(path));
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
