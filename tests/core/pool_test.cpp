#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/pool.h"
#include "tests/support/test_support.h"

namespace {

constexpr int32_t word = sizeof(void*);

int count(const PoolChunk* c) {
    int n = 0;
    for (; c; c = c->next)
        n++;
    return n;
}

struct PoolTest : ::testing::Test {
    kt::Runtime runtime;
    BlockPool* pool = pool_create(32, 16, 256);
};

TEST_F(PoolTest, SlotSizeIsTheBlockPlusAWordRoundedUp) {
    EXPECT_EQ(pool->slot_size, 32 + word);
    BlockPool* odd = pool_create(30, 16, 256);
    EXPECT_EQ(odd->slot_size, 32 + word);
    EXPECT_EQ(odd->slot_size % word, 0);
}

// A chunk of the largest capacity must have a byte size that fits 31 bits:
// in a 32-bit build 16 slots of 256 MiB would wrap to a few bytes. Sizes
// and capacities out of range are refused too.
TEST_F(PoolTest, PoolsOutOfRangeOrWhoseChunksWouldPassTwoGigabytesAreRefused) {
    struct Case {
        int32_t block_size, min_capacity, max_capacity;
        bool made;
    };
    const int32_t header = int32_t(sizeof(PoolChunk));
    const Case cases[] = {
        {INT32_MAX, 1, 1, false},
        {INT32_MAX - 2 * word, 1, 1, false},
        {0x10000000, 1, 16, false},
        {0x7FFF0000 / 256, 1, 256, true},
        {INT32_MAX - header - 2 * word + 1, 1, 1, true},
        {INT32_MAX - header - 2 * word + 2, 1, 1, false},
        {-1, 1, 1, false},
        {0, 1, 1, true},
        {8, 0, 1, false},
        {8, 2, 1, false},
        {8, 2, 2, true},
    };
    for (const Case& c : cases) {
        BlockPool* p = pool_create(c.block_size, c.min_capacity, c.max_capacity);
        EXPECT_EQ(p != nullptr, c.made)
            << c.block_size << " x " << c.min_capacity << ".." << c.max_capacity;
        if (p) {
            EXPECT_LE(int64_t(header) + int64_t(c.max_capacity) * p->slot_size, INT32_MAX);
        }
    }
}

TEST_F(PoolTest, FirstChunkHasSixteenSlotsAndFillsUp) {
    std::vector<void*> blocks;
    blocks.push_back(pool_alloc(pool));
    ASSERT_NE(pool->available, nullptr);
    EXPECT_EQ(pool->available->capacity, 16);
    EXPECT_EQ(pool->total_slots, 16);
    EXPECT_EQ(pool->full, nullptr);
    for (int i = 1; i < 16; i++)
        blocks.push_back(pool_alloc(pool));
    EXPECT_EQ(count(pool->full), 1);
    EXPECT_EQ(pool->available, nullptr);
    blocks.push_back(pool_alloc(pool)); // the 17th makes a second chunk of 16
    EXPECT_EQ(count(pool->available), 1);
    EXPECT_EQ(pool->available->capacity, 16);
    EXPECT_EQ(pool->total_slots, 32);
    // Blocks are distinct, aligned and writable over their whole size.
    for (size_t i = 0; i < blocks.size(); i++) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks[i]) % word, 0u);
        std::memset(blocks[i], int(i), 32);
    }
    for (size_t i = 0; i + 1 < blocks.size(); i++)
        EXPECT_NE(blocks[i], blocks[i + 1]);
}

TEST_F(PoolTest, ReleaseFromAFullChunkMovesItToAvailableAndReusesTheSlot) {
    std::vector<void*> blocks;
    for (int i = 0; i < 16; i++)
        blocks.push_back(pool_alloc(pool));
    PoolChunk* chunk = pool->full;
    pool_free(pool, blocks[5]);
    EXPECT_EQ(pool->full, nullptr);
    EXPECT_EQ(pool->available, chunk);
    EXPECT_EQ(pool_alloc(pool), blocks[5]);
    EXPECT_EQ(pool->full, chunk);
}

TEST_F(PoolTest, AChunkIsFreedWhenItsLastBlockReturns) {
    pool_free(pool, nullptr); // nothing to give back
    void* a = pool_alloc(pool);
    void* b = pool_alloc(pool);
    pool_free(pool, a);
    EXPECT_EQ(pool->total_slots, 16);
    pool_free(pool, b);
    EXPECT_EQ(pool->total_slots, 0);
    EXPECT_EQ(pool->available, nullptr);
    EXPECT_EQ(pool->full, nullptr);
    EXPECT_NE(pool_alloc(pool), nullptr);
    EXPECT_EQ(pool->total_slots, 16);
}

TEST_F(PoolTest, ChunkSizesFollowThePoolsSize) {
    // Take blocks until the pool holds 4096 slots or more, noting each new
    // chunk's capacity together with the pool size it was made at.
    std::vector<std::pair<int32_t, int32_t>> made; // (total before, capacity)
    std::vector<void*> blocks;
    while (pool->total_slots < 4096 + 512) {
        int32_t before = pool->total_slots;
        blocks.push_back(pool_alloc(pool));
        if (pool->total_slots != before) made.emplace_back(before, pool->total_slots - before);
    }
    for (auto [before, capacity] : made) {
        int32_t expected = (before >> 4) & ~15;
        expected = expected < 16 ? 16 : expected > 256 ? 256 : expected;
        EXPECT_EQ(capacity, expected) << "at " << before;
    }
    EXPECT_EQ(made.front().second, 16);
    EXPECT_EQ(made.back().second, 256);
    // 16-slot chunks while below 512 slots, then 32 from 512.
    EXPECT_EQ(made[32].first, 512);
    EXPECT_EQ(made[32].second, 32);
    for (void* b : blocks)
        pool_free(pool, b);
    EXPECT_EQ(pool->total_slots, 0);
}

// The pool's heap is made fixed-size, so a full chunk cannot be had while a
// one-slot chunk still can.
TEST(PoolMemory, FallsBackToAOneSlotChunkWhenAFullChunkCannotBeHad) {
    kt::Runtime runtime;
    HANDLE growable = main_heap;
    // 256 slots of 1 KiB cannot come from a 64 KiB heap; one slot can.
    main_heap = HeapCreate(0, 0, 65536);
    ASSERT_NE(main_heap, nullptr);
    BlockPool* pool = pool_create(1024, 256, 256);
    ASSERT_NE(pool, nullptr);
    void* block = pool_alloc(pool);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(pool->total_slots, 1);
    EXPECT_EQ(pool->available, nullptr);
    ASSERT_NE(pool->full, nullptr);
    EXPECT_EQ(pool->full->capacity, 1);
    pool_free(pool, block);
    EXPECT_EQ(pool->full, nullptr);
    EXPECT_EQ(pool->total_slots, 0);
    HeapDestroy(main_heap);
    main_heap = growable;
}

TEST(PoolMemory, ReturnsNullWhenNoChunkAtAllCanBeHad) {
    kt::Runtime runtime;
    HANDLE growable = main_heap;
    main_heap = HeapCreate(0, 0, 8192);
    BlockPool* pool = pool_create(32, 16, 256);
    ASSERT_NE(pool, nullptr);
    // Exhaust the fixed heap with one-slot chunks and other blocks.
    std::vector<void*> blocks;
    for (int i = 0; i < 100000; i++) {
        void* b = pool_alloc(pool);
        if (!b) break;
        blocks.push_back(b);
    }
    EXPECT_LT(blocks.size(), 100000u);
    EXPECT_EQ(pool_alloc(pool), nullptr);
    for (void* b : blocks)
        pool_free(pool, b);
    EXPECT_EQ(pool->total_slots, 0);
    HeapDestroy(main_heap);
    main_heap = growable;
}

} // namespace
