// What a keystroke in the title box costs: the title-filter query rerun over
// a loaded table image, against the floor of the same filter done by a plain
// loop over row structs already in sorted order; and what the first query of
// a freshly opened table, storing an edited row and the image's memory cost.

#include "cp1252.h"
#include "engine.h"
#include "gamegenerator.h"
#include "querytext.h"
#include "tableimage.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kTitleFilter = "UPPER(TITEL) LIKE \"%AB%\"";
constexpr const char* kFullFilter = "UPPER(TITEL) LIKE \"%AB%\" AND RUBRIK LIKE \"%cti%\" AND WERTUNG >= 70";

// The generated archives, one folder per size, removed when the run ends.
class Archives {
public:
    ~Archives() {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }

    const std::string& gameTable(int games) {
        auto found = paths_.find(games);
        if (found != paths_.end()) return found->second;
        if (root_.empty()) {
            std::string pattern = (std::filesystem::temp_directory_path() / "quillora-bench-XXXXXX").string();
            root_ = ::mkdtemp(pattern.data());
        }
        const std::string folder = root_ + "/" + std::to_string(games);
        std::filesystem::create_directory(folder);
        const std::string path = folder + "/GameData.db";
        GameGenerator generator(20011997);
        archive::TableFileWriter writer(path, archive::gamesView());
        for (int i = 0; i < games; ++i) writer.add(generator.nextGame(i));
        writer.commit();
        return paths_.emplace(games, path).first->second;
    }

private:
    std::string root_;
    std::map<int, std::string> paths_;
};

Archives& archives() {
    static Archives instance;
    return instance;
}

void prepare(archive::Query& query, const std::string& path, const std::string& where, const std::string& orderBy) {
    query.sql = {"SELECT * FROM " + archive::quotedLiteral(path)};
    if (!where.empty()) query.sql.push_back("WHERE " + where + " ");
    query.sql.push_back("ORDER BY " + orderBy);
    query.prepare();
}

// The floor: the rows as structs of strings, already in the query's order.
struct FloorRow {
    std::string upperTitle;
    std::string section;
    std::optional<long long> rating;
};

std::vector<FloorRow> floorRows(const std::string& path, const std::string& orderBy) {
    archive::Query query;
    prepare(query, path, "", orderBy);
    query.open();
    std::vector<FloorRow> rows;
    rows.reserve(static_cast<size_t>(query.recordCount()));
    const int title = query.fieldIndex("TITEL");
    const int section = query.fieldIndex("RUBRIK");
    const int rating = query.fieldIndex("WERTUNG");
    for (int record = 0; record < query.recordCount(); ++record)
        rows.push_back({archive::upperCp1252(query.text(record, title)), std::string(query.text(record, section)),
                        query.integer(record, rating)});
    return rows;
}

void engineQuery(benchmark::State& state, const char* where, const char* orderBy) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    archive::Query query;
    prepare(query, path, where, orderBy);
    query.open();  // loads the image and works out the sort order once
    for (auto _ : state) {
        query.open();
        benchmark::DoNotOptimize(query.recordCount());
    }
    state.counters["matches"] = query.recordCount();
}

void BM_TitleFilter(benchmark::State& state) { engineQuery(state, kTitleFilter, "TITEL"); }
void BM_FullFilter(benchmark::State& state) { engineQuery(state, kFullFilter, "WERTUNG DESC, TITEL"); }

void BM_FloorTitleFilter(benchmark::State& state) {
    const std::vector<FloorRow> rows = floorRows(archives().gameTable(static_cast<int>(state.range(0))), "TITEL");
    std::vector<uint32_t> matches;
    for (auto _ : state) {
        matches.clear();
        for (uint32_t i = 0; i < rows.size(); ++i)
            if (rows[i].upperTitle.find("AB") != std::string::npos) matches.push_back(i);
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = static_cast<double>(matches.size());
}

void BM_FloorFullFilter(benchmark::State& state) {
    const std::vector<FloorRow> rows =
        floorRows(archives().gameTable(static_cast<int>(state.range(0))), "WERTUNG DESC, TITEL");
    std::vector<uint32_t> matches;
    for (auto _ : state) {
        matches.clear();
        for (uint32_t i = 0; i < rows.size(); ++i) {
            const FloorRow& row = rows[i];
            if (row.upperTitle.find("AB") != std::string::npos && row.section.find("cti") != std::string::npos &&
                row.rating && *row.rating >= 70)
                matches.push_back(i);
        }
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = static_cast<double>(matches.size());
}

// Opening a view for the first time: the image is read from SQLite and the
// title order worked out, then filtered.
void BM_FirstQuery(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    archive::Query query;
    prepare(query, path, kTitleFilter, "TITEL");
    for (auto _ : state) {
        state.PauseTiming();
        query.close();
        archive::clearImageCache();
        state.ResumeTiming();
        query.open();
        benchmark::DoNotOptimize(query.recordCount());
    }
}

// The image's memory against the file's size, after the filters above have
// worked out the upper-cased titles and two sort orders.
void BM_ImageMemory(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    archive::Query query;
    prepare(query, path, kTitleFilter, "TITEL");
    query.open();
    prepare(query, path, kFullFilter, "WERTUNG DESC, TITEL");
    query.open();
    const auto image = archive::imageOf(path);
    for (auto _ : state) benchmark::DoNotOptimize(image->totalMemory());
    const double fileSize = static_cast<double>(std::filesystem::file_size(path));
    state.counters["file_MB"] = fileSize / 1e6;
    state.counters["cells_per_file"] = static_cast<double>(image->cellMemory()) / fileSize;
    state.counters["total_per_file"] = static_cast<double>(image->totalMemory()) / fileSize;
}

// Storing one changed row in the edit mode: one transaction, then the table's
// image read again so every reader sees the row.
void BM_TablePost(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    const auto slash = path.rfind('/');
    archive::Table table;
    table.databaseName = path.substr(0, slash);
    table.tableName = path.substr(slash + 1);
    table.setReadOnly(false);
    table.open();
    const int comment = table.fieldIndex("KOMMENTAR");
    long long round = 0;
    for (auto _ : state) {
        table.setFieldText(comment, "Kommentar " + std::to_string(round++));
        table.post();
    }
    table.close();
}

void sizes(benchmark::internal::Benchmark* bench) {
    bench->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_TitleFilter)->Apply(sizes);
BENCHMARK(BM_FloorTitleFilter)->Apply(sizes);
BENCHMARK(BM_FullFilter)->Apply(sizes);
BENCHMARK(BM_FloorFullFilter)->Apply(sizes);
BENCHMARK(BM_FirstQuery)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TablePost)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageMemory)->Apply(sizes)->Iterations(1);

BENCHMARK_MAIN();
