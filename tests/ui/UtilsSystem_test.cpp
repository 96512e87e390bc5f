#include "stub/ui/Utils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Hooked : public ::testing::Test {
protected:
    void TearDown() override { Utils::RestoreDefaultHooks(); }
};

// A clock that moves 5 ms every time it is read, so waits end after a known number of rounds.
double fakeNow = 0;
double FakeClock() {
    fakeNow += 5;
    return fakeNow;
}

int dispatched = 0;
LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 7) {
        ++dispatched;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Hooked, WaitWithMessagesDispatchesAndKeepsQuitRequests) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UiWaitTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("UiWaitTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    Utils::Hooks().milliseconds = FakeClock;
    dispatched = 0;
    for (int i = 0; i < 3; ++i) {
        PostMessageA(window, WM_APP + 7, 0, 0);
    }
    PostQuitMessage(9);
    Utils::WaitWithMessages(1, 20);
    EXPECT_EQ(dispatched, 3);

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 9u);
    DestroyWindow(window);
    UnregisterClassA("UiWaitTest", wc.hInstance);
}

TEST_F(Hooked, DatesComeFromTheClockHook) {
    Utils::Hooks().localTime = [] { return Utils::DateTime{2007, 3, 14, 15, 9, 26}; };
    EXPECT_EQ(Utils::LongDateNow(true), "14-MAR-2007 15:09:26");
    const std::string d(1, Utils::DateSeparator()), t(1, Utils::TimeSeparator());
    EXPECT_EQ(Utils::ShortDateTimeNow(true), "14" + d + "03" + d + "2007 15" + t + "09" + t + "26");
}

TEST_F(Hooked, ProgramAndSystemFolders) {
    const std::string path = Utils::ProgramPath();
    EXPECT_TRUE(Utils::EndsWith(path, "\\test_ui.exe", true)) << path;
    EXPECT_EQ(Utils::ProgramName(false), "test_ui");
    EXPECT_EQ(Utils::ProgramFolder(true) + "test_ui.exe", path);
    EXPECT_EQ(Utils::ProgramFolder(false) + "\\test_ui.exe", path);

    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_EQ(Utils::WindowsFolder(false), Utils::RemoveBackslash(windows));
    EXPECT_EQ(Utils::WindowsFolder(true), Utils::RemoveBackslash(windows) + "\\");
    EXPECT_FALSE(Utils::SystemFolder(false).empty());
    EXPECT_NE(Utils::TempFolder(false).back(), '\\');
    EXPECT_EQ(Utils::TempFolder(true).back(), '\\');

    Utils::Hooks().programPath = [] { return std::string("C:\\Prog\\setup.v2.exe"); };
    Utils::Hooks().tempFolder = [] { return std::string("D:\\Tmp"); };
    EXPECT_EQ(Utils::ProgramName(false), "setup.v2");
    EXPECT_EQ(Utils::ProgramName(true), "setup");
    EXPECT_EQ(Utils::ProgramFolder(false), "C:\\Prog");
    EXPECT_EQ(Utils::TempFolder(true), "D:\\Tmp\\");
    EXPECT_EQ(Utils::RemoveBackslash("\\"), "");
}

TEST(SystemUtilities, Disks) {
    const std::string windows = Utils::WindowsFolder(false);
    EXPECT_GT(Utils::FreeDiskSpace(windows), 0);
    EXPECT_GT(Utils::ClusterSize(windows), 0u);
    EXPECT_EQ(Utils::FreeDiskSpace(""), -1);
    EXPECT_EQ(Utils::ClusterSize("Q:\\"), 0u);
}

TEST(SystemUtilities, NamesAndOwner) {
    EXPECT_FALSE(Utils::UserName().empty());
    EXPECT_FALSE(Utils::ComputerName().empty());
    EXPECT_EQ(Utils::UserName(), Utils::TrimText(Utils::UserName()));
    (void)Utils::DomainName();

    // On NT systems the owner lives under "Windows NT"; the user name stands in when absent.
    HKEY key = nullptr;
    std::string owner = Utils::UserName();
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        char text[512] = {};
        DWORD size = sizeof text - 1;
        if (RegQueryValueExA(key, "RegisteredOwner", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS) {
            owner = text;
        }
        RegCloseKey(key);
    }
    EXPECT_EQ(Utils::RegisteredOwner(), owner);
}

TEST(SystemUtilities, WindowsErrorsAndScreen) {
    std::string caption(1500, 'c');
    HWND window = CreateWindowA("STATIC", caption.c_str(), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Utils::WindowText(window), std::string(1024, 'c'));
    DestroyWindow(window);

    SetLastError(ERROR_FILE_NOT_FOUND);
    const std::string error = Utils::LastErrorText();
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error.back(), '.');
    EXPECT_NE(error.back(), '\n');

    HDC screen = GetDC(nullptr);
    const int ppi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(Utils::FontHeight(72), ppi);
    EXPECT_EQ(Utils::FontHeight(8), MulDiv(8, ppi, 72));

    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const POINT p = Utils::CenteredPosition(200, 100);
    EXPECT_EQ(p.x, area.left + (area.right - area.left - 200) / 2);
    EXPECT_EQ(p.y, area.top + (area.bottom - area.top - 100) / 2);
}

TEST(SystemUtilities, ShellVersionAndAutoPlay) {
    EXPECT_FALSE(Utils::OpenDocument(Utils::TempFolder(true) + "no_such_document_here.txt"));
    EXPECT_EQ(Utils::FileVersion(), ""); // the test program has no version resource
    const std::string version = Utils::FileVersion(Utils::SystemFolder(true) + "kernel32.dll");
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;

    EXPECT_EQ(Utils::AutoPlayMessage(), 0u);
    Utils::SuppressAutoPlay();
    EXPECT_EQ(Utils::AutoPlayMessage(), RegisterWindowMessageA("QueryCancelAutoPlay"));
    EXPECT_NE(Utils::AutoPlayMessage(), 0u);
}

} // namespace
