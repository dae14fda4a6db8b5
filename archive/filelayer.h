#pragma once
// Inside the engine only: the SQLite handles, the file system's names and the
// error texts the file layer raises. Paths are Windows-1252 like every string
// of the program; they become the file system's UTF-8 here.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace archive::detail {

// The file system's form of a program path.
std::string fsPath(std::string_view path);

// Program paths separate their parts with "/". The folder of a path is "."
// when it names none and "/" for a file at the root.
std::string folderOf(std::string_view path);
std::string fileNameOf(std::string_view path);
std::string joinPath(std::string_view folder, std::string_view name);

// A database handle that closes itself.
class Database {
public:
    Database() = default;
    ~Database();
    Database(Database&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Through a "file:...?mode=ro" name: reading never creates or changes a
    // file, also beside a WAL-mode file (read as immutable). Throws the
    // pending-WAL error when changes wait in a -wal file beside it.
    // A non-empty -journal beside a writable file is rolled back first
    // (a writer was killed); where it cannot be, reading throws the
    // unfinished-write error.
    static Database openReadOnly(const std::string& path);
    // An existing file, never created; throws the "write-protected" error
    // when the file or its folder refuses writing, the pending-WAL error as
    // above. A WAL-mode file keeps its mode.
    static Database openReadWrite(const std::string& path);
    // A file we have just created ourselves.
    static Database openNew(const std::string& path);

    sqlite3* get() const { return db_; }
    void close();  // a failure to close after COMMIT loses nothing
    // Runs SQL of our own (never user text); throws EngineError with `what`.
    void exec(const char* sql, const std::string& what);
    std::string lastError() const;

private:
    explicit Database(sqlite3* db) : db_(db) {}
    static void rollBackUnfinishedWrite(const std::string& path);
    static Database open(const std::string& name, int flags, const std::string& displayName);
    sqlite3* db_ = nullptr;
};

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(const Database& db, const std::string& sql, const std::string& what);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// For a table file by its file system name: whether its header says WAL
// mode, and whether changes wait in a non-empty -wal file beside it.
bool storedInWalMode(const std::string& fsName);
bool hasPendingWal(const std::string& fsName);

// SQL text of an identifier of our own in double quotes.
std::string quotedIdentifier(std::string_view name);

// A decimal integer, optionally signed, blanks around it allowed; nothing for
// anything else or a value out of range.
std::optional<long long> parseInteger(std::string_view text);

// A decimal number with a fraction or an exponent as SQLite writes a REAL
// ("3.5", "1.0e+20"), blanks around it allowed. An integer column holds such
// a text only where the file stored a REAL: a text that looks like a number
// is stored as one there.
std::optional<double> parseReal(std::string_view text);

// The German error texts. `name` is the table's path or file name; names
// and values from a file are quoted readably (cp1252.h).
std::string notFoundText(std::string_view name);
// Why a table file could not be opened, by the errno of the failed open
// ("nicht gefunden" only for a missing file), or by looking at the file.
std::string unreadableText(std::string_view name, int error);
std::string unreadableText(std::string_view path);
// A file that is no SQLite database; a pipe or device in a table's place.
std::string notATableText(std::string_view name);
std::string notAFileText(std::string_view name);
// A database that holds no table, or more than one (`tables`: their names).
std::string tableCountText(std::string_view name, const std::vector<std::string>& tables);
// A field whose declared type is neither text nor integer (`declared` as
// the file has it, empty for none).
std::string fieldTypeText(std::string_view name, std::string_view field, std::string_view declared);
std::string withoutRowIdsText(std::string_view name);
std::string tooLargeText(std::string_view name);
// A table that changed each time it was read.
std::string changingText(std::string_view name);
// SQLite found damage; `detail` is its own (English) finding, shown in brackets.
std::string damagedText(std::string_view name, std::string_view detail = {});
std::string readOnlyText(std::string_view name);
std::string walPendingText(std::string_view name);
std::string unfinishedWriteText(std::string_view name);
std::string writeFailedText(std::string_view name, std::string_view reason);
std::string notANumberText(std::string_view value, std::string_view field);
// A record of more values than the table has fields.
std::string tooManyValuesText(size_t values, size_t fields);
// The same for a value met while walking a result: `record` counted from 1
// in the result's order, `title` the record's title where it has one.
std::string notANumberText(std::string_view value, std::string_view field, size_t record,
                           std::optional<std::string_view> title);

// The German sentence for an SQLite result code (extended codes too) met on
// the table `name`; `detail` is SQLite's own English text, which follows in
// brackets where the sentence does not say it all.
std::string sqliteErrorText(int code, std::string_view name, std::string_view detail);
[[noreturn]] void throwForSqlite(int code, std::string_view name, const std::string& reason);

}  // namespace archive::detail
