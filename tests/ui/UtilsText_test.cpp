#include "stub/ui/UtilsText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

using namespace std::string_literals;

TEST(ReplaceText, Cases) {
    const struct {
        std::string text, search, replacement;
        int maxCount, first;
        bool ignoreCase;
        std::string result;
    } cases[] = {
        {"a-b-c-d", "-", "+", 0, 0, false, "a+b+c+d"},
        {"a-b-c-d", "-", "+", 2, 0, false, "a+b+c-d"},
        {"a-b-c-d", "-", "+", 0, 2, false, "a-b+c+d"},
        {"a-b-c-d", "-", "+", 1, 3, false, "a-b-c+d"},
        {"a-b-c-d", "x", "+", 0, 0, false, "a-b-c-d"},
        {"a-b-c-d", "", "+", 0, 0, false, "a-b-c-d"},
        {"Tag tAG TAG", "tag", "<>", 0, 0, true, "<> <> <>"},
        {"Tag tAG TAG", "tag", "<>", 0, 0, false, "Tag tAG TAG"},
        // Text made by a replacement is never searched again...
        {"aaa", "a", "aa", 0, 0, false, "aaaaaa"},
        {"|  x", "| ", "|", 0, 0, false, "| x"},
        {"xyy", "xy", "x", 0, 0, false, "xy"},
        // ...and occurrences do not overlap.
        {"aaaa", "aa", "b", 0, 0, false, "bb"},
        // Removing an occurrence does not join its neighbours into a new one.
        {"aabb", "ab", "", 0, 0, false, "ab"},
        {"a\0b\0"s, "\0"s, "<0>", 0, 0, false, "a<0>b<0>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            Utils::ReplaceText(c.text, c.search, c.replacement, c.maxCount, c.first, c.ignoreCase),
            c.result)
            << c.text << " / " << c.search;
    }
}

TEST(ReplaceText, RandomInputsMatchPlainLeftToRightReplacement) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 3), length(0, 200), small(0, 3);
    const auto random = [&](int n) {
        std::string s(static_cast<std::size_t>(n), '\0');
        for (char& c : s) {
            c = "ab\0|"[byte(rng)];
        }
        return s;
    };
    for (int round = 0; round < 5000; ++round) {
        const std::string text = random(length(rng));
        const std::string search = random(1 + small(rng));
        const std::string replacement = random(small(rng));
        std::string expected;
        std::size_t at = 0;
        for (std::size_t next = text.find(search); next != std::string::npos;
             next = text.find(search, at)) {
            expected += text.substr(at, next - at) + replacement;
            at = next + search.size();
        }
        expected += text.substr(at);
        ASSERT_EQ(Utils::ReplaceAll(text, search, replacement), expected) << round;
    }
}

TEST(StringUtilities, Cases) {
    using namespace Utils;
    EXPECT_EQ(PosIgnoreCase("bC", "abcBC"), 1u);
    EXPECT_EQ(PosIgnoreCase("bC", "abcBC", 2), 3u);
    EXPECT_EQ(PosIgnoreCase("", "abc"), std::string::npos);
    EXPECT_EQ(LastPos("ab", "abxab"), 3u);
    EXPECT_EQ(TextBefore("key=value=x", "="), "key");
    EXPECT_EQ(TextAfter("key=value=x", "="), "value=x");
    EXPECT_EQ(TextBefore("novalue", "=", "none"), "none");
    EXPECT_EQ(TextAfter("novalue", "=", "none"), "none");
    EXPECT_EQ(ReverseText("abc"), "cba");
    EXPECT_TRUE(StartsWith("Setup.exe", "setup", true));
    EXPECT_FALSE(StartsWith("Setup.exe", "setup"));
    EXPECT_TRUE(EndsWith("Setup.EXE", ".exe", true));
    EXPECT_FALSE(EndsWith("exe", "setup.exe", true));
    EXPECT_TRUE(SameTextTrimmed("  Yes\t", "YES"));
    EXPECT_FALSE(SameTextTrimmed("Yes", "Ye s"));
    EXPECT_EQ(StripQuotes("\"C:\\a b\""), "C:\\a b");
    EXPECT_EQ(StripQuotes("\"open"), "\"open");
    EXPECT_EQ(ReplaceChars("a/b/c", '/', '\\'), "a\\b\\c");
    EXPECT_STREQ(BoolText(true), "TRUE");
    EXPECT_STREQ(BoolText(false), "FALSE");
}

TEST(StringUtilities, Padding) {
    using Utils::PadText;
    EXPECT_EQ(PadText("7", 3, '0'), "007");
    EXPECT_EQ(PadText("1234", 3, '0'), "1234");
    EXPECT_EQ(PadText("ab", -4), "ab  ");
    EXPECT_EQ(PadText("abcdef", -4), "abc.");
    EXPECT_EQ(PadText("abcdef", -2), "abcdef");
    EXPECT_EQ(Utils::ZeroPad(5, 3), "005");
    EXPECT_EQ(Utils::ZeroPad(-5, 3), "-05");
    EXPECT_EQ(Utils::ZeroPad(12345, 3), "12345");
}

TEST(StringUtilities, MessageEscapes) {
    EXPECT_EQ(Utils::ExpandEscapes("a\\\\nb<p>c\\\\td<T>e"), "a\r\nb\r\nc\td\te");
    // The backslash escapes are matched with case; a single backslash is left alone.
    EXPECT_EQ(Utils::ExpandEscapes("a\\\\Nb\\nc"), "a\\\\Nb\\nc");
}

TEST(Hex, Conversions) {
    EXPECT_EQ(Utils::BytesToHex("\x00\x7f\xff"s), "007FFF");
    EXPECT_EQ(Utils::HexToBytes("007fFf"), "\x00\x7f\xff"s);
    EXPECT_EQ(Utils::HexToBytes("414"), "A");
    EXPECT_EQ(Utils::HexToBytes(""), "");
}

class ScrambleText : public ::testing::Test {
protected:
    void TearDown() override { Utils::SetRandomSource(nullptr); }
};

TEST_F(ScrambleText, KnownEncoding) {
    Utils::SetRandomSource([](int) { return 0; }); // key 33, "!"
    // 'A' ^ (1 + 33), 'B' ^ (2 - 33) as a byte.
    EXPECT_EQ(Utils::ScrambleText("AB", true, false), "Scrambled=01!c\xA3");
    EXPECT_EQ(Utils::ScrambleText("AB", true, true), "536372616D626C65643D303121"
                                                     "63A3");
    EXPECT_EQ(Utils::ScrambleText("Scrambled=01!c\xA3", false, false), "AB");
}

TEST_F(ScrambleText, PassThrough) {
    EXPECT_EQ(Utils::ScrambleText("", true, true), "");
    EXPECT_EQ(Utils::ScrambleText("", false, true), "");
    EXPECT_EQ(Utils::ScrambleText("Scrambled=01xyz", true, false), "Scrambled=01xyz");
    EXPECT_EQ(Utils::ScrambleText("Scrambled=01xyz", true, true), "Scrambled=01xyz");
    EXPECT_EQ(Utils::ScrambleText("plain text", false, false), "plain text");
    EXPECT_EQ(Utils::ScrambleText("41424344", false, true), "41424344");
    EXPECT_EQ(Utils::ScrambleText("Scrambled=01", false, false), "");
}

TEST_F(ScrambleText, RoundTripsOfRandomBytes) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255), length(1, 300);
    for (int round = 0; round < 3000; ++round) {
        std::string text(static_cast<std::size_t>(length(rng)), '\0');
        for (char& c : text) {
            c = static_cast<char>(byte(rng));
        }
        if (text.compare(0, 12, "Scrambled=01") == 0) {
            continue;
        }
        const bool hex = round % 2 == 1;
        const std::string encoded = Utils::ScrambleText(text, true, hex);
        ASSERT_NE(encoded, text);
        if (hex) {
            ASSERT_EQ(encoded.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        } else {
            ASSERT_EQ(encoded.compare(0, 12, "Scrambled=01"), 0);
            ASSERT_GE(encoded[12], 33);
            ASSERT_LE(encoded[12], 122);
        }
        ASSERT_EQ(Utils::ScrambleText(encoded, false, hex), text) << round;
        // Decoding arbitrary bytes never fails either.
        (void)Utils::ScrambleText("Scrambled=01" + text, false, false);
        (void)Utils::ScrambleText(text, false, true);
    }
}

TEST(LargeInputs, ReplaceAndScrambleAMegabyte) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text(1 << 20, '\0');
    for (char& c : text) {
        c = static_cast<char>(byte(rng));
    }
    std::replace(text.begin(), text.end(), '<', '>'); // so that "<0>" marks only former NULs
    const std::string noNul = Utils::ReplaceAll(text, std::string(1, '\0'), "<0>");
    EXPECT_EQ(noNul.find('\0'), std::string::npos);
    EXPECT_TRUE(Utils::ReplaceAll(noNul, "<0>", std::string(1, '\0')) == text);
    const std::string folded = Utils::ReplaceAllIgnoreCase(text, "a", "");
    EXPECT_EQ(folded.find_first_of("aA"), std::string::npos);

    for (bool hex : {false, true}) {
        if (text.compare(0, 12, "Scrambled=01") != 0) {
            EXPECT_TRUE(Utils::ScrambleText(Utils::ScrambleText(text, true, hex), false, hex) ==
                        text);
        }
    }
}

} // namespace
