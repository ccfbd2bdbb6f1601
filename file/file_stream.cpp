#include "file/file_stream.h"

#include <cstring>

#include "core/registry.h"
#include "core/strings.h"

namespace {

ObjectRegistry* files;

DWORD os_read(HANDLE h, void* d, int32_t n) {
    DWORD got = 0;
    if (!ReadFile(h, d, DWORD(n), &got, nullptr)) return 0; // a failed read is the end
    return got;
}

DWORD os_write(HANDLE h, const void* s, int32_t n) {
    DWORD put = 0;
    if (!WriteFile(h, s, DWORD(n), &put, nullptr)) return 0;
    return put;
}

// Opens n with up to two CreateFileA argument sets; the second (if any) is
// the fallback that truncates an existing file the first cannot replace.
intptr_t open_stream(ObjectId n, const char* name, bool create) {
    if (!files || !name) return 0;
    auto* f = static_cast<FileStream*>(registry_obtain(files, n));
    if (!f) return 0;
    HANDLE h;
    if (create) {
        h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD refused = GetLastError();
            h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING, 0,
                            nullptr);
            // The fallback finds no file where none could be made: the
            // first refusal says why.
            if (h == INVALID_HANDLE_VALUE) SetLastError(refused);
        }
    } else {
        h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE || !h) {
        if (n == ANY_OBJECT) registry_release(files, handle_of(f));
        return 0;
    }
    f->buffer = static_cast<char*>(heap_alloc(DEFAULT_FILE_BUFFER_SIZE));
    f->buffer_size = DEFAULT_FILE_BUFFER_SIZE;
    f->count = 0;
    f->fill = 0;
    f->mode = FileMode::read;
    f->handle = h;
    return n == ANY_OBJECT ? handle_of(f) : reinterpret_cast<intptr_t>(h);
}

// Takes one byte; false at the end of the data.
bool take_byte(FileStream* f, char* c) {
    if (f->buffer) return buffered_read(f, c, 1) == 1;
    return os_read(f->handle, c, 1) == 1;
}

void put_back_byte(FileStream* f) {
    if (f->buffer)
        f->count++;
    else
        SetFilePointer(f->handle, -1, nullptr, FILE_CURRENT);
}

int32_t write_bytes(FileStream* f, const void* s, int32_t n) {
    if (f->buffer) return buffered_write(f, s, n);
    return int32_t(os_write(f->handle, s, n));
}

} // namespace

bool file_streams_start() {
    files = registry_create(sizeof(FileStream), 16, close_file);
    return files != nullptr;
}

void file_streams_end() {
    if (files) registry_release_all(files);
}

FileStream* file_stream(ObjectId n) {
    return files ? static_cast<FileStream*>(registry_lookup(files, n)) : nullptr;
}

intptr_t create_file(ObjectId n, const char* name) {
    return open_stream(n, name, true);
}

intptr_t open_file_read(ObjectId n, const char* name) {
    return open_stream(n, name, false);
}

int32_t flush_buffer(FileStream* f) {
    if (f->mode != FileMode::write) return 0;
    int32_t pending = f->buffer_size - f->count;
    DWORD written = os_write(f->handle, f->buffer, pending);
    f->count = f->buffer_size;
    return int32_t(written);
}

int32_t buffered_write(FileStream* f, const void* source, int32_t n) {
    if (n <= 0) return 0;
    if (f->mode == FileMode::read) {
        // Writing continues at the logical position, before the read-ahead.
        if (f->count) SetFilePointer(f->handle, -f->count, nullptr, FILE_CURRENT);
        f->mode = FileMode::write;
        f->count = f->buffer_size;
    }
    if (f->count > n) {
        std::memcpy(f->buffer + (f->buffer_size - f->count), source, n);
        f->count -= n;
        return n;
    }
    // Bytes that did not reach the file are not taken for written: a full
    // disk shows in the count, not later or never.
    const int32_t pending = f->buffer_size - f->count;
    if (flush_buffer(f) != pending) return 0;
    if (n >= f->buffer_size) return int32_t(os_write(f->handle, source, n));
    std::memcpy(f->buffer, source, n);
    f->count -= n;
    return n;
}

int32_t buffered_read(FileStream* f, void* destination, int32_t n) {
    if (n <= 0) return 0;
    auto* d = static_cast<char*>(destination);
    if (f->mode == FileMode::write) {
        flush_buffer(f);
        f->mode = FileMode::read;
        f->count = 0;
        f->fill = 0;
    }
    if (f->count >= n) {
        std::memcpy(d, f->buffer + f->fill - f->count, n);
        f->count -= n;
        return n;
    }
    int32_t copied = f->count;
    std::memcpy(d, f->buffer + f->fill - f->count, copied);
    f->count = 0;
    int32_t rest = n - copied;
    if (rest >= f->buffer_size) return copied + int32_t(os_read(f->handle, d + copied, rest));
    int32_t got = int32_t(os_read(f->handle, f->buffer, f->buffer_size));
    f->count = f->fill = got;
    int32_t take = rest < got ? rest : got;
    std::memcpy(d + copied, f->buffer, take);
    f->count -= take;
    return copied + take;
}

int32_t file_at_end(ObjectId n) {
    FileStream* f = file_stream(n);
    if (!f) return 0;
    char c;
    if (f->buffer) {
        if (buffered_read(f, &c, 1) != 1) return 1;
        f->count++;
        return 0;
    }
    DWORD got = 0;
    if (!ReadFile(f->handle, &c, 1, &got, nullptr) || got == 0) return -1;
    SetFilePointer(f->handle, -1, nullptr, FILE_CURRENT);
    return 0;
}

char* read_line(ObjectId n, int32_t mark) {
    int32_t reserved = DEFAULT_FILE_BUFFER_SIZE;
    char* line = reserve(reserved, mark);
    if (!line) return nullptr;
    FileStream* f = file_stream(n);
    int32_t stored = 0;
    while (f) {
        char c;
        if (!take_byte(f, &c)) c = 0;
        if (c == 0) break;
        if (c == '\r') {
            char next;
            if (take_byte(f, &next) && next != '\n') put_back_byte(f);
            break;
        }
        if (c == '\n') break;
        line[stored++] = c;
        if (stored == reserved) {
            // No limit on a line's length: grow the reservation; the buffer
            // may move, the stored bytes stay at the mark.
            char* grown = reserve(reserved + DEFAULT_FILE_BUFFER_SIZE, mark);
            if (!grown) {
                // Memory ran short: the line is lost, not cut in two.
                give_back(reserved);
                return nullptr;
            }
            reserved += DEFAULT_FILE_BUFFER_SIZE;
            line = grown;
        }
    }
    line[stored] = 0;
    give_back(reserved - stored);
    return line;
}

int32_t write_line(ObjectId n, const char* s) {
    FileStream* f = file_stream(n);
    if (!f) return 0;
    int32_t written = 0;
    if (s && *s) written = write_bytes(f, s, int32_t(std::strlen(s)));
    return written + write_bytes(f, "\r\n", 2);
}

intptr_t close_file(ObjectId v) {
    if (!files) return 0;
    if (v == ANY_OBJECT) {
        registry_release_all(files);
        return 1;
    }
    FileStream* f = file_stream(v);
    if (!f) return 0;
    if (f->buffer) {
        flush_buffer(f); // read-ahead bytes are simply dropped
        heap_free(f->buffer);
    }
    CloseHandle(f->handle);
    registry_release(files, v);
    return 1;
}

int32_t delete_file(const char* name) {
    if (!name) return 0;
    return DeleteFileA(name) ? 1 : 0;
}
