#pragma once
// The statistics of the three statistics windows as pure functions of a data
// set's rows: no widgets here. The windows turn the results into cells,
// captions and strokes.
//
// A pass reads the rows of the data set in its order through compact per-row
// facts (category or kind as a small number, rating, issue month) that are
// worked out once per table image, so a pass over a million rows is a gather
// over small arrays.
//
// All texts are Windows-1252.

#include "engine.h"
#include "tables.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stats {

// Number form: the shortest decimal form of at most 15 significant digits,
// full stop, no thousands separators, no trailing zeros: 85.0 -> "85",
// negative zero -> "0". Only values below 1E-5 or from 1E15 on (which no
// window shows) take an exponent: "1E15".
std::string numberText(double value);
// Tenths rule: x * 10 as a double, to the nearest integer (an exact tie to
// the even one), divided by 10: 85.25 -> 85.2, 85.75 -> 85.8, 0.05 -> 0
// (0.05 * 10 is exactly 0.5).
double toTenths(double value);
std::string tenthsText(double value);  // numberText(toTenths(value))

// Counts per calendar month, index 0 = January.
using MonthValues = std::array<double, 12>;

// Issues per calendar month from the first issue to the newest, both ends
// counted. A newest issue before the first (or a first issue with a month
// outside 1..12) counts one issue in the newest month's slot; a newest issue
// with a month outside 1..12 counts none.
MonthValues issuesPerMonth(archive::Issue first, archive::Issue newest);

// value / divisor, 0 for a zero divisor (month averages and read-outs).
double quotient(double value, double divisor);

struct GameStatistics {
    // Index i stands for category name i (0..6: "Action" … "Software").
    std::array<double, 7> categorySum{};
    std::array<double, 7> categoryCount{};
    std::array<double, 7> categoryAverage{};
    double totalCount = 0;
    double totalSum = 0;
    double overallAverage = 0;
    std::array<double, 101> ratingCounts{};
    double ratingCountMax = 1;
    MonthValues monthRatingSum{};
    MonthValues monthTestCount{};
    MonthValues issuesPerMonth{};
    double testsPerIssueMax = 1;
    // False when a record's rating or issue month was not a number (or a
    // field is missing): the walk stopped there, `failure` says why in
    // German, and the sums and counts hold what the records before it, and
    // the steps of that record before the failing one, added. The maxima are
    // worked out from them; totals and averages stay 0.
    bool complete = true;
    std::string failure;
};

// The games of a data set (its rows in its order; fields WERTUNG, RUBRIK,
// AUSGABE looked up by name). Per record: an empty rating counts nowhere;
// the rating's decimal value (full stop) goes to the category whose name
// equals RUBRIK exactly (whole text, case counts; at most 7 distinct names),
// then to the month in characters 6-7 of AUSGABE, then to the distribution.
// A rating that is a number but not a whole number from 0 to 100 counts in
// its category and month but not in the distribution; an issue month
// outside 1..12 counts in no month. Totals and averages cover the named
// categories only. The data set's cursor is not moved.
//
// A query is read through facts worked out once per table image and kept
// with it; any other data set through its texts.
GameStatistics computeGameStatistics(const archive::DataSet& games, std::span<const std::string_view> categoryNames,
                                     archive::Issue first, archive::Issue newest);

struct KindStatistics {
    std::vector<double> kindCount;  // index i stands for kind name i; the last is the rest kind
    double totalCount = 0;
    MonthValues monthItemCount{};
    MonthValues issuesPerMonth{};
    double itemsPerIssueMax = 1;
    bool complete = true;  // as in GameStatistics
    std::string failure;
};

// Disc contents and tips (field ART, AUSGABE). The stem of a kind is its
// first four characters with A-Z lowered; the first kind whose stem occurs
// in the A-Z-lowered ART wins and counts before the issue month is read; a
// record matching none counts in the last kind after its month. The kind
// lists are archive::ViewDef::statisticsRows.
KindStatistics computeKindStatistics(const archive::DataSet& items, std::span<const std::string_view> kindNames,
                                     archive::Issue first, archive::Issue newest);

// The month read-outs that follow the month number, which the window puts in
// front ("3" + "er-Durchschnitt: Wertung=78.5 / Tests=12.3"). `month` is
// 0 = January .. 11; each value is a quotient by the tenths rule, 0 for a
// zero divisor. `quantity` is e.g. "Anzahl der Dateien = ".
std::string gameMonthReadout(const GameStatistics& statistics, int month);
std::string kindMonthReadout(const KindStatistics& statistics, int month, std::string_view quantity);

// The table of a statistics window, cell by cell as the window shows it
// (each text after a blank): row 0 the title row, then the "Alle …" row,
// then one row per category or kind.
using StatisticsTable = std::vector<std::vector<std::string>>;
// The title row alone, which the window shows before any computation.
std::vector<std::string> gameTableTitles();
std::vector<std::string> kindTableTitles(const archive::ViewDef& view);
// The whole table; only the title row when the computation stopped.
StatisticsTable gameTable(const GameStatistics& statistics);
StatisticsTable kindTable(const archive::ViewDef& view, const KindStatistics& statistics);
// What copying the table gives: per row the cells without their outer
// blanks, separated by TAB, each row ended by LF.
std::string tableCopyText(const StatisticsTable& table);

}  // namespace stats
