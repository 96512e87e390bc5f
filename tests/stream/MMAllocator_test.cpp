#include "generator/stream/MMAllocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MMAllocator, ReusesExactThenLargerFreeBlocks) {
    TMMAllocator pool;
    void* first = pool.Acquire(GHND, 8252);
    void* second = pool.Acquire(GHND, 8252);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);

    void* released = first;
    pool.Release(released);
    EXPECT_EQ(released, nullptr);
    EXPECT_EQ(pool.Acquire(GHND, 8252), first);
}

TEST(MMAllocator, SmallRequestTakesFreeLargerBlock) {
    TMMAllocator pool;
    void* big = pool.Acquire(GHND, 8252);
    void* copy = big;
    pool.Release(copy);
    EXPECT_EQ(pool.Acquire(GHND, 100), big);
    // Nothing is free now, so a new block is made.
    void* fresh = pool.Acquire(GHND, 100);
    EXPECT_NE(fresh, big);
    EXPECT_TRUE(fresh);
}

TEST(MMAllocator, ExactSizeWinsOverEarlierLargerBlock) {
    TMMAllocator pool;
    void* large = pool.Acquire(GHND, 4096);
    void* small = pool.Acquire(GHND, 64);
    void* a = large;
    void* b = small;
    pool.Release(a);
    pool.Release(b);
    EXPECT_EQ(pool.Acquire(GHND, 64), small);
}

TEST(MMAllocator, NewBlocksAreZeroFilledAndForeignPointersIgnored) {
    TMMAllocator pool;
    auto* block = static_cast<unsigned char*>(pool.Acquire(GHND, 256));
    ASSERT_TRUE(block);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    int outside = 0;
    void* foreign = &outside;
    pool.Release(foreign);
    EXPECT_EQ(foreign, &outside);
    void* none = nullptr;
    pool.Release(none);
    EXPECT_EQ(none, nullptr);
}

TEST(MMAllocator, FreeAllForgetsEverything) {
    TMMAllocator pool;
    pool.Acquire(GHND, 512);
    pool.FreeAll();
    void* block = pool.Acquire(GHND, 512);
    EXPECT_TRUE(block);
    std::memset(block, 0xFF, 512); // the new block is ours to use
}

struct ChurnArgs {
    TMMAllocator* pool;
    int rounds;
    unsigned char mark;
    bool ok;
};

DWORD WINAPI Churn(void* raw) {
    auto* args = static_cast<ChurnArgs*>(raw);
    for (int i = 0; i < args->rounds; ++i) {
        auto* block = static_cast<unsigned char*>(args->pool->Acquire(GHND, 64 + (i % 3) * 64));
        if (!block) {
            args->ok = false;
            return 0;
        }
        // A block handed to two users at once would show the other's mark.
        block[0] = args->mark;
        Sleep(0);
        if (block[0] != args->mark) {
            args->ok = false;
        }
        void* p = block;
        args->pool->Release(p);
    }
    return 0;
}

TEST(MMAllocator, ConcurrentUsersNeverShareABlock) {
    TMMAllocator pool;
    ChurnArgs args[2] = {{&pool, 5000, 1, true}, {&pool, 5000, 2, true}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(nullptr, 0, Churn, &args[i], 0, nullptr);
        ASSERT_TRUE(threads[i]);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE h : threads) {
        CloseHandle(h);
    }
    EXPECT_TRUE(args[0].ok);
    EXPECT_TRUE(args[1].ok);
}

} // namespace
