#include "net/network.h"

#include <cstring>

#include "net/connection.h"
#include "net/sockets_api.h"

NetworkState network;

namespace {

// Closes one server object: its accepted clients (their sockets only for a
// TCP server; a UDP server's clients share its socket), then its own socket.
intptr_t release_server(ObjectId id) {
    auto* server = static_cast<NetworkServer*>(registry_lookup(network.network_servers, id));
    if (!server) return 0;
    while (DynamicBlock* newest = server->clients) {
        auto* client = reinterpret_cast<Connection*>(newest + 1);
        if (server->kind == CONNECTION_TCP) closesocket(SOCKET(client->socket));
        heap_free(client->datagram);
        list_remove(&server->clients, client);
    }
    closesocket(SOCKET(server->socket));
    registry_release(network.network_servers, id);
    return 1;
}

} // namespace

int32_t network_start() {
    if (!network.servers_created) {
        network.network_servers = registry_create(sizeof(NetworkServer), 16, release_server);
        network.servers_created = network.network_servers != nullptr;
    }
    if (network.started == 1) return 1;

    WSADATA data;
    network.started = WSAStartup(0x0101, &data) == 0 ? 1 : 0;

    // Loaded once: a second start after a failed one must not take a second
    // reference that network_end would never give back.
    if (!network.addrinfo_library) network.addrinfo_library = LoadLibraryA("ws2_32.dll");
    if (!network.addrinfo_library) return network.started;
    network.getaddrinfo_entry = GetProcAddress(network.addrinfo_library, "getaddrinfo");
    network.freeaddrinfo_entry = GetProcAddress(network.addrinfo_library, "freeaddrinfo");
    network.getnameinfo_entry = GetProcAddress(network.addrinfo_library, "getnameinfo");
    network.has_addrinfo =
        network.getaddrinfo_entry && network.freeaddrinfo_entry && network.getnameinfo_entry;
    return network.started;
}

void network_end() {
    if (network.network_servers) registry_release_all(network.network_servers);
    if (network.started == 1) WSACleanup();
    if (network.addrinfo_library) FreeLibrary(network.addrinfo_library);
    // Forget what was just given back, so that a later start begins afresh
    // instead of reporting a cleaned-up interface as started. The registry
    // itself lives in the main heap and goes with it.
    network = NetworkState{};
}

uint32_t resolve_ipv4(const char* host) {
    if (!host) return UNRESOLVED_ADDRESS;
    uint32_t address = inet_addr(host);
    if (address == INADDR_NONE) {
        const hostent* h = gethostbyname(host);
        if (h && h->h_addrtype == AF_INET && h->h_length == 4 && h->h_addr_list &&
            h->h_addr_list[0]) {
            std::memcpy(&address, h->h_addr_list[0], sizeof address); // network order
        }
    }
    return address;
}
