#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "net/connection.h"
#include "net/network.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

namespace {

struct NetworkTest : ::testing::Test {
    kt::Runtime runtime;
    void TearDown() override { network_end(); }
};

TEST_F(NetworkTest, StartsOnceAndFindsTheAddressFunctions) {
    EXPECT_EQ(network_start(), 1);
    EXPECT_EQ(network.started, 1);
    EXPECT_TRUE(network.servers_created);
    EXPECT_NE(network.network_servers, nullptr);
    // ws2_32.dll is there under Wine and in the host layer alike.
    EXPECT_NE(network.addrinfo_library, nullptr);
    EXPECT_TRUE(network.has_addrinfo);
    const HMODULE library = network.addrinfo_library;
    EXPECT_EQ(network_start(), 1);
    EXPECT_EQ(network.addrinfo_library, library);
}

TEST_F(NetworkTest, EndForgetsEverythingSoThatAStartBeginsAfresh) {
    ASSERT_EQ(network_start(), 1);
    network_end();
    EXPECT_EQ(network.started, 0);
    EXPECT_EQ(network.addrinfo_library, nullptr);
    EXPECT_FALSE(network.has_addrinfo);
    EXPECT_EQ(network.network_servers, nullptr);
    // Started again, sockets work again.
    ASSERT_EQ(network_start(), 1);
    kt::HttpTestServer server({kt::reply("x")});
    Connection* c = open_client("127.0.0.1", server.port());
    EXPECT_NE(c, nullptr);
    close_connection(c);
}

struct ResolveCase {
    const char* name;
    const char* host;
    uint32_t expected; // network byte order as stored
};

uint32_t address(unsigned a, unsigned b, unsigned c, unsigned d) {
    const unsigned char bytes[4] = {(unsigned char)a, (unsigned char)b, (unsigned char)c,
                                    (unsigned char)d};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

TEST_F(NetworkTest, ResolvesDottedAddressesAndNames) {
    ASSERT_EQ(network_start(), 1);
    const ResolveCase cases[] = {
        {"dotted address", "127.0.0.1", address(127, 0, 0, 1)},
        {"another dotted address", "10.1.2.3", address(10, 1, 2, 3)},
        {"name through the name service", "localhost", address(127, 0, 0, 1)},
        {"all-ones address reads as unresolved", "255.255.255.255", UNRESOLVED_ADDRESS},
        {"unknown name", "no-such-host.invalid", UNRESOLVED_ADDRESS},
        {"no text", nullptr, UNRESOLVED_ADDRESS},
    };
    for (const ResolveCase& c : cases)
        EXPECT_EQ(resolve_ipv4(c.host), c.expected) << c.name;
    // The empty name is this machine, whichever of its addresses comes first.
    EXPECT_NE(resolve_ipv4(""), UNRESOLVED_ADDRESS);
}

// A server object with two accepted clients: network_end closes all three
// sockets (their peers see the close) and gives the records back.
TEST_F(NetworkTest, EndClosesServerObjectsAndTheirClients) {
    ASSERT_EQ(network_start(), 1);
    kt::HttpTestServer peers({kt::reply("", kt::Ending::stall), kt::reply("", kt::Ending::stall),
                              kt::reply("", kt::Ending::stall)});
    Connection* own = open_client("127.0.0.1", peers.port());
    ASSERT_NE(own, nullptr);
    auto* server = static_cast<NetworkServer*>(registry_obtain(network.network_servers, 3));
    ASSERT_NE(server, nullptr);
    server->socket = own->socket;
    server->kind = CONNECTION_TCP;
    heap_free(own); // the socket is the server's now
    for (int i = 0; i < 2; i++) {
        Connection* c = open_client("127.0.0.1", peers.port());
        ASSERT_NE(c, nullptr);
        auto* client = static_cast<Connection*>(list_add(&server->clients, sizeof(Connection)));
        ASSERT_NE(client, nullptr);
        *client = *c;
        client->server = server;
        client->datagram = static_cast<char*>(heap_alloc(16));
        heap_free(c);
    }
    // A client closed by its user leaves the server's list, with its blocks.
    Connection* first = reinterpret_cast<Connection*>(server->clients + 1);
    const size_t blocks = kt::heap_counts().live;
    close_connection(first);
    EXPECT_EQ(kt::heap_counts().live, blocks - 2);
    ASSERT_NE(server->clients, nullptr);
    EXPECT_EQ(server->clients->older, nullptr);

    network_end();
    EXPECT_TRUE(peers.wait_done(10000)); // every peer saw its connection closed
}

} // namespace
