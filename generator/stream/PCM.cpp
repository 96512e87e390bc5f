#include "generator/stream/PCM.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

PWAVEFORMATEX BuildPCMFormat(WAVEFORMATEX& format, int bits, int channels, uint32_t rate) {
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = static_cast<WORD>(bits);
    format.nBlockAlign = static_cast<WORD>(static_cast<WORD>(channels * bits) >> 3);
    format.nAvgBytesPerSec = format.nBlockAlign * rate;
    format.cbSize = 0;
    return &format;
}

bool IsValidPCMFormat(const WAVEFORMATEX* format) {
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM) {
        return false;
    }
    const bool bitsOk = format->wBitsPerSample == 8 || format->wBitsPerSample == 16;
    const bool channelsOk =
        format->nChannels == 1 || format->nChannels == 2 || format->nChannels == 4;
    return bitsOk && channelsOk && format->nSamplesPerSec >= 4000 &&
           format->nSamplesPerSec <= 100000;
}

TWaveFormatPtr CopyWaveFormat(const WAVEFORMATEX* format) {
    if (!format) {
        return nullptr;
    }
    const bool pcm = format->wFormatTag == WAVE_FORMAT_PCM;
    const size_t size = pcm ? kWaveFormatSize : kWaveFormatSize + format->cbSize;
    // The allocation is at least a whole record so that the fields stay addressable.
    void* block = std::calloc(1, size < sizeof(WAVEFORMATEX) ? sizeof(WAVEFORMATEX) : size);
    if (!block) {
        throw std::bad_alloc();
    }
    std::memcpy(block, format, size);
    TWaveFormatPtr copy(static_cast<WAVEFORMATEX*>(block));
    if (pcm) {
        copy->cbSize = 0;
    }
    return copy;
}

int32_t MulDivTrunc(int32_t a, int32_t b, int32_t c) {
    return static_cast<int32_t>(static_cast<int64_t>(a) * b / c);
}

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t q = product / c;
    const int64_t r = product % c;
    return static_cast<int32_t>(q + (2 * r) / c);
}

namespace {

int64_t RoundUpToFrames(int64_t bytes, int blockAlign) {
    if (blockAlign <= 0) {
        return bytes;
    }
    return (bytes + blockAlign - 1) / blockAlign * blockAlign;
}

} // namespace

int32_t BytesToSamples(const WAVEFORMATEX& f, int32_t bytes) {
    return MulDivRound(bytes, f.nSamplesPerSec, f.nAvgBytesPerSec);
}

int32_t BytesToMs(const WAVEFORMATEX& f, int32_t bytes) {
    return MulDivRound(bytes, 1000, f.nAvgBytesPerSec);
}

int32_t SamplesToBytes(const WAVEFORMATEX& f, int32_t samples) {
    const int32_t bytes = MulDivRound(samples, f.nAvgBytesPerSec, f.nSamplesPerSec);
    return static_cast<int32_t>(RoundUpToFrames(bytes, f.nBlockAlign));
}

int32_t SamplesToMs(const WAVEFORMATEX& f, int32_t samples) {
    return MulDivRound(samples, 1000, f.nSamplesPerSec);
}

int32_t MsToSamples(const WAVEFORMATEX& f, int32_t ms) {
    return MulDivRound(ms, f.nSamplesPerSec, 1000);
}

int32_t MsToBytes(const WAVEFORMATEX& f, int32_t ms) {
    const int32_t bytes = MulDivRound(ms, f.nAvgBytesPerSec, 1000);
    return static_cast<int32_t>(RoundUpToFrames(bytes, f.nBlockAlign));
}

int64_t SamplesToBytes64(const WAVEFORMATEX& f, int64_t samples) {
    const long double exact =
        static_cast<long double>(samples) * f.nAvgBytesPerSec / f.nSamplesPerSec;
    return RoundUpToFrames(static_cast<int64_t>(exact), f.nBlockAlign);
}

int64_t SamplesToMs64(const WAVEFORMATEX& f, int64_t samples) {
    return static_cast<int64_t>(static_cast<long double>(samples) * 1000 / f.nSamplesPerSec);
}

std::string LevelToDecibelText(int32_t value, int32_t reference, float offset) {
    if (value == 0) {
        return "-Inf";
    }
    const float ref = static_cast<float>(reference < 1 ? 1 : reference);
    const float db = 20.0f * std::log10(std::fabs(static_cast<float>(value)) / ref) + offset;
    char text[32];
    std::snprintf(text, sizeof text, "%2.*f", 2, static_cast<double>(db));
    std::string result(text);
    char separator[8] = ".";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator);
    const size_t point = result.find('.');
    if (point != std::string::npos) {
        result.replace(point, 1, separator);
    }
    return result;
}
