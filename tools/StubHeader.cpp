#include "tools/StubHeader.h"

#include "stub/core/PackageFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kLfanewOffset = 0x3C;
constexpr size_t kFileHeaderSize = 24; // "PE\0\0" and the COFF file header
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSizeOfHeadersOffset = 60; // within the optional header

uint32_t Get(const std::string& bytes, size_t offset, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    }
    return value;
}

void Put32(std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

bool IsPeAt(const std::string& bytes, size_t offset) {
    return offset + kFileHeaderSize <= bytes.size() &&
           std::memcmp(bytes.data() + offset, "PE\0\0", 4) == 0;
}

// The end of the room headers may use: SizeOfHeaders, or the first section's data if earlier.
size_t HeaderRoom(const std::string& bytes, size_t pe, size_t optionalSize, size_t sections) {
    size_t room = bytes.size();
    if (optionalSize >= kSizeOfHeadersOffset + 4) {
        room = std::min<size_t>(room, Get(bytes, pe + kFileHeaderSize + kSizeOfHeadersOffset, 4));
    }
    const size_t table = pe + kFileHeaderSize + optionalSize;
    for (size_t i = 0; i < sections; ++i) {
        const size_t entry = table + i * kSectionHeaderSize;
        const uint32_t rawSize = Get(bytes, entry + 16, 4);
        const uint32_t rawPointer = Get(bytes, entry + 20, 4);
        if (rawSize != 0 && rawPointer != 0) {
            room = std::min<size_t>(room, rawPointer);
        }
    }
    return room;
}

} // namespace

bool PlaceStubHeader(std::string& stub, bool& executable, std::string& error) {
    executable = false;
    if (stub.size() < kLfanewOffset + 4 || stub[0] != 'M' || stub[1] != 'Z') {
        return true;
    }
    const size_t pe = Get(stub, kLfanewOffset, 4);
    if (!IsPeAt(stub, pe)) {
        return true;
    }
    if (pe == kStubPeHeaderOffset) {
        executable = true;
        return true;
    }
    const size_t sections = Get(stub, pe + 6, 2);
    const size_t optionalSize = Get(stub, pe + 20, 2);
    const size_t length = kFileHeaderSize + optionalSize + sections * kSectionHeaderSize;
    if (pe + length > stub.size()) {
        error = "the stub's PE headers are damaged";
        return false;
    }
    const size_t room = HeaderRoom(stub, pe, optionalSize, sections);
    if (kStubPeHeaderOffset + length > room) {
        error = "no room to move the stub's PE headers to offset 256";
        return false;
    }
    const std::string headers = stub.substr(pe, length);
    std::fill(stub.begin() + std::min(pe, size_t{kRecordedEndHighOffset}),
              stub.begin() + std::max(pe + length, kStubPeHeaderOffset + length), '\0');
    stub.replace(kStubPeHeaderOffset, length, headers);
    Put32(stub, kLfanewOffset, kStubPeHeaderOffset);
    executable = true;
    return true;
}

void WriteRecordedEnd(std::string& header, unsigned long long end) {
    Put32(header, kRecordedEndHighOffset, static_cast<uint32_t>(end >> 32));
    Put32(header, kRecordedEndLowOffset, static_cast<uint32_t>(end & 0xFFFFFFFFu));
}
