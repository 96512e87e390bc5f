#include "stub/core/PackageBlocks.h"

#include "stub/ui/SUB.h"

#include <zlib.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr size_t kMaxHeader = 64 * 1024;
constexpr size_t kInflateChunk = 64 * 1024;

// Splits delivered bytes into the header (up to the first NUL) and content for the sink.
class EntrySplitter {
public:
    EntrySplitter(FileEntryHeader& header, const EntrySink& sink) : header_(header), sink_(sink) {}

    // False when the sink stopped or the header grew too long without a NUL.
    bool Feed(const char* data, size_t size) {
        if (!headerDone_) {
            size_t i = 0;
            while (i < size && data[i] != '\0') {
                ++i;
            }
            headerText_.append(data, i);
            if (i == size) {
                return headerText_.size() <= kMaxHeader;
            }
            headerDone_ = true;
            header_ = ParseEntryHeader(headerText_);
            data += i + 1;
            size -= i + 1;
        }
        if (size == 0) {
            return true;
        }
        stopped_ = !sink_(data, size);
        return !stopped_;
    }

    EntryStatus Result(bool streamOk) const {
        if (stopped_) {
            return EntryStatus::esStopped;
        }
        if (!headerDone_) {
            return EntryStatus::esNoHeader;
        }
        return streamOk ? EntryStatus::esOk : EntryStatus::esCorrupt;
    }

private:
    FileEntryHeader& header_;
    const EntrySink& sink_;
    std::string headerText_;
    bool headerDone_ = false;
    bool stopped_ = false;
};

class Inflater {
public:
    Inflater() { ok_ = inflateInit(&stream_) == Z_OK; }
    ~Inflater() {
        if (ok_) {
            inflateEnd(&stream_);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates all of `input` into `splitter`; true when the stream ended properly.
    bool Run(const std::string& input, EntrySplitter& splitter) {
        if (!ok_) {
            return false;
        }
        std::vector<char> out(kInflateChunk);
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        stream_.avail_in = static_cast<uInt>(input.size());
        for (;;) {
            stream_.next_out = reinterpret_cast<Bytef*>(out.data());
            stream_.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            const size_t produced = out.size() - stream_.avail_out;
            if (produced > 0 && !splitter.Feed(out.data(), produced)) {
                return false;
            }
            if (rc == Z_STREAM_END) {
                return true;
            }
            if (rc != Z_OK || (produced == 0 && stream_.avail_in == 0)) {
                return false;
            }
        }
    }

private:
    z_stream stream_{};
    bool ok_ = false;
};

bool ParseDosDateTime(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > 0xFFFFFFFFu) {
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

} // namespace

PackageBlockReader::PackageBlockReader(ByteSource& file, uint64_t dataStart, uint64_t dataEnd)
    : file_(file), position_(dataStart), end_(std::min(dataEnd, file.Size())) {}

bool PackageBlockReader::Next(PackageBlock& block) {
    if (truncated_ || position_ >= end_) {
        return false;
    }
    unsigned char raw[4];
    if (end_ - position_ < 4 || !file_.ReadExact(position_, raw, 4)) {
        truncated_ = true;
        return false;
    }
    const auto length = static_cast<int32_t>(static_cast<uint32_t>(raw[0]) | raw[1] << 8 |
                                             raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24);
    const uint64_t size = length < 0 ? -static_cast<int64_t>(length) : length;
    if (size > end_ - position_ - 4) {
        truncated_ = true;
        return false;
    }
    block.length = length;
    block.bytes.assign(size, '\0');
    if (!file_.ReadExact(position_ + 4, block.bytes.data(), size)) {
        truncated_ = true;
        return false;
    }
    position_ += 4 + size;
    return true;
}

EntryStatus ReadFileEntry(const PackageBlock& block, FileEntryHeader& header,
                          const EntrySink& sink) {
    header = FileEntryHeader{};
    EntrySplitter splitter(header, sink);
    if (block.length > 0) {
        Inflater inflater;
        const bool ok = inflater.Run(block.bytes, splitter);
        return splitter.Result(ok);
    }
    splitter.Feed(block.bytes.data(), block.bytes.size());
    return splitter.Result(true);
}

FileEntryHeader ParseEntryHeader(const std::string& text) {
    FileEntryHeader header;
    header.name = SUB::GetField(text, 0, "");
    const size_t star = header.name.find('*');
    if (star != std::string::npos) {
        header.isEngine = true;
        header.parameters = header.name.substr(star + 1);
        header.name.erase(star);
    }
    ParseDosDateTime(SUB::GetField(text, 1, ""), header.dosDateTime);
    return header;
}

std::string MakeEntryHeader(const FileEntryHeader& header) {
    const std::string name = header.isEngine ? header.name + "*" + header.parameters : header.name;
    return SUB::SetField(SUB::SetField("|", 0, name), 1, std::to_string(header.dosDateTime));
}
