// Downloads the body of one HTTP/1.1 GET into a local file, synchronously,
// over the network layer (started by the caller). Nothing survives a call but
// the file and the result; the file is the caller's. An "https://" URL is
// fetched over TLS (port 443 unless the URL gives one) and never in plain;
// every other URL over plain HTTP (port 80 unless given).
#pragma once

#include <cstdint>

#include "http/download_report.h"
#include "http/response.h"
#include "net/connection.h"

constexpr int32_t READ_BLOCK = 2048;     // a read never asks for more
constexpr int32_t OUTPUT_BUFFER = 65536; // body bytes are written to the file in runs this long
// Seconds for the whole fetch, from the start of the name lookup to the
// last byte: what a station waits at most for one start.
constexpr int32_t FETCH_BUDGET = 40;
constexpr int32_t UNTIL_CLOSE_BUDGET = 1; // seconds of silence that end such a body
constexpr int32_t POLL_PERIOD = 100;      // ms, longest wait between looks at a connection

// The number of body bytes the file at path took: 0 on every failure (no
// file is created or changed then) and for an empty body. A transfer cut
// short keeps what arrived and returns its count. A write the file does not
// take whole (a full disk) fails the download and removes the file.
// When complete is given it tells whether the whole body arrived: a counted
// body to its length, a chunked one to its last chunk, an unframed one until
// the server closed or fell silent (over TLS: until its closing alert).
// False on every failure. A TLS handshake or a certificate that fails its
// check is a failure. The whole download, from the start of the name lookup
// to the end of the body, takes at most budget seconds, passed down to every
// step as the time that remains: a body not whole by then is cut there, so a
// server that trickles bytes cannot hold the caller for ever, and a lookup
// that returns after it ends the download as too slow. Every wait (connect,
// handshake, send, receive) looks at the stop flag, when given, at least
// every WAIT_SLICE_MS; once it is set the download ends at once as cut.
// The report, when given, is filled in on every path.
int32_t download_file(const char* url, const char* path, bool* complete = nullptr,
                      int32_t budget = FETCH_BUDGET, const StopFlag* stop = nullptr,
                      DownloadReport* report = nullptr);

// 1 when all length bytes were sent within budget seconds, else 0 (at once
// when the connection failed).
int32_t send_all(Connection* c, const char* data, int32_t length, int32_t budget_seconds);
// Receives 1 to size bytes within budget seconds and stores a zero byte after
// them (buffer needs size + 1 bytes); 0 when nothing came, the peer closed or
// receiving failed.
int32_t receive_wait(Connection* c, char* buffer, int32_t size, int32_t budget_seconds);
// Cuts the first line of text off in place at its first CR or LF (CR LF
// counts as one line end) and returns where the next line begins: the
// terminating zero when the text has no line end, null for an empty text.
char* split_line(char* text);
