// The statistics windows as a reader sees them: opened from the sidebar over
// the known disc, their tables and captions, the charts pixel by pixel, the
// month read-out under the mouse and the keys, and the category rows that
// narrow the main grid.

#include "commands.h"
#include "imagecache.h"
#include "tform3.h"
#include "tfxlabel.h"
#include "tkindstatistics.h"
#include "windowtest.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

#include <sstream>

namespace {

archive::Cell text(const char* value) { return std::string(value); }

QColor pixel(QWidget& window, int x, int y) { return window.grab().toImage().pixelColor(x, y); }

// The mouse moves over the window as the window system reports it, so the
// window's children decide whether the window sees the move.
void moveMouse(QWidget& window, QPoint position) { QTest::mouseMove(window.windowHandle(), position); }

const QColor kNavy(0x00, 0x00, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kGrey(0x80, 0x80, 0x80);
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);

// The games window's month read-outs over the sample disc.
const char* const kJanuary = "1er-Durchschnitt: Wertung=90 / Tests=0.1";
const char* const kDecember = "12er-Durchschnitt: Wertung=69.5 / Tests=0.3";

}  // namespace

class StatisticsTest : public WindowTest {
    Q_OBJECT
private slots:
    void gamesWindowOpensFromTheSidebar();
    void gamesFiguresAndCaptions();
    void monthChartAndAverageMarks();
    void distributionBarsGapsAndLeftoverPen();
    void hoverReadoutFollowsTheColumns();
    void keysMoveTheReadoutAndCopyTheTable();
    void toolPrintsTheTableTheWindowCopies();
    void categoryRowNarrowsTheMainGrid();
    void selectionModuleRefreshesOpenWindows();
    void discAndTipsWindows();
    void rowPastTheEndLeavesNoCategory();
    void emptySelection();
    void malformedRatingShowsTheErrorAndRestoresTheGrid();
    void viewSwitchAndEditModeHideTheWindows();

private:
    TForm3& games() { return set().Form3(); }
    TForm5& discWindow() { return set().Form5(); }
    TForm6& tips() { return set().Form6(); }
    // A window's controls by their designer names.
    std::string label(QWidget& window, const char* name) const { return fromQt(child<QLabel>(window, name)->text()); }
    std::string caption(QWidget& window, const char* name) const { return child<TFxLabel>(window, name)->caption(); }
    TStringGrid& table(QWidget& window) const { return *child<TStringGrid>(window, "StringGrid1"); }
    QPushButton* ok(QWidget& window) const { return child<QPushButton>(window, "Button1"); }
    std::string cell(QWidget& window, int row, int column) const { return table(window).cells(row, column); }
    // The whole table, row by row.
    std::vector<std::vector<std::string>> rows(QWidget& window) const {
        std::vector<std::vector<std::string>> result(static_cast<size_t>(table(window).rowCount()));
        for (size_t row = 0; row < result.size(); ++row)
            for (int column = 0; column < table(window).columnCount(); ++column)
                result[row].push_back(cell(window, static_cast<int>(row), column));
        return result;
    }
};

void StatisticsTest::gamesWindowOpensFromTheSidebar() {
    QVERIFY(!games().isVisible());
    QCOMPARE(label(games(), "Label3"), std::string(" Monatsschnitt:"));
    QCOMPARE(caption(games(), "FxLabel1"), std::string(" Anzahl"));
    click("Image7");
    QVERIFY(games().isVisible());
    QVERIFY(!discWindow().isVisible() && !tips().isVisible());
    QCOMPARE(games().windowTitle(), QStringLiteral("Statistik / Spiele"));
    QCOMPARE(games().size(), QSize(558, 396));
    const Qt::WindowFlags flags = games().windowFlags();
    QVERIFY(flags.testFlag(Qt::Tool) && flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!games().isModal());
    QCOMPARE(table(games()).geometry(), QRect(8, 32, 225, 193));
    QCOMPARE(ok(games())->geometry(), QRect(478, 204, 41, 25));
    QCOMPARE(child<TFxLabel>(games(), "FxLabel3")->geometry(), QRect(522, 240, 16, 133));
    // The walk leaves the shared cursor on the first record.
    QCOMPARE(query().recNo(), 0);
    // The backdrop runs from slate blue in the first band (rows 0-5) to navy
    // in the last (rows 390-395), under the labels and around the charts.
    const QImage image = games().grab().toImage();
    QCOMPARE(image.pixelColor(2, 0), QColor(0x35, 0x35, 0x56));
    QCOMPARE(image.pixelColor(540, 5), QColor(0x35, 0x35, 0x56));
    QCOMPARE(image.pixelColor(540, 6), QColor(0x34, 0x34, 0x56));
    QCOMPARE(image.pixelColor(2, 395), QColor(0x01, 0x00, 0x41));
    QCOMPARE(image.pixelColor(2, 230), image.pixelColor(250, 230));

    QTest::mouseClick(ok(games()), Qt::LeftButton);
    QVERIFY(!games().isVisible());
    QCOMPARE(games().statistics().totalCount, 5.0);  // the state stays
}

void StatisticsTest::gamesFiguresAndCaptions() {
    form().Image7Click();
    TForm3& w = games();
    QCOMPARE(label(w, "Label4"), std::string("Auswahl: 6 Spiele"));
    const std::vector<std::vector<std::string>> expected{
        {" Rubrik", " Wertungen", " Schnitt"},
        {" Alle Rubriken", " 5", " 79.6 %"},
        {" > Action", " 2", " 69.5 %"},
        {" > Strategie", " 1", " 81 %"},
        {" > Sport", " 1", " 88 %"},
        {" > Simulationen", " 0", " 0 %"},
        {" > Rollenspiele", " 1", " 90 %"},
        {" > Budget", " 0", " 0 %"},
        {" > Software", " 0", " 0 %"},
    };
    QCOMPARE(rows(w), expected);
    QCOMPARE(table(w).columnWidth(0), 96);  // 95 and the grid line
    // "(alle)" is chosen, so "Alle Rubriken" is the current row.
    QCOMPARE(table(w).Row(), 1);
    QCOMPARE(label(w, "Label2"),
             std::string(" Wertungsverteilung der ausgew\xE4hlten Spiele (Anzahl Wertungen pro Prozent)"));
    QCOMPARE(label(w, "Label3"), std::string("Schnitt pro Ausgabe: Wertung & Testanzahl"));
    QCOMPARE(caption(w, "FxLabel1"), std::string(" Testanzahlschnitt (max=1)"));
    QCOMPARE(caption(w, "FxLabel2"), std::string(" Wertungsschnitt (max=100%)"));
    QCOMPARE(caption(w, "FxLabel3"), std::string(" Maximum=1 Spiel"));
}

void StatisticsTest::monthChartAndAverageMarks() {
    form().Image7Click();
    TForm3& w = games();
    // Every month had 7 issues from 1997/10 to 2004/09; December holds two
    // rated tests: 2/7 of 140 pixels, 40 rows from the base line up.
    const int december = 252 + 22 * 11;
    QCOMPARE(pixel(w, december, 174), kBlack);
    QCOMPARE(pixel(w, december, 135), kBlack);
    QCOMPARE(pixel(w, december, 134), kSilver);
    QCOMPARE(pixel(w, december + 5, 135), kNavy);
    QCOMPARE(pixel(w, december + 5, 134), kSilver);
    QCOMPARE(pixel(w, december + 5, 35), kSilver);
    // Its average mark, 69.5 %: 97 pixels up, two rows, 21 columns.
    QCOMPARE(pixel(w, december + 1, 77), kRed);
    QCOMPARE(pixel(w, december + 1, 78), kRed);
    QCOMPARE(pixel(w, december + 21, 77), kRed);
    QCOMPARE(pixel(w, december, 77), kSilver);
    QCOMPARE(pixel(w, december + 1, 76), kSilver);
    // February: no rated test, no bar; its mark lies on the base line.
    const int february = 252 + 22;
    QCOMPARE(pixel(w, february + 3, 174), kRed);
    QCOMPARE(pixel(w, february + 3, 175), kRed);
    QCOMPARE(pixel(w, february + 3, 173), kSilver);
    QCOMPARE(pixel(w, february, 173), kSilver);
    QCOMPARE(pixel(w, 252 + 3, 100), kGrey);  // January's band
}

void StatisticsTest::distributionBarsGapsAndLeftoverPen() {
    // Ratings 0 (twice), 10 and 100: full bars, a half bar and the band gaps.
    disc->writeTable(archive::gamesView(),
                        {{text("A"), text("Action"), text("x"), text("x"), text("0"), text("2001/01"), text("x")},
                         {text("B"), text("Action"), text("x"), text("x"), text("0"), text("2001/02"), text("x")},
                         {text("C"), text("Sport"), text("x"), text("x"), text("10"), text("2001/03"), text("x")},
                         {text("D"), text("Sport"), text("x"), text("x"), text("100"), text("2001/03"), text("x")}});
    closeWindows();
    start();
    TForm3& w = games();
    form().Image7Click();
    QCOMPARE(w.statistics().ratingCountMax, 2.0);
    QCOMPARE(caption(w, "FxLabel3"), std::string(" Maximum=2 Spiele"));
    // Rating 0: its first column keeps the pen of the paint before it, black
    // on the very first paint; the bar is 100 pixels from 366 up to 267.
    QImage first = w.grab().toImage();
    QCOMPARE(first.pixelColor(11, 366), kBlack);
    QCOMPARE(first.pixelColor(11, 267), kBlack);
    QCOMPARE(first.pixelColor(12, 267), kNavy);
    QCOMPARE(first.pixelColor(15, 366), kNavy);
    // Rating 10: half height, first column in the grey of the band before.
    QCOMPARE(first.pixelColor(61, 366), kGrey);
    QCOMPARE(first.pixelColor(62, 317), kNavy);
    QCOMPARE(first.pixelColor(62, 316), kSilver);
    QCOMPARE(first.pixelColor(61, 316), kSilver);
    // Rating 100, half height, stands in a grey band; the gap before it
    // keeps the silver of the band before below the bar's top.
    QCOMPARE(first.pixelColor(511, 340), kSilver);
    QCOMPARE(first.pixelColor(511, 300), kGrey);
    QCOMPARE(first.pixelColor(512, 340), kNavy);
    QCOMPARE(first.pixelColor(512, 300), kGrey);
    // An empty rating shows only its band.
    QCOMPARE(first.pixelColor(18, 300), kGrey);
    // The next paint starts with the red of the last average mark.
    QImage second = w.grab().toImage();
    QCOMPARE(second.pixelColor(11, 366), kRed);
    QCOMPARE(second.pixelColor(11, 267), kRed);
    // The axis captions stand on the window colour, none for 100.
    QCOMPARE(second.pixelColor(12, 371), QColor(0x01, 0x00, 0x41));
    int brightInk = 0;
    for (int x = 12; x < 30; ++x)
        for (int y = 370; y < 384; ++y) brightInk += second.pixelColor(x, y).lightness() > 200;
    QVERIFY(brightInk > 5);
    for (int y = 370; y < 384; ++y) QVERIFY(second.pixelColor(520, y).lightness() < 100);
}

void StatisticsTest::hoverReadoutFollowsTheColumns() {
    form().Image7Click();
    TForm3& w = games();
    moveMouse(w, QPoint(253, 185));  // over the month numbers
    QCOMPARE(label(w, "Label3"), std::string(kJanuary));
    moveMouse(w, QPoint(274, 170));
    QCOMPARE(label(w, "Label3"), std::string("2er-Durchschnitt: Wertung=0 / Tests=0"));
    moveMouse(w, QPoint(273, 205));
    QCOMPARE(label(w, "Label3"), std::string(kJanuary));
    moveMouse(w, QPoint(515, 161));
    QCOMPARE(label(w, "Label3"), std::string(kDecember));
    // The keys go on from the month under the mouse.
    QTest::keyClick(&table(w), Qt::Key_Left);
    QCOMPARE(label(w, "Label3"), std::string("11er-Durchschnitt: Wertung=0 / Tests=0"));
    moveMouse(w, QPoint(514, 163));
    QCOMPARE(label(w, "Label3"), std::string(kDecember));
    // Outside the zone nothing changes.
    for (const QPoint outside : {QPoint(252, 185), QPoint(516, 185), QPoint(300, 160), QPoint(300, 210)}) {
        moveMouse(w, outside);
        QCOMPARE(label(w, "Label3"), std::string(kDecember));
    }
    // The next computation sets the heading again.
    w.recomputeAndRepaint();
    QCOMPARE(label(w, "Label3"), std::string("Schnitt pro Ausgabe: Wertung & Testanzahl"));
}

void StatisticsTest::keysMoveTheReadoutAndCopyTheTable() {
    form().Image7Click();
    TForm3& w = games();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    ok(w)->setFocus();
    QTest::keyClick(ok(w), Qt::Key_Right);
    QCOMPARE(label(w, "Label3"), std::string(kJanuary));
    QTest::keyClick(ok(w), Qt::Key_End);
    QCOMPARE(label(w, "Label3"), std::string(kDecember));
    QTest::keyClick(ok(w), Qt::Key_Right);
    QCOMPARE(label(w, "Label3"), std::string(kDecember));
    QTest::keyClick(&table(w), Qt::Key_Left);
    QCOMPARE(label(w, "Label3"), std::string("11er-Durchschnitt: Wertung=0 / Tests=0"));
    QTest::keyClick(ok(w), Qt::Key_Home);
    QCOMPARE(label(w, "Label3"), std::string(kJanuary));

    QApplication::clipboard()->clear();
    QTest::keyClick(ok(w), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("Rubrik\tWertungen\tSchnitt"));
    QCOMPARE(lines.value(1), QStringLiteral("Alle Rubriken\t5\t79.6 %"));
    QCOMPARE(lines.value(2), QStringLiteral("> Action\t2\t69.5 %"));
}

// The maintainer's tool prints, on the same selection, what the window copies.
void StatisticsTest::toolPrintsTheTableTheWindowCopies() {
    auto printed = [&](const archive::ViewDef& view, const cli::Selection& selection) {
        std::ostringstream out, err, data;
        cli::Streams streams{out, err, data};
        // The tool reads the fields it needs itself, not the window's table.
        archive::clearImageCache();
        if (cli::printStatistics(disc->dataPath, view, selection, streams) != cli::kOk) return err.str();
        const std::string text = out.str();
        return text.substr(0, text.find("\n\n") + 1);
    };
    auto copied = [&](TStatisticsWindow& window) {
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window)) return std::string("not active");
        QApplication::clipboard()->clear();
        QTest::keyClick(ok(window), Qt::Key_C, Qt::ControlModifier);
        return fromQt(QApplication::clipboard()->text());
    };
    form().Image7Click();
    click("Image6");
    page().ComboBox2()->setCurrentIndex(1);  // Action
    page().ComboBox2Change();
    QTest::keyClicks(page().Edit1(), QStringLiteral("cab"));
    QCOMPARE(copied(games()), printed(archive::gamesView(), {"cab", std::nullopt, "Action"}));
    click("Image2");
    click("Image7");
    QCOMPARE(copied(discWindow()), printed(archive::discView(), {}));
}

void StatisticsTest::categoryRowNarrowsTheMainGrid() {
    form().Image7Click();
    TForm3& w = games();
    // Row 3 is list entry 2, "Strategie".
    table(w).setCurrentCell(3, 0);
    QCOMPARE(page().ComboBox2()->currentText(), QStringLiteral("Strategie"));
    QCOMPARE(form().SelectionFilter, std::string("RUBRIK LIKE \"%tra%\""));
    QCOMPARE(column(0), (std::vector<std::string>{"Ostfront Taktik", "Zeppelin Tycoon"}));
    // The selection module is hidden, so this window recomputed itself.
    QCOMPARE(label(w, "Label4"), std::string("Auswahl: 2 Spiele"));
    QCOMPARE(cell(w, 3, 1), std::string(" 1"));
    QCOMPARE(cell(w, 2, 1), std::string(" 0"));
    QCOMPARE(table(w).Row(), 3);
    QVERIFY(!control("LED2")->isHidden());

    // A key press moves to the next row: "Sport".
    QTest::keyClick(&table(w), Qt::Key_Down);
    QCOMPARE(page().ComboBox2()->currentText(), QStringLiteral("Sport"));
    QCOMPARE(label(w, "Label4"), std::string("Auswahl: 1 Spiel"));
    // Up to "Alle Rubriken"; the title row is never chosen.
    for (int press = 0; press < 4; ++press) QTest::keyClick(&table(w), Qt::Key_Up);
    QCOMPARE(table(w).Row(), 1);
    QCOMPARE(page().ComboBox2()->currentIndex(), 0);
    QCOMPARE(label(w, "Label4"), std::string("Auswahl: 6 Spiele"));
}

void StatisticsTest::selectionModuleRefreshesOpenWindows() {
    form().Image7Click();
    click("Image6");
    QVERIFY(page().isVisible());
    page().ComboBox2()->setCurrentIndex(1);  // Action
    page().ComboBox2Change();
    QCOMPARE(table(games()).Row(), 2);
    QCOMPARE(label(games(), "Label4"), std::string("Auswahl: 2 Spiele"));
    // Every keystroke in a title field recomputes the open window.
    QTest::keyClicks(page().Edit1(), QStringLiteral("cab"));
    QCOMPARE(label(games(), "Label4"), std::string("Auswahl: 1 Spiel"));
    QCOMPARE(cell(games(), 1, 2), std::string(" 65 %"));
    QTest::keyClick(page().Edit1(), Qt::Key_Backspace);
    QTest::keyClick(page().Edit1(), Qt::Key_Backspace);
    QTest::keyClick(page().Edit1(), Qt::Key_Backspace);
    QCOMPARE(label(games(), "Label4"), std::string("Auswahl: 2 Spiele"));
    // A row chosen in the window runs through the selection module.
    table(games()).setCurrentCell(6, 0);  // Rollenspiele
    QCOMPARE(label(games(), "Label4"), std::string("Auswahl: 1 Spiel"));
    QCOMPARE(page().ComboBox2()->currentIndex(), 5);
}

void StatisticsTest::discAndTipsWindows() {
    click("Image2");
    click("Image7");
    QVERIFY(discWindow().isVisible() && !games().isVisible());
    TForm5& d = discWindow();
    QCOMPARE(d.windowTitle(), QStringLiteral("Statistik / CD & DVD-Inhalt"));
    QCOMPARE(d.size(), QSize(544, 273));
    QCOMPARE(label(d, "Label4"), std::string("Auswahl: 4 Files"));
    QCOMPARE(label(d, "Label3"), std::string("Dateianzahl-Durchschnitt pro Ausgabe"));
    QCOMPARE(caption(d, "FxLabel1"), std::string(" Dateianzahlschnitt (max=1)"));
    QCOMPARE(rows(d), (std::vector<std::vector<std::string>>{{" Kategorie", " Anzahl"},
                                                             {" Alle Files", " 4"},
                                                             {" > Demos", " 2"},
                                                             {" > Extras", " 0"},
                                                             {" > Mods", " 0"},
                                                             {" > Patches", " 1"},
                                                             {" > Programme", " 0"},
                                                             {" > Treiber", " 1"},
                                                             {" > Videos", " 0"},
                                                             {" > Vollversionen", " 0"},
                                                             {" > Sonstiges", " 0"}}));
    // October: 1997 to 2004, eight issues, one file.
    moveMouse(d, QPoint(252 + 22 * 9 + 1, 185));
    QCOMPARE(label(d, "Label3"), std::string("10er-Durchschnitt: Anzahl der Dateien = 0.1"));

    click("Image3");
    QVERIFY(!discWindow().isVisible());
    click("Image7");
    TForm6& t = tips();
    QVERIFY(t.isVisible());
    QCOMPARE(t.windowTitle(), QStringLiteral("Statistik / Tipps"));
    QCOMPARE(t.size(), QSize(544, 241));
    QCOMPARE(label(t, "Label4"), std::string("Auswahl: 3 Tipps"));
    QCOMPARE(label(t, "Label3"), std::string("Tippsanzahl-Durchschnitt pro Ausgabe"));
    QCOMPARE(rows(t), (std::vector<std::vector<std::string>>{{" Art", " Anzahl"},
                                                             {" Alle Tipps", " 3"},
                                                             {" > Cheat", " 1"},
                                                             {" > Kurztipp", " 1"},
                                                             {" > L\xF6sung", " 1"},
                                                             {" > Taktik", " 0"},
                                                             {" > Sonstige", " 0"}}));
    moveMouse(t, QPoint(252 + 22 * 6 + 1, 185));  // July: 1998 to 2004, one tip
    QCOMPARE(label(t, "Label3"), std::string("7er-Durchschnitt: Anzahl der Tipps = 0.1"));
}

void StatisticsTest::rowPastTheEndLeavesNoCategory() {
    click("Image2");
    form().Image7Click();
    TForm5& d = discWindow();
    table(d).setCurrentCell(10, 0);  // "Sonstiges"
    QCOMPARE(page().ComboBox2()->currentIndex(), -1);
    QCOMPARE(form().SelectionFilter, std::string("ART LIKE \"%%\""));
    // The computation that followed marks no data row.
    QCOMPARE(table(d).Row(), 0);
    QVERIFY(table(d).selectedItems().isEmpty());
    QCOMPARE(label(d, "Label4"), std::string("Auswahl: 4 Files"));
}

void StatisticsTest::emptySelection() {
    QTest::keyClicks(quickField(), QStringLiteral("QQQ"));
    form().Image7Click();
    TForm3& w = games();
    QCOMPARE(label(w, "Label4"), std::string("Auswahl: 0 Spiele"));
    QCOMPARE(cell(w, 1, 1), std::string(" 0"));
    QCOMPARE(cell(w, 1, 2), std::string(" 0 %"));
    QCOMPARE(caption(w, "FxLabel3"), std::string(" Maximum=1 Spiel"));
    QCOMPARE(caption(w, "FxLabel1"), std::string(" Testanzahlschnitt (max=1)"));
    const QImage image = w.grab().toImage();
    for (int month = 0; month < 12; ++month) {
        const int x = 253 + 22 * month;
        QCOMPARE(image.pixelColor(x, 174), kRed);
        QCOMPARE(image.pixelColor(x, 175), kRed);
        QCOMPARE(image.pixelColor(x, 173), month % 2 ? kSilver : kGrey);
    }
    QCOMPARE(image.pixelColor(11 + 5 * 45 + 2, 366), kGrey);  // no distribution bar
}

void StatisticsTest::malformedRatingShowsTheErrorAndRestoresTheGrid() {
    // A foreign file can hold text where a rating belongs.
    disc->writeTable(archive::gamesView(),
                        {{text("A"), text("Action"), text("x"), text("x"), text("80"), text("2001/01"), text("x")},
                         {text("B"), text("Sport"), text("x"), text("x"), text("70"), text("2001/02"), text("x")},
                         {text("C"), text("Sport"), text("x"), text("x"), text("60"), text("2001/03"), text("x")}});
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open((disc->dataPath + "/GameData.DB").c_str(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "UPDATE GameData SET WERTUNG = 'gut' WHERE TITEL = 'B'", nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(db);
    closeWindows();
    start();
    MessageBox::clearShown();
    click("Image7");
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown()[0].kind, MessageBox::Kind::Error);
    QVERIFY(MessageBox::shown()[0].text.find("gut") != std::string::npos);
    // The window shows what came before the failing record; the grid is back.
    QVERIFY(games().isVisible());
    QCOMPARE(label(games(), "Label4"), std::string("Auswahl: 3 Spiele"));
    QCOMPARE(games().statistics().categoryCount[0], 1.0);
    QVERIFY(grid().updatesEnabled());
    QCOMPARE(query().recNo(), 0);
    QVERIFY(!QApplication::overrideCursor());
}

void StatisticsTest::viewSwitchAndEditModeHideTheWindows() {
    form().Image7Click();
    QVERIFY(games().isVisible());
    click("Image1");  // even the same view
    QVERIFY(!games().isVisible());
    // In the edit mode the statistics command does nothing.
    toggleEditMode();
    QVERIFY(form().EditMode);
    form().Image7Click();
    QVERIFY(!games().isVisible() && !discWindow().isVisible() && !tips().isVisible());
}

QTEST_MAIN(StatisticsTest)
#include "tst_statistics.moc"
