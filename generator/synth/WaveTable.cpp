#include "generator/synth/WaveTable.h"

#include <chrono>
#include <cmath>

static_assert(std::atomic<int16_t>::is_always_lock_free, "table reads must never wait");

namespace {

const double kPi = 3.14159265358979323846;

// Tables created within one clock tick must still differ.
std::atomic<uint32_t> gSeedSequence{0};

uint64_t SplitMix64(uint64_t& state) noexcept {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Every division truncates toward zero, as the integer arithmetic of each shape requires.
int32_t ShapePoint(TMMWaveForm form, int32_t i, int32_t a) noexcept {
    const int32_t n = TMMWaveTable::kLength;
    const int32_t h = n / 2;
    const int32_t q = n / 4;
    switch (form) {
    case wfSine:
        return RoundHalfEven(std::sin((2.0 * i) * kPi / n) * a);
    case wfSquare:
        return i <= h ? -a : a;
    case wfTriangle:
        if (i <= q) {
            return i * a / q;
        }
        if (i > 3 * q) {
            return (i - 3 * q) * a / q - a;
        }
        return (h - i) * a / q;
    case wfSawtoothPos:
        return i <= h ? i * a / h : (i - h) * a / h - a;
    case wfSawtoothNeg:
        return i <= h ? -(i * a) / h : a - (i - h) * a / h;
    case wfNoise:
        break;
    }
    return 0;
}

} // namespace

TNoiseSource::TNoiseSource()
    : state_(static_cast<uint64_t>(
                 std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
             (static_cast<uint64_t>(gSeedSequence.fetch_add(1)) << 40)) {}

uint32_t TNoiseSource::Below(uint32_t range) noexcept {
    const uint32_t draw = static_cast<uint32_t>(SplitMix64(state_) >> 32);
    return static_cast<uint32_t>((static_cast<uint64_t>(draw) * range) >> 32);
}

TMMWaveTable::TMMWaveTable() : points_(new std::atomic<int16_t>[kLength]) {
    for (int32_t i = 0; i < kLength; ++i) {
        points_[i].store(0, std::memory_order_relaxed);
    }
}

void TMMWaveTable::Fill(TMMWaveForm form, int32_t fullScale, TNoiseSource& noise) noexcept {
    for (int32_t i = 0; i < kLength; ++i) {
        const int32_t point = form == wfNoise
                                  ? static_cast<int32_t>(noise.Below(2 * fullScale)) - fullScale
                                  : ShapePoint(form, i, fullScale);
        points_[i].store(static_cast<int16_t>(point), std::memory_order_relaxed);
    }
}
