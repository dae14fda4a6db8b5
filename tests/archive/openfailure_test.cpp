// Opening a table that is not as it should be: a write that was killed
// half-way, a file that cannot be read. The user sees the table as it was
// before the lost write, or one error that names the real cause.

#include "engine.h"
#include "filelayer.h"
#include "imagecache.h"
#include "querytext.h"
#include "tables.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

constexpr int kTableRows = 3000;

std::string originalTitle(int n) { return "Titel " + std::to_string(100000 + n); }

long long sizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<long long>(size);
}

void writeWholeFileForTest(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class OpenFailure : public ::testing::Test {
protected:
    void SetUp() override {
        clearImageCache();
        path = folder.file("GameData.DB");
        std::vector<Row> rows;
        for (int n = 0; n < kTableRows; ++n) rows.push_back(game(originalTitle(n)));
        writeTable(path, gamesView(), rows);
        for (int n = 0; n < kTableRows; ++n) expectedTitles.push_back(originalTitle(n));
    }
    void TearDown() override { clearImageCache(); }

    // A writer changes every row with a cache too small to hold the change,
    // so changed pages reach the file before COMMIT, and is killed there:
    // the file is half-changed and a hot journal lies beside it.
    void killWriterMidTransaction() {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            sqlite3* db = nullptr;
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
            const int rc = sqlite3_exec(db,
                                        "PRAGMA cache_size = 2; BEGIN; "
                                        "UPDATE GameData SET TITEL = 'Verloren ' || hex(randomblob(300));",
                                        nullptr, nullptr, nullptr);
            const char state = rc == SQLITE_OK ? 'w' : 'f';
            (void)!::write(ready[1], &state, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char state = 0;
        ASSERT_EQ(::read(ready[0], &state, 1), 1);
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_EQ(state, 'w') << "the writer's update failed";
        ASSERT_GT(sizeOf(path + "-journal"), 0) << "no hot journal was left";
    }

    TestFolder folder;
    std::string path;
    Strings expectedTitles;
};

TEST_F(OpenFailure, AKilledWriteIsRolledBackWhereTheFolderIsWritable) {
    killWriterMidTransaction();
    EXPECT_EQ(titlesOf(path), expectedTitles);
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});  // the journal is gone
    EXPECT_EQ(plainSqliteRows(path, "PRAGMA integrity_check"), Strings{"ok"});
    // The image read now is the table as it stays: editing starts from it.
    Table table;
    openForEditing(table, folder.path());
    table.setFieldText(0, "Neu");
    table.post();
    table.close();
    EXPECT_EQ(plainSqliteRows(path, "SELECT COUNT(*) FROM GameData WHERE TITEL LIKE 'Titel %'"),
              Strings{std::to_string(kTableRows - 1)});
}

TEST_F(OpenFailure, AKilledWriteOnAReadOnlyMediumIsNamedAndLeftAlone) {
    killWriterMidTransaction();
    const std::string content = fileContent(path);
    const std::string journal = fileContent(path + "-journal");
    const std::string expected = "Die Tabelle '" + path +
                                 "' enth\xE4lt eine unvollst\xE4ndig gespeicherte \xC4nderung ('" + path +
                                 "-journal'), die auf diesem Datentr\xE4ger nicht zur\xFC" "ckgenommen werden kann. "
                                 "Kopieren Sie die Tabelle mit der Journal-Datei in ein beschreibbares Verzeichnis "
                                 "und \xF6" "ffnen Sie sie dort.";
    {
        Unwritable medium(folder.path());
        // Root writes through permission bits: only the immutable attribute
        // makes the folder a read-only medium for it.
        ASSERT_TRUE(medium.refusedBySystem()) << "could not make " << folder.path() << " read-only";
        EXPECT_EQ(errorOf([&] { titlesOf(path); }), expected);
        Table table;
        table.databaseName = folder.path();
        table.tableName = "GameData.db";
        EXPECT_EQ(errorOf([&] { table.open(); }), expected);
    }
    EXPECT_EQ(fileContent(path), content);
    EXPECT_EQ(fileContent(path + "-journal"), journal);
    // Copied to a writable folder with its journal, as the text says, the
    // table opens as it was.
    TestFolder copy;
    std::filesystem::copy_file(path, copy.file("GameData.DB"));
    std::filesystem::copy_file(path + "-journal", copy.file("GameData.DB-journal"));
    EXPECT_EQ(titlesOf(copy.file("GameData.DB")), expectedTitles);
}

// What the file system says becomes the cause the user reads; only a missing
// file is "nicht gefunden".
TEST(UnreadableTable, TheCauseIsNamed) {
    using detail::unreadableText;
    EXPECT_EQ(unreadableText("/d/GameData.DB", ENOENT), "Tabelle '/d/GameData.DB' nicht gefunden.");
    EXPECT_EQ(unreadableText("/d/GameData.DB", ENOTDIR), "Tabelle '/d/GameData.DB' nicht gefunden.");
    EXPECT_EQ(unreadableText("/d/GameData.DB", EACCES),
              "Die Tabelle '/d/GameData.DB' kann nicht gelesen werden: keine Leseberechtigung.");
    EXPECT_EQ(unreadableText("/d/GameData.DB", EISDIR), "Die Tabelle '/d/GameData.DB' ist ein Ordner, keine Datei.");
    EXPECT_EQ(unreadableText("/d/GameData.DB", EIO),
              "Die Tabelle '/d/GameData.DB' kann nicht gelesen werden: Ein-/Ausgabefehler des Datentr\xE4gers.");
}

TEST_F(OpenFailure, WhatStandsInTheTablesPlaceIsNamed) {
    TestFolder other;
    const std::string table = other.file("GameData.DB");
    EXPECT_EQ(errorOf([&] { titlesOf(table); }), "Tabelle '" + table + "' nicht gefunden.");
    std::filesystem::create_directory(table);
    EXPECT_EQ(errorOf([&] { titlesOf(table); }), "Die Tabelle '" + table + "' ist ein Ordner, keine Datei.");
    Table edit;
    edit.databaseName = other.path();
    edit.tableName = "GameData.db";
    edit.setReadOnly(false);
    EXPECT_EQ(errorOf([&] { edit.open(); }), "Die Tabelle '" + table + "' ist ein Ordner, keine Datei.");
    std::filesystem::remove(table);
    // A pipe is never opened: that would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(table.c_str(), 0644), 0);
    EXPECT_EQ(errorOf([&] { titlesOf(table); }),
              "Die Datei '" + table + "' ist keine Tabelle: sie ist keine gew\xF6hnliche Datei.");
    std::filesystem::remove(table);
    writeWholeFileForTest(table, "TITEL\tAUSGABE\r\nGothic\t2001/05\r\n");
    EXPECT_EQ(errorOf([&] { titlesOf(table); }),
              "Die Datei '" + table + "' ist keine Tabelle: sie ist keine SQLite-Datenbank.");
}

// A table of another view, or one with a field missing or moved, would show
// its data under the wrong titles; the first field out of place is named.
TEST(FieldMismatch, TheFirstFieldOutOfPlaceIsNamed) {
    const std::string prefix = "Die Tabelle '/d/GameData.DB' passt nicht zur Ansicht 'Spiele': ";
    auto check = [](std::vector<std::string> names) {
        return fieldMismatchText(gamesView(), "/d/GameData.DB", names).value_or("(fits)");
    };
    EXPECT_EQ(check({"TITEL", "RUBRIK", "GENRE", "HERSTELLER", "WERTUNG", "AUSGABE", "KOMMENTAR"}), "(fits)");
    // Letter case as another program stored it, and a field of the user's own after ours.
    EXPECT_EQ(check({"Titel", "rubrik", "GENRE", "HERSTELLER", "WERTUNG", "AUSGABE", "KOMMENTAR", "NOTIZ"}), "(fits)");
    std::vector<std::string> disc;
    for (const FieldDef& field : discView().fields) disc.emplace_back(field.name);
    EXPECT_EQ(check(disc), prefix + "an Stelle 2 steht das Feld 'AUSGABE' statt 'RUBRIK'.");
    EXPECT_EQ(check({"TITEL", "RUBRIK", "HERSTELLER", "GENRE", "WERTUNG", "AUSGABE", "KOMMENTAR"}),
              prefix + "an Stelle 3 steht das Feld 'HERSTELLER' statt 'GENRE'.");
    EXPECT_EQ(check({"TITEL", "RUBRIK", "GENRE", "HERSTELLER", "WERTUNG", "AUSGABE"}),
              prefix + "das Feld 'KOMMENTAR' an Stelle 7 fehlt.");
    EXPECT_EQ(check({}), prefix + "das Feld 'TITEL' an Stelle 1 fehlt.");
}

// ---- damaged tables

// Every cell of a data set in order, NULL as "NULL".
Strings cellsOf(DataSet& data) {
    Strings cells;
    for (int record = 0; record < data.recordCount(); ++record)
        for (int column = 0; column < data.fieldCount(); ++column)
            cells.push_back(data.isNull(record, column) ? "NULL" : std::string(data.text(record, column)));
    return cells;
}

// What a reader meets opening the table at `path` of `view`: the cells
// shown, or the box's text. Queried, then opened for editing, each from the
// file itself.
struct Opening {
    Strings cells;
    std::string error;
};
Opening openAsReader(const std::string& path, const ViewDef& view) {
    Opening seen;
    clearImageCache();
    try {
        Query query;
        query.sql = {"SELECT * FROM " + quotedLiteral(path)};
        query.open();
        seen.cells = cellsOf(query);
    } catch (const EngineError& error) {
        seen.error = error.what();
    }
    clearImageCache();
    try {
        Table table;
        openForEditing(table, detail::folderOf(path), std::string(view.tableFile));
        if (cellsOf(table) != seen.cells) seen.error += " / the table shows other cells than the query";
    } catch (const EngineError& error) {
        if (error.what() != seen.error) seen.error += std::string(" / the table says: ") + error.what();
    }
    return seen;
}

// Damage as bad luck does it, on a table's bytes: a cut-off file, a byte of a
// page's b-tree header changed, a free list that points into the table, a
// page of zeros, a header of a newer format; then what stands in a table's
// place that is no table.
struct Damage {
    std::string name;
    std::function<void(std::string& bytes)> apply;  // nothing: `place` makes what stands there
    std::function<void(const std::string& path)> place;
};

std::vector<Damage> damages(const std::string& sound) {
    std::vector<Damage> all;
    const size_t size = sound.size();
    const size_t pages = size / pageSizeOf(sound);
    for (const size_t keep : {size_t(0), size_t(50), size_t(100), size_t(4096), size / 2, size - 2683, size - 4096})
        all.push_back({"cut to " + std::to_string(keep) + " bytes", [keep](std::string& b) { b.resize(keep); }, {}});
    // The root (an interior page), a leaf, the last page.
    for (const size_t page : {size_t(2), size_t(7), pages})
        for (const size_t offset : {0, 1, 3, 4, 5, 7, 8}) {
            if (offset == 8 && page != 2) continue;  // only interior pages have a right child here
            all.push_back({"page " + std::to_string(page) + " header byte " + std::to_string(offset),
                           [page, offset](std::string& b) { b[pageHeaderAt(b, page) + offset] ^= 0x55; }, {}});
        }
    auto setBig32 = [](std::string& b, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(value >> (24 - 8 * i));
    };
    auto big32 = [](const std::string& b, size_t at) {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(b[at + i]);
        return value;
    };
    all.push_back({"free list starts in the table", [=](std::string& b) { setBig32(b, 32, 2); }, {}});
    all.push_back({"free list counted wrong", [=](std::string& b) { setBig32(b, 36, big32(b, 36) + 7); }, {}});
    all.push_back({"free list trunk damaged", [=](std::string& b) {
                       setBig32(b, (big32(b, 32) - 1) * pageSizeOf(b) + 4, 9999);
                   }, {}});
    all.push_back({"a page of zeros", [](std::string& b) {
                       std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(6 * pageSizeOf(b)), pageSizeOf(b), '\0');
                   }, {}});
    all.push_back({"a newer file format", [](std::string& b) { b[18] = b[19] = 3; }, {}});
    all.push_back({"a newer schema format", [=](std::string& b) { setBig32(b, 44, 5); }, {}});
    all.push_back({"a text file", [](std::string& b) { b = "TITEL\tAUSGABE\r\nGothic\t2001/05\r\n"; }, {}});
    all.push_back({"a pipe", {}, [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }});
    all.push_back({"a folder", {}, [](const std::string& path) { std::filesystem::create_directory(path); }});
    return all;
}

// SQLite's own judgement, through a plain connection: a file (never a pipe,
// which would wait for a writer) whose full check finds nothing wrong and
// whose table can be read to its end.
bool soundTableToSqlite(const std::string& path, const ViewDef& view) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    sqlite3* db = nullptr;
    bool sound = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
    for (const std::string& sql : {std::string("PRAGMA integrity_check"),
                                   "SELECT count(*) = count(*) || 'ok' FROM " +
                                       std::string(view.tableFile.substr(0, view.tableFile.find('.')))}) {
        sqlite3_stmt* stmt = nullptr;
        sound = sound && sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
                sqlite3_step(stmt) == SQLITE_ROW &&
                std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))).ends_with("ok");
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return sound;
}

// For all three tables and every damage: no hang (a watchdog ends the run),
// no crash, and either the cells of the sound table, where SQLite's own
// full check finds nothing wrong with the file, or one German text; the
// hard-disk copy keeps the good older copy of a table it refuses.
TEST(DamagedTable, IsRefusedInGermanOrReadWholeAndNeverReplacesAGoodCopy) {
    ::alarm(600);  // a hang ends the test run
    for (const ViewDef* view : allViews()) {
        TestFolder sample;
        const std::string soundPath = sample.file(std::string(view->copiedFileName));
        writeLivedInTable(soundPath, *view, 1500);
        const std::string sound = fileContent(soundPath);
        const Strings soundCells = openAsReader(soundPath, *view).cells;
        ASSERT_GT(sound.size() / pageSizeOf(sound), 20u);
        ASSERT_FALSE(soundCells.empty());
        ASSERT_EQ(plainSqliteRows(soundPath, "PRAGMA freelist_count") != Strings{"0"}, true);
        for (const Damage& damage : damages(sound)) {
            SCOPED_TRACE(std::string(view->name) + ", " + damage.name);
            TestFolder disc;
            TestFolder copies;
            const std::string path = disc.file(std::string(view->copiedFileName));
            const std::string olderCopy = copies.file(std::string(view->copiedFileName));
            if (damage.apply) {
                std::string bytes = sound;
                damage.apply(bytes);
                writeFileContent(path, bytes);
            } else {
                damage.place(path);
            }
            const bool sqliteFindsItSound = soundTableToSqlite(path, *view);

            const Opening seen = openAsReader(path, *view);
            if (sqliteFindsItSound) {
                EXPECT_EQ(seen.error, "");
                EXPECT_TRUE(seen.cells == soundCells) << "a table SQLite finds sound shows other cells";
            } else {
                EXPECT_TRUE(seen.cells.empty()) << "cells of a damaged table are shown";
                EXPECT_FALSE(seen.error.empty());
                EXPECT_EQ(englishOutsideBrackets(seen.error), "") << seen.error;
            }

            // The hard-disk copy: a good older copy is replaced only by a sound table.
            writeLivedInTable(olderCopy, *view, 10);
            const std::string older = fileContent(olderCopy);
            std::string refusal;
            try {
                copyTableFile(disc.path(), *view, olderCopy);
            } catch (const EngineError& error) {
                refusal = error.what();
            }
            if (sqliteFindsItSound) {
                EXPECT_EQ(refusal, "");
                EXPECT_TRUE(fileContent(olderCopy) == fileContent(path)) << "the sound table was not copied";
            } else {
                EXPECT_EQ(englishOutsideBrackets(refusal), "") << refusal;
                EXPECT_FALSE(refusal.empty());
                EXPECT_TRUE(fileContent(olderCopy) == older) << "the good older copy was replaced";
                EXPECT_EQ(copies.listing(), Strings{std::string(view->copiedFileName)});
            }
        }
    }
    ::alarm(0);
    clearImageCache();
}

// Root reads through permission bits, so the reader is a child that has
// given up root (or the test's own user, who cannot read a file without them).
TEST_F(OpenFailure, AFileWithoutReadPermissionIsNamed) {
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        const std::string text = errorOf([&] { titlesOf(path); });
        (void)!::write(result[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(result[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(result[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader could not give up root";
    EXPECT_EQ(text, "Die Tabelle '" + path + "' kann nicht gelesen werden: keine Leseberechtigung.");
}

}  // namespace
