// The wave input device against the real winmm devices. The loop-back test points the sound
// server's default recording source at the monitor of the sink we play into, plays a 440 Hz
// tone through TMMWaveOut, and checks that what TMMWaveIn pushes down its chain at the same
// time carries that tone; other tests may play on the same server, so 440 Hz must stand out,
// not be alone. The cycle test starts and closes the real recording device over and over.
#include "generator/devices/MMWavIn.h"
#include "generator/devices/MMWavOut.h"
#include "generator/synth/MMFXGen.h"
#include "tests/devices/TestChain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

const int kRate = 44100;
const double kTone = 440.0;
const size_t kAnalysed = 16384;

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Runs `command` with the Linux shell beside Wine and waits for it.
void RunShell(const std::string& command) {
    std::string line = "start.exe /wait /unix /bin/sh -c \"" + command + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 20000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

// Points the sound server's default source at the null sink's monitor for its lifetime, and
// restores the previous default afterwards.
class TMonitorAsDefaultSource {
public:
    TMonitorAsDefaultSource() {
        if (!RunningUnderWine()) {
            return;
        }
        previous_ = DefaultSource();
        active_ = !previous_.empty() && SetDefaultSource(kMonitor);
    }
    ~TMonitorAsDefaultSource() {
        if (!previous_.empty()) {
            SetDefaultSource(previous_);
        }
    }
    TMonitorAsDefaultSource(const TMonitorAsDefaultSource&) = delete;
    TMonitorAsDefaultSource& operator=(const TMonitorAsDefaultSource&) = delete;

    bool Active() const { return active_; }

private:
    static constexpr const char* kMonitor = "sw_sink.monitor";

    // True once the server confirms the change.
    static bool SetDefaultSource(const std::string& name) {
        RunShell("pactl set-default-source " + name);
        for (int i = 0; i < 20; ++i) {
            if (DefaultSource() == name) {
                return true;
            }
        }
        return false;
    }

    // The start helper neither waits for a Linux program nor passes its output or exit code
    // on, so the answer comes through a file that is complete once it holds a whole line.
    static std::string DefaultSource() {
        const char* dir = std::getenv("SW_BINARY_DIR");
        const std::string file = std::string(dir ? dir : "/tmp") + "/wavein-default-source";
        const std::string windowsFile = "Z:" + file;
        std::remove(windowsFile.c_str());
        RunShell("pactl get-default-source > " + file + ".part && mv " + file + ".part " + file);
        for (int i = 0; i < 100; ++i) {
            std::ifstream answer(windowsFile);
            std::string name;
            if (std::getline(answer, name)) {
                return name;
            }
            Sleep(50);
        }
        return "";
    }

    std::string previous_;
    bool active_ = false;
};

// Keeps the latest kAnalysed mono 16-bit samples that reach it.
class TSampleTail : public TMMDSPComponent {
public:
    TSampleTail() : samples_(kAnalysed, 0) {}

    void BufferReady(PWaveHdr lpWaveHdr) override {
        const auto* data = reinterpret_cast<const int16_t*>(lpWaveHdr->lpData);
        const size_t count = lpWaveHdr->dwBytesRecorded / sizeof(int16_t);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            for (size_t i = 0; i < count; ++i) {
                samples_[next_] = data[i];
                next_ = (next_ + 1) % kAnalysed;
            }
            received_ += count;
        }
        TMMDSPComponent::BufferReady(lpWaveHdr);
    }

    size_t Received() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return received_;
    }
    std::vector<double> InOrder() const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<double> ordered(kAnalysed);
        for (size_t i = 0; i < kAnalysed; ++i) {
            ordered[i] = samples_[(next_ + i) % kAnalysed];
        }
        return ordered;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int16_t> samples_;
    size_t next_ = 0;
    size_t received_ = 0;
};

// Magnitude of the Hann-windowed signal at `frequency` (Goertzel).
double MagnitudeAt(const std::vector<double>& signal, double frequency) {
    const double pi = 3.14159265358979323846;
    const double coefficient = 2.0 * std::cos(2.0 * pi * frequency / kRate);
    double s1 = 0.0;
    double s2 = 0.0;
    const size_t n = signal.size();
    for (size_t i = 0; i < n; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * pi * i / (n - 1));
        const double s0 = signal[i] * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2));
}

struct RealDeviceCase {
    const char* name;
    TMMCBMode mode;
    bool windowRoute; // pretend a system whose notifications arrive as window messages
};

class WaveInRealDevice : public ::testing::TestWithParam<RealDeviceCase> {
protected:
    void TearDown() override { SetOSVersionQuery(nullptr); }
};

TEST_P(WaveInRealDevice, RecordsTheToneThatIsPlaying) {
    TMonitorAsDefaultSource monitor;
    if (!monitor.Active()) {
        GTEST_SKIP() << "needs the test sound server with its null sink (under Wine)";
    }
    if (GetParam().windowRoute) {
        SetOSVersionQuery([] { return TOSVersion{VER_PLATFORM_WIN32_NT, 10, 0}; });
    }

    TMMGenerator tone;
    tone.SetSampleRate(kRate);
    tone.SetBitLength(b16Bit);
    tone.SetMode(mStereo);
    tone.SetWaveForm(wfSine);
    tone.SetFrequency(kTone);
    tone.SetAmplitude(TMMGenerator::kMaxVolume / 2);
    TMMWaveOut player;
    player.SetInput(&tone);
    player.SetCallBackMode(GetParam().mode);
    player.SetBufferSize(4096);

    TMMWaveIn recorder;
    TSampleTail tail;
    recorder.SetOutput(&tail);
    recorder.SetCallBackMode(GetParam().mode);
    recorder.SetBitLength(b16Bit);
    recorder.SetSampleRate(kRate);
    recorder.SetBufferSize(4096);

    player.StartDevice();
    recorder.StartDevice();
    // The server needs a moment before the monitor carries what is played.
    const bool enough = PumpUntil([&] { return tail.Received() >= 3 * kAnalysed; }, 10000);
    recorder.CloseDevice();
    player.CloseDevice();
    ASSERT_TRUE(enough) << "recorded " << tail.Received() << " samples";

    const std::vector<double> signal = tail.InOrder();
    double strongest = 0.0;
    double strongestAt = 0.0;
    std::vector<double> magnitudes;
    for (double f = 100.0; f <= 5000.0; f += 10.0) {
        const double m = MagnitudeAt(signal, f);
        magnitudes.push_back(m);
        if (m > strongest) {
            strongest = m;
            strongestAt = f;
        }
    }
    std::nth_element(magnitudes.begin(), magnitudes.begin() + magnitudes.size() / 2,
                     magnitudes.end());
    const double median = magnitudes[magnitudes.size() / 2];
    const double tone440 = MagnitudeAt(signal, kTone);
    EXPECT_GT(tone440, 100.0 * median) << "median " << median;
    EXPECT_GE(tone440, 0.5 * strongest) << "strongest at " << strongestAt << " Hz";
    EXPECT_GT(tone440, 2.0 * MagnitudeAt(signal, kTone - 20.0));
    EXPECT_GT(tone440, 2.0 * MagnitudeAt(signal, kTone + 20.0));
}

// The real driver must give every buffer back and confirm every open and close, however
// often the device is started, stopped and closed.
TEST_P(WaveInRealDevice, FiveHundredStartStopCloseCycles) {
    if (waveInGetNumDevs() == 0) {
        GTEST_SKIP() << "no recording device";
    }
    if (GetParam().windowRoute) {
        SetOSVersionQuery([] { return TOSVersion{VER_PLATFORM_WIN32_NT, 10, 0}; });
    }
    TMMWaveIn recorder;
    TCountingSink sink;
    recorder.SetOutput(&sink);
    recorder.SetCallBackMode(GetParam().mode);
    recorder.SetBitLength(b16Bit);
    recorder.SetSampleRate(kRate);
    recorder.SetBufferSize(1024);
    recorder.SetNumBuffers(4);
    int errors = 0;
    int stops = 0;
    int closes = 0;
    recorder.OnError = [&](TComponent*) { ++errors; };
    recorder.OnStop = [&](TComponent*) { ++stops; };
    recorder.OnClose = [&](TComponent*) { ++closes; };
    for (int cycle = 0; cycle < 500; ++cycle) {
        const int before = sink.Buffers;
        recorder.StartDevice();
        ASSERT_TRUE(PumpUntil([&] { return sink.Buffers > before; }, 3000)) << "cycle " << cycle;
        if (cycle % 2 == 0) {
            recorder.StopDevice();
        }
        recorder.CloseDevice();
        ASSERT_TRUE(PumpUntil([&] { return recorder.DeviceState() == dsClosed; }, 3000))
            << "cycle " << cycle;
    }
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(stops, 500);
    EXPECT_EQ(closes, 500);
    EXPECT_EQ(recorder.BuffersInUse(), 0);
}

const RealDeviceCase kRealDeviceCases[] = {
    {"Window", cmWindow, false},
    {"Thread", cmThread, false},
    {"ThreadByMessage", cmThread, true},
};

INSTANTIATE_TEST_SUITE_P(RealDevices, WaveInRealDevice, ::testing::ValuesIn(kRealDeviceCases),
                         [](const ::testing::TestParamInfo<RealDeviceCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
