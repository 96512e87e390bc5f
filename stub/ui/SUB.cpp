#include "stub/ui/SUB.h"

#include "stub/ui/UtilsText.h"

#include <climits>
#include <vector>

namespace {

const char kCandidates[] = {'|', '^', '!', '~', '@', '#', '$', '&', '*', '\xFF'};

// Readers never look past the first NUL.
std::string UpToNul(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

// The fields that are closed by a delimiter, in order; text after the last delimiter is dropped.
std::vector<std::string> ClosedFields(const std::string& list) {
    std::vector<std::string> fields;
    if (list.empty()) {
        return fields;
    }
    const char delim = list[0];
    std::size_t start = 1;
    for (std::size_t next = list.find(delim, start); next != std::string::npos;
         next = list.find(delim, start)) {
        fields.push_back(list.substr(start, next - start));
        start = next + 1;
    }
    return fields;
}

bool ParseInt(const std::string& text, int& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) {
            return false;
        }
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX) {
        return false;
    }
    value = static_cast<int>(signedValue);
    return true;
}

// A byte that occurs nowhere in `text` and can delimit it, or 0 when there is none.
char FreeDelimiter(const std::string& text) {
    bool used[256] = {};
    for (unsigned char c : text) {
        used[c] = true;
    }
    for (char c : kCandidates) {
        if (!used[static_cast<unsigned char>(c)]) {
            return c;
        }
    }
    // Every usual delimiter is taken; any other byte still keeps every field intact.
    for (int c = 1; c < 256; ++c) {
        if (!used[c]) {
            return static_cast<char>(c);
        }
    }
    return '\0';
}

} // namespace

int SUB::FieldCount(const std::string& list) {
    const std::string l = UpToNul(list);
    if (l.size() < 2 || l.front() != l.back()) {
        return 0;
    }
    int count = 0;
    for (std::size_t i = 1; i < l.size(); ++i) {
        if (l[i] == l[0]) {
            ++count;
        }
    }
    return count;
}

std::string SUB::GetField(const std::string& list, int index, const std::string& def) {
    const std::string l = UpToNul(list);
    if (l.empty() || index < 0) {
        return def;
    }
    const char delim = l[0];
    std::size_t open = 0;
    for (int i = 0; i < index; ++i) {
        open = l.find(delim, open + 1);
        if (open == std::string::npos) {
            return def;
        }
    }
    const std::size_t close = l.find(delim, open + 1);
    if (close == std::string::npos || close == open + 1) {
        return def;
    }
    return l.substr(open + 1, close - open - 1);
}

int SUB::GetIntField(const std::string& list, int index, int def) {
    int value = def;
    return ParseInt(GetField(list, index, ""), value) ? value : def;
}

std::string SUB::GetKeyValue(const std::string& list, const std::string& key,
                             const std::string& ifAbsent, const std::string& ifEmpty) {
    const std::string l = UpToNul(list);
    if (l.size() <= 2 || l.front() != l.back()) {
        return ifAbsent;
    }
    const std::string delim(1, l[0]);
    std::string search = delim + key;
    if (search.back() != '=') {
        search += '=';
    }
    std::string work = Utils::ReplaceAll(l, delim + " ", delim);
    work = Utils::ReplaceAll(work, " =", "=");

    const std::size_t at = Utils::PosIgnoreCase(search, work);
    if (at == std::string::npos) {
        return ifAbsent;
    }
    const std::size_t begin = at + search.size();
    const std::size_t end = work.find(l[0], begin);
    const std::string value =
        work.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    return value.empty() ? ifEmpty : value;
}

std::string SUB::SetField(const std::string& list, int index, const std::string& text) {
    std::string l = UpToNul(list);
    if (l.empty()) {
        l = "|";
    }
    const std::vector<std::string> fields = ClosedFields(l);
    long long count = FieldCount(l);
    if (count <= index) {
        count = static_cast<long long>(index) + 1;
    }

    // NUL stands in for the delimiter until we know which byte is free.
    std::string built(1, '\0');
    for (long long i = 0; i < count; ++i) {
        if (i == index) {
            built += UpToNul(text);
        } else if (i < static_cast<long long>(fields.size())) {
            built += fields[static_cast<std::size_t>(i)];
        }
        built += '\0';
    }

    char delim = l[0];
    if (built.find(delim) != std::string::npos) {
        delim = FreeDelimiter(built);
        if (delim == '\0') {
            return l;
        }
    }
    for (char& c : built) {
        if (c == '\0') {
            c = delim;
        }
    }
    return built;
}
