#include "generator/devices/MMWavOut.h"

#include "generator/devices/DeviceThread.h"
#include "generator/devices/DeviceWaits.h"

#include <algorithm>

namespace {

const char kChangeWhileOpen[] = "Change to property while device was open";
const char kNoDevice[] = "No wave audio playing device found";
const char kUnknownError[] = "Specified error number is out of range (unknown error)";
const char kOpenPrefix[] = "WaveOutOpen:\n\r";
const char kClosePrefix[] = "WaveOutClose:\n\r";
const char kWritePrefix[] = "WaveOutWrite:\n\r";
const char kPausePrefix[] = "WaveOutPause:\n\r";
const char kResetPrefix[] = "WaveOutReset:\n\r";
const char kRestartPrefix[] = "WaveOutRestart:\n\r";
const char kPositionPrefix[] = "WaveOutGetPosition:\n\r";
const char kPreparePrefix[] = "WaveOutPrepareHeader:\n\r";

const int kStateTicks = 500;  // waits for the open/close notification and for D = 0
const int kResetTicks = 100;  // wait for the returns of a queue rebuild
const int kDonePolls = 65000; // waits for WHDR_DONE
const DWORD kDonePollMs = 2;  // sleep between polls in the done handler
const DWORD kThreadWaitMs = 5000;
const int kHourGlassBytes = 100000;

// Shows the busy cursor while a large queue is filled.
class THourGlass {
public:
    explicit THourGlass(bool show)
        : shown_(show), previous_(show ? SetCursor(LoadCursor(nullptr, IDC_WAIT)) : nullptr) {}
    ~THourGlass() { Restore(); }
    THourGlass(const THourGlass&) = delete;
    THourGlass& operator=(const THourGlass&) = delete;
    void Restore() {
        if (shown_) {
            SetCursor(previous_);
            shown_ = false;
        }
    }

private:
    bool shown_;
    HCURSOR previous_;
};

bool WaitForDoneFlag(const WAVEHDR& header, DWORD pollMs) {
    for (int i = 0; i < kDonePolls; ++i) {
        if (header.dwFlags & WHDR_DONE) {
            return true;
        }
        if (pollMs > 0) {
            Sleep(pollMs);
        } else {
            SwitchToThread();
        }
    }
    return (header.dwFlags & WHDR_DONE) != 0;
}

} // namespace

// --- the output thread --------------------------------------------------------------------

class TMMWaveOutThread : public TMMDeviceThread {
public:
    explicit TMMWaveOutThread(TMMWaveOut& device)
        : TMMDeviceThread(MM_WOM_DONE, false), device_(device) {}

protected:
    bool HandleMessage(const MSG& message) override { return device_.OnThreadMessage(message); }
    void HandleFailure(std::exception_ptr failure) override { device_.OnThreadFailed(failure); }

private:
    TMMWaveOut& device_;
};

// --- driver table ---------------------------------------------------------------------------

const TWaveOutDriver& TWaveOutDriver::System() {
    static const TWaveOutDriver table{
        waveOutGetNumDevs, waveOutGetDevCapsA,   waveOutGetErrorTextA,   waveOutOpen,
        waveOutClose,      waveOutPrepareHeader, waveOutUnprepareHeader, waveOutWrite,
        waveOutPause,      waveOutRestart,       waveOutReset,           waveOutGetPosition};
    return table;
}

// --- construction and properties ------------------------------------------------------------

TMMWaveOut::TMMWaveOut(TComponent* owner)
    : TMMCustomWaveOutComponent(owner), driver_(TDriverBinding<TWaveOutDriver>::Bound()),
      numDevs_(static_cast<int>(driver_.GetNumDevs())), route_(CurrentNotifyRoute()) {
    ApplyDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() {
    MarkDestroying();
    if (handle_) {
        CloseDevice();
    }
    if (handle_) {
        Abandon();
    }
    Unlink();
    thread_.reset();
    window_.reset();
}

// The close failed while the component goes away: the driver must give the buffers back and
// let the handle go before the pool's memory is freed, whatever it answers.
void TMMWaveOut::Abandon() {
    closing_ = true;
    driver_.Reset(handle_);
    WaitTicks(route_, kStateTicks, [this] { return inDevice_ <= 0; });
    UnprepareAndRelease();
    driver_.Close(handle_);
    handle_ = nullptr;
    state_ = dsClosed;
    StopThread();
}

void TMMWaveOut::SetNumBuffers(int value) {
    if (value < 2) {
        return;
    }
    value = std::min(value, kMaxBuffers);
    if (value == numBuffers_) {
        return;
    }
    if (IsOpen()) {
        RaiseError(kChangeWhileOpen);
    }
    numBuffers_ = value;
}

void TMMWaveOut::SetDeviceID(int value) {
    if (value == deviceId_) {
        return;
    }
    if (IsOpen()) {
        RaiseError(kChangeWhileOpen);
    }
    ApplyDeviceID(value);
}

void TMMWaveOut::ApplyDeviceID(int value) {
    productName_ = kNoDevice;
    driverVersion_ = 0;
    const bool known = value >= MapperId && value < numDevs_;
    if (numDevs_ > 0 && known) {
        WAVEOUTCAPSA caps{};
        if (driver_.GetDevCaps(static_cast<UINT_PTR>(value), &caps, sizeof(caps)) ==
            MMSYSERR_NOERROR) {
            productName_ = caps.szPname;
            driverVersion_ = caps.vDriverVersion;
        }
    }
    deviceId_ = known ? value : InvalidId;
}

std::string TMMWaveOut::DeviceName(int id) const {
    if (id < MapperId || id >= numDevs_) {
        return "";
    }
    WAVEOUTCAPSA caps{};
    if (driver_.GetDevCaps(static_cast<UINT_PTR>(id), &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        return "";
    }
    return caps.szPname;
}

void TMMWaveOut::SetCallBackMode(int value) {
    if (value < cmWindow || value > cmThread || value == callBackMode_) {
        return;
    }
    if (IsOpen()) {
        RaiseError(kChangeWhileOpen);
    }
    if (AcceptCallBackMode(static_cast<TMMCBMode>(value), "TMMWaveOut")) {
        callBackMode_ = value;
    }
}

void TMMWaveOut::SetBufferSize(int value) {
    value = std::max(value, kMinBufferSize);
    if (value == requestedBufferSize_) {
        return;
    }
    if (IsOpen()) {
        RaiseError(kChangeWhileOpen);
    }
    pool_.FreeAll();
    requestedBufferSize_ = value;
    TMMCustomWaveOutComponent::SetBufferSize(value);
}

void TMMWaveOut::SetLooping(bool value) {
    looping_ = value;
    loopsLeft_ = loopCount_;
}

void TMMWaveOut::SetLoopCount(uint16_t value) {
    loopCount_ = value;
    loopsLeft_ = loopCount_;
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
    priority_ = value;
    if (thread_) {
        thread_->SetPriority(value);
    }
}

void TMMWaveOut::SetWaveFormat(const WAVEFORMATEX* format) {
    CloseDevice();
    TMMCustomWaveOutComponent::SetWaveFormat(format);
}

void TMMWaveOut::WaveFormatChanged(const WAVEFORMATEX* format) {
    CloseDevice();
    TMMCustomWaveOutComponent::WaveFormatChanged(format);
}

// --- errors -----------------------------------------------------------------------------------

void TMMWaveOut::Fire(const TMMNotifyEvent& event) {
    if (event) {
        event(this);
    }
}

void TMMWaveOut::FireError() {
    Fire(OnError);
}

void TMMWaveOut::RaiseError(const std::string& message) {
    FireError();
    throw EMMWaveOutError(message);
}

std::string TMMWaveOut::ErrorText(MMRESULT result) const {
    char text[MAXERRORLENGTH] = {};
    if (driver_.GetErrorText(result, text, sizeof(text)) != MMSYSERR_NOERROR) {
        return kUnknownError;
    }
    return text;
}

void TMMWaveOut::Check(MMRESULT result, const char* prefix) {
    lastResult_.store(result);
    if (result != MMSYSERR_NOERROR) {
        RaiseError(prefix + ErrorText(result));
    }
}

// Runs `body`; on any exception fires OnError once (our own errors have fired it already),
// runs `recover` and lets the exception go on.
template <class Body, class Recover> void TMMWaveOut::Guard(Body body, Recover recover) {
    try {
        body();
    } catch (const EMMWaveOutError&) {
        recover();
        throw;
    } catch (...) {
        FireError();
        recover();
        throw;
    }
}

// --- open and close ---------------------------------------------------------------------------

DWORD TMMWaveOut::OpenFlags() const {
    return (mapped_ && deviceId_ >= 0) ? WAVE_MAPPED : 0;
}

void TMMWaveOut::OpenDevice() {
    if (numDevs_ == 0) {
        RaiseError(kNoDevice);
    }
    if (deviceId_ == InvalidId) {
        RaiseError("Invalid DeviceID");
    }
    if (!WaveFormat()) {
        RaiseError(std::string(kOpenPrefix) + "Invalid wave format");
    }
    if (IsOpen()) {
        CloseDevice();
    }
    if (IsOpen() || closing_) {
        return;
    }
    Guard(
        [&] {
            closing_ = false;
            resetting_ = false;
            stopping_ = false;
            endPosted_ = false;
            route_ = CurrentNotifyRoute();
            const UINT id = static_cast<UINT>(deviceId_);
            if (driver_.Open(nullptr, id, WaveFormat(), 0, 0, WAVE_FORMAT_QUERY | OpenFlags()) !=
                MMSYSERR_NOERROR) {
                RaiseError(std::string(kOpenPrefix) + "The actual device can''t play this format");
            }
            if (!window_) {
                window_ = std::make_unique<TDeviceWindow>(
                    [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                        return OnWindowMessage(message, wParam, lParam, result);
                    });
            }
            handle_ = nullptr;
            closeDeferred_ = false;
            TMMCustomSoundComponent::Open();
            if (callBackMode_ == cmThread) {
                StartThread();
            }
            DWORD_PTR target = reinterpret_cast<DWORD_PTR>(window_->Handle());
            DWORD route = CALLBACK_WINDOW;
            if (route_ == nrCallbackFunction) {
                target = reinterpret_cast<DWORD_PTR>(&TMMWaveOut::DriverCallback);
                route = CALLBACK_FUNCTION;
            }
            HWAVEOUT device = nullptr;
            const MMRESULT result =
                driver_.Open(&device, id, WaveFormat(), target, reinterpret_cast<DWORD_PTR>(this),
                             route | OpenFlags());
            handle_ = result == MMSYSERR_NOERROR ? device : nullptr;
            Check(result, kOpenPrefix);
            if (!WaitTicks(route_, kStateTicks, [this] { return IsOpen(); })) {
                RaiseError(std::string(kOpenPrefix) + "Unable to open device");
            }
            Fire(OnOpen);
        },
        [&] {
            state_ = dsOpen;
            CloseDevice();
            state_ = dsClosed;
        });
}

void TMMWaveOut::CloseDevice() {
    if (!IsOpen() || (closing_ && !closeDeferred_)) {
        return;
    }
    try {
        closing_ = true;
        if (IsRunning()) {
            StopDevice();
        }
        if (stopDeferred_) {
            closeDeferred_ = true;
            return;
        }
        closeDeferred_ = false;
        bool closeTimedOut = false;
        if (handle_) {
            Check(driver_.Close(handle_), kClosePrefix);
            closeTimedOut =
                !WaitTicks(route_, kStateTicks, [this] { return (state_ & dsClosed) != 0; });
            ResetWrap();
        } else {
            state_ = dsClosed;
        }
        TMMCustomSoundComponent::Close();
        StopThread();
        handle_ = nullptr;
        closing_ = false;
        if (!Destroying()) {
            Fire(OnClose);
        }
        if (closeTimedOut) {
            RaiseError(std::string(kClosePrefix) + "Unable to close device");
        }
    } catch (const EMMWaveOutError&) {
        closing_ = false;
    } catch (...) {
        closing_ = false;
        FireError();
    }
}

void TMMWaveOut::StartThread() {
    thread_.reset();
    thread_ = std::make_unique<TMMWaveOutThread>(*this);
    if (!thread_->Launch(priority_, kThreadWaitMs)) {
        RaiseError("WaveOut:\n\rCould not create thread");
    }
}

void TMMWaveOut::StopThread() {
    if (!thread_) {
        return;
    }
    if (!thread_->Failed()) {
        thread_->Quit(kThreadWaitMs);
    }
    // A failed thread closes the device itself and cannot wait for its own end; its object
    // goes with the next open or the component.
    if (GetCurrentThreadId() != thread_->ThreadId()) {
        thread_.reset();
    }
}

// --- start, pause, restart ----------------------------------------------------------------

void TMMWaveOut::ResetRunState() {
    playedBytes_ = 0;
    pausedTotal_ = 0;
    lastPosition_ = 0;
    wrapCount_ = 0;
    wrapSpan_ = 0;
    loopStart_ = 0;
    loopsLeft_ = loopCount_;
    callbacks_ = 0;
    stopDeferred_ = false;
    resetting_ = false;
    stopping_ = false;
    endPosted_ = false;
    ringIndex_ = 0;
    inDevice_ = 0;
    awaiting_ = 0;
    ++run_;
}

TMMBufferRecord* TMMWaveOut::PreparedRecord(int index) {
    TMMBufferRecord*& record = ring_[index];
    const uint32_t size = static_cast<uint32_t>(BufferSize());
    if (!record) {
        record = static_cast<TMMBufferRecord*>(pool_.Acquire(GHND, BufferRecordBytes(size)));
        if (!record) {
            RaiseError("Unable to allocate memory for wave header");
        }
    }
    const bool prepared = (record->Header.dwFlags & WHDR_PREPARED) != 0;
    InitBufferRecord(record, size);
    if (prepared) {
        record->Header.dwFlags = WHDR_PREPARED;
    } else {
        Check(driver_.PrepareHeader(handle_, &record->Header, sizeof(WAVEHDR)), kPreparePrefix);
    }
    return record;
}

int TMMWaveOut::FillQueue() {
    more_ = true;
    int queued = 0;
    for (int i = 0; i < numBuffers_ && more_; ++i) {
        TMMBufferRecord* record = PreparedRecord(i);
        if (LoadBuffer(record) < 1) {
            break;
        }
        QueueBuffer(record);
        ++queued;
    }
    return queued;
}

void TMMWaveOut::StartDevice() {
    if (!IsOpen()) {
        OpenDevice();
    }
    if (!IsOpen() || (state_ & dsActive)) {
        return;
    }
    Guard(
        [&] {
            ResetRunState();
            THourGlass hourGlass(showHourGlass_ && BufferSize() * numBuffers_ > kHourGlassBytes);
            // Queued buffers must not start playing before the whole queue is filled.
            Check(driver_.Pause(handle_), kPausePrefix);
            TMMCustomSoundComponent::Start();
            queued_ = FillQueue();
            state_ |= dsActive;
            hourGlass.Restore();
            if (queued_ == 0) {
                TMMCustomSoundComponent::Stop();
                RaiseError("WaveOutStart:\n\rUnable to start device");
            }
            if (!(state_ & dsPaused)) {
                Check(driver_.Restart(handle_), kRestartPrefix);
            }
            Fire(OnStart);
        },
        [&] {
            state_ |= dsActive;
            CloseDevice();
            state_ = dsClosed;
        });
}

void TMMWaveOut::PauseDevice() {
    if (!IsOpen()) {
        OpenDevice();
    }
    if (!IsOpen() || (state_ & dsPaused)) {
        return;
    }
    Guard(
        [&] {
            if (state_ & dsActive) {
                {
                    TLock guard(lock_);
                    Check(driver_.Pause(handle_), kPausePrefix);
                    state_ |= dsPaused;
                }
                if (DeviceUpstream()) {
                    DWORD samples = 0;
                    const bool known = ReadPositionSamples(samples) == MMSYSERR_NOERROR;
                    {
                        TLock guard(lock_);
                        pausedTotal_ += known ? samples : 0;
                        resetting_ = true;
                    }
                    Check(driver_.Reset(handle_), kResetPrefix);
                    ringIndex_ = 0;
                    inDevice_ = 0;
                    awaiting_ = 0;
                }
            }
            state_ |= dsPaused;
            TMMCustomSoundComponent::Pause();
            Fire(OnPause);
        },
        [&] { CloseDevice(); });
}

void TMMWaveOut::RestartDevice() {
    if ((state_ & (dsActive | dsPaused)) != (dsActive | dsPaused)) {
        return;
    }
    Guard(
        [&] {
            resetting_ = false;
            TMMCustomSoundComponent::Restart();
            Check(driver_.Restart(handle_), kRestartPrefix);
            state_ &= ~dsPaused;
            Fire(OnRestart);
        },
        [&] { CloseDevice(); });
}

// --- buffers ------------------------------------------------------------------------------------

void TMMWaveOut::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMBufferRecord* record = BufferRecordOf(lpWaveHdr);
    const DWORD capacity = static_cast<DWORD>(RealBufferSize());
    lpWaveHdr->dwBufferLength = capacity;
    lpWaveHdr->dwBytesRecorded = 0;
    record->dwLooping = looping_ ? -1 : 0;
    if (looping_) {
        record->dwLoopCount = loopCount_;
        record->dwLoopsLeft = loopsLeft_;
        record->dwLoopRestart = 0;
    }
    TMMCustomWaveOutComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    // A source that claims more than the buffer holds must not make the device read past it.
    lpWaveHdr->dwBytesRecorded = std::min(lpWaveHdr->dwBytesRecorded, capacity);
    lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
    if (looping_) {
        loopsLeft_ = record->dwLoopsLeft;
    }
}

DWORD TMMWaveOut::LoadBuffer(TMMBufferRecord* record) {
    bool more = false;
    more_ = false;
    BufferLoad(&record->Header, more);
    more_ = more && record->Header.dwBytesRecorded > 0;
    return record->Header.dwBytesRecorded;
}

void TMMWaveOut::QueueBuffer(TMMBufferRecord* record) {
    if (OnBufferFilled) {
        OnBufferFilled(this, &record->Header);
    }
    if (stopping_) {
        return;
    }
    WAVEHDR& header = record->Header;
    header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    record->dwSavedBytes = header.dwBytesRecorded;
    // Counted before the write: the driver may return the buffer before the write returns.
    ++inDevice_;
    ++awaiting_;
    const MMRESULT result = driver_.Write(handle_, &header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        --inDevice_;
        --awaiting_;
    }
    Check(result, kWritePrefix);
    header.dwBytesRecorded = record->dwSavedBytes;
}

// --- the done handler ----------------------------------------------------------------------

void TMMWaveOut::DoneHandler() {
    {
        TLock guard(lock_);
        if (!(state_ & dsActive) || resetting_ || stopping_) {
            return;
        }
        if (callbacks_++ == 0) {
            handlerThread_ = GetCurrentThreadId();
        }
    }
    std::exception_ptr failure;
    try {
        ServiceReturnedBuffer();
    } catch (const EMMWaveOutError&) {
        failure = std::current_exception();
    } catch (...) {
        FireError();
        failure = std::current_exception();
    }
    EndDoneHandler();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TMMWaveOut::ServiceReturnedBuffer() {
    // Buffers come back in the order they were written.
    TMMBufferRecord* record = ring_[ringIndex_];
    --awaiting_;
    {
        TLock guard(lock_);
        playedBytes_ += record->Header.dwBufferLength;
    }
    ringIndex_ = ringIndex_ + 1 >= queued_ ? 0 : ringIndex_ + 1;
    record->Header.dwBytesRecorded = record->dwSavedBytes;
    TMMBufferRecord* next = ring_[ringIndex_];
    record->lpNextQueued = next;
    next->Header.dwBytesRecorded = next->dwSavedBytes;
    TMMDSPComponent::BufferReady(&record->Header);
    TrackPositionWrap();
    if (!more_ || stopDeferred_) {
        return;
    }
    if (looping_ && record->dwLoopRestart != 0) {
        {
            TLock guard(lock_);
            loopStart_ = lastPosition_;
            record->dwLoopRestart = 0;
        }
        TMMCustomSoundComponent::Looped();
        Fire(OnLooping);
    }
    WaitForDoneFlag(record->Header, kDonePollMs);
    if (LoadBuffer(record) == 0 && !stopDeferred_) {
        RaiseError("Error filling wave buffer");
    }
    if (!stopDeferred_) {
        QueueBuffer(record);
    }
}

// The last running handler ends the run when a stop waits for it or when the stream has
// drained, and leaves the rest of the stop to the main thread.
void TMMWaveOut::EndDoneHandler() {
    bool post = false;
    {
        TLock guard(lock_);
        --callbacks_;
        if (callbacks_ == 0 && (stopDeferred_ || awaiting_ <= 0) && !endPosted_) {
            endPosted_ = true;
            stopping_ = true;
            post = true;
        }
    }
    if (!post) {
        return;
    }
    const MMRESULT paused = driver_.Pause(handle_);
    PostMessageA(window_->Handle(), kWaveOutStopMessage, reinterpret_cast<WPARAM>(handle_),
                 static_cast<LPARAM>(run_.load()));
    Check(paused, kPausePrefix);
}

// --- stop and reset ------------------------------------------------------------------------

void TMMWaveOut::StopDevice() {
    if (!IsRunning()) {
        return;
    }
    Guard(
        [&] {
            {
                TLock guard(lock_);
                stopping_ = true;
                resetting_ = true;
            }
            ResetWrap();
            Check(driver_.Reset(handle_), kResetPrefix);
            FinishStop();
        },
        [&] { CloseDevice(); });
}

// A handler running on another thread cannot be inside this call, so waiting for it lets
// the stop complete here instead of through the stop message. Sent messages are handled
// meanwhile: the handler may be handing work to this (main) thread.
void TMMWaveOut::WaitForHandlerOnOtherThread() {
    if (callbacks_ == 0 || handlerThread_ == GetCurrentThreadId()) {
        return;
    }
    for (int i = 0; i < kStateTicks && callbacks_ > 0; ++i) {
        SentMessagesTick();
    }
}

void TMMWaveOut::FinishStop() {
    WaitForHandlerOnOtherThread();
    {
        TLock guard(lock_);
        if (callbacks_ > 0) {
            stopDeferred_ = true;
            return;
        }
    }
    state_ &= ~(dsActive | dsPaused);
    WaitTicks(route_, kStateTicks, [this] { return inDevice_ <= 0; });
    TMMCustomSoundComponent::Stop();
    DropPendingDone();
    UnprepareAndRelease();
    queued_ = 0;
    inDevice_ = 0;
    awaiting_ = 0;
    ringIndex_ = 0;
    stopDeferred_ = false;
    if (!Destroying()) {
        Fire(OnStop);
    }
    if (closeDeferred_) {
        CloseDevice();
    }
}

// Done notifications still queued for the window or the thread belong to buffers already
// accounted for; left there they would be taken for buffers of the next run.
void TMMWaveOut::DropPendingDone() {
    if (window_ && GetWindowThreadProcessId(window_->Handle(), nullptr) == GetCurrentThreadId()) {
        const int dropped = window_->DropPending(MM_WOM_DONE, MM_WOM_DONE);
        // On the window route these returns were not counted yet.
        if (route_ == nrWindow && dropped > 0) {
            TLock guard(lock_);
            inDevice_ -= dropped;
        }
    }
    if (thread_) {
        thread_->Flush(kThreadWaitMs);
    }
}

void TMMWaveOut::UnprepareAndRelease() {
    for (TMMBufferRecord*& record : ring_) {
        if (!record) {
            continue;
        }
        WAVEHDR& header = record->Header;
        if ((header.dwFlags & WHDR_INQUEUE) && !WaitForDoneFlag(header, 0)) {
            header.dwFlags |= WHDR_DONE;
        }
        if (header.dwFlags & WHDR_PREPARED) {
            driver_.UnprepareHeader(handle_, &header, sizeof(WAVEHDR));
        }
        void* block = record;
        pool_.Release(block);
        record = nullptr;
    }
}

void TMMWaveOut::ResetDevice() {
    if (!IsRunning() || resetting_) {
        return;
    }
    Guard(
        [&] {
            {
                TLock guard(lock_);
                resetting_ = true;
            }
            Check(driver_.Pause(handle_), kPausePrefix);
            DropPendingDone();
            Check(driver_.Reset(handle_), kResetPrefix);
            WaitTicks(route_, kResetTicks, [this] { return !resetting_; });
            Check(driver_.Restart(handle_), kRestartPrefix);
            Check(driver_.Pause(handle_), kPausePrefix);
            ringIndex_ = 0;
            inDevice_ = 0;
            awaiting_ = 0;
            lastPosition_ = 0;
            pausedTotal_ = 0;
            loopStart_ = 0;
            ResetWrap();
            resetting_ = false;
            TMMCustomSoundComponent::Reset();
            queued_ = FillQueue();
            if (!(state_ & dsPaused)) {
                Check(driver_.Restart(handle_), kRestartPrefix);
            }
            if (queued_ == 0) {
                StopDevice();
            }
        },
        [&] { CloseDevice(); });
}

// --- position ---------------------------------------------------------------------------------

MMRESULT TMMWaveOut::ReadPositionSamples(DWORD& samples) const {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    MMRESULT result = driver_.GetPosition(handle_, &time, sizeof(time));
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    if (time.wType == TIME_SAMPLES) {
        samples = time.u.sample;
        return result;
    }
    time.wType = TIME_BYTES;
    result = driver_.GetPosition(handle_, &time, sizeof(time));
    if (result == MMSYSERR_NOERROR) {
        samples =
            static_cast<DWORD>(BytesToSamples(*WaveFormat(), static_cast<int32_t>(time.u.cb)));
    }
    return result;
}

void TMMWaveOut::TrackPositionWrap() {
    DWORD samples = 0;
    if (ReadPositionSamples(samples) != MMSYSERR_NOERROR) {
        return;
    }
    TLock guard(lock_);
    if (samples < lastPosition_ && lastPosition_ - samples >= 65535) {
        wrapSpan_ = (lastPosition_ & 0xFFF00000u) | 0x000FFFFFu;
        ++wrapCount_;
    }
    lastPosition_ = samples;
}

void TMMWaveOut::ResetWrap() {
    TLock guard(lock_);
    wrapCount_ = 0;
    wrapSpan_ = 0;
}

int64_t TMMWaveOut::PlayPosition() {
    const WAVEFORMATEX* format = WaveFormat();
    if (!IsOpen() || !format || !handle_ || closeDeferred_) {
        return 0;
    }
    DWORD samples = 0;
    Check(ReadPositionSamples(samples), kPositionPrefix);
    int64_t position;
    {
        TLock guard(lock_);
        position =
            static_cast<int64_t>(samples) + pausedTotal_ + wrapCount_ * wrapSpan_ - loopStart_;
    }
    switch (timeFormat_) {
    case tfMillisecond:
        return SamplesToMs64(*format, position);
    case tfByte:
        return SamplesToBytes64(*format, position);
    case tfSample:
        break;
    }
    return position;
}

// --- dispatching --------------------------------------------------------------------------------

// D and the resetting flag are kept where the notification first arrives. True when the
// buffer came back from a reset and needs nothing more.
bool TMMWaveOut::CountReturned() {
    TLock guard(lock_);
    --inDevice_;
    if (!resetting_) {
        return false;
    }
    if (inDevice_ <= 0) {
        resetting_ = false;
    }
    return true;
}

// Driver callback: only bookkeeping, posting and (cmCallback) the handler itself.
void CALLBACK TMMWaveOut::DriverCallback(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                         DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<TMMWaveOut*>(instance);
    try {
        self->OnDriverNotification(message, device, static_cast<LPARAM>(param1));
    } catch (...) {
        self->ReportDispatchFailure(std::current_exception());
    }
}

void TMMWaveOut::OnDriverNotification(UINT message, HWAVEOUT device, LPARAM header) {
    switch (message) {
    case WOM_OPEN:
        state_ = dsOpen;
        break;
    case WOM_CLOSE:
        state_ = dsClosed;
        break;
    case WOM_DONE:
        if (callBackMode_ == cmCallback) {
            if (!CountReturned() && !stopping_) {
                DoneHandler();
            }
        } else {
            ForwardDone(device, header);
        }
        break;
    }
}

// Checked and posted under the lock that a stop sets its flags under: a notification either
// lands in the queue before the stop drops the queued ones, or is not posted at all, so none
// can outlive the run it belongs to.
void TMMWaveOut::ForwardDone(HWAVEOUT device, LPARAM header) {
    TLock guard(lock_);
    if (CountReturned() || stopping_) {
        return;
    }
    if (callBackMode_ == cmWindow) {
        PostMessageA(window_->Handle(), MM_WOM_DONE, reinterpret_cast<WPARAM>(device), header);
    } else if (thread_) {
        thread_->Post(MM_WOM_DONE, reinterpret_cast<WPARAM>(device), header);
    }
}

bool TMMWaveOut::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    const HWAVEOUT device = reinterpret_cast<HWAVEOUT>(wParam);
    try {
        switch (message) {
        case MM_WOM_OPEN:
            if (device != handle_) {
                return false;
            }
            state_ = dsOpen;
            return true;
        case MM_WOM_CLOSE:
            if (device != handle_) {
                return false;
            }
            state_ = dsClosed;
            return true;
        case MM_WOM_DONE:
            if (device != handle_) {
                return false;
            }
            if (route_ == nrWindow && CountReturned()) {
                return true;
            }
            if (!stopping_) {
                DoneHandler();
            }
            return true;
        case kWaveOutStopMessage:
            if (device == handle_ && static_cast<DWORD>(lParam) == run_.load()) {
                StopDevice();
            }
            return true;
        }
    } catch (...) {
        ReportDispatchFailure(std::current_exception());
        return true;
    }
    return false;
}

void TMMWaveOut::ReportDispatchFailure(std::exception_ptr failure) {
    CloseDevice();
    ShowDeviceException(failure);
}

bool TMMWaveOut::OnThreadMessage(const MSG& message) {
    if (message.message != MM_WOM_DONE || reinterpret_cast<HWAVEOUT>(message.wParam) != handle_) {
        return false;
    }
    if (!stopping_) {
        DoneHandler();
    }
    return true;
}

void TMMWaveOut::OnThreadFailed(std::exception_ptr failure) {
    if (IsOpen()) {
        closing_ = true;
        try {
            StopDevice();
        } catch (...) {
        }
        if (handle_) {
            driver_.Close(handle_);
        }
        handle_ = nullptr;
        closing_ = false;
        TMMCustomSoundComponent::Close();
        state_ = dsClosed;
        if (!Destroying()) {
            Fire(OnClose);
        }
    }
    ShowDeviceException(failure);
}
