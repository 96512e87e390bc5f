#include "generator/analysis/MMFFT.h"

#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

const long double kPi = 3.141592653589793238462643383279502884L;
// sqrt(1/2) as a single: the twiddle of j = L/8 is exact by symmetry, not by recurrence.
const float kSqrtHalf = 0.70710677f;
// Floats per pair of butterflies in a stage's twiddle layout: four vectors of four.
const size_t kStageTwiddleStride = 16;

// Four singles that the compiler keeps in one vector register (SSE2 on our targets).
typedef float V4 __attribute__((vector_size(16)));
typedef int32_t V4i __attribute__((vector_size(16)));

inline V4 Load(const void* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store(float* p, V4 v) {
    std::memcpy(p, &v, sizeof v);
}

// (re0, im0, re1, im1) -> (im0, re0, im1, re1)
inline V4 SwapPairs(V4 v) {
    return __builtin_shuffle(v, V4i{1, 0, 3, 2});
}

// Calls visit(b) for every start b of the blocks of length L in the split-radix index walk
// over M values. 64-bit counters: the stride outgrows 32 bits for the largest lengths.
template <class Visit> void ForEachBlock(uint64_t M, uint64_t L, Visit visit) {
    for (uint64_t s = 0, d = 2 * L; s < M; s = 2 * d - L, d *= 4) {
        for (uint64_t b = s; b < M; b += d) {
            visit(static_cast<size_t>(b));
        }
    }
}

struct Complex {
    float re;
    float im;
};

std::vector<int32_t> BuildBitReversal(size_t M) {
    std::vector<int32_t> table(M);
    for (size_t i = 0; i < M; ++i) {
        size_t r = 0;
        for (size_t h = M / 2; h >= 1; h /= 2) {
            r /= 2;
            if (i & h) {
                r += M / 2;
            }
        }
        table[i] = static_cast<int32_t>(r);
    }
    return table;
}

// Rotates by the angle whose cosine and sine are c and s (double precision recurrence).
void Rotate(double& x, double& y, double c, double s) {
    const double nx = x * c - y * s;
    y = y * c + x * s;
    x = nx;
}

std::vector<TFFTTwiddle> BuildTwiddles(size_t M) {
    std::vector<TFFTTwiddle> table;
    if (M / 2 <= 1) {
        return table;
    }
    table.resize(M / 4);
    const double theta = 2.0 * static_cast<double>(kPi) / static_cast<double>(M);
    const double c1 = std::cos(theta), s1 = std::sin(theta);
    const double c3 = std::cos(3 * theta), s3 = std::sin(3 * theta);
    double x1 = c1, y1 = s1, x3 = c3, y3 = s3;
    for (size_t k = 0; k < table.size(); ++k) {
        if (k > 0) {
            Rotate(x1, y1, c1, s1);
            Rotate(x3, y3, c3, s3);
        }
        table[k] = {static_cast<float>(x1), static_cast<float>(-y1), static_cast<float>(x3),
                    static_cast<float>(-y3)};
    }
    return table;
}

std::vector<TFFTSplit> BuildSplit(size_t M) {
    std::vector<TFFTSplit> table(M / 2);
    const double phi = static_cast<double>(kPi) / static_cast<double>(M);
    const double c = std::cos(phi), s = std::sin(phi);
    double x = c, y = s;
    for (size_t k = 0; k < table.size(); ++k) {
        if (k > 0) {
            Rotate(x, y, c, s);
        }
        table[k] = {static_cast<float>(0.5 * x), static_cast<float>(0.5 - 0.5 * y)};
    }
    return table;
}

// w^j and w^3j of butterfly j in a stage of length L, as (re, im) pairs.
void StageFactors(const std::vector<TFFTTwiddle>& twiddles, size_t M, size_t L, size_t j,
                  Complex& w, Complex& w3) {
    if (j == 0) {
        w = {1.0f, 0.0f};
        w3 = {1.0f, 0.0f};
    } else if (j == L / 8) {
        w = {kSqrtHalf, -kSqrtHalf};
        w3 = {-kSqrtHalf, -kSqrtHalf};
    } else {
        const TFFTTwiddle& t = twiddles[j * (M / L) - 1];
        w = {t.wr, t.wi};
        w3 = {t.w3r, t.w3i};
    }
}

// For each stage L = M, M/2, ... 8 and each pair of butterflies (j, j+1): the vectors
// (wr, wr, wr', wr'), (-wi, wi, -wi', wi') for w^j, w^(j+1), and the same for w^3j, so that a
// complex multiply of two interleaved values is two products and one swap.
std::vector<float> BuildStageTwiddles(const std::vector<TFFTTwiddle>& twiddles, size_t M) {
    std::vector<float> table;
    for (size_t L = M; L >= 8; L /= 2) {
        for (size_t j = 0; j < L / 4; j += 2) {
            Complex w[2], w3[2];
            StageFactors(twiddles, M, L, j, w[0], w3[0]);
            StageFactors(twiddles, M, L, j + 1, w[1], w3[1]);
            const float entry[kStageTwiddleStride] = {
                w[0].re,  w[0].re,  w[1].re,  w[1].re,  -w[0].im,  w[0].im,  -w[1].im,  w[1].im,
                w3[0].re, w3[0].re, w3[1].re, w3[1].re, -w3[0].im, w3[0].im, -w3[1].im, w3[1].im};
            table.insert(table.end(), entry, entry + kStageTwiddleStride);
        }
    }
    return table;
}

std::vector<int32_t> BuildSwapPairs(const std::vector<int32_t>& reversal) {
    std::vector<int32_t> pairs;
    for (size_t i = 0; i < reversal.size(); ++i) {
        if (static_cast<size_t>(reversal[i]) > i) {
            pairs.push_back(static_cast<int32_t>(i));
            pairs.push_back(reversal[i]);
        }
    }
    return pairs;
}

// The L-shaped butterfly for two neighbouring j at once; tw holds their factor vectors.
inline void LButterfly(V4& x0, V4& x1, V4& x2, V4& x3, const float* tw) {
    const V4 minusI = {1.0f, -1.0f, 1.0f, -1.0f};
    const V4 d1 = x0 - x2;
    const V4 e = SwapPairs(x1 - x3) * minusI; // -i * d2
    const V4 t2 = d1 + e;
    const V4 t3 = d1 - e;
    x0 = x0 + x2;
    x1 = x1 + x3;
    x2 = t2 * Load(tw) + SwapPairs(t2) * Load(tw + 4);
    x3 = t3 * Load(tw + 8) + SwapPairs(t3) * Load(tw + 12);
}

// The butterflies of one block of length L = 4q >= 16, two at a time.
void ButterflyBlock(float* z, size_t q, const float* tw) {
    float* p0 = z;
    float* p1 = p0 + 2 * q;
    float* p2 = p1 + 2 * q;
    float* p3 = p2 + 2 * q;
    for (size_t j = 0; j < 2 * q; j += 4, tw += kStageTwiddleStride) {
        V4 x0 = Load(p0 + j), x1 = Load(p1 + j), x2 = Load(p2 + j), x3 = Load(p3 + j);
        LButterfly(x0, x1, x2, x3, tw);
        Store(p0 + j, x0);
        Store(p1 + j, x1);
        Store(p2 + j, x2);
        Store(p3 + j, x3);
    }
}

// A block of length 2 held in one vector: (a, b) -> (a + b, a - b).
inline V4 Block2(V4 v) {
    const V4 a = __builtin_shuffle(v, V4i{0, 1, 0, 1});
    const V4 b = __builtin_shuffle(v, V4i{2, 3, 2, 3});
    return a + b * V4{1.0f, 1.0f, -1.0f, -1.0f};
}

// A block of length 4 held as (z0, z1) and (z2, z3), followed by the block of length 2 at its
// start. All factors are 1.
inline void Block4(V4& p, V4& q) {
    const V4 sums = p + q;        // x0 + x2, x1 + x3
    const V4 differences = p - q; // d1, d2
    const V4 d1 = __builtin_shuffle(differences, V4i{0, 1, 0, 1});
    const V4 iD2 = __builtin_shuffle(differences, V4i{3, 2, 3, 2}) *
                   V4{1.0f, -1.0f, -1.0f, 1.0f}; // -i * d2, +i * d2
    p = Block2(sums);
    q = d1 + iD2;
}

// A block of length 8 and everything below it, in registers.
void Leaf8(float* z, const float* tw) {
    V4 v0 = Load(z), v1 = Load(z + 4), v2 = Load(z + 8), v3 = Load(z + 12);
    LButterfly(v0, v1, v2, v3, tw);
    Block4(v0, v1);
    Store(z, v0);
    Store(z + 4, v1);
    Store(z + 8, Block2(v2));
    Store(z + 12, Block2(v3));
}

void Leaf4(float* z) {
    V4 p = Load(z), q = Load(z + 4);
    Block4(p, q);
    Store(z, p);
    Store(z + 4, q);
}

// Split-radix decimation in frequency on M complex values; the result is bit-reversed.
// Stages of length 16 and up run block by block; each block of length 8 is then finished
// with all its sub-blocks at once, as is each block of length 4 that a 16-block leaves.
void ComplexTransform(const TFFTPlan& plan, float* z, size_t M) {
    if (M < 8) {
        if (M == 4) {
            Leaf4(z);
        } else if (M == 2) {
            Store(z, Block2(Load(z)));
        }
        return;
    }
    const float* tw = plan.stageTwiddles.data();
    for (size_t L = M; L >= 16; L /= 2) {
        ForEachBlock(M, L, [&](size_t b) { ButterflyBlock(z + 2 * b, L / 4, tw); });
        tw += L / 8 * kStageTwiddleStride;
    }
    ForEachBlock(M, 8, [&](size_t b) { Leaf8(z + 2 * b, tw); });
    if (M >= 16) {
        ForEachBlock(M, 16, [&](size_t b) {
            Leaf4(z + 2 * (b + 8));
            Leaf4(z + 2 * (b + 12));
        });
    }
}

void BitReverse(const TFFTPlan& plan, float* z) {
    const int32_t* pair = plan.swapPairs.data();
    const int32_t* end = pair + plan.swapPairs.size();
    for (; pair != end; pair += 2) {
        // Each complex value moves as one 8-byte word.
        float* a = z + 2 * pair[0];
        float* b = z + 2 * pair[1];
        uint64_t va, vb;
        std::memcpy(&va, a, sizeof va);
        std::memcpy(&vb, b, sizeof vb);
        std::memcpy(a, &vb, sizeof vb);
        std::memcpy(b, &va, sizeof va);
    }
}

// One split pair (k, M - k): Z in, X out, in place.
inline void SplitPair(float* zk, float* zm, float c, float s) {
    const float a = zk[0] - zm[0];
    const float b = zk[1] + zm[1];
    const float m = a * s + b * c;
    const float l = b * s - a * c;
    const float rk = zk[0], ik = zk[1], rm = zm[0], im = zm[1];
    zk[0] = rm + m;
    zk[1] = l - im;
    zm[0] = rk - m;
    zm[1] = l - ik;
}

// The split pairs k..k+3 with M-k..M-k-3, the same arithmetic as SplitPair in four lanes.
inline void SplitFourPairs(float* z, size_t k, size_t M, const TFFTSplit* cs) {
    const V4 f0 = Load(z + 2 * k), f1 = Load(z + 2 * k + 4);
    const V4 r0 = Load(z + 2 * (M - k - 3)), r1 = Load(z + 2 * (M - k - 1));
    const V4 cs0 = Load(cs), cs1 = Load(cs + 2);
    const V4 rk = __builtin_shuffle(f0, f1, V4i{0, 2, 4, 6});
    const V4 ik = __builtin_shuffle(f0, f1, V4i{1, 3, 5, 7});
    const V4 rm = __builtin_shuffle(r0, r1, V4i{6, 4, 2, 0});
    const V4 im = __builtin_shuffle(r0, r1, V4i{7, 5, 3, 1});
    const V4 c = __builtin_shuffle(cs0, cs1, V4i{0, 2, 4, 6});
    const V4 s = __builtin_shuffle(cs0, cs1, V4i{1, 3, 5, 7});
    const V4 a = rk - rm;
    const V4 b = ik + im;
    const V4 m = a * s + b * c;
    const V4 l = b * s - a * c;
    const V4 xr = rm + m, xi = l - im;
    const V4 yr = rk - m, yi = l - ik;
    Store(z + 2 * k, __builtin_shuffle(xr, xi, V4i{0, 4, 1, 5}));
    Store(z + 2 * k + 4, __builtin_shuffle(xr, xi, V4i{2, 6, 3, 7}));
    Store(z + 2 * (M - k - 3), __builtin_shuffle(yr, yi, V4i{3, 7, 2, 6}));
    Store(z + 2 * (M - k - 1), __builtin_shuffle(yr, yi, V4i{1, 5, 0, 4}));
}

// Turns the transform of the M packed values into bins 0..M-1 of the real input's spectrum.
void SplitRealSpectrum(const TFFTPlan& plan, float* z, size_t M) {
    z[0] += z[1];
    z[1] = 0.0f;
    const TFFTSplit* split = plan.split.data();
    size_t k = 1;
    for (; k + 3 < M / 2; k += 4) {
        SplitFourPairs(z, k, M, split + (k - 1));
    }
    for (; k < M / 2; ++k) {
        SplitPair(z + 2 * k, z + 2 * (M - k), split[k - 1].c, split[k - 1].s);
    }
    if (M >= 2) {
        z[M + 1] = -z[M + 1]; // Im X[M/2]
    }
}

} // namespace

TFFTPlan* CreateFFTPlan(int exponent) {
    if (exponent <= 0 || exponent > 31) {
        return nullptr;
    }
    const size_t M = static_cast<size_t>(1) << (exponent - 1);
    TFFTPlan* plan = new TFFTPlan;
    try {
        plan->exponent = exponent;
        plan->length = static_cast<uint32_t>(M * 2);
        plan->bitReversal = BuildBitReversal(M);
        plan->twiddles = BuildTwiddles(M);
        plan->split = BuildSplit(M);
        plan->stageTwiddles = BuildStageTwiddles(plan->twiddles, M);
        plan->swapPairs = BuildSwapPairs(plan->bitReversal);
    } catch (const std::length_error&) {
        delete plan;
        throw std::bad_alloc();
    } catch (...) {
        delete plan;
        throw;
    }
    return plan;
}

void FreeFFTPlan(TFFTPlan*& plan) {
    delete plan;
    plan = nullptr;
}

void RealFFT(const TFFTPlan* plan, float* data) {
    if (!plan || !data) {
        return;
    }
    // The n singles are taken as M = n/2 interleaved (re, im) values, in place.
    const size_t M = plan->length / 2;
    ComplexTransform(*plan, data, M);
    BitReverse(*plan, data);
    SplitRealSpectrum(*plan, data, M);
}

float FFTWindowValue(TMMFFTWindow window, int32_t i, int32_t N) {
    const long double x = i, n = N;
    const long double a = 2 * kPi * x / n;
    switch (window) {
    case fwRectangular:
        return 1.0f;
    case fwHamming:
        return static_cast<float>(0.54L - 0.46L * std::cos(a));
    case fwHanning:
        return static_cast<float>(0.5L - 0.5L * std::cos(a));
    case fwBlackman:
        return static_cast<float>(0.42L - 0.5L * std::cos(a) + 0.08L * std::cos(2 * a));
    case fwGaussian: {
        const long double d = 2 * x - n;
        return static_cast<float>(std::exp(-5 * d * d / (n * n)));
    }
    case fwWelch: {
        const long double r = (2 * x - n) / (n + 1);
        return static_cast<float>(1 - r * r);
    }
    case fwParzen:
        return static_cast<float>(1 - std::fabs(2 * x - n) / (n + 1));
    }
    return 1.0f;
}

void FillWindowTable(int32_t* table, TMMFFTWindow window, int exponent) {
    if (!table || exponent < 0 || exponent > 30) {
        return;
    }
    const int32_t N = static_cast<int32_t>(1) << exponent;
    for (int32_t i = 0; i < N; ++i) {
        // value * 32767 + 0.5 is exact in double for any single value.
        const double value = FFTWindowValue(window, i, N);
        table[i] = static_cast<int32_t>(std::floor(value * 32767.0 + 0.5));
    }
}
