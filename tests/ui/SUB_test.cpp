#include "stub/ui/SUB.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kMonths = "||JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC|";

TEST(SUB, FieldCount) {
    const struct {
        std::string list;
        int count;
    } cases[] = {
        {"", 0},
        {"|", 0},
        {"||", 1},
        {"|a|b|", 2},
        {"|a|b", 0},
        {kMonths, 13},
        {"\x02x\x02y\x02", 2},
        {"|a|\0b|"s, 1}, // reading stops at the NUL
        {"|a|b|\0junk"s, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SUB::FieldCount(c.list), c.count) << c.list;
    }
}

TEST(SUB, GetField) {
    const struct {
        std::string list;
        int index;
        std::string field;
    } cases[] = {
        {"|a|b|", 1, "b"},    {"|a||b|", 1, "x"}, {"|a|b", 1, "x"},       {"|a|b", 0, "a"},
        {"|a|b|", 5, "x"},    {"", 0, "x"},       {"|a|b|", -1, "x"},     {kMonths, 1, "JAN"},
        {kMonths, 12, "DEC"}, {kMonths, 0, "x"},  {"|ab|c\0d|"s, 1, "x"}, {"#one#two#", 0, "one"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SUB::GetField(c.list, c.index, "x"), c.field) << c.list << " @" << c.index;
    }
}

TEST(SUB, GetIntField) {
    const std::string list = "|12|-7|+3|1x||2147483647|2147483648|-2147483648| 5|";
    const int expected[] = {12, -7, 3, 99, 99, 2147483647, 99, -2147483647 - 1, 99, 99};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(SUB::GetIntField(list, i, 99), expected[i]) << "index " << i;
    }
}

TEST(SUB, GetKeyValue) {
    const std::string fonts = "|FontSize =8| FontName=Tahoma|";
    EXPECT_EQ(SUB::GetKeyValue(fonts, "fontsize", "d", "e"), "8");
    EXPECT_EQ(SUB::GetKeyValue(fonts, "FONTNAME", "d", "e"), "Tahoma");
    EXPECT_EQ(SUB::GetKeyValue(fonts, "FontName=", "d", "e"), "Tahoma");
    EXPECT_EQ(SUB::GetKeyValue(fonts, "Colour", "d", "e"), "d");
    EXPECT_EQ(SUB::GetKeyValue(fonts, "Font", "d", "e"), "d");
    EXPECT_EQ(SUB::GetKeyValue("|FontSize= 8|", "FontSize", "d", "e"), " 8");
    EXPECT_EQ(SUB::GetKeyValue("|Key=|", "Key", "d", "e"), "e");
    // Only one blank is ignored on each side.
    EXPECT_EQ(SUB::GetKeyValue("|  Key=v|", "Key", "d", "e"), "d");
    EXPECT_EQ(SUB::GetKeyValue("|Key  =v|", "Key", "d", "e"), "d");
    // The first matching field wins; a value may contain '='.
    EXPECT_EQ(SUB::GetKeyValue("|a=1|a=2|", "A", "d", "e"), "1");
    EXPECT_EQ(SUB::GetKeyValue("|a=b=c|", "a", "d", "e"), "b=c");
    // Lists that are too short or not closed by their delimiter.
    EXPECT_EQ(SUB::GetKeyValue("||", "", "d", "e"), "d");
    EXPECT_EQ(SUB::GetKeyValue("|a=1", "a", "d", "e"), "d");
    // Other delimiters, and nothing after the first NUL.
    EXPECT_EQ(SUB::GetKeyValue("\x01k=v\x01z=w\x01", "Z", "d", "e"), "w");
    EXPECT_EQ(SUB::GetKeyValue("|a=1|\0b=2|"s, "b", "d", "e"), "d");
}

TEST(SUB, SetField) {
    const struct {
        std::string list;
        int index;
        std::string text;
        std::string result;
    } cases[] = {
        {"", 2, "c", "|||c|"},
        {"|a|b|", 0, "x", "|x|b|"},
        {"|a|b|", 1, "p|q", "^a^p|q^"},
        {"|a|b|", 1, "|^!", "~a~|^!~"},
        {"|a|b|", 3, "d", "|a|b||d|"},
        {"|a|b", 1, "X", "|a|X|"}, // the unterminated tail is not a field
        {"#a#b#", 1, "c", "#a#c#"},
        {"#a#b#", 0, "#", "|#|b|"},
        {"|a|b|", 0, "x\0y"s, "|x|b|"}, // a field cannot hold NUL
        {"|a|b|", -1, "x", "|a|b|"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SUB::SetField(c.list, c.index, c.text), c.result)
            << c.list << " @" << c.index << " = " << c.text;
    }
}

// When every usual delimiter occurs in the fields, another free byte delimits the list, so
// reading it back gives every field unchanged.
TEST(SUB, SetFieldWithEveryCandidateDelimiterInUse) {
    const std::string all = "|^!~@#$&*\xFF";
    const std::string list = SUB::SetField("|a|b|", 1, all);
    EXPECT_EQ(list, "\x01"
                    "a\x01" +
                        all + "\x01");
    EXPECT_EQ(SUB::FieldCount(list), 2);
    EXPECT_EQ(SUB::GetField(list, 0, ""), "a");
    EXPECT_EQ(SUB::GetField(list, 1, ""), all);

    // Further writes keep working on such a list.
    const std::string grown = SUB::SetField(list, 3, "\x01x");
    EXPECT_EQ(SUB::FieldCount(grown), 4);
    EXPECT_EQ(SUB::GetField(grown, 1, ""), all);
    EXPECT_EQ(SUB::GetField(grown, 3, ""), "\x01x");

    // With every byte 1..255 in use no delimiter exists: the list is returned as it was.
    std::string everyByte;
    for (int c = 1; c < 256; ++c) {
        everyByte += static_cast<char>(c);
    }
    EXPECT_EQ(SUB::SetField("|a|b|", 0, everyByte), "|a|b|");
}

// Bytes drawn mostly from the delimiter candidates, blanks, '=' and NUL; with `anyByte` also
// from every byte value.
std::string RandomText(std::mt19937& rng, std::size_t maxLength, bool anyByte) {
    static const char alphabet[] = "|^!~@#$&*\xFF\x01=  aAbB\0"; // NUL is the last byte
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<int> fromAlphabet(0, sizeof alphabet - 1);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::string s(length(rng), '\0');
    for (char& c : s) {
        c = anyByte && pick(rng) == 0 ? static_cast<char>(byteValue(rng))
                                      : alphabet[fromAlphabet(rng)];
    }
    return s;
}

std::string UpToNul(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

// Random lists full of NULs and delimiter candidates: nothing crashes, and SetField writes
// exactly the field it was asked to while every other field reads back unchanged.
TEST(SUB, RandomListsKeepEveryField) {
    std::mt19937 rng(20260811);
    std::uniform_int_distribution<int> index(-2, 40);
    for (int round = 0; round < 20000; ++round) {
        // Long lists stay within the alphabet, so that some byte is always free to delimit.
        const bool longList = round % 100 == 0;
        const std::string list = RandomText(rng, longList ? 4000 : 60, !longList);
        const std::string text = RandomText(rng, 20, !longList);
        const int i = index(rng);

        const int count = SUB::FieldCount(list);
        for (int k = -1; k <= count + 1; ++k) {
            const std::string field = SUB::GetField(list, k, "");
            ASSERT_EQ(field.find('\0'), std::string::npos);
        }
        (void)SUB::GetIntField(list, i, 0);
        (void)SUB::GetKeyValue(list, text, "absent", "empty");

        const std::string result = SUB::SetField(list, i, text);
        const int expectedCount = i < 0 ? count : std::max(count, i + 1);
        ASSERT_EQ(SUB::FieldCount(result), expectedCount) << round;
        for (int k = 0; k < expectedCount; ++k) {
            const std::string want = k == i ? UpToNul(text) : SUB::GetField(list, k, "");
            ASSERT_EQ(SUB::GetField(result, k, ""), want) << round << " field " << k;
        }
    }
}

// One list of a megabyte in which every candidate delimiter occurs: each operation stays linear
// enough to finish quickly, and a write in the middle keeps its neighbours.
TEST(SUB, MegabyteList) {
    std::mt19937 rng(99);
    std::string list = "|" + RandomText(rng, 1 << 20, false) + "|";
    list.erase(std::remove(list.begin(), list.end(), '\0'), list.end());
    const int count = SUB::FieldCount(list);
    ASSERT_GT(count, 1000);
    const int middle = count / 2;
    (void)SUB::GetKeyValue(list, "a=", "absent", "empty");
    (void)SUB::GetKeyValue(list, "|", "absent", "empty");
    (void)SUB::GetIntField(list, middle, 0);

    const std::string written = SUB::SetField(list, middle, "new|text");
    ASSERT_EQ(SUB::FieldCount(written), count);
    EXPECT_NE(written[0], '|');
    EXPECT_EQ(SUB::GetField(written, middle, ""), "new|text");
    for (int k : {0, middle - 1, middle + 1, count - 1}) {
        EXPECT_TRUE(SUB::GetField(written, k, "") == SUB::GetField(list, k, "")) << k;
    }
}

} // namespace
