// Image objects under Windows (Wine): loading BMP, icon and JPEG data into
// DIB sections and icons, the registry rules, and failures that leave no
// object behind.
#include <cstring>

#include <gtest/gtest.h>

#include "image/image.h"
#include "image/image_formats.h"
#include "image/jpeg_decoder.h"
#include "resources/picture.h"
#include "tests/image/bitmap_builders.h"
#include "tests/image/image_test_support.h"

namespace {

struct ImageTest : ::testing::Test {
    kt::Runtime runtime;
    void SetUp() override {
        ASSERT_TRUE(image_decoders_start());
        ASSERT_TRUE(images_start());
        ASSERT_TRUE(register_image_decoder(&jpeg_decoder));
    }
    void TearDown() override { images_end(); }
};

image_record* record(ObjectId n) {
    return static_cast<image_record*>(registry_lookup(image_registry, n));
}

std::string format_of(const image_record* r) {
    return std::string(reinterpret_cast<const char*>(&r->format), 4);
}

intptr_t load(ObjectId n, const std::vector<uint8_t>& data) {
    return load_image_from_memory_sized(n, data.data(), int32_t(data.size()));
}

DIBSECTION dib_of(intptr_t handle) {
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(reinterpret_cast<HBITMAP>(handle), sizeof ds, &ds), int(sizeof ds));
    return ds;
}

// Byte i of pixel (x, y) counted from the top of the picture. (Wine reports
// a positive dsBmih.biHeight for top-down sections too, so the caller says.)
uint8_t dib_byte(const DIBSECTION& ds, int x, int y, int i, bool bottom_up = true) {
    int row = bottom_up ? ds.dsBm.bmHeight - 1 - y : y;
    return static_cast<uint8_t*>(
        ds.dsBm.bmBits)[row * ds.dsBm.bmWidthBytes + x * ds.dsBm.bmBitsPixel / 8 + i];
}

TEST_F(ImageTest, EmbeddedPictureBecomesABottomUp24BitDibSection) {
    kt::HeapCounts before = kt::heap_counts();
    intptr_t h = load_image_from_memory(1, kestrin_picture);
    ASSERT_NE(h, 0);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(h)), DWORD(OBJ_BITMAP));
    DIBSECTION ds = dib_of(h);
    EXPECT_EQ(ds.dsBm.bmWidth, 330);
    EXPECT_EQ(ds.dsBm.bmHeight, 100);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 992);
    EXPECT_EQ(ds.dsBmih.biHeight, 100); // positive: bottom-up
    image_record* r = record(1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->handle, reinterpret_cast<HANDLE>(h));
    EXPECT_EQ(r->width, 330);
    EXPECT_EQ(r->height, 100);
    EXPECT_EQ(r->depth, 24);
    EXPECT_EQ(r->source_depth, 24);
    EXPECT_EQ(format_of(r), "JPEG");

    kt::Rgb reference = kt::read_ppm(kt::build_file("picture.ppm"));
    ASSERT_EQ(reference.width, 330);
    int mismatches = 0;
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 330; x++)
            for (int i = 0; i < 3; i++)
                mismatches +=
                    dib_byte(ds, x, y, i) != reference.samples[(size_t(y) * 330 + x) * 3 + 2 - i];
    EXPECT_EQ(mismatches, 0);
    // The top row of the picture is the last row in memory.
    EXPECT_EQ(static_cast<uint8_t*>(ds.dsBm.bmBits)[99 * 992], reference.samples[2]);

    EXPECT_EQ(release_image(1), 1);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(h)), 0u);
    EXPECT_EQ(kt::heap_counts().live, before.live + 1); // the record slot stays
}

struct BmpCase {
    const char* name;
    std::vector<uint8_t> file;
    int depth;
    int source_depth;
    // Expected blue, green, red(, alpha) of pixels (0,0) and (1,0) from the top.
    std::vector<uint8_t> top_left;
    std::vector<uint8_t> next;
};

std::vector<BmpCase> bmp_cases() {
    auto rows24 = kt::dib_rows(2, 2, 24, [](int x, int y) {
        return std::vector<uint8_t>{uint8_t(10 + x), uint8_t(20 + y), 30};
    });
    auto rows32 = [](uint8_t alpha_of_one) {
        return kt::dib_rows(2, 2, 32, [=](int x, int y) {
            return std::vector<uint8_t>{uint8_t(10 + x), uint8_t(20 + y), 30,
                                        uint8_t(x == 1 && y == 0 ? alpha_of_one : 0)};
        });
    };
    std::vector<uint8_t> palette = {1, 2, 3, 0, 200, 150, 100, 0};
    std::vector<uint8_t> rows8 = {0, 1, 0, 0, 1, 0, 0, 0}; // 2 x 2, rows padded to 4
    return {
        // Bottom-up: the file's second row is the top of the picture.
        {"24 bits", kt::make_bmp(2, 2, 24, rows24), 24, 24, {10, 21, 30}, {11, 21, 30}},
        {"24 bits top-down", kt::make_bmp(2, -2, 24, rows24), 24, 24, {10, 20, 30}, {11, 20, 30}},
        {"8 bits with a palette",
         kt::make_bmp(2, 2, 8, rows8, palette),
         24,
         8,
         {200, 150, 100},
         {1, 2, 3}},
        {"32 bits, every alpha 0: opaque",
         kt::make_bmp(2, 2, 32, rows32(0)),
         32,
         32,
         {10, 21, 30, 255},
         {11, 21, 30, 255}},
        {"32 bits, one alpha set: kept",
         kt::make_bmp(2, 2, 32, rows32(7)),
         32,
         32,
         {10, 21, 30, 0},
         {11, 21, 30, 0}},
    };
}

TEST_F(ImageTest, BmpDataLoadsIntoADibSectionOfAtLeast24Bits) {
    for (const BmpCase& c : bmp_cases()) {
        SCOPED_TRACE(c.name);
        intptr_t h = load(2, c.file);
        ASSERT_NE(h, 0);
        DIBSECTION ds = dib_of(h);
        EXPECT_EQ(ds.dsBm.bmBitsPixel, c.depth);
        image_record* r = record(2);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->width, 2);
        EXPECT_EQ(r->height, 2);
        EXPECT_EQ(r->depth, c.depth);
        EXPECT_EQ(r->source_depth, c.source_depth);
        EXPECT_EQ(format_of(r), std::string("BMP\0", 4));
        for (size_t i = 0; i < c.top_left.size(); i++) {
            bool bottom_up = read_i32(&c.file[22]) > 0;
            EXPECT_EQ(dib_byte(ds, 0, 0, int(i), bottom_up), c.top_left[i]) << "byte " << i;
            EXPECT_EQ(dib_byte(ds, 1, 0, int(i), bottom_up), c.next[i]) << "byte " << i;
        }
    }
    // The one non-zero alpha of the last case stays as stored.
    DIBSECTION ds = dib_of(reinterpret_cast<intptr_t>(record(2)->handle));
    EXPECT_EQ(dib_byte(ds, 1, 1, 3), 7); // file row 0 is the bottom row
    EXPECT_EQ(dib_byte(ds, 0, 1, 3), 0);
}

TEST_F(ImageTest, BmpDataIsNeverOfferedToADecoder) {
    std::vector<uint8_t> file = kt::make_bmp(2, 2, 24, std::vector<uint8_t>(16, 0));
    file.resize(30); // a broken "BM" file
    EXPECT_EQ(load(3, file), 0);
    EXPECT_EQ(image_decode_context->data, nullptr); // no decoder saw it
}

TEST_F(ImageTest, IconDirectoryLoadsItsChosenEntry) {
    std::vector<uint8_t> dir = kt::make_icon_directory({
        {16, 16, 4, kt::icon_image(16, 4, 0x00)},
        {32, 32, 32, kt::icon_image(32, 32, 0xEE)}, // another size: passed over
        {16, 16, 24, kt::icon_image(16, 24, 0x33)}, // deeper, same size: chosen
    });
    for (int32_t length : {int32_t(dir.size()), LENGTH_NOT_GIVEN}) {
        intptr_t h = load_image_from_memory_sized(4, dir.data(), length);
        ASSERT_NE(h, 0);
        EXPECT_NE(GetObjectType(reinterpret_cast<HGDIOBJ>(h)), DWORD(OBJ_BITMAP));
        image_record* r = record(4);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(format_of(r), "ICON");
        EXPECT_EQ(r->width, 16);
        EXPECT_EQ(r->height, 16);
        EXPECT_NE(r->depth, 0);
        EXPECT_EQ(r->source_depth, r->depth);
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(h), &info));
        uint32_t pixels[16 * 16] = {};
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HDC dc = CreateCompatibleDC(nullptr);
        EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, 16, pixels, &bi, DIB_RGB_COLORS), 16);
        DeleteDC(dc);
        EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x333333u);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
}

TEST_F(ImageTest, MonochromeIconTakesItsSizeFromTheMask) {
    std::vector<uint8_t> dir = kt::make_icon_directory({{16, 16, 1, kt::icon_image(16, 1, 0xFF)}});
    intptr_t h = load(10, dir);
    ASSERT_NE(h, 0);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(h), &info));
    EXPECT_EQ(info.hbmColor, nullptr); // a monochrome icon: the mask holds both halves
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    image_record* r = record(10);
    EXPECT_EQ(r->width, 16);
    EXPECT_EQ(r->height, 16);
    EXPECT_EQ(r->depth, 1);
    EXPECT_EQ(r->source_depth, 1);
}

TEST_F(ImageTest, ProgramIconLoadsItsFirstSizeWithAlpha) {
    std::string path = std::string(KESTRIN_SOURCE_DIR) + "/resources/kestrin.ico";
    if (path[0] == '/') path = "Z:" + path;
    std::vector<uint8_t> ico = kt::bytes_of(kt::read_file(path));
    ASSERT_GT(ico.size(), 100u);
    intptr_t h = load_image_from_memory(9, ico.data());
    ASSERT_NE(h, 0);
    image_record* r = record(9);
    EXPECT_EQ(format_of(r), "ICON");
    EXPECT_EQ(r->width, 32); // the 16 x 16 entry is another size
    EXPECT_EQ(r->height, 32);
    EXPECT_EQ(release_image(9), 1);
}

TEST_F(ImageTest, BadDataFailsAndLeavesTheNumberEmpty) {
    std::vector<uint8_t> twelve_bit(kestrin_picture, kestrin_picture + kestrin_picture_size);
    for (size_t i = 0; i + 1 < twelve_bit.size(); i++)
        if (twelve_bit[i] == 0xFF && twelve_bit[i + 1] == 0xC0) {
            twelve_bit[i + 4] = 12;
            break;
        }
    std::vector<uint8_t> bmp = kt::make_bmp(4, 4, 24, std::vector<uint8_t>(48, 0));
    std::vector<uint8_t> cut_bmp(bmp.begin(), bmp.end() - 1);
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"random bytes", {0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46}},
        {"bitmap one byte short", cut_bmp},
        {"empty icon directory", {0, 0, 1, 0, 0, 0}},
        {"12-bit JPEG", twelve_bit},
        {"JPEG start marker only", {0xFF, 0xD8}},
    };
    ASSERT_NE(load(5, bmp), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::HeapCounts before = kt::heap_counts();
        EXPECT_EQ(load(5, c.data), 0);
        EXPECT_EQ(record(5), nullptr);
        EXPECT_EQ(load(ANY_OBJECT, c.data), 0);
        EXPECT_EQ(image_registry->dynamic_list, nullptr);
        EXPECT_EQ(kt::heap_counts().live, before.live);
    }
    EXPECT_EQ(load_image_from_memory(6, nullptr), 0);
    EXPECT_EQ(record(6), nullptr);
}

TEST_F(ImageTest, SecondLoadReleasesTheFirstImageBeforeLookingAtTheData) {
    std::vector<uint8_t> bmp = kt::make_bmp(4, 4, 24, std::vector<uint8_t>(48, 0));
    intptr_t first = load(7, bmp);
    ASSERT_NE(first, 0);
    intptr_t second = load(7, bmp);
    ASSERT_NE(second, 0);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(first)), 0u);
    EXPECT_EQ(load(7, {0x01, 0x02, 0x03}), 0);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(second)), 0u);
    EXPECT_EQ(record(7), nullptr);
    EXPECT_EQ(release_image(7), 0);
}

TEST_F(ImageTest, DynamicImagesAreNamedByTheirRecordAndReleasedWithTheRest) {
    std::vector<uint8_t> bmp = kt::make_bmp(4, 4, 24, std::vector<uint8_t>(48, 0));
    intptr_t a = load(ANY_OBJECT, bmp);
    ASSERT_NE(a, 0);
    auto* r = reinterpret_cast<image_record*>(a);
    EXPECT_EQ(record(a), r);
    HANDLE bitmap_a = r->handle;
    intptr_t b = load_image_from_memory(ANY_OBJECT, kestrin_picture);
    ASSERT_NE(b, 0);
    HANDLE bitmap_b = reinterpret_cast<image_record*>(b)->handle;
    intptr_t plain = load(3, bmp);
    ASSERT_NE(plain, 0);

    EXPECT_EQ(release_image(a), 1);
    EXPECT_EQ(GetObjectType(bitmap_a), 0u);
    EXPECT_EQ(release_image(a), 0);
    EXPECT_EQ(release_image(12), 0); // never loaded

    release_image(ANY_OBJECT);
    EXPECT_EQ(GetObjectType(bitmap_b), 0u);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(plain)), 0u);
    EXPECT_EQ(image_registry->dynamic_list, nullptr);
    EXPECT_EQ(record(3), nullptr);
}

TEST_F(ImageTest, JpegDataFailsWithNoDecoderRegistered) {
    ASSERT_TRUE(image_decoders_start());
    EXPECT_EQ(load_image_from_memory(1, kestrin_picture), 0);
    EXPECT_EQ(record(1), nullptr);
}

// A decoder that reports a picture and counts its calls.
int opened, decoded, released, decode_result;
int32_t reported_width;
int counting_open(decode_context* c) {
    opened++;
    c->width = reported_width;
    c->height = 3;
    c->depth = 24;
    c->source_depth = 8;
    return 1;
}
int counting_decode(decode_context*, uint8_t* bits, intptr_t stride, int flags) {
    decoded++;
    EXPECT_EQ(stride, dib_row_stride(reported_width, 24));
    EXPECT_EQ(flags, DECODE_BOTTOM_UP);
    bits[0] = 0x5A;
    return decode_result;
}
void counting_release(decode_context*) {
    released++;
}
const image_decoder counting = {counting_open, counting_decode, counting_release,
                                four_cc('T', 'E', 'S', 'T')};

TEST_F(ImageTest, DecoderIsReleasedOnEveryPath) {
    ASSERT_TRUE(image_decoders_start());
    register_image_decoder(&counting);
    const uint8_t data[4] = {1, 2, 3, 4};
    struct Case {
        const char* name;
        int32_t width;
        int decode_result;
        bool loads;
        int decodes;
    };
    const Case cases[] = {
        {"decoded", 5, 1, true, 1},
        {"decode fails: bitmap deleted", 5, 0, false, 1},
        {"no bitmap for the size: no decode", 0, 1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        opened = decoded = released = 0;
        reported_width = c.width;
        decode_result = c.decode_result;
        intptr_t h = load_image_from_memory_sized(8, data, 4);
        EXPECT_EQ(h != 0, c.loads);
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(decoded, c.decodes);
        EXPECT_EQ(released, 1);
        if (h) {
            EXPECT_EQ(format_of(record(8)), "TEST");
            EXPECT_EQ(record(8)->source_depth, 8);
            EXPECT_EQ(dib_of(h).dsBmih.biHeight, 3);
        }
    }
}

TEST_F(ImageTest, CreateDibRaisesTheDepthToAtLeast24Bits) {
    struct Case {
        int depth;
        int expected;
    };
    for (Case c : {Case{1, 24}, Case{8, 24}, Case{24, 24}, Case{32, 32}}) {
        HBITMAP b = create_dib(7, 3, c.depth);
        ASSERT_NE(b, nullptr);
        DIBSECTION ds{};
        ASSERT_EQ(GetObjectA(b, sizeof ds, &ds), int(sizeof ds));
        EXPECT_EQ(ds.dsBm.bmBitsPixel, c.expected);
        EXPECT_EQ(ds.dsBm.bmWidthBytes, dib_row_stride(7, c.expected));
        DeleteObject(b);
    }
    EXPECT_EQ(create_dib(0, 3, 24), nullptr);
}

} // namespace
