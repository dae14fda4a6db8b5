#include "statisticsfacts.h"

#include "filelayer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <unordered_map>

namespace stats::detail {
namespace {

// The month of an issue code: characters 6 and 7 read as an integer. A code
// too short to reach character 6 has no month.
std::optional<long long> issueMonth(std::string_view issue) {
    if (issue.size() < 6) return std::nullopt;
    return archive::detail::parseInteger(issue.substr(5, 2));
}

int8_t monthIndex(long long month) { return month >= 1 && month <= 12 ? static_cast<int8_t>(month - 1) : kNoMonth; }

int16_t ratingFact(std::string_view rating) {
    if (rating.empty()) return kRatingEmpty;
    const std::optional<double> value = decimalValue(rating);
    const int slot = value ? ratingSlot(*value) : -1;
    return slot >= 0 ? static_cast<int16_t>(slot) : kRatingOther;
}

int8_t categoryFact(std::string_view category, std::span<const std::string_view> names) {
    for (size_t i = 0; i < names.size(); ++i)
        if (category == names[i]) return static_cast<int8_t>(i);
    return -1;
}

// The walk takes one branch for every record out of the ordinary, so a
// record whose month is no number is marked by its rating as well.
// A rated game whose issue is no month counts among the other ratings.
GameFact combinedFact(int16_t rating, int8_t category, int8_t month) {
    GameFact fact{rating, category, month};
    if (fact.month == kMonthNotANumber && fact.rating >= 0) fact.rating = kRatingOther;
    return fact;
}

// A key that tells every list and column choice apart.
std::string factsKey(std::string_view what, std::initializer_list<int> columns,
                     std::span<const std::string_view> names) {
    std::string key = "stats/";
    key += what;
    // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
    for (int column : columns) key += "/" + std::to_string(column);
    for (std::string_view name : names) {
        key += "/" + std::to_string(name.size()) + ":";
        key += name;
    }
#pragma GCC diagnostic pop
    return key;
}

// A chunk that keeps each of its values once (categories, issues and
// ratings repeat all the time) has each worked out once: `of` per entry, the
// rows take theirs through their codes. A plain chunk has an entry per row.
template <class Value, class Of>
void entryFacts(const archive::TableImage::Chunk& chunk, std::vector<Value>& facts, Of&& of) {
    facts.resize(chunk.entryCount());
    for (uint32_t e = 0; e < chunk.entryCount(); ++e) facts[e] = of(chunk.entryText(e));
}

}  // namespace

std::optional<double> decimalValue(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    // from_chars also reads "inf" and "nan", which are no ratings.
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int ratingSlot(double value) {
    return value >= 0 && value <= 100 && value == std::floor(value) ? static_cast<int>(value) : -1;
}

int8_t monthFact(std::string_view issue) {
    if (issue.size() == 7 && issue[5] >= '0' && issue[5] <= '9' && issue[6] >= '0' && issue[6] <= '9')
        return monthIndex((issue[5] - '0') * 10 + (issue[6] - '0'));
    const std::optional<long long> month = issueMonth(issue);
    return month ? monthIndex(*month) : kMonthNotANumber;
}

GameFact gameFact(std::string_view rating, std::string_view category, std::string_view issue,
                  std::span<const std::string_view> names) {
    return combinedFact(ratingFact(rating), categoryFact(category, names), monthFact(issue));
}

const Facts<GameFact>& gameFacts(const archive::TableImage& image, const GameColumns& columns,
                                 std::span<const std::string_view> names) {
    const std::string key = factsKey("games", {columns.rating, columns.category, columns.issue}, names);
    return image.derived<Facts<GameFact>>(key, [&] {
        Facts<GameFact> facts;
        const uint32_t count = image.rowCount();
        facts.rows.resize(count);
        std::vector<int16_t> ratings;
        std::vector<int8_t> categories, months;
        for (uint32_t index = 0; index < image.chunkCount(); ++index) {
            const archive::TableImage::Chunk& rating = image.chunk(columns.rating, index);
            const archive::TableImage::Chunk& category = image.chunk(columns.category, index);
            const archive::TableImage::Chunk& issue = image.chunk(columns.issue, index);
            entryFacts(rating, ratings, ratingFact);
            entryFacts(category, categories, [&](std::string_view text) { return categoryFact(text, names); });
            entryFacts(issue, months, monthFact);
            const uint32_t first = index << archive::TableImage::kChunkShift;
            const uint32_t rows = std::min(rating.rows(), count - first);
            for (uint32_t i = 0; i < rows; ++i) {
                facts.rows[first + i] =
                    combinedFact(ratings[rating.entry(i)], categories[category.entry(i)], months[issue.entry(i)]);
            }
        }
        return facts;
    });
}

const Facts<KindFact>& kindFacts(const archive::TableImage& image, const KindColumns& columns,
                                 std::span<const std::string_view> names) {
    const std::string key = factsKey("kinds", {columns.kind, columns.issue}, names);
    return image.derived<Facts<KindFact>>(key, [&] {
        Facts<KindFact> facts;
        const uint32_t count = image.rowCount();
        facts.rows.resize(count);
        const KindMatcher matcher(names);
        // A kind column repeats a handful of texts in every chunk: each is matched once.
        std::unordered_map<std::string_view, int8_t> known;
        std::vector<int8_t> kinds, months;
        for (uint32_t index = 0; index < image.chunkCount(); ++index) {
            const archive::TableImage::Chunk& kind = image.chunk(columns.kind, index);
            const archive::TableImage::Chunk& issue = image.chunk(columns.issue, index);
            entryFacts(kind, kinds, [&](std::string_view text) {
                auto found = known.find(text);
                if (found == known.end()) found = known.emplace(text, matcher.kindOf(text)).first;
                return found->second;
            });
            entryFacts(issue, months, monthFact);
            const uint32_t first = index << archive::TableImage::kChunkShift;
            const uint32_t rows = std::min(kind.rows(), count - first);
            for (uint32_t i = 0; i < rows; ++i) facts.rows[first + i] = {kinds[kind.entry(i)], months[issue.entry(i)]};
        }
        return facts;
    });
}

}  // namespace stats::detail
