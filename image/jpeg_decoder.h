// The JPEG decoder: libjpeg's decompressor offered to the image library as an
// image decoder. Everything it allocates for one load (the decompression
// object, its error manager, libjpeg's pools) is freed by jpegdec_release;
// libjpeg's messages never reach the user.
#pragma once

#include <csetjmp>
#include <cstdint>

#include "image/image_decoder.h"

struct jpeg_common_struct;
struct jpeg_decompress_struct;

// The three words of decode_context::decoder_state this decoder uses.
enum JpegdecState { JPEGDEC_OBJECT = 0, JPEGDEC_ERRORS = 1, JPEGDEC_OUTPUT = 2 };

// Allocated from the decompressor's image pool, freed with it.
struct jpegdec_output {
    uint8_t* row;           // the bitmap row to fill next
    unsigned char** buffer; // one row of output_width x output_components samples
};

extern const image_decoder jpeg_decoder;

// Adds jpeg_decoder to the image decoder table the first time; later calls
// do nothing.
void register_jpeg_decoder();

int jpegdec_open(decode_context* context);
int jpegdec_decode(decode_context* context, uint8_t* bits, intptr_t stride, int flags);
void jpegdec_release(decode_context* context);

// libjpeg's error exit: jumps back to the entry point that armed the jump
// buffer (jpegdec_open or jpegdec_decode), which then fails.
[[noreturn]] void jpegdec_error_exit(jpeg_common_struct* object);
// libjpeg's message output: nothing is shown.
void jpegdec_output_message(jpeg_common_struct* object);
// Converts the sample row into the current bitmap row: blue, green, red.
void jpegdec_put_row(jpeg_decompress_struct* object, jpegdec_output* output);
