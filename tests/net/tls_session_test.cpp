// The TLS session's SChannel code, on the host, against the scripted
// provider (tests/support/scripted_tls.h) that answers as Windows does,
// through a real loopback connection: https downloads whose server bytes
// are fed at every split point, and what the session accepts.
#include <chrono>
#include <string>
#include <vector>

#include <sys/socket.h>

#include <gtest/gtest.h>

#include "http/download.h"
#include "net/connection.h"
#include "platform/faults.h"
#include "tests/support/http_test_server.h"
#include "tests/support/scripted_tls.h"
#include "tests/support/test_support.h"

namespace {

using kt::tls_record;

const std::string UNFRAMED = "HTTP/1.1 200 OK\r\n\r\nbody";
const std::string COUNTED = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody";

kt::TlsScript tls12() {
    kt::TlsScript s;
    s.protocol = SP_PROT_TLS1_2_CLIENT;
    return s;
}
kt::TlsScript tls13() {
    return kt::TlsScript{};
}
kt::TlsScript under_wine(kt::TlsScript s) {
    s.wine = true;
    return s;
}
kt::TlsScript with_protocol(DWORD protocol) {
    kt::TlsScript s;
    s.protocol = protocol;
    return s;
}
kt::TlsScript with_verdict(LONG error) {
    kt::TlsScript s;
    s.policy_error = DWORD(error);
    return s;
}
kt::TlsScript for_clients_only() {
    kt::TlsScript s;
    s.server_usage = false;
    return s;
}
kt::TlsScript credentials(bool modern, bool classic_tls13) {
    kt::TlsScript s;
    s.modern_credentials = modern;
    s.classic_tls13 = classic_tls13;
    return s;
}

struct Fetched {
    int32_t count;
    bool complete;
    std::string file;
    std::string wire; // what the client sent
    DownloadReport report;
};

// The records of one type among the server's.
int records_in(const std::string& records, char type) {
    int count = 0;
    for (size_t at = 0; at + 3 <= records.size();
         at += 3 + (size_t(uint8_t(records[at + 1])) << 8 | uint8_t(records[at + 2])))
        count += records[at] == type;
    return count;
}

struct TlsSessionTest : ::testing::Test {
    kt::Runtime runtime;
    kt::TempDir dir;
    std::string target = dir.file("tmp1");
    kt::ScriptedTls tls{kt::TlsScript{}};
    void SetUp() override { ASSERT_EQ(network_start(), 1); }
    void TearDown() override { network_end(); }

    Fetched fetch(const kt::TlsScript& script, kt::Reply reply) {
        tls.reset(script);
        std::remove(target.c_str());
        kt::HttpTestServer server({std::move(reply)});
        const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/f";
        Fetched f{};
        const size_t live = kt::heap_counts().live;
        f.count = download_file(url.c_str(), target.c_str(), &f.complete, FETCH_BUDGET, nullptr,
                                &f.report);
        EXPECT_EQ(kt::heap_counts().live, live) << "blocks left";
        EXPECT_TRUE(server.wait_done());
        if (!server.received().empty()) f.wire = server.received()[0];
        if (kt::file_exists(target)) f.file = kt::read_file(target);
        EXPECT_EQ(tls.log().open, 0) << "handles left open";
        return f;
    }
};

struct Exchange {
    const char* name;
    kt::TlsScript script;
    std::string bytes; // the server's, after the client's hello
    int32_t count;
    bool complete;
    int post_handshake; // TLS 1.3 messages taken after the handshake
};

// Every exchange at every split point of its bytes: tokens split across
// reads (with and without SECBUFFER_MISSING), records in the last flight's
// read, several records in one read.
TEST_F(TlsSessionTest, ExchangesSplitAtEveryPoint) {
    const std::string x = "x";
    const Exchange cases[] = {
        {"TLS 1.3: data with the last flight, a ticket, one byte, data, the alert", tls13(),
         tls_record('h', x) + tls_record('f', x) + tls_record('d', UNFRAMED.substr(0, 9)) +
             tls_record('t', "ticket") + tls_record('d', UNFRAMED.substr(9, 1)) +
             tls_record('d', UNFRAMED.substr(10)) + tls_record('a'),
         4, true, 1},
        {"TLS 1.3: a ticket and a key update before a counted body", tls13(),
         tls_record('f', x) + tls_record('t', x) + tls_record('k') + tls_record('d', COUNTED), 4,
         true, 2},
        {"TLS 1.3: two tickets right after the handshake, as OpenSSL sends them", tls13(),
         tls_record('f', x) + tls_record('t', "one") + tls_record('t', "two") +
             tls_record('d', COUNTED),
         4, true, 2},
        {"TLS 1.3: a ticket in one read with the answer and the alert", tls13(),
         tls_record('f', x) + tls_record('t', x) + tls_record('d', UNFRAMED) + tls_record('a'), 4,
         true, 1},
        {"TLS 1.3: three tickets and a key update among the answer's records", tls13(),
         tls_record('f', x) + tls_record('t', x) + tls_record('d', COUNTED.substr(0, 20)) +
             tls_record('t', x) + tls_record('k') + tls_record('t', x) +
             tls_record('d', COUNTED.substr(20)),
         4, true, 4},
        {"TLS 1.3: a ticket last before a bare close is no end", tls13(),
         tls_record('f', x) + tls_record('d', UNFRAMED) + tls_record('t', x), 4, false, 1},
        {"Wine: a ticket last before the close is no end", under_wine(tls13()),
         tls_record('f', x) + tls_record('d', UNFRAMED) + tls_record('t', x), 4, false, 1},
        {"Wine: the alert as an empty record, then the close", under_wine(tls12()),
         tls_record('h', x) + tls_record('f', x) + tls_record('d', UNFRAMED) + tls_record('a'), 4,
         true, 0},
        {"Wine: a cut record after the empty one is no end", under_wine(tls12()),
         tls_record('f', x) + tls_record('d', UNFRAMED) + tls_record('a') +
             tls_record('d', "more").substr(0, 5),
         4, false, 0},
        {"Wine: a close right after data is a cut", under_wine(tls12()),
         tls_record('f', x) + tls_record('d', UNFRAMED), 4, false, 0},
        {"Windows: an empty record before the close is no end", tls12(),
         tls_record('f', x) + tls_record('d', UNFRAMED) + tls_record('d'), 4, false, 0},
        {"TLS 1.2: a close without the alert is a cut", tls12(),
         tls_record('h', x) + tls_record('f', x) + tls_record('d', UNFRAMED), 4, false, 0},
        {"TLS 1.2: a request for a new handshake ends the transfer", tls12(),
         tls_record('f', x) + tls_record('d', COUNTED.substr(0, COUNTED.size() - 2)) +
             tls_record('t', x) + tls_record('d', "dy") + tls_record('a'),
         2, false, 0},
    };
    for (const Exchange& c : cases) {
        for (size_t cut = 1; cut < c.bytes.size(); cut++) {
            const Fetched f = fetch(c.script, kt::split_reply(c.bytes, {cut}, 10));
            const std::string where = std::string(c.name) + ", cut at " + std::to_string(cut);
            EXPECT_EQ(f.count, c.count) << where;
            EXPECT_EQ(f.complete, c.complete) << where;
            EXPECT_EQ(f.file, std::string("body").substr(0, size_t(c.count))) << where;
            const kt::TlsLog& log = tls.log();
            EXPECT_EQ(log.sealed.rfind("GET /f HTTP/1.1\r\n", 0), 0u) << where;
            // Exactly the sealed records went out, then the answers to key
            // updates, then at most the alert.
            const std::string sent = kt::tls_client_bytes(records_in(c.bytes, 'h'), log.sealed);
            EXPECT_EQ(f.wire.substr(0, sent.size()), sent) << where;
            const std::string after = f.wire.substr(std::min(sent.size(), f.wire.size()));
            std::string updates;
            for (int k = records_in(c.bytes, 'k'); k > 0; k--)
                updates += "update";
            EXPECT_TRUE(after == updates || after == updates + tls_record('a')) << where;
            EXPECT_EQ(log.post_handshake, c.post_handshake) << where;
            EXPECT_EQ(log.new_handshakes, 0) << where;
            EXPECT_EQ(log.chains, 1) << where;
            if (HasFailure()) return;
        }
    }
}

struct Outcome {
    const char* name;
    kt::TlsScript script;
    TlsFailure why;
    DWORD credential_version; // of the credentials granted
};

// What the session accepts: a refused one sends nothing and tells why.
TEST_F(TlsSessionTest, OnlySoundSessionsCarryTheRequest) {
    const Outcome cases[] = {
        {"TLS 1.3, Windows 10 1809 on", tls13(), TlsFailure::none, SCH_CREDENTIALS_VERSION},
        {"TLS 1.2, Windows 8.1", credentials(false, true), TlsFailure::none, SCHANNEL_CRED_VERSION},
        {"TLS 1.2 alone, Windows 7", credentials(false, false), TlsFailure::none,
         SCHANNEL_CRED_VERSION},
        {"TLS 1.0", with_protocol(SP_PROT_TLS1_0_CLIENT), TlsFailure::other, 5},
        {"TLS 1.1", with_protocol(SP_PROT_TLS1_1_CLIENT), TlsFailure::other, 5},
        {"expired", with_verdict(CERT_E_EXPIRED), TlsFailure::certificate_date, 5},
        {"nested validity", with_verdict(CERT_E_VALIDITYPERIODNESTING),
         TlsFailure::certificate_date, 5},
        {"untrusted root", with_verdict(CERT_E_UNTRUSTEDROOT), TlsFailure::certificate_untrusted,
         5},
        {"no chain", with_verdict(CERT_E_CHAINING), TlsFailure::certificate_untrusted, 5},
        {"other host", with_verdict(CERT_E_CN_NO_MATCH), TlsFailure::certificate_name, 5},
        {"other verdict", with_verdict(LONG(0x800B010C)), TlsFailure::other, 5},
        {"not for servers", for_clients_only(), TlsFailure::other, 5},
    };
    const std::string bytes = tls_record('f', "x") + tls_record('d', COUNTED);
    const std::string text(20000, 'w');
    for (const Outcome& c : cases) {
        const bool sound = c.why == TlsFailure::none;
        const Fetched f = fetch(c.script, kt::reply(bytes));
        EXPECT_EQ(f.count, sound ? 4 : 0) << c.name;
        EXPECT_EQ(kt::file_exists(target), sound) << c.name;
        EXPECT_EQ(tls.log().sealed.empty(), !sound) << c.name;
        EXPECT_EQ(tls.log().credential_version, c.credential_version) << c.name;
        if (sound) {
            // The program checks the certificate itself and offers none of its own.
            const DWORD own_checks = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
            EXPECT_EQ(tls.log().credential_flags & own_checks, own_checks) << c.name;
            EXPECT_EQ(tls.log().target, "127.0.0.1") << c.name;
            EXPECT_EQ(tls.log().checked_name, "127.0.0.1") << c.name;
        }

        tls.reset(c.script);
        kt::HttpTestServer server({kt::reply(bytes, kt::Ending::stall)});
        Connection* connection = open_client("127.0.0.1", server.port());
        ASSERT_NE(connection, nullptr);
        // The first session has no end in sight.
        const bool endless = &c == &cases[0];
        const uint64_t deadline = endless ? UINT64_MAX : GetTickCount64() + 10000;
        TlsFailure why = TlsFailure::none;
        EXPECT_EQ(secure_connection(connection, "127.0.0.1", deadline, nullptr, &why), sound)
            << c.name;
        EXPECT_EQ(why, c.why) << c.name;
        if (sound) {
            EXPECT_EQ(connection_tls_version(connection),
                      c.script.protocol & SP_PROT_TLS1_3 ? 13 : 12);
            // The chain build may fetch for no longer than the handshake had
            // left, or the longest wait there is.
            const DWORD fetch = tls.log().retrieval_timeout;
            EXPECT_TRUE(endless ? fetch == 0xFFFFFFFFu : fetch > 0 && fetch <= 10000)
                << c.name << ": " << fetch;
            // The response comes whole, in one record.
            EXPECT_TRUE(connection_wait(connection, 5000, false)) << c.name;
            EXPECT_EQ(connection_waiting(connection), int32_t(COUNTED.size())) << c.name;
            // Taken in small pieces, in order.
            std::string got;
            char piece[3];
            for (int32_t n; got.size() < COUNTED.size() &&
                            (n = connection_receive(connection, piece, sizeof piece)) > 0;)
                got.append(piece, size_t(n));
            EXPECT_EQ(got, COUNTED) << c.name;
            // Then nothing is at hand, as on a non-blocking socket.
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(connection_wait(connection, 1000, false)) << c.name;
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950))
                << c.name;
            EXPECT_EQ(connection_receive(connection, piece, sizeof piece), -1) << c.name;
            // A long write goes out in one record of the longest SChannel seals.
            EXPECT_EQ(connection_send(connection, text.data(), int32_t(text.size())), 16384)
                << c.name;
        }
        close_connection(connection);
        EXPECT_EQ(tls.log().closing_alerts, sound ? 1 : 0) << c.name;
        EXPECT_EQ(tls.log().open, 0) << c.name;
        // A sound session's last bytes on the wire are its closing alert.
        ASSERT_TRUE(server.wait_done()) << c.name;
        const std::string wire = server.received().at(0);
        EXPECT_EQ(wire.ends_with(tls_record('a')), sound) << c.name;
        if (sound) {
            EXPECT_EQ(wire, kt::tls_client_bytes(0, text.substr(0, 16384)) + tls_record('a'))
                << c.name;
        }
    }
    // Nor does a session that finds no memory for its record.
    kt::HttpTestServer server({kt::reply(bytes)});
    Connection* connection = open_client("127.0.0.1", server.port());
    ASSERT_NE(connection, nullptr);
    TlsFailure why = TlsFailure::none;
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_FALSE(secure_connection(connection, "127.0.0.1", UINT64_MAX, nullptr, &why));
    posix_fail_nth(FaultCall::heap_alloc, 0);
    EXPECT_EQ(why, TlsFailure::other);
    close_connection(connection);
}

// A server that never answers the hello, and one that never reads it (a
// hello larger than the socket buffers): the handshake gives up when the
// hook says stop, or at its deadline.
TEST_F(TlsSessionTest, HandshakeWaitsEndByStopOrDeadline) {
    const struct {
        bool deaf;
        bool stopped;
        uint64_t budget_ms;
        TlsFailure why;
    } cases[] = {{false, true, 10000, TlsFailure::cancelled},
                 {false, false, 300, TlsFailure::other},
                 {true, true, 10000, TlsFailure::cancelled},
                 {true, false, 1500, TlsFailure::other}};
    for (const auto& c : cases) {
        kt::TlsScript script;
        if (c.deaf) script.hello_size = 32u << 20;
        tls.reset(script);
        kt::ServerOptions options;
        options.deaf = c.deaf;
        kt::HttpTestServer server({kt::reply("", kt::Ending::stall)}, options);
        Connection* connection = open_client("127.0.0.1", server.port());
        ASSERT_NE(connection, nullptr);
        const StopFlag stop{c.stopped};
        TlsFailure why = TlsFailure::none;
        const uint64_t started = GetTickCount64();
        EXPECT_FALSE(
            secure_connection(connection, "127.0.0.1", started + c.budget_ms, &stop, &why));
        EXPECT_EQ(why, c.why) << c.deaf;
        // Stopped at the first wait's end, or at the deadline.
        const uint64_t took = GetTickCount64() - started;
        EXPECT_LT(took, c.stopped ? 5 * WAIT_SLICE_MS + 2000 : c.budget_ms + 2000) << c.deaf;
        if (!c.stopped) {
            EXPECT_GE(took, c.budget_ms) << c.deaf;
        }
        close_connection(connection);
        server.stop();
        EXPECT_EQ(tls.log().open, 0) << c.deaf;
    }
}

// A write that cannot go out is refused: one SChannel cannot seal, one on a
// socket that can no longer send, with or without a record still on its way
// (the server read nothing for a while).
TEST_F(TlsSessionTest, WritesThatCannotGoOutAreRefused) {
    const std::string text(16384, 'w');
    enum { unsealed, shut, full_then_shut };
    for (const int c : {unsealed, shut, full_then_shut}) {
        kt::TlsScript script;
        script.seal_fails = c == unsealed;
        tls.reset(script);
        kt::HttpTestServer server(
            {kt::Reply{{kt::Send{tls_record('f', "x")}, kt::Send{"", 30000}}, kt::Ending::stall}});
        Connection* connection = open_client("127.0.0.1", server.port());
        ASSERT_NE(connection, nullptr);
        ASSERT_TRUE(
            secure_connection(connection, "127.0.0.1", GetTickCount64() + 10000, nullptr, nullptr));
        // A full socket takes nothing for now, which is no failure.
        int32_t sent = c == full_then_shut ? 1 : 0;
        for (int i = 0; i < 10000 && sent > 0; i++)
            sent = connection_send(connection, text.data(), int32_t(text.size()));
        EXPECT_EQ(sent, 0);
        if (c != unsealed) ::shutdown(int(connection->socket), SHUT_WR);
        // Refused, and so is every later write.
        for (int k = 0; k < 2; k++)
            EXPECT_EQ(connection_send(connection, text.data(), 1), -1) << c << k;
        close_connection(connection);
        server.stop();
    }
    // A reset while the request's record goes out (the third send, after
    // the hello and the finished token) ends the download at once.
    posix_fail_from(FaultCall::send, 3);
    const Fetched f = fetch(tls13(), kt::reply(tls_record('f', "x") + tls_record('d', COUNTED)));
    posix_fail_nth(FaultCall::send, 0);
    EXPECT_EQ(f.report.stage, DownloadStage::send);
    EXPECT_FALSE(f.report.timed_out);
    EXPECT_LT(f.report.milliseconds, 1000u);
    EXPECT_EQ(tls.log().sealed.rfind("GET /f HTTP/1.1\r\n", 0), 0u); // sealed, then refused
}

// A handshake that ends as its deadline comes leaves no time to check the
// certificate: the session is refused rather than wait for the chain as
// long as the system likes.
TEST_F(TlsSessionTest, NoTimeLeftForTheChainRefusesTheSession) {
    kt::TlsScript script;
    script.told_at = GetTickCount64() + 300;
    tls.reset(script);
    kt::HttpTestServer server({kt::reply(tls_record('f', "x"), kt::Ending::stall)});
    Connection* connection = open_client("127.0.0.1", server.port());
    ASSERT_NE(connection, nullptr);
    TlsFailure why = TlsFailure::none;
    EXPECT_FALSE(secure_connection(connection, "127.0.0.1", script.told_at, nullptr, &why));
    EXPECT_EQ(why, TlsFailure::other);
    EXPECT_EQ(tls.log().chains, 0);
    close_connection(connection);
}

// An unframed body that reaches the byte cap over TLS was cut there: only
// the closing alert shows where the server ended it.
TEST_F(TlsSessionTest, UnframedBodyAtTheCapIsCut) {
    std::string records;
    for (int i = 0; i < 32; i++)
        records += tls_record('d', std::string(2045, 'b'));
    kt::Send body{records};
    body.repeat = UNTIL_CLOSE_LIMIT / (32 * 2045) + 1;
    kt::Reply reply{
        {kt::Send{tls_record('f', "x") + tls_record('d', "HTTP/1.1 200 OK\r\n\r\n")}, body}};
    tls.reset(tls13());
    kt::HttpTestServer server({reply});
    const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/f";
    bool complete = true;
    EXPECT_EQ(download_file(url.c_str(), "/dev/null", &complete, 120), UNTIL_CLOSE_LIMIT);
    EXPECT_FALSE(complete);
}

} // namespace
