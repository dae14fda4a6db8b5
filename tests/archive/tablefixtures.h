#pragma once
// Table files for the engine's tests, written the way the program writes them.

#include "cp1252.h"
#include "engine.h"
#include "imagecache.h"
#include "querytext.h"
#include "tablefile.h"
#include "textexchange.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
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

// Runs `sql` (Windows-1252) on the file at `path` as another program would,
// waiting for a writer of its own to finish.
inline void runSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    EXPECT_EQ(sqlite3_exec(db, archive::cp1252ToUtf8(sql).c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db) << " in " << sql;
    sqlite3_close(db);
}

// Opens `table` on `file` in `folder` as it is set, or for editing.
inline void openTable(archive::Table& table, const std::string& folder, const std::string& file) {
    table.databaseName = folder;
    table.tableName = file;
    table.open();
}
inline void openForEditing(archive::Table& table, const std::string& folder,
                           const std::string& file = "GameData.db") {
    table.setReadOnly(false);
    openTable(table, folder, file);
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

// Appends every line `reader` holds, as the import does.
inline void importLines(archive::Table& table, archive::ImportLineReader& reader) {
    table.appendRecords([&](std::array<std::string, 4>& values) {
        std::string line;
        if (!reader.readLine(line)) return false;
        values = archive::splitImportLine(line);
        return true;
    });
}

// The text of the engine error `action` ends in, "(no error)" when it ends without one.
inline std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const archive::EngineError& error) {
        return error.what();
    }
    return "(no error)";
}

// Every record of a data set, each field followed by "|", NULL as "<NULL>"
// so that it stays apart from an empty text.
inline std::vector<std::string> recordsOf(const archive::DataSet& dataSet) {
    std::vector<std::string> records;
    for (int record = 0; record < dataSet.recordCount(); ++record) {
        std::string line;
        for (int field = 0; field < dataSet.fieldCount(); ++field) {
            line += dataSet.isNull(record, field) ? std::string("<NULL>") : std::string(dataSet.text(record, field));
            line += '|';
        }
        records.push_back(line);
    }
    return records;
}

// Opens `query` on the table file at `path`, worded as the main window words
// it: the WHERE line ends in a blank, an empty part gets no line.
inline archive::Query& openOn(archive::Query& query, const std::string& path, const std::string& where = "",
                              const std::string& orderBy = "") {
    query.close();
    query.databaseName = std::filesystem::path(path).parent_path().string();
    query.sql = {"SELECT * FROM " + archive::quotedLiteral(path)};
    if (!where.empty()) query.sql.push_back("WHERE " + where + " ");
    if (!orderBy.empty()) query.sql.push_back("ORDER BY " + orderBy);
    query.prepare();
    query.open();
    return query;
}

// The titles of the table file at `path` in title order, read from the file
// itself rather than from an image kept of it.
inline std::vector<std::string> titlesOf(const std::string& path) {
    archive::clearImageCache();
    archive::Query query;
    return valuesOf(openOn(query, path, "", "TITEL"), "TITEL");
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

// ---- damage as bad luck does it to a table file

// A table of the view with `rows` rows of distinct values, and then, as a
// table that was edited lives, a run of rows deleted, so that pages lie on
// its free list.
inline void writeLivedInTable(const std::string& path, const archive::ViewDef& view, int rows) {
    archive::TableFileWriter writer(path, view);
    for (int i = 0; i < rows; ++i) {
        archive::Row row;
        for (const archive::FieldDef& field : view.fields)
            row.emplace_back(field.kind == archive::FieldKind::Integer
                                 ? std::to_string(i % 101)
                                 : std::string(field.name) + " " + std::to_string(i) + " \xE4\xF6\xFC");
        writer.add(row);
    }
    writer.commit();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string table(view.tableFile.substr(0, view.tableFile.find('.')));
    sqlite3_exec(db, ("DELETE FROM " + table + " WHERE rowid BETWEEN " + std::to_string(rows / 5) + " AND " +
                      std::to_string(rows / 2))
                         .c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

inline void writeFileContent(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The file's page size from its header.
inline size_t pageSizeOf(const std::string& bytes) {
    const size_t size = (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
    return size == 1 ? 65536 : size;
}

// Where the b-tree header of page `page` (counted from 1) starts.
inline size_t pageHeaderAt(const std::string& bytes, size_t page) {
    return page == 1 ? 100 : (page - 1) * pageSizeOf(bytes);
}

// The English words of SQLite's own messages: none may stand in a box
// outside brackets or quotes.
inline std::string englishOutsideBrackets(const std::string& text) {
    std::string outside;
    int depth = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '\'' && depth == 0) quoted = !quoted;
        else if (c == '(' && !quoted) ++depth;
        else if (c == ')' && !quoted && depth > 0) --depth;
        else if (depth == 0 && !quoted) outside += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    // "Format" is a German word as well.
    std::vector<std::string> words = {"malformed", "unsupported", "file", "database", "error"};
    for (int code = 0; code <= SQLITE_NOTADB; ++code) {
        std::string word;
        for (const char* c = sqlite3_errstr(code);; ++c) {
            if (*c && std::isalpha(static_cast<unsigned char>(*c))) {
                word += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            } else {
                if (word.size() >= 4 && word != "format") words.push_back(word);
                word.clear();
                if (!*c) break;
            }
        }
    }
    for (const std::string& word : words) {
        for (size_t at = outside.find(word); at != std::string::npos; at = outside.find(word, at + 1)) {
            const bool starts = at == 0 || !std::isalpha(static_cast<unsigned char>(outside[at - 1]));
            const size_t end = at + word.size();
            const bool ends = end == outside.size() || !std::isalpha(static_cast<unsigned char>(outside[end]));
            if (starts && ends) return word;
        }
    }
    return {};
}

