#include "platform/faults.h"

#include <cerrno>

namespace {

struct Switch {
    uint32_t made;
    uint32_t fail_at; // 0: none
    bool onward;      // every call from fail_at on fails
};
Switch switches[FAULT_CALL_KINDS];

} // namespace

void posix_fail_nth(FaultCall call, uint32_t k) {
    switches[uint32_t(call)] = Switch{0, k, false};
}

void posix_fail_from(FaultCall call, uint32_t k) {
    switches[uint32_t(call)] = Switch{0, k, true};
}

uint32_t posix_calls_made(FaultCall call) {
    return switches[uint32_t(call)].made;
}

bool posix_fault(FaultCall call) {
    Switch& s = switches[uint32_t(call)];
    ++s.made;
    if (s.fail_at == 0 || (s.onward ? s.made < s.fail_at : s.made != s.fail_at)) return false;
    // The error the real failure leaves for GetLastError: access denied for
    // a file that cannot be made or removed, a full disk for writes, the
    // file held by a reader for a move.
    switch (call) {
    case FaultCall::heap_alloc:
        errno = ENOMEM;
        break;
    case FaultCall::create_file:
    case FaultCall::delete_file:
        errno = EACCES;
        break;
    case FaultCall::read_file:
        errno = EIO;
        break;
    case FaultCall::write_file:
    case FaultCall::flush_file:
        errno = ENOSPC;
        break;
    case FaultCall::move_file:
        errno = EBUSY;
        break;
    case FaultCall::receive:
        errno = ECONNRESET;
        break;
    }
    return true;
}
