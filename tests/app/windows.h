#pragma once
// The windows as the program entry makes them, for tests.

#include "clickarea.h"
#include "messagebox.h"
#include "tdatasource.h"
#include "text.h"
#include "tform1.h"
#include "tform4.h"
#include "tsuchpage.h"

#include <QHeaderView>
#include <QTableView>

#include <memory>
#include <string>
#include <vector>

struct Windows {
    explicit Windows(const std::string& programFile = "quillora", TInstanceMarker* marker = nullptr) {
        MessageBox::setAutoAnswer(true);
        MessageBox::clearShown();
        form1 = std::make_unique<TForm1>(programFile, marker);
        if (form1->Terminated) return;
        suchPage = std::make_unique<TSuchPage>(*form1);
        form1->SuchPage = suchPage.get();
        form1->Form4 = new TForm4;
    }
    ~Windows() {
        suchPage.reset();
        form1.reset();
    }

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

    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TSuchPage> suchPage;
};
