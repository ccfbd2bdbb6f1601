// Fuzz target: arbitrary bytes through the JPEG decoder's open, decode and
// release, as the image library drives them. Built for libFuzzer with
// clang (-DKESTRIN_FUZZ=ON); the host tests replay it over mutations of the
// window picture.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/runtime.h"
#include "image/image_decoder.h"
#include "image/jpeg_decoder.h"

namespace {

// Larger pictures are opened and released but not decoded, so that a
// header declaring a huge picture does not exhaust memory.
constexpr int64_t MAX_DECODED_BYTES = 16 << 20;

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    main_heap = HeapCreate(0, 4096, 0);
    image_decoders_start();
    register_jpeg_decoder();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_once();
    if (size > size_t(LENGTH_NOT_GIVEN - 1)) return 0;
    if (!find_image_decoder(data, int32_t(size))) return 0;
    decode_context* c = image_decode_context;
    int64_t stride = dib_row_stride(c->width, c->depth);
    if (c->width > 0 && c->height > 0 && stride * c->height <= MAX_DECODED_BYTES) {
        std::vector<uint8_t> bits(size_t(stride * c->height));
        c->decoder->decode(c, bits.data(), intptr_t(stride), DECODE_BOTTOM_UP);
    }
    c->decoder->release(c);
    return 0;
}
