// The one file writer under a failure of any single step (creating the fresh
// file, a write, the flush, the closing, the rename): it throws with the
// cause in German, the target keeps every byte it had (or stays absent) and
// no fresh file is left beside it.

#include "cp1252.h"
#include "engine.h"
#include "faultvfs.h"
#include "filefaults.h"
#include "imagecache.h"
#include "tablefixtures.h"
#include "testfolder.h"
#include "tablefile.h"
#include "textexchange.h"
#include "wholefile.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

// Runs `write` once to count its steps, then once per step with that step
// failing, each time on the state `setUp` makes; `check` sees every failure.
void failEveryStep(const std::function<void()>& setUp, const std::function<void()>& write,
                   const std::function<void(int step, const FileWriteError&)>& check) {
    int steps = 0;
    {
        setUp();
        FileStepFaults faults;
        write();
        steps = faults.count();
    }
    ASSERT_GE(steps, 4);  // create, at least one write, flush, close, rename
    for (int n = 1; n <= steps; ++n) {
        SCOPED_TRACE("step " + std::to_string(n));
        setUp();
        FileStepFaults faults;
        // The causes a full disk, a dying medium and a lost permission give.
        const int codes[] = {ENOSPC, EIO, EACCES};
        const int code = codes[n % 3];
        faults.failNth(n, code);
        try {
            write();
            ADD_FAILURE() << "a failed step was reported as success";
        } catch (const FileWriteError& error) {
            EXPECT_TRUE(faults.fired());
            EXPECT_EQ(error.code(), code);
            EXPECT_NE(std::string(error.what()).find(": " + fileErrorCause(code) + "."), std::string::npos)
                << error.what();
            check(n, error);
        }
    }
}

}  // namespace

TEST(WholeFileFault, AFailedWriteKeepsTheOldFileOrNone) {
    TestFolder folder;
    const std::string target = folder.file("Ausgabe \xE4.txt");
    const std::string fsTarget = cp1252ToUtf8(target);
    const std::string old = "alte Zeile\r\n";
    // More than the writer buffers.
    // GCC 12 at -O1 (the ThreadSanitizer build) takes std::string + "text" for
    // a copy out of bounds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
    const std::string fresh = std::string(3 << 20, 'n') + "\r\n";
#pragma GCC diagnostic pop
    for (const bool existed : {true, false}) {
        SCOPED_TRACE(existed ? "over an old file" : "no old file");
        failEveryStep(
            [&] {
                std::filesystem::remove(fsTarget);
                if (existed) std::ofstream(fsTarget, std::ios::binary) << old;
            },
            [&] { writeWholeFile(target, fresh); },
            [&](int, const FileWriteError& error) {
                EXPECT_NE(std::string(error.what()).find(target), std::string::npos);
                if (existed) {
                    EXPECT_EQ(fileContent(fsTarget), old);
                    EXPECT_EQ(folder.listing(), Strings{std::filesystem::path(fsTarget).filename().string()});
                } else {
                    EXPECT_EQ(folder.listing(), Strings{});
                }
            });
    }
}

TEST(WholeFileFault, AFailedExportKeepsTheOldExport) {
    TestFolder folder;
    writeTable(folder.file("TippsData.db"), tipsView(),
               {{"Gothic", "2001/05", "L\xF6sung", "3"}, {"Anno 1602", "1998/06", "Cheat", ""}});
    clearImageCache();
    Table table;
    openTable(table, folder.path(), "TippsData.db");
    const std::string target = folder.file("TippsData.db.txt");
    const std::string old = "Alt\t1990/01\tCheat\t1\r\n";
    auto exportTable = [&] {
        WholeFileWriter out(target);
        exportRecords(table, out);
        out.commit();
    };
    failEveryStep([&] { std::ofstream(target, std::ios::binary) << old; }, exportTable,
                  [&](int, const FileWriteError&) {
                      EXPECT_EQ(fileContent(target), old);
                      EXPECT_EQ(folder.listing(), (Strings{"TippsData.db", "TippsData.db.txt"}));
                  });
    // Without a fault the export replaces the old one.
    exportTable();
    EXPECT_EQ(fileContent(target), "Gothic\t2001/05\tL\xF6sung\t3\r\nAnno 1602\t1998/06\tCheat\t\r\n");
}

TEST(WholeFileFault, AFailedCopyKeepsTheOlderCopy) {
    TestFolder source;
    TestFolder target;
    // GCC 12 at -O1 (the ThreadSanitizer build) takes std::string + "text" for
    // a copy out of bounds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
    const std::string table = std::string(2 << 20, 't') + "ende";
#pragma GCC diagnostic pop
    std::ofstream(source.file("GameData.db"), std::ios::binary) << table;
    const std::string older = "older copy";
    failEveryStep([&] { std::ofstream(target.file("GameData.db"), std::ios::binary) << older; },
                  [&] { copyWholeFile(source.file("GameData.db"), target.file("GameData.db")); },
                  [&](int, const FileWriteError&) {
                      EXPECT_EQ(fileContent(target.file("GameData.db")), older);
                      EXPECT_EQ(target.listing(), Strings{"GameData.db"});
                      EXPECT_EQ(fileContent(source.file("GameData.db")), table);
                  });
}

// A new table file written whole (the sample archive's tables): a failure of
// any SQLite call into the fresh file or of any step of putting it in place
// throws, keeps the old table byte for byte and leaves nothing beside it, in
// WAL mode too.
TEST(WholeFileFault, AFailedTableFileKeepsTheOldTable) {
    faultvfs::install();
    const std::vector<Row> rows = {{"Neu", "2004/04", "Cheat", "4"}, {"Neuer", "2004/05", "L\xF6sung", ""}};
    for (const bool wal : {false, true}) {
        SCOPED_TRACE(wal ? "WAL mode" : "rollback journal");
        TestFolder folder;
        const std::string path = folder.file("TippsData.DB");
        writeTable(path, tipsView(), {{"Alt", "1999/01", "Cheat", "1"}});
        if (wal) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        const std::string old = fileContent(path);
        auto write = [&] {
            TableFileWriter writer(path, tipsView());
            for (const Row& row : rows) writer.add(row);
            writer.commit();
        };
        // Copies of the old file are restored before each run.
        auto restore = [&] { std::ofstream(path, std::ios::binary | std::ios::trunc) << old; };
        auto checkUntouched = [&](const std::string& error) {
            EXPECT_NE(error.find("Tabelle '" + path + "'"), std::string::npos) << error;
            EXPECT_EQ(fileContent(path), old);
            EXPECT_EQ(folder.listing(), Strings{"TippsData.DB"});
        };

        int steps = 0;
        faultvfs::reset();
        {
            FileStepFaults faults;
            write();
            steps = faults.count();
        }
        int calls[3];
        for (int kind = 0; kind < 3; ++kind) calls[kind] = faultvfs::count(static_cast<faultvfs::Kind>(kind));
        EXPECT_EQ(folder.listing(), Strings{"TippsData.DB"});
        const std::string written = fileContent(path);
        ASSERT_NE(written, old);

        for (int n = 1; n <= steps; ++n) {
            SCOPED_TRACE("file step " + std::to_string(n));
            restore();
            FileStepFaults faults;
            faults.failNth(n, ENOSPC);
            std::string error;
            try {
                write();
            } catch (const EngineError& failure) {
                error = failure.what();
            }
            EXPECT_TRUE(faults.fired());
            checkUntouched(error);
            EXPECT_NE(error.find("Datentr\xE4ger voll"), std::string::npos);
        }
        const faultvfs::Kind kinds[] = {faultvfs::Kind::Write, faultvfs::Kind::Sync, faultvfs::Kind::Lock};
        for (const faultvfs::Kind kind : kinds) {
            for (int n = 1; n <= calls[static_cast<int>(kind)]; ++n) {
                SCOPED_TRACE("SQLite call " + std::to_string(static_cast<int>(kind)) + "/" + std::to_string(n));
                restore();
                faultvfs::reset();
                faultvfs::failNth(kind, n, faultvfs::usualCode(kind));
                std::string error;
                try {
                    write();
                } catch (const EngineError& failure) {
                    error = failure.what();
                }
                const bool fired = faultvfs::fired();
                faultvfs::reset();
                EXPECT_TRUE(fired);
                // A failure while the fresh file is closed, after its rows
                // are in, may end in success: then the new table stands whole.
                if (error.empty()) {
                    EXPECT_EQ(fileContent(path), written);
                    EXPECT_EQ(folder.listing(), Strings{"TippsData.DB"});
                } else {
                    checkUntouched(error);
                }
            }
        }
    }
}
