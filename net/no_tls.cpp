// The host build has no TLS: an https connection cannot be secured there,
// so it fails as an unreachable server does. Nothing else is ever called.
#include "net/tls.h"

#include "net/connection.h"

TlsSession* tls_open(uintptr_t, const char*, uint64_t, const WaitHook*, TlsFailure* why) {
    if (why) *why = TlsFailure::other;
    return nullptr;
}

void tls_close(TlsSession*, uintptr_t) {}

int32_t tls_send(TlsSession*, uintptr_t, const char*, int32_t) {
    return -1;
}

int32_t tls_event(TlsSession*, uintptr_t) {
    return EVENT_DISCONNECT;
}

int32_t tls_waiting(TlsSession*, uintptr_t) {
    return -1;
}

int32_t tls_receive(TlsSession*, uintptr_t, char*, int32_t) {
    return -1;
}

bool tls_wait_readable(TlsSession*, uintptr_t, int32_t) {
    return false;
}

bool tls_closed_by_alert(const TlsSession*) {
    return false;
}

int32_t tls_version(const TlsSession*) {
    return 0;
}
