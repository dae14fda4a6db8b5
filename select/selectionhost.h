#pragma once
// What the selection module needs of the main window: the shared view state,
// the query run and the grid formatting, the selection lamp and the quick
// title field. The main window implements it; tests may use a stand-in.

#include "viewstate.h"

#include <string>

class SelectionHost {
public:
    virtual ~SelectionHost() = default;
    virtual archive::ViewState& viewState() = 0;
    virtual void DoSQL(const std::string& tableFile) = 0;
    virtual void FormatTable(const std::string& view) = 0;
    // LED2 and Aktiv4 together.
    virtual void setSelectionIndicator(bool on) = 0;
    // Sets the text of the main window's quick title field (its Edit1), which
    // runs that field's change handler.
    virtual void setQuickTitleText(const std::string& text) = 0;
};
