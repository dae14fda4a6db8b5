#pragma once
// The soundness check of the archive's tables: what the program and its
// statistics rely on, row by row, with one finding per fault.
//
// All texts are Windows-1252.

#include "tables.h"
#include "tablescan.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <string>
#include <vector>

namespace cli {

struct Finding {
    std::string table;    // "GameData"
    // The row: its row id in the table, or the line of an import file;
    // 0 for a finding about the whole table.
    int64_t row = 0;
    bool fileLine = false;
    std::string field;    // empty for the whole table
    std::optional<std::string> value;  // as found; nothing for NULL
    std::string problem;  // German
};

using FindingSink = std::function<void(const Finding&)>;

// The table's name in findings and commands: its file name without extension.
std::string tableLabel(const archive::ViewDef& view);

// An issue as the tool writes it, "10/1997".
std::string issueText(archive::Issue issue);

// The fields of a stored table against the view's definition: missing,
// misplaced or misnamed fields, fields of the wrong kind, extra fields.
void checkFields(const archive::ViewDef& view, const std::vector<archive::StoredField>& fields,
                 const FindingSink& sink);

// Checks rows of one table. A row that repeats the title, issue and
// category (or kind) of an earlier one is found across every row it is
// given: one issue may well bring a game's demo and its patch, or a cheat
// and a solution for it, but not the same thing twice.
class RowChecker {
public:
    // `newest`: the newest issue as the program reads it from the table;
    // nothing skips that check.
    RowChecker(const archive::ViewDef& view, const std::vector<archive::StoredField>& fields,
               std::optional<archive::Issue> newest, FindingSink sink);

    void check(const archive::StoredRow& row, bool fileLine = false);
    // Takes the row into the repeat check, without a finding.
    void remember(const archive::StoredRow& row);
    // Room for this many rows in the repeat check.
    void reserve(size_t rows);

private:
    struct CodedField {
        int index;
        std::span<const std::string_view> names;
    };
    void report(const archive::StoredRow& row, bool fileLine, int field, std::string problem) const;
    void checkIssue(const archive::StoredRow& row, bool fileLine) const;
    // The text a repeat is recognised by, into key_.
    void repeatKey(const archive::StoredRow& row);
    void checkCoded(const archive::StoredRow& row, bool fileLine, const CodedField& coded) const;

    const archive::ViewDef& view_;
    std::string label_;
    std::vector<std::string> fieldNames_;
    std::optional<archive::Issue> newest_;
    FindingSink sink_;
    int title_ = -1;
    int issue_ = -1;
    int rating_ = -1;
    int category_ = -1;
    std::vector<int> integers_;       // fields the definition holds integers in
    std::vector<CodedField> coded_;   // fields holding a name of a list
    std::vector<bool> codedField_;    // by field: one of coded_
    std::vector<std::vector<std::string_view>> codeNames_;  // lists the view holds as codes
    // The rows seen, by the text a repeat is recognised by: an open hash
    // table over one block of key bytes, so a million rows cost no million
    // allocations.
    struct Seen {
        size_t offset;  // of the key in keys_
        uint32_t length;
        bool fileLine;
        int64_t row;
    };
    // The first row with key_, or nothing after recording this one as it.
    const Seen* firstWithKey(int64_t row, bool fileLine);
    std::vector<Seen> seen_;
    // Per slot: the upper half of the key's hash, and 1 + the index in seen_;
    // 0 for a free slot.
    std::vector<uint64_t> slots_;
    std::string keys_;
    std::string key_;
};

}  // namespace cli
