#include "statistics.h"

#include "cp1252.h"
#include "filelayer.h"
#include "sorting.h"
#include "tableimage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>

namespace stats {
namespace {

constexpr std::string_view kRatingField = "WERTUNG";
constexpr std::string_view kIssueField = "AUSGABE";
constexpr std::string_view kKindField = "ART";

// Category, kind and month indices are kept in one byte per row.
constexpr size_t kMostNames = 127;

// ---- reading one cell

// The decimal value of a text with the full stop: blanks around it and a
// sign allowed, an exponent too; nothing for anything else.
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

// The month of an issue code: characters 6 and 7 read as an integer. A code
// too short to reach character 6 has no month.
std::optional<long long> issueMonth(std::string_view issue) {
    if (issue.size() < 6) return std::nullopt;
    return archive::detail::parseInteger(issue.substr(5, 2));
}

// The rating distribution holds the whole values 0 to 100 only.
int ratingSlot(double value) {
    return value >= 0 && value <= 100 && value == std::floor(value) ? static_cast<int>(value) : -1;
}

// ---- per-row facts, worked out once per table image

// What the walk needs of a game row, in four bytes so a pass over a result in
// any order touches one small cell per record.
struct GameFact {
    int16_t rating;    // 0..100, kRatingEmpty, or kRatingOther for anything else
    int8_t category;   // index of the category name, or -1
    int8_t month;      // 0..11, kNoMonth or kMonthNotANumber
};
constexpr int16_t kRatingEmpty = -1;      // the record counts nowhere
constexpr int16_t kRatingOther = -2;      // not a whole 0..100, or the month no number: read the texts on the walk
constexpr int8_t kNoMonth = -1;           // a number outside 1..12: counts in no month
constexpr int8_t kMonthNotANumber = -2;   // ends the walk at this record

struct KindFact {
    int8_t kind;   // the first kind whose stem occurs, or -1
    int8_t month;  // as in GameFact
};

template <class Fact>
struct Facts {
    std::vector<Fact> rows;
    size_t memoryBytes() const { return rows.capacity() * sizeof(Fact); }
};

int8_t monthIndex(long long month) { return month >= 1 && month <= 12 ? static_cast<int8_t>(month - 1) : kNoMonth; }

int16_t ratingFact(std::string_view rating) {
    if (rating.empty()) return kRatingEmpty;
    const std::optional<double> value = decimalValue(rating);
    const int slot = value ? ratingSlot(*value) : -1;
    return slot >= 0 ? static_cast<int16_t>(slot) : kRatingOther;
}

int8_t monthFact(std::string_view issue) {
    if (issue.size() == 7 && issue[5] >= '0' && issue[5] <= '9' && issue[6] >= '0' && issue[6] <= '9')
        return monthIndex((issue[5] - '0') * 10 + (issue[6] - '0'));
    const std::optional<long long> month = issueMonth(issue);
    return month ? monthIndex(*month) : kMonthNotANumber;
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

GameFact gameFact(std::string_view rating, std::string_view category, std::string_view issue,
                  std::span<const std::string_view> names) {
    return combinedFact(ratingFact(rating), categoryFact(category, names), monthFact(issue));
}

// A stem occurs in the kind with A-Z lowered on both sides exactly when it
// occurs with a-z raised on both sides; every other byte stays as it is
// (the "\xF6" of "L\xF6sung" never meets the "\xD6" of "L\xD6SUNG").
class KindMatcher {
public:
    explicit KindMatcher(std::span<const std::string_view> kindNames) {
        for (std::string_view name : kindNames) stems_.push_back(archive::upperAscii(name.substr(0, 4)));
    }
    int8_t kindOf(std::string_view kind) const {
        const std::string raised = archive::upperAscii(kind);
        for (size_t i = 0; i < stems_.size(); ++i)
            if (raised.find(stems_[i]) != std::string::npos) return static_cast<int8_t>(i);
        return -1;
    }

private:
    std::vector<std::string> stems_;
};

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

struct GameColumns {
    int rating, category, issue;
    int title = -1;  // names the record of a failure, where the table has titles
};
struct KindColumns {
    int kind, issue;
    int title = -1;
};

// A chunk that keeps each of its values once (categories, issues and
// ratings repeat all the time) has each worked out once: `of` per entry, the
// rows take theirs through their codes. A plain chunk has an entry per row.
template <class Value, class Of>
void entryFacts(const archive::TableImage::Chunk& chunk, std::vector<Value>& facts, Of&& of) {
    facts.resize(chunk.entryCount());
    for (uint32_t e = 0; e < chunk.entryCount(); ++e) facts[e] = of(chunk.entryText(e));
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

// ---- where a walk takes its records from

// A query: the facts of its image, gathered through its row numbers.
template <class Fact>
struct ImageRecords {
    const archive::TableImage* image;
    std::span<const uint32_t> rows;
    const Fact* facts;

    size_t size() const { return rows.size(); }
    Fact fact(size_t record) const { return facts[rows[record]]; }
    std::string_view text(size_t record, int column) const { return image->text(rows[record], column); }
};

// Any other data set (a table may hold a record in its edit buffer): the
// same facts, worked out record by record from the texts it shows.
struct TextRecords {
    const archive::DataSet& dataSet;
    size_t size() const { return static_cast<size_t>(dataSet.recordCount()); }
    std::string_view text(size_t record, int column) const { return dataSet.text(static_cast<int>(record), column); }
};

struct GameTextRecords : TextRecords {
    GameColumns columns;
    std::span<const std::string_view> names;
    GameFact fact(size_t record) const {
        return gameFact(text(record, columns.rating), text(record, columns.category), text(record, columns.issue),
                        names);
    }
};

struct KindTextRecords : TextRecords {
    KindColumns columns;
    KindMatcher matcher;
    KindFact fact(size_t record) const {
        return {matcher.kindOf(text(record, columns.kind)), monthFact(text(record, columns.issue))};
    }
};

const archive::TableImage* imageToGather(const archive::DataSet& dataSet) {
    return dynamic_cast<const archive::Query*>(&dataSet) ? dataSet.image() : nullptr;
}

// ---- the walks

// The walk ends at `record` (of the records in their order): its value in
// `field` is no number. The text names the record by its place and title.
template <class Statistics, class Records>
void fail(Statistics& statistics, const Records& records, size_t record, int titleColumn, std::string_view value,
          std::string_view field) {
    statistics.complete = false;
    std::optional<std::string_view> title;
    if (titleColumn >= 0) title = records.text(record, titleColumn);
    statistics.failure = archive::detail::notANumberText(value, field, record + 1, title);
}

// The sums of a pass, kept apart from the result while it runs, so the
// compiler holds them at fixed places on the stack. In doubles, or for
// ordinary records (whole ratings) in integers: see walkGames.
template <class Number>
struct GameSumsIn {
    std::array<Number, 7> categorySum{};
    std::array<Number, 7> categoryCount{};
    std::array<Number, 12> monthRatingSum{};
    std::array<Number, 12> monthTestCount{};
    std::array<Number, 101> ratingCounts{};

    void add(int category, int month, Number value, int slot) {
        if (category >= 0) {
            categorySum[static_cast<size_t>(category)] += value;
            categoryCount[static_cast<size_t>(category)] += 1;
        }
        if (month >= 0) {
            monthRatingSum[static_cast<size_t>(month)] += value;
            monthTestCount[static_cast<size_t>(month)] += 1;
        }
        if (slot >= 0) ratingCounts[static_cast<size_t>(slot)] += 1;
    }
};
using GameSums = GameSumsIn<double>;
static_assert(std::is_same_v<decltype(GameSums::monthRatingSum), MonthValues>);

// A record whose rating is no whole 0..100 or whose issue month is no
// number, step by step: the rating's value for its category, the month
// (read before the rating's value when there is no category), the month's
// sums, the distribution. False when a step fails; the steps before it
// have added their part.
// Kept out of line, so the ordinary records' loop keeps its registers.
template <class Records>
[[gnu::noinline]] bool addUnusualGame(const Records& records, size_t record, GameFact fact, const GameColumns& columns,
                                      GameSums& sums, GameStatistics& s) {
    const std::string_view rating = records.text(record, columns.rating);
    const std::optional<double> value = decimalValue(rating);
    if (!value) {
        if (fact.category < 0 && fact.month == kMonthNotANumber)
            fail(s, records, record, columns.title, records.text(record, columns.issue), kIssueField);
        else
            fail(s, records, record, columns.title, rating, kRatingField);
        return false;
    }
    const int slot = ratingSlot(*value);
    if (fact.month == kMonthNotANumber) {
        sums.add(fact.category, kNoMonth, *value, -1);
        fail(s, records, record, columns.title, records.text(record, columns.issue), kIssueField);
        return false;
    }
    sums.add(fact.category, fact.month, *value, slot);
    return true;
}

// A record at a time in the order of a game statistics pass: the rating
// (empty: next record), its category, its month, the distribution. A
// failure leaves what the records before it and the steps before it added.
// The records come by value: then no store of the pass can touch them and
// the compiler keeps their pointers in registers.
// The sums of ordinary records, whose ratings are whole numbers, are whole
// numbers too, counted as integers. Sums of whole numbers are exact in
// doubles, in any order, so handing them over gives the very sums the
// record-by-record doubles would.
void handOver(const GameSumsIn<int64_t>& whole, GameSums& sums) {
    auto add = [](auto& to, const auto& from) {
        for (size_t i = 0; i < to.size(); ++i) to[i] += static_cast<double>(from[i]);
    };
    add(sums.categorySum, whole.categorySum);
    add(sums.categoryCount, whole.categoryCount);
    add(sums.monthRatingSum, whole.monthRatingSum);
    add(sums.monthTestCount, whole.monthTestCount);
    add(sums.ratingCounts, whole.ratingCounts);
}

template <class Records>
void walkGames(const Records records, const GameColumns& columns, GameStatistics& s) {
    GameSums sums;
    const size_t count = records.size();
    size_t record = 0;
    // Up to the first unusual record, whose value may be no whole number:
    // from there on the sums go on record by record, in doubles.
    {
        GameSumsIn<int64_t> whole;
        for (; record < count; ++record) {
            const GameFact fact = records.fact(record);
            if (fact.rating >= 0) [[likely]] {
                whole.add(fact.category, fact.month, fact.rating, fact.rating);
            } else if (fact.rating != kRatingEmpty) {
                break;
            }
        }
        handOver(whole, sums);
    }
    for (; record < count; ++record) {
        const GameFact fact = records.fact(record);
        if (fact.rating >= 0) [[likely]] {
            sums.add(fact.category, fact.month, fact.rating, fact.rating);
        } else if (fact.rating != kRatingEmpty && !addUnusualGame(records, record, fact, columns, sums, s)) {
            break;
        }
    }
    s.categorySum = sums.categorySum;
    s.categoryCount = sums.categoryCount;
    s.monthRatingSum = sums.monthRatingSum;
    s.monthTestCount = sums.monthTestCount;
    s.ratingCounts = sums.ratingCounts;
}

// Kinds: a matched kind counts before the month is read, the rest kind after.
template <class Records>
void walkKinds(const Records records, const KindColumns& columns, KindStatistics& s) {
    std::array<double, kMostNames + 1> kindCount{};
    MonthValues monthItemCount{};
    // Without kinds there is no rest kind: its count goes to a slot never read.
    const size_t rest = s.kindCount.empty() ? kMostNames : s.kindCount.size() - 1;
    const size_t count = records.size();
    for (size_t record = 0; record < count; ++record) {
        const KindFact fact = records.fact(record);
        if (fact.month == kMonthNotANumber) {
            if (fact.kind >= 0) kindCount[static_cast<size_t>(fact.kind)] += 1;
            fail(s, records, record, columns.title, records.text(record, columns.issue), kIssueField);
            break;
        }
        kindCount[fact.kind >= 0 ? static_cast<size_t>(fact.kind) : rest] += 1;
        if (fact.month >= 0) monthItemCount[static_cast<size_t>(fact.month)] += 1;
    }
    std::copy_n(kindCount.begin(), s.kindCount.size(), s.kindCount.begin());
    s.monthItemCount = monthItemCount;
}

// A month's count per issue only grows during a pass, so the largest value
// any record reached is the largest value at the end.
double perIssueMax(const MonthValues& counts, const MonthValues& issues) {
    double most = 1;
    for (size_t m = 0; m < counts.size(); ++m) most = std::max(most, quotient(counts[m], issues[m]));
    return most;
}

// Column indices of the fields, or the engine's message for a missing one.
template <class Statistics>
bool findColumns(const archive::DataSet& dataSet, std::initializer_list<std::pair<std::string_view, int*>> fields,
                 Statistics& statistics) {
    try {
        for (const auto& [name, column] : fields) *column = dataSet.requiredFieldIndex(name);
        return true;
    } catch (const archive::EngineError& error) {
        // With no record to read, no field is asked for.
        if (dataSet.recordCount() > 0) {
            statistics.complete = false;
            statistics.failure = error.what();
        }
        return false;
    }
}

double at(const MonthValues& values, int month) {
    return month >= 0 && month < 12 ? values[static_cast<size_t>(month)] : 0;
}

}  // namespace

std::string numberText(double value) {
    if (value == 0) return "0";  // negative zero too
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    // Fifteen significant digits, correctly rounded, then laid out by hand.
    char scientific[32];
    std::snprintf(scientific, sizeof scientific, "%.14e", std::fabs(value));
    std::string digits;
    digits += scientific[0];
    digits.append(scientific + 2, 14);
    const int exponent = std::atoi(scientific + 17);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string text = value < 0 ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        text += digits[0];
        // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
        if (digits.size() > 1) text += "." + digits.substr(1);
        text += "E" + std::to_string(exponent);
#pragma GCC diagnostic pop
    } else if (exponent < 0) {
        text += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t whole = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            text += digits + std::string(whole - digits.size(), '0');
        } else {
            text += digits.substr(0, whole) + "." + digits.substr(whole);
        }
    }
    return text;
}

double toTenths(double value) {
    const double scaled = value * 10;
    // Ties to the even integer, worked out here rather than left to the
    // floating-point rounding mode of the moment.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0) return scaled / 10;  // 2^52: whole already
    const double below = std::floor(scaled);
    const double fraction = scaled - below;  // exact
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2) != 0)) rounded = below + 1;
    return rounded / 10;
}

std::string tenthsText(double value) { return numberText(toTenths(value)); }

MonthValues issuesPerMonth(archive::Issue first, archive::Issue newest) {
    MonthValues issues{};
    if (newest.month < 1 || newest.month > 12) return issues;
    const long long from = static_cast<long long>(first.year) * 12 + (first.month - 1);
    const long long to = static_cast<long long>(newest.year) * 12 + (newest.month - 1);
    if (first.month < 1 || first.month > 12 || to < from) {
        issues[static_cast<size_t>(newest.month - 1)] = 1;
        return issues;
    }
    // Every month of the range, both ends: whole years alike, then the
    // months of the part year from the first month on.
    const long long months = to - from + 1;
    for (size_t m = 0; m < 12; ++m) issues[m] = static_cast<double>(months / 12);
    for (long long k = 0; k < months % 12; ++k) issues[static_cast<size_t>((first.month - 1 + k) % 12)] += 1;
    return issues;
}

double quotient(double value, double divisor) { return divisor == 0 ? 0 : value / divisor; }

GameStatistics computeGameStatistics(const archive::DataSet& games, std::span<const std::string_view> categoryNames,
                                     archive::Issue first, archive::Issue newest) {
    if (categoryNames.size() > GameStatistics{}.categorySum.size())
        throw std::length_error("computeGameStatistics: more category names than rows");
    GameStatistics s;
    s.issuesPerMonth = issuesPerMonth(first, newest);
    GameColumns columns{};
    if (!findColumns(games,
                     {{kRatingField, &columns.rating},
                      {archive::gamesView().categoryField, &columns.category},
                      {kIssueField, &columns.issue}},
                     s))
        return s;
    columns.title = games.fieldIndex(archive::kTitleField);

    if (const archive::TableImage* image = imageToGather(games)) {
        const Facts<GameFact>& facts = gameFacts(*image, columns, categoryNames);
        walkGames(ImageRecords<GameFact>{image, games.imageRows(), facts.rows.data()}, columns, s);
    } else {
        walkGames(GameTextRecords{{games}, columns, categoryNames}, columns, s);
    }

    s.testsPerIssueMax = perIssueMax(s.monthTestCount, s.issuesPerMonth);
    s.ratingCountMax = std::max(1.0, *std::max_element(s.ratingCounts.begin(), s.ratingCounts.end()));
    if (!s.complete) return s;
    for (size_t i = 0; i < categoryNames.size(); ++i) {
        s.totalCount += s.categoryCount[i];
        s.totalSum += s.categorySum[i];
        s.categoryAverage[i] = quotient(s.categorySum[i], s.categoryCount[i]);
    }
    s.overallAverage = quotient(s.totalSum, s.totalCount);
    return s;
}

KindStatistics computeKindStatistics(const archive::DataSet& items, std::span<const std::string_view> kindNames,
                                     archive::Issue first, archive::Issue newest) {
    if (kindNames.size() > kMostNames) throw std::length_error("computeKindStatistics: too many kinds");
    KindStatistics s;
    s.kindCount.assign(kindNames.size(), 0);
    s.issuesPerMonth = issuesPerMonth(first, newest);
    KindColumns columns{};
    if (!findColumns(items, {{kKindField, &columns.kind}, {kIssueField, &columns.issue}}, s)) return s;
    columns.title = items.fieldIndex(archive::kTitleField);

    if (const archive::TableImage* image = imageToGather(items)) {
        const Facts<KindFact>& facts = kindFacts(*image, columns, kindNames);
        walkKinds(ImageRecords<KindFact>{image, items.imageRows(), facts.rows.data()}, columns, s);
    } else {
        walkKinds(KindTextRecords{{items}, columns, KindMatcher(kindNames)}, columns, s);
    }

    s.itemsPerIssueMax = perIssueMax(s.monthItemCount, s.issuesPerMonth);
    if (!s.complete) return s;
    for (double count : s.kindCount) s.totalCount += count;
    return s;
}

std::string gameMonthReadout(const GameStatistics& statistics, int month) {
    const double tests = at(statistics.monthTestCount, month);
    return "er-Durchschnitt: Wertung=" + tenthsText(quotient(at(statistics.monthRatingSum, month), tests)) +
           " / Tests=" + tenthsText(quotient(tests, at(statistics.issuesPerMonth, month)));
}

std::string kindMonthReadout(const KindStatistics& statistics, int month, std::string_view quantity) {
    return "er-Durchschnitt: " + std::string(quantity) +
           tenthsText(quotient(at(statistics.monthItemCount, month), at(statistics.issuesPerMonth, month)));
}

namespace {

// A cell as the window shows it: one blank before the text.
std::string cell(std::string_view text) {
    std::string shown(1, ' ');
    shown += text;
    return shown;
}

struct KindTableTexts {
    std::string_view kindTitle;
    std::string_view allRow;
};

KindTableTexts kindTableTexts(const archive::ViewDef& view) {
    if (&view == &archive::tipsView()) return {"Art", "Alle Tipps"};
    return {"Kategorie", "Alle Files"};
}

std::string_view trimmedCell(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::vector<std::string> gameTableTitles() { return {cell("Rubrik"), cell("Wertungen"), cell("Schnitt")}; }

std::vector<std::string> kindTableTitles(const archive::ViewDef& view) {
    return {cell(kindTableTexts(view).kindTitle), cell("Anzahl")};
}

StatisticsTable gameTable(const GameStatistics& statistics) {
    StatisticsTable table{gameTableTitles()};
    if (!statistics.complete) return table;
    auto percent = [](double value) {
        std::string text = cell(tenthsText(value));
        text += " %";
        return text;
    };
    table.push_back({cell("Alle Rubriken"), cell(numberText(statistics.totalCount)),
                     percent(statistics.overallAverage)});
    const auto names = archive::gamesView().statisticsRows;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = cell("> ");
        name += names[i];
        table.push_back({std::move(name), cell(numberText(statistics.categoryCount[i])),
                         percent(statistics.categoryAverage[i])});
    }
    return table;
}

StatisticsTable kindTable(const archive::ViewDef& view, const KindStatistics& statistics) {
    StatisticsTable table{kindTableTitles(view)};
    if (!statistics.complete) return table;
    table.push_back({cell(kindTableTexts(view).allRow), cell(numberText(statistics.totalCount))});
    const auto kinds = view.statisticsRows;
    for (size_t i = 0; i < kinds.size() && i < statistics.kindCount.size(); ++i) {
        std::string name = cell("> ");
        name += kinds[i];
        table.push_back({std::move(name), cell(numberText(statistics.kindCount[i]))});
    }
    return table;
}

std::string tableCopyText(const StatisticsTable& table) {
    std::string text;
    for (const auto& row : table) {
        for (size_t column = 0; column < row.size(); ++column) {
            if (column > 0) text += '\t';
            text += trimmedCell(row[column]);
        }
        text += '\n';
    }
    return text;
}

}  // namespace stats
