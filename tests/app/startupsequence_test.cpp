// The start-up's decisions and their order, over a stand-in host that writes
// down every step asked of it: each start situation gives one sequence of
// effects, and the view state the window goes on with.

#include "startupsequence.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using startup::CopyFailure;

// A start situation: what the world around the program answers.
struct Situation {
    const char* name;
    const char* programFile = "quillora";
    bool anotherCopy = false;
    const char* engineVersion = "1.00";  // nullptr: none stored
    std::vector<CopyFailure> copyFailures = {};
    // Per view name: the greatest issue code, or a refusal ("!" in front).
    std::map<std::string, std::string> tables = {
        {"Spiele", "2004/09"}, {"CD-Inhalt", "2004/10"}, {"Tipps", "2004/08"}};
    const char* gamesOpenFails = nullptr;
};

class RecordingHost : public startup::StartupHost {
public:
    explicit RecordingHost(const Situation& situation) : situation_(situation) {}
    std::vector<std::string> effects;

    bool anotherCopyRuns() override { return note("another copy?"), situation_.anotherCopy; }
    void centreWindow() override { note("centre"); }
    std::string startFolder() override { return "/disc"; }
    std::string engineVersionText(const std::string& defaultText) override {
        note("engine version");
        return situation_.engineVersion ? situation_.engineVersion : defaultText;
    }
    void hideWaitWindow() override { note("hide wait window"); }
    void showNotice(const std::string& text) override {
        note(text == startup::StartupSequence::kInstallNotice  ? "notice: install"
             : text == startup::StartupSequence::kUpdateNotice ? "notice: update"
                                                                : "notice: " + text);
    }
    void startProgram(const std::string& file) override { note("start " + file); }
    void makeFolder(const std::string& folder) override { note("folder " + folder); }
    std::vector<CopyFailure> copyTables(const std::string& sourcePath, const std::string& dataPath) override {
        note("copy " + sourcePath + " -> " + dataPath);
        return situation_.copyFailures;
    }
    void leaveStartFolder() override { note("leave start folder"); }
    void prefetch(const std::string& dataPath, const archive::ViewDef& view, archive::LoadPriority priority) override {
        note("prefetch " + std::string(view.name) + " from " + dataPath +
             (priority == archive::LoadPriority::Background ? " in the background" : " soon"));
    }
    std::optional<std::string> greatestIssueCode(const std::string&, const archive::ViewDef& view) override {
        note("newest " + std::string(view.name));
        const std::string& answer = situation_.tables.at(std::string(view.name));
        if (!answer.empty() && answer.front() == '!') throw std::runtime_error(answer.substr(1));
        if (answer.empty()) return std::nullopt;
        return answer;
    }
    void openGames() override {
        note("open games");
        if (situation_.gamesOpenFails) throw std::runtime_error(situation_.gamesOpenFails);
    }
    void closeWaitWindow() override { note("close wait window"); }
    void showError(const std::string& text) override { note("error: " + text); }

private:
    void note(const std::string& effect) { effects.push_back(effect); }
    const Situation& situation_;
};

struct Case {
    Situation situation;
    bool goesOn;
    std::vector<std::string> effects;  // of create, then of show when it goes on
};

const std::vector<std::string> kDiscStart = {"another copy?", "centre", "engine version", "leave start folder",
                                             "prefetch Spiele from /disc/DATA soon"};
std::vector<std::string> operator+(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}
const std::vector<std::string> kNewest = {"newest Tipps", "newest CD-Inhalt", "newest Spiele", "open games"};
const std::vector<std::string> kBothInBackground = {"prefetch CD-Inhalt from /disc/DATA in the background",
                                                    "prefetch Tipps from /disc/DATA in the background"};

TEST(StartupSequence, EachSituationGivesItsEffectsInOrder) {
    const std::string hdData = "/home/u/.local/share/VORTAGON/QUILLORA/DATA";
    const std::vector<std::string> hdCreate = {"another copy?", "centre", "engine version",
                                               "folder /home/u/.local/share/VORTAGON",
                                               "folder /home/u/.local/share/VORTAGON/QUILLORA",
                                               "folder " + hdData,
                                               "copy /disc/DATA/ -> " + hdData,
                                               "leave start folder",
                                               "prefetch Spiele from " + hdData + " soon"};
    const std::vector<std::string> hdShow = {"newest Tipps", "newest CD-Inhalt", "newest Spiele", "open games",
                                             "prefetch CD-Inhalt from " + hdData + " in the background"};
    const std::string tipsCopyFailed = "Die Tabelle 'TippsData.DB' konnte nicht auf die Festplatte kopiert werden "
                                       "(Datentr\xE4ger voll). ";
    const std::vector<Case> cases = {
        {{.name = "another copy runs", .anotherCopy = true}, false, {"another copy?"}},
        {{.name = "no engine", .engineVersion = nullptr},
         false,
         {"another copy?", "centre", "engine version", "hide wait window", "notice: install",
          "start QLEngine/Setup.exe"}},
        {{.name = "engine version unreadable", .engineVersion = "eins"},
         false,
         {"another copy?", "centre", "engine version", "hide wait window", "notice: install",
          "start QLEngine/Setup.exe"}},
        {{.name = "engine too old", .engineVersion = "0.90"},
         false,
         {"another copy?", "centre", "engine version", "hide wait window", "notice: update",
          "start QLEngine/Setup.exe"}},
        {{.name = "sound disc"}, true, kDiscStart + kNewest + kBothInBackground + std::vector<std::string>{"close wait window"}},
        {{.name = "tips refused", .tables = {{"Spiele", "2004/09"}, {"CD-Inhalt", "2004/10"}, {"Tipps", "!kaputt"}}},
         true,
         kDiscStart + kNewest +
             std::vector<std::string>{"prefetch CD-Inhalt from /disc/DATA in the background", "close wait window",
                                      "error: kaputt"}},
        {{.name = "games refused twice, told once",
          .tables = {{"Spiele", "!erstens"}, {"CD-Inhalt", "2004/10"}, {"Tipps", "!zweitens"}},
          .gamesOpenFails = "drittens"},
         true,
         kDiscStart + kNewest +
             std::vector<std::string>{"prefetch CD-Inhalt from /disc/DATA in the background", "close wait window",
                                      "error: erstens\nzweitens"}},
        {{.name = "games open but cannot be shown", .gamesOpenFails = "fremde Felder"},
         true,
         kDiscStart + kNewest + kBothInBackground +
             std::vector<std::string>{"close wait window", "error: fremde Felder"}},
        {{.name = "hard disk, failed copy explains the refusal",
          .programFile = "quillorahd",
          .copyFailures = {{"TippsData.DB", "Datentr\xE4ger voll", "", false}},
          .tables = {{"Spiele", "2004/09"}, {"CD-Inhalt", "2004/10"}, {"Tipps", "!fehlt"}}},
         true,
         hdCreate + hdShow +
             std::vector<std::string>{"close wait window",
                                      "error: " + tipsCopyFailed + "In '" + hdData +
                                          "' liegt keine \xE4ltere Kopie; die Tabelle kann nicht angezeigt werden."}},
        {{.name = "hard disk, older copy refused too",
          .programFile = "quillorahd",
          .copyFailures = {{"TippsData.DB", "Datentr\xE4ger voll", "", true}},
          .tables = {{"Spiele", "2004/09"}, {"CD-Inhalt", "2004/10"}, {"Tipps", "!alt und kaputt"}}},
         true,
         hdCreate + hdShow +
             std::vector<std::string>{"close wait window", "error: " + tipsCopyFailed + "Angezeigt wird die \xE4ltere "
                                                           "Kopie in '" + hdData + "'.\nalt und kaputt"}},
    };
    ::setenv("XDG_DATA_HOME", "/home/u/.local/share", 1);
    for (const Case& test : cases) {
        RecordingHost host(test.situation);
        archive::ViewState state;
        startup::StartupSequence sequence(host, state);
        const bool goesOn = sequence.create(test.situation.programFile);
        EXPECT_EQ(goesOn, test.goesOn) << test.situation.name;
        if (goesOn) sequence.show();
        EXPECT_EQ(host.effects, test.effects) << test.situation.name;
    }
    ::unsetenv("XDG_DATA_HOME");
}

TEST(StartupSequence, TheViewStateHoldsThePathsAndTheNewestIssues) {
    Situation situation{.name = "newest issues",
                        .tables = {{"Spiele", "2004/09"}, {"CD-Inhalt", ""}, {"Tipps", "!kaputt"}}};
    RecordingHost host(situation);
    archive::ViewState state;
    startup::StartupSequence sequence(host, state);
    ASSERT_TRUE(sequence.create("quillora"));
    sequence.show();
    EXPECT_FALSE(state.HardDiskMode);
    EXPECT_EQ(state.SourcePath, "/disc/DATA");
    EXPECT_EQ(state.DataPath, "/disc/DATA");
    EXPECT_DOUBLE_EQ(state.EngineVersion, 1.0);
    const archive::Issue first;
    EXPECT_EQ(std::pair(state.GameLastMonth, state.GameLastYear), std::pair(9, 2004));
    // An empty table and a refused one both start at the first issue.
    EXPECT_EQ(std::pair(state.CDLastMonth, state.CDLastYear), std::pair(first.month, first.year));
    EXPECT_EQ(std::pair(state.TippsLastMonth, state.TippsLastYear), std::pair(first.month, first.year));
}

}  // namespace
