// RealFFT against a plain double-precision DFT, and the exact Q15 window tables.
#include "generator/analysis/MMFFT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

struct PlanDeleter {
    void operator()(TFFTPlan* plan) const { FreeFFTPlan(plan); }
};
using PlanPtr = std::unique_ptr<TFFTPlan, PlanDeleter>;

const double kPi = 3.14159265358979323846;

struct Bin {
    double re;
    double im;
};

// X[k] for k = 0..n/2-1 by the definition, with the angles reduced exactly (k*t mod n).
std::vector<Bin> ReferenceDFT(const std::vector<float>& x) {
    const size_t n = x.size();
    std::vector<double> cosines(n), sines(n);
    for (size_t t = 0; t < n; ++t) {
        const double a = 2.0 * kPi * static_cast<double>(t) / static_cast<double>(n);
        cosines[t] = std::cos(a);
        sines[t] = std::sin(a);
    }
    std::vector<Bin> bins(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        double re = 0, im = 0;
        size_t angle = 0;
        for (size_t t = 0; t < n; ++t) {
            re += x[t] * cosines[angle];
            im -= x[t] * sines[angle];
            angle = (angle + k) & (n - 1);
        }
        bins[k] = {re, im};
    }
    return bins;
}

class RealFFTLength : public testing::TestWithParam<int> {};

TEST_P(RealFFTLength, MatchesTheDefinitionWithinSinglePrecision) {
    const int exponent = GetParam();
    const size_t n = size_t{1} << exponent;
    std::mt19937 random(static_cast<unsigned>(exponent));
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    std::vector<float> data(n);
    for (float& v : data) {
        v = sample(random);
    }
    const std::vector<Bin> expected = ReferenceDFT(data);

    PlanPtr plan(CreateFFTPlan(exponent));
    ASSERT_TRUE(plan);
    RealFFT(plan.get(), data.data());

    // Bin 0 is the DC sum; its imaginary slot carries no Nyquist value.
    EXPECT_EQ(data[1], 0.0f);
    double errorEnergy = 0, energy = 0, worst = 0;
    for (size_t k = 0; k < n / 2; ++k) {
        const double im = k == 0 ? 0.0 : expected[k].im;
        const double dr = data[2 * k] - expected[k].re, di = data[2 * k + 1] - im;
        errorEnergy += dr * dr + di * di;
        energy += expected[k].re * expected[k].re + im * im;
        worst = std::max(worst, std::sqrt(dr * dr + di * di));
    }
    // Single-precision rounding grows slowly with the number of stages; a wrong twiddle or
    // split factor shows up orders of magnitude above this.
    const double bound = 5.96e-8 * (1.0 + exponent / 4.0);
    const double rms = std::sqrt(energy / static_cast<double>(n / 2));
    EXPECT_LT(std::sqrt(errorEnergy / energy), bound) << "n = " << n;
    EXPECT_LT(worst, 4 * bound * rms) << "n = " << n;
}

INSTANTIATE_TEST_SUITE_P(EveryLength, RealFFTLength, testing::Range(1, 16),
                         [](const testing::TestParamInfo<int>& info) {
                             return "n" + std::to_string(1 << info.param);
                         });

TEST(RealFFT, OnlyExponentsOneToThirtyOneMakeAPlanAndMissingArgumentsAreIgnored) {
    EXPECT_EQ(CreateFFTPlan(0), nullptr);
    EXPECT_EQ(CreateFFTPlan(-1), nullptr);
    EXPECT_EQ(CreateFFTPlan(32), nullptr);

    TFFTPlan* plan = CreateFFTPlan(3);
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(plan->length, 8u);
    float data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    RealFFT(nullptr, data);
    RealFFT(plan, nullptr);
    EXPECT_EQ(data[7], 8.0f);
    FreeFFTPlan(plan);
    EXPECT_EQ(plan, nullptr);
    FreeFFTPlan(plan);
}

struct WindowCase {
    TMMFFTWindow window;
    int32_t table[8];
};

TEST(FillWindowTable, GivesTheQ15TablesForEightSamples) {
    const WindowCase cases[] = {
        {fwRectangular, {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
        {fwHamming, {2621, 7036, 17694, 28352, 32767, 28352, 17694, 7036}},
        {fwHanning, {0, 4799, 16384, 27968, 32767, 27968, 16384, 4799}},
        {fwBlackman, {0, 2177, 11141, 25347, 32767, 25347, 11141, 2177}},
        {fwGaussian, {221, 1968, 9388, 23973, 32767, 23973, 9388, 1968}},
        {fwWelch, {6877, 18204, 26295, 31149, 32767, 31149, 26295, 18204}},
        {fwParzen, {3641, 10922, 18204, 25485, 32767, 25485, 18204, 10922}},
        {static_cast<TMMFFTWindow>(7), {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
    };
    for (const WindowCase& c : cases) {
        int32_t table[8] = {};
        FillWindowTable(table, c.window, 3);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(table[i], c.table[i]) << "window " << int(c.window) << ", entry " << i;
        }
    }
}

} // namespace
