#include "filefaults.h"
#include "registryhive.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

// A hive as another tool would have exported it: every value form, comments,
// a wrapped hex value and a line nobody understands.
const std::string kMixedHive =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; exported by hand\r\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    "@=\"default text\"\r\n"
    "\"Path\"=\"C:\\\\Programme\\\\\\\"Quoted\\\"\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Blob\"=hex:01,02,ff\r\n"
    "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Wrapped\"=hex:00,01,02,03,\\\r\n"
    "  04,05\r\n"
    "\"Broken\"=hex:zz\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\r\n"
    "\"Engine-Version\"=\"0.50\"\r\n";

RegistryHive parsed(const std::string& text) {
    RegistryHive hive;
    EXPECT_TRUE(hive.parse(text));
    return hive;
}

const RegistryValue& valueOf(const RegistryHive& hive, std::string_view key, std::string_view name) {
    const RegistryValue* value = hive.findValue(key, name);
    if (!value) throw std::runtime_error("value missing: " + std::string(name));
    return *value;
}

}  // namespace

TEST(RegistryHive, ReadsEveryValueForm) {
    const RegistryHive hive = parsed(kMixedHive);
    const std::string key = "HKEY_CURRENT_USER\\Software\\Other";

    EXPECT_EQ(valueOf(hive, key, "").text, "default text");
    EXPECT_EQ(valueOf(hive, key, "Path").text, "C:\\Programme\\\"Quoted\"");
    EXPECT_EQ(valueOf(hive, key, "Count").form, RegistryValue::Form::Dword);
    EXPECT_EQ(valueOf(hive, key, "Count").dword, 42u);
    EXPECT_EQ(valueOf(hive, key, "Blob").bytes, (std::vector<std::uint8_t>{1, 2, 0xFF}));
    EXPECT_EQ(valueOf(hive, key, "Blob").type, kRegBinary);
    EXPECT_EQ(valueOf(hive, key, "Wrapped").bytes, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(valueOf(hive, key, "Multi").type, kRegMultiString);
    EXPECT_EQ(hive.textOf(valueOf(hive, key, "Expand")), "%TEMP%");
    EXPECT_EQ(valueOf(hive, key, "Broken").form, RegistryValue::Form::Unreadable);
    EXPECT_EQ(hive.textOf(valueOf(hive, kEngineKey, "Engine-Version")), "0.50");
}

TEST(RegistryHive, NamesCompareWithoutLetterCase) {
    const RegistryHive hive = parsed(kMixedHive);
    EXPECT_TRUE(hive.findValue("hkey_local_machine\\SOFTWARE\\vortagon\\quillora-engine", "ENGINE-VERSION"));
    EXPECT_TRUE(sameRegistryName("\xC3\xA4nderung", "\xC3\x84NDERUNG"));  // Änderung in UTF-8
    EXPECT_FALSE(sameRegistryName("Engine-Version", "Engine-Versio"));
}

TEST(RegistryHive, KeysOnThePathToAWrittenKeyExist) {
    const RegistryHive hive = parsed(kMixedHive);
    EXPECT_TRUE(hive.keyExists("HKEY_LOCAL_MACHINE\\Software\\Vortagon"));
    EXPECT_TRUE(hive.keyExists("HKEY_LOCAL_MACHINE\\software"));
    EXPECT_FALSE(hive.keyExists("HKEY_LOCAL_MACHINE\\Software\\Vort"));
    EXPECT_FALSE(hive.keyExists("HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine\\Sub"));
    EXPECT_FALSE(hive.findValue("HKEY_LOCAL_MACHINE\\Software\\Vortagon", "Engine-Version"));
}

TEST(RegistryHive, RoundTripKeepsEverything) {
    const RegistryHive first = parsed(kMixedHive);
    const std::string text = first.serialise();
    const RegistryHive second = parsed(text);
    EXPECT_EQ(second.serialise(), text);
    ASSERT_EQ(second.keys().size(), first.keys().size());
    for (size_t k = 0; k < first.keys().size(); ++k) {
        const auto& a = first.keys()[k];
        const auto& b = second.keys()[k];
        EXPECT_EQ(a.path, b.path);
        ASSERT_EQ(a.values.size(), b.values.size()) << a.path;
        for (size_t v = 0; v < a.values.size(); ++v) {
            EXPECT_EQ(a.values[v].form, b.values[v].form) << a.values[v].name;
            EXPECT_EQ(a.values[v].name, b.values[v].name);
            EXPECT_EQ(a.values[v].type, b.values[v].type);
            EXPECT_EQ(a.values[v].text, b.values[v].text);
            EXPECT_EQ(a.values[v].dword, b.values[v].dword);
            EXPECT_EQ(a.values[v].bytes, b.values[v].bytes);
            EXPECT_EQ(a.values[v].line, b.values[v].line);
        }
    }
    EXPECT_NE(text.find("; exported by hand"), std::string::npos);
    EXPECT_NE(text.find("\"Broken\"=hex:zz"), std::string::npos);
}

// A continuation whose next part is only a blank and a CR before the
// backslash leaves a CR at the end of the joined line; written on one line,
// it would be stripped by the next read and the hive written differently.
TEST(RegistryHive, WrittenAfterReadingBackItIsTheSameBytes) {
    const std::string hive =
        "REGEDIT4\r\n"
        "[HKEY_USERS\\X]\r\n"
        "\"no closing quote\\\r\n"
        " \r\\\r\n"
        "\r\n"
        "\"Cut\"=hex:01,\\\r\n"
        " \r\\\r\n"
        "\r\n"
        "\"Wrapped\"=hex:0a,\\\r\n"
        "  0b\r\n"
        "; a comment\rwith a CR inside\r\n";
    const RegistryHive first = parsed(hive);
    const std::string written = first.serialise();
    EXPECT_EQ(parsed(written).serialise(), written);
    const std::string key = "HKEY_USERS\\X";
    EXPECT_EQ(valueOf(first, key, "Cut").form, RegistryValue::Form::Unreadable);
    EXPECT_EQ(valueOf(first, key, "Cut").line, "\"Cut\"=hex:01,");
    EXPECT_EQ(valueOf(first, key, "Wrapped").bytes, (std::vector<std::uint8_t>{0x0A, 0x0B}));
    ASSERT_EQ(first.keys().size(), 1u);
    const auto& values = first.keys()[0].values;
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].form, RegistryValue::Form::Verbatim);
    EXPECT_EQ(values[0].line, "\"no closing quote");
    // A CR inside a line is no line end: it stays where it is.
    EXPECT_EQ(values[3].line, "; a comment\rwith a CR inside");

    // A last line ending in backslashes, blanks between them or not, reads
    // the same with or without a line end after it; the writer always
    // writes one.
    for (const std::string& last :
         {std::string("@=dword:00000001\\"), std::string("\"Two\"=x\\\\"), std::string("\"Z\"=\"a\\\\ \\")}) {
        const std::string head = "REGEDIT4\n[HKEY_USERS\\X]\n";
        const std::string open = parsed(head + last).serialise();
        EXPECT_EQ(open, parsed(head + last + "\n").serialise()) << last;
        EXPECT_EQ(parsed(open).serialise(), open) << last;
    }
    EXPECT_EQ(valueOf(parsed("REGEDIT4\n[HKEY_USERS\\X]\n@=dword:00000001\\"), "HKEY_USERS\\X", "").dword, 1u);
}

TEST(RegistryHive, LongHexValuesWrapAndComeBack) {
    RegistryHive hive;
    ASSERT_TRUE(hive.parse("REGEDIT4\n[HKEY_USERS\\X]\n"));
    std::string line = "REGEDIT4\n[HKEY_USERS\\X]\n\"Long\"=hex:";
    for (int i = 0; i < 100; ++i) line += (i ? ",7f" : "7f");
    ASSERT_TRUE(hive.parse(line + "\n"));
    const std::string text = hive.serialise();
    EXPECT_NE(text.find("\\\n  "), std::string::npos);
    const RegistryHive again = parsed(text);
    EXPECT_EQ(valueOf(again, "HKEY_USERS\\X", "Long").bytes, std::vector<std::uint8_t>(100, 0x7F));
    EXPECT_EQ(again.format(), RegistryHive::Format::Regedit4);
}

TEST(RegistryHive, SetTextKeepsOtherKeysAndSpelling) {
    RegistryHive hive = parsed(
        "REGEDIT4\n"
        "[hkey_local_machine\\software\\vortagon\\quillora-engine]\n"
        "\"ENGINE-VERSION\"=dword:00000001\n"
        "\"Other\"=\"kept\"\n");
    hive.setText(kEngineKey, "Engine-Version", "1.00");
    hive.setText("HKEY_CURRENT_USER\\New", "Name", "value");

    ASSERT_EQ(hive.keys().size(), 2u);
    EXPECT_EQ(hive.keys()[0].path, "hkey_local_machine\\software\\vortagon\\quillora-engine");
    const RegistryValue& version = valueOf(hive, kEngineKey, "engine-version");
    EXPECT_EQ(version.name, "ENGINE-VERSION");
    EXPECT_EQ(version.form, RegistryValue::Form::Text);
    EXPECT_EQ(hive.textOf(version), "1.00");
    EXPECT_EQ(valueOf(hive, kEngineKey, "Other").text, "kept");
    EXPECT_EQ(valueOf(hive, "HKEY_CURRENT_USER\\New", "Name").text, "value");
}

TEST(RegistryHive, TextWithLineBreaksSurvivesTheFile) {
    for (const char* header : {"REGEDIT4\n", "Windows Registry Editor Version 5.00\n"}) {
        RegistryHive hive = parsed(header);
        hive.setText("HKEY_USERS\\X", "Lines", "erste\r\nzweite \xC3\xA4");
        hive.setText("HKEY_USERS\\X", "After", "next");
        const RegistryHive again = parsed(hive.serialise());
        EXPECT_EQ(again.textOf(valueOf(again, "HKEY_USERS\\X", "Lines")), "erste\r\nzweite \xC3\xA4") << header;
        EXPECT_EQ(valueOf(again, "HKEY_USERS\\X", "After").text, "next") << header;
    }
}

TEST(RegistryHive, LaterLinesWinAndDeletionsApply) {
    const RegistryHive hive = parsed(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_USERS\\A]\n\"v\"=\"first\"\n\"gone\"=\"x\"\n"
        "[HKEY_USERS\\A\\Child]\n\"c\"=\"y\"\n"
        "[HKEY_USERS\\B]\n\"b\"=\"z\"\n"
        "[HKEY_USERS\\a]\n\"V\"=\"second\"\n\"gone\"=-\n"
        "[-HKEY_USERS\\B]\n");
    EXPECT_EQ(valueOf(hive, "HKEY_USERS\\A", "v").text, "second");
    EXPECT_FALSE(hive.findValue("HKEY_USERS\\A", "gone"));
    EXPECT_TRUE(hive.findValue("HKEY_USERS\\A\\Child", "c"));
    EXPECT_FALSE(hive.keyExists("HKEY_USERS\\B"));
}

TEST(RegistryHive, DecodesTheFileEncodings) {
    const std::string body = "[HKEY_USERS\\X]\r\n\"Titel\"=\"L\xC3\xB6sung\"\r\n";

    RegistryHive withBom;
    ASSERT_TRUE(withBom.parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n" + body));
    EXPECT_EQ(valueOf(withBom, "HKEY_USERS\\X", "Titel").text, "L\xC3\xB6sung");

    std::string utf16 = "\xFF\xFE";
    for (unsigned char c : std::string("Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\X]\r\n\"Titel\"=\"L")) {
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    utf16 += std::string("\xF6\0\x20\x20\"\0\r\0\n\0", 10);  // ö, then U+2020 (a dagger), quote, line end
    RegistryHive wide;
    ASSERT_TRUE(wide.parse(utf16));
    EXPECT_EQ(valueOf(wide, "HKEY_USERS\\X", "Titel").text, "L\xC3\xB6\xE2\x80\xA0");

    // An old export in the Windows code page is not UTF-8.
    RegistryHive ansi;
    ASSERT_TRUE(ansi.parse("REGEDIT4\r\n[HKEY_USERS\\X]\r\n\"Titel\"=\"L\xF6sung \x80\"\r\n"));
    EXPECT_EQ(valueOf(ansi, "HKEY_USERS\\X", "Titel").text, "L\xC3\xB6sung \xE2\x82\xAC");
}

TEST(RegistryHive, StringDataFollowsTheFormat) {
    // hex(2) holds UTF-16LE in version 5 files and the code page in REGEDIT4 files.
    const RegistryHive wide = parsed(
        "Windows Registry Editor Version 5.00\n[HKEY_USERS\\X]\n\"E\"=hex(2):e4,00,00,00,41,00\n");
    EXPECT_EQ(wide.textOf(valueOf(wide, "HKEY_USERS\\X", "E")), "\xC3\xA4");
    const RegistryHive ansi = parsed("REGEDIT4\n[HKEY_USERS\\X]\n\"E\"=hex(2):e4,62,00,41\n");
    EXPECT_EQ(ansi.textOf(valueOf(ansi, "HKEY_USERS\\X", "E")), "\xC3\xA4" "b");
    EXPECT_FALSE(ansi.textOf(valueOf(parsed("REGEDIT4\n[HKEY_USERS\\X]\n\"D\"=dword:1\n"), "HKEY_USERS\\X", "D")));
}

TEST(RegistryHive, RejectsFilesWithoutHeader) {
    RegistryHive hive;
    EXPECT_FALSE(hive.parse(""));
    EXPECT_FALSE(hive.parse("[HKEY_USERS\\X]\n\"a\"=\"b\"\n"));
    EXPECT_FALSE(hive.parse("REGEDIT5\n"));
    EXPECT_TRUE(hive.parse("\n\n  REGEDIT4  \n"));
}

TEST(RegistryHive, LoadTellsMissingFromBroken) {
    TempFolder folder;
    RegistryHive hive;
    EXPECT_EQ(hive.load(folder.file("none.reg")), RegistryHive::LoadStatus::Missing);
    writeFile(folder.file("text.reg"), "just some text\n");
    EXPECT_EQ(hive.load(folder.file("text.reg")), RegistryHive::LoadStatus::NotAHive);
    EXPECT_EQ(hive.load(folder.path()), RegistryHive::LoadStatus::Unreadable);
    EXPECT_TRUE(hive.keys().empty());
}

TEST(RegistryHive, SaveCreatesTheFolderAndReplacesWhole) {
    TempFolder folder;
    const std::string path = folder.file("Vortagon/registry.reg");
    RegistryHive hive = parsed(kMixedHive);
    ASSERT_EQ(hive.save(path), 0);

    RegistryHive loaded;
    ASSERT_EQ(loaded.load(path), RegistryHive::LoadStatus::Loaded);
    EXPECT_EQ(loaded.serialise(), hive.serialise());

    loaded.setText(kEngineKey, "Engine-Version", "1.00");
    ASSERT_EQ(loaded.save(path), 0);
    RegistryHive again;
    ASSERT_EQ(again.load(path), RegistryHive::LoadStatus::Loaded);
    EXPECT_EQ(again.textOf(valueOf(again, kEngineKey, "Engine-Version")), "1.00");
    EXPECT_TRUE(again.findValue("HKEY_CURRENT_USER\\Software\\Other", "Count"));
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "Vortagon"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(RegistryHive, SaveWritesThroughASymbolicLink) {
    TempFolder folder;
    writeFile(folder.file("real.reg"), "REGEDIT4\n");
    std::filesystem::create_symlink(folder.file("real.reg"), folder.file("link.reg"));
    ASSERT_EQ(parsed(kMixedHive).save(folder.file("link.reg")), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.reg")));
    EXPECT_NE(readFile(folder.file("real.reg")).find("Quillora-Engine"), std::string::npos);
}

TEST(RegistryHive, FailedSaveLeavesTheOldFileIntact) {
    TempFolder folder;
    const std::string path = folder.file("registry.reg");
    const std::string old = "REGEDIT4\n\n[HKEY_USERS\\Old]\n\"a\"=\"b\"\n";
    writeFile(path, old);

    // A file size limit of zero makes the write of the new contents fail.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        RegistryHive hive;
        hive.parse(kMixedHive);
        ::_exit(hive.save(path) == EFBIG ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), std::filesystem::directory_iterator()),
              1);
}

TEST(RegistryHive, SaveFailsWhereNoFolderCanBeMade) {
    TempFolder folder;
    writeFile(folder.file("plain"), "not a folder");
    EXPECT_NE(parsed(kMixedHive).save(folder.file("plain/registry.reg")), 0);
    EXPECT_EQ(readFile(folder.file("plain")), "not a folder");
}

// Any single step of the save failing (creating the fresh file, writing,
// flushing, closing, renaming) returns its errno and leaves the old hive
// byte for byte, or no hive where there was none, and nothing beside it.
TEST(RegistryHive, ASaveFailingAtAnyStepKeepsTheOldHive) {
    TempFolder folder;
    const std::string path = folder.file("registry.reg");
    const std::string old = "REGEDIT4\n\n[HKEY_USERS\\Old]\n\"a\"=\"b\"\n";
    const RegistryHive hive = parsed(kMixedHive);
    auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(folder.path()), std::filesystem::directory_iterator());
    };
    int steps = 0;
    {
        FileStepFaults faults;
        ASSERT_EQ(hive.save(path), 0);
        steps = faults.count();
    }
    ASSERT_GE(steps, 5);
    for (const bool existed : {true, false}) {
        for (int n = 1; n <= steps; ++n) {
            SCOPED_TRACE(std::string(existed ? "old hive, " : "no hive, ") + "step " + std::to_string(n));
            std::filesystem::remove(path);
            if (existed) writeFile(path, old);
            FileStepFaults faults;
            const int code = n % 2 ? ENOSPC : EIO;
            faults.failNth(n, code);
            EXPECT_EQ(hive.save(path), code);
            EXPECT_TRUE(faults.fired());
            if (existed) {
                EXPECT_EQ(readFile(path), old);
                EXPECT_EQ(entries(), 1);
            } else {
                EXPECT_FALSE(std::filesystem::exists(path));
                EXPECT_EQ(entries(), 0);
            }
        }
    }
}
