#include "startuprules.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    ::setenv("XDG_DATA_HOME", "/srv/share/", 1);
    auto folders = startup::hardDiskFolders();
    EXPECT_EQ(folders.levels[0], "/srv/share/VORTAGON");
    EXPECT_EQ(folders.levels[1], "/srv/share/VORTAGON/QUILLORA");
    EXPECT_EQ(folders.dataPath(), "/srv/share/VORTAGON/QUILLORA/DATA");
    ::setenv("XDG_DATA_HOME", "", 1);
    ::setenv("HOME", "/home/leser", 1);
    EXPECT_EQ(startup::hardDiskFolders().dataPath(), "/home/leser/.local/share/VORTAGON/QUILLORA/DATA");
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
