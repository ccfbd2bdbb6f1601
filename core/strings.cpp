#include "core/strings.h"

#include <cstring>

HANDLE string_heap;
TempStringBuffer temp_strings;

namespace {

constexpr int32_t initial_buffer = 16;
constexpr int32_t growth = 16384;
constexpr int32_t spare = 5; // room past a string's bytes: its terminator and four bytes of slack
constexpr int32_t max_path = 260;

} // namespace

bool string_engine_start() {
    string_heap = HeapCreate(0, 4096, 0);
    if (!string_heap) return false;
    temp_strings.buffer = static_cast<char*>(HeapAlloc(string_heap, 0, initial_buffer));
    temp_strings.capacity = initial_buffer;
    temp_strings.length = 0;
    if (temp_strings.buffer) temp_strings.buffer[0] = 0;
    return temp_strings.buffer != nullptr;
}

void string_engine_end() {
    if (string_heap) {
        if (temp_strings.buffer) HeapFree(string_heap, 0, temp_strings.buffer);
        HeapDestroy(string_heap);
    }
    string_heap = nullptr;
    temp_strings = {};
}

char* reserve(int32_t n, int32_t mark) {
    TempStringBuffer& t = temp_strings;
    if (n < 0 || mark < 0 || mark > t.length) return nullptr;
    int64_t wanted = int64_t(t.length) + n;
    if (wanted >= int64_t(t.capacity) - 4) {
        int64_t capacity = wanted + growth;
        if (capacity + spare > INT32_MAX) return nullptr;
        void* grown = HeapReAlloc(string_heap, 0, t.buffer, size_t(capacity + spare));
        if (!grown) return nullptr;
        t.buffer = static_cast<char*>(grown);
        t.capacity = int32_t(capacity);
    }
    t.length = mark + n;
    return t.buffer + mark;
}

void give_back(int32_t n) {
    temp_strings.length -= n;
}

void append(const char* s) {
    TempStringBuffer& t = temp_strings;
    if (!s) {
        t.buffer[t.length] = 0;
        return;
    }
    int32_t n = int32_t(std::strlen(s));
    if (char* d = reserve(n, t.length)) {
        copy_words(d, s, n);
    }
}

bool assign(StringVar* variable, int32_t mark) {
    TempStringBuffer& t = temp_strings;
    int32_t n = t.length - mark;
    if (n < 0) n = 0;
    void* block = *variable ? HeapReAlloc(string_heap, 0, *variable, size_t(n) + spare)
                            : HeapAlloc(string_heap, 0, size_t(n) + spare);
    if (block) {
        *variable = static_cast<char*>(block);
        copy_words(*variable, t.buffer + mark, n);
    }
    t.length = mark;
    return block != nullptr;
}

int32_t offset_in_buffer(const char* p) {
    const TempStringBuffer& t = temp_strings;
    if (!p || !t.buffer || p < t.buffer || p > t.buffer + t.length) return 0;
    return int32_t(p - t.buffer) + 1;
}

char* pointer_at_offset(int32_t k) {
    return temp_strings.buffer + k - 1;
}

void copy_words(char* destination, const char* source, int32_t n) {
    // Whole words first; the tail goes byte by byte so the copy never reads
    // past the source's own bytes.
    int32_t i = 0;
    for (; i + 4 <= n; i += 4)
        std::memcpy(destination + i, source + i, 4);
    for (; i < n; i++)
        destination[i] = source[i];
    destination[n] = 0;
}

int32_t find_string(const char* s, const char* pattern) {
    if (!s || !pattern || !*s || !*pattern) return 0;
    const char* hit = std::strstr(s, pattern);
    return hit ? int32_t(hit - s) + 1 : 0;
}

char* program_filename(int32_t mark) {
    char* d = reserve(max_path, mark);
    if (!d) return nullptr;
    DWORD n = GetModuleFileNameA(module_handle, d, max_path);
    if (n >= DWORD(max_path)) n = 0; // truncated: no usable name
    if (n >= 4 && std::memcmp(d, "\\\\?\\", 4) == 0) {
        std::memmove(d, d + 4, n - 4);
        n -= 4;
    }
    give_back(max_path - int32_t(n));
    d[n] = 0;
    return d;
}

char* get_path_part(const char* path, int32_t mark) {
    int32_t start = 0, end = 0;
    if (path) {
        if (path[0] == '"') start = end = 1;
        for (int32_t i = start; path[i] && path[i] != '|'; i++)
            if (path[i] == '/' || path[i] == '\\') end = i + 1;
    }
    int32_t n = end - start;
    int32_t offset = offset_in_buffer(path);
    char* d = reserve(n, mark);
    if (!d) return nullptr;
    if (n > 0) {
        const char* source = offset ? pointer_at_offset(offset) : path;
        std::memmove(d, source + start, n);
    }
    d[n] = 0;
    return d;
}
