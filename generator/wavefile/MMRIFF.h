// The optional chunks a WAVE file may carry besides its format and samples: the "LIST"/"INFO"
// list of text entries and the "DISP" display chunks. Kept as plain data here, parsed from the
// raw bytes of a chunk and turned back into chunk bodies; the file access lives in MMWaveIO.
//
// INFO list body (after the "INFO" list type), repeated:
//   4 bytes identifier, 4 bytes size n (little-endian), n bytes text with its terminating zero,
//   one zero pad byte when n is odd (not counted in n).
// DISP chunk body: 4 bytes clipboard type (1 = zero-terminated text, 8 = device-independent
// bitmap), then the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using TFourCC = uint32_t;

constexpr TFourCC MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint8_t>(a) | static_cast<uint8_t>(b) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

struct TMMInfoId {
    TFourCC Id;
    const char* Name;
};

const int kInfoIdCount = 23;
// The INFO identifiers of the RIFF standard, in the order they are written.
const std::array<TMMInfoId, kInfoIdCount>& InfoIds();

// One optional text per known INFO identifier. Unknown identifiers found in a file are dropped.
class TMMInfoList {
public:
    // Empty for an identifier that is unset or not known.
    const std::string& Text(TFourCC id) const;
    // Returns false (and stores nothing) for an identifier that is not known.
    bool SetText(TFourCC id, const std::string& text);
    bool HasText() const;
    void Clear();

    // Takes the entries from an INFO list body. Sub-chunks that claim more bytes than remain
    // end the parse; a text without terminating zero is taken up to the end of its sub-chunk.
    void Parse(const uint8_t* body, size_t size);
    // The INFO list body for every non-empty text; empty when there is none.
    std::vector<uint8_t> Serialize() const;

private:
    std::array<std::string, kInfoIdCount> texts_;
};

enum TMMDispType : uint32_t { dtText = 1, dtBitmap = 8 };

struct TMMDispChunk {
    uint32_t Type = 0;
    std::vector<uint8_t> Data;
};
using TMMDispList = std::vector<TMMDispChunk>;

// False when the body is too short to hold the clipboard type.
bool ParseDispChunk(const uint8_t* body, size_t size, TMMDispChunk& chunk);
// Only text and bitmap entries with data are written back.
bool IsWritableDisp(const TMMDispChunk& chunk);
// The chunk body; a text gets its terminating zero when it lacks one.
std::vector<uint8_t> SerializeDispChunk(const TMMDispChunk& chunk);
