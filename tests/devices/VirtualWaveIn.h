// A scripted wave-in driver for the device tests. It stands behind a TWaveInDriver table and
// behaves like a small sound card input: while started it fills the queued buffers in order
// with a known byte pattern on a driver thread of its own, and the open, close and data
// notifications go through the route the device asked for (the callback function or messages
// to its window). waveInStop returns the partly filled current buffer and waveInReset every
// queued one; both wait until the driver thread has delivered those notifications, as a
// driver that services its clients on its own thread does. Any call can be made to fail with
// a chosen code, and the open and close notifications can be withheld.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "generator/devices/MMWavIn.h"
#include "tests/devices/ScriptedCalls.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

enum TWaveInCall {
    wiGetNumDevs,
    wiGetDevCaps,
    wiGetErrorText,
    wiOpen,
    wiClose,
    wiPrepareHeader,
    wiUnprepareHeader,
    wiAddBuffer,
    wiStart,
    wiStop,
    wiReset,
    wiGetPosition,
    wiGetID,
    wiQuery // waveInOpen with WAVE_FORMAT_QUERY
};

class TVirtualWaveIn {
public:
    // An error code the driver has no text for.
    static const MMRESULT kTextlessError = 999;

    static TVirtualWaveIn& Instance();
    static const TWaveInDriver& Table();
    // The byte the card records at stream position `index` (counted from the open).
    static uint8_t PatternByte(uint64_t index) { return static_cast<uint8_t>(index % 251); }

    // Back to a quiet two-device card that offers every standard format, fills a buffer every
    // 2 ms and fails nothing. Only while no device is open.
    void Reset();

    // Script; set before the device is created or opened.
    int numDevs = 2;
    DWORD formats = 0xFFFFF;
    bool sendOpenNotification = true;
    bool sendCloseNotification = true;
    bool positionInBytesOnly = false;
    // Milliseconds per recorded buffer; 0 records only what Record() asks for.
    int msPerBuffer = 2;
    // Fails every call of `call` after `successes` successful ones, with `code`.
    void Fail(TWaveInCall call, MMRESULT code, int successes = 0);

    // Records `bytes` more into the queued buffers now (while started); full buffers are
    // returned. Waits until their notifications are delivered.
    void Record(DWORD bytes);

    int Calls(TWaveInCall call) const;
    bool IsOpen() const;
    bool IsStarted() const;
    int Queued() const;
    int Prepared() const;
    DWORD LastOpenFlags() const;
    // Bytes recorded into buffers since the open.
    uint64_t BytesRecorded() const;

private:
    struct Notify {
        UINT message;
        WAVEHDR* header;
    };

    TVirtualWaveIn() = default;
    MMRESULT Enter(TWaveInCall call);
    bool ValidHandle(HWAVEIN handle) const;
    // The following run with mutex_ held.
    void Push(UINT message, WAVEHDR* header);
    void ReturnHead();
    void FillQueued(uint64_t bytes);
    void WaitDelivered(std::unique_lock<std::mutex>& lock);
    void Deliver(const Notify& notify);
    void Run();

    static UINT WINAPI GetNumDevs();
    static MMRESULT WINAPI GetDevCaps(UINT_PTR id, LPWAVEINCAPSA caps, UINT size);
    static MMRESULT WINAPI GetErrorText(MMRESULT error, LPSTR text, UINT size);
    static MMRESULT WINAPI Open(LPHWAVEIN handle, UINT id, LPCWAVEFORMATEX format,
                                DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
    static MMRESULT WINAPI Close(HWAVEIN handle);
    static MMRESULT WINAPI PrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size);
    static MMRESULT WINAPI UnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size);
    static MMRESULT WINAPI AddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size);
    static MMRESULT WINAPI Start(HWAVEIN handle);
    static MMRESULT WINAPI Stop(HWAVEIN handle);
    static MMRESULT WINAPI ResetDevice(HWAVEIN handle);
    static MMRESULT WINAPI GetPosition(HWAVEIN handle, LPMMTIME time, UINT size);
    static MMRESULT WINAPI GetID(HWAVEIN handle, LPUINT id);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable delivered_;
    std::thread thread_;
    DWORD threadId_ = 0;

    TScriptedCalls<TWaveInCall> script_;
    std::deque<Notify> pending_;
    uint64_t pushedCount_ = 0;
    uint64_t deliveredCount_ = 0;
    std::deque<WAVEHDR*> queue_;
    std::set<WAVEHDR*> prepared_;
    bool open_ = false;
    bool started_ = false;
    bool quit_ = false;
    DWORD openFlags_ = 0;
    DWORD_PTR callback_ = 0;
    DWORD_PTR instance_ = 0;
    HWAVEIN handle_ = nullptr;
    uintptr_t generation_ = 0;
    WAVEFORMATEX format_{};
    uint64_t recorded_ = 0;
};
