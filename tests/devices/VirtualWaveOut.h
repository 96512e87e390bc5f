// A scripted wave-out driver for the device tests. It stands behind a TWaveOutDriver table and
// behaves like a small sound card: written buffers "play" in order on a driver thread (one
// every few milliseconds while not paused), and the open, close and done notifications go
// through the route the device asked for, the callback function or messages to its window.
// Any call can be made to fail with a chosen result code, and the open and close
// notifications can be withheld.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "generator/devices/MMWavOut.h"
#include "tests/devices/ScriptedCalls.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

enum TWaveOutCall {
    woGetNumDevs,
    woGetDevCaps,
    woGetErrorText,
    woOpen,
    woClose,
    woPrepareHeader,
    woUnprepareHeader,
    woWrite,
    woPause,
    woRestart,
    woReset,
    woGetPosition,
    woQuery // waveOutOpen with WAVE_FORMAT_QUERY
};

class TVirtualWaveOut {
public:
    // Error codes the driver has no text for.
    static const MMRESULT kTextlessError = 999;

    static TVirtualWaveOut& Instance();
    static const TWaveOutDriver& Table();

    // Back to a quiet two-device card that plays every 2 ms and fails nothing.
    void Reset();

    // Script; set before the device is created or opened.
    int numDevs = 2;
    bool sendOpenNotification = true;
    bool sendCloseNotification = true;
    bool positionInBytesOnly = false;
    // Milliseconds each buffer takes to play; 0 holds every buffer until Complete().
    int msPerBuffer = 2;
    // Fails every call of `call` after `successes` successful ones, with `code`.
    void Fail(TWaveOutCall call, MMRESULT code, int successes = 0);
    void Heal(TWaveOutCall call);

    // Returns up to `count` playing buffers now (with msPerBuffer 0).
    void Complete(int count);

    int Calls(TWaveOutCall call) const;
    bool IsOpen() const;
    bool IsPaused() const;
    int Queued() const;
    DWORD LastOpenFlags() const;

private:
    struct Notify {
        UINT message;
        WAVEHDR* header;
    };

    TVirtualWaveOut() = default;
    MMRESULT Enter(TWaveOutCall call);
    void Deliver(const Notify& notify);
    void PlayLoop();
    void StopPlayer();
    WAVEHDR* TakeFront(); // with mutex_ held

    // Driver functions.
    static UINT WINAPI GetNumDevs();
    static MMRESULT WINAPI GetDevCaps(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size);
    static MMRESULT WINAPI GetErrorText(MMRESULT code, LPSTR text, UINT size);
    static MMRESULT WINAPI Open(LPHWAVEOUT device, UINT id, LPCWAVEFORMATEX format,
                                DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
    static MMRESULT WINAPI Close(HWAVEOUT device);
    static MMRESULT WINAPI PrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size);
    static MMRESULT WINAPI UnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size);
    static MMRESULT WINAPI Write(HWAVEOUT device, LPWAVEHDR header, UINT size);
    static MMRESULT WINAPI Pause(HWAVEOUT device);
    static MMRESULT WINAPI Restart(HWAVEOUT device);
    static MMRESULT WINAPI ResetDevice(HWAVEOUT device);
    static MMRESULT WINAPI GetPosition(HWAVEOUT device, LPMMTIME time, UINT size);

    // Everything below is guarded by mutex_; notifications are delivered without it, so that
    // a done handler may call the driver again.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    TScriptedCalls<TWaveOutCall> script_;
    bool open_ = false;
    bool paused_ = false;
    bool playerStop_ = false;
    int completeRequests_ = 0;
    DWORD openFlags_ = 0;
    DWORD_PTR callback_ = 0;
    DWORD_PTR instance_ = 0;
    WAVEFORMATEX format_{};
    uint64_t playedBytes_ = 0;
    std::deque<WAVEHDR*> queue_;
    std::thread player_;
    HWAVEOUT handle_ = nullptr;
    uintptr_t nextHandle_ = 0x5000;
};
