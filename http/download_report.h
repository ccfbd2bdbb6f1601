// What a download tells its caller about how it went: where it stopped, what
// the host answered and what the system said. Plain facts, no words for
// people: the caller puts them into words.
#pragma once

#include <cstdint>

#include "net/connection.h"

enum class DownloadStage : int32_t {
    done,      // the answer was taken; complete tells whether its body was whole
    request,   // the URL could not be used, or memory ran out
    resolve,   // the host name was not found, or its lookup took the whole budget (timed_out)
    connect,   // no connection: refused, unreachable or unanswered
    tls,       // the connection could not be secured: see tls_failure
    send,      // the request could not be sent: too slow (timed_out), or the connection broke
    answer,    // no usable answer head: the host closed, fell silent or sent garbage
    status,    // the host answered other than with success
    body,      // the body did not come whole: cut, or too slow (timed_out)
    file,      // the file could not be made or did not take the body
    cancelled, // the caller's stop flag was set
};

constexpr int32_t REASON_PHRASE_LIMIT = 63;
constexpr int32_t HOST_TEXT_LIMIT = 200;

struct DownloadReport {
    DownloadStage stage;
    bool timed_out;      // the stage ended because its time ran out
    int32_t status_code; // 0 until a status line came
    // The status line's reason phrase and the first line of the host's own
    // text in a refused answer: printable ASCII only, empty when none.
    char reason_phrase[REASON_PHRASE_LIMIT + 1];
    char host_text[HOST_TEXT_LIMIT + 1];
    TlsFailure tls_failure;
    uint32_t system_error; // the failing file call's error code, 0 when none is known
    int32_t body_bytes;    // what the file took
    int32_t tls_version;   // 12 or 13 over TLS, else 0
    uint32_t milliseconds; // from the call to its end
};
