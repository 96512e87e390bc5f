// RealFFT for n = 16384 against FFTW's single-precision real-to-complex transform of the same
// length (FFTW_ESTIMATE and FFTW_MEASURE plans), measured in the same run.
#include "bench/fft/Timing.h"
#include "generator/analysis/MMFFT.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

const int kExponent = 14;
const int kLength = 1 << kExponent;

double FFTWMicroseconds(unsigned flags, const std::vector<float>& input,
                        std::vector<float>& spectrum) {
    float* in = fftwf_alloc_real(kLength);
    fftwf_complex* out = fftwf_alloc_complex(kLength / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(kLength, in, out, flags);
    std::copy(input.begin(), input.end(), in);
    const double us = MicrosecondsPerCall(300, [&] { fftwf_execute(plan); });
    spectrum.assign(reinterpret_cast<float*>(out), reinterpret_cast<float*>(out) + kLength);
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
    return us;
}

// Largest bin difference relative to the largest bin, over bins 1..n/2-1 (bin 0 carries no
// Nyquist value in our layout).
double LargestRelativeDifference(const std::vector<float>& ours, const std::vector<float>& ref) {
    double largest = 0, difference = 0;
    for (int k = 1; k < kLength / 2; ++k) {
        const double re = ref[2 * k], im = ref[2 * k + 1];
        largest = std::max(largest, std::hypot(re, im));
        difference = std::max(difference, std::hypot(ours[2 * k] - re, ours[2 * k + 1] - im));
    }
    return difference / largest;
}

} // namespace

int main() {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    std::vector<float> input(kLength);
    for (float& v : input) {
        v = sample(random);
    }

    TFFTPlan* plan = CreateFFTPlan(kExponent);
    std::vector<float> work(kLength);
    // The transform works in place, so every call starts from a fresh copy of the input; the
    // copy alone is timed and taken off.
    const double copyUs = MicrosecondsPerCall(
        300, [&] { std::memcpy(work.data(), input.data(), sizeof(float) * kLength); });
    const double withCopyUs = MicrosecondsPerCall(300, [&] {
        std::memcpy(work.data(), input.data(), sizeof(float) * kLength);
        RealFFT(plan, work.data());
    });
    const double oursUs = withCopyUs - copyUs;
    FreeFFTPlan(plan);

    std::vector<float> estimateSpectrum, measureSpectrum;
    const double estimateUs = FFTWMicroseconds(FFTW_ESTIMATE, input, estimateSpectrum);
    const double measureUs = FFTWMicroseconds(FFTW_MEASURE, input, measureSpectrum);

    std::printf("fft_length: %d samples\n", kLength);
    std::printf("realfft_time: %.2f us\n", oursUs);
    std::printf("input_copy_time: %.2f us\n", copyUs);
    std::printf("fftw_estimate_time: %.2f us\n", estimateUs);
    std::printf("fftw_measure_time: %.2f us\n", measureUs);
    std::printf("realfft_vs_fftw_estimate: %.2f x\n", oursUs / estimateUs);
    std::printf("realfft_vs_fftw_measure: %.2f x\n", oursUs / measureUs);
    std::printf("realfft_difference_from_fftw: %.2g relative\n",
                LargestRelativeDifference(work, estimateSpectrum));
    return 0;
}
