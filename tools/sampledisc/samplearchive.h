#pragma once
// The invented archive of the sample disc: game tests, disc contents and tips
// from the first issue 1997/10 up to the newest issues below. The rows are made
// one at a time and handed on, so a million of them need no more memory than one.

#include "tablefile.h"
#include "tables.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sampledisc {

inline constexpr archive::Issue kNewestGameIssue{9, 2004};
inline constexpr archive::Issue kNewestDiscIssue{10, 2004};
inline constexpr archive::Issue kNewestTipIssue{8, 2004};
// The magazine came with a DVD edition from this issue on; before it every
// disc item is on the CD.
inline constexpr archive::Issue kFirstDvdIssue{1, 2002};

// Enough for a dozen or more tests in every issue.
inline constexpr long long kDefaultGameCount = 1500;
inline constexpr long long kMaxGameCount = 10'000'000;

struct TableSizes {
    long long games = 0;
    long long discItems = 0;
    long long tips = 0;
};
// The disc contents and tips in proportion to the games; each table holds at
// least one row, so every table has a newest issue.
TableSizes tableSizes(long long gameCount);

// Issues counted from the first one (index 0 is 1997/10).
int issueCountUpTo(archive::Issue newest);
archive::Issue issueAt(int index);
std::string issueCodeAt(int index);

// How many of `total` rows each of `issues` issues gets: every issue at least
// one when there are enough rows, the rest by a fixed per-table weighting that
// grows slowly with the years like the magazine did. Always the first and the
// newest issue get rows (the newest whenever total >= 1, the first when total >= 2).
std::vector<long long> rowsPerIssue(long long total, int issues, std::uint64_t seed);

using RowSink = std::function<void(const archive::Row&)>;

// Rows in the field order of their view, issue by issue, oldest first.
void generateGames(long long gameCount, const RowSink& sink);
// Disc contents and tips name games of the game table; gameCount tells which.
void generateDiscItems(long long gameCount, long long itemCount, const RowSink& sink);
void generateTips(long long gameCount, long long tipCount, const RowSink& sink);

// Writes GameData.DB, CDData.DB and TippsData.DB into `dataFolder` (a
// Windows-1252 path that exists), each file whole or not at all.
void writeSampleTables(const std::string& dataFolder, long long gameCount);

}  // namespace sampledisc
