// Alpha blending support under Windows (Wine): finding AlphaBlend, telling
// bitmaps with alpha apart, premultiplied copies and drawing them.
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "core/runtime.h"
#include "image/image_decoder.h"
#include "tests/support/test_support.h"
#include "ui/alpha.h"

namespace {

// A 32-bit DIB section of `width` x `height`, bottom-up, pixels given
// bottom row first as blue, green, red, alpha.
HBITMAP dib32(int width, int height, const std::vector<uint32_t>& pixels, int bits = 32) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, WORD(bits), BI_RGB, 0, 0, 0, 0, 0};
    void* p = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    if (b && bits == 32)
        for (size_t i = 0; i < pixels.size(); i++)
            static_cast<uint32_t*>(p)[i] = pixels[i];
    return b;
}

// A device-dependent 32-bit bitmap with the given top-down pixels.
HBITMAP ddb32(int width, int height, const std::vector<uint32_t>& pixels) {
    return CreateBitmap(width, height, 1, 32, pixels.data());
}

uint32_t* bits_of(HBITMAP b) {
    DIBSECTION ds{};
    GetObjectA(b, sizeof ds, &ds);
    return static_cast<uint32_t*>(ds.dsBm.bmBits);
}

struct AlphaTest : ::testing::Test {
    kt::Runtime runtime;
    std::vector<HGDIOBJ> made;
    void SetUp() override {
        alpha_blend_start();
        ASSERT_NE(alpha_support.alpha_blend, nullptr) << "msimg32.dll has AlphaBlend";
    }
    void TearDown() override {
        for (HGDIOBJ o : made)
            DeleteObject(o);
        alpha_blend_end();
    }
    HBITMAP keep(HBITMAP b) {
        made.push_back(b);
        return b;
    }
};

TEST_F(AlphaTest, StartFindsAlphaBlendAndEndForgetsIt) {
    EXPECT_NE(alpha_support.module, nullptr);
    alpha_blend_end();
    EXPECT_EQ(alpha_support.module, nullptr);
    EXPECT_EQ(alpha_support.alpha_blend, nullptr);
    alpha_blend_start();
    EXPECT_NE(alpha_support.alpha_blend, nullptr);
}

TEST_F(AlphaTest, HasAlphaForThirtyTwoBitDibsAndDdbsWithAnAlphaByte) {
    struct Case {
        const char* name;
        HGDIOBJ image;
        bool expected;
    };
    HICON icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    std::vector<uint32_t> last_alpha(16 * 16, 0x00FFFFFF);
    last_alpha.back() = 0x01000000;
    const Case cases[] = {
        {"32-bit DIB section, alpha 0", keep(dib32(2, 2, {0, 0, 0, 0})), true},
        {"24-bit DIB section", keep(dib32(2, 2, {}, 24)), false},
        {"32-bit DDB with one alpha byte", keep(ddb32(2, 2, {0x00FFFFFF, 0x01000000, 0, 0})), true},
        {"32-bit DDB without alpha", keep(ddb32(2, 2, {0x00FFFFFF, 0x00123456, 0, 0})), false},
        {"32-bit DDB, alpha in its last pixel", keep(ddb32(16, 16, last_alpha)), true},
        {"monochrome DDB", keep(CreateBitmap(8, 8, 1, 1, nullptr)), false},
        {"an icon", icon, false},
        {"nothing", nullptr, false},
    };
    const size_t objects = kt::gdi_objects();
    for (const Case& c : cases)
        EXPECT_EQ(has_alpha(c.image), c.expected) << c.name;
    EXPECT_EQ(kt::gdi_objects(), objects) << "no object left behind";
    alpha_blend_end();
    EXPECT_FALSE(has_alpha(cases[0].image)) << "without AlphaBlend";
}

TEST_F(AlphaTest, BitmapBits32GivesOwnBitsOrATopDownCopy) {
    HBITMAP dib = keep(dib32(2, 1, {0x11223344, 0x55667788}));
    bool owned = true;
    EXPECT_EQ(bitmap_bits32(dib, &owned), reinterpret_cast<uint8_t*>(bits_of(dib)));
    EXPECT_FALSE(owned);

    HBITMAP ddb = keep(ddb32(2, 2, {1, 2, 3, 0x7F000004}));
    uint8_t* copy = bitmap_bits32(ddb, &owned);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(owned);
    auto* px = reinterpret_cast<uint32_t*>(copy);
    EXPECT_EQ(px[0], 1u); // top row first
    EXPECT_EQ(px[3], 0x7F000004u);
    heap_free(copy);
    {
        kt::MainHeapFull full;
        EXPECT_EQ(bitmap_bits32(ddb, &owned), nullptr) << "no memory for the copy";
        EXPECT_FALSE(has_alpha(ddb));
    }

    // A 24-bit section's own rows are not 32-bit rows: it is copied too.
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 1, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits24 = nullptr;
    HBITMAP dib24 = keep(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits24, nullptr, 0));
    ASSERT_NE(dib24, nullptr);
    copy = bitmap_bits32(dib24, &owned);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, bits24);
    EXPECT_TRUE(owned);
    heap_free(copy);
}

TEST_F(AlphaTest, PremultipliedCopyScalesColoursOfTranslucentPixelsOnly) {
    // Bottom row first: translucent, opaque, transparent, half.
    HBITMAP source = keep(dib32(2, 2, {0x80C86432, 0xFF0A141E, 0x00FFFFFF, 0x7FFF0080}));
    const size_t objects = kt::gdi_objects();
    HBITMAP copy = premultiplied_copy(source);
    ASSERT_NE(copy, nullptr);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(copy, sizeof ds, &ds), int(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(ds.dsBm.bmWidth, 2);
    EXPECT_EQ(ds.dsBm.bmHeight, 2);
    uint32_t* p = static_cast<uint32_t*>(ds.dsBm.bmBits);
    // 0xC8 * 0x80 >> 8 = 0x64, 0x64 -> 0x32, 0x32 -> 0x19: a division by 256.
    EXPECT_EQ(p[0], 0x80643219u);
    EXPECT_EQ(p[1], 0xFF0A141Eu);
    EXPECT_EQ(p[2], 0x00000000u);
    EXPECT_EQ(p[3], 0x7F7E003Fu); // 0xFF * 0x7F >> 8 = 0x7E, 0x80 * 0x7F >> 8 = 0x3F
    delete_alpha_copy(copy);
    EXPECT_EQ(GetObjectType(copy), 0u);
    EXPECT_EQ(kt::gdi_objects(), objects) << "no object left behind";

    alpha_blend_end();
    EXPECT_EQ(premultiplied_copy(source), nullptr);
}

TEST_F(AlphaTest, DrawAlphaBlendsTheCopyAtItsOwnSizeWhenGivenZero) {
    // Target: 4 x 4, 24 bits, every pixel red 200.
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, -4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP target = keep(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_NE(target, nullptr);
    auto* t = static_cast<uint8_t*>(bits);
    for (int i = 0; i < 4 * 12; i += 3) {
        t[i] = 0;
        t[i + 1] = 0;
        t[i + 2] = 200;
    }
    HBITMAP source = keep(dib32(2, 2, {0x80C86432, 0x80C86432, 0x80C86432, 0x80C86432}));
    HBITMAP copy = keep(premultiplied_copy(source));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, target);
    const size_t objects = kt::gdi_objects();
    EXPECT_TRUE(draw_alpha(dc, 0, 0, 0, 1, copy, 255)) << "the copy's width, one row";
    EXPECT_TRUE(draw_alpha(dc, 2, 2, 0, 0, copy, 255)) << "the copy's size";
    EXPECT_EQ(kt::gdi_objects(), objects) << "no object left behind";
    GdiFlush();
    SelectObject(dc, old);
    DeleteDC(dc);
    // Blended: copy + target x (255 - 128) / 255; elsewhere untouched.
    auto blended = [&](int x, int y) {
        const uint8_t* p = t + y * 12 + x * 3;
        return std::abs(p[0] - 0x19) <= 2 && std::abs(p[1] - 0x32) <= 2 &&
               std::abs(p[2] - (0x64 + 200 * 127 / 255)) <= 2;
    };
    auto untouched = [&](int x, int y) {
        const uint8_t* p = t + y * 12 + x * 3;
        return p[0] == 0 && p[1] == 0 && p[2] == 200;
    };
    EXPECT_TRUE(blended(0, 0) && blended(1, 0));
    EXPECT_TRUE(untouched(2, 0) && untouched(0, 1) && untouched(1, 1));
    EXPECT_TRUE(blended(2, 2) && blended(3, 2) && blended(2, 3) && blended(3, 3));
    EXPECT_TRUE(untouched(1, 2) && untouched(2, 1) && untouched(1, 3));

    alpha_blend_end();
    HDC dc2 = CreateCompatibleDC(nullptr);
    EXPECT_FALSE(draw_alpha(dc2, 0, 0, 0, 0, copy, 255));
    DeleteDC(dc2);
}

} // namespace
