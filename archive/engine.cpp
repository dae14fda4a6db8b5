#include "engine.h"

#include "cp1252.h"
#include "filelayer.h"
#include "querytext.h"
#include "sqlparser.h"
#include "tablefile.h"
#include "tableimage.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <numeric>

namespace archive {
namespace {


std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string fieldNotFoundText(std::string_view name) { return "Feld " + quoted(name) + " nicht gefunden."; }

// The table file a query or a table names, found without regard to case.
// The views ask for "GameData.db" where the hard-disk copy wrote
// "GameData.DB"; the spelling found is remembered, so a rerun on every
// keystroke does not read the folder again.
std::string resolveTableFile(const std::string& folder, const std::string& name) {
    std::string requested = detail::joinPath(folder, name);
    static std::mutex mutex;
    static std::map<std::string, std::string> found;
    {
        std::lock_guard lock(mutex);
        const auto known = found.find(requested);
        // An exact spelling that appeared since wins, as in the first search.
        if (known != found.end() && stampOf(known->second) && (known->second == requested || !stampOf(requested)))
            return known->second;
    }
    const std::optional<std::string> path = findFileIgnoringCase(folder, name);
    if (!path) throw EngineError(detail::notFoundText(requested));
    std::lock_guard lock(mutex);
    if (found.size() > 64) found.clear();
    found[requested] = *path;
    return *path;
}

// A bare file name has no folder: it is looked for in the current folder.
std::pair<std::string, std::string> splitPath(const std::string& path) {
    return {path.find('/') == std::string::npos ? std::string() : detail::folderOf(path), detail::fileNameOf(path)};
}

// A LIKE pattern: case-sensitive, '%' any run of characters, every other
// character itself ('_' too).
class LikePattern {
public:
    explicit LikePattern(std::string_view pattern) {
        size_t start = 0;
        for (;;) {
            const size_t percent = pattern.find('%', start);
            parts_.emplace_back(pattern.substr(start, percent == std::string_view::npos ? percent : percent - start));
            if (percent == std::string_view::npos) break;
            start = percent + 1;
        }
    }

    bool matches(std::string_view text) const {
        if (parts_.size() == 1) return text == parts_[0];
        const std::string& prefix = parts_.front();
        const std::string& suffix = parts_.back();
        if (text.size() < prefix.size() + suffix.size()) return false;
        if (text.substr(0, prefix.size()) != prefix || text.substr(text.size() - suffix.size()) != suffix)
            return false;
        // With '%' the only wildcard, taking each middle part at its first
        // place never misses a match.
        const std::string_view middle = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
        size_t pos = 0;
        for (size_t i = 1; i + 1 < parts_.size(); ++i) {
            if (parts_[i].empty()) continue;
            const size_t found = middle.find(parts_[i], pos);
            if (found == std::string_view::npos) return false;
            pos = found + parts_[i].size();
        }
        return true;
    }

    // For "%X%" (or "%"), X: the case a title keystroke makes.
    std::optional<std::string_view> containedText() const {
        if (parts_.size() < 2 || !parts_.front().empty() || !parts_.back().empty()) return std::nullopt;
        std::optional<std::string_view> inner = std::string_view();
        for (size_t i = 1; i + 1 < parts_.size(); ++i) {
            if (parts_[i].empty()) continue;
            if (!inner->empty()) return std::nullopt;
            inner = parts_[i];
        }
        return inner;
    }

private:
    std::vector<std::string> parts_;
};

struct BoundCondition {
    sql::ConditionKind kind;
    int column;
    std::optional<LikePattern> like;
    long long minimum = 0;
};

class Evaluator {
public:
    explicit Evaluator(const TableImage& image) : image_(image) {}

    // The rows satisfying the condition, ascending, out of all rows.
    std::vector<uint32_t> scan(const BoundCondition& condition) const {
        std::vector<uint32_t> rows;
        const uint32_t count = image_.rowCount();
        if (condition.kind == sql::ConditionKind::AtLeast) {
            const std::vector<int64_t>& numbers = image_.numbers(condition.column);
            for (uint32_t row = 0; row < count; ++row)
                if (numbers[row] != TableImage::kNoNumber && numbers[row] >= condition.minimum) rows.push_back(row);
            return rows;
        }
        const TableImage::Bytes cells = cellsOf(condition);
        if (const std::optional<std::string_view> inner = condition.like->containedText()) {
            scanContaining(cells, condition.column, *inner, rows);
            return rows;
        }
        for (uint32_t row = 0; row < count; ++row)
            if (matches(cells, condition, row)) rows.push_back(row);
        return rows;
    }

    // Keeps the rows that also satisfy the condition.
    void filter(const BoundCondition& condition, std::vector<uint32_t>& rows) const {
        if (condition.kind == sql::ConditionKind::AtLeast) {
            const std::vector<int64_t>& numbers = image_.numbers(condition.column);
            std::erase_if(rows, [&](uint32_t row) {
                return numbers[row] == TableImage::kNoNumber || numbers[row] < condition.minimum;
            });
            return;
        }
        const TableImage::Bytes cells = cellsOf(condition);
        std::erase_if(rows, [&](uint32_t row) { return !matches(cells, condition, row); });
    }

private:
    TableImage::Bytes cellsOf(const BoundCondition& condition) const {
        return condition.kind == sql::ConditionKind::UpperLike ? image_.upperBytes(condition.column)
                                                               : image_.bytes(condition.column);
    }

    bool matches(const TableImage::Bytes& cells, const BoundCondition& condition, uint32_t row) const {
        if (image_.isNull(row, condition.column)) return false;  // NULL never satisfies LIKE
        const uint32_t start = cells.offsets[row];
        return condition.like->matches(
            std::string_view(cells.bytes.data() + start, cells.offsets[row + 1] - start - 1));
    }

    // One pass over the column's cells, which lie back to back with a 0 byte
    // after each: every hit is mapped to its row through the offsets, and the
    // search goes on at the next row.
    void scanContaining(const TableImage::Bytes& cells, int column, std::string_view inner,
                        std::vector<uint32_t>& rows) const {
        const uint32_t count = image_.rowCount();
        if (inner.empty()) {
            for (uint32_t row = 0; row < count; ++row)
                if (!image_.isNull(row, column)) rows.push_back(row);
            return;
        }
        const std::string_view all(cells.bytes);
        const std::vector<uint32_t>& offsets = cells.offsets;
        size_t pos = 0;
        uint32_t row = 0;
        while (pos < all.size()) {
            const size_t hit = all.find(inner, pos);
            if (hit == std::string_view::npos) break;
            // The first row that ends after the hit holds it.
            auto next = std::upper_bound(offsets.begin() + row + 1, offsets.end(), static_cast<uint32_t>(hit));
            row = static_cast<uint32_t>(next - offsets.begin() - 1);
            if (hit + inner.size() < offsets[row + 1]) {
                rows.push_back(row);  // a NULL cell is empty and holds no hit
                pos = offsets[row + 1];
                ++row;
                if (row >= count) break;
            } else {
                pos = hit + 1;  // ran over the end of its row
            }
        }
    }

    const TableImage& image_;
};

// Marks rows while a result is put into sort order; cleared after each use,
// so a keystroke does not pay for a fresh buffer.
std::vector<uint8_t>& rowMarks(size_t size) {
    static thread_local std::vector<uint8_t> marks;
    if (marks.size() < size) marks.assign(size, 0);
    return marks;
}

}  // namespace

// ---- Field

const std::string& Field::fieldName() const { return dataSet_->column(index_).name; }
FieldKind Field::kind() const { return dataSet_->column(index_).kind; }

std::string Field::asString() const {
    if (dataSet_->recNo() < 0) return {};
    return std::string(dataSet_->text(dataSet_->recNo(), index_));
}

bool Field::isNull() const { return dataSet_->recNo() < 0 || dataSet_->isNull(dataSet_->recNo(), index_); }

std::optional<long long> Field::asInteger() const {
    if (dataSet_->recNo() < 0) return std::nullopt;
    return dataSet_->integer(dataSet_->recNo(), index_);
}

const std::string& Field::displayLabel() const { return dataSet_->displayLabel(index_); }
void Field::setDisplayLabel(std::string label) { dataSet_->setDisplayLabel(index_, std::move(label)); }

void Field::setAsString(std::string_view text) {
    auto* table = dynamic_cast<Table*>(dataSet_);
    if (!table) throw EngineError("Das Ergebnis einer Abfrage kann nicht ge\xE4" "ndert werden.");
    table->setFieldText(index_, text);
}

// ---- DataSet

DataSet::DataSet() = default;
DataSet::~DataSet() = default;

int DataSet::addListener(Listener listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void DataSet::removeListener(int id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void DataSet::notify(DataSetEvent event, int row) {
    // A copy: a listener may add or remove listeners.
    const auto listeners = listeners_;
    for (const auto& [id, listener] : listeners) listener(event, row);
}

int DataSet::rowCount() const { return static_cast<int>(rows_.size()); }
int DataSet::recordCount() const { return active_ ? rowCount() : 0; }

uint32_t DataSet::imageRow(int record) const { return rows_[static_cast<size_t>(record)]; }

void DataSet::setCursor(int record) {
    eof_ = bof_ = false;
    if (current_ == record) return;
    current_ = record;
    notify(DataSetEvent::CursorMoved, record);
}

void DataSet::moveTo(int record) {
    const int count = recordCount();
    if (count == 0) return;
    setCursor(std::clamp(record, 0, count - 1));
}

void DataSet::first() {
    if (recordCount() == 0) {
        eof_ = bof_ = true;
        return;
    }
    moveTo(0);
    bof_ = true;
    eof_ = false;
}

void DataSet::next() {
    if (current_ < 0 || current_ + 1 >= recordCount()) {
        eof_ = true;
        return;
    }
    moveTo(current_ + 1);
    eof_ = bof_ = false;
}

void DataSet::prior() {
    if (current_ <= 0) {
        bof_ = true;
        return;
    }
    moveTo(current_ - 1);
    eof_ = bof_ = false;
}

void DataSet::last() {
    if (recordCount() == 0) {
        eof_ = bof_ = true;
        return;
    }
    moveTo(recordCount() - 1);
    eof_ = true;
    bof_ = false;
}

const Column& DataSet::column(int index) const {
    if (index < 0 || index >= fieldCount())
        throw EngineError("Feld Nummer " + std::to_string(index) + " existiert nicht.");
    return columns_[static_cast<size_t>(index)];
}

int DataSet::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (equalsIgnoringCase(columns_[i].name, name)) return static_cast<int>(i);
    return -1;
}

int DataSet::requiredFieldIndex(std::string_view name) const {
    const int index = fieldIndex(name);
    if (index < 0) throw EngineError(fieldNotFoundText(name));
    return index;
}

Field DataSet::fieldByName(std::string_view name) { return Field(*this, requiredFieldIndex(name)); }

Field DataSet::field(int index) {
    column(index);  // range check
    return Field(*this, index);
}

std::string_view DataSet::text(int record, int column) const {
    if (!image_ || record < 0 || static_cast<size_t>(record) >= rows_.size() || column < 0 || column >= fieldCount())
        return {};
    return image_->text(imageRow(record), column);
}

bool DataSet::isNull(int record, int column) const {
    if (!image_ || record < 0 || static_cast<size_t>(record) >= rows_.size() || column < 0 || column >= fieldCount())
        return true;
    return image_->isNull(imageRow(record), column);
}

std::optional<long long> DataSet::integer(int record, int column) const {
    if (isNull(record, column)) return std::nullopt;
    if (!buffered(record)) return image_->integer(imageRow(record), column);
    return detail::parseInteger(text(record, column));
}

const std::string& DataSet::displayLabel(int column) const {
    this->column(column);
    return labels_[static_cast<size_t>(column)];
}

void DataSet::setDisplayLabel(int column, std::string label) {
    this->column(column);
    labels_[static_cast<size_t>(column)] = std::move(label);
}

void DataSet::attach(std::shared_ptr<const TableImage> image, std::vector<uint32_t> rows, bool freshFields) {
    image_ = std::move(image);
    rows_ = std::move(rows);
    if (freshFields || columns_.size() != image_->columns().size()) {
        columns_ = image_->columns();
        labels_.clear();
        for (const Column& column : columns_) labels_.push_back(column.name);
    } else {
        columns_ = image_->columns();
    }
    active_ = true;
    current_ = rows_.empty() ? -1 : 0;
    eof_ = rows_.empty();
    bof_ = true;
    notify(DataSetEvent::Reset, -1);
}

void DataSet::detach() {
    const bool wasActive = active_;
    image_.reset();
    rows_.clear();
    rows_.shrink_to_fit();
    columns_.clear();
    labels_.clear();
    active_ = false;
    current_ = -1;
    eof_ = bof_ = true;
    if (wasActive) notify(DataSetEvent::Reset, -1);
}

// ---- Query

struct Query::Statement {
    sql::SelectStatement select;
};

void Query::prepare() {
    std::string text = joinQueryLines(sql);
    if (prepared_ && text == preparedText_) return;
    auto statement = std::make_shared<Statement>();
    statement->select = sql::parseSelect(text);
    prepared_ = std::move(statement);
    preparedText_ = std::move(text);
}

void Query::open() {
    close();
    prepare();
    const sql::SelectStatement& select = prepared_->select;

    std::string path = select.path;
    if (!path.empty() && path.front() != '/' && !databaseName.empty()) path = databaseName + "/" + path;
    const auto [folder, name] = splitPath(path);
    std::shared_ptr<const TableImage> image = imageOf(resolveTableFile(folder, name));

    auto columnOf = [&](const std::string& field, sql::Position position) {
        const auto& columns = image->columns();
        for (size_t i = 0; i < columns.size(); ++i)
            if (equalsIgnoringCase(columns[i].name, field)) return static_cast<int>(i);
        throw EngineError(sql::errorAt(position, fieldNotFoundText(field)));
    };

    std::vector<BoundCondition> conditions;
    for (const sql::Condition& condition : select.conditions) {
        BoundCondition bound{condition.kind, columnOf(condition.field, condition.fieldPosition), std::nullopt,
                             condition.minimum};
        if (condition.kind == sql::ConditionKind::AtLeast) {
            if (image->columns()[static_cast<size_t>(bound.column)].kind != FieldKind::Integer)
                throw EngineError(sql::errorAt(condition.fieldPosition, "Das Feld " + quoted(condition.field) +
                                                                            " enth\xE4lt keine Zahlen; >= vergleicht nur Zahlen."));
        } else {
            bound.like.emplace(condition.pattern);
        }
        conditions.push_back(std::move(bound));
    }
    std::vector<SortSpec> order;
    for (const sql::OrderKey& key : select.order)
        order.push_back({columnOf(key.field, key.fieldPosition), key.descending});

    // The cheapest condition to scan in full: a "%X%" search goes through
    // the contiguous cells at memory speed; the others only test its hits.
    std::vector<uint32_t> rows;
    const uint32_t count = image->rowCount();
    if (conditions.empty()) {
        if (order.empty()) {
            rows.resize(count);
            std::iota(rows.begin(), rows.end(), 0u);
        } else {
            rows = image->sortedRows(order);
        }
    } else {
        auto first = std::find_if(conditions.begin(), conditions.end(), [](const BoundCondition& c) {
            return c.like && c.like->containedText();
        });
        if (first == conditions.end()) first = conditions.begin();
        const Evaluator evaluator(*image);
        std::vector<uint32_t> matches = evaluator.scan(*first);
        for (auto it = conditions.begin(); it != conditions.end(); ++it)
            if (it != first) evaluator.filter(*it, matches);
        if (order.empty()) {
            rows = std::move(matches);
        } else {
            const std::vector<uint32_t>& sorted = image->sortedRows(order);
            std::vector<uint8_t>& marks = rowMarks(count);
            for (uint32_t row : matches) marks[row] = 1;
            rows.reserve(matches.size());
            for (uint32_t row : sorted)
                if (marks[row]) rows.push_back(row);
            for (uint32_t row : matches) marks[row] = 0;
        }
    }
    attach(std::move(image), std::move(rows), true);
}

void Query::close() { detach(); }

// ---- Table

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
    path_ = path;
    std::vector<uint32_t> rows(image->rowCount());
    std::iota(rows.begin(), rows.end(), 0u);
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

void Table::setFieldText(int column, std::string_view text) {
    requireWritable();
    const Column& target = this->column(column);
    std::optional<std::string> value;
    if (target.kind == FieldKind::Integer) {
        const bool blank = text.find_first_not_of(' ') == std::string_view::npos;
        if (!blank) {
            const std::optional<long long> number = detail::parseInteger(text);
            if (!number) throw EngineError(detail::notANumberText(text, target.name));
            value = std::to_string(*number);
        }
    } else if (!text.empty()) {
        value = std::string(text);
    }
    if (state_ == TableState::Browse) edit();
    buffer_[static_cast<size_t>(column)] = std::move(value);
    modified_ = true;
    notify(DataSetEvent::RowChanged, current_);
}

void Table::post() {
    if (state_ != TableState::Edit && state_ != TableState::Insert) return;
    requireWritable();
    if (!modified_) {
        // Nothing typed: an untouched new row is not worth a row of NULLs.
        cancel();
        return;
    }
    const TableImage& image = *image_;
    const bool inserting = state_ == TableState::Insert;

    std::string statementText;
    const std::string table = detail::quotedIdentifier(image.sqlTableName());
    if (inserting) {
        statementText = "INSERT INTO " + table + " (";
        std::string values;
        for (int c = 0; c < fieldCount(); ++c) {
            if (c > 0) {
                statementText += ", ";
                values += ", ";
            }
            statementText += detail::quotedIdentifier(detail::fsPath(columns_[static_cast<size_t>(c)].name));
            values += "?" + std::to_string(c + 1);
        }
        statementText += ") VALUES (" + values + ")";
    } else {
        statementText = "UPDATE " + table + " SET ";
        for (int c = 0; c < fieldCount(); ++c) {
            if (c > 0) statementText += ", ";
            statementText += detail::quotedIdentifier(detail::fsPath(columns_[static_cast<size_t>(c)].name));
            statementText += " = ?" + std::to_string(c + 1);
        }
        statementText += " WHERE rowid = ?" + std::to_string(fieldCount() + 1);
    }

    detail::Database db = detail::Database::openReadWrite(path_);
    db.exec("BEGIN IMMEDIATE", path_);
    int64_t rowId = 0;
    try {
        detail::Statement statement(db, statementText, path_);
        sqlite3_stmt* stmt = statement.get();
        std::vector<std::string> utf8(static_cast<size_t>(fieldCount()));
        for (int c = 0; c < fieldCount(); ++c) {
            const std::optional<std::string>& value = buffer_[static_cast<size_t>(c)];
            if (!value) {
                sqlite3_bind_null(stmt, c + 1);
            } else if (columns_[static_cast<size_t>(c)].kind == FieldKind::Integer) {
                sqlite3_bind_int64(stmt, c + 1, detail::parseInteger(*value).value_or(0));
            } else {
                utf8[static_cast<size_t>(c)] = cp1252ToUtf8(*value);
                const std::string& bytes = utf8[static_cast<size_t>(c)];
                sqlite3_bind_text(stmt, c + 1, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
            }
        }
        if (!inserting) {
            rowId = image.rowId(imageRow(current_));
            sqlite3_bind_int64(stmt, fieldCount() + 1, rowId);
        }
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE) detail::throwForSqlite(rc, path_, db.lastError());
        if (!inserting && sqlite3_changes(db.get()) != 1)
            throw EngineError("Der Datensatz ist nicht mehr in der Tabelle " + quoted(tableName) + ".");
        if (inserting) rowId = sqlite3_last_insert_rowid(db.get());
        db.exec("COMMIT", path_);
    } catch (...) {
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    db.close();

    state_ = TableState::Browse;
    buffer_.clear();
    modified_ = false;
    reload(rowId);
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

    const int64_t rowId = image_->rowId(imageRow(current_));
    // The cursor goes to the following row, or the one before at the end.
    std::optional<int64_t> neighbour;
    if (current_ + 1 < static_cast<int>(rows_.size()))
        neighbour = image_->rowId(imageRow(current_ + 1));
    else if (current_ > 0)
        neighbour = image_->rowId(imageRow(current_ - 1));

    detail::Database db = detail::Database::openReadWrite(path_);
    db.exec("BEGIN IMMEDIATE", path_);
    try {
        detail::Statement statement(db, "DELETE FROM " + detail::quotedIdentifier(image_->sqlTableName()) +
                                            " WHERE rowid = ?1", path_);
        sqlite3_bind_int64(statement.get(), 1, rowId);
        const int rc = sqlite3_step(statement.get());
        if (rc != SQLITE_DONE) detail::throwForSqlite(rc, path_, db.lastError());
        db.exec("COMMIT", path_);
    } catch (...) {
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    db.close();
    reload(neighbour);
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
    std::vector<uint32_t> rows(image->rowCount());
    std::iota(rows.begin(), rows.end(), 0u);
    std::optional<uint32_t> row;
    if (keepRowId) row = image->rowOfRowId(*keepRowId);
    attach(std::move(image), std::move(rows), false);
    if (row) setCursor(static_cast<int>(*row));
}

}  // namespace archive
