#pragma once
// What a statistics window needs of the main window: the shared view state
// (first and newest issue of each table), the query whose result it sums up,
// and the result grid, which shares the query's cursor. The main window
// implements it; tests may use a stand-in.

#include "engine.h"
#include "viewstate.h"

class QWidget;

class StatisticsHost {
public:
    virtual ~StatisticsHost() = default;
    virtual archive::ViewState& viewState() = 0;
    virtual archive::Query& statisticsQuery() = 0;
    virtual QWidget* resultGrid() = 0;
};
