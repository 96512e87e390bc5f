#include "generator/devices/DeviceWindow.h"

namespace {

const char kWindowClass[] = "TMMDeviceWindow";

void RegisterWindowClass(WNDPROC procedure) {
    WNDCLASSA windowClass{};
    if (GetClassInfoA(GetModuleHandleA(nullptr), kWindowClass, &windowClass)) {
        return;
    }
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
}

} // namespace

TDeviceWindow::TDeviceWindow(Handler handler) : handler_(std::move(handler)) {
    RegisterWindowClass(WindowProc);
    window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

TDeviceWindow::~TDeviceWindow() {
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

int TDeviceWindow::DropPending(UINT first, UINT last) {
    int dropped = 0;
    MSG message;
    while (PeekMessageA(&message, window_, first, last, PM_REMOVE)) {
        ++dropped;
    }
    return dropped;
}

LRESULT CALLBACK TDeviceWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    auto* self = reinterpret_cast<TDeviceWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (self && self->handler_(message, wParam, lParam, result)) {
        return result;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
