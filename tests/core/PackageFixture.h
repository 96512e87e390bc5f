#pragma once

#include "stub/core/PackageFormat.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Lays out a package byte by byte, independently of the builder, so that reader tests can
// shape every field (and damage it) directly.
struct PackageFixture {
    std::string prefix;                                  // the "stub" in front of the data
    std::vector<std::pair<int32_t, std::string>> blocks; // stored length and bytes
    TPackageTrailer trailer;
    std::string suffix; // bytes after the trailer (a signature)

    PackageFixture() {
        trailer.version = 1;
        trailer.blockCount = 2;
        trailer.magic = kPackageMagic;
        trailer.trailerLength = kTrailerSize;
    }

    void AddText(const std::string& text) {
        blocks.emplace_back(static_cast<int32_t>(text.size()), text);
    }

    // The file bytes with the data start filled in.
    std::string Bytes() const {
        std::string bytes = prefix;
        for (const auto& [length, data] : blocks) {
            bytes += Le32(static_cast<uint32_t>(length)) + data;
        }
        TPackageTrailer t = trailer;
        t.dataStart = static_cast<uint32_t>(prefix.size());
        return bytes + EncodeTrailer(t) + suffix;
    }

    static std::string Le32(uint32_t value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<char>(value >> (8 * i));
        }
        return bytes;
    }

    // A fake executable header: "MZ", "PE" at 256, and the given recorded end.
    static std::string ExecutablePrefix(uint64_t recordedEnd, size_t size = 512) {
        std::string bytes(size, '\0');
        bytes[0] = 'M';
        bytes[1] = 'Z';
        bytes.replace(kStubPeHeaderOffset, 4, std::string("PE\0\0", 4));
        bytes.replace(kRecordedEndHighOffset, 4, Le32(static_cast<uint32_t>(recordedEnd >> 32)));
        bytes.replace(kRecordedEndLowOffset, 4, Le32(static_cast<uint32_t>(recordedEnd)));
        return bytes;
    }
};
