#include "generator/stream/MMAllocator.h"

TMMAllocator::~TMMAllocator() {
    FreeAll();
}

void* TMMAllocator::Take(Entry& entry) {
    entry.inUse = 1;
    return entry.block;
}

void* TMMAllocator::Acquire(unsigned flags, size_t bytes) {
    TLock guard(lock_);
    for (Entry& entry : entries_) {
        if (entry.inUse == 0 && entry.block && entry.size == bytes) {
            return Take(entry);
        }
    }
    for (Entry& entry : entries_) {
        if (entry.inUse == 0 && entry.block && entry.size >= bytes) {
            return Take(entry);
        }
    }
    // Blocks are handed out as pointers, so they are always fixed memory (for fixed memory the
    // handle is the pointer); devices pass GHND and get zero-filled blocks either way.
    void* block = GlobalAlloc((flags & ~GMEM_MOVEABLE) | GMEM_ZEROINIT, bytes);
    entries_.push_back(Entry{block, bytes, 1});
    return block;
}

void TMMAllocator::Release(void*& block) {
    if (!block) {
        return;
    }
    TLock guard(lock_);
    for (Entry& entry : entries_) {
        if (entry.block == block) {
            --entry.inUse;
            block = nullptr;
            return;
        }
    }
}

void TMMAllocator::FreeAll() {
    TLock guard(lock_);
    while (!entries_.empty()) {
        if (entries_.back().block) {
            GlobalFree(entries_.back().block);
        }
        entries_.pop_back();
    }
}

int TMMAllocator::BlocksInUse() const {
    TLock guard(lock_);
    int inUse = 0;
    for (const Entry& entry : entries_) {
        inUse += entry.inUse;
    }
    return inUse;
}
