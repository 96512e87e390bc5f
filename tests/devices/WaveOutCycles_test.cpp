// Reliability on the real driver: many start/stop/close cycles in every callback mode, with
// a generator above and an analysis component below the device, must end without deadlock,
// with every buffer back in the pool and no handle or thread left behind.
#include "generator/analysis/MMPeak.h"
#include "generator/devices/MMWavOut.h"
#include "generator/synth/MMFXGen.h"
#include "tests/devices/TestChain.h"

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

namespace {

const int kCycles = 500;

struct CycleCase {
    const char* name;
    TMMCBMode mode;
    TOSVersion system; // decides the notification route; Windows 95 allows cmCallback
};

void PrintTo(const CycleCase& c, std::ostream* os) {
    *os << c.name;
}

DWORD OpenHandles() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

int Threads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    return count;
}

class WaveOutCycles : public ::testing::TestWithParam<CycleCase> {
protected:
    void SetUp() override {
        if (waveOutGetNumDevs() == 0) {
            GTEST_SKIP() << "no wave-out device";
        }
        const TOSVersion system = GetParam().system;
        SetOSVersionQuery([system] { return system; });
        generator_.SetSampleRate(44100);
        generator_.SetBitLength(b16Bit);
        generator_.SetMode(mStereo);
        generator_.SetAmplitude(TMMGenerator::kMaxVolume / 8);
        device_.SetDeviceID(TMMWaveOut::MapperId);
        device_.SetCallBackMode(GetParam().mode);
        peak_.SetFFTLength(1024);
        device_.SetInput(&generator_);
        peak_.SetInput(&device_);
        sink_.SetInput(&peak_);
        device_.OnStop = [this](TComponent*) { ++stops_; };
        device_.OnClose = [this](TComponent*) { ++closes_; };
    }
    void TearDown() override { SetOSVersionQuery(nullptr); }

    // One cycle; `play` waits for played buffers first, `stopFirst` stops before closing.
    bool Cycle(bool play, bool stopFirst) {
        device_.StartDevice();
        if (play) {
            const int before = sink_.Buffers;
            PumpUntil([&] { return sink_.Buffers > before; }, 2000);
        }
        if (stopFirst) {
            device_.StopDevice();
        }
        device_.CloseDevice();
        return device_.DeviceState() == TMMDeviceState(dsClosed) && device_.BuffersInUse() == 0 &&
               !generator_.Opened() && !peak_.Opened();
    }

    TMMGenerator generator_;
    TMMWaveOut device_;
    TMMPeakDetect peak_;
    TCountingSink sink_;
    int stops_ = 0;
    int closes_ = 0;
};

TEST_P(WaveOutCycles, ManyCyclesLeaveNothingBehind) {
    ASSERT_EQ(device_.CallBackMode(), GetParam().mode);
    ASSERT_TRUE(Cycle(true, false));
    PumpUntil([] { return false; }, 200);
    const DWORD handles = OpenHandles();
    const int threads = Threads();

    int unclean = 0;
    for (int i = 0; i < kCycles; ++i) {
        if (!Cycle(i % 2 == 0, i % 3 == 0)) {
            ++unclean;
        }
    }
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(unclean, 0);
    EXPECT_EQ(stops_, kCycles + 1);
    EXPECT_EQ(closes_, kCycles + 1);
    EXPECT_GT(sink_.Buffers, kCycles / 2);
    EXPECT_EQ(OpenHandles(), handles);
    EXPECT_EQ(Threads(), threads);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WaveOutCycles,
    ::testing::Values(CycleCase{"WindowModeFunctionRoute", cmWindow, {VER_PLATFORM_WIN32_NT, 5, 1}},
                      CycleCase{"WindowModeWindowRoute", cmWindow, {VER_PLATFORM_WIN32_NT, 6, 0}},
                      CycleCase{"ThreadModeFunctionRoute", cmThread, {VER_PLATFORM_WIN32_NT, 5, 1}},
                      CycleCase{"ThreadModeWindowRoute", cmThread, {VER_PLATFORM_WIN32_NT, 6, 0}},
                      CycleCase{"CallbackMode", cmCallback, {VER_PLATFORM_WIN32_WINDOWS, 4, 0}}),
    [](const ::testing::TestParamInfo<CycleCase>& info) { return info.param.name; });

} // namespace
