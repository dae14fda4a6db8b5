// A table read into memory gives back every cell as stored, however its
// values repeat: a column of values that never repeat, one of a few values
// with NULLs, empty texts and umlauts, one that repeats at the start of each
// block of rows and then no more, long values that differ only at their end,
// short ones, a few very long ones among them, numbers; over enough rows
// that two threads read it.

#include "cp1252.h"
#include "filelayer.h"
#include "imagecache.h"
#include "tableimage.h"
#include "tableimage_internal.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace archive;

namespace {

constexpr int kRows = 40'000;

std::string number(int i) { return std::to_string(i); }

Row rowNumber(int i) {
    const int place = i % static_cast<int>(TableImage::kChunkRows);
    static const std::vector<Cell> sections = {std::nullopt, std::string(), std::string("\xC4rger"),
                                               std::string("Action"), std::string("Stra\xDF" "e")};
    const Cell section = sections[static_cast<size_t>(i % 5)];
    // Repeats over the first quarter of each block of rows, then never again.
    const std::string genre = place < 1024 ? "Genre " + number(place % 800) : "Einzeln " + number(i);
    // Long values alike up to their last byte, and values of 0 to 9 bytes.
    std::string publisher = i % 3 == 0 ? "Hersteller mit langem Namen " + std::string(1, char('A' + i % 26))
                                       : std::string(static_cast<size_t>(i % 10), char('a' + i % 7));
    // Very long ones, first in a block of rows or among its repeats.
    if (i == 4096 || place == 100) publisher = std::string(size_t{300} << 10, char('A' + i % 26)) + number(i);
    const Cell rating = i % 7 == 0 ? Cell() : Cell(number(i % 101));
    const Cell comment = (i / 4096) == 2 ? Cell() : Cell(i % 2 ? "\xDC" "berragend" : "gut");
    return {"Titel Nr. " + number(i) + " \xE4", section, genre, publisher, rating, "2000/" + number(1 + i % 12),
            comment};
}

}  // namespace

TEST(TableLoad, EveryCellReadsAsStoredHoweverItsValuesRepeat) {
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    {
        TableFileWriter writer(path, gamesView());
        for (int i = 0; i < kRows; ++i) writer.add(rowNumber(i));
        writer.commit();
    }
    clearImageCache();
    const auto image = TableImage::load(path);
    const std::vector<std::string> stored = plainSqliteRows(path, "SELECT * FROM GameData ORDER BY rowid");
    const std::vector<uint32_t> rows = image->liveRows();
    ASSERT_EQ(rows.size(), stored.size());
    ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
    const int columns = static_cast<int>(image->columns().size());
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string row;
        for (int c = 0; c < columns; ++c) {
            if (c) row += '|';
            row += image->isNull(rows[r], c) ? "NULL" : cp1252ToUtf8(image->text(rows[r], c));
        }
        ASSERT_EQ(row, stored[r]) << "row " << r;
    }
    // Some fields only, named in any case and order, one the table lacks:
    // the same cells, the table's fields still named.
    const std::string_view fields[] = {"ausgabe", "FEHLT", "Titel", "WERTUNG"};
    const auto some = TableImage::loadFields(path, fields);
    EXPECT_TRUE(some->partial());
    EXPECT_EQ(some->fieldNames(), image->fieldNames());
    const int picked[] = {0, 4, 5};
    ASSERT_EQ(some->columns().size(), std::size(picked));
    ASSERT_EQ(some->liveRows(), rows);
    for (size_t c = 0; c < std::size(picked); ++c) {
        EXPECT_EQ(some->columns()[c].name, image->columns()[static_cast<size_t>(picked[c])].name);
        for (const uint32_t row : rows) {
            ASSERT_EQ(some->isNull(row, static_cast<int>(c)), image->isNull(row, picked[c])) << row;
            ASSERT_EQ(some->text(row, static_cast<int>(c)), image->text(row, picked[c])) << row;
            ASSERT_EQ(some->integer(row, static_cast<int>(c)), image->integer(row, picked[c])) << row;
        }
    }
    // The columns of few values keep each value once per block of rows: the
    // image takes less than the cells' bytes and offsets alone would.
    const auto plain = [&] {
        size_t bytes = 0;
        for (const uint32_t row : rows)
            for (int c = 0; c < columns; ++c) bytes += image->text(row, c).size() + 1 + sizeof(uint32_t);
        return bytes;
    }();
    EXPECT_LT(image->cellMemory(), plain);
}

// A file replaced while its rows were read is read again: the image is the
// file's new content. One replaced on every read is reported, not shown.
namespace {

struct Replacing {
    std::string path;
    std::vector<std::string> contents;  // put in the file's place in turn, the last one repeated
    int reads = 0;
};
Replacing* replacing = nullptr;

void replaceAfterRowsRead(const std::string& path) {
    Replacing& r = *replacing;
    const std::string& bytes = r.contents[std::min(static_cast<size_t>(r.reads), r.contents.size() - 1)];
    ++r.reads;
    if (bytes.empty()) return;
    // Renamed over it, as a program that saves whole files does: no lock of SQLite's stands in its way.
    const std::string fresh = path + ".neu";
    writeFileContent(fresh, bytes);
    ASSERT_EQ(std::rename(fresh.c_str(), path.c_str()), 0);
}

}  // namespace

TEST(TableLoad, AFileChangedWhileReadIsReadAgainAndOneThatKeepsChangingIsReported) {
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    const std::string other = folder.file("Other.db");
    writeTable(other, gamesView(), {game("Neu 1"), game("Neu 2")});
    const std::string newer = fileContent(other);
    writeTable(other, gamesView(), {game("Anders")});
    const std::string another = fileContent(other);

    struct Case {
        std::vector<std::string> contents;
        int reads;
        size_t rows;  // 0: the load fails
    };
    const Case cases[] = {
        {{""}, 1, 1},
        {{newer, ""}, 2, 2},
        {{newer, another, newer}, 3, 0},
    };
    for (const Case& c : cases) {
        writeTable(path, gamesView(), {game("Alt")});
        Replacing r{path, c.contents};
        replacing = &r;
        detail::rowsReadHook = replaceAfterRowsRead;
        std::shared_ptr<const TableImage> image;
        std::string error;
        try {
            image = TableImage::load(path);
        } catch (const EngineError& e) {
            error = e.what();
        }
        detail::rowsReadHook = nullptr;
        replacing = nullptr;
        EXPECT_EQ(r.reads, c.reads);
        if (c.rows == 0) {
            EXPECT_EQ(error, detail::changingText(path));
            continue;
        }
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(image->liveRows().size(), c.rows);
        EXPECT_EQ(image->stamp(), stampOf(path));
        EXPECT_TRUE(error.empty());
    }
}

// When one half of a two-thread load fails, the other stops at its next
// chunk of rows instead of reading to its end, and the failure is reported.
namespace {

std::atomic<bool> upperFailed{false};
std::atomic<int> lowerChunks{0};

void failUpperHalf(bool upperHalf, const std::atomic<bool>* halt) {
    if (upperHalf) {
        upperFailed = true;
        throw EngineError("Testfehler");
    }
    // The lower half goes on only once the upper one's failure has reached
    // the flag that stops it (its exception unwinds before that).
    // A flag never set fails the test below instead of hanging it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    if (++lowerChunks == 1)
        while (halt && !halt->load() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
}

}  // namespace

TEST(TableLoad, AFailedHalfStopsTheOther) {
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    {
        TableFileWriter writer(path, gamesView());
        for (int i = 0; i < kRows; ++i) writer.add(game("Titel " + number(i)));
        writer.commit();
    }
    upperFailed = false;
    lowerChunks = 0;
    detail::chunkReadHook = failUpperHalf;
    std::string error;
    try {
        TableImage::load(path);
    } catch (const EngineError& e) {
        error = e.what();
    }
    detail::chunkReadHook = nullptr;
    EXPECT_EQ(error, "Testfehler");
    EXPECT_TRUE(upperFailed);
    // Its half holds four chunks; it stops right after the first.
    EXPECT_EQ(lowerChunks, 1);
}

// A caller that needs a table while it is being read ahead in the background
// (niced) does not wait on that load: the table is read at its own priority.
namespace {

std::atomic<bool> backgroundRead{false};
std::atomic<bool> asked{false};
std::atomic<bool> normalPriorityRead{false};

void notePriority(bool, const std::atomic<bool>*) {
    if (::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))) <= 0) {
        normalPriorityRead = true;
        return;
    }
    backgroundRead = true;
    // Slow enough that it is still running when the caller asks.
    while (!asked) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

TEST(TableLoad, ACallerNeedingABackgroundLoadReadsAtItsOwnPriority) {
    ASSERT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))), 0);
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    {
        TableFileWriter writer(path, gamesView());
        for (int i = 0; i < kRows; ++i) writer.add(game("Titel " + number(i)));
        writer.commit();
    }
    clearImageCache();
    detail::chunkReadHook = notePriority;
    prefetchImage(path, LoadPriority::Background);
    while (!backgroundRead) std::this_thread::yield();
    asked = true;
    const auto image = imageOf(path);
    detail::chunkReadHook = nullptr;
    EXPECT_TRUE(normalPriorityRead);
    EXPECT_EQ(image->liveRows().size(), static_cast<size_t>(kRows));
    clearImageCache();
}

// Whichever half of a two-thread load is done first checks the pages while
// the other still reads (a load of some fields checks on a connection of its
// own from the start): a sound file is found sound, and one whose damage
// the rows do not show (its free list miscounted) is refused.
namespace {

std::atomic<bool> upperHalfSlow{false};

void slowOneHalf(bool upperHalf, const std::atomic<bool>*) {
    if (upperHalf == upperHalfSlow) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

TEST(TableLoad, WhicheverHalfIsDoneFirstChecksThePages) {
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    {
        TableFileWriter writer(path, gamesView());
        for (int i = 0; i < kRows; ++i) writer.add(game("Titel " + number(i)));
        writer.commit();
    }
    const std::string sound = fileContent(path);
    std::string damaged = sound;
    damaged[39] ^= 7;  // the free list's page count
    const std::string_view fields[] = {"AUSGABE"};
    for (const bool some : {false, true})
        for (const bool upperSlow : {false, true})
            for (const bool damage : {false, true}) {
                // Appended, not added up: GCC 12 warns falsely of the latter at -O1.
                std::string trace = some ? "some fields, " : "";
                trace += upperSlow ? "upper" : "lower";
                trace += " half slow, ";
                trace += damage ? "damaged" : "sound";
                SCOPED_TRACE(trace);
                writeFileContent(path, damage ? damaged : sound);
                upperHalfSlow = upperSlow;
                detail::chunkReadHook = slowOneHalf;
                std::string error;
                try {
                    (some ? TableImage::loadFields(path, fields) : TableImage::load(path))->requireSound();
                } catch (const EngineError& e) {
                    error = e.what();
                }
                detail::chunkReadHook = nullptr;
                EXPECT_EQ(error.find(" ist besch\xE4" "digt") != std::string::npos, damage) << error;
            }
}

// The second thread's half begins at the middle of the row ids, looked up
// before any row is read, while the second thread waits: the lookup must
// find both ends without reading the rows (a fifth of a second at a million).
TEST(TableLoad, TheEndsOfTheRowIdsAreFoundWithoutReadingTheRows) {
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    const auto ends = [&] {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        const std::string statement = detail::rowIdEndsStatement("\"GameData\"");
        EXPECT_EQ(sqlite3_prepare_v2(db, statement.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        std::string found;
        for (int i = 0; i < 2; ++i) {
            const auto* text = sqlite3_column_text(stmt, i);
            found += text ? reinterpret_cast<const char*>(text) : "NULL";
            found += ' ';
        }
        found += "scanned " + std::to_string(sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_FULLSCAN_STEP, 0));
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return found;
    };
    TableFileWriter(path, gamesView()).commit();
    EXPECT_EQ(ends(), "NULL NULL scanned 0");
    std::filesystem::remove(path);
    {
        TableFileWriter writer(path, gamesView());
        for (int i = 0; i < 3000; ++i) writer.add(game("Titel " + number(i)));
        writer.commit();
    }
    EXPECT_EQ(ends(), "1 3000 scanned 0");
}
