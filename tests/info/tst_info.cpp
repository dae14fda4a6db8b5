// The info dialog as a reader and the maintainer see it: its texts in both
// modes, which exchange buttons it offers, and the export and import of real
// table files.

#include "faultvfs.h"
#include "filefaults.h"
#include "qttexts.h"
#include "tablefixtures.h"
#include "tform2.h"
#include "topendialog.h"
#include "windowtest.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

class InfoTest : public WindowTest {
    Q_OBJECT
private slots:
    void textsOfTheDialog();
    void buttonsFollowTheEditModeAndTheView();
    void aDialogFirstAskedForInTheEditModeOffersTheExport();
    void hardDiskModeCaption();
    void exportWritesTheWholeTableInStoredOrder();
    void exportOfAnEmptyTableIsAnEmptyFile();
    void exportToAReadOnlyFolderSaysSoAndKeepsTheOldFile();
    void importAppendsEveryLine();
    void importLineEnds();
    void hostileImportFiles_data();
    void hostileImportFiles();
    void importCancelledChangesNothing();
    void theImportsFileDialogSpeaksGerman();
    void importStopsAtARefusedRecord();
    void aFailingDiskIsReportedAndChangesNothing();

private:
    TForm2& dialog() { return set().Form2(); }
    // The edit mode on, then the view of this sidebar command.
    void editView(const char* command) {
        toggleEditMode();
        click(command);
    }
    QPushButton* button(const char* name) { return child<QPushButton>(dialog(), name); }
    std::string label(const char* name) { return fromQt(child<QLabel>(dialog(), name)->text()); }
    // Opens the dialog from the sidebar as the user does; `whileOpen` runs in
    // it, then "Ok" closes it.
    void openInfo(const std::function<void()>& whileOpen) {
        whileModal([&] { click("Image10"); },
                   [&](QWidget&) {
                       whileOpen();
                       QTest::mouseClick(button("Button1"), Qt::LeftButton);
                   });
    }
    std::string importFile(const std::string& bytes) const {
        const std::string path = disc->tempFolder + "/import.txt";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::vector<std::string> storedTitles() const {
        std::vector<std::string> result;
        for (const auto& row : readTableFile(disc->dataPath + "/CDData.DB")) result.push_back(row[0]);
        return result;
    }
};

void InfoTest::textsOfTheDialog() {
    QCOMPARE(label("Label7"), std::string("- - -"));
    openInfo([&] {
        QVERIFY(dialog().isVisible());
        QVERIFY(dialog().isModal());
        QCOMPARE(dialog().windowTitle(), QStringLiteral("Info"));
        QCOMPARE(dialog().size(), QSize(441, 224));
        QCOMPARE(label("Label7"), std::string("Aktuelle Daten: 9/2004 (Spiele); 10/2004 (CD); 9/2004 (Tipps)"));
        QCOMPARE(label("Label9"), std::string("CD/DVD-Modus"));
        QCOMPARE(label("Label5"), std::string("Quillora"));
        QCOMPARE(label("Label6"), std::string("V 3.6a"));
        QCOMPARE(child<QLabel>(dialog(), "Label5")->geometry(), QRect(14, 22, 409, 57));
        QCOMPARE(button("Button2")->text(), QStringLiteral("ASCII-Export (.txt)"));
        QCOMPARE(button("Button2")->toolTip(),
                 QStringLiteral("Exportiert die aktuelle Tabelle als TXT-Datei mit\n"
                                "Tabulator-Trennzeichen in das DATA-Verzeichnis."));
        // The backdrop: 4 and 3 rows a band, slate blue at the top, navy at the bottom.
        const QImage image = dialog().grab().toImage();
        QCOMPARE(image.pixelColor(430, 3), QColor(0x35, 0x35, 0x56));
        QCOMPARE(image.pixelColor(430, 4), QColor(0x34, 0x34, 0x56));
        QCOMPARE(image.pixelColor(430, 223), QColor(0x01, 0x00, 0x41));
    });
}

void InfoTest::buttonsFollowTheEditModeAndTheView() {
    openInfo([&] { QVERIFY(button("Button2")->isHidden() && button("Button3")->isHidden()); });
    toggleEditMode();
    openInfo([&] { QVERIFY(!button("Button2")->isHidden() && button("Button3")->isHidden()); });
    click("Image2");
    openInfo([&] { QVERIFY(!button("Button2")->isHidden() && !button("Button3")->isHidden()); });
    click("Image3");
    openInfo([&] { QVERIFY(!button("Button2")->isHidden() && button("Button3")->isHidden()); });
    click("Image2");
    toggleEditMode();  // leaving hides both
    QVERIFY(button("Button2")->isHidden() && button("Button3")->isHidden());
    openInfo([&] { QVERIFY(button("Button2")->isHidden() && button("Button3")->isHidden()); });
}

void InfoTest::aDialogFirstAskedForInTheEditModeOffersTheExport() {
    // The dialog is made when first asked for: it learns the mode told before.
    toggleEditMode();
    QVERIFY(!button("Button2")->isHidden() && button("Button3")->isHidden());
}

void InfoTest::hardDiskModeCaption() {
    closeWindows();
    start("quillorahd");
    openInfo([&] { QCOMPARE(label("Label9"), std::string("Festplatten-Modus")); });
}

void InfoTest::exportWritesTheWholeTableInStoredOrder() {
    toggleEditMode();
    dialog().Button2Click();
    QCOMPARE(fileContent(disc->dataPath + "/GameData.db.txt"),
             std::string("Zeppelin Tycoon\tStrategie\tWirtschaftssimulation\tLuftwerk\t81\t1999/04\tLuftschiffe im Aufbau\r\n"
                         "Abenteuer in Gr\xFCnwald\tAction\tAdventure\tM\xE4rchenhaus\t74\t2001/12\tR\xE4tsel im Wald\r\n"
                         "Rallye Fieber\tSport\tRennspiel\tTempo Soft\t88\t2004/09\tSchnell und schmutzig\r\n"
                         "Ostfront Taktik\tStrategie\tEchtzeit-Strategie\tFeldherr\t\t2000/02\tOhne Wertung\r\n"
                         "Cabal \"Zwei\"\tAction\t3D-Action\tKellerkind\t65\t2000/12\tMit Anf\xFChrungszeichen\r\n"
                         "Labyrinth\tRollenspiele\tRollenspiel\tDrachenhort\t90\t2003/01\tVerliese ohne Ende\r\n"));
    QVERIFY(MessageBox::shown().empty());  // no message on success
    QCOMPARE(editTable().recNo(), 0);

    // A pending change of the current row is stored before it is written.
    click("Image3");
    editTable().setFieldText(3, "99");
    dialog().Button2Click();
    QCOMPARE(fileContent(disc->dataPath + "/TippsData.db.txt"),
             std::string("Zeppelin Tycoon\t1999/07\tL\xF6sung\t99\r\n"
                         "Labyrinth\t2004/08\tCheat\t12\r\n"
                         "Rallye Fieber\t2004/09\tKurztipp\t7\r\n"));
}

void InfoTest::exportOfAnEmptyTableIsAnEmptyFile() {
    disc->writeTable(archive::tipsView(), {});
    editView("Image3");
    dialog().Button2Click();
    QVERIFY(fs::exists(disc->dataPath + "/TippsData.db.txt"));
    QCOMPARE(fs::file_size(disc->dataPath + "/TippsData.db.txt"), uintmax_t(0));
}

void InfoTest::exportToAReadOnlyFolderSaysSoAndKeepsTheOldFile() {
    const std::string target = disc->dataPath + "/GameData.db.txt";
    std::ofstream(target, std::ios::binary) << "older export";
    toggleEditMode();
    MessageBox::clearShown();
    {
        const Unwritable readOnly(disc->dataPath);
        QVERIFY2(readOnly.refusedBySystem(), "the test cannot make a folder read-only here");
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
    }
    QCOMPARE(boxes(), Texts{"Die Datei '" + target +
                            "' konnte nicht geschrieben werden: keine Schreibberechtigung."});
    QCOMPARE(fileContent(target), std::string("older export"));
    QVERIFY(!QApplication::overrideCursor());
    for (const auto& entry : fs::directory_iterator(disc->dataPath))
        QVERIFY(entry.path().filename().string().front() != '.');
}

void InfoTest::importAppendsEveryLine() {
    editView("Image2");
    TOpenDialog::setNextFileName(importFile("Neu A\t2004/11\tDemo\tCD\r\n"
                                            "Neu B\t2004/11\tPatch\tDVD\textra\r\n"
                                            "Neu C\r\n"));
    MessageBox::clearShown();
    QTest::mouseClick(button("Button3"), Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown()[0].kind, MessageBox::Kind::Message);
    QCOMPARE(MessageBox::shown()[0].text, std::string("Import erfolgreich abgeschlossen.\r3 Datens\xE4tze eingef\xFCgt."));
    const auto rows = readTableFile(disc->dataPath + "/CDData.DB");
    QCOMPARE(rows.size(), size_t(7));
    QCOMPARE(rows[4], (std::vector<std::string>{"Neu A", "2004/11", "Demo", "CD"}));
    QCOMPARE(rows[5], (std::vector<std::string>{"Neu B", "2004/11", "Patch", "DVD\textra"}));
    QCOMPARE(rows[6], (std::vector<std::string>{"", "", "", "Neu C"}));
    // The grid shows the appended rows.
    QCOMPARE(model().rowCount(), 7);
    QVERIFY(!QApplication::overrideCursor());
}

void InfoTest::importLineEnds() {
    editView("Image2");
    struct Case {
        const char* bytes;
        int records;
    };
    const Case cases[] = {
        {"a\nb\nc\n", 1},              // LF alone is text: one record
        {"a\r\nb\r\n", 2},             // no extra record after the last CR LF
        {"a\r\nb\r\n\r\n", 3},         // a blank last line is a record
        {"a\r\nb\x1A" "c\r\n", 2},     // Ctrl-Z ends the file
        {"", 0},
    };
    int total = 4;
    for (const Case& c : cases) {
        TOpenDialog::setNextFileName(importFile(c.bytes));
        MessageBox::clearShown();
        dialog().Button3Click();
        total += c.records;
        QCOMPARE(dialog().importedRecords(), c.records);
        QCOMPARE(MessageBox::shown().back().text, "Import erfolgreich abgeschlossen.\r" + std::to_string(c.records) +
                                                      " Datens\xE4tze eingef\xFCgt.");
        QCOMPARE(storedTitles().size(), size_t(total));
    }
    QCOMPARE(storedTitles()[4], std::string(""));
    QCOMPARE(readTableFile(disc->dataPath + "/CDData.DB")[4][3], std::string("a\nb\nc\n"));
}

void InfoTest::hostileImportFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("cause");  // none: the import succeeds
    QTest::addColumn<int>("records");
    const auto row = [](const char* kind, const char* cause, int records = 0) {
        QTest::newRow(kind) << QString::fromLatin1(kind) << toQt(cause) << records;
    };
    row("missing", "nicht gefunden");
    row("folder", "an ihrer Stelle steht ein Verzeichnis");
    row("pipe", "sie ist keine gew\xF6hnliche Datei, sondern eine Pipe");
    row("endless device", "sie ist keine gew\xF6hnliche Datei, sondern ein Ger\xE4t");
    row("no read permission", "keine Leseberechtigung");
    row("reading fails", "Ein-/Ausgabefehler des Datentr\xE4gers");
    row("50 MB line", "", 1);
    row("empty", "", 0);
}

// Whatever file is chosen, the import never hangs: a file that cannot be read
// is named with its cause in the error box and the table stays as it was; a
// line of any length is stored whole and the grid shows its beginning.
void InfoTest::hostileImportFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, cause);
    QFETCH(int, records);
    editView("Image2");
    std::string path = disc->tempFolder + "/import.txt";
    const std::string longValue(50 << 20, 'x');
    if (kind == QLatin1String("folder")) {
        fs::create_directory(path);
    } else if (kind == QLatin1String("pipe")) {
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
    } else if (kind == QLatin1String("endless device")) {
        path = "/dev/zero";
    } else if (kind == QLatin1String("no read permission")) {
        if (::geteuid() == 0) QSKIP("root reads a file without read permission: this case needs another user");
        importFile("Neu\t2004/11\tDemo\tCD\r\n");
        fs::permissions(path, fs::perms::none);
    } else if (kind == QLatin1String("reading fails")) {
        path = "/proc/self/mem";  // a plain file whose first read fails
    } else if (kind == QLatin1String("50 MB line")) {
        importFile("Neu\t2004/11\tDemo\t" + longValue + "\r\n");
    } else if (kind == QLatin1String("empty")) {
        importFile("");
    }
    const std::string table = disc->dataPath + "/CDData.DB";
    const std::string before = fileContent(table);
    const int rowsBefore = model().rowCount();
    // An import that waited in the open of the pipe would stay there for ever:
    // a writer comes and goes while the import runs, so that such an import
    // reads an empty file and fails the checks below instead of hanging.
    std::atomic<bool> importing = true;
    std::thread writer;
    if (kind == QLatin1String("pipe"))
        writer = std::thread([&] {
            while (importing) {
                if (const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    TOpenDialog::setNextFileName(path);
    MessageBox::clearShown();
    QTest::mouseClick(button("Button3"), Qt::LeftButton);
    importing = false;
    if (writer.joinable()) writer.join();

    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QVERIFY(!QApplication::overrideCursor());
    if (!cause.isEmpty()) {
        QCOMPARE(MessageBox::shown()[0].kind, MessageBox::Kind::Error);
        QCOMPARE(MessageBox::shown()[0].text,
                 "Die Datei '" + path + "' konnte nicht gelesen werden: " + fromQt(cause) + ".");
        QCOMPARE(fileContent(table), before);
        QCOMPARE(model().rowCount(), rowsBefore);
        return;
    }
    QCOMPARE(MessageBox::shown()[0].text, "Import erfolgreich abgeschlossen.\r" + std::to_string(records) +
                                              " Datens\xE4tze eingef\xFCgt.");
    QCOMPARE(model().rowCount(), rowsBefore + records);
    if (records == 0) return;
    const auto rows = readTableFile(table);
    QVERIFY(rows.back()[3] == longValue);
    // The grid is handed the beginning of the value only, and paints it.
    const QModelIndex cell = model().index(rowsBefore, 3);
    QCOMPARE(model().data(cell, Qt::DisplayRole).toString().size(), qsizetype(kShownCharacters + 1));
    grid().scrollTo(cell);
    QVERIFY(!grid().viewport()->grab().isNull());
}

void InfoTest::importCancelledChangesNothing() {
    editView("Image2");
    const std::string before = fileContent(disc->dataPath + "/CDData.DB");
    MessageBox::clearShown();
    TOpenDialog::setNextFileName(std::nullopt);
    QTest::mouseClick(button("Button3"), Qt::LeftButton);
    QVERIFY(MessageBox::shown().empty());
    QCOMPARE(fileContent(disc->dataPath + "/CDData.DB"), before);
    QVERIFY(!QApplication::overrideCursor());
}

// The program's windows bring Qt's German words along: the file dialog the
// import opens, its buttons, and the boxes' standard buttons.
void InfoTest::theImportsFileDialogSpeaksGerman() {
    if (!QFile::exists(qtTranslationsFolder() + QStringLiteral("/qtbase_de.qm")))
        QSKIP("Qt's German translations (Debian: qt6-translations-l10n) are not installed here");
    editView("Image2");
    const std::string before = fileContent(disc->dataPath + "/CDData.DB");
    MessageBox::clearShown();
    QStringList words;
    whileModal([&] { QTest::mouseClick(button("Button3"), Qt::LeftButton); },
               [&](QWidget& chooser) {
                   if (const auto* buttons = chooser.findChild<QDialogButtonBox*>())
                       words << chooser.windowTitle() << buttons->button(QDialogButtonBox::Open)->text()
                             << buttons->button(QDialogButtonBox::Cancel)->text();
                   chooser.close();
               });
    QCOMPARE(words, (QStringList{toQt("\xD6" "ffnen"), toQt("&\xD6" "ffnen"), QStringLiteral("Abbrechen")}));
    QVERIFY(MessageBox::shown().empty());
    QCOMPARE(fileContent(disc->dataPath + "/CDData.DB"), before);
    QCOMPARE(QDialogButtonBox(QDialogButtonBox::No).button(QDialogButtonBox::No)->text(), QStringLiteral("&Nein"));
}

void InfoTest::importStopsAtARefusedRecord() {
    // The tips' counter takes numbers only: the third line is refused.
    editView("Image3");
    TOpenDialog::setNextFileName(importFile("Eins\t2004/01\tCheat\t1\r\nZwei\t2004/02\tTaktik\t2\r\n"
                                            "Drei\t2004/03\tCheat\tviele\r\nVier\t2004/04\tCheat\t4\r\n"));
    MessageBox::clearShown();
    guarded(&dialog(), [&] { dialog().Button3Click(); });
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown()[0].kind, MessageBox::Kind::Error);
    QVERIFY(MessageBox::shown()[0].text.find("viele") != std::string::npos);
    QCOMPARE(dialog().importedRecords(), 3);
    // The records before the refused one stay, nothing after it is read.
    const auto rows = readTableFile(disc->dataPath + "/TippsData.DB");
    QCOMPARE(rows.size(), size_t(5));
    QCOMPARE(rows[3], (std::vector<std::string>{"Eins", "2004/01", "Cheat", "1"}));
    QCOMPARE(rows[4], (std::vector<std::string>{"Zwei", "2004/02", "Taktik", "2"}));
    QCOMPARE(editTable().state(), archive::TableState::Browse);
    QCOMPARE(model().rowCount(), 5);
    QVERIFY(!QApplication::overrideCursor());
}

void InfoTest::aFailingDiskIsReportedAndChangesNothing() {
    editView("Image2");
    const std::string table = disc->dataPath + "/CDData.DB";
    const std::string before = fileContent(table);
    const auto rowsBefore = readTableFile(table);

    // The disk refuses to flush the import to it.
    faultvfs::install();
    faultvfs::reset();
    faultvfs::failNth(faultvfs::Kind::Sync, 1, SQLITE_IOERR_FSYNC);
    TOpenDialog::setNextFileName(importFile("Neu A\t2004/11\tDemo\tCD\r\nNeu B\t2004/11\tPatch\tDVD\r\n"));
    MessageBox::clearShown();
    QTest::mouseClick(button("Button3"), Qt::LeftButton);
    const bool fired = faultvfs::fired();
    faultvfs::reset();
    QVERIFY(fired);
    QCOMPARE(boxes(), Texts{"Fehler beim Zugriff auf die Tabelle '" + table +
                            "': Ein-/Ausgabefehler des Datentr\xE4gers."});
    QCOMPARE(readTableFile(table), rowsBefore);
    QCOMPARE(fileContent(table), before);
    QCOMPARE(model().rowCount(), int(rowsBefore.size()));
    QCOMPARE(editTable().state(), archive::TableState::Browse);

    // The disk is full while the export is written: the older export stays.
    const std::string target = disc->dataPath + "/CDData.db.txt";
    std::ofstream(target, std::ios::binary) << "older export";
    MessageBox::clearShown();
    {
        FileStepFaults faults;
        faults.failNth(2, ENOSPC);  // the first write after creating the fresh file
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
        QVERIFY(faults.fired() == FileStepFaults::Step::Write);
    }
    QCOMPARE(boxes(), Texts{"Die Datei '" + target + "' konnte nicht geschrieben werden: Datentr\xE4ger voll."});
    QCOMPARE(fileContent(target), std::string("older export"));
    for (const auto& entry : fs::directory_iterator(disc->dataPath))
        QVERIFY(entry.path().filename().string().front() != '.');
    QCOMPARE(fileContent(table), before);
    QVERIFY(!QApplication::overrideCursor());
}

QTEST_MAIN(InfoTest)
#include "tst_info.moc"
