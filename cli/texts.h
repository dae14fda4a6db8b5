#pragma once
// Every text of the maintainer's tool in one place: German, Windows-1252.

#include "tables.h"

#include <array>
#include <string_view>
#include <utility>

namespace cli::texts {

inline constexpr std::string_view kUsage =
    "Aufruf: quillora-archiv BEFEHL [ARGUMENTE]\n"
    "\n"
    "Pflegt die Tabellen des Archivs ohne Fenster.\n"
    "\n"
    "Befehle:\n"
    "  pruefen ORDNER [--tsv]               pr\xFC" "ft die drei Tabellen\n"
    "  export ORDNER TABELLE [-o DATEI]     schreibt eine Tabelle als Textdatei\n"
    "  import ORDNER TABELLE DATEI [--alle-felder] [--probe]\n"
    "                                       f\xFCgt die Zeilen einer Textdatei an\n"
    "  statistik ORDNER TABELLE [--titel TEXT] [--wertung N] [--rubrik NAME]\n"
    "                                       gibt die Zahlen des Statistikfensters aus\n"
    "  neu ORDNER                           legt die drei leeren Tabellen an\n"
    "\n"
    "ORDNER ist ein Datenordner mit GameData.DB, CDData.DB und TippsData.DB.\n"
    "TABELLE ist GameData, CDData oder TippsData (oder spiele, cd, tipps).\n"
    "\"quillora-archiv BEFEHL --help\" erkl\xE4rt einen Befehl.\n";

// The check's help names the first issue (firstIssueText()) between its two parts.
inline constexpr std::string_view kCheckHelpHead =
    "Aufruf: quillora-archiv pruefen ORDNER [--tsv]\n"
    "\n"
    "Pr\xFC" "ft die Felder jeder Tabelle gegen die Tabellendefinition, l\xE4sst SQLite\n"
    "die Datei pr\xFC" "fen (integrity_check) und pr\xFC" "ft jede Zeile: Ausgabe JJJJ/MM\n"
    "von ";
inline constexpr std::string_view kCheckHelpTail =
    " bis zur neuesten Ausgabe, Wertung leer oder 0 bis 100, Rubriken,\n"
    "Arten, Genres und Medien genau wie in den Listen, leere Titel, Leerzeichen am\n"
    "Anfang oder Ende, Zeichen au\xDF" "erhalb von Windows-1252, Zeilen, die Titel,\n"
    "Ausgabe und Rubrik oder Art einer fr\xFC" "heren wiederholen.\n"
    "\n"
    "  --tsv   die Befunde als Tabulator-getrennte Spalten (Tabelle, Zeile, Feld,\n"
    "          Wert, Befund) mit Kopfzeile; die Zusammenfassung dann auf stderr\n"
    "\n"
    "R\xFC" "ckgabewert: 0 ohne Befund, 1 mit Befunden, 2 wenn eine Tabelle nicht\n"
    "gelesen werden kann.\n";

inline constexpr std::string_view kExportHelp =
    "Aufruf: quillora-archiv export ORDNER TABELLE [-o DATEI]\n"
    "\n"
    "Schreibt die Tabelle Byte f\xFCr Byte wie der Export des Info-Fensters:\n"
    "eine Zeile je Datensatz, die Felder in Tabellenfolge, getrennt durch TAB,\n"
    "jede Zeile mit CR LF beendet, Windows-1252.\n"
    "\n"
    "  -o DATEI   die Zieldatei (Vorgabe: <TABELLE>.db.txt im ORDNER);\n"
    "             -o - schreibt auf die Standardausgabe\n";

inline constexpr std::string_view kImportHelp =
    "Aufruf: quillora-archiv import ORDNER TABELLE DATEI [--alle-felder] [--probe]\n"
    "\n"
    "Ohne Optionen wie der Import des Info-Fensters: vier Werte je Zeile, nur in\n"
    "die CD-Inhalte. Alle Zeilen werden in einem Schritt gespeichert: wird eine\n"
    "Zeile abgelehnt, bleibt die Tabelle unver\xE4ndert, und die Meldung nennt die\n"
    "Zeile, das Feld und den Grund. Jede Zeile endet mit CR LF, wie der Export sie\n"
    "schreibt; eine Datei mit LF allein am Zeilenende wird abgewiesen.\n"
    "\n"
    "  --alle-felder   ganze Zeilen jeder Tabelle in der Feldfolge des Exports\n"
    "  --probe         \xE4ndert nichts; meldet, was angef\xFCgt w\xFCrde und was\n"
    "                  \"pruefen\" zu diesen Zeilen sagen w\xFCrde\n";

inline constexpr std::string_view kStatisticsHelp =
    "Aufruf: quillora-archiv statistik ORDNER TABELLE [--titel TEXT] [--wertung N]\n"
    "                                  [--rubrik NAME]\n"
    "\n"
    "Grenzt die Tabelle ein wie die Suche des Programms und gibt die Zahlen des\n"
    "Statistikfensters Tabulator-getrennt aus: die Tabelle des Fensters genau wie\n"
    "Strg+C sie kopiert, dann je Monat die Werte mit der Zahl der Ausgaben, bei\n"
    "den Spielen zuletzt die Wertungsverteilung.\n"
    "\n"
    "  --titel TEXT    nur Titel, die TEXT enthalten\n"
    "  --wertung N     nur Spiele mit einer Wertung ab N (0 bis 100)\n"
    "  --rubrik NAME   nur diese Rubrik (Spiele) oder Art (CD-Inhalte, Tipps)\n";

inline constexpr std::string_view kNewHelp =
    "Aufruf: quillora-archiv neu ORDNER\n"
    "\n"
    "Legt im ORDNER die drei leeren Tabellen GameData.DB, CDData.DB und\n"
    "TippsData.DB an. Liegt dort schon eine der Tabellen, wird nichts angelegt.\n";

// The tool's short names of the tables, beside their file names: view name by short name.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kShortNames{{
    {"spiele", archive::kViewGames},
    {"cd", archive::kViewDisc},
    {"tipps", archive::kViewTips},
}};

// Statistics: the headings of the sections after the window's table.
inline constexpr std::string_view kGameMonthHeading =
    "Monat\tAusgaben\tTests\tWertungssumme\tTests je Ausgabe\tWertungsschnitt";
inline constexpr std::string_view kKindMonthHeading = "Monat\tAusgaben\tEintr\xE4ge\tEintr\xE4ge je Ausgabe";
inline constexpr std::string_view kDistributionHeading = "Wertung\tAnzahl";

// Messages.
inline constexpr std::string_view kUnknownCommand = "Unbekannter Befehl";
inline constexpr std::string_view kUnknownOption = "Unbekannte Option";
inline constexpr std::string_view kMissingArguments = "Zu wenige Argumente.";
inline constexpr std::string_view kTooManyArguments = "Zu viele Argumente.";
inline constexpr std::string_view kMissingValue = "Die Option verlangt einen Wert";
inline constexpr std::string_view kSeeHelp = "\"quillora-archiv --help\" zeigt die Befehle.";
inline constexpr std::string_view kUnknownTable = "Unbekannte Tabelle";
inline constexpr std::string_view kTableNames = "GameData, CDData, TippsData, spiele, cd oder tipps";
inline constexpr std::string_view kTableMissing = "Die Tabelle liegt nicht im Ordner";
inline constexpr std::string_view kTableExists = "Die Tabelle gibt es schon, nichts wurde angelegt";
inline constexpr std::string_view kCreated = "Angelegt";
inline constexpr std::string_view kImportOnlyDisc =
    "Ohne --alle-felder nimmt der Import wie im Info-Fenster nur die CD-Inhalte (CDData) auf.";
inline constexpr std::string_view kLine = "Zeile";
inline constexpr std::string_view kFileLine = "Dateizeile";
inline constexpr std::string_view kLineRefused = "Nichts wurde gespeichert";
inline constexpr std::string_view kLfLineEnds =
    "Die Zeilen der Datei enden mit LF allein; der Import erwartet CR LF am Ende jeder Zeile, wie der "
    "Export sie schreibt.";
// After a count: "1 Datensatz", "2 Datens\xE4tze".
inline constexpr std::string_view kRecord = "Datensatz";
inline constexpr std::string_view kRecords = "Datens\xE4tze";
inline constexpr std::string_view kImported = "eingef\xFCgt";
inline constexpr std::string_view kWouldImport = "eingef\xFCgt, nichts wurde ge\xE4ndert";
inline constexpr std::string_view kWould = "w\xFC" "rde";
inline constexpr std::string_view kWouldMany = "w\xFC" "rden";
inline constexpr std::string_view kExported = "geschrieben nach";
inline constexpr std::string_view kExportOverTable = "Nichts geschrieben: die Ausgabe ginge \xFC" "ber die Tabelle";
inline constexpr std::string_view kBadRating = "Die Wertung muss eine ganze Zahl von 0 bis 100 sein";
inline constexpr std::string_view kBadCategory = "Unbekannte Rubrik oder Art";
inline constexpr std::string_view kNoRatings = "Nur die Spiele haben Wertungen.";
inline constexpr std::string_view kStatisticsStopped = "Die Statistik bricht ab";

// Check: summary and the headings of its tab-separated form.
inline constexpr std::string_view kTsvHeader = "Tabelle\tZeile\tFeld\tWert\tBefund";
inline constexpr std::string_view kRows = "Zeilen";
inline constexpr std::string_view kFindings = "Befunde";
inline constexpr std::string_view kOneFinding = "1 Befund";
inline constexpr std::string_view kNoFindings = "keine Befunde";
inline constexpr std::string_view kUnreadable = "nicht lesbar";
inline constexpr std::string_view kOutputFailed = "Die Ausgabe konnte nicht vollst\xE4ndig geschrieben werden.";
inline constexpr std::string_view kNull = "(leer)";

// Findings.
inline constexpr std::string_view kFieldMissing = "Feld fehlt";
inline constexpr std::string_view kFieldPosition = "Feld steht an Stelle";
inline constexpr std::string_view kFieldPositionWanted = "statt an Stelle";
inline constexpr std::string_view kFieldName = "Feldname weicht in der Schreibung ab, erwartet";
inline constexpr std::string_view kFieldKind = "Feld hat den Typ";
inline constexpr std::string_view kExpectInteger = "erwartet eine ganze Zahl";
inline constexpr std::string_view kExpectText = "erwartet Text";
inline constexpr std::string_view kFieldExtra = "Feld geh\xF6rt nicht zur Tabellendefinition";
inline constexpr std::string_view kIntegrity = "SQLite-Pr\xFC" "fung (integrity_check)";
inline constexpr std::string_view kIssueForm = "keine Ausgabe der Form JJJJ/MM mit Monat 1 bis 12";
inline constexpr std::string_view kIssueBeforeFirst = "vor der ersten Ausgabe";
inline constexpr std::string_view kIssueAfterNewest = "nach der neuesten Ausgabe";
// Around the first issue: "…nimmt deshalb 10/1997 als neueste Ausgabe".
inline constexpr std::string_view kNewestMalformed =
    "die gr\xF6\xDF" "te Ausgabe ist keine g\xFCltige Ausgabe; das Programm nimmt deshalb";
inline constexpr std::string_view kNewestMalformedTail = "als neueste Ausgabe";
inline constexpr std::string_view kRatingRange = "keine ganze Zahl von 0 bis 100";
inline constexpr std::string_view kNotInteger = "keine ganze Zahl";
inline constexpr std::string_view kNotInList = "kein Name der Liste";
inline constexpr std::string_view kMeant = "gemeint ist wohl";
inline constexpr std::string_view kEmptyTitle = "leerer Titel";
inline constexpr std::string_view kOuterBlanks = "Leerzeichen am Anfang oder Ende";
inline constexpr std::string_view kForeignText = "Zeichen au\xDF" "erhalb von Windows-1252";
inline constexpr std::string_view kRepeats = "wiederholt Titel, Ausgabe und Rubrik oder Art von";

}  // namespace cli::texts
