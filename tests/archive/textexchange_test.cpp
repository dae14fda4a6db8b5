// The exchange format byte by byte: lines as the reader cuts them, the four
// values of a line, and export lines of real table records.

#include "engine.h"
#include "tablefixtures.h"
#include "testfolder.h"
#include "textexchange.h"
#include "wholefile.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace archive;

namespace {

std::vector<std::string> linesOf(std::string_view bytes) {
    ImportLineReader reader;
    reader.openBytes(bytes);
    std::vector<std::string> lines;
    for (std::string line; reader.readLine(line);) lines.push_back(line);
    return lines;
}

// For each line read: whether it ended at a CR.
std::vector<bool> crEndsOf(std::string_view bytes) {
    ImportLineReader reader;
    reader.openBytes(bytes);
    std::vector<bool> ends;
    for (std::string line; reader.readLine(line);) ends.push_back(reader.lineEndedAtCr());
    return ends;
}

using Lines = std::vector<std::string>;
using Values = std::array<std::string, 4>;

}  // namespace

TEST(ImportLines, LineEndsCtrlZAndBlankLines) {
    EXPECT_EQ(linesOf(""), Lines{});
    EXPECT_EQ(linesOf("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(linesOf("a\r\nb"), (Lines{"a", "b"}));                 // no end after the last line
    EXPECT_EQ(linesOf("a\r\n\r\n"), (Lines{"a", ""}));               // a blank last line is a record
    EXPECT_EQ(linesOf("a\rb\r"), (Lines{"a", "b"}));                 // CR alone ends a line
    EXPECT_EQ(linesOf("a\r\r\nb"), (Lines{"a", "", "b"}));           // only one LF is skipped
    EXPECT_EQ(linesOf("a\nb\nc\n"), (Lines{"a\nb\nc\n"}));           // LF alone is text
    EXPECT_EQ(linesOf("a\r\n\nb\r\n"), (Lines{"a", "\nb"}));         // the second LF belongs to the next line
    EXPECT_EQ(linesOf("a\r\nb\x1A" "c\r\nd\r\n"), (Lines{"a", "b"}));  // Ctrl-Z ends the file
    EXPECT_EQ(linesOf("a\r\n\x1A"), (Lines{"a"}));
    EXPECT_EQ(linesOf("\x1A" "a\r\n"), Lines{});
    EXPECT_EQ(linesOf(std::string("x\0y\r\n", 5)), Lines{std::string("x\0y", 3)});
}

TEST(ImportLines, TellWhetherALineEndedAtCr) {
    using Ends = std::vector<bool>;
    EXPECT_EQ(crEndsOf("a\r\nb"), (Ends{true, false}));
    EXPECT_EQ(crEndsOf("a\nb\n"), (Ends{false}));  // LF line ends: one line without an end
    EXPECT_EQ(crEndsOf("a\rb\x1A"), (Ends{true, false}));
    EXPECT_EQ(crEndsOf("a\r"), (Ends{true}));
}

TEST(ImportLines, LongLinesAndChunkBorders) {
    TestFolder folder;
    // A 1 MB line with umlauts, then a CR at the very end of a read chunk and
    // its LF at the start of the next.
    const std::string longLine(1 << 20, '\xE4');
    std::string bytes = longLine + "\r\n";
    bytes.append((1 << 16) * 3 - bytes.size() % (1 << 16) - 1, 'b');
    bytes += "\r\nlast";
    std::ofstream(folder.file("in.txt"), std::ios::binary) << bytes;
    ImportLineReader reader;
    reader.open(folder.file("in.txt"));
    std::string line;
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(line, longLine);
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(line.find_first_not_of('b'), std::string::npos);
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(reader.readLine(line));
    EXPECT_FALSE(reader.readLine(line));
}

TEST(ImportValues, SplitByTheFirstThreeTabs) {
    EXPECT_EQ(splitImportLine("a\tb\tc\td"), (Values{"a", "b", "c", "d"}));
    EXPECT_EQ(splitImportLine("a\tb\tc\td\te"), (Values{"a", "b", "c", "d\te"}));
    EXPECT_EQ(splitImportLine("abc"), (Values{"", "", "", "abc"}));
    EXPECT_EQ(splitImportLine("a\tb"), (Values{"a", "", "", "b"}));
    EXPECT_EQ(splitImportLine("a\tb\tc"), (Values{"a", "b", "", "c"}));
    EXPECT_EQ(splitImportLine(""), (Values{"", "", "", ""}));
    EXPECT_EQ(splitImportLine("\t\t\t"), (Values{"", "", "", ""}));
    EXPECT_EQ(splitImportLine("a\t\t\td\n"), (Values{"a", "", "", "d\n"}));
}

TEST(Export, LinesOfRecordsInStoredOrder) {
    TestFolder folder;
    writeTable(folder.file("CDData.DB"), discView(),
               {{std::string("Gr\xFCn Demo"), std::string("2004/10"), std::string("Demo"), std::string("CD")},
                {std::string("Leer"), std::nullopt, std::string("Patch"), std::nullopt}});
    writeTable(folder.file("TippsData.DB"), tipsView(),
               {{std::string("Zeppelin"), std::string("1999/07"), std::string("L\xF6sung"), std::string("12")}});
    Table table;
    openTable(table, folder.path(), "CDData.db");
    {
        WholeFileWriter out(folder.file("CDData.db.txt"));
        exportRecords(table, out);
        out.commit();
    }
    EXPECT_EQ(fileContent(folder.file("CDData.db.txt")),
              "Gr\xFCn Demo\t2004/10\tDemo\tCD\r\nLeer\t\tPatch\t\r\n");

    // Exported lines come back through the reader and splitter unchanged.
    ImportLineReader reader;
    reader.open(folder.file("CDData.db.txt"));
    std::string line;
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(splitImportLine(line), (Values{"Gr\xFCn Demo", "2004/10", "Demo", "CD"}));

    table.close();
    table.tableName = "TippsData.db";
    table.open();
    std::string tips;
    appendExportLine(tips, table, 0);
    EXPECT_EQ(tips, "Zeppelin\t1999/07\tL\xF6sung\t12\r\n");
}
