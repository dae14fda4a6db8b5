// The grid's menu of links between the three tables, on the sample disc: what
// it offers on a row, where choosing an entry leads, how the keyboard opens
// it, and that the edit mode offers none.

#include "cp1252.h"
#include "querytext.h"
#include "usertexts.h"
#include "windowtest.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTest>

namespace {

// An entry as the menu shows it.
QString link(const char* text, const char* title, int count) {
    std::string label = text;
    label += title;
    label += usertexts::kLinkCount;
    label += std::to_string(count);
    label += ')';
    return toQt(label);
}

QString q(const char* cp1252) { return toQt(cp1252); }
QString greyed(const QString& entry) { return entry + QStringLiteral(" -"); }

const char kRallye[] = "Rallye Fieber";
const char kGruenwald[] = "Abenteuer in Gr\xFCnwald";
const char kRock[] = "Rock & Roll Racer";

}  // namespace

class TitleLinksTest : public WindowTest {
    Q_OBJECT
public:
    TitleLinksTest() : WindowTest(Start::ByTheTest) {}

private slots:
    void init() override;

    void menuOffersTheOtherTables_data();
    void menuOffersTheOtherTables();
    void choosingSwitchesAndFilters_data();
    void choosingSwitchesAndFilters();
    void keyboardOpensTheMenu_data();
    void keyboardOpensTheMenu();
    void editModeOffersNoMenu();

private:
    QMenu* menu() { return grid().findChild<QMenu*>(QStringLiteral("TitleLinks")); }
    bool menuShown() { return menu() && menu()->isVisible(); }
    void clickView(const QString& area) { click(area.toLatin1().constData()); }
    int rowOf(const std::string& title) {
        const QAbstractItemModel* model = grid().model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (fromQt(model->index(row, 0).data().toString()) == title) return row;
        return -1;
    }
    // The right mouse button on the row showing `title`.
    void rightClick(const std::string& title) {
        const int row = rowOf(title);
        QVERIFY2(row >= 0, title.c_str());
        QWidget* rows = grid().viewport();
        const QPoint at = grid().visualRect(grid().model()->index(row, 1)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, rows->mapToGlobal(at));
        QApplication::sendEvent(rows, &event);
    }
    QStringList entries() {
        QStringList texts;
        if (menu())
            for (const QAction* action : menu()->actions())
                texts << (action->isEnabled() ? action->iconText() : greyed(action->iconText()));
        return texts;
    }
};

void TitleLinksTest::init() {
    WindowTest::init();
    std::vector<archive::Row> discRows = DiscFixture::discRows();
    discRows.push_back({"abenteuer in gr\xFCnwald Patch", "2002/01", "Patch", "CD"});
    disc->writeTable(archive::discView(), discRows);
    std::vector<archive::Row> games = DiscFixture::gameRows();
    games.push_back({kRock, "Sport", "Rennspiel", "Tempo Soft", "70", "2002/03", "Laut"});
    disc->writeTable(archive::gamesView(), games);
    std::vector<archive::Row> tips = DiscFixture::tipRows();
    tips.push_back({"Rock & Roll Racer", "2002/04", "Cheat", "1"});
    disc->writeTable(archive::tipsView(), tips);
    start();
}

void TitleLinksTest::menuOffersTheOtherTables_data() {
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");  // a greyed entry ends in " -"
    const QString games = QStringLiteral("Image1"), discs = QStringLiteral("Image2"), tips = QStringLiteral("Image3");
    using namespace usertexts;
    QTest::newRow("game") << games << toQt(kRallye)
                          << QStringList{link(kDiscLink, kRallye, 2), link(kTipsLink, kRallye, 1)};
    QTest::newRow("game, umlauts, no tips") << games << toQt(kGruenwald)
                                            << QStringList{link(kDiscLink, kGruenwald, 1),
                                                           greyed(link(kTipsLink, kGruenwald, 0))};
    QTest::newRow("ampersand") << games << toQt(kRock)
                               << QStringList{greyed(link(kDiscLink, kRock, 0)), link(kTipsLink, kRock, 1)};
    QTest::newRow("disc item of a game") << discs << QStringLiteral("Rallye Fieber Demo")
                                         << QStringList{link(kGameLink, kRallye, 1), link(kTipsLink, kRallye, 1)};
    QTest::newRow("disc item of no game") << discs << QStringLiteral("Zeppelin Patch")
                                          << QStringList{greyed(link(kGameLink, "Zeppelin Patch", 0)),
                                                         greyed(link(kTipsLink, "Zeppelin Patch", 0))};
    QTest::newRow("tip") << tips << QStringLiteral("Labyrinth")
                         << QStringList{link(kGameLink, "Labyrinth", 1), greyed(link(kDiscLink, "Labyrinth", 0))};
}

void TitleLinksTest::menuOffersTheOtherTables() {
    QFETCH(QString, view);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);
    clickView(view);
    rightClick(fromQt(title));
    QVERIFY(menuShown());
    QCOMPARE(this->entries(), entries);
}

void TitleLinksTest::choosingSwitchesAndFilters_data() {
    QTest::addColumn<QString>("view");
    QTest::addColumn<int>("category");  // chosen in the selection module first; 0 for none
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("newView");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("game to disc") << q("Image1") << 0 << toQt(kRallye) << 0 << q("CD-Inhalt") << q("RALLYE FIEBER")
                                  << QStringList{q("Rallye Fieber Demo"), q("Rallye Fieber Demo")};
    QTest::newRow("umlauts") << q("Image1") << 0 << toQt(kGruenwald) << 0 << q("CD-Inhalt")
                             << toQt("ABENTEUER IN GR\xDCNWALD") << QStringList{toQt("abenteuer in gr\xFCnwald Patch")};
    QTest::newRow("a selection is reset") << q("Image1") << 2 << q("Zeppelin Tycoon") << 1 << q("Tipps")
                                          << q("ZEPPELIN TYCOON") << QStringList{q("Zeppelin Tycoon")};
    QTest::newRow("disc to game") << q("Image2") << 0 << q("Rallye Fieber Demo") << 0 << q("Spiele")
                                  << q("RALLYE FIEBER") << QStringList{toQt(kRallye)};
}

void TitleLinksTest::choosingSwitchesAndFilters() {
    QFETCH(QString, view);
    QFETCH(int, category);
    QFETCH(QString, title);
    QFETCH(int, entry);
    QFETCH(QString, newView);
    QFETCH(QString, field);
    QFETCH(QStringList, rows);
    TForm1& form = this->form();
    QComboBox* categories = child<QComboBox>(page(), "ComboBox2");
    QLabel* selectionLamp = control<QLabel>("LED2");
    clickView(view);
    if (category > 0) {
        categories->setCurrentIndex(category);
        emit categories->activated(category);
        QVERIFY(!form.SelectionFilter.empty());
    }
    rightClick(fromQt(title));
    QVERIFY(menuShown());
    const QString chosen = menu()->actions().at(entry)->text();
    menu()->actions().at(entry)->trigger();

    QVERIFY(!menuShown());
    QCOMPARE(form.CurrentView, fromQt(newView));
    QCOMPARE(quickField()->text(), field);
    QVERIFY(chosen.endsWith(QStringLiteral("(%1)").arg(rows.size())));
    QStringList shown;
    for (int row = 0; row < grid().model()->rowCount(); ++row)
        shown << grid().model()->index(row, 0).data().toString();
    QCOMPARE(shown, rows);
    QCOMPARE(grid().currentIndex().row(), 0);
    // The title in the quick field is the only selection in force.
    QVERIFY(!selectionLamp->isHidden());
    QVERIFY(form.SelectionFilter.empty());
    QCOMPARE(categories->currentText(), QStringLiteral("(alle)"));
    QCOMPARE(form.SortField, std::string("TITEL"));
    QCOMPARE(form.TitleFilter, archive::titleFilterFor(fromQt(quickField()->text())));
}

void TitleLinksTest::keyboardOpensTheMenu_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("opens");
    QTest::newRow("menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier) << true;
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << true;
    QTest::newRow("F10 alone") << int(Qt::Key_F10) << int(Qt::NoModifier) << false;
}

void TitleLinksTest::keyboardOpensTheMenu() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, opens);
    grid().setCurrentIndex(grid().model()->index(rowOf("Labyrinth"), 2));
    QTest::keyClick(&grid(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(menuShown(), opens);
    if (opens) QCOMPARE(entries().first(), greyed(link(usertexts::kDiscLink, "Labyrinth", 0)));
}

void TitleLinksTest::editModeOffersNoMenu() {
    toggleEditMode();
    QVERIFY(form().EditMode);
    rightClick(kRallye);
    grid().setCurrentIndex(grid().model()->index(0, 0));
    QTest::keyClick(&grid(), Qt::Key_Menu);
    QTest::keyClick(&grid(), Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(!menuShown());
}

QTEST_MAIN(TitleLinksTest)
#include "tst_titlelinks.moc"
