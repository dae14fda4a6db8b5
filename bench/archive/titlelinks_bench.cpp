// What the user waits for when the grid's menu of links opens: the game of
// the row and the rows each other table will show for it, on sample archives
// of 10,000, 100,000 and 1,000,000 games with their disc items and tips in
// proportion (the archive the keystroke benchmark runs on):
//
// - on a game row: the rows of the disc items and of the tips;
// - on a disc item: the game with the longest title the item's title holds,
//   then the rows of the games and of the tips;
// each next to its floor: a plain loop over the upper-cased titles, already
// extracted into one vector per table, with one substring test per title.
// The images are loaded and the games' title order is worked out before, as
// the program has them once the games view is shown; the Open cases repeat
// the menu on the same images, the FirstOpen cases time the first menu on
// images fresh from the files, whose upper-cased titles are not worked out.

#include "benchsmoke.h"
#include "imagefiles.h"
#include "cp1252.h"
#include "imagecache.h"
#include "samplearchive.h"
#include "tableimage.h"
#include "testfolder.h"
#include "titlematch.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace archive;

// One sample archive at a time: a million games are held once.
struct Archive {
    explicit Archive(long long games) : games(games) {
        benchimagefiles::off();
        std::filesystem::create_directories(folder.path() + "/DATA");
        sampledisc::writeSampleTables(dataPath(), games);
    }
    std::string dataPath() const { return folder.path() + "/DATA"; }

    // The images as the program holds them with the games view shown.
    void load() const {
        const auto gameImage = imageOfView(dataPath(), gamesView());
        gameImage->dictionary(titleColumn(*gameImage)).upper();
        imageOfView(dataPath(), discView());
        imageOfView(dataPath(), tipsView());
    }

    // The first disc item from the middle on that names a game, and its game;
    // worked out once.
    void pickRows() {
        if (!discTitle.empty()) return;
        const auto discImage = imageOfView(dataPath(), discView());
        const auto gameImage = imageOfView(dataPath(), gamesView());
        for (uint32_t row = discImage->rowCount() / 2; row < discImage->rowCount(); ++row) {
            const std::string title(discImage->text(row, titleColumn(*discImage)));
            if (const auto game = gameOfTitle(*gameImage, title)) {
                discTitle = title;
                gameTitle = game->title;
                return;
            }
        }
        throw std::runtime_error("no sample disc item names a game");
    }

    long long games;
    TestFolder folder;
    std::string discTitle;
    std::string gameTitle;
};

std::unique_ptr<Archive> current;

Archive& archiveOf(benchmark::State& state) {
    if (!current || current->games != state.range(0)) {
        current.reset();
        clearImageCache();
        current = std::make_unique<Archive>(state.range(0));
    }
    current->load();
    current->pickRows();
    return *current;
}

void report(benchmark::State& state, const LinkCounts& counts) {
    state.counters["games"] = static_cast<double>(counts.games);
    state.counters["disc"] = static_cast<double>(counts.disc);
    state.counters["tips"] = static_cast<double>(counts.tips);
}

void BM_OpenOnGame(benchmark::State& state) {
    Archive& archive = archiveOf(state);
    LinkCounts counts = linkCounts(archive.dataPath(), gamesView(), archive.gameTitle);
    for (auto _ : state) counts = linkCounts(archive.dataPath(), gamesView(), archive.gameTitle);
    report(state, counts);
}

void BM_OpenOnDiscItem(benchmark::State& state) {
    Archive& archive = archiveOf(state);
    LinkCounts counts = linkCounts(archive.dataPath(), discView(), archive.discTitle);
    for (auto _ : state) counts = linkCounts(archive.dataPath(), discView(), archive.discTitle);
    report(state, counts);
}

// The first menu after the tables were read: the images are read again
// outside the measured time.
template <const ViewDef& (*View)()>
void firstOpen(benchmark::State& state) {
    Archive& archive = archiveOf(state);
    LinkCounts counts;
    for (auto _ : state) {
        clearImageCache();
        archive.load();
        const std::string& title = &View() == &gamesView() ? archive.gameTitle : archive.discTitle;
        const auto start = std::chrono::steady_clock::now();
        counts = linkCounts(archive.dataPath(), View(), title);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    report(state, counts);
}
void BM_FirstOpenOnGame(benchmark::State& state) { firstOpen<gamesView>(state); }
void BM_FirstOpenOnDiscItem(benchmark::State& state) { firstOpen<discView>(state); }

// The upper-cased titles of a table, one string each.
std::vector<std::string> upperTitles(const Archive& archive, const ViewDef& view) {
    const auto image = imageOfView(archive.dataPath(), view);
    const int column = titleColumn(*image);
    std::vector<std::string> titles;
    titles.reserve(image->rowCount());
    for (uint32_t row = 0; row < image->rowCount(); ++row) titles.push_back(upperCp1252(image->text(row, column)));
    return titles;
}

size_t countHolding(const std::vector<std::string>& titles, const std::string& text) {
    size_t count = 0;
    for (const std::string& title : titles) count += title.find(text) != std::string::npos;
    return count;
}

void BM_FloorOnGame(benchmark::State& state) {
    Archive& archive = archiveOf(state);
    const std::vector<std::string> disc = upperTitles(archive, discView());
    const std::vector<std::string> tips = upperTitles(archive, tipsView());
    const std::string game = upperCp1252(archive.gameTitle);
    LinkCounts counts;
    for (auto _ : state) {
        counts.disc = countHolding(disc, game);
        counts.tips = countHolding(tips, game);
        benchmark::DoNotOptimize(counts);
    }
    report(state, counts);
}

void BM_FloorOnDiscItem(benchmark::State& state) {
    Archive& archive = archiveOf(state);
    const std::vector<std::string> games = upperTitles(archive, gamesView());
    const std::vector<std::string> tips = upperTitles(archive, tipsView());
    const std::string item = upperCp1252(archive.discTitle);
    LinkCounts counts;
    for (auto _ : state) {
        const std::string* best = nullptr;
        for (const std::string& game : games)
            if ((!best || game.size() > best->size()) && item.find(game) != std::string::npos) best = &game;
        counts.games = best ? countHolding(games, *best) : 0;
        counts.tips = best ? countHolding(tips, *best) : 0;
        benchmark::DoNotOptimize(counts);
    }
    report(state, counts);
}

void sizes(benchmark::internal::Benchmark* bench) {
    for (const long long games : benchsmoke::sizes({10000, 100000, 1000000})) bench->Arg(games);
    bench->Repetitions(benchsmoke::times(5))->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
}

void firstRuns(benchmark::internal::Benchmark* bench) {
    sizes(bench);
    bench->Iterations(benchsmoke::times(3))->UseManualTime();
}

}  // namespace

BENCHMARK(BM_OpenOnGame)->Apply(sizes);
BENCHMARK(BM_FloorOnGame)->Apply(sizes);
BENCHMARK(BM_OpenOnDiscItem)->Apply(sizes);
BENCHMARK(BM_FloorOnDiscItem)->Apply(sizes);
BENCHMARK(BM_FirstOpenOnGame)->Apply(firstRuns);
BENCHMARK(BM_FirstOpenOnDiscItem)->Apply(firstRuns);

BENCHMARK_MAIN();
