// Small chain components for the device tests: a sine source with a scripted end, and a sink
// that counts what reaches it and can act from inside the servicing code.
#pragma once

#include "generator/stream/MMDSPObj.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <stdexcept>

// Plays a sine of `Frequency` at `Amplitude` in 16-bit stereo, 44100 Hz by default.
class TSineSource : public TMMDSPComponent {
public:
    explicit TSineSource(int rate = 44100, int channels = 2, int bits = 16);

    bool HasInputSide() const override { return false; }
    void Start() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    // Replaces the format (as a generator whose rate changes does).
    void ChangeRate(int rate);

    double Frequency = 1000.0;
    double Amplitude = 16384.0;
    // Buffers to deliver before the stream ends; -1 = endless. The last one says "no more".
    int BuffersLeft = -1;
    // Fills nothing (0 bytes) but still claims more buffers follow.
    bool DeliverNothing = false;
    // Throws from the load after this many loads; -1 = never.
    int ThrowAfter = -1;
    // Claims this many bytes more than it wrote.
    DWORD OverReport = 0;
    std::atomic<int> Loads{0};

private:
    double phase_ = 0.0;
};

// Counts the buffers pushed to it; `Each` runs for every one on the servicing thread.
class TCountingSink : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;

    void BufferReady(PWaveHdr lpWaveHdr) override;

    std::atomic<int> Buffers{0};
    std::atomic<long long> Bytes{0};
    std::atomic<DWORD> LastThread{0};
    std::function<void(PWaveHdr)> Each;
};

// Dispatches the calling thread's messages until `done` or `timeoutMs` has passed.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
