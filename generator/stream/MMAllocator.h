// The buffer pool each sound device owns. Blocks stay allocated between uses and go back to
// the system only with FreeAll or the pool itself, so a running device allocates nothing.
#pragma once

#include "generator/stream/Win32Handles.h"

#include <cstddef>
#include <vector>

class TMMAllocator {
public:
    TMMAllocator() = default;
    ~TMMAllocator();
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;

    // Returns a zero-filled block of at least `bytes` (a reused one is not cleared again), or
    // nullptr when the system allocation fails. `flags` are GlobalAlloc flags for new blocks.
    void* Acquire(unsigned flags, size_t bytes);
    // Marks the block free and clears the caller's pointer; unknown pointers are left alone.
    void Release(void*& block);
    // Returns every block to the system, whatever is still in use.
    void FreeAll();
    // Blocks handed out and not released yet.
    int BlocksInUse() const;

private:
    struct Entry {
        void* block;
        size_t size;
        int inUse;
    };
    void* Take(Entry& entry);

    mutable TCriticalSection lock_;
    // Guarded by lock_: Acquire runs on the main thread while a device thread or driver
    // callback may Release.
    std::vector<Entry> entries_;
};
