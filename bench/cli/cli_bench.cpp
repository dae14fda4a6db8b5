// What the maintainer's tool costs on an archive of 10,000 to 1,000,000
// games, each command as a fresh run of the tool would do it (no table image
// at hand), next to its floor in the same run: plain SQLite doing the same
// work with the values as UTF-8.
//
//   check       the three tables' fields, SQLite's integrity check, every row
//               floor: integrity_check and every cell of every row read as text
//   export      the games as the exchange file, flushed to the disk
//               floor: every row read, the same lines built, write(2), fsync
//   import      100,000 whole rows appended in one transaction
//               floor: the file read and split, one prepared INSERT per row
//   statistics  the games window's numbers over the whole table
//               floor: category, rating and issue of every row, summed

#include "benchsmoke.h"
#include "imagefiles.h"
#include "commands.h"
#include "cp1252.h"
#include "gamegenerator.h"
#include "imagecache.h"
#include "tablefile.h"
#include "testfolder.h"
#include "textexchange.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <streambuf>

namespace {

constexpr int kImportLines = 100'000;

class Discard : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

struct Silent {
    Discard discard;
    std::ostream out{&discard};
    cli::Streams streams{out, out, out};
};

// Data folders with the games of a size (and empty disc and tips tables),
// made once per run.
class Archives {
public:
    Archives() { benchimagefiles::off(); }
    const std::string& folder(long long rows) {
        auto found = folders_.find(rows);
        if (found != folders_.end()) return found->second;
        const std::string folder = root_.path() + "/" + std::to_string(rows);
        std::filesystem::create_directories(folder);
        GameGenerator generator(20011997);
        for (const archive::ViewDef* view : archive::allViews()) {
            archive::TableFileWriter writer(folder + "/" + std::string(view->copiedFileName), *view);
            if (view == &archive::gamesView())
                for (long long i = 0; i < rows; ++i) writer.add(generator.nextGame(static_cast<int>(i)));
            writer.commit();
        }
        return folders_.emplace(rows, folder).first->second;
    }

    // 100,000 games in the exchange format, after those of every folder.
    const std::string& importFile() {
        if (!importFile_.empty()) return importFile_;
        GameGenerator generator(4711);
        std::string bytes;
        for (int i = 0; i < kImportLines; ++i) {
            const archive::Row row = generator.nextGame(i);
            for (size_t c = 0; c < row.size(); ++c) {
                if (c > 0) bytes += archive::kExchangeSeparator;
                if (row[c]) bytes += *row[c];
            }
            bytes += archive::kExchangeLineEnd;
        }
        importFile_ = root_.path() + "/month.txt";
        std::ofstream(importFile_, std::ios::binary) << bytes;
        return importFile_;
    }

    // A fresh copy of a folder's games beside its other tables, to import into.
    std::string scratch(long long rows) {
        const std::string target = root_.path() + "/scratch";
        std::filesystem::remove_all(target);
        std::filesystem::copy(folder(rows), target);
        return target;
    }

private:
    TestFolder root_;
    std::map<long long, std::string> folders_;
    std::string importFile_;
};

Archives& archives() {
    static Archives instance;
    return instance;
}

std::string gamesPath(const std::string& folder) { return folder + "/GameData.DB"; }

// A plain SQLite connection for the floors.
class PlainDb {
public:
    explicit PlainDb(const std::string& path, int flags = SQLITE_OPEN_READONLY) {
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) std::abort();
    }
    ~PlainDb() { sqlite3_close(db_); }
    PlainDb(const PlainDb&) = delete;
    PlainDb& operator=(const PlainDb&) = delete;
    sqlite3_stmt* prepare(const char* sql) const {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) std::abort();
        return statement;
    }
    void exec(const char* sql) const {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    }

private:
    sqlite3* db_ = nullptr;
};

void expect(benchmark::State& state, int status, int wanted) {
    if (status != wanted) state.SkipWithError("the command failed");
}

void BM_Check(benchmark::State& state) {
    const std::string& folder = archives().folder(state.range(0));
    Silent silent;
    for (auto _ : state) {
        archive::clearImageCache();
        const int status = cli::checkFolder(folder, false, silent.streams);
        if (status == cli::kFailed) state.SkipWithError("the check could not read the tables");
    }
}

void BM_FloorCheck(benchmark::State& state) {
    const std::string& folder = archives().folder(state.range(0));
    for (auto _ : state) {
        size_t bytes = 0;
        for (const archive::ViewDef* view : archive::allViews()) {
            const PlainDb db(folder + "/" + std::string(view->copiedFileName));
            sqlite3_stmt* check = db.prepare("PRAGMA integrity_check");
            while (sqlite3_step(check) == SQLITE_ROW) bytes += static_cast<size_t>(sqlite3_column_bytes(check, 0));
            sqlite3_finalize(check);
            const std::string sql = "SELECT rowid, * FROM " + std::string(view->tableFile.substr(0, view->tableFile.find('.')));
            sqlite3_stmt* rows = db.prepare(sql.c_str());
            while (sqlite3_step(rows) == SQLITE_ROW)
                for (int c = 1; c < sqlite3_column_count(rows); ++c) {
                    benchmark::DoNotOptimize(sqlite3_column_text(rows, c));
                    bytes += static_cast<size_t>(sqlite3_column_bytes(rows, c));
                }
            sqlite3_finalize(rows);
        }
        benchmark::DoNotOptimize(bytes);
    }
}

void BM_Export(benchmark::State& state) {
    const std::string& folder = archives().folder(state.range(0));
    Silent silent;
    for (auto _ : state) {
        archive::clearImageCache();
        expect(state, cli::exportTable(folder, archive::gamesView(), std::nullopt, silent.streams), cli::kOk);
    }
}

void BM_FloorExport(benchmark::State& state) {
    const std::string& folder = archives().folder(state.range(0));
    const std::string path = folder + "/floor.txt";
    // Lines go out a buffer at a time, as the writer's do.
    const auto flush = [](int fd, std::string& bytes) {
        for (size_t written = 0; written < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n <= 0) std::abort();
            written += static_cast<size_t>(n);
        }
        bytes.clear();
    };
    for (auto _ : state) {
        const PlainDb db(gamesPath(folder));
        sqlite3_stmt* rows = db.prepare("SELECT * FROM GameData");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::string bytes;
        while (sqlite3_step(rows) == SQLITE_ROW) {
            for (int c = 0; c < 7; ++c) {
                if (c > 0) bytes += '\t';
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows, c));
                if (text) bytes.append(text, static_cast<size_t>(sqlite3_column_bytes(rows, c)));
            }
            bytes += "\r\n";
            if (bytes.size() >= (1u << 16)) flush(fd, bytes);
        }
        flush(fd, bytes);
        sqlite3_finalize(rows);
        ::fsync(fd);
        ::close(fd);
    }
}

void BM_Import(benchmark::State& state) {
    const std::string& file = archives().importFile();
    Silent silent;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder = archives().scratch(state.range(0));
        archive::clearImageCache();
        state.ResumeTiming();
        expect(state, cli::importFile(folder, archive::gamesView(), file, true, false, silent.streams), cli::kOk);
    }
}

void BM_FloorImport(benchmark::State& state) {
    const std::string& file = archives().importFile();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder = archives().scratch(state.range(0));
        state.ResumeTiming();
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const PlainDb db(gamesPath(folder), SQLITE_OPEN_READWRITE);
        sqlite3_stmt* insert = db.prepare("INSERT INTO GameData VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        db.exec("BEGIN IMMEDIATE");
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t end = bytes.find("\r\n", start);
            const std::string line = archive::cp1252ToUtf8(std::string_view(bytes).substr(start, end - start));
            size_t from = 0;
            for (int c = 0; c < 7; ++c) {
                const size_t tab = c < 6 ? line.find('\t', from) : line.size();
                if (tab == from)
                    sqlite3_bind_null(insert, c + 1);
                else
                    sqlite3_bind_text(insert, c + 1, line.data() + from, static_cast<int>(tab - from), SQLITE_TRANSIENT);
                from = tab + 1;
            }
            if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
            sqlite3_reset(insert);
            start = end + 2;
        }
        db.exec("COMMIT");
        sqlite3_finalize(insert);
    }
}

void BM_Statistics(benchmark::State& state) {
    const std::string& folder = archives().folder(state.range(0));
    Silent silent;
    for (auto _ : state) {
        archive::clearImageCache();
        expect(state, cli::printStatistics(folder, archive::gamesView(), {}, silent.streams), cli::kOk);
    }
}

void BM_FloorStatistics(benchmark::State& state) {
    const std::string& folder = archives().folder(state.range(0));
    const auto names = archive::gamesView().statisticsRows;
    for (auto _ : state) {
        const PlainDb db(gamesPath(folder));
        sqlite3_stmt* rows = db.prepare("SELECT RUBRIK, WERTUNG, AUSGABE FROM GameData");
        std::array<double, 7> sum{}, count{};
        std::array<double, 12> monthSum{}, monthCount{};
        std::array<double, 101> ratings{};
        while (sqlite3_step(rows) == SQLITE_ROW) {
            if (sqlite3_column_type(rows, 1) == SQLITE_NULL) continue;
            const int rating = sqlite3_column_int(rows, 1);
            const std::string_view category(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0)),
                                            static_cast<size_t>(sqlite3_column_bytes(rows, 0)));
            for (size_t i = 0; i < names.size(); ++i)
                if (category == names[i]) {
                    sum[i] += rating;
                    count[i] += 1;
                }
            const auto* issue = reinterpret_cast<const char*>(sqlite3_column_text(rows, 2));
            const int month = (issue[5] - '0') * 10 + (issue[6] - '0');
            if (month >= 1 && month <= 12) {
                monthSum[static_cast<size_t>(month - 1)] += rating;
                monthCount[static_cast<size_t>(month - 1)] += 1;
            }
            if (rating >= 0 && rating <= 100) ratings[static_cast<size_t>(rating)] += 1;
        }
        sqlite3_finalize(rows);
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(monthSum);
        benchmark::DoNotOptimize(ratings);
    }
}

void sizes(benchmark::internal::Benchmark* bench) {
    bench->ArgName("games");
    for (const long long rows : benchsmoke::sizes({10'000, 100'000, 1'000'000})) bench->Arg(rows);
    bench->Iterations(1)->Repetitions(benchsmoke::times(5))->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Check)->Apply(sizes);
BENCHMARK(BM_FloorCheck)->Apply(sizes);
BENCHMARK(BM_Export)->Apply(sizes);
BENCHMARK(BM_FloorExport)->Apply(sizes);
BENCHMARK(BM_Import)->Apply(sizes);
BENCHMARK(BM_FloorImport)->Apply(sizes);
BENCHMARK(BM_Statistics)->Apply(sizes);
BENCHMARK(BM_FloorStatistics)->Apply(sizes);

BENCHMARK_MAIN();
