// The wave input device against the scripted virtual driver: properties, recording in every
// callback mode and notification route, the record limit, the partial last buffer of a stop,
// deferred stops, the capability check and the failure messages.
#include "generator/devices/MMWavIn.h"
#include "tests/devices/TestChain.h"
#include "tests/devices/VirtualWaveIn.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const TOSVersion kWindows95{VER_PLATFORM_WIN32_WINDOWS, 4, 0};
const TOSVersion kWindows10{VER_PLATFORM_WIN32_NT, 10, 0};

const char kVirtualError32[] = "Virtual wave-in error 32";

struct ModeCase {
    const char* name;
    TMMCBMode mode;
    TOSVersion system;
};

// Every callback mode on each notification route it can meet.
const ModeCase kModes[] = {
    {"WindowByFunction", cmWindow, kWindows95}, {"WindowByMessage", cmWindow, kWindows10},
    {"ThreadByFunction", cmThread, kWindows95}, {"ThreadByMessage", cmThread, kWindows10},
    {"Callback", cmCallback, kWindows95},
};

std::string FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EMMWaveInError& e) {
        return e.what();
    }
    return "<no EMMWaveInError>";
}

// Checks every byte that reaches it against the virtual card's pattern, so lost, repeated or
// reordered data shows, and that the chain was started whenever data came.
class TPatternSink : public TCountingSink {
public:
    void BufferReady(PWaveHdr header) override {
        const auto* data = reinterpret_cast<const uint8_t*>(header->lpData);
        for (DWORD i = 0; i < header->dwBytesRecorded; ++i) {
            if (data[i] != TVirtualWaveIn::PatternByte(next_ + i)) {
                ++Mismatches;
                break;
            }
        }
        next_ += header->dwBytesRecorded;
        LastBytes = header->dwBytesRecorded;
        if (!Started()) {
            ++WhileNotStarted;
        }
        TCountingSink::BufferReady(header);
    }

    std::atomic<int> Mismatches{0};
    std::atomic<int> WhileNotStarted{0};
    std::atomic<DWORD> LastBytes{0};

private:
    uint64_t next_ = 0;
};

class WaveInTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.Reset();
        SetExceptionHook([this](std::exception_ptr failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                shown.push_back(e.what());
            }
        });
        SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
            boxes.push_back(caption + "|" + text);
        });
    }
    void TearDown() override {
        SetExceptionHook(nullptr);
        SetMessageBoxHook(nullptr);
        SetOSVersionQuery(nullptr);
    }

    // A device in `mode` recording 16-bit mono 44100 Hz into `sink`, with its events logged.
    std::unique_ptr<TMMWaveIn> MakeDevice(const ModeCase& mode, TPatternSink& sink) {
        SetOSVersionQuery([system = mode.system] { return system; });
        auto device = std::make_unique<TMMWaveIn>();
        device->SetCallBackMode(mode.mode);
        device->SetBitLength(b16Bit);
        device->SetSampleRate(44100);
        device->SetBufferSize(4096);
        device->SetOutput(&sink);
        device->OnError = [this](TComponent*) { events.push_back("Error"); };
        device->OnOpen = [this](TComponent*) { events.push_back("Open"); };
        device->OnStart = [this](TComponent*) { events.push_back("Start"); };
        device->OnStop = [this](TComponent*) { events.push_back("Stop"); };
        device->OnClose = [this](TComponent*) { events.push_back("Close"); };
        return device;
    }

    int Count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

    void ExpectReleased(const TMMWaveIn& device) {
        EXPECT_EQ(device.BuffersInUse(), 0);
        EXPECT_FALSE(driver.IsOpen());
        EXPECT_EQ(driver.Prepared(), 0);
        EXPECT_EQ(driver.Queued(), 0);
    }

    TVirtualWaveIn& driver = TVirtualWaveIn::Instance();
    TScopedDriver<TWaveInDriver> binding{TVirtualWaveIn::Table()};
    std::vector<std::string> events;
    std::vector<std::string> shown;
    std::vector<std::string> boxes;
};

// --- properties -------------------------------------------------------------------------------

TEST_F(WaveInTest, SettersClampIgnoreAndRebuildTheFormatDownTheChain) {
    TMMWaveIn device;
    TCountingSink sink;
    device.SetOutput(&sink);
    EXPECT_EQ(device.WaveFormat()->nSamplesPerSec, 11025u);
    EXPECT_EQ(device.WaveFormat()->wBitsPerSample, 8);

    device.SetChannels(9);
    EXPECT_EQ(device.Channels(), 8);
    EXPECT_EQ(device.Mode(), mMultiChannel);
    device.SetMode(mStereo);
    EXPECT_EQ(device.Channels(), 2);
    device.SetMode(mMultiChannel);
    EXPECT_EQ(device.Channels(), 2);
    device.SetChannels(0);
    EXPECT_EQ(device.Mode(), mMono);
    device.SetSampleRate(200000);
    EXPECT_EQ(device.SampleRate(), 100000);
    device.SetSampleRate(10);
    EXPECT_EQ(device.SampleRate(), 8000);
    device.SetNumBuffers(1);
    EXPECT_EQ(device.NumBuffers(), 10);
    device.SetNumBuffers(5000);
    EXPECT_EQ(device.NumBuffers(), 4096);
    device.SetBufferSize(10);
    EXPECT_EQ(device.BufferSize(), 32);

    device.SetMode(mStereo);
    device.SetBitLength(b16Bit);
    device.SetSampleRate(22050);
    const WAVEFORMATEX* format = sink.WaveFormat();
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->nChannels, 2);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nBlockAlign, 4);
    EXPECT_EQ(format->nAvgBytesPerSec, 88200u);

    WAVEFORMATEX adopted{};
    BuildPCMFormat(adopted, 8, 1, 48000);
    device.SetWaveFormat(&adopted);
    EXPECT_EQ(device.SampleRate(), 48000);
    EXPECT_EQ(device.BitLength(), b8Bit);
    EXPECT_EQ(device.Channels(), 1);
    EXPECT_EQ(sink.WaveFormat()->nSamplesPerSec, 48000u);
}

TEST_F(WaveInTest, DeviceChoiceNamesTheDeviceOrMarksTheIdInvalid) {
    TMMWaveIn device;
    EXPECT_EQ(device.ProductName(), "Virtual Input 0");
    device.SetDeviceID(TMMCustomSoundComponent::MapperId);
    EXPECT_EQ(device.ProductName(), "Virtual Input -1");
    EXPECT_EQ(device.DeviceName(1), "Virtual Input 1");
    EXPECT_EQ(device.DeviceName(2), "");
    EXPECT_EQ(device.DeviceName(-2), "");

    device.SetDeviceID(5);
    EXPECT_EQ(device.DeviceID(), TMMCustomSoundComponent::InvalidId);
    EXPECT_EQ(device.ProductName(), "No wave audio recording device found");
    EXPECT_EQ(FailureOf([&] { device.StartDevice(); }), "Invalid DeviceID");

    driver.numDevs = 0;
    TMMWaveIn none;
    EXPECT_EQ(FailureOf([&] { none.StartDevice(); }), "No wave audio recording device found");
}

TEST_F(WaveInTest, CallBackModeOutsideWindows95ShowsTheBoxAndKeepsTheMode) {
    SetOSVersionQuery([] { return TOSVersion{VER_PLATFORM_WIN32_NT, 5, 1}; });
    TMMWaveIn device;
    device.SetCallBackMode(cmCallback);
    EXPECT_EQ(device.CallBackMode(), cmWindow);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], std::string("TMMWaveIn|") + kCallBacksRefusedText);
}

TEST_F(WaveInTest, PropertiesThatNeedAClosedDeviceAreRefusedWhileOpen) {
    TPatternSink sink;
    auto device = MakeDevice(kModes[0], sink);
    device->OpenDevice();
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"DeviceID", [&] { device->SetDeviceID(1); }},
        {"CallBackMode", [&] { device->SetCallBackMode(cmThread); }},
        {"NumBuffers", [&] { device->SetNumBuffers(4); }},
        {"BufferSize", [&] { device->SetBufferSize(1024); }},
        {"Channels", [&] { device->SetChannels(2); }},
        {"Mode", [&] { device->SetMode(mStereo); }},
        {"SampleRate", [&] { device->SetSampleRate(22050); }},
        {"BitLength", [&] { device->SetBitLength(b8Bit); }},
    };
    for (const auto& change : changes) {
        events.clear();
        EXPECT_EQ(FailureOf(change.second), "Change to property while device was open")
            << change.first;
        EXPECT_EQ(Count("Error"), 1) << change.first;
        EXPECT_TRUE(device->DeviceState() & dsOpen) << change.first;
    }
    device->SetNumBuffers(1); // ignored, so not refused
    device->CloseDevice();
}

TEST_F(WaveInTest, TimeFormatReexpressesTheRecordLimit) {
    TMMWaveIn device;
    device.SetBitLength(b16Bit);
    device.SetSampleRate(44100);
    device.SetTimeFormat(tfMillisecond);
    device.SetMaxRecordTime(1000);
    device.SetTimeFormat(tfByte);
    EXPECT_EQ(device.MaxRecordTime(), 88200);
    device.SetTimeFormat(tfSample);
    EXPECT_EQ(device.MaxRecordTime(), 44100);
    // A format changed after the limit was set counts with the new format.
    device.SetTimeFormat(tfMillisecond);
    device.SetChannels(2);
    device.SetTimeFormat(tfByte);
    EXPECT_EQ(device.MaxRecordTime(), 176400);
}

// --- recording in every mode ------------------------------------------------------------------

class WaveInModes : public WaveInTest, public ::testing::WithParamInterface<ModeCase> {};

// The thread that must service the buffers in a mode: the main thread whenever notifications
// arrive as window messages or are forwarded to the window.
bool ServicedOnMainThread(const ModeCase& mode) {
    return mode.mode == cmWindow || NotifyRouteFor(mode.system) == nrWindow;
}

TEST_P(WaveInModes, RecordsEveryByteInOrderAndClosesCleanly) {
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    device->StartDevice();
    EXPECT_TRUE(sink.Started());
    ASSERT_TRUE(PumpUntil([&] { return sink.Buffers >= 30; }, 10000));
    device->CloseDevice();
    ASSERT_TRUE(PumpUntil([&] { return device->DeviceState() == dsClosed; }, 3000));

    EXPECT_EQ(sink.Mismatches, 0);
    EXPECT_EQ(sink.WhileNotStarted, 0);
    EXPECT_EQ(sink.LastThread == GetCurrentThreadId(), ServicedOnMainThread(GetParam()));
    EXPECT_EQ(events, (std::vector<std::string>{"Open", "Start", "Stop", "Close"}));
    EXPECT_FALSE(sink.Opened());
    EXPECT_GT(device->RecordPosition(), 0);
    ExpectReleased(*device);
}

TEST_P(WaveInModes, StopsByItselfAtTheRecordLimit) {
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    device->SetTimeFormat(tfMillisecond);
    device->SetMaxRecordTime(1000);
    device->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return Count("Stop") > 0; }, 10000));
    PumpUntil([] { return false; }, 50); // nothing may follow the stop

    EXPECT_EQ(sink.Bytes, 88200);
    EXPECT_EQ(sink.LastBytes, 88200u % 4096u);
    EXPECT_EQ(sink.Buffers, 88200 / 4096 + 1);
    EXPECT_EQ(sink.Mismatches, 0);
    EXPECT_EQ(Count("Stop"), 1);
    EXPECT_EQ(device->DeviceState(), TMMDeviceState{dsOpen});
    EXPECT_FALSE(sink.Started());
    device->CloseDevice();
    ExpectReleased(*device);
}

TEST_P(WaveInModes, StopDeliversThePartlyFilledLastBuffer) {
    driver.msPerBuffer = 0;
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    device->StartDevice();
    driver.Record(2 * 4096 + 100);
    ASSERT_TRUE(PumpUntil([&] { return sink.Buffers == 2; }, 3000));
    device->StopDevice();

    EXPECT_EQ(sink.Buffers, 3);
    EXPECT_EQ(sink.LastBytes, 100u);
    EXPECT_EQ(sink.Bytes, 2 * 4096 + 100);
    EXPECT_EQ(sink.Mismatches, 0);
    EXPECT_EQ(Count("Stop"), 1);
    device->CloseDevice();
    ExpectReleased(*device);
}

// A close asked for from inside the chain, on the servicing thread, waits for the handler to
// end and is then completed by the main thread.
TEST_P(WaveInModes, CloseFromInsideTheChainIsDeferredAndCompleted) {
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    sink.Each = [&](PWaveHdr) {
        if (sink.Buffers == 5) {
            device->CloseDevice();
        }
    };
    device->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return Count("Close") > 0; }, 5000));
    EXPECT_EQ(events, (std::vector<std::string>{"Open", "Start", "Stop", "Close"}));
    EXPECT_EQ(device->DeviceState(), TMMDeviceState{dsClosed});
    EXPECT_EQ(sink.Mismatches, 0);
    ExpectReleased(*device);
}

TEST_P(WaveInModes, FailureInTheChainClosesTheDeviceAndIsShown) {
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    sink.Each = [&](PWaveHdr) {
        if (sink.Buffers == 3) {
            throw std::runtime_error("analysis failed");
        }
    };
    device->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return device->DeviceState() == dsClosed; }, 5000));
    EXPECT_EQ(shown, (std::vector<std::string>{"analysis failed"}));
    EXPECT_EQ(Count("Error"), 1);
    EXPECT_EQ(Count("Close"), 1);
    ExpectReleased(*device);
}

TEST_P(WaveInModes, PositionFailureWhileRecordingIsShownWithItsPrefix) {
    driver.Fail(wiGetPosition, WAVERR_BADFORMAT, 2);
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    device->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return device->DeviceState() == dsClosed; }, 5000));
    EXPECT_EQ(shown,
              (std::vector<std::string>{std::string("WaveInGetPosition:\n\r") + kVirtualError32}));
    ExpectReleased(*device);
}

// Start, a little recording, stop and close, over and over: nothing may hang, leak a handle
// or a thread, or stay with the driver.
TEST_P(WaveInModes, FiveHundredStartStopCloseCycles) {
    TPatternSink sink;
    auto device = MakeDevice(GetParam(), sink);
    device->SetNumBuffers(4);
    device->SetBufferSize(256);
    // A chain that takes its time, so that stops and closes often meet a running handler.
    sink.Each = [](PWaveHdr) { Sleep(1); };
    const auto threads = [] {
        int count = 0;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry)) {
            count += entry.th32OwnerProcessID == GetCurrentProcessId();
        }
        CloseHandle(snapshot);
        return count;
    };
    const auto handles = [] {
        DWORD count = 0;
        GetProcessHandleCount(GetCurrentProcess(), &count);
        return count;
    };
    // One warm-up cycle creates what lives for the process (window class, winmm state).
    device->StartDevice();
    device->CloseDevice();
    const int threadsBefore = threads();
    const DWORD handlesBefore = handles();

    for (int cycle = 0; cycle < 500; ++cycle) {
        const int before = sink.Buffers;
        device->StartDevice();
        ASSERT_TRUE(device->DeviceState() & dsActive) << "cycle " << cycle;
        PumpUntil([&] { return sink.Buffers > before + cycle % 3; }, 2000);
        if (cycle % 2 == 0) {
            device->StopDevice();
        }
        device->CloseDevice();
        ASSERT_TRUE(PumpUntil([&] { return device->DeviceState() == dsClosed; }, 3000))
            << "cycle " << cycle;
        ASSERT_FALSE(driver.IsOpen()) << "cycle " << cycle;
    }
    EXPECT_EQ(Count("Start"), 501);
    EXPECT_EQ(Count("Stop"), 501);
    EXPECT_EQ(Count("Close"), 501);
    EXPECT_EQ(Count("Error"), 0);
    EXPECT_EQ(threads(), threadsBefore);
    EXPECT_EQ(handles(), handlesBefore);
    ExpectReleased(*device);
}

INSTANTIATE_TEST_SUITE_P(AllModes, WaveInModes, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                             return std::string(info.param.name);
                         });

// --- pause and restart ------------------------------------------------------------------------

TEST_F(WaveInTest, PauseHoldsTheRecordingAndRestartGoesOnWithoutLoss) {
    TPatternSink sink;
    auto device = MakeDevice(kModes[0], sink);
    device->StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return sink.Buffers >= 3; }, 3000));
    device->PauseDevice();
    EXPECT_TRUE(device->DeviceState() & dsPaused);
    EXPECT_TRUE(sink.Paused());
    PumpUntil([] { return false; }, 30);
    const int paused = sink.Buffers;
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(sink.Buffers, paused);

    device->RestartDevice();
    EXPECT_FALSE(sink.Paused());
    ASSERT_TRUE(PumpUntil([&] { return sink.Buffers >= paused + 3; }, 3000));
    device->CloseDevice();
    EXPECT_EQ(sink.Mismatches, 0);
    ExpectReleased(*device);
}

// --- capability check -------------------------------------------------------------------------

TEST_F(WaveInTest, FormatsTheDeviceCannotRecordAreRefusedByTheirClassBit) {
    struct Case {
        int rate;
        int channels;
        TMMBits bits;
        DWORD missing;
    };
    const Case cases[] = {
        {22050, 2, b16Bit, WAVE_FORMAT_2S16}, {11025, 1, b8Bit, WAVE_FORMAT_1M08},
        {8000, 2, b8Bit, WAVE_FORMAT_1S08},   {44100, 1, b16Bit, WAVE_FORMAT_4M16},
        {48000, 2, b16Bit, WAVE_FORMAT_4S16},
    };
    for (const Case& c : cases) {
        driver.formats = 0xFFFFF & ~c.missing;
        TMMWaveIn device;
        device.SetSampleRate(c.rate);
        device.SetChannels(c.channels);
        device.SetBitLength(c.bits);
        EXPECT_EQ(FailureOf([&] { device.StartDevice(); }),
                  "WaveInOpen:\n\rThe actual device can''t record this format")
            << c.rate << " Hz";
        EXPECT_EQ(device.DeviceState(), TMMDeviceState{dsClosed});
        driver.formats = c.missing; // only the class bit: accepted
        EXPECT_NO_THROW(device.StartDevice()) << c.rate << " Hz";
        device.CloseDevice();
    }
    // A rate outside the three classes needs no bit.
    driver.formats = 0;
    TMMWaveIn device;
    device.SetSampleRate(50000);
    EXPECT_NO_THROW(device.StartDevice());
    device.CloseDevice();

    driver.formats = 0xFFFFF;
    driver.Fail(wiQuery, WAVERR_BADFORMAT);
    EXPECT_EQ(FailureOf([&] { device.StartDevice(); }),
              "WaveInOpen:\n\rThe actual device can''t record this format");
    ExpectReleased(device);
}

// --- failure messages -------------------------------------------------------------------------

TEST_F(WaveInTest, FailingDriverCallsRaiseTheirMessageAndLeaveTheDeviceClosed) {
    struct Case {
        TWaveInCall call;
        MMRESULT code;
        std::string message;
    };
    const Case cases[] = {
        {wiOpen, WAVERR_BADFORMAT, std::string("WaveInOpen:\n\r") + kVirtualError32},
        {wiOpen, TVirtualWaveIn::kTextlessError,
         "WaveInOpen:\n\rSpecified error number is out of range (unknown error)"},
        {wiPrepareHeader, WAVERR_BADFORMAT,
         std::string("WaveInPrepareHeader:\n\r") + kVirtualError32},
        {wiAddBuffer, WAVERR_BADFORMAT, std::string("WaveInAddBuffer:\n\r") + kVirtualError32},
        {wiStart, WAVERR_BADFORMAT, std::string("WaveInStart:\n\r") + kVirtualError32},
    };
    for (const ModeCase& mode : kModes) {
        for (const Case& c : cases) {
            driver.Reset();
            driver.Fail(c.call, c.code);
            TPatternSink sink;
            auto device = MakeDevice(mode, sink);
            events.clear();
            EXPECT_EQ(FailureOf([&] { device->StartDevice(); }), c.message) << mode.name;
            EXPECT_EQ(Count("Error"), 1) << mode.name << " " << c.message;
            EXPECT_EQ(device->DeviceState(), TMMDeviceState{dsClosed}) << mode.name;
            EXPECT_FALSE(sink.Opened()) << mode.name;
            ExpectReleased(*device);
        }
    }
}

TEST_F(WaveInTest, MissingNotificationsAreReported) {
    driver.sendOpenNotification = false;
    TPatternSink sink;
    auto device = MakeDevice(kModes[2], sink);
    EXPECT_EQ(FailureOf([&] { device->StartDevice(); }), "WaveInOpen:\n\rUnable to open device");
    EXPECT_EQ(device->DeviceState(), TMMDeviceState{dsClosed});
    ExpectReleased(*device);

    driver.sendOpenNotification = true;
    driver.sendCloseNotification = false;
    events.clear();
    device->StartDevice();
    EXPECT_NO_THROW(device->CloseDevice());
    EXPECT_EQ(events, (std::vector<std::string>{"Open", "Start", "Stop", "Close", "Error"}));
    ExpectReleased(*device);
}

TEST_F(WaveInTest, FailingStopPauseAndRestartCloseTheDevice) {
    struct Case {
        TWaveInCall call;
        int successes;
        std::string message;
        std::function<void(TMMWaveIn&)> action;
    };
    const Case cases[] = {
        {wiStop, 0, std::string("WaveInStop:\n\r") + kVirtualError32,
         [](TMMWaveIn& d) { d.StopDevice(); }},
        {wiStop, 0, std::string("WaveInPause:\n\r") + kVirtualError32,
         [](TMMWaveIn& d) { d.PauseDevice(); }},
        {wiStart, 0, std::string("WaveInRestart:\n\r") + kVirtualError32,
         [](TMMWaveIn& d) {
             d.PauseDevice();
             d.RestartDevice();
         }},
    };
    for (const Case& c : cases) {
        driver.Reset();
        TPatternSink sink;
        auto device = MakeDevice(kModes[0], sink);
        device->StartDevice();
        driver.Fail(c.call, WAVERR_BADFORMAT, c.successes);
        EXPECT_EQ(FailureOf([&] { c.action(*device); }), c.message);
        EXPECT_EQ(device->DeviceState(), TMMDeviceState{dsClosed}) << c.message;
        driver.Reset();
        ExpectReleased(*device);
    }
}

} // namespace
