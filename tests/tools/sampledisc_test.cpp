#include "cp1252.h"
#include "disclayout.h"
#include "samplearchive.h"
#include "tables.h"
#include "testfolder.h"

#include <sqlite3.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Value = std::optional<std::string>;  // Windows-1252, nothing for NULL

struct TableContent {
    std::vector<std::string> columns;
    std::vector<std::vector<Value>> rows;
    std::set<std::string> storageClasses;  // typeof() of the integer fields' values
};

// Reads the one table in a table file with plain SQLite, converting the text
// back to the program's Windows-1252.
TableContent readTable(const fs::path& file, const archive::ViewDef& view) {
    TableContent content;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << file;
    const auto query = [&](const std::string& sql, const auto& onRow) {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        while (statement && sqlite3_step(statement) == SQLITE_ROW) onRow(statement);
        sqlite3_finalize(statement);
    };
    const auto text = [](sqlite3_stmt* statement, int column) -> Value {
        if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
        return archive::utf8ToCp1252(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
    };
    std::vector<std::string> tables;
    query("SELECT name FROM sqlite_master WHERE type = 'table'",
          [&](sqlite3_stmt* statement) { tables.push_back(*text(statement, 0)); });
    EXPECT_EQ(tables.size(), 1u) << file;
    if (tables.size() != 1) {
        sqlite3_close(db);
        return content;
    }
    const std::string table = "\"" + tables[0] + "\"";
    query("PRAGMA table_info(" + table + ")",
          [&](sqlite3_stmt* statement) { content.columns.push_back(*text(statement, 1)); });
    query("SELECT * FROM " + table, [&](sqlite3_stmt* statement) {
        std::vector<Value> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) row.push_back(text(statement, i));
        content.rows.push_back(std::move(row));
    });
    for (size_t i = 0; i < view.fields.size(); ++i)
        if (view.fields[i].kind == archive::FieldKind::Integer)
            query("SELECT DISTINCT typeof(\"" + std::string(view.fields[i].name) + "\") FROM " + table,
                  [&](sqlite3_stmt* statement) { content.storageClasses.insert(*text(statement, 0)); });
    sqlite3_close(db);
    return content;
}

std::vector<std::string> fieldNames(const archive::ViewDef& view) {
    std::vector<std::string> names;
    for (const archive::FieldDef& field : view.fields) names.emplace_back(field.name);
    return names;
}

std::set<std::string> namesOf(std::span<const archive::CodeEntry> codes) {
    std::set<std::string> names;
    for (const archive::CodeEntry& entry : codes) names.emplace(entry.name);
    return names;
}

std::set<std::string> namesOf(std::span<const std::string_view> list) { return {list.begin(), list.end()}; }

// The distinct values of one field.
std::map<std::string, int> tally(const TableContent& table, const archive::ViewDef& view, std::string_view field) {
    std::map<std::string, int> counts;
    const int column = archive::fieldIndex(view, field);
    for (const auto& row : table.rows) ++counts[row[column].value_or("NULL")];
    return counts;
}

std::set<std::string> keysOf(const std::map<std::string, int>& counts) {
    std::set<std::string> keys;
    for (const auto& [key, count] : counts) keys.insert(key);
    return keys;
}

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string issueText(archive::Issue issue) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d", issue.year, issue.month);
    return text;
}

// The archive at its default size, written once for the whole suite.
class SampleArchive : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TestFolder;
        sampledisc::writeSampleTables(folder_->path(), sampledisc::kDefaultGameCount);
        games_ = new TableContent(readTable(file(archive::gamesView()), archive::gamesView()));
        disc_ = new TableContent(readTable(file(archive::discView()), archive::discView()));
        tips_ = new TableContent(readTable(file(archive::tipsView()), archive::tipsView()));
    }
    static void TearDownTestSuite() {
        delete games_;
        delete disc_;
        delete tips_;
        delete folder_;
    }
    static fs::path file(const archive::ViewDef& view) { return *folder_ / view.copiedFileName; }

    static inline TestFolder* folder_ = nullptr;
    static inline TableContent* games_ = nullptr;
    static inline TableContent* disc_ = nullptr;
    static inline TableContent* tips_ = nullptr;
};

TEST_F(SampleArchive, SecondRunWritesTheSameBytes) {
    TestFolder again;
    sampledisc::writeSampleTables(again.path(), sampledisc::kDefaultGameCount);
    for (const archive::ViewDef* view : archive::allViews()) {
        const std::string first = fileBytes(file(*view));
        EXPECT_FALSE(first.empty()) << view->copiedFileName;
        EXPECT_TRUE(first == fileBytes(again / view->copiedFileName)) << view->copiedFileName << " differs";
    }
}

TEST_F(SampleArchive, TablesHoldTheirFieldsInOrderAndTheirSizes) {
    EXPECT_EQ(games_->columns, fieldNames(archive::gamesView()));
    EXPECT_EQ(disc_->columns, fieldNames(archive::discView()));
    EXPECT_EQ(tips_->columns, fieldNames(archive::tipsView()));
    const sampledisc::TableSizes sizes = sampledisc::tableSizes(sampledisc::kDefaultGameCount);
    EXPECT_EQ(static_cast<long long>(games_->rows.size()), sizes.games);
    EXPECT_EQ(static_cast<long long>(disc_->rows.size()), sizes.discItems);
    EXPECT_EQ(static_cast<long long>(tips_->rows.size()), sizes.tips);
    // Ratings and counters are numbers in the file, so they sort as numbers.
    EXPECT_EQ(games_->storageClasses, (std::set<std::string>{"integer", "null"}));
    EXPECT_EQ(tips_->storageClasses, (std::set<std::string>{"integer"}));
}

TEST_F(SampleArchive, CategoriesUseEveryListedNameAndNothingElse) {
    EXPECT_EQ(keysOf(tally(*games_, archive::gamesView(), "RUBRIK")), namesOf(archive::sectionCodes()));
    EXPECT_EQ(keysOf(tally(*games_, archive::gamesView(), "GENRE")), namesOf(archive::genreCodes()));
    EXPECT_EQ(keysOf(tally(*disc_, archive::discView(), "ART")), namesOf(archive::discItemKinds()));
    EXPECT_EQ(keysOf(tally(*disc_, archive::discView(), "MEDIUM")), namesOf(archive::media()));
    EXPECT_EQ(keysOf(tally(*tips_, archive::tipsView(), "ART")), namesOf(archive::tipKindCodes()));
    EXPECT_GT(tally(*tips_, archive::tipsView(), "ART")["L\xF6sung"], 0);
}

TEST_F(SampleArchive, IssuesAreWellFormedAndSpanTheArchive) {
    const struct {
        const TableContent* table;
        const archive::ViewDef* view;
        archive::Issue newest;
    } tables[] = {{games_, &archive::gamesView(), sampledisc::kNewestGameIssue},
                  {disc_, &archive::discView(), sampledisc::kNewestDiscIssue},
                  {tips_, &archive::tipsView(), sampledisc::kNewestTipIssue}};
    for (const auto& entry : tables) {
        const std::map<std::string, int> issues = tally(*entry.table, *entry.view, "AUSGABE");
        for (const auto& [code, count] : issues) {
            const std::optional<archive::Issue> issue = archive::parseIssueCode(code);
            ASSERT_TRUE(issue) << entry.view->name << ": " << code;
        }
        // Text order is time order, so the ends of the map are the first and the newest issue.
        EXPECT_EQ(issues.begin()->first, "1997/10") << entry.view->name;
        EXPECT_EQ(issues.rbegin()->first, issueText(entry.newest)) << entry.view->name;
        EXPECT_EQ(static_cast<int>(issues.size()), sampledisc::issueCountUpTo(entry.newest)) << entry.view->name;
    }
    for (const auto& [code, count] : tally(*games_, archive::gamesView(), "AUSGABE"))
        EXPECT_GE(count, 12) << "games in " << code;
    EXPECT_EQ(sampledisc::issueCountUpTo({12, 1997}), 3);
    EXPECT_EQ(sampledisc::issueCountUpTo(sampledisc::kNewestGameIssue), 84);  // 1997/10 .. 2004/09
}

TEST_F(SampleArchive, DvdOnlyFromTheFirstDvdIssueOn) {
    const int issueColumn = archive::fieldIndex(archive::discView(), "AUSGABE");
    const int mediumColumn = archive::fieldIndex(archive::discView(), "MEDIUM");
    const std::string firstDvd = issueText(sampledisc::kFirstDvdIssue);
    int cdAfterDvd = 0;
    for (const auto& row : disc_->rows) {
        if (*row[issueColumn] < firstDvd) EXPECT_EQ(*row[mediumColumn], "CD") << *row[issueColumn];
        else if (*row[mediumColumn] == "CD") ++cdAfterDvd;
    }
    EXPECT_GT(cdAfterDvd, 0);
}

TEST_F(SampleArchive, RatingsMostlyBetweenFiftyAndNinetyWithAFewUnrated) {
    const int column = archive::fieldIndex(archive::gamesView(), "WERTUNG");
    int unrated = 0, middling = 0;
    for (const auto& row : games_->rows) {
        if (!row[column]) {
            ++unrated;
            continue;
        }
        const int rating = std::stoi(*row[column]);
        EXPECT_TRUE(rating >= 0 && rating <= 100) << rating;
        if (rating >= 50 && rating <= 90) ++middling;
    }
    const int rows = static_cast<int>(games_->rows.size());
    EXPECT_GT(unrated, 0);
    EXPECT_LT(unrated, rows / 10);
    EXPECT_GT(middling, (rows - unrated) * 8 / 10);
}

TEST_F(SampleArchive, TitlesCarryUmlautsQuotesAndPercentSigns) {
    const int titleColumn = archive::fieldIndex(archive::gamesView(), "TITEL");
    int umlauts = 0, quotes = 0, percents = 0;
    for (const auto& row : games_->rows) {
        const std::string& title = row[titleColumn].value_or("");
        ASSERT_FALSE(title.empty());
        if (title.find_first_of("\xE4\xF6\xFC\xC4\xD6\xDC\xDF") != std::string::npos) ++umlauts;
        if (title.find('"') != std::string::npos) ++quotes;
        if (title.find('%') != std::string::npos) ++percents;
    }
    EXPECT_GT(umlauts, 0);
    // A few of each, not a flood.
    EXPECT_GT(quotes, 0);
    EXPECT_LT(quotes, static_cast<int>(games_->rows.size()) / 20);
    EXPECT_GT(percents, 0);
    EXPECT_LT(percents, static_cast<int>(games_->rows.size()) / 20);
}

TEST_F(SampleArchive, TipsAreForTestedGamesAndCountSomething) {
    std::set<std::string> tested;
    const int gameTitle = archive::fieldIndex(archive::gamesView(), "TITEL");
    for (const auto& row : games_->rows) tested.insert(*row[gameTitle]);
    const int tipTitle = archive::fieldIndex(archive::tipsView(), "TITEL");
    const int counter = archive::fieldIndex(archive::tipsView(), "COUNTER");
    for (const auto& row : tips_->rows) {
        EXPECT_TRUE(tested.count(*row[tipTitle])) << *row[tipTitle];
        EXPECT_GE(std::stoi(*row[counter]), 1);
    }
}

TEST(SampleArchiveScale, GivesTheAskedNumberOfGamesAndTheOthersInProportion) {
    TestFolder folder;
    sampledisc::writeSampleTables(folder.path(), 5000);
    EXPECT_EQ(readTable(folder / "GameData.DB", archive::gamesView()).rows.size(), 5000u);
    EXPECT_EQ(readTable(folder / "CDData.DB", archive::discView()).rows.size(), 2500u);
    EXPECT_EQ(readTable(folder / "TippsData.DB", archive::tipsView()).rows.size(), 1666u);

    // Even a tiny archive has rows in every table and reaches the newest issue.
    const sampledisc::TableSizes tiny = sampledisc::tableSizes(1);
    EXPECT_EQ(tiny.discItems, 1);
    EXPECT_EQ(tiny.tips, 1);
    EXPECT_THROW(sampledisc::tableSizes(0), std::invalid_argument);
    EXPECT_THROW(sampledisc::tableSizes(sampledisc::kMaxGameCount + 1), std::invalid_argument);
}

TEST(SampleArchiveScale, RowsPerIssueCoverTheIssuesAndAddUp) {
    const int issues = 84;
    for (const long long total : {1LL, 2LL, 5LL, 83LL, 84LL, 85LL, 1500LL, 1000000LL}) {
        const std::vector<long long> counts = sampledisc::rowsPerIssue(total, issues, 7);
        ASSERT_EQ(counts.size(), static_cast<size_t>(issues));
        long long sum = 0;
        for (const long long count : counts) {
            EXPECT_GE(count, total >= issues ? 1 : 0) << total;
            sum += count;
        }
        EXPECT_EQ(sum, total);
        EXPECT_GE(counts.back(), 1) << "newest issue, total " << total;
        if (total >= 2) {
            EXPECT_GE(counts.front(), 1) << "first issue, total " << total;
        }
    }
}

TEST(SampleArchiveScale, LargeArchiveHasEveryGameUpToTheNewestIssue) {
    long long games = 0;
    std::string lastIssue;
    sampledisc::generateGames(200000, [&](const archive::Row& row) {
        ++games;
        lastIssue = *row[archive::fieldIndex(archive::gamesView(), "AUSGABE")];
    });
    EXPECT_EQ(games, 200000);
    EXPECT_EQ(lastIssue, issueText(sampledisc::kNewestGameIssue));
}

// The generator as a program, run from a folder of its own with stand-ins for
// the program and the engine installer beside it.
class SampleDiscProgram : public ::testing::Test {
protected:
    void SetUp() override {
        binFolder_ = work_ / "bin";
        fs::create_directories(binFolder_);
        fs::copy_file(QUILLORA_SAMPLE_DISC_EXE, binFolder_ / "quillora-sample-disc");
    }
    void putStandIn(std::string_view name, const std::string& content) {
        std::ofstream(binFolder_ / name, std::ios::binary) << content;
        fs::permissions(binFolder_ / name, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }
    // Exit code of the generator; its error output goes to errors_.
    int run(const std::string& arguments) {
        const fs::path errorFile = work_ / "stderr.txt";
        const std::string command = "'" + (binFolder_ / "quillora-sample-disc").string() + "' " + arguments +
                                    " > /dev/null 2> '" + errorFile.string() + "'";
        const int status = std::system(command.c_str());
        errors_ = fileBytes(errorFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TestFolder work_;
    fs::path binFolder_;
    std::string errors_;
};

TEST_F(SampleDiscProgram, WritesTheWholeDisc) {
    putStandIn("quillora", "#!/bin/sh\necho program\n");
    putStandIn("quillora-engine-setup", "#!/bin/sh\necho installer\n");
    const fs::path disc = work_ / "disc";
    ASSERT_EQ(run("'" + disc.string() + "' --scale 300"), 0) << errors_;

    for (const archive::ViewDef* view : archive::allViews())
        EXPECT_TRUE(fs::is_regular_file(disc / "DATA" / view->copiedFileName)) << view->copiedFileName;
    EXPECT_EQ(readTable(disc / "DATA" / "GameData.DB", archive::gamesView()).rows.size(), 300u);
    const struct {
        fs::path copy;
        std::string original;
    } copies[] = {{disc / "QLEngine" / "Setup.exe", "quillora-engine-setup"},
                  {disc / "quillora", "quillora"},
                  {disc / "quillorahd", "quillora"}};
    for (const auto& entry : copies) {
        EXPECT_EQ(fileBytes(entry.copy), fileBytes(binFolder_ / entry.original)) << entry.copy;
        EXPECT_EQ(fs::status(entry.copy).permissions() & fs::perms::owner_exec, fs::perms::owner_exec) << entry.copy;
        EXPECT_FALSE(fs::exists(entry.copy.string() + ".part")) << entry.copy;
    }

    // Running again over an existing disc replaces it with the same content.
    const std::string games = fileBytes(disc / "DATA" / "GameData.DB");
    ASSERT_EQ(run("--scale=300 '" + disc.string() + "'"), 0) << errors_;
    EXPECT_TRUE(games == fileBytes(disc / "DATA" / "GameData.DB"));
}

TEST_F(SampleDiscProgram, MissingProgramWritesNothingAndSaysWhich) {
    putStandIn("quillora-engine-setup", "#!/bin/sh\n");
    const fs::path disc = work_ / "disc";
    EXPECT_NE(run("'" + disc.string() + "'"), 0);
    EXPECT_NE(errors_.find((binFolder_ / "quillora").string()), std::string::npos) << errors_;
    EXPECT_EQ(errors_.find("quillora-engine-setup"), std::string::npos) << errors_;
    EXPECT_FALSE(fs::exists(disc));
}

TEST_F(SampleDiscProgram, RejectsBadArguments) {
    putStandIn("quillora", "#!/bin/sh\n");
    putStandIn("quillora-engine-setup", "#!/bin/sh\n");
    const fs::path disc = work_ / "disc";
    for (const std::string& arguments : {std::string(), "'" + disc.string() + "' --scale",
                                        "'" + disc.string() + "' --scale 0", "'" + disc.string() + "' --scale 12x",
                                        "'" + disc.string() + "' --scale 10000001", "'" + disc.string() + "' --fast",
                                        "'" + disc.string() + "' other"}) {
        EXPECT_EQ(run(arguments), 2) << arguments;
        EXPECT_FALSE(errors_.empty()) << arguments;
    }
    EXPECT_FALSE(fs::exists(disc));
}

}  // namespace
