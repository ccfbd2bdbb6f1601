#include "platform/faults.h"

namespace {

struct Switch {
    uint32_t made;
    uint32_t fail_at;
};
Switch switches[FAULT_CALL_KINDS];

} // namespace

void posix_fail_nth(FaultCall call, uint32_t k) {
    switches[uint32_t(call)] = Switch{0, k};
}

uint32_t posix_calls_made(FaultCall call) {
    return switches[uint32_t(call)].made;
}

bool posix_fault(FaultCall call) {
    Switch& s = switches[uint32_t(call)];
    return ++s.made == s.fail_at;
}
