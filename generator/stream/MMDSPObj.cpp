#include "generator/stream/MMDSPObj.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace {

const size_t kMaxLinkNameLength = 20;

// Every live chain component, for the LinkChanged broadcast. Touched only on the main thread,
// where components are created, linked and destroyed.
std::unique_ptr<std::vector<TMMDSPComponent*>> gComponents;

void Register(TMMDSPComponent* component) {
    if (!gComponents) {
        gComponents = std::make_unique<std::vector<TMMDSPComponent*>>();
    }
    gComponents->push_back(component);
}

void Unregister(TMMDSPComponent* component) {
    if (!gComponents) {
        return;
    }
    auto& list = *gComponents;
    list.erase(std::remove(list.begin(), list.end(), component), list.end());
    if (list.empty()) {
        gComponents.reset();
    }
}

void BroadcastLinkChanged(TMMDSPComponent* component, TMMLinkSide side, const std::string& name) {
    if (!gComponents) {
        return;
    }
    // A copy: a receiver's reaction must not disturb the walk.
    const std::vector<TMMDSPComponent*> receivers = *gComponents;
    for (TMMDSPComponent* receiver : receivers) {
        receiver->LinkChanged(component, side, name);
    }
}

// Whether `component`'s link property called `name` points at `target`.
bool LinkRefersTo(const TMMDSPComponent* component, const std::string& name,
                  const TMMDSPComponent* target) {
    if (name == "Output") {
        return component->Output() == target;
    }
    if (name == "Input") {
        return component->Input() == target;
    }
    return false;
}

} // namespace

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {
    Register(this);
}

TMMDSPComponent::~TMMDSPComponent() {
    MarkDestroying();
    Unlink();
    Unregister(this);
}

void TMMDSPComponent::Unlink() {
    if (unlinked_) {
        return;
    }
    unlinked_ = true;
    SetInput(nullptr);
    SetOutput(nullptr);
    SetWaveFormat(nullptr);
}

void TMMDSPComponent::Notification(TComponent* component, TOperation operation) {
    TMMCustomDSPComponent::Notification(component, operation);
    if (operation != opRemove) {
        return;
    }
    if (component == input_) {
        SetInput(nullptr);
    } else if (component == output_) {
        SetOutput(nullptr);
    }
}

void TMMDSPComponent::Loaded() {
    TMMCustomDSPComponent::Loaded();
    SetWaveFormat(WaveFormat());
}

bool TMMDSPComponent::AcceptsInput(const TMMDSPComponent* component) const {
    if (!component || component == this || !component->HasOutputSide()) {
        return false;
    }
    return !Output() || Output()->AcceptsInput(component);
}

bool TMMDSPComponent::AcceptsOutput(const TMMDSPComponent* component) const {
    if (!component || component == this || !component->HasInputSide()) {
        return false;
    }
    return !Input() || Input()->AcceptsOutput(component);
}

void TMMDSPComponent::AttachInput(TMMDSPComponent* component, const std::string& name) {
    input_ = component;
    inputLinkName_ = name.substr(0, kMaxLinkNameLength);
}

void TMMDSPComponent::AttachOutput(TMMDSPComponent* component, const std::string& name) {
    output_ = component;
    outputLinkName_ = name.substr(0, kMaxLinkNameLength);
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* component, TMMLinkSide side,
                                  const std::string& name) {
    if (side == lsInput) {
        if (component == input_ && inputLinkName_ == name && LinkRefersTo(component, name, this)) {
            AttachInput(nullptr, "");
        }
    } else if (component == output_ && outputLinkName_ == name &&
               LinkRefersTo(component, name, this)) {
        AttachOutput(nullptr, "");
    }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
    if (value == input_ || (value && !AcceptsInput(value))) {
        return;
    }
    Stop();
    if (input_) {
        BroadcastLinkChanged(this, lsOutput, "Input");
        AttachInput(nullptr, "");
        WaveFormatChanged(nullptr);
    }
    if (value) {
        BroadcastLinkChanged(value, lsInput, "Output");
        AttachInput(value, "Output");
        value->AttachOutput(this, "Input");
        SyncFormat();
    }
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
    if (value == output_ || (value && !AcceptsOutput(value))) {
        return;
    }
    Stop();
    if (output_) {
        TMMDSPComponent* old = output_;
        BroadcastLinkChanged(this, lsInput, "Output");
        old->WaveFormatChanged(nullptr);
        AttachOutput(nullptr, "");
    }
    if (value) {
        BroadcastLinkChanged(value, lsOutput, "Input");
        AttachOutput(value, "Input");
        value->AttachInput(this, "Output");
        SyncFormat();
    }
}

void TMMDSPComponent::SetWaveFormat(const WAVEFORMATEX* format) {
    if (format != waveFormat_.get()) {
        if (started_) {
            Stop();
        }
        waveFormat_ = CopyWaveFormat(format);
    }
    if (Propagating() && output_) {
        output_->WaveFormatChanged(waveFormat_.get());
    }
}

void TMMDSPComponent::WaveFormatChanged(const WAVEFORMATEX* format) {
    SetWaveFormat(format);
}

void TMMDSPComponent::SyncFormat() {
    if (!Propagating()) {
        return;
    }
    if (input_) {
        WaveFormatChanged(input_->WaveFormat());
    } else if (output_) {
        output_->WaveFormatChanged(WaveFormat());
    }
}

int TMMDSPComponent::BufferSize() const {
    return opened_ ? realBufferSize_ : nominalBufferSize_;
}

void TMMDSPComponent::SetBufferSize(int value) {
    if (value == nominalBufferSize_) {
        return;
    }
    if (started_) {
        Stop();
    }
    nominalBufferSize_ = value;
}

void TMMDSPComponent::Open() {
    if (opened_) {
        return;
    }
    const WAVEFORMATEX* format = WaveFormat();
    if (format && format->nBlockAlign > 0) {
        const int align = format->nBlockAlign;
        realBufferSize_ = std::max(nominalBufferSize_ - nominalBufferSize_ % align, align);
    } else {
        realBufferSize_ = nominalBufferSize_;
    }
    opened_ = true;
    started_ = false;
    paused_ = false;
}

void TMMDSPComponent::Close() {
    opened_ = false;
}

void TMMDSPComponent::Start() {
    if (opened_ && !started_) {
        started_ = true;
    }
}

void TMMDSPComponent::Pause() {
    paused_ = true;
}

void TMMDSPComponent::Restart() {
    paused_ = false;
}

void TMMDSPComponent::Stop() {
    if (started_) {
        started_ = false;
        paused_ = false;
    }
}

void TMMDSPComponent::Reset() {}

void TMMDSPComponent::Looped() {}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (OnBufferLoad) {
        OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    }
    if (input_) {
        input_->BufferLoad(lpWaveHdr, MoreBuffers);
    }
}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
    if (OnBufferReady) {
        OnBufferReady(this, lpWaveHdr);
    }
    if (output_) {
        output_->BufferReady(lpWaveHdr);
    }
}

// --- device components -------------------------------------------------------------------

void TMMCustomSoundComponent::StopOrCloseFirstDeviceBelow(Operation operation) {
    for (TMMDSPComponent* c = Output(); c; c = c->Output()) {
        if (c->IsSoundComponent()) {
            (c->*operation)();
            return;
        }
    }
}

void TMMCustomSoundComponent::Propagate(Operation operation, bool opening) {
    if (opening) {
        deviceUpstream_ = false;
    }
    TMMDSPComponent* start = this;
    for (TMMDSPComponent* c = Input(); c; c = c->Input()) {
        if (c->IsSoundComponent()) {
            start = this;
            deviceUpstream_ = opening;
            break;
        }
        start = c;
    }
    const int size = BufferSize();
    for (TMMDSPComponent* c = start; c; c = c->Output()) {
        if (c == this) {
            continue;
        }
        if (opening) {
            c->SetBufferSize(size);
        }
        (c->*operation)();
        if (c->IsSoundComponent()) {
            break;
        }
    }
}

void TMMCustomSoundComponent::Open() {
    Propagate(&TMMDSPComponent::Open, true);
    TMMDSPComponent::Open();
}

void TMMCustomSoundComponent::Close() {
    StopOrCloseFirstDeviceBelow(&TMMDSPComponent::Close);
    Propagate(&TMMDSPComponent::Close, false);
    TMMDSPComponent::Close();
}

void TMMCustomSoundComponent::Start() {
    Propagate(&TMMDSPComponent::Start, false);
    TMMDSPComponent::Start();
}

void TMMCustomSoundComponent::Pause() {
    Propagate(&TMMDSPComponent::Pause, false);
    TMMDSPComponent::Pause();
}

void TMMCustomSoundComponent::Restart() {
    Propagate(&TMMDSPComponent::Restart, false);
    TMMDSPComponent::Restart();
}

void TMMCustomSoundComponent::Stop() {
    StopOrCloseFirstDeviceBelow(&TMMDSPComponent::Stop);
    Propagate(&TMMDSPComponent::Stop, false);
    TMMDSPComponent::Stop();
}

void TMMCustomSoundComponent::Reset() {
    Propagate(&TMMDSPComponent::Reset, false);
    TMMDSPComponent::Reset();
}

void TMMCustomSoundComponent::Looped() {
    Propagate(&TMMDSPComponent::Looped, false);
    TMMDSPComponent::Looped();
}

// --- device threads ----------------------------------------------------------------------

int WindowsThreadPriority(TThreadPriority priority) {
    static const int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                      THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                      THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                      THREAD_PRIORITY_TIME_CRITICAL};
    return kPriorities[priority];
}

namespace {

// The live device threads. Threads are created and destroyed on the main thread, but
// IsDeviceThread runs on any thread, so the list is guarded.
TCriticalSection& ThreadListLock() {
    static TCriticalSection lock;
    return lock;
}
std::unique_ptr<std::vector<TMMDSPThread*>> gThreads;

const UINT kRunProcedureMessage = WM_APP + 100;
const char kSyncWindowClass[] = "TMMMainThreadSync";
// Created once on the main thread; read by device threads only after a device thread exists,
// which its constructor on the main thread guarantees.
HWND gSyncWindow = nullptr;

struct HandOver {
    const std::function<void()>* procedure;
    std::exception_ptr failure;
};

LRESULT CALLBACK SyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunProcedureMessage) {
        auto* handOver = reinterpret_cast<HandOver*>(lParam);
        try {
            (*handOver->procedure)();
        } catch (...) {
            handOver->failure = std::current_exception();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

void InstallMainThreadSync() {
    if (gSyncWindow) {
        return;
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = SyncWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kSyncWindowClass;
    RegisterClassA(&windowClass);
    gSyncWindow = CreateWindowExA(0, kSyncWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
}

bool IsDeviceThread() {
    const DWORD self = GetCurrentThreadId();
    TLock guard(ThreadListLock());
    if (!gThreads) {
        return false;
    }
    for (const TMMDSPThread* thread : *gThreads) {
        if (thread->ThreadId() == self) {
            return true;
        }
    }
    return false;
}

void RunInMainThread(const std::function<void()>& procedure) {
    if (!IsDeviceThread() || !gSyncWindow) {
        procedure();
        return;
    }
    // SendMessage blocks until the main thread has run the procedure: the same wait the
    // class library's synchronise gives, and the procedure's exception comes back to us.
    HandOver handOver{&procedure, nullptr};
    SendMessageA(gSyncWindow, kRunProcedureMessage, 0, reinterpret_cast<LPARAM>(&handOver));
    if (handOver.failure) {
        std::rethrow_exception(handOver.failure);
    }
}

TMMDSPThread::TMMDSPThread() {
    InstallMainThreadSync();
    TLock guard(ThreadListLock());
    if (!gThreads) {
        gThreads = std::make_unique<std::vector<TMMDSPThread*>>();
    }
    gThreads->push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
    TerminateAndWait();
    TLock guard(ThreadListLock());
    if (!gThreads) {
        return;
    }
    gThreads->erase(std::remove(gThreads->begin(), gThreads->end(), this), gThreads->end());
    if (gThreads->empty()) {
        gThreads.reset();
    }
}

DWORD WINAPI TMMDSPThread::ThreadProc(void* self) {
    static_cast<TMMDSPThread*>(self)->Execute();
    return 0;
}

bool TMMDSPThread::Start(TThreadPriority priority) {
    if (handle_) {
        return true;
    }
    terminated_.store(false);
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &id);
    if (!handle) {
        return false;
    }
    {
        TLock guard(ThreadListLock());
        threadId_ = id;
    }
    handle_.Reset(handle);
    SetPriority(priority);
    ResumeThread(handle);
    return true;
}

void TMMDSPThread::SetPriority(TThreadPriority priority) {
    if (handle_) {
        SetThreadPriority(handle_.Get(), WindowsThreadPriority(priority));
    }
}

void TMMDSPThread::TerminateAndWait() {
    if (!handle_) {
        return;
    }
    Terminate();
    // Only sent messages are handled while we wait: that is what a RunInMainThread call of
    // the thread needs, and nothing else of the caller's can run in between.
    HANDLE handle = handle_.Get();
    while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) !=
           WAIT_OBJECT_0) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    handle_.Reset();
    TLock guard(ThreadListLock());
    threadId_ = 0;
}
