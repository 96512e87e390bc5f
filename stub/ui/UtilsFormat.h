// Formats and path rules of the stub's diagnostics and prompts: dates, sizes, versions, the
// agent log's file name and line, registry paths and trailing backslashes.
//
// Pure code (no Windows header): the Windows side (Utils.h) supplies the clock, the locale's
// separators and the running program's path.
#pragma once

#include <cstdint>
#include <string>

namespace Utils {

// A local calendar time, as the system clock reports it.
struct DateTime {
    int year = 0;
    int month = 1; // 1..12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "05-JAN-2012", with `withTime` followed by " HH:NN:SS".
std::string FormatLongDate(const DateTime& t, bool withTime);

// "dd/mm/yy HH:NN:SS" with the given separators in place of '/' and ':'; with `fourDigitYear`
// the year has four digits.
std::string FormatShortDateTime(const DateTime& t, bool fourDigitYear, char dateSeparator = '/',
                                char timeSeparator = ':');

// Megabytes for prompts: 1 decimal above 10 MB, 2 from 1 to 10, 3 below 1; negative counts as 0.
std::string FormatMegabytes(std::int64_t bytes);

// bytes / divisor (1024 for KB, 1048576 for MB): with `decimals` below 1 rounded up to a whole
// number, otherwise with one decimal; with `thousands` a "," every three digits left of the point.
std::string FormatSize(std::int64_t bytes, std::int64_t divisor, int decimals, bool thousands);

// "%d.%d.%d.%d" from the high and low words of the two fixed version fields.
std::string FormatVersion(std::uint32_t versionMS, std::uint32_t versionLS);

// The agent log beside the program: "X_" + name (unless it already starts with "X_") with the
// extension ".log".
std::string AgentLogPathFor(const std::string& programPath);

// One agent log line: date and time, a blank, the thread number right-aligned in 5 characters,
// the tag, the message and CR LF.
std::string AgentLogLine(const DateTime& t, char dateSeparator, char timeSeparator,
                         std::uint32_t threadId, const std::string& tag,
                         const std::string& message);

enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, DynData };

// Splits a trimmed key path into root and subkey. A path starting with "HK" (any case) names
// its root before the first backslash (long or short name, any case; unknown names mean the
// current user); any other path is a subkey of the current user.
void SplitRegistryPath(const std::string& path, RegistryRoot& root, std::string& subkey);

// Tells whether a byte opens a double-byte character in the active code page.
using LeadBytePredicate = bool (*)(unsigned char);

// The path with one trailing backslash removed, unless that backslash is the second byte of a
// double-byte character; "\" becomes empty.
std::string RemoveTrailingBackslash(const std::string& path, LeadBytePredicate isLeadByte);
// The path with a trailing backslash (added when the path does not already end with one).
std::string AddTrailingBackslash(const std::string& path, LeadBytePredicate isLeadByte);

// Parts of a file path: the folder without trailing backslash, the name with extension, and the
// name without its last extension (all extensions with `allExtensions`).
std::string FolderOfPath(const std::string& path);
std::string FileNameOfPath(const std::string& path);
std::string NameWithoutExtension(const std::string& path, bool allExtensions);

} // namespace Utils
