// The engine's fast paths (ranks from distinct values, the collation, the
// table read by two threads, loads in the background, the greatest value
// without an image) must answer exactly as a plain reading of the file does.
// The games table here is generated from a seed (QUILLORA_EQUIVALENCE_SEED
// overrides it) and is large enough to be read by two threads; the main
// window's statements run on it and are checked against the same question
// put to SQLite itself, with the archive's collation and upper case
// registered, and against another image of the same file.

#include "collation.h"
#include "cp1252.h"
#include "engine.h"
#include "imagecache.h"
#include "imagefile.h"
#include "imagefileformat.h"
#include "querytext.h"
#include "scopedvariable.h"
#include "sorting.h"
#include "tablefixtures.h"
#include "tableimage.h"
#include "testfolder.h"
#include "viewstate.h"
#include "wholefile.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>

using namespace archive;

namespace {

using Strings = std::vector<std::string>;

// Row ids spanning more than 8 chunks, so the table is read by two threads;
// every other row of the first three quarters is deleted again, so the row
// ids have gaps where the halves are split and SQLite has fewer rows to sort.
constexpr int kWrittenRows = 40000;
constexpr int kGeneratedRows = 25000;
constexpr const char* kGamesFile = "GameData.db";

unsigned seedOfRun() {
    if (const char* text = std::getenv("QUILLORA_EQUIVALENCE_SEED")) return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
    return 20261209u;
}

// ---- the reference: SQLite with the archive's text rules registered.

// The Windows-1252 text of a UTF-8 value, into a buffer of the caller's
// (every row passes here in each reference query).
std::string_view cp1252Of(sqlite3_value* value, std::string& buffer) {
    buffer.clear();
    appendUtf8AsCp1252(buffer, std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                                static_cast<size_t>(sqlite3_value_bytes(value))));
    return buffer;
}

int collate(void*, int lengthA, const void* a, int lengthB, const void* b) {
    thread_local std::string left, right;
    left.clear();
    right.clear();
    appendUtf8AsCp1252(left, std::string_view(static_cast<const char*>(a), static_cast<size_t>(lengthA)));
    appendUtf8AsCp1252(right, std::string_view(static_cast<const char*>(b), static_cast<size_t>(lengthB)));
    return compareCollated(left, right);
}

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Each of the few thousand titles is upper-cased once, not once per query.
void upperFunction(sqlite3_context* context, int, sqlite3_value** args) {
    if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
    thread_local std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> known;
    const std::string_view utf8(reinterpret_cast<const char*>(sqlite3_value_text(args[0])),
                                static_cast<size_t>(sqlite3_value_bytes(args[0])));
    auto found = known.find(utf8);
    if (found == known.end()) {
        std::string text, upper;
        cp1252Of(args[0], text);
        for (const char c : text) appendUtf8(upper, unicodeOfCp1252(upperCp1252(static_cast<unsigned char>(c))));
        found = known.emplace(std::string(utf8), std::move(upper)).first;
    }
    sqlite3_result_text(context, found->second.data(), static_cast<int>(found->second.size()), SQLITE_STATIC);
}

// The archive's LIKE: case-sensitive, '%' any run of characters, every
// other character itself ('_' too). It runs on the UTF-8 bytes as they are:
// one text holds another's UTF-8 bytes only at a character's start, so
// bytes match where the Windows-1252 characters do.
bool likeMatches(std::string_view pattern, std::string_view text) {
    const size_t percent = pattern.find('%');
    if (percent == std::string_view::npos) return pattern == text;
    if (text.substr(0, percent) != pattern.substr(0, percent)) return false;
    const std::string_view rest = pattern.substr(percent + 1);
    for (size_t start = percent; start <= text.size(); ++start)
        if (likeMatches(rest, text.substr(start))) return true;
    return false;
}

void likeFunction(sqlite3_context* context, int, sqlite3_value** args) {
    if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    auto bytes = [](sqlite3_value* value) {
        return std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                static_cast<size_t>(sqlite3_value_bytes(value)));
    };
    sqlite3_result_int(context, likeMatches(bytes(args[0]), bytes(args[1])) ? 1 : 0);
}

class Reference {
public:
    explicit Reference(const std::string& path) {
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_create_collation(db_, "ARCHIVE", SQLITE_UTF8, nullptr, collate);
        sqlite3_create_function(db_, "upper", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, upperFunction, nullptr,
                                nullptr);
        sqlite3_create_function(db_, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeFunction, nullptr,
                                nullptr);
    }
    ~Reference() { sqlite3_close(db_); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    // Row id and the whole row of every stored row, "<NULL>" for NULL.
    std::unordered_map<int64_t, std::string> allRows(const std::string& table) {
        std::unordered_map<int64_t, std::string> rows;
        Statement stmt(db_, "SELECT rowid, * FROM " + table);
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
            std::string line;
            for (int i = 1; i < sqlite3_column_count(stmt.get()); ++i) {
                if (sqlite3_column_type(stmt.get(), i) == SQLITE_NULL)
                    line += "<NULL>";
                else
                    line += utf8ToCp1252(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), i)));
                line += '|';
            }
            rows.emplace(sqlite3_column_int64(stmt.get(), 0), line + '\n');
        }
        return rows;
    }

    std::vector<int64_t> rowIds(const std::string& sql, const std::vector<std::string>& texts = {},
                                std::optional<long long> number = std::nullopt) {
        Statement stmt(db_, sql);
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::string utf8 = cp1252ToUtf8(texts[i]);
            sqlite3_bind_text(stmt.get(), static_cast<int>(i + 1), utf8.data(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT);
        }
        if (number) sqlite3_bind_int64(stmt.get(), static_cast<int>(texts.size() + 1), *number);
        std::vector<int64_t> ids;
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(stmt.get(), 0));
        EXPECT_EQ(step, SQLITE_DONE) << sqlite3_errmsg(db_);
        return ids;
    }

private:
    class Statement {
    public:
        Statement(sqlite3* db, const std::string& sql) {
            EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr), SQLITE_OK)
                << sqlite3_errmsg(db) << " in " << sql;
        }
        ~Statement() { sqlite3_finalize(stmt_); }
        sqlite3_stmt* get() const { return stmt_; }

    private:
        sqlite3_stmt* stmt_ = nullptr;
    };

    sqlite3* db_ = nullptr;
};

// ---- what the main window asks.

struct Combination {
    std::optional<std::string> titleText;  // nothing: the title box was never used
    std::string category = std::string(kAllEntries);
    std::string rating = std::string(kAllEntries);
    std::string sortField;  // empty: no ORDER BY
    bool descending = false;

    std::string describe() const {
        return "title " + (titleText ? "\"" + *titleText + "\"" : std::string("none")) + ", category " + category +
               ", rating " + rating + ", order " + (sortField.empty() ? "none" : sortField) + (descending ? " DESC" : "");
    }
};

// The statement the main window builds for the combination.
ViewState stateFor(const Combination& combination, const std::string& folder) {
    ViewState state;
    state.DataPath = folder;
    state.CurrentView = std::string(kViewGames);
    state.CurrentTableFile = kGamesFile;
    state.CategoryField = std::string(gamesView().categoryField);
    state.SelectionFilter = selectionFilterFor(state.CategoryField, combination.category, combination.rating);
    if (combination.titleText) state.TitleFilter = titleFilterFor(*combination.titleText);
    state.SortField = combination.sortField;
    state.SortDirection = combination.descending ? std::string(kDescending) : std::string();
    return state;
}

// Every record of a data set in order, a line each.
std::string recordText(const DataSet& dataSet) {
    std::string records;
    for (const std::string& line : recordsOf(dataSet)) records.append(line).append(1, '\n');
    return records;
}

void openQuery(Query& query, const Combination& combination, const std::string& folder) {
    ViewState state = stateFor(combination, folder);
    query.databaseName = folder;
    query.sql = buildQueryText(state, kGamesFile).lines;
    query.open();
}

std::string engineRecords(const Combination& combination, const std::string& folder) {
    Query query;
    openQuery(query, combination, folder);
    return recordText(query);
}

// The row ids of a query's records in order: with each image holding the
// rows of its file, the same rows of two copies in the same order are the
// same records.
std::vector<int64_t> engineRowIds(const Combination& combination, const std::string& folder) {
    Query query;
    openQuery(query, combination, folder);
    std::vector<int64_t> ids;
    ids.reserve(query.imageRows().size());
    for (const uint32_t row : query.imageRows()) ids.push_back(query.image()->rowId(row));
    return ids;
}

size_t lineCount(const std::string& records) { return static_cast<size_t>(std::count(records.begin(), records.end(), '\n')); }

// Equal results, or the first record where they part.
::testing::AssertionResult sameRecords(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t line = 0, start = 0;
    while (true) {
        const size_t endA = actual.find('\n', start), endE = expected.find('\n', start);
        const std::string_view a = endA == std::string::npos ? std::string_view(actual).substr(std::min(start, actual.size()))
                                                             : std::string_view(actual).substr(start, endA - start);
        const std::string_view e = endE == std::string::npos ? std::string_view(expected).substr(std::min(start, expected.size()))
                                                             : std::string_view(expected).substr(start, endE - start);
        if (a != e || endA != endE)
            return ::testing::AssertionFailure() << lineCount(actual) << " records against " << lineCount(expected)
                                                 << "; record " << line << " is \"" << a << "\", expected \"" << e << "\"";
        start = endA + 1;
        ++line;
    }
}

// ---- the generated archive.

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {
        // A pool of titles that repeat, besides titles of their own.
        for (int i = 0; i < 1500; ++i) pool_.push_back(newTitle());
    }

    std::string pick(std::initializer_list<const char*> values) {
        return values.begin()[random_() % values.size()];
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(random_() % n); }

    std::string newTitle() {
        std::string title;
        const int words = 1 + static_cast<int>(below(4));
        for (int i = 0; i < words; ++i) {
            if (i) title += below(9) == 0 ? "-" : " ";
            title += pick({"Stra\xDF" "e", "Strasse", "\xC4rger", "arger", "ARGER", "\xD6l", "ol", "\xFC" "ber", "Uber",
                           "caf\xE9", "CAF\xC9", "\xC6ther", "\xE6ther", "\x8C" "uvre", "\x9C" "uvre", "Zork", "zork",
                           "Anno", "1602", "503", "100%", "A_B", "a_b", "x", "Gothic", "GOTHIC", "\xDF", "SS", "\xFF",
                           "Dune", "\xC5land", "na\xEFve", "Quest", "_", "%"});
        }
        return title;
    }

    // Titles that agree in their first 60 to 67 characters: the sort keeps
    // only the beginning of a key at hand, and the cut falls before, inside
    // or after a character that weighs two key bytes. Some differ only in
    // the middle of 300 characters, where their hash does not look.
    std::string longTitle() {
        if (below(3) == 0) {
            std::string title = std::string(140, 'a') + pick({"\xDF", "ss", "S", "b", "B"}) + std::string(140, 'z');
            title.resize(300, 'z');
            return title;
        }
        return std::string(60 + below(8), 'a') + pick({"\xDF", "ss", "S", "\xC6", "ae", "a"}) + newTitle();
    }

    Cell title() {
        if (below(50) == 0) return std::nullopt;
        if (below(40) == 0) return longTitle();
        if (below(6) == 0) return newTitle() + " " + std::to_string(below(100000));
        return pool_[below(static_cast<unsigned>(pool_.size()))];
    }

    Cell section() {
        const auto names = gamesView().categories;
        switch (below(12)) {
        case 0: return std::nullopt;
        case 1: return upperAscii(names[below(static_cast<unsigned>(names.size()))]);
        case 2: return pick({"action", "Sport-Special", "Strat", "AC"});
        default: return std::string(names[below(static_cast<unsigned>(names.size()))]);
        }
    }

    Cell genre() {
        if (below(10) == 0) return std::nullopt;
        const auto codes = genreCodes();
        const CodeEntry& entry = codes[below(static_cast<unsigned>(codes.size()))];
        return std::string(below(3) == 0 ? entry.code : entry.name);
    }

    Cell maker() {
        if (below(15) == 0) return std::nullopt;
        return pick({"Acme", "acme", "ACME", "Argon Soft", "\xC4ther Games", "Aether Games", "Zeta", "\xDF" "oft",
                     "Sso", "Mu\xF1oz", "MUNOZ", "\xC9lan", "Elan"});
    }

    Cell rating() {
        if (below(8) == 0) return std::nullopt;
        if (below(40) == 0) return pick({"-3", "100", "0", "1000"});
        return std::to_string(below(101));
    }

    Cell issue() {
        if (below(30) == 0) return std::nullopt;
        if (below(25) == 0) return pick({"2004/1", "04/2004", "2004/13", "abc", "2004/1O", "2004-10", "20O4/10", " 2004/10"});
        const unsigned month = 1 + below(12);
        return std::to_string(1997 + below(9)) + (month < 10 ? "/0" : "/") + std::to_string(month);
    }

    Cell comment() {
        if (below(4) == 0) return std::nullopt;
        return pick({"Kommentar", "kommentar", "Sehr gut", "\xDC" "berragend", "uberragend", "m\xE4\xDFig", "MASSIG",
                     "Demo auf CD"}) +
               std::string(below(2) ? "" : " " + std::to_string(below(30)));
    }

    Row row() { return {title(), section(), genre(), maker(), rating(), issue(), comment()}; }

private:
    std::mt19937 random_;
    Strings pool_;
};

// The writer stores empty text as NULL; a table may still hold empty text
// (written by another tool), which sorts above NULL and matches "%%". Such a
// tool may also leave texts, REAL values and BLOBs in the rating, which
// sort after NULL and among the numbers or after them, the BLOBs last by
// their bytes, a BLOB that reads "80" among them.
void putEmptyTexts(const std::string& path) {
    runSql(path,
           "UPDATE GameData SET WERTUNG = X'3830' WHERE rowid % 251 = 17;"
           "UPDATE GameData SET WERTUNG = X'7A' WHERE rowid % 257 = 19;"
           "UPDATE GameData SET WERTUNG = X'21' WHERE rowid % 263 = 21;"
           "UPDATE GameData SET WERTUNG = 'gut' WHERE rowid % 211 = 3;"
           "UPDATE GameData SET WERTUNG = 'Gut' WHERE rowid % 223 = 5;"
           "UPDATE GameData SET WERTUNG = '\xFC" "ber 90' WHERE rowid % 227 = 7;"
           "UPDATE GameData SET WERTUNG = '' WHERE rowid % 229 = 9;"
           "UPDATE GameData SET WERTUNG = 79.5 WHERE rowid % 233 = 11;"
           "UPDATE GameData SET WERTUNG = -0.25 WHERE rowid % 239 = 13;"
           "UPDATE GameData SET WERTUNG = 1e20 WHERE rowid % 241 = 15;"
           "UPDATE GameData SET TITEL = '' WHERE rowid % 97 = 3;"
           "UPDATE GameData SET RUBRIK = '' WHERE rowid % 101 = 5;"
           "UPDATE GameData SET HERSTELLER = '' WHERE rowid % 89 = 7;"
           "UPDATE GameData SET AUSGABE = '' WHERE rowid % 83 = 11;"
           "UPDATE GameData SET KOMMENTAR = '' WHERE rowid % 13 = 1;");
}

Combination randomCombination(Generator& generator, const std::vector<Row>& rows) {
    Combination combination;
    switch (generator.below(10)) {
    case 0: break;
    case 1: combination.titleText = ""; break;
    case 2:
        combination.titleText = generator.pick({"%", "_", "a_b", "100%", "a%b", "%x", "\xE4", "\xC4", "ss", "\xDF",
                                                "\xFF", "zzzz", "\"", "e", " "});
        break;
    default: {
        // A piece of a stored title, typed in any case.
        const Cell& title = rows[generator.below(static_cast<unsigned>(rows.size()))][0];
        std::string text = title.value_or("Gothic");
        const size_t start = text.empty() ? 0 : generator.below(static_cast<unsigned>(text.size()));
        text = text.substr(start, 1 + generator.below(5));
        if (generator.below(3) == 0) text = upperAscii(text);
        if (generator.below(4) == 0)
            for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        combination.titleText = text;
    }
    }
    const auto categories = gamesView().categories;
    if (generator.below(3) == 0)
        combination.category = std::string(categories[generator.below(static_cast<unsigned>(categories.size()))]);
    const auto ratings = ratingThresholds();
    if (generator.below(3) == 0) combination.rating = std::string(ratings[generator.below(static_cast<unsigned>(ratings.size()))]);
    const auto fields = gamesView().fields;
    if (generator.below(15) != 0)
        combination.sortField = std::string(fields[generator.below(static_cast<unsigned>(fields.size()))].name);
    combination.descending = generator.below(2) == 0;
    return combination;
}

// The ORDER BY of the reference: the view's keys with the archive's
// collation (which an integer field applies to the texts a foreign file left
// in it, after its numbers), then the stored order.
std::string referenceOrder(const Combination& combination, const std::string& folder) {
    if (combination.sortField.empty()) return "rowid";
    ViewState state = stateFor(combination, folder);
    buildQueryText(state, kGamesFile);
    std::string keys = state.SortField + state.SortDirection + state.SecondaryOrder;
    std::string order;
    size_t start = 0;
    while (start <= keys.size()) {
        size_t end = keys.find(',', start);
        if (end == std::string::npos) end = keys.size();
        std::string key = keys.substr(start, end - start);
        while (!key.empty() && key.front() == ' ') key.erase(0, 1);
        const bool descending = key.size() > 5 && key.substr(key.size() - 5) == " DESC";
        const std::string field = descending ? key.substr(0, key.size() - 5) : key;
        const int index = fieldIndex(gamesView(), field);
        EXPECT_GE(index, 0) << field;
        if (index < 0) return "rowid";
        order += field;
        order += " COLLATE ARCHIVE";
        order += descending ? " DESC, " : ", ";
        start = end + 1;
    }
    return order + "rowid";
}

// The records the reference gives: the rows the filters keep, in the order
// of the sort keys over the whole table (an order restricted to a part of
// the rows is the part's order).
class ReferenceAnswers {
public:
    ReferenceAnswers(const std::string& path, const std::string& folder)
        : reference_(path), folder_(folder), rows_(reference_.allRows("GameData")) {}

    std::string records(const Combination& combination) {
        std::string sql = "SELECT rowid FROM GameData WHERE 1";
        Strings texts;
        std::optional<long long> minimum;
        if (combination.titleText) {
            sql += " AND UPPER(TITEL) LIKE ?" + std::to_string(texts.size() + 1);
            texts.push_back("%" + upperAscii(*combination.titleText) + "%");
        }
        if (combination.category != kAllEntries) {
            sql += " AND RUBRIK LIKE ?" + std::to_string(texts.size() + 1);
            texts.push_back("%" + combination.category.substr(1, 3) + "%");
        }
        if (combination.rating != kAllEntries) {
            // The reader's threshold leaves out what is no number, where
            // SQLite would keep every text and BLOB.
            sql += " AND typeof(WERTUNG) IN ('integer', 'real') AND WERTUNG >= ?" + std::to_string(texts.size() + 1);
            minimum = std::stoll(combination.rating);
        }
        const std::vector<int64_t> kept = reference_.rowIds(sql, texts, minimum);
        const std::unordered_set<int64_t> keep(kept.begin(), kept.end());

        const std::string order = referenceOrder(combination, folder_);
        auto sorted = orders_.find(order);
        if (sorted == orders_.end())
            sorted = orders_.emplace(order, reference_.rowIds("SELECT rowid FROM GameData ORDER BY " + order)).first;
        std::string records;
        records.reserve(kept.size() * 96);
        for (const int64_t id : sorted->second)
            if (keep.count(id)) records += rows_.at(id);
        return records;
    }

    size_t rowCount() const { return rows_.size(); }

private:
    Reference reference_;
    std::string folder_;
    std::unordered_map<int64_t, std::string> rows_;
    std::map<std::string, std::vector<int64_t>> orders_;
};

// One generated games table for the whole suite; tests that write work on copies.
class QueryEquivalenceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        suiteFolder_ = new TestFolder;
        generator_ = new Generator(seedOfRun());
        rows_ = new std::vector<Row>;
        for (int i = 0; i < kWrittenRows; ++i) rows_->push_back(generator_->row());
        writeTable(suiteFolder_->file(kGamesFile), gamesView(), *rows_);
        putEmptyTexts(suiteFolder_->file(kGamesFile));
        runSql(suiteFolder_->file(kGamesFile), "DELETE FROM GameData WHERE rowid % 2 = 0 AND rowid <= 30000");
    }
    static void TearDownTestSuite() {
        clearImageCache();
        delete rows_;
        delete generator_;
        delete suiteFolder_;
    }

    void SetUp() override {
        clearImageCache();
        RecordProperty("seed", std::to_string(seedOfRun()));
    }

    // A copy of the generated table in a folder of the test's own.
    std::string copyInto(const TestFolder& folder) const {
        const std::string path = folder.file(kGamesFile);
        copyWholeFile(suiteFolder_->file(kGamesFile), path);
        return path;
    }

    std::vector<Combination> combinations(int count) const {
        std::vector<Combination> list;
        for (int i = 0; i < count; ++i) list.push_back(randomCombination(*generator_, *rows_));
        // Every field in both directions at least once.
        for (const FieldDef& field : gamesView().fields)
            for (const bool descending : {false, true}) {
                Combination combination;
                combination.sortField = std::string(field.name);
                combination.descending = descending;
                list.push_back(combination);
            }
        return list;
    }

    static TestFolder* suiteFolder_;
    static Generator* generator_;
    static std::vector<Row>* rows_;
};

TestFolder* QueryEquivalenceTest::suiteFolder_ = nullptr;
Generator* QueryEquivalenceTest::generator_ = nullptr;
std::vector<Row>* QueryEquivalenceTest::rows_ = nullptr;

// The live rows of an image, all cells and row ids, in stored order.
std::string imageContents(const TableImage& image) {
    std::string contents;
    for (const uint32_t row : image.liveRows()) {
        contents += std::to_string(image.rowId(row)) + ':';
        for (int c = 0; c < static_cast<int>(image.columns().size()); ++c) {
            contents += image.isNull(row, c) ? std::string("<NULL>") : std::string(image.text(row, c));
            contents += '|';
        }
        contents += '\n';
    }
    return contents;
}

// A cache folder of the test's own, and cache files for tables of any size.
class ImageFiles {
public:
    ImageFiles() { detail::imageFileMinimumRows = 0; }
    ~ImageFiles() {
        finishImageFiles();
        clearImageCache();
        detail::imageFileMinimumRows = minimumRows_;
    }
    const TestFolder& home() const { return home_; }

private:
    TestFolder home_;
    ScopedVariable variable_{"XDG_CACHE_HOME", home_.path().c_str()};
    uint32_t minimumRows_ = detail::imageFileMinimumRows;
};

Combination byTitle() {
    Combination combination;
    combination.sortField = "TITEL";
    return combination;
}

// The table's first query, which has its cache file written, and the wait for it.
void writeImageFileOf(const std::string& folder) {
    engineRecords(byTitle(), folder);
    finishImageFiles();
}

int threadsOfProcess() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

}  // namespace

TEST_F(QueryEquivalenceTest, MainWindowStatementsAnswerAsSqliteAndAsAnImageReadByOneThread) {
    const std::string folder = suiteFolder_->path();
    const std::string path = suiteFolder_->file(kGamesFile);
    // The same rows in the same order with row ids 1, 2, 3 …: a span
    // short enough for one thread.
    TestFolder mirrorFolder;
    const std::string mirror = copyInto(mirrorFolder);
    runSql(mirror,
           "CREATE TABLE Kept AS SELECT * FROM GameData ORDER BY rowid; DELETE FROM GameData;"
           "INSERT INTO GameData SELECT * FROM Kept ORDER BY rowid; DROP TABLE Kept; VACUUM;");

    // The table is large enough for the read by two threads: the first
    // half's last chunk is filled up with deleted rows. Its copy is not.
    const std::shared_ptr<const TableImage> image = imageOf(path);
    ASSERT_GT(image->deletedCount(), 0u);
    ASSERT_EQ(image->liveRows().size(), static_cast<size_t>(kGeneratedRows));
    const std::vector<uint32_t> live = image->liveRows();
    std::unordered_map<int64_t, int64_t> mirrorIdOf;
    for (size_t i = 0; i < live.size(); ++i) mirrorIdOf.emplace(image->rowId(live[i]), static_cast<int64_t>(i + 1));
    {
        const std::shared_ptr<const TableImage> single = imageOf(mirror);
        ASSERT_EQ(single->deletedCount(), 0u);
        ASSERT_EQ(single->rowCount(), static_cast<uint32_t>(kGeneratedRows));
        ASSERT_EQ(single->rowId(single->rowCount() - 1), kGeneratedRows);
    }

    ReferenceAnswers reference(path, folder);
    ASSERT_EQ(reference.rowCount(), static_cast<size_t>(kGeneratedRows));
    const std::vector<Combination> list = combinations(200);
    size_t nonEmpty = 0, partial = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const Combination& combination = list[i];
        SCOPED_TRACE(std::to_string(i) + ": " + combination.describe());
        // The other image starts without worked-out data now and then, so
        // its first query of an order computes ranks and order afresh.
        if (i % 25 == 0) forgetImage(mirror);
        const std::string records = engineRecords(combination, folder);
        EXPECT_TRUE(sameRecords(records, reference.records(combination)));
        if (i % 8 == 0) {
            EXPECT_TRUE(sameRecords(records, engineRecords(combination, mirrorFolder.path())));
        } else {
            std::vector<int64_t> expected = engineRowIds(combination, folder);
            for (int64_t& id : expected) id = mirrorIdOf.at(id);
            EXPECT_EQ(engineRowIds(combination, mirrorFolder.path()), expected);
        }
        const size_t count = lineCount(records);
        if (count > 1) ++nonEmpty;
        if (count > 1 && count < static_cast<size_t>(kGeneratedRows)) ++partial;
        if (HasFailure()) break;
    }
    // The comparisons compared rows, and filters that kept some.
    EXPECT_GT(nonEmpty, list.size() * 2 / 3);
    EXPECT_GT(partial, list.size() / 3);
    // Still the image loaded at the start: every answer came from it.
    EXPECT_EQ(imageOf(path), image);
}

TEST_F(QueryEquivalenceTest, ImagePatchedByEditsAppendsAndDeletesAnswersAsAFreshLoad) {
    TestFolder work, mirror;
    const std::string path = copyInto(work);
    const std::vector<Combination> list = combinations(20);
    Generator& generator = *generator_;

    Table table;
    openForEditing(table, work.path(), kGamesFile);
    ASSERT_GT(table.image()->deletedCount(), 0u);  // read by two threads
    // Ranks, orders and upper-cased titles worked out before the writes.
    for (const Combination& combination : list) engineRecords(combination, work.path());

    auto expectSameAsFreshLoad = [&](const std::string& step) {
        SCOPED_TRACE(step);
        // Patched, not read again.
        EXPECT_EQ(table.image(), imageOf(path).get());
        copyWholeFile(path, mirror.file(kGamesFile));
        forgetImage(mirror.file(kGamesFile));
        for (const Combination& combination : list) {
            SCOPED_TRACE(combination.describe());
            const std::string records = engineRecords(combination, work.path());
            EXPECT_TRUE(sameRecords(records, engineRecords(combination, mirror.path())));
        }
        const GreatestValue patched = greatestValueOf(path, "AUSGABE");
        forgetImage(mirror.file(kGamesFile));
        EXPECT_EQ(patched.value, greatestValueOf(mirror.file(kGamesFile), "AUSGABE").value);
    };

    auto fieldText = [&](int field) -> std::string {
        Cell cell;
        switch (field) {
        case 0: cell = generator.title(); break;
        case 1: cell = generator.section(); break;
        case 2: cell = generator.genre(); break;
        case 3: cell = generator.maker(); break;
        case 4: cell = generator.rating(); break;
        case 5: cell = generator.issue(); break;
        default: cell = generator.comment(); break;
        }
        return cell.value_or("");
    };

    // Edits, appends and deletes, each alone and then all together.
    for (int round = 0; round < 4; ++round) {
        const int count = table.recordCount();
        if (round == 0 || round == 3) {
            // Edits anywhere, in both halves the two threads read.
            for (int i = 0; i < 8; ++i) {
                table.moveTo(static_cast<int>(generator.below(static_cast<unsigned>(count))));
                for (int n = 0; n < 1 + static_cast<int>(generator.below(3)); ++n) {
                    const int field = static_cast<int>(generator.below(7));
                    table.setFieldText(field, fieldText(field));
                }
                table.post();
            }
        }
        if (round == 1 || round == 3) {
            for (int i = 0; i < 5; ++i) {
                table.append();
                for (int field = 0; field < 7; ++field) table.setFieldText(field, fieldText(field));
                table.post();
            }
            int left = 300;
            table.appendRecords([&](std::array<std::string, 4>& values) {
                if (left-- == 0) return false;
                for (int field = 0; field < 4; ++field) values[static_cast<size_t>(field)] = fieldText(field);
                return true;
            });
        }
        if (round == 2 || round == 3) {
            for (int i = 0; i < 10; ++i) {
                const int now = table.recordCount();
                table.moveTo(i == 0 ? now - 1 : static_cast<int>(generator.below(static_cast<unsigned>(now))));
                table.deleteRecord();
            }
        }
        expectSameAsFreshLoad("round " + std::to_string(round));
        if (HasFailure()) break;
    }
    EXPECT_NE(table.recordCount(), kGeneratedRows);
}

TEST_F(QueryEquivalenceTest, BackgroundLoadGivesTheImageADirectLoadGives) {
    const std::string path = suiteFolder_->file(kGamesFile);
    const std::string direct = imageContents(*TableImage::load(path));
    ASSERT_EQ(lineCount(direct), static_cast<size_t>(kGeneratedRows));

    for (const LoadPriority priority : {LoadPriority::Soon, LoadPriority::Background}) {
        clearImageCache();
        prefetchImage(path, priority);
        const std::shared_ptr<const TableImage> prefetched = imageOf(path);
        EXPECT_TRUE(sameRecords(imageContents(*prefetched), direct));
        EXPECT_EQ(imageOf(path), prefetched);  // kept, not read again
    }

    // The program's way in: the query opens on the prefetched table.
    clearImageCache();
    prefetchTable(suiteFolder_->path(), kGamesFile);
    Combination combination;
    combination.titleText = "a";
    combination.sortField = "HERSTELLER";
    const std::string prefetchedRecords = engineRecords(combination, suiteFolder_->path());
    clearImageCache();
    EXPECT_TRUE(sameRecords(prefetchedRecords, engineRecords(combination, suiteFolder_->path())));
    EXPECT_GT(lineCount(prefetchedRecords), 1u);

    // Read ahead with the query's order worked out in the background: the
    // image comes with it, and the query shows the same records.
    clearImageCache();
    const std::string fresh = engineRecords(combination, suiteFolder_->path());
    clearImageCache();
    ViewState state = stateFor(combination, suiteFolder_->path());
    prefetchQuery(suiteFolder_->path(), buildQueryText(state, kGamesFile).lines, LoadPriority::Background, "TITEL");
    waitForPrefetches();
    const std::shared_ptr<const TableImage> prepared = imageIfAtHand(path);
    ASSERT_NE(prepared, nullptr);
    EXPECT_GT(prepared->totalMemory(), prepared->cellMemory() + sizeof(uint32_t) * 2 * kGeneratedRows);
    EXPECT_TRUE(sameRecords(engineRecords(combination, suiteFolder_->path()), fresh));
}

// A user sorts by every column in turn: the image keeps the last orders
// and the ranks they sort by, not a row's worth of each for every order and
// column it ever met. What it drops it works out again the same.
TEST_F(QueryEquivalenceTest, SortingByEveryColumnKeepsOnlyTheLastOrders) {
    const auto image = TableImage::load(suiteFolder_->file(kGamesFile));
    const int columns = static_cast<int>(image->columns().size());
    const int title = fieldIndex(gamesView(), "TITEL");
    const std::vector<SortSpec> byTitle{{title, false}};
    const std::vector<uint32_t> firstByTitle = image->sortedRows(byTitle);
    size_t dictionaries = 0;
    for (int column = 0; column < columns; ++column) dictionaries += image->dictionary(column).memory();
    dictionaries += image->dictionary(title).upper().capacity();
    for (int column = 0; column < columns; ++column)
        for (const bool descending : {false, true}) {
            const std::vector<SortSpec> keys{{column, descending}, {title, false}};
            image->sortedRows(keys);
            image->ranksAlong(keys, title);
        }
    // Per kept order: its rows, the title's ranks along it, the ranks of its two columns.
    const size_t rowArrays = TableImage::kKeptOrders * 4 * sizeof(uint32_t) * image->rowCount();
    EXPECT_LE(image->totalMemory(), image->cellMemory() + dictionaries + rowArrays);
    EXPECT_EQ(image->sortedRows(byTitle), firstByTitle);
}

TEST_F(QueryEquivalenceTest, ClearingTheCacheCancelsBackgroundLoadsPromptlyAndLeavesNoThread) {
    const std::string path = suiteFolder_->file(kGamesFile);
    // A sanitizer starts a helper thread of its own with the process's first
    // thread; this one makes sure it runs before the count.
    std::thread([] {}).join();
    const int threadsBefore = threadsOfProcess();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        prefetchImage(path, round % 2 ? LoadPriority::Background : LoadPriority::Soon);
        std::this_thread::sleep_for(std::chrono::microseconds(round * 500));
        const auto start = std::chrono::steady_clock::now();
        if (round % 3 == 2)
            forgetImage(path);
        else
            clearImageCache();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(imageIfAtHand(path), nullptr);
    }
    // A thread ends just after its result is handed over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (threadsOfProcess() > threadsBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(threadsOfProcess(), threadsBefore);
    // The cache still works after all that.
    EXPECT_EQ(imageOf(path)->liveRows().size(), static_cast<size_t>(kGeneratedRows));

    // The program ends while loads run: they stop, and the exit neither
    // hangs nor crashes.
    clearImageCache();
    TestFolder other;
    const std::string otherPath = copyInto(other);
    for (const int delayMs : {0, 3, 20}) {
        SCOPED_TRACE(delayMs);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EXIT(
            {
                prefetchImage(path);
                prefetchImage(otherPath, LoadPriority::Background);
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                std::exit(7);
            },
            ::testing::ExitedWithCode(7), "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST_F(QueryEquivalenceTest, FileChangedWhileItsBackgroundLoadRunsIsReadAgain) {
    TestFolder work, spare;
    const std::string path = copyInto(work);
    // The replacement: other rows, other size.
    std::vector<Row> replacementRows;
    for (int i = 0; i < 34000; ++i) replacementRows.push_back(game("Neu " + std::to_string(i), std::to_string(i % 100)));
    writeTable(spare.file("replacement.db"), gamesView(), replacementRows);
    const std::string replacement = imageContents(*TableImage::load(spare.file("replacement.db")));

    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        clearImageCache();
        copyWholeFile(suiteFolder_->file(kGamesFile), path);
        copyWholeFile(spare.file("replacement.db"), work.file("next.db"));
        prefetchImage(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(round * round * 2));
        std::filesystem::rename(work.file("next.db"), path);
        EXPECT_TRUE(sameRecords(imageContents(*imageOf(path)), replacement));
    }

    // Changed in place (same file), by another program, while being read.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("in place " + std::to_string(round));
        clearImageCache();
        copyWholeFile(suiteFolder_->file(kGamesFile), path);
        prefetchImage(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(round * round * 2));
        runSql(path, "UPDATE GameData SET KOMMENTAR = 'ge\xE4ndert ' || rowid WHERE rowid % 3 = " +
                         std::to_string(round % 3));
        const std::shared_ptr<const TableImage> image = imageOf(path);
        const std::string contents = imageContents(*image);
        EXPECT_NE(contents.find("ge\xE4ndert "), std::string::npos);
        EXPECT_TRUE(sameRecords(contents, imageContents(*TableImage::load(path))));
    }
}

TEST_F(QueryEquivalenceTest, GreatestValueIsTheFirstIssueOfTheNewestFirstOrderWithAndWithoutImage) {
    ImageFiles files;
    TestFolder work;
    const std::string path = work.file(kGamesFile);
    auto issues = [](std::initializer_list<Cell> values) {
        std::vector<Row> rows;
        int n = 0;
        for (const Cell& value : values) rows.push_back(game("Spiel " + std::to_string(n++), "50", "Action", value.value_or("")));
        for (Row& row : rows) row[5] = row[5] && row[5]->empty() ? Cell() : row[5];
        return rows;
    };
    struct Case {
        std::string name;
        std::vector<Row> rows;
        std::string emptyTitles;  // rows whose issue becomes empty text
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"NULLs and empty texts", issues({std::nullopt, "2003/01", "x", "2004/10", std::nullopt, "1999/12"}), "Spiel 2",
         "2004/10"},
        {"case and accent variants",
         issues({"2004/10", "2004/1o", "2004/1O", "abc", "ABC", "\xC4" "bc", "\xE4" "bc", "Abc", "abd"}), "",
         std::nullopt},
        {"only empty text and NULL", issues({std::nullopt, "x", std::nullopt, "y"}), "Spiel 1', 'Spiel 3", ""},
        {"all NULL", issues({std::nullopt, std::nullopt, std::nullopt}), "", ""},
        {"no rows", {}, "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearImageCache();
        std::filesystem::remove(path);
        writeTable(path, gamesView(), c.rows);
        if (!c.emptyTitles.empty())
            runSql(path, "UPDATE GameData SET AUSGABE = '' WHERE TITEL IN ('" + c.emptyTitles + "')");

        const GreatestValue read = greatestValueOf(path, "AUSGABE");
        EXPECT_EQ(imageIfAtHand(path), nullptr);  // one column read, no image made
        EXPECT_EQ(read.column, fieldIndex(gamesView(), "AUSGABE"));
        {
            Query some;
            some.sql = {"SELECT * FROM " + quotedLiteral(path)};
            const std::string_view fields[] = {"AUSGABE"};
            some.openFields(fields);
            EXPECT_EQ(some.fieldCount(), 1);
            EXPECT_EQ(greatestValue(some, gamesView(), "ausgabe"), read.value);
            EXPECT_EQ(imageIfAtHand(path), nullptr);  // an image of some fields is nobody else's
        }
        const std::optional<std::string> viaView = greatestValue(work.path(), kGamesFile, gamesView(), "AUSGABE");
        ASSERT_NE(imageOf(path), nullptr);
        const GreatestValue fromImage = greatestValueOf(path, "AUSGABE");
        EXPECT_EQ(read.value, fromImage.value);
        EXPECT_EQ(read.fieldNames, fromImage.fieldNames);
        EXPECT_EQ(viaView, read.value);
        // Once the table has a cache file, its summary answers: no image is made.
        finishImageFiles();
        clearImageCache();
        const GreatestValue fromSummary = greatestValueOf(path, "AUSGABE");
        EXPECT_EQ(imageIfAtHand(path), nullptr);
        EXPECT_EQ(fromSummary.value, read.value);
        EXPECT_EQ(fromSummary.fieldNames, read.fieldNames);
        EXPECT_EQ(fromSummary.column, read.column);

        Query query;
        query.databaseName = work.path();
        query.sql = {"SELECT * FROM " + quotedLiteral(path), "ORDER BY AUSGABE DESC, TITEL"};
        query.open();
        if (c.rows.empty()) {
            EXPECT_EQ(read.value, std::nullopt);
            EXPECT_EQ(query.recordCount(), 0);
        } else {
            ASSERT_TRUE(read.value.has_value());
            query.first();
            EXPECT_EQ(*read.value, query.fieldByName("AUSGABE").asString());
            if (c.expected) {
                EXPECT_EQ(*read.value, *c.expected);
            }
        }
    }

    // The generated table, read by two threads with padding rows between.
    const std::string generated = suiteFolder_->file(kGamesFile);
    clearImageCache();
    const GreatestValue read = greatestValueOf(generated, "ausgabe");
    ASSERT_TRUE(read.value.has_value());
    ASSERT_GT(imageOf(generated)->deletedCount(), 0u);
    EXPECT_EQ(greatestValueOf(generated, "AUSGABE").value, read.value);
    Query query;
    query.sql = {"SELECT * FROM " + quotedLiteral(generated), "ORDER BY AUSGABE DESC, TITEL"};
    query.open();
    EXPECT_EQ(query.fieldByName("AUSGABE").asString(), *read.value);
}

// The threads a column was read on for its greatest value; the next read
// may first change the file, as another program would.
struct ColumnReads {
    static inline std::mutex mutex;
    static inline std::vector<std::thread::id> threads;
    static inline std::string changeOnNextRead;
    static void seen(const std::string& path) {
        std::string change;
        {
            std::lock_guard lock(mutex);
            threads.push_back(std::this_thread::get_id());
            change.swap(changeOnNextRead);
        }
        if (!change.empty()) runSql(path, change);
    }
    static size_t count() {
        std::lock_guard lock(mutex);
        return threads.size();
    }
};

TEST_F(QueryEquivalenceTest, GreatestValueReadAheadIsTakenOnceAndOnlyWhileItsFileIsUnchanged) {
    TestFolder work;
    const std::string path = work.file(kGamesFile);
    const std::string newer = "UPDATE GameData SET AUSGABE = '2009/09' WHERE TITEL = 'Alt'";
    enum class Then { Nothing, ChangedWhileRead, ChangedAfterRead, Removed };
    struct Case {
        const char* name;
        Then then;
        std::optional<std::string> expected;  // nothing: the lookup fails as without the read ahead
        bool readAgainHere;
    };
    const Case cases[] = {
        {"unchanged", Then::Nothing, "2004/10", false},
        {"changed while read ahead", Then::ChangedWhileRead, "2009/09", true},
        {"changed after", Then::ChangedAfterRead, "2009/09", true},
        {"removed", Then::Removed, std::nullopt, true},
    };
    detail::columnReadHook = &ColumnReads::seen;
    struct Unhook {
        ~Unhook() { detail::columnReadHook = nullptr; }
    } unhook;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearImageCache();
        std::filesystem::remove(path);
        writeTable(path, gamesView(), {game("Alt", "50", "Action", "2003/01"), game("Neu", "70", "Action", "2004/10")});
        ColumnReads::threads.clear();
        if (c.then == Then::ChangedWhileRead) ColumnReads::changeOnNextRead = newer;

        const ViewDef* const views[] = {&gamesView()};
        readNewestIssuesAhead(work.path(), views);
        if (c.then == Then::ChangedAfterRead || c.then == Then::Removed) {
            while (ColumnReads::count() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (c.then == Then::Removed)
                std::filesystem::remove(path);
            else
                runSql(path, newer);
        }
        if (!c.expected) {
            EXPECT_THROW(newestIssueCode(work.path(), gamesView()), EngineError);
            continue;
        }
        EXPECT_EQ(newestIssueCode(work.path(), gamesView()), c.expected);
        ASSERT_EQ(ColumnReads::count(), c.readAgainHere ? 2u : 1u);
        EXPECT_NE(ColumnReads::threads[0], std::this_thread::get_id());
        if (c.readAgainHere) {
            EXPECT_EQ(ColumnReads::threads[1], std::this_thread::get_id());
        }
        // Taken once: the next lookup reads the column itself.
        EXPECT_EQ(newestIssueCode(work.path(), gamesView()), c.expected);
        EXPECT_EQ(ColumnReads::threads.back(), std::this_thread::get_id());
    }
}

TEST_F(QueryEquivalenceTest, ImageFileAnswersAsTheTableItWasWrittenOf) {
    TestFolder work;
    const std::string path = copyInto(work);
    const std::vector<Combination> list = combinations(60);
    // Ranks, dictionaries and orders worked out before the file is written go into it.
    for (size_t i = 0; i < list.size(); i += 3) engineRecords(list[i], work.path());
    ImageFiles files;
    writeImageFileOf(work.path());
    const std::shared_ptr<const TableImage> kept = readImageFile(path);
    ASSERT_NE(kept, nullptr);
    EXPECT_GT(kept->totalMemory(), kept->cellMemory() + kept->rowCount() * sizeof(uint32_t) * 4);
    EXPECT_NO_THROW(kept->requireSound());

    publishImage(kept);
    ReferenceAnswers reference(path, work.path());
    for (size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(std::to_string(i) + ": " + list[i].describe());
        EXPECT_TRUE(sameRecords(engineRecords(list[i], work.path()), reference.records(list[i])));
        if (HasFailure()) break;
    }
    EXPECT_EQ(imageOf(path), kept);  // every answer came from the file's image
}

// A cache file that is damaged, of another format, in the way, or of the
// table as it was before a change from outside is passed over: the image
// comes from the table, and the file is written anew.
TEST_F(QueryEquivalenceTest, ImageFilePassedOverWhenDamagedOrStaleAndWrittenAnew) {
    TestFolder work, mirror;
    ImageFiles files;
    const std::string path = copyInto(work);
    writeImageFileOf(work.path());
    const std::string file = imageFileOf(path);
    const std::string good = fileContent(file);
    ASSERT_GT(good.size(), 100000u);

    auto changed = [&](const std::function<void(std::string&)>& change) {
        return [&, change] {
            std::string bytes = good;
            change(bytes);
            writeFileContent(file, bytes);
        };
    };
    auto flipped = [&](size_t at) { return changed([at](std::string& b) { b[at] = static_cast<char>(b[at] ^ 0x20); }); };
    // A file made by hand to pass the checksum: `change` applied to the
    // bytes where `part` lies in the file, the checksum worked out anew.
    auto resealed = [&](std::string_view part, const std::function<void(char*)>& change) {
        return changed([part, change](std::string& b) {
            const size_t at = b.find(part);
            ASSERT_NE(at, std::string::npos);
            change(b.data() + at);
            const uint64_t sum = detail::checksumOf(std::string_view(b).substr(0, b.size() - sizeof sum));
            b.replace(b.size() - sizeof sum, sizeof sum, reinterpret_cast<const char*>(&sum), sizeof sum);
        });
    };
    const std::shared_ptr<const TableImage> goodImage = readImageFile(path);
    ASSERT_NE(goodImage, nullptr);
    const int title = static_cast<int>(std::find_if(goodImage->columns().begin(), goodImage->columns().end(),
                                                    [](const Column& c) { return c.name == "TITEL"; }) -
                                       goodImage->columns().begin());
    const std::string_view dictionary = goodImage->dictionary(title).bytes;
    const std::vector<uint32_t>& ranks = goodImage->ranks(title);
    const std::vector<uint32_t>& order = goodImage->sortedRows({{title, false}});
    auto bytesOf = [](const std::vector<uint32_t>& values, size_t from, size_t count) {
        return std::string_view(reinterpret_cast<const char*>(values.data() + from), count * sizeof(uint32_t));
    };
    const size_t otherRank = static_cast<size_t>(std::find(ranks.begin(), ranks.end(), ranks[1] + 1) - ranks.begin());
    ASSERT_LT(otherRank, ranks.size());
    auto swapWords = [](size_t first, size_t second) {
        return [first, second](char* at) {
            std::swap_ranges(at + first * sizeof(uint32_t), at + (first + 1) * sizeof(uint32_t),
                             at + second * sizeof(uint32_t));
        };
    };
    // The header: magic (8), version (4), rows per chunk (4), stamp (44), path length (8) and path;
    // then the summary's length (8) and bytes, under a checksum of its own.
    const size_t summaryAt = 76 + path.size() + 8;
    // `summary`: whether the summary alone is still read.
    const struct {
        std::string name;
        std::function<void()> place;
        bool usable;
        bool summary;
    } cases[] = {
        {"intact", changed([](std::string&) {}), true, true},
        {"empty", changed([](std::string& b) { b.clear(); }), false, false},
        {"cut by one byte", changed([](std::string& b) { b.pop_back(); }), false, true},
        {"cut in half", changed([](std::string& b) { b.resize(b.size() / 2); }), false, true},
        {"a byte of the cells flipped", flipped(good.size() / 2), false, true},
        {"a byte of the summary flipped", flipped(summaryAt + 12), false, false},
        {"a byte of the stamp flipped", flipped(40), false, false},
        {"a byte of the path flipped", flipped(72), false, false},
        {"a byte of the checksum flipped", flipped(good.size() - 3), false, true},
        {"another format version", changed([](std::string& b) { b[8] = static_cast<char>(b[8] + 1); }), false, false},
        {"resealed unchanged", resealed(dictionary, [](char*) {}), true, true},
        {"a title of the dictionary changed", resealed(dictionary, [](char* at) { at[2] ^= 0x01; }), false, true},
        {"two ranks of the titles swapped", resealed(bytesOf(ranks, 0, ranks.size()), swapWords(1, otherRank)), false, true},
        {"two rows of the title order swapped", resealed(bytesOf(order, 0, order.size()), swapWords(0, 1)), false, true},
        {"a folder in its place", [&] { std::filesystem::create_directory(file); }, false, false},
        {"a pipe in its place", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, false, false},
        {"the table's time touched", [&] {
             writeFileContent(file, good);
             std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
         }, false, false},
        {"the table changed from outside", [&] {
             writeFileContent(file, good);
             runSql(path, "UPDATE GameData SET TITEL = 'Anders' WHERE rowid = 30001");
         }, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        finishImageFiles();
        std::filesystem::remove_all(file);
        c.place();
        clearImageCache();
        EXPECT_EQ(readImageFileSummary(path).has_value(), c.summary);
        EXPECT_EQ(readImageFile(path) != nullptr, c.usable);
        copyWholeFile(path, mirror.file(kGamesFile));
        const std::string fresh = imageContents(*TableImage::load(mirror.file(kGamesFile)));
        EXPECT_TRUE(sameRecords(imageContents(*TableImage::load(path)), fresh));
        EXPECT_TRUE(sameRecords(engineRecords(byTitle(), work.path()), engineRecords(byTitle(), mirror.path())));
        finishImageFiles();
        // Over a folder no file can be written.
        if (c.name != "a folder in its place") {
            EXPECT_NE(readImageFile(path), nullptr);
        }
    }
}

TEST_F(QueryEquivalenceTest, ImageFileNeverWrittenOfADamagedTable) {
    TestFolder work;
    ImageFiles files;
    const std::string path = work.file(kGamesFile);
    writeLivedInTable(path, gamesView(), 3000);
    // The rows read well; only SQLite's check of the pages finds the free list counted wrong.
    std::string bytes = fileContent(path);
    bytes[39] = static_cast<char>(bytes[39] + 7);
    writeFileContent(path, bytes);
    Query query;
    EXPECT_THROW(openQuery(query, byTitle(), work.path()), EngineError);
    // Offered as read ahead, before anyone asked for the check's verdict.
    offerImageFile(TableImage::load(path));
    finishImageFiles();
    EXPECT_FALSE(std::filesystem::exists(imageFileOf(path)));
    EXPECT_EQ(work.listing(), std::vector<std::string>{kGamesFile});
}

// The writer lets go of an image once its file is written: a session that
// reads a large table again and again must not keep every image it read.
TEST_F(QueryEquivalenceTest, ImageFileWriterKeepsNoImageOnceDone) {
    TestFolder work;
    ImageFiles files;
    const std::string path = copyInto(work);
    std::weak_ptr<const TableImage> first, second;
    for (std::weak_ptr<const TableImage>* offered : {&first, &second}) {
        if (offered == &second) {
            // Another state of the table, so that its image is written anew.
            finishImageFiles();
            std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
        }
        std::shared_ptr<const TableImage> image = TableImage::load(path);
        *offered = image;
        offerImageFile(std::move(image));
    }
    finishImageFiles();
    EXPECT_TRUE(first.expired());
    EXPECT_TRUE(second.expired());
    EXPECT_TRUE(std::filesystem::exists(imageFileOf(path)));
}

TEST_F(QueryEquivalenceTest, ImageFileFolderFollowsXdgCacheHomeAndNeverLiesBesideATable) {
    {
        ScopedVariable cache("XDG_CACHE_HOME", nullptr);
        ScopedVariable home("HOME", nullptr);
        const struct {
            const char* cache;
            const char* home;
            std::string folder;
        } cases[] = {
            {"/srv/cache/", "/home/leser", "/srv/cache/Vortagon/Quillora/images"},
            {"relative/cache", "/home/leser", "/home/leser/.cache/Vortagon/Quillora/images"},
            {nullptr, "/home/leser/", "/home/leser/.cache/Vortagon/Quillora/images"},
            {"", nullptr, ""},
            {nullptr, "relative", ""},
        };
        for (const auto& c : cases) {
            cache.set(c.cache);
            home.set(c.home);
            EXPECT_EQ(imageFileFolder(), c.folder) << (c.cache ? c.cache : "unset") << ", " << (c.home ? c.home : "unset");
        }
    }
    ImageFiles files;
    const std::string folder = imageFileFolder();
    ASSERT_EQ(folder, files.home().path() + "/Vortagon/Quillora/images");
    EXPECT_EQ(imageFileOf(folder + "/GameData.db"), "");
    EXPECT_EQ(imageFileOf(folder + "/./GameData.db"), "");
    EXPECT_NE(imageFileOf("/a/GameData.db"), imageFileOf("/b/GameData.db"));

    TestFolder work;
    const std::string path = copyInto(work);
    writeImageFileOf(work.path());
    const std::string file = imageFileOf(path);
    ASSERT_TRUE(file.starts_with(folder + "/")) << file;
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(work.listing(), std::vector<std::string>{kGamesFile});
}
