// The query evaluation on an image made in memory: which rows pass, in which
// order, with no file and no SQL text in between.

#include "queryeval.h"

#include <gtest/gtest.h>

using namespace archive;

namespace {

constexpr int kTitle = 0;
constexpr int kRating = 1;

// Stored order; row numbers are the positions here. "viel" is a foreign
// file's non-number in the integer field.
std::shared_ptr<const TableImage> sampleImage() {
    const Cell cells[] = {
        std::string("Abenteuer"), std::string("80"),    //
        std::string("abc"),       std::nullopt,         //
        std::string("Zabel"),     std::string("50"),    //
        std::nullopt,             std::string("90"),    //
        std::string("ABBA"),      std::string("viel"),  //
        std::string("Abc"),       std::string("80"),    //
        std::string("x_y"),       std::string("10"),    //
        std::string("%"),         std::string("30"),    //
        std::string("B\xE4r"),    std::string("70"),    //
    };
    return TableImage::fromCells({{"TITEL", FieldKind::Text}, {"WERTUNG", FieldKind::Integer}}, cells);
}

BoundCondition like(int column, const char* pattern) { return {sql::ConditionKind::Like, column, LikePattern(pattern)}; }
BoundCondition upperLike(const char* pattern) { return {sql::ConditionKind::UpperLike, kTitle, LikePattern(pattern)}; }
BoundCondition atLeast(long long minimum) { return {sql::ConditionKind::AtLeast, kRating, std::nullopt, minimum}; }

}  // namespace

TEST(LikePattern, PercentIsTheOnlyWildcard) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"ABC", "ABC", true},       {"ABC", "ABCD", false},    {"AB%", "ABCD", true},     {"%CD", "ABCD", true},
        {"%BC%", "ABCD", true},     {"%", "", true},           {"%%", "X", true},         {"", "", true},
        {"", "X", false},           {"A_C", "ABC", false},     {"A_C", "A_C", true},      {"%A%B%", "BA", false},
        {"%ABA%ABA%", "ABABA", false}, {"%ABA%ABA%", "ABAABA", true}, {"A%A", "A", false}, {"a%", "A", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LikePattern(c.pattern).matches(c.text), c.matches) << c.pattern << " / " << c.text;
    EXPECT_EQ(LikePattern("%AB%").containedText(), "AB");
    EXPECT_EQ(LikePattern("%").containedText(), "");
    EXPECT_FALSE(LikePattern("%A%B%").containedText());
    EXPECT_FALSE(LikePattern("AB%").containedText());
}

TEST(SelectRows, ConditionsAndOrdersAsAQueryAsksForThem) {
    struct Case {
        const char* name;
        std::vector<BoundCondition> conditions;
        std::vector<SortSpec> order;
        std::vector<uint32_t> rows;
    };
    const std::vector<Case> cases = {
        {"everything in stored order", {}, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"a title keystroke", {upperLike("%AB%")}, {}, {0, 1, 2, 4, 5}},
        {"upper-casing takes umlauts", {upperLike("%B\xC4R%")}, {}, {8}},
        {"LIKE itself minds the case", {like(kTitle, "%Ab%")}, {}, {0, 5}},
        {"NULL never satisfies LIKE", {like(kTitle, "%")}, {}, {0, 1, 2, 4, 5, 6, 7, 8}},
        {"an underscore is itself", {like(kTitle, "x_y")}, {}, {6}},
        {"a least rating leaves out NULL and non-numbers", {atLeast(80)}, {}, {0, 3, 5}},
        {"LIKE on an integer field reads its digits", {like(kRating, "8%")}, {}, {0, 5}},
        {"two conditions", {upperLike("%AB%"), atLeast(60)}, {}, {0, 5}},
        {"no row passes", {upperLike("%QQ%")}, {{kTitle, false}}, {}},
        {"largest first, ties in stored order", {atLeast(0)}, {{kRating, true}}, {3, 0, 5, 8, 2, 7, 6}},
        {"ascending: NULL, numbers, then a foreign non-number", {upperLike("%AB%")}, {{kRating, false}}, {1, 2, 0, 5, 4}},
        {"descending: the non-number first, NULL last", {upperLike("%AB%")}, {{kRating, true}}, {4, 0, 5, 2, 1}},
        {"two keys", {atLeast(50)}, {{kRating, true}, {kTitle, true}}, {3, 0, 5, 8, 2}},
    };
    const auto image = sampleImage();
    for (const Case& c : cases) {
        std::vector<uint32_t> rows{99};  // whatever a reused buffer held before
        selectRows(*image, c.conditions, c.order, rows);
        EXPECT_EQ(rows, c.rows) << c.name;
    }
}
