#include "stub/ui/UtilsFormat.h"

#include "stub/ui/SUB.h"
#include "stub/ui/UtilsText.h"

#include <cstdio>

namespace Utils {

namespace {

const char kMonths[] = "||JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC|";

std::string TwoDigits(int value) {
    return ZeroPad(value % 100, 2);
}

std::string Time(const DateTime& t, char separator) {
    return TwoDigits(t.hour) + separator + TwoDigits(t.minute) + separator + TwoDigits(t.second);
}

std::string WithThousands(const std::string& digits) {
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

// Position just after the last path separator ('\', '/' or a drive colon), 0 when none.
std::size_t NameStart(const std::string& path) {
    const std::size_t at = path.find_last_of("\\/:");
    return at == std::string::npos ? 0 : at + 1;
}

// True when the last byte of `path` is the second byte of a double-byte character.
bool EndsInTrailByte(const std::string& path, LeadBytePredicate isLeadByte) {
    if (!isLeadByte) {
        return false;
    }
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t width = isLeadByte(static_cast<unsigned char>(path[i])) ? 2 : 1;
        if (i + width >= path.size()) {
            return width == 2 && i + 1 == path.size() - 1;
        }
        i += width;
    }
    return false;
}

} // namespace

std::string FormatLongDate(const DateTime& t, bool withTime) {
    std::string out =
        TwoDigits(t.day) + "-" + SUB::GetField(kMonths, t.month, "???") + "-" + ZeroPad(t.year, 4);
    if (withTime) {
        out += " " + Time(t, ':');
    }
    return out;
}

std::string FormatShortDateTime(const DateTime& t, bool fourDigitYear, char dateSeparator,
                                char timeSeparator) {
    const std::string year = fourDigitYear ? ZeroPad(t.year, 4) : TwoDigits(t.year);
    return TwoDigits(t.day) + dateSeparator + TwoDigits(t.month) + dateSeparator + year + " " +
           Time(t, timeSeparator);
}

std::string FormatMegabytes(std::int64_t bytes) {
    const double mb = bytes < 0 ? 0.0 : static_cast<double>(bytes) / 1048576.0;
    const int decimals = mb > 10.0 ? 1 : (mb >= 1.0 ? 2 : 3);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, mb);
    return text;
}

std::string FormatSize(std::int64_t bytes, std::int64_t divisor, int decimals, bool thousands) {
    if (divisor <= 0) {
        divisor = 1;
    }
    std::string sign;
    std::string whole;
    std::string fraction;
    if (decimals < 1) {
        std::int64_t q = bytes / divisor;
        if (bytes % divisor > 0) {
            ++q;
        }
        whole = std::to_string(q);
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f",
                      static_cast<double>(bytes) / static_cast<double>(divisor));
        const std::string all = text;
        const std::size_t point = all.find('.');
        whole = all.substr(0, point);
        fraction = all.substr(point);
    }
    if (!whole.empty() && whole[0] == '-') {
        sign = "-";
        whole.erase(0, 1);
    }
    return sign + (thousands ? WithThousands(whole) : whole) + fraction;
}

std::string FormatVersion(std::uint32_t versionMS, std::uint32_t versionLS) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(versionMS >> 16),
                  static_cast<int>(versionMS & 0xFFFF), static_cast<int>(versionLS >> 16),
                  static_cast<int>(versionLS & 0xFFFF));
    return text;
}

std::string AgentLogPathFor(const std::string& programPath) {
    const std::size_t start = NameStart(programPath);
    std::string name = programPath.substr(start);
    if (!StartsWith(name, "X_")) {
        name = "X_" + name;
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return programPath.substr(0, start) + name + ".log";
}

std::string AgentLogLine(const DateTime& t, char dateSeparator, char timeSeparator,
                         std::uint32_t threadId, const std::string& tag,
                         const std::string& message) {
    return FormatShortDateTime(t, false, dateSeparator, timeSeparator) + " " +
           PadText(std::to_string(threadId), 5) + tag + message + "\r\n";
}

void SplitRegistryPath(const std::string& path, RegistryRoot& root, std::string& subkey) {
    const std::string p = TrimText(path);
    root = RegistryRoot::CurrentUser;
    if (!StartsWith(p, "HK", true)) {
        subkey = p;
        return;
    }
    const std::size_t slash = p.find('\\');
    const std::string name = UpperCaseAscii(p.substr(0, slash));
    subkey = slash == std::string::npos ? std::string() : p.substr(slash + 1);
    const struct {
        const char* longName;
        const char* shortName;
        RegistryRoot root;
    } roots[] = {
        {"HKEY_CLASSES_ROOT", "HKCR", RegistryRoot::ClassesRoot},
        {"HKEY_CURRENT_USER", "HKCU", RegistryRoot::CurrentUser},
        {"HKEY_LOCAL_MACHINE", "HKLM", RegistryRoot::LocalMachine},
        {"HKEY_USERS", "HKU", RegistryRoot::Users},
        {"HKEY_CURRENT_CONFIG", "HKCC", RegistryRoot::CurrentConfig},
        {"HKEY_DYN_DATA", "HKDD", RegistryRoot::DynData},
    };
    for (const auto& r : roots) {
        if (name == r.longName || name == r.shortName) {
            root = r.root;
        }
    }
}

std::string RemoveTrailingBackslash(const std::string& path, LeadBytePredicate isLeadByte) {
    if (path.empty() || path.back() != '\\' || EndsInTrailByte(path, isLeadByte)) {
        return path;
    }
    return path.substr(0, path.size() - 1);
}

std::string AddTrailingBackslash(const std::string& path, LeadBytePredicate isLeadByte) {
    if (!path.empty() && path.back() == '\\' && !EndsInTrailByte(path, isLeadByte)) {
        return path;
    }
    return path + "\\";
}

std::string FolderOfPath(const std::string& path) {
    const std::size_t start = NameStart(path);
    std::string folder = path.substr(0, start);
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) {
        folder.pop_back();
    }
    return folder;
}

std::string FileNameOfPath(const std::string& path) {
    return path.substr(NameStart(path));
}

std::string NameWithoutExtension(const std::string& path, bool allExtensions) {
    std::string name = FileNameOfPath(path);
    const std::size_t dot = allExtensions ? name.find('.') : name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

} // namespace Utils
