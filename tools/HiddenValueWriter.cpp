#include "tools/HiddenValueWriter.h"

#include <random>

namespace {

constexpr unsigned kShift = 50;
constexpr unsigned kMaxPadding = 8;

unsigned DefaultRandom(unsigned limit) {
    static std::mt19937 engine{std::random_device{}()};
    return std::uniform_int_distribution<unsigned>(0, limit - 1)(engine);
}

char RandomByte(const std::function<unsigned(unsigned)>& random) {
    return static_cast<char>(random(256));
}

} // namespace

std::string EncodeHiddenValue(const std::string& value,
                              const std::function<unsigned(unsigned limit)>& random) {
    const unsigned before = 1 + random(kMaxPadding);
    const unsigned after = 1 + random(kMaxPadding); // at least 1: the sum byte follows it
    std::string bytes;
    bytes += RandomByte(random);
    bytes += static_cast<char>(before);
    bytes += static_cast<char>(after);
    for (unsigned i = 0; i < before; ++i) {
        bytes += RandomByte(random);
    }
    bytes += value;
    for (unsigned i = 0; i + 1 < after; ++i) {
        bytes += RandomByte(random);
    }
    bytes += '\0'; // sum byte, set below
    bytes += RandomByte(random);

    const size_t length = bytes.size();
    const char key = static_cast<char>(bytes[0] ^ bytes[length - 1]);
    for (size_t i = 1; i + 1 < length; ++i) {
        bytes[i] = static_cast<char>(bytes[i] ^ key);
    }
    unsigned char sum = 0;
    for (size_t i = 0; i < length; ++i) {
        if (i != length - 2) {
            sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(bytes[i]));
        }
    }
    bytes[length - 2] = static_cast<char>(sum);

    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += static_cast<char>(digits[byte >> 4] + kShift);
        text += static_cast<char>(digits[byte & 0x0F] + kShift);
    }
    return text;
}

std::string EncodeHiddenValue(const std::string& value) {
    return EncodeHiddenValue(value, DefaultRandom);
}
