#pragma once
// What the edit mode does to the table beyond plain typing: the keys that
// cancel, insert, append and delete rows, the click that steps a disc item's
// medium, and leaving a column that expands a code or completes an issue.
// No widgets: the main window asks the delete question, shows the message
// and moves the grid's current cell as the outcome says.

#include "editrules.h"
#include "tables.h"

#include <optional>
#include <string_view>

namespace archive {
class Table;
}  // namespace archive

class EditModeController {
public:
    explicit EditModeController(archive::Table& table) : table_(table) {}

    enum class GridKey { Escape, Insert, Delete, Down, Other };
    enum class KeyOutcome {
        NotHandled,      // the grid handles the key itself
        Handled,
        ShowNewRow,      // a row was inserted or appended: make it the grid's current row
        ConfirmDelete,   // ask first, then deleteCurrent()
    };
    // A key that reached the grid while no cell editor was open.
    KeyOutcome key(GridKey key, bool ctrl);
    void deleteCurrent();

    // A click in the cell of `column`; true when the current row's medium
    // stepped (or the click fell on a medium that is no medium) and the
    // grid goes back to the first column.
    bool cellClicked(const archive::ViewDef& view, int column);

    // Leaving the cell of `column`: its code expanded or its issue completed
    // into the table; nothing when the column has no rule.
    std::optional<archive::ColumnExitOutcome> columnLeft(const archive::ViewDef& view, int column);

    // The grid lost the focus: an untouched new row does not outlive it.
    void focusLost();

private:
    archive::Table& table_;
};
