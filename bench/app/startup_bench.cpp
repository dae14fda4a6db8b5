// The start-up as a user meets it: the release program started as a process
// on sample discs of 10,000, 100,000 and 1,000,000 games, timed from just
// before the process is started until its main window has been painted on the
// screen (the program writes one line to an inherited pipe then, see
// firstframe.h). Its floor is a one-label Qt Widgets window started and timed
// the same way in the same run: what any Qt program pays on this machine.
//
// Every start gets a fresh home folder (settings, data and cache folders) in
// which only the engine is registered, as its installer leaves it. The
// screen is whatever the environment gives: run under `xvfb-run -a` for an
// X server, or with QT_QPA_PLATFORM=offscreen. The repetitions of the two
// cases are interleaved at random unless told otherwise, so a machine busy
// with something else slows both alike; compare the medians.

#include "benchsmoke.h"
#include "imagefile.h"
#include "samplearchive.h"
#include "tables.h"
#include "tablescan.h"
#include "testfolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kFrameFd = 3;
constexpr int kTimeoutMs = 30'000;

// The sample disc, written once per size.
struct Disc {
    explicit Disc(long long games) : games(games) {
        fs::create_directories(folder / "DATA");
        sampledisc::writeSampleTables((folder / "DATA").string(), games);
    }
    long long games;
    TestFolder folder;
};

// Kept per size: the cases of the sizes run interleaved.
Disc& discWith(long long games) {
    static std::map<long long, std::unique_ptr<Disc>> discs;
    std::unique_ptr<Disc>& disc = discs[games];
    if (!disc) disc = std::make_unique<Disc>(games);
    return *disc;
}

// A home folder as a new user has it once the engine is installed.
struct FreshHome {
    FreshHome() {
        fs::create_directories(folder / "config/Vortagon");
        fs::create_directories(folder / "data");
        fs::create_directories(folder / "cache");
        std::ofstream(folder / "config/Vortagon/registry.reg")
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\r\n"
               "\"Engine-Version\"=\"1.00\"\r\n";
    }
    std::vector<std::string> environment() const {
        const std::vector<std::pair<std::string, std::string>> own = {
            {"HOME", folder.path()},
            {"XDG_CONFIG_HOME", folder.file("config")},
            {"XDG_DATA_HOME", folder.file("data")},
            {"XDG_CACHE_HOME", folder.file("cache")},
            {"QUILLORA_FIRST_FRAME_FD", std::to_string(kFrameFd)}};
        std::vector<std::string> entries;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text(*entry);
            const std::string name = text.substr(0, text.find('='));
            bool replaced = false;
            for (const auto& [ownName, value] : own) replaced = replaced || name == ownName;
            if (!replaced) entries.push_back(text);
        }
        for (const auto& [name, value] : own) {
            std::string entry = name;
            entry += '=';
            entry += value;
            entries.push_back(entry);
        }
        return entries;
    }
    TestFolder folder;
};

// Starts `program` under the name `name` in `folder` and returns the seconds
// until it reports its first painted frame; then ends it, after `beforeEnd`
// returned.
double secondsToFirstFrame(const std::string& program, const std::string& name, const std::string& folder,
                           const FreshHome& home, const std::function<void()>& beforeEnd = {}) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], kFrameFd);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    const std::vector<std::string> environment = home.environment();
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    std::string argv0 = name;
    char* argv[] = {argv0.data(), nullptr};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        throw std::runtime_error(program + " does not start: " + std::strerror(spawned));
    }
    pollfd wait{pipeEnds[0], POLLIN, 0};
    char line[16] = {};
    const bool painted = ::poll(&wait, 1, kTimeoutMs) == 1 && ::read(pipeEnds[0], line, sizeof line) > 0;
    const auto end = std::chrono::steady_clock::now();
    ::close(pipeEnds[0]);
    if (painted && beforeEnd) beforeEnd();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!painted) throw std::runtime_error(program + " showed no painted window");
    return std::chrono::duration<double>(end - start).count();
}

void measure(benchmark::State& state, const std::string& program, const std::string& name) {
    const Disc& disc = discWith(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        const FreshHome home;
        state.ResumeTiming();
        try {
            state.SetIterationTime(secondsToFirstFrame(program, name, disc.folder.path(), home));
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
    }
}

// The floor: one label.
void BM_FirstFrame_OneLabelWindow(benchmark::State& state) { measure(state, QUILLORA_FLOOR_PROGRAM, "floor"); }

// The program on the disc. Its name is its own per run, so a copy of the
// program running elsewhere on the machine is not taken for this one's
// first instance; it is no hard-disk name.
void BM_FirstFrame_Program(benchmark::State& state) {
    measure(state, QUILLORA_PROGRAM, "quillora-startbench-" + std::to_string(::getpid()));
}

// The program and the floor started in turn, once each per repetition, so
// that both starts of a pair meet the machine in the same state. On a busy
// machine the medians of two cases measured apart move against each other;
// the pair's ratio, a counter here, moves less. Its median over the
// repetitions is the ratio to compare.
void BM_FirstFrame_ProgramOverFloor(benchmark::State& state) {
    const Disc& disc = discWith(state.range(0));
    const std::string name = "quillora-startbench-" + std::to_string(::getpid());
    // Which of the two goes first alternates: neither always finds the
    // machine as the other left it.
    static bool floorFirst = true;
    for (auto _ : state) {
        try {
            const FreshHome floorHome;
            const FreshHome programHome;
            const auto floor = [&] {
                return secondsToFirstFrame(QUILLORA_FLOOR_PROGRAM, "floor", disc.folder.path(), floorHome);
            };
            const auto program = [&] {
                return secondsToFirstFrame(QUILLORA_PROGRAM, name, disc.folder.path(), programHome);
            };
            const double first = floorFirst ? floor() : program();
            const double second = floorFirst ? program() : floor();
            const double floorSeconds = floorFirst ? first : second;
            const double programSeconds = floorFirst ? second : first;
            floorFirst = !floorFirst;
            state.SetIterationTime(programSeconds);
            state.counters["floor_ms"] = floorSeconds * 1e3;
            state.counters["ratio"] = programSeconds / floorSeconds;
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
    }
}

// The program's second start on a disc whose tables have not changed since
// its first: the first start, untimed, runs until it has left a cache file
// of each table large enough to get one (or at most a minute).
void BM_SecondFrame_Program(benchmark::State& state) {
    const Disc& disc = discWith(state.range(0));
    const std::string name = "quillora-startbench-" + std::to_string(::getpid());
    for (auto _ : state) {
        state.PauseTiming();
        const FreshHome home;
        // The cache files the program writes of the tables large enough to get one.
        ::setenv("XDG_CACHE_HOME", home.folder.file("cache").c_str(), 1);
        std::vector<std::string> expected;
        for (const archive::ViewDef* view : archive::allViews()) {
            const std::string table = disc.folder.file("DATA/" + std::string(view->copiedFileName));
            if (archive::TableScan(table).greatestRowId() >= archive::detail::imageFileMinimumRows)
                expected.push_back(archive::imageFileOf(table));
        }
        const auto cacheFiles = [&] {
            return std::count_if(expected.begin(), expected.end(), [](const std::string& file) { return fs::exists(file); });
        };
        try {
            secondsToFirstFrame(QUILLORA_PROGRAM, name, disc.folder.path(), home, [&] {
                for (int waited = 0; cacheFiles() < std::ssize(expected) && waited < 600; ++waited)
                    ::usleep(100'000);
            });
            if (cacheFiles() < std::ssize(expected)) throw std::runtime_error("the first start left no cache files");
            state.ResumeTiming();
            state.SetIterationTime(secondsToFirstFrame(QUILLORA_PROGRAM, name, disc.folder.path(), home));
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
    }
}

void startCase(benchmark::internal::Benchmark* bench) {
    bench->ArgName("games");
    for (long long games : benchsmoke::sizes({10'000, 100'000, 1'000'000})) bench->Arg(games);
    bench->Iterations(1)->Repetitions(benchsmoke::times(9))->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_FirstFrame_OneLabelWindow)->Apply(startCase);
BENCHMARK(BM_FirstFrame_Program)->Apply(startCase);
BENCHMARK(BM_SecondFrame_Program)->Apply(startCase);
BENCHMARK(BM_FirstFrame_ProgramOverFloor)->Apply(startCase);

}  // namespace

int main(int argc, char** argv) {
    // The two cases' repetitions alternate unless the command line says otherwise.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    bool given = false;
    for (int i = 1; i < argc; ++i) given = given || std::strstr(argv[i], "random_interleaving") != nullptr;
    if (!given) arguments.push_back(interleave.data());
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
