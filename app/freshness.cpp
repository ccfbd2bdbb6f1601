#include "app/freshness.h"

#include "app/element_set.h"
#include "app/extract.h"
#include "core/win32.h"

namespace {

// The next line of bytes from at, its end moved past CR LF, CR or LF.
std::string_view next_line(std::string_view bytes, size_t* at) {
    const size_t start = *at;
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    *at = end;
    if (*at < bytes.size() && bytes[*at] == '\r') ++*at;
    if (*at < bytes.size() && bytes[*at] == '\n') ++*at;
    return std::string_view(bytes.data() + start, end - start);
}

uint64_t value_of(const FILETIME& t) {
    return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

} // namespace

bool fresh_by_time(uint64_t written, uint64_t now) {
    return written <= now && now - written < FRESH_SPAN;
}

bool holds_fresh_candidate(std::string_view bytes, uint32_t number) {
    size_t at = 0;
    const std::string_view name = next_line(bytes, &at);
    const std::string_view line1 = next_line(bytes, &at);
    const std::string_view line2 = next_line(bytes, &at);
    const bool named =
        number == 0 ? name == SATELLITE_NAME
                    : !element_set_name(name).empty() && element_line_number(line1) == number;
    return named && usable_element_set(line1, line2);
}

bool station_file_fresh(const char* path, uint32_t* age, uint32_t number) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written{};
    char bytes[FRESH_READ_LIMIT];
    DWORD n = 0;
    const bool read = GetFileTime(file, nullptr, nullptr, &written) &&
                      ReadFile(file, bytes, sizeof bytes, &n, nullptr);
    CloseHandle(file);
    if (!read) return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    if (!fresh_by_time(value_of(written), value_of(now)) ||
        !holds_fresh_candidate(std::string_view(bytes, n), number))
        return false;
    if (age) *age = uint32_t((value_of(now) - value_of(written)) / 10000000);
    return true;
}
