// TMMWaveOut plays the chain's signal on a wave-out device. It keeps a ring of buffer records
// queued in the device, fills each by pulling from its Input (BufferLoad) and, when the device
// has played one, pushes it to its Output (BufferReady) and refills it. One call on the device
// opens, starts, stops and closes the chain part it drives.
//
// Threads: the main thread calls the property setters and the device operations. The done
// handler, and with it the whole chain's buffer traffic, runs where CallBackMode says: on the
// main thread through the hidden window (cmWindow), on the output thread (cmThread) or in the
// driver callback (cmCallback). A stop or close asked for while a done handler runs is
// deferred: the handler finishes and posts the private stop message to the hidden window,
// which completes it on the main thread.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "generator/devices/DeviceSystem.h"
#include "generator/devices/DeviceTypes.h"
#include "generator/devices/DeviceWindow.h"
#include "generator/devices/DriverTable.h"
#include "generator/stream/MMAllocator.h"
#include "generator/stream/MMDSPObj.h"
#include "generator/stream/MMErrors.h"
#include "generator/stream/Win32Handles.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

class EMMWaveOutError : public EMMError {
public:
    using EMMError::EMMError;
};

// The wave-out functions the device calls, bound in its constructor (see DriverTable.h).
struct TWaveOutDriver {
    decltype(&waveOutGetNumDevs) GetNumDevs;
    decltype(&waveOutGetDevCapsA) GetDevCaps;
    decltype(&waveOutGetErrorTextA) GetErrorText;
    decltype(&waveOutOpen) Open;
    decltype(&waveOutClose) Close;
    decltype(&waveOutPrepareHeader) PrepareHeader;
    decltype(&waveOutUnprepareHeader) UnprepareHeader;
    decltype(&waveOutWrite) Write;
    decltype(&waveOutPause) Pause;
    decltype(&waveOutRestart) Restart;
    decltype(&waveOutReset) Reset;
    decltype(&waveOutGetPosition) GetPosition;

    static const TWaveOutDriver& System();
};

class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
public:
    using TMMCustomSoundComponent::TMMCustomSoundComponent;

    virtual int64_t PlayPosition() = 0;
    virtual void OpenDevice() = 0;
    virtual void CloseDevice() = 0;
    virtual void ResetDevice() = 0;
    virtual void StartDevice() = 0;
    virtual void PauseDevice() = 0;
    virtual void RestartDevice() = 0;
    virtual void StopDevice() = 0;
};

class TMMWaveOutThread;

class TMMWaveOut : public TMMCustomWaveOutComponent {
public:
    static const int kMaxBuffers = 500;
    static const int kMinBufferSize = 32;

    explicit TMMWaveOut(TComponent* owner = nullptr);
    ~TMMWaveOut() override;

    int64_t PlayPosition() override;
    void OpenDevice() override;
    void CloseDevice() override;
    void ResetDevice() override;
    void StartDevice() override;
    void PauseDevice() override;
    void RestartDevice() override;
    void StopDevice() override;
    // Fires OnError, then throws EMMWaveOutError with `message`.
    [[noreturn]] void RaiseError(const std::string& message);

    // Chain operations reach the device operations; buffers pushed into an output device are
    // not played.
    void Open() override { OpenDevice(); }
    void Close() override { CloseDevice(); }
    void Start() override { StartDevice(); }
    void Pause() override { PauseDevice(); }
    void Restart() override { RestartDevice(); }
    void Stop() override { StopDevice(); }
    void BufferReady(PWaveHdr) override {}
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void SetWaveFormat(const WAVEFORMATEX* format) override;
    void WaveFormatChanged(const WAVEFORMATEX* format) override;
    void SetBufferSize(int value) override;

    void SetNumBuffers(int value) override;
    int NumBuffers() const override { return numBuffers_; }
    void SetDeviceID(int value) override;
    int DeviceID() const override { return deviceId_; }
    void SetProductName(const std::string&) override {} // follows DeviceID
    std::string ProductName() const override { return productName_; }
    void SetCallBackMode(int value) override;
    int CallBackMode() const override { return callBackMode_; }

    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
    bool Looping() const { return looping_; }
    void SetLooping(bool value);
    uint16_t LoopCount() const { return loopCount_; }
    void SetLoopCount(uint16_t value);
    bool ShowHourGlass() const { return showHourGlass_; }
    void SetShowHourGlass(bool value) { showHourGlass_ = value; }
    bool Mapped() const { return mapped_; }
    void SetMapped(bool value) { mapped_ = value; }
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority value);

    TMMDeviceState DeviceState() const { return state_.load(); }
    // Playback devices found when the component was created.
    int NumDevs() const { return numDevs_; }
    DWORD DriverVersion() const { return driverVersion_; }
    MMRESULT LastResult() const { return lastResult_; }
    // Buffer records taken from the component's pool and not yet given back.
    int BuffersInUse() const { return pool_.BlocksInUse(); }
    // The product name of device `id`, or "" when there is no such device.
    std::string DeviceName(int id) const;

    TMMNotifyEvent OnError;
    TMMNotifyEvent OnOpen;
    TMMNotifyEvent OnStart;
    TMMNotifyEvent OnPause;
    TMMNotifyEvent OnRestart;
    TMMNotifyEvent OnStop;
    TMMNotifyEvent OnClose;
    TMMNotifyEvent OnLooping;
    // A buffer has been filled and is about to be written to the device (servicing thread).
    TMMBufferEvent OnBufferFilled;

private:
    friend class TMMWaveOutThread;

    static void CALLBACK DriverCallback(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                        DWORD_PTR param1, DWORD_PTR param2);
    void OnDriverNotification(UINT message, HWAVEOUT device, LPARAM header);
    void ForwardDone(HWAVEOUT device, LPARAM header);
    bool OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnThreadMessage(const MSG& message);
    void OnThreadFailed(std::exception_ptr failure);
    void ReportDispatchFailure(std::exception_ptr failure);

    bool IsOpen() const { return (state_.load() & dsOpen) != 0; }
    bool IsRunning() const { return (state_.load() & (dsActive | dsPaused)) != 0; }
    void Fire(const TMMNotifyEvent& event);
    void FireError();
    template <class Body, class Recover> void Guard(Body body, Recover recover);
    void Check(MMRESULT result, const char* prefix);
    std::string ErrorText(MMRESULT result) const;
    DWORD OpenFlags() const;
    void ApplyDeviceID(int value);
    void Abandon();

    void StartThread();
    void StopThread();
    void ResetRunState();
    TMMBufferRecord* PreparedRecord(int index);
    DWORD LoadBuffer(TMMBufferRecord* record);
    void QueueBuffer(TMMBufferRecord* record);
    int FillQueue();
    bool CountReturned();
    void DoneHandler();
    void ServiceReturnedBuffer();
    void EndDoneHandler();
    void FinishStop();
    void WaitForHandlerOnOtherThread();
    void DropPendingDone();
    void UnprepareAndRelease();
    MMRESULT ReadPositionSamples(DWORD& samples) const;
    void TrackPositionWrap();
    void ResetWrap();

    const TWaveOutDriver& driver_;
    const int numDevs_;

    // Properties; main thread only.
    int numBuffers_ = 10;
    int deviceId_ = 0;
    std::string productName_;
    DWORD driverVersion_ = 0;
    int callBackMode_ = cmWindow;
    TMMTimeFormats timeFormat_ = tfByte;
    bool looping_ = false;
    uint16_t loopCount_ = 0;
    bool showHourGlass_ = true;
    bool mapped_ = false;
    TThreadPriority priority_ = tpHigher;
    int requestedBufferSize_ = kDefaultBufferSize;

    // Written by the main thread while no buffer is in the device (open, close, and the
    // driver's replies inside those calls); read by the servicing code afterwards.
    HWAVEOUT handle_ = nullptr;
    TNotifyRoute route_;
    // Last device result: written by whichever thread makes the call, for diagnosis only.
    std::atomic<MMRESULT> lastResult_{MMSYSERR_NOERROR};
    // dsOpen/dsClosed come from the driver's notifications (callback thread or window);
    // dsActive/dsPaused from the main thread. Atomic read-modify-write on both sides.
    std::atomic<TMMDeviceState> state_{dsClosed};

    TMMAllocator pool_;
    // The ring and Q are written by the main thread only while no done handler can run
    // (before dsActive, after the stop completed, or while resetting); R and M by the
    // running done handler (one at a time) and by the main thread under the same rule.
    std::array<TMMBufferRecord*, kMaxBuffers> ring_{};
    int queued_ = 0;    // Q
    int ringIndex_ = 0; // R
    bool more_ = false; // M
    int loopsLeft_ = 0; // with M

    // Guards D, the played-bytes total, the position bookkeeping, and the decisions of the
    // stop handshake (forwarding a done notification, entering a done handler, deferring a
    // stop, posting the end).
    TCriticalSection lock_;
    std::atomic<int> inDevice_{0};  // D: written, not yet returned
    std::atomic<int> callbacks_{0}; // C: done handlers running; changed under lock_
    // Written and not yet passed on by a done handler. Unlike D it still counts a returned
    // buffer whose notification waits in the window's or thread's queue, so a draining
    // stream ends only after the analysis chain has seen its last buffer.
    std::atomic<int> awaiting_{0};
    // Thread of the first running done handler; written under lock_ when C leaves 0.
    std::atomic<DWORD> handlerThread_{0};
    // Flags of the stop and close handshakes, written by the main thread and the servicing
    // code; every decision that combines them with C is taken under lock_.
    std::atomic<bool> closing_{false};
    std::atomic<bool> closeDeferred_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopDeferred_{false};
    std::atomic<bool> resetting_{false};
    std::atomic<bool> endPosted_{false};
    // Run number carried by the stop message, so that a late message cannot stop a newer
    // run; written by the main thread before dsActive is set.
    std::atomic<DWORD> run_{0};

    // Played bytes and the position bookkeeping, all under lock_: the done handler updates
    // them while the main thread reads PlayPosition.
    int64_t playedBytes_ = 0;
    DWORD lastPosition_ = 0;
    int64_t wrapCount_ = 0;
    int64_t wrapSpan_ = 0;
    int64_t pausedTotal_ = 0;
    int64_t loopStart_ = 0;

    // Main thread only: created on the first open, destroyed with the component.
    std::unique_ptr<TDeviceWindow> window_;
    // cmThread: created and ended by the main thread (open/close).
    std::unique_ptr<TMMWaveOutThread> thread_;
};
