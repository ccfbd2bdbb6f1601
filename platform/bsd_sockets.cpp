#include "platform/bsd_sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bsd {

int family_inet() {
    return AF_INET;
}
int family_inet6() {
    return AF_INET6;
}

int socket_open(int family, int type) {
    return ::socket(family, type | SOCK_CLOEXEC, 0);
}

int socket_close(int fd) {
    return ::close(fd);
}

int socket_bind(int fd, const void* address, size_t length) {
    return ::bind(fd, static_cast<const sockaddr*>(address), socklen_t(length));
}

int socket_connect(int fd, const void* address, size_t length) {
    int r = ::connect(fd, static_cast<const sockaddr*>(address), socklen_t(length));
    if (r == 0) return 0;
    if (errno == EINPROGRESS) return 1;
    if (errno != EINTR) return -1;
    // An interrupted connect goes on in the background; calling connect again
    // would fail with EALREADY. Wait for it to finish instead.
    pollfd p{fd, POLLOUT, 0};
    while ((r = ::poll(&p, 1, -1)) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return -1;
    return 0;
}

int socket_set_nonblocking(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return -1;
    flags = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return ::fcntl(fd, F_SETFL, flags);
}

int socket_bytes_pending(int fd, uint32_t* count) {
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) < 0) return -1;
    *count = uint32_t(n);
    return 0;
}

long socket_send(int fd, const void* data, size_t length) {
    ssize_t n;
    do
        n = ::send(fd, data, length, MSG_NOSIGNAL); // a closed peer is an error, not a signal
    while (n < 0 && errno == EINTR);
    return long(n);
}

long socket_recv(int fd, void* buffer, size_t length) {
    ssize_t n;
    do
        n = ::recv(fd, buffer, length, 0);
    while (n < 0 && errno == EINTR);
    return long(n);
}

long socket_sendto(int fd, const void* data, size_t length, const void* to, size_t to_length) {
    return long(::sendto(fd, data, length, MSG_NOSIGNAL, static_cast<const sockaddr*>(to),
                         socklen_t(to_length)));
}

long socket_recvfrom(int fd, void* buffer, size_t length, void* from, size_t* from_length) {
    socklen_t n = socklen_t(*from_length);
    ssize_t r = ::recvfrom(fd, buffer, length, 0, static_cast<sockaddr*>(from), &n);
    *from_length = n;
    return long(r);
}

int socket_error(int fd) {
    int e = 0;
    socklen_t n = sizeof e;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &n) < 0) return errno;
    return e;
}

int socket_poll(PollEntry* entries, size_t count, int timeout_ms) {
    pollfd fds[POLL_LIMIT];
    if (count > POLL_LIMIT) return -1;
    for (size_t i = 0; i < count; i++) {
        fds[i].fd = entries[i].fd;
        fds[i].events =
            short((entries[i].want_read ? POLLIN : 0) | (entries[i].want_write ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    int r;
    do
        r = ::poll(fds, nfds_t(count), timeout_ms);
    while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    int ready = 0;
    for (size_t i = 0; i < count; i++) {
        short ev = fds[i].revents;
        if (ev & POLLNVAL) return -1;
        entries[i].readable = (ev & (POLLIN | POLLHUP | POLLERR)) != 0;
        entries[i].failed = (ev & POLLERR) != 0;
        entries[i].writable = (ev & POLLOUT) != 0 && !entries[i].failed;
        if (entries[i].readable || entries[i].writable || entries[i].failed) ready++;
    }
    return ready;
}

bool parse_ipv4(const char* text, uint32_t* address) {
    in_addr a;
    if (!text || ::inet_aton(text, &a) == 0) return false;
    *address = a.s_addr;
    return true;
}

int resolve_ipv4(const char* name, uint32_t* addresses, int max) {
    // An empty name is this machine, as Winsock's gethostbyname has it.
    char host[256];
    if (!*name) {
        if (::gethostname(host, sizeof host) != 0) return 0;
        host[sizeof host - 1] = 0;
        name = host;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0) return 0;
    int n = 0;
    for (addrinfo* p = list; p && n < max; p = p->ai_next)
        addresses[n++] = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return n;
}

int resolve(const char* node, const char* service, int family, int type, int flags,
            ResolvedAddress* results, int max) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = type;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    int e = ::getaddrinfo(node, service, &hints, &list);
    if (e != 0) return e < 0 ? e : -e;
    int n = 0;
    for (addrinfo* p = list; p && n < max; p = p->ai_next) {
        if (p->ai_addrlen > sizeof results[n].address) continue;
        results[n].family = p->ai_family;
        results[n].type = p->ai_socktype;
        results[n].protocol = p->ai_protocol;
        std::memcpy(results[n].address, p->ai_addr, p->ai_addrlen);
        results[n].length = p->ai_addrlen;
        n++;
    }
    ::freeaddrinfo(list);
    return n;
}

int name_of(const void* address, size_t length, char* host, size_t host_size, char* service,
            size_t service_size, int flags) {
    // Winsock numbers these flags differently.
    int f = ((flags & 1) ? NI_NOFQDN : 0) | ((flags & 2) ? NI_NUMERICHOST : 0) |
            ((flags & 4) ? NI_NAMEREQD : 0) | ((flags & 8) ? NI_NUMERICSERV : 0) |
            ((flags & 16) ? NI_DGRAM : 0);
    return ::getnameinfo(static_cast<const sockaddr*>(address), socklen_t(length), host,
                         socklen_t(host_size), service, socklen_t(service_size), f);
}

} // namespace bsd
