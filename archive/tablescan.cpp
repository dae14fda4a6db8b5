#include "tablescan.h"

#include "cp1252.h"
#include "filelayer.h"
#include "tableimage_internal.h"
#include "transaction.h"

namespace archive {
namespace {

using detail::Command;
using detail::Database;

// True when every character of the UTF-8 text has a Windows-1252 form.
bool showable(std::string_view utf8) {
    for (size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::optional<Utf8Sequence> sequence = decodeUtf8(utf8, i);
        if (!sequence || cp1252OfUnicode(sequence->codePoint) < 0) return false;
        i += sequence->length;
    }
    return true;
}

}  // namespace

struct TableScan::Impl {
    std::string path;
    Database db;
    std::string tableName;  // UTF-8, as the file names it
    std::vector<StoredField> fields;
};

TableScan::TableScan(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->db = Database::openReadOnly(path);
    std::vector<Column> columns;
    detail::readSchema(impl_->db, path, impl_->tableName, columns);
    Command info(impl_->db, "SELECT type FROM pragma_table_info(?1)", path);
    info.utf8(impl_->tableName);
    for (Column& column : columns) {
        std::string declared;
        if (info.step()) declared = utf8ToCp1252(detail::columnText(info.get(), 0));
        impl_->fields.push_back({std::move(column.name), std::move(declared), column.kind});
    }
}

TableScan::~TableScan() = default;

const std::vector<StoredField>& TableScan::fields() const { return impl_->fields; }

int64_t TableScan::greatestRowId() const {
    Command greatest(impl_->db, "SELECT max(rowid) FROM " + detail::quotedIdentifier(impl_->tableName), impl_->path);
    return greatest.step() ? sqlite3_column_int64(greatest.get(), 0) : 0;
}

std::vector<std::string> TableScan::integrityFindings(int limit) const {
    std::vector<std::string> findings;
    Command check(impl_->db, "PRAGMA integrity_check(" + std::to_string(limit) + ")", impl_->path);
    while (check.step()) {
        const std::string_view report = detail::columnText(check.get(), 0);
        if (report == "ok") break;
        findings.push_back(utf8ToCp1252(report));
    }
    return findings;
}

void TableScan::forEachRow(const std::function<void(const StoredRow& row)>& onRow) const {
    std::string columns = "rowid";
    for (const StoredField& field : impl_->fields) {
        columns += ", ";
        columns += detail::quotedIdentifier(cp1252ToUtf8(field.name));
    }
    Command rows(impl_->db, "SELECT " + columns + " FROM " + detail::quotedIdentifier(impl_->tableName) +
                                " ORDER BY rowid",
                 impl_->path);
    const size_t count = impl_->fields.size();
    StoredRow row;
    row.cells.resize(count);
    row.foreign.resize(count);
    while (rows.step()) {
        sqlite3_stmt* statement = rows.get();
        row.rowId = sqlite3_column_int64(statement, 0);
        for (size_t c = 0; c < count; ++c) {
            const int column = static_cast<int>(c) + 1;
            Cell& cell = row.cells[c];
            if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
                cell.reset();
                row.foreign[c] = false;
                continue;
            }
            const std::string_view utf8 = detail::columnText(statement, column);
            row.foreign[c] = !showable(utf8);
            if (!cell) cell.emplace();
            cell->clear();
            appendUtf8AsCp1252(*cell, utf8);
        }
        onRow(row);
    }
}

}  // namespace archive
