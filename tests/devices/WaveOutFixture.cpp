#include "tests/devices/WaveOutFixture.h"

#include <algorithm>

void TEventLog::Add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
}

std::vector<std::string> TEventLog::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

int TEventLog::Count(const std::string& entry) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(entries_.begin(), entries_.end(), entry));
}

void WaveOutFixture::SetUp() {
    driver_.Reset();
    binding_ = std::make_unique<TScopedDriver<TWaveOutDriver>>(TVirtualWaveOut::Table());
    SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
        boxes_.Add(caption + ": " + text);
    });
    SetExceptionHook([this](std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            shown_.Add(e.what());
        }
    });
}

void WaveOutFixture::TearDown() {
    sink_.reset();
    device_.reset();
    source_.reset();
    driver_.Reset();
    binding_.reset();
    SetMessageBoxHook(nullptr);
    SetExceptionHook(nullptr);
    SetOSVersionQuery(nullptr);
}

void WaveOutFixture::Build(const TOSVersion& system, TMMCBMode mode) {
    SetOSVersionQuery([system] { return system; });
    source_ = std::make_unique<TSineSource>();
    device_ = std::make_unique<TMMWaveOut>();
    sink_ = std::make_unique<TCountingSink>();
    device_->SetInput(source_.get());
    sink_->SetInput(device_.get());
    device_->SetCallBackMode(mode);
    Record(*device_);
}

void WaveOutFixture::Record(TMMWaveOut& device) {
    device.OnError = [this](TComponent*) { events_.Add("Error"); };
    device.OnOpen = [this](TComponent*) { events_.Add("Open"); };
    device.OnStart = [this](TComponent*) { events_.Add("Start"); };
    device.OnPause = [this](TComponent*) { events_.Add("Pause"); };
    device.OnRestart = [this](TComponent*) { events_.Add("Restart"); };
    device.OnStop = [this](TComponent*) { events_.Add("Stop"); };
    device.OnClose = [this](TComponent*) { events_.Add("Close"); };
    device.OnLooping = [this](TComponent*) { events_.Add("Looping"); };
}

bool WaveOutFixture::PumpUntilEvent(const std::string& entry, int count, DWORD timeoutMs) {
    return PumpUntil([&] { return events_.Count(entry) >= count; }, timeoutMs);
}

std::string WaveOutFixture::MessageOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const EMMWaveOutError& e) {
        return e.what();
    }
    return "";
}
