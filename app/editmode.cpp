#include "editmode.h"

#include "cp1252.h"
#include "engine.h"

EditModeController::KeyOutcome EditModeController::key(GridKey key, bool ctrl) {
    if (!table_.active()) return KeyOutcome::NotHandled;
    switch (key) {
    case GridKey::Escape:
        table_.cancel();
        return KeyOutcome::Handled;
    case GridKey::Insert:
        table_.insert();
        return KeyOutcome::ShowNewRow;
    case GridKey::Delete:
        if (!ctrl || table_.recNo() < 0) return KeyOutcome::NotHandled;
        return KeyOutcome::ConfirmDelete;
    case GridKey::Down:
        // Down on the last row appends one, as long as none is being inserted.
        if (table_.recNo() != table_.recordCount() - 1 || table_.state() == archive::TableState::Insert)
            return KeyOutcome::NotHandled;
        table_.append();
        return KeyOutcome::ShowNewRow;
    case GridKey::Other:
        break;
    }
    return KeyOutcome::NotHandled;
}

void EditModeController::deleteCurrent() { table_.deleteRecord(); }

bool EditModeController::cellClicked(const archive::ViewDef& view, int column) {
    if (column < 0 || column >= table_.fieldCount() || table_.recNo() < 0) return false;
    const auto mediumField = archive::mediumFieldForClick(view, table_.displayLabel(column));
    if (!mediumField) return false;
    archive::Field medium = table_.fieldByName(*mediumField);
    if (const auto next = archive::nextMedium(archive::upperCp1252(medium.asString()))) {
        table_.edit();
        medium.setAsString(*next);
    }
    return true;
}

std::optional<archive::ColumnExitOutcome> EditModeController::columnLeft(const archive::ViewDef& view, int column) {
    if (!table_.active() || table_.recNo() < 0 || column < 0 || column >= table_.fieldCount()) return std::nullopt;
    const auto rule = archive::columnExitRule(view, table_.displayLabel(column));
    if (!rule) return std::nullopt;
    archive::Field field = table_.fieldByName(rule->field);
    const archive::ColumnExitOutcome outcome = archive::applyColumnExitRule(*rule, field.asString());
    if (outcome.replacement) {
        table_.edit();
        field.setAsString(*outcome.replacement);
    }
    return outcome;
}

void EditModeController::focusLost() {
    if (table_.active() && table_.state() == archive::TableState::Insert && !table_.modified()) table_.cancel();
}
