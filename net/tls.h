// The TLS session of a secured connection: what connection.cpp calls when a
// connection carries one, made with SChannel (schannel_tls.cpp) through the
// table of tls_provider.h: the system's own on Windows; on the host, which
// has no SChannel, securing fails unless a test installed a scripted table.
#pragma once

#include <cstdint>

#include "net/connection.h"

struct TlsSession;

// Handshakes over the connected socket for host (sent as the server name),
// by deadline_ms on GetTickCount64, and checks the server's certificate:
// it must chain to a root the system trusts, be valid now and name host.
// A protocol older than TLS 1.2 fails it too. The session, or null on every
// failure (nothing is left to release then); why (when given) is set to what
// failed, or none. Every send and read of the handshake waits at most until
// deadline_ms, and so does the chain build's retrieval. The stop flag (may
// be null) is looked at during every wait of a send or read, at least every
// WAIT_SLICE_MS; once set, the handshake fails as cancelled. The socket is
// non-blocking from then on, whatever the outcome.
TlsSession* tls_open(uintptr_t socket, const char* host, uint64_t deadline_ms, const StopFlag* stop,
                     TlsFailure* why);
// Sends the closing alert, when the session is still sound, and releases it.
void tls_close(TlsSession* t, uintptr_t socket);

// Like their plain counterparts in connection.h on a non-blocking socket,
// over the session's records: plaintext in, plaintext out, never more than
// one socket read of 2048 bytes at a time, and no waiting (tls_receive with
// nothing at hand returns -1; a sealed record the socket did not take whole
// is sent on by the next call, and until it is gone tls_send takes nothing
// and returns 0). tls_send's -1 means the session failed.
int32_t tls_send(TlsSession* t, uintptr_t socket, const char* data, int32_t length);
int32_t tls_event(TlsSession* t, uintptr_t socket);
int32_t tls_waiting(TlsSession* t, uintptr_t socket);
int32_t tls_receive(TlsSession* t, uintptr_t socket, char* buffer, int32_t length);
// True when plaintext or the end is at hand, or the socket became readable
// within milliseconds.
bool tls_wait_readable(TlsSession* t, uintptr_t socket, int32_t milliseconds);

// True once the server's closing alert came: only then has the stream
// surely ended where the server meant it to.
bool tls_closed_by_alert(const TlsSession* t);
// The protocol version agreed: 12 for TLS 1.2, 13 for TLS 1.3 (an older one
// fails the handshake).
int32_t tls_version(const TlsSession* t);
