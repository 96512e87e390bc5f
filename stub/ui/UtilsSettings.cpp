// Registry and INI readers and writers.
#include "stub/ui/Utils.h"

#include <iostream>
#include <new>
#include <vector>

namespace Utils {

namespace {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

HKEY RootKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users:
        return HKEY_USERS;
    case RegistryRoot::CurrentConfig:
        return HKEY_CURRENT_CONFIG;
    case RegistryRoot::DynData:
        return HKEY_DYN_DATA;
    case RegistryRoot::CurrentUser:
        break;
    }
    return HKEY_CURRENT_USER;
}

constexpr DWORD kRegistryBufferSize = 10240;
constexpr DWORD kIniBufferSize = 10241;

bool ParseInt64(const std::string& text, std::int64_t& value) {
    const std::string t = TrimText(text);
    std::size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        ++i;
    }
    if (i == t.size()) {
        return false;
    }
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') {
            return false;
        }
        const unsigned digit = static_cast<unsigned>(t[i] - '0');
        if (magnitude > (limit - digit) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
    }
    value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

} // namespace

std::string ReadRegistryValue(const std::string& keyPath, const std::string& valueName,
                              const std::string& def) {
    RegistryRoot root;
    std::string subkey;
    SplitRegistryPath(keyPath, root, subkey);
    RegistryKey key;
    if (RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
        return def;
    }
    std::vector<char> buffer(kRegistryBufferSize);
    DWORD type = 0;
    DWORD size = kRegistryBufferSize;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
        return def;
    }
    const std::string data(buffer.data(), size);
    if (type == REG_DWORD && size == 4) {
        DWORD number = 0;
        memcpy(&number, data.data(), 4);
        return std::to_string(number);
    }
    if (type == REG_MULTI_SZ && size > 2) {
        const std::size_t end = data.find_last_not_of('\0');
        return ReplaceAll(data.substr(0, end == std::string::npos ? 0 : end + 1),
                          std::string(1, '\0'), "<0>");
    }
    return data.substr(0, data.find('\0'));
}

std::string ReadIniString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& def) {
    if (section.empty()) {
        return def;
    }
    try {
        std::vector<char> buffer(kIniBufferSize);
        const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(),
                                                      buffer.data(), kIniBufferSize, file.c_str());
        return std::string(buffer.data(), length);
    } catch (const std::bad_alloc&) {
        DebugLine("EXCEPTION --- Utils.ReadIniString()  ", LastErrorText());
        return def;
    }
}

std::int64_t ReadIniInteger(const std::string& file, const std::string& section,
                            const std::string& key, std::int64_t def) {
    std::int64_t value = def;
    return ParseInt64(ReadIniString(file, section, key, std::to_string(def)), value) ? value : def;
}

bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
           FALSE;
}

bool WriteIniInteger(const std::string& file, const std::string& section, const std::string& key,
                     std::int64_t value) {
    return WriteIniString(file, section, key, std::to_string(value));
}

} // namespace Utils
