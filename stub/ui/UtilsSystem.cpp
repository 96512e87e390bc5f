// Hooks, the clock and waits, and the utility table's system queries.
#include "stub/ui/Utils.h"

#include <shellapi.h>

#include <vector>

namespace Utils {

namespace {

DateTime SystemLocalTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    DateTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    return t;
}

// 1000 / counter frequency, worked out once.
double CounterMilliseconds() {
    static const double factor = [] {
        LARGE_INTEGER frequency;
        return QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0
                   ? 1000.0 / static_cast<double>(frequency.QuadPart)
                   : 0.0;
    }();
    if (factor == 0.0) {
        return static_cast<double>(GetTickCount());
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * factor;
}

std::string SystemProgramPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

// The folder a system call writes into a 261-character buffer, without trailing backslash.
template <class Query> std::string SystemFolderFrom(Query query) {
    char buffer[261] = {};
    const UINT length = query(buffer, 261);
    if (length == 0 || length >= 261) {
        return std::string();
    }
    return RemoveBackslash(std::string(buffer, length));
}

std::string SystemTempFolder() {
    return SystemFolderFrom([](char* b, UINT n) { return static_cast<UINT>(GetTempPathA(n, b)); });
}

const SystemHooks kDefaultHooks = {SystemLocalTime, CounterMilliseconds, SystemProgramPath,
                                   SystemTempFolder};

SystemHooks hooks = kDefaultHooks;

bool IsLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != FALSE;
}

std::string WithBackslash(const std::string& folder, bool trailingBackslash) {
    return trailingBackslash ? AddBackslash(folder) : RemoveBackslash(folder);
}

char LocaleSeparator(LCTYPE type, char def) {
    char text[8] = {};
    return GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text) > 1 ? text[0] : def;
}

int ScreenPixelsPerInch() {
    static const int ppi = [] {
        HDC screen = GetDC(nullptr);
        const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) {
            ReleaseDC(nullptr, screen);
        }
        return value > 0 ? value : 96;
    }();
    return ppi;
}

bool IsWindowsNT() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string CurrentVersionKey() {
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    return IsWindowsNT() ? ReplaceAll(key, "\\Windows\\", "\\Windows NT\\") : key;
}

UINT autoPlayMessage = 0;

} // namespace

SystemHooks& Hooks() {
    return hooks;
}

void RestoreDefaultHooks() {
    hooks = kDefaultHooks;
}

// ---- Time and waits

double Milliseconds() {
    return hooks.milliseconds();
}

void WaitWithMessages(int step, int milliseconds) {
    if (step <= 0) {
        step = milliseconds / 10;
        step = step < 1 ? 1 : (step > 25 ? 25 : step);
    }
    // A quit request pulled from the queue here is posted again, so the message loop that
    // called us still ends.
    bool quit = false;
    WPARAM quitCode = 0;
    const double start = Milliseconds();
    while (Milliseconds() - start < milliseconds) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT && msg.hwnd == nullptr) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(static_cast<DWORD>(step));
    }
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
}

DateTime Now() {
    return hooks.localTime();
}

char DateSeparator() {
    return LocaleSeparator(LOCALE_SDATE, '/');
}

char TimeSeparator() {
    return LocaleSeparator(LOCALE_STIME, ':');
}

std::string LongDateNow(bool withTime) {
    return FormatLongDate(Now(), withTime);
}

std::string ShortDateTimeNow(bool fourDigitYear) {
    return FormatShortDateTime(Now(), fourDigitYear, DateSeparator(), TimeSeparator());
}

// ---- Program and system folders

std::string ProgramPath() {
    return hooks.programPath();
}

std::string ProgramFolder(bool trailingBackslash) {
    return WithBackslash(FolderOfPath(ProgramPath()), trailingBackslash);
}

std::string ProgramName(bool allExtensions) {
    return NameWithoutExtension(ProgramPath(), allExtensions);
}

std::string WindowsFolder(bool trailingBackslash) {
    return WithBackslash(SystemFolderFrom(GetWindowsDirectoryA), trailingBackslash);
}

std::string SystemFolder(bool trailingBackslash) {
    return WithBackslash(SystemFolderFrom(GetSystemDirectoryA), trailingBackslash);
}

std::string TempFolder(bool trailingBackslash) {
    return WithBackslash(hooks.tempFolder(), trailingBackslash);
}

std::string AddBackslash(const std::string& path) {
    return AddTrailingBackslash(path, IsLeadByte);
}

std::string RemoveBackslash(const std::string& path) {
    return RemoveTrailingBackslash(path, IsLeadByte);
}

// ---- Disks

std::int64_t FreeDiskSpace(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    const std::string root = std::string(1, path[0]) + ":\\";
    using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    static const FreeSpaceEx freeSpaceEx = reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")));
    if (freeSpaceEx) {
        ULARGE_INTEGER available, total, totalFree;
        if (!freeSpaceEx(root.c_str(), &available, &total, &totalFree)) {
            return -1;
        }
        return static_cast<std::int64_t>(available.QuadPart);
    }
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &clusters)) {
        return -1;
    }
    return static_cast<std::int64_t>(sectors) * bytes * freeClusters;
}

std::uint32_t ClusterSize(const std::string& path) {
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceA(path.substr(0, 3).c_str(), &sectors, &bytes, &freeClusters, &clusters)) {
        return 0;
    }
    return sectors * bytes;
}

// ---- Names

std::string UserName() {
    char name[256] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? TrimText(name) : std::string();
}

std::string ComputerName() {
    char name[256] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? TrimText(name) : std::string();
}

std::string DomainName() {
    const std::string user = UserName();
    if (user.empty()) {
        return std::string();
    }
    DWORD sidSize = 0, domainSize = 0;
    SID_NAME_USE use;
    LookupAccountNameA(nullptr, user.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0 || domainSize == 0) {
        return std::string();
    }
    std::vector<BYTE> sid(sidSize);
    std::vector<char> domain(domainSize + 1);
    if (!LookupAccountNameA(nullptr, user.c_str(), sid.data(), &sidSize, domain.data(), &domainSize,
                            &use)) {
        return std::string();
    }
    return domain.data();
}

std::string RegisteredOwner() {
    return ReadRegistryValue(CurrentVersionKey(), "RegisteredOwner", UserName());
}

std::string RegisteredOrganization() {
    return ReadRegistryValue(CurrentVersionKey(), "RegisteredOrganization", "");
}

// ---- Windows, errors, shell

std::string WindowText(HWND window) {
    char text[1025] = {};
    const int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string LastErrorText() {
    const DWORD code = GetLastError();
    try {
        char* buffer = nullptr;
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
        std::string text = buffer ? std::string(buffer, length) : std::string();
        if (buffer) {
            LocalFree(buffer);
        }
        while (!text.empty() &&
               (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
            text.pop_back();
        }
        return text;
    } catch (...) {
        return "Error Reading \"SysUtils.SysErrorMessage(GetLastError)\"";
    }
}

int FontHeight(int points) {
    return MulDiv(points, ScreenPixelsPerInch(), 72);
}

POINT CenteredPosition(int width, int height) {
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    POINT p;
    p.x = area.left + (area.right - area.left - width) / 2;
    p.y = area.top + (area.bottom - area.top - height) / 2;
    return p;
}

bool OpenDocument(const std::string& document) {
    const HINSTANCE result = ShellExecuteA(GetDesktopWindow(), "open", document.c_str(), nullptr,
                                           nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

std::string FileVersion(const std::string& path) {
    const std::string file = path.empty() ? ProgramPath() : path;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    if (size == 0) {
        return std::string();
    }
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::string();
    }
    return FormatVersion(info->dwFileVersionMS, info->dwFileVersionLS);
}

void SuppressAutoPlay() {
    autoPlayMessage = RegisterWindowMessageA("QueryCancelAutoPlay");
}

UINT AutoPlayMessage() {
    return autoPlayMessage;
}

} // namespace Utils
