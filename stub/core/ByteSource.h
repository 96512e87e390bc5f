#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Random-access read view of a setup file. The package code reads through this interface only,
// so that it parses bytes the same way from a Windows file handle, a POSIX file or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to `count` bytes at `offset`; returns how many were read (0 past the end).
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t count) = 0;

    // Reads exactly `count` bytes or nothing; false when the source holds fewer.
    bool ReadExact(uint64_t offset, void* buffer, size_t count);
};

// A source over bytes held in memory (packages being built, tests).
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) override;

private:
    std::string bytes_;
};

// Opens a file for reading while others may read, write or delete it (a running setup file
// is read by the program that runs from it). Returns nullptr when the file cannot be opened.
std::unique_ptr<ByteSource> OpenSharedFile(const std::string& path);
