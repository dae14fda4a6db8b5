// How the engine writes a table file: one transaction per write through one guard.

#include "engine.h"
#include "tablefixtures.h"
#include "testfolder.h"
#include "transaction.h"

#include <sqlite3.h>

#include <gtest/gtest.h>


using namespace archive;

namespace {

using Strings = std::vector<std::string>;

// Rows as any SQLite tool sees them: rowid, every field, and each value's type.
// Read-write, as the next program to open the file would: a journal left by
// a killed writer is rolled back first.
Strings dump(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    Strings rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (i) row += '|';
            const auto* text = sqlite3_column_text(stmt, i);
            row += text ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

Strings rowsOf(const std::string& path, const std::string& table) {
    return dump(path, "SELECT rowid, *, typeof(" + std::string(table == "TippsData" ? "COUNTER" : "MEDIUM") +
                          ") FROM " + table + " ORDER BY rowid");
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
}
