// The browser as a reader and the maintainer use it: view switches, the quick
// title field, the selection module, sorting by column titles and the edit mode
// on real table files.

#include "quietmoment.h"
#include "rowindicatorheader.h"
#include "windowtest.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

class BrowserTest : public WindowTest {
    Q_OBJECT
private slots:
    void viewSwitchMovesLampButtonAndLists();
    void refusedQueryShowsTheErrorAndFreesTheCommands();
    void quickFieldFiltersOnEveryKeystroke();
    void quickFieldFindsUmlautsAndQuotes();
    void everyKeystrokeIsShownInOneFrame();
    void selectionModuleNarrowsAndLightsTheLamp();
    void sortClicks();
    void sortDirectionSurvivesAViewSwitch();
    void freedMemoryGoesBackOnlyAfterTheWork();
    void currentColumnSurvivesARerun();
    void editModeSwitchAndBack();
    void editModeNeedsCtrlAltOnTheFreePicture();
    void codesExpandOnLeavingACell();
    void issueEntriesAreCompleted();
    void mediumCyclesOnClick();
    void deleteAsksAndRemovesTheRow();
    void refusedValueLeavesTheFileUnchanged();
    void readOnlyTableRefusesThePostAndKeepsTheEdit();
    void insertedRowIsStoredOrDropped();
    void endCommandStoresThePendingRow();
    void longValuesShowTheirBeginningAndKeepTheirRest();

private:
    void moveTo(int row, int column) { grid().setCurrentIndex(model().index(row, column)); }
    void typeInto(int row, int column, const char* text) {
        moveTo(row, column);
        QVERIFY(model().setData(model().index(row, column), toQt(text), Qt::EditRole));
    }
    // The row header's mark of a row: the drawn triangle, "I", "*" or none.
    QString mark(int row) const {
        if (model().headerData(row, Qt::Vertical, kRowIndicatorRole).toBool()) return QStringLiteral("triangle");
        return model().headerData(row, Qt::Vertical, Qt::DisplayRole).toString();
    }
};

void BrowserTest::viewSwitchMovesLampButtonAndLists() {
    QCOMPARE(control("LED1")->y(), 140);
    QVERIFY(!control("Aktiv1")->isHidden() && control("Aktiv2")->isHidden() && control("Aktiv3")->isHidden());
    QVERIFY(page().ComboBox1()->isEnabled());

    click("Image2");
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    QCOMPARE(control("LED1")->y(), 165);
    QVERIFY(control("Aktiv1")->isHidden() && !control("Aktiv2")->isHidden() && control("Aktiv3")->isHidden());
    QVERIFY(!page().ComboBox1()->isEnabled());
    QCOMPARE(page().ComboBox2()->count(), 9);
    QCOMPARE(page().ComboBox2()->currentText(), QStringLiteral("(alle)"));
    QCOMPARE(titles(), (std::vector<std::string>{"Name", "Ausgabe", "Kategorie", "CD/DVD"}));
    QCOMPARE(widths(), (std::vector<int>{190, 55, 160, 50}));
    // By name, then newest issue first.
    QCOMPARE(column(0), (std::vector<std::string>{"Grafiktreiber", "Rallye Fieber Demo", "Rallye Fieber Demo",
                                                  "Zeppelin Patch"}));
    QCOMPARE(column(1)[1], std::string("2004/10"));
    QCOMPARE(query().sql.back(), std::string("ORDER BY TITEL, AUSGABE DESC"));

    click("Image3");
    QCOMPARE(control("LED1")->y(), 190);
    QVERIFY(!control("Aktiv3")->isHidden() && control("Aktiv2")->isHidden());
    QCOMPARE(page().ComboBox2()->count(), 5);
    QCOMPARE(page().ComboBox2()->itemText(3), toQt("L\xF6sung"));
    QCOMPARE(titles(), (std::vector<std::string>{"Spieletitel", "Ausgabe", "Art", "Counter"}));

    click("Image1");
    QCOMPARE(control("LED1")->y(), 140);
    QVERIFY(page().ComboBox1()->isEnabled());
    QCOMPARE(page().ComboBox2()->count(), 8);
}

void BrowserTest::refusedQueryShowsTheErrorAndFreesTheCommands() {
    fs::remove(disc->dataPath + "/CDData.DB");
    click("Image2");
    // The file as the archive spells it, not as the view asks for it ("CDData.db").
    QCOMPARE(boxes(), Texts{"Tabelle '" + disc->dataPath + "/CDData.DB' nicht gefunden."});
    QVERIFY(QApplication::overrideCursor() == nullptr);
    for (const char* command : {"Image1", "Image2", "Image3", "Image6", "Image7"})
        QVERIFY(control(command)->isEnabled());
    // The program goes on: the games are still there to switch back to.
    click("Image1");
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
}

void BrowserTest::quickFieldFiltersOnEveryKeystroke() {
    QTest::keyClicks(quickField(), QStringLiteral("ab"));
    QCOMPARE(quickField()->text(), QStringLiteral("AB"));
    QCOMPARE(page().Edit1()->text(), QStringLiteral("AB"));
    QCOMPARE(form().TitleFilter, std::string("UPPER(TITEL) LIKE \"%AB%\""));
    QCOMPARE(column(0),
             (std::vector<std::string>{"Abenteuer in Gr\xFCnwald", "Cabal \"Zwei\"", "Labyrinth"}));
    QVERIFY(!control("LED2")->isHidden());
    QVERIFY(!control("Aktiv4")->isHidden());

    QTest::keyClick(quickField(), Qt::Key_Backspace);
    QTest::keyClick(quickField(), Qt::Key_Backspace);
    QCOMPARE(page().Edit1()->text(), QString());
    QCOMPARE(form().TitleFilter, std::string("UPPER(TITEL) LIKE \"%%\""));
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
    QVERIFY(control("LED2")->isHidden());

    // Text typed in the selection module shows in the quick field too.
    QTest::keyClicks(page().Edit1(), QStringLiteral("ra"));
    QCOMPARE(quickField()->text(), QStringLiteral("RA"));
    QCOMPARE(column(0), (std::vector<std::string>{"Rallye Fieber"}));
    // A view switch empties both title fields and the condition.
    click("Image3");
    QCOMPARE(quickField()->text(), QString());
    QCOMPARE(page().Edit1()->text(), QString());
    QCOMPARE(form().TitleFilter, std::string());
    QCOMPARE(column(0).size(), DiscFixture::tipRows().size());
}

namespace {

// Counts the paints of one widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

void BrowserTest::everyKeystrokeIsShownInOneFrame() {
    QTest::qWait(50);
    PaintCounter rows(grid().viewport());
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_B, Qt::Key_Backspace, Qt::Key_Backspace}) {
        rows.paints = 0;
        QTest::keyClick(quickField(), key);
        QTest::qWait(50);
        QCOMPARE(rows.paints, 1);
    }
    QCOMPARE(quickField()->text(), QString());
}

void BrowserTest::quickFieldFindsUmlautsAndQuotes() {
    QTest::keyClicks(quickField(), QStringLiteral("gr"));
    QTest::sendKeyEvent(QTest::Click, quickField(), Qt::Key_Udiaeresis, toQt("\xFC"), Qt::NoModifier);
    QTest::keyClicks(quickField(), QStringLiteral("n"));
    QCOMPARE(quickField()->text(), toQt("GR\xDCN"));
    QCOMPARE(column(0), (std::vector<std::string>{"Abenteuer in Gr\xFCnwald"}));
    quickField()->clear();
    // A typed quote is part of the title, not of the statement.
    QTest::keyClicks(quickField(), QStringLiteral("\"zw"));
    QCOMPARE(form().TitleFilter, std::string("UPPER(TITEL) LIKE \"%\"\"ZW%\""));
    QCOMPARE(column(0), (std::vector<std::string>{"Cabal \"Zwei\""}));
    QVERIFY(MessageBox::shown().empty());
}

void BrowserTest::selectionModuleNarrowsAndLightsTheLamp() {
    click("Image6");
    QVERIFY(page().isVisible());
    page().ComboBox2()->setCurrentIndex(2);  // Strategie
    page().ComboBox2Change();
    QCOMPARE(form().SelectionFilter, std::string("RUBRIK LIKE \"%tra%\""));
    QCOMPARE(column(0), (std::vector<std::string>{"Ostfront Taktik", "Zeppelin Tycoon"}));
    QVERIFY(!control("LED2")->isHidden());

    page().ComboBox1()->setCurrentIndex(8);  // 80
    page().ComboBox1Change();
    QCOMPARE(form().SelectionFilter, std::string("RUBRIK LIKE \"%tra%\" AND WERTUNG >= 80"));
    // The unrated game never meets a minimum rating.
    QCOMPARE(column(0), (std::vector<std::string>{"Zeppelin Tycoon"}));

    QTest::keyClicks(page().Edit1(), QStringLiteral("o"));
    QCOMPARE(query().sql[1],
             std::string("WHERE UPPER(TITEL) LIKE \"%O%\" AND RUBRIK LIKE \"%tra%\" AND WERTUNG >= 80 "));

    // "Alle" clears everything, reruns and puts the window away.
    QTest::mouseClick(page().Image2(), Qt::LeftButton);
    QVERIFY(!page().isVisible());
    QCOMPARE(form().SelectionFilter, std::string());
    QCOMPARE(form().TitleFilter, std::string());
    QVERIFY(control("LED2")->isHidden() && control("Aktiv4")->isHidden());
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());

    // A view switch while a selection is in force resets it as a whole.
    page().ComboBox1()->setCurrentIndex(5);
    page().ComboBox1Change();
    QVERIFY(!control("LED2")->isHidden());
    click("Image2");
    QVERIFY(control("LED2")->isHidden());
    QCOMPARE(page().ComboBox1()->currentText(), QStringLiteral("(alle)"));
    QCOMPARE(query().sql.size(), size_t(2));
}

void BrowserTest::sortClicks() {
    QHeaderView* header = grid().horizontalHeader();
    auto clickTitle = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    // Right after the start the games are sorted by title: a click reverses it.
    clickTitle(0);
    QCOMPARE(query().sql.back(), std::string("ORDER BY TITEL DESC"));
    QCOMPARE(column(0).front(), std::string("Zeppelin Tycoon"));

    clickTitle(4);  // Wert.: largest first, the unrated game last
    QCOMPARE(query().sql.back(), std::string("ORDER BY WERTUNG DESC, TITEL"));
    QCOMPARE(column(4), (std::vector<std::string>{"90", "88", "81", "74", "65", ""}));
    clickTitle(4);
    QCOMPARE(query().sql.back(), std::string("ORDER BY WERTUNG, TITEL"));
    QCOMPARE(column(4).front(), std::string());

    clickTitle(5);  // Ausgabe: newest first
    QCOMPARE(column(5).front(), std::string("2004/09"));
    QCOMPARE(column(5)[2], std::string("2001/12"));  // 2001/12 after 2003/01, before 2000/12
    clickTitle(0);
    QCOMPARE(query().sql.back(), std::string("ORDER BY TITEL"));
    QCOMPARE(titles().front(), std::string("Spieletitel"));

    click("Image2");
    clickTitle(3);  // CD/DVD
    QCOMPARE(query().sql.back(), std::string("ORDER BY MEDIUM, TITEL"));
}

void BrowserTest::freedMemoryGoesBackOnlyAfterTheWork() {
    QuietMoment& freedMemoryReturn = set().freedMemoryReturn();
    // Long enough that no piece of work below spans it, even on a busy machine.
    freedMemoryReturn.setQuiet(std::chrono::milliseconds(250));
    QTRY_VERIFY(!freedMemoryReturn.pending());  // the start's own
    const struct {
        const char* work;
        std::function<void()> run;
    } cases[] = {
        {"sort", [&] { form().DBGrid1TitleClick(4); }},
        {"keystrokes", [&] { QTest::keyClicks(quickField(), QStringLiteral("RA")); }},
        {"view switch", [&] { click("Image2"); }},
        {"statistics window", [&] { click("Image7"); }},
    };
    for (const auto& [work, run] : cases) {
        const int runs = freedMemoryReturn.runs();
        run();
        QVERIFY2(freedMemoryReturn.pending() && freedMemoryReturn.runs() == runs, work);
        QTRY_COMPARE(freedMemoryReturn.runs(), runs + 1);
        QVERIFY2(!freedMemoryReturn.pending(), work);
    }
}

void BrowserTest::sortDirectionSurvivesAViewSwitch() {
    QHeaderView* header = grid().horizontalHeader();
    form().DBGrid1TitleClick(4);
    QCOMPARE(form().SortDirection, std::string(" DESC"));
    click("Image3");
    QCOMPARE(query().sql.back(), std::string("ORDER BY TITEL DESC"));
    // Clicking the sort column right after the switch reverses what was in force.
    form().DBGrid1TitleClick(0);
    QCOMPARE(query().sql.back(), std::string("ORDER BY TITEL"));
    Q_UNUSED(header);
}

void BrowserTest::currentColumnSurvivesARerun() {
    moveTo(2, 3);
    form().DBGrid1TitleClick(4);
    QCOMPARE(grid().currentIndex().column(), 3);
    QCOMPARE(form().SavedColumnIndex, 3);
    QTest::keyClicks(quickField(), QStringLiteral("a"));
    QCOMPARE(grid().currentIndex().column(), 3);
}

void BrowserTest::editModeSwitchAndBack() {
    QTest::keyClicks(quickField(), QStringLiteral("ab"));
    toggleEditMode();
    QVERIFY(form().EditMode);
    QCOMPARE(form().windowTitle(),
             toQt("EDIT-Modus aktiv * ASCII-Import(CD/DVD)+Export * CTRL-DEL l\xF6scht Datenzeile"));
    QVERIFY(grid().styleSheet().contains(QStringLiteral("#c0c0c0")));
    QVERIFY(model().dataSet() == &editTable());
    QVERIFY(!editTable().readOnly());
    // The whole table in stored order, no filter.
    QCOMPARE(column(0).front(), std::string("Zeppelin Tycoon"));
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
    QCOMPARE(titles().front(), std::string("Spieletitel"));
    // Selection, statistics, sorting and the quick field do nothing now.
    click("Image6");
    QVERIFY(!page().isVisible());
    QTest::keyClicks(quickField(), QStringLiteral("x"));
    QCOMPARE(page().Edit1()->text(), QString());
    form().DBGrid1TitleClick(4);
    QCOMPARE(column(0).front(), std::string("Zeppelin Tycoon"));

    toggleEditMode();
    QVERIFY(!form().EditMode);
    QCOMPARE(form().windowTitle(), QStringLiteral("Quillora"));
    QVERIFY(grid().styleSheet().contains(QStringLiteral("#f5f5f5")));
    QVERIFY(editTable().readOnly());
    QVERIFY(model().dataSet() == &query());
    QCOMPARE(query().sql.back(), std::string("ORDER BY TITEL"));
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
    QVERIFY(!(model().flags(model().index(0, 0)) & Qt::ItemIsEditable));
}

void BrowserTest::editModeNeedsCtrlAltOnTheFreePicture() {
    QTest::mouseClick(control("Image4"), Qt::LeftButton, Qt::ControlModifier, QPoint(60, 20));
    QVERIFY(!form().EditMode);
    QTest::mouseClick(control("Image4"), Qt::RightButton, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier,
                      QPoint(60, 20));
    QVERIFY(form().EditMode);
    QTest::mouseClick(control("Image4"), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(60, 20));
    QVERIFY(!form().EditMode);
    // On a command area the click is the command's, not the switch.
    QTest::mouseClick(control("Image2"), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(!form().EditMode);
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    // A click on a lamp reaches the picture beneath it.
    QTest::mouseClick(control("Image4"), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier,
                      control("LED1")->geometry().center());
    QVERIFY(form().EditMode);
}

void BrowserTest::codesExpandOnLeavingACell() {
    toggleEditMode();
    QCOMPARE(mark(0), QStringLiteral("triangle"));
    typeInto(0, 2, "we");  // Genre
    QCOMPARE(mark(0), QStringLiteral("I"));
    QCOMPARE(mark(1), QString());
    moveTo(0, 1);
    QCOMPARE(cell(0, 2), std::string("Weltraumspiel"));
    typeInto(0, 1, "we");  // no section code
    moveTo(0, 0);
    QCOMPARE(cell(0, 1), std::string("we"));
    typeInto(0, 1, "ac");
    moveTo(0, 2);
    QCOMPARE(cell(0, 1), std::string("Action"));
    moveTo(1, 2);  // another row: the change is stored
    QCOMPARE(mark(0), QString());
    QCOMPARE(mark(1), QStringLiteral("triangle"));
    const auto rows = readTableFile(disc->dataPath + "/GameData.DB");
    QCOMPARE(rows[0][1], std::string("Action"));
    QCOMPARE(rows[0][2], std::string("Weltraumspiel"));

    // "l" is a tip kind only in the tips view.
    click("Image3");
    QVERIFY(form().EditMode);
    typeInto(1, 2, "l");
    moveTo(1, 1);
    QCOMPARE(cell(1, 2), std::string("L\xF6sung"));
    click("Image2");
    typeInto(1, 2, "l");
    moveTo(1, 1);
    QCOMPARE(cell(1, 2), std::string("l"));
}

void BrowserTest::issueEntriesAreCompleted() {
    toggleEditMode();
    typeInto(0, 5, "7");
    moveTo(0, 6);
    QCOMPARE(cell(0, 5), std::string("2001/07"));
    typeInto(0, 5, "0/11");
    moveTo(0, 4);
    QCOMPARE(cell(0, 5), std::string("2000/11"));
    QVERIFY(MessageBox::shown().empty());
    typeInto(0, 5, "1999/123");
    moveTo(0, 6);
    QCOMPARE(cell(0, 5), std::string("1999/123"));
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().back().text, std::string("Fehlerhafter Eintrag im Feld \"Ausgabe\""));
}

void BrowserTest::mediumCyclesOnClick() {
    click("Image2");
    toggleEditMode();
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    auto clickMedium = [&](int row) {
        const QRect box = grid().visualRect(model().index(row, 3));
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, box.center());
    };
    clickMedium(3);  // "cd"
    QCOMPARE(cell(3, 3), std::string("CD/DVD"));
    QCOMPARE(grid().currentIndex().column(), 0);
    clickMedium(1);  // "DVD", and the change of row 3 is stored
    QCOMPARE(cell(1, 3), std::string("CD"));
    clickMedium(1);
    QCOMPARE(cell(1, 3), std::string("CD/DVD"));
    typeInto(2, 3, "Band");
    clickMedium(2);
    QCOMPARE(cell(2, 3), std::string("Band"));
    QCOMPARE(readTableFile(disc->dataPath + "/CDData.DB")[3][3], std::string("CD/DVD"));
}

void BrowserTest::deleteAsksAndRemovesTheRow() {
    toggleEditMode();
    moveTo(1, 0);
    MessageBox::setNextAnswer(false);
    QTest::keyClick(&grid(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(MessageBox::shown().back().text, std::string("Datensatz l\xF6schen?"));
    QCOMPARE(readTableFile(disc->dataPath + "/GameData.DB").size(), DiscFixture::gameRows().size());
    MessageBox::setNextAnswer(true);
    QTest::keyClick(&grid(), Qt::Key_Delete, Qt::ControlModifier);
    const auto rows = readTableFile(disc->dataPath + "/GameData.DB");
    QCOMPARE(rows.size(), DiscFixture::gameRows().size() - 1);
    for (const auto& row : rows) QVERIFY(row[0] != "Abenteuer in Gr\xC3\xBCnwald");
    QCOMPARE(column(0).size(), rows.size());
}

void BrowserTest::refusedValueLeavesTheFileUnchanged() {
    toggleEditMode();
    const auto before = readTableFile(disc->dataPath + "/GameData.DB");
    moveTo(0, 4);
    QVERIFY(!model().setData(model().index(0, 4), QStringLiteral("gut"), Qt::EditRole));
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
    moveTo(1, 4);
    QCOMPARE(readTableFile(disc->dataPath + "/GameData.DB"), before);
    QCOMPARE(cell(0, 4), std::string("81"));
}

void BrowserTest::readOnlyTableRefusesThePostAndKeepsTheEdit() {
    const std::string file = disc->dataPath + "/GameData.DB";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = readTableFile(file);
    toggleEditMode();
    typeInto(2, 6, "Neuer Kommentar");
    moveTo(3, 6);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
    // The refused row stays current and in editing; nothing was written.
    QCOMPARE(editTable().state(), archive::TableState::Edit);
    QCOMPARE(editTable().recNo(), 2);
    QTRY_COMPARE(grid().currentIndex().row(), 2);
    QCOMPARE(cell(2, 6), std::string("Neuer Kommentar"));
    QCOMPARE(readTableFile(file), before);
    // Esc gives the change up.
    QTest::keyClick(&grid(), Qt::Key_Escape);
    QCOMPARE(editTable().state(), archive::TableState::Browse);
    QCOMPARE(cell(2, 6), before[2][6]);
}

void BrowserTest::insertedRowIsStoredOrDropped() {
    toggleEditMode();
    const size_t count = DiscFixture::gameRows().size();
    moveTo(2, 0);
    QTest::keyClick(&grid(), Qt::Key_Insert);
    QCOMPARE(model().rowCount(), int(count) + 1);
    QCOMPARE(mark(int(count)), QStringLiteral("*"));  // a new row comes last
    moveTo(0, 0);  // untouched: dropped
    QCOMPARE(model().rowCount(), int(count));
    QCOMPARE(readTableFile(disc->dataPath + "/GameData.DB").size(), count);

    moveTo(int(count) - 1, 0);
    QTest::keyClick(&grid(), Qt::Key_Down);  // past the last row
    const int added = model().rowCount() - 1;
    QCOMPARE(added, int(count));
    typeInto(added, 0, "Neues Spiel");
    typeInto(added, 5, "2004/10");
    moveTo(0, 0);
    const auto rows = readTableFile(disc->dataPath + "/GameData.DB");
    QCOMPARE(rows.size(), count + 1);
    QCOMPARE(rows.back()[0], std::string("Neues Spiel"));
}

void BrowserTest::endCommandStoresThePendingRow() {
    toggleEditMode();
    typeInto(3, 6, "Neuer Kommentar");
    click("Image11");
    QCOMPARE(readTableFile(disc->dataPath + "/GameData.DB")[3][6], std::string("Neuer Kommentar"));
}

// A value of any length costs the grid what a screenful costs: the grid and
// its edit field are handed the beginning only, and a column is never wider
// than that beginning fills. The field holding only the beginning loses
// nothing: left unchanged it stores nothing, changed it keeps the rest.
void BrowserTest::longValuesShowTheirBeginningAndKeepTheirRest() {
    const std::string file = disc->dataPath + "/GameData.DB";
    const std::string beginning(kShownCharacters, 'k');
    const std::string rest(3 * kShownCharacters, 'r');
    auto rows = DiscFixture::gameRows();
    rows[0][6] = beginning + rest;
    disc->writeTable(archive::gamesView(), rows);
    toggleEditMode();
    const QModelIndex comment = model().index(0, 6);
    QCOMPARE(model().data(comment, Qt::DisplayRole).toString(), toQt(beginning) + QChar(0x2026));
    QCOMPARE(model().data(comment, Qt::EditRole).toString(), toQt(beginning));
    QCOMPARE(grid().horizontalHeader()->maximumSectionSize(), kWidestCell);

    moveTo(0, 6);
    grid().edit(comment);
    auto* field = grid().viewport()->findChild<QLineEdit*>();
    QVERIFY(field);
    QCOMPARE(field->text(), toQt(beginning));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(editTable().state(), archive::TableState::Browse);
    moveTo(1, 6);
    QCOMPARE(readTableFile(file)[0][6], beginning + rest);

    const std::string changed = "Neu" + beginning.substr(3);
    typeInto(0, 6, changed.c_str());
    moveTo(1, 6);
    QCOMPARE(readTableFile(file)[0][6], changed + rest);
    QVERIFY(MessageBox::shown().empty());
}

QTEST_MAIN(BrowserTest)
#include "tst_browser.moc"
