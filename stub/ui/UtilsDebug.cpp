// The debug channel and the agent log.
#include "stub/ui/Utils.h"

#include <iostream>
#include <streambuf>

namespace Utils {

namespace {

// A critical section that lives as long as the process: deliveries may happen during static
// destruction (std::cout flushed at exit).
class Lock {
public:
    Lock() { InitializeCriticalSection(&section_); }
    ~Lock() { DeleteCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class Hold {
public:
    explicit Hold(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~Hold() { lock_.Leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Lock& lock_;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (valid()) {
            CloseHandle(h_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Appends `text` to `path`, creating the file when absent; failures lose the text.
void AppendToFile(const std::string& path, const std::string& text) {
    FileHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return;
    }
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Hands one piece of text to the viewer window as a global atom. A viewer that stops answering
// must not stop the program, so the send gives up when the viewer is hung.
void SendToViewer(const std::string& text, UINT message, int channel) {
    HWND viewer = FindWindowA(kDebugViewerClass, nullptr);
    if (!viewer || message == 0) {
        return;
    }
    const ATOM atom = GlobalAddAtomA(text.c_str());
    if (atom == 0) {
        return;
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(viewer, message, static_cast<WPARAM>(channel), static_cast<LPARAM>(atom),
                        SMTO_ABORTIFHUNG, 5000, &answer);
    GlobalDeleteAtom(atom);
}

// The channel's buffer. `text_` and the sink settings are guarded by `lock_`: the stub writes
// from its main thread, but any thread may write, and a delivery must never interleave with
// another.
class DebugBuffer : public std::streambuf {
public:
    void Configure(int mode, int channel, const std::string& filePath) {
        Hold hold(lock_);
        mode_ = mode;
        channel_ = channel;
        filePath_ = filePath;
    }

    void SetMessage(UINT message) {
        Hold hold(lock_);
        message_ = message;
    }

    UINT Message() {
        Hold hold(lock_);
        return message_;
    }

    void DeliverRest() {
        Hold hold(lock_);
        Deliver();
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        Hold hold(lock_);
        const char ch = traits_type::to_char_type(c);
        if (ch == '\n') {
            Put('\r');
            Put('\n');
            Deliver();
        } else {
            Put(ch);
        }
        return c;
    }

private:
    void Put(char c) {
        if (text_.size() >= kDebugBufferSize) {
            Deliver();
        }
        text_ += c;
    }

    // Empties the buffer first, so a viewer in this thread that writes again finds it empty.
    void Deliver() {
        if (text_.empty()) {
            return;
        }
        const std::string text = text_;
        text_.clear();
        if (mode_ == dsFile || mode_ == dsViewerAndFile) {
            AppendToFile(filePath_, text);
        }
        if (mode_ == dsViewer || mode_ == dsViewerAndFile) {
            SendToViewer(text, message_, channel_);
        }
    }

    Lock lock_;
    std::string text_;
    int mode_ = kDebugSinkMode;
    int channel_ = kDebugChannelNumber;
    std::string filePath_ = kDebugFilePath;
    UINT message_ = 0;
};

DebugBuffer& Channel() {
    static DebugBuffer* channel = new DebugBuffer; // outlives every static that may still write
    return *channel;
}

std::streambuf* savedCoutBuffer = nullptr;

// Agent log state: main thread only.
bool agentLogEnabled = false;
std::string agentLogTag = "   ";

} // namespace

void OpenDebugChannel() {
    Channel().SetMessage(RegisterWindowMessageA(kDebugMessageName));
    if (!savedCoutBuffer) {
        savedCoutBuffer = std::cout.rdbuf(&Channel());
    }
}

void CloseDebugChannel() {
    Channel().DeliverRest();
    if (savedCoutBuffer) {
        std::cout.rdbuf(savedCoutBuffer);
        savedCoutBuffer = nullptr;
    }
}

std::ostream& DebugOut() {
    return std::cout;
}

void SetDebugSink(int mode, int channel, const std::string& filePath) {
    Channel().Configure(mode, channel, filePath);
}

UINT DebugMessage() {
    return Channel().Message();
}

void SetAgentLogEnabled(bool enabled) {
    agentLogEnabled = enabled;
}

bool AgentLogEnabled() {
    return agentLogEnabled;
}

void SetAgentLogTag(const std::string& tag) {
    agentLogTag = tag;
}

std::string AgentLogPath() {
    static const std::string path = AgentLogPathFor(Hooks().programPath());
    return path;
}

void WriteAgentLog(const std::string& message) {
    if (!agentLogEnabled) {
        return;
    }
    AppendToFile(AgentLogPath(), AgentLogLine(Now(), DateSeparator(), TimeSeparator(),
                                              GetCurrentThreadId(), agentLogTag, message));
}

} // namespace Utils
