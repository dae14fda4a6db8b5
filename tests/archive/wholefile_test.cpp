// The one file writer: a file is replaced whole or not at all.

#include "tablefixtures.h"
#include "testfolder.h"
#include "wholefile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace archive;

TEST(WholeFile, ReplacesTheTargetAndKeepsItsMode) {
    TestFolder folder;
    const std::string target = folder.file("out.txt");
    std::ofstream(target) << "old";
    ::chmod(target.c_str(), 0640);
    {
        WholeFileWriter writer(target);
        writer.write("new ");
        writer.write(std::string(3 << 20, 'x'));  // past the buffer
        writer.write("end");
        // Until the commit the old file stands, the new one lies beside it.
        EXPECT_EQ(fileContent(target), "old");
        EXPECT_EQ(folder.listing().size(), 2u);
        writer.commit();
    }
    const std::string content = fileContent(target);
    EXPECT_EQ(content.size(), 4u + (3u << 20) + 3u);
    EXPECT_EQ(content.substr(0, 4), "new ");
    EXPECT_EQ(content.substr(content.size() - 3), "end");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(folder.listing(), std::vector<std::string>{"out.txt"});
}

TEST(WholeFile, AWriterWithoutCommitLeavesNothing) {
    TestFolder folder;
    const std::string target = folder.file("out.txt");
    std::ofstream(target) << "old";
    {
        WholeFileWriter writer(target);
        writer.write("half");
    }
    EXPECT_EQ(fileContent(target), "old");
    EXPECT_EQ(folder.listing(), std::vector<std::string>{"out.txt"});
}

TEST(WholeFile, FailuresNameTheCause) {
    TestFolder folder;
    // A folder that does not exist.
    try {
        writeWholeFile(folder.file("no/such/out.txt"), "x");
        FAIL() << "a missing folder was written";
    } catch (const FileWriteError& error) {
        EXPECT_EQ(error.code(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("no/such/out.txt"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("Verzeichnis fehlt"), std::string::npos);
    }
    // A full disk, as the kernel's full device reports it on flush.
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(fileErrorCause(ENOSPC), "Datentr\xE4ger voll");
    }
    EXPECT_EQ(fileErrorCause(EACCES), "keine Schreibberechtigung");
}

TEST(WholeFile, CopyKeepsContentAndModeOrLeavesTheTarget) {
    TestFolder folder;
    std::ofstream(folder.file("source")) << "table bytes";
    ::chmod(folder.file("source").c_str(), 0755);
    std::ofstream(folder.file("target")) << "older";
    copyWholeFile(folder.file("source"), folder.file("target"));
    EXPECT_EQ(fileContent(folder.file("target")), "table bytes");
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("target").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);

    EXPECT_THROW(copyWholeFile(folder.file("missing"), folder.file("target")), FileWriteError);
    EXPECT_EQ(fileContent(folder.file("target")), "table bytes");
    EXPECT_EQ(folder.listing(), (std::vector<std::string>{"source", "target"}));
}

TEST(WholeFile, CopyByFileSystemPathsTakesNamesWindows1252CannotSpell) {
    TestFolder folder;
    // "\xE6\x97\xA5" is a CJK character in UTF-8, which has no Windows-1252 form.
    const std::string source = folder.file("programm-\xE6\x97\xA5");
    const std::string target = folder.file("ziel-\xE6\x97\xA5");
    std::ofstream(source, std::ios::binary) << std::string(3 << 20, 'x');  // more than one buffer
    ::chmod(source.c_str(), 0750);
    std::ofstream(target) << "older";
    ::chmod(target.c_str(), 0444);
    copyWholeFileForFileSystemPaths(source, target);
    EXPECT_EQ(fileContent(target), std::string(3 << 20, 'x'));
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);

    try {
        copyWholeFileForFileSystemPaths(folder.file("fehlt-\xE6\x97\xA5"), target);
        ADD_FAILURE() << "copied a missing file";
    } catch (const FileWriteError& error) {
        EXPECT_NE(std::string(error.what()).find("nicht gefunden"), std::string::npos) << error.what();
    }
    EXPECT_THROW(copyWholeFileForFileSystemPaths(source, folder.file("kein/ordner")), FileWriteError);
    EXPECT_EQ(folder.listing(), (std::vector<std::string>{"programm-\xE6\x97\xA5", "ziel-\xE6\x97\xA5"}));
}

// A link is written through to the file it names and stays a link; a
// dangling link names the file to create; a loop is refused.
TEST(WholeFile, WritesThroughSymbolicLinks) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link -> what it names
        bool targetExists;
    };
    const Case cases[] = {
        {"relative link", {{"link", "data/real.txt"}}, true},
        {"absolute link", {{"link", "@/data/real.txt"}}, true},
        {"chain of links", {{"link", "hop"}, {"hop", "data/real.txt"}}, true},
        {"dangling link", {{"link", "data/real.txt"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        std::filesystem::create_directory(folder.file("data"));
        if (c.targetExists) {
            std::ofstream(folder.file("data/real.txt")) << "old";
            ::chmod(folder.file("data/real.txt").c_str(), 0604);
        }
        for (const auto& [link, names] : c.links) {
            const std::string to = names[0] == '@' ? folder.path() + names.substr(1) : names;
            ASSERT_EQ(::symlink(to.c_str(), folder.file(link).c_str()), 0);
        }
        writeWholeFile(folder.file("link"), "new");
        EXPECT_EQ(fileContent(folder.file("data/real.txt")), "new");
        EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link")));
        struct stat info {};
        ASSERT_EQ(::stat(folder.file("data/real.txt").c_str(), &info), 0);
        if (c.targetExists) {
            EXPECT_EQ(info.st_mode & 0777, 0604u);
        }
    }
    TestFolder folder;
    ASSERT_EQ(::symlink("b", folder.file("a").c_str()), 0);
    ASSERT_EQ(::symlink("a", folder.file("b").c_str()), 0);
    try {
        writeWholeFile(folder.file("a"), "x");
        ADD_FAILURE() << "a loop of links was written";
    } catch (const FileWriteError& error) {
        EXPECT_EQ(error.code(), ELOOP);
    }
    EXPECT_EQ(folder.listing(), (std::vector<std::string>{"a", "b"}));
}

// A new file gets the usual mode under the process's umask, which the
// writer reads without changing.
TEST(WholeFile, NewFileFollowsTheUmask) {
    TestFolder folder;
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
        const mode_t before = ::umask(mask);
        const std::string target = folder.file("neu" + std::to_string(mask));
        writeWholeFile(target, "x");
        const mode_t after = ::umask(before);
        EXPECT_EQ(after, mask);
        struct stat info {};
        ASSERT_EQ(::stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask) << std::oct << mask;
    }
}
