#pragma once
// The archive's SQL subset, read by a parser of our own; no statement text
// ever reaches SQLite.
//
//   SELECT * FROM "<path>"
//   [WHERE <condition> {AND <condition>}]
//   [ORDER BY <field> [DESC] [, <field> [DESC]]]
//
//   <condition> := UPPER(<field>) LIKE "<pattern>" | <field> LIKE "<pattern>"
//                | <field> >= <integer>
//
// Keywords in any letter case; literals in double quotes, a doubled double
// quote standing for one. Anything else is refused with the line and column.

#include <string>
#include <string_view>
#include <vector>

namespace archive::sql {

// Where a part of the statement starts, counted from 1.
struct Position {
    int line = 1;
    int column = 1;
};

enum class ConditionKind { Like, UpperLike, AtLeast };

struct Condition {
    ConditionKind kind = ConditionKind::Like;
    std::string field;
    Position fieldPosition;
    std::string pattern;     // Like, UpperLike
    long long minimum = 0;   // AtLeast
};

struct OrderKey {
    std::string field;
    Position fieldPosition;
    bool descending = false;
};

struct SelectStatement {
    std::string path;
    std::vector<Condition> conditions;
    std::vector<OrderKey> order;  // none, one or two
};

// Throws EngineError that says what was expected and where.
SelectStatement parseSelect(std::string_view text);

// "SQL-Fehler in Zeile 2, Spalte 7: <message>"
std::string errorAt(Position position, std::string_view message);

}  // namespace archive::sql
