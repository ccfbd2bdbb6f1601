// Host build only: the Windows Sockets declarations the network layer uses,
// implemented over BSD sockets in winsock.cpp. Each call behaves as its
// Winsock namesake for the arguments this program passes; nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

// The C library declares its own select, fd_set and timeval as soon as any
// standard header pulls in <sys/select.h>; take those first and give the
// Winsock ones other names underneath, as the Windows headers do the reverse.
#include <sys/types.h>
#include <sys/select.h>
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ZERO
#undef FD_ISSET
#define fd_set winsock_fd_set
#define timeval winsock_timeval
#define select winsock_select
#define u_long winsock_u_long // the C library's is 64 bits wide, Winsock's 32

#include "platform/win32_posix.h"

#define WSAAPI

using SOCKET = uintptr_t;
using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
using u_long = uint32_t;

constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

constexpr int AF_INET = 2;
constexpr int AF_INET6 = 23;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr u_long INADDR_ANY = 0;
constexpr u_long INADDR_NONE = 0xFFFFFFFF;

constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEADDRNOTAVAIL = 10049;

constexpr long FIONREAD = 0x4004667F;
constexpr long FIONBIO = long(0x8004667EL);

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

struct in_addr {
    u_long s_addr;
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

struct timeval {
    long tv_sec;
    long tv_usec;
};

constexpr u_int FD_SETSIZE = 64;
struct fd_set {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};

int __WSAFDIsSet(SOCKET s, fd_set* set);
#define FD_ZERO(set) ((set)->fd_count = 0)
#define FD_ISSET(s, set) __WSAFDIsSet(SOCKET(s), (fd_set*)(set))
#define FD_SET(s, set)                                                                             \
    do {                                                                                           \
        if (!__WSAFDIsSet(SOCKET(s), (set)) && (set)->fd_count < FD_SETSIZE)                       \
            (set)->fd_array[(set)->fd_count++] = SOCKET(s);                                        \
    } while (0)

// The address-information record of ws2_32.dll, in its field order.
struct ADDRINFOA {
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    char* ai_canonname;
    sockaddr* ai_addr;
    ADDRINFOA* ai_next;
};

int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET s);
int bind(SOCKET s, const sockaddr* address, int length);
// A peer of all zeros (INADDR_ANY, in6addr_any) is refused with
// WSAEADDRNOTAVAIL, as Winsock documents, where Linux would take loopback.
int connect(SOCKET s, const sockaddr* address, int length);
// The error of the caller thread's last failed connect.
int WSAGetLastError();
// The first argument is ignored, as on Windows. A failed non-blocking
// connect shows in the error set, not in the write set.
int select(int ignored, fd_set* read_set, fd_set* write_set, fd_set* error_set,
           const timeval* timeout);
int ioctlsocket(SOCKET s, long command, u_long* argument);
int send(SOCKET s, const char* data, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
// Refuses a peer of all zeros, as connect does.
int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int to_length);
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* from_length);
u_long inet_addr(const char* text);
// The first IPv4 addresses of a host; the record is the caller thread's
// until its next call.
hostent* gethostbyname(const char* name);

constexpr u_short htons(u_short v) {
    return u_short((v << 8) | (v >> 8));
}
constexpr u_short ntohs(u_short v) {
    return htons(v);
}
constexpr u_long htonl(u_long v) {
    return __builtin_bswap32(v);
}
constexpr u_long ntohl(u_long v) {
    return htonl(v);
}
