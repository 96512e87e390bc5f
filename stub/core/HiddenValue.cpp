#include "stub/core/HiddenValue.h"

#include <random>

namespace {

constexpr unsigned kShift = 50;
constexpr unsigned kFailureRange = 99999;

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Unshifts the characters and reads them as hex, two per byte; a final odd character is
// dropped. False on a character that is no hex digit.
bool UnshiftHex(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = HexDigit(static_cast<unsigned char>(text[i] - kShift));
        const int low = HexDigit(static_cast<unsigned char>(text[i + 1] - kShift));
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<char>(high << 4 | low));
    }
    return true;
}

unsigned DefaultRandom(unsigned limit) {
    static std::minstd_rand engine{std::random_device{}()};
    return std::uniform_int_distribution<unsigned>(0, limit - 1)(engine);
}

} // namespace

std::function<unsigned(unsigned limit)> HiddenValueRandom = DefaultRandom;

bool TryDecodeHiddenValue(const std::string& text, std::string& value) {
    std::string bytes;
    if (!UnshiftHex(text, bytes) || bytes.size() <= 4) {
        return false;
    }
    const size_t length = bytes.size();
    const size_t sumAt = length - 2;
    unsigned char sum = 0;
    for (size_t i = 0; i < length; ++i) {
        if (i != sumAt) {
            sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(bytes[i]));
        }
    }
    if (sum != static_cast<unsigned char>(bytes[sumAt])) {
        return false;
    }
    const char key = static_cast<char>(bytes[0] ^ bytes[length - 1]);
    for (size_t i = 1; i + 1 < length; ++i) {
        bytes[i] = static_cast<char>(bytes[i] ^ key);
    }
    const size_t before = static_cast<unsigned char>(bytes[1]);
    const size_t after = static_cast<unsigned char>(bytes[2]);
    if (before + after + 4 > length) {
        return false;
    }
    value = bytes.substr(before + 3, length - before - after - 4);
    return true;
}

std::string DecodeHiddenValue(const std::string& text) {
    std::string value;
    if (TryDecodeHiddenValue(text, value)) {
        return value;
    }
    return std::to_string(HiddenValueRandom(kFailureRange));
}
