// Table files in SQLite's WAL mode: a user's own archive can be one. Reading
// must never write beside the file, writing must keep the mode and leave no
// -wal or -shm file, and changes waiting in a -wal file are refused, never
// read around.

#include "engine.h"
#include "imagecache.h"
#include "querytext.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

sqlite3* openPlain(const std::string& name) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr), SQLITE_OK);
    return db;
}

void execPlain(sqlite3* db, const char* sql) {
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
}

// Bytes 18 and 19 of the file's header: 2 and 2 in WAL mode.
std::pair<int, int> formatVersions(const std::string& path) {
    const std::string header = fileContent(path).substr(0, 20);
    return {static_cast<unsigned char>(header[18]), static_cast<unsigned char>(header[19])};
}

int rowsWithoutWal(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(("file:" + path + "?mode=ro&immutable=1").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                    nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM GameData", -1, &stmt, nullptr);
    const int count = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return count;
}

const std::string kWaitingTitle = "Wartet im WAL";

class WalTable : public ::testing::Test {
protected:
    void SetUp() override {
        clearImageCache();
        path = folder.file("GameData.DB");
        writeTable(path, gamesView(), {game("Gothic", "85"), game("Anno", "70")});
        sqlite3* db = openPlain(path);
        execPlain(db, "PRAGMA journal_mode=WAL");
        sqlite3_close(db);
        ASSERT_EQ(formatVersions(path), std::make_pair(2, 2));
        ASSERT_EQ(folder.listing(), Strings{"GameData.DB"});
    }
    void TearDown() override { clearImageCache(); }

    std::string expectedRefusal(const std::string& tablePath) {
        return "Die Tabelle '" + tablePath + "' ist im WAL-Modus gespeichert und hat ungesicherte \xC4nderungen in '" +
               tablePath + "-wal'; sie kann erst ge\xF6" "ffnet werden, wenn das Programm, das sie geschrieben hat, "
               "diese \xC4nderungen in die Tabelle \xFC" "bernommen hat.";
    }

    // Another program commits a row while its connection stays open: the row
    // waits in the -wal file. Copying the files meanwhile leaves them the way
    // a crash of that program would.
    std::string copyWithWaitingChange(const TestFolder& target) {
        sqlite3* db = openPlain(path);
        execPlain(db, "PRAGMA wal_autocheckpoint=0");
        execPlain(db, ("INSERT INTO GameData (TITEL) VALUES ('" + kWaitingTitle + "')").c_str());
        namespace fs = std::filesystem;
        fs::copy_file(path, target.file("GameData.DB"));
        fs::copy_file(path + "-wal", target.file("GameData.DB-wal"));
        sqlite3_close(db);
        return target.file("GameData.DB");
    }

    TestFolder folder;
    std::string path;
};

}  // namespace

TEST_F(WalTable, ReadingWritesNothingBesideTheFile) {
    EXPECT_EQ(titlesOf(path), (Strings{"Anno", "Gothic"}));
    clearImageCache();
    Table table;
    openTable(table, folder.path(), "GameData.db");
    EXPECT_EQ(valuesOf(table, "WERTUNG"), (Strings{"85", "70"}));
    table.close();
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});
    EXPECT_EQ(formatVersions(path), std::make_pair(2, 2));
}

TEST_F(WalTable, AReadOnlyFolderIsReadAllTheSame) {
    const std::string before = fileContent(path);
    {
        // As root the permission bits do not stop the engine from creating
        // files; then the immutable attribute does where it may be set. Where
        // it may not (a container without that capability), the listing
        // below still shows whether anything was written.
        Unwritable readOnly(folder.path());
        ASSERT_TRUE(readOnly.bitsCleared());
        EXPECT_EQ(titlesOf(path), (Strings{"Anno", "Gothic"}));
        EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});
    }
    EXPECT_EQ(fileContent(path), before);
}

TEST_F(WalTable, WaitingChangesAreRefusedAndNothingIsCreated) {
    TestFolder crashed;
    const std::string copy = copyWithWaitingChange(crashed);
    // The file alone lacks the waiting row: reading around the -wal file
    // would show an old state of the table.
    ASSERT_EQ(rowsWithoutWal(copy), 2);
    const Strings listing = crashed.listing();
    const std::string content = fileContent(copy);
    const std::string wal = fileContent(copy + "-wal");
    EXPECT_EQ(errorOf([&] { titlesOf(copy); }), expectedRefusal(copy));
    Table table;
    table.databaseName = crashed.path();
    table.tableName = "GameData.db";
    table.setReadOnly(false);
    EXPECT_THROW(table.open(), EngineError);
    EXPECT_EQ(crashed.listing(), listing);
    EXPECT_EQ(fileContent(copy), content);
    EXPECT_EQ(fileContent(copy + "-wal"), wal);
}

TEST_F(WalTable, EditingKeepsWalModeAndLeavesNothingBeside) {
    Table table;
    openForEditing(table, folder.path());
    table.setFieldText(0, "Gothic II");
    table.post();
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});
    table.append();
    table.setFieldText(0, "Diablo");
    table.post();
    table.moveTo(1);
    table.deleteRecord();  // Anno
    EXPECT_EQ(valuesOf(table, "TITEL"), (Strings{"Gothic II", "Diablo"}));
    table.close();
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});
    EXPECT_EQ(formatVersions(path), std::make_pair(2, 2));
    EXPECT_EQ(rowsWithoutWal(path), 2);  // every change is in the file itself
    EXPECT_EQ(titlesOf(path), (Strings{"Diablo", "Gothic II"}));
}

TEST_F(WalTable, APostOverChangesWaitingFromAnotherProgramIsRefused) {
    Table table;
    openForEditing(table, folder.path());
    sqlite3* other = openPlain(path);
    execPlain(other, "PRAGMA wal_autocheckpoint=0");
    execPlain(other, ("INSERT INTO GameData (TITEL) VALUES ('" + kWaitingTitle + "')").c_str());
    table.setFieldText(0, "Gothic II");
    EXPECT_EQ(errorOf([&] { table.post(); }), expectedRefusal(path));
    EXPECT_EQ(table.state(), TableState::Edit);
    table.cancel();
    table.close();
    sqlite3_close(other);  // the other program ends and takes its changes into the file
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});
    EXPECT_EQ(titlesOf(path), (Strings{"Anno", "Gothic", kWaitingTitle}));
}

TEST_F(WalTable, ANewFileInItsPlaceKeepsTheModeButNeverTakesWaitingChanges) {
    writeTable(path, gamesView(), {game("Myst", "90")});
    EXPECT_EQ(formatVersions(path), std::make_pair(2, 2));
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});
    EXPECT_EQ(titlesOf(path), Strings{"Myst"});

    TestFolder crashed;
    const std::string copy = copyWithWaitingChange(crashed);
    const Strings listing = crashed.listing();
    const std::string content = fileContent(copy);
    EXPECT_EQ(errorOf([&] { writeTable(copy, gamesView(), {game("Myst", "90")}); }),
              expectedRefusal(copy));
    EXPECT_EQ(crashed.listing(), listing);
    EXPECT_EQ(fileContent(copy), content);
}
