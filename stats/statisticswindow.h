#pragma once
// What the three statistics windows share: a tool window over the gradient
// backdrop with a table of counts, the month chart with its month numbers and
// upright caption, the "Auswahl" count and "Ok". The games window adds the
// rating distribution; the disc-contents and tips windows differ only in
// their kinds and texts.
//
// A computation reads the main window's query straight through its rows;
// the grid that shares the query's cursor is not redrawn meanwhile and ends
// on the first record, as after a walk over the cursor.

#include "statisticswindowlink.h"
#include "statistics.h"
#include "viewstate.h"

#include <QTableWidget>
#include <QWidget>

#include <string>

class QLabel;
class QPainter;
class QPushButton;
class StatisticsHost;
class TFormFill;
class TFxLabel;
class TSuchPage;

// The table of a statistics window: its row 0 is the grey title row, which is
// never chosen by the user; Row() is the current row as the window sees it.
class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    int Row() const { return row_; }
    // Row 0, or a row outside the table, leaves no data row marked.
    void setRow(int row);
    void setRowCount(int rows);
    void setCells(int row, int column, const std::string& text);
    std::string cells(int row, int column) const;
    // Column width as designed; the grid line to its right comes on top.
    void setColWidth(int column, int width);
    // The whole table as tab-separated lines, texts trimmed.
    std::string asTabSeparatedText() const;

signals:
    // The current row changed, by the user or by the program.
    void rowClicked();

private:
    void styleTitleRow();
    int row_ = 0;
    bool settingRow_ = false;
};

// A lowered one-pixel frame, painted over the charts beneath it.
class TBevel : public QWidget {
public:
    explicit TBevel(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TStatisticsWindow : public QWidget, public StatisticsWindowLink {
    Q_OBJECT
public:
    // The month chart's hover zone: 252 < X < 516, 160 < Y < 210.
    static constexpr int kChartLeft = 252;
    static constexpr int kMonthWidth = 22;
    static constexpr int kMonthBase = 174;
    static constexpr int kMonthHeight = 140;
    static constexpr int kMonthTop = 34;

    ~TStatisticsWindow() override;

    // The statistics command: computes and shows the window without blocking;
    // an open window comes to the front and keeps its figures.
    void showStatistics();

    // StatisticsWindowLink
    bool isStatisticsShown() const override { return isVisible(); }
    void selectCategoryRow(int row) override;
    void recomputeAndRepaint() override;

signals:
    // The figures were worked out anew (or as far as a failure let them).
    void figuresComputed();

public:
    // Everything in which the windows' common controls differ.
    struct Layout {
        const char* objectName;
        const char* caption;
        int clientWidth;
        int clientHeight;
        const char* tableHeading;   // Label1
        const char* monthHeading;   // Label3 until the first computation
        QRect grid;
        int gridColumns;            // at run time
        int gridRows;
        QRect monthCaption;         // FxLabel1
        int monthCaptionPosY;       // as designed, until the first paint
        int selectionTop;           // Label4 and Button1
        bool gridFirstInTabOrder;
    };

protected:
    TStatisticsWindow(const Layout& layout, StatisticsHost& host, TSuchPage& suchPage, QWidget* parent);

    // Controls, by their designer names, which are also their object names:
    // the window tests find them by these names.
    TFormFill* FormFill1 = nullptr;
    QLabel* Label1 = nullptr;
    TStringGrid* StringGrid1 = nullptr;
    QLabel* Label3 = nullptr;
    TBevel* Bevel2 = nullptr;
    TFxLabel* FxLabel1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Button1 = nullptr;

    // The computation of this window from the host's query, and what it shows.
    virtual void compute(const archive::DataSet& rows, archive::ViewState& state) = 0;
    // The title row of the table, set before every computation.
    virtual void fillTitleRow() = 0;
    // Sets the table's cells from row 0 on; rows beyond them keep theirs.
    void fillTableRows(const stats::StatisticsTable& rows);
    // Fills the table and the captions from the last computation; nothing
    // when it ended early (the table keeps what it showed).
    virtual void fillFromComputation() = 0;
    virtual bool computationComplete() const = 0;
    virtual const std::string& computationFailure() const = 0;
    // "Auswahl: N Spiele" and the like.
    virtual std::string selectionText(int records) const = 0;
    // Month bar value and scale maximum for the month chart.
    virtual double monthValue(int month) const = 0;
    virtual double monthScaleMaximum() const = 0;
    virtual std::string monthReadout(int month) const = 0;
    // The games window draws its distribution before the month chart and
    // its average marks after each month.
    virtual void paintBeforeMonthChart(QPainter&) {}
    virtual void paintAfterMonth(QPainter&, int /*month*/) {}

    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // One-pixel strokes as the charts draw them: from the start up to but not
    // including the end point, in the current pen colour, which persists from
    // stroke to stroke and from paint to paint.
    void verticalStroke(QPainter& painter, int x, int fromY, int toY);
    void horizontalStroke(QPainter& painter, int y, int fromX, int toX);
    QColor pen_;

    QLabel* makeLabel(const char* name, QRect box, const std::string& text, const QColor& colour, int pointSize,
                      bool bold);
    TFxLabel* makeRotatedLabel(const char* name, QRect box, const std::string& text, const QColor& colour, int posY);
    TBevel* makeBevel(const char* name, QRect box);
    void setHeading(QLabel* label, const std::string& caption);

    StatisticsHost& host_;
    TSuchPage& suchPage_;

private:
    // Recomputes from the main window's query and fills the table and captions.
    // A record whose rating or issue month is not a number ends it with an
    // error; what was computed before it stays.
    void FormShow();
    void StringGrid1Click();
    void Button1Click();
    void FormMouseMove(int x, int y);

    // The month under the mouse (0 = January), -1 before the first read-out.
    int HoverMonth = -1;

    void paintMonthChart(QPainter& painter);
    int gridColumns_ = 3;
    int gridRows_ = 10;
    void showReadout(int month);
    void copyTable();
};

// "Auswahl: " + count + noun, the plural ending appended unless the count is 1.
std::string selectionCountText(int records, const char* noun, const char* pluralEnding);
// A label caption as designed, "&&" standing for one ampersand, as shown.
std::string shownCaption(std::string_view caption);
