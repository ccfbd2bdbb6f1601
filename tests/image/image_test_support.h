// Helpers for the imaging tests: the reference decoding of
// the window picture, and JPEG data made with libjpeg's own compressor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "core/runtime.h"
#include "tests/support/test_support.h"

namespace kt {

// A file of this build tree (made by the build), as this build's file
// calls name it.
inline std::string build_file(const std::string& relative) {
    std::string path = std::string(KESTRIN_TEST_BUILD_DIR) + "/" + relative;
#ifdef _WIN32
    if (path[0] == '/') path = "Z:" + path;
#endif
    return path;
}

inline std::vector<uint8_t> bytes_of(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// A binary PPM (P6, maxval 255) as width, height and RGB samples.
struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> samples;
};

inline Rgb read_ppm(const std::string& path) {
    Rgb image;
    std::string data = read_file(path);
    int maxval = 0, used = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &maxval, &used) !=
            3 ||
        maxval != 255)
        return {};
    size_t start = size_t(used) + 1; // one whitespace byte ends the header
    image.samples.assign(data.begin() + long(start), data.end());
    return image;
}

// Compresses samples with libjpeg: `components` samples per pixel in
// `input_space`, stored as `stored_space`.
inline std::vector<uint8_t> compress_jpeg(int width, int height, int components,
                                          J_COLOR_SPACE input_space, J_COLOR_SPACE stored_space,
                                          const std::vector<uint8_t>& samples, int quality = 100) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = input_space;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, stored_space);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(samples.data() + size_t(c.next_scanline) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> jpeg(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return jpeg;
}

// Every pixel the same `components` samples.
inline std::vector<uint8_t> solid(int width, int height, std::vector<uint8_t> pixel) {
    std::vector<uint8_t> s;
    for (int i = 0; i < width * height; i++)
        s.insert(s.end(), pixel.begin(), pixel.end());
    return s;
}

} // namespace kt
