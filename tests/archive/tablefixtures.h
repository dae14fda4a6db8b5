#pragma once
// Table files for the engine's tests, written the way the program writes them.

#include "engine.h"
#include "tablefile.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline void writeTable(const std::string& path, const archive::ViewDef& view, const std::vector<archive::Row>& rows) {
    archive::TableFileWriter writer(path, view);
    for (const archive::Row& row : rows) writer.add(row);
    writer.commit();
}

// A game row with the fields that matter to a test; the others are filled in.
inline archive::Row game(std::string title, archive::Cell rating = std::nullopt, std::string section = "Action",
                         std::string issue = "2000/01") {
    return {std::move(title), std::move(section), "Rennspiel", "Hersteller", std::move(rating), std::move(issue),
            "Kommentar"};
}

// The rows of a statement as any other SQLite tool reads the file: the
// fields of a row joined by "|", NULL as "NULL".
// Opened read-write (`openFlags`), it reads as the next program to open the
// file would: a journal left by a killed writer is rolled back first.
inline std::vector<std::string> plainSqliteRows(const std::string& path, const std::string& sql,
                                                int openFlags = SQLITE_OPEN_READONLY) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, openFlags, nullptr), SQLITE_OK);
    std::vector<std::string> rows;
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
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

// Opens `table` on the games file in `folder` for editing.
inline void openForEditing(archive::Table& table, const std::string& folder) {
    table.databaseName = folder;
    table.tableName = "GameData.db";
    table.setReadOnly(false);
    table.open();
}

inline std::string fileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every value of one field, walking the data set from its first record.
inline std::vector<std::string> valuesOf(archive::DataSet& dataSet, std::string_view field) {
    std::vector<std::string> values;
    for (dataSet.first(); !dataSet.eof(); dataSet.next()) values.push_back(dataSet.fieldByName(field).asString());
    return values;
}

// Sets or clears the immutable attribute of a file or folder, which stops
// root too. False where the file system or a missing capability (a
// container) does not allow it.
inline bool setImmutableAttribute(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Takes every write permission bit off a file or folder for as long as it
// lives; for root, who ignores the bits, also sets the immutable attribute
// where that is allowed.
class Unwritable {
public:
    explicit Unwritable(std::string path) : path_(std::move(path)) {
        struct stat info {};
        ::stat(path_.c_str(), &info);
        mode_ = info.st_mode & 07777;
        bitsCleared_ = ::chmod(path_.c_str(), mode_ & ~0222) == 0;
        if (::geteuid() == 0) immutable_ = setImmutableAttribute(path_, true);
    }
    ~Unwritable() {
        if (immutable_) setImmutableAttribute(path_, false);
        ::chmod(path_.c_str(), mode_);
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;
    // No write permission bit is left: the program's own rule for a
    // read-only table, which holds for root as well.
    bool bitsCleared() const { return bitsCleared_; }
    // The system itself refuses writing, root included.
    bool refusedBySystem() const { return ::access(path_.c_str(), W_OK) != 0; }

private:
    std::string path_;
    mode_t mode_ = 0;
    bool bitsCleared_ = false;
    bool immutable_ = false;
};
