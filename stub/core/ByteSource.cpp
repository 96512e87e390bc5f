#include "stub/core/ByteSource.h"

#include <algorithm>
#include <cstring>

bool ByteSource::ReadExact(uint64_t offset, void* buffer, size_t count) {
    if (offset > Size() || Size() - offset < count) {
        return false;
    }
    return ReadAt(offset, buffer, count) == count;
}

size_t MemorySource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset >= bytes_.size()) {
        return 0;
    }
    const size_t n = std::min<uint64_t>(count, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return n;
}
