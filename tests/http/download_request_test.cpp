#include "tests/http/download_fixture.h"

#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

using RequestTest = DownloadTest;

std::string request(const std::string& target, const std::string& host) {
    return "GET " + target + " HTTP/1.1\r\nAccept: */*\r\nHost: " + host +
           "\r\nConnection: close\r\n\r\n";
}

TEST_F(RequestTest, RequestBytesFollowTheTemplate) {
    struct Case {
        const char* name;
        std::string prefix; // before "127.0.0.1:<port>"
        std::string suffix; // after it
        std::string target; // request target expected
    } cases[] = {
        {"catalogue query", "http://", "/NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE",
         "/NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE"},
        {"no path", "http://", "", "/"},
        {"only a slash", "http://", "/", "/"},
        {"query and anchor sent unchanged", "http://", "/a/b?q=1&r=%20#top", "/a/b?q=1&r=%20#top"},
        {"user information not sent", "http://user:secret@", "/p", "/p"},
        {"a scheme other than https is fetched by plain HTTP", "ftp://", "/s", "/s"},
        {"so is one of five letters", "HTTPX://", "/s", "/s"},
    };
    for (const Case& c : cases) {
        kt::HttpTestServer server({kt::reply(ok_counted("x"))});
        const std::string site = "127.0.0.1:" + std::to_string(server.port());
        EXPECT_EQ(download_file((c.prefix + site + c.suffix).c_str(), target.c_str()), 1) << c.name;
        ASSERT_TRUE(server.wait_done()) << c.name;
        ASSERT_EQ(server.requests().size(), 1u) << c.name;
        EXPECT_EQ(server.requests()[0], request(c.target, site)) << c.name;
    }
}

// Port 80 needs a privileged port; the tests run as root here. A busy port
// (another run of this test) is waited for.
TEST_F(RequestTest, PortEightyIsNotNamedInTheHostLine) {
    kt::ServerOptions on_80;
    on_80.port = 80;
    on_80.bind_wait_ms = 30000;
    kt::HttpTestServer server({kt::reply(ok_counted("a")), kt::reply(ok_counted("b"))}, on_80);
    if (!server.listening()) GTEST_SKIP() << "port 80 cannot be bound here";
    EXPECT_EQ(download_file("http://127.0.0.1/NORAD/elements/weather.txt", target.c_str()), 1);
    EXPECT_EQ(download_file("http://127.0.0.1:80/NORAD/elements/weather.txt", target.c_str()), 1);
    ASSERT_TRUE(server.wait_done());
    const std::string expected = request("/NORAD/elements/weather.txt", "127.0.0.1");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0], expected);
    EXPECT_EQ(server.requests()[1], expected);
}

TEST_F(RequestTest, LongUrlIsSentWhole) {
    const std::string path = "/" + std::string(5000, 'p') + "?" + std::string(3000, 'q');
    Fetched f = fetch({kt::reply(ok_counted("long"))}, path);
    EXPECT_EQ(f.count, 4);
    ASSERT_EQ(f.requests.size(), 1u);
    // Compared whole but not printed: the text is long.
    EXPECT_TRUE(f.requests[0] == request(path, "127.0.0.1:" + std::to_string(f.port)))
        << "request cut or changed, " << f.requests[0].size() << " bytes";
}

// An https URL is fetched over TLS or not at all: a plain server on its
// port never sees a request (the host build has no TLS at all; under Wine
// the handshake meets a plain answer). "HTTPS" in capitals is refused too.
TEST_F(RequestTest, HttpsIsNeverSentInPlain) {
    for (const char* scheme : {"https://", "HTTPS://", "Https://"}) {
        kt::HttpTestServer server({kt::reply(ok_counted("plain"))});
        const std::string url = scheme + std::string("127.0.0.1:") + std::to_string(server.port()) +
                                "/NORAD/elements/gp.php";
        bool complete = true;
        EXPECT_EQ(download_file(url.c_str(), target.c_str(), &complete), 0) << scheme;
        EXPECT_FALSE(complete) << scheme;
        EXPECT_FALSE(kt::file_exists(target)) << scheme;
        server.stop();
        for (const std::string& r : server.requests())
            EXPECT_EQ(r.find("GET"), std::string::npos) << scheme;
    }
}

TEST_F(RequestTest, PortTextIsReadAsADecimalNumber) {
    kt::HttpTestServer server({kt::reply(ok_counted("x")), kt::reply(ok_counted("x")),
                               kt::reply(ok_counted("x")), kt::reply(ok_counted("y"))});
    const std::string port = std::to_string(server.port());
    // Leading zeros, blanks and a sign, and a query written right after the
    // port still reach the port.
    EXPECT_EQ(download_file(("http://127.0.0.1:00" + port).c_str(), target.c_str()), 1);
    EXPECT_EQ(download_file(("http://127.0.0.1:\r \t+" + port).c_str(), target.c_str()), 1);
    // Only the low 16 bits count: a negative number wraps around.
    const std::string wrapped = std::to_string(65536 - server.port());
    EXPECT_EQ(download_file(("http://127.0.0.1:-" + wrapped).c_str(), target.c_str()), 1);
    EXPECT_EQ(download_file(("http://127.0.0.1:" + port + "?q").c_str(), target.c_str()), 1);
    ASSERT_TRUE(server.wait_done());
    EXPECT_EQ(server.requests()[0], request("/", "127.0.0.1:" + port));
    // A port text that is no number is port 0, which nothing answers.
    EXPECT_EQ(download_file("http://127.0.0.1:http/x", target.c_str()), 0);
    EXPECT_EQ(kt::read_file(target), "y"); // the earlier file is left alone
}

#ifndef _WIN32
// Memory that runs out at any allocation fails the download as a request
// that could not be made: no request for another document or port, no file.
TEST_F(RequestTest, MemoryShortAtAnyAllocationFailsTheDownload) {
    for (uint32_t k = 1;; k++) {
        std::remove(target.c_str());
        kt::HttpTestServer server({kt::reply(ok_counted("x"))});
        const std::string site = "127.0.0.1:" + std::to_string(server.port());
        posix_fail_nth(FaultCall::heap_alloc, k);
        DownloadReport report{};
        const int32_t count = download_file(("http://" + site + "/a/b?q").c_str(), target.c_str(),
                                            nullptr, FETCH_BUDGET, nullptr, &report);
        const uint32_t made = posix_calls_made(FaultCall::heap_alloc);
        posix_fail_nth(FaultCall::heap_alloc, 0);
        server.stop();
        for (const std::string& r : server.requests()) {
            if (!r.empty()) {
                EXPECT_EQ(r, request("/a/b?q", site)) << k;
            }
        }
        if (made < k) { // every allocation was made
            EXPECT_EQ(count, 1);
            break;
        }
        EXPECT_EQ(count, 0) << k;
        EXPECT_EQ(report.stage, DownloadStage::request) << k;
        EXPECT_FALSE(kt::file_exists(target)) << k;
    }
}
#endif

} // namespace
