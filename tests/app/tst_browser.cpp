// The browser as a reader and the maintainer use it: view switches, the quick
// title field, the selection module, sorting by column titles and the edit mode
// on real table files.

#include "discfixture.h"
#include "rowindicatorheader.h"
#include "windows.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include <filesystem>

namespace fs = std::filesystem;

class BrowserTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void viewSwitchMovesLampButtonAndLists();
    void refusedQueryShowsTheErrorAndFreesTheCommands();
    void quickFieldFiltersOnEveryKeystroke();
    void quickFieldFindsUmlautsAndQuotes();
    void everyKeystrokeIsShownInOneFrame();
    void selectionModuleNarrowsAndLightsTheLamp();
    void sortClicks();
    void sortDirectionSurvivesAViewSwitch();
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
    TForm1& form() { return *windows->form1; }
    TSuchPage& page() { return *windows->suchPage; }
    void enterEditMode() {
        form().Image4MouseDown(Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(60, 20));
    }
    void moveTo(int row, int column) {
        form().DBGrid1->setCurrentIndex(form().DataSource1->index(row, column));
    }
    void typeInto(int row, int column, const char* text) {
        moveTo(row, column);
        QVERIFY(form().DataSource1->setData(form().DataSource1->index(row, column), toQt(text), Qt::EditRole));
    }
    std::string cell(int row, int column) const {
        const TDataSource* model = windows->form1->DataSource1;
        return fromQt(model->data(model->index(row, column), Qt::DisplayRole).toString());
    }

    // The row header's mark of a row: the drawn triangle, "I", "*" or none.
    QString mark(int row) const {
        const TDataSource* model = windows->form1->DataSource1;
        if (model->headerData(row, Qt::Vertical, kRowIndicatorRole).toBool()) return QStringLiteral("triangle");
        return model->headerData(row, Qt::Vertical, Qt::DisplayRole).toString();
    }

    std::unique_ptr<DiscFixture> disc;
    std::unique_ptr<Windows> windows;
};

void BrowserTest::init() {
    disc = std::make_unique<DiscFixture>();
    disc->enterDisc();
    windows = std::make_unique<Windows>();
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
}

void BrowserTest::cleanup() {
    windows.reset();
    disc.reset();
}

void BrowserTest::viewSwitchMovesLampButtonAndLists() {
    QCOMPARE(form().LED1->y(), 140);
    QVERIFY(!form().Aktiv1->isHidden() && form().Aktiv2->isHidden() && form().Aktiv3->isHidden());
    QVERIFY(page().ComboBox1()->isEnabled());

    QTest::mouseClick(form().Image2, Qt::LeftButton);
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    QCOMPARE(form().LED1->y(), 165);
    QVERIFY(form().Aktiv1->isHidden() && !form().Aktiv2->isHidden() && form().Aktiv3->isHidden());
    QVERIFY(!page().ComboBox1()->isEnabled());
    QCOMPARE(page().ComboBox2()->count(), 9);
    QCOMPARE(page().ComboBox2()->currentText(), QStringLiteral("(alle)"));
    QCOMPARE(windows->titles(), (std::vector<std::string>{"Name", "Ausgabe", "Kategorie", "CD/DVD"}));
    QCOMPARE(windows->widths(), (std::vector<int>{190, 55, 160, 50}));
    // By name, then newest issue first.
    QCOMPARE(windows->column(0), (std::vector<std::string>{"Grafiktreiber", "Rallye Fieber Demo", "Rallye Fieber Demo",
                                                          "Zeppelin Patch"}));
    QCOMPARE(windows->column(1)[1], std::string("2004/10"));
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY TITEL, AUSGABE DESC"));

    QTest::mouseClick(form().Image3, Qt::LeftButton);
    QCOMPARE(form().LED1->y(), 190);
    QVERIFY(!form().Aktiv3->isHidden() && form().Aktiv2->isHidden());
    QCOMPARE(page().ComboBox2()->count(), 5);
    QCOMPARE(page().ComboBox2()->itemText(3), toQt("L\xF6sung"));
    QCOMPARE(windows->titles(), (std::vector<std::string>{"Spieletitel", "Ausgabe", "Art", "Counter"}));

    QTest::mouseClick(form().Image1, Qt::LeftButton);
    QCOMPARE(form().LED1->y(), 140);
    QVERIFY(page().ComboBox1()->isEnabled());
    QCOMPARE(page().ComboBox2()->count(), 8);
}

void BrowserTest::refusedQueryShowsTheErrorAndFreesTheCommands() {
    fs::remove(disc->dataPath + "/CDData.DB");
    QTest::mouseClick(form().Image2, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
    // The file as the archive spells it, not as the view asks for it ("CDData.db").
    QCOMPARE(MessageBox::shown().front().text, "Tabelle '" + disc->dataPath + "/CDData.DB' nicht gefunden.");
    QVERIFY(QApplication::overrideCursor() == nullptr);
    for (QWidget* command : {static_cast<QWidget*>(form().Image1), static_cast<QWidget*>(form().Image2),
                             static_cast<QWidget*>(form().Image3), static_cast<QWidget*>(form().Image6),
                             static_cast<QWidget*>(form().Image7)})
        QVERIFY(command->isEnabled());
    // The program goes on: the games are still there to switch back to.
    QTest::mouseClick(form().Image1, Qt::LeftButton);
    QCOMPARE(windows->column(0).size(), DiscFixture::gameRows().size());
}

void BrowserTest::quickFieldFiltersOnEveryKeystroke() {
    QTest::keyClicks(form().Edit1, QStringLiteral("ab"));
    QCOMPARE(form().Edit1->text(), QStringLiteral("AB"));
    QCOMPARE(page().Edit1()->text(), QStringLiteral("AB"));
    QCOMPARE(form().TitleFilter, std::string("UPPER(TITEL) LIKE \"%AB%\""));
    QCOMPARE(windows->column(0),
             (std::vector<std::string>{"Abenteuer in Gr\xFCnwald", "Cabal \"Zwei\"", "Labyrinth"}));
    QVERIFY(!form().LED2->isHidden());
    QVERIFY(!form().Aktiv4->isHidden());

    QTest::keyClick(form().Edit1, Qt::Key_Backspace);
    QTest::keyClick(form().Edit1, Qt::Key_Backspace);
    QCOMPARE(page().Edit1()->text(), QString());
    QCOMPARE(form().TitleFilter, std::string("UPPER(TITEL) LIKE \"%%\""));
    QCOMPARE(windows->column(0).size(), DiscFixture::gameRows().size());
    QVERIFY(form().LED2->isHidden());

    // Text typed in the selection module shows in the quick field too.
    QTest::keyClicks(page().Edit1(), QStringLiteral("ra"));
    QCOMPARE(form().Edit1->text(), QStringLiteral("RA"));
    QCOMPARE(windows->column(0), (std::vector<std::string>{"Rallye Fieber"}));
    // A view switch empties both title fields and the condition.
    QTest::mouseClick(form().Image3, Qt::LeftButton);
    QCOMPARE(form().Edit1->text(), QString());
    QCOMPARE(page().Edit1()->text(), QString());
    QCOMPARE(form().TitleFilter, std::string());
    QCOMPARE(windows->column(0).size(), DiscFixture::tipRows().size());
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
    PaintCounter rows(form().DBGrid1->viewport());
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_B, Qt::Key_Backspace, Qt::Key_Backspace}) {
        rows.paints = 0;
        QTest::keyClick(form().Edit1, key);
        QTest::qWait(50);
        QCOMPARE(rows.paints, 1);
    }
    QCOMPARE(form().Edit1->text(), QString());
}

void BrowserTest::quickFieldFindsUmlautsAndQuotes() {
    QTest::keyClicks(form().Edit1, QStringLiteral("gr"));
    QTest::sendKeyEvent(QTest::Click, form().Edit1, Qt::Key_Udiaeresis, toQt("\xFC"), Qt::NoModifier);
    QTest::keyClicks(form().Edit1, QStringLiteral("n"));
    QCOMPARE(form().Edit1->text(), toQt("GR\xDCN"));
    QCOMPARE(windows->column(0), (std::vector<std::string>{"Abenteuer in Gr\xFCnwald"}));
    form().Edit1->clear();
    // A typed quote is part of the title, not of the statement.
    QTest::keyClicks(form().Edit1, QStringLiteral("\"zw"));
    QCOMPARE(form().TitleFilter, std::string("UPPER(TITEL) LIKE \"%\"\"ZW%\""));
    QCOMPARE(windows->column(0), (std::vector<std::string>{"Cabal \"Zwei\""}));
    QVERIFY(MessageBox::shown().empty());
}

void BrowserTest::selectionModuleNarrowsAndLightsTheLamp() {
    QTest::mouseClick(form().Image6, Qt::LeftButton);
    QVERIFY(page().isVisible());
    page().ComboBox2()->setCurrentIndex(2);  // Strategie
    page().ComboBox2Change();
    QCOMPARE(form().SelectionFilter, std::string("RUBRIK LIKE \"%tra%\""));
    QCOMPARE(windows->column(0), (std::vector<std::string>{"Ostfront Taktik", "Zeppelin Tycoon"}));
    QVERIFY(!form().LED2->isHidden());

    page().ComboBox1()->setCurrentIndex(8);  // 80
    page().ComboBox1Change();
    QCOMPARE(form().SelectionFilter, std::string("RUBRIK LIKE \"%tra%\" AND WERTUNG >= 80"));
    // The unrated game never meets a minimum rating.
    QCOMPARE(windows->column(0), (std::vector<std::string>{"Zeppelin Tycoon"}));

    QTest::keyClicks(page().Edit1(), QStringLiteral("o"));
    QCOMPARE(form().Query1.sql[1],
             std::string("WHERE UPPER(TITEL) LIKE \"%O%\" AND RUBRIK LIKE \"%tra%\" AND WERTUNG >= 80 "));

    // "Alle" clears everything, reruns and puts the window away.
    QTest::mouseClick(page().Image2(), Qt::LeftButton);
    QVERIFY(!page().isVisible());
    QCOMPARE(form().SelectionFilter, std::string());
    QCOMPARE(form().TitleFilter, std::string());
    QVERIFY(form().LED2->isHidden() && form().Aktiv4->isHidden());
    QCOMPARE(windows->column(0).size(), DiscFixture::gameRows().size());

    // A view switch while a selection is in force resets it as a whole.
    page().ComboBox1()->setCurrentIndex(5);
    page().ComboBox1Change();
    QVERIFY(!form().LED2->isHidden());
    QTest::mouseClick(form().Image2, Qt::LeftButton);
    QVERIFY(form().LED2->isHidden());
    QCOMPARE(page().ComboBox1()->currentText(), QStringLiteral("(alle)"));
    QCOMPARE(form().Query1.sql.size(), size_t(2));
}

void BrowserTest::sortClicks() {
    QHeaderView* header = form().DBGrid1->horizontalHeader();
    auto clickTitle = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    // Right after the start the games are sorted by title: a click reverses it.
    clickTitle(0);
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY TITEL DESC"));
    QCOMPARE(windows->column(0).front(), std::string("Zeppelin Tycoon"));

    clickTitle(4);  // Wert.: largest first, the unrated game last
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY WERTUNG DESC, TITEL"));
    QCOMPARE(windows->column(4), (std::vector<std::string>{"90", "88", "81", "74", "65", ""}));
    clickTitle(4);
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY WERTUNG, TITEL"));
    QCOMPARE(windows->column(4).front(), std::string());

    clickTitle(5);  // Ausgabe: newest first
    QCOMPARE(windows->column(5).front(), std::string("2004/09"));
    QCOMPARE(windows->column(5)[2], std::string("2001/12"));  // 2001/12 after 2003/01, before 2000/12
    clickTitle(0);
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY TITEL"));
    QCOMPARE(windows->titles().front(), std::string("Spieletitel"));

    QTest::mouseClick(form().Image2, Qt::LeftButton);
    clickTitle(3);  // CD/DVD
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY MEDIUM, TITEL"));
}

void BrowserTest::sortDirectionSurvivesAViewSwitch() {
    QHeaderView* header = form().DBGrid1->horizontalHeader();
    form().DBGrid1TitleClick(4);
    QCOMPARE(form().SortDirection, std::string(" DESC"));
    QTest::mouseClick(form().Image3, Qt::LeftButton);
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY TITEL DESC"));
    // Clicking the sort column right after the switch reverses what was in force.
    form().DBGrid1TitleClick(0);
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY TITEL"));
    Q_UNUSED(header);
}

void BrowserTest::currentColumnSurvivesARerun() {
    moveTo(2, 3);
    form().DBGrid1TitleClick(4);
    QCOMPARE(form().DBGrid1->currentIndex().column(), 3);
    QCOMPARE(form().SavedColumnIndex, 3);
    QTest::keyClicks(form().Edit1, QStringLiteral("a"));
    QCOMPARE(form().DBGrid1->currentIndex().column(), 3);
}

void BrowserTest::editModeSwitchAndBack() {
    QTest::keyClicks(form().Edit1, QStringLiteral("ab"));
    enterEditMode();
    QVERIFY(form().EditMode);
    QCOMPARE(form().windowTitle(),
             toQt("EDIT-Modus aktiv * ASCII-Import(CD/DVD)+Export * CTRL-DEL l\xF6scht Datenzeile"));
    QVERIFY(form().DBGrid1->styleSheet().contains(QStringLiteral("#c0c0c0")));
    QCOMPARE(form().DataSource1->dataSet(), static_cast<archive::DataSet*>(&form().Table1));
    QVERIFY(!form().Table1.readOnly());
    // The whole table in stored order, no filter.
    QCOMPARE(windows->column(0).front(), std::string("Zeppelin Tycoon"));
    QCOMPARE(windows->column(0).size(), DiscFixture::gameRows().size());
    QCOMPARE(windows->titles().front(), std::string("Spieletitel"));
    // Selection, statistics, sorting and the quick field do nothing now.
    QTest::mouseClick(form().Image6, Qt::LeftButton);
    QVERIFY(!page().isVisible());
    QTest::keyClicks(form().Edit1, QStringLiteral("x"));
    QCOMPARE(page().Edit1()->text(), QString());
    form().DBGrid1TitleClick(4);
    QCOMPARE(windows->column(0).front(), std::string("Zeppelin Tycoon"));

    enterEditMode();
    QVERIFY(!form().EditMode);
    QCOMPARE(form().windowTitle(), QStringLiteral("Quillora"));
    QVERIFY(form().DBGrid1->styleSheet().contains(QStringLiteral("#f5f5f5")));
    QVERIFY(form().Table1.readOnly());
    QCOMPARE(form().DataSource1->dataSet(), static_cast<archive::DataSet*>(&form().Query1));
    QCOMPARE(form().Query1.sql.back(), std::string("ORDER BY TITEL"));
    QCOMPARE(windows->column(0).size(), DiscFixture::gameRows().size());
    QVERIFY(!(form().DataSource1->flags(form().DataSource1->index(0, 0)) & Qt::ItemIsEditable));
}

void BrowserTest::editModeNeedsCtrlAltOnTheFreePicture() {
    QTest::mouseClick(form().Image4, Qt::LeftButton, Qt::ControlModifier, QPoint(60, 20));
    QVERIFY(!form().EditMode);
    QTest::mouseClick(form().Image4, Qt::RightButton, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier,
                      QPoint(60, 20));
    QVERIFY(form().EditMode);
    QTest::mouseClick(form().Image4, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(60, 20));
    QVERIFY(!form().EditMode);
    // On a command area the click is the command's, not the switch.
    QTest::mouseClick(form().Image2, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(!form().EditMode);
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    // A click on a lamp reaches the picture beneath it.
    QTest::mouseClick(form().Image4, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier,
                      form().LED1->geometry().center());
    QVERIFY(form().EditMode);
}

void BrowserTest::codesExpandOnLeavingACell() {
    enterEditMode();
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
    QTest::mouseClick(form().Image3, Qt::LeftButton);
    QVERIFY(form().EditMode);
    typeInto(1, 2, "l");
    moveTo(1, 1);
    QCOMPARE(cell(1, 2), std::string("L\xF6sung"));
    QTest::mouseClick(form().Image2, Qt::LeftButton);
    typeInto(1, 2, "l");
    moveTo(1, 1);
    QCOMPARE(cell(1, 2), std::string("l"));
}

void BrowserTest::issueEntriesAreCompleted() {
    enterEditMode();
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
    QTest::mouseClick(form().Image2, Qt::LeftButton);
    enterEditMode();
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    auto clickMedium = [&](int row) {
        const QRect box = form().DBGrid1->visualRect(form().DataSource1->index(row, 3));
        QTest::mouseClick(form().DBGrid1->viewport(), Qt::LeftButton, {}, box.center());
    };
    clickMedium(3);  // "cd"
    QCOMPARE(cell(3, 3), std::string("CD/DVD"));
    QCOMPARE(form().DBGrid1->currentIndex().column(), 0);
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
    enterEditMode();
    moveTo(1, 0);
    MessageBox::setNextAnswer(false);
    QTest::keyClick(form().DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(MessageBox::shown().back().text, std::string("Datensatz l\xF6schen?"));
    QCOMPARE(readTableFile(disc->dataPath + "/GameData.DB").size(), DiscFixture::gameRows().size());
    MessageBox::setNextAnswer(true);
    QTest::keyClick(form().DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    const auto rows = readTableFile(disc->dataPath + "/GameData.DB");
    QCOMPARE(rows.size(), DiscFixture::gameRows().size() - 1);
    for (const auto& row : rows) QVERIFY(row[0] != "Abenteuer in Gr\xC3\xBCnwald");
    QCOMPARE(windows->column(0).size(), rows.size());
}

void BrowserTest::refusedValueLeavesTheFileUnchanged() {
    enterEditMode();
    const auto before = readTableFile(disc->dataPath + "/GameData.DB");
    moveTo(0, 4);
    QVERIFY(!form().DataSource1->setData(form().DataSource1->index(0, 4), QStringLiteral("gut"), Qt::EditRole));
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
    enterEditMode();
    typeInto(2, 6, "Neuer Kommentar");
    moveTo(3, 6);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
    // The refused row stays current and in editing; nothing was written.
    QCOMPARE(form().Table1.state(), archive::TableState::Edit);
    QCOMPARE(form().Table1.recNo(), 2);
    QTRY_COMPARE(form().DBGrid1->currentIndex().row(), 2);
    QCOMPARE(cell(2, 6), std::string("Neuer Kommentar"));
    QCOMPARE(readTableFile(file), before);
    // Esc gives the change up.
    QTest::keyClick(form().DBGrid1, Qt::Key_Escape);
    QCOMPARE(form().Table1.state(), archive::TableState::Browse);
    QCOMPARE(cell(2, 6), before[2][6]);
}

void BrowserTest::insertedRowIsStoredOrDropped() {
    enterEditMode();
    const size_t count = DiscFixture::gameRows().size();
    moveTo(2, 0);
    QTest::keyClick(form().DBGrid1, Qt::Key_Insert);
    QCOMPARE(form().DataSource1->rowCount(), int(count) + 1);
    QCOMPARE(mark(int(count)), QStringLiteral("*"));  // a new row comes last
    moveTo(0, 0);  // untouched: dropped
    QCOMPARE(form().DataSource1->rowCount(), int(count));
    QCOMPARE(readTableFile(disc->dataPath + "/GameData.DB").size(), count);

    moveTo(int(count) - 1, 0);
    QTest::keyClick(form().DBGrid1, Qt::Key_Down);  // past the last row
    const int added = form().DataSource1->rowCount() - 1;
    QCOMPARE(added, int(count));
    typeInto(added, 0, "Neues Spiel");
    typeInto(added, 5, "2004/10");
    moveTo(0, 0);
    const auto rows = readTableFile(disc->dataPath + "/GameData.DB");
    QCOMPARE(rows.size(), count + 1);
    QCOMPARE(rows.back()[0], std::string("Neues Spiel"));
}

void BrowserTest::endCommandStoresThePendingRow() {
    enterEditMode();
    typeInto(3, 6, "Neuer Kommentar");
    QTest::mouseClick(form().Image11, Qt::LeftButton);
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
    enterEditMode();
    const TDataSource& model = *form().DataSource1;
    const QModelIndex comment = model.index(0, 6);
    QCOMPARE(model.data(comment, Qt::DisplayRole).toString(), toQt(beginning) + QChar(0x2026));
    QCOMPARE(model.data(comment, Qt::EditRole).toString(), toQt(beginning));
    QCOMPARE(form().DBGrid1->horizontalHeader()->maximumSectionSize(), kWidestCell);

    moveTo(0, 6);
    form().DBGrid1->edit(comment);
    auto* field = form().DBGrid1->viewport()->findChild<QLineEdit*>();
    QVERIFY(field);
    QCOMPARE(field->text(), toQt(beginning));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(form().Table1.state(), archive::TableState::Browse);
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
