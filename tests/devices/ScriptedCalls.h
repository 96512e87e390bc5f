// What the virtual drivers share: every driver entry counts itself, and a test can make any
// entry fail with a chosen result code after a number of successful calls.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <map>
#include <mutex>

template <class Call> class TScriptedCalls {
public:
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.clear();
        calls_.clear();
    }

    void Fail(Call call, MMRESULT code, int successes) {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_[call] = Failure{code, successes};
    }

    void Heal(Call call) {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.erase(call);
    }

    int Calls(Call call) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = calls_.find(call);
        return found == calls_.end() ? 0 : found->second;
    }

    // Counts the call and answers with its scripted result.
    MMRESULT Enter(Call call) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++calls_[call];
        const auto found = failures_.find(call);
        if (found == failures_.end()) {
            return MMSYSERR_NOERROR;
        }
        if (found->second.successesLeft > 0) {
            --found->second.successesLeft;
            return MMSYSERR_NOERROR;
        }
        return found->second.code;
    }

private:
    struct Failure {
        MMRESULT code;
        int successesLeft;
    };

    // Test thread, device threads and the driver thread all enter calls.
    mutable std::mutex mutex_;
    std::map<Call, Failure> failures_;
    std::map<Call, int> calls_;
};
