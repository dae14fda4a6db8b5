// The grid's cell painter must draw every pixel the style's own item painter
// draws: texts that fit and texts that are elided, umlauts, blanks, empty
// cells, the selected and the focused cell, narrow and wide columns, in the
// window's active and inactive look; and it must keep doing so once its
// texts are laid out and kept. The row header draws the current row's mark
// itself, the same in any font.

#include "gridcelldelegate.h"
#include "rowindicatorheader.h"
#include "text.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>

namespace {

const QString kGridLook = QStringLiteral(
    "QTableView { background-color: #C0C0C0; color: #000080; gridline-color: #808080; }"
    "QHeaderView::section { background-color: #808080; color: #000080; border: 1px solid #808080; "
    "border-top-color: #FFFFFF; border-left-color: #FFFFFF; padding: 0px 2px; }");

QString latin1(const char* text) { return QString::fromLatin1(text); }

// Texts of every kind a cell shows, with some made up at random from letters
// that shape differently (wide, narrow, accented, punctuation).
QStringList cellTexts() {
    QStringList texts = {
        latin1("A"),
        latin1("Die Siedler von Catan"),
        latin1("\xC4rger im \xDC" "berflu\xDF: \xF6" "de \xE4" "hnliche Gr\xFC\xDF" "e"),
        latin1("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"),
        latin1("iiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiii"),
        latin1("  leading and trailing blanks  "),
        latin1("Tab\tin the middle"),
        latin1("100% & mehr - \"Zitat\" (Klammer) [eckig] {geschweift} \xA7 \x80 \x85"),
        latin1("Caf\xE9 na\xEFve \xC6sop \xF8re \xE5ngstr\xF6m \xD1" "and\xFA"),
        latin1("01/97"),
        latin1("12/2003"),
        latin1("Action"),
        latin1("Strategie"),
        QString(),
    };
    QRandomGenerator random(20261209);
    const QString alphabet = latin1("aAbBeEfFiIlLmMwWW .,-:!?\xE4\xF6\xFC\xDF\xC4\xD6\xDC" "0123456789&%'");
    for (int i = 0; i < 60; ++i) {
        QString text;
        const int length = 1 + random.bounded(70);
        for (int c = 0; c < length; ++c) text += alphabet.at(random.bounded(alphabet.size()));
        texts += text;
    }
    return texts;
}

struct Grid {
    QStandardItemModel model;
    QTableView view;

    explicit Grid(const QStringList& texts, const QList<int>& widths) {
        const int columns = static_cast<int>(widths.size());
        const int rows = static_cast<int>((texts.size() + columns - 1) / columns);
        model.setRowCount(rows);
        model.setColumnCount(columns);
        for (int i = 0; i < texts.size(); ++i) model.setItem(i / columns, i % columns, new QStandardItem(texts.at(i)));
        view.setModel(&model);
        view.setFont(QFont(QStringLiteral("Arial"), 8));
        view.setStyleSheet(kGridLook);
        view.setWordWrap(false);
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.verticalHeader()->setDefaultSectionSize(17);
        view.verticalHeader()->setFixedWidth(12);
        for (int column = 0; column < columns; ++column) view.setColumnWidth(column, widths.at(column));
        int width = 40;
        for (const int column : widths) width += column;
        view.resize(width, 17 * rows + 60);
        view.setCurrentIndex(model.index(rows / 2, 1));
    }

    QImage shot() { return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// The first pixel where two pictures differ, for the failure message.
QString firstDifference(const QImage& expected, const QImage& actual) {
    if (expected.size() != actual.size()) return QStringLiteral("sizes differ");
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (expected.pixel(x, y) != actual.pixel(x, y))
                return QStringLiteral("pixel %1,%2: %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16)
                    .arg(expected.pixel(x, y), 8, 16);
    return {};
}

}  // namespace

class GridCellsTest : public QObject {
    Q_OBJECT
private slots:
    void cellsLookAsTheStyleDrawsThem_data();
    void cellsLookAsTheStyleDrawsThem();
    void keptTextsFollowTheFontAndTheColumnWidth();
    void currentRowIsMarkedByATriangleInAnyFont();
    void longTextsShowAsTheirBeginning();
};

void GridCellsTest::cellsLookAsTheStyleDrawsThem_data() {
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<bool>("focused");
    QTest::newRow("archive columns") << QList<int>{190, 64, 64, 90, 28, 38, 120} << true;
    QTest::newRow("archive columns, grid without focus") << QList<int>{190, 64, 64, 90, 28, 38, 120} << false;
    QTest::newRow("narrow columns") << QList<int>{8, 9, 12, 15, 20, 30, 45} << true;
    QTest::newRow("wide columns") << QList<int>{400, 300} << true;
}

void GridCellsTest::cellsLookAsTheStyleDrawsThem() {
    QFETCH(QList<int>, widths);
    QFETCH(bool, focused);
    Grid grid(cellTexts(), widths);
    grid.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid.view));
    if (focused) {
        grid.view.activateWindow();
        grid.view.setFocus();
        QTRY_VERIFY(grid.view.hasFocus());
    } else {
        grid.view.clearFocus();
    }
    // A selected cell beside the current one, and a selected whole row.
    grid.view.selectionModel()->select(grid.model.index(1, 0), QItemSelectionModel::Select);
    grid.view.selectionModel()->select(grid.model.index(3, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);

    grid.view.setItemDelegate(new QStyledItemDelegate(&grid.view));
    const QImage expected = grid.shot();
    auto* cells = new GridCellDelegate(&grid.view);
    grid.view.setItemDelegate(cells);
    const QImage firstPaint = grid.shot();
    QVERIFY2(firstPaint == expected, qPrintable(firstDifference(expected, firstPaint)));
    // Painted again from the texts laid out the first time.
    const QImage keptPaint = grid.shot();
    QVERIFY2(keptPaint == expected, qPrintable(firstDifference(expected, keptPaint)));
}

void GridCellsTest::keptTextsFollowTheFontAndTheColumnWidth() {
    const QList<int> widths{150, 80};
    Grid grid(cellTexts(), widths);
    grid.view.setItemDelegate(new GridCellDelegate(&grid.view));
    grid.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid.view));
    (void)grid.shot();  // the texts laid out for these widths and this font

    grid.view.setColumnWidth(0, 60);
    grid.view.setColumnWidth(1, 200);
    grid.view.setFont(QFont(QStringLiteral("Arial"), 10, QFont::Bold));
    const QImage changed = grid.shot();
    grid.view.setItemDelegate(new QStyledItemDelegate(&grid.view));
    const QImage expected = grid.shot();
    QVERIFY2(changed == expected, qPrintable(firstDifference(expected, changed)));
}

void GridCellsTest::currentRowIsMarkedByATriangleInAnyFont() {
    Grid grid({latin1("a"), latin1("b"), latin1("c")}, {60});
    grid.model.setVerticalHeaderLabels({QString(), QString(), QString()});
    grid.model.setHeaderData(1, Qt::Vertical, true, kRowIndicatorRole);
    auto* header = new RowIndicatorHeader(&grid.view);
    grid.view.setVerticalHeader(header);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setDefaultSectionSize(17);
    header->setFixedWidth(12);
    const QColor mark(0x12, 0x34, 0x56);
    header->setMarkColour(mark);
    grid.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid.view));
    auto section = [&](int row) {
        return header->viewport()
            ->grab(QRect(0, header->sectionViewportPosition(row), 12, 17))
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };

    const QImage plain = section(0);
    const QImage marked = section(1);
    QCOMPARE(section(2), plain);
    // The triangle covers 6 by 8 pixels from (3, 6), as the sign did, solid
    // in the mark's colour along its base and middle; nothing else changes.
    int inked = 0;
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 12; ++x) {
            if (marked.pixel(x, y) == plain.pixel(x, y)) continue;
            ++inked;
            QVERIFY2(x >= 3 && x <= 8 && y >= 6 && y <= 13, qPrintable(QStringLiteral("ink at %1,%2").arg(x).arg(y)));
        }
    QVERIFY(inked >= 20);
    for (const QPoint solid : {QPoint(3, 7), QPoint(3, 12), QPoint(4, 10), QPoint(6, 10)})
        QCOMPARE(QColor(marked.pixel(solid)), mark);

    // Another font, however large, changes nothing.
    header->setFont(QFont(QStringLiteral("Liberation Mono"), 20, QFont::Bold));
    QCOMPARE(section(1), marked);
}

// A value longer than a cell can show is handed to the grid as its beginning
// (toQtShown); in the widest cell, with the narrowest letters, that draws
// every pixel the whole value draws.
void GridCellsTest::longTextsShowAsTheirBeginning() {
    const size_t length = 3 * kShownCharacters;
    std::vector<std::string> values = {std::string(length, 'i'), std::string(length, '.'), std::string(length, 'W'),
                                       std::string(kShownCharacters + 1, 'l')};
    std::string mixed;
    for (size_t i = 0; mixed.size() < length; ++i) mixed += "\xC4rger im \xDC" "berflu\xDF, iiii ll. ";
    values.push_back(mixed);
    QStringList whole, shown;
    for (const std::string& value : values) {
        whole += toQt(value);
        shown += toQtShown(value);
        QVERIFY(shown.back().size() <= qsizetype(kShownCharacters + 1));
    }
    const QList<int> widths{kWidestCell, 150, 9};
    Grid expectedGrid(whole, widths);
    expectedGrid.view.setItemDelegate(new QStyledItemDelegate(&expectedGrid.view));
    Grid grid(shown, widths);
    grid.view.setItemDelegate(new GridCellDelegate(&grid.view));
    for (Grid* each : {&expectedGrid, &grid}) {
        each->view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&each->view));
    }
    const QImage expected = expectedGrid.shot();
    const QImage actual = grid.shot();
    QVERIFY2(actual == expected, qPrintable(firstDifference(expected, actual)));
}

QTEST_MAIN(GridCellsTest)
#include "tst_gridcells.moc"
