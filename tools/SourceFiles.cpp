#include "tools/SourceFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <limits>

namespace fs = std::filesystem;

namespace {

uint32_t Saturate32(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

uint32_t FileDosDateTime(const fs::path& path) {
#ifdef _WIN32
    struct _stat64 info {};
    if (_stat64(path.string().c_str(), &info) != 0) {
        return 0;
    }
    std::tm local{};
    if (_localtime64_s(&local, &info.st_mtime) != 0) {
        return 0;
    }
#else
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return 0;
    }
    std::tm local{};
    if (localtime_r(&info.st_mtime, &local) == nullptr) {
        return 0;
    }
#endif
    return DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec);
}

std::string EntryName(const fs::path& relative) {
    std::string name = relative.generic_string();
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto fold = [](char c) {
                   c = c == '/' ? '\\' : c;
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return fold(x) == fold(y);
           });
}

// True for the files this build writes (and old volumes of them), so that building into the
// files folder never packs a setup into itself.
bool IsBuildOutput(const fs::path& file, const SetupOptions& options) {
    std::error_code ignored;
    const std::string path = fs::weakly_canonical(file, ignored).string();
    const std::string output = fs::weakly_canonical(options.output, ignored).string();
    if (path == output || (!options.downloadStub.empty() &&
                           path == fs::weakly_canonical(options.downloadStub, ignored).string())) {
        return true;
    }
    const bool volume = path.size() > output.size() + 1 &&
                        path.compare(0, output.size(), output) == 0 && path[output.size()] == '.';
    return volume && path.find_first_not_of("0123456789", output.size() + 1) == std::string::npos;
}

} // namespace

bool CollectFiles(const SetupOptions& options, std::vector<SourceFile>& files, std::string& error) {
    std::error_code failure;
    const fs::path root = fs::path(options.files);
    if (!fs::is_directory(root, failure)) {
        error = "no such folder: " + options.files;
        return false;
    }
    for (fs::recursive_directory_iterator it(root, failure), end; !failure && it != end;
         it.increment(failure)) {
        if (!it->is_regular_file(failure) || IsBuildOutput(it->path(), options)) {
            continue;
        }
        SourceFile file;
        file.path = it->path();
        file.name = EntryName(it->path().lexically_relative(root));
        file.size = it->file_size(failure);
        file.dosDateTime = FileDosDateTime(it->path());
        file.engine = SameName(file.name, options.engine);
        files.push_back(std::move(file));
    }
    if (failure) {
        error = "cannot list " + options.files + ": " + failure.message();
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    const auto engines = std::count_if(files.begin(), files.end(),
                                       [](const SourceFile& file) { return file.engine; });
    if (engines != 1) {
        error =
            "the setup engine " + options.engine + " is not among the files of " + options.files;
        return false;
    }
    return true;
}

std::array<uint32_t, kSpaceTableSize> SpaceTable(const std::vector<SourceFile>& files) {
    std::array<uint64_t, kSpaceTableSize> sums{};
    for (const SourceFile& file : files) {
        sums[0] += file.size;
        for (int i = 1; i < kSpaceTableSize; ++i) {
            const uint64_t cluster = uint64_t{512} << (i - 1);
            sums[i] += (file.size + cluster - 1) / cluster * cluster;
        }
    }
    std::array<uint32_t, kSpaceTableSize> table{};
    std::transform(sums.begin(), sums.end(), table.begin(), Saturate32);
    return table;
}

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980 || year > 2107) {
        return 0;
    }
    const uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
    const uint32_t time = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}
