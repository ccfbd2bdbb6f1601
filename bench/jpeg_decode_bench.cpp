// Prints how long the window picture takes to decode: through the decoder
// table into plain memory, and on Windows also as a full image load into a
// DIB section. Run by hand; nothing here is a pass or fail.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/runtime.h"
#include "image/image_decoder.h"
#include "image/jpeg_decoder.h"
#include "resources/picture.h"
#ifdef _WIN32
#include "image/image.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

template <class F> void measure(const char* what, int rounds, F f) {
    f(); // warm up
    Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; i++)
        f();
    double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    std::printf("%-44s %9.1f us per picture (%d rounds)\n", what, us, rounds);
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 300;
    main_heap = HeapCreate(0, 4096, 0);
    image_decoders_start();
    register_jpeg_decoder();
    std::vector<uint8_t> bits(992 * 100);
    measure("decode 330 x 100 into memory", rounds, [&] {
        find_image_decoder(kestrin_picture, LENGTH_NOT_GIVEN);
        decode_context* c = image_decode_context;
        c->decoder->decode(c, bits.data(), 992, DECODE_BOTTOM_UP);
        c->decoder->release(c);
    });
#ifdef _WIN32
    images_start();
    measure("load_image_from_memory into a DIB section", rounds, [] {
        load_image_from_memory(1, kestrin_picture);
        release_image(1);
    });
#endif
    HeapDestroy(main_heap);
    return 0;
}
