#include "http/response.h"

#include <cstring>

namespace {

bool starts_with_nocase(const char* line, const char* name) {
    for (; *name; line++, name++) {
        char a = *line;
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (a != *name) return false;
    }
    return true;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// A Content-Length value: a run of decimal digits, blanks around it allowed,
// that fits the 31-character field and 31 bits; -1 for anything else.
int32_t content_length_value(const char* value) {
    while (is_blank(*value))
        value++;
    size_t n = std::strlen(value);
    while (n > 0 && is_blank(value[n - 1]))
        n--;
    if (n == 0 || n > 31) return -1;
    int64_t v = 0;
    for (size_t i = 0; i < n; i++) {
        if (value[i] < '0' || value[i] > '9') return -1;
        v = v * 10 + (value[i] - '0');
        if (v > INT32_MAX) return -1;
    }
    return int32_t(v);
}

// A chunk size: blanks skipped, an optional 0x, hex digits up to the first
// other character (an extension after ";" is ignored); no digits read as 0.
// -1 when the number does not fit 31 bits.
int32_t chunk_size_value(const char* line) {
    while (*line == ' ' || (*line >= '\t' && *line <= '\r'))
        line++;
    if (line[0] == '0' && (line[1] == 'x' || line[1] == 'X')) line += 2;
    int64_t v = 0;
    for (;; line++) {
        int d;
        if (*line >= '0' && *line <= '9')
            d = *line - '0';
        else if (*line >= 'a' && *line <= 'f')
            d = *line - 'a' + 10;
        else if (*line >= 'A' && *line <= 'F')
            d = *line - 'A' + 10;
        else
            break;
        v = v * 16 + d;
        if (v > INT32_MAX) return -1;
    }
    return int32_t(v);
}

// True when a chunk-size line is the last chunk's: a zero, not garbage.
bool last_chunk_line(const char* line) {
    while (*line == ' ' || *line == '\t')
        line++;
    return *line == '0';
}

// Ends the head line at line at its LF (dropping one CR before it) and
// returns the next line, or null when the text has no LF left.
char* cut_head_line(char* line) {
    char* end = std::strchr(line, '\n');
    if (!end) return nullptr;
    *end = 0;
    if (end > line && end[-1] == '\r') end[-1] = 0;
    return end + 1;
}

// The status line and the header lines of the whole head (head_length
// bytes, up to and including its empty line), cut where the head's end was
// found: at LF with an optional CR before it.
void accept_head(ResponseParser* p) {
    p->state = ResponseState::refused;
    char* head = p->head;
    head[p->head_length] = 0;
    // A zero byte in the head fails: no line rule can place it.
    if (std::memchr(head, 0, size_t(p->head_length))) return;
    char* line = head;
    char* next = cut_head_line(line);
    if (!std::strstr(line, "200") && !std::strstr(line, "302")) return;
    int32_t content_length = -1;
    bool chunked = false;
    for (line = next; line; line = next) {
        next = cut_head_line(line);
        if (!*line) break;
        if (starts_with_nocase(line, "transfer-encoding:")) {
            if (std::strstr(line, "chunked")) chunked = true;
        } else if (starts_with_nocase(line, "content-length:")) {
            content_length = content_length_value(line + 15);
            if (content_length < 0) return;
        }
    }
    p->state = ResponseState::body;
    if (content_length >= 0) {
        p->framing = Framing::counted;
        p->remaining = content_length;
        p->body_begun = true;
        if (content_length == 0) p->state = ResponseState::complete;
    } else if (chunked) {
        p->framing = Framing::chunked;
        p->chunk_phase = ChunkPhase::size_line;
        p->line_length = 0;
    } else {
        p->framing = Framing::until_close;
        p->remaining = UNTIL_CLOSE_LIMIT;
        p->body_begun = true;
    }
}

// Gathers head bytes until the empty line that ends the head (an empty
// first line does not); a head that fills the limit without it is refused.
ResponsePiece feed_head(ResponseParser* p, const char* data, int32_t size) {
    const int32_t room = HEAD_LIMIT - p->head_length;
    const int32_t take = size < room ? size : room;
    char* head = p->head;
    std::memcpy(head + p->head_length, data, size_t(take));
    const int32_t end = p->head_length + take;
    for (int32_t at = p->head_length; at < end; at++) {
        const auto* lf = static_cast<const char*>(std::memchr(head + at, '\n', size_t(end - at)));
        if (!lf) break;
        at = int32_t(lf - head);
        int32_t length = at - p->line_start;
        if (length > 0 && head[at - 1] == '\r') length--;
        if (length == 0 && p->line_start > 0) {
            const int32_t consumed = at + 1 - p->head_length;
            p->head_length = at + 1;
            accept_head(p);
            return {consumed, nullptr, 0};
        }
        p->line_start = at + 1;
    }
    p->head_length = end;
    if (end == HEAD_LIMIT) p->state = ResponseState::refused;
    return {take, nullptr, 0};
}

// Gathers one line (without its LF, or CR LF) into p->line; the bytes
// taken. *done once the line is whole; a line that outgrows the limit cuts
// the body.
int32_t feed_line(ResponseParser* p, const char* data, int32_t size, bool* done) {
    const auto* lf = static_cast<const char*>(std::memchr(data, '\n', size_t(size)));
    const int32_t take = lf ? int32_t(lf - data) : size;
    *done = false;
    if (p->line_length + take > CHUNK_LINE_LIMIT) {
        p->state = ResponseState::cut;
        return take;
    }
    std::memcpy(p->line + p->line_length, data, size_t(take));
    p->line_length += take;
    if (!lf) return take;
    int32_t n = p->line_length;
    if (n > 0 && p->line[n - 1] == '\r') n--;
    p->line[n] = 0;
    p->line_length = 0;
    *done = true;
    return take + 1;
}

// Shows up to remaining of the bytes as body bytes.
ResponsePiece take_body(ResponseParser* p, const char* data, int32_t size) {
    const int32_t take = size < p->remaining ? size : p->remaining;
    p->remaining -= take;
    p->total += take;
    return {take, take ? data : nullptr, take};
}

// A chunked body, decoded: a chunk's data ends with CR LF or a bare LF,
// then the next size line follows. Ends at size 0 (whole only when the line holds a zero), at a
// size that is no 31-bit number, or where the count would pass 31 bits.
ResponsePiece feed_chunked(ResponseParser* p, const char* data, int32_t size) {
    bool done = false;
    switch (p->chunk_phase) {
    case ChunkPhase::size_line: {
        const int32_t consumed = feed_line(p, data, size, &done);
        if (!done) return {consumed, nullptr, 0};
        int32_t chunk = chunk_size_value(p->line);
        if (chunk <= 0) {
            p->state = chunk == 0 && last_chunk_line(p->line) ? ResponseState::complete
                                                              : ResponseState::cut;
            return {consumed, nullptr, 0};
        }
        if (chunk > INT32_MAX - p->total) chunk = INT32_MAX - p->total;
        p->remaining = chunk;
        p->chunk_phase = ChunkPhase::data;
        p->body_begun = true;
        return {consumed, nullptr, 0};
    }
    case ChunkPhase::data: {
        const ResponsePiece piece = take_body(p, data, size);
        if (p->remaining == 0) {
            if (p->total == INT32_MAX)
                p->state = ResponseState::cut;
            else
                p->chunk_phase = ChunkPhase::data_end;
        }
        return piece;
    }
    case ChunkPhase::data_end:
    case ChunkPhase::data_lf: {
        // Only CR LF or a bare LF may follow a chunk's data: anything else
        // means the framing is lost, and no byte after it can be trusted.
        const char c = data[0];
        if (c == '\r' && p->chunk_phase == ChunkPhase::data_end)
            p->chunk_phase = ChunkPhase::data_lf;
        else if (c == '\n')
            p->chunk_phase = ChunkPhase::size_line;
        else
            p->state = ResponseState::cut;
        return {1, nullptr, 0};
    }
    }
    return {0, nullptr, 0};
}

} // namespace

void response_start(ResponseParser* p) {
    p->state = ResponseState::head;
    p->framing = Framing::none;
    p->chunk_phase = ChunkPhase::size_line;
    p->body_begun = false;
    p->total = 0;
    p->remaining = 0;
    p->head_length = 0;
    p->line_start = 0;
    p->line_length = 0;
}

ResponsePiece response_feed(ResponseParser* p, const char* data, int32_t size) {
    if (!p || !data || size <= 0 || !response_open(*p)) return {0, nullptr, 0};
    if (p->state == ResponseState::head) return feed_head(p, data, size);
    if (p->framing == Framing::chunked) return feed_chunked(p, data, size);
    const ResponsePiece piece = take_body(p, data, size);
    if (p->remaining == 0) p->state = ResponseState::complete;
    return piece;
}

void response_end(ResponseParser* p, bool cut) {
    if (!p) return;
    if (p->state == ResponseState::head) {
        p->state = ResponseState::refused;
    } else if (p->state == ResponseState::body) {
        p->state = p->framing == Framing::until_close && !cut ? ResponseState::complete
                                                              : ResponseState::cut;
    }
}

int32_t response_wanted(const ResponseParser* p) {
    if (!p || !response_open(*p)) return 0;
    if (p->state == ResponseState::head) return HEAD_LIMIT - p->head_length;
    if (p->framing == Framing::chunked) return INT32_MAX;
    return p->remaining;
}
