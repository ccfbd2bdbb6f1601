#include <string>

#include <gtest/gtest.h>

#include "http/answer_text.h"

namespace {

using namespace std::literals;

TEST(AnswerText, StatusCodeAndReasonPhrase) {
    const struct Case {
        std::string_view line;
        int32_t code;
        const char* reason;
    } cases[] = {
        {"HTTP/1.1 403 Forbidden\r\nServer: x", 403, "Forbidden"},
        {"HTTP/1.1 403 Forbidden\0\0Content-Length: 9"sv, 403, "Forbidden"},
        {"HTTP/1.1 200 OK", 200, "OK"},
        {"HTTP/1.1 404", 404, ""},
        {"HTTP/1.0 503  Service Unavailable  ", 503, "Service Unavailable"},
        {"HTTP/1.1 4030 Odd", 0, ""},
        {"HTTP/1.1 4x3 Odd", 0, ""},
        {"garbage", 0, ""},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string_view reason = "unset";
        EXPECT_EQ(status_code_of(c.line, &reason), c.code) << c.line;
        EXPECT_EQ(reason, c.reason) << c.line;
    }
}

TEST(AnswerText, ChunkedIsNamedByItsHeaderOnly) {
    EXPECT_TRUE(headers_say_chunked("HTTP/1.1 403 X\r\nTransfer-Encoding: chunked\r\n"));
    // A parsed head's status line ends in zeros.
    EXPECT_TRUE(headers_say_chunked("HTTP/1.1 403 X\0\0TRANSFER-encoding: gzip, chunked\r\n"sv));
    EXPECT_FALSE(headers_say_chunked("HTTP/1.1 403 X\r\nX-Transfer-Note: chunked\r\n"));
    EXPECT_FALSE(headers_say_chunked("HTTP/1.1 403 X\r\nTransfer-Encoding: identity\r\n"));
    EXPECT_FALSE(headers_say_chunked("HTTP/1.1 403 X\r\nServer: x")); // no line end at all
}

TEST(AnswerText, FirstLineIsPrintableAsciiWithinItsLimit) {
    char out[11];
    printable_first_line("  Blocked:\task\x07 later \r\nsecond", out, 10);
    EXPECT_STREQ(out, "Blocked: a");
    printable_first_line("\xD0\x9F\xD1\x80ok\n", out, 10);
    EXPECT_STREQ(out, "ok");
    printable_first_line("", out, 10);
    EXPECT_STREQ(out, "");
}

} // namespace
