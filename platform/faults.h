// Host build only: the fault switch. A test arms it so that the k-th heap
// allocation, or the k-th call of one file or socket function (or every call from the
// k-th on), fails as the real call would; nothing in the product arms it.
#pragma once

#include <cstdint>

enum class FaultCall : uint32_t {
    heap_alloc, // HeapAlloc and HeapReAlloc
    create_file,
    read_file,
    write_file,
    flush_file,
    move_file,
    delete_file,
    receive, // recv, as when the peer resets the connection
    send,    // send, likewise
};
constexpr uint32_t FAULT_CALL_KINDS = 9;

// Counts the calls of that kind from 0 again; the k-th of them fails (0: none).
void posix_fail_nth(FaultCall call, uint32_t k);
// As posix_fail_nth, but the k-th call and every later one fail, as when
// memory stays short or a disk stays full.
void posix_fail_from(FaultCall call, uint32_t k);
// The calls of that kind made since it was last armed.
uint32_t posix_calls_made(FaultCall call);
// Called by each switched function: true when this call is to fail, with
// errno set as the real failure would leave it.
bool posix_fault(FaultCall call);
