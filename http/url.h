// Takes one part out of a URL text, purely textually: no validation, no
// decoding. The part is a new zero-terminated string from the main heap,
// owned by the caller (heap_free); null when the part is missing or empty.
#pragma once

#include <cstdint>

enum UrlSelector : int32_t {
    URL_SITE = 0,      // host name or dotted address
    URL_PORT = 1,      // the port, as text
    URL_PATH = 2,      // the path without its leading slash, up to the query
    URL_PATH_FULL = 3, // everything after the slash that starts the path
};

// Any selector other than the four above gives null.
char* url_part(const char* url, int32_t selector);
// True when url_part would find the part: a null part then means memory ran out.
bool url_has_part(const char* url, int32_t selector);
