#include "image/jpeg_decoder.h"

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "core/runtime.h"
#include "image/jpeg_stream.h"

// The error manager and the jump buffer form one block, so that the error
// exit, which only receives the decompression object, finds the buffer.
struct jpegdec_error_manager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

const image_decoder jpeg_decoder = {jpegdec_open, jpegdec_decode, jpegdec_release,
                                    four_cc('J', 'P', 'E', 'G')};

namespace {

int registered;

jpeg_decompress_struct* object_of(decode_context* c) {
    return static_cast<jpeg_decompress_struct*>(c->decoder_state[JPEGDEC_OBJECT]);
}
jpegdec_error_manager* errors_of(decode_context* c) {
    return static_cast<jpegdec_error_manager*>(c->decoder_state[JPEGDEC_ERRORS]);
}
jpegdec_output* output_of(decode_context* c) {
    return static_cast<jpegdec_output*>(c->decoder_state[JPEGDEC_OUTPUT]);
}

// The steps of an open that call into libjpeg. Kept apart from the frame
// that arms the jump buffer, and like every frame a longjmp can cross here,
// it holds nothing with a destructor.
int start_decompression(decode_context* c, jpeg_decompress_struct* d) {
    jpeg_create_decompress(d);
    // Without a length the stream must be complete: the decoder is given
    // exactly its bytes up to the end-of-image marker and nothing beyond.
    int64_t length = c->length;
    if (length == LENGTH_NOT_GIVEN) length = jpeg_stream_extent(c->data, LENGTH_NOT_GIVEN);
    if (length <= 0) return 0;
    jpeg_mem_src(d, c->data, static_cast<unsigned long>(length));
    if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK || d->jpeg_color_space == JCS_UNKNOWN) return 0;
    d->dct_method = JDCT_ISLOW;
    switch (d->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
        d->out_color_space = JCS_RGB;
        break;
    case JCS_YCCK:
        d->out_color_space = JCS_CMYK;
        break;
    default: // RGB and CMYK keep what the header chose
        break;
    }
    auto* out = static_cast<jpegdec_output*>(d->mem->alloc_small(
        reinterpret_cast<j_common_ptr>(d), JPOOL_IMAGE, sizeof(jpegdec_output)));
    c->decoder_state[JPEGDEC_OUTPUT] = out;
    jpeg_calc_output_dimensions(d);
    JDIMENSION samples = (d->output_width * d->output_components + 3) & ~JDIMENSION(3);
    out->row = nullptr;
    out->buffer = d->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(d), JPOOL_IMAGE, samples, 1);
    jpeg_start_decompress(d);
    c->width = static_cast<int32_t>(d->output_width);
    c->height = static_cast<int32_t>(d->output_height);
    c->depth = 24;
    c->source_depth = 8 * d->output_components;
    return 1;
}

int read_rows(decode_context* c, uint8_t* bits, intptr_t stride, int flags) {
    jpeg_decompress_struct* d = object_of(c);
    jpegdec_output* out = output_of(c);
    for (int32_t i = 0; i < c->height; i++) {
        intptr_t row = (flags & DECODE_BOTTOM_UP) ? c->height - 1 - i : i;
        out->row = bits + stride * row;
        jpeg_read_scanlines(d, out->buffer, 1);
        jpegdec_put_row(d, out);
    }
    jpeg_finish_decompress(d);
    return 1;
}

} // namespace

void register_jpeg_decoder() {
    if (registered) return;
    if (register_image_decoder(&jpeg_decoder)) registered = 1;
}

int jpegdec_open(decode_context* c) {
    if (!c->data || c->length < 2 || c->data[0] != 0xFF || c->data[1] != 0xD8) return 0;
    // Zeroed, so that releasing is safe at every step of the creation.
    auto* d =
        static_cast<jpeg_decompress_struct*>(heap_alloc_zeroed(sizeof(jpeg_decompress_struct)));
    auto* e = static_cast<jpegdec_error_manager*>(heap_alloc(sizeof(jpegdec_error_manager)));
    if (!d || !e) {
        heap_free(d);
        heap_free(e);
        return 0;
    }
    c->decoder_state[JPEGDEC_OBJECT] = d;
    c->decoder_state[JPEGDEC_ERRORS] = e;
    d->err = jpeg_std_error(&e->pub);
    e->pub.error_exit = jpegdec_error_exit;
    e->pub.output_message = jpegdec_output_message;
    if (setjmp(e->jump)) {
        jpegdec_release(c);
        return 0;
    }
    if (!start_decompression(c, d)) {
        jpegdec_release(c);
        return 0;
    }
    return 1;
}

int jpegdec_decode(decode_context* c, uint8_t* bits, intptr_t stride, int flags) {
    jpegdec_error_manager* e = errors_of(c);
    if (!e || !output_of(c) || !bits) return 0;
    if (setjmp(e->jump)) return 0;
    return read_rows(c, bits, stride, flags);
}

void jpegdec_release(decode_context* c) {
    if (jpeg_decompress_struct* d = object_of(c)) {
        // Frees libjpeg's pools, the output record with them.
        jpeg_destroy_decompress(d);
        heap_free(d);
    }
    heap_free(errors_of(c));
    // Cleared, so that a second release finds nothing to free twice.
    c->decoder_state[JPEGDEC_OBJECT] = nullptr;
    c->decoder_state[JPEGDEC_ERRORS] = nullptr;
    c->decoder_state[JPEGDEC_OUTPUT] = nullptr;
}

void jpegdec_error_exit(jpeg_common_struct* object) {
    auto* e = reinterpret_cast<jpegdec_error_manager*>(object->err);
    std::longjmp(e->jump, 1);
}

void jpegdec_output_message(jpeg_common_struct*) {}

void jpegdec_put_row(jpeg_decompress_struct* d, jpegdec_output* out) {
    const unsigned char* s = out->buffer[0];
    uint8_t* p = out->row;
    if (d->out_color_space == JCS_CMYK) {
        // Inverted samples, as Adobe writes them: 255 is no ink.
        for (JDIMENSION x = 0; x < d->output_width; x++, s += 4, p += 3) {
            unsigned k = s[3];
            p[0] = uint8_t(s[2] * k / 255);
            p[1] = uint8_t(s[1] * k / 255);
            p[2] = uint8_t(s[0] * k / 255);
        }
        return;
    }
    for (JDIMENSION x = 0; x < d->output_width; x++, s += 3, p += 3) {
        p[0] = s[2];
        p[1] = s[1];
        p[2] = s[0];
    }
}
