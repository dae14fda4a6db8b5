// The engine installer, run as the start-up would run it, with no display.

#include "registryhive.h"
#include "settingsstore.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>

namespace {

struct InstallerRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class Installer : public ::testing::Test {
protected:
    // With `fileSizeLimitZero` no file can get any contents, so writing the
    // hive fails.
    InstallerRun run(bool fileSizeLimitZero = false) {
        // Pipes rather than files: the size limit would silence those too.
        // The texts are far smaller than a pipe holds, so reading after the end is safe.
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
        const pid_t child = ::fork();
        if (child == 0) {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            if (fileSizeLimitZero)
                ::execl("/bin/sh", "sh", "-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\"", QUILLORA_SETUP_PROGRAM,
                        static_cast<char*>(nullptr));
            else
                ::execl(QUILLORA_SETUP_PROGRAM, QUILLORA_SETUP_PROGRAM, static_cast<char*>(nullptr));
            ::_exit(126);
        }
        ::close(out[1]);
        ::close(err[1]);
        InstallerRun result;
        int status = 0;
        if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        result.out = drain(out[0]);
        result.err = drain(err[0]);
        return result;
    }
    static std::string drain(int fd) {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        return text;
    }
    std::string engineVersion() const {
        TIniCtrl store(hivePath);
        store.RegRoot = rpLocalMachine;
        store.RegPath = kEngineRegPath;
        return store.ReadSetting(kEngineSection, kEngineVersionIdent, "0.00");
    }

    TempFolder folder;
    std::string configHome = folder.file("config");
    std::string hivePath = configHome + "/Vortagon/registry.reg";
};

}  // namespace

TEST_F(Installer, RegistersTheEngineInAFreshHive) {
    const InstallerRun result = run();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(engineVersion(), "1.00");
    EXPECT_NE(result.out.find("ist jetzt installiert"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("k\xC3\xB6nnen Quillora jetzt erneut starten"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
}

TEST_F(Installer, KeepsEverythingElseOfTheHive) {
    writeFile(hivePath,
              "REGEDIT4\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Count\"=dword:00000007\r\n\"Name\"=\"B\xC3\xA4r\"\r\n\r\n"
              "[hkey_local_machine\\software\\vortagon\\quillora-engine]\r\n"
              "\"engine-version\"=dword:00000000\r\n\"Driver\"=\"kept\"\r\n");
    const InstallerRun result = run();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(engineVersion(), "1.00");

    RegistryHive hive;
    ASSERT_EQ(hive.load(hivePath), RegistryHive::LoadStatus::Loaded);
    EXPECT_EQ(hive.format(), RegistryHive::Format::Regedit4);
    ASSERT_EQ(hive.keys().size(), 2u);
    EXPECT_EQ(hive.keys()[1].path, "hkey_local_machine\\software\\vortagon\\quillora-engine");
    ASSERT_TRUE(hive.findValue("HKEY_CURRENT_USER\\Software\\Other", "Count"));
    EXPECT_EQ(hive.findValue("HKEY_CURRENT_USER\\Software\\Other", "Count")->dword, 7u);
    ASSERT_TRUE(hive.findValue("HKEY_CURRENT_USER\\Software\\Other", "Name"));
    EXPECT_EQ(hive.findValue("HKEY_CURRENT_USER\\Software\\Other", "Name")->text, "B\xC3\xA4r");
    ASSERT_TRUE(hive.findValue(kEngineKey, "Driver"));
    EXPECT_EQ(hive.findValue(kEngineKey, "Driver")->text, "kept");
}

TEST_F(Installer, LeavesAFileThatIsNoHiveAlone) {
    const std::string foreign = "my own notes, not a hive\n";
    writeFile(hivePath, foreign);
    const InstallerRun result = run();
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(readFile(hivePath), foreign);
    EXPECT_NE(result.err.find("konnte nicht installiert werden"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("ist keine Registrierungsdatei"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(Installer, AFailedWriteChangesNothing) {
    const std::string old = "Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\Old]\n\"a\"=\"b\"\n";
    writeFile(hivePath, old);
    const InstallerRun result = run(true);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(readFile(hivePath), old);
    EXPECT_NE(result.err.find("kann nicht geschrieben werden"), std::string::npos) << result.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(configHome + "/Vortagon"),
                            std::filesystem::directory_iterator()),
              1);
}
