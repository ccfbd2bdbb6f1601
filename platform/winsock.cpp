// Windows Sockets over BSD sockets for the host build: the calls the network
// layer makes, with Winsock's manners where they differ (start-up required,
// no SIGPIPE, select's sets, FIONBIO/FIONREAD codes, IPv6 family 23), and
// ws2_32.dll's getaddrinfo/freeaddrinfo/getnameinfo for LoadLibraryA.
#include "platform/faults.h"
#include "platform/winsock_posix.h"
#include "platform/bsd_sockets.h"
#include "platform/modules.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

int startups; // WSAStartup calls not yet matched by WSACleanup

int to_fd(SOCKET s) {
    return s > SOCKET(0x7FFFFFFF) ? -1 : int(s);
}

int bsd_family(int family) {
    if (family == AF_INET) return bsd::family_inet();
    if (family == AF_INET6) return bsd::family_inet6();
    return -1;
}

int winsock_family(int family) {
    if (family == bsd::family_inet()) return AF_INET;
    if (family == bsd::family_inet6()) return AF_INET6;
    return family;
}

// A Winsock sockaddr in the C library's layout: only the family differs for
// the two families used here (both start with a 16-bit family field).
bool to_bsd_address(const sockaddr* address, int length, unsigned char* out, size_t* out_length) {
    if (!address || length < int(sizeof(u_short)) || length > 128) return false;
    std::memcpy(out, address, size_t(length));
    int family = bsd_family(address->sa_family);
    if (family < 0) return false;
    u_short f = u_short(family);
    std::memcpy(out, &f, sizeof f);
    *out_length = size_t(length);
    return true;
}

// The address of a peer is all zeros: Winsock refuses to connect or send
// there (WSAEADDRNOTAVAIL).
bool unspecified_peer(const sockaddr* address, int length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(address);
    int from = 4, to = 8; // sockaddr_in's address
    if (address->sa_family == AF_INET6) from = 8, to = 24;
    if (length < to) return false;
    for (int i = from; i < to; i++)
        if (bytes[i]) return false;
    return true;
}

thread_local int last_error;

} // namespace

int WSAGetLastError() {
    return last_error;
}

int WSAStartup(WORD version, WSADATA* data) {
    if (!data) return 10014;                 // WSAEFAULT
    if ((version & 0xFF) == 0) return 10092; // WSAVERNOTSUPPORTED: below the lowest, 1.0
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    startups++;
    return 0;
}

int WSACleanup() {
    if (startups == 0) return SOCKET_ERROR;
    startups--;
    return 0;
}

SOCKET socket(int family, int type, int protocol) {
    if (startups == 0) return INVALID_SOCKET; // WSANOTINITIALISED
    int f = bsd_family(family);
    if (f < 0 || (type != SOCK_STREAM && type != SOCK_DGRAM)) return INVALID_SOCKET;
    // 0, or the type's own protocol (IPPROTO_TCP 6, IPPROTO_UDP 17): WSAEPROTONOSUPPORT
    if (protocol != 0 && protocol != (type == SOCK_STREAM ? 6 : 17)) return INVALID_SOCKET;
    int fd = bsd::socket_open(f, type);
    return fd < 0 ? INVALID_SOCKET : SOCKET(fd);
}

int closesocket(SOCKET s) {
    int fd = to_fd(s);
    return fd < 0 || bsd::socket_close(fd) != 0 ? SOCKET_ERROR : 0;
}

int bind(SOCKET s, const sockaddr* address, int length) {
    unsigned char a[128];
    size_t n;
    if (to_fd(s) < 0 || !to_bsd_address(address, length, a, &n)) return SOCKET_ERROR;
    return bsd::socket_bind(to_fd(s), a, n) == 0 ? 0 : SOCKET_ERROR;
}

// A non-blocking connect under way answers SOCKET_ERROR (WSAEWOULDBLOCK), as
// Winsock always does.
int connect(SOCKET s, const sockaddr* address, int length) {
    unsigned char a[128];
    size_t n;
    if (to_fd(s) < 0 || !to_bsd_address(address, length, a, &n)) return SOCKET_ERROR;
    if (unspecified_peer(address, length)) {
        last_error = WSAEADDRNOTAVAIL;
        return SOCKET_ERROR;
    }
    // Under way (non-blocking) is SOCKET_ERROR with WSAEWOULDBLOCK on Windows.
    const int r = bsd::socket_connect(to_fd(s), a, n);
    last_error = r == 1 ? WSAEWOULDBLOCK : 10061; // WSAECONNREFUSED
    return r == 0 ? 0 : SOCKET_ERROR;
}

int __WSAFDIsSet(SOCKET s, fd_set* set) {
    if (!set) return 0;
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; i++)
        if (set->fd_array[i] == s) return 1;
    return 0;
}

int select(int, fd_set* read_set, fd_set* write_set, fd_set* error_set, const timeval* timeout) {
    bsd::PollEntry entries[bsd::POLL_LIMIT];
    size_t count = 0;
    // One entry per socket, whichever sets name it.
    auto entry_of = [&](SOCKET s) -> bsd::PollEntry* {
        for (size_t i = 0; i < count; i++)
            if (entries[i].fd == to_fd(s)) return &entries[i];
        if (to_fd(s) < 0 || count == bsd::POLL_LIMIT) return nullptr;
        entries[count] = {to_fd(s), false, false, false, false, false};
        return &entries[count++];
    };
    fd_set* sets[3] = {read_set, write_set, error_set};
    for (int k = 0; k < 3; k++) {
        if (!sets[k]) continue;
        if (sets[k]->fd_count > FD_SETSIZE) return SOCKET_ERROR;
        for (u_int i = 0; i < sets[k]->fd_count; i++) {
            bsd::PollEntry* e = entry_of(sets[k]->fd_array[i]);
            if (!e) return SOCKET_ERROR; // WSAENOTSOCK
            if (k == 0) e->want_read = true;
            // A failed connect shows as POLLERR, which poll reports unasked.
            if (k == 1) e->want_write = true;
        }
    }
    if (count == 0) return SOCKET_ERROR; // Winsock refuses three empty sets
    int ms = -1;
    if (timeout) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return SOCKET_ERROR;
        long long t = (long long)timeout->tv_sec * 1000 + (timeout->tv_usec + 999) / 1000;
        ms = t > 0x7FFFFFFF ? 0x7FFFFFFF : int(t);
    }
    if (bsd::socket_poll(entries, count, ms) < 0) return SOCKET_ERROR;
    int ready = 0;
    for (int k = 0; k < 3; k++) {
        if (!sets[k]) continue;
        u_int kept = 0;
        for (u_int i = 0; i < sets[k]->fd_count; i++) {
            SOCKET s = sets[k]->fd_array[i];
            bsd::PollEntry* e = entry_of(s);
            bool in = false;
            if (k == 0) in = e->readable;
            // Winsock: a connect that failed is in the error set only; an
            // established socket is writable.
            if (k == 1) in = e->writable && bsd::socket_error(e->fd) == 0;
            if (k == 2) in = e->failed && bsd::socket_error(e->fd) != 0;
            if (in) sets[k]->fd_array[kept++] = s;
        }
        sets[k]->fd_count = kept;
        ready += int(kept);
    }
    return ready;
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
    if (to_fd(s) < 0 || !argument) return SOCKET_ERROR;
    if (command == FIONBIO)
        return bsd::socket_set_nonblocking(to_fd(s), *argument != 0) == 0 ? 0 : SOCKET_ERROR;
    if (command == FIONREAD) {
        uint32_t n = 0;
        if (bsd::socket_bytes_pending(to_fd(s), &n) != 0) return SOCKET_ERROR;
        *argument = n;
        return 0;
    }
    return SOCKET_ERROR;
}

// No flags (out-of-band data, peeking, ...) are imitated: a call with any is
// refused rather than answered as if it had none.
int send(SOCKET s, const char* data, int length, int flags) {
    if (to_fd(s) < 0 || flags != 0 || length < 0 || (!data && length)) return SOCKET_ERROR;
    if (posix_fault(FaultCall::send)) return SOCKET_ERROR;
    long n = bsd::socket_send(to_fd(s), data, size_t(length));
    return n < 0 ? SOCKET_ERROR : int(n);
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    if (to_fd(s) < 0 || flags != 0 || length < 0 || (!buffer && length)) return SOCKET_ERROR;
    if (posix_fault(FaultCall::receive)) return SOCKET_ERROR;
    long n = bsd::socket_recv(to_fd(s), buffer, size_t(length));
    return n < 0 ? SOCKET_ERROR : int(n);
}

int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int to_length) {
    unsigned char a[128];
    size_t n;
    if (to_fd(s) < 0 || flags != 0 || length < 0 || !to_bsd_address(to, to_length, a, &n) ||
        unspecified_peer(to, to_length))
        return SOCKET_ERROR;
    long r = bsd::socket_sendto(to_fd(s), data, size_t(length), a, n);
    return r < 0 ? SOCKET_ERROR : int(r);
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* from_length) {
    if (to_fd(s) < 0 || flags != 0 || length < 0) return SOCKET_ERROR;
    unsigned char a[128];
    size_t n = sizeof a;
    long r = bsd::socket_recvfrom(to_fd(s), buffer, size_t(length), a, &n);
    if (r < 0) return SOCKET_ERROR;
    if (from && from_length && *from_length > 0) {
        size_t room = size_t(*from_length) < n ? size_t(*from_length) : n;
        std::memcpy(from, a, room);
        if (room >= sizeof(u_short)) from->sa_family = u_short(winsock_family(from->sa_family));
        *from_length = int(room);
    }
    return int(r);
}

u_long inet_addr(const char* text) {
    uint32_t a;
    if (!text || !*text || !bsd::parse_ipv4(text, &a)) return INADDR_NONE;
    return a;
}

hostent* gethostbyname(const char* name) {
    constexpr int max = 16;
    static thread_local uint32_t addresses[max];
    static thread_local char* list[max + 1];
    static thread_local char* no_aliases[1];
    static thread_local char host_name[256];
    static thread_local hostent h;
    if (startups == 0 || !name) return nullptr;
    int n = bsd::resolve_ipv4(name, addresses, max);
    if (n <= 0) return nullptr;
    for (int i = 0; i < n; i++)
        list[i] = reinterpret_cast<char*>(&addresses[i]);
    list[n] = nullptr;
    std::strncpy(host_name, name, sizeof host_name - 1);
    h = hostent{host_name, no_aliases, AF_INET, 4, list};
    return &h;
}

namespace {

// getaddrinfo of ws2_32.dll: the list is one heap block per record, address
// included, freed by freeaddrinfo.
int WSAAPI ws2_getaddrinfo(const char* node, const char* service, const ADDRINFOA* hints,
                           ADDRINFOA** result) {
    if (!result) return 10014;
    *result = nullptr;
    int family = 0, type = 0, flags = 0;
    if (hints) {
        // As documented: hints other than family, type, protocol and flags
        // must be zero, or the call fails.
        if (hints->ai_addrlen || hints->ai_canonname || hints->ai_addr || hints->ai_next)
            return 11003; // WSANO_RECOVERY
        family = hints->ai_family == 0 ? 0 : bsd_family(hints->ai_family);
        if (family < 0) return 10047; // WSAEAFNOSUPPORT
        type = hints->ai_socktype;
        flags = hints->ai_flags & 7; // passive, canonical name, numeric host: same values
    }
    bsd::ResolvedAddress found[16];
    int n = bsd::resolve(node, service, family, type, flags, found, 16);
    if (n <= 0) return 11001; // WSAHOST_NOT_FOUND
    ADDRINFOA** tail = result;
    for (int i = 0; i < n; i++) {
        auto* block = static_cast<unsigned char*>(std::calloc(1, sizeof(ADDRINFOA) + 128));
        if (!block) break;
        auto* a = new (block) ADDRINFOA{};
        a->ai_family = winsock_family(found[i].family);
        a->ai_socktype = found[i].type;
        a->ai_protocol = found[i].protocol;
        a->ai_addrlen = found[i].length;
        a->ai_addr = reinterpret_cast<sockaddr*>(block + sizeof(ADDRINFOA));
        std::memcpy(a->ai_addr, found[i].address, found[i].length);
        a->ai_addr->sa_family = u_short(a->ai_family);
        *tail = a;
        tail = &a->ai_next;
    }
    return *result ? 0 : 8; // WSA_NOT_ENOUGH_MEMORY
}

void WSAAPI ws2_freeaddrinfo(ADDRINFOA* list) {
    while (list) {
        ADDRINFOA* next = list->ai_next;
        std::free(list);
        list = next;
    }
}

int WSAAPI ws2_getnameinfo(const sockaddr* address, int length, char* host, DWORD host_size,
                           char* service, DWORD service_size, int flags) {
    unsigned char a[128];
    size_t n;
    if (!to_bsd_address(address, length, a, &n)) return 10047;
    return bsd::name_of(a, n, host, host_size, service, service_size, flags) == 0 ? 0 : 11001;
}

const PosixExport ws2_exports[] = {
    {"getaddrinfo", reinterpret_cast<FARPROC>(&ws2_getaddrinfo)},
    {"freeaddrinfo", reinterpret_cast<FARPROC>(&ws2_freeaddrinfo)},
    {"getnameinfo", reinterpret_cast<FARPROC>(&ws2_getnameinfo)},
    {nullptr, nullptr},
};

const PosixModule modules[] = {
    {"ws2_32.dll", ws2_exports},
    {nullptr, nullptr},
};

} // namespace

const PosixModule* posix_modules() {
    return modules;
}
