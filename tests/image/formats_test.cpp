// The window-free parts of the image library: row strides, the decoder
// table and the bounds checks of BMP, icon and JPEG data.
#include <cstring>

#include <gtest/gtest.h>

#include "image/image_decoder.h"
#include "image/image_formats.h"
#include "image/jpeg_stream.h"
#include "resources/picture.h"
#include "tests/image/bitmap_builders.h"
#include "tests/support/test_support.h"
#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

TEST(DibRowStride, PadsRowsToFourBytes) {
    // The picture's 330 pixels, and widths just at and just past a 32-pixel step.
    struct Case {
        int bits;
        int64_t stride_of_330, stride_of_320, stride_of_321;
    };
    const Case cases[] = {{1, 44, 40, 44},       {4, 168, 160, 164},  {8, 332, 320, 324},
                          {15, 660, 640, 644},   {16, 660, 640, 644}, {24, 992, 960, 964},
                          {32, 1320, 1280, 1284}};
    for (const Case& c : cases) {
        EXPECT_EQ(dib_row_stride(330, c.bits), c.stride_of_330) << c.bits << " bits";
        EXPECT_EQ(dib_row_stride(320, c.bits), c.stride_of_320) << c.bits << " bits";
        EXPECT_EQ(dib_row_stride(321, c.bits), c.stride_of_321) << c.bits << " bits";
    }
    EXPECT_EQ(dib_row_stride(1, 24), 4);
    EXPECT_EQ(dib_row_stride(3, 24), 12);
    EXPECT_EQ(dib_row_stride(0x7FFFFFFF, 32), int64_t(0x7FFFFFFF) * 4); // no overflow
}

// Fake decoders that record the order in which they are offered data.
std::vector<char> offered;
int state_seen_clear;

template <char Name, int Accepts> int fake_open(decode_context* c) {
    offered.push_back(Name);
    bool clear = true;
    for (void* word : c->decoder_state)
        clear = clear && !word;
    state_seen_clear += clear;
    c->decoder_state[0] = c; // dirties the state for the next decoder
    if (!Accepts) return 0;
    c->width = 3;
    return 1;
}
int fake_decode(decode_context*, uint8_t*, intptr_t, int) {
    return 1;
}
void fake_release(decode_context*) {}

const image_decoder refuses_a = {fake_open<'a', 0>, fake_decode, fake_release,
                                 four_cc('A', 0, 0, 0)};
const image_decoder accepts_b = {fake_open<'b', 1>, fake_decode, fake_release,
                                 four_cc('B', 0, 0, 0)};
const image_decoder accepts_c = {fake_open<'c', 1>, fake_decode, fake_release,
                                 four_cc('C', 0, 0, 0)};

struct DecoderTableTest : ::testing::Test {
    kt::Runtime runtime;
    void SetUp() override {
        offered.clear();
        state_seen_clear = 0;
        ASSERT_TRUE(image_decoders_start());
    }
};

TEST_F(DecoderTableTest, FirstAcceptingDecoderInRegistrationOrderWinsWithAClearState) {
    register_image_decoder(&refuses_a);
    register_image_decoder(&accepts_b);
    register_image_decoder(&accepts_c);
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(find_image_decoder(data, 4), accepts_b.format);
    EXPECT_EQ(offered, (std::vector<char>{'a', 'b'}));
    EXPECT_EQ(state_seen_clear, 2);
    EXPECT_EQ(image_decode_context->decoder, &accepts_b);
    EXPECT_EQ(image_decode_context->data, data);
    EXPECT_EQ(image_decode_context->length, 4);
    EXPECT_EQ(image_decode_context->width, 3);
}

TEST_F(DecoderTableTest, NoDecoderOrNoneAcceptingFails) {
    const uint8_t data[2] = {0xFF, 0xD8};
    EXPECT_EQ(find_image_decoder(data, 2), 0u);
    register_image_decoder(&refuses_a);
    EXPECT_EQ(find_image_decoder(data, 2), 0u);
    EXPECT_EQ(image_decode_context->decoder, nullptr);
}

#ifndef _WIN32
TEST_F(DecoderTableTest, WithoutMemoryForItsContextNoDecoderIsFound) {
    register_image_decoder(&accepts_b);
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(image_decoders_start(), 0);
    posix_fail_nth(FaultCall::heap_alloc, 0);
    register_image_decoder(&accepts_b);
    const uint8_t data[2] = {0, 0};
    EXPECT_EQ(find_image_decoder(data, 2), 0u);
}
#endif

TEST_F(DecoderTableTest, TableHoldsThirtyDecodersAndRefusesMore) {
    for (int i = 0; i < MAX_IMAGE_DECODERS; i++)
        EXPECT_EQ(register_image_decoder(&refuses_a), 1);
    EXPECT_EQ(register_image_decoder(&accepts_b), 0);
    EXPECT_EQ(image_decoders.count, MAX_IMAGE_DECODERS);
    const uint8_t data[2] = {0, 0};
    EXPECT_EQ(find_image_decoder(data, 2), 0u);
}

std::vector<uint8_t> bmp24(int32_t w, int32_t h) {
    return kt::make_bmp(w, h, 24, kt::dib_rows(w, h < 0 ? -h : h, 24, [](int x, int y) {
                            return std::vector<uint8_t>{uint8_t(x), uint8_t(y), 9};
                        }));
}

TEST(BmpLayout, DescribesAWellFormedFileWithOrWithoutALength) {
    std::vector<uint8_t> file = bmp24(5, 3);
    for (int32_t length : {int32_t(file.size()), LENGTH_NOT_GIVEN}) {
        bmp_layout b{};
        ASSERT_TRUE(parse_bmp(file.data(), length, &b));
        EXPECT_EQ(b.width, 5);
        EXPECT_EQ(b.height, 3);
        EXPECT_EQ(b.bit_count, 24);
        EXPECT_EQ(b.pixel_offset, 54u);
    }
    // A size field left 0 by its writer: the headers alone bound the file.
    std::vector<uint8_t> unsized = bmp24(5, 3);
    kt::put32(unsized, 2, 0);
    bmp_layout u{};
    EXPECT_TRUE(parse_bmp(unsized.data(), LENGTH_NOT_GIVEN, &u));
    EXPECT_EQ(u.width, 5);

    std::vector<uint8_t> narrow = bmp24(1, 1);
    EXPECT_TRUE(parse_bmp(narrow.data(), int32_t(narrow.size()), &u)) << "one pixel wide";

    std::vector<uint8_t> top_down = bmp24(5, -3);
    bmp_layout b{};
    ASSERT_TRUE(parse_bmp(top_down.data(), int32_t(top_down.size()), &b));
    EXPECT_EQ(b.height, -3);
    std::vector<uint8_t> palette(4 * 256, 0);
    std::vector<uint8_t> eight = kt::make_bmp(4, 2, 8, std::vector<uint8_t>(8, 1), palette);
    ASSERT_TRUE(parse_bmp(eight.data(), int32_t(eight.size()), &b));
    EXPECT_EQ(b.pixel_offset, 54u + 1024u);
    // Every bit count a DIB may have.
    for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
        const std::vector<uint8_t> rows(size_t(2 * dib_row_stride(5, bits)), 0);
        std::vector<uint8_t> f =
            kt::make_bmp(5, 2, bits, rows, std::vector<uint8_t>(bits <= 8 ? 4u << bits : 0u, 0));
        ASSERT_TRUE(parse_bmp(f.data(), int32_t(f.size()), &b)) << bits;
        EXPECT_EQ(b.bit_count, bits);
        // Run-length data, at its own bit count only, read up to its coded size.
        if (bits != 4 && bits != 8) continue;
        for (uint32_t compression : {1u, 2u}) {
            std::vector<uint8_t> rle =
                kt::make_bmp(5, 2, bits, std::vector<uint8_t>(16, 0),
                             std::vector<uint8_t>(4u << bits, 0), compression);
            kt::put32(rle, 34, 16);
            EXPECT_EQ(parse_bmp(rle.data(), int32_t(rle.size()), &b),
                      compression == (bits == 8 ? 1u : 2u))
                << bits << " bits, compression " << compression;
        }
    }
}

struct BmpDamage {
    const char* name;
    void (*damage)(std::vector<uint8_t>&);
    bool with_length; // checked with the data's length, else without one
};

TEST(BmpLayout, RefusesFilesThatPointOutsideTheirBound) {
    const BmpDamage cases[] = {
        {"cut in the last row", [](std::vector<uint8_t>& f) { f.pop_back(); }, true},
        {"declared size short of the rows", [](std::vector<uint8_t>& f) { kt::put32(f, 2, 60); },
         false},
        {"pixel offset past the end", [](std::vector<uint8_t>& f) { kt::put32(f, 10, 0x7FFFFFF0); },
         true},
        {"huge height", [](std::vector<uint8_t>& f) { kt::put32(f, 22, 0x7FFFFFFF); }, true},
        {"most negative height", [](std::vector<uint8_t>& f) { kt::put32(f, 22, 0x80000000); },
         false},
        {"most negative height, file size left 0",
         [](std::vector<uint8_t>& f) {
             kt::put32(f, 22, 0x80000000);
             kt::put32(f, 2, 0);
         },
         false},
        {"huge width", [](std::vector<uint8_t>& f) { kt::put32(f, 18, 0x7FFFFFFF); }, false},
        {"zero width", [](std::vector<uint8_t>& f) { kt::put32(f, 18, 0); }, true},
        {"zero height", [](std::vector<uint8_t>& f) { kt::put32(f, 22, 0); }, true},
        {"core header", [](std::vector<uint8_t>& f) { kt::put32(f, 14, 12); }, true},
        {"header larger than the file", [](std::vector<uint8_t>& f) { kt::put32(f, 14, 4000); },
         true},
        {"bit count 7", [](std::vector<uint8_t>& f) { kt::put16(f, 28, 7); }, true},
        {"compressed as JPEG", [](std::vector<uint8_t>& f) { kt::put32(f, 30, 4); }, true},
        {"run-length without its size", [](std::vector<uint8_t>& f) { kt::put32(f, 30, 1); }, true},
        {"palette larger than the bit count allows",
         [](std::vector<uint8_t>& f) {
             kt::put16(f, 28, 1);
             kt::put32(f, 46, 3);
         },
         true},
        {"cut inside the file header", [](std::vector<uint8_t>& f) { f.resize(13); }, true},
        {"cut inside the info header", [](std::vector<uint8_t>& f) { f.resize(40); }, true},
    };
    for (const BmpDamage& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = bmp24(5, 3);
        c.damage(file);
        bmp_layout b{};
        // An exactly sized copy: any read past it would be caught.
        std::vector<uint8_t> exact(file);
        EXPECT_FALSE(
            parse_bmp(exact.data(), c.with_length ? int32_t(exact.size()) : LENGTH_NOT_GIVEN, &b));
    }
    const uint8_t bm[2] = {'B', 'M'};
    bmp_layout b{};
    EXPECT_TRUE(is_bmp(bm, 2));
    EXPECT_FALSE(parse_bmp(bm, 2, &b));
    EXPECT_FALSE(is_bmp(bm, 1));
}

// A 1 x 1 32-bit bit-field BMP of `total` bytes whose header states
// `header_size` bytes; its one pixel is the last four bytes.
std::vector<uint8_t> bitfield_bmp(uint32_t header_size, uint32_t total) {
    std::vector<uint8_t> file = kt::make_bmp(1, 1, 32, {1, 2, 3, 4}, {}, 3);
    file.resize(total, 0);
    kt::put32(file, 14, header_size);
    kt::put32(file, 10, total - 4);
    kt::put32(file, 2, total);
    return file;
}

// The system reads the masks at header offsets 40 to 51 whatever size the
// header states: they must lie inside the data too.
TEST(BmpLayout, BitFieldMasksAreCountedForEveryHeaderSize) {
    for (uint32_t size = 40; size <= 56; size++) {
        SCOPED_TRACE(size);
        for (bool with_length : {true, false}) {
            const uint32_t whole_size = 14 + (size < 52 ? 52 : size) + 4;
            std::vector<uint8_t> whole = bitfield_bmp(size, whole_size);
            bmp_layout b{};
            EXPECT_TRUE(parse_bmp(whole.data(),
                                  with_length ? int32_t(whole.size()) : LENGTH_NOT_GIVEN, &b));
            EXPECT_EQ(b.pixel_offset, whole_size - 4);
            // Bit fields describe 16-bit pixels too, and no others.
            for (uint16_t bits : {16, 8}) {
                std::vector<uint8_t> other = whole;
                kt::put16(other, 28, bits);
                EXPECT_EQ(parse_bmp(other.data(), int32_t(other.size()), &b), bits == 16) << bits;
            }
            if (size >= 52) continue;
            // The data ends one byte before the last mask does.
            std::vector<uint8_t> short_one = bitfield_bmp(size, 14 + 51);
            EXPECT_FALSE(parse_bmp(short_one.data(),
                                   with_length ? int32_t(short_one.size()) : LENGTH_NOT_GIVEN, &b));
        }
    }
}

TEST(IconDirectory, ChoosesTheDeepestEntryOfTheFirstEntrysSize) {
    struct Case {
        const char* name;
        std::vector<kt::IconEntry> entries;
        int chosen;
    };
    auto e = [](uint8_t size, uint16_t bits) {
        return kt::IconEntry{size, size, bits, kt::icon_image(size, bits, 0x55)};
    };
    const Case cases[] = {
        {"only entry", {e(16, 4)}, 0},
        {"deeper later entry of the same size", {e(32, 4), e(32, 8), e(32, 32)}, 2},
        {"deeper entry of another size is passed over", {e(16, 4), e(32, 32)}, 0},
        {"equal depth does not replace", {e(16, 8), e(16, 8)}, 0},
        {"compared with the choice so far", {e(16, 4), e(16, 32), e(16, 8)}, 1},
        {"the first entry sets the size", {e(32, 8), e(16, 32), e(32, 24)}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> dir = kt::make_icon_directory(c.entries);
        for (int32_t length : {int32_t(dir.size()), LENGTH_NOT_GIVEN}) {
            icon_choice choice{};
            ASSERT_TRUE(choose_icon_entry(dir.data(), length, &choice));
            size_t entry = 6 + 16 * size_t(c.chosen);
            EXPECT_EQ(choice.offset, read_u32(&dir[entry + 12]));
            EXPECT_EQ(choice.bytes, c.entries[size_t(c.chosen)].image.size());
            EXPECT_EQ(choice.bit_count, c.entries[size_t(c.chosen)].bits);
            EXPECT_EQ(choice.width, c.entries[size_t(c.chosen)].width);
            EXPECT_EQ(choice.height, c.entries[size_t(c.chosen)].height);
        }
    }
}

TEST(IconDirectory, RefusesDirectoriesThatPointOutsideTheirData) {
    struct Case {
        const char* name;
        void (*damage)(std::vector<uint8_t>&);
        bool with_length;
    };
    const Case cases[] = {
        {"no entries", [](std::vector<uint8_t>& d) { kt::put16(d, 4, 0); }, false},
        {"more entries than the data holds", [](std::vector<uint8_t>& d) { kt::put16(d, 4, 900); },
         true},
        {"image past the end", [](std::vector<uint8_t>& d) { kt::put32(d, 18, 0x7FFFFF00); }, true},
        {"image cut short", [](std::vector<uint8_t>& d) { d.pop_back(); }, true},
        {"image smaller than its header", [](std::vector<uint8_t>& d) { kt::put32(d, 14, 30); },
         false},
        {"header declares more rows than the image holds",
         [](std::vector<uint8_t>& d) { kt::put32(d, 22 + 8, 4000); }, false},
        {"header declares one row more than the image holds",
         [](std::vector<uint8_t>& d) { kt::put32(d, 22 + 8, 2 * 17); }, false},
        {"header declares a huge width",
         [](std::vector<uint8_t>& d) { kt::put32(d, 22 + 4, 0x7FFFFFFF); }, false},
        {"cut inside the directory", [](std::vector<uint8_t>& d) { d.resize(12); }, true},
        {"cut one byte short of its entry", [](std::vector<uint8_t>& d) { d.resize(21); }, true},
        {"cut inside the count", [](std::vector<uint8_t>& d) { d.resize(5); }, true},
        {"core header", [](std::vector<uint8_t>& d) { kt::put32(d, 22, 12); }, true},
        {"palette larger than the bit count allows",
         [](std::vector<uint8_t>& d) { kt::put32(d, 22 + 32, 300); }, true},
        {"one stacked row: no row of colour", [](std::vector<uint8_t>& d) { kt::put32(d, 30, 1); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> dir =
            kt::make_icon_directory({kt::IconEntry{16, 16, 8, kt::icon_image(16, 8, 1)}});
        c.damage(dir);
        std::vector<uint8_t> exact(dir);
        icon_choice choice{};
        EXPECT_FALSE(choose_icon_entry(
            exact.data(), c.with_length ? int32_t(exact.size()) : LENGTH_NOT_GIVEN, &choice));
    }
    const std::vector<uint8_t> three = {0, 0, 1};
    EXPECT_FALSE(is_icon_directory(three.data(), 3));
    // The narrowest image there is still counts.
    std::vector<uint8_t> one =
        kt::make_icon_directory({kt::IconEntry{1, 1, 8, kt::icon_image(1, 8, 1)}});
    icon_choice choice{};
    EXPECT_TRUE(choose_icon_entry(one.data(), int32_t(one.size()), &choice));
    EXPECT_EQ(choice.width, 1);
}

TEST(IconDirectory, PngImageIsPassedOnWithItsOwnSize) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.resize(64, 0);
    std::vector<uint8_t> dir = kt::make_icon_directory({kt::IconEntry{0, 0, 32, png}});
    icon_choice choice{7, 7, 7, 7, 7}; // left from an earlier choice
    ASSERT_TRUE(choose_icon_entry(dir.data(), int32_t(dir.size()), &choice));
    EXPECT_EQ(choice.width, 0);
    EXPECT_EQ(choice.height, 0);
    EXPECT_EQ(choice.bit_count, 0);
    EXPECT_EQ(choice.bytes, 64u);
}

TEST(JpegStreamExtent, EndsAtTheEndOfImageMarker) {
    EXPECT_EQ(jpeg_stream_extent(kestrin_picture, LENGTH_NOT_GIVEN), int64_t(kestrin_picture_size));
    std::vector<uint8_t> picture(kestrin_picture, kestrin_picture + kestrin_picture_size);
    EXPECT_EQ(jpeg_stream_extent(picture.data(), int64_t(picture.size())), int64_t(picture.size()));
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        int64_t extent;
    };
    const Case cases[] = {
        {"start and end only", {0xFF, 0xD8, 0xFF, 0xD9, 0xAA}, 4},
        {"fill bytes before a marker", {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xD9}, 6},
        {"segment skipped by its length",
         {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0xFF, 0xD9, 0xFF, 0xD9},
         10},
        {"stuffed byte and restart marker in scan data",
         {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD3, 0x56, 0xFF, 0xD9},
         15},
        {"stray bytes between segments", {0xFF, 0xD8, 0x01, 0x02, 0xFF, 0xD9}, 6},
        {"no start marker", {0xFF, 0xD9, 0xFF, 0xD9}, 0},
        {"no end marker", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x00, 0x00}, 0},
        {"segment longer than the data", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x40, 0xFF, 0xD9}, 0},
        {"segment length below two", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9}, 0},
        {"second start marker", {0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xD9}, 0},
        {"cut after a marker byte", {0xFF, 0xD8, 0xFF, 0xE0, 0x00}, 0},
        {"marker without a length", {0xFF, 0xD8, 0xFF, 0x01, 0xFF, 0xD9}, 6},
        {"first and last restart markers",
         {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x12, 0xFF, 0xD0, 0x34, 0xFF, 0xD7, 0xFF, 0xD9},
         14},
        {"start and end only, nothing after", {0xFF, 0xD8, 0xFF, 0xD9}, 4},
        {"cut inside fill bytes", {0xFF, 0xD8, 0xFF, 0xFF}, 0},
        {"end marker right after a stuffed byte",
         {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x12, 0xFF, 0x00, 0xFF, 0xD9},
         11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> exact(c.data);
        EXPECT_EQ(jpeg_stream_extent(exact.data(), int64_t(exact.size())), c.extent);
    }
    EXPECT_EQ(jpeg_stream_extent(nullptr, 100), 0);
}

} // namespace
