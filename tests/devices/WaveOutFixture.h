// A wave-out device between a sine source and a counting sink, bound to the virtual driver,
// with its events, the shown exceptions and the message boxes recorded.
#pragma once

#include "generator/devices/MMWavOut.h"
#include "tests/devices/TestChain.h"
#include "tests/devices/VirtualWaveOut.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

const TOSVersion kWindows95{VER_PLATFORM_WIN32_WINDOWS, 4, 0};
const TOSVersion kWindowsXP{VER_PLATFORM_WIN32_NT, 5, 1};
const TOSVersion kWindowsVista{VER_PLATFORM_WIN32_NT, 6, 0};

// Thread-safe list of what happened, in order.
class TEventLog {
public:
    void Add(const std::string& entry);
    std::vector<std::string> Entries() const;
    int Count(const std::string& entry) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

class WaveOutFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates source → device → sink with the given system and mode.
    void Build(const TOSVersion& system, TMMCBMode mode = cmWindow);
    void Record(TMMWaveOut& device);
    bool PumpUntilEvent(const std::string& entry, int count = 1, DWORD timeoutMs = 10000);
    // Runs `operation` and returns the EMMWaveOutError message it raised ("" for none).
    std::string MessageOf(const std::function<void()>& operation);

    TVirtualWaveOut& driver_ = TVirtualWaveOut::Instance();
    std::unique_ptr<TScopedDriver<TWaveOutDriver>> binding_;
    std::unique_ptr<TSineSource> source_;
    std::unique_ptr<TMMWaveOut> device_;
    std::unique_ptr<TCountingSink> sink_;
    TEventLog events_;
    TEventLog shown_;
    TEventLog boxes_;
};
