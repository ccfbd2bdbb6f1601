// Block pools: fixed-size blocks carved from the main heap in chunks, so that
// taking and returning a block costs a few pointer moves. A chunk goes back
// to the heap as soon as none of its blocks is in use.
#pragma once

#include <cstdint>

struct PoolChunk {
    PoolChunk* next;
    PoolChunk* previous;
    void* free_list; // most recently released slot, null when none
    int32_t capacity;
    int32_t used;       // slots handed out at least once
    int32_t free_count; // slots on the free list
    // capacity slots follow
};

struct BlockPool {
    PoolChunk* full;
    PoolChunk* available;
    int32_t total_slots;
    int32_t slot_size; // a pointer-sized word, then the block
    int32_t min_capacity;
    int32_t max_capacity;
};

// Null for a negative block size, capacities out of order, or a chunk of
// max_capacity blocks that would pass 2 GiB.
BlockPool* pool_create(int32_t block_size, int32_t min_capacity, int32_t max_capacity);
// An uninitialised block, pointer-aligned; null when no memory can be had.
void* pool_alloc(BlockPool* pool);
// Gives back a block that came from this pool.
void pool_free(BlockPool* pool, void* block);
