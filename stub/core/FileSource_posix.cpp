#include "stub/core/ByteSource.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

class PosixFileSource : public ByteSource {
public:
    PosixFileSource(std::FILE* file, uint64_t size) : file_(file), size_(size) {}
    ~PosixFileSource() override { std::fclose(file_); }
    PosixFileSource(const PosixFileSource&) = delete;
    PosixFileSource& operator=(const PosixFileSource&) = delete;

    uint64_t Size() const override { return size_; }

    size_t ReadAt(uint64_t offset, void* buffer, size_t count) override {
        if (offset >= size_ || fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
            return 0;
        }
        return std::fread(buffer, 1, count, file_);
    }

private:
    std::FILE* file_;
    uint64_t size_;
};

} // namespace

std::unique_ptr<ByteSource> OpenSharedFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return nullptr;
    }
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return std::make_unique<PosixFileSource>(file, static_cast<uint64_t>(info.st_size));
}
