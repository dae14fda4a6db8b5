#include "clickarea.h"
#include "messagebox.h"
#include "tables.h"
#include "text.h"
#include "tsuchpage.h"
#include "uppercasevalidator.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <stdexcept>

namespace {

// Stands in for the main window: its quick title field mirrors into the page
// the way the real one does, and every query run is recorded with the
// conditions it ran with.
class MainWindowStandIn : public SelectionHost {
public:
    archive::ViewState state;
    QLineEdit quickField;
    std::vector<std::string> queries;  // table file, title condition, selection condition
    std::vector<std::string> formats;
    bool indicator = false;
    bool refuseQueries = false;
    TSuchPage* page = nullptr;

    MainWindowStandIn() {
        quickField.setValidator(new UpperCaseValidator(&quickField));
        QObject::connect(&quickField, &QLineEdit::textChanged, [this](const QString& text) {
            if (!state.EditMode) page->setTitleText(fromQt(text));
        });
        state.CurrentView = "Spiele";
        state.CurrentTableFile = "GameData.db";
        state.CategoryField = "RUBRIK";
    }
    archive::ViewState& viewState() override { return state; }
    void DoSQL(const std::string& tableFile) override {
        queries.push_back(tableFile + "|" + state.TitleFilter + "|" + state.SelectionFilter);
        if (refuseQueries) throw std::runtime_error("Tabelle nicht gefunden");
    }
    void FormatTable(const std::string& view) override { formats.push_back(view); }
    void setSelectionIndicator(bool on) override { indicator = on; }
    void setQuickTitleText(const std::string& text) override {
        if (quickField.text() != toQt(text)) quickField.setText(toQt(text));
    }
};

struct StatisticsStandIn : StatisticsWindowLink {
    bool shown = false;
    std::vector<int> rows;
    int recomputed = 0;
    bool isStatisticsShown() const override { return shown; }
    void selectCategoryRow(int row) override { rows.push_back(row); }
    void recomputeAndRepaint() override { ++recomputed; }
};

struct Fixture {
    MainWindowStandIn host;
    TSuchPage page{host};
    Fixture() { host.page = &page; }
    void pick(QComboBox* list, const std::string& text) {
        const int index = list->findText(toQt(text));
        QVERIFY(index >= 0);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
};

}  // namespace

class TestSuchPage : public QObject {
    Q_OBJECT
private slots:
    void windowAndControls() {
        Fixture f;
        const Qt::WindowFlags flags = f.page.windowFlags();
        QVERIFY(flags.testFlag(Qt::Tool) && flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint) && flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint) && !flags.testFlag(Qt::WindowSystemMenuHint));
        QCOMPARE(f.page.size(), QSize(115, 217));
        QCOMPARE(f.page.windowTitle(), QStringLiteral("Auswahl-Modul"));
        QCOMPARE(f.page.Edit1()->toolTip(), QStringLiteral("Dieser Text mu\u00DF im Titel vorkommen"));
        QCOMPARE(f.page.ComboBox1()->toolTip(), QStringLiteral("Nur Spiele mit dieser Mindestwertung ausw\u00E4hlen"));
        QCOMPARE(f.page.ComboBox2()->currentText(), QStringLiteral("(alle)"));
        // The painted strips and the "Alle" face with its border.
        const QImage background = f.page.Image3()->pixmap().toImage();
        QCOMPARE(background.size(), QSize(115, 217));
        QCOMPARE(background.pixelColor(5, 100), QColor(0x01, 0x00, 0x41));
        QCOMPARE(background.pixelColor(21, 100), QColor(0x92, 0x9C, 0xC0));
        QCOMPARE(background.pixelColor(60, 100), QColor(0x18, 0x22, 0x63));
        QCOMPARE(background.pixelColor(11, 190), QColor(0x99, 0x99, 0xBA));
        QCOMPARE(background.pixelColor(14, 184), QColor(0x4B, 0x4B, 0x5F));
        QVERIFY(f.host.queries.empty());
    }

    void listPicksBuildTheSelectionCondition() {
        Fixture f;
        StatisticsStandIn shownStats, hiddenStats;
        shownStats.shown = true;
        f.page.addStatisticsWindow(shownStats);
        f.page.addStatisticsWindow(hiddenStats);
        f.host.state.TitleFilter = "UPPER(TITEL) LIKE \"%X%\"";
        f.pick(f.page.ComboBox1(), "70");
        QCOMPARE(f.host.state.SelectionFilter, std::string("WERTUNG >= 70"));
        QCOMPARE(f.host.state.TitleFilter, std::string("UPPER(TITEL) LIKE \"%X%\""));
        QVERIFY(f.host.indicator);
        f.pick(f.page.ComboBox2(), "Action");
        QCOMPARE(f.host.queries.back(), std::string("GameData.db|UPPER(TITEL) LIKE \"%X%\"|"
                                                    "RUBRIK LIKE \"%cti%\" AND WERTUNG >= 70"));
        QCOMPARE(f.host.formats, (std::vector<std::string>{"Spiele", "Spiele"}));
        QCOMPARE(shownStats.rows, std::vector<int>{2});
        QVERIFY(hiddenStats.rows.empty());
        QCOMPARE(shownStats.recomputed, 0);  // the selection window itself is hidden

        f.page.show();
        f.pick(f.page.ComboBox2(), "(alle)");
        QCOMPARE(shownStats.rows.back(), 1);
        QCOMPARE(shownStats.recomputed, 1);
        QCOMPARE(hiddenStats.recomputed, 0);
    }

    void categoryTextsFromTheViewAndPastTheEnd() {
        Fixture f;
        f.host.state.CategoryField = "ART";
        f.page.fillCategories(archive::tipsView());
        f.pick(f.page.ComboBox2(), "L\xF6sung");
        QCOMPARE(f.host.state.SelectionFilter, std::string("ART LIKE \"%\xF6su%\""));
        // A statistics window's extra last row points one past the list.
        f.page.ComboBox2()->setCurrentIndex(f.page.ComboBox2()->count());
        f.host.indicator = false;
        f.page.Suchen();
        QCOMPARE(f.host.state.SelectionFilter, std::string("ART LIKE \"%%\""));
        QVERIFY(f.host.indicator);
    }

    void programChangesRunNoQuery() {
        Fixture f;
        f.page.ComboBox1()->setCurrentIndex(3);
        f.page.fillCategories(archive::discView());
        f.page.ComboBox2()->setCurrentIndex(2);
        f.page.resetListsQuietly();
        QCOMPARE(f.page.ComboBox1()->currentIndex(), 0);
        QCOMPARE(f.page.ComboBox2()->currentText(), QStringLiteral("(alle)"));
        QVERIFY(f.host.queries.empty());
    }

    void typingMirrorsAndRunsOneQueryPerKey() {
        Fixture f;
        QTest::keyClicks(f.page.Edit1(), QStringLiteral("ab"));
        QCOMPARE(f.page.Edit1()->text(), QStringLiteral("AB"));
        QCOMPARE(f.host.quickField.text(), QStringLiteral("AB"));
        QCOMPARE(f.host.queries.size(), size_t{2});
        QCOMPARE(f.host.state.TitleFilter, std::string("UPPER(TITEL) LIKE \"%AB%\""));
        QVERIFY(f.host.indicator);
        // Typing in the middle keeps the cursor there despite the mirroring.
        f.page.Edit1()->setCursorPosition(1);
        QTest::keyClicks(f.page.Edit1(), QStringLiteral("xy"));
        QCOMPARE(f.page.Edit1()->text(), QStringLiteral("AXYB"));
        QTest::keyClick(f.page.Edit1(), Qt::Key_End);
        for (int i = 0; i < 4; ++i) QTest::keyClick(f.page.Edit1(), Qt::Key_Backspace);
        QCOMPARE(f.host.queries.size(), size_t{8});
        QCOMPARE(f.host.state.TitleFilter, std::string("UPPER(TITEL) LIKE \"%%\""));
        QVERIFY(!f.host.indicator);
    }

    void quickFieldTypingReachesThePage() {
        Fixture f;
        QTest::keyClicks(&f.host.quickField, QStringLiteral("r\"y"));
        QCOMPARE(f.page.Edit1()->text(), QStringLiteral("R\"Y"));
        QCOMPARE(f.host.queries.size(), size_t{3});
        // A typed quote stays inside the literal.
        QCOMPARE(f.host.state.TitleFilter, std::string("UPPER(TITEL) LIKE \"%R\"\"Y%\""));
        f.host.state.EditMode = true;
        QTest::keyClicks(&f.host.quickField, QStringLiteral("z"));
        QCOMPARE(f.page.Edit1()->text(), QStringLiteral("R\"Y"));
        QCOMPARE(f.host.queries.size(), size_t{3});
    }

    void buttonsPutTheWindowAway() {
        Fixture f;
        f.page.show();
        QTest::mouseClick(f.page.Image2(), Qt::LeftButton);
        QVERIFY(f.page.isHidden());
        QCOMPARE(f.host.queries, std::vector<std::string>{"GameData.db||"});
        QVERIFY(!f.host.indicator);

        QTest::keyClicks(f.page.Edit1(), QStringLiteral("x"));
        f.pick(f.page.ComboBox1(), "50");
        f.page.show();
        QTest::mouseClick(f.page.Image1(), Qt::LeftButton);
        QVERIFY(f.page.isHidden());
        QCOMPARE(f.host.state.SelectionFilter, std::string("WERTUNG >= 50"));

        f.page.show();
        QTest::mouseClick(f.page.Image2(), Qt::LeftButton);
        QVERIFY(f.page.isHidden());
        QVERIFY(f.page.Edit1()->text().isEmpty() && f.host.quickField.text().isEmpty());
        QCOMPARE(f.page.ComboBox1()->currentText(), QStringLiteral("(alle)"));
        QCOMPARE(f.host.queries.back(), std::string("GameData.db||"));
        QVERIFY(!f.host.indicator);
    }

    void refusedQueryLeavesIndicatorAndStatistics() {
        Fixture f;
        StatisticsStandIn stats;
        stats.shown = true;
        f.page.addStatisticsWindow(stats);
        f.page.show();
        f.host.refuseQueries = true;
        MessageBox::setAutoAnswer(true);
        MessageBox::clearShown();
        f.pick(f.page.ComboBox1(), "90");
        // The pick ends at the refused query; the error box says why.
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
        QCOMPARE(MessageBox::shown().front().text, std::string("Tabelle nicht gefunden."));
        QVERIFY(!f.host.indicator);
        QVERIFY(f.host.formats.empty());
        QCOMPARE(stats.recomputed, 0);
        QCOMPARE(f.host.state.SelectionFilter, std::string("WERTUNG >= 90"));
    }
};

QTEST_MAIN(TestSuchPage)
#include "tst_tsuchpage.moc"
