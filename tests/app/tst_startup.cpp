// Start-up: mode, data location, engine check, hard-disk copy, first view.

#include "discfixture.h"
#include "startuprules.h"
#include "tablefixtures.h"
#include "tform3.h"
#include "windows.h"

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

class StartupTest : public QObject {
    Q_OBJECT
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
    DiscFixture disc;
    disc.enterDisc();
    Windows windows;
    QVERIFY(!windows.form1->Terminated);
    QPointer<QWidget> waitWindow = windows.form1->waitWindow();
    windows.form1->show();
    QVERIFY(waitWindow.isNull());  // FormShow freed it

    TForm1& form = *windows.form1;
    QCOMPARE(form.HardDiskMode, false);
    QCOMPARE(form.DataPath, disc.dataPath);
    QCOMPARE(form.CurrentView, std::string("Spiele"));
    QCOMPARE(form.Query1.sql, (std::vector<std::string>{"SELECT * FROM \"" + disc.dataPath + "/GameData.db\"",
                                                         "ORDER BY TITEL"}));
    QCOMPARE(windows.column(0), (std::vector<std::string>{"Abenteuer in Gr\xFCnwald", "Cabal \"Zwei\"", "Labyrinth",
                                                         "Ostfront Taktik", "Rallye Fieber", "Zeppelin Tycoon"}));
    QCOMPARE(windows.titles(), (std::vector<std::string>{"Spieletitel", "Rubrik", "Genre", "Entwickler/Publisher",
                                                        "Wert.", "Ausgabe", "Kommentar"}));
    QCOMPARE(windows.widths(), (std::vector<int>{145, 65, 90, 120, 35, 55, 325}));
    // The unrated game shows an empty rating cell.
    QCOMPARE(windows.column(4)[3], std::string());
    // The temporary folder is now the current folder; the tables are reached by full path.
    QCOMPARE(fs::current_path().string() + "/", disc.tempFolder + "/");
    QVERIFY(MessageBox::shown().empty());
}

void StartupTest::newestIssuesAreReadFromEachTable() {
    DiscFixture disc;
    disc.enterDisc();
    Windows windows;
    windows.form1->show();
    const TForm1& form = *windows.form1;
    QCOMPARE(std::pair(form.GameLastMonth, form.GameLastYear), std::pair(9, 2004));
    QCOMPARE(std::pair(form.CDLastMonth, form.CDLastYear), std::pair(10, 2004));
    QCOMPARE(std::pair(form.TippsLastMonth, form.TippsLastYear), std::pair(9, 2004));
    QCOMPARE(std::pair(form.GameFirstMonth, form.GameFirstYear), std::pair(10, 1997));
}

void StartupTest::hardDiskNameCopiesAndOpensTheCopies() {
    DiscFixture disc;
    const std::string copies = disc.dataHome + "/VORTAGON/QUILLORA/DATA";
    // A read-only table left by an earlier run, with other content.
    fs::create_directories(copies);
    writeOlderGamesCopy(disc, copies);
    fs::permissions(copies + "/GameData.DB", fs::perms::owner_read | fs::perms::group_read);
    disc.enterDisc();

    Windows windows("quillorahd");
    windows.form1->show();
    const TForm1& form = *windows.form1;
    QVERIFY(form.HardDiskMode);
    QCOMPARE(form.SourcePath, disc.dataPath + "/");
    QCOMPARE(form.DataPath, copies);
    for (const char* name : {"GameData.DB", "CDData.DB", "TippsData.DB"}) {
        const fs::path copy = fs::path(copies) / name;
        QVERIFY2(fs::exists(copy), name);
        QVERIFY((fs::status(copy).permissions() & fs::perms::owner_write) != fs::perms::none);
    }
    QCOMPARE(windows.column(0).size(), DiscFixture::gameRows().size());
    QCOMPARE(form.Query1.sql.front(), "SELECT * FROM \"" + copies + "/GameData.db\"");
}

void StartupTest::hardDiskCopyFailuresAreToldOnceTheWindowIsUp() {
    DiscFixture disc;
    const std::string copies = disc.dataHome + "/VORTAGON/QUILLORA/DATA";
    fs::create_directories(copies);
    // Older copies of the games and the tips; none of the disc contents.
    writeOlderGamesCopy(disc, copies);
    disc.writeTable(archive::tipsView(), DiscFixture::tipRows(), copies);
    disc.enterDisc();
    {
        const Unwritable readOnly(copies);
        QVERIFY2(readOnly.refusedBySystem(), "could not make the hard-disk folder read-only");
        Windows windows("quillorahd");
        QVERIFY(MessageBox::shown().empty());  // nothing is told while the wait window is up
        QPointer<QWidget> waitWindow = windows.form1->waitWindow();
        windows.form1->show();
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
        QTest::mouseClick(windows.form1->Image1, Qt::LeftButton);
        QCOMPARE(windows.column(0), std::vector<std::string>{"Alte Kopie"});
    }
    // Where the copy succeeds, nothing is told.
    disc.enterDisc();
    Windows again("quillorahd");
    again.form1->show();
    QVERIFY2(MessageBox::shown().empty(), MessageBox::shown().front().text.c_str());
    QCOMPARE(again.column(0).size(), DiscFixture::gameRows().size());
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
    DiscFixture disc;
    disc.writeHive(hiveLine.toStdString());
    disc.enterDisc();
    Windows windows;
    if (notice.isEmpty()) {
        QVERIFY(!windows.form1->Terminated);
        QVERIFY(MessageBox::shown().empty());
        QCOMPARE(disc.installerStarts(), 0);
        return;
    }
    QVERIFY(windows.form1->Terminated);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QVERIFY(toQt(MessageBox::shown().front().text).startsWith(notice));
    // The installer runs detached; give it a moment to leave its trace.
    QTRY_COMPARE_WITH_TIMEOUT(disc.installerStarts(), 1, 5000);
    QTest::qWait(200);
    QCOMPARE(disc.installerStarts(), 1);
}

void StartupTest::emptyTableGivesTheFirstIssue() {
    DiscFixture disc;
    disc.writeTable(archive::tipsView(), {});
    disc.enterDisc();
    Windows windows;
    windows.form1->show();
    QCOMPARE(std::pair(windows.form1->TippsLastMonth, windows.form1->TippsLastYear), std::pair(10, 1997));
    QCOMPARE(windows.form1->GameLastYear, 2004);
    QVERIFY(MessageBox::shown().empty());
}

void StartupTest::missingTableIsReportedAndTheWaitWindowGoes() {
    DiscFixture disc;
    fs::remove(disc.dataPath + "/TippsData.DB");
    disc.enterDisc();
    Windows windows;
    QPointer<QWidget> waitWindow = windows.form1->waitWindow();
    windows.form1->show();
    QVERIFY(waitWindow.isNull());
    // One box, naming the file as the archive spells it, not as the view asks for it.
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
    QCOMPARE(MessageBox::shown().front().text, "Tabelle '" + disc.dataPath + "/TippsData.DB' nicht gefunden.");
    // The other tables open all the same; the missing one has the first issue as its newest.
    QCOMPARE(windows.column(0).size(), DiscFixture::gameRows().size());
    QCOMPARE(std::pair(windows.form1->TippsLastMonth, windows.form1->TippsLastYear), std::pair(10, 1997));
    QCOMPARE(windows.form1->CDLastYear, 2004);
}

// A table SQLite reads without complaint but whose pages its check finds
// damaged: told once, and none of its rows shown, in the grid or the statistics.
void StartupTest::aDamagedTableIsToldOnceAndShowsNoRows() {
    DiscFixture disc;
    const std::string games = disc.dataPath + "/GameData.DB";
    std::string bytes = fileContent(games);
    bytes[pageHeaderAt(bytes, 2) + 7] ^= 0x55;  // the count of fragmented bytes of the table's page
    writeFileContent(games, bytes);
    disc.enterDisc();
    Windows windows;
    windows.form1->show();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().text,
             "Die Tabelle '" + games + "' ist besch\xE4" "digt (Fragmentation of 0 bytes reported as 85 on page 2).");
    QCOMPARE(windows.column(0), std::vector<std::string>{});
    QCOMPARE(std::pair(windows.form1->GameLastMonth, windows.form1->GameLastYear), std::pair(10, 1997));
    MessageBox::clearShown();
    QTest::mouseClick(windows.form1->Image7, Qt::LeftButton);
    QCOMPARE(windows.set.Form3().Label4->text(), QStringLiteral("Auswahl: 0 Spiele"));
    QVERIFY(MessageBox::shown().empty());
}

// Hard-disk mode: a table on the disc that is no sound table of its view
// never replaces the good older copy; where there is none, one box says why
// the table cannot be shown.
void StartupTest::hardDiskModeKeepsTheGoodCopyOfABadTable() {
    DiscFixture disc;
    const std::string copies = disc.dataHome + "/VORTAGON/QUILLORA/DATA";
    fs::create_directories(copies);
    writeOlderGamesCopy(disc, copies);
    const std::string olderGames = fileContent(copies + "/GameData.DB");
    const std::string games = disc.dataPath + "/GameData.DB";
    fs::resize_file(games, 4096);
    writeFileContent(disc.dataPath + "/CDData.DB", "TITEL\tAUSGABE\r\nGothic\t2001/05\r\n");
    disc.enterDisc();
    Windows windows("quillorahd");
    windows.form1->show();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown()[0].text,
             "Die Tabelle 'GameData.DB' wurde nicht auf die Festplatte kopiert: Die Tabelle '" + games +
                 "' ist besch\xE4" "digt. Angezeigt wird die \xE4ltere Kopie in '" + copies + "'.\n"
                 "Die Tabelle 'CDData.DB' wurde nicht auf die Festplatte kopiert: Die Datei '" + disc.dataPath +
                 "/CDData.DB' ist keine Tabelle: sie ist keine SQLite-Datenbank. In '" + copies +
                 "' liegt keine \xE4ltere Kopie; die Tabelle kann nicht angezeigt werden.");
    QVERIFY(fileContent(copies + "/GameData.DB") == olderGames);
    QVERIFY(!fs::exists(copies + "/CDData.DB"));
    QCOMPARE(windows.column(0), std::vector<std::string>{"Alte Kopie"});
}

// A start that refused the games table (changes another program left in
// its -wal file) keeps the browse mode on the edit-mode gesture, with the
// refusal's own text.
void StartupTest::theEditModeStaysOffOnARefusedTable() {
    DiscFixture disc;
    const std::string games = disc.dataPath + "/GameData.DB";
    writeFileContent(games + "-wal", std::string(4096, 'w'));
    disc.enterDisc();
    Windows windows;
    TForm1& form = *windows.form1;
    form.show();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    const std::string refusal = MessageBox::shown()[0].text;
    QVERIFY2(refusal.starts_with("Die Tabelle '" + games + "' ist im WAL-Modus gespeichert"), refusal.c_str());
    QTest::mouseClick(form.Image4, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(60, 20));
    QVERIFY(!form.EditMode);
    QCOMPARE(form.windowTitle(), QStringLiteral("Quillora"));
    QVERIFY(form.Table1.readOnly());
    QCOMPARE(MessageBox::shown().size(), size_t(2));
    QCOMPARE(MessageBox::shown()[1].text, refusal);
}

void StartupTest::aTableOfAnotherViewIsRefusedNamingTheField() {
    DiscFixture disc;
    // The disc contents saved under the games' name.
    const std::string games = disc.dataPath + "/GameData.DB";
    fs::remove(games);
    {
        archive::TableFileWriter writer(games, archive::discView());
        for (const archive::Row& row : DiscFixture::discRows()) writer.add(row);
        writer.commit();
    }
    disc.enterDisc();
    Windows windows;
    windows.form1->show();
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().text,
             "Die Tabelle '" + games + "' passt nicht zur Ansicht 'Spiele': an Stelle 2 steht das Feld 'AUSGABE' statt "
             "'RUBRIK'.");
    // No disc rows under the games' titles.
    QCOMPARE(windows.column(0), std::vector<std::string>{});
    // The other views are not concerned.
    QTest::mouseClick(windows.form1->Image2, Qt::LeftButton);
    QCOMPARE(windows.form1->CurrentView, std::string("CD-Inhalt"));
    QCOMPARE(windows.column(0).size(), DiscFixture::discRows().size());
    QCOMPARE(MessageBox::shown().size(), size_t(1));
}

void StartupTest::minimumSizeAndGridMargins() {
    DiscFixture disc;
    disc.enterDisc();
    Windows windows;
    TForm1& form = *windows.form1;
    form.show();
    form.resize(100, 100);
    QCOMPARE(form.width(), TForm1::kMinOuterWidth - TForm1::kFrameWidth);
    QCOMPARE(form.height(), TForm1::kMinOuterHeight - TForm1::kFrameHeight);
    form.resize(800, 600);
    QCOMPARE(form.DBGrid1->geometry(), QRect(130, 9, 800 - 130 - 10, 600 - 9 - 9));
}

void StartupTest::minimumSizeHoldsWhenTheWindowSystemShrinksTheWindow() {
    DiscFixture disc;
    disc.enterDisc();
    Windows windows;
    TForm1& form = *windows.form1;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Without a window manager nothing but the window itself keeps the minimum.
    form.setMinimumSize(0, 0);
    form.windowHandle()->resize(200, 200);
    QTRY_COMPARE(form.width(), TForm1::kMinOuterWidth - TForm1::kFrameWidth);
    QCOMPARE(form.height(), TForm1::kMinOuterHeight - TForm1::kFrameHeight);
    QCOMPARE(form.DBGrid1->geometry(), QRect(130, 9, form.width() - 140, form.height() - 18));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
