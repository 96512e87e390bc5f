#include "tools/LanguageFile.h"

#include "stub/ui/SUB.h"

#include <sstream>
#include <vector>

namespace {

const char kBlockDelimiter = '\x02';
const char kEntryDelimiter = '\x01';

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool HasControlDelimiter(const std::string& text) {
    return text.find_first_of(std::string("\0\x01\x02", 3)) != std::string::npos;
}

struct Language {
    std::string name;
    std::vector<std::string> fields;
};

std::string EntryList(const Language& language) {
    std::string entry(1, kEntryDelimiter);
    entry = SUB::SetField(entry, 0, language.name);
    for (size_t i = 0; i < language.fields.size(); ++i) {
        entry = SUB::SetField(entry, static_cast<int>(i + 1), language.fields[i]);
    }
    return entry;
}

} // namespace

bool BuildLanguageBlock(const std::string& text, std::string& block, std::string& error) {
    std::vector<Language> languages;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') {
            continue;
        }
        if (HasControlDelimiter(line)) {
            error = where + "bytes 0x00 to 0x02 cannot be stored in a language block";
            return false;
        }
        if (trimmed.front() == '[' && trimmed.back() == ']') {
            const std::string name = Trim(trimmed.substr(1, trimmed.size() - 2));
            if (name.empty()) {
                error = where + "a language needs a name";
                return false;
            }
            languages.push_back({name, {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos || Trim(line.substr(0, equals)).empty()) {
            error = where + "expected [Language] or key=value";
            return false;
        }
        if (languages.empty()) {
            error = where + "key=value before the first [Language]";
            return false;
        }
        languages.back().fields.push_back(Trim(line.substr(0, equals)) + "=" +
                                          line.substr(equals + 1));
    }
    block.assign(1, kBlockDelimiter);
    for (size_t i = 0; i < languages.size(); ++i) {
        block = SUB::SetField(block, static_cast<int>(i), EntryList(languages[i]));
    }
    if (languages.empty()) {
        block.clear();
    }
    return true;
}
