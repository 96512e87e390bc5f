// The stream component chain: components linked two-sided through Input and Output, the PCM
// format flowing down the links, the pull (BufferLoad) and push (BufferReady) of buffers, and
// device components that open, start and stop the chain part they own.
//
// Links, formats and buffer sizes change only on the main thread. BufferLoad and BufferReady
// run on whichever thread services the driving device; components that share data between
// that traffic and the user interface protect it themselves.
#pragma once

#include "generator/forms/Classes.h"
#include "generator/stream/MMBuffer.h"
#include "generator/stream/PCM.h"
#include "generator/stream/Win32Handles.h"

#include <atomic>
#include <functional>
#include <string>

class TMMDSPComponent;

using TMMBufferEvent = std::function<void(TComponent* Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TComponent* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

// Which end of a link a LinkChanged broadcast concerns.
enum TMMLinkSide { lsInput, lsOutput };

class TMMCustomDSPComponent : public TComponent {
public:
    using TComponent::TComponent;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
public:
    static const int kDefaultBufferSize = 2048;

    explicit TMMDSPComponent(TComponent* owner = nullptr);
    ~TMMDSPComponent() override;

    virtual void SyncFormat();
    virtual void LinkChanged(TMMDSPComponent* component, TMMLinkSide side, const std::string& name);
    virtual void SetInput(TMMDSPComponent* value);
    virtual TMMDSPComponent* Input() const { return input_; }
    virtual void SetOutput(TMMDSPComponent* value);
    virtual TMMDSPComponent* Output() const { return output_; }
    virtual void SetWaveFormat(const WAVEFORMATEX* format);
    virtual const WAVEFORMATEX* WaveFormat() const { return waveFormat_.get(); }
    virtual int BufferSize() const;
    virtual void SetBufferSize(int value);
    virtual void WaveFormatChanged(const WAVEFORMATEX* format);
    virtual void Open();
    virtual void Close();
    virtual void Start();
    virtual void Pause();
    virtual void Restart();
    virtual void Stop();
    virtual void Reset();
    virtual void Looped();
    virtual void BufferReady(PWaveHdr lpWaveHdr);
    virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);
    virtual void AttachInput(TMMDSPComponent* component, const std::string& name);
    virtual void AttachOutput(TMMDSPComponent* component, const std::string& name);
    virtual bool AcceptsInput(const TMMDSPComponent* component) const;
    virtual bool AcceptsOutput(const TMMDSPComponent* component) const;

    // Class capabilities: whether the class can have an upstream (Input) or downstream
    // (Output) partner at all.
    virtual bool HasInputSide() const { return true; }
    virtual bool HasOutputSide() const { return true; }
    virtual bool IsSoundComponent() const { return false; }

    bool Opened() const { return opened_; }
    bool Started() const { return started_; }
    bool Paused() const { return paused_; }

    void Loaded() override;

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    // Unlinks both partners and drops the format; called by the destructor, and earlier by
    // derived destructors that must still act as themselves while unlinking.
    void Unlink();
    // The real buffer size fixed at Open.
    int RealBufferSize() const { return realBufferSize_; }

    bool opened_ = false;
    bool started_ = false;
    bool paused_ = false;

private:
    bool Propagating() const { return !Loading() && !Destroying(); }

    TMMDSPComponent* input_ = nullptr;
    TMMDSPComponent* output_ = nullptr;
    TWaveFormatPtr waveFormat_;
    int nominalBufferSize_ = kDefaultBufferSize;
    int realBufferSize_ = kDefaultBufferSize;
    std::string inputLinkName_;
    std::string outputLinkName_;
    bool unlinked_ = false;
};

// A chain member that drives a sound device: its state operations run along the chain part
// it owns, from the top (or the next device above) down to the next device below.
class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    static constexpr int MapperId = -1;
    static constexpr int InvalidId = -2;

    using TMMDSPComponent::TMMDSPComponent;

    bool IsSoundComponent() const override { return true; }
    // Set during Open when another device component lies upstream.
    bool DeviceUpstream() const { return deviceUpstream_; }

    void Open() override;
    void Close() override;
    void Start() override;
    void Pause() override;
    void Restart() override;
    void Stop() override;
    void Reset() override;
    void Looped() override;

    virtual void SetNumBuffers(int value) = 0;
    virtual int NumBuffers() const = 0;
    virtual void SetDeviceID(int value) = 0;
    virtual int DeviceID() const = 0;
    virtual void SetProductName(const std::string& value) = 0;
    virtual std::string ProductName() const = 0;
    virtual void SetCallBackMode(int value) = 0;
    virtual int CallBackMode() const = 0;

private:
    using Operation = void (TMMDSPComponent::*)();
    void StopOrCloseFirstDeviceBelow(Operation operation);
    // Applies the operation to the chain part this device owns, itself excluded.
    void Propagate(Operation operation, bool opening);

    bool deviceUpstream_ = false;
};

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

int WindowsThreadPriority(TThreadPriority priority);

// Base of the devices' worker threads. Every instance is listed process-wide so that
// RunInMainThread can tell a device thread from any other. A derived class wakes its Execute
// (sets its own events) and calls TerminateAndWait in its destructor: the base destructor
// runs after the derived part, and so Execute, is gone.
class TMMDSPThread {
public:
    TMMDSPThread();
    virtual ~TMMDSPThread();
    TMMDSPThread(const TMMDSPThread&) = delete;
    TMMDSPThread& operator=(const TMMDSPThread&) = delete;

    // Creates the thread and runs Execute on it. Returns false when the system refuses.
    bool Start(TThreadPriority priority);
    // Asks Execute to end (it polls Terminated) and waits for the thread while dispatching
    // messages, so that a RunInMainThread call of the thread cannot deadlock with us.
    void TerminateAndWait();
    void SetPriority(TThreadPriority priority);

    HANDLE Handle() const { return handle_.Get(); }
    DWORD ThreadId() const { return threadId_; }
    bool Terminated() const { return terminated_.load(); }

protected:
    virtual void Execute() = 0;
    void Terminate() { terminated_.store(true); }

private:
    static DWORD WINAPI ThreadProc(void* self);

    THandle handle_;
    // Written by the creating (main) thread before the thread runs; read by RunInMainThread
    // on any thread under the thread list's lock.
    DWORD threadId_ = 0;
    // Written by the main thread, read by Execute on the worker.
    std::atomic<bool> terminated_{false};
};

// True when the calling thread is one of the listed device threads.
bool IsDeviceThread();

// Runs `procedure` on the main thread and waits for it when called from a device thread;
// otherwise calls it directly.
void RunInMainThread(const std::function<void()>& procedure);

// Creates the main thread's hand-over window; call once on the main thread before any device
// thread hands over work (the device threads' constructors call it).
void InstallMainThreadSync();
