#include "generator/analysis/MMPeak.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const int32_t kMaxBins = TMMPeakDetect::kMaxFFTLength / 2;
// The widest block of a valid PCM format: four channels of 16 bits.
const uint32_t kMaxBlockBytes = 4 * 2;

int ExponentOf(int32_t length) {
    int exponent = 0;
    while (length > 1) {
        length /= 2;
        ++exponent;
    }
    return exponent;
}

inline int32_t Sample16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Raw sample values of one frame, already centred on 0: 8-bit samples lose their offset of
// 128 here and are scaled to the 16-bit range by the window division below.
struct Mono8 {
    const uint8_t* p;
    int32_t operator()(int32_t i) const { return p[i] - 128; }
};
struct Channel8 {
    const uint8_t* p;
    int stride;
    int channel;
    int32_t operator()(int32_t i) const { return p[i * stride + channel] - 128; }
};
struct Both8 {
    const uint8_t* p;
    int stride;
    int32_t operator()(int32_t i) const {
        const uint8_t* block = p + i * stride;
        return ((block[0] + block[1]) >> 1) - 128;
    }
};
struct Mono16 {
    const uint8_t* p;
    int32_t operator()(int32_t i) const { return Sample16(p + 2 * i); }
};
struct Channel16 {
    const uint8_t* p;
    int stride;
    int channel;
    int32_t operator()(int32_t i) const { return Sample16(p + 2 * (i * stride + channel)); }
};
struct Both16 {
    const uint8_t* p;
    int stride;
    int32_t operator()(int32_t i) const {
        const uint8_t* block = p + 2 * i * stride;
        return (Sample16(block) + Sample16(block + 2)) / 2;
    }
};

// work[i] = v(i) * w[i] / divisor, truncated toward zero like MulDivTrunc; |v * w| < 2^31.
template <class Read>
void ApplyWindow(Read read, const int32_t* window, int32_t divisor, float* work, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        work[i] = static_cast<float>(read(i) * window[i] / divisor);
    }
}

} // namespace

TMMPeakDetect::TMMPeakDetect(TComponent* owner)
    : TMMDSPComponent(owner), plan_(CreateFFTPlan(ExponentOf(kDefaultFFTLength))),
      frame_(kMaxBlockBytes * kMaxFFTLength), windowTable_(kMaxFFTLength), work_(kMaxFFTLength),
      bufferMaxima_(kMaxBins), binMaxima_(new std::atomic<int32_t>[kMaxBins]()) {
    RebuildWindowTable();
    ResetMaxima();
}

TMMPeakDetect::~TMMPeakDetect() {
    MarkDestroying();
    active_.store(false);
    Unlink();
}

void TMMPeakDetect::SetEnabled(bool value) {
    enabled_.store(value, std::memory_order_relaxed);
}

void TMMPeakDetect::SetFFTLength(int32_t value) {
    const int exponent = ExponentOf(std::clamp(value, kMinFFTLength, kMaxFFTLength));
    const int32_t length = int32_t{1} << exponent;
    if (length == fftLength_) {
        return;
    }
    plan_.reset(CreateFFTPlan(exponent));
    fftLength_ = length;
    RebuildWindowTable();
    ResetMaxima();
}

void TMMPeakDetect::SetWindow(TMMFFTWindow value) {
    if (value == window_) {
        return;
    }
    window_ = value;
    RebuildWindowTable();
    ResetMaxima();
}

void TMMPeakDetect::SetChannel(TMMChannel value) {
    if (value == channel_) {
        return;
    }
    channel_ = value;
    ResetMaxima();
}

int32_t TMMPeakDetect::BinMaximum(int32_t index) const {
    if (index < 0 || index >= BinCount()) {
        return 0;
    }
    return binMaxima_[index].load(std::memory_order_relaxed);
}

float TMMPeakDetect::BinWidth() const {
    const WAVEFORMATEX* format = WaveFormat();
    if (!format) {
        return 0.0f;
    }
    return static_cast<float>(format->nSamplesPerSec) / static_cast<float>(fftLength_);
}

void TMMPeakDetect::SetWaveFormat(const WAVEFORMATEX* format) {
    if (format) {
        if (!IsValidPCMFormat(format)) {
            throw EMMPeakError("Invalid WaveFormat");
        }
        silenceByte_ = SilenceByte(*format);
        channels_ = format->nChannels;
        bitsPerSample_ = format->wBitsPerSample;
        // Taken from the channels and the sample width, never from nBlockAlign, which the
        // PCM check does not verify: a wrong value there must not make the frame walk
        // overrun the frame buffer or stall on an empty frame.
        blockBytes_ = static_cast<uint32_t>(channels_ * bitsPerSample_ / 8);
        ResetMaxima();
    }
    TMMDSPComponent::SetWaveFormat(format);
}

void TMMPeakDetect::Open() {
    if (!active_.load() && IsValidPCMFormat(WaveFormat())) {
        active_.store(true);
    }
    TMMDSPComponent::Open();
}

void TMMPeakDetect::Close() {
    active_.store(false);
    TMMDSPComponent::Close();
}

void TMMPeakDetect::Start() {
    if (active_.load() && !startedOnce_) {
        ResetMaxima();
        startedOnce_ = true;
    }
    TMMDSPComponent::Start();
}

void TMMPeakDetect::Stop() {
    startedOnce_ = false;
    TMMDSPComponent::Stop();
}

void TMMPeakDetect::BufferReady(PWaveHdr lpWaveHdr) {
    if (Analysing()) {
        Analyse(reinterpret_cast<const uint8_t*>(lpWaveHdr->lpData), lpWaveHdr->dwBytesRecorded);
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMPeakDetect::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (Analysing()) {
        Analyse(reinterpret_cast<const uint8_t*>(lpWaveHdr->lpData), lpWaveHdr->dwBytesRecorded);
    }
}

bool TMMPeakDetect::Analysing() const {
    return enabled_.load(std::memory_order_relaxed) && active_.load(std::memory_order_relaxed);
}

void TMMPeakDetect::ResetMaxima() {
    for (int32_t k = 0; k < kMaxBins; ++k) {
        binMaxima_[k].store(0, std::memory_order_relaxed);
    }
}

void TMMPeakDetect::RebuildWindowTable() {
    FillWindowTable(windowTable_.data(), window_, ExponentOf(fftLength_));
}

// The buffer is cut into frames of FFTLength blocks; the last one is filled up with silence.
// Maxima are gathered privately and published once, so the readout never sees the cleared
// or half-gathered array of a buffer in progress.
void TMMPeakDetect::Analyse(const uint8_t* data, uint32_t bytes) {
    const int32_t bins = BinCount();
    std::fill(bufferMaxima_.begin(), bufferMaxima_.begin() + bins, 0);
    const uint32_t frameBytes = blockBytes_ * static_cast<uint32_t>(fftLength_);
    while (bytes > 0) {
        const uint32_t taken = std::min(bytes, frameBytes);
        std::memcpy(frame_.data(), data, taken);
        std::memset(frame_.data() + taken, silenceByte_, frameBytes - taken);
        data += taken;
        bytes -= taken;
        AnalyseFrame();
    }
    for (int32_t k = 0; k < bins; ++k) {
        binMaxima_[k].store(bufferMaxima_[k], std::memory_order_relaxed);
    }
}

void TMMPeakDetect::AnalyseFrame() {
    LoadWindowedSamples();
    RealFFT(plan_.get(), work_.data());
    CollectMagnitudes();
}

// Integer samples times the Q15 window; 8-bit samples are divided by 128 instead of 32768,
// which puts them on the same +-32767 scale as 16-bit ones.
void TMMPeakDetect::LoadWindowedSamples() {
    const uint8_t* p = frame_.data();
    const int32_t* w = windowTable_.data();
    float* out = work_.data();
    const int32_t n = fftLength_;
    // Only the first two channels of a wider block are ever analysed.
    const int stride = channels_;
    const int channel = channel_ == chRight ? 1 : 0;
    if (bitsPerSample_ == 8) {
        if (channels_ == 1) {
            ApplyWindow(Mono8{p}, w, 128, out, n);
        } else if (channel_ == chBoth) {
            ApplyWindow(Both8{p, stride}, w, 128, out, n);
        } else {
            ApplyWindow(Channel8{p, stride, channel}, w, 128, out, n);
        }
    } else if (channels_ == 1) {
        ApplyWindow(Mono16{p}, w, 32768, out, n);
    } else if (channel_ == chBoth) {
        ApplyWindow(Both16{p, stride}, w, 32768, out, n);
    } else {
        ApplyWindow(Channel16{p, stride, channel}, w, 32768, out, n);
    }
}

void TMMPeakDetect::CollectMagnitudes() {
    const int32_t bins = BinCount();
    const float half = static_cast<float>(fftLength_ / 2);
    const float* bin = work_.data();
    for (int32_t k = 0; k < bins; ++k, bin += 2) {
        const float re = bin[0] / half;
        const float im = bin[1] / half;
        float power =
            static_cast<float>(static_cast<double>(re) * re + static_cast<double>(im) * im);
        if (!(power >= 0.0f)) {
            power = 0.0f;
        }
        const int32_t magnitude = static_cast<int32_t>(std::sqrt(static_cast<double>(power)));
        if (OnPeakReady) {
            OnPeakReady(this, k, magnitude);
        }
        if (bufferMaxima_[k] < magnitude) {
            bufferMaxima_[k] = magnitude;
        }
    }
}
