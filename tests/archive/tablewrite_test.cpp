// How the engine writes a table file: one transaction per write through one
// guard, an import as one operation with the outcome of appending the lines
// one by one, and a file that stays whole whenever the program is killed.

#include "engine.h"
#include "imagecache.h"
#include "tablefixtures.h"
#include "testfolder.h"
#include "textexchange.h"
#include "transaction.h"
#include "wholefile.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

// Rows as any SQLite tool sees them: rowid, every field, and each value's type.
// Read-write, as the next program to open the file would: a journal left by
// a killed writer is rolled back first.
Strings dump(const std::string& path, const std::string& sql) {
    return plainSqliteRows(path, sql, SQLITE_OPEN_READWRITE);
}

Strings rowsOf(const std::string& path, const std::string& table) {
    return dump(path, "SELECT rowid, *, typeof(" + std::string(table == "TippsData" ? "COUNTER" : "MEDIUM") +
                          ") FROM " + table + " ORDER BY rowid");
}

struct ImportOutcome {
    int counted = 0;
    std::string error;
};

// The import as the info dialog runs it: count each line read, split it,
// hand its four values to the table.
ImportOutcome importAll(Table& table, std::string_view bytes) {
    ImportLineReader reader;
    reader.openBytes(bytes);
    ImportOutcome outcome;
    try {
        table.appendRecords([&](std::array<std::string, 4>& values) {
            std::string line;
            if (!reader.readLine(line)) return false;
            ++outcome.counted;
            values = splitImportLine(line);
            return true;
        });
    } catch (const EngineError& error) {
        outcome.error = error.what();
    }
    return outcome;
}

// The same import record by record, each one posted on its own.
ImportOutcome importOneByOne(Table& table, std::string_view bytes) {
    ImportLineReader reader;
    reader.openBytes(bytes);
    ImportOutcome outcome;
    try {
        for (std::string line; reader.readLine(line);) {
            ++outcome.counted;
            const std::array<std::string, 4> values = splitImportLine(line);
            table.append();
            try {
                for (int field = 0; field < 4; ++field) table.setFieldText(field, values[field]);
                table.post();
            } catch (...) {
                table.cancel();
                throw;
            }
        }
    } catch (const EngineError& error) {
        outcome.error = error.what();
    }
    return outcome;
}

class TableWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearImageCache();
        tips = folder.file("TippsData.DB");
        writeTable(tips, tipsView(), {{"Gothic", "2001/05", "L\xF6sung", "3"}, {"Anno 1602", "1998/06", "Cheat", ""}});
    }

    TestFolder folder;
    std::string tips;
};

}  // namespace

TEST_F(TableWriteTest, AnImportStoresTheLinesBeforeARefusedOneAndNothingAfter) {
    Table table;
    openForEditing(table, folder.path(), "TippsData.db");
    Strings expected = rowsOf(tips, "TippsData");
    const ImportOutcome outcome = importAll(
        table, "Diablo\t2001/02\tKurztipp\t 12 \r\nMyst\t1997/10\t\t\r\nUnreal\t1998/09\tCheat\tviele\r\nQuake\t1996/08\tCheat\t1\r\n");
    EXPECT_EQ(outcome.error, "'viele' ist kein g\xFCltiger Wert f\xFCr das Feld 'COUNTER'.");
    EXPECT_EQ(outcome.counted, 3);
    expected.push_back("3|Diablo|2001/02|Kurztipp|12|integer");
    expected.push_back("4|Myst|1997/10|NULL|NULL|null");
    EXPECT_EQ(rowsOf(tips, "TippsData"), expected);
    EXPECT_EQ(dump(tips, "PRAGMA integrity_check"), Strings{"ok"});
    EXPECT_EQ(table.recordCount(), 4);
    EXPECT_EQ(table.recNo(), 3);
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_EQ(table.text(3, 0), "Myst");

    // A refused first line stores nothing; an empty file touches nothing, not
    // even a table that is not open for writing.
    const std::string stored = fileContent(tips);
    EXPECT_EQ(importAll(table, "X\tY\tZ\t1e3\r\n").error, "'1e3' ist kein g\xFCltiger Wert f\xFCr das Feld 'COUNTER'.");
    EXPECT_EQ(fileContent(tips), stored);
    table.close();
    table.setReadOnly(true);
    table.open();
    EXPECT_EQ(importAll(table, "").counted, 0);
    EXPECT_EQ(importAll(table, "").error, "");
    EXPECT_NE(importAll(table, "A\t\t\t\r\n").error, "");
    EXPECT_EQ(fileContent(tips), stored);
}

TEST_F(TableWriteTest, AnImportEndsAsTheLinesPostedOneByOneWould) {
    // A foreign file whose key SQLite itself enforces: the fourth line repeats a title.
    const std::string foreign = folder.file("CDData.db");
    runSql(foreign, "CREATE TABLE CDData (TITEL TEXT UNIQUE, AUSGABE TEXT, ART TEXT, MEDIUM TEXT)");
    runSql(foreign, "INSERT INTO CDData VALUES ('Alt', '1999/01', 'Demo', 'CD')");
    TestFolder other;
    copyWholeFile(foreign, other.file("CDData.db"));
    const std::string lines = "Neu 1\t2001/01\tDemo\tCD\r\n\r\nNeu 2\tx\tPatch\tDVD\textra\r\nAlt\t2002/02\tVideo\tCD\r\n"
                              "Neu 3\t2003/03\tDemo\tCD\r\n";
    Table batched;
    openForEditing(batched, folder.path(), "CDData.db");
    Table single;
    openForEditing(single, other.path(), "CDData.db");
    const ImportOutcome a = importAll(batched, lines);
    const ImportOutcome b = importOneByOne(single, lines);
    EXPECT_EQ(a.counted, 4);
    EXPECT_EQ(a.counted, b.counted);
    // The same text but for the folder.
    EXPECT_EQ(a.error.substr(a.error.find("CDData.db")), b.error.substr(b.error.find("CDData.db")));
    EXPECT_EQ(a.error, "Die Tabelle '" + foreign + "' l\xE4sst diesen Datensatz nicht zu (UNIQUE constraint failed: "
                       "CDData.TITEL).");
    EXPECT_EQ(rowsOf(foreign, "CDData"), rowsOf(other.file("CDData.db"), "CDData"));
    EXPECT_EQ(rowsOf(foreign, "CDData"),
              (Strings{"1|Alt|1999/01|Demo|CD|text", "2|Neu 1|2001/01|Demo|CD|text", "3|NULL|NULL|NULL|NULL|null",
                       "4|Neu 2|x|Patch|DVD\textra|text"}));
    EXPECT_EQ(batched.recordCount(), single.recordCount());
    EXPECT_EQ(batched.recNo(), single.recNo());
    EXPECT_EQ(batched.state(), single.state());
    for (int record = 0; record < batched.recordCount(); ++record)
        for (int field = 0; field < 4; ++field) EXPECT_EQ(batched.text(record, field), single.text(record, field));
}

TEST_F(TableWriteTest, APendingEditIsStoredBeforeTheImport) {
    Table table;
    openForEditing(table, folder.path(), "TippsData.db");
    table.moveTo(1);
    table.setFieldText(0, "Anno 1503");
    EXPECT_EQ(importAll(table, "Neu\t2004/04\tCheat\t4\r\n").counted, 1);
    EXPECT_EQ(rowsOf(tips, "TippsData"), (Strings{"1|Gothic|2001/05|L\xC3\xB6sung|3|integer",
                                                  "2|Anno 1503|1998/06|Cheat|NULL|null",
                                                  "3|Neu|2004/04|Cheat|4|integer"}));
}

TEST_F(TableWriteTest, TheTransactionGuardRollsBackUnlessCommitted) {
    using detail::Command;
    using detail::Database;
    using detail::Transaction;
    const Strings before = rowsOf(tips, "TippsData");
    {
        Database db = Database::openReadWrite(tips);
        Transaction transaction(db, tips);
        EXPECT_EQ(Command(db, "DELETE FROM TippsData", tips).run(), 2);
    }
    EXPECT_EQ(rowsOf(tips, "TippsData"), before);
    // A failure halfway leaves nothing of the steps before it.
    EXPECT_THROW(
        {
            Database db = Database::openReadWrite(tips);
            Transaction transaction(db, tips);
            Command(db, "DELETE FROM TippsData WHERE rowid = 1", tips).run();
            Command(db, "INSERT INTO TippsData (KEIN_FELD) VALUES (?)", tips).text("x").run();
            transaction.commit();
        },
        EngineError);
    EXPECT_EQ(rowsOf(tips, "TippsData"), before);
    {
        Database db = Database::openReadWrite(tips);
        Transaction transaction(db, tips);
        Command insert(db, "INSERT INTO TippsData VALUES (?, ?, ?, ?)", tips);
        // Typed binds: an integer field's number as an integer, a foreign
        // non-number kept as its text, program text stored as UTF-8.
        insert.text("M\xFC" "ll").null().cell(std::string("Cheat"), FieldKind::Text).cell(std::string("42"), FieldKind::Integer).run();
        insert.text("B").text("C").cell(std::nullopt, FieldKind::Text).cell(std::string("viele"), FieldKind::Integer).run();
        transaction.commit();
    }
    Strings expected = before;
    expected.push_back("3|M\xC3\xBCll|NULL|Cheat|42|integer");
    expected.push_back("4|B|C|NULL|viele|text");
    EXPECT_EQ(rowsOf(tips, "TippsData"), expected);
    // Binds by number: a statement whose parameters may be left out, and a
    // number it does not have refused as an error of the table.
    {
        Database db = Database::openReadWrite(tips);
        Command count(db, "SELECT count(*) FROM TippsData WHERE rowid > ?1 AND rowid <= ?2", tips);
        ASSERT_TRUE(count.integerAt(2, 3).integerAt(1, 1).step());
        EXPECT_EQ(sqlite3_column_int64(count.get(), 0), 2);
        EXPECT_THROW(count.integerAt(3, 0), EngineError);
    }
}

// Killed at any moment of an import or of a run of edits, the file passes
// SQLite's check and every record is whole or absent: each record's values
// carry one number, and the import lands whole or not at all.
TEST_F(TableWriteTest, KilledAtAnyMomentTheFileIsWholeAndEveryRecordToo) {
    constexpr int kLines = 20000;
    for (int delayMs : {0, 2, 5, 10, 20, 40, 80, 160}) {
        const std::string disc = folder.file("CDData.db");
        writeTable(disc, discView(), {{"0", "0", "0", "0"}});
        clearImageCache();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Table table;
            openForEditing(table, folder.path(), "CDData.db");
            int n = 0;
            table.appendRecords([&](std::array<std::string, 4>& values) {
                ++n;
                values = {std::to_string(n), std::to_string(n), std::to_string(n), std::to_string(n)};
                return n <= kLines;
            });
            for (int round = 1;; ++round) {
                table.moveTo(round % table.recordCount());
                const std::string value = "e" + std::to_string(round);
                for (int field = 0; field < 4; ++field) table.setFieldText(field, value);
                table.post();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
        EXPECT_EQ(dump(disc, "PRAGMA integrity_check"), Strings{"ok"});
        const Strings rows = dump(disc, "SELECT TITEL, AUSGABE, ART, MEDIUM FROM CDData");
        EXPECT_TRUE(rows.size() == 1 || rows.size() == kLines + 1) << rows.size();
        for (const std::string& row : rows) {
            const std::string first = row.substr(0, row.find('|'));
            EXPECT_EQ(row, first + "|" + first + "|" + first + "|" + first);
        }
    }
}
