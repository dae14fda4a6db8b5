#pragma once
// Inside the engine only: every SQLite transaction the engine runs goes
// through one guard, and every value into a statement through typed binds,
// so no write can be left half done by an early return or an exception and
// no parameter is bound by index arithmetic.

#include "filelayer.h"
#include "valuetypes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace archive::detail {

// One transaction: begun by the constructor, rolled back by the destructor
// unless commit() succeeded. Killed halfway, SQLite's journal takes the file
// back to its last commit, so a row is stored whole or not at all.
class Transaction {
public:
    enum class Lock {
        Deferred,   // reading: a consistent state of the file
        Immediate,  // writing: the write lock at once, so the file cannot
                    // change between what the transaction reads and writes
    };
    // Throws EngineError naming `what` (the table's path).
    Transaction(Database& db, std::string what, Lock lock = Lock::Immediate);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Database& db_;
    std::string what_;
    bool open_ = false;
};

// A prepared statement whose parameters are bound in order, ?1 first, each
// by its type; run() executes it and makes it ready for the next values.
class Command {
public:
    Command(const Database& db, const std::string& sql, std::string what);
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    Command& null();
    Command& integer(int64_t value);
    // Binds ?index, for parameters a statement may leave out; the in-order
    // binds go on where they were.
    Command& integerAt(int index, int64_t value);
    // Program text, stored as UTF-8.
    Command& text(std::string_view cp1252);
    // Text already in the file's form (names read from the file itself).
    Command& utf8(std::string_view text);
    // A value of a field: NULL for nothing; in an integer field an integer
    // when the text is one (a foreign file's non-number stays its text);
    // text otherwise.
    Command& cell(const Cell& value, FieldKind kind);

    // Runs a statement that yields no rows; throws EngineError naming the
    // table. The number of rows it changed.
    int run();
    // Runs a statement that yields rows one step: true for a row, false at
    // the end; a damaged page found halfway is an error, never the end.
    bool step();
    sqlite3_stmt* get() const { return statement_.get(); }

private:
    void bound(int rc);

    const Database& db_;
    Statement statement_;
    std::string what_;
    int next_ = 1;
};

}  // namespace archive::detail
