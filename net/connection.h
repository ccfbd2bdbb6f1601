// One socket with a small record around it: open a TCP or UDP connection,
// send, poll for events, receive, close. The caller owns the Connection from
// open_connection to close_connection; nothing else keeps track of it unless
// a server object accepted it.
#pragma once

#include <cstdint>

#include "net/network.h"
#include "net/stop_flag.h"

struct TlsSession;

// Why securing a connection failed, as far as the operator can act on it.
enum class TlsFailure : int32_t {
    none = 0,
    certificate_date,      // expired or not yet valid: often a wrong clock
    certificate_untrusted, // no chain to a root the system trusts
    certificate_name,      // issued for another host
    cancelled,             // the caller's stop flag was set
    other,                 // handshake, protocol or any other failure
};

constexpr int32_t CONNECTION_TCP = 1;
constexpr int32_t CONNECTION_UDP = 2;
constexpr int32_t CONNECTION_IPV6 = 0x10000000; // a flag added to the kind

enum ConnectionEvent : int32_t {
    EVENT_NONE = 0,       // nothing to read yet
    EVENT_DATA = 2,       // bytes are waiting
    EVENT_DISCONNECT = 4, // the peer closed the connection, or the socket failed
};

constexpr int32_t UDP_DATAGRAM_SIZE = 2048;

struct Connection {
    int32_t kind;
    uint32_t peer_address; // IPv4, network byte order; UDP only
    uintptr_t socket;      // TCP: the socket; UDP: the peer port
    NetworkServer* server; // the owning server, null for open_connection's
    uintptr_t udp_socket;  // UDP only from here on
    char* datagram;        // the pending datagram (main heap), or null
    int32_t datagram_unread;
    int32_t datagram_position;
    TlsSession* tls; // the TLS session of a secured TCP connection, or null
};

// timeout_ms <= 0 connects blocking; local_address/local_port bind first when
// given. Null on every failure, with no socket left open.
Connection* open_connection(const char* host, uint16_t port, int32_t kind, int32_t timeout_ms,
                            const char* local_address, uint16_t local_port);
// An IPv4 TCP connection with a blocking connect.
Connection* open_client(const char* host, uint16_t port);

// Why opening a client connection failed.
enum class OpenFailure : int32_t {
    none = 0,
    resolve,   // the host name was not found
    connect,   // refused, unreachable, or no answer by the deadline
    too_slow,  // the name lookup returned after the deadline
    cancelled, // the caller's stop flag was set
    other,     // no socket, no memory
};

// An IPv4 TCP client connection made by deadline_ms on GetTickCount64, the
// connect waited for in slices of at most WAIT_SLICE_MS, looking at the stop
// flag (may be null) between them. The name lookup before it blocks as
// gethostbyname does, and counts against the deadline. Null on every
// failure, with why (when given) set, and no socket left open.
Connection* open_client_waiting(const char* host, uint16_t port, uint64_t deadline_ms,
                                const StopFlag* stop, OpenFailure* why);
// What one send returns: the bytes taken (0 when the socket takes nothing
// for now), or -1 when the connection failed.
int32_t connection_send(Connection* c, const char* data, int32_t length);
// An event code, without waiting.
int32_t connection_event(Connection* c);
// The bytes that can be received at once, without waiting: 0 when none are
// there yet or the peer has closed, -1 when the socket failed.
int32_t connection_waiting(Connection* c);
// What one recv returns: bytes stored, 0 when the peer has closed, -1 on error.
int32_t connection_receive(Connection* c, char* buffer, int32_t length);
void close_connection(Connection* c);

// Waits up to milliseconds for the connection to become readable (or closed)
// or, with for_sending, writable; true when it did. Lets callers poll without
// sleeping blindly.
bool connection_wait(Connection* c, int32_t milliseconds, bool for_sending);

// Secures a TCP client connection with TLS for host, within deadline_ms on
// GetTickCount64: the handshake, then the certificate, which must chain to a
// root the system trusts, be valid now and name host. From then on send and
// receive carry plaintext, and close_connection sends the closing alert.
// False on every failure (and in the host build, which has no SChannel,
// unless a test installed a scripted one);
// the connection is then only fit to be closed.
// The stop flag, when given, is looked at during every wait of the
// handshake; once set, securing fails. why, when given, is set to what failed.
bool secure_connection(Connection* c, const char* host, uint64_t deadline_ms,
                       const StopFlag* stop = nullptr, TlsFailure* why = nullptr);
// Whether the end of what was received is surely where the peer ended it:
// always for a plain connection; over TLS only once the closing alert came,
// as a bare close may be a cut made by anyone on the path.
bool connection_end_authentic(const Connection* c);
// 12 or 13 for a connection secured with TLS 1.2 or 1.3, else 0.
int32_t connection_tls_version(const Connection* c);
