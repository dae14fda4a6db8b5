#include "titlematch.h"

#include "cp1252.h"
#include "enginepaths.h"
#include "imagecache.h"
#include "queryeval.h"
#include "querytext.h"
#include "sorting.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace archive {
namespace {

// The condition the quick field sets for a title (titleFilterFor), bound to
// the title column.
BoundCondition titleCondition(int column, std::string_view title) {
    std::string pattern = "%";
    pattern += upperAscii(quickTitleText(title));
    pattern += '%';
    return {sql::ConditionKind::UpperLike, column, LikePattern(pattern)};
}

constexpr uint64_t kBase = 0x100000001B3ull;

uint64_t mixed(uint64_t hash) {
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    return hash;
}

uint64_t hashOf(std::string_view text) {
    uint64_t hash = 0;
    for (const char c : text) hash = hash * kBase + static_cast<unsigned char>(c);
    return hash;
}

// The substrings of one length of a text, found by hash in one probe.
class Windows {
public:
    Windows(std::string_view text, size_t length) : text_(text), length_(length) {
        const size_t count = text.size() - length + 1;
        size_t capacity = 16;
        while (capacity < 2 * count) capacity *= 2;
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        uint64_t power = 1;  // kBase to the power length - 1
        for (size_t i = 1; i < length; ++i) power *= kBase;
        uint64_t hash = hashOf(text.substr(0, length));
        for (size_t start = 0;; ++start) {
            insert(hash, static_cast<uint32_t>(start));
            if (start + length >= text.size()) break;
            hash = (hash - power * static_cast<unsigned char>(text[start])) * kBase +
                   static_cast<unsigned char>(text[start + length]);
        }
    }

    bool holds(std::string_view candidate) const {
        const uint64_t hash = hashOf(candidate);
        for (size_t slot = mixed(hash) & mask_; slots_[slot].start != kEmpty; slot = (slot + 1) & mask_)
            if (slots_[slot].hash == hash && text_.substr(slots_[slot].start, length_) == candidate) return true;
        return false;
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        uint64_t hash = 0;
        uint32_t start = kEmpty;
    };

    void insert(uint64_t hash, uint32_t start) {
        size_t slot = mixed(hash) & mask_;
        while (slots_[slot].start != kEmpty) {
            // The same bytes again add nothing.
            if (slots_[slot].hash == hash && text_.substr(slots_[slot].start, length_) == text_.substr(start, length_))
                return;
            slot = (slot + 1) & mask_;
        }
        slots_[slot] = {hash, start};
    }

    std::string_view text_;
    size_t length_;
    std::vector<Slot> slots_;
    size_t mask_ = 0;
};

// Up to this length every substring of a text goes into a bit filter by its
// length and its first and last character, so that most titles of a million
// games are turned away by one bit; a longer text would fill the filter.
constexpr size_t kFilteredLength = 256;
constexpr size_t kFilterBits = size_t(1) << 16;

size_t filterBit(size_t length, unsigned char first, unsigned char last) {
    return static_cast<size_t>(mixed((uint64_t{length} << 16) | (uint64_t{first} << 8) | last)) & (kFilterBits - 1);
}

// The best game so far: the longest title, the first row among equals.
struct Best {
    size_t length = 0;
    uint32_t row = 0;
    bool found = false;
    void offer(size_t candidateLength, uint32_t candidateRow) {
        if (found && (candidateLength < length || (candidateLength == length && candidateRow >= row))) return;
        length = candidateLength;
        row = candidateRow;
        found = true;
    }
};

// Walks the live games with a title, in stored order: `literal` for a title
// without '%' (its upper-cased bytes), `pattern` for one with.
template <class Literal, class Pattern>
void walkGames(const TableImage& games, int column, Literal&& literal, Pattern&& pattern) {
    std::vector<uint8_t> hasPercent;
    for (uint32_t index = 0; index < games.chunkCount(); ++index) {
        const TableImage::Chunk& chunk = games.chunk(column, index);
        const std::string& upper = chunk.upper();
        const CellArray<uint32_t>& offsets = chunk.offsets;
        // The few cells holding '%', found by one search through the bytes.
        hasPercent.assign(offsets.size() - 1, 0);
        for (size_t at = chunk.bytes.find('%'); at != std::string::npos; at = chunk.bytes.find('%', at + 1)) {
            const auto next = std::upper_bound(offsets.begin(), offsets.end(), static_cast<uint32_t>(at));
            hasPercent[static_cast<size_t>(next - offsets.begin() - 1)] = 1;
        }
        const uint32_t first = index << TableImage::kChunkShift;
        const uint32_t rows = chunk.rows();
        for (uint32_t i = 0; i < rows; ++i) {
            if (chunk.nulls[i]) continue;
            const uint32_t entry = chunk.entry(i);
            const uint32_t start = offsets[entry];
            const std::string_view title(upper.data() + start, offsets[entry + 1] - start - 1);
            if (title.empty()) continue;
            if (hasPercent[entry])
                pattern(title, first + i);
            else
                literal(title, first + i);
        }
    }
}

}  // namespace

std::shared_ptr<const TableImage> imageOfView(const std::string& dataPath, const ViewDef& view) {
    return imageOf(detail::queriedTableFile(dataPath, queriedPath(dataPath, view.tableFile)));
}

std::string quickTitleText(std::string_view title) { return upperCp1252(title); }

bool leadsToRows(std::string_view title) { return title.find_first_not_of('%') != std::string_view::npos; }

int titleColumn(const TableImage& image) {
    const std::vector<Column>& columns = image.columns();
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].kind == FieldKind::Text && equalsIgnoringCase(columns[i].name, kTitleField))
            return static_cast<int>(i);
    return -1;
}

size_t countTitleRows(const TableImage& image, std::string_view title) {
    const int column = titleColumn(image);
    if (column < 0) return 0;
    return countRows(image, titleCondition(column, title));
}

std::optional<LinkedGame> gameOfTitle(const TableImage& games, std::string_view title) {
    const int column = titleColumn(games);
    if (column < 0) return std::nullopt;
    // The entry's title as the engine's UPPER gives it to the LIKE.
    const std::string text = upperCp1252(title);
    const size_t n = text.size();
    Best best;
    std::vector<std::pair<size_t, uint32_t>> patterns;  // length, row
    auto pattern = [&](std::string_view gameTitle, uint32_t row) {
        if (!games.isDeleted(row) && leadsToRows(gameTitle)) patterns.emplace_back(gameTitle.size(), row);
    };
    if (n <= kFilteredLength) {
        auto filter = std::make_unique<std::bitset<kFilterBits>>();
        for (size_t start = 0; start < n; ++start)
            for (size_t end = start; end < n; ++end)
                filter->set(filterBit(end - start + 1, static_cast<unsigned char>(text[start]),
                                      static_cast<unsigned char>(text[end])));
        std::array<std::unique_ptr<Windows>, kFilteredLength + 1> windows;
        walkGames(
            games, column,
            [&](std::string_view gameTitle, uint32_t row) {
                const size_t length = gameTitle.size();
                // Stored order: a later game wins only by a longer title.
                if (length > n || (best.found && length <= best.length)) return;
                if (!filter->test(filterBit(length, static_cast<unsigned char>(gameTitle.front()),
                                            static_cast<unsigned char>(gameTitle.back()))))
                    return;
                if (!windows[length]) windows[length] = std::make_unique<Windows>(text, length);
                if (windows[length]->holds(gameTitle) && !games.isDeleted(row)) best.offer(length, row);
            },
            pattern);
    } else {
        // A long text: the candidates by length, longest first, and the
        // substrings of one length at a time, until a length has a game.
        std::vector<std::pair<size_t, uint32_t>> candidates;
        walkGames(
            games, column,
            [&](std::string_view gameTitle, uint32_t row) {
                if (gameTitle.size() <= n && !games.isDeleted(row)) candidates.emplace_back(gameTitle.size(), row);
            },
            pattern);
        std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        });
        for (size_t from = 0; from < candidates.size() && !best.found;) {
            const size_t length = candidates[from].first;
            const Windows windows(text, length);
            size_t to = from;
            for (; to < candidates.size() && candidates[to].first == length; ++to) {
                const uint32_t row = candidates[to].second;
                const TableImage::Chunk& chunk = games.chunk(column, row >> TableImage::kChunkShift);
                const uint32_t entry = chunk.entry(row & (TableImage::kChunkRows - 1));
                if (!best.found &&
                    windows.holds(std::string_view(chunk.upper().data() + chunk.offsets[entry], length)))
                    best.offer(length, row);
            }
            from = to;
        }
    }
    // The titles with '%' are patterns, as in the quick field.
    for (const auto& [length, row] : patterns) {
        if (best.found && (length < best.length || (length == best.length && row > best.row))) continue;
        if (titleCondition(column, games.text(row, column)).like->matches(text)) best.offer(length, row);
    }
    if (!best.found) return std::nullopt;
    return LinkedGame{best.row, std::string(games.text(best.row, column))};
}

LinkCounts linkCounts(const std::string& dataPath, const ViewDef& view, std::string_view title) {
    LinkCounts counts;
    if (&view == &gamesView()) {
        counts.game = std::string(title);
    } else if (const auto game = gameOfTitle(*imageOfView(dataPath, gamesView()), title)) {
        counts.game = game->title;
    } else {
        return counts;
    }
    const std::string& game = *counts.game;
    if (&view != &gamesView()) counts.games = countTitleRows(*imageOfView(dataPath, gamesView()), game);
    if (&view != &discView()) counts.disc = countTitleRows(*imageOfView(dataPath, discView()), game);
    if (&view != &tipsView()) counts.tips = countTitleRows(*imageOfView(dataPath, tipsView()), game);
    return counts;
}

}  // namespace archive
