#pragma once

#include "stub/core/GFileInfo.h"
#include "stub/core/PackageBlocks.h"
#include "tools/SetupBuilder.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif

namespace fs = std::filesystem;

// A scratch folder with the input of a build: a stub, a files folder and the output paths.
class SetupFolder {
public:
    explicit SetupFolder(const std::string& name)
        : root_(fs::temp_directory_path() / ("sw_tools_" + name)) {
        fs::remove_all(root_);
        fs::create_directories(root_ / "files");
    }
    ~SetupFolder() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    SetupFolder(const SetupFolder&) = delete;
    SetupFolder& operator=(const SetupFolder&) = delete;

    std::string Path(const std::string& name) const { return (root_ / name).string(); }

    void Write(const std::string& name, const std::string& bytes) const {
        const fs::path path = root_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    void AddFile(const std::string& name, const std::string& bytes) const {
        Write("files/" + name, bytes);
    }

    // Sets a file's modification time to a local calendar time.
    void Touch(const std::string& name, int year, int month, int day, int hour, int minute,
               int second) const {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        const std::string path = Path("files/" + name);
#ifdef _WIN32
        _utimbuf times{std::mktime(&local), std::mktime(&local)};
        _utime(path.c_str(), &times);
#else
        utimbuf times{std::mktime(&local), std::mktime(&local)};
        utime(path.c_str(), &times);
#endif
    }

    SetupOptions Options() const {
        SetupOptions options;
        options.stub = Path("stub.exe");
        options.files = Path("files");
        options.output = Path("setup.exe");
        return options;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    fs::path root_;
};

// What a setup extracts to: every file's content (entries of one name appended in package
// order, across volumes) and date, and the engine entry.
struct Extracted {
    std::map<std::string, std::string> files;
    std::map<std::string, uint32_t> dates;
    std::vector<std::string> engines; // "name*parameters" of every entry that carries the mark
    int entries = 0;
    int stored = 0; // entries kept uncompressed
    bool damaged = false;
};

inline void ExtractVolume(const std::string& path, Extracted& out) {
    const std::unique_ptr<ByteSource> file = OpenSharedFile(path);
    if (!file) {
        out.damaged = true;
        return;
    }
    const TrailerLocation location = ReadTrailer(*file);
    PackageBlockReader reader(*file, location.trailer.dataStart, location.trailerStart);
    PackageBlock block;
    for (int i = 0; reader.Next(block); ++i) {
        if (i < location.trailer.blockCount) {
            continue;
        }
        FileEntryHeader header;
        std::string content;
        const EntryStatus status = ReadFileEntry(block, header, [&](const char* data, size_t n) {
            content.append(data, n);
            return true;
        });
        out.damaged |= status != EntryStatus::esOk;
        out.files[header.name] += content;
        out.dates[header.name] = header.dosDateTime;
        if (header.isEngine) {
            out.engines.push_back(header.name + "*" + header.parameters);
        }
        ++out.entries;
        out.stored += block.length <= 0 ? 1 : 0;
    }
    out.damaged |= reader.Truncated();
}

inline Extracted ExtractAll(const std::vector<std::string>& volumes) {
    Extracted out;
    for (const std::string& volume : volumes) {
        ExtractVolume(volume, out);
    }
    return out;
}

// True when a volume carries a real checksum (not the "not checked" value) that matches.
inline bool VolumeChecksumMatches(const std::string& path) {
    const TrailerLocation location = ReadTrailer(path);
    return location.trailer.checksum != kUncheckedSum &&
           PackageChecksum(path, location.trailer.trailerLength) == location.trailer.checksum;
}
