// In the Windows build that ships: RealFFT for n = 16384, and the detector's cost for one
// 8192-byte buffer of 16-bit stereo at FFTLength 16384, the main window's setting, as a share
// of the time that buffer takes to play.
#include "bench/fft/Timing.h"

#include <windows.h>

#include "generator/analysis/MMPeak.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

double RealFFTMicroseconds() {
    const int kExponent = 14;
    std::vector<float> input(1 << kExponent), work(input.size());
    for (size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<float>(std::sin(0.1 * static_cast<double>(i)));
    }
    TFFTPlan* plan = CreateFFTPlan(kExponent);
    const double copyUs = MicrosecondsPerCall(100, [&] { work = input; });
    const double withCopyUs = MicrosecondsPerCall(100, [&] {
        work = input;
        RealFFT(plan, work.data());
    });
    FreeFFTPlan(plan);
    return withCopyUs - copyUs;
}

} // namespace

int main() {
    std::printf("realfft_time_win32: %.2f us\n", RealFFTMicroseconds());

    const uint32_t kBytes = 8192;
    WAVEFORMATEX format{};
    BuildPCMFormat(format, 16, 2, 44100);

    std::vector<uint8_t> block(BufferRecordBytes(kBytes));
    auto* record = reinterpret_cast<TMMBufferRecord*>(block.data());
    InitBufferRecord(record, kBytes);
    auto* samples = reinterpret_cast<int16_t*>(record->Header.lpData);
    for (uint32_t i = 0; i < kBytes / 4; ++i) {
        const auto v =
            static_cast<int16_t>(16384 * std::sin(2 * 3.14159265358979 * 1000 * i / 44100));
        samples[2 * i] = v;
        samples[2 * i + 1] = v;
    }
    record->Header.dwBytesRecorded = kBytes;

    TMMPeakDetect detector;
    detector.SetWaveFormat(&format);
    detector.SetFFTLength(16384);
    detector.Open();
    detector.Start();

    const double bestUs = MicrosecondsPerCall(100, [&] { detector.BufferReady(&record->Header); });
    const double playUs = 1e6 * kBytes / format.nAvgBytesPerSec;
    std::printf("peak_buffer_time: %.1f us\n", bestUs);
    std::printf("peak_buffer_play_time: %.2f ms\n", playUs / 1000);
    std::printf("peak_buffer_cost: %.3f %% of play time\n", 100 * bestUs / playUs);
    return 0;
}
