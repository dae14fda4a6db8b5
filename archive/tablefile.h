#pragma once
// The engine's file layer: a table file is an SQLite 3 database holding one
// table, named like the file's view, with the fields in their order. Text is
// UTF-8 in the file and Windows-1252 in the program.

#include "tables.h"
#include "valuetypes.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace archive {

using Row = std::vector<Cell>;

// Writes a new table file whole or not at all: the rows go into a temporary
// file beside the target, which replaces the target only on commit(). Without
// commit() the target stays as it was and the temporary file is removed.
// A target in WAL mode is replaced by a file in WAL mode; one with changes
// waiting in its -wal file is not replaced (EngineError).
class TableFileWriter {
public:
    TableFileWriter(std::string path, const ViewDef& view);
    ~TableFileWriter();
    TableFileWriter(const TableFileWriter&) = delete;
    TableFileWriter& operator=(const TableFileWriter&) = delete;

    void add(const Row& row);  // throws EngineError on a value of the wrong kind
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Copies the table file of `view` from `sourceFolder` (its name found
// without regard to letter case) to `target`, whole or not at all, and only
// when what is copied is a sound table of the view: one table with the
// view's fields, every page passing SQLite's check, no unfinished write
// beside it. Otherwise the target stays as it was and EngineError says in
// German why the source was refused; FileWriteError when writing failed.
// A copy made here is known to be sound: opening it checks nothing again.
void copyTableFile(const std::string& sourceFolder, const ViewDef& view, const std::string& target);

// The path of the file that holds `name` in `folder`, found without regard to
// letter case (an exact match wins); nothing when there is none.
std::optional<std::string> findFileIgnoringCase(const std::string& folder, const std::string& name);

}  // namespace archive
