#include "generator/devices/DeviceWaits.h"

void ProcessMessagesFor(DWORD ms, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            if (done && done()) {
                return;
            }
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

bool WaitTicks(TNotifyRoute route, int ticks, const std::function<bool()>& done) {
    for (int i = 0; i < ticks; ++i) {
        if (done()) {
            return true;
        }
        if (route == nrWindow) {
            ProcessMessagesFor(kDeviceTickMs, done);
        } else {
            Sleep(kDeviceTickMs);
        }
    }
    return done();
}

void SentMessagesTick() {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kDeviceTickMs, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
