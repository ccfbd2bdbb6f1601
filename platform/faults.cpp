#include "platform/faults.h"

#include <cerrno>

namespace {

struct Switch {
    uint32_t made;
    uint32_t fail_at; // 0: none
    bool onward;      // every call from fail_at on fails
};
Switch switches[FAULT_CALL_KINDS];

// The error each failure leaves for GetLastError, in FaultCall's order:
// no memory, access denied for a file that cannot be made or removed, an
// I/O error for a read, a full disk for writes and flushes, the file held
// by a reader for a move, a reset for a receive and a send.
constexpr int FAILURE_ERRNO[FAULT_CALL_KINDS] = {ENOMEM, EACCES, EIO,        ENOSPC,    ENOSPC,
                                                 EBUSY,  EACCES, ECONNRESET, ECONNRESET};

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
    errno = FAILURE_ERRNO[uint32_t(call)];
    return true;
}
