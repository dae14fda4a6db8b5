// The engine brings its table image up to date after its own writes instead
// of reading the file again. Whatever it does, every query must answer as a
// fresh read of the file would, and readers holding an older image must keep
// reading valid rows.

#include "engine.h"
#include "imagecache.h"
#include "imagefile.h"
#include "querytext.h"
#include "scopedvariable.h"
#include "tablefixtures.h"
#include "tableimage.h"
#include "testfolder.h"
#include "wholefile.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <random>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

// A table of 4096 + 100 rows: the last chunk is short, and imports cross the border.
constexpr int kInitialRows = static_cast<int>(TableImage::kChunkRows) + 100;

const std::vector<std::pair<std::string, std::string>> kQueries{
    {"", ""},
    {"", "TITEL"},
    {titleFilterFor("ab"), "TITEL"},
    {"UPPER(TITEL) LIKE \"%\xC4R%\"", "TITEL DESC"},
    {"WERTUNG >= 50", "WERTUNG DESC, TITEL"},
    {"RUBRIK LIKE \"%ti%\"", "AUSGABE DESC, TITEL"},
    {"UPPER(HERSTELLER) LIKE \"A%\" AND WERTUNG >= 20", "HERSTELLER, WERTUNG"},
    {"", "KOMMENTAR DESC, GENRE"},
};

// Run on an image read from the table and on one read from its cache file,
// whose cells lie in room of the image's own that outlives it in the images
// made after writes.
class ImagePatchTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        clearImageCache();
        path = folder.file("GameData.db");
        std::vector<Row> rows;
        for (int i = 0; i < kInitialRows; ++i) rows.push_back(randomRow());
        writeTable(path, gamesView(), rows);
        if (GetParam()) {
            detail::imageFileMinimumRows = 0;
            queryRecords(path, "", "TITEL");
            finishImageFiles();
            std::shared_ptr<const TableImage> kept = readImageFile(path);
            ASSERT_NE(kept, nullptr);
            clearImageCache();
            publishImage(kept);
            openForEditing(table, folder.path(), "GameData.db");
            ASSERT_EQ(table.image(), kept.get());
            return;
        }
        openForEditing(table, folder.path(), "GameData.db");
    }
    void TearDown() override {
        finishImageFiles();
        clearImageCache();
        detail::imageFileMinimumRows = minimumRows;
    }

    std::string pick(std::initializer_list<const char*> values) {
        return values.begin()[random() % values.size()];
    }

    // Values of the kind each games field holds, with ties, umlauts, case
    // variants, NULLs and an odd rating.
    std::string randomValue(int field) {
        switch (field) {
        case 0: {
            std::string title;
            const int parts = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < parts; ++i)
                title += pick({"ab", "Ab", "AB", "\xE4r", "\xC4R", "ol", "\xDF", "x", "Zor", " ", "ber", "\xFF", "\xE9"});
            return title;
        }
        case 1: return pick({"Action", "Strategie", "Sport", "Budget", "action", ""});
        case 2: return pick({"Rennspiel", "Ballerspiel", "Rollenspiel", ""});
        case 3: return pick({"Acme", "acme", "Argon Soft", "\xC4ther", "Zeta", ""});
        case 4: return random() % 8 == 0 ? pick({"", " 7 ", "-3", "100"}) : std::to_string(random() % 101);
        case 5: return std::to_string(1997 + random() % 8) + "/" + pick({"01", "02", "06", "11", "12"});
        default: return random() % 5 == 0 ? std::string() : "Kommentar " + std::to_string(random() % 50);
        }
    }

    Row randomRow() {
        Row row;
        for (int field = 0; field < 7; ++field) {
            std::string value = randomValue(field);
            row.push_back(value.empty() ? Cell() : Cell(value));
        }
        return row;
    }

    Strings queryRecords(const std::string& file, const std::string& where, const std::string& order) {
        Query query;
        return recordsOf(openOn(query, file, where, order));
    }

    // The kept image answers as a fresh read of a copy of the file does, and
    // it is the image the cache answers with: no read of the file is due.
    void expectSameAsFreshLoad(const std::string& step) {
        SCOPED_TRACE(step);
        const std::string copy = mirror.file("GameData.db");
        copyWholeFile(path, copy);
        for (const auto& [where, order] : kQueries) {
            SCOPED_TRACE(where + " ORDER BY " + order);
            EXPECT_EQ(queryRecords(path, where, order), queryRecords(copy, where, order));
        }
        Table fresh;
        openTable(fresh, mirror.path(), "GameData.db");
        EXPECT_EQ(recordsOf(table), recordsOf(fresh));
        EXPECT_EQ(table.image(), imageOf(path).get());
    }

    void outsideUpdate(const std::string& sql) { runSql(path, sql); }

    std::mt19937 random{20240611};
    TestFolder cacheHome;
    ScopedVariable cacheVariable{"XDG_CACHE_HOME", cacheHome.path().c_str()};
    const uint32_t minimumRows = detail::imageFileMinimumRows;
    TestFolder folder;
    TestFolder mirror;
    std::string path;
    Table table;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(FromTableOrCacheFile, ImagePatchTest, ::testing::Bool());

TEST_P(ImagePatchTest, EditsAppendsDeletesAndImportsAnswerAsAFreshLoad) {
    expectSameAsFreshLoad("loaded");
    for (int step = 0; step < 60; ++step) {
        const int action = static_cast<int>(random() % 20);
        std::string what;
        if (action < 8) {
            // An edit of one to three fields; moving on posts it.
            table.moveTo(static_cast<int>(random() % static_cast<unsigned>(table.recordCount())));
            const int fields = 1 + static_cast<int>(random() % 3);
            for (int i = 0; i < fields; ++i) {
                const int field = static_cast<int>(random() % 7);
                table.setFieldText(field, randomValue(field));
            }
            const int count = table.recordCount();
            if (random() % 2)
                table.post();
            else
                table.moveTo((table.recNo() + 1 + static_cast<int>(random() % static_cast<unsigned>(count - 1))) % count);
            what = "edit";
        } else if (action < 11) {
            table.append();
            for (int field = 0; field < 7; ++field)
                if (random() % 3) table.setFieldText(field, randomValue(field));
            table.post();
            what = "append";
        } else if (action < 16) {
            // Now and then the last row, whose row id SQLite hands out again.
            const int count = table.recordCount();
            table.moveTo(random() % 3 == 0 ? count - 1 : static_cast<int>(random() % static_cast<unsigned>(count)));
            table.deleteRecord();
            what = "delete";
        } else if (action < 19) {
            int left = 1 + static_cast<int>(random() % 300);
            const int before = table.recordCount();
            const int read = table.appendRecords([&](std::array<std::string, 4>& values) {
                if (left-- == 0) return false;
                for (int field = 0; field < 4; ++field) values[field] = randomValue(field);
                return true;
            });
            EXPECT_EQ(read, table.recordCount() - before);
            EXPECT_EQ(table.recNo(), table.recordCount() - 1);
            what = "import";
        } else {
            // Another program changes the file; the next write of the table
            // must not build on its old image.
            // (SQLite leaves a page alone that an UPDATE would not change: each text is new.)
            outsideUpdate("UPDATE GameData SET TITEL = 'Fremd' || rowid || '/" + std::to_string(step) +
                          "' WHERE rowid % 7 = " + std::to_string(random() % 7));
            EXPECT_NE(imageOf(path).get(), table.image());
            table.moveTo(0);
            table.setFieldText(0, "Nach fremder \xC4nderung " + std::to_string(step));
            table.post();
            what = "outside change";
        }
        expectSameAsFreshLoad("step " + std::to_string(step) + ": " + what);
        if (HasFailure()) break;
    }
}

TEST_P(ImagePatchTest, AWriteCopiesOnlyWhatItChangesAndKeepsTheFileStamp) {
    const std::shared_ptr<const TableImage> before = imageOf(path);
    ASSERT_EQ(table.image(), before.get());
    Query sorted;
    sorted.sql = {"SELECT * FROM " + quotedLiteral(path), "ORDER BY HERSTELLER, TITEL"};
    sorted.open();
    const Strings sortedBefore = recordsOf(sorted);

    table.moveTo(4100);
    table.setFieldText(6, "Nur der Kommentar");
    table.post();
    const TableImage& after = *table.image();
    EXPECT_NE(&after, before.get());
    EXPECT_EQ(after.stamp(), stampOf(path));
    for (int column = 0; column < 6; ++column)
        for (uint32_t chunk = 0; chunk < after.chunkCount(); ++chunk)
            EXPECT_EQ(&after.chunk(column, chunk), &before->chunk(column, chunk));
    EXPECT_EQ(&after.chunk(6, 0), &before->chunk(6, 0));
    EXPECT_NE(&after.chunk(6, 1), &before->chunk(6, 1));
    EXPECT_EQ(after.text(4100, 6), "Nur der Kommentar");
    // The order by maker and title did not depend on the comment: kept.
    EXPECT_EQ(&after.sortedRows({{3, false}, {0, false}}), &before->sortedRows({{3, false}, {0, false}}));
    EXPECT_EQ(sorted.recordCount(), kInitialRows);

    // A delete copies only the row marks; the cells stay where they were.
    table.moveTo(10);
    const std::string title(table.text(10, 0));
    table.deleteRecord();
    const TableImage& deleted = *table.image();
    EXPECT_EQ(deleted.rowCount(), static_cast<uint32_t>(kInitialRows));
    EXPECT_EQ(deleted.deletedCount(), 1u);
    EXPECT_TRUE(deleted.isDeleted(10));
    EXPECT_EQ(&deleted.chunk(0, 0), &before->chunk(0, 0));
    EXPECT_EQ(table.recordCount(), kInitialRows - 1);
    EXPECT_EQ(deleted.stamp(), stampOf(path));
    EXPECT_EQ(table.recNo(), 10);
    EXPECT_NE(table.text(10, 0), title);

    // The query opened before the writes still reads the rows it was opened on.
    EXPECT_EQ(recordsOf(sorted), sortedBefore);
}

TEST_P(ImagePatchTest, AQueryOpenedBeforeWritesReadsItsRowsAfterThem) {
    Query query;
    query.sql = {"SELECT * FROM " + quotedLiteral(path), "WHERE " + titleFilterFor("ab"), "ORDER BY TITEL"};
    query.open();
    const Strings before = recordsOf(query);
    ASSERT_GT(before.size(), 10u);
    // Enough writes that every chunk the query reads was replaced in the table's image.
    for (int record = 0; record < table.recordCount(); record += 97) {
        table.moveTo(record);
        table.setFieldText(0, "Neu " + std::to_string(record));
        table.setFieldText(6, std::string(300, 'k'));
        table.post();
    }
    for (int i = 0; i < 50; ++i) {
        table.moveTo(0);
        table.deleteRecord();
    }
    table.appendRecords([n = 0](std::array<std::string, 4>& values) mutable {
        values = {"ab " + std::to_string(n), "Action", "Rennspiel", "Acme"};
        return ++n <= 5000;
    });
    clearImageCache();
    EXPECT_EQ(recordsOf(query), before);
    query.open();
    EXPECT_NE(recordsOf(query), before);
    EXPECT_EQ(query.recordCount(), static_cast<int>(queryRecords(path, titleFilterFor("ab"), "TITEL").size()));
}

TEST_P(ImagePatchTest, AnOutsideChangeIsNoticedAfterTheTablesOwnWrites) {
    table.moveTo(1);
    table.setFieldText(0, "Eigen");
    table.post();
    EXPECT_EQ(imageOf(path).get(), table.image());
    outsideUpdate("UPDATE GameData SET TITEL = 'Fremd' WHERE rowid = 3");
    EXPECT_EQ(queryRecords(path, "TITEL LIKE \"Fremd\"", "").size(), 1u);
    EXPECT_EQ(queryRecords(path, "TITEL LIKE \"Eigen\"", "").size(), 1u);
    // The table's next write reads the file again and shows both.
    table.moveTo(4);
    table.setFieldText(0, "Wieder eigen");
    table.post();
    EXPECT_EQ(table.text(2, 0), "Fremd");
    EXPECT_EQ(table.text(4, 0), "Wieder eigen");
    EXPECT_EQ(table.recNo(), 4);
    // A row deleted from outside: the edit of it is refused, nothing is written.
    outsideUpdate("DELETE FROM GameData WHERE rowid = 8");
    table.moveTo(7);
    table.setFieldText(0, "Weg");
    EXPECT_THROW(table.post(), EngineError);
    EXPECT_EQ(table.state(), TableState::Edit);
    table.cancel();
}
