// Builders of BMP file images and icon directories for the imaging tests.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_decoder.h"

namespace kt {

inline void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
inline void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; i++)
        v[at + i] = uint8_t(x >> (8 * i));
}

// A BITMAPINFOHEADER (40 bytes).
inline std::vector<uint8_t> info_header(int32_t width, int32_t height, uint16_t bits,
                                        uint32_t compression = 0, uint32_t colours_used = 0) {
    std::vector<uint8_t> h(40, 0);
    put32(h, 0, 40);
    put32(h, 4, uint32_t(width));
    put32(h, 8, uint32_t(height));
    put16(h, 12, 1);
    put16(h, 14, bits);
    put32(h, 16, compression);
    put32(h, 32, colours_used);
    return h;
}

// Pixel rows of a DIB, each padded to the DIB stride, filled by f(x, y)
// with `bits / 8` bytes (or one palette index byte for 8 bits).
template <class F> std::vector<uint8_t> dib_rows(int32_t width, int32_t rows, uint16_t bits, F f) {
    int64_t stride = dib_row_stride(width, bits);
    std::vector<uint8_t> out(size_t(stride * rows), 0);
    int bytes = bits / 8;
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < width; x++) {
            std::vector<uint8_t> p = f(x, y);
            for (int i = 0; i < bytes; i++)
                out[size_t(y * stride + x * bytes + i)] = p[size_t(i)];
        }
    return out;
}

// A BMP file image: file header, info header, colour table, pixel rows.
inline std::vector<uint8_t> make_bmp(int32_t width, int32_t height, uint16_t bits,
                                     const std::vector<uint8_t>& pixels,
                                     const std::vector<uint8_t>& colour_table = {},
                                     uint32_t compression = 0) {
    std::vector<uint8_t> file(14, 0);
    file[0] = 'B';
    file[1] = 'M';
    std::vector<uint8_t> header =
        info_header(width, height, bits, compression, uint32_t(colour_table.size() / 4));
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), colour_table.begin(), colour_table.end());
    put32(file, 10, uint32_t(file.size()));
    file.insert(file.end(), pixels.begin(), pixels.end());
    put32(file, 2, uint32_t(file.size()));
    return file;
}

struct IconEntry {
    uint8_t width; // 0 stands for 256
    uint8_t height;
    uint16_t bits;
    std::vector<uint8_t> image;
};

// An icon image: info header of the doubled height, colour table for 8 bits
// or less, colour rows filled with `fill`, an all-zero (opaque) mask.
inline std::vector<uint8_t> icon_image(int32_t size, uint16_t bits, uint8_t fill) {
    std::vector<uint8_t> image = info_header(size, size * 2, bits);
    if (bits <= 8) {
        for (int i = 0; i < (1 << bits); i++) {
            uint8_t grey = uint8_t(i * 255 / ((1 << bits) - 1));
            image.insert(image.end(), {grey, grey, grey, 0});
        }
    }
    image.insert(image.end(), size_t(dib_row_stride(size, bits) * size), fill);
    image.insert(image.end(), size_t(dib_row_stride(size, 1) * size), 0);
    return image;
}

inline std::vector<uint8_t> make_icon_directory(const std::vector<IconEntry>& entries) {
    std::vector<uint8_t> dir(6 + 16 * entries.size(), 0);
    put16(dir, 2, 1);
    put16(dir, 4, uint32_t(entries.size()));
    for (size_t i = 0; i < entries.size(); i++) {
        size_t e = 6 + 16 * i;
        dir[e] = entries[i].width;
        dir[e + 1] = entries[i].height;
        put16(dir, e + 4, 1);
        put16(dir, e + 6, entries[i].bits);
        put32(dir, e + 8, uint32_t(entries[i].image.size()));
        put32(dir, e + 12, uint32_t(dir.size()));
        dir.insert(dir.end(), entries[i].image.begin(), entries[i].image.end());
    }
    return dir;
}

} // namespace kt
