#include "generator/devices/DeviceThread.h"

TMMDeviceThread::TMMDeviceThread(UINT flushedMessage, bool readyAfterFailure)
    : flushedMessage_(flushedMessage), readyAfterFailure_(readyAfterFailure) {}

TMMDeviceThread::~TMMDeviceThread() {
    if (quit_) {
        SetEvent(quit_.Get());
    }
    TerminateAndWait();
}

bool TMMDeviceThread::Launch(TThreadPriority priority, DWORD timeoutMs) {
    priority_ = priority;
    failed_.store(false);
    ready_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    quit_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (flushedMessage_ != 0) {
        flush_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }
    if (!ready_ || !quit_ || (flushedMessage_ != 0 && !flush_) || !Start(priority)) {
        return false;
    }
    return WaitForSingleObject(ready_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool TMMDeviceThread::Quit(DWORD timeoutMs) {
    if (!quit_ || !Handle()) {
        return true;
    }
    SetEvent(quit_.Get());
    return WaitForSingleObject(ready_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool TMMDeviceThread::Flush(DWORD timeoutMs) {
    if (!flush_ || !Handle() || Failed()) {
        return true;
    }
    if (GetCurrentThreadId() == ThreadId()) {
        DropFlushedMessages();
        return true;
    }
    SetEvent(flush_.Get());
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(flush_.Get(), 0) == WAIT_OBJECT_0) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

bool TMMDeviceThread::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    return PostThreadMessageA(ThreadId(), message, wParam, lParam) != FALSE;
}

void TMMDeviceThread::DropFlushedMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, flushedMessage_, flushedMessage_, PM_REMOVE)) {
    }
}

void TMMDeviceThread::Execute() {
    SetThreadPriority(GetCurrentThread(), WindowsThreadPriority(priority_));
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // creates the queue
    SetEvent(ready_.Get());
    try {
        Loop();
    } catch (...) {
        failed_.store(true);
        HandleFailure(std::current_exception());
    }
    if (!failed_.load() || readyAfterFailure_) {
        SetEvent(ready_.Get());
    }
}

void TMMDeviceThread::Loop() {
    HANDLE events[2] = {quit_.Get(), flush_.Get()};
    const DWORD count = flush_ ? 2 : 1;
    while (!Terminated()) {
        if (flush_ && WaitForSingleObject(flush_.Get(), 0) == WAIT_OBJECT_0) {
            DropFlushedMessages();
            ResetEvent(flush_.Get());
            continue;
        }
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!HandleMessage(message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            continue;
        }
        const DWORD woken = MsgWaitForMultipleObjects(count, events, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) {
            return;
        }
    }
}
