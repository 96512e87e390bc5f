// PCM format record helpers, the component format enumerations, conversions between bytes,
// samples and milliseconds, saturating sample arithmetic and the decibel text of a level.
// The rounding of every conversion is part of the contract: stored files, device positions
// and buffer sizes all depend on it.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

enum TMMBits { b8Bit, b16Bit };
enum TMMMode { mMono, mStereo, mMultiChannel };
enum TMMChannel { chBoth, chLeft, chRight };

inline int BitsOf(TMMBits bits) {
    return (static_cast<int>(bits) + 1) * 8;
}
inline int ChannelsOf(TMMMode mode) {
    return static_cast<int>(mode) + 1;
}

struct WaveFormatDeleter {
    void operator()(WAVEFORMATEX* format) const { std::free(format); }
};
// A component's own heap copy of its format; empty when it has none.
using TWaveFormatPtr = std::unique_ptr<WAVEFORMATEX, WaveFormatDeleter>;

const int kWaveFormatSize = 18;

PWAVEFORMATEX BuildPCMFormat(WAVEFORMATEX& format, int bits, int channels, uint32_t rate);
bool IsValidPCMFormat(const WAVEFORMATEX* format);
// Throws std::bad_alloc when the copy cannot be allocated.
TWaveFormatPtr CopyWaveFormat(const WAVEFORMATEX* format);

int32_t MulDivTrunc(int32_t a, int32_t b, int32_t c);
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);

int32_t BytesToSamples(const WAVEFORMATEX& format, int32_t bytes);
int32_t BytesToMs(const WAVEFORMATEX& format, int32_t bytes);
int32_t SamplesToBytes(const WAVEFORMATEX& format, int32_t samples);
int32_t SamplesToMs(const WAVEFORMATEX& format, int32_t samples);
int32_t MsToSamples(const WAVEFORMATEX& format, int32_t ms);
int32_t MsToBytes(const WAVEFORMATEX& format, int32_t ms);
int64_t SamplesToBytes64(const WAVEFORMATEX& format, int64_t samples);
int64_t SamplesToMs64(const WAVEFORMATEX& format, int64_t samples);

inline int32_t ClipSample16(int32_t v) {
    return v > 32767 ? 32767 : (v < -32768 ? -32768 : v);
}
// Looks at the value as a signed 16-bit quantity, as the 8-bit mixers hand it over.
inline int32_t ClipSample8(int32_t v) {
    const int16_t s = static_cast<int16_t>(v);
    return s > 127 ? 127 : (s < -128 ? -128 : s);
}

// The silence value of a sample byte: 128 for 8-bit formats, 0 for 16-bit formats.
inline uint8_t SilenceByte(const WAVEFORMATEX& format) {
    return format.wBitsPerSample == 8 ? 0x80 : 0x00;
}

// "-Inf" for 0, else 20*log10(|value|/max(reference,1)) + offset with two decimals.
std::string LevelToDecibelText(int32_t value, int32_t reference, float offset);
