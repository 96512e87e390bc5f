#include "tests/devices/VirtualWaveIn.h"

#include <chrono>
#include <cstdio>
#include <cstring>

TVirtualWaveIn& TVirtualWaveIn::Instance() {
    static TVirtualWaveIn driver;
    return driver;
}

const TWaveInDriver& TVirtualWaveIn::Table() {
    static const TWaveInDriver table{GetNumDevs,    GetDevCaps,      GetErrorText, Open,  Close,
                                     PrepareHeader, UnprepareHeader, AddBuffer,    Start, Stop,
                                     ResetDevice,   GetPosition,     GetID};
    return table;
}

void TVirtualWaveIn::Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    numDevs = 2;
    formats = 0xFFFFF;
    sendOpenNotification = true;
    sendCloseNotification = true;
    positionInBytesOnly = false;
    msPerBuffer = 2;
    script_.Clear();
}

void TVirtualWaveIn::Fail(TWaveInCall call, MMRESULT code, int successes) {
    script_.Fail(call, code, successes);
}

int TVirtualWaveIn::Calls(TWaveInCall call) const {
    return script_.Calls(call);
}

bool TVirtualWaveIn::IsOpen() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return open_;
}

bool TVirtualWaveIn::IsStarted() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return started_;
}

int TVirtualWaveIn::Queued() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(queue_.size());
}

int TVirtualWaveIn::Prepared() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(prepared_.size());
}

DWORD TVirtualWaveIn::LastOpenFlags() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return openFlags_;
}

uint64_t TVirtualWaveIn::BytesRecorded() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return recorded_;
}

MMRESULT TVirtualWaveIn::Enter(TWaveInCall call) {
    return script_.Enter(call);
}

bool TVirtualWaveIn::ValidHandle(HWAVEIN handle) const {
    return open_ && handle == handle_;
}

// --- notifications ---------------------------------------------------------------------------

void TVirtualWaveIn::Push(UINT message, WAVEHDR* header) {
    pending_.push_back(Notify{message, header});
    ++pushedCount_;
    wake_.notify_all();
}

void TVirtualWaveIn::ReturnHead() {
    WAVEHDR* header = queue_.front();
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~DWORD{WHDR_INQUEUE}) | WHDR_DONE;
    Push(WIM_DATA, header);
}

void TVirtualWaveIn::FillQueued(uint64_t bytes) {
    while (bytes > 0 && !queue_.empty()) {
        WAVEHDR* header = queue_.front();
        const DWORD room = header->dwBufferLength - header->dwBytesRecorded;
        const DWORD now = static_cast<DWORD>(std::min<uint64_t>(room, bytes));
        auto* data = reinterpret_cast<uint8_t*>(header->lpData) + header->dwBytesRecorded;
        for (DWORD i = 0; i < now; ++i) {
            data[i] = PatternByte(recorded_ + i);
        }
        recorded_ += now;
        header->dwBytesRecorded += now;
        bytes -= now;
        if (header->dwBytesRecorded == header->dwBufferLength) {
            ReturnHead();
        }
    }
}

// The caller's notifications reach the device before the call returns, unless the caller is
// the driver thread itself (a call from inside a callback), which delivers them afterwards.
void TVirtualWaveIn::WaitDelivered(std::unique_lock<std::mutex>& lock) {
    if (GetCurrentThreadId() == threadId_) {
        return;
    }
    const uint64_t target = pushedCount_;
    delivered_.wait(lock, [&] { return deliveredCount_ >= target || !thread_.joinable(); });
}

void TVirtualWaveIn::Deliver(const Notify& notify) {
    const auto parameter = reinterpret_cast<DWORD_PTR>(notify.header);
    if ((openFlags_ & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION) {
        reinterpret_cast<LPDRVCALLBACK>(callback_)(reinterpret_cast<HDRVR>(handle_), notify.message,
                                                   instance_, parameter, 0);
    } else if ((openFlags_ & CALLBACK_TYPEMASK) == CALLBACK_WINDOW) {
        PostMessageA(reinterpret_cast<HWND>(callback_), notify.message,
                     reinterpret_cast<WPARAM>(handle_), static_cast<LPARAM>(parameter));
    }
}

void TVirtualWaveIn::Run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    auto next = Clock::now();
    for (;;) {
        if (!pending_.empty()) {
            const Notify notify = pending_.front();
            pending_.pop_front();
            lock.unlock();
            Deliver(notify);
            lock.lock();
            ++deliveredCount_;
            delivered_.notify_all();
            continue;
        }
        if (quit_) {
            return;
        }
        const bool recording = started_ && msPerBuffer > 0 && !queue_.empty();
        if (!recording) {
            wake_.wait(lock);
            next = Clock::now() + std::chrono::milliseconds(msPerBuffer);
            continue;
        }
        if (Clock::now() >= next) {
            WAVEHDR* head = queue_.front();
            FillQueued(head->dwBufferLength - head->dwBytesRecorded);
            next += std::chrono::milliseconds(msPerBuffer);
            continue;
        }
        wake_.wait_until(lock, next);
    }
}

void TVirtualWaveIn::Record(DWORD bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
        return;
    }
    FillQueued(bytes);
    WaitDelivered(lock);
}

// --- the driver functions --------------------------------------------------------------------

UINT WINAPI TVirtualWaveIn::GetNumDevs() {
    TVirtualWaveIn& self = Instance();
    self.Enter(wiGetNumDevs);
    return static_cast<UINT>(self.numDevs);
}

MMRESULT WINAPI TVirtualWaveIn::GetDevCaps(UINT_PTR id, LPWAVEINCAPSA caps, UINT size) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiGetDevCaps)) {
        return failure;
    }
    const int device = static_cast<int>(id);
    if (device < -1 || device >= self.numDevs || !caps || size < sizeof(WAVEINCAPSA)) {
        return MMSYSERR_BADDEVICEID;
    }
    std::memset(caps, 0, sizeof(WAVEINCAPSA));
    std::snprintf(caps->szPname, sizeof(caps->szPname), "Virtual Input %d", device);
    caps->dwFormats = self.formats;
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::GetErrorText(MMRESULT error, LPSTR text, UINT size) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiGetErrorText)) {
        return failure;
    }
    if (error == kTextlessError) {
        return MMSYSERR_BADERRNUM;
    }
    std::snprintf(text, size, "Virtual wave-in error %u", static_cast<unsigned>(error));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::Open(LPHWAVEIN handle, UINT id, LPCWAVEFORMATEX format,
                                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    TVirtualWaveIn& self = Instance();
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    if (const MMRESULT failure = self.Enter(query ? wiQuery : wiOpen)) {
        return failure;
    }
    const int device = static_cast<int>(id);
    if (device < -1 || device >= self.numDevs) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM || format->nBlockAlign == 0) {
        return WAVERR_BADFORMAT;
    }
    if (query) {
        return MMSYSERR_NOERROR;
    }
    std::unique_lock<std::mutex> lock(self.mutex_);
    if (self.open_) {
        return MMSYSERR_ALLOCATED;
    }
    self.open_ = true;
    self.started_ = false;
    self.quit_ = false;
    self.openFlags_ = flags;
    self.callback_ = callback;
    self.instance_ = instance;
    self.handle_ = reinterpret_cast<HWAVEIN>(0x10000 + ++self.generation_);
    self.format_ = *format;
    self.recorded_ = 0;
    self.pending_.clear();
    *handle = self.handle_;
    self.thread_ = std::thread([&self] {
        {
            std::lock_guard<std::mutex> guard(self.mutex_);
            self.threadId_ = GetCurrentThreadId();
        }
        self.Run();
    });
    if (self.sendOpenNotification) {
        self.Push(WIM_OPEN, nullptr);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::Close(HWAVEIN handle) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiClose)) {
        return failure;
    }
    std::unique_lock<std::mutex> lock(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!self.queue_.empty()) {
        return WAVERR_STILLPLAYING;
    }
    if (self.sendCloseNotification) {
        self.Push(WIM_CLOSE, nullptr);
    }
    self.quit_ = true;
    self.open_ = false;
    self.wake_.notify_all();
    std::thread thread = std::move(self.thread_);
    lock.unlock();
    thread.join();
    lock.lock();
    self.threadId_ = 0;
    self.delivered_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::PrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiPrepareHeader)) {
        return failure;
    }
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    self.prepared_.insert(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::UnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiUnprepareHeader)) {
        return failure;
    }
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~DWORD{WHDR_PREPARED};
    self.prepared_.erase(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::AddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiAddBuffer)) {
        return failure;
    }
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!self.prepared_.count(header)) {
        return WAVERR_UNPREPARED;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags = (header->dwFlags | WHDR_INQUEUE) & ~DWORD{WHDR_DONE};
    header->dwBytesRecorded = 0;
    self.queue_.push_back(header);
    self.wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::Start(HWAVEIN handle) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiStart)) {
        return failure;
    }
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    self.started_ = true;
    self.wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::Stop(HWAVEIN handle) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiStop)) {
        return failure;
    }
    std::unique_lock<std::mutex> lock(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    self.started_ = false;
    if (!self.queue_.empty() && self.queue_.front()->dwBytesRecorded > 0) {
        self.ReturnHead();
    }
    self.WaitDelivered(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::ResetDevice(HWAVEIN handle) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiReset)) {
        return failure;
    }
    std::unique_lock<std::mutex> lock(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    self.started_ = false;
    while (!self.queue_.empty()) {
        self.ReturnHead();
    }
    self.WaitDelivered(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::GetPosition(HWAVEIN handle, LPMMTIME time, UINT) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiGetPosition)) {
        return failure;
    }
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (time->wType == TIME_SAMPLES && !self.positionInBytesOnly) {
        time->u.sample = static_cast<DWORD>(self.recorded_ / self.format_.nBlockAlign);
    } else {
        time->wType = TIME_BYTES;
        time->u.cb = static_cast<DWORD>(self.recorded_);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveIn::GetID(HWAVEIN handle, LPUINT id) {
    TVirtualWaveIn& self = Instance();
    if (const MMRESULT failure = self.Enter(wiGetID)) {
        return failure;
    }
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.ValidHandle(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    *id = 0;
    return MMSYSERR_NOERROR;
}
