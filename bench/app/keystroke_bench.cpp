// What the user waits for in the main window, offscreen, on sample archives
// of 10,000, 100,000 and 1,000,000 games:
//
// - each keystroke in the quick title field by itself ('' -> A, A -> AB,
//   AB -> A, A -> ''), from the key to the grid's next rendered frame; the
//   field holds the text before the key when each measured step starts;
// - the first keystroke after the program has started, when nothing of the
//   title filter has been worked out yet;
// - the first sort by each column title of the games view, on a freshly
//   started program each time;
// - the start-up itself: from making the windows to the main window showing
//   the games sorted by title, with no table image loaded before; and what
//   SQLite's check of the tables' pages adds to it, against the same start
//   on tables this process has found sound already;
// - the floor the title filter is measured against: a plain loop over one
//   contiguous buffer of the upper-cased titles, already in title order,
//   finding the text in each and collecting the row numbers of the matches;
// - long texts: the start-up and the grid's frames scrolling a screenful at
//   a time on an archive whose every 50th game has a title of 1 MB, next to
//   the same archive with its ordinary titles; and the import of a file of
//   one 50 MB line to the grid's next frame, next to a file of one ordinary
//   line and to the floor of reading the file; the start-up beside the floor
//   of reading the games' table once. A long text must cost what a
//   screenful of it costs.
//
// Everything that is not the step being measured (typing the text before the
// key, starting a fresh program, dropping the table images) happens outside
// the measured time; each step is timed by hand and the figures are medians.

#include "clickarea.h"
#include "cp1252.h"
#include "benchsmoke.h"
#include "imagefiles.h"
#include "engine.h"
#include "imagecache.h"
#include "messagebox.h"
#include "program.h"
#include "quietmoment.h"
#include "samplearchive.h"
#include "sorting.h"
#include "tablefile.h"
#include "tableimage.h"
#include "tdatasource.h"
#include "textexchange.h"
#include "tform2.h"
#include "topendialog.h"
#include "tables.h"
#include "tform1.h"
#include "tform3.h"
#include "tsuchpage.h"
#include "windowset.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every this many games, one has a long title: 1 MB, or in a smoke run just
// enough to take the path of long texts (256 KiB and more).
constexpr long long kLongTitleEvery = 50;
const size_t kLongTitleBytes = benchsmoke::on() ? size_t(300) << 10 : size_t(1) << 20;

// The game's own title, then words up to `length` bytes: the long titles keep
// their places in the title order, so every screenful meets about one.
std::string longTitle(const std::string& title, size_t length) {
    std::string text = title + " -";
    while (text.size() < length) text += " und noch ein langer Untertitel";
    text.resize(length);
    return text;
}

// The sample disc of one size with its registry and temporary folder; made
// once per size, removed with the folder. `longTitles`: every 50th game's
// title is 1 MB long.
struct SampleDisc {
    explicit SampleDisc(long long games, bool longTitles = false) : games(games), longTitles(longTitles) {
        const std::string base = folder.path().toStdString();
        disc = base + "/disc";
        fs::create_directories(disc + "/DATA");
        fs::create_directories(base + "/config/Vortagon");
        fs::create_directories(base + "/tmp");
        sampledisc::writeSampleTables(disc + "/DATA", games);
        if (longTitles) {
            archive::TableFileWriter writer(gameTable(), archive::gamesView());
            long long row = 0;
            sampledisc::generateGames(games, [&](const archive::Row& game) {
                if (++row % kLongTitleEvery != 0) return writer.add(game);
                archive::Row changed = game;
                changed[0] = longTitle(game[0].value_or(""), kLongTitleBytes);
                writer.add(changed);
            });
            writer.commit();
        }
        std::ofstream(base + "/config/Vortagon/registry.reg")
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\r\n"
               "\"Engine-Version\"=\"1.00\"\r\n";
        tmp = base + "/tmp";
        config = base + "/config";
    }
    std::string gameTable() const { return disc + "/DATA/" + std::string(archive::gamesView().copiedFileName); }

    // The same tables in a second disc folder, copied there by the hard-disk
    // copy, which checks every page while copying: this process knows them
    // sound and opening them checks nothing again. Made on first use.
    const std::string& checkedDisc() {
        if (checked.empty()) {
            checked = folder.path().toStdString() + "/checked";
            fs::create_directories(checked + "/DATA");
            for (const archive::ViewDef* view : archive::allViews())
                archive::copyTableFile(disc + "/DATA", *view, checked + "/DATA/" + std::string(view->copiedFileName));
        }
        return checked;
    }

    long long games;
    bool longTitles;
    QTemporaryDir folder;
    std::string disc;
    std::string tmp;
    std::string config;
    std::string checked;
};

// One disc and one running program at a time: a million games are held once.
std::unique_ptr<SampleDisc> currentDisc;
std::unique_ptr<WindowSet> currentProgram;
// The running program still shows the games sorted by title, unfiltered, with
// no secondary window open; a sort case leaves it otherwise.
bool programAsStarted = false;

SampleDisc& discWith(long long games, bool longTitles = false) {
    if (!currentDisc || currentDisc->games != games || currentDisc->longTitles != longTitles) {
        currentProgram.reset();
        currentDisc.reset();
        archive::clearImageCache();
        currentDisc = std::make_unique<SampleDisc>(games, longTitles);
    }
    return *currentDisc;
}

// Counts what the event loop still had to do for the windows (painting,
// laying out, timers, queued calls) and whether the grid's rows were painted.
class PendingWork : public QObject {
public:
    explicit PendingWork(const QObject* gridRows) : gridRows_(gridRows) {}
    int delivered = 0;
    bool gridPainted = false;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Paint:
            if (receiver == gridRows_) gridPainted = true;
            ++delivered;
            break;
        case QEvent::UpdateRequest:
        case QEvent::UpdateLater:
        case QEvent::LayoutRequest:
        case QEvent::Timer:
        case QEvent::MetaCall:
            ++delivered;
            break;
        default:
            break;
        }
        return false;
    }

private:
    const QObject* gridRows_;
};

// The main window's controls by their designer names, as a user's clicks find them.
QTableView& grid(const TForm1& form) { return *form.findChild<QTableView*>(QStringLiteral("DBGrid1")); }
QLineEdit* quickField(const TForm1& form) { return form.findChild<QLineEdit*>(QStringLiteral("Edit1")); }

// The frame a step leads to, as the program shows it: the event loop
// delivers what the step left (queued calls, widgets shown or laid out anew,
// the one posted update request that paints every dirty widget) until it is
// idle. A step that left the grid's rows unpainted gets them painted now, so
// a frame is never counted without its grid.
void renderGrid(TForm1& form) {
    PendingWork pending(grid(form).viewport());
    QCoreApplication::instance()->installEventFilter(&pending);
    for (int round = 0; round < 10; ++round) {
        pending.delivered = 0;
        QCoreApplication::processEvents();
        if (pending.delivered == 0) break;
    }
    QCoreApplication::instance()->removeEventFilter(&pending);
    if (!pending.gridPainted) grid(form).viewport()->repaint();
}

// Creating the windows (the main window's creation handler runs now) and
// showing the main window (its first showing reads the newest issues and opens
// the games sorted by title), up to the grid's first frame.
TForm1& startProgram(const SampleDisc& disc, const std::string* startFolder = nullptr) {
    ::setenv("XDG_CONFIG_HOME", disc.config.c_str(), 1);
    ::setenv("TMPDIR", disc.tmp.c_str(), 1);
    // The creation handler leaves the start folder for the temporary one.
    fs::current_path(startFolder ? *startFolder : disc.disc);
    currentProgram = std::make_unique<WindowSet>("quillora", nullptr, WindowSet::WaitWindow::Hidden);
    if (currentProgram->terminated()) throw std::runtime_error("the program did not start");
    TForm1& form = currentProgram->Form1();
    form.show();
    renderGrid(form);
    programAsStarted = true;
    return form;
}

// The program as a user finds it when it has just come up: no window, no
// table image from before.
void stopProgram() {
    currentProgram.reset();
    archive::clearImageCache();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The file of `view`'s table on the current disc.
std::string currentDiscTable(long long games, const archive::ViewDef& view) {
    return discWith(games).disc + "/DATA/" + std::string(view.copiedFileName);
}

TForm1& freshProgram(long long games) {
    const SampleDisc& disc = discWith(games);
    stopProgram();
    TForm1& form = startProgram(disc);
    if (!QTest::qWaitForWindowExposed(&form)) throw std::runtime_error("the main window did not appear");
    return form;
}

// A started program, made again only when the last one was left sorted otherwise.
TForm1& runningProgram(long long games) {
    const SampleDisc& disc = discWith(games);
    if (currentProgram && programAsStarted) return currentProgram->Form1();
    return freshProgram(disc.games);
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

template <class Step>
void timeStep(benchmark::State& state, Step&& step) {
    const Clock::time_point start = Clock::now();
    step();
    state.SetIterationTime(secondsSince(start));
}

// One keystroke to its frame (the measured time); how much of it the key's
// own handling took (the rerun, the grid's model reset and row layout) goes
// to the counter `key_ms`, the rest is the frame.
void timeKeystroke(benchmark::State& state, TForm1& form, Qt::Key key, double& keySeconds) {
    const Clock::time_point start = Clock::now();
    QTest::keyClick(quickField(form), key);
    keySeconds += secondsSince(start);
    renderGrid(form);
    state.SetIterationTime(secondsSince(start));
}

benchmark::Counter perIterationMs(double seconds) {
    return benchmark::Counter(seconds * 1e3, benchmark::Counter::kAvgIterations);
}

// One keystroke: the field holds `before` (typed outside the measured time,
// its query run and its frame rendered), then `key` to the grid's next frame.
struct Keystroke {
    const char* name;
    const char* before;
    Qt::Key key;
    const char* after;
};
constexpr Keystroke kKeystrokes[] = {
    {"EmptyToA", "", Qt::Key_A, "A"},
    {"AToAB", "A", Qt::Key_B, "AB"},
    {"ABToA", "AB", Qt::Key_Backspace, "A"},
    {"AToEmpty", "A", Qt::Key_Backspace, ""},
};

void setQuickField(TForm1& form, const char* text) {
    quickField(form)->setText(QString::fromLatin1(text));
    quickField(form)->end(false);
    renderGrid(form);
}

void quickFieldKeystroke(benchmark::State& state, long long games, Keystroke keystroke) {
    TForm1& form = runningProgram(games);
    const QString expected = QString::fromLatin1(keystroke.after);
    long long rows = 0;
    double keySeconds = 0;
    for (auto _ : state) {
        setQuickField(form, keystroke.before);
        timeKeystroke(state, form, keystroke.key, keySeconds);
        if (quickField(form)->text() != expected) {
            state.SkipWithError("the quick field does not hold the expected text");
            break;
        }
        rows = form.statisticsQuery().recordCount();
    }
    setQuickField(form, "");
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["key_ms"] = perIterationMs(keySeconds);
}

// The first keystroke ('' -> A) in a program that has just come up.
void firstKeystroke(benchmark::State& state, long long games) {
    long long rows = 0;
    double keySeconds = 0;
    for (auto _ : state) {
        TForm1& form = freshProgram(games);
        timeKeystroke(state, form, Qt::Key_A, keySeconds);
        rows = form.statisticsQuery().recordCount();
    }
    programAsStarted = false;  // the field holds text now
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["key_ms"] = perIterationMs(keySeconds);
}

// The four keystrokes in turn with the selection module and the games
// statistics window open: the window recomputes with every rerun; the grid
// and the window each render one frame.
void keystrokeWithStatistics(benchmark::State& state, long long games) {
    TForm1& form = runningProgram(games);
    TForm3& statistics = currentProgram->Form3();
    setQuickField(form, "");
    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("Image6")), Qt::LeftButton);
    statistics.showStatistics();
    size_t step = 0;
    for (auto _ : state) {
        const Keystroke& keystroke = kKeystrokes[step++ % std::size(kKeystrokes)];
        timeStep(state, [&] {
            QTest::keyClick(quickField(form), keystroke.key);
            renderGrid(form);
        });
    }
    statistics.hide();
    currentProgram->SuchPage().hide();
    setQuickField(form, "");
}

// The grid alone: one rendered frame without a new query.
void gridFrameOnly(benchmark::State& state, long long games) {
    TForm1& form = runningProgram(games);
    for (auto _ : state) timeStep(state, [&] { grid(form).repaint(); });
}

// The first click on a column title of the games view in a program that has
// just come up: the column's sort order is worked out now.
void firstSort(benchmark::State& state, long long games, int column) {
    long long rows = 0;
    for (auto _ : state) {
        TForm1& form = freshProgram(games);
        timeStep(state, [&] {
            form.DBGrid1TitleClick(column);
            renderGrid(form);
        });
        rows = form.statisticsQuery().recordCount();
        programAsStarted = false;
    }
    state.counters["rows"] = static_cast<double>(rows);
}

// The first switch to the disc contents or the tips (the sidebar's click to
// the grid's next frame, the title search's preparation included) in a
// program that has just come up and has finished reading ahead in the
// background. Beside it, in the same iteration and outside the measured
// time, what the switch would cost without reading ahead: the table's load
// (`load_ms`) and working out the view's start order and title search on the
// fresh image (`order_ms`); and the next switch away and back (`later_ms`),
// the floor of a switch with everything at hand.
void firstSwitch(benchmark::State& state, long long games, const archive::ViewDef& view) {
    const std::string table = currentDiscTable(games, view);
    long long rows = 0;
    double loadSeconds = 0;
    double orderSeconds = 0;
    double laterSeconds = 0;
    for (auto _ : state) {
        TForm1& form = freshProgram(games);
        archive::waitForPrefetches();
        timeStep(state, [&] {
            (&view == &archive::discView() ? form.Image2Click() : form.Image3Click());
            renderGrid(form);
        });
        rows = form.statisticsQuery().recordCount();
        Clock::time_point start = Clock::now();
        form.Image1Click();
        renderGrid(form);
        start = Clock::now();
        (&view == &archive::discView() ? form.Image2Click() : form.Image3Click());
        renderGrid(form);
        laterSeconds += secondsSince(start);
        if (form.statisticsQuery().recordCount() != rows) return state.SkipWithError("the switches show other rows");
        programAsStarted = false;

        start = Clock::now();
        const auto image = archive::TableImage::load(table);
        loadSeconds += secondsSince(start);
        start = Clock::now();
        // The view's start order: by title, the disc contents then by issue, newest first.
        const int title = archive::fieldIndex(view, archive::kTitleField);
        std::vector<archive::SortSpec> order{{title, false}};
        if (&view == &archive::discView()) order.push_back({archive::fieldIndex(view, archive::kIssueField), true});
        image->sortedRows(order);
        image->dictionary(title).upper();
        image->ranksAlong(order, title);
        orderSeconds += secondsSince(start);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["load_ms"] = perIterationMs(loadSeconds);
    state.counters["order_ms"] = perIterationMs(orderSeconds);
    state.counters["later_ms"] = perIterationMs(laterSeconds);
}

// The process's resident memory (VmRSS) in bytes.
double residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) * 1024;
    return 0;
}

// A user's pause: the program hands back the memory its work left free once
// nothing new has come for a moment.
void pauseAsAUser() {
    const QuietMoment& freedMemoryReturn = currentProgram->freedMemoryReturn();
    while (freedMemoryReturn.pending()) QTest::qWait(10);
}

// A user's session: in each view every column title clicked twice (both
// directions) and the view's statistics window opened. The measured time is
// one session; the counters give the process's resident memory after the
// first and after a second session, each followed by a user's pause,
// against the size of the three table files (the bench process holds the
// generated disc's names besides).
void memoryAfterEverySort(benchmark::State& state, long long games) {
    const SampleDisc& disc = discWith(games);
    double files = 0;
    for (const archive::ViewDef* view : archive::allViews())
        files += static_cast<double>(fs::file_size(disc.disc + "/DATA/" + std::string(view->copiedFileName)));
    double first = 0;
    double second = 0;
    double started = 0;
    double cells = 0;
    double images = 0;
    for (auto _ : state) {
        TForm1& form = freshProgram(games);
        archive::waitForPrefetches();
        pauseAsAUser();
        started = residentBytes();
        auto session = [&] {
            for (const auto click : {&TForm1::Image1Click, &TForm1::Image2Click, &TForm1::Image3Click}) {
                (form.*click)();
                renderGrid(form);
                const int columns = form.statisticsQuery().fieldCount();
                for (int column = 0; column < columns; ++column)
                    for (int twice = 0; twice < 2; ++twice) {
                        form.DBGrid1TitleClick(column);
                        renderGrid(form);
                    }
                form.Image7Click();
                renderGrid(form);
            }
            form.Image1Click();
            renderGrid(form);
        };
        timeStep(state, session);
        pauseAsAUser();
        first = residentBytes();
        session();
        pauseAsAUser();
        second = residentBytes();
        cells = images = 0;
        for (const archive::ViewDef* view : archive::allViews())
            if (const auto image = archive::imageIfAtHand(disc.disc + "/DATA/" + std::string(view->copiedFileName))) {
                cells += static_cast<double>(image->cellMemory());
                images += static_cast<double>(image->totalMemory());
            }
        programAsStarted = false;
    }
    state.counters["rss_start_MB"] = started / 1e6;
    state.counters["cells_MB"] = cells / 1e6;
    state.counters["images_MB"] = images / 1e6;
    state.counters["files_MB"] = files / 1e6;
    state.counters["rss_MB"] = first / 1e6;
    state.counters["rss_again_MB"] = second / 1e6;
    state.counters["rss_per_files"] = first / files;
}

// From making the windows, with no table image loaded, to the main window
// showing the games sorted by title.
void startUp(benchmark::State& state, long long games) {
    const SampleDisc& disc = discWith(games);
    long long rows = 0;
    for (auto _ : state) {
        stopProgram();
        timeStep(state, [&] { startProgram(disc); });
        rows = currentProgram->Form1().statisticsQuery().recordCount();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

// What checking the tables' pages adds to the start-up: in each iteration
// the start from the disc, and from the same tables that the hard-disk copy
// has checked already, which opening does not check again (the floor). Both
// figures are counters; the measured time is that of the disc.
void startUpCheckCost(benchmark::State& state, long long games) {
    SampleDisc& disc = discWith(games);
    const std::string checked = disc.checkedDisc();
    double discSeconds = 0;
    double checkedSeconds = 0;
    bool discFirst = true;
    for (auto _ : state) {
        double measured = 0;
        // Each goes first in every other iteration: neither inherits more of
        // the other's leftovers.
        const std::string* first = discFirst ? &disc.disc : &checked;
        const std::string* second = discFirst ? &checked : &disc.disc;
        discFirst = !discFirst;
        for (const std::string* folder : {first, second}) {
            stopProgram();
            const Clock::time_point start = Clock::now();
            startProgram(disc, folder);
            const double seconds = secondsSince(start);
            (folder == &checked ? checkedSeconds : discSeconds) += seconds;
            if (folder == &disc.disc) measured = seconds;
        }
        state.SetIterationTime(measured);
    }
    stopProgram();
    state.counters["checked_ms"] = perIterationMs(discSeconds);
    state.counters["floor_ms"] = perIterationMs(checkedSeconds);
}

// The floor of a start-up: every cell of the games' table file read once
// through SQLite, each value's text at hand, on one connection.
double secondsToReadTable(const std::string& path) {
    const Clock::time_point start = Clock::now();
    sqlite3* db = nullptr;
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &rows, nullptr) !=
            SQLITE_OK ||
        sqlite3_step(rows) != SQLITE_ROW)
        throw std::runtime_error("the games' table cannot be read");
    std::string select = "SELECT * FROM \"";
    select += reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
    select += '"';
    sqlite3_finalize(rows);
    if (sqlite3_prepare_v2(db, select.c_str(), -1, &rows, nullptr) != SQLITE_OK)
        throw std::runtime_error("the games' table cannot be read");
    size_t bytes = 0;
    while (sqlite3_step(rows) == SQLITE_ROW)
        for (int c = 0; c < sqlite3_column_count(rows); ++c) {
            benchmark::DoNotOptimize(sqlite3_column_text(rows, c));
            bytes += static_cast<size_t>(sqlite3_column_bytes(rows, c));
        }
    benchmark::DoNotOptimize(bytes);
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return secondsSince(start);
}

// The start-up on the archive with long titles, or on the same archive with
// its ordinary titles; beside it, in each iteration and outside the measured
// time, the floor of reading the games' table once (`floor_ms`).
void startUpWithTitles(benchmark::State& state, long long games, bool longTitles) {
    const SampleDisc& disc = discWith(games, longTitles);
    double floorSeconds = 0;
    double startSeconds = 0;
    for (auto _ : state) {
        stopProgram();
        floorSeconds += secondsToReadTable(disc.gameTable());
        const Clock::time_point start = Clock::now();
        startProgram(disc);
        const double seconds = secondsSince(start);
        startSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["rows"] = static_cast<double>(currentProgram->Form1().statisticsQuery().recordCount());
    state.counters["floor_ms"] = perIterationMs(floorSeconds);
    state.counters["per_floor"] = startSeconds / floorSeconds;
}

// The grid scrolled on by a screenful at a time, each to its frame, from
// the first long title in title order (in the ordinary archive, from the
// title of the game that has the first long one in the other): every row
// shown is new to the grid.
void gridPagesWithTitles(benchmark::State& state, long long games, bool longTitles) {
    const SampleDisc& disc = discWith(games, longTitles);
    stopProgram();
    TForm1& form = startProgram(disc);
    std::string shortTitle;
    long long row = 0;
    sampledisc::generateGames(games, [&](const archive::Row& game) {
        if (++row == kLongTitleEvery) shortTitle = game[0].value_or("");
    });
    const auto wanted = [&](std::string_view title) {
        return longTitles ? title.size() == kLongTitleBytes : title == shortTitle;
    };
    int record = 0;
    while (record < form.statisticsQuery().recordCount() && !wanted(form.statisticsQuery().text(record, 0))) ++record;
    if (record == form.statisticsQuery().recordCount()) return state.SkipWithError("the game with the long title is missing");
    grid(form).scrollTo(grid(form).model()->index(record, 0), QAbstractItemView::PositionAtTop);
    renderGrid(form);
    QScrollBar& rows = *grid(form).verticalScrollBar();
    const int first = rows.value();
    for (auto _ : state) {
        timeStep(state, [&] {
            rows.setValue(rows.value() + rows.pageStep());
            grid(form).viewport()->repaint();
        });
    }
    // How many long titles the pages showed.
    long long longShown = 0;
    for (int shown = first; shown < std::min(rows.value() + rows.pageStep(), form.statisticsQuery().recordCount()); ++shown)
        longShown += form.statisticsQuery().text(shown, 0).size() == kLongTitleBytes;
    state.counters["long_titles_shown"] = static_cast<double>(longShown);
    programAsStarted = false;
}

// The import of a file of one line into the disc contents in the edit mode,
// from the import to the grid's next frame: a line of 50 MB, or an ordinary
// one. The floor: the same file read through the import's line reader. A
// smoke run's long line is shorter, as its long titles are.
const size_t kLongLineBytes = benchsmoke::on() ? size_t(2) << 20 : size_t(50) << 20;

std::string importFileOf(const SampleDisc& disc, size_t lineBytes) {
    const std::string path = disc.tmp + "/import-" + std::to_string(lineBytes) + ".txt";
    if (!fs::exists(path)) {
        std::string line = "Neue Demo\t2004/11\tDemo\t";
        line += longTitle("CD", lineBytes > line.size() ? lineBytes - line.size() : 2);
        std::ofstream(path, std::ios::binary) << line << "\r\n";
    }
    return path;
}

void importOneLine(benchmark::State& state, long long games, size_t lineBytes) {
    const std::string file = importFileOf(discWith(games), lineBytes);
    TForm1& form = freshProgram(games);
    form.Image4MouseDown(Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(60, 20));
    form.Image2Click();
    renderGrid(form);
    for (auto _ : state) {
        timeStep(state, [&] {
            TOpenDialog::setNextFileName(file);
            currentProgram->Form2().Button3Click();
            renderGrid(form);
        });
        if (currentProgram->Form2().importedRecords() != 1) return state.SkipWithError("the line was not imported");
    }
    // The disc contents hold the imported rows now: the next case starts afresh.
    stopProgram();
    currentDisc.reset();
}

void floorReadLine(benchmark::State& state, long long games, size_t lineBytes) {
    const std::string file = importFileOf(discWith(games), lineBytes);
    std::string line;
    for (auto _ : state) {
        timeStep(state, [&] {
            archive::ImportLineReader reader;
            reader.open(file);
            while (reader.readLine(line)) benchmark::DoNotOptimize(archive::splitImportLine(line));
        });
    }
}

// The floor: the upper-cased titles in title order, back to back in one
// buffer, each followed by a 0 byte, and the table's row number of each.
struct TitleFloor {
    std::string titles;
    std::vector<uint32_t> starts;  // one past the last title's 0 byte at the end
    std::vector<uint32_t> rowNumbers;
};

TitleFloor titleFloor(const std::string& gameTable) {
    const auto image = archive::TableImage::load(gameTable);
    int title = -1;
    for (size_t i = 0; i < archive::gamesView().fields.size(); ++i)
        if (archive::gamesView().fields[i].name == archive::kTitleField) title = static_cast<int>(i);
    if (title < 0) throw std::logic_error("the games view has no title field");
    const std::vector<uint32_t>& order = image->sortedRows({{title, false}});
    TitleFloor floor;
    floor.starts.reserve(order.size() + 1);
    floor.rowNumbers.reserve(order.size());
    for (const uint32_t row : order) {
        floor.starts.push_back(static_cast<uint32_t>(floor.titles.size()));
        floor.titles += archive::upperCp1252(image->text(row, title));
        floor.titles += '\0';
        floor.rowNumbers.push_back(row);
    }
    floor.starts.push_back(static_cast<uint32_t>(floor.titles.size()));
    return floor;
}

void floorTitleFilter(benchmark::State& state, long long games, const char* text) {
    const TitleFloor floor = titleFloor(discWith(games).gameTable());
    const std::string_view needle(text);
    const std::string_view titles(floor.titles);
    const size_t count = floor.rowNumbers.size();
    std::vector<uint32_t> matches;
    matches.reserve(count);
    for (auto _ : state) {
        timeStep(state, [&] {
            matches.clear();
            for (size_t i = 0; i < count; ++i) {
                const std::string_view title =
                    titles.substr(floor.starts[i], floor.starts[i + 1] - floor.starts[i] - 1);
                if (title.find(needle) != std::string_view::npos) matches.push_back(floor.rowNumbers[i]);
            }
            benchmark::DoNotOptimize(matches.data());
        });
    }
    state.counters["rows"] = static_cast<double>(matches.size());
}

benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* bench, int iterations, int repetitions) {
    return bench->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(benchsmoke::times(iterations))
        ->Repetitions(benchsmoke::times(repetitions))
        ->ReportAggregatesOnly(true);
}

}  // namespace

int main(int argc, char** argv) {
    returnLargeBlocksWhenFreed();  // as the program does
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    benchimagefiles::off();
    QApplication application(argc, argv);
    MessageBox::setAutoAnswer(true);
    // By archive size, so each archive is made once; the cases on a running
    // program before those that start one afresh.
    for (const long long games : benchsmoke::sizes({10'000LL, 100'000LL, 1'000'000LL})) {
        // GCC 12 takes "text" + std::string for overlapping or oversized copies
        // (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
        const std::string size = "/" + std::to_string(games);
#pragma GCC diagnostic pop
        const bool large = games >= 1'000'000;
        const int keyIterations = large ? 10 : 20;
        // A fresh start of a million games takes seconds: fewer of those.
        const int freshIterations = games <= 10'000 ? 3 : 1;
        const int freshRepetitions = large ? 3 : 5;
        for (const char* text : {"", "A", "AB"}) {
            const std::string name = std::string("FloorTitleFilter/") + (*text ? text : "Empty") + size;
            timed(benchmark::RegisterBenchmark(name.c_str(), floorTitleFilter, games, text), 20, 5);
        }
        for (const Keystroke& keystroke : kKeystrokes)
            timed(benchmark::RegisterBenchmark(("QuickFieldKeystroke/" + std::string(keystroke.name) + size).c_str(),
                                               quickFieldKeystroke, games, keystroke),
                  keyIterations, large ? 3 : 5);
        timed(benchmark::RegisterBenchmark(("KeystrokeWithStatistics" + size).c_str(), keystrokeWithStatistics, games),
              keyIterations, 3);
        timed(benchmark::RegisterBenchmark(("GridFrameOnly" + size).c_str(), gridFrameOnly, games), 20, 5);
        timed(benchmark::RegisterBenchmark(("FirstKeystrokeAfterStart" + size).c_str(), firstKeystroke, games),
              freshIterations, freshRepetitions);
        const auto fields = archive::gamesView().fields;
        for (size_t column = 0; column < fields.size(); ++column)
            timed(benchmark::RegisterBenchmark(("FirstSortBy/" + std::string(fields[column].name) + size).c_str(),
                                               firstSort, games, static_cast<int>(column)),
                  freshIterations, freshRepetitions);
        for (const archive::ViewDef* view : {&archive::discView(), &archive::tipsView()})
            timed(benchmark::RegisterBenchmark(("FirstSwitchTo/" + std::string(view->name) + size).c_str(),
                                               firstSwitch, games, std::cref(*view)),
                  freshIterations, freshRepetitions);
        timed(benchmark::RegisterBenchmark(("MemoryAfterEverySort" + size).c_str(), memoryAfterEverySort, games),
              1, large ? 1 : 3);
        timed(benchmark::RegisterBenchmark(("StartUpToFirstView" + size).c_str(), startUp, games), freshIterations,
              freshRepetitions);
        timed(benchmark::RegisterBenchmark(("StartUpCheckCost" + size).c_str(), startUpCheckCost, games),
              freshIterations, freshRepetitions + 2);
    }
    // A 1 MB title every 50 games: 2 GB of titles in 100,000 games; a million
    // would need 20 GB.
    for (const long long games : benchsmoke::sizes({10'000LL, 100'000LL})) {
        // Appended: GCC 12 takes "/" + std::string for an overlapping copy.
        std::string size = "/";
        size += std::to_string(games);
        for (const bool longTitles : {false, true}) {
            const std::string titles = longTitles ? "LongTitles" : "ShortTitles";
            timed(benchmark::RegisterBenchmark(("StartUpWith" + titles + size).c_str(), startUpWithTitles, games,
                                               longTitles),
                  games <= 10'000 ? 3 : 1, 3);
            timed(benchmark::RegisterBenchmark(("GridPagesWith" + titles + size).c_str(), gridPagesWithTitles, games,
                                               longTitles),
                  10, 5);
        }
    }
    for (const size_t lineBytes : {size_t(30), kLongLineBytes}) {
        const std::string line = lineBytes == kLongLineBytes ? "LongLine" : "ShortLine";
        timed(benchmark::RegisterBenchmark(("FloorReadImport" + line + "/10000").c_str(), floorReadLine, 10'000LL,
                                           lineBytes),
              3, 5);
        timed(benchmark::RegisterBenchmark(("ImportOne" + line + "/10000").c_str(), importOneLine, 10'000LL,
                                           lineBytes),
              1, 3);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopProgram();
    currentDisc.reset();
    return 0;
}
