// The hidden message window of a wave device: the target of the driver's notifications on
// the window route, of the done notifications a callback forwards in cmWindow mode, and of
// the device's private stop message. It lives on the thread that creates it (the main thread).
#pragma once

#include <windows.h>

#include <functional>

class TDeviceWindow {
public:
    // Returns true when it handled the message; `result` is then the window procedure's
    // answer. Unhandled messages go to the default window procedure. The handler must not
    // let exceptions escape.
    using Handler =
        std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    explicit TDeviceWindow(Handler handler);
    ~TDeviceWindow();
    TDeviceWindow(const TDeviceWindow&) = delete;
    TDeviceWindow& operator=(const TDeviceWindow&) = delete;

    HWND Handle() const { return window_; }
    // Removes the messages first ... last that are waiting in the queue for this window and
    // returns how many there were. Only the window's own thread can do this.
    int DropPending(UINT first, UINT last);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler handler_;
    HWND window_ = nullptr;
};
