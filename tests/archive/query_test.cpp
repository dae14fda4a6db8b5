#include "engine.h"
#include "imagecache.h"
#include "querytext.h"
#include "tableimage.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>

using namespace archive;

namespace {

class QueryTest : public ::testing::Test {
protected:
    void SetUp() override { clearImageCache(); }

    std::vector<std::string> run(const std::string& where, const std::string& orderBy = "",
                                 std::string_view field = "TITEL", const std::string& file = "GameData.db") {
        return valuesOf(openOn(query, folder.file(file), where, orderBy), field);
    }

    std::string errorOf(const std::string& where, const std::string& orderBy = "") {
        try {
            run(where, orderBy);
        } catch (const EngineError& error) {
            return error.what();
        }
        return "no error " + std::to_string(query.recordCount());
    }

    TestFolder folder;
    Query query;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(QueryTest, TitleFilterMatchesUmlautsThroughUpperAndUnderscoreAsItself) {
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("Die L\xF6sung"), game("L\xD6SUNGSBUCH"), game("losung"), game("A_B"), game("AxB"),
                game("a_b"), game(""), game("\xFF" "bel")});
    EXPECT_EQ(run("UPPER(TITEL) LIKE \"%\xD6SU%\""), (Strings{"Die L\xF6sung", "L\xD6SUNGSBUCH"}));
    EXPECT_EQ(run("UPPER(TITEL) LIKE \"%A_B%\""), (Strings{"A_B", "a_b"}));
    EXPECT_EQ(run("TITEL LIKE \"%A_B%\""), (Strings{"A_B"}));  // LIKE itself is case-sensitive
    EXPECT_EQ(run("UPPER(TITEL) LIKE \"%\x9F%\""), (Strings{"\xFF" "bel"}));
    // An empty title box still sets "%%": every row with a title.
    EXPECT_EQ(run("UPPER(TITEL) LIKE \"%%\"").size(), 7u);
}

TEST_F(QueryTest, LikePatternsAnchorAtTheEndsWithoutPercent) {
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("Gothic"), game("Gothic II"), game("Anno Gothic"), game("GG"), game("G")});
    EXPECT_EQ(run("TITEL LIKE \"Gothic%\""), (Strings{"Gothic", "Gothic II"}));
    EXPECT_EQ(run("TITEL LIKE \"%Gothic\""), (Strings{"Gothic", "Anno Gothic"}));
    EXPECT_EQ(run("TITEL LIKE \"Gothic\""), (Strings{"Gothic"}));
    EXPECT_EQ(run("TITEL LIKE \"G%c%I\""), (Strings{"Gothic II"}));
    EXPECT_EQ(run("TITEL LIKE \"G%G\""), (Strings{"GG"}));  // the ends may not share a letter
    EXPECT_EQ(run("TITEL LIKE \"%o%o%\""), (Strings{"Anno Gothic"}));
    EXPECT_EQ(run("TITEL LIKE \"%gothic%\""), Strings{});
}

TEST_F(QueryTest, EmptyRatingsNeverSatisfyAMinimumAndSortBelowEveryNumber) {
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("Ohne", std::nullopt), game("Null", "0"), game("Gut", "85"), game("Auch gut", "85"),
                game("Minus", "-3"), game("Mittel", "50")});
    EXPECT_EQ(run("WERTUNG >= 0", "", "TITEL"), (Strings{"Null", "Gut", "Auch gut", "Mittel"}));
    EXPECT_EQ(run("WERTUNG >= 80"), (Strings{"Gut", "Auch gut"}));
    EXPECT_EQ(run("", "WERTUNG"), (Strings{"Ohne", "Minus", "Null", "Mittel", "Gut", "Auch gut"}));
    EXPECT_EQ(run("", "WERTUNG DESC, TITEL"), (Strings{"Auch gut", "Gut", "Mittel", "Null", "Minus", "Ohne"}));
    EXPECT_EQ(run("", "WERTUNG DESC, TITEL", "WERTUNG"), (Strings{"85", "85", "50", "0", "-3", ""}));
    EXPECT_TRUE(query.fieldByName("wertung").isNull());
    EXPECT_EQ(query.fieldByName("WERTUNG").asInteger(), std::nullopt);
    query.first();
    EXPECT_EQ(query.fieldByName("WERTUNG").asInteger(), 85);
}

TEST_F(QueryTest, TextSortsAsAGermanReaderExpects) {
    writeTable(folder.file("GameData.db"), gamesView(),
               {game("Zork"), game("\xC4rger"), game("apfel"), game("Apfel"), game("Stra\xDF" "e"), game("Strasse"),
                game("Strand"), game("\xD6sterreich"), game("Ozean"), game("\xFC" "ber"), game("Uhr"),
                game("Anno 1602"), game("Anno 503"), game("")});
    const Strings ascending{"",      "Anno 1602", "Anno 503", "Apfel",   "apfel", "\xC4rger",
                            "\xD6sterreich", "Ozean", "Strand", "Strasse", "Stra\xDF" "e", "\xFC" "ber",
                            "Uhr",   "Zork"};
    EXPECT_EQ(run("", "TITEL"), ascending);
    EXPECT_EQ(run("", "TITEL DESC"), Strings(ascending.rbegin(), ascending.rend()));
    // The title box's filter keeps the sort order of the whole table.
    EXPECT_EQ(run("UPPER(TITEL) LIKE \"%S%\"", "TITEL"),
              (Strings{"\xD6sterreich", "Strand", "Strasse", "Stra\xDF" "e"}));
}

TEST_F(QueryTest, IssueCodesSortInTimeOrderAndTiesKeepTheStoredOrder) {
    writeTable(folder.file("CDData.db"), discView(),
               {{"Demo B", "2000/12", "Demo", "CD"},
                {"Demo A", "2000/02", "Demo", "DVD"},
                {"Patch", "2001/01", "Patch", "CD"},
                {"Demo A", "2001/01", "Demo", "CD/DVD"},
                {"Demo B", "1999/10", "Demo", "CD"}});
    EXPECT_EQ(run("", "AUSGABE", "AUSGABE", "CDData.db"),
              (Strings{"1999/10", "2000/02", "2000/12", "2001/01", "2001/01"}));
    EXPECT_EQ(run("", "AUSGABE DESC, TITEL", "TITEL", "CDData.db"),
              (Strings{"Demo A", "Patch", "Demo B", "Demo A", "Demo B"}));
    EXPECT_EQ(run("", "TITEL, AUSGABE DESC", "AUSGABE", "CDData.db"),
              (Strings{"2001/01", "2000/02", "2000/12", "1999/10", "2001/01"}));
    // Equal on every key: stored order.
    EXPECT_EQ(run("", "ART", "TITEL", "CDData.db"), (Strings{"Demo B", "Demo A", "Demo A", "Demo B", "Patch"}));
}

TEST_F(QueryTest, RunsTheStatementsTheMainWindowBuilds) {
    writeTable(folder.file("GameData.DB"), gamesView(),
               {game("Rally Masters", "85", "Action"), game("Rally Sim", "90", "Simulationen"),
                game("Colin Rally", "79", "Action"), game("rallye", "88", "Action"), game("Tetris", "95", "Action")});
    ViewState state;
    state.DataPath = folder.path();
    state.CurrentView = std::string(kViewGames);
    state.TitleFilter = titleFilterFor("rally");
    state.SelectionFilter = selectionFilterFor("RUBRIK", "Action", "80");
    state.SortField = "WERTUNG";
    state.SortDirection = " DESC";
    const QueryText text = buildQueryText(state, "GameData.db");  // the copy wrote ".DB"
    query.databaseName = state.DataPath;
    query.sql = text.lines;
    query.prepare();
    query.open();
    EXPECT_EQ(valuesOf(query, "TITEL"), (Strings{"rallye", "Rally Masters"}));
    EXPECT_EQ(query.recordCount(), 2);
}

TEST_F(QueryTest, OpeningAndQueryingLeaveTheFolderAsItWas) {
    writeTable(folder.file("GameData.DB"), gamesView(), {game("A", "50"), game("B", "60")});
    const Strings before = folder.listing();
    run("UPPER(TITEL) LIKE \"%A%\" AND WERTUNG >= 10", "WERTUNG DESC, TITEL");
    Table table;
    openTable(table, folder.path(), "gamedata.db");
    EXPECT_EQ(table.recordCount(), 2);
    table.close();
    EXPECT_THROW(run("", "", "TITEL", "GameDaten.db"), EngineError);
    table.tableName = "CDData.db";
    try {
        table.open();
        ADD_FAILURE() << "a missing table opened";
    } catch (const EngineError& error) {
        // Named as the archive spells the file, not as the view asks for it.
        EXPECT_EQ(std::string(error.what()), "Tabelle '" + folder.file("CDData.DB") + "' nicht gefunden.");
    }
    EXPECT_EQ(folder.listing(), before);
}

TEST_F(QueryTest, PathsWithUriCharactersAreReadFromTheRightFile) {
    std::filesystem::create_directory(folder.file("a?b#c%20\"d\" \xC3\xA4"));
    const std::string sub = folder.file("a?b#c%20\"d\" \xE4");  // the program's spelling of that folder
    writeTable(sub + "/GameData.db", gamesView(), {game("Drin")});
    query.sql = {"SELECT * FROM " + quotedLiteral(sub + "/GameData.db")};
    query.open();
    EXPECT_EQ(valuesOf(query, "TITEL"), Strings{"Drin"});
}

TEST_F(QueryTest, FieldsAndOperatorsThatDoNotFitAreRefusedWithTheirPlace) {
    writeTable(folder.file("GameData.db"), gamesView(), {game("A", "50")});
    EXPECT_EQ(errorOf("XYZ LIKE \"a\""), "SQL-Fehler in Zeile 2, Spalte 7: Feld 'XYZ' nicht gefunden.");
    EXPECT_EQ(errorOf("", "TITEL, NOTE"), "SQL-Fehler in Zeile 2, Spalte 17: Feld 'NOTE' nicht gefunden.");
    EXPECT_EQ(errorOf("TITEL >= 5"),
              "SQL-Fehler in Zeile 2, Spalte 7: Das Feld 'TITEL' enth\xE4lt keine Zahlen; >= vergleicht nur Zahlen.");
    EXPECT_FALSE(query.active());
    // Field names ignore case; LIKE on a number compares its digits.
    EXPECT_EQ(run("titel LIKE \"A\" AND wertung LIKE \"5%\""), Strings{"A"});
    EXPECT_THROW(query.fieldByName("NOTE"), EngineError);
    EXPECT_THROW(query.field(7), EngineError);
    EXPECT_EQ(query.fieldCount(), 7);
}

// A file that is no table of ours is refused with what it holds instead.
TEST_F(QueryTest, FilesThatAreNoTableOfOursAreRefused) {
    const std::string file = folder.file("GameData.db");
    const std::string prefix = "Die Datei '" + file + "' ";
    const std::string fields = "TITEL TEXT, RUBRIK TEXT, GENRE TEXT, HERSTELLER TEXT, WERTUNG INTEGER, AUSGABE TEXT, "
                               "KOMMENTAR TEXT";
    struct Case {
        std::optional<std::string> sql;  // none: the text below is the file
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, prefix + "ist keine Tabelle: sie ist keine SQLite-Datenbank."},
        // An empty file is an empty database to SQLite.
        {"", prefix + "enth\xE4lt keine Tabelle."},
        {"CREATE TABLE a (x TEXT); CREATE TABLE b (y TEXT);",
         prefix + "enth\xE4lt 2 Tabellen ('a', 'b'); eine Tabellendatei des Archivs enth\xE4lt genau eine."},
        {"CREATE TABLE GameData (TITEL, RUBRIK, GENRE, HERSTELLER, WERTUNG, AUSGABE, KOMMENTAR);",
         "In der Tabelle '" + file + "' hat das Feld 'TITEL' keinen Datentyp; lesbar sind Felder vom Typ TEXT oder "
                                     "INTEGER."},
        {"CREATE TABLE GameData (TITEL TEXT, WERTUNG REAL);",
         "In der Tabelle '" + file + "' hat das Feld 'WERTUNG' den Datentyp 'REAL'; lesbar sind Felder vom Typ TEXT "
                                     "oder INTEGER."},
        {"CREATE TABLE GameData (" + fields + ", PRIMARY KEY (TITEL)) WITHOUT ROWID;",
         "Die Tabelle '" + file + "' hat keine Zeilennummern (WITHOUT ROWID) und kann nicht gelesen werden."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql.value_or("text"));
        std::filesystem::remove(file);
        clearImageCache();
        if (!c.sql) {
            std::ofstream(file) << "Dies ist keine Tabelle, sondern ein Text, lang genug f\xFCr einen Kopf.";
        } else {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
            sqlite3_exec(db, c.sql->c_str(), nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        EXPECT_EQ(errorOf(""), c.expected);
    }
}

TEST_F(QueryTest, ADamagedTableFailsInsteadOfGivingAShortResult) {
    const std::string path = folder.file("GameData.db");
    std::vector<Row> rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back({"Spiel " + std::to_string(i), "Action", "Rennspiel", "Hersteller", std::to_string(i % 100),
                        "2000/01", "Ein Kommentar, der die Seiten f\xFCllt " + std::to_string(i)});
    writeTable(path, gamesView(), rows);
    const std::string intact = fileContent(path);
    ASSERT_GT(intact.size(), 200000u);

    // Pages in the middle overwritten.
    std::string damaged = intact;
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 3 * 4096; ++i)
        damaged[i] = static_cast<char>((i * 7919) & 0xFF);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
    clearImageCache();
    EXPECT_EQ(errorOf(""), "Die Tabelle '" + path + "' ist besch\xE4" "digt.");

    // Cut off after two thirds.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << intact.substr(0, intact.size() * 2 / 3);
    clearImageCache();
    EXPECT_EQ(errorOf(""), "Die Tabelle '" + path + "' ist besch\xE4" "digt.");

    std::ofstream(path, std::ios::binary | std::ios::trunc) << intact;
    clearImageCache();
    EXPECT_EQ(run("").size(), 20000u);
}

// A table whose row ids lie far apart is read by two threads, split at the
// middle of the ids; ids at both ends of the 64-bit range must not overflow
// that split, and rows on either side of it come back in stored order.
TEST_F(QueryTest, RowIdsFarApartAreReadWholeAndInStoredOrder) {
    const std::string path = folder.file("GameData.db");
    writeTable(path, gamesView(), {game("Erstes"), game("Zweites"), game("Drittes"), game("Viertes")});
    runSql(path,
           "UPDATE GameData SET rowid = -9000000000000000000 WHERE TITEL = 'Erstes';"
           "UPDATE GameData SET rowid = -5 WHERE TITEL = 'Zweites';"
           "UPDATE GameData SET rowid = 5 WHERE TITEL = 'Drittes';"
           "UPDATE GameData SET rowid = 9000000000000000000 WHERE TITEL = 'Viertes'");
    clearImageCache();
    EXPECT_EQ(run(""), (Strings{"Erstes", "Zweites", "Drittes", "Viertes"}));
    EXPECT_EQ(run("", "TITEL DESC"), (Strings{"Zweites", "Viertes", "Erstes", "Drittes"}));
}

TEST_F(QueryTest, AChangedFileIsReadAgainAnUnchangedOneIsNot) {
    const std::string path = folder.file("GameData.db");
    writeTable(path, gamesView(), {game("Alt")});
    EXPECT_EQ(run(""), Strings{"Alt"});
    writeTable(path, gamesView(), {game("Neu"), game("Neuer")});  // replaced whole
    EXPECT_EQ(run(""), (Strings{"Neu", "Neuer"}));

    // Changed in place by another program, at once and keeping the size.
    runSql(path, "UPDATE GameData SET TITEL = 'Nex' WHERE TITEL = 'Neu'");
    EXPECT_EQ(run(""), (Strings{"Nex", "Neuer"}));

    // An open result keeps what it read.
    writeTable(path, gamesView(), {game("Drei")});
    query.first();
    EXPECT_EQ(query.fieldByName("TITEL").asString(), "Nex");
}

TEST_F(QueryTest, TheCursorIsSharedAndEveryOpenGivesFreshLabels) {
    writeTable(folder.file("GameData.db"), gamesView(), {game("B"), game("A"), game("C")});
    run("", "TITEL");
    query.first();
    std::vector<std::pair<DataSetEvent, int>> events;
    const int id = query.addListener([&](DataSetEvent event, int row) { events.emplace_back(event, row); });
    EXPECT_EQ(query.recNo(), 0);
    EXPECT_TRUE(query.bof());
    query.next();
    query.next();
    EXPECT_FALSE(query.eof());
    query.next();  // past the last: the cursor stays
    EXPECT_TRUE(query.eof());
    EXPECT_EQ(query.recNo(), 2);
    EXPECT_EQ(query.fieldByName("Titel").asString(), "C");
    query.moveTo(1);
    EXPECT_EQ(query.field(0).asString(), "B");
    EXPECT_EQ(events, (std::vector<std::pair<DataSetEvent, int>>{
                          {DataSetEvent::CursorMoved, 1}, {DataSetEvent::CursorMoved, 2}, {DataSetEvent::CursorMoved, 1}}));
    EXPECT_EQ(query.text(2, 0), "C");
    EXPECT_EQ(query.text(3, 0), "");  // out of range: nothing, no crash

    query.field(0).setDisplayLabel("Spieletitel");
    EXPECT_EQ(query.displayLabel(0), "Spieletitel");
    EXPECT_THROW(query.field(0).setAsString("x"), EngineError);
    query.removeListener(id);
    run("UPPER(TITEL) LIKE \"%Q%\"");
    EXPECT_EQ(query.displayLabel(0), "TITEL");
    EXPECT_EQ(query.recordCount(), 0);
    EXPECT_EQ(query.recNo(), -1);
    EXPECT_TRUE(query.eof());
    EXPECT_EQ(query.fieldByName("TITEL").asString(), "");
}

TEST_F(QueryTest, ASearchPreparedAheadIsWhatTheNextSearchUses) {
    std::vector<Row> rows;
    for (int i = 0; i < 300; ++i) rows.push_back(game((i % 3 ? "Ab " : "Xy ") + std::to_string(i % 40)));
    writeTable(folder.file("GameData.db"), gamesView(), rows);
    run("", "TITEL DESC");
    const TableImage& image = *query.image();
    const size_t before = image.totalMemory();
    query.prepareSearch("WERTUNG");  // no text field: nothing to do
    EXPECT_EQ(image.totalMemory(), before);
    query.prepareSearch("TITEL");
    const size_t prepared = image.totalMemory();
    EXPECT_GT(prepared, before);
    // The search itself finds everything at hand and gives the same rows as
    // the same search on a fresh image.
    const Strings found = run("UPPER(TITEL) LIKE \"%AB%\"", "TITEL DESC");
    EXPECT_EQ(query.image(), &image);
    EXPECT_EQ(image.totalMemory(), prepared);
    clearImageCache();
    EXPECT_EQ(run("UPPER(TITEL) LIKE \"%AB%\"", "TITEL DESC"), found);
    EXPECT_EQ(found.size(), 200u);
}
