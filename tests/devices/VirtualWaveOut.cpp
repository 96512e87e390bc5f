#include "tests/devices/VirtualWaveOut.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

TVirtualWaveOut& TVirtualWaveOut::Instance() {
    static TVirtualWaveOut driver;
    return driver;
}

const TWaveOutDriver& TVirtualWaveOut::Table() {
    static const TWaveOutDriver table{GetNumDevs, GetDevCaps,    GetErrorText,    Open,
                                      Close,      PrepareHeader, UnprepareHeader, Write,
                                      Pause,      Restart,       ResetDevice,     GetPosition};
    return table;
}

void TVirtualWaveOut::Reset() {
    StopPlayer();
    std::lock_guard<std::mutex> lock(mutex_);
    numDevs = 2;
    sendOpenNotification = true;
    sendCloseNotification = true;
    positionInBytesOnly = false;
    msPerBuffer = 2;
    script_.Clear();
    open_ = false;
    paused_ = false;
    completeRequests_ = 0;
    queue_.clear();
    playedBytes_ = 0;
}

void TVirtualWaveOut::Fail(TWaveOutCall call, MMRESULT code, int successes) {
    script_.Fail(call, code, successes);
}

void TVirtualWaveOut::Heal(TWaveOutCall call) {
    script_.Heal(call);
}

void TVirtualWaveOut::Complete(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    completeRequests_ += count;
    wake_.notify_all();
}

int TVirtualWaveOut::Calls(TWaveOutCall call) const {
    return script_.Calls(call);
}

bool TVirtualWaveOut::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool TVirtualWaveOut::IsPaused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
}

int TVirtualWaveOut::Queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(queue_.size());
}

DWORD TVirtualWaveOut::LastOpenFlags() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openFlags_;
}

MMRESULT TVirtualWaveOut::Enter(TWaveOutCall call) {
    return script_.Enter(call);
}

void TVirtualWaveOut::Deliver(const Notify& notify) {
    if ((openFlags_ & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION) {
        auto function = reinterpret_cast<LPDRVCALLBACK>(callback_);
        function(reinterpret_cast<HDRVR>(handle_), notify.message, instance_,
                 reinterpret_cast<DWORD_PTR>(notify.header), 0);
    } else if ((openFlags_ & CALLBACK_TYPEMASK) == CALLBACK_WINDOW) {
        const UINT message = notify.message == WOM_OPEN    ? MM_WOM_OPEN
                             : notify.message == WOM_CLOSE ? MM_WOM_CLOSE
                                                           : MM_WOM_DONE;
        PostMessageA(reinterpret_cast<HWND>(callback_), message, reinterpret_cast<WPARAM>(handle_),
                     reinterpret_cast<LPARAM>(notify.header));
    }
}

WAVEHDR* TVirtualWaveOut::TakeFront() {
    WAVEHDR* header = queue_.front();
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    playedBytes_ += header->dwBufferLength;
    return header;
}

void TVirtualWaveOut::PlayLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] {
            return playerStop_ ||
                   (!queue_.empty() && !paused_ && (msPerBuffer > 0 || completeRequests_ > 0));
        });
        if (playerStop_) {
            return;
        }
        if (msPerBuffer > 0) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(msPerBuffer));
            lock.lock();
            if (playerStop_ || queue_.empty() || paused_) {
                continue;
            }
        } else {
            --completeRequests_;
        }
        WAVEHDR* header = TakeFront();
        lock.unlock();
        Deliver(Notify{WOM_DONE, header});
        lock.lock();
    }
}

void TVirtualWaveOut::StopPlayer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        playerStop_ = true;
        wake_.notify_all();
    }
    if (player_.joinable()) {
        if (player_.get_id() == std::this_thread::get_id()) {
            player_.detach();
        } else {
            player_.join();
        }
    }
}

UINT WINAPI TVirtualWaveOut::GetNumDevs() {
    TVirtualWaveOut& self = Instance();
    self.Enter(woGetNumDevs);
    return static_cast<UINT>(self.numDevs);
}

MMRESULT WINAPI TVirtualWaveOut::GetDevCaps(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woGetDevCaps)) {
        return failure;
    }
    const int device = static_cast<int>(id);
    if (device < -1 || device >= self.numDevs || size < sizeof(WAVEOUTCAPSA)) {
        return MMSYSERR_BADDEVICEID;
    }
    std::memset(caps, 0, sizeof(*caps));
    if (device == -1) {
        std::snprintf(caps->szPname, sizeof(caps->szPname), "Virtual Mapper");
    } else {
        std::snprintf(caps->szPname, sizeof(caps->szPname), "Virtual Out %d", device);
    }
    caps->vDriverVersion = 0x0105;
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::GetErrorText(MMRESULT code, LPSTR text, UINT size) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woGetErrorText)) {
        return failure;
    }
    if (code == kTextlessError) {
        return MMSYSERR_BADERRNUM;
    }
    std::snprintf(text, size, "virtual error %u", code);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::Open(LPHWAVEOUT device, UINT, LPCWAVEFORMATEX format,
                                      DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    TVirtualWaveOut& self = Instance();
    if (flags & WAVE_FORMAT_QUERY) {
        return self.Enter(woQuery);
    }
    if (MMRESULT failure = self.Enter(woOpen)) {
        return failure;
    }
    bool notify;
    {
        std::lock_guard<std::mutex> lock(self.mutex_);
        if (self.open_) {
            return MMSYSERR_ALLOCATED;
        }
        self.open_ = true;
        self.paused_ = false;
        self.playerStop_ = false;
        self.completeRequests_ = 0;
        self.openFlags_ = flags;
        self.callback_ = callback;
        self.instance_ = instance;
        self.format_ = *format;
        self.playedBytes_ = 0;
        self.handle_ = reinterpret_cast<HWAVEOUT>(self.nextHandle_ += 0x10);
        *device = self.handle_;
        notify = self.sendOpenNotification;
    }
    if (self.player_.joinable()) {
        self.player_.join();
    }
    self.player_ = std::thread([&self] { self.PlayLoop(); });
    if (notify) {
        self.Deliver(Notify{WOM_OPEN, nullptr});
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::Close(HWAVEOUT device) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woClose)) {
        return failure;
    }
    bool notify;
    {
        std::lock_guard<std::mutex> lock(self.mutex_);
        if (!self.open_ || device != self.handle_) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!self.queue_.empty()) {
            return WAVERR_STILLPLAYING;
        }
        notify = self.sendCloseNotification;
    }
    self.StopPlayer();
    if (notify) {
        self.Deliver(Notify{WOM_CLOSE, nullptr});
    }
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.open_ = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::PrepareHeader(HWAVEOUT, LPWAVEHDR header, UINT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woPrepareHeader)) {
        return failure;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::UnprepareHeader(HWAVEOUT, LPWAVEHDR header, UINT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woUnprepareHeader)) {
        return failure;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::Write(HWAVEOUT, LPWAVEHDR header, UINT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woWrite)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(self.mutex_);
    if (!(header->dwFlags & WHDR_PREPARED)) {
        return WAVERR_UNPREPARED;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    self.queue_.push_back(header);
    self.wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::Pause(HWAVEOUT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woPause)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.paused_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::Restart(HWAVEOUT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woRestart)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.paused_ = false;
    self.wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::ResetDevice(HWAVEOUT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woReset)) {
        return failure;
    }
    std::vector<WAVEHDR*> returned;
    {
        std::lock_guard<std::mutex> lock(self.mutex_);
        while (!self.queue_.empty()) {
            returned.push_back(self.TakeFront());
        }
        self.playedBytes_ = 0;
    }
    for (WAVEHDR* header : returned) {
        self.Deliver(Notify{WOM_DONE, header});
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI TVirtualWaveOut::GetPosition(HWAVEOUT, LPMMTIME time, UINT) {
    TVirtualWaveOut& self = Instance();
    if (MMRESULT failure = self.Enter(woGetPosition)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(self.mutex_);
    const DWORD align = self.format_.nBlockAlign ? self.format_.nBlockAlign : 1;
    if (time->wType == TIME_SAMPLES && !self.positionInBytesOnly) {
        time->u.sample = static_cast<DWORD>(self.playedBytes_ / align);
    } else {
        time->wType = TIME_BYTES;
        time->u.cb = static_cast<DWORD>(self.playedBytes_);
    }
    return MMSYSERR_NOERROR;
}
