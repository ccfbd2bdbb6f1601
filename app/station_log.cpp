#include "app/station_log.h"

#include <cstdio>
#include <cstring>

#include "app/station_lock.h"
#include "core/runtime.h"

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t FILETIME_EPOCH_SECONDS = 11644473600;

// The log's bytes, at most its last LOG_LIMIT of them, from the start of a
// line, in *bytes (the caller's block, or null when there is no log). False
// when a log is there but cannot be read: it must then stay as it is.
bool read_log(const char* path, char** bytes, size_t* length) {
    *bytes = nullptr;
    *length = 0;
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
    const DWORD size = SetFilePointer(f, 0, nullptr, FILE_END);
    const DWORD from = size != INVALID_SET_FILE_POINTER && size > LOG_LIMIT ? size - LOG_LIMIT : 0;
    char* b = static_cast<char*>(heap_alloc(LOG_LIMIT));
    DWORD n = 0;
    const bool read = b && size != INVALID_SET_FILE_POINTER &&
                      SetFilePointer(f, LONG(from), nullptr, FILE_BEGIN) == from &&
                      ReadFile(f, b, DWORD(LOG_LIMIT), &n, nullptr);
    CloseHandle(f);
    if (!read) {
        heap_free(b);
        return false;
    }
    size_t start = 0;
    if (from > 0) { // the first line read is only the end of one
        const void* lf = std::memchr(b, '\n', n);
        start = lf ? size_t(static_cast<const char*>(lf) - b) + 1 : n;
    }
    std::memmove(b, b + start, n - start);
    *bytes = b;
    *length = n - start;
    return true;
}

bool write_whole(HANDLE f, const char* data, size_t length) {
    DWORD written = 0;
    return length == 0 ||
           (WriteFile(f, data, DWORD(length), &written, nullptr) && written == length);
}

} // namespace

size_t log_kept_from(std::string_view old, size_t added) {
    size_t from = 0;
    while (old.size() - from + added > LOG_LIMIT && from < old.size()) {
        size_t lines = 0;
        for (size_t at = from; at < old.size(); at++)
            if (old[at] == '\n' || at + 1 == old.size()) lines++;
        // Past the oldest half of the lines (at least one).
        for (size_t drop = (lines + 1) / 2; drop > 0 && from < old.size(); from++)
            if (old[from] == '\n' || from + 1 == old.size()) drop--;
    }
    return from;
}

int32_t utc_offset_minutes(const SYSTEMTIME& local, uint64_t utc) {
    const int64_t local_seconds = days_from_civil(local.wYear, local.wMonth, local.wDay) * 86400 +
                                  local.wHour * 3600 + local.wMinute * 60 + local.wSecond;
    const int64_t utc_seconds = int64_t(utc / 10000000) - FILETIME_EPOCH_SECONDS;
    const int64_t difference = local_seconds - utc_seconds;
    // To the nearest quarter hour: the two clocks were read a moment apart.
    const int64_t quarters = (difference + (difference >= 0 ? 450 : -450)) / 900;
    return int32_t(quarters * 15);
}

void log_stamp(const SYSTEMTIME& local, int32_t offset_minutes, char out[LOG_STAMP_SIZE]) {
    const char sign = offset_minutes < 0 ? '-' : '+';
    const int32_t magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
    std::snprintf(out, LOG_STAMP_SIZE, "%04u-%02u-%02u %02u:%02u:%02u %c%02d:%02d",
                  unsigned(local.wYear % 10000), unsigned(local.wMonth % 100),
                  unsigned(local.wDay % 100), unsigned(local.wHour % 100),
                  unsigned(local.wMinute % 100), unsigned(local.wSecond % 100), sign,
                  int(magnitude / 60 % 100), int(magnitude % 60));
}

namespace {

bool append_now(const char* path, const char* text) {
    SYSTEMTIME local{};
    FILETIME utc{};
    GetLocalTime(&local);
    GetSystemTimeAsFileTime(&utc);
    char stamp[LOG_STAMP_SIZE];
    log_stamp(local,
              utc_offset_minutes(local, (uint64_t(utc.dwHighDateTime) << 32) | utc.dwLowDateTime),
              stamp);

    char fresh[MAX_PATH];
    const size_t path_length = path ? std::strlen(path) : 0;
    if (path_length == 0 || path_length + 5 > sizeof fresh) return false;
    std::memcpy(fresh, path, path_length);
    std::memcpy(fresh + path_length, ".new", 5);

    size_t old_length = 0;
    char* old = nullptr;
    if (!read_log(path, &old, &old_length)) return false;
    const size_t text_length = text ? std::strlen(text) : 0;
    const size_t added = std::strlen(stamp) + 1 + text_length + 2;
    const size_t from = log_kept_from(std::string_view(old ? old : "", old_length), added);
    HANDLE f = CreateFileA(fresh, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    bool written = false;
    if (f != INVALID_HANDLE_VALUE) {
        written = write_whole(f, old + from, old_length - from) &&
                  write_whole(f, stamp, std::strlen(stamp)) && write_whole(f, " ", 1) &&
                  write_whole(f, text, text_length) && write_whole(f, "\r\n", 2) &&
                  FlushFileBuffers(f);
        CloseHandle(f);
    }
    heap_free(old);
    if (written && MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (f != INVALID_HANDLE_VALUE) DeleteFileA(fresh);
    return false;
}

} // namespace

bool append_log_line(const char* path, const char* text) {
    // Another start may be rewriting the log (its new copy is open to no one
    // else): appends take their turn, so that no start's line is lost.
    HANDLE turn = open_named_mutex(LOG_MUTEX_NAME);
    if (!turn) return append_now(path, text); // no turn to take: as before there was one
    const DWORD got = WaitForSingleObject(turn, LOG_TURN_MS);
    const bool mine = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    const bool appended = mine && append_now(path, text);
    if (mine) ReleaseMutex(turn);
    CloseHandle(turn);
    return appended;
}
