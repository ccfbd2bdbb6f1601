// Alpha blending: AlphaBlend, loaded at run time from msimg32.dll, and the
// premultiplied 32-bit copies through which pictures with per-pixel alpha
// are drawn. A copy belongs to whoever asked for it (the image gadget) until
// delete_alpha_copy.
#pragma once

#include <cstdint>

#include "core/win32.h"

using AlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int,
                                         BLENDFUNCTION);

struct AlphaSupport {
    HMODULE module;                 // msimg32.dll, or null
    AlphaBlendFunction alpha_blend; // null when the module or the function is missing
};

extern AlphaSupport alpha_support;

void alpha_blend_start();
void alpha_blend_end();

// True for a 32-bit DIB section, or a 32-bit device-dependent bitmap with a
// non-zero alpha byte, while AlphaBlend is available.
bool has_alpha(HGDIOBJ image);
// The bitmap's pixels as 32-bit rows: a 32-bit DIB section's own bits, in
// its own row order (*owned false), otherwise a copy from the main heap as
// top-down rows (*owned true: the caller frees it with heap_free). Null on
// failure.
uint8_t* bitmap_bits32(HBITMAP bitmap, bool* owned);
// A bottom-up 32-bit DIB section with the bitmap's pixels, the colours of
// every pixel that is not opaque multiplied by its alpha (x * a >> 8). Null
// without AlphaBlend or on failure.
HBITMAP premultiplied_copy(HBITMAP bitmap);
// Blends a premultiplied copy onto dc at (x, y); a width or height of 0
// stands for the copy's own. Non-zero on success.
BOOL draw_alpha(HDC dc, int x, int y, int width, int height, HBITMAP copy, BYTE constant_alpha);
void delete_alpha_copy(HBITMAP copy);
