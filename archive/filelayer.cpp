#include "filelayer.h"

#include "cp1252.h"
#include "querytext.h"
#include "valuetypes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace archive::detail {
namespace {

std::string quotedName(std::string_view name) { return quoted(readableName(name)); }

// A "file:" URI keeps '?', '#' and '%' of a path from being read as URI syntax.
std::string readOnlyUri(const std::string& path, bool immutable) {
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
    uri += immutable ? "?mode=ro&immutable=1" : "?mode=ro";
    return uri;
}

// The file SQLite keeps committed changes of a WAL-mode database in until
// they are copied into the database file.
std::string walFileOf(const std::string& fsName) { return fsName + "-wal"; }

bool walFileExists(const std::string& fsName) { return ::access(walFileOf(fsName).c_str(), F_OK) == 0; }

// The rollback journal of a write that was never finished: a non-empty
// -journal file beside the table. Whether it really is unfinished (no other
// program still writing) SQLite decides itself when it next reads the file.
std::string journalFileOf(const std::string& fsName) { return fsName + "-journal"; }

bool hasJournalContent(const std::string& fsName) {
    struct stat info {};
    return ::stat(journalFileOf(fsName).c_str(), &info) == 0 && info.st_size > 0;
}

// The program's rule for a writable table: a write permission bit on the
// file, and the system letting us write the file and its folder (the folder
// for the journal).
bool writableInPlace(const std::string& fsName) {
    struct stat status {};
    const bool noWriteBit = ::stat(fsName.c_str(), &status) == 0 && (status.st_mode & 0222) == 0;
    return !noWriteBit && ::access(fsName.c_str(), W_OK) == 0 && ::access(folderOf(fsName).c_str(), W_OK) == 0;
}

// Any entry of the folder, file or not, whose name equals the path's last
// part ignoring case.
std::optional<std::string> entryIgnoringCase(std::string_view path) {
    const std::string folder = folderOf(path);
    const std::string name = fileNameOf(path);
    DIR* dir = ::opendir(fsPath(folder).c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string candidate = utf8ToCp1252(entry->d_name);
        if (fsPath(candidate) == entry->d_name && equalsIgnoringCase(candidate, name) &&
            (!found || candidate < fileNameOf(*found)))
            found = joinPath(folder, candidate);
    }
    ::closedir(dir);
    return found;
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
    if (!db_) return;
    // Closing the last connection to a WAL-mode file copies the committed
    // changes into the file and removes the -wal file. A write, flush or lock
    // that fails then leaves the -wal file full, and the next open refuses
    // the table as another program's unsaved changes. Copied first, once
    // more after a failure, and the -wal file emptied, whatever the closing
    // meets leaves nothing that is not in the file. Without WAL mode there
    // is nothing to copy.
    if (sqlite3_db_readonly(db_, "main") == 0)
        for (int attempt = 0; attempt < 3; ++attempt)
            if ((sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) & 0xFF) !=
                SQLITE_IOERR)
                break;
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

Database Database::open(const std::string& name, int flags, const std::string& displayName) {
    sqlite3* db = nullptr;
    // A connection is only ever used by the thread that opened it: no
    // locking around each call (it costs a sixth of reading a large table).
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    Database handle(db);  // closes even a half-opened handle
    if (rc != SQLITE_OK) {
        const std::string reason = db ? handle.lastError() : std::string("kein Speicher");
        if ((rc & 0xFF) == SQLITE_CANTOPEN) throw EngineError(unreadableText(displayName), rc);
        throwForSqlite(rc, displayName, reason);
    }
    sqlite3_extended_result_codes(db, 1);
    // Another program reading the same file holds its lock only briefly.
    sqlite3_busy_timeout(db, 2000);
    return handle;
}

bool storedInWalMode(const std::string& fsName) {
    const int fd = ::open(fsName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Bytes 18 and 19 of the header, the format versions for writing and
    // reading, are 2 in WAL mode and 1 with a rollback journal.
    unsigned char header[20] = {};
    const bool read = ::pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
    ::close(fd);
    return read && std::memcmp(header, "SQLite format 3", 16) == 0 && (header[18] == 2 || header[19] == 2);
}

bool hasPendingWal(const std::string& fsName) {
    struct stat info {};
    return ::stat(walFileOf(fsName).c_str(), &info) == 0 && info.st_size > 0;
}

Database Database::openReadOnly(const std::string& path) {
    const std::string fsName = fsPath(path);
    // A WAL-mode file read the usual way gets a -wal and a -shm file beside
    // it, and where the folder refuses them (a disc) it cannot be read at all.
    // While no change waits in a -wal file, the database file alone holds the
    // whole table: read it as immutable, which needs nothing beside it.
    // Waiting changes could only be read through those files, and reading
    // around them would show an old state of the table: refuse them.
    if (hasPendingWal(fsName)) throw EngineError(walPendingText(path));
    const bool immutable = storedInWalMode(fsName) || walFileExists(fsName);
    // A read-only connection may not roll back the journal a killed writer
    // left: every read would fail. Where the file can be written, one
    // read-write connection rolls it back first, so the table is read as it
    // was before that write. Elsewhere the read fails with the text that says
    // how to clear it.
    if (!immutable && hasJournalContent(fsName) && writableInPlace(fsName)) rollBackUnfinishedWrite(path);
    return open(readOnlyUri(path, immutable), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, path);
}

void Database::rollBackUnfinishedWrite(const std::string& path) {
    const std::string fsName = fsPath(path);
    Database db = open(fsName, SQLITE_OPEN_READWRITE, path);
    // The first read of a connection rolls back a journal nobody holds a lock on.
    db.exec("SELECT COUNT(*) FROM sqlite_master", path);
}

Database Database::openReadWrite(const std::string& path) {
    const std::string fsName = fsPath(path);
    // SQLite would quietly open a write-protected file for reading only, and
    // the rollback journal needs the folder: refuse before anything starts.
    struct stat existing {};
    if (::stat(fsName.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) throw EngineError(unreadableText(path));
    // A file without any write permission bit is read-only for everyone, root
    // included, the way the read-only attribute of a table file is meant.
    if (!writableInPlace(fsName)) throw EngineError(readOnlyText(path));
    // Changes another program left in a -wal file were never shown; writing
    // next to them would store rows over a state nobody saw.
    if (hasPendingWal(fsName)) throw EngineError(walPendingText(path));
    // A WAL-mode file stays in WAL mode: its -wal and -shm files exist only
    // while the write runs, since closing the last connection copies the
    // changes into the file and removes both.
    Database db = open(fsName, SQLITE_OPEN_READWRITE, path);
    if (sqlite3_db_readonly(db.get(), "main") == 1) throw EngineError(readOnlyText(path));
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

std::optional<double> parseReal(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    // The shape is checked here: from_chars alone would take "inf", "nan" and hex digits.
    size_t i = 0;
    auto digits = [&] {
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string notFoundText(std::string_view name) { return "Tabelle " + quotedName(name) + " nicht gefunden."; }

std::string unreadableText(std::string_view name, int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return notFoundText(name);
    case EISDIR:
        return "Die Tabelle " + quotedName(name) + " ist ein Ordner, keine Datei.";
    case EACCES:
    case EPERM:
        return "Die Tabelle " + quotedName(name) + " kann nicht gelesen werden: keine Leseberechtigung.";
    case EIO:
        return "Die Tabelle " + quotedName(name) + " kann nicht gelesen werden: Ein-/Ausgabefehler des Datentr\xE4gers.";
    default:
        return "Die Tabelle " + quotedName(name) + " kann nicht gelesen werden: Systemfehler " + std::to_string(error) + ".";
    }
}

std::string unreadableText(std::string_view path) {
    const std::string fsName = fsPath(path);
    struct stat info {};
    if (::stat(fsName.c_str(), &info) != 0) {
        const int error = errno;
        // The views ask for "GameData.db" where the file is "GameData.DB":
        // what stands there under another spelling is what the user means.
        if (error == ENOENT)
            if (const std::optional<std::string> other = entryIgnoringCase(path))
                if (*other != path) return unreadableText(*other);
        return unreadableText(path, error);
    }
    if (S_ISDIR(info.st_mode)) return unreadableText(path, EISDIR);
    // A device or a pipe in the table's place is no table; it is never
    // opened, since opening a pipe waits for a writer.
    if (!S_ISREG(info.st_mode)) return notAFileText(path);
    const int fd = ::open(fsName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return unreadableText(path, errno);
    ::close(fd);
    return notFoundText(path);  // it has appeared since the failed attempt
}

std::string notATableText(std::string_view name) {
    return "Die Datei " + quotedName(name) + " ist keine Tabelle: sie ist keine SQLite-Datenbank.";
}

std::string notAFileText(std::string_view name) {
    return "Die Datei " + quotedName(name) + " ist keine Tabelle: sie ist keine gew\xF6hnliche Datei.";
}

std::string tableCountText(std::string_view name, const std::vector<std::string>& tables) {
    if (tables.empty()) return "Die Datei " + quotedName(name) + " enth\xE4lt keine Tabelle.";
    std::string names;
    for (const std::string& table : tables) names += (names.empty() ? "" : ", ") + quotedName(table);
    return "Die Datei " + quotedName(name) + " enth\xE4lt " + std::to_string(tables.size()) + " Tabellen (" + names +
           "); eine Tabellendatei des Archivs enth\xE4lt genau eine.";
}

std::string fieldTypeText(std::string_view name, std::string_view field, std::string_view declared) {
    std::string text = "In der Tabelle " + quotedName(name) + " hat das Feld " + quotedName(field);
    text += declared.empty() ? std::string(" keinen Datentyp") : " den Datentyp " + quotedName(declared);
    return text + "; lesbar sind Felder vom Typ TEXT oder INTEGER.";
}

std::string withoutRowIdsText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " hat keine Zeilennummern (WITHOUT ROWID) und kann nicht gelesen werden.";
}

std::string tooLargeText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " ist zu gro\xDF f\xFCr dieses Programm.";
}

std::string changingText(std::string_view name) {
    std::string text = "Die Tabelle ";
    text += quotedName(name);
    text += " kann nicht gelesen werden: sie wurde w\xE4hrend des Lesens mehrmals ge\xE4ndert.";
    return text;
}

namespace {
// Brackets around SQLite's own text, when there is one.
std::string withDetail(std::string sentence, std::string_view detail) {
    if (!detail.empty()) sentence += " (" + readableName(detail) + ")";
    return sentence + ".";
}
}  // namespace

std::string damagedText(std::string_view name, std::string_view detail) {
    return withDetail("Die Tabelle " + quotedName(name) + " ist besch\xE4" "digt", detail);
}

std::string readOnlyText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " ist schreibgesch\xFCtzt.";
}

std::string walPendingText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " ist im WAL-Modus gespeichert und hat ungesicherte \xC4nderungen in " +
           quotedName(std::string(name) + "-wal") +
           "; sie kann erst ge\xF6" "ffnet werden, wenn das Programm, das sie geschrieben hat, diese \xC4nderungen "
           "in die Tabelle \xFC" "bernommen hat.";
}

std::string unfinishedWriteText(std::string_view name) {
    return "Die Tabelle " + quotedName(name) + " enth\xE4lt eine unvollst\xE4ndig gespeicherte \xC4nderung (" +
           quotedName(std::string(name) + "-journal") +
           "), die auf diesem Datentr\xE4ger nicht zur\xFC" "ckgenommen werden kann. Kopieren Sie die Tabelle mit der "
           "Journal-Datei in ein beschreibbares Verzeichnis und \xF6" "ffnen Sie sie dort.";
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
    std::string text(1, '\'');
    text += readableValue(value);
    text += "' ist kein g\xFCltiger Wert f\xFCr das Feld " + quotedName(field) + ".";
    return text;
}

std::string tooManyValuesText(size_t values, size_t fields) {
    std::string text = std::to_string(values);
    text += " Werte f\xFCr ";
    text += std::to_string(fields);
    text += " Felder.";
    return text;
}

std::string notANumberText(std::string_view value, std::string_view field, size_t record,
                           std::optional<std::string_view> title) {
    std::string text = notANumberText(value, field);
    text.pop_back();
    text += " (Datensatz " + std::to_string(record);
    if (title) text += ", Titel '" + readableValue(*title) + "'";
    return text + ").";
}

namespace {

// What a reader meets from SQLite, by primary result code: the sentence, with
// "@" for the quoted table name, and whether SQLite's own text follows it.
struct SqliteSentence {
    int code;
    const char* sentence;
    bool detail;
};
constexpr char kInternal[] = "Interner Fehler der Datenbank bei der Tabelle @";
constexpr SqliteSentence kSqliteSentences[] = {
    {SQLITE_ERROR, "Die Tabelle @ konnte nicht verarbeitet werden", true},
    {SQLITE_INTERNAL, kInternal, true},
    {SQLITE_PERM, "Die Tabelle @ ist schreibgesch\xFCtzt", false},
    {SQLITE_ABORT, "Der Zugriff auf die Tabelle @ wurde abgebrochen", true},
    {SQLITE_BUSY, "Die Tabelle @ wird gerade von einem anderen Programm benutzt; bitte versuchen Sie es gleich noch "
                  "einmal", false},
    {SQLITE_LOCKED, "Die Tabelle @ ist gesperrt; bitte versuchen Sie es gleich noch einmal", false},
    {SQLITE_NOMEM, "F\xFCr die Tabelle @ reicht der Arbeitsspeicher nicht", false},
    {SQLITE_READONLY, "Die Tabelle @ ist schreibgesch\xFCtzt", false},
    {SQLITE_INTERRUPT, "Der Zugriff auf die Tabelle @ wurde unterbrochen", false},
    // SQLite's own text for these is English and says no more than the cause.
    {SQLITE_IOERR, "Fehler beim Zugriff auf die Tabelle @: Ein-/Ausgabefehler des Datentr\xE4gers", false},
    {SQLITE_CORRUPT, "Die Tabelle @ ist besch\xE4" "digt", false},
    {SQLITE_NOTFOUND, kInternal, true},
    {SQLITE_FULL, "Die Tabelle @ konnte nicht geschrieben werden: Datentr\xE4ger voll", false},
    {SQLITE_CANTOPEN, "Die Tabelle @ kann nicht ge\xF6" "ffnet werden", true},
    {SQLITE_PROTOCOL, "Die Tabelle @ konnte nicht gesperrt werden", true},
    {SQLITE_EMPTY, kInternal, true},
    {SQLITE_SCHEMA, "Der Aufbau der Tabelle @ hat sich w\xE4hrend des Zugriffs ge\xE4ndert; bitte versuchen Sie es "
                    "noch einmal", false},
    {SQLITE_TOOBIG, "Ein Wert der Tabelle @ ist zu gro\xDF", false},
    {SQLITE_CONSTRAINT, "Die Tabelle @ l\xE4sst diesen Datensatz nicht zu", true},
    {SQLITE_MISMATCH, "Ein Wert passt nicht zum Datentyp seines Feldes in der Tabelle @", true},
    {SQLITE_MISUSE, kInternal, true},
    {SQLITE_NOLFS, "Die Tabelle @ ist zu gro\xDF f\xFCr dieses System", false},
    {SQLITE_AUTH, "Der Zugriff auf die Tabelle @ wurde nicht erlaubt", true},
    {SQLITE_FORMAT, "Die Tabelle @ hat ein Dateiformat, das dieses Programm nicht lesen kann", true},
    {SQLITE_RANGE, kInternal, true},
    {SQLITE_NOTADB, "Die Datei @ ist keine Tabelle: sie ist keine SQLite-Datenbank", false},
};

// Whether the file begins as every SQLite database does.
bool hasSqliteMagic(std::string_view path) {
    const int fd = ::open(fsPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    char magic[16] = {};
    const bool read = ::pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic);
    ::close(fd);
    return read && std::memcmp(magic, "SQLite format 3", sizeof magic) == 0;
}

// SQLite reports a file written by a newer SQLite than ours as a plain error.
constexpr std::string_view kUnsupportedFormat = "unsupported file format";

}  // namespace

std::string sqliteErrorText(int code, std::string_view name, std::string_view detail) {
    int primary = code & 0xFF;
    // A read-only connection meeting a journal it may not roll back.
    if (code == SQLITE_READONLY_ROLLBACK) return unfinishedWriteText(name);
    if (primary == SQLITE_ERROR && detail.find(kUnsupportedFormat) != std::string_view::npos) primary = SQLITE_FORMAT;
    // A file that begins like a database but whose header SQLite refuses.
    if (primary == SQLITE_NOTADB && hasSqliteMagic(name))
        return "Die Datei " + quotedName(name) +
               " ist keine Tabelle: ihr Kopf ist der einer SQLite-Datenbank, aber besch\xE4" "digt oder in einem "
               "neueren Format, das dieses Programm nicht lesen kann.";
    for (const SqliteSentence& entry : kSqliteSentences) {
        if (entry.code != primary) continue;
        std::string sentence = entry.sentence;
        const size_t at = sentence.find('@');
        sentence.replace(at, 1, quotedName(name));
        return withDetail(std::move(sentence), entry.detail ? detail : std::string_view());
    }
    return withDetail("Fehler der Datenbank bei der Tabelle " + quotedName(name) + " (SQLite-Fehler " +
                          std::to_string(code) + ")",
                      detail);
}

void throwForSqlite(int code, std::string_view name, const std::string& reason) {
    throw EngineError(sqliteErrorText(code, name, reason), code);
}

}  // namespace archive::detail
