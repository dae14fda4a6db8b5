#pragma once
// What the info dialog needs of the main window: the shared view state (mode,
// view, data folder, newest issues), the table open for editing, and the
// file-open dialog of the import.

#include "engine.h"
#include "viewstate.h"

class TOpenDialog;

class InfoHost {
public:
    virtual ~InfoHost() = default;
    virtual archive::ViewState& viewState() = 0;
    virtual archive::Table& exchangeTable() = 0;
    virtual TOpenDialog& importDialog() = 0;
};
