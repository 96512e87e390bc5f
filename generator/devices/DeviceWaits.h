// The short waits of the wave devices. On the callback-function route a wait simply sleeps;
// on the window route the notifications the device waits for arrive as messages on the
// waiting thread, so the wait keeps dispatching them.
#pragma once

#include "generator/devices/DeviceSystem.h"

#include <functional>

const DWORD kDeviceTickMs = 10;

// Waits up to `ticks` ticks of 10 ms for `done`; returns its final answer. On the window
// route a tick ends early once a dispatched message has made `done` true.
bool WaitTicks(TNotifyRoute route, int ticks, const std::function<bool()>& done);

// Dispatches the calling thread's messages for up to `ms` milliseconds, or until `done`
// (when given) is true after a message.
void ProcessMessagesFor(DWORD ms, const std::function<bool()>& done = nullptr);

// Waits one tick while still running messages sent to the calling thread: a servicing thread
// that hands work to the main thread (RunInMainThread) must not stall a main thread that waits
// for it.
void SentMessagesTick();
