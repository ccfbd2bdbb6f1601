#include <chrono>

#include "tests/http/download_fixture.h"

namespace {

using ResponseTest = DownloadTest;

struct ResponseCase {
    const char* name;
    std::string response;
    int32_t count;
    const char* file; // expected content; null: no file
};

void check(ResponseTest& t, const ResponseCase& c) {
    Fetched f = t.fetch(c.response);
    EXPECT_EQ(f.count, c.count) << c.name;
    EXPECT_EQ(f.file_exists, c.file != nullptr) << c.name;
    if (c.file) {
        EXPECT_EQ(f.file, c.file) << c.name;
    }
}

TEST_F(ResponseTest, StatusLineDecidesWhetherTheBodyIsSaved) {
    const ResponseCase cases[] = {
        {"200 saved", ok_counted("body"), 4, "body"},
        {"302 saves the redirect page",
         response("HTTP/1.1 302 Found", "Location: /x\r\nContent-Length: 4\r\n", "page"), 4,
         "page"},
        {"404 creates no file", response("HTTP/1.1 404 Not Found", "Content-Length: 4\r\n", "gone"),
         0, nullptr},
        {"500 creates no file", response("HTTP/1.1 500 Error", "", "oops"), 0, nullptr},
        {"reason text holding 200 is accepted",
         response("HTTP/1.1 404 Not 200", "Content-Length: 2\r\n", "ok"), 2, "ok"},
        {"200 later in the head is not the status",
         response("HTTP/1.1 404 Nope", "X-A: 200\r\n", "no"), 0, nullptr},
        {"HTTP/1.0 status", response("HTTP/1.0 200 OK", "Content-Length: 3\r\n", "one"), 3, "one"},
        {"garbage instead of a response", std::string("\x16\x03\x01\x02\x00garbage\r\n\r\nzz", 18),
         0, nullptr},
    };
    for (const ResponseCase& c : cases)
        check(*this, c);
}

TEST_F(ResponseTest, RefusedResponseLeavesAnExistingFileUntouched) {
    kt::write_file(target, "previous catalogue");
    kt::HttpTestServer server(
        {kt::reply(response("HTTP/1.1 404 Not Found", "Content-Length: 4\r\n", "gone"))});
    EXPECT_EQ(download_file((server.base_url() + "/f").c_str(), target.c_str()), 0);
    EXPECT_TRUE(server.wait_done());
    EXPECT_EQ(kt::read_file(target), "previous catalogue");
}

TEST_F(ResponseTest, HeaderRules) {
    const ResponseCase cases[] = {
        {"Content-Length 0 makes an empty file",
         response("HTTP/1.1 200 OK", "Content-Length: 0\r\n", "tail"), 0, ""},
        {"names in any letter case", response("HTTP/1.1 200 OK", "cOnTeNt-LeNgTh: 3\r\n", "abcdef"),
         3, "abc"},
        // The value is read whole, not from a fixed column.
        {"no blank after the colon",
         response("HTTP/1.1 200 OK", "Content-Length:12\r\n", "twelve bytes and more"), 12,
         "twelve bytes"},
        {"blanks around the value",
         response("HTTP/1.1 200 OK", "Content-Length: \t 5 \t\r\n", "fivefive"), 5, "fivef"},
        {"later Content-Length replaces an earlier one",
         response("HTTP/1.1 200 OK", "Content-Length: 2\r\nContent-Length: 4\r\n", "abcdef"), 4,
         "abcd"},
        {"a blank before the name hides it",
         response("HTTP/1.1 200 OK", " Content-Length: 2\r\n", "abcdef"), 6, "abcdef"},
        {"name only at the start of a line",
         response("HTTP/1.1 200 OK", "X-Content-Length: 2\r\n", "abcdef"), 6, "abcdef"},
        {"Content-Length decides over chunked",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n",
                  "3\r\nabc\r\n0\r\n\r\n"),
         5, "3\r\nab"},
        // The head's lines are cut where its end was found: at LF.
        {"a zero byte in the head fails",
         response("HTTP/1.1 200 OK", std::string("X: a\0b\r\nTransfer-Encoding: chunked\r\n", 36),
                  "3\r\nabc\r\n0\r\n\r\n"),
         0, nullptr},
        {"a doubled CR does not end the header lines",
         response("HTTP/1.1 200 OK", "X: a\r\r\nTransfer-Encoding: chunked\r\n",
                  "3\r\nabc\r\n0\r\n\r\n"),
         3, "abc"},
        {"Transfer-Encoding without chunked reads until close",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: gzip\r\n", "1\r\nx\r\n0\r\n\r\n"), 11,
         "1\r\nx\r\n0\r\n\r\n"},
        {"chunked only in lower case counts",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: CHUNKED\r\n", "1\r\nx\r\n"), 6,
         "1\r\nx\r\n"},
        {"TRANSFER-ENCODING name in upper case",
         response("HTTP/1.1 200 OK", "TRANSFER-ENCODING: chunked\r\n", "1\r\nx\r\n0\r\n\r\n"), 1,
         "x"},
    };
    for (const ResponseCase& c : cases)
        check(*this, c);
}

TEST_F(ResponseTest, MalformedContentLengthFailsWithoutAFile) {
    const char* values[] = {"-1",
                            "+5",
                            "",
                            "5 5",
                            "12abc",
                            "0x10",
                            "2147483648",
                            "99999999999999",
                            "00000000000000000000000000000005" /* 32 characters */};
    for (const char* v : values) {
        Fetched f = fetch(
            response("HTTP/1.1 200 OK", std::string("Content-Length: ") + v + "\r\n", "body"));
        EXPECT_EQ(f.count, 0) << '"' << v << '"';
        EXPECT_FALSE(f.file_exists) << '"' << v << '"';
    }
    // The largest value that fits 31 bits, in the widest field, is accepted
    // (the body is cut short here).
    Fetched f = fetch(
        response("HTTP/1.1 200 OK", "Content-Length: 0000000000000000000002147483647\r\n", "body"));
    EXPECT_EQ(f.count, 4);
}

TEST_F(ResponseTest, HeadLongerThanOneBlockIsReadOn) {
    std::string headers;
    for (int i = 0; i < 200; i++)
        headers += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'f') + "\r\n";
    headers += "Content-Length: 6\r\n";
    ASSERT_GT(headers.size(), 4u * READ_BLOCK);
    Fetched f = fetch(response("HTTP/1.1 200 OK", headers, "filled"));
    EXPECT_EQ(f.count, 6);
    EXPECT_EQ(f.file, "filled");
}

TEST_F(ResponseTest, HeadBeyondTheLimitFailsWithoutAFile) {
    std::string headers;
    while (headers.size() <= size_t(HEAD_LIMIT))
        headers += "X-Filler: " + std::string(100, 'f') + "\r\n";
    Fetched f = fetch(response("HTTP/1.1 200 OK", headers, "never"));
    EXPECT_EQ(f.count, 0);
    EXPECT_FALSE(f.file_exists);
}

TEST_F(ResponseTest, LinesEndedByLfAloneAreAccepted) {
    Fetched f = fetch("HTTP/1.1 200 OK\nContent-Length: 3\n\nabcdef");
    EXPECT_EQ(f.count, 3);
    EXPECT_EQ(f.file, "abc");
    f = fetch("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\n\n3\nabc\n2\r\nde\n0\n\n");
    EXPECT_EQ(f.count, 5);
    EXPECT_EQ(f.file, "abcde");
}

TEST_F(ResponseTest, HeadThatNeverEndsFailsWithoutAFile) {
    const ResponseCase cases[] = {
        {"closed inside the head", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n", 0, nullptr},
        {"closed after the status line", "HTTP/1.1 200 OK\r\n", 0, nullptr},
        {"closed at once", "", 0, nullptr},
    };
    for (const ResponseCase& c : cases)
        check(*this, c);
}

TEST_F(ResponseTest, HeadSplitAcrossReadsAtEveryPosition) {
    const std::string r = ok_counted("split");
    const size_t head = r.size() - 5;
    for (size_t cut = 1; cut < head + 2; cut++) {
        Fetched f = fetch({kt::split_reply(r, {cut}, 15)});
        EXPECT_EQ(f.count, 5) << "cut at " << cut;
        EXPECT_EQ(f.file, "split") << "cut at " << cut;
    }
}

TEST_F(ResponseTest, ConnectionFailuresReturnZero) {
    const uint16_t refused = kt::unused_port();
    const std::string urls[] = {
        "http://127.0.0.1:" + std::to_string(refused) + "/f",
        "http://no-such-host.invalid/f",
        "http://255.255.255.255/f",
        "no scheme separator",
        "http:///f",
    };
    for (const std::string& url : urls) {
        EXPECT_EQ(download_file(url.c_str(), target.c_str()), 0) << url;
        EXPECT_FALSE(kt::file_exists(target)) << url;
    }
    bool complete = true;
    EXPECT_EQ(download_file(nullptr, target.c_str(), &complete), 0);
    EXPECT_FALSE(complete);
}

TEST_F(ResponseTest, UncreatableFileFailsWithZero) {
    kt::HttpTestServer server({kt::reply(ok_counted("data"))});
    const std::string blocked = dir.file("no/such/dir/tmp1");
    EXPECT_EQ(download_file((server.base_url() + "/f").c_str(), blocked.c_str()), 0);
    EXPECT_TRUE(server.wait_done());
}

// A server that never answers is given up when the budget runs out.
TEST_F(ResponseTest, ServerThatNeverAnswersTimesOut) {
    kt::HttpTestServer server({kt::reply("", kt::Ending::stall)});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(download_file((server.base_url() + "/f").c_str(), target.c_str(), nullptr, 2), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    server.stop();
    EXPECT_FALSE(kt::file_exists(target));
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::seconds(7));
}

} // namespace
