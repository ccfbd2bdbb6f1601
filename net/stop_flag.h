// The one seam through which the caller of the network and HTTP layers ends
// their waits early: a flag that another thread sets. Every wait (connect,
// handshake, send, receive) looks at it at least every WAIT_SLICE_MS; the
// name lookup, a system call that cannot be interrupted, does not. The
// libraries below the application never see a window.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int32_t WAIT_SLICE_MS = 100; // longest stretch of a wait between looks at the flag

using StopFlag = std::atomic<bool>;

// True when a flag is given and set.
inline bool stop_asked(const StopFlag* stop) {
    return stop && stop->load(std::memory_order_acquire);
}
