// The check a fetched element set must pass before it may replace the
// station's file: both element lines in their fixed shape, of one satellite,
// each with a good checksum. Pure: text in, verdict out.
#pragma once

#include <cstdint>
#include <string_view>

constexpr size_t ELEMENT_LINE_LENGTH = 69;

// The mod-10 checksum of an element line's first 68 characters: the sum of
// the digits' values, plus 1 for each '-'.
int element_line_checksum(std::string_view line);

// What keeps two lines from being a usable element set, the first rule
// broken in the order below.
enum class ElementSetFault {
    none,
    shape,          // not 69 characters beginning "1 " and "2 " (a short line, say)
    checksum,       // a line's last digit is not its checksum
    numbers_differ, // the two lines carry other catalogue numbers
};

ElementSetFault element_set_fault(std::string_view line1, std::string_view line2);

// The catalogue number an element line carries in characters 3 to 7, zero-
// or blank-padded as the format allows; 0 when they hold none.
uint32_t element_line_number(std::string_view line);

constexpr size_t ELEMENT_NAME_LIMIT = 24;
// The name a line gives an element set: its text without trailing blanks,
// 1 to 24 printable characters, not beginning "1 " or "2 " as element lines
// do; empty when the line can name none.
std::string_view element_set_name(std::string_view line);

// True when line1 and line2 (trailing blanks dropped) are each exactly 69
// characters, begin with "1 " and "2 ", carry the same catalogue number
// (characters 3 to 7) and end in the checksum of their first 68 characters.
bool usable_element_set(std::string_view line1, std::string_view line2);
