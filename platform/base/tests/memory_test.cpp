#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/memory.h"

namespace {

bool AllZero(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

TEST(Heap, DestroyFreesEverythingStillAllocated) {
    // The sheet context's heap is destroyed whole; LeakSanitizer would report
    // any block left behind.
    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    std::vector<void*> blocks;
    for (size_t i = 1; i <= 50; ++i) blocks.push_back(HeapAlloc(heap, 0, i * 37));
    void* grown = HeapReAlloc(heap, 0, blocks[3], 5000);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(zq::HeapBlockCount(heap), 50u);
    EXPECT_TRUE(HeapDestroy(heap));
    EXPECT_EQ(zq::HeapBlockCount(heap), 0u);

    SetLastError(0);
    EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HeapFree(heap, 0, blocks[0]));
    EXPECT_FALSE(HeapDestroy(heap));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Heap, BlocksReadAsZeroAndKeepTheirContentsWhenGrown) {
    HANDLE heap = HeapCreate(0, 640, 0);
    auto* p = static_cast<unsigned char*>(HeapAlloc(heap, 0, 640));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(AllZero(p, 640));
    EXPECT_EQ(HeapSize(heap, 0, p), 640u);
    std::memset(p, 0xAB, 640);
    auto* q = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, p, 1280));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[0], 0xAB);
    EXPECT_EQ(q[639], 0xAB);
    EXPECT_TRUE(AllZero(q + 640, 640));
    EXPECT_EQ(HeapSize(heap, 0, q), 1280u);

    // In place: shrinking works, growing does not.
    EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, q, 100), q);
    EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, q, 2000), nullptr);
    EXPECT_EQ(HeapSize(heap, 0, q), 100u);
    HeapDestroy(heap);
}

TEST(Heap, BadBlocksAndLimits) {
    HANDLE heap = HeapCreate(0, 0, 1000);
    HANDLE other = HeapCreate(0, 0, 0);
    void* p = HeapAlloc(heap, 0, 600);
    ASSERT_NE(p, nullptr);
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(heap, 0, 600), nullptr);  // over the heap's maximum
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(HeapAlloc(other, 0, SIZE_MAX), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);

    EXPECT_FALSE(HeapFree(other, 0, p));  // not from that heap
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(HeapFree(heap, 0, p));
    EXPECT_FALSE(HeapFree(heap, 0, p));  // double free is refused
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(HeapSize(heap, 0, p), static_cast<SIZE_T>(-1));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    EXPECT_NE(HeapAlloc(heap, 0, 1000), nullptr);  // the freed room is available again

    EXPECT_FALSE(HeapDestroy(GetProcessHeap()));
    EXPECT_EQ(GetProcessHeap(), GetProcessHeap());
    HeapDestroy(heap);
    HeapDestroy(other);
}

TEST(Global, LockCountsOfMovableAndFixedBlocks) {
    const size_t before = zq::GlobalBlockCount();
    HGLOBAL movable = GlobalAlloc(GHND, 172);
    ASSERT_NE(movable, nullptr);
    void* p = GlobalLock(movable);
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p, movable);
    EXPECT_TRUE(AllZero(p, 172));
    EXPECT_EQ(GlobalLock(movable), p);
    EXPECT_EQ(GlobalFlags(movable) & GMEM_LOCKCOUNT, 2u);
    EXPECT_EQ(GlobalHandle(p), movable);
    EXPECT_TRUE(GlobalUnlock(movable));  // still locked once
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GlobalUnlock(movable));
    EXPECT_EQ(GetLastError(), NO_ERROR);
    EXPECT_FALSE(GlobalUnlock(movable));
    EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);

    HGLOBAL fixed = GlobalAlloc(GPTR, 16);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(GlobalLock(fixed), fixed);  // a fixed block's handle is its address
    EXPECT_EQ(GlobalFlags(fixed) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(GlobalSize(fixed), 16u);
    EXPECT_EQ(GlobalHandle(fixed), fixed);

    EXPECT_EQ(zq::GlobalBlockCount(), before + 2);
    EXPECT_EQ(GlobalFree(movable), nullptr);
    EXPECT_EQ(GlobalFree(fixed), nullptr);
    EXPECT_EQ(zq::GlobalBlockCount(), before);
}

TEST(Global, StaleAndForeignHandlesAreRefused) {
    HGLOBAL movable = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    GlobalFree(movable);
    GlobalFree(fixed);
    int local = 0;
    struct Case {
        HGLOBAL handle;
        const char* what;
    };
    for (const Case& c : {Case{movable, "freed movable"}, Case{fixed, "freed fixed"}, Case{&local, "foreign"}}) {
        SetLastError(0);
        EXPECT_EQ(GlobalLock(c.handle), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << c.what;
        EXPECT_EQ(GlobalFree(c.handle), c.handle) << c.what;  // double free detected
        EXPECT_EQ(GlobalSize(c.handle), 0u) << c.what;
        EXPECT_FALSE(GlobalUnlock(c.handle)) << c.what;
        EXPECT_EQ(GlobalFlags(c.handle), GMEM_INVALID_HANDLE) << c.what;
        EXPECT_EQ(GlobalReAlloc(c.handle, 16, GMEM_MOVEABLE), nullptr) << c.what;
    }
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(Global, ReAllocMovesOnlyWhenAllowed) {
    // A movable request block grows while it is unlocked, keeping its handle.
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 172);
    auto* p = static_cast<char*>(GlobalLock(h));
    std::memset(p, 'x', 172);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalReAlloc(h, 4096, GMEM_MOVEABLE), h);
    p = static_cast<char*>(GlobalLock(h));
    EXPECT_EQ(p[171], 'x');
    EXPECT_TRUE(AllZero(p + 172, 4096 - 172));
    EXPECT_EQ(GlobalSize(h), 4096u);

    // Locked and not allowed to move: it cannot grow, but it can shrink.
    EXPECT_EQ(GlobalReAlloc(h, 8192, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GlobalReAlloc(h, 100, 0), h);
    EXPECT_EQ(GlobalSize(h), 100u);
    GlobalUnlock(h);
    GlobalFree(h);

    // A fixed block grows only with GMEM_MOVEABLE, and its handle changes.
    HGLOBAL f = GlobalAlloc(GMEM_FIXED, 8);
    std::memcpy(f, "Zelquor", 8);
    EXPECT_EQ(GlobalReAlloc(f, 64, 0), nullptr);
    HGLOBAL g = GlobalReAlloc(f, 64, GMEM_MOVEABLE);
    ASSERT_NE(g, nullptr);
    EXPECT_STREQ(static_cast<char*>(g), "Zelquor");
    EXPECT_EQ(GlobalSize(g), 64u);
    if (g != f) {
        EXPECT_EQ(GlobalSize(f), 0u);
    }

    // GMEM_MODIFY turns it into a movable block.
    HGLOBAL m = GlobalReAlloc(g, 0, GMEM_MODIFY | GMEM_MOVEABLE);
    ASSERT_NE(m, nullptr);
    EXPECT_NE(m, g);
    EXPECT_EQ(GlobalLock(m), g);
    EXPECT_EQ(GlobalFlags(m) & GMEM_LOCKCOUNT, 1u);
    GlobalUnlock(m);
    EXPECT_EQ(GlobalFree(m), nullptr);
}

TEST(Local, SharesTheGlobalRules) {
    HLOCAL inserts = LocalAlloc(LPTR, 4 * 9);
    ASSERT_NE(inserts, nullptr);
    EXPECT_TRUE(AllZero(inserts, 36));
    EXPECT_EQ(LocalSize(inserts), 36u);
    HLOCAL movable = LocalAlloc(LHND, 10);
    EXPECT_NE(LocalLock(movable), nullptr);
    EXPECT_FALSE(LocalUnlock(movable));
    EXPECT_EQ(LocalFree(inserts), nullptr);
    EXPECT_EQ(LocalFree(movable), nullptr);
    EXPECT_EQ(LocalFree(movable), movable);
}

}  // namespace

namespace {

TEST(Global, ThreadsShareTheTablesSafely) {
    const size_t before = zq::GlobalBlockCount();
    HANDLE heap = HeapCreate(0, 0, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([heap] {
            for (int i = 0; i < 500; ++i) {
                HGLOBAL g = GlobalAlloc(i % 2 ? GHND : GPTR, 32 + i);
                void* h = HeapAlloc(heap, 0, 16 + i);
                static_cast<char*>(GlobalLock(g))[0] = 1;
                GlobalUnlock(g);
                g = GlobalReAlloc(g, 64 + i, GMEM_MOVEABLE);
                GlobalFree(g);
                if (i % 3) HeapFree(heap, 0, h);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(zq::GlobalBlockCount(), before);
    EXPECT_EQ(zq::HeapBlockCount(heap), 4u * 167u);
    EXPECT_TRUE(HeapDestroy(heap));
}

}  // namespace
