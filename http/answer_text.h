// The parts of an answer that a person is told when the host refuses: the
// status code and reason phrase of its status line and the first line of
// its own text. Pure: bytes in, text out.
#pragma once

#include <cstdint>
#include <string_view>

// The status code of a status line ("HTTP/1.1 403 Forbidden" gives 403) with
// its reason phrase in *reason; 0 when the line has no three-digit code
// after its version.
int32_t status_code_of(std::string_view status_line, std::string_view* reason);

// Whether the header lines name the chunked transfer coding.
bool headers_say_chunked(std::string_view headers);

// The first line of text, its printable ASCII only (other bytes dropped,
// a tab read as a blank), blanks at both ends trimmed, cut at limit
// characters; written zero-terminated to out, which has room for limit + 1.
void printable_first_line(std::string_view text, char* out, int32_t limit);
