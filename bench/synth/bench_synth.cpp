// Pulls 60 s of 44100 Hz 16-bit stereo through the main window's generator chain (carrier,
// AM modulator, FM modulator) in 8192-byte buffers, the way the output device pulls, and
// prints how many times faster than real time that runs. Best of three runs.
#include "generator/synth/MMFXGen.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kSeconds = 60;
const DWORD kBufferBytes = 8192;
const int kRuns = 3;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Returns the wall time of one 60 s pull.
double PullOnce(TMMGenerator& last, TMMBufferRecord* record, uint64_t totalBytes) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    for (uint64_t done = 0; done < totalBytes;) {
        InitBufferRecord(record, kBufferBytes);
        bool more = false;
        last.BufferLoad(&record->Header, more);
        done += record->Header.dwBytesRecorded;
    }
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

} // namespace

int main() {
    TMMGenerator carrier;
    TMMGenerator am;
    TMMGenerator fm;
    am.SetInput(&carrier);
    fm.SetInput(&am);
    carrier.SetBitLength(b16Bit);
    carrier.SetMode(mStereo);
    carrier.SetSampleRate(44100);
    carrier.SetFrequency(1000);
    am.SetFrequency(3);
    am.SetDryAmplitude(8192);
    fm.SetModulation(moFM);
    fm.SetWaveForm(wfTriangle);
    fm.SetFrequency(440);
    std::vector<unsigned char> storage(BufferRecordBytes(kBufferBytes));
    auto* record = reinterpret_cast<TMMBufferRecord*>(storage.data());
    const uint64_t totalBytes = uint64_t{kSeconds} * carrier.WaveFormat()->nAvgBytesPerSec;

    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        for (TMMGenerator* g : {&carrier, &am, &fm}) {
            g->Open();
            g->Start();
        }
        best = std::min(best, PullOnce(fm, record, totalBytes));
        for (TMMGenerator* g : {&carrier, &am, &fm}) {
            g->Stop();
            g->Close();
        }
    }
    std::printf("synth_chain_time: %.4f s\n", best);
    std::printf("synth_chain_speed: %.1f x realtime\n", kSeconds / best);
    return 0;
}
