#include "engine.h"

#include "cp1252.h"
#include "enginepaths.h"
#include "filelayer.h"
#include "imagecache.h"
#include "imagefile.h"
#include "queryeval.h"
#include "querytext.h"
#include "sorting.h"
#include "sqlparser.h"
#include "tablefile.h"
#include "tableimage.h"
#include "transaction.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

namespace archive {
namespace {

using detail::queriedTableFile;

std::string fieldNotFoundText(std::string_view name) { return "Feld " + quoted(name) + " nicht gefunden."; }

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
    openOn(imageOf(queriedTableFile(databaseName, prepared_->select.path)));
}

void Query::openFields(std::span<const std::string_view> fields) {
    close();
    prepare();
    const std::string path = queriedTableFile(databaseName, prepared_->select.path);
    std::shared_ptr<const TableImage> image = imageIfAtHand(path);
    openOn(image ? std::move(image) : TableImage::loadFields(path, fields));
}

void Query::openOn(std::shared_ptr<const TableImage> image) {
    const sql::SelectStatement& select = prepared_->select;
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

    std::vector<uint32_t> rows = std::exchange(spareRows_, {});
    selectRows(*image, conditions, order, rows);
    // The result is worked out while SQLite's check of the file may still
    // run; it is shown only once the file is found sound.
    image->requireSound();
    // Found sound, and with the order of this first result worked out: the
    // next start takes both from the cache file.
    if (!image->partial()) offerImageFile(image);
    attach(std::move(image), std::move(rows), true);
    order_ = std::move(order);
}

void Query::prepareSearch(std::string_view field) const {
    if (!active_ || !image_) return;
    const int column = fieldIndex(field);
    if (column < 0 || image_->columns()[static_cast<size_t>(column)].kind != FieldKind::Text) return;
    image_->dictionary(column).upper();
    if (order_.empty())
        image_->ranks(column);
    else
        image_->ranksAlong(order_, column);
}

void Query::close() {
    // The next result lands in this one's room: at a million rows, fresh
    // pages for every keystroke cost more than the search itself. A second
    // close (open closes too) keeps the room the first one kept.
    if (rows_.capacity() > spareRows_.capacity()) spareRows_ = std::move(rows_);
    spareRows_.clear();
    detach();
}

std::optional<std::string> greatestValue(const std::string& databaseName, const std::string& fromPath,
                                        const ViewDef& view, std::string_view field) {
    const std::string path = queriedTableFile(databaseName, fromPath);
    const GreatestValue greatest = greatestValueOf(path, field);
    if (const auto mismatch = fieldMismatchText(view, path, greatest.fieldNames)) throw EngineError(*mismatch);
    if (greatest.column < 0) throw EngineError(fieldNotFoundText(field));
    return greatest.value;
}

std::optional<std::string> greatestValue(const Query& opened, const ViewDef& view, std::string_view field) {
    const TableImage* image = opened.image();
    if (!image) throw std::logic_error("greatestValue: the query is not open");
    const GreatestValue greatest = greatestValueIn(*image, field);
    if (const auto mismatch = fieldMismatchText(view, image->path(), greatest.fieldNames))
        throw EngineError(*mismatch);
    if (greatest.column < 0) throw EngineError(fieldNotFoundText(field));
    return greatest.value;
}

std::optional<std::string> newestIssueCode(const std::string& databaseName, const ViewDef& view) {
    return greatestValue(databaseName, queriedPath(databaseName, view.tableFile), view, newestIssueOrder().field);
}

void readNewestIssuesAhead(const std::string& databaseName, std::span<const ViewDef* const> views) {
    std::vector<std::string> paths;
    for (const ViewDef* view : views) {
        try {
            paths.push_back(queriedTableFile(databaseName, queriedPath(databaseName, view->tableFile)));
        } catch (const EngineError&) {
            // The lookup that follows finds the same fault and reports it.
        }
    }
    readGreatestValuesAhead(paths, newestIssueOrder().field);
}

void prefetchTable(const std::string& databaseName, const std::string& fileName, LoadPriority priority) {
    try {
        prefetchImage(queriedTableFile(databaseName, fileName), priority);
    } catch (const EngineError&) {
        // The open that follows finds the same fault and reports it.
    }
}

void prefetchQuery(const std::string& databaseName, const std::vector<std::string>& sql, LoadPriority priority,
                   std::string_view searchField) {
    sql::SelectStatement select;
    try {
        select = sql::parseSelect(joinQueryLines(sql));
    } catch (const EngineError&) {
        return;
    }
    std::vector<std::string> orderFields;
    std::vector<bool> descending;
    for (const sql::OrderKey& key : select.order) {
        orderFields.push_back(key.field);
        descending.push_back(key.descending);
    }
    // Each step looks at `cancelled` first: quitting right after the start
    // waits for at most the step under way, not for the whole preparing.
    auto prepare = [orderFields, descending, searchField = std::string(searchField)](
                       const TableImage& image, const std::atomic<bool>& cancelled) {
        auto columnOf = [&](std::string_view field) {
            const auto& columns = image.columns();
            for (size_t i = 0; i < columns.size(); ++i)
                if (equalsIgnoringCase(columns[i].name, field)) return static_cast<int>(i);
            return -1;
        };
        std::vector<SortSpec> order;
        for (size_t i = 0; i < orderFields.size(); ++i) {
            const int column = columnOf(orderFields[i]);
            if (column < 0) return;  // the open refuses the query
            order.push_back({column, descending[i]});
        }
        // The ranks of each key one by one, so that a cancel is seen between them.
        for (const SortSpec& key : order) {
            if (cancelled) return;
            image.ranks(key.column);
        }
        if (cancelled) return;
        if (!order.empty()) image.sortedRows(order);
        // As Query::prepareSearch does it, after the first frame.
        const int search = columnOf(searchField);
        if (search < 0 || image.columns()[static_cast<size_t>(search)].kind != FieldKind::Text) return;
        if (cancelled) return;
        image.dictionary(search).upper();
        if (cancelled) return;
        if (order.empty())
            image.ranks(search);
        else
            image.ranksAlong(order, search);
    };
    try {
        prefetchImage(queriedTableFile(databaseName, select.path), priority, std::move(prepare));
    } catch (const EngineError&) {
    }
}

}  // namespace archive
