#include "settingsstore.h"
#include "testfiles.h"

#include <gtest/gtest.h>

namespace {

class SettingsStore : public ::testing::Test {
protected:
    // The store as the start-up sets it up.
    TIniCtrl engineStore() {
        TIniCtrl store(hivePath);
        store.RegRoot = rpLocalMachine;
        store.RegPath = kEngineRegPath;
        return store;
    }
    std::string engineVersion() { return engineStore().ReadSetting(kEngineSection, kEngineVersionIdent, "0.00"); }
    void writeHive(const std::string& text) { writeFile(hivePath, text); }
    void writeEngineValue(const std::string& data) {
        writeHive("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\n"
                  "\"Engine-Version\"=" + data + "\n");
    }
    std::string errorOf(TIniCtrl store) {
        try {
            store.ReadSetting(kEngineSection, kEngineVersionIdent, "0.00");
        } catch (const SettingsError& error) {
            return error.what();
        }
        return "no error";
    }

    TempFolder folder;
    std::string hivePath = folder.file("Vortagon/registry.reg");
};

}  // namespace

TEST_F(SettingsStore, AbsentHiveKeyOrValueGiveTheDefault) {
    EXPECT_EQ(engineVersion(), "0.00");

    writeHive("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"Engine-Version\"=\"1.00\"\n");
    EXPECT_EQ(engineVersion(), "0.00");

    writeHive("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\n\"Engine\"=\"1.00\"\n");
    EXPECT_EQ(engineVersion(), "0.00");

    // The same value under the current user is not the machine's.
    writeHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vortagon\\Quillora-Engine]\n\"Engine-Version\"=\"1.00\"\n");
    EXPECT_EQ(engineVersion(), "0.00");

    writeHive("this is no hive\n[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\n\"Engine-Version\"=\"1.00\"\n");
    EXPECT_EQ(engineVersion(), "0.00");
}

TEST_F(SettingsStore, StoredTextComesBackUnchanged) {
    writeEngineValue("\"1.05\"");
    EXPECT_EQ(engineVersion(), "1.05");
    writeEngineValue("\"\"");
    EXPECT_EQ(engineVersion(), "");  // empty, not the default
    writeEngineValue("\"L\xC3\xB6sung \xE2\x82\xAC\"");  // UTF-8 in the file, Windows-1252 out
    EXPECT_EQ(engineVersion(), "L\xF6sung \x80");
}

TEST_F(SettingsStore, EachReadSeesTheFileAsItIsNow) {
    TIniCtrl store = engineStore();
    EXPECT_EQ(store.ReadSetting(kEngineSection, kEngineVersionIdent, "0.00"), "0.00");
    writeEngineValue("\"2.3\"");
    EXPECT_EQ(store.ReadSetting(kEngineSection, kEngineVersionIdent, "0.00"), "2.3");
}

TEST_F(SettingsStore, ValuesOfOtherTypesFail) {
    writeEngineValue("dword:00000001");
    EXPECT_EQ(errorOf(engineStore()), "Ung\xFCltiger Datentyp f\xFCr 'Engine-Version'");
    writeEngineValue("hex:31,2e,30");
    EXPECT_EQ(errorOf(engineStore()), "Ung\xFCltiger Datentyp f\xFCr 'Engine-Version'");
    writeEngineValue("hex(7):31,00,00,00,00,00");
    EXPECT_EQ(errorOf(engineStore()), "Ung\xFCltiger Datentyp f\xFCr 'Engine-Version'");
    writeEngineValue("hex(2):31,00,zz");
    EXPECT_EQ(errorOf(engineStore()), "Konnte Daten f\xFCr 'Engine-Version' nicht holen");
    // Data of no size is the empty text, whatever its type.
    writeEngineValue("hex:");
    EXPECT_EQ(engineVersion(), "");
}

TEST_F(SettingsStore, ExpandableStringsAreNotExpanded) {
    // "%TMP%\1.0", a NUL, then leftovers that must not show.
    writeEngineValue("hex(2):25,00,54,00,4d,00,50,00,25,00,5c,00,31,00,2e,00,30,00,00,00,39,00,00,00");
    EXPECT_EQ(engineVersion(), "%TMP%\\1.0");
}

TEST_F(SettingsStore, KeyPathAndNamesAreForgiving) {
    writeHive("REGEDIT4\n\n[hkey_local_machine\\SOFTWARE\\VORTAGON\\quillora-engine]\n\"engine-version\"=\"1.00\"\n");
    EXPECT_EQ(engineVersion(), "1.00");

    for (const char* path : {"Software\\Vortagon\\", "\\Software\\Vortagon", "software\\vortagon"}) {
        TIniCtrl store = engineStore();
        store.RegPath = path;
        EXPECT_EQ(store.ReadSetting("QUILLORA-ENGINE", "ENGINE-VERSION", "0.00"), "1.00") << path;
    }
}

TEST_F(SettingsStore, ReadsAUtf16File) {
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\r\n"
                              "\"Engine-Version\"=\"1.00\"\r\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    writeHive(utf16);
    EXPECT_EQ(engineVersion(), "1.00");
}

TEST_F(SettingsStore, EmptySectionMeansThePreviousOne) {
    writeHive("REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Vortagon]\n\"Where\"=\"root\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Common]\n\"Where\"=\"common\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\n\"Where\"=\"engine\"\n");
    TIniCtrl store = engineStore();
    EXPECT_EQ(store.ReadSetting("", "Where", "-"), "common");
    EXPECT_EQ(store.ReadSetting(kEngineSection, "Where", "-"), "engine");
    EXPECT_EQ(store.ReadSetting("  ", "Where", "-"), "engine");
    EXPECT_EQ(store.ReadSetting("#ROOT", "Where", "-"), "root");
    EXPECT_EQ(store.ReadSetting("", "Where", "-"), "root");
    EXPECT_EQ(store.ReadSetting("Missing", "Where", "-"), "-");
}

TEST_F(SettingsStore, SectionsFallBackToTheRootWhenThePathIsMissing) {
    writeHive("REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\"Top\"=\"top\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Quillora-Engine]\n\"Engine-Version\"=\"0.70\"\n");
    TIniCtrl store = engineStore();
    EXPECT_EQ(store.ReadSetting(kEngineSection, kEngineVersionIdent, "0.00"), "0.70");
    EXPECT_EQ(store.ReadSetting("#ROOT", "Top", "-"), "top");
}

TEST(SettingsStoreLocation, FollowsXdgConfigHome) {
    ScopedEnv home("HOME", "/home/reader");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/some/config");
        EXPECT_EQ(TIniCtrl::defaultHivePath(), "/some/config/Vortagon/registry.reg");
        EXPECT_EQ(TIniCtrl().hivePath(), "/some/config/Vortagon/registry.reg");
    }
    for (const char* ignored : {"", "relative/config"}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(TIniCtrl::defaultHivePath(), "/home/reader/.config/Vortagon/registry.reg") << ignored;
    }
}
