#include "statisticswindow.h"

#include "fonts.h"
#include "messagebox.h"
#include "palette.h"
#include "statisticshost.h"
#include "text.h"
#include "tformfill.h"
#include "tfxlabel.h"
#include "tsuchpage.h"
#include "waitcursor.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

namespace {

// The month numbers under the month chart, spaced to stand under its columns.
constexpr char kMonthNumbers[] = "   1     2     3     4     5     6     7     8     9     10    11    12";
constexpr int kRowHeight = 20;

// While the figures are worked out the grid that shares the query's cursor is
// not redrawn; afterwards the cursor stands on the first record, however the
// computation ended.
class GridFrozen {
public:
    GridFrozen(QWidget* grid, archive::Query& query) : grid_(grid), query_(query) {
        if (grid_) grid_->setUpdatesEnabled(false);
    }
    ~GridFrozen() {
        if (query_.active()) query_.first();
        if (grid_) grid_->setUpdatesEnabled(true);
    }
    GridFrozen(const GridFrozen&) = delete;
    GridFrozen& operator=(const GridFrozen&) = delete;

private:
    QWidget* grid_;
    archive::Query& query_;
};


}  // namespace

std::string selectionCountText(int records, const char* noun, const char* pluralEnding) {
    std::string text = "Auswahl: " + std::to_string(records) + " " + noun;
    if (records != 1) text += pluralEnding;
    return text;
}

std::string shownCaption(std::string_view caption) {
    std::string shown;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                shown += '&';
                ++i;
            }
            continue;  // a single ampersand marks an accelerator and is not shown
        }
        shown += caption[i];
    }
    return shown;
}

// ---------------------------------------------------------------- TStringGrid

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // A row is 20 pixels with its grid line beneath.
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kRowHeight + 1);
    horizontalHeader()->setMinimumSectionSize(1);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setFont(layoutFont("Arial", 8, true));
    QPalette colours = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Base, palette::kSilver);
        colours.setColor(group, QPalette::Text, palette::kBlack);
        colours.setColor(group, QPalette::Highlight, palette::kNavy);
        colours.setColor(group, QPalette::HighlightedText, palette::kWhite);
    }
    setPalette(colours);
    setStyleSheet(QStringLiteral("QTableWidget { gridline-color: %1; }").arg(palette::kBlack.name()));
    connect(this, &QTableWidget::currentCellChanged, this, [this](int currentRow) {
        if (settingRow_ || currentRow < 1) return;
        row_ = currentRow;
        emit rowClicked();
    });
}

void TStringGrid::setRowCount(int rows) {
    QTableWidget::setRowCount(rows);
    styleTitleRow();
}

void TStringGrid::styleTitleRow() {
    if (rowCount() == 0) return;
    for (int column = 0; column < columnCount(); ++column) {
        QTableWidgetItem* cell = item(0, column);
        if (!cell) {
            cell = new QTableWidgetItem;
            setItem(0, column, cell);
        }
        cell->setBackground(palette::kGrey);
        // The title row is fixed: no click or key makes it current.
        cell->setFlags(Qt::NoItemFlags);
        cell->setForeground(palette::kBlack);
    }
}

void TStringGrid::setRow(int row) {
    settingRow_ = true;
    if (row >= 1 && row < rowCount()) {
        setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        row_ = row;
    } else {
        clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        row_ = 0;
    }
    settingRow_ = false;
    emit rowClicked();
}

void TStringGrid::setCells(int row, int column, const std::string& text) {
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        setItem(row, column, cell);
        if (row == 0) styleTitleRow();
    }
    cell->setText(toQt(text));
    cell->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

std::string TStringGrid::cells(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? fromQt(cell->text()) : std::string();
}

void TStringGrid::setColWidth(int column, int width) { setColumnWidth(column, width + 1); }

std::string TStringGrid::asTabSeparatedText() const {
    stats::StatisticsTable table(static_cast<size_t>(rowCount()));
    for (int row = 0; row < rowCount(); ++row)
        for (int column = 0; column < columnCount(); ++column) table[static_cast<size_t>(row)].push_back(cells(row, column));
    return stats::tableCopyText(table);
}

// ---------------------------------------------------------------- TBevel

TBevel::TBevel(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

void TBevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int right = width() - 1;
    const int bottom = height() - 1;
    painter.fillRect(0, 0, width(), 1, palette::kGrey);
    painter.fillRect(0, 0, 1, height(), palette::kGrey);
    painter.fillRect(0, bottom, width(), 1, palette::kWhite);
    painter.fillRect(right, 0, 1, height(), palette::kWhite);
}

// ---------------------------------------------------------------- TStatisticsWindow

TStatisticsWindow::TStatisticsWindow(const Layout& layout, StatisticsHost& host, TSuchPage& suchPage, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      pen_(palette::kBlack),
      host_(host),
      suchPage_(suchPage) {
    setObjectName(QString::fromLatin1(layout.objectName));
    setWindowTitle(toQt(layout.caption));
    setFixedSize(layout.clientWidth, layout.clientHeight);
    setFont(layoutFont("MS Sans Serif", 8));
    setMouseTracking(true);
    FormFill1 = makeWindowBackdrop(this);

    Label1 = makeLabel("Label1", {10, 12, 225, 14}, layout.tableHeading, palette::kWhite, 8, true);
    StringGrid1 = new TStringGrid(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(layout.grid);
    StringGrid1->setColumnCount(3);
    StringGrid1->setRowCount(10);
    gridColumns_ = layout.gridColumns;
    gridRows_ = layout.gridRows;
    Label3 = makeLabel("Label3", {254, 12, layout.clientWidth == 558 ? 267 : 263, 14}, layout.monthHeading,
                       palette::kWhite, 8, true);
    Bevel2 = makeBevel("Bevel2", {250, 32, 268, 145});
    FxLabel1 = makeRotatedLabel("FxLabel1", layout.monthCaption, " Anzahl", palette::kBlue, layout.monthCaptionPosY);
    Label5 = makeLabel("Label5", {254, 178, 267, 14}, kMonthNumbers, palette::kWhite, 8, false);
    Label4 = makeLabel("Label4", {250, layout.selectionTop, 223, 29}, "Auswahl:", palette::kRed, 16, true);
    Button1 = new QPushButton(toQt("Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(478, layout.selectionTop, 41, 25);
    Button1->setFont(layoutFont("Arial", 10, true));
    QPalette buttonColours = Button1->palette();
    buttonColours.setColor(QPalette::ButtonText, palette::kBlack);
    Button1->setPalette(buttonColours);

    if (layout.gridFirstInTabOrder) {
        setTabOrder(StringGrid1, Button1);
    } else {
        setTabOrder(Button1, StringGrid1);
    }
    connect(StringGrid1, &TStringGrid::rowClicked, this, [this] { guarded(this, [this] { StringGrid1Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { guarded(this, [this] { Button1Click(); }); });
    // The month read-out follows the arrow keys wherever the focus is in the window.
    StringGrid1->installEventFilter(this);
    Button1->installEventFilter(this);
    auto* copy = new QShortcut(QKeySequence::Copy, this);
    copy->setContext(Qt::WindowShortcut);
    connect(copy, &QShortcut::activated, this, [this] { copyTable(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TStatisticsWindow::~TStatisticsWindow() = default;

QLabel* TStatisticsWindow::makeLabel(const char* name, QRect box, const std::string& text, const QColor& colour,
                                     int pointSize, bool bold) {
    auto* label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(box);
    label->setFont(layoutFont("Arial", pointSize, bold));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
    label->setAutoFillBackground(false);
    // Labels in the month chart's hover zone must not swallow the mouse.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setHeading(label, text);
    return label;
}

TFxLabel* TStatisticsWindow::makeRotatedLabel(const char* name, QRect box, const std::string& text,
                                              const QColor& colour, int posY) {
    auto* label = new TFxLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(box);
    label->setFont(layoutFont("Arial", 8));
    label->setFontColor(colour);
    label->FontFX.setAngle(90);
    label->FontFX.PosY = posY;
    label->setCaption(text);
    return label;
}

TBevel* TStatisticsWindow::makeBevel(const char* name, QRect box) {
    auto* bevel = new TBevel(this);
    bevel->setObjectName(QString::fromLatin1(name));
    bevel->setGeometry(box);
    return bevel;
}

void TStatisticsWindow::setHeading(QLabel* label, const std::string& caption) {
    label->setText(toQt(shownCaption(caption)));
}

void TStatisticsWindow::showStatistics() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    // The figures are worked out before the window appears; a failure shows
    // the window with what was computed, and then the error.
    std::string failure;
    try {
        FormShow();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    show();
    raise();
    if (!failure.empty()) throw archive::EngineError(failure);
}

void TStatisticsWindow::fillTableRows(const stats::StatisticsTable& rows) {
    for (size_t row = 0; row < rows.size(); ++row)
        for (size_t column = 0; column < rows[row].size(); ++column)
            StringGrid1->setCells(static_cast<int>(row), static_cast<int>(column), rows[row][column]);
}

void TStatisticsWindow::FormShow() {
    const WaitCursor waitCursor;
    archive::Query& query = host_.statisticsQuery();
    archive::ViewState& state = host_.viewState();
    bool complete = false;
    {
        const GridFrozen frozen(host_.resultGrid(), query);
        StringGrid1->setColumnCount(gridColumns_);
        StringGrid1->setRowCount(gridRows_);
        StringGrid1->setRow(suchPage_.ComboBox2()->currentIndex() + 1);
        Label4->setText(toQt(selectionText(query.active() ? query.recordCount() : 0)));
        fillTitleRow();
        compute(query, state);
        complete = computationComplete();
        fillFromComputation();
    }
    update();
    emit figuresComputed();
    if (!complete) throw archive::EngineError(computationFailure());
}

void TStatisticsWindow::StringGrid1Click() {
    const int category = StringGrid1->Row() - 1;
    QComboBox* categories = suchPage_.ComboBox2();
    if (category == categories->currentIndex()) return;
    // A row past the end of the list leaves the list without a current entry.
    categories->setCurrentIndex(category < categories->count() ? category : -1);
    suchPage_.Suchen();
    // With the selection module open, its search has refreshed every open
    // statistics window already.
    if (!suchPage_.isVisible()) {
        FormShow();
        repaint();
    }
}

void TStatisticsWindow::Button1Click() { hide(); }

void TStatisticsWindow::selectCategoryRow(int row) { StringGrid1->setRow(row); }

void TStatisticsWindow::recomputeAndRepaint() {
    FormShow();
    repaint();
}

// ---------------------------------------------------------------- painting

void TStatisticsWindow::verticalStroke(QPainter& painter, int x, int fromY, int toY) {
    if (fromY > toY) {
        painter.fillRect(x, toY + 1, 1, fromY - toY, pen_);
    } else if (fromY < toY) {
        painter.fillRect(x, fromY, 1, toY - fromY, pen_);
    }
}

void TStatisticsWindow::horizontalStroke(QPainter& painter, int y, int fromX, int toX) {
    if (fromX < toX) {
        painter.fillRect(fromX, y, toX - fromX, 1, pen_);
    } else if (fromX > toX) {
        painter.fillRect(toX + 1, y, fromX - toX, 1, pen_);
    }
}

void TStatisticsWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    paintBeforeMonthChart(painter);
    paintMonthChart(painter);
}

void TStatisticsWindow::paintMonthChart(QPainter& painter) {
    const double maximum = monthScaleMaximum();
    for (int month = 0; month < 12; ++month) {
        const int height = static_cast<int>(monthValue(month) / maximum * kMonthHeight);
        for (int column = 0; column < kMonthWidth; ++column) {
            const int x = kChartLeft + kMonthWidth * month + column;
            pen_ = column == 0 ? palette::kBlack : palette::kNavy;
            verticalStroke(painter, x, kMonthBase, kMonthBase - height);
            pen_ = month % 2 == 1 ? palette::kSilver : palette::kGrey;
            verticalStroke(painter, x, kMonthBase - height, kMonthTop);
        }
        paintAfterMonth(painter, month);
    }
}

// ---------------------------------------------------------------- month read-out

void TStatisticsWindow::FormMouseMove(int x, int y) {
    if (x <= kChartLeft || x >= 516 || y <= 160 || y >= 210) return;
    showReadout((x - kChartLeft) / kMonthWidth);
}

void TStatisticsWindow::showReadout(int month) {
    HoverMonth = month;
    Label3->setText(toQt(std::to_string(month + 1) + monthReadout(month)));
}

void TStatisticsWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    FormMouseMove(position.x(), position.y());
    QWidget::mouseMoveEvent(event);
}

bool TStatisticsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            switch (key->key()) {
            case Qt::Key_Left:
                showReadout(HoverMonth <= 0 ? 0 : HoverMonth - 1);
                return true;
            case Qt::Key_Right:
                showReadout(HoverMonth < 0 ? 0 : std::min(HoverMonth + 1, 11));
                return true;
            case Qt::Key_Home:
                showReadout(0);
                return true;
            case Qt::Key_End:
                showReadout(11);
                return true;
            default:
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TStatisticsWindow::copyTable() {
    QGuiApplication::clipboard()->setText(toQt(StringGrid1->asTabSeparatedText()));
}
