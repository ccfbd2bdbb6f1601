// Whether the station's element file is fresh: then the catalogue is not
// asked at all. The host's data changes at most every 2 hours, and a client
// that asks more often is refused and then blocked.
#pragma once

#include <cstdint>
#include <string_view>

// 2 hours in FILETIME units (100 ns).
constexpr uint64_t FRESH_SPAN = 2ull * 3600 * 10000000;
// The most of the file that is read to judge it; an element file is 155 bytes.
constexpr uint32_t FRESH_READ_LIMIT = 512;

// True when written (the file's last-write time) lies less than FRESH_SPAN
// before now. A time in the future counts as old: the clock may have been
// set back.
bool fresh_by_time(uint64_t written, uint64_t now);

// True when the bytes begin with the three lines of a usable element set
// (lines end at CR LF, CR or LF) of the satellite asked for: with number 0
// the first line is exactly "METEOR-M2 2"; otherwise it is a name and the
// element lines carry that catalogue number, so that a file of another
// satellite is never fresh.
bool holds_fresh_candidate(std::string_view bytes, uint32_t number = 0);

// Both of the above for the file at path, now being the system clock. A file
// that cannot be opened or read is not fresh. Nothing is written. age, when
// given, is set to the file's age in seconds when it is fresh.
bool station_file_fresh(const char* path, uint32_t* age = nullptr, uint32_t number = 0);
