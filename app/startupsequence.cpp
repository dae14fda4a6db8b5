#include "startupsequence.h"



#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

namespace startup {

const char* const StartupSequence::kInstallNotice =
    "Achtung! Auf Ihrem System wird jetzt die \"Quillora-Engine\" installiert.\n"
    "Diese Datenbanktreiber-Installation ist nur ein einziges Mal notwendig.\n"
    "Rufen Sie das Quillora-Hauptprogramm danach bitte erneut auf (\"Start\").";
const char* const StartupSequence::kUpdateNotice =
    "Achtung! Jetzt wird ein Update der \"Quillora-Engine\" installiert. "
    "Starten Sie bitte danach den \"Quillora\" nochmal.";

bool StartupSequence::create(const std::string& programFile) {
    // Another copy of this program file runs: it comes to the front, this one
    // ends before it reads a setting, copies a table or opens a window.
    if (host_.anotherCopyRuns()) return false;
    // Centred on the screen, whatever position was stored.
    host_.centreWindow();
    state_.HardDiskMode = isHardDiskProgramName(programFile);
    // The archive starts with issue 10/1997 in all three tables.
    state_.GameFirstMonth = state_.CDFirstMonth = state_.TippsFirstMonth = archive::kFirstIssueMonth;
    state_.GameFirstYear = state_.CDFirstYear = state_.TippsFirstYear = archive::kFirstIssueYear;
    state_.SourcePath = sourcePathFor(host_.startFolder());
    state_.DataPath = state_.SourcePath;
    // The engine must be installed in the version the program needs.
    state_.EngineVersion = engineVersionFromText(host_.engineVersionText("0.00"));
    if (state_.EngineVersion == 0 || state_.EngineVersion < kMinimumEngineVersion) {
        host_.hideWaitWindow();  // the notice is the only thing on the screen
        host_.showNotice(state_.EngineVersion == 0 ? kInstallNotice : kUpdateNotice);
        std::string installer(archive::kEngineFolder);
        installer += '/';
        installer += archive::kEngineSetupName;
        host_.startProgram(installer);
        return false;
    }
    // Hard-disk mode works on fresh copies of the tables.
    if (state_.HardDiskMode) {
        state_.SourcePath += '/';
        const HardDiskFolders folders = hardDiskFolders();
        state_.DataPath = folders.dataPath();
        for (const std::string& level : folders.levels) host_.makeFolder(level);
        copyFailures_ = host_.copyTables(state_.SourcePath, state_.DataPath);
    }
    // From here on the tables are addressed by their full path only.
    host_.leaveStartFolder();
    // The games view opens first: its table is read in the background from
    // now on, while the other windows are made.
    host_.prefetch(state_.DataPath, archive::gamesView(), archive::LoadPriority::Soon);
    return true;
}

void StartupSequence::show() {
    // A table the start cannot open does not stop the others: its newest
    // issue is the first one, and it is told once, in the one box that also
    // tells the failed hard-disk copies.
    struct Newest {
        const archive::ViewDef& view;
        int& month;
        int& year;
    };
    // The games first where a refusal is told.
    const Newest newest[] = {{archive::gamesView(), state_.GameLastMonth, state_.GameLastYear},
                             {archive::tipsView(), state_.TippsLastMonth, state_.TippsLastYear},
                             {archive::discView(), state_.CDLastMonth, state_.CDLastYear}};
    std::vector<std::pair<const archive::ViewDef*, std::string>> refused;
    auto isRefused = [&](const archive::ViewDef& view) {
        return std::any_of(refused.begin(), refused.end(), [&](const auto& entry) { return entry.first == &view; });
    };
    auto refuse = [&](const Newest& table, const std::string& text) {
        const archive::Issue first;
        table.month = first.month;
        table.year = first.year;
        if (!isRefused(table.view)) refused.emplace_back(&table.view, text);
    };
    // The tips' and the disc contents' newest issues are looked up while the
    // games' table is still being read and sorted in the background; the
    // games' newest issue then waits for that.
    struct Lookup {
        std::optional<std::string> code;
        std::optional<std::string> refusal;
    };
    Lookup found[std::size(newest)];
    for (const size_t index : {size_t{1}, size_t{2}, size_t{0}}) {
        try {
            found[index].code = host_.greatestIssueCode(state_.DataPath, newest[index].view);
        } catch (const std::exception& error) {
            found[index].refusal = error.what();
        }
    }
    for (size_t index = 0; index < std::size(newest); ++index) {
        const Newest& table = newest[index];
        if (found[index].refusal) {
            refuse(table, *found[index].refusal);
            continue;
        }
        try {
            const archive::Issue issue = newestIssueFrom(found[index].code ? &*found[index].code : nullptr);
            table.month = issue.month;
            table.year = issue.year;
        } catch (const std::exception& error) {
            refuse(table, error.what());
        }
    }
    try {
        host_.openGames();
    } catch (const std::exception& error) {
        refuse(newest[0], error.what());
    }
    // The other two tables are read while the user looks at the games.
    for (const archive::ViewDef* view : {&archive::discView(), &archive::tipsView()})
        if (!isRefused(*view)) host_.prefetch(state_.DataPath, *view, archive::LoadPriority::Background);
    // The wait window goes whatever happened: it must not stay on top of the error box.
    host_.closeWaitWindow();
    // The failed hard-disk copies first: they explain what the views show,
    // or why a table cannot be shown, which then needs no second word.
    std::string text = copyFailures_.empty() ? std::string() : copyFailureText(copyFailures_, state_.DataPath);
    for (const auto& [view, told] : refused) {
        const bool explained = std::any_of(copyFailures_.begin(), copyFailures_.end(), [&](const auto& failure) {
            return failure.file == view->copiedFileName && !failure.olderCopyExists;
        });
        if (explained) continue;
        if (!text.empty()) text += '\n';
        text += told;
    }
    copyFailures_.clear();
    if (!text.empty()) host_.showError(text);
}

}  // namespace startup
