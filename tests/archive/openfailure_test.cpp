// Opening a table that is not as it should be: a write that was killed
// half-way, a file that cannot be read. The user sees the table as it was
// before the lost write, or one error that names the real cause.

#include "engine.h"
#include "querytext.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

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
    table.databaseName = folder.path();
    table.tableName = "GameData.db";
    table.setReadOnly(false);
    table.open();
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

}  // namespace
