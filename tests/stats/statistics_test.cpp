#include "statistics.h"

#include "filelayer.h"
#include "imagecache.h"
#include "querytext.h"
#include "tablefixtures.h"
#include "tableimage.h"
#include "testfolder.h"
#include "wholefile.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

using namespace archive;
using namespace stats;

namespace {

// ---- number form, tenths rule, issues

TEST(NumberForm, ShortestDecimalWithoutTrailingZerosOrExponent) {
    EXPECT_EQ(numberText(85.0), "85");
    EXPECT_EQ(numberText(-0.0), "0");
    EXPECT_EQ(numberText(85.2), "85.2");
    EXPECT_EQ(numberText(-2.5), "-2.5");
    EXPECT_EQ(numberText(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(numberText(0.1 + 0.2), "0.3");  // 0.30000000000000004 has 17 digits
    EXPECT_EQ(numberText(2.0 / 3 * 100), "66.6666666666667");
    EXPECT_EQ(numberText(1000000), "1000000");
    EXPECT_EQ(numberText(123456789012345.0), "123456789012345");
    EXPECT_EQ(numberText(0.00001), "0.00001");
    EXPECT_EQ(numberText(1e15), "1E15");
}

TEST(NumberForm, TenthsRoundExactTiesToTheEvenNeighbour) {
    EXPECT_EQ(tenthsText(85.25), "85.2");
    EXPECT_EQ(tenthsText(85.75), "85.8");
    EXPECT_EQ(tenthsText(70), "70");
    EXPECT_EQ(tenthsText(1.0 / 3), "0.3");
    EXPECT_EQ(tenthsText(12.349999999), "12.3");
    EXPECT_EQ(tenthsText(12.35000001), "12.4");
    ASSERT_EQ(0.05 * 10, 0.5);  // the double of 0.05 times ten lands on the tie
    EXPECT_EQ(tenthsText(0.05), "0");
    EXPECT_EQ(tenthsText(0.35), "0.4");
    EXPECT_EQ(tenthsText(-0.25), "-0.2");
    EXPECT_EQ(tenthsText(-0.04), "0");
    EXPECT_EQ(toTenths(2.0 / 5), 0.4);
}

// The stepping of the month counter, one month at a time.
MonthValues steppedIssues(Issue first, Issue newest) {
    MonthValues issues{};
    Issue at = first;
    while (at.month != newest.month || at.year != newest.year) {
        issues[static_cast<size_t>(at.month - 1)] += 1;
        if (++at.month > 12) {
            at.month = 1;
            ++at.year;
        }
    }
    issues[static_cast<size_t>(newest.month - 1)] += 1;
    return issues;
}

TEST(IssuesPerMonth, BothEndsCountAndTheSteppingAlwaysEnds) {
    MonthValues single{};
    single[9] = 1;
    EXPECT_EQ(issuesPerMonth({10, 1997}, {10, 1997}), single);
    EXPECT_EQ(issuesPerMonth({10, 1997}, {5, 1999}), (MonthValues{2, 2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2}));
    for (int year = 1997; year <= 2004; ++year)
        for (int month = 1; month <= 12; ++month) {
            if (year == 1997 && month < 10) continue;
            EXPECT_EQ(issuesPerMonth({10, 1997}, {month, year}), steppedIssues({10, 1997}, {month, year}))
                << month << "/" << year;
        }

    // Before the first issue: only the newest month's own issue.
    MonthValues may{};
    may[4] = 1;
    EXPECT_EQ(issuesPerMonth({10, 1997}, {5, 1997}), may);
    EXPECT_EQ(issuesPerMonth({10, 1997}, {5, 1990}), may);
    EXPECT_EQ(issuesPerMonth({0, 1997}, {5, 1999}), may);
    // No month 1..12 (the newest issue not found yet is 0/0): nothing.
    EXPECT_EQ(issuesPerMonth({10, 1997}, {0, 0}), MonthValues{});
    EXPECT_EQ(issuesPerMonth({10, 1997}, {13, 2000}), MonthValues{});
}

// ---- the walks over real table files

class StatisticsTest : public ::testing::Test {
protected:
    void SetUp() override { clearImageCache(); }

    Query& run(const std::string& file, const std::string& where = "", const std::string& orderBy = "TITEL") {
        return openOn(query, folder.file(file), where, orderBy);
    }

    GameStatistics games(const std::string& where = "", const std::string& orderBy = "TITEL",
                         Issue newest = {12, 2000}) {
        return computeGameStatistics(run("GameData.db", where, orderBy), gamesView().statisticsRows, {}, newest);
    }
    KindStatistics kinds(const ViewDef& view, Issue newest = {12, 2000}) {
        return computeKindStatistics(run(std::string(view.tableFile)), view.statisticsRows, {}, newest);
    }

    // Values the program's own writer refuses, as another program might store them.
    void setRating(const std::string& title, const std::string& value) {
        runSql(folder.file("GameData.db"),
               "UPDATE GameData SET WERTUNG = '" + value + "' WHERE TITEL = '" + title + "'");
    }
    // A REAL as it stands, whole-valued too, which the column's INTEGER
    // affinity would turn into an integer: stored while the column is
    // declared without affinity, as a foreign writer's file may hold it.
    void setRealRating(const std::string& title, const std::string& value) {
        const std::string path = folder.file("GameData.db");
        auto declare = [&](const char* from, const char* to) {
            runSql(path, std::string("PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = replace(sql, '\"WERTUNG\" ") +
                             from + "', '\"WERTUNG\" " + to + "') WHERE name = 'GameData'");
        };
        declare("INTEGER", "BLOB");
        runSql(path, "UPDATE GameData SET WERTUNG = " + value + " WHERE TITEL = '" + title + "'");
        declare("BLOB", "INTEGER");
    }

    TestFolder folder;
    Query query;
};

Row disc(std::string title, std::string issue, Cell kind) {
    return {std::move(title), std::move(issue), std::move(kind), "CD"};
}
Row tip(std::string title, std::string issue, Cell kind) {
    return {std::move(title), std::move(issue), std::move(kind), "1"};
}

size_t category(std::string_view name) {
    const auto names = gamesView().statisticsRows;
    return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

TEST(StatisticsRows, CategoriesAndKindsOfTheThreeViews) {
    EXPECT_TRUE(std::equal(gamesView().statisticsRows.begin(), gamesView().statisticsRows.end(),
                           gamesView().categories.begin(), gamesView().categories.end()));
    EXPECT_EQ(discView().statisticsRows.size(), 9u);
    EXPECT_EQ(discView().statisticsRows.back(), "Sonstiges");
    ASSERT_EQ(tipsView().statisticsRows.size(), 5u);
    EXPECT_EQ(tipsView().statisticsRows[2], "L\xF6sung");
    EXPECT_EQ(tipsView().statisticsRows.back(), "Sonstige");
    ASSERT_EQ(sectionCodes().size(), gamesView().categories.size());
    for (size_t i = 0; i < sectionCodes().size(); ++i) EXPECT_EQ(sectionCodes()[i].name, gamesView().categories[i]);
    for (size_t i = 0; i < tipKindCodes().size(); ++i) EXPECT_EQ(tipKindCodes()[i].name, tipsView().categories[i]);
}

TEST_F(StatisticsTest, CategoryAveragesTotalsDistributionAndMonths) {
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("A1", "85", "Action", "2000/03"), game("A2", "85", "Action", "2000/03"),
                game("A3", "85", "Action", "2000/03"), game("A4", "86", "Action", "2000/03"),
                game("S1", "85", "Strategie", "2000/03"), game("S2", "86", "Strategie", "2000/03"),
                game("S3", "86", "Strategie", "2000/03"), game("S4", "86", "Strategie", "2000/03"),
                game("P1", "70", "Sport", "2000/03"),
                // Lower case is no category, but counts in the distribution and its month.
                game("Klein", "50", "action", "2000/04"),
                // Without a rating: nowhere.
                game("Ohne", std::nullopt, "Action", "2000/05")});
    const GameStatistics s = games();
    ASSERT_TRUE(s.complete) << s.failure;
    EXPECT_EQ(s.categoryCount[category("Action")], 4);
    EXPECT_EQ(tenthsText(s.categoryAverage[category("Action")]), "85.2");
    EXPECT_EQ(tenthsText(s.categoryAverage[category("Strategie")]), "85.8");
    EXPECT_EQ(tenthsText(s.categoryAverage[category("Sport")]), "70");
    EXPECT_EQ(s.categoryAverage[category("Budget")], 0);
    EXPECT_EQ(s.totalCount, 9);
    EXPECT_EQ(s.totalSum, 754);
    EXPECT_EQ(tenthsText(s.overallAverage), "83.8");  // over the tests, not the mean of the averages

    EXPECT_EQ(s.ratingCounts[85], 4);
    EXPECT_EQ(s.ratingCounts[86], 4);
    EXPECT_EQ(s.ratingCounts[50], 1);
    EXPECT_EQ(s.ratingCountMax, 4);

    // 1997/10 to 2000/12: three issues in March and April.
    EXPECT_EQ(s.issuesPerMonth[2], 3);
    EXPECT_EQ(s.monthTestCount[2], 9);
    EXPECT_EQ(s.monthTestCount[4], 0);
    EXPECT_EQ(s.testsPerIssueMax, 3);
    EXPECT_EQ(gameMonthReadout(s, 2), "er-Durchschnitt: Wertung=83.8 / Tests=3");
    EXPECT_EQ(gameMonthReadout(s, 3), "er-Durchschnitt: Wertung=50 / Tests=0.3");
    EXPECT_EQ(gameMonthReadout(s, 4), "er-Durchschnitt: Wertung=0 / Tests=0");

    // A selection: the title filter leaves the A games only.
    const GameStatistics a = games(titleFilterFor("a"), "WERTUNG DESC, TITEL");
    EXPECT_EQ(a.totalCount, 4);
    EXPECT_EQ(a.categoryCount[category("Strategie")], 0);
    EXPECT_EQ(a.ratingCounts[85], 3);
    EXPECT_EQ(a.ratingCounts[50], 0);
    EXPECT_EQ(a.ratingCountMax, 3);
    EXPECT_EQ(a.testsPerIssueMax, 4.0 / 3);
    EXPECT_EQ(tenthsText(a.testsPerIssueMax), "1.3");
}

TEST_F(StatisticsTest, AnEmptySelectionGivesZerosAndMaximaOfOne) {
    writeTable(folder.file("GameData.db"), gamesView(), {game("A", "90")});
    const GameStatistics s = games(titleFilterFor("zz"));
    EXPECT_TRUE(s.complete);
    EXPECT_EQ(s.totalCount, 0);
    EXPECT_EQ(s.overallAverage, 0);
    EXPECT_EQ(s.ratingCountMax, 1);
    EXPECT_EQ(s.testsPerIssueMax, 1);
}

TEST_F(StatisticsTest, RatingsAndMonthsOutsideTheChartsStillCountWhereTheyCan) {
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("Bruch", "0", "Action", "2000/02"), game("Zuviel", "101", "Action", "2000/02"),
                game("Minus", "-5", "Sport", "2000/02"), game("Null", "0", "Sport", "2000/02"),
                game("Dreizehn", "60", "Budget", "2000/13"), game("Nullter", "40", "Budget", "2000/00"),
                game("Kurz", "20", "Budget", "2000/6")});
    setRating("Bruch", "3.7");
    const GameStatistics s = games();
    ASSERT_TRUE(s.complete) << s.failure;
    EXPECT_DOUBLE_EQ(s.categorySum[category("Action")], 104.7);
    EXPECT_EQ(s.categorySum[category("Sport")], -5);
    EXPECT_DOUBLE_EQ(s.monthRatingSum[1], 104.7 - 5);
    EXPECT_EQ(s.monthTestCount[1], 4);
    EXPECT_EQ(s.ratingCounts[0], 1);  // only the true 0
    double inDistribution = 0;
    for (double count : s.ratingCounts) inDistribution += count;
    EXPECT_EQ(inDistribution, 4);  // 0, 60, 40, 20
    // Months 13 and 00 count in no month; a one-digit month is read as it stands.
    EXPECT_EQ(s.categoryCount[category("Budget")], 3);
    EXPECT_EQ(s.monthTestCount[5], 1);
    double inMonths = 0;
    for (double count : s.monthTestCount) inMonths += count;
    EXPECT_EQ(inMonths, 5);

    // REAL values: a whole one counts as its number, in the distribution
    // too; both reach a threshold by their values, as SQLite compares them.
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("Glatt", "0", "Action", "2000/02"), game("Halb", "0", "Action", "2000/02")});
    setRealRating("Glatt", "80.0");
    setRealRating("Halb", "79.5");
    const struct {
        std::string where;
        double count, sum;
    } selections[] = {{"", 2, 159.5}, {"WERTUNG >= 80", 1, 80}, {"WERTUNG >= 70", 2, 159.5}};
    for (const auto& c : selections) {
        SCOPED_TRACE(c.where);
        const GameStatistics r = games(c.where);
        ASSERT_TRUE(r.complete) << r.failure;
        EXPECT_EQ(r.categoryCount[category("Action")], c.count);
        EXPECT_DOUBLE_EQ(r.categorySum[category("Action")], c.sum);
        EXPECT_EQ(r.ratingCounts[80], 1);
        EXPECT_EQ(r.ratingCounts[79], 0);
    }
}

TEST_F(StatisticsTest, ANonNumberEndsTheWalkKeepingWhatCameBefore) {
    const std::string path = folder.file("GameData.db");
    writeTable(path, gamesView(),
               {game("A", "80", "Action", "2000/01"), game("B", "90", "Action", "2000/xx"),
                game("C", "70", "Action", "2000/01")});
    GameStatistics s = games();
    EXPECT_FALSE(s.complete);
    EXPECT_EQ(s.failure, detail::notANumberText("2000/xx", "AUSGABE", 2, "B"));
    // B's category was counted before its month was read; the month and the distribution were not.
    EXPECT_EQ(s.categorySum[category("Action")], 170);
    EXPECT_EQ(s.categoryCount[category("Action")], 2);
    EXPECT_EQ(s.monthTestCount[0], 1);
    EXPECT_EQ(s.ratingCounts[90], 0);
    EXPECT_EQ(s.totalCount, 0);
    EXPECT_EQ(s.categoryAverage[category("Action")], 0);

    writeTable(path, gamesView(),
               {game("A", "80", "Action", "2000/01"), game("B", "90", "Strategie", "2000/01"),
                game("C", "70", "Action", "2000/01")});
    setRating("B", "neunzig");
    s = games();
    EXPECT_EQ(s.failure, detail::notANumberText("neunzig", "WERTUNG", 2, "B"));
    EXPECT_EQ(s.categoryCount[category("Strategie")], 0);
    EXPECT_EQ(s.monthTestCount[0], 1);

    // Without a category the month is read before the rating's value.
    writeTable(path, gamesView(), {game("A", "80", "Keine", "2000/x"), game("B", "80", "Keine", "2000/01")});
    setRating("A", "acht");
    EXPECT_EQ(games().failure, detail::notANumberText("2000/x", "AUSGABE", 1, "A"));
    writeTable(path, gamesView(), {game("A", "80", "Keine", "2000/01")});
    setRating("A", "acht");
    EXPECT_EQ(games().failure, detail::notANumberText("acht", "WERTUNG", 1, "A"));
    // A blank is not empty, and an issue too short for a month is no number.
    writeTable(path, gamesView(), {game("A", "80", "Action", "")});
    EXPECT_EQ(games().failure, detail::notANumberText("", "AUSGABE", 1, "A"));
    writeTable(path, gamesView(), {game("A", "80", "Action", "2000/01")});
    setRating("A", " ");
    EXPECT_EQ(games().failure, detail::notANumberText(" ", "WERTUNG", 1, "A"));
}

// A bad value reaches the box readably whatever bytes it holds: cut to forty
// characters, a byte that is no text as <HH>, with its field and record.
TEST_F(StatisticsTest, ABadValueIsShownReadablyWithItsFieldAndRecord) {
    const std::string path = folder.file("GameData.db");
    writeTable(path, gamesView(), {game("A\tB", "80", "Action", "2000/01"), game("B", "80", "Action", "2003/1x")});
    EXPECT_EQ(games().failure,
              "'2003/1x' ist kein g\xFCltiger Wert f\xFCr das Feld 'AUSGABE' (Datensatz 2, Titel 'B').");
    // A value that begins with a 0 byte once made a box whose whole text was a quote.
    runSql(path, "UPDATE GameData SET WERTUNG = CAST(X'002701' AS TEXT) || replace(hex(zeroblob(45)), '00', 'z') "
                 "WHERE TITEL LIKE 'A%'");
    EXPECT_EQ(games().failure, "'<00>'<01>" + std::string(37, 'z') +
                                   "\x85' ist kein g\xFCltiger Wert f\xFCr das Feld 'WERTUNG' (Datensatz 1, Titel "
                                   "'A<09>B').");
}

TEST_F(StatisticsTest, DiscKindsByTheFirstStemInListOrder) {
    writeTable(folder.file("CDData.db"), discView(),
               {disc("a", "2000/01", "Demo-Version"), disc("b", "2000/01", "Patch + Demo"),
                disc("c", "2000/01", "TREIBER"), disc("d", "2000/01", "Vollversion"),
                disc("e", "2000/01", "Programm"), disc("f", "2000/01", "Video"), disc("g", "2000/01", "Mod"),
                disc("h", "2000/01", "Sonstiges"), disc("i", "2000/01", std::nullopt),
                disc("j", "2000/01", "Extras"), disc("k", "2000/01", "Mods"), disc("l", "2000/13", "Patch")});
    const KindStatistics s = kinds(discView());
    ASSERT_TRUE(s.complete) << s.failure;
    EXPECT_EQ(s.kindCount, (std::vector<double>{2, 1, 1, 1, 1, 1, 1, 1, 3}));
    EXPECT_EQ(s.totalCount, 12);
    EXPECT_EQ(s.monthItemCount[0], 11);  // month 13 in none
}

TEST_F(StatisticsTest, TipKindsLowerOnlyTheLettersAToZ) {
    writeTable(folder.file("TippsData.db"), tipsView(),
               {tip("a", "2000/01", "Kurztipps"), tip("b", "2000/01", "Cheats & Kurztipps"),
                tip("c", "2000/01", "L\xF6sung"), tip("d", "2000/01", "L\xD6SUNG"), tip("e", "2000/01", "TAKTIK"),
                tip("f", "2000/01", "Quatsch")});
    const KindStatistics s = kinds(tipsView());
    EXPECT_EQ(s.kindCount, (std::vector<double>{1, 1, 1, 1, 2}));
    EXPECT_EQ(s.totalCount, 6);
}

TEST_F(StatisticsTest, ItemsPerIssueAndTheReadOut) {
    writeTable(folder.file("CDData.db"), discView(),
               {disc("a", "2001/03", "Demo"), disc("b", "2002/03", "Demo"), disc("c", "2001/04", "Video")});
    const KindStatistics s = kinds(discView(), {12, 2002});
    EXPECT_EQ(s.issuesPerMonth[2], 5);
    EXPECT_EQ(quotient(s.monthItemCount[2], s.issuesPerMonth[2]), 0.4);
    EXPECT_EQ(quotient(s.monthItemCount[3], s.issuesPerMonth[3]), 0.2);
    EXPECT_EQ(s.itemsPerIssueMax, 1);
    EXPECT_EQ(kindMonthReadout(s, 2, "Anzahl der Dateien = "), "er-Durchschnitt: Anzahl der Dateien = 0.4");
    EXPECT_EQ(kindMonthReadout(s, 3, "Anzahl der Tipps = "), "er-Durchschnitt: Anzahl der Tipps = 0.2");
    EXPECT_EQ(kindMonthReadout(s, 0, "Anzahl der Tipps = "), "er-Durchschnitt: Anzahl der Tipps = 0");

    // Above one per issue the maximum follows; a month without issues gives 0, not a division by zero.
    writeTable(folder.file("CDData.db"), discView(),
               {disc("a", "1997/11", "Demo"), disc("b", "1997/11", "Demo"), disc("c", "1997/09", "Demo")});
    const KindStatistics t = kinds(discView(), {11, 1997});
    EXPECT_EQ(t.itemsPerIssueMax, 2);
    EXPECT_EQ(kindMonthReadout(t, 8, "Anzahl der Dateien = "), "er-Durchschnitt: Anzahl der Dateien = 0");
}

TEST_F(StatisticsTest, AKindCountsBeforeItsMonthTheRestKindAfter) {
    writeTable(folder.file("CDData.db"), discView(),
               {disc("a", "2001/03", "Demo"), disc("b", "2001/xx", "Demo"), disc("c", "2001/03", "Demo")});
    KindStatistics s = kinds(discView());
    EXPECT_FALSE(s.complete);
    EXPECT_EQ(s.failure, detail::notANumberText("2001/xx", "AUSGABE", 2, "b"));
    EXPECT_EQ(s.kindCount[0], 2);
    EXPECT_EQ(s.monthItemCount[2], 1);
    EXPECT_EQ(s.totalCount, 0);

    writeTable(folder.file("CDData.db"), discView(), {disc("a", "2001/03", "Mod"), disc("b", "2001/xx", "Mod")});
    s = kinds(discView());
    EXPECT_FALSE(s.complete);
    EXPECT_EQ(s.kindCount.back(), 1);
}

TEST_F(StatisticsTest, AMissingFieldFailsOnlyWhenThereIsARecordToRead) {
    writeTable(folder.file("TippsData.db"), tipsView(), {tip("a", "2000/01", "Cheat")});
    // Tips have no WERTUNG.
    const GameStatistics s = computeGameStatistics(run("TippsData.db"), gamesView().statisticsRows, {}, {12, 2000});
    EXPECT_FALSE(s.complete);
    EXPECT_EQ(s.failure, "Feld 'WERTUNG' nicht gefunden.");
    EXPECT_TRUE(computeGameStatistics(run("TippsData.db", titleFilterFor("zz")), gamesView().statisticsRows, {},
                                      {12, 2000})
                    .complete);
}

// ---- facts kept with the image, against a walk that reads every text

// The walk told record by record, through the texts of the data set.
struct Reference {
    GameStatistics games;
    KindStatistics kinds;
};

std::optional<double> referenceNumber(std::string_view text) {
    const std::string copy(text);
    if (copy.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

std::optional<int> referenceMonth(std::string_view issue) {
    const std::string digits(issue.size() > 5 ? issue.substr(5, 2) : "");
    if (digits.empty()) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(digits.c_str(), &end, 10);
    if (end != digits.c_str() + digits.size()) return std::nullopt;
    return static_cast<int>(value);
}

GameStatistics referenceGames(const DataSet& data, Issue newest) {
    GameStatistics s;
    s.issuesPerMonth = issuesPerMonth({}, newest);
    const auto names = gamesView().statisticsRows;
    const int rating = data.fieldIndex("WERTUNG"), section = data.fieldIndex("RUBRIK"),
              issue = data.fieldIndex("AUSGABE");
    const int title = data.fieldIndex("TITEL");
    int record = 0;
    auto fail = [&](std::string_view value, std::string_view field) {
        s.complete = false;
        s.failure = detail::notANumberText(value, field, static_cast<size_t>(record) + 1, data.text(record, title));
    };
    for (; record < data.recordCount() && s.complete; ++record) {
        const std::string_view r = data.text(record, rating);
        if (r.empty()) continue;
        for (size_t i = 0; i < names.size() && s.complete; ++i) {
            if (data.text(record, section) != names[i]) continue;
            if (const auto value = referenceNumber(r)) {
                s.categorySum[i] += *value;
                s.categoryCount[i] += 1;
            } else {
                fail(r, "WERTUNG");
            }
        }
        if (!s.complete) break;
        const auto month = referenceMonth(data.text(record, issue));
        if (!month) fail(data.text(record, issue), "AUSGABE");
        const auto value = s.complete ? referenceNumber(r) : std::nullopt;
        if (s.complete && !value) fail(r, "WERTUNG");
        if (!s.complete) break;
        if (*month >= 1 && *month <= 12) {
            const size_t m = static_cast<size_t>(*month - 1);
            s.monthRatingSum[m] += *value;
            s.monthTestCount[m] += 1;
            const double q = s.issuesPerMonth[m] == 0 ? 0 : s.monthTestCount[m] / s.issuesPerMonth[m];
            if (q > s.testsPerIssueMax) s.testsPerIssueMax = q;
        }
        if (*value >= 0 && *value <= 100 && *value == std::floor(*value)) {
            const size_t v = static_cast<size_t>(*value);
            s.ratingCounts[v] += 1;
            if (s.ratingCounts[v] > s.ratingCountMax) s.ratingCountMax = s.ratingCounts[v];
        }
    }
    if (!s.complete) return s;
    for (size_t i = 0; i < names.size(); ++i) {
        s.totalCount += s.categoryCount[i];
        s.totalSum += s.categorySum[i];
        s.categoryAverage[i] = s.categoryCount[i] > 0 ? s.categorySum[i] / s.categoryCount[i] : 0;
    }
    s.overallAverage = s.totalCount > 0 ? s.totalSum / s.totalCount : 0;
    return s;
}

void expectSame(const GameStatistics& a, const GameStatistics& b) {
    EXPECT_EQ(a.complete, b.complete);
    EXPECT_EQ(a.failure, b.failure);
    EXPECT_EQ(a.categorySum, b.categorySum);
    EXPECT_EQ(a.categoryCount, b.categoryCount);
    EXPECT_EQ(a.categoryAverage, b.categoryAverage);
    EXPECT_EQ(a.totalCount, b.totalCount);
    EXPECT_EQ(a.totalSum, b.totalSum);
    EXPECT_EQ(a.overallAverage, b.overallAverage);
    EXPECT_EQ(a.ratingCounts, b.ratingCounts);
    EXPECT_EQ(a.ratingCountMax, b.ratingCountMax);
    EXPECT_EQ(a.monthRatingSum, b.monthRatingSum);
    EXPECT_EQ(a.monthTestCount, b.monthTestCount);
    EXPECT_EQ(a.issuesPerMonth, b.issuesPerMonth);
    EXPECT_EQ(a.testsPerIssueMax, b.testsPerIssueMax);
}

TEST_F(StatisticsTest, FactsOfTheImageGiveWhatEveryTextGivesInAnyOrderAndSelection) {
    std::mt19937 random(4711);
    auto pick = [&](std::initializer_list<const char*> values) {
        return std::string(values.begin()[random() % values.size()]);
    };
    const std::string path = folder.file("GameData.db");
    for (int round = 0; round < 6; ++round) {
        std::vector<Row> rows;
        std::vector<std::pair<std::string, std::string>> foreign;  // ratings the writer refuses
        for (int i = 0; i < 3000; ++i) {
            const std::string title = pick({"Ab", "Ba", "Ca", "Xy", "ab", "Abend"}) + std::to_string(i);
            Cell rating = std::to_string(random() % 101);
            if (random() % 10 == 0) rating = std::nullopt;
            if (random() % 50 == 0) rating = pick({"101", "-5", "250", "-0"});
            if (random() % 60 == 0) foreign.emplace_back(title, pick({"3.7", "85.5", "1e2", "12.25"}));
            std::string issue = std::to_string(1997 + random() % 6) + "/" + pick({"01", "03", "07", "10", "12"});
            if (random() % 80 == 0) issue = pick({"2000/13", "2000/00", "2000/3", "1999/-1"});
            rows.push_back(game(title, rating, pick({"Action", "Strategie", "Sport", "Budget", "action", ""}), issue));
        }
        // Two of the rounds hold one record that ends the walk.
        if (round == 2) rows[1234] = game(*rows[1234][0], "77", "Sport", "2001/x1");
        if (round == 4) foreign.emplace_back(*rows[2345][0], "Neunzig");
        if (round == 3) rows[99] = game(*rows[99][0], "77", "Kein", "2001/x1");
        writeTable(path, gamesView(), rows);
        for (const auto& [title, value] : foreign) setRating(title, value);

        for (const auto& [where, order] : std::vector<std::pair<std::string, std::string>>{
                 {"", "TITEL"}, {titleFilterFor("ab"), "TITEL"}, {"", "WERTUNG DESC, TITEL"}, {"", "AUSGABE"}}) {
            SCOPED_TRACE("round " + std::to_string(round) + " " + where + " ORDER BY " + order);
            const GameStatistics fast = games(where, order, {12, 2002});
            if (where.empty()) {
                EXPECT_EQ(fast.complete, round != 2 && round != 3 && round != 4);
            }
            expectSame(fast, referenceGames(query, {12, 2002}));
            expectSame(games(where, order, {12, 2002}), fast);  // the kept facts again
        }
    }
    // Read as a table (stored order, no kept facts) it is the same as the query in stored order.
    Table table;
    openTable(table, folder.path(), "GameData.db");
    expectSame(computeGameStatistics(table, gamesView().statisticsRows, {}, {12, 2002}),
               games("", "", {12, 2002}));
}

TEST_F(StatisticsTest, FactsAreKeptWithTheImageAndANewFileGetsNewOnes) {
    const std::string path = folder.file("CDData.db");
    writeTable(path, discView(), {disc("a", "2000/01", "Demo"), disc("b", "2000/02", "Patch")});
    const auto image = imageOf(path);
    const size_t before = image->totalMemory();
    const KindStatistics first = kinds(discView());
    EXPECT_GT(image->totalMemory(), before);
    const size_t kept = image->totalMemory();
    EXPECT_EQ(kinds(discView()).kindCount, first.kindCount);
    EXPECT_EQ(image->totalMemory(), kept);  // nothing worked out twice
    // Another kind list keeps facts of its own.
    const std::vector<std::string_view> other{"Patch", "Rest"};
    EXPECT_EQ(computeKindStatistics(run("CDData.db"), other, {}, {12, 2000}).kindCount,
              (std::vector<double>{1, 1}));
    EXPECT_EQ(kinds(discView()).kindCount, first.kindCount);

    writeTable(path, discView(), {disc("a", "2000/01", "Video"), disc("b", "2000/01", "Video")});
    const KindStatistics changed = kinds(discView());
    EXPECT_EQ(changed.kindCount[6], 2);
    EXPECT_EQ(changed.kindCount[0], 0);
    EXPECT_EQ(changed.monthItemCount[0], 2);
}

TEST(DerivedData, OneResultPerKeyAndTheTypeIsChecked) {
    TestFolder folder;
    writeTable(folder.file("GameData.db"), gamesView(), {game("A")});
    const auto image = imageOf(folder.file("GameData.db"));
    int made = 0;
    const auto& a = image->derived<std::vector<int>>("k", [&] { return std::vector<int>(3, ++made); });
    const auto& b = image->derived<std::vector<int>>("k", [&] { return std::vector<int>(5, ++made); });
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(made, 1);
    EXPECT_THROW(image->derived<int>("k", [] { return 1; }), std::logic_error);
}

TEST_F(StatisticsTest, AfterTheTablesOwnWritesTheFactsAnswerAsAFreshFile) {
    std::mt19937 random(1997);
    auto pick = [&](std::initializer_list<const char*> values) {
        return std::string(values.begin()[random() % values.size()]);
    };
    auto rating = [&] { return random() % 12 == 0 ? pick({"", "-5", "101", "100"}) : std::to_string(random() % 101); };
    auto section = [&] { return pick({"Action", "Strategie", "Sport", "Budget", "action", ""}); };
    auto issue = [&] { return std::to_string(1997 + random() % 6) + "/" + pick({"01", "03", "07", "12", "13"}); };
    const std::string path = folder.file("GameData.db");
    std::vector<Row> rows;
    for (int i = 0; i < 5000; ++i) rows.push_back(game("T" + std::to_string(i), rating(), section(), issue()));
    writeTable(path, gamesView(), rows);
    Table table;
    openForEditing(table, folder.path(), "GameData.db");

    TestFolder fresh;
    auto statisticsOf = [&](const std::string& file, const std::string& where, const std::string& order) {
        Query query;
        query.sql = {"SELECT * FROM " + quotedLiteral(file)};
        if (!where.empty()) query.sql.push_back("WHERE " + where + " ");
        query.sql.push_back("ORDER BY " + order);
        query.open();
        return computeGameStatistics(query, gamesView().statisticsRows, {}, {12, 2002});
    };
    const std::vector<std::pair<std::string, std::string>> selections{
        {"", "TITEL"}, {titleFilterFor("1"), "WERTUNG DESC, TITEL"}, {"RUBRIK LIKE \"%ti%\"", "AUSGABE"}};
    for (int step = 0; step < 40; ++step) {
        // Facts worked out on the image the write starts from.
        for (const auto& [where, order] : selections) statisticsOf(path, where, order);
        const int record = static_cast<int>(random() % static_cast<unsigned>(table.recordCount()));
        switch (random() % 4) {
        case 0:
            table.moveTo(record);
            table.setFieldText(4, rating());
            if (random() % 2) table.setFieldText(1, section());
            if (random() % 2) table.setFieldText(5, issue());
            table.post();
            break;
        case 1:
            table.moveTo(record);
            table.deleteRecord();
            break;
        case 2:
            table.append();
            table.setFieldText(0, "Neu");
            table.setFieldText(1, section());
            table.setFieldText(4, rating());
            table.setFieldText(5, issue());
            table.post();
            break;
        default: {
            int left = static_cast<int>(random() % 200);
            table.appendRecords([&](std::array<std::string, 4>& values) {
                values = {"Import", section(), "Rennspiel", "Acme"};
                return left-- > 0;
            });
        }
        }
        copyWholeFile(path, fresh.file("GameData.db"));
        for (const auto& [where, order] : selections) {
            SCOPED_TRACE("step " + std::to_string(step) + ": " + where + " ORDER BY " + order);
            expectSame(statisticsOf(path, where, order), statisticsOf(fresh.file("GameData.db"), where, order));
        }
        if (HasFailure()) break;
    }
}

}  // namespace
