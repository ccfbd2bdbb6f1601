#include "core/runtime.h"

HANDLE main_heap;
HMODULE module_handle;

void* heap_alloc_zeroed(size_t size) {
    return HeapAlloc(main_heap, HEAP_ZERO_MEMORY, size);
}

void* heap_alloc(size_t size) {
    return HeapAlloc(main_heap, 0, size);
}

void heap_free(void* block) {
    if (block) HeapFree(main_heap, 0, block);
}
