#include "launcher.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;

// The installer's place below the start folder, with the start folder current.
class Launcher : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(folder / "QLEngine"); }
    void TearDown() override {
        for (pid_t pid : running) ::kill(pid, SIGKILL);
    }
    std::filesystem::path installer() const { return folder / "QLEngine" / "Setup.exe"; }
    // Starts the installer by its path relative to the start folder.
    static bool start(TSendKeys& keys) { return keys.StartProgram("QLEngine/Setup.exe"); }

    TempFolder folder;
    CurrentFolder current{folder.path()};
    std::string marker = folder.file("marker");
    ScopedEnv markerEnv{"MARKER", marker};
    std::vector<pid_t> running;  // programs that would not end by themselves
};

}  // namespace

TEST_F(Launcher, StartsTheProgramDetachedInTheCurrentFolder) {
    // A descriptor the caller left open across exec must not reach the program.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    writeScript(installer(),
                "{ pwd; echo \"$PPID\"; [ -e /proc/$$/fd/" + std::to_string(leaked) +
                    " ] && echo inherited || echo closed; echo \"$#\"; } > \"$MARKER.part\"\n"
                    "mv \"$MARKER.part\" \"$MARKER\"\n");

    TSendKeys keys;
    EXPECT_TRUE(start(keys));
    ::close(leaked);
    EXPECT_GT(keys.ProcessId(), 0);
    EXPECT_EQ(keys.ProgramPath(), installer().string());

    ASSERT_TRUE(waitForFile(marker));
    std::istringstream report(readFile(marker));
    std::string workingFolder, parent, descriptor, argumentCount;
    std::getline(report, workingFolder);
    std::getline(report, parent);
    std::getline(report, descriptor);
    std::getline(report, argumentCount);
    EXPECT_EQ(std::filesystem::canonical(workingFolder), std::filesystem::canonical(folder.path()));
    EXPECT_NE(parent, std::to_string(::getpid()));  // not our child: it outlives us
    EXPECT_EQ(descriptor, "closed");
    EXPECT_EQ(argumentCount, "0");
    EXPECT_EQ(::waitpid(keys.ProcessId(), nullptr, WNOHANG), -1);
}

TEST_F(Launcher, RefusesWhatIsNoProgram) {
    const std::string writesMarker = "touch \"$MARKER\"\n";
    TSendKeys keys;
    EXPECT_FALSE(keys.StartProgram(""));
    EXPECT_FALSE(start(keys));  // missing

    writeScript(installer(), writesMarker);
    std::filesystem::permissions(installer(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(start(keys));  // not executable

    std::filesystem::remove(installer());
    std::filesystem::create_directory(installer());
    EXPECT_FALSE(start(keys));  // a folder
    std::filesystem::remove(installer());

    writeFile(installer(), "no program at all\n");
    std::filesystem::permissions(installer(), std::filesystem::perms::owner_all);
    EXPECT_FALSE(start(keys));  // executable bit, but the system cannot run it
    EXPECT_EQ(keys.ProcessId(), 0);
    EXPECT_EQ(keys.ProgramPath(), "");

    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(Launcher, ANewStartForgetsThePreviousOne) {
    writeScript(installer(), "exit 0\n");
    TSendKeys keys;
    ASSERT_TRUE(start(keys));
    std::filesystem::remove(installer());
    EXPECT_FALSE(start(keys));
    EXPECT_EQ(keys.ProcessId(), 0);
    EXPECT_EQ(keys.ProgramPath(), "");
}

TEST_F(Launcher, ReturnsOnceTheProgramWaits) {
    writeScript(installer(), "exec sleep 30\n");
    TSendKeys keys;
    keys.ReadyTimeout = 5000ms;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(start(keys));
    running.push_back(keys.ProcessId());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2000ms);
}

TEST_F(Launcher, TheWaitIsBounded) {
    writeScript(installer(), "while :; do :; done\n");  // never waits for anything
    TSendKeys keys;
    keys.ReadyTimeout = 500ms;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(start(keys));
    running.push_back(keys.ProcessId());
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(elapsed, 450ms);
    EXPECT_LT(elapsed, 2500ms);
}
