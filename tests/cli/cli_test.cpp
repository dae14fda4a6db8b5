// The maintainer's tool through its commands: the findings of a crafted
// archive and of the clean sample disc, round trips of every table, the
// dialog's import beside the tool's, and the exit statuses.

#include "commands.h"
#include "cp1252.h"
#include "engine.h"
#include "filefaults.h"
#include "querytext.h"
#include "samplearchive.h"
#include "tablefile.h"
#include "testfolder.h"
#include "textexchange.h"

#include <sqlite3.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using archive::Cell;
using archive::Row;

struct Result {
    int status;
    std::string out;
    std::string err;
    std::string data;
};

Result runTool(const std::vector<std::string>& args) {
    std::ostringstream out, err, data;
    cli::Streams streams{out, err, data};
    const int status = cli::run(args, streams);
    return {status, out.str(), err.str(), data.str()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void writeTable(const std::string& folder, const archive::ViewDef& view, const std::vector<Row>& rows) {
    archive::TableFileWriter writer(folder + "/" + std::string(view.copiedFileName), view);
    for (const Row& row : rows) writer.add(row);
    writer.commit();
}

void sql(const std::string& path, const std::string& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

Row row(std::initializer_list<const char*> values) {
    Row cells;
    for (const char* value : values) cells.push_back(value ? Cell(value) : std::nullopt);
    return cells;
}

// An archive with one fault of every kind the check knows, each in a row
// of its own, beside clean rows.
void writeCraftedArchive(const std::string& folder) {
    writeTable(folder, archive::gamesView(),
               {row({"Alpha", "Action", "Actionspiel", "Nordlicht", "85", "2004/09", "gut"}),
                row({"Beta", "Action", "Actionspiel", "Nordlicht", "70", "2003/13", "x"}),
                row({"Gamma", "Action", "Actionspiel", "Nordlicht", "70", "1997/09", "x"}),
                row({"Delta", "Action", "Actionspiel", "Nordlicht", "105", "2004/01", "x"}),
                row({"Epsilon", "action", "Actionspiel", "Nordlicht", "70", "2004/01", "x"}),
                row({"Zeta", "Action", "Adventur", "Nordlicht", "70", "2004/01", "x"}),
                row({nullptr, "Action", "Actionspiel", "Nordlicht", "70", "2004/01", "x"}),
                row({"Eta", "Action", "Actionspiel", " Nordlicht", "70", "2004/01", "x"}),
                row({"Alpha", "Action", "Actionspiel", "Nordlicht", "60", "2004/09", "x"}),
                row({"Theta", "Action", "Actionspiel", "Nordlicht", "70", "2004/01", "x"}),
                row({"Iota", " Strategie ", "Strategiespiel", "Nordlicht", nullptr, "2004/01", "x"})});
    // A character the program cannot show, written as another program would.
    sql(folder + "/GameData.DB", "UPDATE GameData SET KOMMENTAR = 'Haken \xE2\x9C\x93' WHERE rowid = 10");
    writeTable(folder, archive::discView(),
               {row({"Demo Eins", "2004/10", "Demo", "CD"}), row({"Demo Zwei", "2004/10", "Demo ", "cd"}),
                row({"Demo Drei", "2004/10", "Trailer", "CD/DVD"})});
    sql(folder + "/TippsData.DB",
        "CREATE TABLE TippsData (TITEL TEXT, AUSGABE TEXT, ART TEXT, COUNTER TEXT, NOTIZ TEXT);"
        "INSERT INTO TippsData VALUES ('Alpha', '2004/08', 'Cheat', '1', NULL);"
        "INSERT INTO TippsData VALUES ('Beta', '2004/99', 'L\xC3\xB6sung', 'x', NULL);");
}

TEST(CheckTest, CraftedArchiveGivesOneLinePerFault) {
    TestFolder folder;
    writeCraftedArchive(folder.path());
    const Result result = runTool({"pruefen", folder.path()});
    EXPECT_EQ(result.status, cli::kFindings) << result.err;
    const std::vector<std::string> expected{
        "GameData, Zeile 2, AUSGABE = '2003/13': keine Ausgabe der Form JJJJ/MM mit Monat 1 bis 12",
        "GameData, Zeile 3, AUSGABE = '1997/09': vor der ersten Ausgabe 10/1997",
        "GameData, Zeile 4, WERTUNG = '105': keine ganze Zahl von 0 bis 100",
        "GameData, Zeile 5, RUBRIK = 'action': kein Name der Liste; gemeint ist wohl 'Action'",
        "GameData, Zeile 6, GENRE = 'Adventur': kein Name der Liste",
        "GameData, Zeile 7, TITEL = (leer): leerer Titel",
        "GameData, Zeile 8, HERSTELLER = ' Nordlicht': Leerzeichen am Anfang oder Ende",
        "GameData, Zeile 9, TITEL = 'Alpha': wiederholt Titel, Ausgabe und Rubrik oder Art von Zeile 1",
        "GameData, Zeile 10, KOMMENTAR = 'Haken ?': Zeichen au\xDF" "erhalb von Windows-1252",
        "GameData, Zeile 11, RUBRIK = ' Strategie ': kein Name der Liste; gemeint ist wohl 'Strategie'",
        "GameData: 11 Zeilen, 10 Befunde",
        "CDData, Zeile 2, ART = 'Demo ': kein Name der Liste; gemeint ist wohl 'Demo'",
        "CDData, Zeile 2, MEDIUM = 'cd': kein Name der Liste; gemeint ist wohl 'CD'",
        "CDData, Zeile 3, ART = 'Trailer': kein Name der Liste",
        "CDData: 3 Zeilen, 3 Befunde",
        "TippsData, COUNTER: Feld hat den Typ 'TEXT', erwartet eine ganze Zahl",
        "TippsData, NOTIZ: Feld geh\xF6rt nicht zur Tabellendefinition",
        "TippsData, AUSGABE = '2004/99': die gr\xF6\xDF" "te Ausgabe ist keine g\xFCltige Ausgabe; das Programm "
        "nimmt deshalb 10/1997 als neueste Ausgabe",
        "TippsData, Zeile 2, AUSGABE = '2004/99': keine Ausgabe der Form JJJJ/MM mit Monat 1 bis 12",
        "TippsData, Zeile 2, COUNTER = 'x': keine ganze Zahl",
        "TippsData: 2 Zeilen, 5 Befunde",
    };
    EXPECT_EQ(lines(result.out), expected);

    // The same findings as columns, the summary apart.
    const Result tsv = runTool({"pruefen", folder.path(), "--tsv"});
    EXPECT_EQ(tsv.status, cli::kFindings);
    const std::vector<std::string> columns = lines(tsv.out);
    ASSERT_EQ(columns.size(), 19u);
    EXPECT_EQ(columns[0], "Tabelle\tZeile\tFeld\tWert\tBefund");
    EXPECT_EQ(columns[4], "GameData\t5\tRUBRIK\taction\tkein Name der Liste; gemeint ist wohl 'Action'");
    EXPECT_EQ(columns[15], "TippsData\t\tNOTIZ\t\tFeld geh\xF6rt nicht zur Tabellendefinition");
    EXPECT_EQ(lines(tsv.err).back(), "TippsData: 2 Zeilen, 5 Befunde");
}

// A small sample archive in a folder of its own.
struct SampleFolder {
    SampleFolder() { sampledisc::writeSampleTables(folder.path(), 400); }
    TestFolder folder;
    const std::string& path() const { return folder.path(); }
};

// A row id near the top of SQLite's range (a hand-edited file) is checked
// like any other, without memory for every id below it.
TEST(CheckTest, AHugeRowIdIsCheckedLikeAnyOther) {
    SampleFolder sample;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((sample.path() + "/GameData.DB").c_str(), &db), SQLITE_OK);
    const char* move = "UPDATE GameData SET rowid = 4611686018427387905 WHERE rowid = (SELECT max(rowid) FROM GameData)";
    EXPECT_EQ(sqlite3_exec(db, move, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    EXPECT_EQ(runTool({"pruefen", sample.path()}).status, cli::kOk);
}

TEST(CheckTest, SampleDiscIsClean) {
    SampleFolder sample;
    const Result result = runTool({"pruefen", sample.path()});
    EXPECT_EQ(result.status, cli::kOk) << result.out << result.err;
    for (const std::string& line : lines(result.out)) EXPECT_TRUE(line.ends_with("keine Befunde")) << line;
}

TEST(ExchangeTest, EveryTableRoundTripsThroughExportAndImport) {
    SampleFolder sample;
    TestFolder copy;
    ASSERT_EQ(runTool({"neu", copy.path()}).status, cli::kOk);
    for (const char* table : {"GameData", "cd", "TIPPS"}) {
        SCOPED_TRACE(table);
        const Result exported = runTool({"export", sample.path(), table, "-o", "-"});
        ASSERT_EQ(exported.status, cli::kOk) << exported.err;
        ASSERT_FALSE(exported.data.empty());
        const std::string file = copy.file("exchange.txt");
        writeFile(file, exported.data);
        const Result imported = runTool({"import", copy.path(), table, file, "--alle-felder"});
        ASSERT_EQ(imported.status, cli::kOk) << imported.err;
        // The default file is the info dialog's, beside the tables.
        ASSERT_EQ(runTool({"export", copy.path(), table}).status, cli::kOk);
        const archive::ViewDef& view = *cli::viewNamed(table);
        EXPECT_EQ(fileBytes(copy.file(std::string(view.tableFile) + ".txt")), exported.data);
    }
}

TEST(ExchangeTest, ToolImportStoresWhatTheDialogsImportStores) {
    // Five values, a single one, an empty line, a bare LF inside a value.
    const std::string file =
        "Demo\t2004/11\tDemo\tCD\textra\r\nnur Titel\r\n\r\nL\xF6sung\nzwei\t2004/11\tPatch\tDVD\r\n";
    TestFolder dialog, tool;
    for (const TestFolder* folder : {&dialog, &tool}) {
        ASSERT_EQ(runTool({"neu", folder->path()}).status, cli::kOk);
        writeFile(folder->file("import.txt"), file);
    }
    // What the info dialog does with the file.
    archive::Table table;
    table.databaseName = dialog.path();
    table.tableName = "CDData.db";
    table.setReadOnly(false);
    table.open();
    archive::ImportLineReader reader;
    reader.open(dialog.file("import.txt"));
    table.appendRecords([&](std::array<std::string, 4>& values) {
        std::string line;
        if (!reader.readLine(line)) return false;
        values = archive::splitImportLine(line);
        return true;
    });
    table.close();

    const Result imported = runTool({"import", tool.path(), "CDData", tool.file("import.txt")});
    EXPECT_EQ(imported.status, cli::kOk) << imported.err;
    EXPECT_EQ(imported.out, "4 Datens\xE4tze eingef\xFCgt.\n");
    const Result fromDialog = runTool({"export", dialog.path(), "cd", "-o", "-"});
    EXPECT_EQ(runTool({"export", tool.path(), "cd", "-o", "-"}).data, fromDialog.data);
    EXPECT_EQ(std::count(fromDialog.data.begin(), fromDialog.data.end(), '\r'), 4);
}

// A refused line stores nothing; the message names the line, the field and why.
TEST(ExchangeTest, RefusedLineStoresNothingAndProbeChangesNothing) {
    SampleFolder sample;
    const std::string before = runTool({"export", sample.path(), "spiele", "-o", "-"}).data;
    const std::string file = sample.folder.file("month.txt");
    writeFile(file, "Neu\tAction\tActionspiel\tNordlicht\t80\t2004/10\tgut\r\n"
                    "Zwei\tAction\tActionspiel\tNordlicht\tachtzig\t2004/10\tgut\r\n");
    const Result refused = runTool({"import", sample.path(), "spiele", file, "--alle-felder"});
    EXPECT_EQ(refused.status, cli::kFailed);
    EXPECT_EQ(refused.err,
              "Zeile 2: 'achtzig' ist kein g\xFCltiger Wert f\xFCr das Feld 'WERTUNG'. Nichts wurde gespeichert.\n");
    EXPECT_EQ(runTool({"export", sample.path(), "spiele", "-o", "-"}).data, before);

    // " 80" is stored as 80: the probe finds no fault in it.
    writeFile(file, "Neu\taction\tActionspiel\tNordlicht\t 80\t2004/10\tgut\r\n");
    const Result probe = runTool({"import", sample.path(), "spiele", file, "--alle-felder", "--probe"});
    EXPECT_EQ(probe.status, cli::kFindings) << probe.err;
    EXPECT_EQ(lines(probe.out),
              (std::vector<std::string>{
                  "1 Datensatz w\xFCrde eingef\xFCgt, nichts wurde ge\xE4ndert.",
                  "GameData, Dateizeile 1, RUBRIK = 'action': kein Name der Liste; gemeint ist wohl 'Action'",
                  "GameData: 1 Befund"}));
    EXPECT_EQ(runTool({"export", sample.path(), "spiele", "-o", "-"}).data, before);
}

// A file written with LF line ends would arrive as one record with LFs in
// its values: it is refused and named so. An LF inside a value of a file
// with CR LF line ends is text, as the dialog takes it.
TEST(ExchangeTest, LfLineEndsAreRefusedPlainly) {
    SampleFolder sample;
    const std::string before = runTool({"export", sample.path(), "cd", "-o", "-"}).data;
    const std::string file = sample.folder.file("month.txt");
    writeFile(file, "Demo Eins\t2004/10\tDemo\tCD\nDemo Zwei\t2004/10\tDemo\tCD\n");
    for (const char* mode : {"", "--alle-felder"}) {
        std::vector<std::string> args{"import", sample.path(), "cd", file};
        if (*mode) args.push_back(mode);
        const Result refused = runTool(args);
        EXPECT_EQ(refused.status, cli::kFailed) << mode;
        EXPECT_EQ(refused.err, "Zeile 1: Die Zeilen der Datei enden mit LF allein; der Import erwartet CR LF am Ende "
                               "jeder Zeile, wie der Export sie schreibt. Nichts wurde gespeichert.\n")
            << mode;
    }
    EXPECT_EQ(runTool({"export", sample.path(), "cd", "-o", "-"}).data, before);

    writeFile(file, "Demo\nEins\t2004/10\tDemo\tCD\r\n");
    EXPECT_EQ(runTool({"import", sample.path(), "cd", file}).status, cli::kOk);
}

// On a terminal the progress count is rewritten in place on the same stream
// the findings go to: every finding and summary must start a line of its
// own, not run on from the count.
TEST(ToolTest, ProgressNeverRunsIntoAMessage) {
    TestFolder folder;
    writeCraftedArchive(folder.path());
    std::ostringstream terminal, data;
    cli::Streams streams{terminal, terminal, data, true, 2};
    cli::run({"pruefen", folder.path()}, streams);
    // What the terminal shows: a CR returns to the start of the line, where
    // the next characters overwrite it.
    std::vector<std::string> screen(1);
    size_t column = 0;
    for (char c : terminal.str()) {
        if (c == '\n') {
            screen.emplace_back();
            column = 0;
        } else if (c == '\r') {
            column = 0;
        } else {
            std::string& line = screen.back();
            if (column < line.size()) line[column] = c; else line += c;
            ++column;
        }
    }
    std::vector<std::string> shown;
    for (std::string& line : screen) {
        line.erase(line.find_last_not_of(' ') + 1);
        if (!line.empty()) shown.push_back(line);
    }
    const Result plain = runTool({"pruefen", folder.path()});
    EXPECT_EQ(shown, lines(plain.out));
}

TEST(ToolTest, ExitStatuses) {
    SampleFolder sample;
    TestFolder crafted, empty;
    writeCraftedArchive(crafted.path());
    writeFile(empty.file("GameData.DB"), "kein SQLite");
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, cli::kFailed},
        {{"--help"}, cli::kOk},
        {{"pruefen", "--help"}, cli::kOk},
        {{"statistik", "--help"}, cli::kOk},
        {{"packen", sample.path()}, cli::kFailed},
        {{"pruefen", sample.path(), "--json"}, cli::kFailed},
        {{"pruefen"}, cli::kFailed},
        // Refused, and the table stays: the sample checks clean right after.
        {{"export", sample.path(), "spiele", "-o", sample.path() + "/CDData.DB"}, cli::kFailed},
        {{"pruefen", sample.path()}, cli::kOk},
        {{"pruefen", crafted.path()}, cli::kFindings},
        {{"pruefen", empty.path()}, cli::kFailed},
        {{"export", sample.path(), "Spielstand"}, cli::kFailed},
        {{"export", empty.path(), "GameData", "-o", "-"}, cli::kFailed},
        {{"import", sample.path(), "spiele", sample.folder.file("fehlt.txt")}, cli::kFailed},
        {{"import", sample.path(), "cd", sample.folder.file("fehlt.txt")}, cli::kFailed},
        {{"neu", sample.path()}, cli::kFailed},
        {{"statistik", sample.path(), "spiele", "--wertung", "101"}, cli::kFailed},
        {{"statistik", sample.path(), "cd", "--wertung", "50"}, cli::kFailed},
        {{"statistik", sample.path(), "spiele", "--rubrik", "Puzzle"}, cli::kFailed},
        {{"statistik", sample.path(), "tipps", "--rubrik", "cheat"}, cli::kOk},
    };
    for (const auto& [args, status] : cases) {
        std::string call;
        for (const std::string& arg : args) call += arg + " ";
        EXPECT_EQ(runTool(args).status, status) << call;
    }
}

// A computation that stops names its record by place and title, whether
// the selection read the titles or not.
TEST(ToolTest, StoppedStatisticsNameTheRecord) {
    TestFolder crafted;
    writeCraftedArchive(crafted.path());
    sql(crafted.file("GameData.DB"), "UPDATE GameData SET WERTUNG = 'viel' WHERE TITEL = 'Theta'");
    const struct {
        std::vector<std::string> args;
        std::string named;
    } cases[] = {
        {{"statistik", crafted.path(), "spiele"}, "(Datensatz 10, Titel 'Theta')"},
        {{"statistik", crafted.path(), "spiele", "--titel", "eta"}, "(Datensatz 4, Titel 'Theta')"},
    };
    for (const auto& [args, named] : cases) {
        const Result result = runTool(args);
        EXPECT_EQ(result.status, cli::kFailed);
        EXPECT_NE(result.err.find("'viel' ist kein"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
    }
}

// A failure at any step of making the tables leaves none of them behind, so
// that a second try is not refused.
TEST(ToolTest, NewTablesAreAllThreeOrNone) {
    for (int step = 1;; ++step) {
        SCOPED_TRACE(step);
        TestFolder folder;
        FileStepFaults faults;
        faults.failNth(step, EIO);
        const Result result = runTool({"neu", folder.path()});
        const bool fired = faults.fired().has_value();
        faults.disarm();
        size_t tables = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            tables += entry.path().extension() == ".DB";
        EXPECT_EQ(tables, fired ? 0u : 3u);
        EXPECT_EQ(result.status, fired ? cli::kFailed : cli::kOk);
        if (!fired) break;
        ASSERT_EQ(runTool({"neu", folder.path()}).status, cli::kOk);
    }
}

// A report cut short by a full disk is a failure, not a clean check.
TEST(ToolTest, AReportThatCannotBeWrittenFails) {
    SampleFolder sample;
    const std::string command = std::string(QUILLORA_ARCHIV_EXE) + " pruefen '" + sample.path() + "' > /dev/full 2> /dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), cli::kFailed);
}

// The tool as its own process, beside a reader in this one: the reader sees
// the rows the tool added as it sees any change from outside.
TEST(ToolTest, ProgramSeesWhatTheToolWrites) {
    SampleFolder sample;
    archive::ViewState state;
    state.DataPath = sample.path();
    archive::Query query;
    query.databaseName = sample.path();
    query.sql = archive::buildQueryText(state, archive::discView().tableFile).lines;
    query.open();
    const int before = query.recordCount();
    const std::string file = sample.folder.file("month.txt");
    writeFile(file, "Neu\t2004/11\tDemo\tCD\r\nAuch neu\t2004/11\tPatch\tDVD\r\n");
    // Called with the folder named relative to the current one.
    const std::filesystem::path folder(sample.path());
    const std::string tool = "cd '" + folder.parent_path().string() + "' && " + QUILLORA_ARCHIV_EXE;
    const std::string name = folder.filename().string();
    for (const std::string& command :
         {tool + " statistik " + name + " cd > /dev/null", tool + " import " + name + " cd '" + file + "' > /dev/null"}) {
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 0) << command;
    }
    query.close();
    query.open();
    EXPECT_EQ(query.recordCount(), before + 2);
}

}  // namespace
