#include "tableimage_internal.h"

#include "collation.h"
#include "cp1252.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

// The ordering indexes of an image, worked out on first use: the collation
// ranks of a column, its distinct values in rank order, the row order of an
// ORDER BY, and a column's ranks along such an order.

namespace archive {
namespace {

using detail::DistinctNumbers;
using detail::DistinctTexts;
using detail::endCell;

// How much of a text's collation key the sort of a column keeps at hand:
// more than any ordinary title needs to differ from its neighbours.
constexpr size_t kSortKeyBytes = 64;

// A sort entry that keeps the first key bytes at hand, so most comparisons
// never leave the array being sorted; `row` names a distinct value.
struct TextEntry {
    uint64_t prefix;
    uint32_t row;
};

// Marks a value id of an integer column as one of its integers, one of its
// REAL values (kept as text in the image) or one of its BLOBs.
constexpr uint32_t kNumberBit = 0x80000000u;
constexpr uint32_t kRealBit = 0x40000000u;
constexpr uint32_t kBlobBit = 0x20000000u;
constexpr uint32_t kIdBits = kBlobBit - 1;

// An integer or a REAL, compared by value without rounding the integer.
struct NumericValue {
    long double value;
    uint32_t id;  // tagged as in valueOfRow
};

}  // namespace

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

TableImage::KeptOrder& TableImage::useOrder(const std::vector<SortSpec>& keys) const {
    KeptOrder& used = sorted_[keys];
    used.lastUse = ++orderUses_;
    if (sorted_.size() <= kKeptOrders) return used;
    while (sorted_.size() > kKeptOrders) {
        auto oldest = sorted_.begin();
        for (auto it = sorted_.begin(); it != sorted_.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse) oldest = it;
        sorted_.erase(oldest);
    }
    // The ranks of a column no kept order sorts by go too: they are a row's
    // worth each, and a column's ranks are worked out again far faster than
    // its order. Its dictionary, a value's worth each, stays.
    for (auto it = ranks_.begin(); it != ranks_.end();) {
        const int column = it->first;
        const bool sorts = std::any_of(sorted_.begin(), sorted_.end(), [&](const auto& kept) {
            return std::any_of(kept.first.begin(), kept.first.end(),
                               [&](const SortSpec& key) { return key.column == column; });
        });
        it = sorts ? std::next(it) : ranks_.erase(it);
    }
    return used;
}

const std::vector<uint32_t>& TableImage::ranksAlong(const std::vector<SortSpec>& keys, int column) const {
    {
        std::lock_guard lock(cacheMutex_);
        const auto found = sorted_.find(keys);
        if (found != sorted_.end()) {
            const auto along = found->second.ranksAlong.find(column);
            if (along != found->second.ranksAlong.end()) {
                found->second.lastUse = ++orderUses_;
                return *along->second;
            }
        }
    }
    auto along = std::make_shared<std::vector<uint32_t>>();
    if (keys.size() == 1 && keys.front().column == column) {
        const std::vector<uint32_t>& rank = ranks(column);
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
        along->reserve(rowCount_ - deletedCount_);
        for (uint32_t step = 0; step <= top; ++step) {
            const uint32_t r = keys.front().descending ? top - step : step;
            along->insert(along->end(), holders[r], r);
        }
    } else {
        // The order first: working it out may drop ranks no kept order needs.
        const std::vector<uint32_t>& order = sortedRows(keys);
        const std::vector<uint32_t>& rank = ranks(column);
        along->reserve(order.size());
        for (const uint32_t row : order) along->push_back(rank[row]);
    }
    std::lock_guard lock(cacheMutex_);
    Ranks& slot = useOrder(keys).ranksAlong[column];
    if (!slot) slot = std::move(along);
    return *slot;
}

const TableImage::Chunk* TableImage::dictionaryIfAtHand(int column) const {
    std::lock_guard lock(cacheMutex_);
    const auto found = dictionaries_.find(column);
    return found == dictionaries_.end() ? nullptr : found->second.get();
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
    size_t bytes = holder.size();
    for (uint32_t r = 1; r <= top; ++r)
        if (holder[r] != UINT32_MAX) bytes += text(holder[r], column).size();
    detail::reserveForLongTexts(made->bytes, bytes);  // copied once, not again with every growth
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
        // The order SQLite gives a column of INTEGER affinity: NULL, then the
        // numbers by value (a REAL among the integers), then the texts a
        // foreign file may hold there, by the collation of text fields, then
        // its BLOBs by their bytes.
        DistinctNumbers numbers;
        DistinctTexts reals;
        DistinctTexts others;
        DistinctTexts blobs;
        std::vector<double> realValues;
        for (uint32_t row = 0; row < rowCount_; ++row) {
            if (isNull(row, column)) continue;
            const int64_t number = cells_[column][row >> kChunkShift]->numbers[row & (kChunkRows - 1)];
            if (isNumber(number)) {
                valueOfRow[row] = numbers.idOf(number) | kNumberBit;
                continue;
            }
            const std::string_view cell = text(row, column);
            if (number == kBlobCell) {
                valueOfRow[row] = blobs.idOf(cell) | kBlobBit;
                continue;
            }
            if (const std::optional<double> real = detail::parseReal(cell)) {
                const uint32_t id = reals.idOf(cell);
                if (id == realValues.size()) realValues.push_back(*real);
                valueOfRow[row] = id | kRealBit;
                continue;
            }
            valueOfRow[row] = others.idOf(cell);
        }
        std::vector<NumericValue> numeric;
        numeric.reserve(numbers.values.size() + realValues.size());
        for (uint32_t id = 0; id < numbers.values.size(); ++id)
            numeric.push_back({static_cast<long double>(numbers.values[id]), id | kNumberBit});
        for (uint32_t id = 0; id < realValues.size(); ++id) numeric.push_back({realValues[id], id | kRealBit});
        std::sort(numeric.begin(), numeric.end(),
                  [](const NumericValue& a, const NumericValue& b) { return a.value < b.value; });
        std::vector<uint32_t> textOrder(others.values.size());
        std::iota(textOrder.begin(), textOrder.end(), 0u);
        std::sort(textOrder.begin(), textOrder.end(), [&](uint32_t a, uint32_t b) {
            return compareCollated(others.values[a], others.values[b]) < 0;
        });
        // Equal values share a rank (3 and 3.0), so the stored order decides
        // between them, as it does between equal integers.
        std::vector<uint32_t> numberRank(numbers.values.size());
        std::vector<uint32_t> realRank(realValues.size());
        uint32_t rank = 0;
        for (size_t i = 0; i < numeric.size(); ++i) {
            if (i == 0 || numeric[i - 1].value < numeric[i].value) ++rank;
            const uint32_t id = numeric[i].id;
            (id & kNumberBit ? numberRank[id & kIdBits] : realRank[id & kIdBits]) = rank;
        }
        std::vector<uint32_t> textRank(textOrder.size());
        for (const uint32_t id : textOrder) textRank[id] = ++rank;
        // A BLOB's bytes came from the file as they stand; the image holds
        // them as text, whose UTF-8 form gives them back.
        std::vector<std::string> blobBytes;
        for (const std::string_view blob : blobs.values) blobBytes.push_back(cp1252ToUtf8(blob));
        std::vector<uint32_t> blobOrder(blobBytes.size());
        std::iota(blobOrder.begin(), blobOrder.end(), 0u);
        std::sort(blobOrder.begin(), blobOrder.end(), [&](uint32_t a, uint32_t b) { return blobBytes[a] < blobBytes[b]; });
        std::vector<uint32_t> blobRank(blobOrder.size());
        for (const uint32_t id : blobOrder) blobRank[id] = ++rank;
        for (uint32_t row = 0; row < rowCount_; ++row) {
            if (isNull(row, column)) continue;
            const uint32_t value = valueOfRow[row];
            ranks[row] = value & kNumberBit ? numberRank[value & kIdBits]
                         : value & kRealBit ? realRank[value & kIdBits]
                         : value & kBlobBit ? blobRank[value & kIdBits]
                                            : textRank[value];
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
    size_t bytes = count + 1;
    bool longValues = false;
    for (const std::string_view value : distinct.values) {
        bytes += value.size();
        longValues = longValues || value.size() >= detail::kLongTextBytes;
    }
    // A column of long texts gets its dictionary when a condition or the
    // title search asks for it: the copy costs as much as reading the texts,
    // and a view sorted by the column needs only the ranks.
    if (longValues) return ranks;
    auto made = std::make_shared<Chunk>();
    made->offsets.reserve(count + 2);
    made->nulls.reserve(count + 1);
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
        if (found != sorted_.end() && found->second.rows) {
            found->second.lastUse = ++orderUses_;
            return *found->second.rows;
        }
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
    Order& slot = useOrder(keys).rows;
    if (!slot) slot = std::move(rows);
    return *slot;
}

}  // namespace archive
