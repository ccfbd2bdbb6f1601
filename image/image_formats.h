// The layouts of the two container formats the image library reads itself:
// BMP file images and icon directories. Pure checks over bytes, so that no
// load reads past the data it was given, or, when no length is given, past
// the end that the data itself declares.
#pragma once

#include <cstdint>

struct bmp_layout {
    int32_t width;
    int32_t height; // negative for a top-down picture; never INT32_MIN, so it can be negated
    uint16_t bit_count;
    uint32_t pixel_offset; // from the start of the file image
};

// True for data that starts with "BM" (whatever follows).
bool is_bmp(const uint8_t* data, int32_t length);
// Checks a BMP file image and describes it. `length` bounds it, or with
// LENGTH_NOT_GIVEN the file's own size field does. The header, its colour
// table or masks and every pixel row must lie inside that bound; the
// header is a BITMAPINFOHEADER or a later version of it, uncompressed, with
// bit fields, or run-length coded with its coded size given.
bool parse_bmp(const uint8_t* data, int32_t length, bmp_layout* out);

struct icon_choice {
    uint32_t offset; // of the image data, from the start of the directory
    uint32_t bytes;
    int32_t width; // the size to ask the system for: 0 lets the data decide
    int32_t height;
    uint16_t bit_count; // of the image's BITMAPINFOHEADER; 0 for a PNG image
};

// True for data that starts like an icon directory (words 0 and 1).
bool is_icon_directory(const uint8_t* data, int32_t length);
// Chooses the entry to load: the first, replaced by a later one of the same
// width and height bytes as the first and a strictly greater bit count.
// The directory and the chosen image must lie inside `length` (when given),
// and a DIB image must hold its colour table, colour bits and mask.
bool choose_icon_entry(const uint8_t* data, int32_t length, icon_choice* out);

inline uint16_t read_u16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t read_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int32_t read_i32(const uint8_t* p) {
    return int32_t(read_u32(p));
}
