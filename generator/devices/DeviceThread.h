// The worker thread of a wave device in cmThread mode. The device's driver callback posts the
// done/data notifications to this thread's message queue; the thread runs the device's
// handler for each of them at its own priority.
//
// Handshake with the device (main thread):
//  - Launch creates the events, starts the thread and waits for "ready", which the thread
//    signals once its message queue exists (notifications posted earlier would be lost).
//  - Quit sets "quit" and waits for "ready", which the thread signals again on its way out.
//  - Flush (optional, for queue rebuilds) sets "flush"; the thread drops every queued
//    notification of the flushed kind and resets the event; Flush waits for that reset.
#pragma once

#include <windows.h>

#include "generator/stream/MMDSPObj.h"
#include "generator/stream/Win32Handles.h"

#include <atomic>
#include <exception>

class TMMDeviceThread : public TMMDSPThread {
public:
    // `flushedMessage` 0 means the thread has no flush event. `readyAfterFailure` says
    // whether the thread signals "ready" on its way out after its handler failed.
    TMMDeviceThread(UINT flushedMessage, bool readyAfterFailure);
    ~TMMDeviceThread() override;

    // False when the thread could not be created or was not ready within `timeoutMs`.
    bool Launch(TThreadPriority priority, DWORD timeoutMs);
    // False when "ready" did not come within `timeoutMs`.
    bool Quit(DWORD timeoutMs);
    // False when the thread did not finish the flush within `timeoutMs`.
    bool Flush(DWORD timeoutMs);
    bool Post(UINT message, WPARAM wParam, LPARAM lParam) const;
    // True once the handler has failed and the loop ended.
    bool Failed() const { return failed_.load(); }

protected:
    // Runs one message taken from the queue on the thread; false lets it be dispatched
    // normally. Exceptions end the loop and go to HandleFailure.
    virtual bool HandleMessage(const MSG& message) = 0;
    // Called on the thread after HandleMessage threw; the thread ends afterwards.
    virtual void HandleFailure(std::exception_ptr failure) = 0;

private:
    void Execute() override;
    void Loop();
    void DropFlushedMessages();

    const UINT flushedMessage_;
    const bool readyAfterFailure_;
    TThreadPriority priority_ = tpNormal;
    // The events are created by Launch before the thread runs and closed by the destructor
    // after it has ended; both threads only signal and wait on them in between.
    THandle ready_;
    THandle quit_;
    THandle flush_;
    // Written by the thread when its handler fails; read by the device on any thread.
    std::atomic<bool> failed_{false};
};
