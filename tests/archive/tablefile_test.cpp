#include "engine.h"
#include "tablefile.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace archive;

namespace {

void writeText(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace

TEST(TableFileWriter, WritesOneTableWithTheFieldsInOrderAsUtf8AndNulls) {
    TestFolder folder;
    const std::string path = folder.file("TippsData.db");
    {
        TableFileWriter writer(path, tipsView());
        writer.add({"Gothic", "2001/05", "L\xF6sung", "12"});
        writer.add({"Ohne Z\xE4hler", "", std::nullopt, ""});
        writer.commit();
    }
    EXPECT_EQ(plainSqliteRows(path, "SELECT name, sql FROM sqlite_master"),
              std::vector<std::string>{"TippsData|CREATE TABLE \"TippsData\" (\"TITEL\" TEXT, \"AUSGABE\" TEXT, "
                                       "\"ART\" TEXT, \"COUNTER\" INTEGER)"});
    EXPECT_EQ(plainSqliteRows(path, "SELECT *, typeof(COUNTER) FROM TippsData ORDER BY rowid"),
              (std::vector<std::string>{"Gothic|2001/05|L\xC3\xB6sung|12|integer", "Ohne Z\xC3\xA4hler|NULL|NULL|NULL|null"}));
    EXPECT_EQ(plainSqliteRows(path, "PRAGMA journal_mode"), std::vector<std::string>{"delete"});
    EXPECT_EQ(folder.listing(), std::vector<std::string>{"TippsData.db"});
}

TEST(TableFileWriter, WithoutCommitTheTargetStaysAndNothingIsLeftBehind) {
    TestFolder folder;
    const std::string path = folder.file("CDData.db");
    writeText(path, "the old content");
    {
        TableFileWriter writer(path, discView());
        writer.add({"Demo 1", "1999/04", "Demo", "CD"});
        EXPECT_EQ(folder.listing().size(), 2u);  // the temporary file beside it
    }
    EXPECT_EQ(folder.listing(), std::vector<std::string>{"CDData.db"});
    std::ifstream in(path);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "the old content");
}

TEST(TableFileWriter, RefusesAValueOfTheWrongKindOrARowOfTheWrongWidth) {
    TestFolder folder;
    const std::string path = folder.file("GameData.db");
    TableFileWriter writer(path, gamesView());
    EXPECT_THROW(writer.add({"X", "Action", "Rennspiel", "Hersteller", "gut", "2000/01", ""}), EngineError);
    EXPECT_THROW(writer.add({"X", "Action"}), EngineError);
    writer.add({"X", "Action", "Rennspiel", "Hersteller", " 85 ", "2000/01", ""});
    writer.commit();
    EXPECT_EQ(plainSqliteRows(path, "SELECT TITEL, WERTUNG FROM GameData"), std::vector<std::string>{"X|85"});
}

TEST(FindFileIgnoringCase, FindsTheCopiedSpellingAndPrefersAnExactMatch) {
    TestFolder folder;
    writeText(folder.file("GameData.DB"), "");
    EXPECT_EQ(findFileIgnoringCase(folder.path(), "GameData.db"), folder.file("GameData.DB"));
    EXPECT_EQ(findFileIgnoringCase(folder.path() + "/", "gamedata.db"), folder.file("GameData.DB"));
    EXPECT_EQ(findFileIgnoringCase(folder.path(), "CDData.db"), std::nullopt);
    writeText(folder.file("GameData.db"), "");
    EXPECT_EQ(findFileIgnoringCase(folder.path(), "GameData.db"), folder.file("GameData.db"));
    // A folder of that name is not a table file.
    std::filesystem::create_directory(folder.file("TIPPSDATA.DB"));
    EXPECT_EQ(findFileIgnoringCase(folder.path(), "TippsData.db"), std::nullopt);
    EXPECT_EQ(findFileIgnoringCase(folder.file("missing"), "TippsData.db"), std::nullopt);
}

TEST(FindFileIgnoringCase, ComparesUmlautsInTheProgramsEncoding) {
    TestFolder folder;
    writeText(folder.file("L\xC3\x96SUNG.db"), "");  // on disk in UTF-8
    EXPECT_EQ(findFileIgnoringCase(folder.path(), "l\xF6sung.DB"), folder.path() + "/L\xD6SUNG.db");
}

TEST(TableFileWriter, AFolderThatIsMissingIsReportedInGerman) {
    TestFolder folder;
    const std::string path = folder.file("fehlt") + "/GameData.db";
    EXPECT_EQ(errorOf([&] { TableFileWriter writer(path, gamesView()); }),
              "Die Tabelle '" + path + "' konnte nicht geschrieben werden: das Verzeichnis fehlt.");
    EXPECT_TRUE(folder.listing().empty());
}
