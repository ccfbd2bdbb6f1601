#include "net/connection.h"

#include <cstring>

#include "net/sockets_api.h"
#include "net/tls.h"

namespace {

// ws2_32.dll's getaddrinfo and freeaddrinfo, as loaded by network_start.
using getaddrinfo_function = int(WSAAPI*)(const char*, const char*, const ADDRINFOA*, ADDRINFOA**);
using freeaddrinfo_function = void(WSAAPI*)(ADDRINFOA*);

bool set_blocking(SOCKET s, bool blocking) {
    u_long non_blocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &non_blocking) == 0;
}

// Starts a connect on a non-blocking socket: true when it is under way (its
// answer comes through select) or done. A peer Winsock refuses at once (an
// address of all zeros, an unreachable network) never shows in select.
bool connect_begun(SOCKET s, const sockaddr* peer, int length) {
    return connect(s, peer, length) == 0 || WSAGetLastError() == WSAEWOULDBLOCK;
}

// Connects, waiting at most timeout_ms when it is above 0; the socket is
// back in blocking mode afterwards.
bool connect_socket(SOCKET s, const sockaddr* peer, int length, int32_t timeout_ms) {
    if (timeout_ms <= 0) return connect(s, peer, length) != SOCKET_ERROR;
    if (!set_blocking(s, false) || !connect_begun(s, peer, length)) return false;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval wait{long(timeout_ms / 1000), long(timeout_ms % 1000) * 1000};
    bool made = select(int(s) + 1, nullptr, &writable, &failed, &wait) > 0 &&
                FD_ISSET(s, &writable) && !FD_ISSET(s, &failed);
    return set_blocking(s, true) && made;
}

// Connects the non-blocking socket s by end, looking every WAIT_SLICE_MS
// whether the connect is done and at the stop flag between looks; the
// socket is back in blocking mode once connected.
OpenFailure connect_waiting(SOCKET s, sockaddr_in peer, uint64_t end, const StopFlag* stop) {
    if (!connect_begun(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer))
        return OpenFailure::connect;
    for (;;) {
        const uint64_t now = GetTickCount64();
        const uint64_t left = now < end ? end - now : 0;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        FD_ZERO(&failed);
        FD_SET(s, &failed);
        const int32_t slice = int32_t(left < WAIT_SLICE_MS ? left : WAIT_SLICE_MS);
        timeval wait{0, long(slice) * 1000};
        const int ready = select(int(s) + 1, nullptr, &writable, &failed, &wait);
        if (ready < 0 || (ready > 0 && FD_ISSET(s, &failed))) return OpenFailure::connect;
        if (ready > 0 && FD_ISSET(s, &writable))
            return set_blocking(s, true) ? OpenFailure::none : OpenFailure::other;
        if (stop_asked(stop)) return OpenFailure::cancelled;
        if (left == 0) return OpenFailure::connect;
    }
}

// The IPv6 peer of host through getaddrinfo; false when it has none or the
// address functions are missing.
bool connect_ipv6(SOCKET s, const char* host, uint16_t port, int type, int32_t timeout_ms) {
    if (!network.has_addrinfo) return false;
    // Through the generic function type, which matches every entry point.
    using generic = void (*)();
    auto get = reinterpret_cast<getaddrinfo_function>(
        reinterpret_cast<generic>(network.getaddrinfo_entry));
    auto release = reinterpret_cast<freeaddrinfo_function>(
        reinterpret_cast<generic>(network.freeaddrinfo_entry));
    ADDRINFOA hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET6;
    hints.ai_socktype = type;
    ADDRINFOA* list = nullptr;
    if (get(host, nullptr, &hints, &list) != 0 || !list) return false;
    bool made = false;
    // The port sits right after the family in every socket address.
    if (list->ai_addr && list->ai_addrlen >= 4 && list->ai_addrlen <= 128) {
        unsigned char peer[128];
        std::memcpy(peer, list->ai_addr, list->ai_addrlen);
        const u_short p = htons(port);
        std::memcpy(peer + 2, &p, sizeof p);
        made = connect_socket(s, reinterpret_cast<const sockaddr*>(peer), int(list->ai_addrlen),
                              timeout_ms);
    }
    release(list);
    return made;
}

sockaddr_in ipv4_address(uint32_t address, uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    return a;
}

// select without waiting: 1 when the socket is readable, 0 when not,
// SOCKET_ERROR on failure.
int readable_now(SOCKET s) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now{0, 0};
    return select(int(s) + 1, &readable, nullptr, nullptr, &now);
}

// Takes the next datagram into the connection, when one is waiting.
int32_t fill_datagram(Connection* c) {
    if (c->datagram_unread > 0) return EVENT_DATA;
    SOCKET s = SOCKET(c->udp_socket);
    int ready = readable_now(s);
    if (ready == SOCKET_ERROR) return EVENT_DISCONNECT;
    if (ready == 0) return EVENT_NONE;
    if (!c->datagram) c->datagram = static_cast<char*>(heap_alloc(UDP_DATAGRAM_SIZE));
    if (!c->datagram) return EVENT_NONE;
    int n = recvfrom(s, c->datagram, UDP_DATAGRAM_SIZE, 0, nullptr, nullptr);
    if (n == SOCKET_ERROR) return EVENT_DISCONNECT;
    c->datagram_unread = n;
    c->datagram_position = 0;
    return n > 0 ? EVENT_DATA : EVENT_NONE;
}

} // namespace

Connection* open_connection(const char* host, uint16_t port, int32_t kind, int32_t timeout_ms,
                            const char* local_address, uint16_t local_port) {
    if (!host) return nullptr;
    const bool ipv6 = (kind & CONNECTION_IPV6) != 0;
    kind &= ~CONNECTION_IPV6;
    if (kind == 0) kind = CONNECTION_TCP;
    if (kind != CONNECTION_TCP && kind != CONNECTION_UDP) return nullptr;
    // The UDP record keeps an IPv4 peer only.
    if (ipv6 && kind == CONNECTION_UDP) return nullptr;

    const int type = kind == CONNECTION_TCP ? SOCK_STREAM : SOCK_DGRAM;
    SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, type, 0);
    if (s == INVALID_SOCKET) return nullptr;

    uint32_t address = UNRESOLVED_ADDRESS;
    bool ok = true;
    if (!ipv6) {
        address = resolve_ipv4(host);
        ok = address != UNRESOLVED_ADDRESS;
    }
    if (ok && (local_port != 0 || (local_address && *local_address))) {
        sockaddr_in local = ipv4_address(
            local_address && *local_address ? inet_addr(local_address) : INADDR_ANY, local_port);
        ok = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    Connection* c = nullptr;
    if (ok && kind == CONNECTION_TCP) {
        if (ipv6) {
            ok = connect_ipv6(s, host, port, type, timeout_ms);
        } else {
            sockaddr_in peer = ipv4_address(address, port);
            ok = connect_socket(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer,
                                timeout_ms);
        }
        if (ok) c = static_cast<Connection*>(heap_alloc_zeroed(sizeof(Connection)));
        if (c) {
            c->kind = CONNECTION_TCP;
            c->socket = uintptr_t(s);
        }
    } else if (ok) {
        ok = set_blocking(s, false);
        if (ok) c = static_cast<Connection*>(heap_alloc_zeroed(sizeof(Connection)));
        if (c) {
            c->kind = CONNECTION_UDP;
            c->peer_address = address;
            c->socket = port;
            c->udp_socket = uintptr_t(s);
        }
    }
    if (!c) closesocket(s);
    return c;
}

Connection* open_client(const char* host, uint16_t port) {
    return open_connection(host, port, CONNECTION_TCP, 0, nullptr, 0);
}

Connection* open_client_waiting(const char* host, uint16_t port, uint64_t deadline_ms,
                                const StopFlag* stop, OpenFailure* why) {
    OpenFailure failure = OpenFailure::other;
    Connection* c = nullptr;
    SOCKET s = host ? socket(AF_INET, SOCK_STREAM, 0) : INVALID_SOCKET;
    if (s != INVALID_SOCKET) {
        const uint32_t address = resolve_ipv4(host);
        if (address == UNRESOLVED_ADDRESS)
            failure = OpenFailure::resolve;
        else if (GetTickCount64() > deadline_ms)
            failure = OpenFailure::too_slow;
        else if (stop_asked(stop))
            failure = OpenFailure::cancelled;
        else if (set_blocking(s, false))
            failure = connect_waiting(s, ipv4_address(address, port), deadline_ms, stop);
        if (failure == OpenFailure::none) {
            c = static_cast<Connection*>(heap_alloc_zeroed(sizeof(Connection)));
            if (!c) failure = OpenFailure::other;
        }
        if (c) {
            c->kind = CONNECTION_TCP;
            c->socket = uintptr_t(s);
        } else {
            closesocket(s);
        }
    }
    if (why) *why = failure;
    return c;
}

int32_t connection_send(Connection* c, const char* data, int32_t length) {
    if (!c || length < 0) return -1;
    if (c->tls) return tls_send(c->tls, c->socket, data, length);
    if (c->kind == CONNECTION_UDP) {
        sockaddr_in peer = ipv4_address(c->peer_address, uint16_t(c->socket));
        return sendto(SOCKET(c->udp_socket), data, length, 0,
                      reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    }
    return send(SOCKET(c->socket), data, length, 0);
}

int32_t connection_event(Connection* c) {
    if (!c) return EVENT_DISCONNECT;
    if (c->kind == CONNECTION_UDP) return fill_datagram(c);
    if (c->tls) return tls_event(c->tls, c->socket);
    SOCKET s = SOCKET(c->socket);
    int ready = readable_now(s);
    if (ready == SOCKET_ERROR) return EVENT_DISCONNECT;
    if (ready == 0) return EVENT_NONE;
    // Readable with nothing to read: the peer has closed.
    u_long pending = 0;
    if (ioctlsocket(s, FIONREAD, &pending) != 0 || pending == 0) return EVENT_DISCONNECT;
    return EVENT_DATA;
}

int32_t connection_waiting(Connection* c) {
    if (!c) return -1;
    if (c->kind == CONNECTION_UDP) return c->datagram_unread;
    if (c->tls) return tls_waiting(c->tls, c->socket);
    u_long pending = 0;
    if (ioctlsocket(SOCKET(c->socket), FIONREAD, &pending) != 0) return -1;
    return pending > u_long(INT32_MAX) ? INT32_MAX : int32_t(pending);
}

int32_t connection_receive(Connection* c, char* buffer, int32_t length) {
    if (!c || !buffer || length < 0) return -1;
    if (c->kind == CONNECTION_UDP) {
        if (fill_datagram(c) != EVENT_DATA) return -1;
        int32_t n = c->datagram_unread < length ? c->datagram_unread : length;
        std::memcpy(buffer, c->datagram + c->datagram_position, size_t(n));
        c->datagram_position += n;
        c->datagram_unread -= n;
        return n;
    }
    if (c->tls) return tls_receive(c->tls, c->socket, buffer, length);
    return recv(SOCKET(c->socket), buffer, length, 0);
}

void close_connection(Connection* c) {
    if (!c) return;
    tls_close(c->tls, c->socket);
    c->tls = nullptr;
    if (c->kind == CONNECTION_TCP) closesocket(SOCKET(c->socket));
    if (!c->server) {
        if (c->kind == CONNECTION_UDP) closesocket(SOCKET(c->udp_socket));
        heap_free(c->datagram);
        heap_free(c);
        return;
    }
    // A server's UDP client shares the server's socket.
    heap_free(c->datagram);
    list_remove(&c->server->clients, c);
}

bool connection_wait(Connection* c, int32_t milliseconds, bool for_sending) {
    if (!c) return false;
    if (c->kind == CONNECTION_UDP && !for_sending && c->datagram_unread > 0) return true;
    if (c->tls && !for_sending) return tls_wait_readable(c->tls, c->socket, milliseconds);
    SOCKET s = SOCKET(c->kind == CONNECTION_UDP ? c->udp_socket : c->socket);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    if (milliseconds < 0) milliseconds = 0;
    timeval wait{long(milliseconds / 1000), long(milliseconds % 1000) * 1000};
    int ready = for_sending ? select(int(s) + 1, nullptr, &set, nullptr, &wait)
                            : select(int(s) + 1, &set, nullptr, nullptr, &wait);
    return ready > 0;
}

bool secure_connection(Connection* c, const char* host, uint64_t deadline_ms, const StopFlag* stop,
                       TlsFailure* why) {
    if (why) *why = TlsFailure::other;
    if (!c || c->kind != CONNECTION_TCP || c->tls) return false;
    c->tls = tls_open(c->socket, host, deadline_ms, stop, why);
    return c->tls != nullptr;
}

bool connection_end_authentic(const Connection* c) {
    return c && (!c->tls || tls_closed_by_alert(c->tls));
}

int32_t connection_tls_version(const Connection* c) {
    return c ? tls_version(c->tls) : 0;
}
