#pragma once

#include "stub/core/ByteSource.h"

#include <cstdint>
#include <functional>
#include <string>

// One block of the data area: its signed length as stored and its |length| bytes.
struct PackageBlock {
    int32_t length = 0; // > 0: a zlib stream; <= 0: stored bytes (file entries only)
    std::string bytes;
};

// Walks the blocks between the data start and the trailer. A length that reaches past the end
// of the data area ends the walk: that block and everything after it count as missing, so a
// damaged length never makes the reader allocate or read more than the file holds.
class PackageBlockReader {
public:
    PackageBlockReader(ByteSource& file, uint64_t dataStart, uint64_t dataEnd);

    // False at the end of the data area or at a block that does not fit.
    bool Next(PackageBlock& block);
    // True when the walk stopped at a block that does not fit (rather than at the end).
    bool Truncated() const { return truncated_; }
    // Position just after the last block read.
    uint64_t Position() const { return position_; }

private:
    ByteSource& file_;
    uint64_t position_;
    uint64_t end_;
    bool truncated_ = false;
};

// The header of a file entry.
struct FileEntryHeader {
    std::string name;       // relative to the extraction folder, without the engine mark
    bool isEngine = false;  // the name carried "*": this file is the setup engine
    std::string parameters; // the engine's parameters (the text after "*")
    uint32_t dosDateTime = 0;
};

enum class EntryStatus { esOk, esNoHeader, esCorrupt, esStopped };

// Receives a file entry's content piece by piece; returns false to stop reading.
using EntrySink = std::function<bool(const char* data, size_t size)>;

// Inflates (length > 0) or takes (length <= 0) a file entry, fills `header` and hands the content
// to `sink` in pieces, so that an entry never has to fit in memory once inflated.
// esNoHeader: no NUL within the first 64 KiB (the entry is to be ignored); esCorrupt: the zlib
// stream is damaged or ends early, after some content may already have been delivered.
EntryStatus ReadFileEntry(const PackageBlock& block, FileEntryHeader& header,
                          const EntrySink& sink);

// Parses "|name|dosdate|" (the engine's name with "*" and its parameters).
FileEntryHeader ParseEntryHeader(const std::string& header);
// Builds the header of an entry; the engine's name gets "*" and its parameters.
std::string MakeEntryHeader(const FileEntryHeader& header);
