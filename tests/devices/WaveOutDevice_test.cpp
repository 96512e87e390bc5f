// The output device on the real wave-out driver: a generated 1000 Hz tone is played through
// the sound server, recorded from the sink's monitor and checked for its frequency and level;
// the analysis component behind the device must see the same tone.
#include "generator/analysis/MMPeak.h"
#include "generator/devices/MMWavOut.h"
#include "generator/synth/MMFXGen.h"
#include "tests/devices/SoundCapture.h"
#include "tests/devices/TestChain.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct RealCase {
    const char* name;
    TMMCBMode mode;
    TOSVersion system; // decides the notification route
};

void PrintTo(const RealCase& c, std::ostream* os) {
    *os << c.name;
}

class WaveOutOnTheSoundServer : public ::testing::TestWithParam<RealCase> {
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
        generator_.SetFrequency(1000.0);
        generator_.SetAmplitude(TMMGenerator::kMaxVolume / 2); // -6 dBFS
        device_.SetDeviceID(TMMWaveOut::MapperId);
        device_.SetBufferSize(8192);
        device_.SetCallBackMode(GetParam().mode);
        peak_.SetFFTLength(16384);
        device_.SetInput(&generator_);
        peak_.SetInput(&device_);
        sink_.SetInput(&peak_);
        device_.OnStop = [this](TComponent*) {
            ++stops_;
            events_ += "Stop ";
        };
        device_.OnClose = [this](TComponent*) {
            ++closes_;
            events_ += "Close ";
        };
    }
    void TearDown() override { SetOSVersionQuery(nullptr); }

    int StrongestPeakHz() const {
        int best = 1;
        for (int i = 1; i < peak_.BinCount(); ++i) {
            if (peak_.BinMaximum(i) > peak_.BinMaximum(best)) {
                best = i;
            }
        }
        return static_cast<int>(std::lround(best * peak_.BinWidth()));
    }

    TMMGenerator generator_;
    TMMWaveOut device_;
    TMMPeakDetect peak_;
    TCountingSink sink_;
    int stops_ = 0;
    int closes_ = 0;
    std::string events_; // the main thread fires OnStop and OnClose in every mode
};

TEST_P(WaveOutOnTheSoundServer, PlaysTheGeneratedToneAudibly) {
    ASSERT_EQ(device_.CallBackMode(), GetParam().mode);
    device_.StartDevice();
    TSoundCapture capture("test_devices", 1.5);
    ASSERT_TRUE(PumpUntil([&] { return capture.Done(); }, 20000)) << "no capture";
    const int peakHz = StrongestPeakHz();
    const int64_t played = device_.PlayPosition();
    device_.CloseDevice();

    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(closes_, 1);
    EXPECT_GT(sink_.Buffers, 10);
    EXPECT_GT(played, 0);
    EXPECT_NEAR(peakHz, 1000, 6) << "what the analysis chain saw";

    const TCaptureAnalysis heard = capture.Analyse(1000.0);
    EXPECT_GT(heard.frames, 22050) << "from sink " << capture.Sink();
    EXPECT_NEAR(heard.toneHz, 1000.0, 2.0) << "from sink " << capture.Sink();
    // A sine at -6 dBFS peak has an RMS of -9 dBFS.
    EXPECT_NEAR(heard.toneDb, -9.03, 1.0) << "from sink " << capture.Sink();
}

TEST_P(WaveOutOnTheSoundServer, CloseDuringPlaybackStopsThenCloses) {
    device_.StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return sink_.Buffers >= 3; }, 5000));
    device_.CloseDevice();
    device_.CloseDevice();
    EXPECT_EQ(events_, "Stop Close ");
    EXPECT_EQ(device_.DeviceState(), TMMDeviceState(dsClosed));
    EXPECT_EQ(device_.BuffersInUse(), 0);
}

TEST_P(WaveOutOnTheSoundServer, AFormatChangeFromUpstreamWhilePlayingClosesTheDevice) {
    device_.StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return sink_.Buffers >= 3; }, 5000));
    generator_.SetSampleRate(22050);
    EXPECT_EQ(events_, "Stop Close ");
    EXPECT_EQ(device_.DeviceState(), TMMDeviceState(dsClosed));
    EXPECT_EQ(device_.WaveFormat()->nSamplesPerSec, 22050u);
}

TEST_P(WaveOutOnTheSoundServer, ASourceThatEndsAfterThreeBuffersPlaysThemAndStops) {
    TSineSource source;
    device_.SetInput(&source);
    source.BuffersLeft = 3;
    device_.StartDevice();
    ASSERT_TRUE(PumpUntil([&] { return stops_ > 0; }, 5000));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(events_, "Stop ");
    EXPECT_EQ(sink_.Buffers, 3);
    EXPECT_EQ(device_.BuffersInUse(), 0);
    device_.CloseDevice();
    EXPECT_EQ(events_, "Stop Close ");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WaveOutOnTheSoundServer,
    ::testing::Values(RealCase{"WindowModeFunctionRoute", cmWindow, {VER_PLATFORM_WIN32_NT, 5, 1}},
                      RealCase{"WindowModeWindowRoute", cmWindow, {VER_PLATFORM_WIN32_NT, 6, 0}},
                      RealCase{"ThreadModeFunctionRoute", cmThread, {VER_PLATFORM_WIN32_NT, 5, 1}},
                      RealCase{"ThreadModeWindowRoute", cmThread, {VER_PLATFORM_WIN32_NT, 6, 0}}),
    [](const ::testing::TestParamInfo<RealCase>& info) { return info.param.name; });

} // namespace
