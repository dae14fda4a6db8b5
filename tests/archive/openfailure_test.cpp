// Opening a table that is not as it should be: a write that was killed
// half-way, a file that cannot be read. The user sees the table as it was
// before the lost write, or one error that names the real cause.

#include "engine.h"
#include "filelayer.h"
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

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

constexpr int kRows = 3000;

std::string originalTitle(int n) { return "Titel " + std::to_string(100000 + n); }

Strings titles(const std::string& path) {
    clearImageCache();  // read the file itself, not a cached image
    Query query;
    query.sql = {"SELECT * FROM " + quotedLiteral(path), "ORDER BY TITEL"};
    query.open();
    return valuesOf(query, "TITEL");
}

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EngineError& error) {
        return error.what();
    }
    return "(no error)";
}

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
        for (int n = 0; n < kRows; ++n) rows.push_back(game(originalTitle(n)));
        writeTable(path, gamesView(), rows);
        for (int n = 0; n < kRows; ++n) expectedTitles.push_back(originalTitle(n));
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
    EXPECT_EQ(titles(path), expectedTitles);
    EXPECT_EQ(folder.listing(), Strings{"GameData.DB"});  // the journal is gone
    EXPECT_EQ(plainSqliteRows(path, "PRAGMA integrity_check"), Strings{"ok"});
    // The image read now is the table as it stays: editing starts from it.
    Table table;
    openForEditing(table, folder.path());
    table.setFieldText(0, "Neu");
    table.post();
    table.close();
    EXPECT_EQ(plainSqliteRows(path, "SELECT COUNT(*) FROM GameData WHERE TITEL LIKE 'Titel %'"),
              Strings{std::to_string(kRows - 1)});
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
        EXPECT_EQ(errorOf([&] { titles(path); }), expected);
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
    EXPECT_EQ(titles(copy.file("GameData.DB")), expectedTitles);
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
    EXPECT_EQ(errorOf([&] { titles(table); }), "Tabelle '" + table + "' nicht gefunden.");
    std::filesystem::create_directory(table);
    EXPECT_EQ(errorOf([&] { titles(table); }), "Die Tabelle '" + table + "' ist ein Ordner, keine Datei.");
    Table edit;
    edit.databaseName = other.path();
    edit.tableName = "GameData.db";
    edit.setReadOnly(false);
    EXPECT_EQ(errorOf([&] { edit.open(); }), "Die Tabelle '" + table + "' ist ein Ordner, keine Datei.");
    std::filesystem::remove(table);
    // A pipe is never opened: that would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(table.c_str(), 0644), 0);
    EXPECT_EQ(errorOf([&] { titles(table); }), "Die Datei '" + table + "' ist keine Tabelle.");
    std::filesystem::remove(table);
    writeWholeFileForTest(table, "TITEL\tAUSGABE\r\nGothic\t2001/05\r\n");
    EXPECT_EQ(errorOf([&] { titles(table); }), "Die Datei '" + table + "' ist keine Tabelle.");
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
        const std::string text = errorOf([&] { titles(path); });
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
