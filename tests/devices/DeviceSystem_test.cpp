// The operating-system test that decides where driver notifications arrive and whether the
// interrupt-time callback mode may be chosen.
#include "generator/devices/DeviceSystem.h"

#include <gtest/gtest.h>

namespace {

const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
const DWORD kNT = VER_PLATFORM_WIN32_NT;

struct RouteCase {
    const char* system;
    TOSVersion version;
    TNotifyRoute route;
    bool callBackMode;
};

TEST(NotifyRoute, FollowsTheSystemVersion) {
    const RouteCase cases[] = {
        {"Windows 95", {k9x, 4, 0}, nrCallbackFunction, true},
        {"Windows 98", {k9x, 4, 10}, nrCallbackFunction, false},
        {"Windows Me", {k9x, 4, 90}, nrCallbackFunction, false},
        {"NT 4", {kNT, 4, 0}, nrCallbackFunction, false},
        {"2000", {kNT, 5, 0}, nrCallbackFunction, false},
        {"XP", {kNT, 5, 1}, nrCallbackFunction, false},
        {"Vista", {kNT, 6, 0}, nrWindow, false},
        {"7", {kNT, 6, 1}, nrCallbackFunction, false},
        {"8.1", {kNT, 6, 3}, nrCallbackFunction, false},
        {"10", {kNT, 10, 0}, nrWindow, false},
        {"NT 3.51", {kNT, 3, 51}, nrWindow, false},
    };
    for (const RouteCase& c : cases) {
        EXPECT_EQ(NotifyRouteFor(c.version), c.route) << c.system;
        EXPECT_EQ(CallBackModeSupported(c.version), c.callBackMode) << c.system;
    }
}

class CallBacksBox : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
            texts_.push_back(text);
            captions_.push_back(caption);
        });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        SetOSVersionQuery(nullptr);
    }
    std::vector<std::string> texts_;
    std::vector<std::string> captions_;
};

TEST_F(CallBacksBox, RefusesCallBackModeOutsideWindows95WithTheBox) {
    SetOSVersionQuery([] { return TOSVersion{kNT, 5, 1}; });
    EXPECT_TRUE(AcceptCallBackMode(cmWindow, "TMMWaveOut"));
    EXPECT_TRUE(AcceptCallBackMode(cmThread, "TMMWaveOut"));
    EXPECT_TRUE(texts_.empty());

    EXPECT_FALSE(AcceptCallBackMode(cmCallback, "TMMWaveIn"));
    ASSERT_EQ(texts_.size(), 1u);
    EXPECT_EQ(texts_[0], "\"CallBacks\" are called at interrupt time !\n\rThis is currently only "
                         "supported under Windows 95");
    EXPECT_EQ(captions_[0], "TMMWaveIn");
}

TEST_F(CallBacksBox, AcceptsCallBackModeOnWindows95Silently) {
    SetOSVersionQuery([] { return TOSVersion{k9x, 4, 0}; });
    EXPECT_TRUE(AcceptCallBackMode(cmCallback, "TMMWaveOut"));
    EXPECT_TRUE(texts_.empty());
}

} // namespace
