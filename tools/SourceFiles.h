#pragma once

#include "stub/core/PackageFormat.h"
#include "tools/SetupBuilder.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A file to be packed.
struct SourceFile {
    std::filesystem::path path;
    std::string name; // relative, with backslashes
    uint64_t size = 0;
    uint32_t dosDateTime = 0;
    bool engine = false;
};

// Lists the files of the options' folder (subfolders included, sorted by name, the build's own
// outputs left out) and marks the engine. False with a message when the folder cannot be read
// or the engine is not exactly one of its files.
bool CollectFiles(const SetupOptions& options, std::vector<SourceFile>& files, std::string& error);

// The space table: the plain total, then the sizes rounded up to clusters of 512 .. 65536 bytes;
// each saturates at the largest 32-bit value.
std::array<uint32_t, kSpaceTableSize> SpaceTable(const std::vector<SourceFile>& files);

// The DOS date-time (date in the high word) of a local calendar time; 0 outside 1980..2107.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);
