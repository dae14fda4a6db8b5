#include "filefaults.h"
#include "scopedvariable.h"
#include "startuprules.h"
#include "tablefile.h"
#include "tables.h"
#include "wholefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <optional>
#include <string>

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(StartupRules, ProgramNameChoosesTheMode) {
    for (const char* name : {"quillorahd", "QuilloraHD", "xyzhd.exe", "hd.exe", "QUILLORAHD.EXE", "shd.exe"})
        EXPECT_TRUE(startup::isHardDiskProgramName(name)) << name;
    for (const char* name : {"quillora", "HDX.EXE", "HD.EXE.BAK", "start.exe", "hd.sh", "d", ""})
        EXPECT_FALSE(startup::isHardDiskProgramName(name)) << name;
}

TEST(StartupRules, SourcePathIsDataBelowTheStartFolder) {
    EXPECT_EQ(startup::sourcePathFor("/"), "/DATA");
    EXPECT_EQ(startup::sourcePathFor("/media/cdrom"), "/media/cdrom/DATA");
    EXPECT_EQ(startup::sourcePathFor("/media/cdrom/"), "/media/cdrom/DATA");
}

TEST(StartupRules, HardDiskFoldersFollowXdgDataHome) {
    const std::optional<std::string> home = variable("HOME");
    const std::optional<std::string> dataHome = variable("XDG_DATA_HOME");
    {
        ScopedVariable xdg("XDG_DATA_HOME", "/srv/share/");
        auto folders = startup::hardDiskFolders();
        EXPECT_EQ(folders.levels[0], "/srv/share/VORTAGON");
        EXPECT_EQ(folders.levels[1], "/srv/share/VORTAGON/QUILLORA");
        EXPECT_EQ(folders.dataPath(), "/srv/share/VORTAGON/QUILLORA/DATA");
        xdg.set("");
        ScopedVariable user("HOME", "/home/leser");
        EXPECT_EQ(startup::hardDiskFolders().dataPath(), "/home/leser/.local/share/VORTAGON/QUILLORA/DATA");
    }
    EXPECT_EQ(variable("HOME"), home);
    EXPECT_EQ(variable("XDG_DATA_HOME"), dataHome);
}

TEST(StartupRules, EngineVersionTextBecomesANumber) {
    EXPECT_DOUBLE_EQ(startup::engineVersionFromText("1.00"), 1.0);
    EXPECT_DOUBLE_EQ(startup::engineVersionFromText(" 2.3 "), 2.3);
    EXPECT_DOUBLE_EQ(startup::engineVersionFromText("0.5"), 0.5);
    // Whatever is no number counts as no engine at all.
    for (const char* text : {"", "neu", "1,05", "1.0x", "1.0.2"}) EXPECT_DOUBLE_EQ(startup::engineVersionFromText(text), 0) << text;
}

TEST(StartupRules, NewestIssueFallsBackToTheFirstIssue) {
    const std::string good = "2004/09";
    EXPECT_EQ(startup::newestIssueFrom(&good).month, 9);
    EXPECT_EQ(startup::newestIssueFrom(&good).year, 2004);
    for (const std::string bad : {"", "2004/9", "2004-09", "2004/13", "abcd/ef"}) {
        const archive::Issue issue = startup::newestIssueFrom(&bad);
        EXPECT_EQ(issue.month, 10) << bad;
        EXPECT_EQ(issue.year, 1997) << bad;
    }
    EXPECT_EQ(startup::newestIssueFrom(nullptr).year, 1997);
}

// A table file of the view with one row, as the disc holds it.
void writeTableFile(const std::filesystem::path& path, const archive::ViewDef& view) {
    archive::TableFileWriter writer(path.string(), view);
    writer.add(archive::Row(view.fields.size(), std::string("1")));
    writer.commit();
}

std::string contentOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A source missing from the disc is named as such, not as a write failure;
// the other tables are copied all the same, whatever the letter case of
// their names on the disc.
TEST(StartupRules, AMissingSourceIsToldAndTheOthersAreCopied) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("quillora-copy-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "DATA");
    fs::create_directories(root / "copies");
    writeTableFile(root / "DATA" / "gamedata.db", archive::gamesView());
    writeTableFile(root / "DATA" / "TippsData.DB", archive::tipsView());
    std::ofstream(root / "copies" / "CDData.DB") << "older";
    const std::vector<startup::CopyFailure> failures =
        startup::copyTablesToHardDisk((root / "DATA").string() + "/", (root / "copies").string());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].file, "CDData.DB");
    const std::string missing = "Tabelle '" + (root / "DATA" / "CDData.DB").string() + "' nicht gefunden.";
    EXPECT_EQ(failures[0].refusal, missing);
    EXPECT_TRUE(failures[0].olderCopyExists);
    EXPECT_EQ(contentOf(root / "copies" / "GameData.DB"), contentOf(root / "DATA" / "gamedata.db"));
    EXPECT_EQ(contentOf(root / "copies" / "CDData.DB"), "older");
    EXPECT_EQ(startup::copyFailureText(failures, "/c"),
              "Die Tabelle 'CDData.DB' wurde nicht auf die Festplatte kopiert: " + missing +
                  " Angezeigt wird die \xE4ltere Kopie in '/c'.");
    fs::remove_all(root);
}

// The hard-disk copy with any single step of the one file writer failing: the
// table it hit is told with the cause in German and keeps its older copy
// byte for byte; the other tables are copied; nothing else is left behind.
TEST(StartupRules, ACopyFailingAtAnyStepKeepsTheOlderCopy) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("quillora-copyfault-" + std::to_string(::getpid()));
    std::vector<std::string> names;
    for (const archive::ViewDef* view : archive::allViews()) names.emplace_back(view->copiedFileName);
    auto read = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto setUp = [&] {
        fs::remove_all(root);
        fs::create_directories(root / "DATA");
        fs::create_directories(root / "copies");
        for (const archive::ViewDef* view : archive::allViews()) {
            const std::string name(view->copiedFileName);
            writeTableFile(root / "DATA" / name, *view);
            std::ofstream(root / "copies" / name, std::ios::binary) << "older " << name;
        }
    };
    auto copy = [&] { return startup::copyTablesToHardDisk((root / "DATA").string(), (root / "copies").string()); };
    int steps = 0;
    {
        setUp();
        FileStepFaults faults;
        EXPECT_TRUE(copy().empty());
        steps = faults.count();
    }
    ASSERT_GE(steps, 5 * static_cast<int>(names.size()));
    for (int n = 1; n <= steps; ++n) {
        SCOPED_TRACE("step " + std::to_string(n));
        setUp();
        FileStepFaults faults;
        const int code = n % 2 ? ENOSPC : EIO;
        faults.failNth(n, code);
        const std::vector<startup::CopyFailure> failures = copy();
        faults.disarm();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].cause, archive::fileErrorCause(code));
        EXPECT_TRUE(failures[0].olderCopyExists);
        std::vector<std::string> listing;
        for (const auto& entry : fs::directory_iterator(root / "copies")) listing.push_back(entry.path().filename());
        std::sort(listing.begin(), listing.end());
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listing, expected);
        for (const std::string& name : names)
            EXPECT_EQ(read(root / "copies" / name),
                      name == failures[0].file ? "older " + name : read(root / "DATA" / name));
    }
    fs::remove_all(root);
}

}  // namespace
