#include <chrono>
#include <string>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <vector>
#endif

#include "net/connection.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

namespace {

constexpr char REQUEST[] = "GET / HTTP/1.1\r\n\r\n";

struct ConnectionTest : ::testing::Test {
    kt::Runtime runtime;
    void SetUp() override { ASSERT_EQ(network_start(), 1); }
    void TearDown() override { network_end(); }
};

// Polls for an event other than EVENT_NONE, waiting between looks; bounded.
int32_t next_event(Connection* c, int timeout_ms = 5000) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int32_t e = connection_event(c);
        if (e != EVENT_NONE || std::chrono::steady_clock::now() > give_up) return e;
        connection_wait(c, 100, false);
    }
}

std::string receive_all(Connection* c) {
    std::string got;
    while (next_event(c) == EVENT_DATA) {
        char buffer[64];
        int32_t n = connection_receive(c, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, size_t(n));
    }
    return got;
}

#ifndef _WIN32
size_t open_descriptors() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        n++;
    return n;
}
#endif

#ifndef _WIN32
// A peer whose queue of connections is full lets a connect go unanswered:
// the wait gives up at its deadline, or at the slice after a stop.
TEST_F(ConnectionTest, AnUnansweredConnectIsWaitedForUntilItsTimeOut) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length), 0);
    std::vector<int> queued; // never accepted
    for (int i = 0; i < 3; i++) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM, 0));
        ::fcntl(queued.back(), F_SETFL, O_NONBLOCK);
        ::connect(queued.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    const StopFlag go_on{false};
    OpenFailure why = OpenFailure::none;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        open_client_waiting("127.0.0.1", ntohs(a.sin_port), GetTickCount64() + 500, &go_on, &why),
        nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    EXPECT_EQ(why, OpenFailure::connect);
    const StopFlag stop{true};
    const auto stopped = std::chrono::steady_clock::now();
    EXPECT_EQ(
        open_client_waiting("127.0.0.1", ntohs(a.sin_port), GetTickCount64() + 60000, &stop, &why),
        nullptr);
    EXPECT_EQ(why, OpenFailure::cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(1000));
    // So is a connect with a time-out and no hook, a whole second here.
    const auto second = std::chrono::steady_clock::now();
    EXPECT_EQ(open_connection("127.0.0.1", ntohs(a.sin_port), CONNECTION_TCP, 1000, nullptr, 0),
              nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - second, std::chrono::milliseconds(950));
    for (int q : queued)
        ::close(q);
    ::close(listener);
}
#endif

#ifndef _WIN32
// Winsock refuses a peer of all zeros at once (WSAEADDRNOTAVAIL), as the
// host's stand-in does, where Linux (and Wine over it) connect to loopback.
TEST_F(ConnectionTest, APeerOfAllZerosIsRefusedAtOnce) {
    kt::HttpTestServer server({kt::reply("x")});
    OpenFailure why = OpenFailure::none;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open_client_waiting("0.0.0.0", server.port(), GetTickCount64() + 5000, nullptr, &why),
              nullptr);
    EXPECT_EQ(why, OpenFailure::connect);
    EXPECT_EQ(open_connection("0.0.0.0", server.port(), CONNECTION_TCP, 5000, nullptr, 0), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    server.stop();
}
#endif

TEST_F(ConnectionTest, ClientExchangesBytesAndSeesTheCloseWithoutWaiting) {
    kt::HttpTestServer server({kt::reply("hello, client")});
    Connection* c = open_client("127.0.0.1", server.port());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind, CONNECTION_TCP);
    EXPECT_EQ(c->server, nullptr);
    EXPECT_EQ(connection_send(c, REQUEST, int32_t(sizeof REQUEST - 1)),
              int32_t(sizeof REQUEST - 1));
    // Everything sent before the close is data first; then the close, at once.
    EXPECT_EQ(receive_all(c), "hello, client");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(connection_event(c), EVENT_DISCONNECT);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    close_connection(c);
    ASSERT_TRUE(server.wait_done());
    EXPECT_EQ(server.requests().at(0), REQUEST);
}

// What a reader may take at once: every byte that has come, no more.
TEST_F(ConnectionTest, WaitingCountsTheBytesThatCanBeTakenAtOnce) {
    kt::HttpTestServer server({kt::reply("hello, client")});
    Connection* c = open_client("127.0.0.1", server.port());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(connection_send(c, REQUEST, int32_t(sizeof REQUEST - 1)),
              int32_t(sizeof REQUEST - 1));
    ASSERT_EQ(next_event(c), EVENT_DATA);
    // Sent in one piece; bounded wait in case it lands in two.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (connection_waiting(c) < 13 && std::chrono::steady_clock::now() < give_up)
        connection_wait(c, 10, false);
    EXPECT_EQ(connection_waiting(c), 13);
    EXPECT_TRUE(connection_wait(c, 0, false));
    EXPECT_TRUE(connection_wait(c, -1, false)); // a wait below zero is no wait
    char buffer[16];
    EXPECT_EQ(connection_receive(c, buffer, 0), 0); // an empty read takes nothing
    EXPECT_EQ(connection_receive(c, buffer, 5), 5);
    EXPECT_EQ(connection_waiting(c), 8);
    EXPECT_EQ(connection_receive(c, buffer, 16), 8);
    EXPECT_EQ(next_event(c), EVENT_DISCONNECT);
    EXPECT_EQ(connection_waiting(c), 0); // closed, nothing left
    EXPECT_EQ(connection_waiting(nullptr), -1);
    EXPECT_EQ(connection_receive(nullptr, buffer, 1), -1);
    close_connection(c);
}

TEST_F(ConnectionTest, NothingPendingIsNoEvent) {
    kt::HttpTestServer server({kt::reply("", kt::Ending::stall)});
    Connection* c = open_client("127.0.0.1", server.port());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(connection_event(c), EVENT_NONE);
    EXPECT_EQ(connection_waiting(c), 0);
    EXPECT_FALSE(connection_wait(c, 50, false));
    EXPECT_TRUE(connection_wait(c, 50, true)); // room to send
    close_connection(c);
}

TEST_F(ConnectionTest, KindsAndTimeOutsOpenTcpConnections) {
    kt::HttpTestServer server({kt::reply("a"), kt::reply("b"), kt::reply("c")});
    struct Case {
        const char* name;
        int32_t kind;
        int32_t timeout_ms;
    } cases[] = {
        {"kind 0 is TCP", 0, 0},
        {"explicit TCP", CONNECTION_TCP, 0},
        {"connect with a time-out", CONNECTION_TCP, 3000},
    };
    for (const Case& k : cases) {
        Connection* c =
            open_connection("127.0.0.1", server.port(), k.kind, k.timeout_ms, nullptr, 0);
        ASSERT_NE(c, nullptr) << k.name;
        EXPECT_EQ(c->kind, CONNECTION_TCP) << k.name;
        connection_send(c, REQUEST, int32_t(sizeof REQUEST - 1));
        // Back in blocking mode after a timed connect: a receive waits for data.
        char buffer[8];
        EXPECT_EQ(connection_receive(c, buffer, sizeof buffer), 1) << k.name;
        close_connection(c);
    }
    EXPECT_TRUE(server.wait_done());
}

TEST_F(ConnectionTest, FailuresReturnNoneAndLeaveNoSocketOpen) {
    const uint16_t refused = kt::unused_port();
    ASSERT_NE(refused, 0);
#ifndef _WIN32
    const size_t descriptors = open_descriptors();
#endif
    struct Case {
        const char* name;
        const char* host;
        uint16_t port;
        int32_t kind;
        int32_t timeout_ms;
        const char* local_address;
    } cases[] = {
        {"no host text", nullptr, 80, CONNECTION_TCP, 0, nullptr},
        {"unresolvable name", "no-such-host.invalid", 80, CONNECTION_TCP, 0, nullptr},
        {"all-ones address", "255.255.255.255", 80, CONNECTION_TCP, 0, nullptr},
        {"refused port", "127.0.0.1", refused, CONNECTION_TCP, 0, nullptr},
        {"refused port with a time-out", "127.0.0.1", refused, CONNECTION_TCP, 2000, nullptr},
        // Only bound, never sent to: the address is not this machine's.
        {"local address not ours", "127.0.0.1", refused, CONNECTION_TCP, 0, "192.0.2.1"},
        {"unknown kind", "127.0.0.1", refused, 7, 0, nullptr},
    };
    for (const Case& k : cases)
        EXPECT_EQ(open_connection(k.host, k.port, k.kind, k.timeout_ms, k.local_address, 0),
                  nullptr)
            << k.name;
#ifndef _WIN32
    EXPECT_EQ(open_descriptors(), descriptors);
#endif
}

TEST_F(ConnectionTest, BindsToTheLocalAddressAndPortGiven) {
    kt::HttpTestServer server({kt::reply("bound")});
    const uint16_t local = kt::unused_port();
    Connection* c =
        open_connection("127.0.0.1", server.port(), CONNECTION_TCP, 0, "127.0.0.1", local);
    ASSERT_NE(c, nullptr);
    connection_send(c, REQUEST, int32_t(sizeof REQUEST - 1));
    EXPECT_EQ(receive_all(c), "bound");
    // The same local port cannot be bound twice while in use.
    EXPECT_EQ(open_connection("127.0.0.1", server.port(), CONNECTION_TCP, 0, "127.0.0.1", local),
              nullptr);
    close_connection(c);
}

TEST_F(ConnectionTest, UdpConnectionsExchangeDatagrams) {
    const uint16_t port_a = kt::unused_port(), port_b = kt::unused_port();
    // b on a loopback address of its own: only a datagram sent to it gets there.
    Connection* a = open_connection("127.0.0.2", port_b, CONNECTION_UDP, 0, nullptr, port_a);
    Connection* b = open_connection("127.0.0.1", port_a, CONNECTION_UDP, 0, "127.0.0.2", port_b);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->kind, CONNECTION_UDP);
    EXPECT_EQ(a->socket, port_b); // the peer port
    EXPECT_EQ(connection_event(b), EVENT_NONE);
    EXPECT_EQ(connection_send(a, "ping", 4), 4);
    ASSERT_EQ(next_event(b), EVENT_DATA);
    // A datagram is drained in as many receives as the caller likes.
    char buffer[8] = {};
    EXPECT_EQ(connection_receive(b, buffer, 2), 2);
    EXPECT_TRUE(connection_wait(b, 5000, false)) << "the rest is there at once";
    EXPECT_EQ(connection_receive(b, buffer + 2, 6), 2);
    EXPECT_EQ(std::string(buffer), "ping");
    EXPECT_EQ(connection_event(b), EVENT_NONE);
    EXPECT_EQ(connection_send(b, "pong", 4), 4);
    ASSERT_EQ(next_event(a), EVENT_DATA);
    EXPECT_EQ(connection_receive(a, buffer, sizeof buffer), 4);
    // A datagram connection cannot be secured.
    TlsFailure why = TlsFailure::none;
    EXPECT_FALSE(secure_connection(a, "127.0.0.1", UINT64_MAX, nullptr, &why));
    EXPECT_EQ(why, TlsFailure::other);
    why = TlsFailure::none;
    EXPECT_FALSE(secure_connection(nullptr, "127.0.0.1", UINT64_MAX, nullptr, &why));
    EXPECT_EQ(why, TlsFailure::other);
    close_connection(a);
    close_connection(b);
}

TEST_F(ConnectionTest, Ipv6ConnectsThroughTheAddressFunctions) {
    ASSERT_TRUE(network.has_addrinfo);
    kt::ServerOptions options;
    options.ipv6 = true;
    kt::HttpTestServer server({kt::reply("over IPv6"), kt::reply("timed")}, options);
    if (!server.listening()) GTEST_SKIP() << "no IPv6 loopback here";
    Connection* c =
        open_connection("::1", server.port(), CONNECTION_TCP | CONNECTION_IPV6, 0, nullptr, 0);
    ASSERT_NE(c, nullptr);
    connection_send(c, REQUEST, int32_t(sizeof REQUEST - 1));
    EXPECT_EQ(receive_all(c), "over IPv6");
    close_connection(c);
    c = open_connection("::1", server.port(), CONNECTION_IPV6, 2000, nullptr, 0);
    ASSERT_NE(c, nullptr);
    connection_send(c, REQUEST, int32_t(sizeof REQUEST - 1));
    EXPECT_EQ(receive_all(c), "timed");
    close_connection(c);
    // Without the address functions an IPv6 connection fails.
    network.has_addrinfo = false;
    EXPECT_EQ(open_connection("::1", server.port(), CONNECTION_IPV6, 0, nullptr, 0), nullptr);
}

} // namespace
