#include <chrono>
#include <cstdio>
#include <cstring>

#include "tests/http/download_fixture.h"

#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

using BodyTest = DownloadTest;

const std::string CHUNKED_HEAD = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::string letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += char('a' + i % 26);
    return s;
}

struct BodyCase {
    const char* name;
    std::string body; // after the chunked head
    int32_t count;
    const char* file; // null: no file
};

TEST_F(BodyTest, ChunkedBodiesAreDecoded) {
    const std::string x26 = letters(26);
    const BodyCase cases[] = {
        {"size 1a", "1a\r\n" + x26 + "\r\n0\r\n\r\n", 26, "abcdefghijklmnopqrstuvwxyz"},
        {"size 0X1A", "0X1A\r\n" + x26 + "\r\n0\r\n\r\n", 26, "abcdefghijklmnopqrstuvwxyz"},
        {"size with an extension", "1a;name=value\r\n" + x26 + "\r\n0\r\n\r\n", 26,
         "abcdefghijklmnopqrstuvwxyz"},
        {"size with 0x and blanks", " \t0x1a \r\n" + x26 + "\r\n0\r\n\r\n", 26,
         "abcdefghijklmnopqrstuvwxyz"},
        {"first size 0 makes no file", "0\r\n\r\n", 0, nullptr},
        {"size line with no number ends the body", "zz\r\nabc\r\n", 0, nullptr},
        {"many chunks in one block", "1\r\na\r\n2\r\nbc\r\n3\r\ndef\r\n4\r\nghij\r\n0\r\n\r\n", 10,
         "abcdefghij"},
        {"trailer after the last chunk is not data", "2\r\nok\r\n0\r\nX-Trailer: 1\r\n\r\n", 2,
         "ok"},
        {"chunk cut short keeps what came", "10\r\nshort", 5, "short"},
        {"closed after a chunk's data", "3\r\nabc", 3, "abc"},
        {"closed after a chunk's line end", "3\r\nabc\r\n", 3, "abc"},
        {"size that overflows 31 bits ends the body", "2\r\nok\r\n80000000\r\nxx\r\n", 2, "ok"},
        {"negative size ends the body", "2\r\nok\r\n-5\r\nxx\r\n", 2, "ok"},
        {"first size overflowing makes no file", "FFFFFFFFF\r\nxx\r\n", 0, nullptr},
        {"size line just at the limit",
         "2\r\nok\r\n1;" + std::string(CHUNK_LINE_LIMIT - 3, 'e') + "\r\nx\r\n0\r\n\r\n", 3, "okx"},
        {"size line longer than the limit ends the body",
         "2\r\nok\r\n1;" + std::string(CHUNK_LINE_LIMIT, 'e') + "\r\nx\r\n0\r\n\r\n", 2, "ok"},
    };
    for (const BodyCase& c : cases) {
        Fetched f = fetch(CHUNKED_HEAD + c.body);
        EXPECT_EQ(f.count, c.count) << c.name;
        EXPECT_EQ(f.file_exists, c.file != nullptr) << c.name;
        if (c.file) {
            EXPECT_EQ(f.file, c.file) << c.name;
        }
    }
}

// Every split point of a small chunked response, head included: the
// decoder keeps bytes across reads, never loses or invents any.
TEST_F(BodyTest, ChunkedResponseSplitAtEveryBytePosition) {
    const std::string r = CHUNKED_HEAD + "5\r\nhello\r\n1;x=y\r\n,\r\n6\r\n world\r\n0\r\n\r\n";
    for (size_t cut = 1; cut < r.size(); cut++) {
        Fetched f = fetch({kt::split_reply(r, {cut}, 15)});
        EXPECT_EQ(f.count, 12) << "cut at " << cut;
        EXPECT_EQ(f.file, "hello, world") << "cut at " << cut;
    }
}

TEST_F(BodyTest, ChunkedResponseTrickledByteByByte) {
    const std::string r = CHUNKED_HEAD + "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
    std::vector<size_t> cuts;
    for (size_t i = CHUNKED_HEAD.size(); i < r.size(); i++)
        cuts.push_back(i);
    Fetched f = fetch({kt::split_reply(r, cuts, 3)});
    EXPECT_EQ(f.count, 5);
    EXPECT_EQ(f.file, "abcde");
}

TEST_F(BodyTest, LargeChunksSpanManyReads) {
    const std::string big = letters(3 * READ_BLOCK + 17), small = letters(700);
    char size_line[32];
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", big.size());
    std::string body = size_line + big + "\r\n";
    std::snprintf(size_line, sizeof size_line, "%zX\r\n", small.size());
    body += size_line + small + "\r\n0\r\n\r\n";
    Fetched f = fetch({kt::split_reply(CHUNKED_HEAD + body, {100, 2500, 5000, 7000}, 10)});
    EXPECT_EQ(f.count, int32_t(big.size() + small.size()));
    EXPECT_EQ(f.file, big + small);
}

TEST_F(BodyTest, CountedBodies) {
    const std::string big = letters(5 * READ_BLOCK + 3);
    struct Case {
        const char* name;
        kt::Reply reply;
        int32_t count;
        std::string file;
    } cases[] = {
        {"body in the first block", kt::reply(ok_counted("small")), 5, "small"},
        {"body over many reads", kt::split_reply(ok_counted(big), {40, 3000, 9000}, 10),
         int32_t(big.size()), big},
        {"bytes past the length are not written", kt::reply(ok_counted("exact") + "EXTRA"), 5,
         "exact"},
        {"body cut short returns what came",
         kt::reply(response("HTTP/1.1 200 OK", "Content-Length: 100\r\n",
                            "only forty bytes of the promised hundred")),
         40, "only forty bytes of the promised hundred"},
        {"reset after part of the body",
         kt::reply(response("HTTP/1.1 200 OK", "Content-Length: 100\r\n", "part"),
                   kt::Ending::reset),
         -1, ""},
        {"head only, then close: empty file",
         kt::reply(response("HTTP/1.1 200 OK", "Content-Length: 9\r\n", "")), 0, ""},
    };
    for (Case& c : cases) {
        Fetched f = fetch({c.reply});
        if (c.count < 0) {
            // A reset may lose bytes in flight; what was counted was written.
            EXPECT_LE(f.count, 4) << c.name;
            EXPECT_EQ(f.file.size(), size_t(f.count)) << c.name;
            continue;
        }
        EXPECT_EQ(f.count, c.count) << c.name;
        EXPECT_TRUE(f.file_exists) << c.name;
        EXPECT_EQ(f.file, c.file) << c.name;
    }
}

TEST_F(BodyTest, BodiesReadUntilTheServerCloses) {
    const std::string big = letters(4 * READ_BLOCK + 9);
    struct Case {
        const char* name;
        kt::Reply reply;
        std::string file;
    } cases[] = {
        {"no length, no chunks", kt::reply(response("HTTP/1.1 200 OK", "", "until close")),
         "until close"},
        {"empty body", kt::reply(response("HTTP/1.1 200 OK", "", "")), ""},
        {"over many reads with pauses",
         kt::split_reply(response("HTTP/1.1 200 OK", "", big), {19, 2000, 6000}, 200), big},
    };
    for (Case& c : cases) {
        Fetched f = fetch({c.reply});
        EXPECT_EQ(f.count, int32_t(c.file.size())) << c.name;
        EXPECT_TRUE(f.file_exists) << c.name;
        EXPECT_EQ(f.file, c.file) << c.name;
    }
}

// A body read until close ends after a second of silence even when the
// server keeps the connection open.
TEST_F(BodyTest, SilenceEndsABodyReadUntilClose) {
    const auto start = std::chrono::steady_clock::now();
    Fetched f =
        fetch({kt::reply(response("HTTP/1.1 200 OK", "", "then silence"), kt::Ending::stall)});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(f.count, 12);
    EXPECT_EQ(f.file, "then silence");
}

TEST_F(BodyTest, ReceiveWaitAndSendAll) {
    kt::HttpTestServer server({kt::reply("answer", kt::Ending::close)});
    Connection* c = open_client("127.0.0.1", server.port());
    ASSERT_NE(c, nullptr);
    const char request[] = "GET / HTTP/1.1\r\n\r\n";
    EXPECT_EQ(send_all(c, request, 3, 0), 0); // no time: nothing is sent
    EXPECT_EQ(send_all(c, request, 0, 1), 1); // nothing to send is sent at once
    EXPECT_EQ(send_all(c, nullptr, 0, 1), 1);
    EXPECT_EQ(send_all(c, request, int32_t(sizeof request - 1), 1), 1);
    char buffer[16];
    std::memset(buffer, 'z', sizeof buffer);
    int32_t n = receive_wait(c, buffer, 3, 10);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(std::string(buffer), "ans"); // zero byte stored after the bytes
    EXPECT_EQ(receive_wait(c, buffer, 15, 10), 3);
    EXPECT_STREQ(buffer, "wer");
    // The peer has closed: 0 at once, not after the budget.
    EXPECT_EQ(receive_wait(c, buffer, 15, 10), 0);
    EXPECT_EQ(receive_wait(nullptr, buffer, 15, 1), 0);
    EXPECT_EQ(send_all(nullptr, request, 3, 1), 0);
    close_connection(c);
}

TEST_F(BodyTest, ReceiveWaitGivesUpWhenTheBudgetRunsOut) {
    kt::HttpTestServer server({kt::reply("", kt::Ending::stall)});
    Connection* c = open_client("127.0.0.1", server.port());
    ASSERT_NE(c, nullptr);
    char buffer[8];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(receive_wait(c, buffer, 7, 1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900))
        << "the whole second is waited";
    close_connection(c);
}

TEST_F(DownloadTest, CompletenessIsReportedForEveryBodyKind) {
    struct Case {
        const char* name;
        std::string response;
        bool complete;
    } cases[] = {
        {"counted, whole", ok_counted("whole"), true},
        {"counted, cut short", response("HTTP/1.1 200 OK", "Content-Length: 10\r\n", "short"),
         false},
        {"chunked to its last chunk",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n"),
         true},
        {"chunked, closed before the last chunk",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n", "3\r\nabc\r\n"), false},
        {"chunked, garbage for a size",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n", "3\r\nabc\r\nzz\r\n"),
         false},
        {"chunked, other bytes after a chunk's data",
         response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n", "3\r\nabcXYZ\r\n0\r\n\r\n"),
         false},
        {"unframed, ended by the close", response("HTTP/1.1 200 OK", "", "until close"), true},
        {"refused status", response("HTTP/1.1 404 Not Found", "Content-Length: 2\r\n", "no"),
         false},
    };
    for (const Case& c : cases) {
        kt::HttpTestServer server({kt::reply(c.response)});
        bool complete = !c.complete;
        download_file((server.base_url() + "/f").c_str(), target.c_str(), &complete);
        EXPECT_TRUE(server.wait_done());
        EXPECT_EQ(complete, c.complete) << c.name;
        std::remove(target.c_str());
    }
#ifndef _WIN32
    // A receive that fails (a reset) at any point: never a whole body, even
    // one that only the close would end. The large answer comes at once, so
    // later reads take bytes already waiting.
    const std::string unframed = response("HTTP/1.1 200 OK", "", "until close");
    const std::string large = response("HTTP/1.1 200 OK", "", std::string(3 * READ_BLOCK, 'x'));
    for (const kt::Reply& answer :
         {kt::split_reply(unframed, {unframed.size() - 5}), kt::reply(large)})
        for (uint32_t k = 1; k <= 4; k++) {
            kt::HttpTestServer server({answer});
            bool complete = true;
            posix_fail_nth(FaultCall::receive, k);
            download_file((server.base_url() + "/f").c_str(), target.c_str(), &complete);
            const bool failed = posix_calls_made(FaultCall::receive) >= k;
            posix_fail_nth(FaultCall::receive, 0);
            EXPECT_TRUE(server.wait_done());
            EXPECT_EQ(complete, !failed) << k;
            std::remove(target.c_str());
        }
#endif
}

// A server that trickles a byte now and then never lets a read's own budget
// run out; the transfer's bound ends the download all the same, and what
// came by then is not a whole body.
TEST_F(DownloadTest, TransferBudgetCutsATrickledResponse) {
    const std::string body(40, 'x');
    struct Case {
        const char* name;
        std::string head; // sent at once
        std::string rest; // a byte every 100 ms
    } cases[] = {
        {"counted", "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n", body},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
         "28\r\n" + body + "\r\n0\r\n\r\n"},
        {"unframed", "HTTP/1.1 200 OK\r\n\r\n", body},
        {"head", "", "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + body},
    };
    for (const Case& c : cases) {
        kt::Reply trickled;
        trickled.sends = {{c.head}, {c.rest, 0, 1, 1, 100}};
        kt::HttpTestServer server({trickled});
        bool complete = true;
        const int32_t count =
            download_file((server.base_url() + "/f").c_str(), target.c_str(), &complete, 1);
        EXPECT_FALSE(complete) << c.name;
        EXPECT_LT(count, 40) << c.name;
        EXPECT_TRUE(server.wait_done()) << c.name;
        std::remove(target.c_str());
    }
}

#ifndef _WIN32
// A write the file does not take (a full disk) fails the download, in the
// middle of a large body or at its last write: nothing counts, no file stays.
TEST_F(DownloadTest, AFailedWriteFailsTheDownloadAndRemovesTheFile) {
    const std::string body(200 * 1024, 'b');
    for (uint32_t k : {1u, 2u, 4u}) {
        kt::HttpTestServer server({kt::reply(ok_counted(body))});
        bool complete = true;
        posix_fail_nth(FaultCall::write_file, k);
        const int32_t count =
            download_file((server.base_url() + "/f").c_str(), target.c_str(), &complete);
        posix_fail_nth(FaultCall::write_file, 0);
        EXPECT_EQ(count, 0) << k;
        EXPECT_FALSE(complete) << k;
        EXPECT_FALSE(kt::file_exists(target)) << k;
        EXPECT_TRUE(server.wait_done());
    }
    // Taken whole, the body reaches the file in runs of OUTPUT_BUFFER bytes.
    posix_fail_nth(FaultCall::write_file, 0);
    EXPECT_EQ(fetch(ok_counted(body)).count, int32_t(body.size()));
    EXPECT_EQ(posix_calls_made(FaultCall::write_file), (body.size() - 1) / OUTPUT_BUFFER + 1);
}
#endif

} // namespace
