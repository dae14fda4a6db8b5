#pragma once
// The grid's menu of links between the three tables. On a row it offers the
// other two tables for the row's game (a disc item or a tip: the game its
// title speaks of), each with the number of rows the quick field will show;
// choosing one switches the view as its sidebar command does and puts the
// game's title into the quick field. The right mouse button, the menu key and
// Shift+F10 open it, in the browse mode only: in the edit mode the grid's
// clicks belong to editing.

#include "tables.h"

#include <QObject>
#include <QPoint>

#include <string>

class QLineEdit;
class QMenu;
class QTableView;
class TDataSource;
class TForm1;

class TitleLinks : public QObject {
    Q_OBJECT
public:
    explicit TitleLinks(TForm1& form);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True when a menu was opened for the row.
    bool open(int row, QPoint globalPosition);
    bool openAtCurrentRow();
    void addLink(const char* text, const archive::ViewDef& view, const std::string& title, size_t count);
    void follow(const archive::ViewDef& view, const std::string& title);

    TForm1& form_;
    QTableView* grid_;
    QLineEdit* quickField_;
    TDataSource* dataSource_;
    QMenu* menu_;
};
