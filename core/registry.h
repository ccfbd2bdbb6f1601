// The object registry: maps object numbers and dynamic handles to a library's
// fixed-size records. The registry owns the records and the slot table; the
// library owns what the records hold. A record is live while its first,
// pointer-sized field (the library's primary handle) is non-zero.
#pragma once

#include <cstdint>

#include "core/runtime.h"

// Closes one object of a library; given its number or handle.
using ReleaseCallback = intptr_t (*)(ObjectId);

struct DynamicBlock {
    DynamicBlock* older;
    DynamicBlock* newer;
    // the record follows
};

struct ObjectRegistry {
    int32_t record_size;
    int32_t growth_step;
    int32_t capacity;
    void** slots;
    DynamicBlock* dynamic_list; // newest block; null when empty
    ReleaseCallback release;
    int32_t enum_position;
    DynamicBlock* enum_cursor;
};

ObjectRegistry* registry_create(int32_t record_size, int32_t growth_step, ReleaseCallback release);
// A zeroed record for number n (closing the old object of that number
// first), or a new dynamic record for ANY_OBJECT; null when memory runs out,
// when n is negative and not ANY_OBJECT, or when the slot table for n would
// pass 2 GiB.
void* registry_obtain(ObjectRegistry* registry, ObjectId n);
// The live record named by a number or a handle of this registry, else null.
void* registry_lookup(ObjectRegistry* registry, ObjectId v);
void registry_release(ObjectRegistry* registry, ObjectId v);
void registry_release_all(ObjectRegistry* registry);
// Enumeration: live numbered records by rising number, then dynamic records
// oldest first. The record just handed out may be released by the caller.
void* registry_first(ObjectRegistry* registry, ObjectId* id);
void* registry_next(ObjectRegistry* registry, ObjectId* id);

inline ObjectId handle_of(void* record) {
    return reinterpret_cast<ObjectId>(record);
}
inline bool record_live(const void* record) {
    return record && *static_cast<const uintptr_t*>(record) != 0;
}

// A zeroed block of library state from the main heap, passed to init if given.
void* state_block_create(size_t size, void (*init)(void*));

// Doubly linked lists of zeroed blocks, newest at the head.
void* list_add(DynamicBlock** head, size_t size);
void list_remove(DynamicBlock** head, void* item);
