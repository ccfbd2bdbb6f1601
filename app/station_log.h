// The station's log, "kestrin.log" beside norad_M2.txt: one line per start,
// the local time with its offset from UTC, then what happened, in ASCII,
// ended by CR LF. It never grows past LOG_LIMIT: the oldest half of its
// lines goes when a new line would pass it. It is rewritten whole or not at
// all, as the element file is; a log that cannot be written changes nothing
// else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/win32.h"

constexpr char LOG_FILE_NAME[] = "kestrin.log";
constexpr size_t LOG_LIMIT = 65536; // bytes
constexpr size_t LOG_STAMP_SIZE = 32;
// Appends take their turn under this mutex, for at most LOG_TURN_MS.
constexpr char LOG_MUTEX_NAME[] = "Local\\KestrinLog";
constexpr DWORD LOG_TURN_MS = 2000;

// Where the lines kept of the old log begin, so that they and an added line
// of added bytes stay within LOG_LIMIT: 0 when all fit; otherwise past the
// oldest half of the lines, halved again as long as it takes (old.size()
// when none can stay).
size_t log_kept_from(std::string_view old, size_t added);

// The local time's offset from UTC in minutes, rounded to a quarter hour,
// from the local time and the UTC time (FILETIME units) read together.
int32_t utc_offset_minutes(const SYSTEMTIME& local, uint64_t utc);

// "2026-12-08 23:15:02 +01:00", zero-terminated.
void log_stamp(const SYSTEMTIME& local, int32_t offset_minutes, char out[LOG_STAMP_SIZE]);

// Adds the stamp of now, a blank and text as a line to the log at path,
// through path + ".new" moved over it, in its turn among the starts of the
// logon session. False when it could not be written, or its turn did not
// come within LOG_TURN_MS (the line is dropped); the log is then as it was.
// Safe from any thread.
bool append_log_line(const char* path, const char* text);
