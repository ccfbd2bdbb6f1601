#include "core/pool.h"

#include "core/links.h"
#include "core/runtime.h"

namespace {

// Each slot starts with a word naming its chunk while in use, or the next
// free slot while on the free list.
constexpr int32_t word = sizeof(void*);

char* slot_at(PoolChunk* c, int32_t slot_size, int32_t i) {
    return reinterpret_cast<char*>(c + 1) + size_t(i) * slot_size;
}

constexpr auto push = link_at_head<PoolChunk, &PoolChunk::next, &PoolChunk::previous>;
constexpr auto unlink = unlink_node<PoolChunk, &PoolChunk::next, &PoolChunk::previous>;

PoolChunk* new_chunk(BlockPool* p, int32_t capacity) {
    size_t size = sizeof(PoolChunk) + size_t(capacity) * p->slot_size;
    auto* c = static_cast<PoolChunk*>(heap_alloc(size));
    if (!c) return nullptr;
    c->capacity = capacity;
    return c;
}

} // namespace

BlockPool* pool_create(int32_t block_size, int32_t min_capacity, int32_t max_capacity) {
    if (block_size < 0 || min_capacity < 1 || max_capacity < min_capacity) return nullptr;
    // The largest chunk's byte size must fit 31 bits, so no size wraps in a
    // 32-bit build.
    const int64_t slot_size = (int64_t(block_size) + word + word - 1) / word * word;
    if (int64_t(sizeof(PoolChunk)) + max_capacity * slot_size > INT32_MAX) return nullptr;
    auto* p = static_cast<BlockPool*>(heap_alloc_zeroed(sizeof(BlockPool)));
    if (!p) return nullptr;
    p->slot_size = int32_t(slot_size);
    p->min_capacity = min_capacity;
    p->max_capacity = max_capacity;
    return p;
}

void* pool_alloc(BlockPool* p) {
    PoolChunk* c = p->available;
    char* slot;
    if (c) {
        if (c->free_count > 0) {
            slot = static_cast<char*>(c->free_list);
            c->free_list = *reinterpret_cast<void**>(slot);
            c->free_count--;
        } else {
            slot = slot_at(c, p->slot_size, c->used++);
        }
        if (c->free_count == 0 && c->used == c->capacity) {
            unlink(&p->available, c);
            push(&p->full, c);
        }
    } else {
        int32_t capacity = (p->total_slots >> 4) & ~15;
        if (capacity < p->min_capacity) capacity = p->min_capacity;
        if (capacity > p->max_capacity) capacity = p->max_capacity;
        c = new_chunk(p, capacity);
        if (!c) c = new_chunk(p, capacity = 1);
        if (!c) return nullptr;
        p->total_slots += capacity;
        c->used = 1;
        c->free_count = 0;
        c->free_list = nullptr;
        push(capacity > 1 ? &p->available : &p->full, c);
        slot = slot_at(c, p->slot_size, 0);
    }
    *reinterpret_cast<PoolChunk**>(slot) = c;
    return slot + word;
}

void pool_free(BlockPool* p, void* block) {
    if (!block) return;
    char* slot = static_cast<char*>(block) - word;
    PoolChunk* c = *reinterpret_cast<PoolChunk**>(slot);
    *reinterpret_cast<void**>(slot) = c->free_list;
    c->free_list = slot;
    c->free_count++;
    if (c->free_count == c->used) {
        // Which list holds it: a chunk is full only when every slot is out.
        bool was_full = c->used == c->capacity && c->free_count == 1;
        unlink(was_full ? &p->full : &p->available, c);
        p->total_slots -= c->capacity;
        heap_free(c);
    } else if (c->free_count == 1 && c->used == c->capacity) {
        unlink(&p->full, c);
        push(&p->available, c);
    }
}
