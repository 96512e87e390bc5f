// Forward FFT of real single-precision samples, in place, for power-of-two lengths, and the
// analysis windows as Q15 integer tables. Pure computation with no platform headers, so that
// it also builds for the host (sanitizers, benchmarks).
//
// A length-n transform runs as a complex split-radix transform of M = n/2 values followed by
// a split into the real spectrum. Everything that depends only on n is computed once, in the
// plan; RealFFT itself allocates nothing.
#pragma once

#include <cstdint>
#include <vector>

// One entry per k = 1..M/4: cos(k*theta), -sin(k*theta), cos(3k*theta), -sin(3k*theta), with
// theta = 2*pi/M.
struct TFFTTwiddle {
    float wr;
    float wi;
    float w3r;
    float w3i;
};

// One entry per k = 1..M/2: 0.5*cos(k*phi) and 0.5 - 0.5*sin(k*phi), with phi = pi/M.
struct TFFTSplit {
    float c;
    float s;
};

// Read-only after CreateFFTPlan; may be shared by any number of threads.
struct TFFTPlan {
    int32_t exponent = 0; // m: the length is 2^m
    uint32_t length = 0;  // n = 2^m (2^31 does not fit a signed 32-bit value)
    std::vector<int32_t> bitReversal;
    std::vector<TFFTTwiddle> twiddles;
    std::vector<TFFTSplit> split;
    // Derived from the tables above for speed, with the very same values:
    // the twiddles of each stage laid out for the two-values-at-a-time butterflies, in the
    // order the stage reads them;
    std::vector<float> stageTwiddles;
    // the pairs (i, r) of the bit reversal with r > i, flattened, so the permutation swaps
    // without a data-dependent branch.
    std::vector<int32_t> swapPairs;
};

// nullptr for an exponent outside 1..31. Throws std::bad_alloc when the tables do not fit.
TFFTPlan* CreateFFTPlan(int exponent);
// Frees the plan and sets the reference to nullptr; a nullptr reference is left alone.
void FreeFFTPlan(TFFTPlan*& plan);

// Transforms n samples in place into bins 0..n/2-1, bin k as data[2k] (real) and data[2k+1]
// (imaginary), unscaled: X[k] = sum of x[t]*exp(-2*pi*i*k*t/n). data[1] is 0 on return: the
// Nyquist value is not delivered. Does nothing without a plan or data.
void RealFFT(const TFFTPlan* plan, float* data);

enum TMMFFTWindow : uint8_t {
    fwRectangular,
    fwHamming,
    fwHanning,
    fwBlackman,
    fwGaussian,
    fwWelch,
    fwParzen
};

// w(i) of the window for a frame of N samples (periodic form: the cosine windows divide by
// N); 1 for any value outside the enumeration.
float FFTWindowValue(TMMFFTWindow window, int32_t i, int32_t N);
// Fills 2^exponent entries with the window in Q15: 1.0 is 32767.
void FillWindowTable(int32_t* table, TMMFFTWindow window, int exponent);
