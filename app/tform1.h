#pragma once
// The main window: the sidebar with its commands, the quick title field, the
// result grid, and the shared view state every other window reads or writes.
// InitTable, DoSQL and FormatTable are the only way anything changes what the
// grid shows.

#include "editmode.h"
#include "engine.h"
#include "infohost.h"
#include "launcher.h"
#include "selectionhost.h"
#include "statisticshost.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "sysinfo.h"
#include "tform2.h"
#include "topendialog.h"
#include "viewstate.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLineEdit;
class QTableView;
class RowIndicatorHeader;
class Sidebar;
class TDataSource;
class TForm2;
class TStatisticsWindow;
class TSuchPage;

class TForm1 : public QWidget, public archive::ViewState, public SelectionHost, public StatisticsHost,
               public InfoHost {
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

    // The windows made after this one, which the commands show and hide.
    // Each is made when it is first asked for with `make`; without it, one
    // not made yet is null.
    class SecondaryWindows {
    public:
        virtual ~SecondaryWindows() = default;
        virtual TSuchPage& suchPage() = 0;
        virtual TForm2* infoDialog(bool make) = 0;
        // By view: 0 the games, 1 the disc contents, 2 the tips.
        virtual TStatisticsWindow* statistics(int view, bool make) = 0;
    };
    void setWindows(SecondaryWindows* windows) { windows_ = windows; }
    // A just-made info dialog learns the mode this window last told it.
    void infoDialogMade(TForm2& dialog);
    // The wait window until FormShow frees it.
    QWidget* waitWindow() const { return Form4; }

    // Outer window size and the frame around the client area.
    static constexpr int kOuterWidth = 640;
    static constexpr int kOuterHeight = 487;
    static constexpr int kFrameWidth = 8;
    static constexpr int kFrameHeight = 34;
    static constexpr int kMinOuterWidth = 320;
    static constexpr int kMinOuterHeight = 480;

private:
    // Non-visual components.
    TIniCtrl IniCtrl1;
    TSysInfo SysInfo1;
    TSendKeys SendKeys1;
    TOneInstance OneInstance1;
    archive::Query Query1;
    archive::Table Table1;
    TDataSource* DataSource1 = nullptr;
    TOpenDialog OpenDialog1;

    // Controls, by their designer names, which are also their object names:
    // the window tests find them by these names.
    Sidebar* sidebar_ = nullptr;  // Image1 to Image11, Aktiv1 to Aktiv4, LED1, LED2
    QLineEdit* Edit1 = nullptr;
    QTableView* DBGrid1 = nullptr;

public:
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

    // SelectionHost, StatisticsHost, InfoHost
    archive::ViewState& viewState() override { return *this; }
    archive::Table& exchangeTable() override { return Table1; }
    TOpenDialog& importDialog() override { return OpenDialog1; }
    archive::Query& statisticsQuery() override { return Query1; }
    QWidget* resultGrid() override;
    void setSelectionIndicator(bool on) override;
    void setQuickTitleText(const std::string& text) override;

signals:
    // The grid shows the result of a new run of its query.
    void queryRerun();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RowIndicatorHeader* rowIndicator_ = nullptr;  // DBGrid1's row header
    void loadLayout();
    void applyGridLook();
    void switchView(const std::string& view);
    void onGridCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void followDataSetCursor(int record);
    bool handleGridKey(QKeyEvent* event);
    void bringToFront();
    void setCurrentCell(int row, int column);
    archive::DataSet& shownDataSet();
    TSuchPage& selectionModule() const;

    QWidget* Form4 = nullptr;
    bool firstFramePainted_ = false;
    std::vector<std::function<void()>> afterFirstFrame_;  // started once the first frame is painted
    SecondaryWindows* windows_ = nullptr;
    std::optional<InfoMode> infoMode_;  // the info dialog's mode as last told
    void tellInfoMode(const InfoMode& mode);
    std::string programFile_;
    class Startup;
    std::unique_ptr<Startup> startup_;  // the start-up sequence and the window's side of it
    bool shown_ = false;
    bool syncingCursor_ = false;
    int currentColumn_ = 0;
    EditModeController editMode_{Table1};
};
