#pragma once
// The start-up of the main window as a sequence of decisions, without a
// widget: whether this copy goes on, where the tables are, whether the engine
// must be installed first, the hard-disk copies, which tables are opened or
// refused, and what the one box at the end says. The window carries out each
// step through the host; the order of the steps is decided here alone.

#include "startuprules.h"
#include "tables.h"
#include "valuetypes.h"
#include "viewstate.h"

#include <optional>
#include <string>
#include <vector>

namespace startup {

class StartupHost {
public:
    virtual ~StartupHost() = default;

    // Another copy of this program file runs; it has been asked to come to
    // the front. False when there is none, or nothing was asked.
    virtual bool anotherCopyRuns() = 0;
    virtual void centreWindow() = 0;
    virtual std::string startFolder() = 0;
    // The stored engine version as text; the given default where none is stored.
    virtual std::string engineVersionText(const std::string& defaultText) = 0;
    virtual void hideWaitWindow() = 0;
    virtual void showNotice(const std::string& text) = 0;
    virtual void startProgram(const std::string& file) = 0;
    virtual void makeFolder(const std::string& folder) = 0;
    virtual std::vector<CopyFailure> copyTables(const std::string& sourcePath, const std::string& dataPath) = 0;
    // From here on no file is looked for in the start folder.
    virtual void leaveStartFolder() = 0;
    virtual void prefetch(const std::string& dataPath, const archive::ViewDef& view,
                          archive::LoadPriority priority) = 0;
    // The greatest issue code in the view's table, none for an empty one.
    // Throws the engine's refusal of the table.
    virtual std::optional<std::string> greatestIssueCode(const std::string& dataPath,
                                                         const archive::ViewDef& view) = 0;
    // Shows the games in the grid; throws the engine's refusal.
    virtual void openGames() = 0;
    virtual void closeWaitWindow() = 0;
    virtual void showError(const std::string& text) = 0;
};

class StartupSequence {
public:
    StartupSequence(StartupHost& host, archive::ViewState& state) : host_(host), state_(state) {}

    // While the window is made. False when the start ends here: another copy
    // runs (nothing is read, copied or opened), or the engine is being
    // installed (the notice is the only thing left on the screen).
    bool create(const std::string& programFile);
    // When the window is shown for the first time.
    void show();

    // The texts of the notices.
    static const char* const kInstallNotice;
    static const char* const kUpdateNotice;

private:
    StartupHost& host_;
    archive::ViewState& state_;
    std::vector<CopyFailure> copyFailures_;  // told once the window is up
};

}  // namespace startup
