#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "http/response.h"

namespace {

struct Outcome {
    ResponseState state;
    Framing framing;
    bool body_begun;
    std::string body;
};

// Feeds the response in pieces of the given length, then ends the stream.
Outcome parse(const std::string& response, size_t piece, bool cut = false) {
    auto p = std::make_unique<ResponseParser>();
    response_start(p.get());
    Outcome o{};
    for (size_t at = 0; at < response.size() && response_open(*p);) {
        const int32_t n = int32_t(std::min(piece, response.size() - at));
        const ResponsePiece r = response_feed(p.get(), response.data() + at, n);
        if (r.consumed <= 0) break;
        o.body.append(r.body ? r.body : "", size_t(r.body_length));
        at += size_t(r.consumed);
    }
    if (response_open(*p)) response_end(p.get(), cut);
    o.state = p->state;
    o.framing = p->framing;
    o.body_begun = p->body_begun;
    EXPECT_EQ(p->total, int32_t(o.body.size()));
    return o;
}

std::string head_of_length(size_t length, const std::string& last_header) {
    std::string h = "HTTP/1.1 200 OK\r\n" + last_header + "X: ";
    h += std::string(length - h.size() - 4, 'f') + "\r\n\r\n";
    return h;
}

TEST(ResponseParser, SameOutcomeWhateverThePieces) {
    using S = ResponseState;
    using F = Framing;
    const std::string limit_head = head_of_length(HEAD_LIMIT, "Content-Length: 2\r\n");
    struct Case {
        const char* name;
        std::string response;
        bool cut; // the caller stopped reading
        Outcome expected;
    } cases[] = {
        {"head of just the limit; bytes past the length are no body",
         limit_head + "okEXTRA",
         false,
         {S::complete, F::counted, true, "ok"}},
        {"head one byte over the limit is refused",
         head_of_length(HEAD_LIMIT + 1, "Content-Length: 2\r\n") + "ok",
         false,
         {S::refused, F::none, false, ""}},
        {"Content-Length 0 is whole at once and still begins a body",
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nx",
         false,
         {S::complete, F::counted, true, ""}},
        {"chunked: no body begins before a chunk's data",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         false,
         {S::complete, F::chunked, false, ""}},
        {"chunked, cut inside a chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nab",
         false,
         {S::cut, F::chunked, true, "ab"}},
        {"chunked: CR LF or a bare LF may end a chunk's data",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\n2\r\nde\r\n0\r\n\r\n",
         false,
         {S::complete, F::chunked, true, "abcde"}},
        {"chunked: other bytes after a chunk's data cut the body",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXYZ\r\n0\r\n\r\n",
         false,
         {S::cut, F::chunked, true, "abc"}},
        {"chunked: a CR after a chunk's data without its LF cuts the body",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\r\n0\r\n\r\n",
         false,
         {S::cut, F::chunked, true, "abc"}},
        {"unframed, ended by the server",
         "HTTP/1.1 200 OK\r\n\r\nall",
         false,
         {S::complete, F::until_close, true, "all"}},
        {"unframed, stopped by the caller",
         "HTTP/1.1 200 OK\r\n\r\nall",
         true,
         {S::cut, F::until_close, true, "all"}},
        {"chunked: a size past 31 bits cuts the body, not wrapped to 2",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000002\r\nab\r\n0\r\n\r\n",
         false,
         {S::cut, F::chunked, false, ""}},
        {"head never ended",
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n",
         false,
         {S::refused, F::none, false, ""}},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t(1), size_t(2), size_t(7), size_t(2048), c.response.size()}) {
            const Outcome o = parse(c.response, piece, c.cut);
            EXPECT_EQ(o.state, c.expected.state) << c.name << ", pieces of " << piece;
            EXPECT_EQ(o.framing, c.expected.framing) << c.name << ", pieces of " << piece;
            EXPECT_EQ(o.body_begun, c.expected.body_begun) << c.name << ", pieces of " << piece;
            EXPECT_EQ(o.body, c.expected.body) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(ResponseParser, WantsNoMoreThanTheResponseCanUse) {
    auto p = std::make_unique<ResponseParser>();
    response_start(p.get());
    EXPECT_EQ(response_wanted(p.get()), HEAD_LIMIT);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab";
    EXPECT_EQ(response_feed(p.get(), head.data(), 10).consumed, 10);
    EXPECT_EQ(response_wanted(p.get()), HEAD_LIMIT - 10);
    const int32_t rest = int32_t(head.size()) - 10;
    const ResponsePiece r = response_feed(p.get(), head.data() + 10, rest);
    EXPECT_EQ(r.consumed, rest - 2); // the head only: its body bytes are fed again
    EXPECT_EQ(response_wanted(p.get()), 5);
    EXPECT_EQ(response_feed(p.get(), head.data() + head.size() - 2, 2).body_length, 2);
    EXPECT_EQ(response_wanted(p.get()), 3);
    EXPECT_EQ(response_feed(p.get(), "cdefg", 5).consumed, 3);
    EXPECT_EQ(response_wanted(p.get()), 0);
    const ResponsePiece after = response_feed(p.get(), "more", 4);
    EXPECT_EQ(after.consumed, 0);
    EXPECT_EQ(after.body_length, 0);
    // No parser or no bytes: nothing is taken.
    response_start(p.get());
    EXPECT_EQ(response_feed(nullptr, "x", 1).consumed, 0);
    EXPECT_EQ(response_feed(p.get(), nullptr, 4).consumed, 0);
    EXPECT_EQ(response_feed(p.get(), "HTTP", 0).consumed, 0);
    EXPECT_EQ(response_feed(p.get(), "HTTP", -1).consumed, 0);
    EXPECT_EQ(response_wanted(nullptr), 0);
    EXPECT_EQ(response_wanted(p.get()), HEAD_LIMIT);
}

} // namespace
