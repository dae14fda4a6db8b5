#include "transaction.h"

#include "cp1252.h"
#include "valuetypes.h"

namespace archive::detail {

Transaction::Transaction(Database& db, std::string what, Lock lock) : db_(db), what_(std::move(what)) {
    db_.exec(lock == Lock::Immediate ? "BEGIN IMMEDIATE" : "BEGIN", what_);
    open_ = true;
}

Transaction::~Transaction() {
    // SQLite may have rolled back already (a full disk): then this finds no
    // transaction, which is as good.
    if (open_ && db_.get()) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    if (!open_) return;
    db_.exec("COMMIT", what_);
    open_ = false;
}

Command::Command(const Database& db, const std::string& sql, std::string what)
    : db_(db), statement_(db, sql, what), what_(std::move(what)) {}

void Command::bound(int rc) {
    if (rc != SQLITE_OK) {
        // The next values start again at ?1.
        const std::string error = db_.lastError();
        sqlite3_clear_bindings(get());
        next_ = 1;
        throwForSqlite(rc, what_, error);
    }
    ++next_;
}

Command& Command::null() {
    bound(sqlite3_bind_null(get(), next_));
    return *this;
}

Command& Command::integer(int64_t value) {
    bound(sqlite3_bind_int64(get(), next_, value));
    return *this;
}

Command& Command::integerAt(int index, int64_t value) {
    const int rc = sqlite3_bind_int64(get(), index, value);
    if (rc != SQLITE_OK) bound(rc);  // throws
    return *this;
}

Command& Command::text(std::string_view cp1252) { return utf8(cp1252ToUtf8(cp1252)); }

Command& Command::utf8(std::string_view text) {
    bound(sqlite3_bind_text64(get(), next_, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

Command& Command::cell(const Cell& value, FieldKind kind) {
    if (!value) return null();
    if (kind == FieldKind::Integer)
        if (const std::optional<long long> number = parseInteger(*value)) return integer(*number);
    return text(*value);
}

int Command::run() {
    const int rc = sqlite3_step(get());
    // Ready for the next values whatever happened; the error stays in the handle.
    const std::string error = rc == SQLITE_DONE ? std::string() : db_.lastError();
    sqlite3_reset(get());
    sqlite3_clear_bindings(get());
    next_ = 1;
    if (rc != SQLITE_DONE) {
        if (rc == SQLITE_ROW) throwForSqlite(SQLITE_MISUSE, what_, "unerwartete Ergebniszeile");
        throwForSqlite(rc, what_, error);
    }
    return sqlite3_changes(db_.get());
}

bool Command::step() {
    const int rc = sqlite3_step(get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throwForSqlite(rc, what_, db_.lastError());
}

}  // namespace archive::detail
