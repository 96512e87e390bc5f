#pragma once

// Layout of a setup package, written by the package builder and read by the stub.
//
// A setup file is the stub program followed by its package; all integers are little-endian and
// positions count from the start of the file.
//
//   [stub program][block]...[block][trailer]      (then, for an executable, maybe a signature)
//
// Recorded end. Signing an executable appends data after the package, so the builder records
// where the package ends inside the stub's DOS header: the high 32 bits at offset 248 and the
// low 32 bits at offset 252. A file is an executable when it starts with "MZ" and has "PE" at
// offset 256 (the stub's own PE header always starts there). For an executable with a non-zero
// recorded end everything after it is ignored; otherwise the package ends at the end of file.
//
// Trailer (kTrailerSize bytes, ending at the package end; its last four bytes are its length L):
//    0  u8      version, 1             28  u32[9] space table (below)
//    1  u8      block count (0 = 2)    64  u8     reserved
//    2  u16     zero                   65  u8     flags (TrailerFlag)
//    4  u32     data start             66  u8     download stub
//    8  u32     file count             67  u8     confirm download
//   12  u32     magic (kPackageMagic)  68  u8     has agent
//   16  u32     checksum (or 1234)     69  u8     is agent
//   20  u8[8]   reserved               70  u32    trailer length L
// Space table: entry 0 is the plain total size of the files, entries 1..8 what they occupy on a
// drive with clusters of 512 << (i - 1) bytes.
//
// Blocks follow each other from the data start up to the trailer: a signed 32-bit length n and
// |n| bytes. The first `block count` blocks are texts (language block, agent list and, with a
// block count of 3, the download list); every further block is a file entry, a zlib stream
// when n > 0 and stored bytes otherwise. An entry holds the field list "|name|dosdate|", one NUL
// and the file's content; the setup engine's name carries "*" and its parameters.

#include "stub/core/ByteSource.h"

#include <array>
#include <cstdint>
#include <string>

constexpr uint32_t kPackageMagic = 0x4A3B2C1D;
constexpr uint32_t kTrailerSize = 74;
constexpr uint32_t kUncheckedSum = 1234;
constexpr uint64_t kChecksumSizeLimit = 52428800; // larger files are never summed
constexpr uint32_t kRecordedEndHighOffset = 248;
constexpr uint32_t kRecordedEndLowOffset = 252;
constexpr uint32_t kStubPeHeaderOffset = 256;
constexpr int kSpaceTableSize = 9;

enum TrailerFlag : uint8_t {
    tfAnnounceTempDrive = 1 << 0,
    tfMultiVolume = 1 << 1,
    tfRunFromCopy = 1 << 2,
    tfShowActivityBar = 1 << 3,
    tfAgentLog = 1 << 4,
};

// The trailer as a record; a default-constructed one is the all-zero record of a file
// without a package.
struct TPackageTrailer {
    uint8_t version = 0;
    uint8_t blockCount = 0;
    uint32_t dataStart = 0;
    uint32_t fileCount = 0;
    uint32_t magic = 0;
    uint32_t checksum = 0;
    std::array<uint32_t, kSpaceTableSize> space{};
    uint8_t flags = 0;
    uint8_t downloadStub = 0;
    uint8_t confirmDownload = 0;
    uint8_t hasAgent = 0;
    uint8_t isAgent = 0;
    uint32_t trailerLength = 0;

    bool HasMagic() const { return magic == kPackageMagic; }
};

// Decodes the first min(L, kTrailerSize) - 4 bytes of a trailer; missing bytes read as zero.
// A block count of 0 reads as 2. The record's trailer length is set by the caller.
TPackageTrailer DecodeTrailer(const std::string& bytes);
// The full kTrailerSize bytes of a trailer, its length field included.
std::string EncodeTrailer(const TPackageTrailer& trailer);

// Where a trailer was found: the record and the byte range it occupies.
struct TrailerLocation {
    TPackageTrailer trailer;
    uint64_t trailerStart = 0; // first byte of the trailer (end of the last block)
    uint64_t packageEnd = 0;   // just after the trailer
    bool found = false;        // false: no trailer fits in the file, the record is all zero
};

// Each operation also takes a file name; a file that cannot be opened reads as no package
// (not an executable, no recorded end, no trailer, a sum of 0).
bool IsExecutable(ByteSource& file);
bool IsExecutable(const std::string& file);
// The recorded end of an executable (0 when absent or not an executable).
uint64_t RecordedEnd(ByteSource& file);
uint64_t RecordedEnd(const std::string& file);

// Finds and reads the trailer. A trailer length below 4, one larger than the file, or a recorded
// end beyond the file leaves the record all zero instead of reading outside the file.
TrailerLocation ReadTrailer(ByteSource& file);
TrailerLocation ReadTrailer(const std::string& file);

// The package checksum: kUncheckedSum for files over kChecksumSizeLimit; otherwise the wrapping
// 32-bit sum of the words before the trailer, skipping the first 512 bytes when the file has a
// recorded end (they hold it, and it changes when the builder writes it).
uint32_t PackageChecksum(ByteSource& file, uint32_t trailerLength);
uint32_t PackageChecksum(const std::string& file, uint32_t trailerLength);
// The sum itself: words from `start` on while more than 4 bytes of the `remaining` budget are
// left after the word, plus kUncheckedSum after every 4096-byte read that leaves such a budget.
uint32_t SumPackageWords(ByteSource& file, uint64_t start, int64_t remaining);
bool ChecksumAccepted(uint32_t computed, uint32_t stored);
