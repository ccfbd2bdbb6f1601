// Host build only: thin wrappers over the BSD socket calls, in plain types,
// so that winsock.cpp can give them Winsock's names and manners without the
// two sets of declarations meeting in one file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bsd {

// Address families in the C library's numbering.
int family_inet();
int family_inet6();

int socket_open(int family, int type);
int socket_close(int fd);
// Addresses are raw sockaddr bytes in the C library's layout.
int socket_bind(int fd, const void* address, size_t length);
// 0 when connected, 1 when under way (non-blocking), -1 on failure.
int socket_connect(int fd, const void* address, size_t length);
int socket_set_nonblocking(int fd, bool on);
int socket_bytes_pending(int fd, uint32_t* count);
long socket_send(int fd, const void* data, size_t length);
long socket_recv(int fd, void* buffer, size_t length);
long socket_sendto(int fd, const void* data, size_t length, const void* to, size_t to_length);
long socket_recvfrom(int fd, void* buffer, size_t length, void* from, size_t* from_length);
// The socket's pending error (0 when none).
int socket_error(int fd);

struct PollEntry {
    int fd;
    bool want_read, want_write;
    bool readable, writable, failed;
};
// Waits up to timeout_ms (negative: no limit); the count of ready entries or -1.
// The most sockets one poll looks at, as Winsock 1.1's FD_SETSIZE.
constexpr size_t POLL_LIMIT = 64;

int socket_poll(PollEntry* entries, size_t count, int timeout_ms);

// IPv4 text form to an address in network order; false when not one.
bool parse_ipv4(const char* text, uint32_t* address);
// Up to max IPv4 addresses of a host name (empty: this machine), in network
// order; their count.
int resolve_ipv4(const char* name, uint32_t* addresses, int max);

// One resolved address of getaddrinfo, in the C library's layout.
struct ResolvedAddress {
    int family, type, protocol;
    unsigned char address[128];
    size_t length;
};
// Up to max results; their count, or a negative getaddrinfo error.
int resolve(const char* node, const char* service, int family, int type, int flags,
            ResolvedAddress* results, int max);
// Flags in Winsock's numbering.
int name_of(const void* address, size_t length, char* host, size_t host_size, char* service,
            size_t service_size, int flags);

} // namespace bsd
