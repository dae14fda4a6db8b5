// What a keystroke in the title box costs: the title-filter query rerun over
// a loaded table image, against the floor of the same filter done by a plain
// loop over row structs already in sorted order; and what the first query of
// a freshly opened table (read from SQLite, or from the cache file the last
// start left, against SQLite's own first page), SQLite's check of its pages
// and the image's memory cost.
//
// What the edit mode's writes cost: storing one edited row, deleting one row,
// importing 100,000 lines, exporting a table, each against a floor measured
// in the same run (plain SQLite doing the same write, write(2) of the same
// bytes). The write cases run five times; their medians are the figures.

#include "cp1252.h"
#include "benchsmoke.h"
#include "imagefiles.h"
#include "engine.h"
#include "imagecache.h"
#include "testfolder.h"
#include "gamegenerator.h"
#include "querytext.h"
#include "tableimage.h"
#include "textexchange.h"
#include "wholefile.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kTitleFilter = "UPPER(TITEL) LIKE \"%AB%\"";
constexpr const char* kFullFilter = "UPPER(TITEL) LIKE \"%AB%\" AND RUBRIK LIKE \"%cti%\" AND WERTUNG >= 70";

// The generated archives, one folder per size, removed when the run ends.
class Archives {
public:
    Archives() { benchimagefiles::off(); }
    const std::string& gameTable(int games) {
        auto found = paths_.find(games);
        if (found != paths_.end()) return found->second;
        const std::string folder = root_.path() + "/" + std::to_string(games);
        std::filesystem::create_directory(folder);
        const std::string path = folder + "/GameData.db";
        GameGenerator generator(20011997);
        archive::TableFileWriter writer(path, archive::gamesView());
        for (int i = 0; i < games; ++i) writer.add(generator.nextGame(i));
        writer.commit();
        return paths_.emplace(games, path).first->second;
    }

    // A copy of the games table of that size that a benchmark may change,
    // made afresh on every call.
    std::string scratchCopy(int games) {
        const std::string& original = gameTable(games);
        const std::string folder = root_.path() + "/scratch";
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/GameData.db";
        archive::copyWholeFile(original, path);
        return path;
    }

    const std::string& root() const { return root_.path(); }

private:
    TestFolder root_;
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

// Each iteration a first open: the query closed and the image cache
// emptied outside the measured time.
void timeFirstOpens(benchmark::State& state, archive::Query& query) {
    for (auto _ : state) {
        state.PauseTiming();
        query.close();
        archive::clearImageCache();
        state.ResumeTiming();
        query.open();
        benchmark::DoNotOptimize(query.recordCount());
    }
}

// Opening a view for the first time: the image is read from SQLite and the
// title order worked out, then filtered.
void BM_FirstQuery(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    archive::Query query;
    prepare(query, path, kTitleFilter, "TITEL");
    timeFirstOpens(state, query);
}

// The first query of a second start: the image read from the cache file the
// first start left (its cells, the title ranks and order), then filtered.
void BM_FirstQueryFromCache(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    const benchimagefiles::On files;
    archive::Query query;
    prepare(query, path, kTitleFilter, "TITEL");
    archive::clearImageCache();
    query.open();  // the first start, which has the file written
    archive::finishImageFiles();
    if (!archive::readImageFile(path)) {
        state.SkipWithError("no cache file was written");
        return;
    }
    timeFirstOpens(state, query);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(archive::imageFileOf(path))) / 1e6;
}

// The floor of a start: SQLite's own first page of the games by title, from
// opening the file on.
void BM_FloorFirstPage(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    int rows = 0;
    for (auto _ : state) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) std::abort();
        sqlite3_stmt* page = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT * FROM GameData ORDER BY TITEL LIMIT 30", -1, &page, nullptr) != SQLITE_OK)
            std::abort();
        rows = 0;
        while (sqlite3_step(page) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(page, 0));
            ++rows;
        }
        sqlite3_finalize(page);
        sqlite3_close(db);
    }
    state.counters["rows"] = rows;
}

// SQLite's check of every page of a table file, which opening a table runs
// once its rows are read, in the background while the first result is
// sorted: its own cost, on one thread, through a plain connection. Set
// against BM_FirstQuery (what a reader waits for until the first result
// shows, the check included) and that case of a build without the check.
void BM_OpeningCheck(benchmark::State& state) {
    const std::string& path = archives().gameTable(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) std::abort();
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &check, nullptr) != SQLITE_OK) std::abort();
        if (sqlite3_step(check) != SQLITE_ROW ||
            std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) != "ok")
            std::abort();
        sqlite3_finalize(check);
        sqlite3_close(db);
    }
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

// What the check adds to the first query of a freshly opened table: in each
// iteration the first query of the table itself, whose pages are checked
// while the result is sorted, and of the same table copied by the hard-disk
// copy, which checked it while copying and so is not checked again (the
// floor). Both figures are counters; the measured time is the checked one.
void BM_FirstQueryCheckCost(benchmark::State& state) {
    const int games = static_cast<int>(state.range(0));
    const std::string& path = archives().gameTable(games);
    const std::string copyFolder = archives().root() + "/checked-" + std::to_string(games);
    std::filesystem::create_directories(copyFolder);
    const std::string copy = copyFolder + "/GameData.DB";
    archive::copyTableFile(path.substr(0, path.rfind('/')), archive::gamesView(), copy);
    double checkedSeconds = 0;
    double knownSoundSeconds = 0;
    for (auto _ : state) {
        double checked = 0;
        for (const std::string* table : {&path, &copy}) {
            archive::Query query;
            prepare(query, *table, "", "TITEL");
            archive::clearImageCache();
            const auto start = std::chrono::steady_clock::now();
            query.open();
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            (table == &path ? checkedSeconds : knownSoundSeconds) += seconds;
            if (table == &path) checked = seconds;
            benchmark::DoNotOptimize(query.recordCount());
        }
        state.SetIterationTime(checked);
    }
    state.counters["checked_ms"] = benchmark::Counter(checkedSeconds * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["floor_ms"] = benchmark::Counter(knownSoundSeconds * 1e3, benchmark::Counter::kAvgIterations);
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

void openTable(archive::Table& table, const std::string& path) {
    const auto slash = path.rfind('/');
    table.databaseName = path.substr(0, slash);
    table.tableName = path.substr(slash + 1);
    table.setReadOnly(false);
    table.open();
}

// A plain SQLite connection for the floors.
class PlainDb {
public:
    explicit PlainDb(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) std::abort();
    }
    ~PlainDb() { sqlite3_close(db_); }
    void exec(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    }
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) std::abort();
        return stmt;
    }
    static void run(sqlite3_stmt* stmt) {
        if (sqlite3_step(stmt) != SQLITE_DONE) std::abort();
        sqlite3_reset(stmt);
    }

private:
    sqlite3* db_ = nullptr;
};

// Storing one changed row in the edit mode: one transaction, then the
// table's image brought up to date in memory.
void BM_TablePost(benchmark::State& state) {
    archive::Table table;
    openTable(table, archives().scratchCopy(static_cast<int>(state.range(0))));
    const int comment = table.fieldIndex("KOMMENTAR");
    long long round = 0;
    for (auto _ : state) {
        table.moveTo(static_cast<int>(round * 7919 % table.recordCount()));
        table.setFieldText(comment, "Kommentar " + std::to_string(round++));
        table.post();
    }
}

// The floor: a plain SQLite UPDATE of one row in one transaction, on a
// connection kept open.
void BM_FloorPost(benchmark::State& state) {
    PlainDb db(archives().scratchCopy(static_cast<int>(state.range(0))));
    sqlite3_stmt* update = db.prepare("UPDATE GameData SET KOMMENTAR = ?1 WHERE rowid = ?2");
    long long round = 0;
    for (auto _ : state) {
        const std::string text = "Kommentar " + std::to_string(round);
        db.exec("BEGIN IMMEDIATE");
        sqlite3_bind_text(update, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(update, 2, 1 + round++ * 7919 % state.range(0));
        PlainDb::run(update);
        db.exec("COMMIT");
    }
    sqlite3_finalize(update);
}

void BM_TableDelete(benchmark::State& state) {
    archive::Table table;
    openTable(table, archives().scratchCopy(static_cast<int>(state.range(0))));
    long long round = 0;
    for (auto _ : state) {
        table.moveTo(static_cast<int>(round++ * 7919 % table.recordCount()));
        table.deleteRecord();
    }
}

void BM_FloorDelete(benchmark::State& state) {
    PlainDb db(archives().scratchCopy(static_cast<int>(state.range(0))));
    sqlite3_stmt* remove = db.prepare("DELETE FROM GameData WHERE rowid = ?1");
    long long round = 0;
    for (auto _ : state) {
        db.exec("BEGIN IMMEDIATE");
        sqlite3_bind_int64(remove, 1, 1 + round++ * 7919 % state.range(0));
        PlainDb::run(remove);
        db.exec("COMMIT");
    }
    sqlite3_finalize(remove);
}

constexpr int kImportLines = 100000;

// 100,000 import lines of four values, as a text file holds them.
const std::string& importLines() {
    static const std::string lines = [] {
        GameGenerator generator(4711);
        std::string text;
        for (int i = 0; i < kImportLines; ++i) {
            const archive::Row game = generator.nextGame(i);
            text += *game[0] + "\t" + *game[1] + "\t" + *game[2] + "\t" + *game[3] + "\r\n";
        }
        return text;
    }();
    return lines;
}

// The info dialog's import: lines read and split, values set as text into
// fields 0 to 3, stored in one transaction, the image brought up to date.
void BM_Import(benchmark::State& state) {
    archive::Table table;
    openTable(table, archives().scratchCopy(static_cast<int>(state.range(0))));
    const std::string& lines = importLines();
    for (auto _ : state) {
        archive::ImportLineReader reader;
        reader.openBytes(lines);
        const int records = table.appendRecords([&](std::array<std::string, 4>& values) {
            std::string line;
            if (!reader.readLine(line)) return false;
            values = archive::splitImportLine(line);
            return true;
        });
        if (records != kImportLines) state.SkipWithError("lines lost");
    }
    state.counters["rows_after"] = table.recordCount();
}

// The floor: a plain SQLite INSERT of the same 100,000 rows in one
// transaction, values ready as UTF-8.
void BM_FloorImport(benchmark::State& state) {
    std::vector<std::array<std::string, 4>> rows;
    archive::ImportLineReader reader;
    reader.openBytes(importLines());
    for (std::string line; reader.readLine(line);) {
        std::array<std::string, 4> values = archive::splitImportLine(line);
        for (std::string& value : values) value = archive::cp1252ToUtf8(value);
        rows.push_back(std::move(values));
    }
    const std::string path = archives().scratchCopy(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        PlainDb db(path);
        sqlite3_stmt* insert = db.prepare("INSERT INTO GameData VALUES (?1, ?2, ?3, ?4, NULL, NULL, NULL)");
        db.exec("BEGIN IMMEDIATE");
        for (const auto& values : rows) {
            for (int i = 0; i < 4; ++i)
                sqlite3_bind_text(insert, i + 1, values[i].data(), static_cast<int>(values[i].size()), SQLITE_STATIC);
            PlainDb::run(insert);
        }
        db.exec("COMMIT");
        sqlite3_finalize(insert);
    }
}

// The info dialog's export of the whole table into a fresh file.
void BM_Export(benchmark::State& state) {
    archive::Table table;
    openTable(table, archives().gameTable(static_cast<int>(state.range(0))));
    const std::string path = archives().root() + "/GameData.db.txt";
    size_t bytes = 0;
    for (auto _ : state) {
        archive::WholeFileWriter out(path);
        archive::exportRecords(table, out);
        out.commit();
        bytes = std::filesystem::file_size(path);
    }
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

// The floor: the same bytes written with write(2) and flushed to the disk
// as the writer does.
void BM_FloorExport(benchmark::State& state) {
    archive::Table table;
    openTable(table, archives().gameTable(static_cast<int>(state.range(0))));
    std::string bytes;
    for (int record = 0; record < table.recordCount(); ++record) archive::appendExportLine(bytes, table, record);
    const std::string path = archives().root() + "/floor.txt";
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        for (size_t written = 0; written < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + written, std::min<size_t>(bytes.size() - written, 1 << 20));
            if (n <= 0) std::abort();
            written += static_cast<size_t>(n);
        }
        ::fsync(fd);
        ::close(fd);
    }
    state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
}

// The archive sizes of a case, or the smoke run's one.
void args(benchmark::internal::Benchmark* bench, std::initializer_list<long long> rows) {
    for (const long long count : benchsmoke::sizes(rows)) bench->Arg(count);
}

void writes(benchmark::internal::Benchmark* bench, int iterations) {
    args(bench, {10000, 100000, 1000000});
    bench->Iterations(benchsmoke::times(iterations))
        ->Repetitions(benchsmoke::times(5))
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}

void sizes(benchmark::internal::Benchmark* bench) {
    args(bench, {10000, 100000, 1000000});
    bench->Unit(benchmark::kMillisecond);
}

// Cases with few, long iterations, repeated for a median.
void fewRuns(benchmark::internal::Benchmark* bench, std::initializer_list<long long> rows, int iterations,
             int repetitions) {
    args(bench, rows);
    bench->Iterations(benchsmoke::times(iterations))
        ->Repetitions(benchsmoke::times(repetitions))
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_TitleFilter)->Apply(sizes);
BENCHMARK(BM_FloorTitleFilter)->Apply(sizes);
BENCHMARK(BM_FullFilter)->Apply(sizes);
BENCHMARK(BM_FloorFullFilter)->Apply(sizes);
BENCHMARK(BM_FirstQuery)->Apply([](auto* bench) { fewRuns(bench, {10000, 100000, 1000000}, 3, 1); });
BENCHMARK(BM_FirstQueryFromCache)->Apply([](auto* bench) { fewRuns(bench, {10000, 100000, 1000000}, 3, 5); });
BENCHMARK(BM_FloorFirstPage)->Apply([](auto* bench) { fewRuns(bench, {10000, 100000, 1000000}, 3, 5); });
BENCHMARK(BM_FirstQueryCheckCost)->Apply([](auto* bench) { fewRuns(bench, {10000, 1000000}, 3, 5); })->UseManualTime();
BENCHMARK(BM_OpeningCheck)->Apply([](auto* bench) { fewRuns(bench, {10000, 1000000}, 3, 5); });
BENCHMARK(BM_TablePost)->Apply([](auto* bench) { writes(bench, 20); });
BENCHMARK(BM_FloorPost)->Apply([](auto* bench) { writes(bench, 20); });
BENCHMARK(BM_TableDelete)->Apply([](auto* bench) { writes(bench, 20); });
BENCHMARK(BM_FloorDelete)->Apply([](auto* bench) { writes(bench, 20); });
BENCHMARK(BM_Import)->Apply([](auto* bench) { writes(bench, 1); });
BENCHMARK(BM_FloorImport)->Apply([](auto* bench) { writes(bench, 1); });
BENCHMARK(BM_Export)->Apply([](auto* bench) { fewRuns(bench, {1000000}, 1, 5); });
BENCHMARK(BM_FloorExport)->Apply([](auto* bench) { fewRuns(bench, {1000000}, 1, 5); });
BENCHMARK(BM_ImageMemory)->Apply(sizes)->Iterations(1);

BENCHMARK_MAIN();
