// Timing shared by the FFT and detector benchmarks.
#pragma once

#include <algorithm>
#include <chrono>

// Microseconds per call: the best average over several batches of `calls`, so that a busy
// moment of the machine does not count.
template <class Work> double MicrosecondsPerCall(int calls, Work work) {
    const int kBatches = 15;
    double best = 1e30;
    for (int batch = 0; batch < kBatches; ++batch) {
        const auto start = std::chrono::steady_clock::now();
        for (int call = 0; call < calls; ++call) {
            work();
        }
        const std::chrono::duration<double, std::micro> spent =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, spent.count() / calls);
    }
    return best;
}
