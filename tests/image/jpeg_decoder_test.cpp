// The JPEG decoder through the decoder table, decoding into plain memory as
// the image library's DIB sections would receive it.
#include <cstring>

#include <gtest/gtest.h>

#include "image/image_decoder.h"
#include "image/jpeg_decoder.h"
#include "resources/picture.h"
#include "tests/image/image_test_support.h"
#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

struct Decoded {
    uint32_t format = 0;
    int decoded = 0;
    decode_context context{}; // as open left it
    intptr_t stride = 0;
    std::vector<uint8_t> bits;
};

constexpr uint8_t UNTOUCHED = 0xCD;

Decoded decode(const uint8_t* data, int32_t length, int flags = DECODE_BOTTOM_UP) {
    Decoded d;
    d.format = find_image_decoder(data, length);
    if (!d.format) return d;
    decode_context* c = image_decode_context;
    d.context = *c;
    d.stride = intptr_t(dib_row_stride(c->width, c->depth));
    d.bits.assign(size_t(d.stride) * size_t(c->height), UNTOUCHED);
    d.decoded = c->decoder->decode(c, d.bits.data(), d.stride, flags);
    c->decoder->release(c);
    return d;
}

Decoded decode(const std::vector<uint8_t>& data, int flags = DECODE_BOTTOM_UP) {
    return decode(data.data(), int32_t(data.size()), flags);
}

std::vector<uint8_t> picture() {
    return std::vector<uint8_t>(kestrin_picture, kestrin_picture + kestrin_picture_size);
}

// Offset of the first marker `code` (its 0xFF byte) in a JPEG stream.
size_t marker_offset(const std::vector<uint8_t>& jpeg, uint8_t code) {
    for (size_t i = 0; i + 1 < jpeg.size(); i++)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
    return 0;
}

// Blue, green, red of pixel x of picture row y in a decoded buffer.
const uint8_t* pixel(const Decoded& d, int x, int y, int flags = DECODE_BOTTOM_UP) {
    int row = flags == DECODE_BOTTOM_UP ? d.context.height - 1 - y : y;
    return d.bits.data() + size_t(row) * size_t(d.stride) + 3 * size_t(x);
}

// Every pixel of the decoded buffer against the reference RGB samples, and
// the row padding left as it was.
void expect_same_picture(const Decoded& d, const kt::Rgb& reference, int flags) {
    ASSERT_EQ(reference.width, d.context.width);
    ASSERT_EQ(reference.height, d.context.height);
    int mismatches = 0;
    for (int y = 0; y < reference.height; y++) {
        for (int x = 0; x < reference.width; x++) {
            const uint8_t* p = pixel(d, x, y, flags);
            const uint8_t* r = &reference.samples[(size_t(y) * reference.width + x) * 3];
            if (p[0] != r[2] || p[1] != r[1] || p[2] != r[0]) mismatches++;
        }
        const uint8_t* pad = pixel(d, reference.width, y, flags);
        for (intptr_t i = 3 * reference.width; i < d.stride; i++, pad++)
            EXPECT_EQ(*pad, UNTOUCHED) << "padding of row " << y;
    }
    EXPECT_EQ(mismatches, 0);
}

struct JpegDecoderTest : ::testing::Test {
    kt::Runtime runtime;
    void SetUp() override {
        ASSERT_TRUE(image_decoders_start());
        ASSERT_TRUE(register_image_decoder(&jpeg_decoder));
    }
};

TEST_F(JpegDecoderTest, EmbeddedPictureMatchesTheReferenceDecodingBottomUp) {
    kt::Rgb reference = kt::read_ppm(kt::build_file("picture.ppm"));
    ASSERT_EQ(reference.width, 330);
    Decoded d = decode(kestrin_picture, LENGTH_NOT_GIVEN);
    EXPECT_EQ(d.format, four_cc('J', 'P', 'E', 'G'));
    EXPECT_EQ(d.format, 0x4745504Au);
    ASSERT_EQ(d.decoded, 1);
    EXPECT_EQ(d.context.width, 330);
    EXPECT_EQ(d.context.height, 100);
    EXPECT_EQ(d.context.depth, 24);
    EXPECT_EQ(d.context.source_depth, 24);
    EXPECT_EQ(d.stride, 992);
    // The top row of the picture is the last row in memory.
    EXPECT_EQ(d.bits[99 * 992], reference.samples[2]);     // blue of the top-left pixel
    EXPECT_EQ(d.bits[99 * 992 + 2], reference.samples[0]); // red
    expect_same_picture(d, reference, DECODE_BOTTOM_UP);
}

TEST_F(JpegDecoderTest, WithoutTheBottomUpFlagTheFirstRowLandsAtBits) {
    kt::Rgb reference = kt::read_ppm(kt::build_file("picture.ppm"));
    Decoded d = decode(picture(), 0);
    ASSERT_EQ(d.decoded, 1);
    EXPECT_EQ(d.bits[0], reference.samples[2]); // blue of the top-left pixel
    EXPECT_EQ(d.bits[2], reference.samples[0]); // red
    expect_same_picture(d, reference, 0);
}

TEST_F(JpegDecoderTest, LoadWithoutLengthStopsAtTheEndOfImageMarker) {
    kt::Rgb reference = kt::read_ppm(kt::build_file("picture.ppm"));
    // An exactly sized heap copy: a read past its end would be caught.
    std::vector<uint8_t> exact = picture();
    Decoded d = decode(exact.data(), LENGTH_NOT_GIVEN);
    ASSERT_EQ(d.decoded, 1);
    expect_same_picture(d, reference, DECODE_BOTTOM_UP);

    std::vector<uint8_t> followed = picture();
    followed.insert(followed.end(), {0x12, 0xFF, 0xC0, 0x00, 0x01, 0xFF});
    Decoded same = decode(followed.data(), LENGTH_NOT_GIVEN);
    ASSERT_EQ(same.decoded, 1);
    EXPECT_EQ(same.bits, d.bits);
}

TEST_F(JpegDecoderTest, StreamWithoutImageFailsWithoutLengthAndReadsNoFurther) {
    std::vector<uint8_t> empty = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(decode(empty.data(), LENGTH_NOT_GIVEN).format, 0u);
}

TEST_F(JpegDecoderTest, GrayscaleGivesThreeEqualBytesAndSourceDepth24) {
    std::vector<uint8_t> gray;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 24; x++)
            gray.push_back(uint8_t(x * 10 + y));
    Decoded d = decode(kt::compress_jpeg(24, 16, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, gray, 100), 0);
    ASSERT_EQ(d.decoded, 1);
    EXPECT_EQ(d.context.source_depth, 24);
    EXPECT_EQ(d.context.depth, 24);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 24; x++) {
            const uint8_t* p = pixel(d, x, y, 0);
            EXPECT_EQ(p[0], p[1]);
            EXPECT_EQ(p[1], p[2]);
            EXPECT_NEAR(p[0], gray[size_t(y) * 24 + x], 2);
        }
}

struct InkCase {
    const char* name;
    J_COLOR_SPACE stored;
    int tolerance; // the YCC transform of YCCK rounds
};

TEST_F(JpegDecoderTest, CmykAndYcckPicturesAreInvertedInk) {
    const InkCase cases[] = {{"CMYK", JCS_CMYK, 0}, {"YCCK", JCS_YCCK, 2}};
    for (const InkCase& k : cases) {
        SCOPED_TRACE(k.name);
        Decoded d = decode(
            kt::compress_jpeg(16, 16, 4, JCS_CMYK, k.stored, kt::solid(16, 16, {255, 0, 128, 255})),
            0);
        ASSERT_EQ(d.decoded, 1);
        EXPECT_EQ(d.context.source_depth, 32);
        EXPECT_EQ(d.context.depth, 24);
        const uint8_t* p = pixel(d, 5, 7, 0);
        EXPECT_NEAR(p[0], 128, k.tolerance); // blue
        EXPECT_NEAR(p[1], 0, k.tolerance);   // green
        EXPECT_NEAR(p[2], 255, k.tolerance); // red

        // Full black ink wins over every other ink.
        Decoded black = decode(
            kt::compress_jpeg(16, 16, 4, JCS_CMYK, k.stored, kt::solid(16, 16, {40, 200, 90, 0})),
            0);
        ASSERT_EQ(black.decoded, 1);
        const uint8_t* b = pixel(black, 3, 3, 0);
        EXPECT_EQ(b[0] | b[1] | b[2], 0);
    }
}

struct RowCase {
    const char* name;
    J_COLOR_SPACE space;
    std::vector<uint8_t> samples;
    std::vector<uint8_t> expected; // blue, green, red per pixel
};

TEST(JpegPutRow, ConvertsSamplesToBlueGreenRedAndWritesOnlyThePixels) {
    const RowCase cases[] = {
        {"rgb is reordered", JCS_RGB, {1, 2, 3, 250, 251, 252}, {3, 2, 1, 252, 251, 250}},
        {"inverted cmyk",
         JCS_CMYK,
         {255, 0, 128, 255, 200, 100, 50, 128},
         {128, 0, 255, 50 * 128 / 255, 100 * 128 / 255, 200 * 128 / 255}},
        {"no black is black", JCS_CMYK, {255, 255, 255, 0, 9, 9, 9, 0}, {0, 0, 0, 0, 0, 0}},
        {"no ink is white",
         JCS_CMYK,
         {255, 255, 255, 255, 255, 255, 255, 255},
         {255, 255, 255, 255, 255, 255}},
    };
    for (const RowCase& k : cases) {
        SCOPED_TRACE(k.name);
        jpeg_decompress_struct d{};
        d.out_color_space = k.space;
        d.output_width = 2;
        std::vector<uint8_t> samples = k.samples;
        unsigned char* rows[1] = {samples.data()};
        uint8_t target[8];
        std::memset(target, UNTOUCHED, sizeof target);
        jpegdec_output out{target, rows};
        jpegdec_put_row(&d, &out);
        EXPECT_EQ(std::vector<uint8_t>(target, target + 6), k.expected);
        EXPECT_EQ(target[6], UNTOUCHED);
        EXPECT_EQ(target[7], UNTOUCHED);
    }
}

TEST_F(JpegDecoderTest, StreamCutInsideTheEntropyDataStillLoadsWithItsTrueLength) {
    std::vector<uint8_t> data = picture();
    size_t sos = marker_offset(data, 0xDA);
    ASSERT_GT(sos, 0u);
    data.resize(sos + (data.size() - sos) / 2);
    Decoded d = decode(data);
    EXPECT_EQ(d.decoded, 1);
    EXPECT_EQ(d.context.width, 330);
    EXPECT_EQ(d.context.height, 100);
}

struct RefusedCase {
    const char* name;
    std::vector<uint8_t> data;
    int32_t length; // -1: the data's size
};

TEST_F(JpegDecoderTest, DataThatIsNoJpegIsRefusedWithoutTouchingTheHeap) {
    const RefusedCase cases[] = {
        {"length 1", {0xFF, 0xD8, 0xFF}, 1},
        {"length 0", {0xFF, 0xD8, 0xFF}, 0},
        {"end-of-image first", {0xFF, 0xD9, 0xFF, 0xD8}, -1},
        {"bitmap", {'B', 'M', 0, 0}, -1},
        {"icon directory", {0, 0, 1, 0, 1, 0}, -1},
    };
    for (const RefusedCase& k : cases) {
        SCOPED_TRACE(k.name);
        kt::HeapCounts before = kt::heap_counts();
        int32_t length = k.length < 0 ? int32_t(k.data.size()) : k.length;
        EXPECT_EQ(find_image_decoder(k.data.data(), length), 0u);
        kt::HeapCounts after = kt::heap_counts();
        EXPECT_EQ(after.allocations, before.allocations);
        EXPECT_EQ(after.live, before.live);
    }
}

TEST_F(JpegDecoderTest, RefusedStreamsFailInOpenAndLeaveNothingAllocated) {
    std::vector<uint8_t> twelve_bit = picture();
    size_t sof = marker_offset(twelve_bit, 0xC0);
    ASSERT_GT(sof, 0u);
    twelve_bit[sof + 4] = 12; // the frame's sample precision

    std::vector<uint8_t> garbage = {0xFF, 0xD8};
    uint32_t seed = 7;
    for (int i = 0; i < 3000; i++) {
        seed = seed * 1103515245u + 12345u;
        garbage.push_back(uint8_t(seed >> 16));
    }
    std::vector<uint8_t> headers_only = picture();
    headers_only.resize(marker_offset(headers_only, 0xC0)); // no frame, no scan

    const RefusedCase cases[] = {{"12-bit frame", twelve_bit, -1},
                                 {"garbage after the start marker", garbage, -1},
                                 {"tables without a frame", headers_only, -1}};
    for (const RefusedCase& k : cases) {
        SCOPED_TRACE(k.name);
        kt::HeapCounts before = kt::heap_counts();
        EXPECT_EQ(decode(k.data).format, 0u);
        EXPECT_EQ(kt::heap_counts().live, before.live);
    }
#ifndef _WIN32
    // No memory for the decompressor or for its error record.
    const std::vector<uint8_t> whole = picture();
    for (uint32_t k : {1u, 2u}) {
        kt::HeapCounts before = kt::heap_counts();
        posix_fail_nth(FaultCall::heap_alloc, k);
        EXPECT_EQ(find_image_decoder(whole.data(), int32_t(whole.size())), 0u) << k;
        posix_fail_nth(FaultCall::heap_alloc, 0);
        EXPECT_EQ(kt::heap_counts().live, before.live) << k;
    }
#endif
}

TEST_F(JpegDecoderTest, LibraryErrorDuringDecodeReturnsToDecodeAndReleaseFreesAll) {
    kt::HeapCounts before = kt::heap_counts();
    std::vector<uint8_t> data = picture();
    ASSERT_EQ(find_image_decoder(data.data(), int32_t(data.size())), jpeg_decoder.format);
    decode_context* c = image_decode_context;
    EXPECT_GT(kt::heap_counts().live, before.live);
    EXPECT_EQ(jpegdec_decode(c, nullptr, 992, DECODE_BOTTOM_UP), 0); // no bitmap to fill
    // A decompressor in no valid state makes the next library call fail.
    static_cast<jpeg_decompress_struct*>(c->decoder_state[JPEGDEC_OBJECT])->global_state = 0;
    std::vector<uint8_t> bits(size_t(992) * 100);
    EXPECT_EQ(jpegdec_decode(c, bits.data(), 992, DECODE_BOTTOM_UP), 0);
    jpegdec_release(c);
    EXPECT_EQ(kt::heap_counts().live, before.live);
    jpegdec_release(c); // a second release finds nothing left to free
    EXPECT_EQ(kt::heap_counts().live, before.live);
}

TEST_F(JpegDecoderTest, ReleaseWithoutDecodeFreesEverything) {
    kt::HeapCounts before = kt::heap_counts();
    ASSERT_EQ(find_image_decoder(kestrin_picture, LENGTH_NOT_GIVEN), jpeg_decoder.format);
    image_decode_context->decoder->release(image_decode_context);
    EXPECT_EQ(kt::heap_counts().live, before.live);
}

TEST(JpegRegistration, HappensOnce) {
    kt::Runtime runtime;
    ASSERT_TRUE(image_decoders_start());
    register_jpeg_decoder();
    register_jpeg_decoder();
    EXPECT_EQ(image_decoders.count, 1);
    EXPECT_EQ(image_decoders.slots[0], &jpeg_decoder);
}

} // namespace
