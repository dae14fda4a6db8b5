// From a keystroke in the quick title field to the grid showing the new
// result: the query rerun, the model reset and one rendered frame of the grid,
// offscreen, on sample archives of growing size.

#include "clickarea.h"
#include "messagebox.h"
#include "samplearchive.h"
#include "tform1.h"
#include "tform3.h"
#include "tform4.h"
#include "tsuchpage.h"
#include "windowset.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

// One started program on an archive of `games` games, kept for all runs.
struct StartedProgram {
    explicit StartedProgram(long long games) {
        const std::string base = folder.path().toStdString();
        const std::string disc = base + "/disc";
        fs::create_directories(disc + "/DATA");
        fs::create_directories(base + "/config/Vortagon");
        fs::create_directories(base + "/tmp");
        sampledisc::writeSampleTables(disc + "/DATA", games);
        std::ofstream(base + "/config/Vortagon/registry.reg")
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\r\n"
               "\"Engine-Version\"=\"1.00\"\r\n";
        ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
        ::setenv("TMPDIR", (base + "/tmp").c_str(), 1);
        fs::current_path(disc);
        windows = std::make_unique<WindowSet>("quillora", nullptr, WindowSet::WaitWindow::Hidden);
        form1 = &windows->Form1();
        form1->show();
        if (!QTest::qWaitForWindowExposed(form1)) throw std::runtime_error("the main window did not appear");
    }
    QTemporaryDir folder;
    std::unique_ptr<WindowSet> windows;
    TForm1* form1 = nullptr;
};

// One archive in memory at a time; it goes before the application does.
std::unique_ptr<StartedProgram> loadedProgram;
long long loadedGames = 0;

StartedProgram& programWith(long long games) {
    if (!loadedProgram || loadedGames != games) {
        loadedProgram.reset();
        loadedProgram = std::make_unique<StartedProgram>(games);
        loadedGames = games;
    }
    return *loadedProgram;
}

// Typing "AB" and taking it back, one keystroke per measured step, each
// followed by one rendered frame of the grid.
void quickFieldKeystroke(benchmark::State& state, long long games) {
    TForm1& form = *programWith(games).form1;
    form.Edit1->clear();
    const Qt::Key keys[] = {Qt::Key_A, Qt::Key_B, Qt::Key_Backspace, Qt::Key_Backspace};
    long long rows = 0;
    size_t step = 0;
    for (auto _ : state) {
        QTest::keyClick(form.Edit1, keys[step++ % 4]);
        form.DBGrid1->repaint();
        rows += form.Query1.recordCount();
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(step);
}

// The same keystrokes with the selection module and the games statistics
// window open: the window recomputes with every rerun; the grid and the
// window each render one frame.
void keystrokeWithStatistics(benchmark::State& state, long long games) {
    StartedProgram& program = programWith(games);
    TForm1& form = *program.form1;
    TForm3& statistics = program.windows->Form3();
    form.Edit1->clear();
    QTest::mouseClick(form.Image6, Qt::LeftButton);
    statistics.showStatistics();
    const Qt::Key keys[] = {Qt::Key_A, Qt::Key_B, Qt::Key_Backspace, Qt::Key_Backspace};
    size_t step = 0;
    for (auto _ : state) {
        QTest::keyClick(form.Edit1, keys[step++ % 4]);
        form.DBGrid1->repaint();
        statistics.repaint();
    }
    statistics.hide();
    program.windows->SuchPage().hide();
}

// The grid alone: one rendered frame without a new query.
void gridFrameOnly(benchmark::State& state, long long games) {
    TForm1& form = *programWith(games).form1;
    for (auto _ : state) form.DBGrid1->repaint();
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    MessageBox::setAutoAnswer(true);
    // By archive size, so each archive is made and loaded once.
    for (const long long games : {10'000LL, 100'000LL, 1'000'000LL}) {
        const std::string size = std::to_string(games);
        benchmark::RegisterBenchmark(("QuickFieldKeystroke/" + size).c_str(), quickFieldKeystroke, games)
            ->Unit(benchmark::kMillisecond)->Iterations(40)->Repetitions(5)->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark(("KeystrokeWithStatistics/" + size).c_str(), keystrokeWithStatistics, games)
            ->Unit(benchmark::kMillisecond)->Iterations(40)->Repetitions(5)->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark(("GridFrameOnly/" + size).c_str(), gridFrameOnly, games)
            ->Unit(benchmark::kMillisecond)->Iterations(40)->Repetitions(5)->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    loadedProgram.reset();
    return 0;
}
