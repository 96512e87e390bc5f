#include "tools/VolumeWriter.h"

#include "stub/core/ByteSource.h"
#include "tools/StubHeader.h"

#include <zlib.h>

#include <filesystem>
#include <limits>
#include <memory>

namespace {

constexpr uint64_t kRecordedEndSkip = 512; // the stub's header, not summed once it is recorded

std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

} // namespace

EncodedEntry EncodeEntry(const std::string& header, const char* content, size_t size, int level) {
    std::string raw = header;
    raw += '\0';
    raw.append(content, size);
    std::string packed(compressBound(static_cast<uLong>(raw.size())), '\0');
    uLongf packedSize = static_cast<uLongf>(packed.size());
    const int rc = compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                             reinterpret_cast<const Bytef*>(raw.data()),
                             static_cast<uLong>(raw.size()), level);
    EncodedEntry entry;
    if (rc == Z_OK && packedSize < raw.size()) {
        packed.resize(packedSize);
        entry.length = static_cast<int32_t>(packedSize);
        entry.bytes = std::move(packed);
    } else {
        entry.length = -static_cast<int32_t>(raw.size());
        entry.bytes = std::move(raw);
    }
    return entry;
}

bool VolumeWriter::Open(const std::string& prefix, bool executable,
                        const std::vector<std::string>& texts, std::string& error) {
    out_.open(std::filesystem::path(path_), std::ios::binary | std::ios::trunc);
    executable_ = executable;
    dataStart_ = prefix.size();
    Write(prefix);
    for (const std::string& text : texts) {
        Write(Le32(static_cast<uint32_t>(text.size())) + text);
    }
    if (!out_) {
        error = "cannot write " + path_;
        return false;
    }
    if (capacity_ != 0 && written_ + kTrailerSize > capacity_) {
        error = "the volume size " + std::to_string(capacity_) +
                " cannot hold the stub, the lists and the trailer";
        return false;
    }
    return true;
}

uint64_t VolumeWriter::Room() const {
    if (capacity_ == 0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return capacity_ - written_ - kTrailerSize;
}

void VolumeWriter::Add(const EncodedEntry& entry) {
    Write(Le32(static_cast<uint32_t>(entry.length)));
    Write(entry.bytes);
    ++entries_;
}

bool VolumeWriter::Finish(TPackageTrailer trailer, bool checksum, std::string& error) {
    const uint64_t end = written_ + kTrailerSize;
    if (executable_) {
        std::string header(kStubPeHeaderOffset, '\0');
        WriteRecordedEnd(header, end);
        out_.seekp(kRecordedEndHighOffset);
        out_.write(header.data() + kRecordedEndHighOffset, 8);
        out_.seekp(0, std::ios::end);
    }
    out_.flush();
    if (!out_) {
        error = "cannot write " + path_;
        return false;
    }
    trailer.dataStart = static_cast<uint32_t>(dataStart_);
    trailer.checksum = kUncheckedSum;
    if (checksum && !Checksum(end, trailer.checksum)) {
        error = "cannot read back " + path_ + " to sum it";
        return false;
    }
    trailer.trailerLength = kTrailerSize;
    Write(EncodeTrailer(trailer));
    out_.close();
    if (!out_) {
        error = "cannot write " + path_;
        return false;
    }
    return true;
}

void VolumeWriter::Write(const std::string& bytes) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    written_ += bytes.size();
}

// The sum the stub computes once the trailer is in place: the trailer is not part of it, so the
// volume can be summed before the trailer is appended.
bool VolumeWriter::Checksum(uint64_t end, uint32_t& sum) const {
    if (end > kChecksumSizeLimit) {
        sum = kUncheckedSum; // never summed by the stub
        return true;
    }
    const std::unique_ptr<ByteSource> file = OpenSharedFile(path_);
    if (!file) {
        return false;
    }
    const uint64_t start = executable_ ? kRecordedEndSkip : 0;
    sum = SumPackageWords(*file, start, static_cast<int64_t>(end - kTrailerSize - start));
    return true;
}
