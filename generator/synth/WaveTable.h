// One cycle of a test waveform as a table of 100000 points, and the phase stepping that reads
// it. A table lookup per sample is all the tone generator's real-time path costs.
//
// Pure code: no Windows headers, so it also builds natively.
#pragma once

#include <atomic>
#include <cstdint>
#include <emmintrin.h>
#include <memory>

enum TMMWaveForm { wfSine, wfSquare, wfTriangle, wfSawtoothPos, wfSawtoothNeg, wfNoise };

// Rounds to the nearest integer, halves to even. Uses the SSE rounding mode, which every
// thread starts with (round to nearest) and nothing in the program changes.
inline int32_t RoundHalfEven(double value) noexcept {
    return _mm_cvtsd_si32(_mm_set_sd(value));
}

// The noise table's uniform generator: small and fast, seeded from the clock so that every
// table it fills is a new random cycle.
class TNoiseSource {
public:
    TNoiseSource();
    explicit TNoiseSource(uint64_t seed) : state_(seed) {}

    // A uniform integer in 0 … range − 1.
    uint32_t Below(uint32_t range) noexcept;

private:
    uint64_t state_;
};

class TMMWaveTable {
public:
    static const int kLength = 100000;

    // Allocates the points zero-filled.
    TMMWaveTable();

    // Writes one cycle of `form` whose peak is `fullScale` (32767 for 16-bit output, 127 for
    // 8-bit output).
    void Fill(TMMWaveForm form, int32_t fullScale, TNoiseSource& noise) noexcept;

    int32_t At(int32_t index) const noexcept {
        return points_[index].load(std::memory_order_relaxed);
    }

private:
    // Written on the main thread (Fill), read by the thread that services the output device.
    // A waveform change may rewrite the table while it is being played; each point is
    // atomic so a reader sees either the old or the new value of it, never a torn one.
    std::unique_ptr<std::atomic<int16_t>[]> points_;
};

// The position in a wave table and its stepping. The position stays in 0 … 99999 (exclusive):
// one point short of the table, which keeps the rounded index inside it.
class TMMOscillator {
public:
    static constexpr double kPhaseModulus = 99999.0;
    // Amplitude of unity gain.
    static const int32_t kUnity = 16384;

    void Restart() noexcept { phase_ = 0.0; }

    // The table point under the current position, scaled by amplitude / 16384 (truncated).
    int32_t Value(const TMMWaveTable& table, int32_t amplitude) const noexcept {
        return table.At(RoundHalfEven(phase_)) * amplitude / kUnity;
    }

    // The point `offset` table points away from the current position, wrapped into the table.
    int32_t ValueShifted(const TMMWaveTable& table, int32_t amplitude,
                         double offset) const noexcept {
        int32_t index = RoundHalfEven(phase_ + offset);
        if (index < 0) {
            index += TMMWaveTable::kLength;
        } else if (index >= TMMWaveTable::kLength) {
            index -= TMMWaveTable::kLength;
        }
        return table.At(index) * amplitude / kUnity;
    }

    // step must not be negative.
    void Advance(double step) noexcept { phase_ = Wrap(phase_ + step); }

    int32_t Next(const TMMWaveTable& table, int32_t amplitude, double step) noexcept {
        const int32_t value = Value(table, amplitude);
        Advance(step);
        return value;
    }

private:
    // b − m × trunc(b / m). Below the modulus trunc(b / m) is exactly 0, so skipping the
    // division there gives the same bits.
    static double Wrap(double b) noexcept {
        if (b < kPhaseModulus) {
            return b;
        }
        return b - kPhaseModulus * static_cast<int32_t>(b / kPhaseModulus);
    }

    double phase_ = 0.0;
};
