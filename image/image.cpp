#include "image/image.h"

#include <cstring>

#include "image/image_decoder.h"
#include "image/image_formats.h"

ObjectRegistry* image_registry;

namespace {

// A bottom-up DIB section filled by the decoder the decode context names;
// the decoder is released in every case. 0 on failure.
HBITMAP create_decoded_bitmap();
// The icon from the chosen entry of an icon directory; 0 on failure.
HICON load_icon_from_memory(const void* address, int32_t length);

constexpr uint32_t FORMAT_BMP = four_cc('B', 'M', 'P', 0);
constexpr uint32_t FORMAT_ICON = four_cc('I', 'C', 'O', 'N');

BITMAPINFOHEADER dib_header(int32_t width, int32_t height, int depth) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(depth);
    h.biCompression = BI_RGB;
    return h;
}

// A 32-bit picture whose alpha bytes are all zero was saved without alpha:
// it is made opaque. One non-zero alpha byte keeps them all as stored.
void make_opaque_if_alpha_unused(HBITMAP bitmap, int32_t width, int32_t rows) {
    BITMAP bm;
    if (GetObjectA(bitmap, sizeof bm, &bm) != int(sizeof bm) || !bm.bmBits) return;
    auto* bits = static_cast<uint8_t*>(bm.bmBits);
    int64_t stride = dib_row_stride(bm.bmWidth, bm.bmBitsPixel);
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < width; x++)
            if (bits[y * stride + 4 * x + 3]) return;
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < width; x++)
            bits[y * stride + 4 * x + 3] = 255;
}

HBITMAP load_bmp(const uint8_t* data, int32_t length, image_record* r) {
    bmp_layout bmp;
    if (!parse_bmp(data, length, &bmp)) return nullptr;
    int depth = bmp.bit_count < 24 ? 24 : bmp.bit_count;
    HBITMAP bitmap = create_dib(bmp.width, bmp.height, depth);
    if (!bitmap) return nullptr;
    int32_t rows = bmp.height < 0 ? -bmp.height : bmp.height;
    // Without a device context the bitmap keeps its initial pixels.
    if (HDC dc = CreateCompatibleDC(nullptr)) {
        SetDIBits(dc, bitmap, 0, UINT(rows), data + bmp.pixel_offset,
                  reinterpret_cast<const BITMAPINFO*>(data + 14), DIB_RGB_COLORS);
        DeleteDC(dc);
    }
    if (depth == 32) make_opaque_if_alpha_unused(bitmap, bmp.width, rows);
    r->format = FORMAT_BMP;
    r->source_depth = uint8_t(bmp.bit_count);
    return bitmap;
}

HICON load_icon(const uint8_t* data, int32_t length, image_record* r) {
    HICON icon = load_icon_from_memory(data, length);
    if (!icon) return nullptr;
    ICONINFO info;
    if (!GetIconInfo(icon, &info)) {
        DestroyIcon(icon);
        return nullptr;
    }
    BITMAP bm{};
    if (info.hbmColor) {
        GetObjectA(info.hbmColor, sizeof bm, &bm);
    } else if (info.hbmMask) {
        // A monochrome icon: its mask holds the AND and XOR halves stacked.
        GetObjectA(info.hbmMask, sizeof bm, &bm);
        bm.bmHeight /= 2;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    r->width = uint16_t(bm.bmWidth);
    r->height = uint16_t(bm.bmHeight);
    r->depth = uint8_t(bm.bmBitsPixel);
    r->source_depth = uint8_t(bm.bmBitsPixel);
    r->format = FORMAT_ICON;
    return icon;
}

HBITMAP load_decoded(const uint8_t* data, int32_t length, image_record* r) {
    uint32_t format = find_image_decoder(data, length);
    if (!format) return nullptr;
    HBITMAP bitmap = create_decoded_bitmap();
    if (!bitmap) return nullptr;
    r->format = format;
    r->source_depth = uint8_t(image_decode_context->source_depth);
    return bitmap;
}

} // namespace

int images_start() {
    image_registry = registry_create(sizeof(image_record), 16, release_image);
    return image_registry != nullptr;
}

void images_end() {
    release_image(ANY_OBJECT);
}

intptr_t load_image_from_memory(ObjectId number, const void* address) {
    return load_image_from_memory_sized(number, address, LENGTH_NOT_GIVEN);
}

intptr_t load_image_from_memory_sized(ObjectId number, const void* address, int32_t length) {
    if (!image_registry) return 0; // the library did not start
    // An image the number held is released before the new data is looked at.
    auto* r = static_cast<image_record*>(registry_obtain(image_registry, number));
    if (!r) return 0;
    auto* data = static_cast<const uint8_t*>(address);
    HANDLE handle = nullptr;
    if (data && length > 0) {
        if (is_bmp(data, length)) {
            handle = load_bmp(data, length, r);
        } else if (is_icon_directory(data, length)) {
            handle = load_icon(data, length, r);
        } else {
            handle = load_decoded(data, length, r);
        }
    }
    if (!handle) {
        if (number == ANY_OBJECT)
            registry_release(image_registry, handle_of(r));
        else
            std::memset(r, 0, sizeof *r);
        return 0;
    }
    if (r->format != FORMAT_ICON) {
        BITMAP bm{};
        GetObjectA(handle, sizeof bm, &bm);
        r->width = uint16_t(bm.bmWidth);
        r->height = uint16_t(bm.bmHeight);
        r->depth = uint8_t(bm.bmBitsPixel);
    }
    r->handle = handle;
    return number == ANY_OBJECT ? handle_of(r) : reinterpret_cast<intptr_t>(handle);
}

namespace {

HBITMAP create_decoded_bitmap() {
    decode_context* c = image_decode_context;
    BITMAPINFOHEADER header = dib_header(c->width, c->height, c->depth);
    HBITMAP bitmap = nullptr;
    if (HDC dc = CreateCompatibleDC(nullptr)) {
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                                  nullptr, 0);
        if (bitmap) {
            DIBSECTION ds;
            bool decoded = false;
            if (GetObjectA(bitmap, sizeof ds, &ds) == int(sizeof ds) && ds.dsBm.bmBits) {
                intptr_t stride = intptr_t(dib_row_stride(ds.dsBm.bmWidth, ds.dsBm.bmBitsPixel));
                decoded = c->decoder->decode(c, static_cast<uint8_t*>(ds.dsBm.bmBits), stride,
                                             DECODE_BOTTOM_UP);
            }
            if (!decoded) {
                DeleteObject(bitmap);
                bitmap = nullptr;
            }
        }
        DeleteDC(dc);
    }
    c->decoder->release(c);
    return bitmap;
}

} // namespace

HBITMAP create_dib(int32_t width, int32_t height, int depth) {
    BITMAPINFOHEADER header = dib_header(width, height, depth < 24 ? 24 : depth);
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                      &bits, nullptr, 0);
    DeleteDC(dc);
    return bitmap;
}

namespace {

HICON load_icon_from_memory(const void* address, int32_t length) {
    auto* data = static_cast<const uint8_t*>(address);
    icon_choice entry;
    if (!choose_icon_entry(data, length, &entry)) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, entry.bytes);
    if (!block) return nullptr;
    auto* image = static_cast<BYTE*>(block); // fixed memory: the handle is the address
    std::memcpy(image, data + entry.offset, entry.bytes);
    HICON icon = CreateIconFromResourceEx(image, entry.bytes, TRUE, 0x00030000, entry.width,
                                          entry.height, 0);
    if (!icon && entry.bit_count != 16)
        icon = CreateIconFromResource(image, entry.bytes, TRUE, 0x00030000);
    GlobalFree(block);
    return icon;
}

} // namespace

intptr_t release_image(ObjectId number) {
    if (!image_registry) return 0;
    if (number == ANY_OBJECT) {
        registry_release_all(image_registry);
        return 1;
    }
    auto* r = static_cast<image_record*>(registry_lookup(image_registry, number));
    if (!r) return 0;
    if (GetObjectType(r->handle) == OBJ_BITMAP)
        DeleteObject(r->handle);
    else
        DestroyIcon(static_cast<HICON>(r->handle));
    registry_release(image_registry, number);
    return 1;
}
