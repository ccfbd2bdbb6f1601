// Numbered, buffered, sequential files. Each open file has one 4096-byte
// buffer that serves reading and writing and switches on demand; written
// bytes reach the disk when the buffer fills, on a read of the same file, or
// at close. The library owns the records, buffers and OS handles.
#pragma once

#include <cstdint>

#include "core/runtime.h"

constexpr int32_t DEFAULT_FILE_BUFFER_SIZE = 4096;

enum class FileMode : int32_t { write = 0, read = 1 };

struct FileStream {
    HANDLE handle; // non-zero while open
    char* buffer;  // null: the file works unbuffered
    int32_t buffer_size;
    int32_t count; // read: bytes read ahead, unconsumed; write: free bytes left
    int32_t fill;  // read: bytes loaded by the last refill
    FileMode mode;
};

bool file_streams_start();
void file_streams_end();

// For a number the OS handle, for ANY_OBJECT the new file's handle; 0 on failure.
intptr_t create_file(ObjectId n, const char* name);
intptr_t open_file_read(ObjectId n, const char* name);
// Non-zero when no byte is left to read; 0 for a number with no open file.
int32_t file_at_end(ObjectId n);
// The next line, without its terminator, as a result at the mark. Null when
// memory runs short: nothing is left at the mark and the line (or what of
// it was read) is lost, so a caller must stop reading.
char* read_line(ObjectId n, int32_t mark);
// Writes s (may be null) and CR LF; the bytes written.
int32_t write_line(ObjectId n, const char* s);
// ANY_OBJECT closes every open file.
intptr_t close_file(ObjectId v);
int32_t delete_file(const char* name);

// The buffered transfers behind the line operations.
int32_t buffered_read(FileStream* f, void* destination, int32_t n);
int32_t buffered_write(FileStream* f, const void* source, int32_t n);
int32_t flush_buffer(FileStream* f);

// The file registry, for tests that look at a file's record.
FileStream* file_stream(ObjectId n);
