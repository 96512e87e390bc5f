#include "stub/core/PackageFormat.h"

#include <algorithm>
#include <vector>

namespace {

constexpr size_t kChecksumBlock = 4096;
constexpr uint32_t kRecordedEndSkip = 512;

// Field offsets within the trailer, as tabled in the header.
enum TrailerOffset : size_t {
    toVersion = 0,
    toBlockCount = 1,
    toDataStart = 4,
    toFileCount = 8,
    toMagic = 12,
    toChecksum = 16,
    toSpace = 28,
    toFlags = 65,
    toDownloadStub = 66,
    toConfirmDownload = 67,
    toHasAgent = 68,
    toIsAgent = 69,
    toLength = 70,
};
static_assert(toSpace + 4 * kSpaceTableSize == 64, "the space table ends at reserved byte 64");
static_assert(toLength + 4 == kTrailerSize, "the length field closes the trailer");

uint32_t Load32(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    }
    return value;
}

void Store32(std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

bool ReadWord(ByteSource& file, uint64_t offset, uint32_t& value) {
    std::string bytes(4, '\0');
    if (!file.ReadExact(offset, bytes.data(), 4)) {
        return false;
    }
    value = Load32(bytes, 0);
    return true;
}

// The end of the package: the recorded end when the file has one, else the end of the file.
// Returns false when the recorded end points outside the file.
bool PackageEnd(ByteSource& file, uint64_t& end) {
    const uint64_t recorded = RecordedEnd(file);
    end = recorded != 0 ? recorded : file.Size();
    return end <= file.Size();
}

template <typename Read>
auto WithFile(const std::string& path, Read read) -> decltype(read(std::declval<ByteSource&>())) {
    const std::unique_ptr<ByteSource> file = OpenSharedFile(path);
    if (!file) {
        return {};
    }
    return read(*file);
}

} // namespace

TPackageTrailer DecodeTrailer(const std::string& bytes) {
    std::string raw = bytes.substr(0, kTrailerSize - 4);
    raw.resize(kTrailerSize - 4, '\0');
    TPackageTrailer trailer;
    trailer.version = static_cast<uint8_t>(raw[toVersion]);
    trailer.blockCount = static_cast<uint8_t>(raw[toBlockCount]);
    if (trailer.blockCount == 0) {
        trailer.blockCount = 2;
    }
    trailer.dataStart = Load32(raw, toDataStart);
    trailer.fileCount = Load32(raw, toFileCount);
    trailer.magic = Load32(raw, toMagic);
    trailer.checksum = Load32(raw, toChecksum);
    for (int i = 0; i < kSpaceTableSize; ++i) {
        trailer.space[i] = Load32(raw, toSpace + 4 * i);
    }
    trailer.flags = static_cast<uint8_t>(raw[toFlags]);
    trailer.downloadStub = static_cast<uint8_t>(raw[toDownloadStub]);
    trailer.confirmDownload = static_cast<uint8_t>(raw[toConfirmDownload]);
    trailer.hasAgent = static_cast<uint8_t>(raw[toHasAgent]);
    trailer.isAgent = static_cast<uint8_t>(raw[toIsAgent]);
    return trailer;
}

std::string EncodeTrailer(const TPackageTrailer& trailer) {
    std::string bytes(kTrailerSize, '\0');
    bytes[toVersion] = static_cast<char>(trailer.version);
    bytes[toBlockCount] = static_cast<char>(trailer.blockCount);
    Store32(bytes, toDataStart, trailer.dataStart);
    Store32(bytes, toFileCount, trailer.fileCount);
    Store32(bytes, toMagic, trailer.magic);
    Store32(bytes, toChecksum, trailer.checksum);
    for (int i = 0; i < kSpaceTableSize; ++i) {
        Store32(bytes, toSpace + 4 * i, trailer.space[i]);
    }
    bytes[toFlags] = static_cast<char>(trailer.flags);
    bytes[toDownloadStub] = static_cast<char>(trailer.downloadStub);
    bytes[toConfirmDownload] = static_cast<char>(trailer.confirmDownload);
    bytes[toHasAgent] = static_cast<char>(trailer.hasAgent);
    bytes[toIsAgent] = static_cast<char>(trailer.isAgent);
    Store32(bytes, toLength, trailer.trailerLength);
    return bytes;
}

bool IsExecutable(ByteSource& file) {
    char mz[2];
    char pe[2];
    return file.ReadExact(0, mz, 2) && file.ReadExact(kStubPeHeaderOffset, pe, 2) && mz[0] == 'M' &&
           mz[1] == 'Z' && pe[0] == 'P' && pe[1] == 'E';
}

uint64_t RecordedEnd(ByteSource& file) {
    uint32_t high = 0;
    uint32_t low = 0;
    if (!IsExecutable(file) || !ReadWord(file, kRecordedEndHighOffset, high) ||
        !ReadWord(file, kRecordedEndLowOffset, low)) {
        return 0;
    }
    return (static_cast<uint64_t>(high) << 32) | low;
}

TrailerLocation ReadTrailer(ByteSource& file) {
    TrailerLocation location;
    uint64_t end = 0;
    uint32_t length = 0;
    if (!PackageEnd(file, end) || end < 4 || !ReadWord(file, end - 4, length) || length < 4 ||
        length > end) {
        return location;
    }
    const uint32_t used = std::min(length, kTrailerSize);
    std::string bytes(used - 4, '\0');
    if (!file.ReadExact(end - length, bytes.data(), bytes.size())) {
        return location;
    }
    location.trailer = DecodeTrailer(bytes);
    location.trailer.trailerLength = used;
    location.trailerStart = end - length;
    location.packageEnd = end;
    location.found = true;
    return location;
}

uint32_t SumPackageWords(ByteSource& file, uint64_t start, int64_t remaining) {
    std::vector<unsigned char> block(kChecksumBlock);
    uint32_t sum = 0;
    uint64_t position = start;
    for (;;) {
        const size_t got = file.ReadAt(position, block.data(), block.size());
        position += got;
        for (size_t i = 0; i + 4 <= got; i += 4) {
            remaining -= 4;
            if (remaining > 4) {
                sum += static_cast<uint32_t>(block[i]) | static_cast<uint32_t>(block[i + 1]) << 8 |
                       static_cast<uint32_t>(block[i + 2]) << 16 |
                       static_cast<uint32_t>(block[i + 3]) << 24;
            }
        }
        if (remaining > 4) {
            sum += kUncheckedSum;
        }
        if (got < block.size()) {
            return sum;
        }
    }
}

uint32_t PackageChecksum(ByteSource& file, uint32_t trailerLength) {
    if (file.Size() > kChecksumSizeLimit) {
        return kUncheckedSum;
    }
    uint32_t recordedLow = 0;
    if (IsExecutable(file)) {
        ReadWord(file, kRecordedEndLowOffset, recordedLow);
    }
    const int64_t end = recordedLow != 0 ? recordedLow : static_cast<int64_t>(file.Size());
    const int64_t remaining = end - trailerLength;
    if (recordedLow != 0) {
        return SumPackageWords(file, kRecordedEndSkip, remaining - kRecordedEndSkip);
    }
    return SumPackageWords(file, 0, remaining);
}

bool ChecksumAccepted(uint32_t computed, uint32_t stored) {
    return computed == stored || computed == kUncheckedSum || stored == kUncheckedSum;
}

bool IsExecutable(const std::string& file) {
    return WithFile(file, [](ByteSource& source) { return IsExecutable(source); });
}

uint64_t RecordedEnd(const std::string& file) {
    return WithFile(file, [](ByteSource& source) { return RecordedEnd(source); });
}

TrailerLocation ReadTrailer(const std::string& file) {
    return WithFile(file, [](ByteSource& source) { return ReadTrailer(source); });
}

uint32_t PackageChecksum(const std::string& file, uint32_t trailerLength) {
    return WithFile(file, [trailerLength](ByteSource& source) {
        return PackageChecksum(source, trailerLength);
    });
}
