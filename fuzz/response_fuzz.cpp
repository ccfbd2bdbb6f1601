// Fuzz target: arbitrary bytes through the response parser, fed in pieces
// cut at points drawn from the input, and fed again in one piece. Both
// feedings must end alike (verdict, framing, count, body bytes), every feed
// must take a prefix of what it was given, and the body bytes shown must lie
// inside it; a counted or unframed body is the bytes right after the head.
//
// Input: byte 0 = the cutting (low 3 bits: pieces of 1 to 2^bits bytes,
// 7 meaning whole reads of up to 2048; bits 3 to 6: the seed of the cut
// points; bit 7: the stream ends cut rather than by the server), then the
// response.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/response.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "response_fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

struct Fed {
    ResponseParser parser;
    std::string body;
};

// Feeds bytes to a fresh parser in pieces of the lengths next() gives, then
// ends the stream unless the response ended first.
template <typename Next> void feed(Fed& fed, const char* bytes, int32_t size, bool cut, Next next) {
    ResponseParser& p = fed.parser;
    response_start(&p);
    fed.body.clear();
    for (int32_t at = 0; at < size && response_open(p);) {
        int32_t piece = next();
        if (piece > size - at) piece = size - at;
        for (int32_t in = 0; in < piece && response_open(p);) {
            const char* from = bytes + at + in;
            const ResponsePiece r = response_feed(&p, from, piece - in);
            check(r.consumed > 0 && r.consumed <= piece - in, "a feed took no prefix");
            check(r.body_length >= 0 && r.body_length <= r.consumed, "body longer than the feed");
            if (r.body_length > 0) {
                check(r.body >= from && r.body + r.body_length <= from + r.consumed,
                      "body outside the bytes taken");
                fed.body.append(r.body, size_t(r.body_length));
            }
            in += r.consumed;
        }
        at += piece;
    }
    if (response_open(p)) response_end(&p, cut);
    check(!response_open(p), "still open after the end");
    check(response_feed(&p, bytes, size).consumed == 0, "took bytes after the end");
    check(p.total == int32_t(fed.body.size()), "count differs from the body shown");
    check(p.state != ResponseState::refused || (!p.body_begun && p.total == 0),
          "refused with a body");
    check(p.body_begun || p.total == 0, "body bytes before the body began");
    if (p.framing == Framing::counted || p.framing == Framing::until_close) {
        check(p.head_length + int64_t(p.total) <= size &&
                  std::memcmp(fed.body.data(), bytes + p.head_length, fed.body.size()) == 0,
              "an unchunked body is not the bytes after the head");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > size_t(INT32_MAX)) return 0;
    static Fed* split = new Fed;
    static Fed* whole = new Fed;
    const uint8_t control = data[0];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const int32_t length = int32_t(size - 1);
    const bool cut = (control & 0x80) != 0;
    const int bits = control & 7;
    uint32_t state = 0x9E3779B9u * (((control >> 3) & 15) + 1);
    feed(*split, bytes, length, cut, [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return bits == 7 ? 2048 : int32_t(1 + state % (1u << bits));
    });
    feed(*whole, bytes, length, cut, [&] { return length; });
    const ResponseParser& a = split->parser;
    const ResponseParser& b = whole->parser;
    check(a.state == b.state, "verdicts differ");
    check(a.framing == b.framing, "framings differ");
    check(a.body_begun == b.body_begun, "one began a body, the other not");
    check(split->body == whole->body, "bodies differ");
    return 0;
}
