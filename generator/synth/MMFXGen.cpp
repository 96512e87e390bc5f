#include "generator/synth/MMFXGen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

static_assert(std::atomic<double>::is_always_lock_free &&
                  std::atomic<TMMVolumeRange>::is_always_lock_free,
              "the servicing thread must never wait for a property");

namespace {

template <class T> T Clamp(T value, T low, T high) {
    return std::min(std::max(value, low), high);
}

// Sample encodings. Working values are signed; Wide puts them on the 16-bit scale.
struct TPcm16 {
    using Sample = int16_t;
    static const int32_t kFullScale = 32767;
    static const int32_t kProductScale = 32768;
    static const Sample kSilence = 0;
    static int32_t Read(Sample s) { return s; }
    static Sample Store(int32_t v) { return static_cast<Sample>(v); }
    static int32_t Clip(int32_t v) { return ClipSample16(v); }
    static int32_t Wide(int32_t v) { return v; }
};

struct TPcm8 {
    using Sample = uint8_t;
    static const int32_t kFullScale = 127;
    static const int32_t kProductScale = 128;
    static const Sample kSilence = 0x80;
    static int32_t Read(Sample s) { return s - 128; }
    static Sample Store(int32_t v) { return static_cast<Sample>(v + 128); }
    // The 8-bit sum is formed in 16-bit arithmetic; ClipSample8 reads it as such.
    static int32_t Clip(int32_t v) { return ClipSample8(v); }
    static int32_t Wide(int32_t v) { return v * 256; }
};

// Which samples of a frame the Channel setting selects: [first, last).
struct TFrameShape {
    int channels;
    int first;
    int last;
};

TFrameShape ShapeOf(int channels, TMMChannel channel) {
    if (channels == 1 || channel == chBoth) {
        return {channels, 0, channels};
    }
    const int index = static_cast<int>(channel) - 1;
    return {channels, index, index + 1};
}

// One buffer's work, with every setting read once before the loop.
template <class Pcm> class TRenderer {
public:
    using Sample = typename Pcm::Sample;

    TRenderer(const TMMWaveTable& table, TMMOscillator& oscillator, TFrameShape shape,
              int32_t amplitude, double step)
        : table_(table), oscillator_(oscillator), shape_(shape), amplitude_(amplitude),
          step_(step) {}

    void Generate(Sample* frame, DWORD frames) {
        for (DWORD f = 0; f < frames; ++f, frame += shape_.channels) {
            const Sample value = Pcm::Store(oscillator_.Next(table_, amplitude_, step_));
            for (int c = 0; c < shape_.channels; ++c) {
                frame[c] = c >= shape_.first && c < shape_.last ? value : Pcm::kSilence;
            }
        }
    }

    void AmplitudeModulate(Sample* frame, DWORD frames, int32_t dry) {
        for (DWORD f = 0; f < frames; ++f, frame += shape_.channels) {
            const int32_t g = oscillator_.Next(table_, amplitude_, step_);
            for (int c = shape_.first; c < shape_.last; ++c) {
                const int32_t x = Pcm::Read(frame[c]);
                const int32_t sum = x * dry / TMMOscillator::kUnity + g * x / Pcm::kProductScale;
                frame[c] = Pcm::Store(Pcm::Clip(sum));
            }
        }
    }

    void FrequencyModulate(Sample* frame, DWORD frames) {
        for (DWORD f = 0; f < frames; ++f, frame += shape_.channels) {
            const double input = MeanInput(frame);
            const Sample value = Pcm::Store(oscillator_.Value(table_, amplitude_));
            oscillator_.Advance(step_ * (1.0 + input / 32768.0));
            Write(frame, value);
        }
    }

    void PhaseModulate(Sample* frame, DWORD frames) {
        const double halfTable = TMMWaveTable::kLength / 2;
        for (DWORD f = 0; f < frames; ++f, frame += shape_.channels) {
            const double shift = MeanInput(frame) / 32768.0 * halfTable;
            const Sample value = Pcm::Store(oscillator_.ValueShifted(table_, amplitude_, shift));
            oscillator_.Advance(step_);
            Write(frame, value);
        }
    }

private:
    double MeanInput(const Sample* frame) const {
        int32_t sum = 0;
        for (int c = 0; c < shape_.channels; ++c) {
            sum += Pcm::Wide(Pcm::Read(frame[c]));
        }
        return shape_.channels == 1 ? sum : static_cast<double>(sum) / shape_.channels;
    }

    void Write(Sample* frame, Sample value) const {
        for (int c = shape_.first; c < shape_.last; ++c) {
            frame[c] = value;
        }
    }

    const TMMWaveTable& table_;
    TMMOscillator& oscillator_;
    TFrameShape shape_;
    int32_t amplitude_;
    double step_;
};

struct TBufferJob {
    bool generating;
    TMMModulation modulation;
    int32_t dryAmplitude;
};

template <class Pcm>
void RunJob(TRenderer<Pcm>& renderer, const TBufferJob& job, void* data, DWORD frames) {
    auto* samples = static_cast<typename Pcm::Sample*>(data);
    if (job.generating) {
        renderer.Generate(samples, frames);
        return;
    }
    switch (job.modulation) {
    case moAM:
        renderer.AmplitudeModulate(samples, frames, job.dryAmplitude);
        break;
    case moFM:
        renderer.FrequencyModulate(samples, frames);
        break;
    case moPM:
        renderer.PhaseModulate(samples, frames);
        break;
    }
}

// Never past the buffer, whatever a stage before us reports.
DWORD RecordedBytes(PWaveHdr header) {
    return std::min(header->dwBytesRecorded, header->dwBufferLength);
}

} // namespace

TMMGenerator::TMMGenerator(TComponent* owner) : TMMDSPComponent(owner) {
    RebuildFormat();
}

void TMMGenerator::SetEnabled(bool value) {
    enabled_.store(value, std::memory_order_relaxed);
}

void TMMGenerator::SetSampleRate(int value) {
    value = Clamp(value, kMinSampleRate, kMaxSampleRate);
    if (value != SampleRate()) {
        sampleRate_.store(value, std::memory_order_relaxed);
        RebuildFormat();
    }
}

void TMMGenerator::SetBitLength(TMMBits value) {
    if (value != BitLength()) {
        bitLength_.store(value, std::memory_order_relaxed);
        RebuildFormat();
    }
}

void TMMGenerator::SetChannel(TMMChannel value) {
    channel_.store(value, std::memory_order_relaxed);
}

void TMMGenerator::SetMode(TMMMode value) {
    if (value != Mode() && (value == mMono || value == mStereo)) {
        mode_.store(value, std::memory_order_relaxed);
        RebuildFormat();
    }
}

void TMMGenerator::SetWaveForm(TMMWaveForm value) {
    if (value != WaveForm()) {
        waveForm_.store(value, std::memory_order_relaxed);
        RebuildTable();
    }
}

void TMMGenerator::SetModulation(TMMModulation value) {
    modulation_.store(value, std::memory_order_relaxed);
}

void TMMGenerator::SetFrequency(double value) {
    // A NaN would survive the clamp and send the table index out of the table.
    if (value != Frequency() && !std::isnan(value)) {
        frequency_.store(Clamp(value, kMinFrequency, kMaxFrequency), std::memory_order_relaxed);
    }
}

void TMMGenerator::SetAmplitude(TMMVolumeRange value) {
    amplitude_.store(Clamp(value, 0, kMaxVolume), std::memory_order_relaxed);
}

void TMMGenerator::SetDryAmplitude(TMMVolumeRange value) {
    dryAmplitude_.store(Clamp(value, 0, kMaxVolume), std::memory_order_relaxed);
}

void TMMGenerator::RebuildFormat() {
    WAVEFORMATEX format{};
    BuildPCMFormat(format, BitsOf(BitLength()), ChannelsOf(Mode()),
                   static_cast<uint32_t>(SampleRate()));
    SetWaveFormat(&format);
}

void TMMGenerator::RebuildTable() {
    if (tableBuilt_) {
        table_.Fill(WaveForm(), BitLength() == b16Bit ? TPcm16::kFullScale : TPcm8::kFullScale,
                    noise_);
    }
}

void TMMGenerator::SetWaveFormat(const WAVEFORMATEX* format) {
    if (format) {
        // The sample loops know mono and stereo frames only.
        if (!IsValidPCMFormat(format) || format->nChannels > 2) {
            throw EMMGeneratorError("Invalid WaveFormat");
        }
        // Stored as they are, not through the clamping setters: the phase step must follow
        // the rate the data really has.
        sampleRate_.store(static_cast<int>(format->nSamplesPerSec), std::memory_order_relaxed);
        bitLength_.store(format->wBitsPerSample == 16 ? b16Bit : b8Bit, std::memory_order_relaxed);
        mode_.store(format->nChannels == 2 ? mStereo : mMono, std::memory_order_relaxed);
        RebuildTable();
    }
    TMMDSPComponent::SetWaveFormat(format);
}

void TMMGenerator::Open() {
    TMMDSPComponent::Open();
    if (!tableBuilt_) {
        tableBuilt_ = true;
        RebuildTable();
    }
}

void TMMGenerator::Close() {
    tableBuilt_ = false;
    TMMDSPComponent::Close();
}

void TMMGenerator::Start() {
    TMMDSPComponent::Start();
    oscillator_.Restart();
}

void TMMGenerator::FillSilence(PWaveHdr header) {
    std::memset(header->lpData, BitLength() == b16Bit ? 0 : 0x80, header->dwBufferLength);
}

void TMMGenerator::Render(PWaveHdr header, DWORD bytes, bool generating) {
    const bool sixteenBit = BitLength() == b16Bit;
    const TFrameShape shape = ShapeOf(ChannelsOf(Mode()), Channel());
    const DWORD frames = bytes / (shape.channels * (sixteenBit ? 2 : 1));
    const double step = Frequency() * 100000.0 / SampleRate();
    const TBufferJob job{generating, Modulation(), DryAmplitude()};
    if (sixteenBit) {
        TRenderer<TPcm16> renderer(table_, oscillator_, shape, Amplitude(), step);
        RunJob(renderer, job, header->lpData, frames);
    } else {
        TRenderer<TPcm8> renderer(table_, oscillator_, shape, Amplitude(), step);
        RunJob(renderer, job, header->lpData, frames);
    }
}

void TMMGenerator::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (Input()) {
        TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    }
    if (Input() && lpWaveHdr->dwBufferLength != 0) {
        if (Enabled()) {
            Render(lpWaveHdr, RecordedBytes(lpWaveHdr), false);
        }
    } else {
        if (Enabled()) {
            Render(lpWaveHdr, lpWaveHdr->dwBufferLength, true);
        } else {
            FillSilence(lpWaveHdr);
        }
        lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
    }
    MoreBuffers = true;
}

void TMMGenerator::BufferReady(PWaveHdr lpWaveHdr) {
    if (Enabled()) {
        Render(lpWaveHdr, RecordedBytes(lpWaveHdr), false);
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}
