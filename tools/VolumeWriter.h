#pragma once

#include "stub/core/PackageFormat.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// A file entry ready to be written: its signed block length and bytes.
struct EncodedEntry {
    int32_t length = 0;
    std::string bytes;
    uint64_t BlockSize() const { return 4 + bytes.size(); }
};

// Compresses "header NUL content" into a file entry, or stores it when zlib does not make it
// smaller.
EncodedEntry EncodeEntry(const std::string& header, const char* content, size_t size, int level);

// One volume being written: a prefix (the stub on the first volume), the text blocks, file
// entries and the trailer. A capacity of 0 means no limit.
class VolumeWriter {
public:
    VolumeWriter(std::string path, uint64_t capacity)
        : path_(std::move(path)), capacity_(capacity) {}

    // Writes the prefix and text blocks; false when they cannot be written or do not fit.
    bool Open(const std::string& prefix, bool executable, const std::vector<std::string>& texts,
              std::string& error);
    // Bytes a further block may take in this volume.
    uint64_t Room() const;
    void Add(const EncodedEntry& entry);
    int Entries() const { return entries_; }
    // Records the end in an executable prefix, sums the volume and appends the trailer (the data
    // start, checksum and length filled in).
    bool Finish(TPackageTrailer trailer, bool checksum, std::string& error);

private:
    void Write(const std::string& bytes);
    bool Checksum(uint64_t end, uint32_t& sum) const;

    std::string path_;
    uint64_t capacity_;
    std::ofstream out_;
    bool executable_ = false;
    uint64_t dataStart_ = 0;
    uint64_t written_ = 0;
    int entries_ = 0;
};
