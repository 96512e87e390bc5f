#include "stub/ui/UtilsText.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace Utils {

namespace {

const std::string kScrambleMarker = "Scrambled=01";

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t Find(const std::string& haystack, const std::string& needle, std::size_t from,
                 bool ignoreCase) {
    return ignoreCase ? PosIgnoreCase(needle, haystack, from) : haystack.find(needle, from);
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = FoldAscii(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 0;
}

int DefaultRandom(int range) {
    static std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<int>(0, range - 1)(generator);
}

RandomSource randomSource = DefaultRandom;

// XOR with (position + k), the sign of k alternating; applying it twice restores the text.
std::string ScrambleBytes(const std::string& text, int key) {
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int position = static_cast<int>((i + 1) & 0xFF);
        out[i] = static_cast<char>(static_cast<unsigned char>(position + key) ^
                                   static_cast<unsigned char>(out[i]));
        key = -key;
    }
    return out;
}

} // namespace

std::size_t PosIgnoreCase(const std::string& needle, const std::string& haystack,
                          std::size_t from) {
    if (needle.empty() || haystack.size() < needle.size()) {
        return std::string::npos;
    }
    const std::size_t last = haystack.size() - needle.size();
    const char first = FoldAscii(needle[0]);
    for (std::size_t at = from; at <= last; ++at) {
        if (FoldAscii(haystack[at]) != first) {
            continue;
        }
        std::size_t i = 1;
        while (i < needle.size() && FoldAscii(haystack[at + i]) == FoldAscii(needle[i])) {
            ++i;
        }
        if (i == needle.size()) {
            return at;
        }
    }
    return std::string::npos;
}

std::string ReplaceText(const std::string& text, const std::string& search,
                        const std::string& replacement, int maxCount, int firstOccurrence,
                        bool ignoreCase) {
    if (search.empty()) {
        return text;
    }
    // Occurrences are found in the original text only, one after another: a replacement is
    // never searched again, and removing an occurrence never joins its neighbours into a new one.
    std::string result;
    std::size_t copied = 0;
    int occurrence = 0;
    int replaced = 0;
    for (std::size_t at = Find(text, search, 0, ignoreCase); at != std::string::npos;
         at = Find(text, search, at + search.size(), ignoreCase)) {
        ++occurrence;
        if (occurrence < firstOccurrence) {
            continue;
        }
        result.append(text, copied, at - copied);
        result += replacement;
        copied = at + search.size();
        ++replaced;
        if (maxCount > 0 && replaced >= maxCount) {
            break;
        }
    }
    if (replaced == 0) {
        return text;
    }
    result.append(text, copied, std::string::npos);
    return result;
}

std::string ReplaceAll(const std::string& text, const std::string& search,
                       const std::string& replacement) {
    return ReplaceText(text, search, replacement, 0, 0, false);
}

std::string ReplaceAllIgnoreCase(const std::string& text, const std::string& search,
                                 const std::string& replacement) {
    return ReplaceText(text, search, replacement, 0, 0, true);
}

std::size_t LastPos(const std::string& needle, const std::string& haystack) {
    return needle.empty() ? std::string::npos : haystack.rfind(needle);
}

std::string TextBefore(const std::string& text, const std::string& separator,
                       const std::string& def) {
    const std::size_t at = separator.empty() ? std::string::npos : text.find(separator);
    return at == std::string::npos ? def : text.substr(0, at);
}

std::string TextAfter(const std::string& text, const std::string& separator,
                      const std::string& def) {
    const std::size_t at = separator.empty() ? std::string::npos : text.find(separator);
    return at == std::string::npos ? def : text.substr(at + separator.size());
}

std::string ReverseText(const std::string& text) {
    return std::string(text.rbegin(), text.rend());
}

bool StartsWith(const std::string& text, const std::string& prefix, bool ignoreCase) {
    if (prefix.size() > text.size()) {
        return false;
    }
    const std::string head = text.substr(0, prefix.size());
    return ignoreCase ? UpperCaseAscii(head) == UpperCaseAscii(prefix) : head == prefix;
}

bool EndsWith(const std::string& text, const std::string& suffix, bool ignoreCase) {
    if (suffix.size() > text.size()) {
        return false;
    }
    const std::string tail = text.substr(text.size() - suffix.size());
    return ignoreCase ? UpperCaseAscii(tail) == UpperCaseAscii(suffix) : tail == suffix;
}

std::string TrimText(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlankOrControl(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankOrControl(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool SameTextTrimmed(const std::string& a, const std::string& b) {
    return UpperCaseAscii(TrimText(a)) == UpperCaseAscii(TrimText(b));
}

std::string UpperCaseAscii(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string PadText(const std::string& text, int width, char fill) {
    if (width >= 0) {
        const std::size_t w = static_cast<std::size_t>(width);
        return text.size() >= w ? text : std::string(w - text.size(), fill) + text;
    }
    const std::size_t w = static_cast<std::size_t>(-static_cast<long long>(width));
    if (text.size() > w && width < -2) {
        return text.substr(0, w - 1) + ".";
    }
    return text.size() >= w ? text : text + std::string(w - text.size(), fill);
}

std::string ZeroPad(std::int64_t value, int width) {
    const std::string digits = std::to_string(value);
    if (value >= 0) {
        return PadText(digits, width, '0');
    }
    return "-" + PadText(digits.substr(1), width - 1, '0');
}

std::string StripQuotes(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

std::string ReplaceChars(const std::string& text, char from, char to) {
    std::string out = text;
    std::replace(out.begin(), out.end(), from, to);
    return out;
}

std::string ExpandEscapes(const std::string& text) {
    std::string out = ReplaceAll(text, "\\\\n", "\r\n");
    out = ReplaceAll(out, "\\\\t", "\t");
    out = ReplaceAllIgnoreCase(out, "<P>", "\r\n");
    return ReplaceAllIgnoreCase(out, "<T>", "\t");
}

const char* BoolText(bool value) {
    return value ? "TRUE" : "FALSE";
}

std::string BytesToHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 0x0F];
    }
    return hex;
}

std::string HexToBytes(const std::string& hex) {
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
    }
    return bytes;
}

std::string ScrambleText(const std::string& text, bool encode, bool hex) {
    if (text.empty()) {
        return text;
    }
    const std::string input = (!encode && hex) ? HexToBytes(text) : text;
    const bool scrambled = StartsWith(input, kScrambleMarker);
    if (encode == scrambled) {
        return text;
    }
    if (encode) {
        const int key = RandomBelow(90) + 33;
        const std::string out =
            kScrambleMarker + static_cast<char>(key) + ScrambleBytes(input, key);
        return hex ? BytesToHex(out) : out;
    }
    // A bare marker has no key character: it stands for no text at all.
    if (input.size() <= kScrambleMarker.size()) {
        return std::string();
    }
    const int key = static_cast<unsigned char>(input[kScrambleMarker.size()]);
    return ScrambleBytes(input.substr(kScrambleMarker.size() + 1), key);
}

void SetRandomSource(RandomSource source) {
    randomSource = source ? source : DefaultRandom;
}

int RandomBelow(int range) {
    if (range <= 1) {
        return 0;
    }
    const int value = randomSource(range);
    return (value >= 0 && value < range) ? value : 0;
}

} // namespace Utils
