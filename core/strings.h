// The string engine: the string heap, the process-wide temporary string
// buffer in which every string result is built at a caller's mark, and the
// few string and path operations the program uses. Strings belong to the
// engine and live until string_engine_end.
#pragma once

#include <cstdint>

#include "core/runtime.h"

// A string variable: null (the empty string) or a block in the string heap.
using StringVar = char*;

struct TempStringBuffer {
    char* buffer;
    int32_t capacity;
    int32_t length;
};

extern HANDLE string_heap;
extern TempStringBuffer temp_strings;

bool string_engine_start();
void string_engine_end();

// Current length of the temporary string buffer: the mark of a new expression.
inline int32_t string_mark() {
    return temp_strings.length;
}
// The result that lies at a mark (valid until the buffer next grows).
inline char* string_at(int32_t mark) {
    return temp_strings.buffer + mark;
}

// Room for n bytes at the mark; the length becomes mark + n. Null when n
// or the mark is out of range or the buffer cannot grow (memory exhausted);
// the buffer is then unchanged.
char* reserve(int32_t n, int32_t mark);
// Gives back the last n bytes of the buffer.
void give_back(int32_t n);
// Appends s (not itself inside the buffer) at the current length.
void append(const char* s);
// Copies the bytes from the mark to the length into the variable's block and
// pops the buffer back to the mark. False when memory ran short: the
// variable then keeps its old value.
bool assign(StringVar* variable, int32_t mark);

int32_t offset_in_buffer(const char* p);
char* pointer_at_offset(int32_t k);

// Copies n bytes, whole words first, and writes a zero at destination + n;
// it reads no byte past source + n and writes none past destination + n.
void copy_words(char* destination, const char* source, int32_t n);
// 1-based position of the first occurrence of pattern in s; 0 when absent
// or when either is null or empty.
int32_t find_string(const char* s, const char* pattern);

char* program_filename(int32_t mark);
// The directory part of path, ending with its separator, as a result at the mark.
char* get_path_part(const char* path, int32_t mark);
