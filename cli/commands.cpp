#include "commands.h"

#include "check.h"
#include "cp1252.h"
#include "engine.h"
#include "enginepaths.h"
#include "filelayer.h"
#include "querytext.h"
#include "sorting.h"
#include "statistics.h"
#include "tablefile.h"
#include "tablescan.h"
#include "textexchange.h"
#include "texts.h"
#include "wholefile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <functional>
#include <vector>
#include <utility>
#include <memory>
#include <ostream>
#include <span>
#include <stdexcept>

namespace cli {
namespace {

using archive::kIssueField;
using archive::kRatingField;

// The progress of long work on a terminal: a line rewritten in place. Any
// other message on the terminal first clears it, or the message would run
// on from the end of the count; the next step draws it again.
class Progress {
public:
    Progress(Streams& streams, std::string label) : streams_(streams), label_(std::move(label)) {}
    ~Progress() {
        if (shown_) streams_.err << '\n' << std::flush;
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void step() {
        if (!streams_.progress || ++count_ % streams_.progressEvery != 0) return;
        std::string line = label_ + ": " + std::to_string(count_) + ' ' + std::string(texts::kRows);
        streams_.err << '\r' << line << std::flush;
        shownWidth_ = line.size();
        shown_ = true;
    }
    void clear() {
        if (!shown_) return;
        streams_.err << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
        shown_ = false;
    }

private:
    Streams& streams_;
    std::string label_;
    long long count_ = 0;
    size_t shownWidth_ = 0;
    bool shown_ = false;
};

int usageError(Streams& streams, std::string_view what, std::string_view detail = {}) {
    streams.err << what;
    if (!detail.empty()) streams.err << ": " << archive::quoted(detail);
    if (!what.ends_with('.')) streams.err << '.';
    streams.err << '\n' << texts::kSeeHelp << '\n';
    return kFailed;
}

// A count of records with its noun: one "Datensatz", otherwise "Datens\xE4tze".
std::string records(long long count) {
    std::string text = std::to_string(count);
    text += ' ';
    text += count == 1 ? texts::kRecord : texts::kRecords;
    return text;
}

std::string tablePath(const std::string& folder, const archive::ViewDef& view) {
    return folder + "/" + std::string(view.tableFile);
}

// The newest issue as the program reads it at its start: from the greatest
// issue code. Nothing for a table without rows, whose newest issue no row
// can be after.
std::optional<std::string> greatestIssueCode(const std::string& folder, const archive::ViewDef& view) {
    return archive::greatestValue(folder, archive::queriedPath(folder, view.tableFile), view, kIssueField);
}

std::string shownValue(const std::optional<std::string>& value) {
    return value ? archive::quoted(archive::readableValue(*value)) : std::string(texts::kNull);
}

void writeFinding(std::ostream& out, const Finding& finding) {
    out << finding.table;
    if (finding.row != 0) out << ", " << (finding.fileLine ? texts::kFileLine : texts::kLine) << ' ' << finding.row;
    if (!finding.field.empty()) {
        out << ", " << finding.field;
        if (finding.row != 0 || finding.value) out << " = " << shownValue(finding.value);
    }
    out << ": " << finding.problem << '\n';
}

void writeTsvFinding(std::ostream& out, const Finding& finding) {
    out << finding.table << '\t';
    if (finding.row != 0) out << finding.row;
    out << '\t' << finding.field << '\t' << (finding.value ? archive::readableName(*finding.value) : std::string())
        << '\t' << finding.problem << '\n';
}

std::string findingsText(long long findings) {
    if (findings == 0) return std::string(texts::kNoFindings);
    if (findings == 1) return std::string(texts::kOneFinding);
    return std::to_string(findings) + " " + std::string(texts::kFindings);
}

// A line of an export: every TAB separates two values.
void splitWholeLine(std::string_view line, std::vector<std::string>& values) {
    values.clear();
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find(archive::kExchangeSeparator, start);
        values.emplace_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return;
        start = tab + 1;
    }
}

// A refused line of an import file, told with its number.
class LineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace

const archive::ViewDef* viewNamed(std::string_view name) {
    for (const archive::ViewDef* view : archive::allViews())
        if (archive::equalsIgnoringCase(tableLabel(*view), name)) return view;
    for (const auto& [shortName, viewName] : texts::kShortNames)
        if (archive::equalsIgnoringCase(shortName, name)) return archive::findView(viewName);
    return nullptr;
}

int checkFolder(const std::string& folder, bool tsv, Streams& streams) {
    std::ostream& summary = tsv ? streams.err : streams.out;
    long long total = 0;
    bool unreadable = false;
    if (tsv) streams.out << texts::kTsvHeader << '\n';
    for (const archive::ViewDef* view : archive::allViews()) {
        const std::string label = tableLabel(*view);
        long long findings = 0;
        long long rows = 0;
        Progress progress(streams, label);
        const FindingSink sink = [&](const Finding& finding) {
            progress.clear();
            ++findings;
            if (tsv)
                writeTsvFinding(streams.out, finding);
            else
                writeFinding(streams.out, finding);
        };
        try {
            const std::optional<std::string> path = archive::findFileIgnoringCase(folder, std::string(view->tableFile));
            if (!path) throw archive::EngineError(std::string(texts::kTableMissing) + " " + archive::quoted(folder) + ".");
            const archive::TableScan scan(*path);
            checkFields(*view, scan.fields(), sink);
            for (const std::string& damage : scan.integrityFindings())
                sink(Finding{label, 0, false, {}, std::nullopt, std::string(texts::kIntegrity) + ": " + damage});
            std::optional<archive::Issue> newest;
            std::optional<std::string> greatest;
            try {
                greatest = greatestIssueCode(folder, *view);
            } catch (const archive::EngineError&) {
                // Fields the program cannot show: told above; no newest issue then.
            }
            if (greatest) {
                newest = archive::parseIssueCode(*greatest);
                if (!newest)
                    sink(Finding{label, 0, false, std::string(kIssueField), greatest,
                                 std::string(texts::kNewestMalformed) + ' ' + issueText(archive::Issue{}) + ' ' +
                                     std::string(texts::kNewestMalformedTail)});
            }
            RowChecker checker(*view, scan.fields(), newest, sink);
            // The greatest row id is only a hint at the row count: a damaged or
            // hand-edited file may hold one near 2^63. The checker grows on its
            // own beyond what is reserved.
            constexpr int64_t kMostRowsReserved = int64_t{1} << 20;
            checker.reserve(static_cast<size_t>(std::clamp<int64_t>(scan.greatestRowId(), 0, kMostRowsReserved)));
            scan.forEachRow([&](const archive::StoredRow& row) {
                ++rows;
                checker.check(row);
                progress.step();
            });
        } catch (const std::exception& error) {
            progress.clear();
            streams.err << label << ": " << error.what() << '\n';
            summary << label << ": " << texts::kUnreadable << '\n';
            unreadable = true;
            total += findings;
            continue;
        }
        progress.clear();
        summary << label << ": " << rows << ' ' << texts::kRows << ", " << findingsText(findings) << '\n';
        total += findings;
    }
    streams.out << std::flush;
    if (unreadable) return kFailed;
    return total > 0 ? kFindings : kOk;
}

int exportTable(const std::string& folder, const archive::ViewDef& view, const std::optional<std::string>& target,
                Streams& streams) {
    archive::Table table;
    table.databaseName = folder;
    table.tableName = std::string(view.tableFile);
    table.open();
    if (target && *target == "-") {
        std::string chunk;
        for (int record = 0; record < table.recordCount(); ++record) {
            archive::appendExportLine(chunk, table, record);
            if (chunk.size() >= (1u << 16)) {
                streams.data.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
                chunk.clear();
            }
        }
        streams.data.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        streams.data.flush();
        if (!streams.data) throw archive::FileWriteError(archive::fileErrorCause(EIO), EIO);
        return kOk;
    }
    // The dialog's file: the table's file name and ".txt", in the data folder.
    const std::string path = target ? *target : tablePath(folder, view) + ".txt";
    // A slip of the pen must not put text where a table was.
    for (const archive::ViewDef* table : archive::allViews()) {
        std::error_code ignored;
        if (std::filesystem::equivalent(archive::cp1252ToUtf8(path),
                                        archive::cp1252ToUtf8(archive::detail::queriedTableFile(
                                            folder, archive::queriedPath(folder, table->tableFile))),
                                        ignored)) {
            streams.err << texts::kExportOverTable << ' ' << archive::quoted(path) << ".\n";
            return kFailed;
        }
    }
    archive::WholeFileWriter out(path);
    archive::exportRecords(table, out);
    out.commit();
    streams.out << records(table.recordCount()) << ' ' << texts::kExported << ' ' << archive::quoted(path) << ".\n";
    return kOk;
}

int importFile(const std::string& folder, const archive::ViewDef& view, const std::string& file, bool allFields,
               bool probe, Streams& streams) {
    if (!allFields && &view != &archive::discView()) {
        streams.err << texts::kImportOnlyDisc << '\n';
        return kFailed;
    }
    // The rows go straight into the file: nothing here needs the table read.
    const std::string path =
        archive::findFileIgnoringCase(folder, std::string(view.tableFile)).value_or(tablePath(folder, view));
    std::vector<archive::StoredField> fields = archive::TableScan(path).fields();
    const size_t fieldCount = fields.size();

    archive::ImportLineReader reader;
    reader.open(file);
    long long line = 0;
    bool ended = false;
    std::string text;
    std::vector<archive::StoredRow> added;  // for the check of a probe
    Progress progress(streams, tableLabel(view));
    const auto nextRecord = [&](std::vector<std::string>& values) {
        if (!reader.readLine(text)) {
            ended = true;
            return false;
        }
        ++line;
        progress.step();
        // Such a file would arrive as one record with the LFs inside its values.
        if (line == 1 && !reader.lineEndedAtCr() && text.find('\n') != std::string::npos)
            throw LineError(std::string(texts::kLfLineEnds));
        if (allFields) {
            splitWholeLine(text, values);
            if (values.size() != fieldCount)
                throw LineError(archive::detail::tooManyValuesText(values.size(), fieldCount));
        } else {
            const std::array<std::string, 4> four = archive::splitImportLine(text);
            values.assign(four.begin(), four.end());
        }
        return true;
    };
    // A probe checks the values as the import stores them (" 80" as 80).
    const auto storedRecord = [&](const std::vector<archive::Cell>& record) {
        archive::StoredRow& row = added.emplace_back();
        row.rowId = line;
        row.foreign.assign(fieldCount, false);
        row.cells.assign(record.begin(), record.end());
        row.cells.resize(fieldCount);
    };
    int count = 0;
    try {
        count = archive::appendToTableFile(folder, std::string(view.tableFile), nextRecord, probe,
                                           probe ? std::function<void(const std::vector<archive::Cell>&)>(storedRecord)
                                                 : nullptr);
    } catch (const std::exception& error) {
        progress.clear();
        if (!ended && line > 0) streams.err << texts::kLine << ' ' << line << ": ";
        streams.err << error.what() << ' ' << texts::kLineRefused << ".\n";
        return kFailed;
    }
    progress.clear();
    if (!probe) {
        streams.out << records(count) << ' ' << texts::kImported << ".\n";
        return kOk;
    }
    streams.out << records(count) << ' ' << (count == 1 ? texts::kWould : texts::kWouldMany) << ' '
                << texts::kWouldImport << ".\n";
    // What the check would say of the table with these rows added.
    const archive::TableScan scan(path);
    long long findings = 0;
    const FindingSink sink = [&](const Finding& finding) {
        ++findings;
        writeFinding(streams.out, finding);
    };
    // The program reads the newest issue from the table as it will be, with these rows.
    std::optional<std::string> greatest = greatestIssueCode(folder, view);
    const auto issueField = std::find_if(fields.begin(), fields.end(), [](const archive::StoredField& field) {
        return archive::equalsIgnoringCase(field.name, kIssueField);
    });
    if (issueField != fields.end())
        for (const archive::StoredRow& row : added)
            if (const archive::Cell& code = row.cells[static_cast<size_t>(issueField - fields.begin())];
                code && (!greatest || *code > *greatest))
                greatest = code;
    RowChecker checker(view, scan.fields(), greatest ? archive::parseIssueCode(*greatest) : std::nullopt, sink);
    scan.forEachRow([&](const archive::StoredRow& row) { checker.remember(row); });
    for (const archive::StoredRow& row : added) checker.check(row, true);
    streams.out << tableLabel(view) << ": " << findingsText(findings) << '\n';
    return findings > 0 ? kFindings : kOk;
}

int printStatistics(const std::string& folder, const archive::ViewDef& view, const Selection& selection,
                    Streams& streams) {
    archive::ViewState state;
    state.DataPath = folder;
    state.CurrentView = std::string(view.name);
    state.CurrentTableFile = std::string(view.tableFile);
    state.CategoryField = std::string(view.categoryField);
    if (selection.title) state.TitleFilter = archive::titleFilterFor(*selection.title);
    state.SelectionFilter = archive::selectionFilterFor(
        view.categoryField, selection.category.value_or(std::string(archive::kAllEntries)),
        selection.minimumRating ? std::to_string(*selection.minimumRating) : std::string(archive::kAllEntries));
    archive::Query query;
    query.databaseName = folder;
    query.sql = archive::buildQueryText(state, view.tableFile).lines;
    const bool games = &view == &archive::gamesView();
    const archive::Issue first;
    archive::Issue newest;
    // Only the fields the selection and the statistics read. The titles, a
    // large column, only name the record a computation stops at: unless the
    // selection needs them, a computation that stops is done again with
    // them, so a second read costs time only on a table the maintainer has
    // to mend anyway.
    auto opened = [&](bool titles) {
        std::vector<std::string_view> fields{view.categoryField, kIssueField};
        if (titles || selection.title) fields.push_back(archive::kTitleField);
        if (games || selection.minimumRating) fields.push_back(kRatingField);
        query.openFields(fields);
        const std::optional<std::string> greatest = archive::greatestValue(query, view, kIssueField);
        newest = archive::newestIssueFrom(greatest ? &*greatest : nullptr);
        return query.fieldIndex(archive::kTitleField) >= 0;
    };
    auto computed = [&](auto compute) {
        const bool titled = opened(false);
        auto statistics = compute();
        if (!statistics.complete && !titled) {
            opened(true);
            statistics = compute();
        }
        return statistics;
    };
    std::ostream& out = streams.out;
    auto month = [&](int m, double issues) -> std::ostream& {
        return out << (m + 1) << '\t' << stats::numberText(issues);
    };
    if (games) {
        const stats::GameStatistics statistics =
            computed([&] { return stats::computeGameStatistics(query, view.statisticsRows, first, newest); });
        if (!statistics.complete) {
            streams.err << texts::kStatisticsStopped << ": " << statistics.failure << '\n';
            return kFailed;
        }
        out << stats::tableCopyText(stats::gameTable(statistics)) << '\n' << texts::kGameMonthHeading << '\n';
        for (int m = 0; m < 12; ++m) {
            const double tests = statistics.monthTestCount[m];
            month(m, statistics.issuesPerMonth[m])
                << '\t' << stats::numberText(tests) << '\t' << stats::numberText(statistics.monthRatingSum[m]) << '\t'
                << stats::tenthsText(stats::quotient(tests, statistics.issuesPerMonth[m])) << '\t'
                << stats::tenthsText(stats::quotient(statistics.monthRatingSum[m], tests)) << '\n';
        }
        out << '\n' << texts::kDistributionHeading << '\n';
        for (size_t rating = 0; rating < statistics.ratingCounts.size(); ++rating)
            out << rating << '\t' << stats::numberText(statistics.ratingCounts[rating]) << '\n';
    } else {
        const stats::KindStatistics statistics =
            computed([&] { return stats::computeKindStatistics(query, view.statisticsRows, first, newest); });
        if (!statistics.complete) {
            streams.err << texts::kStatisticsStopped << ": " << statistics.failure << '\n';
            return kFailed;
        }
        out << stats::tableCopyText(stats::kindTable(view, statistics)) << '\n' << texts::kKindMonthHeading << '\n';
        for (int m = 0; m < 12; ++m) {
            const double items = statistics.monthItemCount[m];
            month(m, statistics.issuesPerMonth[m])
                << '\t' << stats::numberText(items) << '\t'
                << stats::tenthsText(stats::quotient(items, statistics.issuesPerMonth[m])) << '\n';
        }
    }
    out << std::flush;
    return kOk;
}

int createTables(const std::string& folder, Streams& streams) {
    std::error_code ignored;
    std::filesystem::create_directories(archive::cp1252ToUtf8(folder), ignored);
    bool exists = false;
    for (const archive::ViewDef* view : archive::allViews()) {
        if (const auto path = archive::findFileIgnoringCase(folder, std::string(view->tableFile))) {
            streams.err << texts::kTableExists << ": " << archive::quoted(*path) << ".\n";
            exists = true;
        }
    }
    if (exists) return kFailed;
    // All three or none: each table is written whole before the first is put
    // in place, and a table put in place is taken away again when a later one
    // fails, so that a second try does not find it and refuse.
    std::vector<std::pair<std::string, std::unique_ptr<archive::TableFileWriter>>> writers;
    for (const archive::ViewDef* view : archive::allViews()) {
        std::string path = folder + "/" + std::string(view->copiedFileName);
        auto writer = std::make_unique<archive::TableFileWriter>(path, *view);
        writers.emplace_back(std::move(path), std::move(writer));
    }
    size_t committed = 0;
    try {
        for (auto& [path, writer] : writers) {
            writer->commit();
            ++committed;
        }
    } catch (...) {
        for (size_t index = 0; index < committed; ++index)
            std::filesystem::remove(archive::cp1252ToUtf8(writers[index].first), ignored);
        throw;
    }
    for (const auto& [path, writer] : writers) streams.out << texts::kCreated << ": " << archive::quoted(path) << '\n';
    return kOk;
}

namespace {

std::string checkHelp() {
    return std::string(texts::kCheckHelpHead) + issueText(archive::Issue{}) + std::string(texts::kCheckHelpTail);
}
template <const std::string_view& help>
std::string fixedHelp() {
    return std::string(help);
}

struct Command {
    std::string_view name;
    std::string (*help)();
    size_t positional;  // arguments besides the options
};

constexpr Command kCommands[] = {
    {"pruefen", checkHelp, 1},
    {"export", fixedHelp<texts::kExportHelp>, 2},
    {"import", fixedHelp<texts::kImportHelp>, 3},
    {"statistik", fixedHelp<texts::kStatisticsHelp>, 2},
    {"neu", fixedHelp<texts::kNewHelp>, 1},
};

bool isHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

// A query names its table file by a path below the data folder, which it
// takes relative to that folder again: the folder is made absolute first.
std::string absoluteFolder(const std::string& folder) {
    std::error_code failed;
    const std::filesystem::path path = std::filesystem::absolute(archive::cp1252ToUtf8(folder), failed);
    if (failed) return folder;
    std::string absolute = archive::utf8ToCp1252(path.lexically_normal().string());
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    return absolute;
}

}  // namespace

int run(const std::vector<std::string>& args, Streams& streams) {
    if (args.empty()) return usageError(streams, texts::kMissingArguments);
    if (isHelp(args[0])) {
        streams.out << texts::kUsage;
        return kOk;
    }
    const Command* command = nullptr;
    for (const Command& candidate : kCommands)
        if (candidate.name == args[0]) command = &candidate;
    if (!command) return usageError(streams, texts::kUnknownCommand, args[0]);

    std::vector<std::string> positional;
    bool tsv = false, allFields = false, probe = false;
    std::optional<std::string> target;
    Selection selection;
    std::string ratingText;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            streams.out << command->help();
            return kOk;
        }
        auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) return nullptr;
            return &args[++i];
        };
        const std::string_view name = command->name;
        if (name == "pruefen" && arg == "--tsv") {
            tsv = true;
        } else if (name == "import" && arg == "--alle-felder") {
            allFields = true;
        } else if (name == "import" && arg == "--probe") {
            probe = true;
        } else if ((name == "export" && arg == "-o") ||
                   (name == "statistik" && (arg == "--titel" || arg == "--wertung" || arg == "--rubrik"))) {
            const std::string* given = value();
            if (!given) return usageError(streams, texts::kMissingValue, arg);
            if (arg == "-o") target = *given;
            if (arg == "--titel") selection.title = *given;
            if (arg == "--rubrik") selection.category = *given;
            if (arg == "--wertung") ratingText = *given;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(streams, texts::kUnknownOption, arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < command->positional) return usageError(streams, texts::kMissingArguments);
    if (positional.size() > command->positional) return usageError(streams, texts::kTooManyArguments);
    const std::string folder = absoluteFolder(positional[0]);
    const archive::ViewDef* view = nullptr;
    if (command->positional > 1) {
        view = viewNamed(positional[1]);
        if (!view) {
            streams.err << texts::kUnknownTable << ": " << archive::quoted(positional[1]) << " (" << texts::kTableNames
                        << ").\n";
            return kFailed;
        }
    }
    try {
        if (command->name == "pruefen") return checkFolder(folder, tsv, streams);
        if (command->name == "export") return exportTable(folder, *view, target, streams);
        if (command->name == "import") return importFile(folder, *view, positional[2], allFields, probe, streams);
        if (command->name == "neu") return createTables(folder, streams);
        if (!ratingText.empty()) {
            int rating = -1;
            const auto [end, error] = std::from_chars(ratingText.data(), ratingText.data() + ratingText.size(), rating);
            if (error != std::errc{} || end != ratingText.data() + ratingText.size() || rating < 0 || rating > 100)
                return usageError(streams, texts::kBadRating, ratingText);
            if (!view->ratingListEnabled) return usageError(streams, texts::kNoRatings);
            selection.minimumRating = rating;
        }
        if (selection.category) {
            const auto names = view->categories;
            const auto found = std::find_if(names.begin(), names.end(), [&](std::string_view name) {
                return archive::equalsIgnoringCase(name, *selection.category);
            });
            if (found == names.end()) return usageError(streams, texts::kBadCategory, *selection.category);
            selection.category = std::string(*found);
        }
        return printStatistics(folder, *view, selection, streams);
    } catch (const std::exception& error) {
        streams.err << error.what() << '\n';
        return kFailed;
    }
}

}  // namespace cli
