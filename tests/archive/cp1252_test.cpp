#include "cp1252.h"

#include <gtest/gtest.h>

using namespace archive;

TEST(Cp1252, EveryByteSurvivesTheRoundTripThroughUtf8) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
    const std::string utf8 = cp1252ToUtf8(all);
    EXPECT_EQ(utf8ToCp1252(utf8), all);
    // The five undefined bytes keep their C1 code point.
    for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(unicodeOfCp1252(undefined), static_cast<char32_t>(undefined));
}

TEST(Cp1252, KnownCharactersConvertToTheirUnicodeForm) {
    EXPECT_EQ(cp1252ToUtf8("L\xF6sung"), "L\xC3\xB6sung");
    EXPECT_EQ(cp1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
    EXPECT_EQ(utf8ToCp1252("Stra\xC3\x9F" "e \xE2\x80\x9E" "x\xE2\x80\x9C"), "Stra\xDF" "e \x84x\x93");
}

TEST(Cp1252, UnmappableAndMalformedInputBecomesQuestionMarks) {
    EXPECT_EQ(utf8ToCp1252("a\xE2\x86\x92" "b"), "a?b");          // arrow, no Windows-1252 form
    EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80"), "?");             // outside the BMP
    EXPECT_EQ(utf8ToCp1252("\xC2\x80"), "?");                      // U+0080 is not the euro byte
    EXPECT_EQ(utf8ToCp1252("a\xC3"), "a?");                        // cut off
    EXPECT_EQ(utf8ToCp1252("\xC0\xAF" "x"), "??x");                // overlong
    EXPECT_EQ(utf8ToCp1252("\xED\xA0\x80"), "???");                // surrogate
    EXPECT_EQ(utf8ToCp1252("\xFFok"), "?ok");
}

TEST(Cp1252, UpperCaseCoversTheGermanAndWesternLetters) {
    EXPECT_EQ(upperCp1252("l\xF6sung \xE4\xFC\xDF"), "L\xD6SUNG \xC4\xDC\xDF");  // sharp s has no capital
    EXPECT_EQ(upperCp1252(static_cast<unsigned char>(0xF7)), 0xF7);  // division sign
    EXPECT_EQ(upperCp1252(static_cast<unsigned char>(0xFF)), 0x9F);
    EXPECT_EQ(upperCp1252(static_cast<unsigned char>(0x9A)), 0x8A);
    EXPECT_EQ(upperCp1252(static_cast<unsigned char>(0x9C)), 0x8C);
    EXPECT_EQ(upperCp1252(static_cast<unsigned char>(0x9E)), 0x8E);
    EXPECT_EQ(upperCp1252(static_cast<unsigned char>(0xB5)), 0xB5);  // micro sign stays
    EXPECT_EQ(upperCp1252("abc_%1"), "ABC_%1");
}

// A text is upper-cased by words and blocks: every byte, at every place in a
// word and on both sides of a block's end, as the byte alone is.
TEST(Cp1252, UpperCaseOfATextIsThatOfEachByte) {
    std::string text;
    for (int round = 0; round < 20; ++round)
        for (int byte = 0; byte < 256; ++byte) text += static_cast<char>((byte * 7 + round) & 0xFF);
    text.insert(4090, "abyz`{@[");  // ASCII words around the first block's end
    std::string expected;
    for (const char c : text) expected += static_cast<char>(upperCp1252(static_cast<unsigned char>(c)));
    for (const size_t skip : {size_t(0), size_t(1), size_t(3), size_t(7)})
        EXPECT_EQ(upperCp1252(std::string_view(text).substr(skip)), expected.substr(skip)) << skip;
}

TEST(Cp1252, AsciiCaseLeavesEveryOtherByteAsItIs) {
    EXPECT_EQ(upperAscii("l\xF6sung az{@`"), "L\xF6SUNG AZ{@`");  // the title filter keeps umlauts as typed
    EXPECT_TRUE(equalsIgnoringAsciiCase("dword:", "DWORD:"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xE4", "\xC4"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("ab", "abc"));
    EXPECT_TRUE(equalsIgnoringCase("\xE4", "\xC4"));
}

TEST(Cp1252, Utf8SequencesDecodeToTheirCodePointOrNothing) {
    const std::string text = "a\xC3\xB6\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(decodeUtf8(text, 0)->codePoint, U'a');
    EXPECT_EQ(decodeUtf8(text, 1)->codePoint, U'\u00F6');
    EXPECT_EQ(decodeUtf8(text, 3)->length, 3u);
    EXPECT_EQ(decodeUtf8(text, 6)->codePoint, U'\U0001F600');
    EXPECT_FALSE(decodeUtf8(text, 2));             // inside a sequence
    EXPECT_FALSE(decodeUtf8(text, text.size()));   // past the end
    EXPECT_TRUE(isValidUtf8(text));
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "x\xFF"})
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
    EXPECT_TRUE(isValidUtf8(""));
}
