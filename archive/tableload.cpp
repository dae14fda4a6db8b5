#include "tableimage_internal.h"

#include "collation.h"
#include "imagefile.h"
#include "imagefileformat.h"
#include "cp1252.h"
#include "tablefile.h"
#include "transaction.h"
#include "wholefile.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

// Reading a table file into an image: its schema, its rows (a large table
// by two threads), and SQLite's check of its pages in the background; and
// the checked copy of a table file, whose image then need not be checked.

namespace archive {
namespace detail {
namespace {

FieldKind kindOfDeclaredType(std::string_view declared, bool& known) {
    const std::string upper = upperCp1252(declared);
    known = true;
    if (upper.find("INT") != std::string::npos) return FieldKind::Integer;
    if (upper.find("CHAR") != std::string::npos || upper.find("CLOB") != std::string::npos ||
        upper.find("TEXT") != std::string::npos)
        return FieldKind::Text;
    known = false;
    return FieldKind::Text;
}

}  // namespace

std::string_view columnText(sqlite3_stmt* stmt, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(stmt, index))) : std::string_view();
}

// The text of a cell's value that is not NULL (UTF-8). The connections that
// read whole columns run without SQLite's mutex, where a column's value may
// be read through the value interfaces: one call per cell instead of three.
std::string_view valueText(const Database& db, sqlite3_value* value, const std::string& path) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (text == nullptr && sqlite3_errcode(db.get()) == SQLITE_NOMEM)
        detail::throwForSqlite(SQLITE_NOMEM, path, db.lastError());
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_value_bytes(value))) : std::string_view();
}

// The one table of ours in the file and its fields; a file holding anything
// else is not a table of ours, and the text says what it holds instead.
void readSchema(const Database& db, const std::string& path, std::string& tableName, std::vector<Column>& columns) {
    std::vector<std::string> tables;
    {
        Command list(db,
                     "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
                     path);
        while (list.step()) tables.emplace_back(columnText(list.get(), 0));
    }
    if (tables.size() != 1) {
        for (std::string& name : tables) name = utf8ToCp1252(name);
        throw EngineError(detail::tableCountText(path, tables));
    }
    tableName = tables.front();
    {
        // Rows are read by their row ids: a table stored without them cannot be.
        Command kind(db, "SELECT wr FROM pragma_table_list(?1)", path);
        kind.utf8(tableName);
        if (kind.step() && sqlite3_column_int(kind.get(), 0) != 0) throw EngineError(detail::withoutRowIdsText(path));
    }
    Command info(db, "SELECT name, type FROM pragma_table_info(?1)", path);
    info.utf8(tableName);
    while (info.step()) {
        bool known = false;
        const std::string_view declared = columnText(info.get(), 1);
        const FieldKind kind = kindOfDeclaredType(declared, known);
        const std::string name = utf8ToCp1252(columnText(info.get(), 0));
        if (!known) throw EngineError(detail::fieldTypeText(path, name, utf8ToCp1252(declared)));
        columns.push_back({name, kind});
    }
    if (columns.empty()) throw EngineError(detail::tableCountText(path, {}));
}

// SQLite's check of every page of the file (b-tree pages, cells, free
// list), in the state of the read transaction `db` is in: nothing for a
// sound file, else the damage text with SQLite's first finding.
std::string damageFoundIn(const Database& db, const std::string& path) {
    Command check(db, "PRAGMA quick_check(1)", path);
    while (check.step()) {
        const std::string_view report = columnText(check.get(), 0);
        if (report == "ok") return {};
        // The finding, without the line that names the schema it was found in.
        std::string_view finding = report;
        while (finding.starts_with("***")) {
            const size_t end = finding.find('\n');
            finding = end == std::string_view::npos ? std::string_view() : finding.substr(end + 1);
        }
        finding = finding.substr(0, finding.find('\n'));
        return detail::damagedText(path, readableValue(utf8ToCp1252(finding), 120));
    }
    return {};
}

}  // namespace detail

namespace {

using detail::Command;
using detail::Database;
using detail::columnText;
using detail::damageFoundIn;
using detail::endCell;
using detail::readSchema;
using detail::valueText;

// Files found sound by their path and stamp: the hard-disk copy checks
// what it copies, and the copy's image need not be checked again. The path
// keeps a file that took a deleted sound file's inode within one tick of the
// clock from passing for it. The time of the last change of the file's
// attributes is not compared: the start makes the copy writable after
// copying it, which changes nothing of its content.
struct SoundFiles {
    static constexpr size_t kRemembered = 8;
    std::mutex mutex;
    std::vector<std::pair<std::string, FileStamp>> files;  // stamps with changedNs 0
};

SoundFiles& soundFiles() {
    static SoundFiles files;
    return files;
}

std::pair<std::string, FileStamp> soundKey(const std::string& path, FileStamp stamp) {
    stamp.changedNs = 0;
    return {std::filesystem::path(path).lexically_normal().string(), stamp};
}

void noteSound(const std::string& path, const FileStamp& stamp) {
    SoundFiles& sound = soundFiles();
    std::lock_guard lock(sound.mutex);
    if (sound.files.size() == SoundFiles::kRemembered) sound.files.erase(sound.files.begin());
    sound.files.push_back(soundKey(path, stamp));
}

bool knownSound(const std::string& path, const FileStamp& stamp) {
    SoundFiles& sound = soundFiles();
    std::lock_guard lock(sound.mutex);
    return std::find(sound.files.begin(), sound.files.end(), soundKey(path, stamp)) != sound.files.end();
}

// Below this span of row ids a table is read by one thread: the second
// connection would cost more than it saves.
constexpr int64_t kParallelRowIdSpan = 8 * TableImage::kChunkRows;

}  // namespace

// Reads the rows whose ids lie in (after, upTo] into the image, in row id order.
void TableImage::readRows(const detail::Database& db, const std::string& path, std::optional<int64_t> after,
                          std::optional<int64_t> upTo, const std::atomic<bool>* cancel,
                          const std::atomic<bool>* halt, std::shared_ptr<detail::LargePageRoom> room) {
    const int columnCount = static_cast<int>(columns_.size());
    std::string select = "SELECT rowid";
    for (const Column& column : columns_) select += ", " + detail::quotedIdentifier(detail::fsPath(column.name));
    select += " FROM " + detail::quotedIdentifier(tableName_) + " WHERE 1";
    if (after) select += " AND rowid > ?1";
    if (upTo) select += " AND rowid <= ?2";
    select += " ORDER BY rowid";
    auto rows = std::make_unique<Command>(db, select, path);
    if (after) rows->integerAt(1, *after);
    if (upTo) rows->integerAt(2, *upTo);

    Builder builder(*this, rowCount_);
    builder.codeRepeats();
    if (room) builder.keepChunksIn(std::move(room));
    sqlite3_stmt* stmt = rows->get();
    char digits[24];
    uint32_t sinceLook = 0;
    while (rows->step()) {
        if (++sinceLook == kChunkRows) {
            sinceLook = 0;
            if (detail::chunkReadHook) detail::chunkReadHook(after.has_value(), halt);
            if ((cancel && cancel->load(std::memory_order_relaxed)) || (halt && halt->load(std::memory_order_relaxed)))
                throw LoadCancelled{};
        }
        for (int c = 0; c < columnCount; ++c) {
            sqlite3_value* value = sqlite3_column_value(stmt, c + 1);
            const int type = sqlite3_value_type(value);
            const bool integerColumn = columns_[c].kind == FieldKind::Integer;
            if (type == SQLITE_NULL) {
                if (!integerColumn) {
                    builder.appendText(c, std::nullopt);
                    continue;
                }
                Chunk& data = builder.cells(c);
                data.nulls.push_back(true);
                endCell(data, path);
                data.numbers.push_back(kNoNumber);
                continue;
            }
            if (integerColumn && type == SQLITE_INTEGER) {
                Chunk& data = builder.cells(c);
                const int64_t number = sqlite3_value_int64(value);
                data.nulls.push_back(false);
                const auto result = std::to_chars(digits, digits + sizeof digits, number);
                data.bytes.append(digits, result.ptr);
                endCell(data, path);
                data.numbers.push_back(TableImage::isNumber(number) ? number : kNoNumber);
                continue;
            }
            const std::string_view utf8 = valueText(db, value, path);
            if (!integerColumn) {
                builder.appendText(c, utf8);
                continue;
            }
            Chunk& data = builder.cells(c);
            data.nulls.push_back(false);
            const size_t start = data.bytes.size();
            appendUtf8AsCp1252(data.bytes, utf8);
            const std::optional<long long> parsed = detail::parseInteger(std::string_view(data.bytes).substr(start));
            endCell(data, path);
            if (type == SQLITE_BLOB)
                data.numbers.push_back(TableImage::kBlobCell);
            else
                data.numbers.push_back(parsed && TableImage::isNumber(*parsed) ? *parsed : kNoNumber);
        }
        builder.endRow(sqlite3_column_int64(stmt, 0));
    }
    builder.finish();
}

// Rows of another image read from the same state of the file, appended
// behind this image's. The last chunk here is filled up with deleted rows
// first, so the other image's chunks are taken over as they are, not copied.
void TableImage::appendPart(TableImage&& part) {
    if (part.rowCount_ == 0) return;
    if (rowCount_ % kChunkRows != 0) {
        Builder builder(*this, rowCount_);
        builder.padChunk();
    }
    for (size_t c = 0; c < columns_.size(); ++c)
        cells_[c].insert(cells_[c].end(), part.cells_[c].begin(), part.cells_[c].end());
    slots_.insert(slots_.end(), part.slots_.begin(), part.slots_.end());
    rowCount_ += part.rowCount_;
    deletedCount_ += part.deletedCount_;
}

// A connection a load read its rows through, still in its read
// transaction; the check ends both.
struct TableImage::Check {
    Database db;
    std::optional<detail::Transaction> transaction;
    std::mutex mutex;  // `open` for an interrupt from another thread
    bool open = true;

    std::string run(const std::string& path) {
        std::string fault;
        try {
            fault = damageFoundIn(db, path);
            transaction->commit();
        } catch (const EngineError& error) {
            fault = error.what();
        }
        std::lock_guard lock(mutex);
        transaction.reset();
        db.close();
        open = false;
        return fault;
    }

    void interrupt() {
        std::lock_guard lock(mutex);
        if (open) sqlite3_interrupt(db.get());
    }
};

// A check still running when the last image that needs it goes is stopped.
struct TableImage::Verdict {
    std::shared_future<std::string> fault;
    std::shared_ptr<Check> check;

    ~Verdict() {
        if (check && fault.valid() && fault.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            check->interrupt();
    }
};

namespace detail {
RowsReadHook rowsReadHook = nullptr;
ChunkReadHook chunkReadHook = nullptr;
}  // namespace detail

namespace {
// A file rewritten while it is read is read again, as long as it keeps
// still long enough; one that keeps changing is reported.
constexpr int kLoadTries = 3;
}  // namespace

namespace detail {
std::string rowIdEndsStatement(std::string_view quotedTable) {
    // Each end in a select of its own: SQLite finds a lone min() or max() of
    // the row id at an end of the table's tree, but both in one select only
    // by reading every row, a fifth of a second at a million.
    std::string statement = "SELECT (SELECT min(rowid) FROM ";
    statement += quotedTable;
    statement += "), (SELECT max(rowid) FROM ";
    statement += quotedTable;
    statement += ')';
    return statement;
}
}  // namespace detail

std::shared_ptr<const TableImage> TableImage::load(const std::string& path, const std::atomic<bool>* cancel) {
    // The table as it was at the last start, when it has not changed since.
    if (std::shared_ptr<const TableImage> kept = readImageFile(path, cancel)) return kept;
    for (int attempt = 0; attempt < kLoadTries; ++attempt)
        if (std::shared_ptr<const TableImage> image = loadUnlessChanged(path, cancel)) return image;
    throw EngineError(detail::changingText(path));
}

std::shared_ptr<const TableImage> TableImage::loadFields(const std::string& path,
                                                         std::span<const std::string_view> fields) {
    if (std::shared_ptr<const TableImage> kept = readImageFile(path, nullptr)) return kept;
    for (int attempt = 0; attempt < kLoadTries; ++attempt)
        if (std::shared_ptr<const TableImage> image = loadUnlessChanged(path, nullptr, &fields)) return image;
    throw EngineError(detail::changingText(path));
}

std::vector<std::string> TableImage::fieldNames() const {
    if (partial()) return tableFields_;
    std::vector<std::string> names;
    for (const Column& column : columns_) names.push_back(column.name);
    return names;
}

std::shared_ptr<const TableImage> TableImage::loadUnlessChanged(const std::string& path,
                                                                const std::atomic<bool>* cancel,
                                                                std::span<const std::string_view>* fields) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::unreadableText(path));

    std::shared_ptr<TableImage> image(new TableImage);
    image->path_ = path;
    image->stamp_ = *stamp;

    auto check = std::make_shared<Check>();
    check->db = Database::openReadOnly(path);
    const Database& db = check->db;
    // Opening may have rolled back a killed writer's change: the image shows
    // the file as it is now.
    // A file put in the path's place meanwhile is not the one the connection
    // opened: its stamp must not stand for the rows read here.
    if (const std::optional<FileStamp> now = stampOf(path)) {
        if (now->device != stamp->device || now->inode != stamp->inode) return nullptr;
        image->stamp_ = *now;
    }
    // One read transaction: schema, rows and the check of the pages come
    // from the same state of the file.
    check->transaction.emplace(check->db, path, detail::Transaction::Lock::Deferred);
    readSchema(db, path, image->tableName_, image->columns_);
    if (fields) {
        for (const Column& column : image->columns_) image->tableFields_.push_back(column.name);
        std::erase_if(image->columns_, [&](const Column& column) {
            return std::none_of(fields->begin(), fields->end(),
                                [&](std::string_view field) { return equalsIgnoringCase(column.name, field); });
        });
    }

    // A large table is read by two threads, each over its own connection and
    // half of the row ids.
    std::optional<int64_t> middle;
    auto span = std::make_unique<Command>(
        db, detail::rowIdEndsStatement(detail::quotedIdentifier(image->tableName_)), path);
    if (span->step() && sqlite3_column_type(span->get(), 0) == SQLITE_INTEGER) {
        const int64_t low = sqlite3_column_int64(span->get(), 0);
        const int64_t high = sqlite3_column_int64(span->get(), 1);
        // Row ids may lie at both ends of the 64-bit range: their distance
        // is worked out without overflowing.
        const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
        if (span >= static_cast<uint64_t>(kParallelRowIdSpan))
            middle = static_cast<int64_t>(static_cast<uint64_t>(low) + span / 2);
    }
    span.reset();

    // A further connection in a read transaction of its own; null when it
    // cannot be opened.
    const auto another = [&]() -> std::shared_ptr<Check> {
        std::shared_ptr<Check> connection;
        try {
            connection = std::make_shared<Check>();
            connection->db = Database::openReadOnly(path);
            connection->transaction.emplace(connection->db, path, detail::Transaction::Lock::Deferred);
            Command look(connection->db, "SELECT max(rowid) FROM " + detail::quotedIdentifier(image->tableName_),
                         path);
            look.step();
        } catch (const EngineError&) {
            return nullptr;
        }
        // A file with a rollback journal is now held against writers by the
        // read transactions; only when no write came in between do they read
        // the same state of it. A WAL-mode file is opened immutable and held
        // by nothing: the stamp compared once the rows are read tells.
        if (stampOf(path) != std::optional<FileStamp>(image->stamp_)) return nullptr;
        return connection;
    };
    std::shared_ptr<Check> second;
    if (middle) {
        second = another();
        if (!second) middle.reset();
    }

    bool needsCheck = !knownSound(path, image->stamp_);
    // An image of some fields is read for a reader that waits for the check
    // anyway: the check starts at once on a connection of its own, and the
    // threads reading rows share the cores with it rather than leave it to
    // the half done first, which would then run it alone.
    if (fields && needsCheck) {
        if (std::shared_ptr<Check> checker = another()) {
            image->startCheck(std::move(checker));
            needsCheck = false;
        }
    }
    if (!middle) {
        image->readRows(db, path, std::nullopt, std::nullopt, cancel, nullptr);
    } else {
        TableImage part;
        part.path_ = path;
        part.tableName_ = image->tableName_;
        part.columns_ = image->columns_;
        // The half that fails first stops the other at its next chunk of
        // rows; its failure is the one reported.
        std::atomic<bool> halt{false};
        std::exception_ptr failure;
        const auto failed = [&] {
            if (!halt.exchange(true)) failure = std::current_exception();
        };
        // The half done first checks the pages through its own connection
        // (both read the same state of the file) while the other still
        // reads: the check takes the thread that would wait, not one the
        // rows and the first result need. Should the other half fail, or
        // the file turn out changed, the image goes and stops its check.
        std::atomic<bool> checking{!needsCheck};
        const auto halfDone = [&](const std::shared_ptr<Check>& connection) {
            if (!checking.exchange(true)) image->startCheck(connection);
        };
        // A large table's cells fill tens of thousands of fresh small pages,
        // each a fault as it is written: each half keeps its chunks in a room
        // of large pages of its own instead, about as large as half the file.
        const auto room = [&] {
            return std::make_shared<detail::LargePageRoom>(static_cast<size_t>(image->stamp_.size / 2));
        };
        std::thread upper([&] {
            try {
                part.readRows(second->db, path, middle, std::nullopt, cancel, &halt, room());
                if (!halt.load()) halfDone(second);
            } catch (...) {
                failed();
            }
        });
        try {
            image->readRows(db, path, std::nullopt, middle, cancel, &halt, room());
            if (!halt.load()) halfDone(check);
        } catch (...) {
            failed();
        }
        upper.join();
        if (failure) std::rethrow_exception(failure);
        image->appendPart(std::move(part));
    }
    // Nothing holds a WAL-mode file, nor the file against a program that
    // replaces it whole: the rows are those of the stamp only if it still holds.
    if (detail::rowsReadHook) detail::rowsReadHook(path);
    if (stampOf(path) != std::optional<FileStamp>(image->stamp_)) return nullptr;
    if (image->verdict_) {
        // Checking since the start.
    } else if (!needsCheck) {
        image->knownSoundVerdict();
    } else if (!middle) {
        image->startCheck(check);
    }
    // A connection not checking ends its read transaction now.
    for (const std::shared_ptr<Check>& connection : {check, second})
        if (connection && (!image->verdict_ || image->verdict_->check != connection)) connection->transaction->commit();
    return image;
}

void TableImage::startCheck(std::shared_ptr<Check> check) {
    auto verdict = std::make_shared<Verdict>();
    verdict->check = std::move(check);
    verdict->fault =
        std::async(std::launch::async, [running = verdict->check, path = path_] { return running->run(path); })
            .share();
    verdict_ = std::move(verdict);
}

void TableImage::knownSoundVerdict() {
    auto verdict = std::make_shared<Verdict>();
    std::promise<std::string> sound;
    sound.set_value({});
    verdict->fault = sound.get_future().share();
    verdict_ = std::move(verdict);
}

bool TableImage::foundSound(const std::atomic<bool>& stop) const {
    if (!verdict_) return false;
    while (verdict_->fault.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (stop.load(std::memory_order_relaxed)) return false;
    return verdict_->fault.get().empty();
}

void TableImage::requireSound() const {
    if (!verdict_) return;
    const std::string& fault = verdict_->fault.get();
    if (!fault.empty()) throw EngineError(fault);
}

void copyTableFile(const std::string& sourceFolder, const ViewDef& view, const std::string& target) {
    const std::optional<std::string> found = findFileIgnoringCase(sourceFolder, std::string(view.copiedFileName));
    const std::string source = found.value_or(detail::joinPath(sourceFolder, view.copiedFileName));
    if (!found || !stampOf(source)) throw EngineError(detail::unreadableText(source));
    // The read transaction keeps writers off the source while its bytes are
    // copied, so the bytes checked are the bytes copied.
    Database db = Database::openReadOnly(source);
    detail::Transaction transaction(db, source, detail::Transaction::Lock::Deferred);
    std::string tableName;
    std::vector<Column> columns;
    readSchema(db, source, tableName, columns);
    std::vector<std::string> names;
    for (const Column& column : columns) names.push_back(column.name);
    if (const auto mismatch = fieldMismatchText(view, source, names)) throw EngineError(*mismatch);
    // The pages are checked while the bytes are copied; the copy takes the
    // target's place only once the check found nothing.
    std::string damage;
    std::exception_ptr failure;
    std::thread checker([&] {
        try {
            damage = damageFoundIn(db, source);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        copyWholeFile(source, target, [&] {
            checker.join();
            if (failure) std::rethrow_exception(failure);
            if (!damage.empty()) throw EngineError(damage);
        });
    } catch (...) {
        if (checker.joinable()) checker.join();
        throw;
    }
    transaction.commit();
    if (const std::optional<FileStamp> copied = stampOf(target)) noteSound(target, *copied);
}

}  // namespace archive
