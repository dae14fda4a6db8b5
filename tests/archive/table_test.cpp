#include "engine.h"
#include "imagecache.h"
#include "querytext.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <gtest/gtest.h>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

// The rows of the file as any SQLite tool sees them: rowid and all fields.
Strings fileRows(const std::string& path) { return plainSqliteRows(path, "SELECT rowid, * FROM TippsData ORDER BY rowid"); }

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearImageCache();
        path = folder.file("TippsData.DB");
        writeTable(path, tipsView(),
                   {{"Gothic", "2001/05", "L\xF6sung", "3"},
                    {"Anno 1602", "1998/06", "Cheat", ""},
                    {"Myst", "1997/10", "Kurztipp", "7"}});
        openForEditing(table, folder.path(), "TippsData.db");
        table.addListener([this](DataSetEvent event, int row) { events.emplace_back(event, row); });
    }

    static constexpr int kTitle = 0;
    static constexpr int kCounter = 3;

    TestFolder folder;
    std::string path;
    Table table;
    std::vector<std::pair<DataSetEvent, int>> events;
};

const Strings kStored{"1|Gothic|2001/05|L\xC3\xB6sung|3", "2|Anno 1602|1998/06|Cheat|NULL", "3|Myst|1997/10|Kurztipp|7"};

}  // namespace

TEST_F(TableTest, ShowsTheRowsInStoredOrder) {
    EXPECT_EQ(valuesOf(table, "TITEL"), (Strings{"Gothic", "Anno 1602", "Myst"}));
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_EQ(table.fieldByName("art").displayLabel(), "ART");
    table.moveTo(0);
    EXPECT_EQ(table.fieldByName("ART").asString(), "L\xF6sung");
}

TEST_F(TableTest, PostWritesTheOneChangedRowAndKeepsTheCursorOnIt) {
    table.moveTo(1);
    table.setFieldText(kTitle, "Anno 1602: Neue Inseln");
    table.setFieldText(kCounter, " 12 ");
    EXPECT_EQ(table.state(), TableState::Edit);
    EXPECT_TRUE(table.modified());
    EXPECT_EQ(fileRows(path), kStored);  // nothing written before the post
    table.post();
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_EQ(table.recNo(), 1);
    EXPECT_EQ(table.fieldByName("COUNTER").asInteger(), 12);
    EXPECT_EQ(fileRows(path), (Strings{kStored[0], "2|Anno 1602: Neue Inseln|1998/06|Cheat|12", kStored[2]}));
    // A query sees the write at once.
    Query query;
    query.sql = {"SELECT * FROM " + quotedLiteral(folder.file("TippsData.db")), "WHERE COUNTER >= 10 "};
    query.open();
    EXPECT_EQ(valuesOf(query, "TITEL"), Strings{"Anno 1602: Neue Inseln"});
}

TEST_F(TableTest, ANonNumberIntoACountFailsAndChangesNothing) {
    table.moveTo(2);
    EXPECT_EQ(errorOf([&] { table.setFieldText(kCounter, "viele"); }),
              "'viele' ist kein g\xFCltiger Wert f\xFCr das Feld 'COUNTER'.");
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_FALSE(table.modified());
    table.setFieldText(kTitle, "Myst II");
    EXPECT_THROW(table.fieldByName("COUNTER").setAsString("7a"), EngineError);
    EXPECT_EQ(table.fieldByName("COUNTER").asString(), "7");
    EXPECT_EQ(table.fieldByName("TITEL").asString(), "Myst II");
    table.fieldByName("COUNTER").setAsString("");  // empty: no count
    table.post();
    EXPECT_EQ(fileRows(path), (Strings{kStored[0], kStored[1], "3|Myst II|1997/10|Kurztipp|NULL"}));
}

TEST_F(TableTest, CancelAndCloseDropTheChange) {
    table.setFieldText(kTitle, "Verworfen");
    EXPECT_EQ(table.text(0, kTitle), "Verworfen");
    table.cancel();
    EXPECT_EQ(table.text(0, kTitle), "Gothic");
    EXPECT_EQ(table.state(), TableState::Browse);
    table.setFieldText(kTitle, "Auch verworfen");
    table.close();
    EXPECT_EQ(table.state(), TableState::Inactive);
    EXPECT_EQ(fileRows(path), kStored);
}

TEST_F(TableTest, MovingPostsAModifiedRowAndDropsAnUnmodifiedOne) {
    table.edit();
    table.moveTo(1);  // nothing typed: nothing written
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_EQ(fileRows(path), kStored);
    table.setFieldText(kTitle, "Anno 1503");
    table.next();
    EXPECT_EQ(table.recNo(), 2);
    EXPECT_EQ(fileRows(path)[1], "2|Anno 1503|1998/06|Cheat|NULL");
}

TEST_F(TableTest, AnUntouchedNewRowIsDroppedATypedOneLandsLast) {
    table.moveTo(1);
    table.insert();
    EXPECT_EQ(table.state(), TableState::Insert);
    EXPECT_EQ(table.recordCount(), 4);
    EXPECT_EQ(table.recNo(), 3);
    EXPECT_TRUE(table.fieldByName("TITEL").isNull());
    table.moveTo(0);
    EXPECT_EQ(table.recordCount(), 3);
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_EQ(fileRows(path), kStored);

    table.append();
    table.setFieldText(kTitle, "Diablo");
    table.setFieldText(1, "2001/02");
    table.moveTo(0);
    EXPECT_EQ(table.recordCount(), 4);
    Strings expected = kStored;
    expected.push_back("4|Diablo|2001/02|NULL|NULL");
    EXPECT_EQ(fileRows(path), expected);
    table.last();
    EXPECT_EQ(table.fieldByName("TITEL").asString(), "Diablo");

    table.insert();
    table.cancel();
    EXPECT_EQ(table.recordCount(), 4);
    EXPECT_EQ(table.recNo(), 3);
}

TEST_F(TableTest, DeleteRemovesTheRowAndTheCursorTakesTheNext) {
    table.moveTo(1);
    table.deleteRecord();
    EXPECT_EQ(fileRows(path), (Strings{kStored[0], kStored[2]}));
    EXPECT_EQ(table.recordCount(), 2);
    EXPECT_EQ(table.fieldByName("TITEL").asString(), "Myst");
    table.deleteRecord();
    EXPECT_EQ(table.fieldByName("TITEL").asString(), "Gothic");
    table.deleteRecord();
    EXPECT_EQ(table.recordCount(), 0);
    EXPECT_EQ(table.recNo(), -1);
    EXPECT_THROW(table.deleteRecord(), EngineError);
    EXPECT_TRUE(fileRows(path).empty());
}

TEST_F(TableTest, AReadOnlyTableRefusesEveryChange) {
    table.close();
    table.setReadOnly(true);
    table.open();
    EXPECT_THROW(table.setReadOnly(false), EngineError);
    EXPECT_THROW(table.edit(), EngineError);
    EXPECT_THROW(table.setFieldText(kTitle, "x"), EngineError);
    EXPECT_THROW(table.insert(), EngineError);
    EXPECT_THROW(table.deleteRecord(), EngineError);
    EXPECT_EQ(table.state(), TableState::Browse);
    EXPECT_EQ(fileRows(path), kStored);
}

TEST_F(TableTest, APostToAWriteProtectedFileFailsAndTheRowStaysInEditing) {
    const std::string before = fileContent(path);
    const Strings listing = folder.listing();
    Unwritable protect(path);
    // A table file without any write permission bit is read-only by the
    // engine's own rule, root included, so this runs the same everywhere
    // (also as root in a container, where the system itself would let root write).
    ASSERT_TRUE(protect.bitsCleared()) << "could not take the write permission off " << path;
    table.setFieldText(kTitle, "Gothic II");
    EXPECT_EQ(errorOf([&] { table.post(); }), "Die Tabelle '" + path + "' ist schreibgesch\xFCtzt.");
    EXPECT_EQ(table.state(), TableState::Edit);
    EXPECT_TRUE(table.modified());
    EXPECT_EQ(table.fieldByName("TITEL").asString(), "Gothic II");
    EXPECT_THROW(table.moveTo(1), EngineError);  // moving would post: refused, the cursor stays
    EXPECT_EQ(table.recNo(), 0);
    EXPECT_EQ(fileContent(path), before);
    EXPECT_EQ(folder.listing(), listing);
    table.cancel();
    EXPECT_EQ(table.fieldByName("TITEL").asString(), "Gothic");
}

TEST_F(TableTest, ListenersHearEveryStepOfAnEdit) {
    table.setFieldText(kTitle, "G");
    table.post();
    using E = DataSetEvent;
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], std::make_pair(E::StateChanged, 0));
    EXPECT_EQ(events[1], std::make_pair(E::RowChanged, 0));
    EXPECT_EQ(events[2], std::make_pair(E::Reset, -1));  // the reload after the write
    EXPECT_EQ(events.back(), std::make_pair(E::StateChanged, 0));
}
