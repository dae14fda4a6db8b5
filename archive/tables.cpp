#include "tables.h"

#include "cp1252.h"

#include <array>

namespace archive {
namespace {

constexpr std::array<CodeEntry, 7> kSectionCodes{{
    {"AC", "Action"},
    {"ST", "Strategie"},
    {"SP", "Sport"},
    {"SI", "Simulationen"},
    {"RO", "Rollenspiele"},
    {"BU", "Budget"},
    {"SO", "Software"},
}};

constexpr std::array<CodeEntry, 14> kGenreCodes{{
    {"AC", "Actionspiel"},
    {"ST", "Strategiespiel"},
    {"SP", "Sportspiel"},
    {"WI", "Wirtschaftssimulation"},
    {"AD", "Adventure"},
    {"FL", "Flugsimulation"},
    {"SO", "Software"},
    {"3D", "3D-Action"},
    {"EC", "Echtzeit-Strategie"},
    {"AU", "Aufbauspiel"},
    {"WE", "Weltraumspiel"},
    {"ME", "Mechspiel"},
    {"RE", "Rennspiel"},
    {"RO", "Rollenspiel"},
}};

constexpr std::array<CodeEntry, 4> kTipKindCodes{{
    {"C", "Cheat"},
    {"K", "Kurztipp"},
    {"L", "L\xF6sung"},
    {"T", "Taktik"},
}};

constexpr std::array<FieldDef, 7> kGameFields{{
    {"TITEL", FieldKind::Text, "Spieletitel", 145},
    {"RUBRIK", FieldKind::Text, "Rubrik", 65, false, ExitRule::ExpandCode, kSectionCodes},
    {"GENRE", FieldKind::Text, "Genre", 90, false, ExitRule::ExpandCode, kGenreCodes},
    {"HERSTELLER", FieldKind::Text, "Entwickler/Publisher", 120},
    {"WERTUNG", FieldKind::Integer, "Wert.", 35, true},
    {"AUSGABE", FieldKind::Text, "Ausgabe", 55, true, ExitRule::CompleteIssue},
    {"KOMMENTAR", FieldKind::Text, "Kommentar", 325},
}};

constexpr std::array<FieldDef, 4> kDiscFields{{
    {"TITEL", FieldKind::Text, "Name", 190},
    {"AUSGABE", FieldKind::Text, "Ausgabe", 55, true, ExitRule::CompleteIssue},
    {"ART", FieldKind::Text, "Kategorie", 160},
    {"MEDIUM", FieldKind::Text, "CD/DVD", 50, false, ExitRule::None, {}, true},
}};

constexpr std::array<FieldDef, 4> kTipFields{{
    {"TITEL", FieldKind::Text, "Spieletitel", 220},
    {"AUSGABE", FieldKind::Text, "Ausgabe", 100, true, ExitRule::CompleteIssue},
    {"ART", FieldKind::Text, "Art", 60, false, ExitRule::ExpandCode, kTipKindCodes},
    {"COUNTER", FieldKind::Integer, "Counter", 60, true},
}};

// The names of a code list in its order, for the lists that offer them.
template <size_t N>
constexpr std::array<std::string_view, N> namesOf(const std::array<CodeEntry, N>& codes) {
    std::array<std::string_view, N> names{};
    for (size_t i = 0; i < N; ++i) names[i] = codes[i].name;
    return names;
}

// The names followed by the rest kind of a statistics table.
template <size_t N>
constexpr std::array<std::string_view, N + 1> withRest(const std::array<std::string_view, N>& names,
                                                      std::string_view rest) {
    std::array<std::string_view, N + 1> rows{};
    for (size_t i = 0; i < N; ++i) rows[i] = names[i];
    rows[N] = rest;
    return rows;
}

constexpr std::array<std::string_view, 7> kSectionNames = namesOf(kSectionCodes);
constexpr std::array<std::string_view, 8> kDiscItemKinds{
    "Demo", "Extras", "Mods", "Patch", "Programm", "Treiber", "Video", "Vollversion"};
constexpr std::array<std::string_view, 4> kTipKindNames = namesOf(kTipKindCodes);
// The disc statistics count in plural names of their own: their first four
// letters are the stems an entry's kind is matched by ("Mods" takes no "Mod").
constexpr std::array<std::string_view, 9> kDiscStatisticsRows{
    "Demos", "Extras", "Mods", "Patches", "Programme", "Treiber", "Videos", "Vollversionen", "Sonstiges"};
constexpr std::array<std::string_view, 5> kTipStatisticsRows = withRest(kTipKindNames, "Sonstige");
constexpr std::array<std::string_view, 3> kMedia{"CD", "DVD", "CD/DVD"};
constexpr std::array<std::string_view, 10> kRatingThresholds{
    kAllEntries, "10", "20", "30", "40", "50", "60", "70", "80", "90"};

const ViewDef kGames{kViewGames, "GameData.db", "GameData.DB", "RUBRIK", kGameFields, kSectionNames, true,
                     kSectionNames};
const ViewDef kDisc{kViewDisc, "CDData.db", "CDData.DB", "ART", kDiscFields, kDiscItemKinds, false,
                    kDiscStatisticsRows};
const ViewDef kTips{kViewTips, "TippsData.db", "TippsData.DB", "ART", kTipFields, kTipKindNames, false,
                    kTipStatisticsRows};

const std::array<const ViewDef*, 3> kAllViews{&kGames, &kDisc, &kTips};



bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const ViewDef& gamesView() { return kGames; }
const ViewDef& discView() { return kDisc; }
const ViewDef& tipsView() { return kTips; }
std::span<const ViewDef* const> allViews() { return kAllViews; }

const ViewDef* findView(std::string_view name) {
    for (const ViewDef* view : kAllViews)
        if (view->name == name) return view;
    return nullptr;
}

const ViewDef* findViewByTableFile(std::string_view fileName) {
    for (const ViewDef* view : kAllViews)
        if (equalsIgnoringCase(view->tableFile, fileName)) return view;
    return nullptr;
}

int fieldIndex(const ViewDef& view, std::string_view fieldName) {
    for (size_t i = 0; i < view.fields.size(); ++i)
        if (equalsIgnoringCase(view.fields[i].name, fieldName)) return static_cast<int>(i);
    return -1;
}

std::optional<std::string> fieldMismatchText(const ViewDef& view, std::string_view tableName,
                                             std::span<const std::string> fieldNames) {
    for (size_t i = 0; i < view.fields.size(); ++i) {
        const std::string_view expected = view.fields[i].name;
        if (i < fieldNames.size() && equalsIgnoringCase(fieldNames[i], expected)) continue;
        std::string text = "Die Tabelle '" + std::string(tableName) + "' passt nicht zur Ansicht '" +
                           std::string(view.name) + "': ";
        const std::string place = std::to_string(i + 1);
        if (i < fieldNames.size())
            text += "an Stelle " + place + " steht das Feld '" + fieldNames[i] + "' statt '" + std::string(expected) + "'.";
        else
            text += "das Feld '" + std::string(expected) + "' an Stelle " + place + " fehlt.";
        return text;
    }
    return std::nullopt;
}

std::span<const CodeEntry> sectionCodes() { return kSectionCodes; }
std::span<const CodeEntry> genreCodes() { return kGenreCodes; }
std::span<const CodeEntry> tipKindCodes() { return kTipKindCodes; }
std::span<const std::string_view> discItemKinds() { return kDiscItemKinds; }
std::span<const std::string_view> media() { return kMedia; }
std::span<const std::string_view> ratingThresholds() { return kRatingThresholds; }

std::optional<std::string_view> expandCode(std::span<const CodeEntry> codes, std::string_view value) {
    const std::string upper = upperCp1252(value);
    for (const CodeEntry& entry : codes)
        if (entry.code == upper) return entry.name;
    return std::nullopt;
}

std::optional<std::string_view> nextMedium(std::string_view upperValue) {
    if (upperValue == "CD") return "CD/DVD";
    if (upperValue == "CD/DVD") return "DVD";
    if (upperValue == "DVD") return "CD";
    return std::nullopt;
}

const FieldDef* fieldByGridTitle(const ViewDef& view, std::string_view title) {
    for (const FieldDef& field : view.fields)
        if (field.gridTitle == title) return &field;
    return nullptr;
}

std::optional<Issue> parseIssueCode(std::string_view code) {
    if (code.size() != 7 || code[4] != '/') return std::nullopt;
    for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u})
        if (!isDigit(code[i])) return std::nullopt;
    Issue issue;
    issue.year = (code[0] - '0') * 1000 + (code[1] - '0') * 100 + (code[2] - '0') * 10 + (code[3] - '0');
    issue.month = (code[5] - '0') * 10 + (code[6] - '0');
    if (issue.month < 1 || issue.month > 12) return std::nullopt;
    return issue;
}

Issue newestIssueFrom(const std::string* newestCode) {
    if (newestCode) {
        if (const auto issue = parseIssueCode(*newestCode)) return *issue;
    }
    return Issue{};
}

std::optional<std::string> completeIssueCode(std::string_view entry) {
    if (entry.empty() || entry.size() > kIssuePattern.size()) return std::nullopt;
    std::string completed(kIssuePattern.substr(0, kIssuePattern.size() - entry.size()));
    completed += entry;
    return completed;
}

}  // namespace archive
