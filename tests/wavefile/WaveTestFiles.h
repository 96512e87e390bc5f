// Files for the wave file tests: a private scratch folder, whole-file reads and writes, and a
// builder for hand-made RIFF files with exactly the faults a test needs.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include <cstdint>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// A fresh folder under the temporary folder, removed with its files when the object goes.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

TBytes ReadFileBytes(const std::string& name);
void WriteFileBytes(const std::string& name, const TBytes& bytes);
uint32_t ReadLE32(const TBytes& bytes, size_t offset);
bool FileExists(const std::string& name);

// A folder of the build tree (CTest's SW_BINARY_DIR) as Wine sees it.
std::string BuildTreeFolder(const std::string& relative);

WAVEFORMATEX PcmFormat(int bits, int channels, uint32_t rate);
// Deterministic sample bytes, different at every offset.
TBytes PatternBytes(size_t count, uint32_t seed = 1);

// Assembles a RIFF file chunk by chunk; sizes can be given wrong on purpose.
class TRiffBuilder {
public:
    explicit TRiffBuilder(const char* form = "WAVE");
    TRiffBuilder& Chunk(const char* id, const TBytes& body);
    // A chunk whose size field says `claimed` while `body` follows.
    TRiffBuilder& ChunkClaiming(const char* id, uint32_t claimed, const TBytes& body);
    TRiffBuilder& Format(const WAVEFORMATEX& format, size_t bytes = 16);
    TRiffBuilder& Raw(const TBytes& bytes);
    // The file; the RIFF size is the real one unless `riffSize` is given.
    TBytes Build() const;
    TBytes Build(uint32_t riffSize) const;

private:
    std::string form_;
    TBytes body_;
};
