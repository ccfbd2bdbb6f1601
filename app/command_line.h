// The program's arguments (those after its name, as CommandLineToArgvW gives
// them) turned into the start's choices, a request for the usage, or a
// refusal naming the first argument at fault. Pure: no I/O, no heap; the
// result is the caller's, by value.
#pragma once

#include <cstdint>

constexpr int32_t SOURCE_URL_LIMIT = 1024; // with its terminating zero
constexpr int32_t SOURCE_SITE_LIMIT = 260; // a 253-character host, ":65535" and the zero
constexpr int32_t ECHO_LIMIT = 60;

enum class CommandVerdict : int32_t { start, usage, refused };

// What the first argument at fault breaks.
enum class CommandFault : int32_t {
    none,
    not_printable,   // a character outside printable ASCII
    bad_number,      // no option, yet not 1 to 99999 in decimal digits
    second_number,   // a catalogue number after another
    unknown_option,  // "/" or "-" and a name other than ?, close, source:URL
    repeated_option, // an option given twice
    bad_source,      // /source without ":" and a URL this program can fetch
};

struct StartChoices {
    uint32_t catalogue_number;           // 1..99999; 0: none given, the satellite found by name
    bool unattended;                     // /close: no box
    bool has_source;                     // /source:URL given, else the built-in catalogue site
    bool source_secure;                  // https, else http
    char source_url[SOURCE_URL_LIMIT];   // scheme in lower case, "/" for a missing path,
                                         // the rest as typed
    char source_site[SOURCE_SITE_LIMIT]; // host, or host:port, as typed
};

struct CommandLine {
    CommandVerdict verdict;
    StartChoices choices;      // all of it for start; only unattended for usage and refused
    CommandFault fault;        // for refused, and for usage when something else was at fault
    char echo[ECHO_LIMIT + 1]; // that argument, at most 60 characters, '?' for non-printable
};

// Options are case-insensitive, begin with "/" or "-", each at most once, in
// any order; any other argument is the catalogue number, leading zeros
// allowed (059051 is 59051). A source URL is http:// or https://, a host name
// or dotted IPv4 address, an optional port 1..65535 without leading zeros,
// and a path; no user name, no spaces. arguments may be null when count is 0.
CommandLine parse_command_line(const wchar_t* const* arguments, int32_t count);
