// Process-wide values every library shares: the main heap, made by the
// application before any library starts, and the executable's module handle.
#pragma once

#include <cstdint>

#include "core/win32.h"

// A caller names its objects by number (0 or more) or asks for a dynamic one
// with ANY_OBJECT; a dynamic object's handle is its record's address, so ids
// are pointer-sized.
using ObjectId = intptr_t;
constexpr ObjectId ANY_OBJECT = -1;

extern HANDLE main_heap;
extern HMODULE module_handle;

// Zero-filled allocation from the main heap (records); null when memory runs out.
void* heap_alloc_zeroed(size_t size);
// Uninitialised allocation from the main heap (buffers).
void* heap_alloc(size_t size);
void heap_free(void* block);
