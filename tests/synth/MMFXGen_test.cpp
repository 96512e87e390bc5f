#include "generator/synth/MMFXGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// --- references, written from the formulas and independent of the component --------------

const int kN = 100000;
const double kPi = 3.14159265358979323846;

int FullScale(TMMBits bits) {
    return bits == b16Bit ? 32767 : 127;
}

int ReferencePoint(TMMWaveForm form, long long i, long long a) {
    const long long h = kN / 2;
    const long long q = kN / 4;
    switch (form) {
    case wfSine:
        return static_cast<int>(std::nearbyint(std::sin((2.0 * i) * kPi / kN) * a));
    case wfSquare:
        return static_cast<int>(i <= h ? -a : a);
    case wfTriangle:
        if (i <= q) {
            return static_cast<int>(i * a / q);
        }
        if (i > 3 * q) {
            return static_cast<int>((i - 3 * q) * a / q - a);
        }
        return static_cast<int>((h - i) * a / q);
    case wfSawtoothPos:
        return static_cast<int>(i <= h ? i * a / h : (i - h) * a / h - a);
    case wfSawtoothNeg:
        return static_cast<int>(i <= h ? -(i * a) / h : a - (i - h) * a / h);
    default:
        return 0;
    }
}

// The phase walk: index = phase rounded half to even, then phase := fmod(phase + step, 99999).
class ReferencePhase {
public:
    int Index() const { return static_cast<int>(std::nearbyint(phase_)); }
    void Step(double step) {
        const double b = phase_ + step;
        phase_ = b - 99999.0 * std::trunc(b / 99999.0);
    }

private:
    double phase_ = 0.0;
};

int Scaled(int point, int amplitude) {
    return static_cast<int>(static_cast<long long>(point) * amplitude / 16384);
}

// Generated samples of a waveform from table index 0 on, as signed values.
std::vector<int> ReferenceTone(TMMWaveForm form, TMMBits bits, double frequency, int rate,
                               int amplitude, size_t count) {
    std::vector<int> out;
    ReferencePhase phase;
    const double step = frequency * 100000 / rate;
    for (size_t n = 0; n < count; ++n) {
        out.push_back(Scaled(ReferencePoint(form, phase.Index(), FullScale(bits)), amplitude));
        phase.Step(step);
    }
    return out;
}

double DftMagnitude(const std::vector<int>& x, double frequency, double rate) {
    std::complex<double> sum;
    for (size_t n = 0; n < x.size(); ++n) {
        sum += static_cast<double>(x[n]) * std::polar(1.0, -2 * kPi * frequency * n / rate);
    }
    return std::abs(sum) / x.size();
}

// --- fixtures -------------------------------------------------------------------------------

// A wave buffer record as a device hands it up the chain.
class Buffer {
public:
    explicit Buffer(DWORD bytes) : storage_(BufferRecordBytes(bytes), 0xEE) {
        InitBufferRecord(Record(), bytes);
    }
    PWaveHdr Header() { return &Record()->Header; }
    uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(Header()->lpData); }

private:
    TMMBufferRecord* Record() { return reinterpret_cast<TMMBufferRecord*>(storage_.data()); }
    std::vector<uint8_t> storage_;
};

// Pulls one buffer of `bytes` from `component`, as an output device does.
std::vector<uint8_t> Pull(TMMDSPComponent& component, DWORD bytes, bool* more = nullptr) {
    Buffer buffer(bytes);
    bool moreBuffers = false;
    component.BufferLoad(buffer.Header(), moreBuffers);
    if (more) {
        *more = moreBuffers;
    }
    EXPECT_LE(buffer.Header()->dwBytesRecorded, bytes);
    return std::vector<uint8_t>(buffer.Bytes(), buffer.Bytes() + buffer.Header()->dwBytesRecorded);
}

// Signed sample values of raw PCM bytes.
std::vector<int> Decode(const std::vector<uint8_t>& bytes, TMMBits bits) {
    std::vector<int> out;
    if (bits == b16Bit) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            int16_t v;
            std::memcpy(&v, &bytes[i], 2);
            out.push_back(v);
        }
    } else {
        for (uint8_t b : bytes) {
            out.push_back(b - 128);
        }
    }
    return out;
}

std::vector<uint8_t> Encode(const std::vector<int>& values, TMMBits bits) {
    std::vector<uint8_t> out;
    for (int v : values) {
        if (bits == b16Bit) {
            const int16_t s = static_cast<int16_t>(v);
            const auto* p = reinterpret_cast<const uint8_t*>(&s);
            out.insert(out.end(), p, p + 2);
        } else {
            out.push_back(static_cast<uint8_t>(v + 128));
        }
    }
    return out;
}

std::vector<int> Channel(const std::vector<int>& frames, int channels, int index) {
    std::vector<int> out;
    for (size_t i = index; i < frames.size(); i += channels) {
        out.push_back(frames[i]);
    }
    return out;
}

// A source upstream of a modulator: delivers the same fixed bytes in every buffer.
class PatternSource : public TMMDSPComponent {
public:
    PatternSource(TMMBits bits, int channels, uint32_t rate, std::vector<int> values)
        : bits_(bits), pattern_(Encode(values, bits)) {
        WAVEFORMATEX format{};
        BuildPCMFormat(format, bits == b16Bit ? 16 : 8, channels, rate);
        SetWaveFormat(&format);
    }
    void BufferLoad(PWaveHdr header, bool& more) override {
        const DWORD n = std::min<DWORD>(header->dwBufferLength, pattern_.size());
        std::memcpy(header->lpData, pattern_.data(), n);
        header->dwBytesRecorded = n;
        more = true;
    }
    DWORD Bytes() const { return static_cast<DWORD>(pattern_.size()); }

private:
    TMMBits bits_;
    std::vector<uint8_t> pattern_;
};

// A carrier set to the given format, opened and started like a device does.
std::unique_ptr<TMMGenerator> Carrier(TMMBits bits, TMMMode mode, int rate, TMMWaveForm form,
                                      double frequency) {
    auto g = std::make_unique<TMMGenerator>();
    g->SetBitLength(bits);
    g->SetMode(mode);
    g->SetSampleRate(rate);
    g->SetWaveForm(form);
    g->SetFrequency(frequency);
    g->Open();
    g->Start();
    return g;
}

// --- properties and formats -----------------------------------------------------------------

TEST(GeneratorProperties, StartsWithThePublishedDefaultsAndAnEightBitMonoFormat) {
    TMMGenerator g;
    EXPECT_TRUE(g.Enabled());
    EXPECT_EQ(g.BitLength(), b8Bit);
    EXPECT_EQ(g.Channel(), chBoth);
    EXPECT_EQ(g.Mode(), mMono);
    EXPECT_EQ(g.SampleRate(), 11025);
    EXPECT_EQ(g.WaveForm(), wfSine);
    EXPECT_EQ(g.Modulation(), moAM);
    EXPECT_EQ(g.Frequency(), 1000.0);
    EXPECT_EQ(g.Amplitude(), 16384);
    EXPECT_EQ(g.DryAmplitude(), 0);
    EXPECT_FALSE(g.TableBuilt());
    const WAVEFORMATEX* f = g.WaveFormat();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->wBitsPerSample, 8);
    EXPECT_EQ(f->nChannels, 1);
    EXPECT_EQ(f->nSamplesPerSec, 11025u);
}

TEST(GeneratorProperties, ClampsOutOfRangeValues) {
    TMMGenerator g;
    const struct {
        int rate;
        int expected;
    } rates[] = {{96000, 88200}, {4000, 8000}, {44100, 44100}, {88200, 88200}};
    for (const auto& c : rates) {
        g.SetSampleRate(c.rate);
        EXPECT_EQ(g.SampleRate(), c.expected) << c.rate;
        EXPECT_EQ(g.WaveFormat()->nSamplesPerSec, static_cast<DWORD>(c.expected));
    }
    const struct {
        double frequency;
        double expected;
    } frequencies[] = {{0.001, 0.01}, {200000, 100000}, {440.5, 440.5}, {-5, 0.01}, {NAN, 0.01}};
    for (const auto& c : frequencies) {
        g.SetFrequency(c.frequency);
        EXPECT_EQ(g.Frequency(), c.expected) << c.frequency;
    }
    g.SetAmplitude(20000);
    EXPECT_EQ(g.Amplitude(), 16384);
    g.SetDryAmplitude(-1);
    EXPECT_EQ(g.DryAmplitude(), 0);
}

TEST(GeneratorProperties, MultiChannelModeIsIgnored) {
    TMMGenerator g;
    g.SetMode(mStereo);
    g.SetMode(mMultiChannel);
    EXPECT_EQ(g.Mode(), mStereo);
    EXPECT_EQ(g.WaveFormat()->nChannels, 2);
}

TEST(GeneratorFormat, FormatSettingsRunDownTheChainAndAreAdopted) {
    TMMGenerator carrier;
    TMMGenerator modulator;
    modulator.SetInput(&carrier);
    carrier.SetBitLength(b16Bit);
    carrier.SetMode(mStereo);
    carrier.SetSampleRate(44100);
    EXPECT_EQ(modulator.BitLength(), b16Bit);
    EXPECT_EQ(modulator.Mode(), mStereo);
    EXPECT_EQ(modulator.SampleRate(), 44100);
    const WAVEFORMATEX* f = modulator.WaveFormat();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->nBlockAlign, 4);
    EXPECT_EQ(f->nAvgBytesPerSec, 176400u);
}

TEST(GeneratorFormat, RefusesFormatsItCannotProduceAndKeepsItsSettings) {
    TMMGenerator g;
    g.SetBitLength(b16Bit);
    g.SetSampleRate(22050);
    const struct {
        int bits;
        int channels;
        uint32_t rate;
        WORD tag;
    } cases[] = {{24, 1, 22050, 1}, {16, 3, 22050, 1}, {16, 4, 22050, 1},
                 {16, 1, 3999, 1},  {8, 1, 100001, 1}, {16, 1, 22050, 3}};
    for (const auto& c : cases) {
        WAVEFORMATEX f{};
        BuildPCMFormat(f, c.bits, c.channels, c.rate);
        f.wFormatTag = c.tag;
        try {
            g.SetWaveFormat(&f);
            ADD_FAILURE() << "accepted " << c.bits << " bits, " << c.channels << " channels, "
                          << c.rate << " Hz, tag " << c.tag;
        } catch (const EMMGeneratorError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        EXPECT_EQ(g.BitLength(), b16Bit);
        EXPECT_EQ(g.Mode(), mMono);
        EXPECT_EQ(g.SampleRate(), 22050);
        EXPECT_EQ(g.WaveFormat()->nSamplesPerSec, 22050u);
    }
}

TEST(GeneratorFormat, AnInvalidFormatFromUpstreamIsRefusedOnLinking) {
    PatternSource source(b16Bit, 2, 44100, {});
    WAVEFORMATEX wide{};
    BuildPCMFormat(wide, 16, 4, 44100);
    source.SetWaveFormat(&wide);
    TMMGenerator g;
    EXPECT_THROW(g.SetInput(&source), EMMGeneratorError);
    EXPECT_EQ(g.Mode(), mMono);
}

TEST(GeneratorFormat, AdoptsTheRateTheDataHasEvenOutsideTheSettableRange) {
    // A tone modulated onto 4000 Hz data must be stepped at 4000 Hz, or its pitch is wrong.
    PatternSource source(b16Bit, 1, 4000, std::vector<int>(800, 32767));
    TMMGenerator g;
    g.SetInput(&source);
    EXPECT_EQ(g.SampleRate(), 4000);
    g.SetFrequency(400);
    g.Open();
    g.Start();
    const std::vector<int> out = Decode(Pull(g, source.Bytes()), b16Bit);
    EXPECT_GT(DftMagnitude(out, 400, 4000), 10000);
}

// --- the wave table -------------------------------------------------------------------------

struct ShapeCase {
    TMMWaveForm form;
    TMMBits bits;
};

class GeneratorTable : public ::testing::TestWithParam<ShapeCase> {};

// At 25000 Hz a 0.25 Hz tone steps exactly one table point per sample, so the output is the
// table itself (all but its last point, which the phase modulus never reaches at this step).
TEST_P(GeneratorTable, StepOfOneReadsTheTablePointByPoint) {
    const ShapeCase c = GetParam();
    auto g = Carrier(c.bits, mMono, 25000, c.form, 0.25);
    const int sampleBytes = c.bits == b16Bit ? 2 : 1;
    const std::vector<int> out = Decode(Pull(*g, (kN - 1) * sampleBytes), c.bits);
    ASSERT_EQ(out.size(), static_cast<size_t>(kN - 1));
    int mismatches = 0;
    for (int i = 0; i < kN - 1; ++i) {
        const int expected = ReferencePoint(c.form, i, FullScale(c.bits));
        if (out[i] != expected && ++mismatches <= 5) {
            ADD_FAILURE() << "point " << i << ": " << out[i] << " != " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GeneratorTable,
    ::testing::Values(ShapeCase{wfSine, b16Bit}, ShapeCase{wfSine, b8Bit},
                      ShapeCase{wfSquare, b16Bit}, ShapeCase{wfSquare, b8Bit},
                      ShapeCase{wfTriangle, b16Bit}, ShapeCase{wfTriangle, b8Bit},
                      ShapeCase{wfSawtoothPos, b16Bit}, ShapeCase{wfSawtoothPos, b8Bit},
                      ShapeCase{wfSawtoothNeg, b16Bit}, ShapeCase{wfSawtoothNeg, b8Bit}));

TEST(GeneratorTableEdges, SquareSwitchesAfterTheHalfPoint) {
    auto g = Carrier(b16Bit, mMono, 25000, wfSquare, 0.25);
    const std::vector<int> out = Decode(Pull(*g, (kN - 1) * 2), b16Bit);
    EXPECT_EQ(std::count(out.begin(), out.end(), -32767), 50001);
    EXPECT_EQ(std::count(out.begin(), out.end(), 32767), 49998); // + the unread last point
    EXPECT_EQ(out[50000], -32767);
    EXPECT_EQ(out[50001], 32767);
}

TEST(GeneratorTableEdges, NoiseIsUniformOverItsRangeAndDrawnAnewOnRebuild) {
    auto g = Carrier(b8Bit, mMono, 25000, wfNoise, 0.25);
    const std::vector<int> first = Decode(Pull(*g, kN - 1), b8Bit);
    std::vector<int> histogram(256, 0);
    for (int v : first) {
        ASSERT_GE(v, -127);
        ASSERT_LE(v, 126);
        ++histogram[v + 127];
    }
    // 254 values, about 394 draws each: every value appears, none far off its share.
    for (int i = 0; i < 254; ++i) {
        EXPECT_GT(histogram[i], 250) << "value " << i - 127;
        EXPECT_LT(histogram[i], 550) << "value " << i - 127;
    }
    g->Stop();
    g->Close();
    g->Open();
    g->Start();
    EXPECT_NE(Decode(Pull(*g, kN - 1), b8Bit), first);
}

// --- stepping and amplitude -----------------------------------------------------------------

TEST(GeneratorStepping, SixteenBitSineAt1000HzFollowsThePhaseWalk) {
    auto g = Carrier(b16Bit, mMono, 44100, wfSine, 1000);
    const std::vector<int> out = Decode(Pull(*g, 8192), b16Bit);
    ASSERT_EQ(out.size(), 4096u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], static_cast<int>(std::nearbyint(std::sin(2.0 * 2268 * kPi / kN) * 32767)));
    // The walk carries on across buffers.
    std::vector<int> both = out;
    const std::vector<int> next = Decode(Pull(*g, 8192), b16Bit);
    both.insert(both.end(), next.begin(), next.end());
    EXPECT_EQ(both, ReferenceTone(wfSine, b16Bit, 1000, 44100, 16384, 8192));
}

TEST(GeneratorStepping, PhaseWalkWrapsAndRoundsHalvesToEven) {
    const struct {
        double frequency;
        int rate;
    } cases[] = {
        {100000, 44100}, // the step exceeds the modulus
        {0.375, 25000},  // a step of 1.5 lands on every other half point
        {12345.678, 8000},
    };
    for (const auto& c : cases) {
        auto g = Carrier(b16Bit, mMono, c.rate, wfSawtoothPos, c.frequency);
        EXPECT_EQ(Decode(Pull(*g, 2000), b16Bit),
                  ReferenceTone(wfSawtoothPos, b16Bit, c.frequency, c.rate, 16384, 1000))
            << c.frequency << " Hz at " << c.rate << " Hz";
    }
}

TEST(GeneratorStepping, AmplitudeScalesThePeak) {
    const struct {
        int amplitude;
        int peak;
    } cases[] = {{16384, 32767}, {8192, 16383}, {0, 0}};
    for (const auto& c : cases) {
        auto g = Carrier(b16Bit, mMono, 44100, wfSine, 441);
        g->SetAmplitude(c.amplitude);
        const std::vector<int> out = Decode(Pull(*g, 200), b16Bit);
        EXPECT_EQ(*std::max_element(out.begin(), out.end()), c.peak) << c.amplitude;
        EXPECT_EQ(*std::min_element(out.begin(), out.end()), -c.peak) << c.amplitude;
    }
}

TEST(GeneratorStepping, DftFindsTheSineAndSquareFrequencies) {
    auto sine = Carrier(b16Bit, mMono, 44100, wfSine, 1000);
    const std::vector<int> s = Decode(Pull(*sine, 44100 * 2), b16Bit);
    const double at1000 = DftMagnitude(s, 1000, 44100);
    EXPECT_NEAR(at1000, 32767 / 2.0, 50);
    // The neighbouring 1 Hz bins see the 10 ppm that the phase modulus of 99999 adds.
    EXPECT_LT(DftMagnitude(s, 999, 44100), at1000 / 50);
    EXPECT_LT(DftMagnitude(s, 1001, 44100), at1000 / 50);
    for (double f : {990.0, 995.0, 1005.0, 1010.0, 2000.0, 3000.0}) {
        EXPECT_LT(DftMagnitude(s, f, 44100), at1000 / 100) << f;
    }

    auto square = Carrier(b16Bit, mMono, 44100, wfSquare, 441);
    const std::vector<int> q = Decode(Pull(*square, 44100 * 2), b16Bit);
    const double fundamental = DftMagnitude(q, 441, 44100);
    // A square wave of peak A has its fundamental at 4A/π, odd harmonics falling as 1/n and
    // no even ones.
    EXPECT_NEAR(fundamental, 2 * 32767 / kPi, 100);
    EXPECT_NEAR(DftMagnitude(q, 3 * 441, 44100) / fundamental, 1.0 / 3, 0.01);
    EXPECT_LT(DftMagnitude(q, 2 * 441, 44100), fundamental / 100);
    EXPECT_LT(DftMagnitude(q, 431, 44100), fundamental / 100);
}

// --- frame layouts --------------------------------------------------------------------------

struct LayoutCase {
    TMMBits bits;
    TMMMode mode;
    TMMChannel channel;
};

class GeneratorLayout : public ::testing::TestWithParam<LayoutCase> {};

// One generated sample per frame goes to each selected channel; the other channel is silent.
TEST_P(GeneratorLayout, WritesOneSamplePerFrameToTheSelectedChannels) {
    const LayoutCase c = GetParam();
    auto g = Carrier(c.bits, c.mode, 22050, wfTriangle, 300);
    g->SetChannel(c.channel);
    const int channels = c.mode == mStereo ? 2 : 1;
    const std::vector<int> out = Decode(Pull(*g, 4096), c.bits);
    const size_t frames = out.size() / channels;
    const std::vector<int> tone = ReferenceTone(wfTriangle, c.bits, 300, 22050, 16384, frames);
    for (int ch = 0; ch < channels; ++ch) {
        const bool selected = channels == 1 || c.channel == chBoth || c.channel - 1 == ch;
        EXPECT_EQ(Channel(out, channels, ch), selected ? tone : std::vector<int>(frames, 0))
            << "channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, GeneratorLayout,
    ::testing::Values(LayoutCase{b16Bit, mMono, chBoth}, LayoutCase{b16Bit, mMono, chRight},
                      LayoutCase{b16Bit, mStereo, chBoth}, LayoutCase{b16Bit, mStereo, chLeft},
                      LayoutCase{b16Bit, mStereo, chRight}, LayoutCase{b8Bit, mMono, chBoth},
                      LayoutCase{b8Bit, mStereo, chBoth}, LayoutCase{b8Bit, mStereo, chLeft},
                      LayoutCase{b8Bit, mStereo, chRight}));

TEST(GeneratorLayoutEdges, OnlyWholeFramesAreWritten) {
    auto g = Carrier(b16Bit, mStereo, 44100, wfSquare, 1000);
    Buffer buffer(10);
    bool more = false;
    g->BufferLoad(buffer.Header(), more);
    EXPECT_EQ(buffer.Header()->dwBytesRecorded, 10u);
    EXPECT_EQ(buffer.Bytes()[8], 0xEE);
    EXPECT_EQ(buffer.Bytes()[9], 0xEE);
}

// --- enabled and disabled -------------------------------------------------------------------

TEST(GeneratorEnabled, ADisabledCarrierDeliversSilenceAndNeverEndsTheStream) {
    for (TMMBits bits : {b16Bit, b8Bit}) {
        auto g = Carrier(bits, mStereo, 44100, wfSquare, 1000);
        g->SetEnabled(false);
        bool more = false;
        const std::vector<uint8_t> out = Pull(*g, 1000, &more);
        EXPECT_EQ(out, std::vector<uint8_t>(1000, bits == b16Bit ? 0 : 128));
        EXPECT_TRUE(more);
    }
}

TEST(GeneratorEnabled, ADisabledModulatorPassesItsInputUntouched) {
    for (TMMModulation modulation : {moAM, moFM, moPM}) {
        PatternSource source(b16Bit, 2, 44100, {100, -200, 30000, -32768, 7, 0});
        TMMGenerator g;
        g.SetInput(&source);
        g.SetModulation(modulation);
        g.SetEnabled(false);
        g.Open();
        g.Start();
        bool more = false;
        EXPECT_EQ(Decode(Pull(g, 4096, &more), b16Bit),
                  std::vector<int>({100, -200, 30000, -32768, 7, 0}));
        EXPECT_TRUE(more);
    }
}

TEST(GeneratorEnabled, AnEmptyBufferRequestStaysEmpty) {
    PatternSource source(b16Bit, 1, 44100, {1, 2, 3});
    TMMGenerator g;
    g.SetInput(&source);
    bool more = false;
    EXPECT_TRUE(Pull(g, 0, &more).empty());
    EXPECT_TRUE(more);
}

// --- amplitude modulation -------------------------------------------------------------------

std::vector<int> Ramp16() {
    std::vector<int> x;
    for (int v = -32768; v <= 32767; v += 257) {
        x.push_back(v);
    }
    x.push_back(32767);
    return x;
}

TEST(GeneratorAM, SixteenBitProductWithDryShareSaturates) {
    const std::vector<int> input = Ramp16();
    for (int dry : {0, 8192, 16384}) {
        PatternSource source(b16Bit, 1, 44100, input);
        TMMGenerator g;
        g.SetInput(&source);
        g.SetWaveForm(wfSquare);
        g.SetFrequency(4410);
        g.SetAmplitude(12000);
        g.SetDryAmplitude(dry);
        g.Open();
        g.Start();
        const std::vector<int> out = Decode(Pull(g, source.Bytes()), b16Bit);
        const std::vector<int> tone =
            ReferenceTone(wfSquare, b16Bit, 4410, 44100, 12000, input.size());
        ASSERT_EQ(out.size(), input.size());
        for (size_t i = 0; i < input.size(); ++i) {
            const long long x = input[i];
            const long long sum = x * dry / 16384 + tone[i] * x / 32768;
            const int expected = static_cast<int>(std::min(32767LL, std::max(-32768LL, sum)));
            ASSERT_EQ(out[i], expected) << "dry " << dry << ", sample " << i;
        }
    }
}

TEST(GeneratorAM, FullDryAmplitudePassesTheInputPlusTheProduct) {
    // A square tone at full amplitude: the input doubles (and saturates) or nearly cancels.
    PatternSource source(b16Bit, 1, 44100, {1000, -1000, 20000, -20000});
    TMMGenerator g;
    g.SetInput(&source);
    g.SetWaveForm(wfSquare);
    g.SetFrequency(0.01);
    g.SetDryAmplitude(16384);
    g.Open();
    g.Start();
    // The square starts at −A: out = x + (−32767 × x) / 32768.
    EXPECT_EQ(Decode(Pull(g, 8), b16Bit), std::vector<int>({1, -1, 1, -1}));
    g.SetWaveForm(wfSawtoothPos);
    g.Stop();
    g.Start();
    EXPECT_EQ(Decode(Pull(g, 8), b16Bit), std::vector<int>({1000, -1000, 20000, -20000}));
}

TEST(GeneratorAM, EightBitProductIsCentredAndClipped) {
    std::vector<int> input;
    for (int v = -128; v <= 127; ++v) {
        input.push_back(v);
    }
    PatternSource source(b8Bit, 1, 11025, input);
    TMMGenerator g;
    g.SetInput(&source);
    g.SetWaveForm(wfTriangle);
    g.SetFrequency(1000);
    g.SetDryAmplitude(16384);
    g.Open();
    g.Start();
    const std::vector<int> out = Decode(Pull(g, source.Bytes()), b8Bit);
    const std::vector<int> tone = ReferenceTone(wfTriangle, b8Bit, 1000, 11025, 16384, 256);
    for (size_t i = 0; i < input.size(); ++i) {
        const int x = input[i];
        const int sum = x * 16384 / 16384 + tone[i] * x / 128;
        ASSERT_EQ(out[i], std::min(127, std::max(-128, sum))) << i;
    }
}

TEST(GeneratorAM, StereoModulatesPerFrameAndOnlyTheSelectedChannel) {
    std::vector<int> input;
    for (int i = 0; i < 400; ++i) {
        input.push_back(20000);
        input.push_back(-12345);
    }
    const std::vector<int> tone = ReferenceTone(wfSine, b16Bit, 700, 44100, 16384, 400);
    for (TMMChannel channel : {chBoth, chLeft, chRight}) {
        PatternSource source(b16Bit, 2, 44100, input);
        TMMGenerator g;
        g.SetInput(&source);
        g.SetFrequency(700);
        g.SetChannel(channel);
        g.Open();
        g.Start();
        const std::vector<int> out = Decode(Pull(g, source.Bytes()), b16Bit);
        for (int ch = 0; ch < 2; ++ch) {
            const int x = ch == 0 ? 20000 : -12345;
            const bool selected = channel == chBoth || channel - 1 == ch;
            std::vector<int> expected;
            for (int t : tone) {
                expected.push_back(selected ? t * x / 32768 : x);
            }
            EXPECT_EQ(Channel(out, 2, ch), expected) << "Channel " << channel << ", ch " << ch;
        }
    }
}

// --- frequency and phase modulation ---------------------------------------------------------

TEST(GeneratorFM, SixteenBitMonoInputScalesEachPhaseStep) {
    std::vector<int> input;
    for (int i = 0; i < 3000; ++i) {
        input.push_back(static_cast<int>(32767 * std::sin(i * 0.01)) - (i % 2));
    }
    PatternSource source(b16Bit, 1, 44100, input);
    TMMGenerator g;
    g.SetInput(&source);
    g.SetModulation(moFM);
    g.SetFrequency(2500);
    g.SetAmplitude(10000);
    g.SetDryAmplitude(16384); // plays no part in FM
    g.Open();
    g.Start();
    const std::vector<int> out = Decode(Pull(g, source.Bytes()), b16Bit);
    ReferencePhase phase;
    const double step = 2500.0 * 100000 / 44100;
    ASSERT_EQ(out.size(), input.size());
    for (size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(out[i], Scaled(ReferencePoint(wfSine, phase.Index(), 32767), 10000)) << i;
        phase.Step(step * (1 + input[i] / 32768.0f));
    }
}

TEST(GeneratorFM, AConstantInputShiftsTheFrequency) {
    const struct {
        int input;
        double frequency;
        double absent;
    } cases[] = {{16384, 1500, 1000}, {-16384, 500, 1000}, {0, 1000, 1500}};
    for (const auto& c : cases) {
        PatternSource source(b16Bit, 1, 44100, std::vector<int>(44100, c.input));
        TMMGenerator g;
        g.SetInput(&source);
        g.SetModulation(moFM);
        g.Open();
        g.Start();
        const std::vector<int> out = Decode(Pull(g, source.Bytes()), b16Bit);
        EXPECT_NEAR(DftMagnitude(out, c.frequency, 44100), 32767 / 2.0, 50) << c.input;
        EXPECT_LT(DftMagnitude(out, c.absent, 44100), 50) << c.input;
    }
}

TEST(GeneratorFM, StereoAndEightBitDataStepOncePerFrameFromTheMeanInput) {
    // Frames whose mean is +0.5 of full scale: the tone runs at 1.5 × Frequency and both
    // channels carry the same sample.
    for (TMMBits bits : {b16Bit, b8Bit}) {
        std::vector<int> input;
        const int hi = bits == b16Bit ? 32767 : 127;
        for (int i = 0; i < 4410; ++i) {
            input.push_back(hi);
            input.push_back(0);
        }
        PatternSource source(bits, 2, 44100, input);
        TMMGenerator g;
        g.SetInput(&source);
        g.SetModulation(moFM);
        g.SetFrequency(1000);
        g.Open();
        g.Start();
        const std::vector<int> out = Decode(Pull(g, source.Bytes()), bits);
        ReferencePhase phase;
        const double wideHi = bits == b16Bit ? 32767 : 127 * 256;
        const double step = 1000.0 * 100000 / 44100 * (1 + wideHi / 2 / 32768);
        for (size_t f = 0; f < out.size() / 2; ++f) {
            const int expected = ReferencePoint(wfSine, phase.Index(), FullScale(bits));
            ASSERT_EQ(out[2 * f], expected) << "frame " << f;
            ASSERT_EQ(out[2 * f + 1], expected) << "frame " << f;
            phase.Step(step);
        }
    }
}

TEST(GeneratorPM, TheInputShiftsTheReadPositionByUpToHalfATable) {
    const struct {
        int input;
        double shift; // in table points
    } cases[] = {{0, 0}, {16384, 25000}, {-32768, -50000}, {-16384, -25000}};
    for (const auto& c : cases) {
        PatternSource source(b16Bit, 1, 22050, std::vector<int>(2000, c.input));
        TMMGenerator g;
        g.SetInput(&source);
        g.SetModulation(moPM);
        g.SetWaveForm(wfSawtoothNeg);
        g.SetFrequency(300);
        g.Open();
        g.Start();
        const std::vector<int> out = Decode(Pull(g, source.Bytes()), b16Bit);
        ReferencePhase phase;
        for (size_t i = 0; i < out.size(); ++i) {
            int index = (phase.Index() + static_cast<int>(c.shift) + kN) % kN;
            ASSERT_EQ(out[i], ReferencePoint(wfSawtoothNeg, index, 32767))
                << "input " << c.input << ", sample " << i;
            phase.Step(300.0 * 100000 / 22050);
        }
    }
}

// --- lifecycle and chains -------------------------------------------------------------------

TEST(GeneratorLifecycle, OpenBuildsTheTableAndCloseMarksItStale) {
    TMMGenerator g;
    g.SetBitLength(b16Bit);
    g.SetFrequency(0.01);
    EXPECT_EQ(Decode(Pull(g, 4), b16Bit), std::vector<int>({0, 0})) << "no table before Open";
    g.SetWaveForm(wfSquare);
    g.Open();
    EXPECT_TRUE(g.TableBuilt());
    g.Start();
    EXPECT_EQ(Decode(Pull(g, 2), b16Bit), std::vector<int>({-32767}));
    g.Close();
    EXPECT_FALSE(g.TableBuilt());
    g.SetWaveForm(wfSawtoothNeg);
    g.Open();
    g.Start();
    g.SetFrequency(1000);
    EXPECT_EQ(Decode(Pull(g, 200), b16Bit),
              ReferenceTone(wfSawtoothNeg, b16Bit, 1000, 11025, 16384, 100));
}

TEST(GeneratorLifecycle, ChangesWhileOpenRebuildTheTableAtOnce) {
    auto g = Carrier(b16Bit, mMono, 25000, wfSine, 0.25);
    g->SetWaveForm(wfTriangle);
    g->SetBitLength(b8Bit);
    g->Start();
    EXPECT_EQ(Decode(Pull(*g, 1000), b8Bit),
              ReferenceTone(wfTriangle, b8Bit, 0.25, 25000, 16384, 1000));
}

TEST(GeneratorLifecycle, StartAfterStopRestartsAtTableIndexZero) {
    auto g = Carrier(b16Bit, mMono, 44100, wfSawtoothNeg, 1234.5);
    const std::vector<int> first = Decode(Pull(*g, 512), b16Bit);
    Pull(*g, 512);
    g->Stop();
    g->Start();
    EXPECT_EQ(Decode(Pull(*g, 512), b16Bit), first);
}

TEST(GeneratorChain, ThreeGeneratorsCarrierAmThenFm) {
    TMMGenerator carrier;
    TMMGenerator am;
    TMMGenerator fm;
    am.SetInput(&carrier);
    fm.SetInput(&am);
    carrier.SetBitLength(b16Bit);
    carrier.SetSampleRate(44100);
    carrier.SetFrequency(1000);
    am.SetWaveForm(wfTriangle);
    am.SetFrequency(5);
    am.SetDryAmplitude(8192);
    fm.SetModulation(moFM);
    fm.SetFrequency(3000);
    fm.SetAmplitude(12000);
    for (TMMGenerator* g : {&carrier, &am, &fm}) {
        g->Open();
        g->Start();
    }
    const std::vector<int> out = Decode(Pull(fm, 8192), b16Bit);

    const size_t n = 4096;
    const std::vector<int> c = ReferenceTone(wfSine, b16Bit, 1000, 44100, 16384, n);
    const std::vector<int> a = ReferenceTone(wfTriangle, b16Bit, 5, 44100, 16384, n);
    ReferencePhase phase;
    std::vector<int> expected;
    for (size_t i = 0; i < n; ++i) {
        const long long x = c[i];
        const int modulated = static_cast<int>(
            std::max(-32768LL, std::min(32767LL, x * 8192 / 16384 + a[i] * x / 32768)));
        expected.push_back(Scaled(ReferencePoint(wfSine, phase.Index(), 32767), 12000));
        phase.Step(3000.0 * 100000 / 44100 * (1 + modulated / 32768.0));
    }
    EXPECT_EQ(out, expected);
}

TEST(GeneratorChain, BufferReadyModulatesPushedBuffersBeforePassingThemOn) {
    TMMGenerator g;
    TMMDSPComponent sink;
    g.SetBitLength(b16Bit);
    g.SetWaveForm(wfSquare);
    g.SetFrequency(0.01);
    g.SetOutput(&sink);
    g.Open();
    g.Start();
    std::vector<int> seen;
    sink.OnBufferReady = [&](TComponent*, PWaveHdr header) {
        std::vector<uint8_t> bytes(header->lpData, header->lpData + header->dwBytesRecorded);
        seen = Decode(bytes, b16Bit);
    };
    Buffer buffer(8);
    const std::vector<uint8_t> input = Encode({16384, -16384, 2, 0}, b16Bit);
    std::memcpy(buffer.Bytes(), input.data(), 8);
    buffer.Header()->dwBytesRecorded = 6;
    g.BufferReady(buffer.Header());
    // Square at −A: x × −32767 / 32768; the fourth sample lies outside the recorded bytes.
    EXPECT_EQ(seen, std::vector<int>({-16383, 16383, -1}));
    EXPECT_EQ(Decode({buffer.Bytes() + 6, buffer.Bytes() + 8}, b16Bit), std::vector<int>({0}));
}

} // namespace
