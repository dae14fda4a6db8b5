#include "queryeval.h"

#include "filelayer.h"
#include "tableimage_internal.h"

#include <algorithm>
#include <span>
#include <string>

namespace archive {
namespace {

// Which cells of a chunk satisfy a condition: marks[i] set for cell i.
class CellTest {
public:
    static void mark(const TableImage::Chunk& chunk, const BoundCondition& condition, std::vector<uint8_t>& marks) {
        const uint32_t count = chunk.rows();
        marks.assign(count, 0);
        if (condition.kind == sql::ConditionKind::AtLeast) {
            for (uint32_t i = 0; i < count; ++i) marks[i] = atLeast(chunk, condition, i);
            return;
        }
        const std::string_view cells = cellsOf(chunk, condition);
        const std::optional<std::string_view> inner = condition.like->containedText();
        if (inner && chunk.codes.empty()) {
            markContaining(chunk, cells, *inner, marks);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) marks[i] = likes(chunk, cells, condition, i);
    }

    static bool test(const TableImage::Chunk& chunk, const BoundCondition& condition, uint32_t i) {
        if (condition.kind == sql::ConditionKind::AtLeast) return atLeast(chunk, condition, i);
        return likes(chunk, cellsOf(chunk, condition), condition, i);
    }

private:
    // A REAL value a foreign file left in an integer column (kept as its
    // text) is compared by its value, as SQLite compares it: a rating of
    // 80.0 or 80.5 reaches 80, one of 79.5 does not. Texts and BLOBs never do.
    static bool atLeast(const TableImage::Chunk& chunk, const BoundCondition& condition, uint32_t i) {
        const int64_t number = chunk.numbers[i];
        if (TableImage::isNumber(number)) [[likely]]
            return number >= condition.minimum;
        if (number == TableImage::kBlobCell || chunk.nulls[i]) return false;
        const std::optional<double> real = detail::parseReal(chunk.text(i));
        return real && static_cast<long double>(*real) >= static_cast<long double>(condition.minimum);
    }

    static std::string_view cellsOf(const TableImage::Chunk& chunk, const BoundCondition& condition) {
        if (condition.kind == sql::ConditionKind::UpperLike) return chunk.upper();
        return chunk.bytes;
    }

    static bool likes(const TableImage::Chunk& chunk, std::string_view cells, const BoundCondition& condition,
                      uint32_t i) {
        if (chunk.nulls[i]) return false;  // NULL never satisfies LIKE
        const uint32_t entry = chunk.entry(i);
        const uint32_t start = chunk.offsets[entry];
        return condition.like->matches(std::string_view(cells.data() + start, chunk.offsets[entry + 1] - start - 1));
    }

    // One pass over the cells, which lie back to back with a 0 byte after
    // each: every hit is mapped to its cell through the offsets, and the
    // search goes on at the next cell.
    static void markContaining(const TableImage::Chunk& chunk, std::string_view all, std::string_view inner,
                               std::vector<uint8_t>& marks) {
        const uint32_t count = chunk.rows();
        if (inner.empty()) {
            for (uint32_t i = 0; i < count; ++i) marks[i] = !chunk.nulls[i];
            return;
        }
        const CellArray<uint32_t>& offsets = chunk.offsets;
        size_t pos = 0;
        uint32_t cell = 0;
        while (pos < all.size()) {
            const size_t hit = all.find(inner, pos);
            if (hit == std::string_view::npos) break;
            // The first cell that ends after the hit holds it: a few steps
            // ahead when hits are dense, a binary search when they are not.
            uint32_t step = 1;
            while (cell + step < count && offsets[cell + step] <= hit) step *= 2;
            auto next = std::upper_bound(offsets.begin() + cell + step / 2 + 1,
                                         offsets.begin() + std::min(cell + step, count) + 1, static_cast<uint32_t>(hit));
            cell = static_cast<uint32_t>(next - offsets.begin() - 1);
            if (hit + inner.size() < offsets[cell + 1]) {
                marks[cell] = 1;  // a NULL cell is empty and holds no hit
                pos = offsets[cell + 1];
                if (++cell >= count) break;
            } else {
                pos = hit + 1;  // ran over the end of its cell
            }
        }
    }
};

// A condition on a text column is tested once per distinct value of the
// column (a title keystroke: a few thousand titles, not a million rows);
// each row then takes the outcome of its value through its rank. Other
// conditions test the row's own cell.
class RowFilter {
public:
    RowFilter(const TableImage& image, const std::vector<BoundCondition>& conditions) : image_(image) {
        for (const BoundCondition& condition : conditions) {
            const bool text = image.columns()[static_cast<size_t>(condition.column)].kind == FieldKind::Text;
            if (condition.like && text) {
                ByValue test{condition.column, nullptr, {}};
                CellTest::mark(image.dictionary(condition.column), condition, test.matching);
                byValue_.push_back(std::move(test));
            } else {
                byCell_.push_back(&condition);
            }
        }
    }

    // The live rows that pass, in stored order, into `rows`.
    void inStoredOrder(std::vector<uint32_t>& rows) {
        for (ByValue& test : byValue_) test.ranks = &image_.ranks(test.column);
        const std::vector<uint32_t> live = image_.liveRows();
        select(live, [](uint32_t row, size_t) { return row; }, rows);
    }

    // The rows that pass, in the order of `keys`, into `rows`. The ranks of
    // each tested column are read along that order, so the walk reads
    // memory in sequence.
    void inOrder(const std::vector<SortSpec>& keys, std::vector<uint32_t>& rows) {
        for (ByValue& test : byValue_) test.ranks = &image_.ranksAlong(keys, test.column);
        select(image_.sortedRows(keys), [](uint32_t, size_t position) { return position; }, rows);
    }

private:
    struct ByValue {
        int column;
        const std::vector<uint32_t>* ranks;  // by row, or along the order walked
        std::vector<uint8_t> matching;       // by rank
    };

    template <class RankIndex>
    void select(std::span<const uint32_t> candidates, RankIndex rankIndex, std::vector<uint32_t>& rows) const {
        // Every candidate is written, and only one that passes is kept: no
        // branch a title keystroke's scattered matches would mispredict.
        rows.resize(candidates.size());
        uint32_t* out = rows.data();
        size_t kept = 0;
        if (byValue_.size() == 1 && byCell_.empty()) {
            // A title keystroke: one table lookup per row.
            const uint32_t* ranks = byValue_.front().ranks->data();
            const uint8_t* matching = byValue_.front().matching.data();
            for (size_t position = 0; position < candidates.size(); ++position) {
                const uint32_t row = candidates[position];
                out[kept] = row;
                kept += matching[ranks[rankIndex(row, position)]];
            }
        } else {
            for (size_t position = 0; position < candidates.size(); ++position) {
                const uint32_t row = candidates[position];
                out[kept] = row;
                kept += passes(row, rankIndex(row, position)) ? 1 : 0;
            }
        }
        rows.resize(kept);
    }

    bool passes(uint32_t row, size_t rankIndex) const {
        for (const ByValue& test : byValue_)
            if (!test.matching[(*test.ranks)[rankIndex]]) return false;
        for (const BoundCondition* condition : byCell_)
            if (!CellTest::test(image_.chunk(condition->column, row >> TableImage::kChunkShift), *condition,
                                row & (TableImage::kChunkRows - 1)))
                return false;
        return true;
    }

    const TableImage& image_;
    std::vector<ByValue> byValue_;
    std::vector<const BoundCondition*> byCell_;
};

// How many live rows hold each rank of a column.
struct LiveRankCounts {
    std::vector<uint32_t> counts;
    size_t memoryBytes() const { return counts.capacity() * sizeof(uint32_t); }
};

const std::vector<uint32_t>& liveRankCounts(const TableImage& image, int column) {
    auto make = [&] {
        const std::vector<uint32_t>& ranks = image.ranks(column);
        LiveRankCounts made;
        for (uint32_t row = 0; row < image.rowCount(); ++row) {
            if (image.isDeleted(row)) continue;
            if (ranks[row] >= made.counts.size()) made.counts.resize(ranks[row] + size_t{1}, 0);
            ++made.counts[ranks[row]];
        }
        return made;
    };
    return image.derived<LiveRankCounts>("live-rank-counts:" + std::to_string(column), make).counts;
}

}  // namespace

size_t countRows(const TableImage& image, const BoundCondition& condition) {
    std::vector<uint8_t> marks;
    size_t count = 0;
    const bool text = image.columns()[static_cast<size_t>(condition.column)].kind == FieldKind::Text;
    const TableImage::Chunk* dictionary = condition.like && text ? image.dictionaryIfAtHand(condition.column) : nullptr;
    if (dictionary) {
        CellTest::mark(*dictionary, condition, marks);
        const std::vector<uint32_t>& holders = liveRankCounts(image, condition.column);
        for (size_t rank = 0; rank < std::min(marks.size(), holders.size()); ++rank)
            if (marks[rank]) count += holders[rank];
        return count;
    }
    for (uint32_t index = 0; index < image.chunkCount(); ++index) {
        CellTest::mark(image.chunk(condition.column, index), condition, marks);
        const uint32_t first = index << TableImage::kChunkShift;
        for (uint32_t i = 0; i < marks.size(); ++i)
            if (marks[i] && !image.isDeleted(first + i)) ++count;
    }
    return count;
}

void selectRows(const TableImage& image, const std::vector<BoundCondition>& conditions,
                const std::vector<SortSpec>& order, std::vector<uint32_t>& rows) {
    if (conditions.empty()) {
        if (order.empty()) {
            rows = image.liveRows();
        } else {
            const std::vector<uint32_t>& sorted = image.sortedRows(order);
            constexpr size_t kLargePageRows = (size_t{2} << 20) / sizeof(uint32_t);
            if (rows.capacity() < sorted.size() && sorted.size() >= kLargePageRows) {
                // Fresh room for a million row numbers, in large pages. One
                // large page of slack lets the room hold whole large pages
                // wherever it lands; it costs at most one large page of memory.
                std::vector<uint32_t> room;
                detail::reserveInLargePages(room, sorted.size() + kLargePageRows);
                rows = std::move(room);
            }
            rows.assign(sorted.begin(), sorted.end());
        }
        return;
    }
    RowFilter filter(image, conditions);
    if (order.empty())
        filter.inStoredOrder(rows);
    else
        filter.inOrder(order, rows);
}

}  // namespace archive
