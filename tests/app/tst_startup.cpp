// Start-up: mode, data location, engine check, hard-disk copy, first view.

#include "startuprules.h"
#include "tablefixtures.h"
#include "tform3.h"
#include "windowtest.h"

#include <QLabel>
#include <QPointer>
#include <QWindow>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A games table an earlier run copied to the hard disk, with other content
// than the disc's: one row, "Alte Kopie".
void writeOlderGamesCopy(DiscFixture& disc, const std::string& copies) {
    disc.writeTable(archive::gamesView(), {{std::string("Alte Kopie"), std::nullopt, std::nullopt, std::nullopt,
                                            std::nullopt, std::string("1998/01"), std::nullopt}},
                    copies);
}

}  // namespace

class StartupTest : public WindowTest {
    Q_OBJECT
public:
    StartupTest() : WindowTest(Start::ByTheTest) {}

private slots:
    void firstViewListsGamesByTitle();
    void newestIssuesAreReadFromEachTable();
    void hardDiskNameCopiesAndOpensTheCopies();
    void hardDiskCopyFailuresAreToldOnceTheWindowIsUp();
    void engineCheck_data();
    void engineCheck();
    void emptyTableGivesTheFirstIssue();
    void missingTableIsReportedAndTheWaitWindowGoes();
    void aDamagedTableIsToldOnceAndShowsNoRows();
    void hardDiskModeKeepsTheGoodCopyOfABadTable();
    void theEditModeStaysOffOnARefusedTable();
    void aTableOfAnotherViewIsRefusedNamingTheField();
    void minimumSizeAndGridMargins();
    void minimumSizeHoldsWhenTheWindowSystemShrinksTheWindow();
};

void StartupTest::firstViewListsGamesByTitle() {
    makeWindows();
    QVERIFY(!form().Terminated);
    QPointer<QWidget> waitWindow = form().waitWindow();
    form().show();
    QVERIFY(waitWindow.isNull());  // FormShow freed it

    QCOMPARE(form().HardDiskMode, false);
    QCOMPARE(form().DataPath, disc->dataPath);
    QCOMPARE(form().CurrentView, std::string("Spiele"));
    QCOMPARE(query().sql, (std::vector<std::string>{"SELECT * FROM \"" + disc->dataPath + "/GameData.db\"",
                                                    "ORDER BY TITEL"}));
    QCOMPARE(column(0), (std::vector<std::string>{"Abenteuer in Gr\xFCnwald", "Cabal \"Zwei\"", "Labyrinth",
                                                  "Ostfront Taktik", "Rallye Fieber", "Zeppelin Tycoon"}));
    QCOMPARE(titles(), (std::vector<std::string>{"Spieletitel", "Rubrik", "Genre", "Entwickler/Publisher",
                                                 "Wert.", "Ausgabe", "Kommentar"}));
    QCOMPARE(widths(), (std::vector<int>{145, 65, 90, 120, 35, 55, 325}));
    // The unrated game shows an empty rating cell.
    QCOMPARE(column(4)[3], std::string());
    // The temporary folder is now the current folder; the tables are reached by full path.
    QCOMPARE(fs::current_path().string() + "/", disc->tempFolder + "/");
    QVERIFY(MessageBox::shown().empty());
}

void StartupTest::newestIssuesAreReadFromEachTable() {
    start();
    QCOMPARE(std::pair(form().GameLastMonth, form().GameLastYear), std::pair(9, 2004));
    QCOMPARE(std::pair(form().CDLastMonth, form().CDLastYear), std::pair(10, 2004));
    QCOMPARE(std::pair(form().TippsLastMonth, form().TippsLastYear), std::pair(9, 2004));
    QCOMPARE(std::pair(form().GameFirstMonth, form().GameFirstYear), std::pair(10, 1997));
}

void StartupTest::hardDiskNameCopiesAndOpensTheCopies() {
    const std::string copies = disc->dataHome + "/VORTAGON/QUILLORA/DATA";
    // A read-only table left by an earlier run, with other content.
    fs::create_directories(copies);
    writeOlderGamesCopy(*disc, copies);
    fs::permissions(copies + "/GameData.DB", fs::perms::owner_read | fs::perms::group_read);
    start("quillorahd");
    QVERIFY(form().HardDiskMode);
    QCOMPARE(form().SourcePath, disc->dataPath + "/");
    QCOMPARE(form().DataPath, copies);
    for (const char* name : {"GameData.DB", "CDData.DB", "TippsData.DB"}) {
        const fs::path copy = fs::path(copies) / name;
        QVERIFY2(fs::exists(copy), name);
        QVERIFY((fs::status(copy).permissions() & fs::perms::owner_write) != fs::perms::none);
    }
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
    QCOMPARE(query().sql.front(), "SELECT * FROM \"" + copies + "/GameData.db\"");
}

void StartupTest::hardDiskCopyFailuresAreToldOnceTheWindowIsUp() {
    const std::string copies = disc->dataHome + "/VORTAGON/QUILLORA/DATA";
    fs::create_directories(copies);
    // Older copies of the games and the tips; none of the disc contents.
    writeOlderGamesCopy(*disc, copies);
    disc->writeTable(archive::tipsView(), DiscFixture::tipRows(), copies);
    {
        const Unwritable readOnly(copies);
        QVERIFY2(readOnly.refusedBySystem(), "could not make the hard-disk folder read-only");
        makeWindows("quillorahd");
        QVERIFY(MessageBox::shown().empty());  // nothing is told while the wait window is up
        QPointer<QWidget> waitWindow = form().waitWindow();
        form().show();
        QVERIFY(waitWindow.isNull());
        // One box: the disc contents' missing copy needs no second word.
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        QCOMPARE(MessageBox::shown()[0].kind, MessageBox::Kind::Error);
        QCOMPARE(MessageBox::shown()[0].text,
                 "Die Tabelle 'GameData.DB' konnte nicht auf die Festplatte kopiert werden (keine Schreibberechtigung). "
                 "Angezeigt wird die \xE4ltere Kopie in '" + copies + "'.\n"
                 "Die Tabelle 'CDData.DB' konnte nicht auf die Festplatte kopiert werden (keine Schreibberechtigung). "
                 "In '" + copies + "' liegt keine \xE4ltere Kopie; die Tabelle kann nicht angezeigt werden.\n"
                 "Die Tabelle 'TippsData.DB' konnte nicht auf die Festplatte kopiert werden (keine Schreibberechtigung). "
                 "Angezeigt wird die \xE4ltere Kopie in '" + copies + "'.");
        // The older games copy is what the games view shows.
        click("Image1");
        QCOMPARE(column(0), std::vector<std::string>{"Alte Kopie"});
        closeWindows();
    }
    // Where the copy succeeds, nothing is told.
    start("quillorahd");
    QVERIFY2(MessageBox::shown().empty(), MessageBox::shown().front().text.c_str());
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
}

void StartupTest::engineCheck_data() {
    QTest::addColumn<QString>("hiveLine");
    QTest::addColumn<QString>("notice");  // the start of the notice, or empty: normal start
    QTest::newRow("absent") << "" << "Achtung! Auf Ihrem System";
    QTest::newRow("zero") << "\"Engine-Version\"=\"0.00\"" << "Achtung! Auf Ihrem System";
    QTest::newRow("not a number") << "\"Engine-Version\"=\"neu\"" << "Achtung! Auf Ihrem System";
    QTest::newRow("too old") << "\"Engine-Version\"=\"0.5\"" << "Achtung! Jetzt wird ein Update";
    QTest::newRow("current") << "\"Engine-Version\"=\"1.00\"" << "";
    QTest::newRow("newer") << "\"Engine-Version\"=\"2.3\"" << "";
}

void StartupTest::engineCheck() {
    QFETCH(QString, hiveLine);
    QFETCH(QString, notice);
    disc->writeHive(hiveLine.toStdString());
    makeWindows();
    if (notice.isEmpty()) {
        QVERIFY(!form().Terminated);
        QVERIFY(MessageBox::shown().empty());
        QCOMPARE(disc->installerStarts(), 0);
        return;
    }
    QVERIFY(form().Terminated);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QVERIFY(toQt(MessageBox::shown().front().text).startsWith(notice));
    // The installer runs detached; give it a moment to leave its trace.
    QTRY_COMPARE_WITH_TIMEOUT(disc->installerStarts(), 1, 5000);
    QTest::qWait(200);
    QCOMPARE(disc->installerStarts(), 1);
}

void StartupTest::emptyTableGivesTheFirstIssue() {
    disc->writeTable(archive::tipsView(), {});
    start();
    QCOMPARE(std::pair(form().TippsLastMonth, form().TippsLastYear), std::pair(10, 1997));
    QCOMPARE(form().GameLastYear, 2004);
    QVERIFY(MessageBox::shown().empty());
}

void StartupTest::missingTableIsReportedAndTheWaitWindowGoes() {
    fs::remove(disc->dataPath + "/TippsData.DB");
    makeWindows();
    QPointer<QWidget> waitWindow = form().waitWindow();
    form().show();
    QVERIFY(waitWindow.isNull());
    // One box, naming the file as the archive spells it, not as the view asks for it.
    QCOMPARE(boxes(), Texts{"Tabelle '" + disc->dataPath + "/TippsData.DB' nicht gefunden."});
    // The other tables open all the same; the missing one has the first issue as its newest.
    QCOMPARE(column(0).size(), DiscFixture::gameRows().size());
    QCOMPARE(std::pair(form().TippsLastMonth, form().TippsLastYear), std::pair(10, 1997));
    QCOMPARE(form().CDLastYear, 2004);
}

// A table SQLite reads without complaint but whose pages its check finds
// damaged: told once, and none of its rows shown, in the grid or the statistics.
void StartupTest::aDamagedTableIsToldOnceAndShowsNoRows() {
    const std::string games = disc->dataPath + "/GameData.DB";
    std::string bytes = fileContent(games);
    bytes[pageHeaderAt(bytes, 2) + 7] ^= 0x55;  // the count of fragmented bytes of the table's page
    writeFileContent(games, bytes);
    start();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().text,
             "Die Tabelle '" + games + "' ist besch\xE4" "digt (Fragmentation of 0 bytes reported as 85 on page 2).");
    QCOMPARE(column(0), std::vector<std::string>{});
    QCOMPARE(std::pair(form().GameLastMonth, form().GameLastYear), std::pair(10, 1997));
    MessageBox::clearShown();
    click("Image7");
    QCOMPARE(child<QLabel>(set().Form3(), "Label4")->text(), QStringLiteral("Auswahl: 0 Spiele"));
    QVERIFY(MessageBox::shown().empty());
}

// Hard-disk mode: a table on the disc that is no sound table of its view
// never replaces the good older copy; where there is none, one box says why
// the table cannot be shown.
void StartupTest::hardDiskModeKeepsTheGoodCopyOfABadTable() {
    const std::string copies = disc->dataHome + "/VORTAGON/QUILLORA/DATA";
    fs::create_directories(copies);
    writeOlderGamesCopy(*disc, copies);
    const std::string olderGames = fileContent(copies + "/GameData.DB");
    const std::string games = disc->dataPath + "/GameData.DB";
    fs::resize_file(games, 4096);
    writeFileContent(disc->dataPath + "/CDData.DB", "TITEL\tAUSGABE\r\nGothic\t2001/05\r\n");
    start("quillorahd");
    QCOMPARE(boxes(),
             Texts{"Die Tabelle 'GameData.DB' wurde nicht auf die Festplatte kopiert: Die Tabelle '" + games +
                   "' ist besch\xE4" "digt. Angezeigt wird die \xE4ltere Kopie in '" + copies + "'.\n"
                   "Die Tabelle 'CDData.DB' wurde nicht auf die Festplatte kopiert: Die Datei '" + disc->dataPath +
                   "/CDData.DB' ist keine Tabelle: sie ist keine SQLite-Datenbank. In '" + copies +
                   "' liegt keine \xE4ltere Kopie; die Tabelle kann nicht angezeigt werden."});
    QVERIFY(fileContent(copies + "/GameData.DB") == olderGames);
    QVERIFY(!fs::exists(copies + "/CDData.DB"));
    QCOMPARE(column(0), std::vector<std::string>{"Alte Kopie"});
}

// A start that refused the games table (changes another program left in
// its -wal file) keeps the browse mode on the edit-mode gesture, with the
// refusal's own text.
void StartupTest::theEditModeStaysOffOnARefusedTable() {
    const std::string games = disc->dataPath + "/GameData.DB";
    writeFileContent(games + "-wal", std::string(4096, 'w'));
    start();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    const std::string refusal = MessageBox::shown()[0].text;
    QVERIFY2(refusal.starts_with("Die Tabelle '" + games + "' ist im WAL-Modus gespeichert"), refusal.c_str());
    toggleEditMode();
    QVERIFY(!form().EditMode);
    QCOMPARE(form().windowTitle(), QStringLiteral("Quillora"));
    QVERIFY(editTable().readOnly());
    QCOMPARE(MessageBox::shown().size(), size_t(2));
    QCOMPARE(MessageBox::shown()[1].text, refusal);
}

void StartupTest::aTableOfAnotherViewIsRefusedNamingTheField() {
    // The disc contents saved under the games' name.
    const std::string games = disc->dataPath + "/GameData.DB";
    fs::remove(games);
    {
        archive::TableFileWriter writer(games, archive::discView());
        for (const archive::Row& row : DiscFixture::discRows()) writer.add(row);
        writer.commit();
    }
    start();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().text,
             "Die Tabelle '" + games + "' passt nicht zur Ansicht 'Spiele': an Stelle 2 steht das Feld 'AUSGABE' statt "
             "'RUBRIK'.");
    // No disc rows under the games' titles.
    QCOMPARE(column(0), std::vector<std::string>{});
    // The other views are not concerned.
    click("Image2");
    QCOMPARE(form().CurrentView, std::string("CD-Inhalt"));
    QCOMPARE(column(0).size(), DiscFixture::discRows().size());
    QCOMPARE(MessageBox::shown().size(), size_t(1));
}

void StartupTest::minimumSizeAndGridMargins() {
    start();
    form().resize(100, 100);
    QCOMPARE(form().width(), TForm1::kMinOuterWidth - TForm1::kFrameWidth);
    QCOMPARE(form().height(), TForm1::kMinOuterHeight - TForm1::kFrameHeight);
    form().resize(800, 600);
    QCOMPARE(grid().geometry(), QRect(130, 9, 800 - 130 - 10, 600 - 9 - 9));
}

void StartupTest::minimumSizeHoldsWhenTheWindowSystemShrinksTheWindow() {
    start();
    // Without a window manager nothing but the window itself keeps the minimum.
    form().setMinimumSize(0, 0);
    form().windowHandle()->resize(200, 200);
    QTRY_COMPARE(form().width(), TForm1::kMinOuterWidth - TForm1::kFrameWidth);
    QCOMPARE(form().height(), TForm1::kMinOuterHeight - TForm1::kFrameHeight);
    QCOMPARE(grid().geometry(), QRect(130, 9, form().width() - 140, form().height() - 18));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
