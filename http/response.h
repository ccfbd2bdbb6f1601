// The response parser: a push parser over the bytes of one HTTP/1.1
// response, fed as they arrive in pieces of any size. It tells the status
// verdict, the framing of the body, which of the bytes fed are body bytes and
// where the body ends. It owns no socket, no file and no clock and allocates
// nothing: the caller holds the record and writes the body bytes it is shown.
#pragma once

#include <cstdint>

constexpr int32_t HEAD_LIMIT = 65536;             // a response head longer than this is refused
constexpr int32_t CHUNK_LINE_LIMIT = 4096;        // a longer chunk-size line ends the body
constexpr int32_t UNTIL_CLOSE_LIMIT = 1000000000; // most bytes of a body read until close

enum class ResponseState : uint8_t {
    head,     // the head is being gathered
    body,     // the head was accepted and the body is under way
    complete, // the body is whole: its length, its last chunk, or the server's end
    cut,      // the body ended before its framing's end
    refused,  // no body is taken: a status other than 200 or 302, or a bad or unended head
};

enum class Framing : uint8_t {
    none,        // no head accepted (yet)
    counted,     // a Content-Length; it decides over chunked
    chunked,     // Transfer-Encoding naming "chunked"
    until_close, // neither: the server's end is the body's end
};

enum class ChunkPhase : uint8_t {
    size_line, // gathering a chunk-size line
    data,      // inside a chunk's data
    data_end,  // a chunk's data is whole: CR LF or a bare LF is due
    data_lf,   // the CR after a chunk's data came: its LF is due
};

struct ResponseParser {
    ResponseState state;
    Framing framing;
    ChunkPhase chunk_phase;
    bool body_begun;     // the body's first piece is due (it may be empty): make its file now
    int32_t total;       // body bytes shown so far
    int32_t remaining;   // bytes still due in the counted body, unframed body or chunk
    int32_t head_length; // bytes gathered in head
    int32_t line_start;  // where the head's current line begins
    int32_t line_length; // bytes gathered in line
    char head[HEAD_LIMIT + 1];
    char line[CHUNK_LINE_LIMIT + 1];
};

// What one feed took: a prefix of the bytes fed, and the body bytes among
// them (a span of the caller's bytes, not a copy), if any.
struct ResponsePiece {
    int32_t consumed;
    const char* body; // null when body_length is 0
    int32_t body_length;
};

// Makes p ready for a new response; the buffers are not cleared.
void response_start(ResponseParser* p);

// Takes a prefix of the size bytes at data (at least one while the response
// is open) and shows at most one body piece. Feed the rest again while
// response_open holds; nothing is taken once it does not.
ResponsePiece response_feed(ResponseParser* p, const char* data, int32_t size);

// The stream ended: the server closed, fell silent or failed (cut false), or
// the caller stopped reading early (cut true). Only an unframed body ended by
// the server is whole; an unended head is refused.
void response_end(ResponseParser* p, bool cut);

// The most bytes the response can still use: the head's room, the counted
// or unframed body's rest; a chunked body keeps any surplus, so no bound.
int32_t response_wanted(const ResponseParser* p);

inline bool response_open(const ResponseParser& p) {
    return p.state == ResponseState::head || p.state == ResponseState::body;
}
