#include "generator/devices/DeviceSystem.h"

#include <utility>

namespace {

TOSVersionQuery& OSVersionQuery() {
    static TOSVersionQuery query;
    return query;
}

TMessageBoxHook& MessageBoxHook() {
    static TMessageBoxHook hook;
    return hook;
}

TExceptionHook& ExceptionHook() {
    static TExceptionHook hook;
    return hook;
}

TOSVersion SystemOSVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    return TOSVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::string MessageOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

} // namespace

const char kCallBacksRefusedText[] = "\"CallBacks\" are called at interrupt time !\n\rThis is "
                                     "currently only supported under Windows 95";

TOSVersion CurrentOSVersion() {
    const TOSVersionQuery& query = OSVersionQuery();
    return query ? query() : SystemOSVersion();
}

void SetOSVersionQuery(TOSVersionQuery query) {
    OSVersionQuery() = std::move(query);
}

TNotifyRoute NotifyRouteFor(const TOSVersion& version) {
    if (version.PlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        return nrCallbackFunction;
    }
    const bool functionRoute = version.Major == 4 || (version.Major == 5 && version.Minor == 0) ||
                               (version.Major > 4 && version.Minor != 0);
    return functionRoute ? nrCallbackFunction : nrWindow;
}

bool CallBackModeSupported(const TOSVersion& version) {
    return version.PlatformId == VER_PLATFORM_WIN32_WINDOWS && version.Major == 4 &&
           version.Minor == 0;
}

void SetMessageBoxHook(TMessageBoxHook hook) {
    MessageBoxHook() = std::move(hook);
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
    const TMessageBoxHook& hook = MessageBoxHook();
    if (hook) {
        hook(text, caption);
        return;
    }
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool AcceptCallBackMode(TMMCBMode mode, const std::string& caption) {
    if (mode != cmCallback || CallBackModeSupported(CurrentOSVersion())) {
        return true;
    }
    ShowMessageBox(kCallBacksRefusedText, caption);
    return false;
}

void SetExceptionHook(TExceptionHook hook) {
    ExceptionHook() = std::move(hook);
}

void ShowDeviceException(std::exception_ptr failure) {
    const TExceptionHook& hook = ExceptionHook();
    if (hook) {
        hook(std::move(failure));
        return;
    }
    MessageBoxA(nullptr, MessageOf(std::move(failure)).c_str(), "Error", MB_OK | MB_ICONERROR);
}
