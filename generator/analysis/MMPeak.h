// The peak-frequency detector: a stream component that leaves the audio untouched, takes the
// windowed magnitude spectrum of every buffer that passes it and keeps, per frequency bin, the
// largest magnitude of the latest buffer for the main window's readout.
//
// Threads: properties are set on the main thread while the chain is stopped. Buffers are
// analysed on whichever thread services the device (BufferReady/BufferLoad). The main thread
// reads BinCount, BinMaximum and BinWidth at any time; see the fields for how that is safe.
#pragma once

#include "generator/analysis/MMFFT.h"
#include "generator/stream/MMDSPObj.h"
#include "generator/stream/MMErrors.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class EMMPeakError : public EMMError {
public:
    using EMMError::EMMError;
};

using TMMPeakEvent = std::function<void(TComponent* Sender, int32_t index, int32_t Value)>;

class TMMPeakDetect : public TMMDSPComponent {
public:
    static const int32_t kMinFFTLength = 8;
    static const int32_t kMaxFFTLength = 32768;
    static const int32_t kDefaultFFTLength = 128;

    // Allocates every table for the largest length; throws std::bad_alloc when that fails.
    explicit TMMPeakDetect(TComponent* owner = nullptr);
    ~TMMPeakDetect() override;

    bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void SetEnabled(bool value);
    int32_t FFTLength() const { return fftLength_; }
    // Clamps to 8..32768 and rounds down to a power of two.
    void SetFFTLength(int32_t value);
    TMMFFTWindow Window() const { return window_; }
    void SetWindow(TMMFFTWindow value);
    TMMChannel Channel() const { return channel_; }
    void SetChannel(TMMChannel value);

    int32_t BinCount() const { return fftLength_ / 2; }
    // The largest magnitude of bin `index` in the latest analysed buffer; 0 out of range.
    int32_t BinMaximum(int32_t index) const;
    // Hz per bin; 0 without a format.
    float BinWidth() const;

    // Fired on the analysing thread for every bin of every analysed frame, lowest bin first.
    TMMPeakEvent OnPeakReady;

    // Throws EMMPeakError "Invalid WaveFormat" for a given format that is not valid PCM.
    void SetWaveFormat(const WAVEFORMATEX* format) override;
    void Open() override;
    void Close() override;
    void Start() override;
    void Stop() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    struct PlanDeleter {
        void operator()(TFFTPlan* plan) const { FreeFFTPlan(plan); }
    };

    bool Analysing() const;
    void ResetMaxima();
    void RebuildWindowTable();
    void Analyse(const uint8_t* data, uint32_t bytes);
    void AnalyseFrame();
    void LoadWindowedSamples();
    void CollectMagnitudes();

    // Set on the main thread while the chain is stopped; the device's thread start and stop
    // order these writes before and after its reads during analysis.
    int32_t fftLength_ = kDefaultFFTLength;
    TMMFFTWindow window_ = fwHamming;
    TMMChannel channel_ = chBoth;
    std::unique_ptr<TFFTPlan, PlanDeleter> plan_;
    uint8_t silenceByte_ = 0;
    // Bytes per block of the current format, from its channels and sample width.
    uint32_t blockBytes_ = 0;
    int channels_ = 0;
    int bitsPerSample_ = 0;
    bool startedOnce_ = false;

    // Written on the main thread, read by the analysing thread; a stale value only delays the
    // switch by one buffer.
    std::atomic<bool> enabled_{true};
    // Written on the main thread by Open and Close, read by the analysing thread.
    std::atomic<bool> active_{false};

    // Owned by the analysing thread while the chain runs (main thread otherwise).
    std::vector<uint8_t> frame_;
    std::vector<int32_t> windowTable_;
    std::vector<float> work_;
    std::vector<int32_t> bufferMaxima_;

    // Written whole by the analysing thread at the end of each buffer (and zeroed by the main
    // thread on reset); read by the main thread's readout. Each entry is its own atomic, so a
    // reader sees per bin either the previous buffer's maximum or the new one.
    std::unique_ptr<std::atomic<int32_t>[]> binMaxima_;
};
