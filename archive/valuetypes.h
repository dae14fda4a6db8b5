#pragma once
// The engine's small value types, shared by the engine, the table image and
// the file layer without pulling in any of them.

#include "tables.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace archive {

// Every failure of the engine: a clear German text, Windows-1252.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message, int resultCode = 0)
        : std::runtime_error(message), resultCode_(resultCode) {}
    // SQLite's (extended) result code of the failure, for callers and tests
    // that tell failures apart without reading the German text; 0 when the
    // failure is the engine's own.
    int resultCode() const { return resultCode_; }

private:
    int resultCode_ = 0;
};

// One value: Windows-1252 text (an integer as its decimal text); nothing is NULL.
using Cell = std::optional<std::string>;

struct Column {
    std::string name;  // as stored in the table file, upper case for our tables
    FieldKind kind;
};

// One sort key of an ORDER BY, by column index.
struct SortSpec {
    int column = 0;
    bool descending = false;
    bool operator<(const SortSpec& other) const {
        return column != other.column ? column < other.column : descending < other.descending;
    }
    bool operator==(const SortSpec&) const = default;
};

// A load needed soon runs at the program's priority; one in the background
// gives way to everything else the program does.
enum class LoadPriority { Soon, Background };

}  // namespace archive
