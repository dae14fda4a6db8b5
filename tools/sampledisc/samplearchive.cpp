#include "samplearchive.h"

#include "samplenames.h"
#include "samplerandom.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <unordered_set>

namespace sampledisc {
namespace {

// One fixed seed per purpose, so adding rows to one table never shifts another.
constexpr std::uint64_t kGameSeed = 0x51A7C0DE0001ULL;
constexpr std::uint64_t kGameIssueSeed = 0x51A7C0DE0002ULL;
constexpr std::uint64_t kDiscSeed = 0x51A7C0DE0003ULL;
constexpr std::uint64_t kDiscIssueSeed = 0x51A7C0DE0004ULL;
constexpr std::uint64_t kTipSeed = 0x51A7C0DE0005ULL;
constexpr std::uint64_t kTipIssueSeed = 0x51A7C0DE0006ULL;

struct Weighted {
    std::string_view key;  // a code, or a name where the list has no codes
    int weight;
};

// How the magazine's pages were shared out among its sections.
constexpr std::string_view kSoftwareSection = "SO";
constexpr std::array<Weighted, 7> kSectionWeights{{
    {"AC", 24}, {"ST", 20}, {"SP", 12}, {"SI", 12}, {"RO", 13}, {"BU", 10}, {"SO", 9}}};

// Which genres each section tests; together they cover every genre. Repeated
// codes are the likelier ones.
constexpr std::array<std::string_view, 6> kActionGenres{"AC", "AC", "3D", "3D", "ME", "WE"};
constexpr std::array<std::string_view, 5> kStrategyGenres{"ST", "EC", "EC", "AU", "WI"};
constexpr std::array<std::string_view, 3> kSportGenres{"SP", "SP", "RE"};
constexpr std::array<std::string_view, 6> kSimulationGenres{"FL", "FL", "RE", "WI", "ME", "WE"};
constexpr std::array<std::string_view, 3> kRolePlayGenres{"RO", "RO", "AD"};
constexpr std::array<std::string_view, 8> kBudgetGenres{"AC", "ST", "SP", "AD", "RE", "3D", "EC", "AU"};
constexpr std::array<std::string_view, 1> kSoftwareGenres{"SO"};

struct SectionGenres {
    std::string_view sectionCode;
    std::span<const std::string_view> genreCodes;
};
constexpr std::array<SectionGenres, 7> kGenresOfSection{{
    {"AC", kActionGenres},
    {"ST", kStrategyGenres},
    {"SP", kSportGenres},
    {"SI", kSimulationGenres},
    {"RO", kRolePlayGenres},
    {"BU", kBudgetGenres},
    {"SO", kSoftwareGenres},
}};

// Demos and patches fill the discs; full versions are the rare treat. A kind
// missing here still turns up, with the default weight.
constexpr std::array<Weighted, 8> kDiscKindWeights{{
    {"Demo", 34}, {"Patch", 20}, {"Video", 10}, {"Treiber", 8},
    {"Mods", 8},  {"Extras", 8}, {"Programm", 8}, {"Vollversion", 4}}};
constexpr std::array<Weighted, 3> kVideoMediumWeights{{{"CD", 10}, {"DVD", 50}, {"CD/DVD", 40}}};
constexpr std::array<Weighted, 3> kItemMediumWeights{{{"CD", 20}, {"DVD", 25}, {"CD/DVD", 55}}};
constexpr std::string_view kCdOnly = "CD";

constexpr std::array<Weighted, 4> kTipKindWeights{{{"C", 35}, {"K", 30}, {"L", 15}, {"T", 20}}};
constexpr int kDefaultWeight = 8;

int weightOf(std::span<const Weighted> weights, std::string_view key) {
    for (const Weighted& entry : weights)
        if (entry.key == key) return entry.weight;
    return kDefaultWeight;
}

// Picks one of `keys` by the weights given for them.
template <typename Keys, typename KeyOf>
std::string_view pickWeighted(Random& random, const Keys& keys, std::span<const Weighted> weights, KeyOf keyOf) {
    int total = 0;
    for (const auto& item : keys) total += weightOf(weights, keyOf(item));
    long long roll = random.below(total);
    for (const auto& item : keys) {
        roll -= weightOf(weights, keyOf(item));
        if (roll < 0) return keyOf(item);
    }
    return keyOf(*std::prev(std::end(keys)));
}

std::string_view nameOfCode(std::span<const archive::CodeEntry> codes, std::string_view code) {
    if (const auto name = archive::expandCode(codes, code)) return *name;
    throw std::logic_error("sample archive: the code " + std::string(code) + " is not in its code list");
}

int column(const archive::ViewDef& view, std::string_view field) {
    const int index = archive::fieldIndex(view, field);
    if (index < 0)
        throw std::logic_error("sample archive: the table " + std::string(view.name) + " has no field " +
                               std::string(field));
    return index;
}

std::vector<long long> startsOf(const std::vector<long long>& counts) {
    std::vector<long long> starts(counts.size() + 1, 0);
    for (size_t i = 0; i < counts.size(); ++i) starts[i + 1] = starts[i] + counts[i];
    return starts;
}

int issueIndexOf(archive::Issue issue) {
    return (issue.year - archive::kFirstIssueYear) * 12 + issue.month - archive::kFirstIssueMonth;
}

// The facts of a game test that other tables refer to. Every game draws from
// its own seed, so the tips and the disc contents can look a title up by the
// game's number without keeping the game table in memory.
struct GameFacts {
    std::string_view sectionCode;
    std::string_view genreCode;
    std::string title;
};

Random randomOfGame(long long gameNumber) {
    return Random(mix(kGameSeed ^ mix(static_cast<std::uint64_t>(gameNumber))));
}

GameFacts drawGameFacts(Random& random, int issueYear) {
    GameFacts facts;
    facts.sectionCode = pickWeighted(random, kSectionWeights, kSectionWeights,
                                     [](const Weighted& entry) { return entry.key; });
    for (const SectionGenres& entry : kGenresOfSection)
        if (entry.sectionCode == facts.sectionCode) facts.genreCode = random.pick(entry.genreCodes);
    facts.title = gameTitle(random, facts.genreCode, issueYear);
    return facts;
}


std::optional<int> drawRating(Random& random, std::string_view sectionCode) {
    // Software is often left unrated; now and then a game is too (a preview).
    if (random.chance(sectionCode == kSoftwareSection ? 0.5 : 0.012)) return std::nullopt;
    const double mean = sectionCode == "BU" ? 58.0 : 71.0;
    const double spread = random.unit() + random.unit() + random.unit() + random.unit() - 2.0;
    const int rating = static_cast<int>(mean + 18.0 * spread + 0.5);
    return std::clamp(rating, 8, 97);
}

// The games tested in the issues first..last (clamped to the game table), for
// disc contents and tips that belong to issue `issueIndex`.
class GamePicker {
public:
    explicit GamePicker(long long gameCount)
        : starts_(startsOf(rowsPerIssue(gameCount, issueCountUpTo(kNewestGameIssue), kGameIssueSeed))) {}

    // Tips, mods and the like only exist for games, so `gamesOnly` passes over
    // software (after a few tries it takes what it has, as a small archive may
    // hold nothing else).
    std::string titleNear(Random& random, int first, int last, bool gamesOnly = false) const {
        const int lastIssue = static_cast<int>(starts_.size()) - 2;
        first = std::clamp(first, 0, lastIssue);
        last = std::clamp(last, first, lastIssue);
        long long begin = starts_[first];
        long long end = starts_[last + 1];
        if (begin == end) {  // a small archive leaves issues empty
            begin = 0;
            end = starts_.back();
        }
        GameFacts facts;
        for (int attempt = 0; attempt < 8; ++attempt) {
            const long long gameNumber = begin + random.below(end - begin);
            const auto issue = std::upper_bound(starts_.begin(), starts_.end(), gameNumber) - starts_.begin() - 1;
            Random gameRandom = randomOfGame(gameNumber);
            facts = drawGameFacts(gameRandom, issueAt(static_cast<int>(issue)).year);
            if (!gamesOnly || facts.sectionCode != kSoftwareSection) break;
        }
        return facts.title;
    }

private:
    std::vector<long long> starts_;
};

std::string discItemTitle(Random& random, const GamePicker& games, std::string_view kind, int issue) {
    if (kind == "Demo") return games.titleNear(random, issue, issue + 2);
    if (kind == "Patch") return patchName(random, games.titleNear(random, issue - 8, issue - 1));
    if (kind == "Video") return videoName(random, games.titleNear(random, issue, issue + 3, true));
    if (kind == "Mods") return modName(random, games.titleNear(random, issue - 12, issue - 1, true));
    if (kind == "Extras") return extrasName(random, games.titleNear(random, issue - 12, issue - 1, true));
    if (kind == "Vollversion") return games.titleNear(random, issue - 48, issue - 18, true);
    if (kind == "Programm") return softwareTitle(random);
    if (kind == "Treiber") return driverName(random);
    return games.titleNear(random, issue - 6, issue);
}

int tipCounter(Random& random, std::string_view kindCode) {
    if (kindCode == "C") return random.between(1, 30);   // cheat codes listed
    if (kindCode == "L") return random.between(2, 16);   // pages of the walkthrough
    if (kindCode == "K") return random.between(1, 6);
    return random.between(1, 10);
}

}  // namespace

TableSizes tableSizes(long long gameCount) {
    if (gameCount < 1 || gameCount > kMaxGameCount)
        throw std::invalid_argument("sample archive: the number of games must lie between 1 and " +
                                    std::to_string(kMaxGameCount));
    return {gameCount, std::max(1LL, gameCount / 2), std::max(1LL, gameCount / 3)};
}

int issueCountUpTo(archive::Issue newest) { return issueIndexOf(newest) + 1; }

archive::Issue issueAt(int index) {
    const int months = archive::kFirstIssueMonth - 1 + index;
    return {months % 12 + 1, archive::kFirstIssueYear + months / 12};
}

std::string issueCodeAt(int index) {
    const archive::Issue issue = issueAt(index);
    char code[16];
    std::snprintf(code, sizeof code, "%04d/%02d", issue.year, issue.month);
    return code;
}

std::vector<long long> rowsPerIssue(long long total, int issues, std::uint64_t seed) {
    std::vector<long long> counts(static_cast<size_t>(std::max(issues, 0)), 0);
    if (total <= 0 || issues <= 0) return counts;
    if (total == 1) {
        counts.back() = 1;
        return counts;
    }
    if (total < issues) {
        // Too few rows for every issue: spread them from the first to the newest.
        for (long long row = 0; row < total; ++row)
            ++counts[static_cast<size_t>((row * (issues - 1) + (total - 1) / 2) / (total - 1))];
        return counts;
    }
    Random random(seed);
    std::vector<double> weights(counts.size());
    double weightSum = 0;
    for (int i = 0; i < issues; ++i) {
        const double growth = 0.85 + 0.3 * i / std::max(issues - 1, 1);
        weights[i] = growth * (0.85 + 0.3 * random.unit());
        weightSum += weights[i];
    }
    const long long spare = total - issues;
    double cumulative = 0;
    long long handedOut = 0;
    for (int i = 0; i < issues; ++i) {
        cumulative += weights[i];
        const long long upTo = i == issues - 1 ? spare : static_cast<long long>(spare * (cumulative / weightSum));
        counts[i] = 1 + (upTo - handedOut);
        handedOut = upTo;
    }
    return counts;
}

namespace {

// How often a title is drawn again before it is numbered instead.
constexpr int kDraws = 16;

// The word lists make only so many titles, which a big archive runs out of
// within one issue: a title still taken after the draws becomes
// "Tuchmacher (2)", "(3)", … so that no issue holds an entry twice. (The
// small archives never get here, so their tables stay as they were.)
// `taken` holds `keyPrefix` followed by each title.
std::string numberedUntilFree(std::unordered_set<std::string>& taken, const std::string& keyPrefix,
                              const std::string& title) {
    for (int number = 2;; ++number) {
        std::string numbered = title + " (" + std::to_string(number) + ")";
        if (taken.insert(keyPrefix + numbered).second) return numbered;
    }
}

}  // namespace

void generateGames(long long gameCount, const RowSink& sink) {
    const archive::ViewDef& view = archive::gamesView();
    const int titleColumn = column(view, "TITEL"), sectionColumn = column(view, "RUBRIK"),
              genreColumn = column(view, "GENRE"), makerColumn = column(view, "HERSTELLER"),
              ratingColumn = column(view, "WERTUNG"), issueColumn = column(view, "AUSGABE"),
              commentColumn = column(view, "KOMMENTAR");
    const std::vector<long long> counts = rowsPerIssue(gameCount, issueCountUpTo(kNewestGameIssue), kGameIssueSeed);
    archive::Row row(view.fields.size());
    long long gameNumber = 0;
    std::unordered_set<std::string> titlesOfIssue;
    for (size_t issue = 0; issue < counts.size(); ++issue) {
        row[issueColumn] = issueCodeAt(static_cast<int>(issue));
        const int year = issueAt(static_cast<int>(issue)).year;
        titlesOfIssue.clear();
        for (long long n = 0; n < counts[issue]; ++n, ++gameNumber) {
            Random random = randomOfGame(gameNumber);
            GameFacts facts = drawGameFacts(random, year);
            // An issue tests a game once: a title drawn twice is drawn again.
            int attempt = 0;
            for (; attempt < kDraws && !titlesOfIssue.insert(facts.title).second; ++attempt)
                facts.title = gameTitle(random, facts.genreCode, year);
            if (attempt == kDraws && !titlesOfIssue.insert(facts.title).second)
                facts.title = numberedUntilFree(titlesOfIssue, {}, facts.title);
            const std::optional<int> rating = drawRating(random, facts.sectionCode);
            row[titleColumn] = std::move(facts.title);
            row[sectionColumn] = std::string(nameOfCode(archive::sectionCodes(), facts.sectionCode));
            row[genreColumn] = std::string(nameOfCode(archive::genreCodes(), facts.genreCode));
            row[makerColumn] = makerName(random);
            row[ratingColumn] = rating ? archive::Cell(std::to_string(*rating)) : std::nullopt;
            row[commentColumn] = gameComment(random, facts.genreCode, rating);
            sink(row);
        }
    }
}

namespace {

// A title for an item of `kind` that the issue does not hold yet: one issue
// brings a game's demo and its patch, but not two demos of it.
template <typename Draw>
std::string onceInIssue(std::unordered_set<std::string>& taken, std::string_view kind, const Draw& draw) {
    std::string prefix(kind);
    prefix += '\t';
    std::string title;
    for (int attempt = 0; attempt < kDraws; ++attempt) {
        title = draw();
        if (taken.insert(prefix + title).second) return title;
    }
    return numberedUntilFree(taken, prefix, title);
}

}  // namespace

void generateDiscItems(long long gameCount, long long itemCount, const RowSink& sink) {
    const archive::ViewDef& view = archive::discView();
    const int titleColumn = column(view, "TITEL"), issueColumn = column(view, "AUSGABE"),
              kindColumn = column(view, "ART"), mediumColumn = column(view, "MEDIUM");
    const GamePicker games(gameCount);
    const std::vector<long long> counts = rowsPerIssue(itemCount, issueCountUpTo(kNewestDiscIssue), kDiscIssueSeed);
    const int firstDvdIssue = issueIndexOf(kFirstDvdIssue);
    const auto itself = [](std::string_view name) { return name; };
    Random random(kDiscSeed);
    archive::Row row(view.fields.size());
    std::unordered_set<std::string> itemsOfIssue;  // kind, TAB, title
    for (size_t issue = 0; issue < counts.size(); ++issue) {
        row[issueColumn] = issueCodeAt(static_cast<int>(issue));
        itemsOfIssue.clear();
        for (long long n = 0; n < counts[issue]; ++n) {
            const std::string_view kind = pickWeighted(random, archive::discItemKinds(), kDiscKindWeights, itself);
            row[titleColumn] = onceInIssue(itemsOfIssue, kind, [&] {
                return discItemTitle(random, games, kind, static_cast<int>(issue));
            });
            row[kindColumn] = std::string(kind);
            std::string_view medium = kCdOnly;
            if (static_cast<int>(issue) >= firstDvdIssue)
                medium = pickWeighted(random, archive::media(),
                                      kind == "Video" ? kVideoMediumWeights : kItemMediumWeights, itself);
            row[mediumColumn] = std::string(medium);
            sink(row);
        }
    }
}

void generateTips(long long gameCount, long long tipCount, const RowSink& sink) {
    const archive::ViewDef& view = archive::tipsView();
    const int titleColumn = column(view, "TITEL"), issueColumn = column(view, "AUSGABE"),
              kindColumn = column(view, "ART"), counterColumn = column(view, "COUNTER");
    const GamePicker games(gameCount);
    const std::vector<long long> counts = rowsPerIssue(tipCount, issueCountUpTo(kNewestTipIssue), kTipIssueSeed);
    Random random(kTipSeed);
    archive::Row row(view.fields.size());
    std::unordered_set<std::string> tipsOfIssue;  // kind, TAB, title
    for (size_t issue = 0; issue < counts.size(); ++issue) {
        row[issueColumn] = issueCodeAt(static_cast<int>(issue));
        tipsOfIssue.clear();
        for (long long n = 0; n < counts[issue]; ++n) {
            const std::string_view kindCode = pickWeighted(random, archive::tipKindCodes(), kTipKindWeights,
                                                           [](const archive::CodeEntry& entry) { return entry.code; });
            // Tips follow the tests: the games of the last year and a bit.
            row[titleColumn] = onceInIssue(tipsOfIssue, kindCode, [&] {
                return games.titleNear(random, static_cast<int>(issue) - 15, static_cast<int>(issue), true);
            });
            row[kindColumn] = std::string(nameOfCode(archive::tipKindCodes(), kindCode));
            row[counterColumn] = std::to_string(tipCounter(random, kindCode));
            sink(row);
        }
    }
}

void writeSampleTables(const std::string& dataFolder, long long gameCount) {
    const TableSizes sizes = tableSizes(gameCount);
    const auto write = [&](const archive::ViewDef& view, const auto& generate) {
        archive::TableFileWriter writer(dataFolder + "/" + std::string(view.copiedFileName), view);
        generate([&writer](const archive::Row& row) { writer.add(row); });
        writer.commit();
    };
    write(archive::gamesView(), [&](const RowSink& sink) { generateGames(sizes.games, sink); });
    write(archive::discView(), [&](const RowSink& sink) { generateDiscItems(sizes.games, sizes.discItems, sink); });
    write(archive::tipsView(), [&](const RowSink& sink) { generateTips(sizes.games, sizes.tips, sink); });
}

}  // namespace sampledisc
