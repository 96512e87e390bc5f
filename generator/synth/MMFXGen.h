// TMMGenerator: the tone generator of the stream chain. Without an Input it produces a periodic
// test signal (or noise) by stepping through a one-cycle wave table; with an Input it modulates
// the signal coming through it with that tone:
//
// - moAM multiplies the input by the tone; DryAmplitude keeps a share of the unmodulated input,
//   and the sum saturates.
// - moFM replaces the input by the tone whose phase step the input scales by
//   (1 + input / 32768), so the frequency runs between 0 and twice Frequency.
// - moPM replaces the input by the tone read at a position the input shifts: full scale moves
//   the read position by half a table length (±180°), the phase itself steps evenly.
//
// FM and PM work per sample frame: the mean of the frame's input samples steers the tone, and
// every channel that Channel selects receives the same generated sample, so left and right carry
// one tone; 8-bit input is centred and scaled to the 16-bit range first. Channels that Channel
// does not select pass through AM, FM and PM unchanged; when generating they hold silence.
//
// Threads: properties are set on the main thread; BufferLoad and BufferReady run on the thread
// that services the output device and read each property once per buffer.
#pragma once

#include "generator/stream/MMDSPObj.h"
#include "generator/stream/MMErrors.h"
#include "generator/synth/WaveTable.h"

#include <atomic>

enum TMMModulation { moAM, moFM, moPM };

// 0 … 16384; 16384 is unity gain.
using TMMVolumeRange = int32_t;

class EMMGeneratorError : public EMMError {
public:
    using EMMError::EMMError;
};

class TMMGenerator : public TMMDSPComponent {
public:
    static const TMMVolumeRange kMaxVolume = 16384;
    static const int kMinSampleRate = 8000;
    static const int kMaxSampleRate = 88200;
    static constexpr double kMinFrequency = 0.01;
    static constexpr double kMaxFrequency = 100000.0;

    explicit TMMGenerator(TComponent* owner = nullptr);

    bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void SetEnabled(bool value);
    int SampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    // Clamped to 8000 … 88200.
    void SetSampleRate(int value);
    TMMBits BitLength() const { return bitLength_.load(std::memory_order_relaxed); }
    void SetBitLength(TMMBits value);
    TMMChannel Channel() const { return channel_.load(std::memory_order_relaxed); }
    void SetChannel(TMMChannel value);
    TMMMode Mode() const { return mode_.load(std::memory_order_relaxed); }
    // mMono and mStereo only; other values are ignored.
    void SetMode(TMMMode value);
    TMMWaveForm WaveForm() const { return waveForm_.load(std::memory_order_relaxed); }
    void SetWaveForm(TMMWaveForm value);
    TMMModulation Modulation() const { return modulation_.load(std::memory_order_relaxed); }
    void SetModulation(TMMModulation value);
    double Frequency() const { return frequency_.load(std::memory_order_relaxed); }
    // Clamped to 0.01 … 100000 Hz.
    void SetFrequency(double value);
    TMMVolumeRange Amplitude() const { return amplitude_.load(std::memory_order_relaxed); }
    void SetAmplitude(TMMVolumeRange value);
    TMMVolumeRange DryAmplitude() const { return dryAmplitude_.load(std::memory_order_relaxed); }
    void SetDryAmplitude(TMMVolumeRange value);

    // True while open, with a table that matches WaveForm and BitLength.
    bool TableBuilt() const { return tableBuilt_; }

    // Adopts a valid format's rate, bits and channels; throws EMMGeneratorError
    // "Invalid WaveFormat" (and changes nothing) for one that is not mono or stereo PCM.
    void SetWaveFormat(const WAVEFORMATEX* format) override;
    void Open() override;
    void Close() override;
    // Restarts the waveform at table index 0.
    void Start() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(PWaveHdr lpWaveHdr) override;

private:
    void RebuildFormat();
    void RebuildTable();
    void Render(PWaveHdr header, DWORD bytes, bool generating);
    void FillSilence(PWaveHdr header);

    // Main thread only.
    bool tableBuilt_ = false;
    TNoiseSource noise_;

    // Written on the main thread, read once per buffer by the servicing thread.
    std::atomic<bool> enabled_{true};
    std::atomic<TMMBits> bitLength_{b8Bit};
    std::atomic<TMMChannel> channel_{chBoth};
    std::atomic<TMMMode> mode_{mMono};
    std::atomic<int> sampleRate_{11025};
    std::atomic<TMMWaveForm> waveForm_{wfSine};
    std::atomic<TMMModulation> modulation_{moAM};
    std::atomic<double> frequency_{1000.0};
    std::atomic<TMMVolumeRange> amplitude_{kMaxVolume};
    std::atomic<TMMVolumeRange> dryAmplitude_{0};

    TMMWaveTable table_;
    // Reset by Start on the main thread before the device queues its first buffer (the
    // device's thread hand-over orders the two), then stepped only by the servicing thread.
    TMMOscillator oscillator_;
};
