// Time the output device's done handler takes per buffer on the real driver: from the moment
// a played buffer is pushed downstream (a 16384-point peak detector analyses it) until the
// refilled buffer (generated upstream) is handed back to the driver. Also counts the heap
// allocations made inside that span, and the measured period between returned buffers, the
// budget the handler has to fit into.
#include "generator/analysis/MMPeak.h"
#include "generator/devices/MMWavOut.h"
#include "generator/synth/MMFXGen.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// Set on the servicing thread while it is inside the measured span.
thread_local bool tInHandler = false;
std::atomic<long> gHandlerAllocations{0};

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency;
}

// Sits right behind the device and marks when the done handler pushes a buffer downstream.
class TStamp : public TMMDSPComponent {
public:
    void BufferReady(PWaveHdr lpWaveHdr) override {
        const double now = Now();
        if (last_ > 0.0) {
            periods_ += now - last_;
            ++periodCount_;
        }
        last_ = now;
        start_ = now;
        tInHandler = true;
        TMMDSPComponent::BufferReady(lpWaveHdr);
    }
    // Called from OnBufferFilled: the refilled buffer is about to go back to the driver.
    void Refilled() {
        if (!tInHandler) {
            return; // the initial fill, not a done handler
        }
        tInHandler = false;
        const double spent = Now() - start_;
        total_ += spent;
        worst_ = std::max(worst_, spent);
        ++count_;
    }

    double start_ = 0.0;
    double last_ = 0.0;
    double total_ = 0.0;
    double worst_ = 0.0;
    long count_ = 0;
    double periods_ = 0.0;
    long periodCount_ = 0;
};

void Run(TMMCBMode mode, const char* name, double seconds) {
    TMMGenerator generator;
    generator.SetSampleRate(44100);
    generator.SetBitLength(b16Bit);
    generator.SetMode(mStereo);
    generator.SetFrequency(1000.0);
    generator.SetAmplitude(TMMGenerator::kMaxVolume / 4);
    TMMWaveOut device;
    device.SetDeviceID(TMMWaveOut::MapperId);
    device.SetBufferSize(8192);
    device.SetCallBackMode(mode);
    TStamp stamp;
    TMMPeakDetect peak;
    peak.SetFFTLength(16384);
    device.SetInput(&generator);
    stamp.SetInput(&device);
    peak.SetInput(&stamp);
    device.OnBufferFilled = [&stamp](TComponent*, PWaveHdr) { stamp.Refilled(); };

    gHandlerAllocations = 0;
    device.StartDevice();
    const double end = Now() + seconds;
    while (Now() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    device.CloseDevice();

    const double mean = stamp.count_ ? stamp.total_ / stamp.count_ : 0.0;
    const double period = stamp.periodCount_ ? stamp.periods_ / stamp.periodCount_ : 0.0;
    std::printf("waveout_%s_buffers: %ld buffers\n", name, stamp.count_);
    std::printf("waveout_%s_handler_mean: %.1f us\n", name, mean * 1e6);
    std::printf("waveout_%s_handler_worst: %.1f us\n", name, stamp.worst_ * 1e6);
    std::printf("waveout_%s_buffer_period: %.2f ms\n", name, period * 1e3);
    std::printf("waveout_%s_handler_allocations: %ld allocations\n", name,
                gHandlerAllocations.load());
}

} // namespace

void* operator new(size_t size) {
    if (tInHandler) {
        ++gHandlerAllocations;
    }
    if (void* block = std::malloc(size ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, size_t) noexcept {
    std::free(block);
}

int main() {
    if (waveOutGetNumDevs() == 0) {
        std::printf("no wave-out device\n");
        return 1;
    }
    Run(cmThread, "thread", 5.0);
    Run(cmWindow, "window", 5.0);
    return 0;
}
