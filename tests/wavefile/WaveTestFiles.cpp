#include "tests/wavefile/WaveTestFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

void AppendLE32(TBytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void AppendId(TBytes& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

TScratchFolder::TScratchFolder() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static int counter = 0;
    path_ = std::string(temp) + "wavefile_test_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TScratchFolder::~TScratchFolder() {
    RemoveTree(path_);
}

TBytes ReadFileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& name, const TBytes& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + name);
    }
}

uint32_t ReadLE32(const TBytes& bytes, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

bool FileExists(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string BuildTreeFolder(const std::string& relative) {
    const char* root = std::getenv("SW_BINARY_DIR");
    std::string path = std::string("Z:") + (root ? root : "/tmp") + "/" + relative;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

WAVEFORMATEX PcmFormat(int bits, int channels, uint32_t rate) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = static_cast<WORD>(bits);
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * rate;
    return format;
}

TBytes PatternBytes(size_t count, uint32_t seed) {
    TBytes bytes(count);
    uint32_t state = seed * 2654435761u + 12345;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

TRiffBuilder::TRiffBuilder(const char* form) : form_(form) {}

TRiffBuilder& TRiffBuilder::Chunk(const char* id, const TBytes& body) {
    ChunkClaiming(id, static_cast<uint32_t>(body.size()), body);
    if (body.size() & 1) {
        body_.push_back(0);
    }
    return *this;
}

TRiffBuilder& TRiffBuilder::ChunkClaiming(const char* id, uint32_t claimed, const TBytes& body) {
    AppendId(body_, id);
    AppendLE32(body_, claimed);
    body_.insert(body_.end(), body.begin(), body.end());
    return *this;
}

TRiffBuilder& TRiffBuilder::Format(const WAVEFORMATEX& format, size_t bytes) {
    const auto* raw = reinterpret_cast<const uint8_t*>(&format);
    TBytes body(raw, raw + std::min<size_t>(bytes, sizeof format));
    body.resize(bytes, 0);
    return Chunk("fmt ", body);
}

TRiffBuilder& TRiffBuilder::Raw(const TBytes& bytes) {
    body_.insert(body_.end(), bytes.begin(), bytes.end());
    return *this;
}

TBytes TRiffBuilder::Build() const {
    return Build(static_cast<uint32_t>(4 + body_.size()));
}

TBytes TRiffBuilder::Build(uint32_t riffSize) const {
    TBytes file(12 + body_.size());
    std::memcpy(file.data(), "RIFF", 4);
    std::memcpy(file.data() + 4, &riffSize, 4);
    std::memcpy(file.data() + 8, form_.data(), 4);
    std::copy(body_.begin(), body_.end(), file.begin() + 12);
    return file;
}
