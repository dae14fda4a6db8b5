#pragma once
// The windows as the program entry makes them, for tests.

#include "clickarea.h"
#include "messagebox.h"
#include "tdatasource.h"
#include "text.h"
#include "tform1.h"
#include "tform4.h"
#include "tsuchpage.h"
#include "windowset.h"

#include <QHeaderView>
#include <QTableView>

#include <memory>
#include <string>
#include <vector>

// Every box is answered automatically, from before the first window on.
struct AnsweredBoxes {
    AnsweredBoxes() {
        MessageBox::setAutoAnswer(true);
        MessageBox::clearShown();
    }
};

// The program's windows through the one window set, the wait window made but
// not shown.
struct Windows : AnsweredBoxes {
    explicit Windows(const std::string& programFile = "quillora", TInstanceMarker* marker = nullptr)
        : set(programFile, marker, WindowSet::WaitWindow::Hidden),
          form1(&set.Form1()),
          suchPage(set.terminated() ? nullptr : &set.SuchPage()) {}

    // The texts of one grid column, top to bottom.
    std::vector<std::string> column(int index) const {
        std::vector<std::string> cells;
        const TDataSource* model = form1->DataSource1;
        for (int row = 0; row < model->rowCount(); ++row)
            cells.push_back(fromQt(model->data(model->index(row, index), Qt::DisplayRole).toString()));
        return cells;
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> result;
        const TDataSource* model = form1->DataSource1;
        for (int column = 0; column < model->columnCount(); ++column)
            result.push_back(fromQt(model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()));
        return result;
    }
    std::vector<int> widths() const {
        std::vector<int> result;
        for (int column = 0; column < form1->DataSource1->columnCount(); ++column)
            result.push_back(form1->DBGrid1->columnWidth(column));
        return result;
    }

    WindowSet set;
    TForm1* form1;
    TSuchPage* suchPage;
};
