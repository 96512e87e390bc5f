// Proves that the test machine really offers what the device tests rely on: Wine reaches a
// sound server that has at least one playback and one recording device.
#include <windows.h>

#include <mmsystem.h>

#include <gtest/gtest.h>

TEST(SoundDevices, WaveOutAndWaveInDevicesAreVisible) {
    EXPECT_GE(waveOutGetNumDevs(), 1u) << "no wave-out device: is the null sink loaded?";
    EXPECT_GE(waveInGetNumDevs(), 1u) << "no wave-in device: is the null source loaded?";
}

TEST(SoundDevices, FirstWaveOutDeviceAcceptsCdQualityPcm) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 176400;
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}
