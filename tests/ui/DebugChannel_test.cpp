#include "stub/ui/Utils.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// A debug viewer of class ".ZmDebug." on a thread of its own, as an outside viewer program
// would be: it takes the text out of each atom it is sent.
class Viewer {
public:
    Viewer() {
        thread_ = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return window_ != nullptr || failed_; });
    }

    ~Viewer() {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

    bool Running() {
        std::lock_guard<std::mutex> lock(mutex_);
        return window_ != nullptr;
    }

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    std::vector<WPARAM> Channels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return channels_;
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        static const UINT debugMessage = RegisterWindowMessageA(".Zm_DebugMsg.");
        if (message == debugMessage) {
            auto* self = reinterpret_cast<Viewer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
            char text[256] = {};
            const UINT length = GlobalGetAtomNameA(static_cast<ATOM>(lParam), text, sizeof text);
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->lines_.emplace_back(text, length);
            self->channels_.push_back(wParam);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    void Run() {
        threadId_ = GetCurrentThreadId();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = ".ZmDebug.";
        RegisterClassA(&wc);
        HWND window = CreateWindowA(".ZmDebug.", "viewer", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                    nullptr, wc.hInstance, nullptr);
        if (window) {
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            window_ = window;
            failed_ = window == nullptr;
        }
        ready_.notify_all();
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageA(&msg);
        }
        if (window) {
            DestroyWindow(window);
        }
        UnregisterClassA(".ZmDebug.", wc.hInstance);
    }

    std::thread thread_;
    DWORD threadId_ = 0;
    std::mutex mutex_; // guards everything below: written by the viewer thread, read by the test
    std::condition_variable ready_;
    HWND window_ = nullptr;
    bool failed_ = false;
    std::vector<std::string> lines_;
    std::vector<WPARAM> channels_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TempPath(const char* name) {
    return Utils::TempFolder(true) + name;
}

class DebugChannel : public ::testing::Test {
protected:
    void SetUp() override { Utils::OpenDebugChannel(); }
    void TearDown() override {
        Utils::CloseDebugChannel();
        Utils::SetDebugSink(Utils::kDebugSinkMode, Utils::kDebugChannelNumber,
                            Utils::kDebugFilePath);
    }
};

TEST_F(DebugChannel, ViewerReceivesEveryLineThroughAtoms) {
    Viewer viewer;
    ASSERT_TRUE(viewer.Running());
    EXPECT_EQ(Utils::DebugMessage(), RegisterWindowMessageA(".Zm_DebugMsg."));
    EXPECT_EQ(&Utils::DebugOut(), &std::cout);

    Utils::DebugLine(1234, " ==== STUB START ====> ", "/S", "<");
    std::cout << "FileLen=" << 42 << std::endl;
    std::cout << "partial ";
    EXPECT_EQ(viewer.Lines().size(), 2u); // a line is delivered only when it ends
    std::cout << "line\n";

    const std::vector<std::string> lines = viewer.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1234 ==== STUB START ====> /S<\r\n");
    EXPECT_EQ(lines[1], "FileLen=42\r\n");
    EXPECT_EQ(lines[2], "partial line\r\n");
    for (WPARAM channel : viewer.Channels()) {
        EXPECT_EQ(channel, static_cast<WPARAM>(Utils::kDebugChannelNumber));
    }
    // The atom is gone once the viewer has answered.
    EXPECT_EQ(GlobalFindAtomA("FileLen=42\r\n"), 0);
}

TEST_F(DebugChannel, LongLinesArriveIn128CharacterPieces) {
    Viewer viewer;
    ASSERT_TRUE(viewer.Running());
    Utils::SetDebugSink(Utils::dsViewer, 5, Utils::kDebugFilePath);
    std::string line;
    for (int i = 0; i < 300; ++i) {
        line += static_cast<char>('a' + i % 26);
    }
    Utils::DebugLine(line);

    const std::vector<std::string> pieces = viewer.Lines();
    ASSERT_EQ(pieces.size(), 3u);
    std::string joined;
    for (const std::string& piece : pieces) {
        EXPECT_LE(piece.size(), Utils::kDebugBufferSize);
        joined += piece;
    }
    EXPECT_EQ(pieces[0].size(), 128u);
    EXPECT_EQ(joined, line + "\r\n");
    EXPECT_EQ(viewer.Channels().front(), 5u);
}

TEST_F(DebugChannel, FileSinkAndMissingViewer) {
    const std::string path = TempPath("ui_debug_sink.txt");
    DeleteFileA(path.c_str());
    Utils::SetDebugSink(Utils::dsFile, 1, path);
    Utils::DebugLine("first");
    Utils::DebugLine("second");
    EXPECT_EQ(ReadFile(path), "first\r\nsecond\r\n");

    // Both sinks, with no viewer window: the file still gets the text, nothing blocks.
    Utils::SetDebugSink(Utils::dsViewerAndFile, 1, path);
    Utils::DebugLine("third");
    EXPECT_EQ(ReadFile(path), "first\r\nsecond\r\nthird\r\n");

    // An unwritable file loses the text without failing the caller.
    Utils::SetDebugSink(Utils::dsFile, 1, "Q:\\no\\such\\folder\\debug.txt");
    Utils::DebugLine("lost");
    DeleteFileA(path.c_str());
}

TEST(AgentLog, WritesOnlyWhileTheSwitchIsOn) {
    static std::string folder;
    folder = Utils::TempFolder(true) + "ui_agent_log";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string logPath = folder + "\\X_Setup.log";
    DeleteFileA(logPath.c_str());

    Utils::Hooks().programPath = [] { return folder + "\\Setup.exe"; };
    Utils::Hooks().localTime = [] { return Utils::DateTime{2012, 1, 5, 7, 8, 9}; };

    Utils::SetAgentLogEnabled(false);
    Utils::WriteAgentLog("not written");
    EXPECT_EQ(GetFileAttributesA(logPath.c_str()), INVALID_FILE_ATTRIBUTES);

    Utils::SetAgentLogEnabled(true);
    EXPECT_EQ(Utils::AgentLogPath(), logPath);
    Utils::WriteAgentLog("");
    Utils::SetAgentLogTag(" X ");
    Utils::WriteAgentLog("CreateAndRun_X_Exe() --- Start");
    Utils::SetAgentLogEnabled(false);
    Utils::SetAgentLogTag("   ");
    Utils::RestoreDefaultHooks();

    const std::string date = std::string("05") + Utils::DateSeparator() + "01" +
                             Utils::DateSeparator() + "12 07" + Utils::TimeSeparator() + "08" +
                             Utils::TimeSeparator() + "09 ";
    char thread[16];
    snprintf(thread, sizeof thread, "%5lu", GetCurrentThreadId());
    EXPECT_EQ(ReadFile(logPath),
              date + thread + "   \r\n" + date + thread + " X CreateAndRun_X_Exe() --- Start\r\n");
    DeleteFileA(logPath.c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
