#include "stub/core/HiddenValue.h"

#include <gtest/gtest.h>

namespace {

// Made by hand: value "TOKEN", mask bytes 0x11 and 0x22, two padding bytes in front and one
// behind, shifted hex.
const char kToken[] = "ccececkkjjhiiuijihivxxbedd";
// The same with the sum byte changed by one.
const char kTokenBadSum[] = "ccececkkjjhiiuijihivxxbddd";
// An empty value (one padding byte on each side).
const char kEmpty[] = "bgbvbvitsebk";
// Padding lengths 9 and 9 in a 13-byte value: they leave no room for it.
const char kPaddingTooLong[] = "ccesesidididididididideidd";

class HiddenValueTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = HiddenValueRandom; }
    void TearDown() override { HiddenValueRandom = saved_; }

private:
    std::function<unsigned(unsigned)> saved_;
};

} // namespace

TEST_F(HiddenValueTest, DecodesAValidValue) {
    EXPECT_EQ(DecodeHiddenValue(kToken), "TOKEN");
    std::string value = "x";
    EXPECT_TRUE(TryDecodeHiddenValue(kEmpty, value));
    EXPECT_EQ(value, "");
    // A final odd character is not part of a byte.
    EXPECT_EQ(DecodeHiddenValue(std::string(kToken) + "b"), "TOKEN");
}

TEST_F(HiddenValueTest, FailuresGiveARandomNumberNeverTheStoredText) {
    unsigned askedLimit = 0;
    HiddenValueRandom = [&askedLimit](unsigned limit) {
        askedLimit = limit;
        return 4711u;
    };
    const std::pair<const char*, std::string> cases[] = {
        {"wrong sum byte", kTokenBadSum}, {"padding longer than the value", kPaddingTooLong},
        {"not shifted hex", "TOKEN"},     {"plain hex", "54494B454E"},
        {"too short", "bbbbbbbb"},        {"empty", ""},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        std::string value;
        EXPECT_FALSE(TryDecodeHiddenValue(text, value));
        EXPECT_EQ(DecodeHiddenValue(text), "4711");
        EXPECT_EQ(askedLimit, 99999u); // numbers 0 .. 99998
    }
}

TEST_F(HiddenValueTest, DefaultRandomStaysInRange) {
    for (int i = 0; i < 200; ++i) {
        const int number = std::stoi(DecodeHiddenValue(kTokenBadSum));
        ASSERT_GE(number, 0);
        ASSERT_LE(number, 99998);
    }
}
