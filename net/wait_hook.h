// The one seam through which the waits of the network and HTTP layers let
// their caller act meanwhile (keep its window answering) and give up early.
// The libraries below the application never see a window: they only call
// the hook they were given, at least every WAIT_SLICE_MS while they wait.
#pragma once

#include <cstdint>

constexpr int32_t WAIT_SLICE_MS = 100; // longest stretch of a wait between calls of the hook

struct WaitHook {
    bool (*go_on)(void* context); // false: give up the wait, as if cut
    void* context;
};

// True when there is no hook or it says go on.
inline bool wait_go_on(const WaitHook* hook) {
    return !hook || !hook->go_on || hook->go_on(hook->context);
}
