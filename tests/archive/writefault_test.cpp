// Every write of a table survives a failure of any single call to the disk:
// a failed write, flush or lock ends the operation with an error and leaves
// the file exactly as before; an operation that reports success has stored
// exactly its change. The file stays whole and opens again at once.

#include "engine.h"
#include "faultvfs.h"
#include "imagecache.h"
#include "querytext.h"
#include "tablefixtures.h"
#include "testfolder.h"
#include "textexchange.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

constexpr char kFile[] = "TippsData.DB";

// Every row as any SQLite tool sees it, rowid and value types included.
Strings storedRows(const std::string& path) {
    return plainSqliteRows(path, "SELECT rowid, *, typeof(COUNTER) FROM TippsData ORDER BY rowid");
}

// The table as a fresh program start shows it: through a table and a query.
Strings freshlyOpened(const TestFolder& folder, bool throughQuery) {
    clearImageCache();
    if (throughQuery) {
        Query query;
        query.sql = {"SELECT * FROM " + quotedLiteral(folder.file(kFile))};
        query.open();
        return recordsOf(query);
    }
    Table table;
    openTable(table, folder.path(), kFile);
    return recordsOf(table);
}

struct Operation {
    const char* name;
    std::function<void(Table&)> run;
};

const std::vector<Operation>& operations() {
    static const std::vector<Operation> all = {
        {"save", [](Table& table) {
             table.moveTo(1);
             table.setFieldText(0, "Anno 1503");
             table.setFieldText(3, "7");
             table.post();
         }},
        {"append", [](Table& table) {
             table.append();
             table.setFieldText(0, "Diablo");
             table.setFieldText(1, "2001/02");
             table.setFieldText(3, "12");
             table.post();
         }},
        {"delete", [](Table& table) {
             table.moveTo(0);
             table.deleteRecord();
         }},
        {"import", [](Table& table) {
             ImportLineReader reader;
             reader.openBytes("Myst\t1997/10\tCheat\t1\r\nUnreal\t1998/09\t\t\r\nQuake\t1996/08\tL\xF6sung\t 4 \r\n");
             importLines(table, reader);
         }},
    };
    return all;
}

struct Fault {
    faultvfs::Kind kind;
    int code;
    const char* name;
};

const Fault kFaults[] = {
    {faultvfs::Kind::Write, SQLITE_IOERR_WRITE, "write"},
    {faultvfs::Kind::Write, SQLITE_FULL, "full disk"},
    {faultvfs::Kind::Sync, SQLITE_IOERR_FSYNC, "flush"},
    {faultvfs::Kind::Lock, SQLITE_IOERR_LOCK, "lock"},
    // Another program holding the lock for a moment: waited for, not failed.
    {faultvfs::Kind::Lock, SQLITE_BUSY, "busy lock"},
};

// The error the operation must report for `code` on the table at `path`, in
// German; nothing where it must succeed.
std::string expectedError(int code, const std::string& path) {
    switch (code & 0xFF) {
    case SQLITE_BUSY:
        return "";
    case SQLITE_FULL:
        return "Die Tabelle '" + path + "' konnte nicht geschrieben werden: Datentr\xE4ger voll.";
    default:
        return "Fehler beim Zugriff auf die Tabelle '" + path + "': Ein-/Ausgabefehler des Datentr\xE4gers.";
    }
}

class WriteFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        faultvfs::install();
        faultvfs::reset();
        clearImageCache();
        writeTable(origin.file(kFile), tipsView(),
                   {{"Gothic", "2001/05", "L\xF6sung", "3"}, {"Anno 1602", "1998/06", "Cheat", ""},
                    {"Diablo II", "2000/08", "Cheat", "12"}});
    }
    void TearDown() override {
        faultvfs::reset();
        clearImageCache();
    }

    // A user's own archive may keep its table in WAL mode.
    void switchToWalMode() {
        runSql(origin.file(kFile), "PRAGMA journal_mode=WAL");
        ASSERT_EQ(origin.listing(), Strings{kFile});
    }

    // A fresh copy of the table, open for writing.
    void prepare(const TestFolder& folder, Table& table) {
        clearImageCache();
        std::filesystem::copy_file(origin.file(kFile), folder.file(kFile));
        openForEditing(table, folder.path(), kFile);
    }

    // Runs every operation once per call it makes to the disk, that call failing.
    void failEachCallOfEachOperation();

    TestFolder origin;
};

void WriteFaultTest::failEachCallOfEachOperation() {
    for (const Operation& operation : operations()) {
        // A run without a fault counts the calls and shows the state after.
        TestFolder clean;
        Table reference;
        prepare(clean, reference);
        const Strings before = storedRows(clean.file(kFile));
        const Strings shownBefore = freshlyOpened(clean, false);
        faultvfs::reset();
        operation.run(reference);
        int calls[3];
        for (int kind = 0; kind < 3; ++kind) calls[kind] = faultvfs::count(static_cast<faultvfs::Kind>(kind));
        reference.close();
        const Strings after = storedRows(clean.file(kFile));
        const Strings shownAfter = freshlyOpened(clean, false);
        ASSERT_NE(before, after) << operation.name;
        ASSERT_GT(calls[0], 0) << operation.name;
        ASSERT_GT(calls[1], 0) << operation.name;
        ASSERT_GT(calls[2], 0) << operation.name;

        for (const Fault& fault : kFaults) {
            for (int n = 1; n <= calls[static_cast<int>(fault.kind)]; ++n) {
                SCOPED_TRACE(std::string(operation.name) + ", " + fault.name + " " + std::to_string(n));
                TestFolder folder;
                const std::string path = folder.file(kFile);
                Table table;
                prepare(folder, table);
                faultvfs::reset();
                faultvfs::failNth(fault.kind, n, fault.code);
                std::string error;
                int resultCode = 0;
                try {
                    operation.run(table);
                } catch (const EngineError& failure) {
                    error = failure.what();
                    resultCode = failure.resultCode();
                }
                EXPECT_TRUE(faultvfs::fired());
                faultvfs::reset();
                const bool failed = !error.empty();
                // A failure after the commit (WAL mode copying the change into
                // the file) may end in success, with the change stored.
                if (failed || fault.code == SQLITE_BUSY) {
                    EXPECT_EQ(error, expectedError(fault.code, path));
                }
                if (failed) {
                    EXPECT_EQ(resultCode & 0xFF, fault.code & 0xFF);
                }

                // The table object shows what the file holds, unless it
                // keeps the refused record in editing.
                if (table.state() == TableState::Browse) {
                    EXPECT_EQ(recordsOf(table), failed ? shownBefore : shownAfter);
                }
                table.close();
                // Nothing lies beside the file that the next open would trip
                // over. A lock refused while closing may leave an emptied -wal
                // file and the -shm file of WAL mode; they hold nothing.
                const Strings listing = folder.listing();
                const Strings walLeft = {kFile, std::string(kFile) + "-shm", std::string(kFile) + "-wal"};
                if (listing == walLeft) {
                    EXPECT_EQ(std::filesystem::file_size(path + "-wal"), 0u);
                } else {
                    EXPECT_EQ(listing, Strings{kFile});
                }
                EXPECT_EQ(plainSqliteRows(path, "PRAGMA integrity_check"), Strings{"ok"});
                EXPECT_EQ(storedRows(path), failed ? before : after);
                EXPECT_EQ(freshlyOpened(folder, false), failed ? shownBefore : shownAfter);
                EXPECT_EQ(freshlyOpened(folder, true), failed ? shownBefore : shownAfter);
            }
        }
    }
}

}  // namespace

TEST_F(WriteFaultTest, AFailureAnywhereLeavesTheTableBeforeOrAfterNeverBetween) {
    failEachCallOfEachOperation();
}

TEST_F(WriteFaultTest, AFailureAnywhereInWalModeLeavesTheTableBeforeOrAfterNeverBetween) {
    switchToWalMode();
    failEachCallOfEachOperation();
}
