#include "tests/devices/TestChain.h"

#include <cmath>
#include <cstdint>

TSineSource::TSineSource(int rate, int channels, int bits) {
    WAVEFORMATEX format{};
    BuildPCMFormat(format, bits, channels, static_cast<uint32_t>(rate));
    SetWaveFormat(&format);
}

void TSineSource::ChangeRate(int rate) {
    WAVEFORMATEX format = *WaveFormat();
    BuildPCMFormat(format, format.wBitsPerSample, format.nChannels, static_cast<uint32_t>(rate));
    SetWaveFormat(&format);
}

void TSineSource::Start() {
    TMMDSPComponent::Start();
    phase_ = 0.0;
}

void TSineSource::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    const int load = ++Loads;
    if (ThrowAfter >= 0 && load > ThrowAfter) {
        throw std::runtime_error("source failed");
    }
    if (BuffersLeft == 0) {
        MoreBuffers = false;
        return;
    }
    if (DeliverNothing) {
        MoreBuffers = true;
        return;
    }
    const WAVEFORMATEX& format = *WaveFormat();
    const DWORD frames = lpWaveHdr->dwBufferLength / format.nBlockAlign;
    auto* samples = reinterpret_cast<int16_t*>(lpWaveHdr->lpData);
    const double step = 2.0 * 3.14159265358979323846 * Frequency / format.nSamplesPerSec;
    for (DWORD i = 0; i < frames; ++i) {
        const auto value = static_cast<int16_t>(std::lround(Amplitude * std::sin(phase_)));
        for (int c = 0; c < format.nChannels; ++c) {
            *samples++ = value;
        }
        phase_ = std::fmod(phase_ + step, 2.0 * 3.14159265358979323846);
    }
    lpWaveHdr->dwBytesRecorded = frames * format.nBlockAlign + OverReport;
    if (BuffersLeft > 0) {
        --BuffersLeft;
    }
    MoreBuffers = BuffersLeft != 0;
}

void TCountingSink::BufferReady(PWaveHdr lpWaveHdr) {
    ++Buffers;
    Bytes += lpWaveHdr->dwBytesRecorded;
    LastThread = GetCurrentThreadId();
    if (Each) {
        Each(lpWaveHdr);
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}
