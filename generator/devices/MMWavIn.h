// The wave input device: records from a sound card input through the wave-in driver functions
// and pushes every recorded buffer down its Output. It has no Input.
//
// Threads. The main thread changes properties and runs the device operations. The data
// handler (and with it the whole chain below) runs on the servicing thread that CallBackMode
// chooses: the main thread through the hidden window (cmWindow), the driver's callback
// (cmCallback) or the input thread (cmThread). A stop asked for while a data handler runs is
// deferred: the handler's end posts the private stop message and the main thread finishes it.
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

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

class EMMWaveInError : public EMMError {
public:
    using EMMError::EMMError;
};

// The thirteen wave-in functions the device calls; System() is winmm itself.
struct TWaveInDriver {
    decltype(&waveInGetNumDevs) GetNumDevs;
    decltype(&waveInGetDevCapsA) GetDevCaps;
    decltype(&waveInGetErrorTextA) GetErrorText;
    decltype(&waveInOpen) Open;
    decltype(&waveInClose) Close;
    decltype(&waveInPrepareHeader) PrepareHeader;
    decltype(&waveInUnprepareHeader) UnprepareHeader;
    decltype(&waveInAddBuffer) AddBuffer;
    decltype(&waveInStart) Start;
    decltype(&waveInStop) Stop;
    decltype(&waveInReset) Reset;
    decltype(&waveInGetPosition) GetPosition;
    decltype(&waveInGetID) GetID;

    static const TWaveInDriver& System();
};

class TMMWaveInThread;

class TMMCustomWaveIn : public TMMCustomSoundComponent {
public:
    static const int kMaxNumBuffers = 4096;

    explicit TMMCustomWaveIn(TComponent* owner = nullptr);
    ~TMMCustomWaveIn() override;

    // --- device operations (main thread) ---
    virtual void RaiseError(const std::string& message);
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void StartDevice();
    virtual void PauseDevice();
    virtual void RestartDevice();
    virtual void StopDevice();

    // --- properties ---
    void SetBufferSize(int value) override;
    void SetNumBuffers(int value) override;
    int NumBuffers() const override { return numBuffers_; }
    void SetDeviceID(TMMDeviceId value) override;
    TMMDeviceId DeviceID() const override { return deviceId_; }
    // Read-only: follows DeviceID.
    void SetProductName(const std::string&) override {}
    std::string ProductName() const override { return productName_; }
    void SetCallBackMode(int value) override;
    int CallBackMode() const override { return callBackMode_; }
    TMMMode Mode() const;
    void SetMode(TMMMode value);
    int Channels() const { return channels_; }
    void SetChannels(int value);
    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits value);
    int SampleRate() const { return sampleRate_; }
    void SetSampleRate(int value);
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value);
    int32_t MaxRecordTime() const { return maxRecordTime_.load(); }
    void SetMaxRecordTime(int32_t value);
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority value);

    TMMDeviceState DeviceState() const { return state_.load(); }
    // Buffer records taken from the pool and not given back; 0 whenever the device is closed.
    int BuffersInUse() const { return pool_.BlocksInUse(); }
    // Name of input device `id`, or "" when the id is outside -1 ... count - 1 or the driver
    // cannot describe it.
    std::string DeviceName(TMMDeviceId id) const;
    // The driver's recording position, in samples, at the last buffer handed back (wraps of
    // the driver's counter included). Written by the servicing thread; a readout only.
    int64_t RecordPosition() const { return recordPosition_.load(); }

    void SetWaveFormat(const WAVEFORMATEX* format) override;
    bool HasInputSide() const override { return false; }

    // --- chain operations: run by the device operations, not forwarded to them ---
    void Open() override;
    void Close() override;
    void Start() override;
    void Pause() override;
    void Restart() override;
    void Stop() override;
    // Counts the bytes against the record limit, shortens the buffer that crosses it, and
    // passes the buffer on; runs on the servicing thread.
    void BufferReady(PWaveHdr lpWaveHdr) override;

    TMMNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;

protected:
    // Fills the driver table; a derived constructor calls it (it needs the final class).
    virtual void BindDriver() = 0;
    // Takes `driver` as the table of every device call, counts the devices and selects
    // device 0.
    void UseDriver(const TWaveInDriver& driver);

private:
    friend class TMMWaveInThread;
    static void CALLBACK DriverCallback(HWAVEIN handle, UINT message, DWORD_PTR instance,
                                        DWORD_PTR param1, DWORD_PTR param2);

    [[noreturn]] void Fail(const std::string& message) const;
    void Check(MMRESULT result, const char* prefix) const;
    std::string ErrorText(MMRESULT result) const;
    // Fires OnError once per failure, however many operations the failure passes through.
    void ReportFailure(std::exception_ptr failure);
    void RefuseWhileOpen();
    bool IsOpen() const { return (state_.load() & dsOpen) != 0; }
    bool IsRunning() const { return (state_.load() & (dsActive | dsPaused)) != 0; }
    void SelectDevice(TMMDeviceId value);
    bool CanRecord(const WAVEFORMATEX* format) const;
    void RebuildFormat();
    int32_t ComputeByteLimit() const;

    void OpenDriver();
    void StartThread();
    void StopThread();
    void AllocateRecords();
    void ReleaseRecords();
    void UnprepareRecords();
    // Hands a record to the driver; the caller holds lock_ or is the only thread touching D.
    void AddRecord(TMMBufferRecord* record);
    void WaitServicedAndReturned();
    void FinishStop();
    void AbandonRun();

    // --- servicing side ---
    bool HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void DataNotified(HWAVEIN handle, WAVEHDR* header);
    void HandleData(HWAVEIN handle, WAVEHDR* header);
    bool Stopping();
    bool EnterHandler();
    void LeaveHandler();
    void HandBack(WAVEHDR* header);
    void ReadPosition();
    // The servicing thread hands a failure to the main thread, which closes and reports.
    void ServicingFailed(std::exception_ptr failure);
    void CloseAfterFailure();

    TWaveInDriver driver_{};
    int deviceCount_ = 0;
    TMMDeviceId deviceId_ = 0;
    std::string productName_;
    int numBuffers_ = 10;
    TMMBits bitLength_ = b8Bit;
    int channels_ = 1;
    int sampleRate_ = 11025;
    TMMTimeFormats timeFormat_ = tfByte;
    TThreadPriority priority_ = tpHigher;
    // Main-thread values the servicing side reads only while the device is open; they cannot
    // change then (the setters refuse), and opening the driver orders the hand-over.
    int callBackMode_ = cmWindow;
    TNotifyRoute route_ = nrCallbackFunction;
    // Written by the main thread; read by the servicing thread in BufferReady.
    std::atomic<int32_t> maxRecordTime_{-1};
    std::atomic<int32_t> byteLimit_{INT32_MAX};

    // Written by the main thread (operations) and by the driver callback (open and close
    // notifications, any thread); read by every side.
    std::atomic<TMMDeviceState> state_{dsClosed};
    // Written by the main thread while no notification can refer to it (before the first
    // buffer is added, after the last came back); read by the servicing side to tell this
    // device's notifications apart.
    std::atomic<HWAVEIN> handle_{nullptr};
    // Which run a posted stop message belongs to: counted up by the main thread at start,
    // before the first buffer goes to the driver; read by the servicing side when it posts.
    LPARAM run_ = 0;

    TMMAllocator pool_;
    // Filled and emptied by the main thread while the device is closed or stopped; the
    // servicing side only receives pointers to them through the driver.
    std::vector<TMMBufferRecord*> records_;

    // lock_ makes the stop handshake safe: the main thread sets stopping_ and decides to defer
    // (C > 0) under it, and the servicing side counts C, checks stopping_ before handing a
    // record back, and posts the deferred stop under it.
    TCriticalSection lock_;
    int handlersRunning_ = 0;             // C; guarded by lock_
    DWORD servicingThread_ = 0;           // thread inside the data handler; guarded by lock_
    bool stopping_ = false;               // guarded by lock_
    bool stopDeferred_ = false;           // guarded by lock_
    bool stopPosted_ = false;             // guarded by lock_
    std::atomic<int> inDevice_{0};        // D: records handed to the driver and not yet back
    std::exception_ptr servicingFailure_; // guarded by lock_; taken by the main thread
    std::exception_ptr lastReported_;     // the failure OnError last fired for; lock_

    // Written by the main thread, and by the servicing thread when the chain asks for a close
    // from inside the data handler; that close is then deferred, and the stop message hands
    // the rest to the main thread.
    bool closing_ = false;
    bool closeDeferred_ = false;

    // Reset by the main thread at start, before the first buffer goes to the driver; then
    // written only by the servicing thread.
    int64_t recordedBytes_ = 0;
    uint32_t lastPosition_ = 0;
    int64_t wrapCount_ = 0;
    int64_t wrapSpan_ = 0;
    std::atomic<int64_t> recordPosition_{0};

    std::unique_ptr<TDeviceWindow> window_;
    std::unique_ptr<TMMWaveInThread> thread_;
};

class TMMWaveIn : public TMMCustomWaveIn {
public:
    explicit TMMWaveIn(TComponent* owner = nullptr);

protected:
    // Binds the installed driver table (tests install a virtual driver), else winmm.
    void BindDriver() override;
};
