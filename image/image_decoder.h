// Image decoders: the table of registered decoders and the one decode context
// that every load shares. This module owns the context for the whole process;
// a decoder owns what it keeps in `decoder_state` from its open to its release.
#pragma once

#include <cstdint>

#include "core/win32.h"

struct decode_context;

// One static descriptor per decoder.
struct image_decoder {
    // Non-zero when the decoder recognises the data and has prepared decoding;
    // it has then filled in width, height, depth and source_depth. On 0 it
    // holds nothing any more.
    int (*open)(decode_context* context);
    // Writes the pixels into rows `stride` bytes apart from `bits`, in the
    // layout of a DIB of the context's depth. Non-zero on success.
    int (*decode)(decode_context* context, uint8_t* bits, intptr_t stride, int flags);
    // Frees everything the decoder holds for this context.
    void (*release)(decode_context* context);
    uint32_t format; // four-character code, in memory order
};

struct decode_context {
    const image_decoder* decoder; // the decoder whose open accepted the data
    const uint8_t* data;
    int32_t length;
    int32_t width;
    int32_t height;
    int32_t depth; // bits per pixel of the DIB to create
    void* decoder_state[8];
    int32_t source_depth;
};

// The length a load passes when the caller gives none: the data itself must
// say where it ends.
constexpr int32_t LENGTH_NOT_GIVEN = 2147483647;
// `decode` flag: the target is a bottom-up DIB (picture row i goes to memory
// row height - 1 - i).
constexpr int DECODE_BOTTOM_UP = 2;
constexpr int MAX_IMAGE_DECODERS = 30;

struct image_decoder_table {
    int32_t count;
    const image_decoder* slots[MAX_IMAGE_DECODERS];
};

constexpr uint32_t four_cc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

extern image_decoder_table image_decoders;
// Allocated once by image_decoders_start from the main heap; never freed
// before the process ends.
extern decode_context* image_decode_context;

// Empties the decoder table and allocates the decode context; 0 when memory
// runs out.
int image_decoders_start();
// Appends a decoder; 0 (and nothing changes) once the table is full.
int register_image_decoder(const image_decoder* decoder);
// Offers the data to the decoders in the order of registration; the format
// of the first that accepts it (the context then names it), else 0.
uint32_t find_image_decoder(const void* address, int32_t length);

// Bytes per row of a DIB: rows are padded to a multiple of 4 bytes. Computed
// in 64 bits so that no width overflows.
int64_t dib_row_stride(int64_t width, int bits_per_pixel);
