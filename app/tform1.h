#pragma once
// The main window: the sidebar with its commands, the quick title field, the
// result grid, and the shared view state every other window reads or writes.
// InitTable, DoSQL and FormatTable are the only way anything changes what the
// grid shows.

#include "engine.h"
#include "launcher.h"
#include "selectionhost.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "sysinfo.h"
#include "viewstate.h"

#include <QLabel>
#include <QWidget>

#include <string>

class ClickArea;
class QLineEdit;
class QTableView;
class TDataSource;
class TSuchPage;

// The sidebar picture; a mouse button going down on it is the edit-mode switch.
class SidebarPicture : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class TForm1 : public QWidget, public archive::ViewState, public SelectionHost {
    Q_OBJECT
public:
    // programFile: the running program file's name (decides the mode). With a
    // marker that found another copy running, that copy is brought to the front
    // and this window ends before its creation handler runs.
    // waitWindow: shown until FormShow frees it.
    explicit TForm1(const std::string& programFile, TInstanceMarker* marker = nullptr, QWidget* waitWindow = nullptr,
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // The start-up ended here: another copy runs, or the engine is being installed.
    bool Terminated = false;

    // Windows made after this one; FormShow frees the wait window.
    TSuchPage* SuchPage = nullptr;
    QWidget* Form4 = nullptr;

    // Outer window size and the frame around the client area.
    static constexpr int kOuterWidth = 640;
    static constexpr int kOuterHeight = 487;
    static constexpr int kFrameWidth = 8;
    static constexpr int kFrameHeight = 34;
    static constexpr int kMinOuterWidth = 320;
    static constexpr int kMinOuterHeight = 480;

    // Non-visual components.
    TIniCtrl IniCtrl1;
    TSysInfo SysInfo1;
    TSendKeys SendKeys1;
    TOneInstance OneInstance1;
    archive::Query Query1;
    archive::Table Table1;
    TDataSource* DataSource1 = nullptr;

    // Controls, by their designer names.
    SidebarPicture* Image4 = nullptr;
    ClickArea* Image1 = nullptr;
    ClickArea* Image2 = nullptr;
    ClickArea* Image3 = nullptr;
    ClickArea* Image6 = nullptr;
    ClickArea* Image7 = nullptr;
    ClickArea* Image10 = nullptr;
    ClickArea* Image11 = nullptr;
    QLabel* Aktiv1 = nullptr;
    QLabel* Aktiv2 = nullptr;
    QLabel* Aktiv3 = nullptr;
    QLabel* Aktiv4 = nullptr;
    QLabel* LED1 = nullptr;
    QLabel* LED2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QTableView* DBGrid1 = nullptr;

    void FormCreate();
    void FormShow();
    void FormResize();

    void InitTable(const std::string& view);
    void DoSQL(const std::string& tableFile) override;
    void FormatTable(const std::string& view) override;

    void Image1Click();
    void Image2Click();
    void Image3Click();
    void Image6Click();
    void Image7Click();
    void Image10Click();
    void Image11Click();
    void Edit1Change();

    void DBGrid1TitleClick(int column);
    void DBGrid1CellClick(int column);
    void DBGrid1ColExit(int column);
    void Image4MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

    // SelectionHost
    archive::ViewState& viewState() override { return *this; }
    void setSelectionIndicator(bool on) override;
    void setQuickTitleText(const std::string& text) override;

    // The grid's current column, kept across a rerun of the query.
    int currentColumn() const { return currentColumn_; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadLayout();
    void applyGridLook();
    void switchView(const std::string& view);
    void onGridCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void followDataSetCursor(int record);
    bool handleGridKey(QKeyEvent* event);
    void bringToFront();
    void setCurrentCell(int row, int column);
    archive::DataSet& shownDataSet();

    std::string programFile_;
    bool shown_ = false;
    bool syncingCursor_ = false;
    int currentColumn_ = 0;
};
