// Private heaps over malloc: each block carries a header linking it into its
// heap, so HeapDestroy frees every block and the sanitizers still see each
// allocation on its own. Serialized, as the system's heaps are: the start's
// worker and the window thread share them.
#include "platform/win32_posix.h"

#include "core/links.h"
#include "platform/faults.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct Heap;

struct alignas(16) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    Heap* heap;
    size_t size;
};

struct Heap {
    BlockHeader* blocks;
    size_t maximum; // 0: growable
    size_t in_use;
    size_t allocations; // every HeapAlloc and HeapReAlloc that succeeded
};

BlockHeader* header_of(LPCVOID block) {
    return const_cast<BlockHeader*>(static_cast<const BlockHeader*>(block)) - 1;
}

bool fits(const Heap* h, size_t more) {
    return h->maximum == 0 || (more <= h->maximum && h->in_use <= h->maximum - more);
}

void link(Heap* h, BlockHeader* b) {
    link_at_head<BlockHeader, &BlockHeader::next, &BlockHeader::prev>(&h->blocks, b);
}

void unlink(Heap* h, BlockHeader* b) {
    unlink_node<BlockHeader, &BlockHeader::next, &BlockHeader::prev>(&h->blocks, b);
}

std::mutex heaps_lock;

} // namespace

HANDLE HeapCreate(DWORD, SIZE_T, SIZE_T maximum_size) {
    auto* h = static_cast<Heap*>(std::calloc(1, sizeof(Heap)));
    if (h) h->maximum = maximum_size;
    return h;
}

BOOL HeapDestroy(HANDLE heap) {
    std::lock_guard<std::mutex> hold(heaps_lock);
    auto* h = static_cast<Heap*>(heap);
    if (!h) return FALSE;
    for (BlockHeader* b = h->blocks; b;) {
        BlockHeader* next = b->next;
        std::free(b);
        b = next;
    }
    std::free(h);
    return TRUE;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    std::lock_guard<std::mutex> hold(heaps_lock);
    auto* h = static_cast<Heap*>(heap);
    if (!h || bytes > SIZE_MAX / 2 || !fits(h, bytes) || posix_fault(FaultCall::heap_alloc))
        return nullptr;
    auto* b = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + bytes));
    if (!b) return nullptr;
    if (flags & HEAP_ZERO_MEMORY) std::memset(b + 1, 0, bytes);
    b->heap = h;
    b->size = bytes;
    h->in_use += bytes;
    h->allocations++;
    link(h, b);
    return b + 1;
}

LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
    std::lock_guard<std::mutex> hold(heaps_lock);
    auto* h = static_cast<Heap*>(heap);
    if (!h || !block || bytes > SIZE_MAX / 2) return nullptr;
    BlockHeader* old = header_of(block);
    if (old->heap != h) return nullptr;
    if (bytes > old->size && !fits(h, bytes - old->size)) return nullptr;
    if (posix_fault(FaultCall::heap_alloc)) return nullptr;
    // A fresh block each time, so the sanitizers catch a caller that keeps
    // using the old address: Windows may move the block too.
    auto* b = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + bytes));
    if (!b) return nullptr;
    size_t keep = old->size < bytes ? old->size : bytes;
    std::memcpy(b + 1, old + 1, keep);
    if ((flags & HEAP_ZERO_MEMORY) && bytes > keep)
        std::memset(reinterpret_cast<char*>(b + 1) + keep, 0, bytes - keep);
    b->heap = h;
    b->size = bytes;
    h->in_use = h->in_use - old->size + bytes;
    h->allocations++;
    unlink(h, old);
    std::free(old);
    link(h, b);
    return b + 1;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
    std::lock_guard<std::mutex> hold(heaps_lock);
    auto* h = static_cast<Heap*>(heap);
    if (!block) return TRUE;
    if (!h) return FALSE;
    BlockHeader* b = header_of(block);
    if (b->heap != h) return FALSE;
    h->in_use -= b->size;
    unlink(h, b);
    std::free(b);
    return TRUE;
}

SIZE_T HeapSize(HANDLE, DWORD, LPCVOID block) {
    return block ? header_of(block)->size : SIZE_T(-1);
}

void posix_heap_counts(HANDLE heap, SIZE_T* live_blocks, SIZE_T* allocations) {
    std::lock_guard<std::mutex> hold(heaps_lock);
    auto* h = static_cast<Heap*>(heap);
    size_t live = 0;
    for (BlockHeader* b = h ? h->blocks : nullptr; b; b = b->next)
        live++;
    *live_blocks = live;
    *allocations = h ? h->allocations : 0;
}
