// TLS through SChannel under Wine, against the loopback servers of
// tls_host.py (their ports in the file named by KESTRIN_TLS_SERVERS) with
// certificates made by the test and a prefix that trusts the test CA only
// through its bundle (with_test_ca.sh).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "http/download.h"
#include "net/connection.h"
#include "tests/support/test_support.h"

namespace {

std::map<std::string, int> server_ports() {
    std::map<std::string, int> ports;
    const char* list = std::getenv("KESTRIN_TLS_SERVERS");
    std::ifstream in(list ? list : "");
    std::string name;
    int port = 0;
    while (in >> name >> port)
        ports[name] = port;
    return ports;
}

struct TlsTest : ::testing::Test {
    kt::Runtime runtime;
    kt::TempDir dir;
    std::string target = dir.file("tmp1");
    std::map<std::string, int> ports = server_ports();
    std::string entry;

    void SetUp() override {
        const char* entry_file = std::getenv("KESTRIN_TLS_ENTRY");
        ASSERT_TRUE(entry_file && kt::file_exists(entry_file));
        entry = kt::read_file(entry_file);
        ASSERT_TRUE(ports.count("good") && ports.count("plain")) << "no server list";
        ASSERT_EQ(network_start(), 1);
    }
    void TearDown() override { network_end(); }

    std::string url(const std::string& server, const std::string& path) {
        return "https://localhost:" + std::to_string(ports[server]) + path;
    }
    int32_t fetch(const std::string& u, bool* complete) {
        std::remove(target.c_str());
        return download_file(u.c_str(), target.c_str(), complete);
    }
};

// Every body arrives; an unframed one is whole only when the closing alert
// ended it, not a bare TCP close (nobody can tell that from a cut).
TEST_F(TlsTest, BodiesArriveOverTls) {
    const struct {
        const char* path;
        bool whole;
    } cases[] = {{"/counted", true}, {"/chunked", true}, {"/close", true}, {"/cut", false}};
    for (const auto& c : cases) {
        bool complete = !c.whole;
        EXPECT_EQ(fetch(url("good", c.path), &complete), int32_t(entry.size())) << c.path;
        EXPECT_EQ(complete, c.whole) << c.path;
        EXPECT_EQ(kt::file_exists(target) ? kt::read_file(target) : "", entry) << c.path;
    }
}

TEST_F(TlsTest, RequestOverTlsNamesNoDefaultPort) {
    const auto request = [](const std::string& host) {
        return "GET /echo HTTP/1.1\r\nAccept: */*\r\nHost: " + host +
               "\r\nConnection: close\r\n\r\n";
    };
    bool complete = false;
    ASSERT_GT(fetch(url("good", "/echo"), &complete), 0);
    EXPECT_EQ(kt::read_file(target), request("localhost:" + std::to_string(ports["good"])));
    if (!ports.count("default")) GTEST_SKIP() << "port 443 cannot be bound here";
    ASSERT_GT(fetch("https://localhost/echo", &complete), 0);
    EXPECT_EQ(kt::read_file(target), request("localhost"));
}

// Each fails at once: 0, no file, and nothing sent in plain.
TEST_F(TlsTest, UntrustedServersGiveNothing) {
    for (const char* server : {"wrong_host", "expired", "self_signed", "plain"}) {
        ASSERT_TRUE(ports.count(server)) << server;
        bool complete = true;
        const uint64_t started = GetTickCount64();
        EXPECT_EQ(fetch(url(server, "/counted"), &complete), 0) << server;
        EXPECT_FALSE(complete) << server;
        EXPECT_FALSE(kt::file_exists(target)) << server;
        EXPECT_LT(GetTickCount64() - started, 10000u) << server;
    }
}

// A server that speaks only TLS 1.0 or 1.1: whether or not the system's
// TLS lets the handshake through, nothing is sent and nothing saved.
TEST_F(TlsTest, ProtocolsBeforeTls12GiveNothing) {
    const char* list = std::getenv("KESTRIN_TLS_SERVERS");
    const std::string requests = std::string(list ? list : "") + ".requests";
    for (const char* server : {"tls10", "tls11"}) {
        ASSERT_TRUE(ports.count(server)) << server;
        bool complete = true;
        EXPECT_EQ(fetch(url(server, "/counted"), &complete), 0) << server;
        EXPECT_FALSE(complete) << server;
        EXPECT_FALSE(kt::file_exists(target)) << server;
    }
    ASSERT_TRUE(kt::file_exists(requests));
    const std::string logged = kt::read_file(requests);
    EXPECT_EQ(logged.find("tls10 "), std::string::npos) << logged;
    EXPECT_EQ(logged.find("tls11 "), std::string::npos) << logged;
}

TEST_F(TlsTest, NegotiatesTls12AndTheNewestOffered) {
    for (const char* server : {"good", "tls12"}) {
        Connection* c = open_client("localhost", uint16_t(ports[server]));
        ASSERT_NE(c, nullptr) << server;
        EXPECT_TRUE(secure_connection(c, "localhost", GetTickCount64() + 10000)) << server;
        const int32_t version = connection_tls_version(c);
        std::printf("%s: TLS 1.%d\n", server, version - 10);
        if (std::string(server) == "tls12")
            EXPECT_EQ(version, 12);
        else
            EXPECT_GE(version, 12);
        close_connection(c);
    }
}

} // namespace
