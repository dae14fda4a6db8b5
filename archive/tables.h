#pragma once
// The one definition of the archive: the three views, their table files and
// fields in order, grid titles and widths, category fields and code lists.
// All strings are Windows-1252 bytes.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace archive {

enum class FieldKind { Text, Integer };

struct CodeEntry {
    std::string_view code;
    std::string_view name;
};

// What leaving a field's cell in the edit mode does to its value.
enum class ExitRule { None, ExpandCode, CompleteIssue };

// Everything the program knows of a field, in one place: the grid, the sort
// and the edit mode read it from here.
struct FieldDef {
    std::string_view name;       // upper case, as used in queries
    FieldKind kind;
    std::string_view gridTitle;  // also the field's display label
    int gridWidth;               // pixels
    // A first click on its title sorts largest first (ratings, issues,
    // counters), otherwise ascending.
    bool descendingFirst = false;
    ExitRule exitRule = ExitRule::None;
    std::span<const CodeEntry> codes = {};  // the list ExpandCode reads
    // A click in the edit mode steps the value through the media.
    bool cyclesMedia = false;
};

struct ViewDef {
    std::string_view name;              // "Spiele", "CD-Inhalt", "Tipps"
    std::string_view tableFile;         // name the views ask for, e.g. "GameData.db"
    std::string_view copiedFileName;    // name the hard-disk copy writes, e.g. "GameData.DB"
    std::string_view categoryField;     // "RUBRIK" or "ART"
    std::span<const FieldDef> fields;
    std::span<const std::string_view> categories;  // offered after "(alle)"
    bool ratingListEnabled;
    // The rows of the view's statistics table below "Alle …": the categories
    // of the games; for disc contents and tips the kinds counted, the last
    // one the rest kind that takes every entry matching no other.
    std::span<const std::string_view> statisticsRows = {};
};

inline constexpr std::string_view kViewGames = "Spiele";
inline constexpr std::string_view kViewDisc = "CD-Inhalt";
inline constexpr std::string_view kViewTips = "Tipps";
inline constexpr std::string_view kAllEntries = "(alle)";

const ViewDef& gamesView();
const ViewDef& discView();
const ViewDef& tipsView();
// In the order the hard-disk copy handles the files: games, disc, tips.
std::span<const ViewDef* const> allViews();
const ViewDef* findView(std::string_view name);
const ViewDef* findViewByTableFile(std::string_view fileName);  // ignores case
// Index of the field in the view's field order, or -1. Ignores case.
int fieldIndex(const ViewDef& view, std::string_view fieldName);
// The field the grid shows under the column title `title` (compared exactly,
// with case: a field name standing as the title before the grid is formatted
// is no title), or nothing.
const FieldDef* fieldByGridTitle(const ViewDef& view, std::string_view title);

// Why a table with these field names, in this order, cannot be shown in the
// view: the first field of the view that is missing or stands elsewhere.
// Nothing when the view's fields come first in its order (letter case
// ignored); fields after them are let be.
std::optional<std::string> fieldMismatchText(const ViewDef& view, std::string_view tableName,
                                             std::span<const std::string> fieldNames);

// Code lists. Codes compare after conversion to upper case.
std::span<const CodeEntry> sectionCodes();   // RUBRIK of the games
std::span<const CodeEntry> genreCodes();     // GENRE of the games
std::span<const CodeEntry> tipKindCodes();   // ART of the tips
std::span<const std::string_view> discItemKinds();  // ART of the disc contents
std::span<const std::string_view> media();          // MEDIUM of the disc contents
std::span<const std::string_view> ratingThresholds();  // "(alle)", "10" … "90"

// The full name for a code (the whole value, any letter case), or nothing.
std::optional<std::string_view> expandCode(std::span<const CodeEntry> codes, std::string_view value);

// The medium that follows an upper-cased MEDIUM value in the edit-mode cycle
// CD -> CD/DVD -> DVD -> CD; nothing for any other value.
std::optional<std::string_view> nextMedium(std::string_view upperValue);

// The disc: the tables lie in DATA below the start folder, the engine
// installer in QLEngine beside it.
inline constexpr std::string_view kDataFolder = "DATA";
inline constexpr std::string_view kEngineFolder = "QLEngine";
inline constexpr std::string_view kEngineSetupName = "Setup.exe";

// Issue codes: "YYYY/MM", seven characters.
inline constexpr std::string_view kIssuePattern = "2001/00";
inline constexpr int kFirstIssueMonth = 10;
inline constexpr int kFirstIssueYear = 1997;

struct Issue {
    int month = kFirstIssueMonth;
    int year = kFirstIssueYear;
};
// Reads characters 1-4 as the year and 6-7 as the month. Nothing when the text
// is not a well-formed code of an issue (month 1 to 12, year four digits).
std::optional<Issue> parseIssueCode(std::string_view code);
// The newest issue as the program takes it from the greatest issue code of
// a table: that code read as an issue; the first issue when the table has
// none (nullptr) or the code is no well-formed one.
Issue newestIssueFrom(const std::string* newestCode);

// Completes a short issue entry against "2001/00": the entry replaces the end of
// the pattern. Nothing for an empty entry or one longer than seven characters.
std::optional<std::string> completeIssueCode(std::string_view entry);

}  // namespace archive
