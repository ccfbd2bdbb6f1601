#include "core/registry.h"

#include <cstring>

#include "core/links.h"

namespace {

void* record_of(DynamicBlock* block) {
    return block + 1;
}
DynamicBlock* block_of(void* record) {
    return static_cast<DynamicBlock*>(record) - 1;
}

bool in_slots(const ObjectRegistry* r, ObjectId v) {
    return v >= 0 && v < r->capacity;
}

// A value outside the slot range names a record only if it is one of this
// registry's dynamic blocks; anything else is a foreign value and ignored.
DynamicBlock* find_dynamic(ObjectRegistry* r, ObjectId v) {
    for (DynamicBlock* b = r->dynamic_list; b; b = b->older)
        if (handle_of(record_of(b)) == v) return b;
    return nullptr;
}

// The dynamic list runs from the newest block to the oldest.
constexpr auto link_newest = link_at_head<DynamicBlock, &DynamicBlock::older, &DynamicBlock::newer>;
constexpr auto unlink = unlink_node<DynamicBlock, &DynamicBlock::older, &DynamicBlock::newer>;

} // namespace

ObjectRegistry* registry_create(int32_t record_size, int32_t growth_step, ReleaseCallback release) {
    auto* r = static_cast<ObjectRegistry*>(heap_alloc_zeroed(sizeof(ObjectRegistry)));
    if (!r) return nullptr;
    r->slots = static_cast<void**>(heap_alloc_zeroed(sizeof(void*) * growth_step));
    if (!r->slots) {
        heap_free(r);
        return nullptr;
    }
    r->record_size = record_size;
    r->growth_step = growth_step;
    r->capacity = growth_step;
    r->release = release;
    return r;
}

void* registry_obtain(ObjectRegistry* r, ObjectId n) {
    if (n == ANY_OBJECT) return list_add(&r->dynamic_list, r->record_size);
    if (n < 0 || n > INT32_MAX - r->growth_step) return nullptr;
    if (n >= r->capacity) {
        // The table's byte size must fit 31 bits: on Win32 a larger number
        // would wrap the size and the heap would hand back a tiny table.
        if (int64_t(n) + r->growth_step > INT32_MAX / int64_t(sizeof(void*))) return nullptr;
        int32_t capacity = static_cast<int32_t>(n) + r->growth_step;
        void* grown = HeapReAlloc(main_heap, HEAP_ZERO_MEMORY, r->slots, sizeof(void*) * capacity);
        if (!grown) return nullptr;
        r->slots = static_cast<void**>(grown);
        r->capacity = capacity;
    }
    if (r->slots[n]) {
        if (r->release) r->release(n);
        // A release routine that left the record untouched still hands back a
        // zeroed record: the caller relies on it.
        std::memset(r->slots[n], 0, r->record_size);
    } else {
        r->slots[n] = heap_alloc_zeroed(r->record_size);
    }
    return r->slots[n];
}

void* registry_lookup(ObjectRegistry* r, ObjectId v) {
    void* record = nullptr;
    if (in_slots(r, v)) {
        record = r->slots[v];
    } else if (DynamicBlock* b = find_dynamic(r, v)) {
        record = record_of(b);
    }
    return record_live(record) ? record : nullptr;
}

void registry_release(ObjectRegistry* r, ObjectId v) {
    if (in_slots(r, v)) {
        if (r->slots[v]) std::memset(r->slots[v], 0, r->record_size);
        return;
    }
    DynamicBlock* b = find_dynamic(r, v);
    if (!b) return;
    if (r->enum_cursor == b) r->enum_cursor = b->newer;
    unlink(&r->dynamic_list, b);
    heap_free(b);
}

void* registry_first(ObjectRegistry* r, ObjectId* id) {
    r->enum_position = 0;
    r->enum_cursor = r->dynamic_list;
    while (r->enum_cursor && r->enum_cursor->older)
        r->enum_cursor = r->enum_cursor->older;
    return registry_next(r, id);
}

void* registry_next(ObjectRegistry* r, ObjectId* id) {
    while (r->enum_position < r->capacity) {
        int32_t n = r->enum_position++;
        if (record_live(r->slots[n])) {
            if (id) *id = n;
            return r->slots[n];
        }
    }
    if (DynamicBlock* b = r->enum_cursor) {
        r->enum_cursor = b->newer;
        void* record = record_of(b);
        if (id) *id = handle_of(record);
        return record;
    }
    return nullptr;
}

void registry_release_all(ObjectRegistry* r) {
    if (!r->release) return;
    ObjectId id;
    for (void* rec = registry_first(r, &id); rec; rec = registry_next(r, &id))
        r->release(id);
}

void* state_block_create(size_t size, void (*init)(void*)) {
    void* block = heap_alloc_zeroed(size);
    if (block && init) init(block);
    return block;
}

void* list_add(DynamicBlock** head, size_t size) {
    auto* b = static_cast<DynamicBlock*>(heap_alloc_zeroed(sizeof(DynamicBlock) + size));
    if (!b) return nullptr;
    link_newest(head, b);
    return record_of(b);
}

void list_remove(DynamicBlock** head, void* item) {
    if (!item) return;
    DynamicBlock* b = block_of(item);
    unlink(head, b);
    heap_free(b);
}
