// The table: a table file in stored order over the shared cursor, and its
// write path. Every write is one transaction in SQLite, after which the
// image is brought up to date from what was written (tableimage.h).

#include "engine.h"

#include "cp1252.h"
#include "enginepaths.h"
#include "filelayer.h"
#include "imagecache.h"
#include "tablefile.h"
#include "tableimage_internal.h"
#include "tableimage.h"
#include "transaction.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace archive {
namespace {

using detail::resolveTableFile;

// One write of a table to its file. The write lock is taken at once, so the
// file cannot change between the look at its stamp here and the commit.
class FileWrite {
public:
    FileWrite(const std::string& path, const TableImage& image)
        : path_(path), db_(detail::Database::openReadWrite(path)) {
        {
            detail::Command mode(db_, "PRAGMA journal_mode", path_);
            if (mode.step()) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
                walMode_ = text && equalsIgnoringCase(text, "wal");
            }
        }
        transaction_.emplace(db_, path_);
        before_ = stampOf(path_);
        // What this write changes brings the image up to date only when the
        // image shows the file as it is: else the file changed from outside.
        // In WAL mode changes of another program may wait in the -wal file.
        current_ = before_ && *before_ == image.stamp() && !(walMode_ && detail::hasPendingWal(detail::fsPath(path_)));
    }

    detail::Database& db() { return db_; }
    // False when SQLite gave the transaction up itself (a full disk, say).
    bool inTransaction() const { return sqlite3_get_autocommit(db_.get()) == 0; }

    // Commits and closes the file. Then the file's stamp when it holds
    // exactly the image plus what this write changed (`changed`: whether it
    // changed anything); nothing when the file has to be read again.
    std::optional<FileStamp> commit(bool changed) {
        transaction_->commit();
        transaction_.reset();
        db_.close();  // in WAL mode this copies the changes into the file
        const std::optional<FileStamp> after = stampOf(path_);
        if (!current_ || !after) return std::nullopt;
        // With a rollback journal SQLite counts every commit in the file's
        // header: exactly one more than before means nobody else wrote the
        // file between our commit and this look at it.
        if (!walMode_ && after->changeCounter != before_->changeCounter + (changed ? 1u : 0u)) return std::nullopt;
        return after;
    }

private:
    std::string path_;
    detail::Database db_;
    std::optional<detail::Transaction> transaction_;  // ends before the file is closed
    std::optional<FileStamp> before_;
    bool walMode_ = false;
    bool current_ = false;
};

// The value `text` gives a field: NULL for an empty text (a blank one in an
// integer field), an integer as its decimal text. Throws EngineError.
Cell valueOfText(const Column& target, std::string_view text) {
    if (target.kind == FieldKind::Integer) {
        if (text.find_first_not_of(' ') == std::string_view::npos) return std::nullopt;
        const std::optional<long long> number = detail::parseInteger(text);
        if (!number) throw EngineError(detail::notANumberText(text, target.name));
        return std::to_string(*number);
    }
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

// `sqlTableName` as the file names it (UTF-8).
std::string insertStatement(const std::string& sqlTableName, const std::vector<Column>& columns) {
    std::string fields;
    std::string values;
    for (size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) {
            fields += ", ";
            values += ", ";
        }
        fields += detail::quotedIdentifier(detail::fsPath(columns[c].name));
        values += '?';
    }
    return "INSERT INTO " + detail::quotedIdentifier(sqlTableName) + " (" + fields + ") VALUES (" + values + ")";
}

}  // namespace

int appendToTableFile(const std::string& databaseName, const std::string& tableName,
                      const std::function<bool(std::vector<std::string>&)>& nextRecord, bool trial,
                      const std::function<void(const std::vector<Cell>&)>& stored) {
    const std::string path = resolveTableFile(databaseName, tableName);
    detail::Database db = detail::Database::openReadWrite(path);
    std::string sqlTableName;
    std::vector<Column> columns;
    detail::readSchema(db, path, sqlTableName, columns);
    int count = 0;
    {
        detail::Transaction transaction(db, path);
        detail::Command insert(db, insertStatement(sqlTableName, columns), path);
        std::vector<std::string> values;
        std::vector<Cell> record(columns.size());
        // A refused record leaves by an exception: the transaction rolls back.
        while (nextRecord(values)) {
            ++count;
            if (values.size() > record.size())
                throw EngineError(detail::tooManyValuesText(values.size(), record.size()));
            for (size_t i = 0; i < record.size(); ++i)
                record[i] = i < values.size() ? valueOfText(columns[i], values[i]) : std::nullopt;
            for (size_t c = 0; c < record.size(); ++c) insert.cell(record[c], columns[c].kind);
            insert.run();
            if (stored) stored(record);
        }
        if (trial) return count;
        transaction.commit();
    }
    db.close();
    // An image of the file read before is read again at its next use.
    forgetImage(path);
    return count;
}

Table::Table() = default;

Table::~Table() = default;

void Table::setReadOnly(bool readOnly) {
    if (active_) throw EngineError("Der Schreibschutz kann nur bei geschlossener Tabelle ge\xE4" "ndert werden.");
    readOnly_ = readOnly;
}

void Table::open() {
    close();
    const std::string path = resolveTableFile(databaseName, tableName);
    std::shared_ptr<const TableImage> image = imageOf(path);
    image->requireSound();
    path_ = path;
    std::vector<uint32_t> rows = image->liveRows();
    state_ = TableState::Browse;
    attach(std::move(image), std::move(rows), true);
    notify(DataSetEvent::StateChanged, current_);
}

void Table::close() {
    buffer_.clear();
    modified_ = false;
    const bool wasOpen = active_;
    state_ = TableState::Inactive;
    if (!wasOpen) return;
    detach();
    notify(DataSetEvent::StateChanged, -1);
}

int Table::rowCount() const { return static_cast<int>(rows_.size()) + (state_ == TableState::Insert ? 1 : 0); }

bool Table::buffered(int record) const {
    return (state_ == TableState::Edit || state_ == TableState::Insert) && record == current_;
}

std::string_view Table::text(int record, int column) const {
    if (buffered(record)) {
        if (column < 0 || column >= fieldCount()) return {};
        const std::optional<std::string>& value = buffer_[static_cast<size_t>(column)];
        return value ? std::string_view(*value) : std::string_view();
    }
    return DataSet::text(record, column);
}

bool Table::isNull(int record, int column) const {
    if (buffered(record)) return column < 0 || column >= fieldCount() || !buffer_[static_cast<size_t>(column)];
    return DataSet::isNull(record, column);
}

void Table::requireWritable() const {
    if (!active_) throw EngineError("Die Tabelle " + quoted(tableName) + " ist nicht ge\xF6" "ffnet.");
    if (readOnly_) throw EngineError(detail::readOnlyText(tableName));
}

void Table::edit() {
    requireWritable();
    if (state_ == TableState::Edit || state_ == TableState::Insert) return;
    if (current_ < 0) {
        insert();
        return;
    }
    buffer_.clear();
    for (int c = 0; c < fieldCount(); ++c) {
        if (image_->isNull(imageRow(current_), c))
            buffer_.emplace_back(std::nullopt);
        else
            buffer_.emplace_back(std::string(image_->text(imageRow(current_), c)));
    }
    modified_ = false;
    state_ = TableState::Edit;
    notify(DataSetEvent::StateChanged, current_);
}

void Table::leaveEditing() {
    if (state_ != TableState::Edit && state_ != TableState::Insert) return;
    if (modified_)
        post();
    else
        cancel();
}

void Table::insert() {
    requireWritable();
    leaveEditing();
    insertedFrom_ = current_;
    buffer_.assign(static_cast<size_t>(fieldCount()), std::nullopt);
    modified_ = false;
    state_ = TableState::Insert;
    current_ = static_cast<int>(rows_.size());
    eof_ = bof_ = false;
    notify(DataSetEvent::Reset, -1);
    notify(DataSetEvent::CursorMoved, current_);
    notify(DataSetEvent::StateChanged, current_);
}

void Table::append() { insert(); }

void Table::cancel() {
    if (state_ == TableState::Edit) {
        state_ = TableState::Browse;
        buffer_.clear();
        modified_ = false;
        notify(DataSetEvent::RowChanged, current_);
        notify(DataSetEvent::StateChanged, current_);
    } else if (state_ == TableState::Insert) {
        state_ = TableState::Browse;
        buffer_.clear();
        modified_ = false;
        current_ = rows_.empty() ? -1 : std::clamp(insertedFrom_, 0, static_cast<int>(rows_.size()) - 1);
        eof_ = rows_.empty();
        bof_ = rows_.empty();
        notify(DataSetEvent::Reset, -1);
        notify(DataSetEvent::CursorMoved, current_);
        notify(DataSetEvent::StateChanged, current_);
    }
}

Cell Table::fieldValue(int column, std::string_view text) const { return valueOfText(this->column(column), text); }

void Table::setFieldText(int column, std::string_view text) {
    requireWritable();
    Cell value = fieldValue(column, text);
    if (state_ == TableState::Browse) edit();
    buffer_[static_cast<size_t>(column)] = std::move(value);
    modified_ = true;
    notify(DataSetEvent::RowChanged, current_);
}

std::string Table::insertText() const { return insertStatement(image_->sqlTableName(), columns_); }

void Table::show(std::shared_ptr<const TableImage> image, std::vector<uint32_t> rows, int record) {
    attach(std::move(image), std::move(rows), false);
    if (record >= 0 && record < static_cast<int>(rows_.size())) setCursor(record);
}

void Table::post() {
    if (state_ != TableState::Edit && state_ != TableState::Insert) return;
    requireWritable();
    if (!modified_) {
        // Nothing typed: an untouched new row is not worth a row of NULLs.
        cancel();
        return;
    }
    const bool inserting = state_ == TableState::Insert;
    const TableImage& image = *image_;
    const uint32_t row = inserting ? 0 : imageRow(current_);

    // An edit stores the fields whose value changed, nothing else: a foreign
    // file's values in the other fields stay exactly as they are.
    std::vector<int> changed;
    if (!inserting) {
        for (int c = 0; c < fieldCount(); ++c) {
            const Cell& value = buffer_[static_cast<size_t>(c)];
            const bool same = image.isNull(row, c) ? !value : value && image.text(row, c) == *value;
            if (!same) changed.push_back(c);
        }
        if (changed.empty()) {
            cancel();  // typed over with the same values: the row is as stored
            return;
        }
    }

    FileWrite write(path_, image);
    int64_t rowId = 0;
    if (inserting) {
        detail::Command insert(write.db(), insertText(), path_);
        for (int c = 0; c < fieldCount(); ++c)
            insert.cell(buffer_[static_cast<size_t>(c)], columns_[static_cast<size_t>(c)].kind);
        insert.run();
        rowId = sqlite3_last_insert_rowid(write.db().get());
    } else {
        std::string text = "UPDATE " + detail::quotedIdentifier(image.sqlTableName()) + " SET ";
        for (size_t i = 0; i < changed.size(); ++i) {
            if (i > 0) text += ", ";
            text += detail::quotedIdentifier(detail::fsPath(columns_[static_cast<size_t>(changed[i])].name)) + " = ?";
        }
        text += " WHERE rowid = ?";
        detail::Command update(write.db(), text, path_);
        for (int c : changed) update.cell(buffer_[static_cast<size_t>(c)], columns_[static_cast<size_t>(c)].kind);
        rowId = image.rowId(row);
        if (update.integer(rowId).run() != 1)
            throw EngineError("Der Datensatz ist nicht mehr in der Tabelle " + quoted(tableName) + ".");
    }
    const std::optional<FileStamp> stamp = write.commit(true);

    // The buffer holds what the file holds now: an integer field's value as
    // its decimal text, every other field's unchanged.
    const std::vector<Cell> cells = std::move(buffer_);
    state_ = TableState::Browse;
    buffer_.clear();
    modified_ = false;
    std::shared_ptr<const TableImage> next;
    if (stamp)
        next = inserting ? image.withRowsAppended(std::span(&rowId, 1), cells, *stamp)
                         : image.withRowChanged(row, cells, *stamp);
    if (next) {
        publishImage(next);
        std::vector<uint32_t> rows = std::exchange(rows_, {});
        if (inserting) rows.push_back(next->rowCount() - 1);
        const int record = inserting ? static_cast<int>(rows.size()) - 1 : current_;
        show(std::move(next), std::move(rows), record);
    } else {
        reload(rowId);
    }
    notify(DataSetEvent::StateChanged, current_);
}

void Table::deleteRecord() {
    requireWritable();
    if (state_ == TableState::Insert) {
        cancel();  // the new row was never written
        return;
    }
    if (state_ == TableState::Edit) cancel();
    if (current_ < 0) throw EngineError("Die Tabelle " + quoted(tableName) + " hat keinen Datensatz zum L\xF6schen.");

    const TableImage& image = *image_;
    const uint32_t row = imageRow(current_);
    const int64_t rowId = image.rowId(row);
    // The cursor goes to the following row, or the one before at the end.
    std::optional<int64_t> neighbour;
    if (current_ + 1 < static_cast<int>(rows_.size()))
        neighbour = image.rowId(imageRow(current_ + 1));
    else if (current_ > 0)
        neighbour = image.rowId(imageRow(current_ - 1));

    FileWrite write(path_, image);
    detail::Command remove(write.db(), "DELETE FROM " + detail::quotedIdentifier(image.sqlTableName()) +
                                           " WHERE rowid = ?", path_);
    const bool removed = remove.integer(rowId).run() == 1;
    const std::optional<FileStamp> stamp = write.commit(removed);

    // Deleted rows keep their place in the image until it is read whole:
    // once they are a quarter of it, that is now.
    const uint32_t deleted = image.deletedCount() + 1;
    const bool compact = deleted >= TableImage::kChunkRows && deleted > image.rowCount() / 4;
    if (stamp && removed && !compact) {
        std::shared_ptr<const TableImage> next = image.withRowDeleted(row, *stamp);
        publishImage(next);
        std::vector<uint32_t> rows = std::exchange(rows_, {});
        rows.erase(rows.begin() + current_);
        const int record = std::min(current_, static_cast<int>(rows.size()) - 1);
        show(std::move(next), std::move(rows), record);
    } else {
        reload(neighbour);
    }
}

int Table::appendRecords(const std::function<bool(std::array<std::string, 4>&)>& nextRecord) {
    std::optional<FileWrite> write;
    std::optional<detail::Command> insert;
    std::vector<int64_t> rowIds;
    std::vector<Cell> cells;
    std::exception_ptr failure;
    int count = 0;
    try {
        std::array<std::string, 4> values;
        while (nextRecord(values)) {
            if (count++ == 0) {
                // As a first append would: a pending change is stored first.
                requireWritable();
                leaveEditing();
            }
            std::vector<Cell> record(static_cast<size_t>(fieldCount()));
            for (size_t i = 0; i < values.size(); ++i) record[i] = fieldValue(static_cast<int>(i), values[i]);
            if (!write) {
                write.emplace(path_, *image_);
                insert.emplace(write->db(), insertText(), path_);
            }
            for (int c = 0; c < fieldCount(); ++c)
                insert->cell(record[static_cast<size_t>(c)], columns_[static_cast<size_t>(c)].kind);
            // A refused row is undone by SQLite alone; the rows before it stay in the transaction.
            insert->run();
            rowIds.push_back(sqlite3_last_insert_rowid(write->db().get()));
            std::move(record.begin(), record.end(), std::back_inserter(cells));
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!write) {
        if (failure) std::rethrow_exception(failure);
        return count;
    }

    insert.reset();
    std::optional<FileStamp> stamp;
    if (write->inTransaction()) {
        try {
            stamp = write->commit(!rowIds.empty());
        } catch (...) {
            // Nothing of the import was stored.
            write.reset();
            reload(std::nullopt);
            throw;
        }
    } else {
        // SQLite gave up the whole transaction itself (a full disk): nothing was stored.
        rowIds.clear();
        cells.clear();
        write.reset();
        stamp = image_->stamp();
        if (stampOf(path_) != stamp) stamp.reset();
    }
    write.reset();

    std::shared_ptr<const TableImage> next;
    if (stamp) next = rowIds.empty() ? image_ : image_->withRowsAppended(rowIds, cells, *stamp);
    if (next && next != image_) {
        publishImage(next);
        std::vector<uint32_t> rows = std::exchange(rows_, {});
        for (uint32_t row = next->rowCount() - static_cast<uint32_t>(rowIds.size()); row < next->rowCount(); ++row)
            rows.push_back(row);
        const int record = static_cast<int>(rows.size()) - 1;
        show(std::move(next), std::move(rows), record);
        notify(DataSetEvent::StateChanged, current_);
    } else if (!next) {
        reload(rowIds.empty() ? std::nullopt : std::optional<int64_t>(rowIds.back()));
        notify(DataSetEvent::StateChanged, current_);
    }
    if (failure) std::rethrow_exception(failure);
    return count;
}

void Table::moveTo(int record) {
    if ((state_ == TableState::Edit || state_ == TableState::Insert) && record != current_) {
        // Moving stores a changed row and drops an unchanged one; a refused
        // store leaves the cursor on the row being edited.
        leaveEditing();
    }
    DataSet::moveTo(record);
}

void Table::reload(std::optional<int64_t> keepRowId) {
    forgetImage(path_);
    std::shared_ptr<const TableImage> image = imageOf(path_);
    image->requireSound();
    std::vector<uint32_t> rows = image->liveRows();
    int record = -1;
    if (keepRowId)
        if (const std::optional<uint32_t> row = image->rowOfRowId(*keepRowId))
            record = static_cast<int>(std::lower_bound(rows.begin(), rows.end(), *row) - rows.begin());
    show(std::move(image), std::move(rows), record);
}

}  // namespace archive
