#include "ui/alpha.h"

#include "core/runtime.h"
#include "image/image_decoder.h"

AlphaSupport alpha_support;

void alpha_blend_start() {
    alpha_support.module = LoadLibraryA("msimg32.dll");
    alpha_support.alpha_blend = nullptr;
    if (!alpha_support.module) return;
    // Through a plain address: the entry point has its own signature.
    FARPROC entry = GetProcAddress(alpha_support.module, "AlphaBlend");
    alpha_support.alpha_blend =
        reinterpret_cast<AlphaBlendFunction>(reinterpret_cast<void*>(entry));
}

void alpha_blend_end() {
    if (alpha_support.module) FreeLibrary(alpha_support.module);
    alpha_support = {};
}

bool has_alpha(HGDIOBJ image) {
    if (!alpha_support.alpha_blend || !image || GetObjectType(image) != OBJ_BITMAP) return false;
    DIBSECTION ds;
    if (GetObjectA(image, sizeof ds, &ds) == int(sizeof ds)) return ds.dsBm.bmBitsPixel == 32;
    BITMAP bm;
    if (GetObjectA(image, sizeof bm, &bm) != int(sizeof bm) || bm.bmBitsPixel != 32) return false;
    bool owned = false;
    uint8_t* bits = bitmap_bits32(static_cast<HBITMAP>(image), &owned);
    if (!bits) return false;
    int64_t stride = dib_row_stride(bm.bmWidth, 32);
    bool found = false;
    for (int32_t y = 0; y < bm.bmHeight && !found; y++)
        for (int32_t x = 0; x < bm.bmWidth && !found; x++)
            found = bits[y * stride + 4 * x + 3] != 0;
    if (owned) heap_free(bits);
    return found;
}

uint8_t* bitmap_bits32(HBITMAP bitmap, bool* owned) {
    *owned = false;
    DIBSECTION ds;
    // Only a 32-bit section's own rows are 32-bit rows; others are copied.
    if (GetObjectA(bitmap, sizeof ds, &ds) == int(sizeof ds) && ds.dsBm.bmBits &&
        ds.dsBm.bmBitsPixel == 32)
        return static_cast<uint8_t*>(ds.dsBm.bmBits);
    BITMAP bm;
    if (GetObjectA(bitmap, sizeof bm, &bm) != int(sizeof bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        return nullptr;
    auto* bits = static_cast<uint8_t*>(
        heap_alloc(size_t(dib_row_stride(bm.bmWidth, 32)) * size_t(bm.bmHeight)));
    if (!bits) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bm.bmWidth;
    info.bmiHeader.biHeight = -bm.bmHeight; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    int rows = dc ? GetDIBits(dc, bitmap, 0, UINT(bm.bmHeight), bits, &info, DIB_RGB_COLORS) : 0;
    if (dc) DeleteDC(dc);
    if (rows != bm.bmHeight) {
        heap_free(bits);
        return nullptr;
    }
    *owned = true;
    return bits;
}

HBITMAP premultiplied_copy(HBITMAP bitmap) {
    if (!alpha_support.alpha_blend) return nullptr;
    BITMAP bm;
    if (GetObjectA(bitmap, sizeof bm, &bm) != int(sizeof bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bm.bmWidth;
    info.bmiHeader.biHeight = bm.bmHeight; // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP copy = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (copy) {
        BITMAPINFO query = info; // GetDIBits may write into the header
        if (GetDIBits(dc, bitmap, 0, UINT(bm.bmHeight), pixels, &query, DIB_RGB_COLORS) !=
            bm.bmHeight) {
            DeleteObject(copy);
            copy = nullptr;
        }
    }
    if (copy) {
        auto* p = static_cast<uint8_t*>(pixels);
        int64_t count = int64_t(bm.bmWidth) * bm.bmHeight;
        for (int64_t i = 0; i < count; i++, p += 4) {
            unsigned a = p[3];
            if (a == 255) continue;
            p[0] = uint8_t(p[0] * a >> 8);
            p[1] = uint8_t(p[1] * a >> 8);
            p[2] = uint8_t(p[2] * a >> 8);
        }
    }
    DeleteDC(dc);
    return copy;
}

BOOL draw_alpha(HDC dc, int x, int y, int width, int height, HBITMAP copy, BYTE constant_alpha) {
    if (!alpha_support.alpha_blend || !dc || !copy) return FALSE;
    if (width == 0 || height == 0) {
        BITMAP bm;
        if (GetObjectA(copy, sizeof bm, &bm) != int(sizeof bm)) return FALSE;
        if (width == 0) width = bm.bmWidth;
        if (height == 0) height = bm.bmHeight;
    }
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return FALSE;
    HGDIOBJ old = SelectObject(memory, copy);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, constant_alpha, AC_SRC_ALPHA};
    BOOL done =
        alpha_support.alpha_blend(dc, x, y, width, height, memory, 0, 0, width, height, blend);
    SelectObject(memory, old);
    DeleteDC(memory);
    return done;
}

void delete_alpha_copy(HBITMAP copy) {
    // No copy can exist without AlphaBlend.
    if (alpha_support.alpha_blend && copy) DeleteObject(copy);
}
