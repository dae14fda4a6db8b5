#include "statistics.h"

#include "filelayer.h"
#include "statisticsfacts.h"
#include "sorting.h"
#include "tableimage.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace stats {
namespace {

using namespace detail;

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

}  // namespace

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

}  // namespace stats
