#include "generator/devices/MMWavIn.h"

#include "generator/devices/DeviceThread.h"
#include "generator/devices/DeviceWaits.h"

#include <algorithm>
#include <cstdint>

namespace {

const char kNoDevice[] = "No wave audio recording device found";
const char kPropertyWhileOpen[] = "Change to property while device was open";
const char kUnknownError[] = "Specified error number is out of range (unknown error)";
const char kCaption[] = "TMMWaveIn";

// Posted by the servicing side when the data handler failed outside the main thread; the
// main thread closes the device and shows the failure.
const UINT kWaveInFailedMessage = WM_APP + 3;

const int kOpenCloseTicks = 100;
const int kStopTicks = 100;
const int kDonePolls = 65000;
const DWORD kThreadTimeoutMs = 5000;

// The standard format bit of the device capabilities that a PCM format needs, or 0 when its
// class has none.
DWORD StandardFormatBit(const WAVEFORMATEX& format) {
    const uint32_t rate = format.nSamplesPerSec & 0xFFFF;
    int rateClass;
    if (rate >= 8000 && rate <= 11025) {
        rateClass = 0;
    } else if (rate > 11025 && rate <= 22050) {
        rateClass = 1;
    } else if (rate > 22050 && rate <= 48000) {
        rateClass = 2;
    } else {
        return 0;
    }
    if ((format.nChannels != 1 && format.nChannels != 2) ||
        (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)) {
        return 0;
    }
    const int shift =
        rateClass * 4 + (format.nChannels == 2 ? 1 : 0) + (format.wBitsPerSample == 16 ? 2 : 0);
    return DWORD{1} << shift;
}

// a * b / c rounded as MulDivRound, for non-negative operands, in 64 bits.
int64_t MulDivRound64(int64_t a, int64_t b, int64_t c) {
    const int64_t product = a * b;
    return product / c + (2 * (product % c)) / c;
}

} // namespace

// --- the input thread -----------------------------------------------------------------------

class TMMWaveInThread : public TMMDeviceThread {
public:
    explicit TMMWaveInThread(TMMCustomWaveIn& device) : TMMDeviceThread(0, true), device_(device) {}

protected:
    bool HandleMessage(const MSG& message) override {
        if (message.message != MM_WIM_DATA) {
            return false;
        }
        device_.HandleData(reinterpret_cast<HWAVEIN>(message.wParam),
                           reinterpret_cast<WAVEHDR*>(message.lParam));
        return true;
    }
    void HandleFailure(std::exception_ptr failure) override {
        device_.ServicingFailed(std::move(failure));
    }

private:
    TMMCustomWaveIn& device_;
};

// --- driver table ----------------------------------------------------------------------------

const TWaveInDriver& TWaveInDriver::System() {
    static const TWaveInDriver table{
        waveInGetNumDevs,    waveInGetDevCapsA,     waveInGetErrorTextA, waveInOpen,  waveInClose,
        waveInPrepareHeader, waveInUnprepareHeader, waveInAddBuffer,     waveInStart, waveInStop,
        waveInReset,         waveInGetPosition,     waveInGetID};
    return table;
}

// --- construction ----------------------------------------------------------------------------

TMMCustomWaveIn::TMMCustomWaveIn(TComponent* owner) : TMMCustomSoundComponent(owner) {
    window_ = std::make_unique<TDeviceWindow>(
        [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            result = 0;
            return HandleWindowMessage(message, wParam, lParam);
        });
    productName_ = kNoDevice;
    RebuildFormat();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
    MarkDestroying();
    // A close deferred behind a running data handler completes through the stop message.
    for (int i = 0; IsOpen() && i < kStopTicks; ++i) {
        CloseDevice();
        if (IsOpen()) {
            ProcessMessagesFor(kDeviceTickMs);
        }
    }
    Unlink();
}

void TMMCustomWaveIn::UseDriver(const TWaveInDriver& driver) {
    driver_ = driver;
    deviceCount_ = static_cast<int>(driver_.GetNumDevs());
    SelectDevice(0);
}

TMMWaveIn::TMMWaveIn(TComponent* owner) : TMMCustomWaveIn(owner) {
    BindDriver();
}

void TMMWaveIn::BindDriver() {
    UseDriver(TDriverBinding<TWaveInDriver>::Bound());
}

// --- errors ----------------------------------------------------------------------------------

void TMMCustomWaveIn::Fail(const std::string& message) const {
    throw EMMWaveInError(message);
}

void TMMCustomWaveIn::RaiseError(const std::string& message) {
    try {
        Fail(message);
    } catch (...) {
        ReportFailure(std::current_exception());
        throw;
    }
}

void TMMCustomWaveIn::ReportFailure(std::exception_ptr failure) {
    {
        TLock guard(lock_);
        if (failure == lastReported_) {
            return;
        }
        lastReported_ = failure;
    }
    if (OnError) {
        OnError(this);
    }
}

std::string TMMCustomWaveIn::ErrorText(MMRESULT result) const {
    char text[256] = {};
    if (driver_.GetErrorText(result, text, sizeof(text) - 1) != MMSYSERR_NOERROR) {
        return kUnknownError;
    }
    return text;
}

void TMMCustomWaveIn::Check(MMRESULT result, const char* prefix) const {
    if (result != MMSYSERR_NOERROR) {
        Fail(std::string(prefix) + ":\n\r" + ErrorText(result));
    }
}

void TMMCustomWaveIn::RefuseWhileOpen() {
    if (IsOpen()) {
        RaiseError(kPropertyWhileOpen);
    }
}

// --- properties ------------------------------------------------------------------------------

void TMMCustomWaveIn::SetBufferSize(int value) {
    value = std::max(value, 32);
    if (value == BufferSize()) {
        return;
    }
    RefuseWhileOpen();
    pool_.FreeAll();
    TMMCustomSoundComponent::SetBufferSize(value);
}

void TMMCustomWaveIn::SetNumBuffers(int value) {
    if (value < 2) {
        return;
    }
    value = std::min(value, kMaxNumBuffers);
    if (value == numBuffers_) {
        return;
    }
    RefuseWhileOpen();
    numBuffers_ = value;
}

void TMMCustomWaveIn::SetDeviceID(TMMDeviceId value) {
    if (value == deviceId_) {
        return;
    }
    RefuseWhileOpen();
    SelectDevice(value);
}

void TMMCustomWaveIn::SelectDevice(TMMDeviceId value) {
    productName_ = kNoDevice;
    if (deviceCount_ > 0 && value >= MapperId && value < deviceCount_) {
        WAVEINCAPSA caps{};
        if (driver_.GetDevCaps(static_cast<UINT>(value), &caps, sizeof(caps)) == MMSYSERR_NOERROR) {
            productName_ = caps.szPname;
        }
    }
    deviceId_ = (value < MapperId || value >= deviceCount_) ? InvalidId : value;
}

std::string TMMCustomWaveIn::DeviceName(TMMDeviceId id) const {
    if (id < MapperId || id >= deviceCount_) {
        return "";
    }
    WAVEINCAPSA caps{};
    if (driver_.GetDevCaps(static_cast<UINT>(id), &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        return "";
    }
    return caps.szPname;
}

void TMMCustomWaveIn::SetCallBackMode(int value) {
    if (value < cmWindow || value > cmThread || value == callBackMode_) {
        return;
    }
    RefuseWhileOpen();
    if (AcceptCallBackMode(static_cast<TMMCBMode>(value), kCaption)) {
        callBackMode_ = value;
    }
}

TMMMode TMMCustomWaveIn::Mode() const {
    if (channels_ == 2) {
        return mStereo;
    }
    return channels_ < 3 ? mMono : mMultiChannel;
}

void TMMCustomWaveIn::SetMode(TMMMode value) {
    if (value == mMono || value == mStereo) {
        SetChannels(ChannelsOf(value));
    }
}

void TMMCustomWaveIn::SetChannels(int value) {
    value = std::clamp(value, 1, 8);
    if (value == channels_) {
        return;
    }
    RefuseWhileOpen();
    channels_ = value;
    RebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
    if (value == bitLength_) {
        return;
    }
    RefuseWhileOpen();
    bitLength_ = value;
    RebuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(int value) {
    value = std::clamp(value, 8000, 100000);
    if (value == sampleRate_) {
        return;
    }
    RefuseWhileOpen();
    sampleRate_ = value;
    RebuildFormat();
}

void TMMCustomWaveIn::RebuildFormat() {
    WAVEFORMATEX format{};
    BuildPCMFormat(format, BitsOf(bitLength_), channels_, static_cast<uint32_t>(sampleRate_));
    SetWaveFormat(&format);
}

void TMMCustomWaveIn::SetWaveFormat(const WAVEFORMATEX* format) {
    CloseDevice();
    if (IsValidPCMFormat(format)) {
        sampleRate_ = static_cast<int>(format->nSamplesPerSec);
        bitLength_ = format->wBitsPerSample == 16 ? b16Bit : b8Bit;
        channels_ = format->nChannels;
    }
    TMMCustomSoundComponent::SetWaveFormat(format);
}

void TMMCustomWaveIn::SetPriority(TThreadPriority value) {
    priority_ = value;
    if (thread_) {
        thread_->SetPriority(value);
    }
}

void TMMCustomWaveIn::SetMaxRecordTime(int32_t value) {
    maxRecordTime_.store(value);
    byteLimit_.store(ComputeByteLimit());
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value) {
    if (value == timeFormat_) {
        return;
    }
    // The limit in bytes is taken afresh: the format may have changed since it was computed.
    const int32_t limit = ComputeByteLimit();
    timeFormat_ = value;
    const WAVEFORMATEX* format = WaveFormat();
    if (maxRecordTime_.load() < 0 || !format || format->nAvgBytesPerSec == 0) {
        return;
    }
    switch (value) {
    case tfMillisecond:
        maxRecordTime_.store(BytesToMs(*format, limit));
        break;
    case tfSample:
        maxRecordTime_.store(BytesToSamples(*format, limit));
        break;
    case tfByte:
        maxRecordTime_.store(limit);
        break;
    }
    byteLimit_.store(ComputeByteLimit());
}

int32_t TMMCustomWaveIn::ComputeByteLimit() const {
    const WAVEFORMATEX* format = WaveFormat();
    const int32_t value = maxRecordTime_.load();
    int64_t limit = INT32_MAX;
    if (value >= 0 && format && format->nBlockAlign > 0 && format->nSamplesPerSec > 0) {
        const int64_t align = format->nBlockAlign;
        switch (timeFormat_) {
        case tfMillisecond:
            limit = MulDivRound64(value, format->nAvgBytesPerSec, 1000);
            limit = (limit + align - 1) / align * align;
            break;
        case tfSample:
            limit = MulDivRound64(value, format->nAvgBytesPerSec, format->nSamplesPerSec);
            limit = (limit + align - 1) / align * align;
            break;
        case tfByte:
            limit = value;
            break;
        }
        limit = std::min<int64_t>(limit, INT32_MAX);
        limit -= limit % align;
    }
    return static_cast<int32_t>(limit);
}

// --- capability ------------------------------------------------------------------------------

bool TMMCustomWaveIn::CanRecord(const WAVEFORMATEX* format) const {
    if (deviceId_ < MapperId || deviceId_ >= deviceCount_ || !format) {
        return false;
    }
    const UINT id = static_cast<UINT>(deviceId_);
    if (driver_.Open(nullptr, id, format, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
        return false;
    }
    if (format->wFormatTag != WAVE_FORMAT_PCM) {
        return true;
    }
    WAVEINCAPSA caps{};
    if (driver_.GetDevCaps(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        return false;
    }
    const DWORD bit = StandardFormatBit(*format);
    return bit == 0 || (caps.dwFormats & bit) != 0;
}

// --- open and close --------------------------------------------------------------------------

void TMMCustomWaveIn::OpenDevice() {
    if (deviceCount_ <= 0) {
        RaiseError(kNoDevice);
    }
    if (deviceId_ == InvalidId) {
        RaiseError("Invalid DeviceID");
    }
    if (!WaveFormat()) {
        RaiseError("Invalid wave format");
    }
    if (IsOpen()) {
        CloseDevice();
    }
    if (IsOpen() || closing_) {
        return;
    }
    try {
        closing_ = false;
        {
            TLock guard(lock_);
            stopping_ = false;
            stopPosted_ = false;
        }
        if (!CanRecord(WaveFormat())) {
            Fail("WaveInOpen:\n\rThe actual device can''t record this format");
        }
        handle_.store(nullptr);
        closeDeferred_ = false;
        route_ = CurrentNotifyRoute();
        if (callBackMode_ == cmThread) {
            StartThread();
        }
        OpenDriver();
        // Opening the driver before the chain is the order the driver's open notification
        // expects; the chain does not look at our state while it opens.
        TMMCustomSoundComponent::Open();
        if (!WaitTicks(route_, kOpenCloseTicks, [this] { return IsOpen(); })) {
            Fail("WaveInOpen:\n\rUnable to open device");
        }
        AllocateRecords();
        Open();
    } catch (...) {
        ReportFailure(std::current_exception());
        state_.store(dsOpen);
        CloseDevice();
        state_.store(dsClosed);
        throw;
    }
}

void TMMCustomWaveIn::StartThread() {
    thread_ = std::make_unique<TMMWaveInThread>(*this);
    if (!thread_->Launch(priority_, kThreadTimeoutMs)) {
        Fail("WaveIn:\n\rCould not create thread");
    }
}

void TMMCustomWaveIn::StopThread() {
    if (thread_) {
        thread_->Quit(kThreadTimeoutMs);
        thread_.reset();
    }
}

void TMMCustomWaveIn::OpenDriver() {
    HWAVEIN handle = nullptr;
    MMRESULT result;
    if (route_ == nrCallbackFunction) {
        result = driver_.Open(&handle, static_cast<UINT>(deviceId_), WaveFormat(),
                              reinterpret_cast<DWORD_PTR>(&DriverCallback),
                              reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    } else {
        result = driver_.Open(&handle, static_cast<UINT>(deviceId_), WaveFormat(),
                              reinterpret_cast<DWORD_PTR>(window_->Handle()), 0, CALLBACK_WINDOW);
    }
    Check(result, "WaveInOpen");
    handle_.store(handle);
}

void TMMCustomWaveIn::AllocateRecords() {
    const int size = BufferSize();
    if (size <= 0) {
        return;
    }
    records_.resize(static_cast<size_t>(numBuffers_), nullptr);
    for (TMMBufferRecord*& record : records_) {
        if (!record) {
            record = static_cast<TMMBufferRecord*>(
                pool_.Acquire(GPTR, BufferRecordBytes(static_cast<uint32_t>(size))));
            if (!record) {
                Fail("Unable to allocate memory for wave header");
            }
            InitBufferRecord(record, static_cast<uint32_t>(size));
        }
    }
    for (TMMBufferRecord* record : records_) {
        Check(driver_.PrepareHeader(handle_.load(), &record->Header, sizeof(WAVEHDR)),
              "WaveInPrepareHeader");
    }
}

void TMMCustomWaveIn::ReleaseRecords() {
    for (TMMBufferRecord*& record : records_) {
        void* block = record;
        pool_.Release(block);
    }
    records_.clear();
}

void TMMCustomWaveIn::UnprepareRecords() {
    for (TMMBufferRecord* record : records_) {
        if (!record || !(record->Header.dwFlags & WHDR_PREPARED)) {
            continue;
        }
        volatile DWORD& flags = record->Header.dwFlags;
        for (int i = 0; i < kDonePolls && (flags & WHDR_INQUEUE) && !(flags & WHDR_DONE); ++i) {
            Sleep(0);
        }
        flags |= WHDR_DONE;
        Check(driver_.UnprepareHeader(handle_.load(), &record->Header, sizeof(WAVEHDR)),
              "WaveInUnprepareHeader");
    }
}

void TMMCustomWaveIn::CloseDevice() {
    if (!IsOpen() || (closing_ && !closeDeferred_)) {
        return;
    }
    try {
        closing_ = true;
        if (IsRunning()) {
            try {
                StopDevice();
            } catch (...) {
                AbandonRun();
            }
            if (!IsOpen()) {
                return; // the stop's waits dispatched a close that has finished
            }
        }
        {
            TLock guard(lock_);
            if (stopDeferred_) {
                closeDeferred_ = true;
                return;
            }
        }
        closeDeferred_ = false;
        bool closedInTime = true;
        if (HWAVEIN handle = handle_.load()) {
            driver_.Stop(handle);
            driver_.Reset(handle);
            UnprepareRecords();
            Check(driver_.Close(handle), "WaveInClose");
            closedInTime =
                WaitTicks(route_, kOpenCloseTicks, [this] { return state_.load() == dsClosed; });
        } else {
            state_.store(dsClosed);
        }
        TMMCustomSoundComponent::Close();
        StopThread();
        Close();
        if (!closedInTime) {
            // The driver accepted the close; only its confirmation is missing.
            state_.store(dsClosed);
            Fail("WaveInClose:\n\rUnable to close device");
        }
    } catch (...) {
        closing_ = false;
        ReportFailure(std::current_exception());
    }
}

// --- start, pause, restart, stop -------------------------------------------------------------

void TMMCustomWaveIn::StartDevice() {
    if (!IsOpen()) {
        OpenDevice();
    }
    if (!IsOpen() || (state_.load() & dsActive)) {
        return;
    }
    try {
        recordedBytes_ = 0;
        lastPosition_ = 0;
        wrapCount_ = 0;
        wrapSpan_ = 0;
        recordPosition_.store(0);
        inDevice_.store(0);
        {
            TLock guard(lock_);
            handlersRunning_ = 0;
            stopDeferred_ = false;
            stopping_ = false;
            stopPosted_ = false;
        }
        ++run_;
        byteLimit_.store(ComputeByteLimit());
        for (TMMBufferRecord* record : records_) {
            AddRecord(record);
        }
        Start();
    } catch (...) {
        ReportFailure(std::current_exception());
        state_.fetch_or(dsActive);
        CloseDevice();
        state_.store(dsClosed);
        throw;
    }
}

void TMMCustomWaveIn::AddRecord(TMMBufferRecord* record) {
    WAVEHDR& header = record->Header;
    header.dwFlags = (header.dwFlags | WHDR_PREPARED) & ~DWORD{WHDR_DONE};
    // A driver that returns an unused buffer on reset may leave the count alone; a stale
    // count would deliver old data twice.
    header.dwBytesRecorded = 0;
    inDevice_.fetch_add(1);
    const MMRESULT result = driver_.AddBuffer(handle_.load(), &header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        inDevice_.fetch_sub(1);
        Check(result, "WaveInAddBuffer");
    }
}

void TMMCustomWaveIn::PauseDevice() {
    if (!IsOpen()) {
        OpenDevice();
    }
    if (!IsOpen() || (state_.load() & dsPaused)) {
        return;
    }
    try {
        if (state_.load() & dsActive) {
            Check(driver_.Stop(handle_.load()), "WaveInPause");
        }
        Pause();
    } catch (...) {
        ReportFailure(std::current_exception());
        CloseDevice();
        throw;
    }
}

void TMMCustomWaveIn::RestartDevice() {
    const TMMDeviceState state = state_.load();
    if (!(state & dsActive) || !(state & dsPaused)) {
        return;
    }
    try {
        Check(driver_.Start(handle_.load()), "WaveInRestart");
        Restart();
    } catch (...) {
        ReportFailure(std::current_exception());
        CloseDevice();
        throw;
    }
}

void TMMCustomWaveIn::StopDevice() {
    if (!IsRunning()) {
        return;
    }
    try {
        {
            TLock guard(lock_);
            stopping_ = true;
            // Called from within our own data handler: the driver is stopped by the main
            // thread once the handler has ended and posted the stop message.
            if (handlersRunning_ > 0 && servicingThread_ == GetCurrentThreadId()) {
                stopDeferred_ = true;
                return;
            }
        }
        const HWAVEIN handle = handle_.load();
        Check(driver_.Stop(handle), "WaveInStop");
        Check(driver_.Reset(handle), "WaveInReset");
        WaitServicedAndReturned();
        FinishStop();
    } catch (...) {
        ReportFailure(std::current_exception());
        CloseDevice();
        throw;
    }
}

// The reset returns every record through the data handler; wait until they are all back and
// no handler runs any more. Where the window services the data (cmWindow, and every mode on
// the window route) the handler runs on this thread, so the wait dispatches its messages.
void TMMCustomWaveIn::WaitServicedAndReturned() {
    const auto done = [this] {
        if (thread_ && thread_->Failed()) {
            return true; // nobody is left to service what comes back
        }
        TLock guard(lock_);
        return handlersRunning_ == 0 && inDevice_.load() <= 0;
    };
    for (int i = 0; i < kStopTicks && !done(); ++i) {
        if (callBackMode_ == cmWindow || route_ == nrWindow) {
            ProcessMessagesFor(kDeviceTickMs);
        } else {
            SentMessagesTick();
        }
    }
}

void TMMCustomWaveIn::FinishStop() {
    {
        TLock guard(lock_);
        // The waits dispatch messages, so a stop message may have completed the stop already.
        if (!IsRunning()) {
            return;
        }
        if (handlersRunning_ > 0) {
            // The handler that holds the stop up posts the stop message when it ends.
            stopDeferred_ = true;
            stopPosted_ = false;
            return;
        }
        state_.fetch_and(~TMMDeviceState{dsActive | dsPaused});
        inDevice_.store(0);
        stopDeferred_ = false;
    }
    TMMCustomSoundComponent::Stop();
    if (!Destroying() && OnStop) {
        OnStop(this);
    }
    if (closeDeferred_) {
        CloseDevice();
    }
}

// A stop that failed inside a close: the run is given up so that the close can go on.
void TMMCustomWaveIn::AbandonRun() {
    {
        TLock guard(lock_);
        stopping_ = true;
        stopDeferred_ = false;
        state_.fetch_and(~TMMDeviceState{dsActive | dsPaused});
        inDevice_.store(0);
    }
    TMMCustomSoundComponent::Stop();
}

// --- chain operations ------------------------------------------------------------------------

void TMMCustomWaveIn::Open() {
    if (OnOpen) {
        OnOpen(this);
    }
}

void TMMCustomWaveIn::Close() {
    handle_.store(nullptr);
    ReleaseRecords();
    closing_ = false;
    if (!Destroying() && OnClose) {
        OnClose(this);
    }
}

void TMMCustomWaveIn::Start() {
    state_.fetch_or(dsActive);
    if (!(state_.load() & dsPaused)) {
        Check(driver_.Start(handle_.load()), "WaveInStart");
    }
    TMMCustomSoundComponent::Start();
    if (OnStart) {
        OnStart(this);
    }
}

void TMMCustomWaveIn::Pause() {
    state_.fetch_or(dsPaused);
    TMMCustomSoundComponent::Pause();
    if (OnPause) {
        OnPause(this);
    }
}

void TMMCustomWaveIn::Restart() {
    state_.fetch_and(~TMMDeviceState{dsPaused});
    TMMCustomSoundComponent::Restart();
    if (OnRestart) {
        OnRestart(this);
    }
}

void TMMCustomWaveIn::Stop() {
    StopDevice();
}

void TMMCustomWaveIn::BufferReady(PWaveHdr lpWaveHdr) {
    bool reached = false;
    const int64_t total = recordedBytes_ + lpWaveHdr->dwBytesRecorded;
    const int32_t limit = byteLimit_.load();
    if (maxRecordTime_.load() > 0 && total >= limit) {
        lpWaveHdr->dwBytesRecorded -= static_cast<DWORD>(total - limit);
        recordedBytes_ = limit;
        reached = true;
    } else {
        recordedBytes_ = total;
    }
    if (lpWaveHdr->dwBytesRecorded > 0) {
        TMMCustomSoundComponent::BufferReady(lpWaveHdr);
    }
    if (reached && !Stopping()) {
        StopDevice();
    }
}

// --- servicing side --------------------------------------------------------------------------

void CALLBACK TMMCustomWaveIn::DriverCallback(HWAVEIN handle, UINT message, DWORD_PTR instance,
                                              DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<TMMCustomWaveIn*>(instance);
    switch (message) {
    case WIM_OPEN:
        self->state_.store(dsOpen);
        break;
    case WIM_CLOSE:
        self->state_.store(dsClosed);
        break;
    case WIM_DATA:
        self->DataNotified(handle, reinterpret_cast<WAVEHDR*>(param1));
        break;
    default:
        break;
    }
}

// Runs in the driver's callback: only posting, except in cmCallback mode, whose point is to
// service the buffer right there.
void TMMCustomWaveIn::DataNotified(HWAVEIN handle, WAVEHDR* header) {
    const WPARAM wParam = reinterpret_cast<WPARAM>(handle);
    const LPARAM lParam = reinterpret_cast<LPARAM>(header);
    switch (callBackMode_) {
    case cmWindow:
        PostMessageA(window_->Handle(), MM_WIM_DATA, wParam, lParam);
        break;
    case cmThread:
        thread_->Post(MM_WIM_DATA, wParam, lParam);
        break;
    case cmCallback:
        try {
            HandleData(handle, header);
        } catch (...) {
            ServicingFailed(std::current_exception());
        }
        break;
    default:
        break;
    }
}

bool TMMCustomWaveIn::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const bool ours = reinterpret_cast<HWAVEIN>(wParam) == handle_.load();
    try {
        switch (message) {
        case MM_WIM_OPEN:
            if (!ours) {
                return false;
            }
            state_.store(dsOpen);
            return true;
        case MM_WIM_CLOSE:
            if (!ours) {
                return false;
            }
            state_.store(dsClosed);
            return true;
        case MM_WIM_DATA:
            HandleData(reinterpret_cast<HWAVEIN>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
            return true;
        case kWaveInStopMessage:
            if (ours && lParam == run_) {
                StopDevice();
            }
            return true;
        case kWaveInFailedMessage:
            CloseAfterFailure();
            return true;
        default:
            return false;
        }
    } catch (...) {
        CloseDevice();
        ShowDeviceException(std::current_exception());
        return true;
    }
}

void TMMCustomWaveIn::HandleData(HWAVEIN handle, WAVEHDR* header) {
    if (handle != handle_.load() || !EnterHandler()) {
        return;
    }
    try {
        inDevice_.fetch_sub(1);
        // While stopping, a buffer with data still goes on: the partial last one of the stop,
        // or one that was full before the stop reached the driver. Only not-stopping hands
        // the buffer back.
        const bool stopping = Stopping();
        BufferReady(header);
        if (!stopping) {
            ReadPosition();
            HandBack(header);
        }
    } catch (...) {
        ReportFailure(std::current_exception());
        LeaveHandler();
        throw;
    }
    LeaveHandler();
}

bool TMMCustomWaveIn::Stopping() {
    TLock guard(lock_);
    return stopping_;
}

bool TMMCustomWaveIn::EnterHandler() {
    TLock guard(lock_);
    if (!(state_.load() & dsActive)) {
        return false;
    }
    ++handlersRunning_;
    servicingThread_ = GetCurrentThreadId();
    return true;
}

void TMMCustomWaveIn::LeaveHandler() {
    TLock guard(lock_);
    if (--handlersRunning_ > 0) {
        return;
    }
    servicingThread_ = 0;
    if (stopDeferred_ && !stopPosted_) {
        stopPosted_ = true;
        stopping_ = true;
        PostMessageA(window_->Handle(), kWaveInStopMessage,
                     reinterpret_cast<WPARAM>(handle_.load()), run_);
    }
}

void TMMCustomWaveIn::ReadPosition() {
    const HWAVEIN handle = handle_.load();
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    Check(driver_.GetPosition(handle, &time, sizeof(time)), "WaveInGetPosition");
    uint32_t samples = time.u.sample;
    if (time.wType != TIME_SAMPLES) {
        time.wType = TIME_BYTES;
        Check(driver_.GetPosition(handle, &time, sizeof(time)), "WaveInGetPosition");
        samples = static_cast<uint32_t>(BytesToSamples(*WaveFormat(), time.u.cb));
    }
    if (samples == 0) {
        return;
    }
    if (uint64_t{samples} + 65535u <= lastPosition_) {
        wrapSpan_ = (lastPosition_ & 0xFFF00000u) | 0x000FFFFFu;
        ++wrapCount_;
    }
    lastPosition_ = samples;
    recordPosition_.store(samples + wrapCount_ * wrapSpan_);
}

void TMMCustomWaveIn::HandBack(WAVEHDR* header) {
    // Under the lock: a stop that has begun either sees this record come back through its
    // reset or keeps it from being added at all.
    TLock guard(lock_);
    if (stopping_ || stopDeferred_) {
        return;
    }
    AddRecord(BufferRecordOf(header));
}

void TMMCustomWaveIn::ServicingFailed(std::exception_ptr failure) {
    {
        TLock guard(lock_);
        if (!servicingFailure_) {
            servicingFailure_ = std::move(failure);
        }
    }
    PostMessageA(window_->Handle(), kWaveInFailedMessage, 0, 0);
}

void TMMCustomWaveIn::CloseAfterFailure() {
    std::exception_ptr failure;
    {
        TLock guard(lock_);
        failure = std::move(servicingFailure_);
        servicingFailure_ = nullptr;
    }
    if (!failure) {
        return;
    }
    CloseDevice();
    ShowDeviceException(failure);
}
