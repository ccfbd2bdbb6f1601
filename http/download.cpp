#include "http/download.h"

#include <cstdio>
#include <cstring>

#include "core/runtime.h"
#include "http/url.h"

namespace {

// Every budget runs on the monotonic clock: a clock set back or a date past
// 2038 cannot stretch a wait.
uint64_t now_ms() {
    return GetTickCount64();
}

int32_t receive_until(Connection* c, char* buffer, int32_t size, uint64_t deadline) {
    if (!c || !buffer || size <= 0) return 0;
    for (;;) {
        switch (connection_event(c)) {
        case EVENT_DATA: {
            int32_t n = connection_receive(c, buffer, size);
            if (n < 0) return 0;
            buffer[n] = 0;
            return n;
        }
        case EVENT_DISCONNECT:
            return 0;
        default:
            break;
        }
        const uint64_t now = now_ms();
        if (now > deadline) return 0;
        // Sleep no longer than the poll period, and wake as soon as data comes.
        const uint64_t left = deadline - now + 1;
        connection_wait(c, int32_t(left < POLL_PERIOD ? left : POLL_PERIOD), false);
    }
}

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

// Port text as a decimal integer: leading white space and a sign accepted,
// digits up to the first other character; the low 16 bits are the port.
uint16_t port_value(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    uint32_t v = 0;
    for (; *text >= '0' && *text <= '9'; text++)
        v = v * 10 + uint32_t(*text - '0');
    return uint16_t(negative ? 0u - v : v);
}

// The layout of the one work buffer: the request first, then the response
// head, the read window and the chunk-size line.
constexpr int32_t WINDOW_AT = HEAD_LIMIT + 1;
constexpr int32_t LINE_AT = WINDOW_AT + READ_BLOCK + 1;
constexpr int32_t WORK_SIZE = LINE_AT + CHUNK_LINE_LIMIT + 1;

// Received bytes not yet taken, in the read window. No read waits past the
// transfer's end.
struct Stream {
    Connection* connection;
    char* window;
    int32_t position;
    int32_t end;
    uint64_t transfer_end;
    bool overrun; // a read was cut by the transfer's end
};

// A read's own budget, cut at the transfer's end.
uint64_t read_deadline(uint64_t transfer_end, int32_t budget_seconds) {
    const uint64_t own = now_ms() + uint64_t(budget_seconds) * 1000;
    return own < transfer_end ? own : transfer_end;
}

int32_t at_hand(const Stream& s) {
    return s.end - s.position;
}

// Reads up to max bytes into the empty window; false when nothing came.
bool refill(Stream& s, int32_t max, uint64_t deadline) {
    if (at_hand(s) > 0) return true;
    s.position = s.end = 0;
    // Past the transfer's end even bytes that are waiting are not taken.
    const bool cut_at_end = deadline >= s.transfer_end;
    if (cut_at_end) deadline = s.transfer_end;
    if (now_ms() <= deadline)
        s.end =
            receive_until(s.connection, s.window, max < READ_BLOCK ? max : READ_BLOCK, deadline);
    if (s.end == 0 && cut_at_end && now_ms() > s.transfer_end) s.overrun = true;
    return s.end > 0;
}

// The next line (without its LF, or CR LF) into line, zero-terminated; false
// when the stream ends first or the line outgrows the limit.
bool read_line(Stream& s, char* line, uint64_t deadline) {
    int32_t n = 0;
    for (;;) {
        if (!refill(s, READ_BLOCK, deadline)) return false;
        const char* from = s.window + s.position;
        const auto* lf = static_cast<const char*>(std::memchr(from, '\n', size_t(at_hand(s))));
        const int32_t take = lf ? int32_t(lf - from) : at_hand(s);
        if (n + take > CHUNK_LINE_LIMIT) return false;
        std::memcpy(line + n, from, size_t(take));
        n += take;
        s.position += take;
        if (lf) {
            s.position++;
            if (n > 0 && line[n - 1] == '\r') n--;
            line[n] = 0;
            return true;
        }
    }
}

// The body's destination, created when the first piece is ready.
struct Output {
    const char* path;
    HANDLE file;
    int32_t total;
};

bool write_piece(Output& out, const char* data, int32_t n) {
    if (!out.file) {
        HANDLE f = CreateFileA(out.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return false;
        out.file = f;
    }
    DWORD written = 0;
    WriteFile(out.file, data, DWORD(n), &written, nullptr);
    out.total += n;
    return true;
}

// Writes up to remaining bytes: first those at hand, then fresh reads with
// their own budget each, until remaining is 0 or a read brings nothing.
// False when the file cannot be created.
bool copy_body(Stream& s, Output& out, int32_t remaining, int32_t budget_seconds, bool* cut) {
    int32_t piece = at_hand(s) < remaining ? at_hand(s) : remaining;
    if (!write_piece(out, s.window + s.position, piece)) return false;
    s.position += piece;
    remaining -= piece;
    *cut = false;
    while (remaining > 0) {
        if (!refill(s, remaining, now_ms() + uint64_t(budget_seconds) * 1000)) {
            *cut = true;
            return true;
        }
        piece = at_hand(s) < remaining ? at_hand(s) : remaining;
        write_piece(out, s.window + s.position, piece);
        s.position += piece;
        remaining -= piece;
    }
    return true;
}

// True when a chunk-size line is the last chunk's: a zero, not garbage.
bool last_chunk_line(const char* line) {
    while (*line == ' ' || *line == '\t')
        line++;
    return *line == '0';
}

// A chunked body, decoded: bytes beyond a chunk's data are kept for the next
// size line. Ends at size 0, at a size line that cannot be read, or when a
// chunk is cut short; the result is what was written. *complete is set when
// the last chunk came.
bool copy_chunked(Stream& s, Output& out, char* line, bool* complete) {
    for (;;) {
        if (!read_line(s, line, now_ms() + uint64_t(READ_BUDGET) * 1000)) return true;
        int32_t size = chunk_size_value(line);
        if (size == 0) *complete = last_chunk_line(line);
        if (size <= 0) return true;
        // The count is a 31-bit number: the body ends where it would overflow.
        if (size > INT32_MAX - out.total) size = INT32_MAX - out.total;
        bool cut = false;
        if (!copy_body(s, out, size, READ_BUDGET, &cut)) return false;
        if (cut || out.total == INT32_MAX) return true;
        // The line end after the chunk's data.
        if (!read_line(s, line, now_ms() + uint64_t(READ_BUDGET) * 1000)) return true;
    }
}

// What one download holds, released in this order: path, work buffer,
// connection, site, URL copy.
struct Download {
    char* url;
    char* site;
    Connection* connection;
    char* work;
    char* path;
};

void release(Download& d) {
    heap_free(d.path);
    heap_free(d.work);
    close_connection(d.connection);
    heap_free(d.site);
    heap_free(d.url);
}

// Reads until the empty line that ends the response head; its length (up to
// and including that line), or 0 when the head does not end within the limit
// or the server stops first. *received is every byte read.
int32_t read_head(Connection* c, char* head, int32_t* received, uint64_t transfer_end) {
    int32_t have = 0, line_start = 0, scan = 0;
    for (;;) {
        const int32_t room = HEAD_LIMIT - have;
        if (room <= 0 || now_ms() > transfer_end) return 0;
        const int32_t n = receive_until(c, head + have, room < READ_BLOCK ? room : READ_BLOCK,
                                        read_deadline(transfer_end, READ_BUDGET));
        if (n == 0) return 0;
        have += n;
        *received = have;
        for (; scan < have; scan++) {
            if (head[scan] != '\n') continue;
            int32_t length = scan - line_start;
            if (length > 0 && head[scan - 1] == '\r') length--;
            if (length == 0 && line_start > 0) return scan + 1;
            line_start = scan + 1;
        }
    }
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

int32_t run(Download& d, const char* url, const char* file_path, bool* complete,
            int32_t transfer_budget) {
    const size_t url_length = std::strlen(url);
    d.url = static_cast<char*>(heap_alloc(url_length + 1));
    if (!d.url) return 0;
    std::memcpy(d.url, url, url_length + 1);

    d.site = url_part(d.url, URL_SITE);
    if (!d.site) return 0;
    uint16_t port = 80;
    if (char* port_text = url_part(d.url, URL_PORT)) {
        port = port_value(port_text);
        heap_free(port_text);
    }
    d.connection = open_client(d.site, port);
    if (!d.connection) return 0;

    d.path = url_part(d.url, URL_PATH_FULL);
    char suffix[32] = "";
    if (port != 80) std::snprintf(suffix, sizeof suffix, ":%d", int(port));
    static constexpr char request_format[] =
        "GET /%s HTTP/1.1\r\nAccept: */*\r\nHost: %s%s\r\nConnection: close\r\n\r\n";
    const char* path = d.path ? d.path : "";
    // Sized to the request, whatever the URL's length.
    const size_t request_length = std::strlen(request_format) - 6 + std::strlen(path) +
                                  std::strlen(d.site) + std::strlen(suffix);
    if (request_length >= size_t(INT32_MAX) - WORK_SIZE) return 0;
    const size_t work_size =
        request_length + 1 > size_t(WORK_SIZE) ? request_length + 1 : size_t(WORK_SIZE);
    d.work = static_cast<char*>(heap_alloc(work_size));
    if (!d.work) return 0;
    std::snprintf(d.work, work_size, request_format, path, d.site, suffix);
    if (!send_all(d.connection, d.work, int32_t(request_length), SEND_BUDGET)) return 0;
    const uint64_t transfer_end =
        now_ms() + uint64_t(transfer_budget > 0 ? transfer_budget : 0) * 1000;

    // The head, then the status line and the header lines.
    int32_t received = 0;
    const int32_t head_length = read_head(d.connection, d.work, &received, transfer_end);
    if (head_length == 0) return 0;
    Stream body{d.connection, d.work + WINDOW_AT, 0, received - head_length, transfer_end, false};
    std::memcpy(body.window, d.work + head_length, size_t(body.end));
    d.work[head_length] = 0;

    // Head lines end where read_head found them, at LF with an optional CR
    // before it. A zero byte in the head fails: no line rule can place it.
    if (std::memchr(d.work, 0, size_t(head_length))) return 0;
    char* line = d.work;
    char* next = cut_head_line(line);
    if (!std::strstr(line, "200") && !std::strstr(line, "302")) return 0;
    int32_t content_length = -1;
    bool chunked = false;
    for (line = next; line; line = next) {
        next = cut_head_line(line);
        if (!*line) break;
        if (starts_with_nocase(line, "transfer-encoding:")) {
            if (std::strstr(line, "chunked")) chunked = true;
        } else if (starts_with_nocase(line, "content-length:")) {
            content_length = content_length_value(line + 15);
            if (content_length < 0) return 0;
        }
    }

    // The body: counted (a Content-Length decides, chunked or not), chunked,
    // or until the server closes.
    Output out{file_path, nullptr, 0};
    bool ok, cut = false, last_chunk = false;
    if (content_length >= 0) {
        ok = copy_body(body, out, content_length, READ_BUDGET, &cut);
        *complete = ok && !cut;
    } else if (chunked) {
        ok = copy_chunked(body, out, d.work + LINE_AT, &last_chunk);
        *complete = ok && last_chunk;
    } else {
        // Unframed: the server's close (or silence) is its only end.
        ok = copy_body(body, out, UNTIL_CLOSE_LIMIT, UNTIL_CLOSE_BUDGET, &cut);
        *complete = ok && !body.overrun;
    }
    if (out.file) CloseHandle(out.file);
    return ok ? out.total : 0;
}

} // namespace

int32_t download_file(const char* url, const char* path, bool* complete, int32_t transfer_budget) {
    bool whole = false;
    if (complete) *complete = false;
    if (!url || !path) return 0;
    Download d{};
    const int32_t total = run(d, url, path, &whole, transfer_budget);
    if (complete) *complete = whole;
    release(d);
    return total;
}

int32_t send_all(Connection* c, const char* data, int32_t length, int32_t budget_seconds) {
    if (!c || length < 0 || (!data && length > 0)) return 0;
    const uint64_t start = now_ms();
    const uint64_t budget = uint64_t(budget_seconds > 0 ? budget_seconds : 0) * 1000;
    int32_t sent = 0;
    bool failed_when_writable = false;
    while (now_ms() - start < budget) {
        const int32_t n = connection_send(c, data + sent, length - sent);
        if (n < 0) {
            // Wait until the socket takes data again. One that claims to but
            // still refuses is retried only every retry period, not in a spin.
            const bool writable = connection_wait(c, SEND_RETRY_PERIOD, true);
            if (writable && failed_when_writable) Sleep(SEND_RETRY_PERIOD);
            failed_when_writable = writable;
            continue;
        }
        sent += n;
        if (sent >= length) return 1;
    }
    return 0;
}

int32_t receive_wait(Connection* c, char* buffer, int32_t size, int32_t budget_seconds) {
    const int32_t budget = budget_seconds > 0 ? budget_seconds : 0;
    return receive_until(c, buffer, size, now_ms() + uint64_t(budget) * 1000);
}

char* split_line(char* text) {
    if (!text || !*text) return nullptr;
    char* end = std::strpbrk(text, "\r\n");
    if (!end) return text + std::strlen(text);
    const bool cr = *end == '\r';
    *end++ = 0;
    if (cr && *end == '\n') end++;
    return end;
}
