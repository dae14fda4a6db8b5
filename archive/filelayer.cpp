#include "filelayer.h"

#include "cp1252.h"
#include "engine.h"
#include "querytext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>

namespace archive::detail {
namespace {

std::string quotedName(std::string_view name) {
    std::string text = "'";
    text += name;
    text += '\'';
    return text;
}

// A "file:" URI keeps '?', '#' and '%' of a path from being read as URI syntax.
std::string readOnlyUri(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (char c : fsPath(path)) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || c == '/' || c == '.' || c == '-' || c == '_' || c == '~';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0F];
        }
    }
    uri += "?mode=ro";
    return uri;
}

}  // namespace

std::string fsPath(std::string_view path) { return cp1252ToUtf8(path); }

std::string folderOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string fileNameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

Database::~Database() { close(); }

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        close();
        db_ = other.db_;
        other.db_ = nullptr;
    }
    return *this;
}

void Database::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

Database Database::open(const std::string& name, int flags, const std::string& displayName) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    Database handle(db);  // closes even a half-opened handle
    if (rc != SQLITE_OK) {
        const std::string reason = db ? handle.lastError() : std::string("kein Speicher");
        if ((rc & 0xFF) == SQLITE_CANTOPEN) throw EngineError(notFoundText(displayName));
        throwForSqlite(rc, displayName, reason);
    }
    sqlite3_extended_result_codes(db, 1);
    // Another program reading the same file holds its lock only briefly.
    sqlite3_busy_timeout(db, 2000);
    return handle;
}

Database Database::openReadOnly(const std::string& path) {
    return open(readOnlyUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, path);
}

Database Database::openReadWrite(const std::string& path) {
    const std::string fsName = fsPath(path);
    // SQLite would quietly open a write-protected file for reading only, and
    // the rollback journal needs the folder: refuse before anything starts.
    if (access(fsName.c_str(), F_OK) != 0) throw EngineError(notFoundText(path));
    // A file without any write permission bit is read-only for everyone, root
    // included, the way the read-only attribute of a table file is meant.
    struct stat status {};
    const bool noWriteBit = ::stat(fsName.c_str(), &status) == 0 && (status.st_mode & 0222) == 0;
    if (noWriteBit || access(fsName.c_str(), W_OK) != 0 || access(folderOf(fsName).c_str(), W_OK) != 0)
        throw EngineError(readOnlyText(path));
    Database db = open(fsName, SQLITE_OPEN_READWRITE, path);
    if (sqlite3_db_readonly(db.get(), "main") == 1) throw EngineError(readOnlyText(path));
    // A table on a read-only disc cannot be read in WAL mode: keep the journal beside.
    db.exec("PRAGMA journal_mode=DELETE", path);
    return db;
}

Database Database::openNew(const std::string& path) {
    return open(fsPath(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, path);
}

std::string Database::lastError() const { return db_ ? utf8ToCp1252(sqlite3_errmsg(db_)) : std::string(); }

void Database::exec(const char* sql, const std::string& what) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string reason = message ? utf8ToCp1252(message) : lastError();
        sqlite3_free(message);
        throwForSqlite(rc, what, reason);
    }
}

Statement::Statement(const Database& db, const std::string& sql, const std::string& what) {
    const int rc = sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) throwForSqlite(rc, what, db.lastError());
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

// SQLite quotes an identifier the way our statements quote a literal.
std::string quotedIdentifier(std::string_view name) { return quotedLiteral(name); }

std::optional<long long> parseInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string notFoundText(std::string_view name) { return "Tabelle " + quotedName(name) + " nicht gefunden."; }

std::string notATableText(std::string_view name) { return "Die Datei " + quotedName(name) + " ist keine Tabelle."; }

std::string damagedText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " ist besch\xE4" "digt.";
}

std::string readOnlyText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " ist schreibgesch\xFCtzt.";
}

std::string writeFailedText(std::string_view name, std::string_view reason) {
    std::string text = "Die Tabelle " + quotedName(name) + " konnte nicht geschrieben werden";
    if (!reason.empty()) {
        text += ": ";
        text += reason;
    }
    text += '.';
    return text;
}

std::string notANumberText(std::string_view value, std::string_view field) {
    return quotedName(value) + " ist kein g\xFCltiger Wert f\xFCr das Feld " + quotedName(field) + ".";
}

void throwForSqlite(int code, std::string_view name, const std::string& reason) {
    switch (code & 0xFF) {
    case SQLITE_CORRUPT:
        throw EngineError(damagedText(name));
    case SQLITE_NOTADB:
        throw EngineError(notATableText(name));
    case SQLITE_READONLY:
    case SQLITE_PERM:
        throw EngineError(readOnlyText(name));
    case SQLITE_IOERR:
        throw EngineError("Fehler beim Zugriff auf die Tabelle " + quotedName(name) + ": " + reason);
    default:
        throw EngineError("Fehler in der Tabelle " + quotedName(name) + ": " + reason);
    }
}

}  // namespace archive::detail
