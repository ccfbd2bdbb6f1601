#include "app/replace.h"

#include <cstring>

#include "app/extract.h"
#include "file/file_stream.h"

namespace {

// Writes one line to the new file; false unless all its bytes and the CR LF
// were taken.
bool put_line(const char* s) {
    const int32_t length = s ? int32_t(std::strlen(s)) : 0;
    return write_line(OUTPUT_FILE, s) == length + 2;
}

// Hands what the buffer still holds to the file and the file to the disk;
// false unless every byte got there (a full disk, say).
bool on_disk() {
    FileStream* f = file_stream(OUTPUT_FILE);
    if (!f) return false;
    if (f->buffer && f->mode == FileMode::write) {
        const int32_t pending = f->buffer_size - f->count;
        if (flush_buffer(f) != pending) return false;
    }
    return FlushFileBuffers(f->handle) != 0;
}

} // namespace

bool replace_element_file(const char* path, const char* name, const char* line1, const char* line2,
                          uint32_t* error) {
    uint32_t own = 0;
    if (!error) error = &own;
    *error = 0;
    char fresh[MAX_PATH]; // the longest name the ANSI file calls take
    const size_t length = path ? std::strlen(path) : 0;
    if (length == 0 || length + sizeof REPLACEMENT_SUFFIX > sizeof fresh) return false;
    std::memcpy(fresh, path, length);
    std::memcpy(fresh + length, REPLACEMENT_SUFFIX, sizeof REPLACEMENT_SUFFIX);

    if (!create_file(OUTPUT_FILE, fresh)) {
        *error = GetLastError();
        DeleteFileA(fresh); // a file that was made but cannot be used
        return false;
    }
    const bool written = put_line(name) && put_line(line1) && put_line(line2) && on_disk();
    if (!written) *error = GetLastError();
    close_file(OUTPUT_FILE);
    if (written && MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (written) *error = GetLastError();
    DeleteFileA(fresh);
    return false;
}
