#include "image/image_decoder.h"

#include <cstring>

#include "core/runtime.h"

image_decoder_table image_decoders;
decode_context* image_decode_context;

int image_decoders_start() {
    image_decoders.count = 0;
    image_decode_context = static_cast<decode_context*>(heap_alloc_zeroed(sizeof(decode_context)));
    return image_decode_context != nullptr;
}

int register_image_decoder(const image_decoder* decoder) {
    // The table has a fixed size; a decoder beyond it is refused rather than
    // written past the end.
    if (!decoder || image_decoders.count >= MAX_IMAGE_DECODERS) return 0;
    image_decoders.slots[image_decoders.count++] = decoder;
    return 1;
}

uint32_t find_image_decoder(const void* address, int32_t length) {
    decode_context* c = image_decode_context;
    if (!c) return 0;
    std::memset(c, 0, sizeof *c);
    c->data = static_cast<const uint8_t*>(address);
    c->length = length;
    for (int32_t i = 0; i < image_decoders.count; i++) {
        const image_decoder* d = image_decoders.slots[i];
        std::memset(c->decoder_state, 0, sizeof c->decoder_state);
        if (d->open(c)) {
            c->decoder = d;
            return d->format;
        }
    }
    return 0;
}

int64_t dib_row_stride(int64_t w, int b) {
    switch (b) {
    case 1:
        return (w + 31) / 32 * 4;
    case 4:
        return (w + 7) / 8 * 4;
    case 8:
        return (w + 3) / 4 * 4;
    case 15:
    case 16:
        return (w + 1) / 2 * 4;
    case 24:
        return (3 * w + 3) / 4 * 4;
    default:
        return 4 * w;
    }
}
