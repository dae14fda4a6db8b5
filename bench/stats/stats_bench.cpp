// What a statistics window's computation costs over a loaded table image:
// the game and the kind statistics over the whole table in title order and
// over a title selection, each next to its floor, a plain loop over per-row
// arrays (category or kind int8, rating int16, month int8) gathered through
// the same row numbers doing the same sums; and the first computation over a
// fresh image, which works out the per-row facts.

#include "cp1252.h"
#include "benchsmoke.h"
#include "imagefiles.h"
#include "engine.h"
#include "imagecache.h"
#include "testfolder.h"
#include "gamegenerator.h"
#include "querytext.h"
#include "statistics.h"
#include "tablefile.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr archive::Issue kNewest{12, 2003};
constexpr const char* kSelection = "UPPER(TITEL) LIKE \"%AB%\"";

// The generated archives, one folder per table and size, removed when the run ends.
class Archives {
public:
    Archives() { benchimagefiles::off(); }
    const std::string& table(const archive::ViewDef& view, int rows) {
        const std::string key = std::string(view.tableFile) + "/" + std::to_string(rows);
        auto found = paths_.find(key);
        if (found != paths_.end()) return found->second;
        const std::string folder = root_.path() + "/" + std::to_string(rows);
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/" + std::string(view.tableFile);
        GameGenerator generator(20011997);
        archive::TableFileWriter writer(path, view);
        if (&view == &archive::gamesView()) {
            for (int i = 0; i < rows; ++i) writer.add(generator.nextGame(i));
        } else {
            // The disc contents: title and issue of a generated game, a kind
            // as the archive's maintainers wrote them.
            static const char* const kKinds[] = {"Demo", "Demo-Version", "Patch", "Patch + Demo", "Video",
                                                 "Treiber", "Mod", "Mods", "Extras", "Programm", "Vollversion",
                                                 "Sonstiges", ""};
            for (int i = 0; i < rows; ++i) {
                const archive::Row game = generator.nextGame(i);
                writer.add({game[0], game[5], std::string(kKinds[static_cast<size_t>(i * 7919) % std::size(kKinds)]),
                            i % 3 == 0 ? "DVD" : "CD"});
            }
        }
        writer.commit();
        return paths_.emplace(key, path).first->second;
    }

private:
    TestFolder root_;
    std::map<std::string, std::string> paths_;
};

Archives& archives() {
    static Archives instance;
    return instance;
}

void open(archive::Query& query, const std::string& path, bool selection) {
    query.close();
    query.sql = {"SELECT * FROM " + archive::quotedLiteral(path)};
    if (selection) query.sql.push_back(std::string("WHERE ") + kSelection + " ");
    query.sql.push_back("ORDER BY TITEL");
    query.prepare();
    query.open();
}

const archive::ViewDef& viewOf(bool games) { return games ? archive::gamesView() : archive::discView(); }

// The statistics of the data set, as a window computes them.
void compute(const archive::Query& query, bool games) {
    if (games) {
        const stats::GameStatistics s = stats::computeGameStatistics(query, archive::gamesView().statisticsRows,
                                                                     {}, kNewest);
        benchmark::DoNotOptimize(s.overallAverage);
    } else {
        const stats::KindStatistics s = stats::computeKindStatistics(query, archive::discView().statisticsRows,
                                                                     {}, kNewest);
        benchmark::DoNotOptimize(s.totalCount);
    }
}

// state.range(0): rows; range(1): 1 = games, 0 = disc contents; range(2): 1 = title selection.
void BM_Statistics(benchmark::State& state) {
    const bool games = state.range(1) != 0;
    archive::Query query;
    open(query, archives().table(viewOf(games), static_cast<int>(state.range(0))), state.range(2) != 0);
    compute(query, games);  // works out the facts once
    for (auto _ : state) compute(query, games);
    state.counters["records"] = query.recordCount();
}

// The per-row arrays of the floor, by image row, read from the cells once.
struct FloorArrays {
    std::vector<int8_t> category;  // or kind; -1 none (games) / rest (kinds)
    std::vector<int16_t> rating;   // -1 for none
    std::vector<int8_t> month;     // -1 for none
};

FloorArrays floorArrays(const std::string& path, bool games) {
    archive::Query all;
    open(all, path, false);
    const std::span<const uint32_t> rows = all.imageRows();
    const auto names = viewOf(games).statisticsRows;
    // Indexed by image row, whose numbers have gaps where rows were deleted
    // or chunks keep room: sized by the greatest row, not by the count.
    const size_t slots = rows.empty() ? 0 : size_t{*std::max_element(rows.begin(), rows.end())} + 1;
    FloorArrays arrays;
    arrays.category.resize(slots, -1);
    arrays.rating.resize(slots, -1);
    arrays.month.resize(slots, -1);
    const int category = all.fieldIndex(games ? "RUBRIK" : "ART");
    const int rating = all.fieldIndex("WERTUNG");
    const int issue = all.fieldIndex("AUSGABE");
    for (int record = 0; record < all.recordCount(); ++record) {
        const uint32_t row = rows[static_cast<size_t>(record)];
        const std::string_view cell = all.text(record, category);
        const std::string text = games ? std::string(cell) : archive::upperAscii(cell);
        int8_t index = -1;
        for (size_t i = 0; i < names.size() && index < 0; ++i) {
            if (games ? text == names[i] : text.find(archive::upperAscii(names[i].substr(0, 4))) != std::string::npos)
                index = static_cast<int8_t>(i);
        }
        arrays.category[row] = index;
        const std::optional<long long> value = games ? all.integer(record, rating) : std::nullopt;
        arrays.rating[row] = value && *value >= 0 && *value <= 100 ? static_cast<int16_t>(*value) : int16_t{-1};
        const std::string_view code = all.text(record, issue);
        const int month = code.size() == 7 ? std::atoi(std::string(code.substr(5, 2)).c_str()) : 0;
        arrays.month[row] = static_cast<int8_t>(month >= 1 && month <= 12 ? month - 1 : -1);
    }
    return arrays;
}

void BM_Floor(benchmark::State& state) {
    const bool games = state.range(1) != 0;
    const std::string& path = archives().table(viewOf(games), static_cast<int>(state.range(0)));
    const FloorArrays arrays = floorArrays(path, games);
    archive::Query query;
    open(query, path, state.range(2) != 0);
    const std::span<const uint32_t> rows = query.imageRows();
    const stats::MonthValues issues = stats::issuesPerMonth({}, kNewest);
    for (auto _ : state) {
        std::array<double, 12> monthSum{}, monthCount{};
        std::array<double, 9> categorySum{}, categoryCount{};
        std::array<double, 101> ratingCounts{};
        if (games) {
            for (const uint32_t row : rows) {
                const int16_t rating = arrays.rating[row];
                if (rating < 0) continue;
                if (const int8_t c = arrays.category[row]; c >= 0) {
                    categorySum[static_cast<size_t>(c)] += rating;
                    categoryCount[static_cast<size_t>(c)] += 1;
                }
                if (const int8_t m = arrays.month[row]; m >= 0) {
                    monthSum[static_cast<size_t>(m)] += rating;
                    monthCount[static_cast<size_t>(m)] += 1;
                }
                ratingCounts[static_cast<size_t>(rating)] += 1;
            }
        } else {
            for (const uint32_t row : rows) {
                const int8_t kind = arrays.category[row];
                categoryCount[kind >= 0 ? static_cast<size_t>(kind) : 8] += 1;
                if (const int8_t m = arrays.month[row]; m >= 0) monthCount[static_cast<size_t>(m)] += 1;
            }
        }
        double most = 1;
        for (size_t m = 0; m < 12; ++m) most = std::max(most, stats::quotient(monthCount[m], issues[m]));
        most = std::max(most, *std::max_element(ratingCounts.begin(), ratingCounts.end()));
        benchmark::DoNotOptimize(most);
        benchmark::DoNotOptimize(categorySum);
        benchmark::DoNotOptimize(categoryCount);
        benchmark::DoNotOptimize(monthSum);
    }
    state.counters["records"] = static_cast<double>(rows.size());
}

// The first computation over a freshly read image: the facts are worked out.
void BM_FirstStatistics(benchmark::State& state) {
    const bool games = state.range(1) != 0;
    const std::string& path = archives().table(viewOf(games), static_cast<int>(state.range(0)));
    archive::Query query;
    for (auto _ : state) {
        state.PauseTiming();
        archive::clearImageCache();
        open(query, path, state.range(2) != 0);
        state.ResumeTiming();
        compute(query, games);
    }
}

void firstCases(benchmark::internal::Benchmark* bench) {
    bench->ArgNames({"rows", "games", "selection"});
    for (const int games : {1, 0})
        for (const long long rows : benchsmoke::sizes({10000, 100000, 1000000})) bench->Args({rows, games, 0});
    bench->Unit(benchmark::kMillisecond)->Iterations(benchsmoke::times(3));
}

}  // namespace

// Each computation right beside its floor, so both meet the same load of the
// machine; with --benchmark_enable_random_interleaving the repetitions mix too.
int main(int argc, char** argv) {
    for (const int games : {1, 0})
        for (const int selection : {0, 1})
            for (const long long rows : benchsmoke::sizes({10000, 100000, 1000000}))
                for (const auto& [name, function] : {std::pair{"BM_Statistics", &BM_Statistics},
                                                     std::pair{"BM_Floor", &BM_Floor}})
                    benchmark::RegisterBenchmark(name, function)
                        ->ArgNames({"rows", "games", "selection"})
                        ->Args({rows, games, selection})
                        ->Unit(benchmark::kMicrosecond)
                        ->Repetitions(benchsmoke::times(5))
                        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("BM_FirstStatistics", &BM_FirstStatistics)->Apply(firstCases);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
