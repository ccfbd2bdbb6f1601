#include "http/download.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/runtime.h"
#include "http/answer_text.h"
#include "http/response.h"
#include "http/url.h"

namespace {

// Every budget runs on the monotonic clock: a clock set back or a date past
// 2038 cannot stretch a wait.
uint64_t now_ms() {
    return GetTickCount64();
}

// Receives within deadline; the stop flag (may be null) is looked at
// between looks at the connection, and *cancelled (when given) set once it
// was set.
int32_t receive_until(Connection* c, char* buffer, int32_t size, uint64_t deadline,
                      const StopFlag* stop = nullptr, bool* cancelled = nullptr,
                      bool* broken = nullptr) {
    if (!c || !buffer || size <= 0) return 0;
    for (;;) {
        switch (connection_event(c)) {
        case EVENT_DATA: {
            int32_t n = connection_receive(c, buffer, size);
            if (n < 0) {
                if (broken) *broken = true;
                return 0;
            }
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
        if (stop_asked(stop)) {
            if (cancelled) *cancelled = true;
            return 0;
        }
    }
}

// 1 when all length bytes were sent before deadline (ms), else 0, with
// *broken set (when given) once the connection failed: a reset is no
// slowness. The stop flag as for receive_until.
int32_t send_until(Connection* c, const char* data, int32_t length, uint64_t deadline,
                   const StopFlag* stop = nullptr, bool* cancelled = nullptr,
                   bool* broken = nullptr) {
    if (!c || length < 0 || (!data && length > 0)) return 0;
    int32_t sent = 0;
    for (uint64_t now; (now = now_ms()) < deadline;) {
        const int32_t n = connection_send(c, data + sent, length - sent);
        if (n < 0) {
            if (broken) *broken = true;
            return 0;
        }
        sent += n;
        if (sent >= length) return 1;
        if (n > 0) continue;
        // The socket takes nothing for now: wait until it does.
        const uint64_t left = deadline - now;
        connection_wait(c, int32_t(left < POLL_PERIOD ? left : POLL_PERIOD), true);
        if (stop_asked(stop)) {
            if (cancelled) *cancelled = true;
            return 0;
        }
    }
    return 0;
}

// How the URL is fetched: its scheme text, compared exactly, selects TLS
// for "https" and plain HTTP for anything else, as ever. An "https" in
// another letter case is refused rather than sent in plain.
enum class Transport { plain, secure, refused };

Transport transport_of(const char* url) {
    const char* end = std::strstr(url, "://");
    if (!end || end - url != 5) return Transport::plain;
    if (std::memcmp(url, "https", 5) == 0) return Transport::secure;
    for (int i = 0; i < 5; i++)
        if ((url[i] | 0x20) != "https"[i]) return Transport::plain;
    return Transport::refused;
}

constexpr uint16_t HTTP_PORT = 80;
constexpr uint16_t HTTPS_PORT = 443;

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

// Received bytes are read no more than a block at a time; those the socket
// already holds are taken without asking whether it is readable. No read
// waits past the download's end.
struct Reader {
    Connection* connection;
    uint64_t transfer_end;
    const StopFlag* stop;
    int32_t waiting; // bytes the socket was last known to hold
    bool overrun;    // a read was cut by the download's end
    bool silent;     // a read's budget ran out with nothing come
    bool cancelled;  // the stop flag was set
    bool broken;     // a receive failed (a reset): not the orderly close that ends a body
};

int32_t receive_ready(Reader& r, char* buffer, int32_t max, uint64_t deadline) {
    if (r.waiting <= 0) r.waiting = connection_waiting(r.connection);
    if (r.waiting <= 0)
        return receive_until(r.connection, buffer, max, deadline, r.stop, &r.cancelled, &r.broken);
    const int32_t n = connection_receive(r.connection, buffer, max < r.waiting ? max : r.waiting);
    if (n <= 0) {
        r.waiting = 0;
        if (n < 0) r.broken = true;
        return 0;
    }
    r.waiting -= n;
    return n;
}

// Up to max bytes within budget seconds (none: until the download's end),
// cut at the download's end; 0 when nothing came.
int32_t read_block(Reader& r, char* buffer, int32_t max, int32_t budget_seconds = 0) {
    uint64_t deadline =
        budget_seconds > 0 ? now_ms() + uint64_t(budget_seconds) * 1000 : UINT64_MAX;
    // Past the transfer's end even bytes that are waiting are not taken.
    const bool cut_at_end = deadline >= r.transfer_end;
    if (cut_at_end) deadline = r.transfer_end;
    int32_t n = 0;
    if (now_ms() <= deadline) n = receive_ready(r, buffer, max, deadline);
    if (n == 0 && cut_at_end && now_ms() > r.transfer_end) r.overrun = true;
    if (n == 0 && now_ms() > deadline) r.silent = true;
    return n;
}

// The body's destination, created when the first piece is due. Body bytes
// gather in one buffer that is written when full and at the end; total
// counts what the file took. A write the file does not take whole (a full
// disk) fails the download: its file is removed.
struct Output {
    const char* path;
    HANDLE file;
    char* buffer;
    int32_t buffered;
    int32_t total;
    bool failed;
    uint32_t error; // the system's error of the call that failed
};

bool create_output(Output& out) {
    HANDLE f = CreateFileA(out.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        out.error = GetLastError();
        return false;
    }
    out.file = f;
    return true;
}

void flush_output(Output& out) {
    if (out.buffered == 0 || out.failed) return;
    DWORD written = 0;
    if (!WriteFile(out.file, out.buffer, DWORD(out.buffered), &written, nullptr) ||
        written != DWORD(out.buffered)) {
        out.error = GetLastError();
        out.failed = true;
    } else
        out.total += out.buffered;
    out.buffered = 0;
}

void put_body(Output& out, const char* data, int32_t n) {
    while (n > 0 && !out.failed) {
        const int32_t room = OUTPUT_BUFFER - out.buffered;
        const int32_t take = n < room ? n : room;
        std::memcpy(out.buffer + out.buffered, data, size_t(take));
        out.buffered += take;
        data += take;
        n -= take;
        if (out.buffered == OUTPUT_BUFFER) flush_output(out);
    }
}

// The work buffer once the request is sent: the parser, the read window and
// the output buffer.
struct WorkArea {
    ResponseParser parser;
    char window[READ_BLOCK + 1];
    char output[OUTPUT_BUFFER];
};

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

// The status code and reason phrase of a refused answer and the first line
// of the host's own text in it: rest holds what followed the head in the
// last read; when nothing did, one more short read is made for it.
void note_refusal(Reader& reader, WorkArea* area, const char* rest, int32_t rest_length,
                  DownloadReport* report) {
    const ResponseParser& p = area->parser;
    const std::string_view head(p.head, size_t(p.head_length));
    std::string_view reason;
    report->status_code = status_code_of(head, &reason);
    printable_first_line(reason, report->reason_phrase, REASON_PHRASE_LIMIT);
    // A head that names success but was refused was malformed or unended.
    const size_t line_end = head.find_first_of(std::string_view("\r\n\0", 3));
    const std::string_view line(head.data(),
                                line_end == std::string_view::npos ? head.size() : line_end);
    const bool accepted_status =
        line.find("200") != std::string_view::npos || line.find("302") != std::string_view::npos;
    if (report->status_code == 0 || accepted_status) {
        report->stage = DownloadStage::answer;
        return;
    }
    report->stage = DownloadStage::status;
    std::string_view text(rest, size_t(rest_length > 0 ? rest_length : 0));
    if (text.empty()) {
        const int32_t n = read_block(reader, area->window, READ_BLOCK, UNTIL_CLOSE_BUDGET);
        text = std::string_view(area->window, size_t(n));
    }
    // A chunked text begins with its first chunk's size line.
    if (headers_say_chunked(head)) {
        const size_t lf = text.find('\n');
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    }
    printable_first_line(text, report->host_text, HOST_TEXT_LIMIT);
}

// Reads, feeds the parser and writes what it shows as body, until the
// response is refused or its body ends. False when the file cannot be made
// or does not take what is written to it.
bool transfer(Reader& reader, WorkArea* area, Output& out, DownloadReport* report) {
    ResponseParser& p = area->parser;
    while (response_open(p)) {
        // A body read until close ends after a short silence.
        const int32_t budget = p.state == ResponseState::body && p.framing == Framing::until_close
                                   ? UNTIL_CLOSE_BUDGET
                                   : 0;
        const int32_t wanted = response_wanted(&p);
        const int32_t n =
            read_block(reader, area->window, wanted < READ_BLOCK ? wanted : READ_BLOCK, budget);
        if (n == 0) {
            // Over TLS a body that only its end frames is whole only when
            // the server's closing alert ended it.
            const bool unproven = p.state == ResponseState::body &&
                                  p.framing == Framing::until_close &&
                                  !connection_end_authentic(reader.connection);
            const bool in_head = p.state == ResponseState::head;
            response_end(&p, reader.overrun || reader.cancelled || reader.broken || unproven);
            if (in_head) note_refusal(reader, area, nullptr, 0, report);
            return true;
        }
        for (int32_t at = 0; at < n && response_open(p);) {
            const ResponsePiece piece = response_feed(&p, area->window + at, n - at);
            at += piece.consumed;
            if (p.state == ResponseState::refused) {
                note_refusal(reader, area, area->window + at, n - at, report);
                return true;
            }
            if (p.body_begun && !out.file && !create_output(out)) return false;
            put_body(out, piece.body, piece.body_length);
            if (out.failed) return false;
        }
    }
    return true;
}

// The stage a failed wait ended in: the caller's stop, else the given one.
DownloadStage waited(bool cancelled, DownloadStage otherwise) {
    return cancelled ? DownloadStage::cancelled : otherwise;
}

int32_t run(Download& d, const char* url, const char* file_path, bool* complete, uint64_t end,
            const StopFlag* stop, DownloadReport* report) {
    report->stage = DownloadStage::request;
    const size_t url_length = std::strlen(url);
    d.url = static_cast<char*>(heap_alloc(url_length + 1));
    if (!d.url) return 0;
    std::memcpy(d.url, url, url_length + 1);

    const Transport transport = transport_of(d.url);
    if (transport == Transport::refused) return 0;
    const uint16_t default_port = transport == Transport::secure ? HTTPS_PORT : HTTP_PORT;
    d.site = url_part(d.url, URL_SITE);
    if (!d.site) return 0;
    uint16_t port = default_port;
    if (char* port_text = url_part(d.url, URL_PORT)) {
        port = port_value(port_text);
        heap_free(port_text);
    } else if (url_has_part(d.url, URL_PORT)) {
        return 0; // memory ran out: no other port is tried
    }
    OpenFailure open_failure = OpenFailure::other;
    d.connection = open_client_waiting(d.site, port, end, stop, &open_failure);
    if (!d.connection) {
        if (open_failure == OpenFailure::resolve) report->stage = DownloadStage::resolve;
        if (open_failure == OpenFailure::too_slow) {
            report->stage = DownloadStage::resolve;
            report->timed_out = true;
        }
        if (open_failure == OpenFailure::connect) report->stage = DownloadStage::connect;
        if (open_failure == OpenFailure::cancelled) report->stage = DownloadStage::cancelled;
        return 0;
    }
    if (transport == Transport::secure &&
        !secure_connection(d.connection, d.site, end, stop, &report->tls_failure)) {
        report->stage = report->tls_failure == TlsFailure::cancelled ? DownloadStage::cancelled
                                                                     : DownloadStage::tls;
        return 0;
    }
    report->tls_version = connection_tls_version(d.connection);

    d.path = url_part(d.url, URL_PATH_FULL);
    if (!d.path && url_has_part(d.url, URL_PATH_FULL)) return 0; // no other document is asked for
    char suffix[32] = "";
    if (port != default_port) std::snprintf(suffix, sizeof suffix, ":%d", int(port));
    static constexpr char request_format[] =
        "GET /%s HTTP/1.1\r\nAccept: */*\r\nHost: %s%s\r\nConnection: close\r\n\r\n";
    const char* path = d.path ? d.path : "";
    // Sized to the request, whatever the URL's length.
    const size_t request_length = std::strlen(request_format) - 6 + std::strlen(path) +
                                  std::strlen(d.site) + std::strlen(suffix);
    constexpr size_t area_size = sizeof(WorkArea);
    if (request_length >= size_t(INT32_MAX) - area_size) return 0;
    const size_t work_size = request_length + 1 > area_size ? request_length + 1 : area_size;
    d.work = static_cast<char*>(heap_alloc(work_size));
    if (!d.work) return 0;
    std::snprintf(d.work, work_size, request_format, path, d.site, suffix);
    bool cancelled = false, broken = false;
    if (!send_until(d.connection, d.work, int32_t(request_length), end, stop, &cancelled,
                    &broken)) {
        report->stage = waited(cancelled, DownloadStage::send);
        report->timed_out = !cancelled && !broken;
        return 0;
    }
    // The request is sent: the work buffer holds the parser and buffers now.
    WorkArea* area = new (d.work) WorkArea;
    response_start(&area->parser);
    Reader reader{d.connection, end, stop, 0, false, false, false, false};
    Output out{file_path, nullptr, area->output, 0, 0, false, 0};
    report->stage = DownloadStage::done;
    const bool made = transfer(reader, area, out, report);
    if (out.file) {
        flush_output(out);
        CloseHandle(out.file);
        // Bytes that did not reach the file leave no file at all.
        if (out.failed) DeleteFileA(file_path);
    }
    if (!made || out.failed) {
        report->stage = DownloadStage::file;
        report->system_error = out.error;
        return 0;
    }
    const ResponseState state = area->parser.state;
    if (state == ResponseState::refused) {
        if (report->stage == DownloadStage::answer) {
            report->stage = waited(reader.cancelled, DownloadStage::answer);
            report->timed_out = reader.silent && !reader.cancelled;
        }
        return 0;
    }
    report->status_code = status_code_of(
        std::string_view(area->parser.head, size_t(area->parser.head_length)), nullptr);
    // Over TLS an unframed body that reached the byte cap was cut there.
    *complete = state == ResponseState::complete && (area->parser.framing != Framing::until_close ||
                                                     connection_end_authentic(d.connection));
    if (!*complete) {
        report->stage = waited(reader.cancelled, DownloadStage::body);
        report->timed_out = (reader.overrun || reader.silent) && !reader.cancelled;
    }
    report->body_bytes = out.total;
    return out.total;
}

} // namespace

int32_t download_file(const char* url, const char* path, bool* complete, int32_t budget,
                      const StopFlag* stop, DownloadReport* report) {
    const uint64_t started = now_ms();
    const uint64_t end = started + uint64_t(budget > 0 ? budget : 0) * 1000;
    DownloadReport own{};
    if (!report) report = &own;
    *report = DownloadReport{};
    report->stage = DownloadStage::request;
    bool whole = false;
    if (complete) *complete = false;
    if (!url || !path) return 0;
    Download d{};
    const int32_t total = run(d, url, path, &whole, end, stop, report);
    if (complete) *complete = whole;
    release(d);
    report->milliseconds = uint32_t(now_ms() - started);
    return total;
}

int32_t send_all(Connection* c, const char* data, int32_t length, int32_t budget_seconds) {
    return send_until(c, data, length,
                      now_ms() + uint64_t(budget_seconds > 0 ? budget_seconds : 0) * 1000);
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
