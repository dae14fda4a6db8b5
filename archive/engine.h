#pragma once
// The database engine: the query (read-only result of a statement in the
// archive's SQL subset) and the table (a table file in stored order, editable
// when not read-only), both over one cursor that the grid and every reader share.
//
// Every keystroke in a title box reruns a query, so the engine keeps an
// in-memory image of each table file (loaded once, reloaded only when the file
// changed) and answers a query with the row numbers of the matches in order;
// readers reach the cells through those row numbers, nothing is copied.
// SQLite stays the store of record: every write is one transaction there,
// after which the engine brings its image up to date itself (tableimage.h)
// instead of reading the whole file again.
//
// All texts, error messages included, are Windows-1252.

#include "tables.h"
#include "valuetypes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace archive {

// The version the engine installer registers; the program needs 1.0 or more.
inline constexpr std::string_view kEngineVersion = "1.00";

class TableImage;  // the in-memory image of one table file (tableimage.h)
class DataSet;

// A field of the current record of a data set.
class Field {
public:
    Field(DataSet& dataSet, int index) : dataSet_(&dataSet), index_(index) {}
    int index() const { return index_; }
    const std::string& fieldName() const;
    FieldKind kind() const;
    std::string asString() const;            // empty for NULL
    bool isNull() const;
    std::optional<long long> asInteger() const;  // nothing for NULL or a non-number
    const std::string& displayLabel() const;
    void setDisplayLabel(std::string label);
    // Tables only: sets the value from text, converting by the field's kind.
    void setAsString(std::string_view text);

private:
    DataSet* dataSet_;
    int index_;
};

enum class DataSetEvent {
    Reset,        // opened, closed, reloaded, rows added or removed: anything may differ
    RowChanged,   // the values of one record changed (row = that record)
    CursorMoved,  // the current record changed (row = the new one)
    StateChanged  // a table entered or left editing
};

class DataSet {
public:
    using Listener = std::function<void(DataSetEvent event, int row)>;

    DataSet();
    virtual ~DataSet();
    DataSet(const DataSet&) = delete;
    DataSet& operator=(const DataSet&) = delete;

    int addListener(Listener listener);
    void removeListener(int id);

    bool active() const { return active_; }
    virtual void close() = 0;

    int recordCount() const;
    int recNo() const { return current_; }  // -1 when there is no record
    void first();
    void next();
    void last();
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    // Makes `record` the current one. A table posts a modified row first.
    virtual void moveTo(int record);

    int fieldCount() const { return static_cast<int>(columns_.size()); }
    const Column& column(int index) const;
    int fieldIndex(std::string_view name) const;  // ignores case; -1 when absent
    int requiredFieldIndex(std::string_view name) const;  // throws EngineError when absent
    Field fieldByName(std::string_view name);     // throws EngineError when absent
    Field field(int index);                       // throws EngineError when out of range

    // Any record's cells, for the grid; the text of NULL is empty. The view
    // stays valid until the data set changes.
    virtual std::string_view text(int record, int column) const;
    virtual bool isNull(int record, int column) const;
    std::optional<long long> integer(int record, int column) const;

    const std::string& displayLabel(int column) const;
    void setDisplayLabel(int column, std::string label);

    // The image the records come from (nothing while closed) and the image
    // row of each record in order, for readers that walk a whole result
    // without the cursor. A table's record held in its edit buffer is not
    // among them: read a table through text().
    const TableImage* image() const { return image_.get(); }
    std::span<const uint32_t> imageRows() const { return rows_; }

protected:
    virtual int rowCount() const;  // records of the open data set
    // True for the record a table holds in its edit buffer rather than the image.
    virtual bool buffered(int /*record*/) const { return false; }
    uint32_t imageRow(int record) const;
    void notify(DataSetEvent event, int row);
    void setCursor(int record);
    // `freshFields`: labels go back to the field names, as after every open.
    void attach(std::shared_ptr<const TableImage> image, std::vector<uint32_t> rows, bool freshFields);
    void detach();

    std::shared_ptr<const TableImage> image_;
    std::vector<uint32_t> rows_;  // image row numbers of the records, in order
    std::vector<Column> columns_;
    std::vector<std::string> labels_;
    bool active_ = false;
    int current_ = -1;
    bool eof_ = true;
    bool bof_ = true;

private:
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
};

class Query final : public DataSet {
public:
    std::string databaseName;       // informational: the statement names the file
    std::vector<std::string> sql;   // one to three lines, joined by line breaks

    // Parses the statement; throws EngineError that says what and where.
    void prepare();
    // Runs the statement; the cursor stands on the first record.
    void open();
    // The same for a reader that needs a few fields of a large table once:
    // where no image of the table is at hand, only `fields` are read (those
    // the table has), into an image no other data set shares; the result
    // then holds those fields alone. The fields the statement names must be
    // among them.
    void openFields(std::span<const std::string_view> fields);
    void close() override;

    // Works out ahead what a LIKE on the text field `field` needs over this
    // result's order, so that the next search in that field does not; a
    // field that is no text field, or a closed query, has nothing to do.
    void prepareSearch(std::string_view field) const;

private:
    void openOn(std::shared_ptr<const TableImage> image);

    struct Statement;
    std::shared_ptr<const Statement> prepared_;
    std::string preparedText_;
    std::vector<SortSpec> order_;      // of the open result
    std::vector<uint32_t> spareRows_;  // the last result's room, for the next
};

enum class TableState { Inactive, Browse, Edit, Insert };

class Table final : public DataSet {
public:
    Table();
    ~Table() override;

    std::string databaseName;  // the folder
    std::string tableName;     // the file name, found without regard to case

    bool readOnly() const { return readOnly_; }
    void setReadOnly(bool readOnly);  // only while closed

    // Rows in stored order, no filter, no sorting.
    void open();
    // Drops a pending change.
    void close() override;

    TableState state() const { return state_; }
    bool modified() const { return modified_; }

    void edit();
    // Adds an empty record at the end and makes it current (the table keeps
    // stored order, where a new row always lands last).
    void insert();
    void append();
    // One SQLite transaction; on failure the record stays in editing. A new
    // record nobody typed into is dropped, not written as a row of NULLs.
    void post();
    void cancel();
    void deleteRecord();  // one SQLite transaction
    // Sets a value of the current record from text, starting an edit when
    // browsing. A non-number into an integer field fails and changes nothing.
    void setFieldText(int column, std::string_view text);

    // Appends one record per call of `nextRecord` that yields true, its four
    // values set as text into fields 0 to 3 (the other fields NULL), exactly
    // as append(), setFieldText() and post() per record would, but in one
    // transaction. A record refused by a field's conversion or by SQLite
    // ends the import: the records before it are stored, it is not, and its
    // error is thrown; an error of `nextRecord` ends it the same way. The
    // cursor stands on the last record stored. Returns the records read.
    int appendRecords(const std::function<bool(std::array<std::string, 4>&)>& nextRecord);

    void moveTo(int record) override;
    std::string_view text(int record, int column) const override;
    bool isNull(int record, int column) const override;

private:
    int rowCount() const override;
    bool buffered(int record) const override;
    void requireWritable() const;
    // The value `text` gives a field: NULL for an empty text (a blank one in
    // an integer field), an integer as its decimal text. Throws EngineError.
    std::optional<std::string> fieldValue(int column, std::string_view text) const;
    std::string insertText() const;
    // Posts a modified record, drops an unmodified one.
    void leaveEditing();
    // Shows `rows` of `image` with the cursor on `record` (the first when -1).
    void show(std::shared_ptr<const TableImage> image, std::vector<uint32_t> rows, int record);
    void reload(std::optional<int64_t> keepRowId);

    std::string path_;
    int insertedFrom_ = -1;  // the record current before insert(), for cancel()
    bool readOnly_ = true;
    TableState state_ = TableState::Inactive;
    bool modified_ = false;
    std::vector<std::optional<std::string>> buffer_;  // the record being edited
};

// Appends records to a table file in one transaction without reading the
// table, for a program that only adds rows: each record's values set as
// text into the fields from 0 on, converted as Table::setFieldText does
// (the other fields NULL; more values than fields are refused). A refused
// record, or an error of `nextRecord`, stores nothing and is thrown; a
// `trial` stores nothing either way. The table is found like
// Table::tableName in the folder `databaseName`; an image of it is read
// again at its next use. Returns the records read. `stored`, when given,
// hears each record as it goes into the file, its values converted.
int appendToTableFile(const std::string& databaseName, const std::string& tableName,
                      const std::function<bool(std::vector<std::string>&)>& nextRecord, bool trial,
                      const std::function<void(const std::vector<Cell>&)>& stored = {});

// What the first record of a query on a table of `view` (its databaseName
// and the file its FROM names) sorted by the text field `field` DESC holds
// in that field: the greatest value by the collation, empty text for NULL;
// nothing for a table without rows. Reads one column where no image of the
// table is at hand. Throws EngineError as opening the query would, and for
// fields that do not match the view's.
std::optional<std::string> greatestValue(const std::string& databaseName, const std::string& fromPath,
                                         const ViewDef& view, std::string_view field);
// The same of the table an open query was read from (all its rows, not
// only the query's), out of the image the query holds.
std::optional<std::string> greatestValue(const Query& opened, const ViewDef& view, std::string_view field);
// The newest issue of a view's table in `databaseName`: the greatest value
// of its issue field, as the newest-first order puts it first.
std::optional<std::string> newestIssueCode(const std::string& databaseName, const ViewDef& view);
// Starts reading the newest issues of the tables of `views` in the
// background, for the next newestIssueCode() of each; faults show there.
void readNewestIssuesAhead(const std::string& databaseName, std::span<const ViewDef* const> views);

// Starts reading a table file in the background, for a query soon to be
// opened on it (its databaseName and the file its FROM names); faults show
// when that query opens.
void prefetchTable(const std::string& databaseName, const std::string& fileName,
                   LoadPriority priority = LoadPriority::Soon);
// The same for the query `sql` about to be opened on it, whose order (and
// what a title search in `searchField` over that order needs) is worked out
// in the background too, once the rows are read: opening it then costs no
// sort. A text that does not parse reads nothing; its open reports it.
void prefetchQuery(const std::string& databaseName, const std::vector<std::string>& sql, LoadPriority priority,
                   std::string_view searchField);

}  // namespace archive
