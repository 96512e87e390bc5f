// The stub's services that reach the system: the debug channel, the agent log, registry and INI
// readers, waits that keep the window responsive, dates from the clock and the utility table
// (program and system folders, disk space, names, windows, errors, shell).
//
// The pure parts live in UtilsText.h and UtilsFormat.h; this header includes both, so one
// include gives the whole module. Everything here is for the stub's single main thread, except
// the debug channel, which takes its own lock. Nothing here raises or shows anything: failures
// give the documented default.
#pragma once

#include "stub/ui/UtilsFormat.h"
#include "stub/ui/UtilsText.h"

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

namespace Utils {

// ---- Seams: what the module reads from the machine goes through these, so tests can bind
// their own. Restore the defaults with RestoreDefaultHooks().
struct SystemHooks {
    DateTime (*localTime)();      // local calendar time
    double (*milliseconds)();     // high-resolution clock in ms, any origin
    std::string (*programPath)(); // full path of the running program
    std::string (*tempFolder)();  // the system's temporary folder, no trailing backslash
};
SystemHooks& Hooks();
void RestoreDefaultHooks();

// ---- Debug channel: a text device with a 128-character buffer that replaces std::cout while
// open. Text is delivered when a line ends ("\n", delivered as CR LF) or the buffer fills, to
// the viewer window of class ".ZmDebug." (as a global atom carried by the registered message
// ".Zm_DebugMsg.", wParam = channel number) and/or appended to the debug file.
enum DebugSinkMode { dsViewer = 0, dsFile = 1, dsViewerAndFile = 2 };
constexpr int kDebugSinkMode = dsViewer;
constexpr int kDebugChannelNumber = 1;
constexpr const char* kDebugFilePath = "C:\\ProgramData\\_zmdebug.txt";
constexpr const char* kDebugViewerClass = ".ZmDebug.";
constexpr const char* kDebugMessageName = ".Zm_DebugMsg.";
constexpr std::size_t kDebugBufferSize = 128;

// Registers the viewer message, then routes std::cout into the channel.
void OpenDebugChannel();
// Delivers what is still buffered and gives std::cout its own buffer back.
void CloseDebugChannel();
// The channel (std::cout while open).
std::ostream& DebugOut();
// Writes all pieces and ends the line.
template <class... Pieces> void DebugLine(const Pieces&... pieces) {
    std::ostringstream line;
    (line << ... << pieces);
    DebugOut() << line.str() << '\n';
}
// The compiled-in sink settings are the defaults; tests may point the channel elsewhere.
void SetDebugSink(int mode, int channel, const std::string& filePath);
// The number registered for ".Zm_DebugMsg." (0 before the channel is opened).
UINT DebugMessage();

// ---- Agent log: one line per call appended to "X_<program name>.log" beside the program,
// only while the agent-log switch is on.
void SetAgentLogEnabled(bool enabled);
bool AgentLogEnabled();
void WriteAgentLog(const std::string& message);
// The three-character tag put in every line ("   " at first, " X " in the copied agent).
void SetAgentLogTag(const std::string& tag);
// The log's path, worked out on first use and kept for the life of the process.
std::string AgentLogPath();

// ---- Settings readers: each returns its default on any failure.
// Key path "HKLM\Software\..." (long or short root names, any case; no root: current user).
// A DWORD reads as decimal text, a multi-string as its strings joined by "<0>", anything else
// as text up to its first NUL.
std::string ReadRegistryValue(const std::string& keyPath, const std::string& valueName,
                              const std::string& def);
std::string ReadIniString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& def);
std::int64_t ReadIniInteger(const std::string& file, const std::string& section,
                            const std::string& key, std::int64_t def);
bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
bool WriteIniInteger(const std::string& file, const std::string& section, const std::string& key,
                     std::int64_t value);

// ---- Time and waits
// Dispatches the thread's window messages every `step` ms (0: total/10, within 1..25) until
// `milliseconds` have passed on the high-resolution clock.
void WaitWithMessages(int step, int milliseconds);
double Milliseconds();
DateTime Now();
char DateSeparator();
char TimeSeparator();
std::string LongDateNow(bool withTime);
std::string ShortDateTimeNow(bool fourDigitYear);

// ---- Utility table
std::string ProgramPath();
std::string ProgramFolder(bool trailingBackslash);
std::string ProgramName(bool allExtensions);
std::string WindowsFolder(bool trailingBackslash);
std::string SystemFolder(bool trailingBackslash);
std::string TempFolder(bool trailingBackslash);
// Trailing backslash rules of the active code page (a trail byte of a double-byte character is
// never taken for a backslash).
std::string AddBackslash(const std::string& path);
std::string RemoveBackslash(const std::string& path);
// Free bytes on the drive of `path` (its first letter); -1 when it cannot be read.
std::int64_t FreeDiskSpace(const std::string& path);
// Bytes per cluster of the drive named by the first three characters of `path`; 0 when unknown.
std::uint32_t ClusterSize(const std::string& path);
std::string UserName();
std::string ComputerName();
std::string DomainName();
std::string RegisteredOwner();
std::string RegisteredOrganization();
std::string WindowText(HWND window);
// The system's text for the last error code (trailing blanks and dots removed).
std::string LastErrorText();
// Pixel height of a font of `points` on the screen.
int FontHeight(int points);
// Left and top that centre a window of this size in the desktop work area.
POINT CenteredPosition(int width, int height);
// The shell's open action on `document`, owned by the desktop; true when it started.
bool OpenDocument(const std::string& document);
// "%d.%d.%d.%d" of a program's version resource (the running program when empty); "" if none.
std::string FileVersion(const std::string& path = "");
// Registers "QueryCancelAutoPlay"; windows that see AutoPlayMessage() answer it with 1.
void SuppressAutoPlay();
UINT AutoPlayMessage();

} // namespace Utils
