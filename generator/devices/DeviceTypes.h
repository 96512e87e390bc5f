// Types shared by the wave output and wave input devices: callback modes, device ids, the
// device state set, time formats, notify events and the private stop messages of the devices'
// hidden windows.
#pragma once

#include <windows.h>

#include "generator/forms/Classes.h"

#include <functional>

// Where the buffer traffic of a device runs: on the main thread through the device's hidden
// window, in the driver's callback, or on the device's own worker thread.
enum TMMCBMode { cmWindow, cmCallback, cmThread };

// A wave device number, or MapperId (-1) / InvalidId (-2) of TMMCustomSoundComponent.
using TMMDeviceId = int;

// DeviceState is a set of these flags.
enum TMMDeviceStateFlag : unsigned { dsClosed = 1, dsOpen = 2, dsActive = 4, dsPaused = 8 };
using TMMDeviceState = unsigned;

enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

using TMMNotifyEvent = std::function<void(TComponent* Sender)>;

// Posted to a device's hidden window when its servicing code wants the main thread to finish
// a stop (wParam = device handle, lParam = the run it belongs to).
const UINT kWaveOutStopMessage = WM_APP + 1;
const UINT kWaveInStopMessage = WM_APP + 2;
