// Start-up and end of the sockets interface for the whole program, IPv4 name
// resolution, and the registry of network server objects. The state below is
// process-wide and owned here; connections (connection.h) read it.
#pragma once

#include <cstdint>

#include "core/registry.h"

// A network server object: its listening socket (non-zero while live), its
// kind (CONNECTION_TCP or CONNECTION_UDP) and the connections it accepted,
// which it owns.
struct NetworkServer {
    uintptr_t socket;
    int32_t kind;
    DynamicBlock* clients;
};

struct NetworkState {
    int16_t started;          // 1 once WSAStartup has succeeded
    HMODULE addrinfo_library; // ws2_32.dll, or null
    FARPROC getaddrinfo_entry;
    FARPROC freeaddrinfo_entry;
    FARPROC getnameinfo_entry;
    bool has_addrinfo; // all three entry points were found
    ObjectRegistry* network_servers;
    bool servers_created;
};

extern NetworkState network;

// 1 when the sockets interface is started, 0 when WSAStartup failed.
int32_t network_start();
// Releases every server object, cleans up the sockets interface and unloads
// ws2_32.dll. Client connections are their users' to close.
void network_end();

constexpr uint32_t UNRESOLVED_ADDRESS = 0xFFFFFFFF;
// The IPv4 address (network byte order) of a dotted address or host name;
// UNRESOLVED_ADDRESS when there is none. 255.255.255.255 reads as unresolved.
uint32_t resolve_ipv4(const char* host);
