#pragma once
// A table file as SQLite stores it, for checking it rather than showing it:
// the declared fields, SQLite's full integrity check, and every row with its
// row id and whether a text held characters the program cannot show. The
// image the views read loses exactly that (such a character becomes "?").

#include "valuetypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace archive {

struct StoredField {
    std::string name;      // Windows-1252, as the file has it
    std::string declared;  // the declared type as the file has it
    FieldKind kind;        // as the engine reads it
};

struct StoredRow {
    int64_t rowId = 0;
    std::vector<Cell> cells;    // in field order; Windows-1252
    // Per field: the stored text held a character without a Windows-1252
    // form, or was no well-formed UTF-8.
    std::vector<bool> foreign;
};

class TableScan {
public:
    // Opens the file read-only; throws EngineError as opening a table would
    // (no file, no table of ours, a field of an unknown type).
    explicit TableScan(const std::string& path);
    ~TableScan();
    TableScan(const TableScan&) = delete;
    TableScan& operator=(const TableScan&) = delete;

    const std::vector<StoredField>& fields() const;
    // The greatest row id: as many rows at most, though far fewer where ids have gaps.
    int64_t greatestRowId() const;
    // SQLite's integrity_check: nothing for a sound file, else at most
    // `limit` of its findings (SQLite's English text).
    std::vector<std::string> integrityFindings(int limit = 20) const;
    // Every row in row id order; `row` is reused from call to call.
    void forEachRow(const std::function<void(const StoredRow& row)>& onRow) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace archive
