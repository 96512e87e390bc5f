// What the wave devices ask of the operating system beyond the wave functions themselves:
// the version test that picks the notification route and allows cmCallback, the "CallBacks"
// message box, and the application's exception handler for failures that reach a device's
// dispatcher. Each of them goes through a replaceable function so that tests can choose the
// system, read the box's text without a modal box, and collect the shown exceptions.
//
// Replace the functions only while no device is open: the servicing threads read them.
#pragma once

#include <windows.h>

#include "generator/devices/DeviceTypes.h"

#include <exception>
#include <functional>
#include <string>

struct TOSVersion {
    DWORD PlatformId; // VER_PLATFORM_WIN32_WINDOWS (the 9x family) or VER_PLATFORM_WIN32_NT
    DWORD Major;
    DWORD Minor;
};

using TOSVersionQuery = std::function<TOSVersion()>;
// The version the devices decide by; an empty query restores the system's own answer.
TOSVersion CurrentOSVersion();
void SetOSVersionQuery(TOSVersionQuery query);

// How a device's driver delivers its open, close and done/data notifications.
enum TNotifyRoute {
    nrCallbackFunction, // a callback function with the component as instance data
    nrWindow            // messages to the component's hidden window
};
TNotifyRoute NotifyRouteFor(const TOSVersion& version);
inline TNotifyRoute CurrentNotifyRoute() {
    return NotifyRouteFor(CurrentOSVersion());
}

// cmCallback runs the chain at interrupt time, which only the 9x platform of version 4.0
// tolerates.
bool CallBackModeSupported(const TOSVersion& version);

extern const char kCallBacksRefusedText[];

using TMessageBoxHook = std::function<void(const std::string& text, const std::string& caption)>;
// An empty hook restores the system's modal OK box.
void SetMessageBoxHook(TMessageBoxHook hook);
void ShowMessageBox(const std::string& text, const std::string& caption);

// Whether a device may take `mode`; refusing cmCallback shows the "CallBacks" box with the
// device class name as its caption.
bool AcceptCallBackMode(TMMCBMode mode, const std::string& caption);

using TExceptionHook = std::function<void(std::exception_ptr failure)>;
// An empty hook restores the default: the message in an error box.
void SetExceptionHook(TExceptionHook hook);
// Shows a failure that reached a device's dispatcher, as the application's handler would.
void ShowDeviceException(std::exception_ptr failure);
