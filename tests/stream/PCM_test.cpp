#include "generator/stream/PCM.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

WAVEFORMATEX Pcm(int bits, int channels, uint32_t rate) {
    WAVEFORMATEX format{};
    BuildPCMFormat(format, bits, channels, rate);
    return format;
}

TEST(PCMFormat, BuildFillsDerivedFields) {
    const WAVEFORMATEX cd = Pcm(16, 2, 44100);
    EXPECT_EQ(cd.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(cd.nBlockAlign, 4);
    EXPECT_EQ(cd.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(cd.cbSize, 0);
    const WAVEFORMATEX phone = Pcm(8, 1, 11025);
    EXPECT_EQ(phone.nBlockAlign, 1);
    EXPECT_EQ(phone.nAvgBytesPerSec, 11025u);
}

TEST(PCMFormat, ValidityBoundaries) {
    struct Case {
        int bits, channels;
        uint32_t rate;
        bool valid;
    } cases[] = {
        {16, 2, 44100, true}, {24, 2, 44100, false},  {16, 3, 44100, false}, {8, 1, 3999, false},
        {8, 1, 4000, true},   {16, 1, 100001, false}, {16, 4, 100000, true},
    };
    for (const Case& c : cases) {
        const WAVEFORMATEX format = Pcm(c.bits, c.channels, c.rate);
        EXPECT_EQ(IsValidPCMFormat(&format), c.valid)
            << c.bits << " bit, " << c.channels << " ch, " << c.rate << " Hz";
    }
    EXPECT_FALSE(IsValidPCMFormat(nullptr));
    WAVEFORMATEX adpcm = Pcm(16, 2, 44100);
    adpcm.wFormatTag = 2;
    EXPECT_FALSE(IsValidPCMFormat(&adpcm));
}

TEST(PCMFormat, CopyKeepsExtraBytesOnlyForOtherTags) {
    unsigned char source[40] = {};
    auto* other = reinterpret_cast<WAVEFORMATEX*>(source);
    *other = Pcm(16, 2, 44100);
    other->wFormatTag = 2;
    other->cbSize = 2;
    source[18] = 0xAB;
    source[19] = 0xCD;
    source[20] = 0xEF; // beyond cbSize: must not be copied
    TWaveFormatPtr copy = CopyWaveFormat(other);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->cbSize, 2);
    EXPECT_EQ(std::memcmp(copy.get(), source, 20), 0);

    auto* pcm = reinterpret_cast<WAVEFORMATEX*>(source);
    *pcm = Pcm(16, 2, 44100);
    pcm->cbSize = 22;
    copy = CopyWaveFormat(pcm);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(copy->nAvgBytesPerSec, 176400u);

    EXPECT_FALSE(CopyWaveFormat(nullptr));
}

TEST(PCMArithmetic, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRound(-3, 1, 2), -2);
    EXPECT_EQ(MulDivRound(3, 1, 2), 2);
    EXPECT_EQ(MulDivRound(5, 1, 3), 2);
    EXPECT_EQ(MulDivRound(4, 1, 3), 1);
    EXPECT_EQ(MulDivTrunc(-7, 1, 2), -3);
    // The 64-bit intermediate keeps large products exact.
    EXPECT_EQ(MulDivTrunc(2000000000, 3, 4), 1500000000);
}

TEST(PCMArithmetic, ConversionsRoundAsDevicesExpect) {
    const WAVEFORMATEX cd = Pcm(16, 2, 44100);
    EXPECT_EQ(BytesToSamples(cd, 8193), 2048); // 2048.25
    EXPECT_EQ(BytesToSamples(cd, 8194), 2049); // 2048.5 rounds up
    EXPECT_EQ(SamplesToBytes(cd, 1001), 4004);
    EXPECT_EQ(BytesToMs(cd, 176400), 1000);
    EXPECT_EQ(SamplesToMs(cd, 22050), 500);
    EXPECT_EQ(MsToSamples(cd, 1000), 44100);
    EXPECT_EQ(MsToBytes(cd, 1000), 176400);
    // 1 ms of 11025 Hz stereo is 44.1 bytes: rounded to 44, which is already whole frames.
    const WAVEFORMATEX odd = Pcm(16, 2, 11025);
    EXPECT_EQ(MsToBytes(odd, 1), 44);
    // 3 ms of 8-bit stereo 11025 Hz is 66.15 bytes: 66 is whole frames of 2.
    EXPECT_EQ(MsToBytes(Pcm(8, 2, 11025), 3), 66);
    // Rounded up to a whole 4-byte frame: 5 ms at 16-bit stereo 11025 Hz is 220.5 -> 221 -> 224.
    EXPECT_EQ(MsToBytes(odd, 5), 224);
    EXPECT_EQ(SamplesToBytes64(cd, int64_t(1) << 33), (int64_t(1) << 33) * 4);
    EXPECT_EQ(SamplesToMs64(cd, 44100LL * 100000), 100000000);
}

TEST(PCMArithmetic, ClipSaturates) {
    EXPECT_EQ(ClipSample16(40000), 32767);
    EXPECT_EQ(ClipSample16(-40000), -32768);
    EXPECT_EQ(ClipSample16(-5), -5);
    EXPECT_EQ(ClipSample8(200), 127);
    EXPECT_EQ(ClipSample8(-129), -128);
    EXPECT_EQ(ClipSample8(-128), -128);
    EXPECT_EQ(ClipSample8(100), 100);
}

TEST(PCMLevel, DecibelText) {
    EXPECT_EQ(LevelToDecibelText(0, 16384, 0), "-Inf");
    EXPECT_EQ(LevelToDecibelText(8192, 16384, 0), "-6.02");
    EXPECT_EQ(LevelToDecibelText(-8192, 16384, 0), "-6.02");
    EXPECT_EQ(LevelToDecibelText(16384, 16384, 0), "0.00");
    EXPECT_EQ(LevelToDecibelText(16384, 16384, 3.0f), "3.00");
    // A reference of 0 counts as 1.
    EXPECT_EQ(LevelToDecibelText(10, 0, 0), "20.00");
}

} // namespace
