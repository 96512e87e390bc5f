// The peak-frequency detector: its property clamps, the frame walk and silence padding, the
// sample mapping of every format, the magnitudes against a double-precision DFT, and its
// place in the chain.
#include <windows.h>

#include "generator/analysis/MMPeak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

// A wave buffer record holding a copy of `bytes`.
class Buffer {
public:
    explicit Buffer(const std::vector<uint8_t>& bytes)
        : block_(BufferRecordBytes(static_cast<uint32_t>(bytes.size()))) {
        auto* record = reinterpret_cast<TMMBufferRecord*>(block_.data());
        InitBufferRecord(record, static_cast<uint32_t>(bytes.size()));
        if (!bytes.empty()) {
            std::memcpy(record->Header.lpData, bytes.data(), bytes.size());
        }
        record->Header.dwBytesRecorded = static_cast<DWORD>(bytes.size());
    }
    PWaveHdr Header() { return &reinterpret_cast<TMMBufferRecord*>(block_.data())->Header; }

private:
    std::vector<uint8_t> block_;
};

std::vector<uint8_t> Bytes16(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// Per-bin magnitudes of one frame of centred sample values (missing ones are silence), by
// the detector's definition but with a double-precision DFT.
std::vector<int32_t> ExpectedMagnitudes(const std::vector<int32_t>& samples, TMMFFTWindow window,
                                        int exponent, int32_t divisor) {
    const int32_t n = 1 << exponent;
    std::vector<int32_t> table(n);
    FillWindowTable(table.data(), window, exponent);
    std::vector<double> windowed;
    for (size_t i = 0; i < samples.size() && i < table.size(); ++i) {
        windowed.push_back(static_cast<double>(samples[i] * table[i] / divisor));
    }
    std::vector<int32_t> magnitudes(n / 2);
    for (int32_t k = 0; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t t = 0; t < windowed.size(); ++t) {
            const double a = 2 * kPi * static_cast<double>((k * t) % n) / n;
            re += windowed[t] * std::cos(a);
            im -= windowed[t] * std::sin(a);
        }
        if (k == 0) {
            im = 0; // its slot carries no Nyquist value
        }
        const double h = n / 2;
        magnitudes[k] = static_cast<int32_t>(std::sqrt((re / h) * (re / h) + (im / h) * (im / h)));
    }
    return magnitudes;
}

class PeakDetect : public testing::Test {
protected:
    void Prepare(int bits, int channels, int32_t length, TMMFFTWindow window,
                 TMMChannel channel = chBoth) {
        WAVEFORMATEX format{};
        peak.SetWaveFormat(BuildPCMFormat(format, bits, channels, 44100));
        peak.SetFFTLength(length);
        peak.SetWindow(window);
        peak.SetChannel(channel);
        peak.Open();
        peak.Start();
    }
    void Feed(const std::vector<uint8_t>& bytes) {
        Buffer buffer(bytes);
        peak.BufferReady(buffer.Header());
    }
    std::vector<int32_t> Maxima() const {
        std::vector<int32_t> maxima;
        for (int32_t k = 0; k < peak.BinCount(); ++k) {
            maxima.push_back(peak.BinMaximum(k));
        }
        return maxima;
    }
    int32_t StrongestBin() const {
        int32_t best = 0;
        for (int32_t k = 1; k < peak.BinCount(); ++k) {
            if (peak.BinMaximum(k) > peak.BinMaximum(best)) {
                best = k;
            }
        }
        return best;
    }
    // Float rounding may put a magnitude on the other side of an integer.
    static void ExpectClose(const std::vector<int32_t>& actual,
                            const std::vector<int32_t>& expected) {
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t k = 0; k < actual.size(); ++k) {
            EXPECT_NEAR(actual[k], expected[k], 1) << "bin " << k;
        }
    }

    TMMPeakDetect peak;
};

TEST_F(PeakDetect, FFTLengthIsClampedAndRoundedDownToAPowerOfTwo) {
    const struct {
        int32_t requested;
        int32_t length;
    } cases[] = {{100, 64}, {0, 8}, {-5, 8}, {100000, 32768}, {16384, 16384}, {9, 8}};
    EXPECT_EQ(peak.FFTLength(), 128);
    for (const auto& c : cases) {
        peak.SetFFTLength(c.requested);
        EXPECT_EQ(peak.FFTLength(), c.length) << c.requested;
        EXPECT_EQ(peak.BinCount(), c.length / 2) << c.requested;
    }
}

TEST_F(PeakDetect, OutOfRangeBinsReadZeroAndBinWidthNeedsAFormat) {
    EXPECT_EQ(peak.BinWidth(), 0.0f);
    Prepare(16, 2, 16384, fwHamming);
    std::vector<int16_t> loud(2 * 16384, 20000);
    Feed(Bytes16(loud));
    EXPECT_GT(peak.BinMaximum(0), 0);
    EXPECT_EQ(peak.BinMaximum(-1), 0);
    EXPECT_EQ(peak.BinMaximum(peak.BinCount()), 0);
    EXPECT_FLOAT_EQ(peak.BinWidth(), 44100.0f / 16384.0f);
}

// A 1000 Hz tone filling a 16384-point frame reads as bin 372 (1001.29 Hz), the bin nearest
// to 371.5.
TEST_F(PeakDetect, ThousandHertzToneOverAWholeFramePeaksAtBin372) {
    Prepare(16, 2, 16384, fwHamming);
    std::vector<int16_t> samples;
    for (int i = 0; i < 16384; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(16384 * std::sin(2 * kPi * 1000 * i / 44100)));
        samples.push_back(v);
        samples.push_back(v);
    }
    Feed(Bytes16(samples));
    EXPECT_EQ(StrongestBin(), 372);
    EXPECT_NEAR(StrongestBin() * peak.BinWidth(), 1001.29, 0.01);
}

// 2048 blocks under a 16384-point window: one frame, the rest silence, the whole window
// applied; the magnitudes are those of the zero-padded frame.
TEST_F(PeakDetect, ShortBufferIsOneFramePaddedWithSilenceUnderTheFullWindow) {
    Prepare(16, 2, 16384, fwHamming, chLeft);
    std::vector<int16_t> samples;
    std::vector<int32_t> left;
    for (int i = 0; i < 2048; ++i) {
        const auto l =
            static_cast<int16_t>(std::lround(12000 * std::sin(2 * kPi * 3000 * i / 44100)));
        samples.push_back(l);
        samples.push_back(-32768); // the right channel must not leak into chLeft
        left.push_back(l);
    }
    Feed(Bytes16(samples));
    ExpectClose(Maxima(), ExpectedMagnitudes(left, fwHamming, 14, 32768));
}

TEST_F(PeakDetect, MaximaAreTheLargestOverTheFramesOfOneBuffer) {
    Prepare(16, 1, 8, fwRectangular);
    // Two whole frames and a half one: a tone at bin 1, a constant, and a short tone at bin 2.
    const std::vector<int32_t> frames[] = {
        {8000, 0, -8000, 0, 8000, 0, -8000, 0},
        {300, 300, 300, 300, 300, 300, 300, 300},
        {5000, -5000, 5000, -5000},
    };
    std::vector<int16_t> samples;
    std::vector<int32_t> expected(4, 0);
    for (const auto& frame : frames) {
        samples.insert(samples.end(), frame.begin(), frame.end());
        const std::vector<int32_t> magnitudes = ExpectedMagnitudes(frame, fwRectangular, 3, 32768);
        for (size_t k = 0; k < expected.size(); ++k) {
            expected[k] = std::max(expected[k], magnitudes[k]);
        }
    }
    Feed(Bytes16(samples));
    ExpectClose(Maxima(), expected);

    // The next buffer replaces the maxima, an empty one clears them.
    Feed(Bytes16({300, 300, 300, 300, 300, 300, 300, 300}));
    ExpectClose(Maxima(), ExpectedMagnitudes(frames[1], fwRectangular, 3, 32768));
    Feed({});
    EXPECT_EQ(Maxima(), std::vector<int32_t>(4, 0));
}

struct FormatCase {
    const char* name;
    int bits;
    int channels;
    TMMChannel channel;
    std::vector<uint8_t> bytes;   // one partial frame of raw bytes
    std::vector<int32_t> samples; // the centred values the detector must take from them
};

// Eight-bit pairs average as unsigned bytes rounding down, sixteen-bit pairs as signed values
// toward zero; a short 8-bit frame is filled with 128, which is silence, not -128.
TEST_F(PeakDetect, EveryFormatAndChannelTakesItsOwnSampleValues) {
    const std::vector<FormatCase> cases = {
        {"8-bit mono", 8, 1, chRight, {255, 0, 128, 200}, {127, -128, 0, 72}},
        {"8-bit left", 8, 2, chLeft, {255, 0, 10, 20, 140, 100}, {127, -118, 12}},
        {"8-bit right", 8, 2, chRight, {255, 0, 10, 20, 140, 100}, {-128, -108, -28}},
        {"8-bit both", 8, 2, chBoth, {255, 0, 255, 0, 10, 21}, {-1, -1, -113}},
        {"16-bit mono", 16, 1, chLeft, Bytes16({-30001, 7, 32767}), {-30001, 7, 32767}},
        {"16-bit left", 16, 2, chLeft, Bytes16({-30001, 5, 1000, -1000}), {-30001, 1000}},
        {"16-bit right", 16, 2, chRight, Bytes16({-30001, 5, 1000, -1000}), {5, -1000}},
        // Every pair sums to an odd negative value: rounding down instead of toward zero
        // would move each sample by one.
        {"16-bit both",
         16,
         2,
         chBoth,
         Bytes16(
             {-30001, 0, -30001, 0, -3, 0, -30001, 0, -30001, 0, 0, -30001, -30001, 0, -30001, 0}),
         {-15000, -15000, -1, -15000, -15000, -15000, -15000, -15000}},
        {"16-bit 4 channels, right",
         16,
         4,
         chRight,
         Bytes16({1, 2000, 3, 4, 5, -600, 7, 8}),
         {2000, -600}},
    };
    for (const FormatCase& c : cases) {
        TMMPeakDetect detector;
        WAVEFORMATEX format{};
        detector.SetWaveFormat(BuildPCMFormat(format, c.bits, c.channels, 8000));
        detector.SetFFTLength(8);
        detector.SetWindow(fwRectangular);
        detector.SetChannel(c.channel);
        detector.Open();
        Buffer buffer(c.bytes);
        detector.BufferReady(buffer.Header());
        const std::vector<int32_t> expected =
            ExpectedMagnitudes(c.samples, fwRectangular, 3, c.bits == 8 ? 128 : 32768);
        for (int32_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(detector.BinMaximum(k), expected[k], 1) << c.name << ", bin " << k;
        }
    }
}

TEST_F(PeakDetect, InvalidFormatIsRefusedAndThePreviousOneStays) {
    WAVEFORMATEX valid{};
    peak.SetWaveFormat(BuildPCMFormat(valid, 16, 2, 44100));
    WAVEFORMATEX wide{}, threeChannels{}, notPcm{};
    BuildPCMFormat(wide, 24, 2, 44100);
    BuildPCMFormat(threeChannels, 16, 3, 44100);
    BuildPCMFormat(notPcm, 16, 2, 44100);
    notPcm.wFormatTag = 3;
    for (const WAVEFORMATEX* format : {&wide, &threeChannels, &notPcm}) {
        try {
            peak.SetWaveFormat(format);
            ADD_FAILURE() << "format accepted";
        } catch (const EMMPeakError& error) {
            EXPECT_STREQ(error.what(), "Invalid WaveFormat");
        }
        ASSERT_NE(peak.WaveFormat(), nullptr);
        EXPECT_EQ(peak.WaveFormat()->wBitsPerSample, 16);
        EXPECT_EQ(peak.WaveFormat()->nChannels, 2);
        EXPECT_EQ(peak.WaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    }
}

// A block size given in the format that disagrees with its channels and sample width must not
// make the frame walk overrun or stall.
TEST_F(PeakDetect, FrameSizeComesFromChannelsAndSampleWidthNotBlockAlign) {
    for (WORD blockAlign : {0, 1000}) {
        TMMPeakDetect detector;
        WAVEFORMATEX format{};
        BuildPCMFormat(format, 16, 2, 44100);
        format.nBlockAlign = blockAlign;
        detector.SetWaveFormat(&format);
        detector.SetFFTLength(32768);
        detector.SetWindow(fwRectangular);
        detector.SetChannel(chLeft);
        detector.Open();
        std::vector<int16_t> samples;
        for (int i = 0; i < 2048; ++i) {
            samples.push_back(16000);
            samples.push_back(0);
        }
        Buffer buffer(Bytes16(samples));
        detector.BufferReady(buffer.Header());
        EXPECT_NEAR(detector.BinMaximum(0), 2048 * (16000 * 32767 / 32768) / 16384, 1)
            << blockAlign;
    }
}

// Frames are analysed only between Open and Close, with Enabled set; buffers always pass on
// unchanged, and the first Start after Open clears what an earlier run left.
TEST_F(PeakDetect, AnalysesOnlyWhileOpenAndEnabledAndPassesBuffersOnUnchanged) {
    TMMDSPComponent below;
    peak.SetOutput(&below);
    std::vector<std::vector<uint8_t>> passed;
    below.OnBufferReady = [&](TComponent*, PWaveHdr header) {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(header->lpData);
        passed.emplace_back(data, data + header->dwBytesRecorded);
    };
    WAVEFORMATEX format{};
    peak.SetWaveFormat(BuildPCMFormat(format, 16, 1, 44100));
    peak.SetFFTLength(8);
    const std::vector<uint8_t> tone = Bytes16({9000, 0, -9000, 0, 9000, 0, -9000, 0});

    Feed(tone);
    EXPECT_EQ(peak.BinMaximum(2), 0) << "analysed while closed";
    peak.Open();
    peak.SetEnabled(false);
    Feed(tone);
    EXPECT_EQ(peak.BinMaximum(2), 0) << "analysed while disabled";
    peak.SetEnabled(true);
    Feed(tone);
    EXPECT_GT(peak.BinMaximum(2), 0);
    peak.Start();
    EXPECT_EQ(peak.BinMaximum(2), 0) << "first Start keeps old maxima";
    Feed(tone);
    peak.Close();
    const int32_t kept = peak.BinMaximum(2);
    Feed(Bytes16({0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(peak.BinMaximum(2), kept) << "analysed after Close";

    ASSERT_EQ(passed.size(), 5u);
    for (const auto& bytes : passed) {
        EXPECT_EQ(bytes.size(), 16u);
    }
    EXPECT_EQ(passed[2], tone);
}

TEST_F(PeakDetect, PulledBuffersAreAnalysedAfterUpstreamFilledThem) {
    TMMDSPComponent source;
    source.OnBufferLoad = [](TComponent*, PWaveHdr header, bool& more) {
        const std::vector<uint8_t> tone = Bytes16({9000, 0, -9000, 0, 9000, 0, -9000, 0});
        std::memcpy(header->lpData, tone.data(), tone.size());
        header->dwBytesRecorded = static_cast<DWORD>(tone.size());
        more = true;
    };
    peak.SetInput(&source);
    Prepare(16, 1, 8, fwRectangular);
    Buffer buffer(std::vector<uint8_t>(16, 0));
    buffer.Header()->dwBytesRecorded = 0;
    bool more = false;
    peak.BufferLoad(buffer.Header(), more);
    EXPECT_TRUE(more);
    ExpectClose(Maxima(), ExpectedMagnitudes({9000, 0, -9000, 0, 9000, 0, -9000, 0}, fwRectangular,
                                             3, 32768));
}

TEST_F(PeakDetect, PeakReadyReportsEveryBinOfEveryFrameInOrder) {
    Prepare(16, 1, 8, fwRectangular);
    std::vector<std::pair<int32_t, int32_t>> reports;
    peak.OnPeakReady = [&](TComponent* sender, int32_t index, int32_t value) {
        EXPECT_EQ(sender, &peak);
        reports.emplace_back(index, value);
    };
    Feed(Bytes16({300, 300, 300, 300, 300, 300, 300, 300, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(reports.size(), 8u);
    for (int32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(reports[i].first, i % 4);
    }
    EXPECT_EQ(reports[0].second, 598); // 8 * (300 * 32767 / 32768) / 4
    EXPECT_EQ(reports[4].second, 0);
    EXPECT_EQ(peak.BinMaximum(0), 598);
}

// The readout may poll in the middle of a buffer's analysis: it sees the previous buffer's
// maxima there, never the cleared array.
TEST_F(PeakDetect, ReadoutDuringAnalysisSeesThePreviousBuffersMaxima) {
    Prepare(16, 1, 8, fwRectangular);
    Feed(Bytes16({9000, 0, -9000, 0, 9000, 0, -9000, 0}));
    const int32_t previous = peak.BinMaximum(2);
    ASSERT_GT(previous, 0);
    std::vector<int32_t> seen;
    peak.OnPeakReady = [&](TComponent*, int32_t, int32_t) { seen.push_back(peak.BinMaximum(2)); };
    Feed(Bytes16({300, 300, 300, 300, 300, 300, 300, 300}));
    EXPECT_EQ(seen, std::vector<int32_t>(4, previous));
    EXPECT_EQ(peak.BinMaximum(2), 0);
    EXPECT_EQ(peak.BinMaximum(0), 598);
}

} // namespace
