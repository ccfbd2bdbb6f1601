#include "image/image_formats.h"

#include "image/image_decoder.h"

namespace {

constexpr uint32_t BI_RGB_CODE = 0;
constexpr uint32_t BI_RLE8_CODE = 1;
constexpr uint32_t BI_RLE4_CODE = 2;
constexpr uint32_t BI_BITFIELDS_CODE = 3;
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint32_t MASKED_HEADER_SIZE = INFO_HEADER_SIZE + 12; // with the three bit-field masks

bool valid_bit_count(uint16_t b) {
    return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32;
}

int64_t magnitude(int32_t v) {
    return v < 0 ? -int64_t(v) : int64_t(v);
}

// Bytes of `rows` rows of a DIB; -1 when that does not fit 64 bits.
int64_t rows_bytes(int32_t width, int bits, int64_t rows) {
    int64_t total;
    if (__builtin_mul_overflow(dib_row_stride(width, bits), rows, &total)) return -1;
    return total;
}

// Bytes of colour table (or bit-field masks) that follow a BITMAPINFOHEADER
// of `header_size` bytes, as the system reads them; -1 when inconsistent.
int64_t colour_table_bytes(const uint8_t* h, uint32_t header_size) {
    uint16_t bits = read_u16(h + 14);
    uint32_t compression = read_u32(h + 16);
    uint32_t used = read_u32(h + 32);
    int64_t entries = used;
    if (bits <= 8) {
        if (used > (1u << bits)) return -1;
        if (used == 0) entries = 1 << bits;
    }
    // The system reads the three masks at header offsets 40 to 51 whatever
    // size the header states: a shorter header needs the rest after it.
    int64_t masks = 0;
    if (compression == BI_BITFIELDS_CODE && header_size < MASKED_HEADER_SIZE)
        masks = MASKED_HEADER_SIZE - header_size;
    return masks + entries * 4;
}

} // namespace

bool is_bmp(const uint8_t* data, int32_t length) {
    return data && length >= 2 && data[0] == 'B' && data[1] == 'M';
}

bool parse_bmp(const uint8_t* data, int32_t length, bmp_layout* out) {
    if (!is_bmp(data, length)) return false;
    if (length != LENGTH_NOT_GIVEN && length < 14) return false;
    // Without a length, the file header's own size field is the bound; many
    // writers leave it 0, and then only what the headers declare bounds it.
    int64_t bound = length;
    if (length == LENGTH_NOT_GIVEN) {
        bound = int64_t(read_u32(data + 2));
        if (bound < 14 + int64_t(INFO_HEADER_SIZE)) bound = INT64_MAX;
    }
    if (bound < 14 + int64_t(INFO_HEADER_SIZE)) return false;
    const uint8_t* h = data + 14;
    uint32_t header_size = read_u32(h);
    if (header_size < INFO_HEADER_SIZE || 14 + int64_t(header_size) > bound) return false;
    int32_t width = read_i32(h + 4);
    int32_t height = read_i32(h + 8);
    uint16_t bits = read_u16(h + 14);
    uint32_t compression = read_u32(h + 16);
    uint32_t coded_size = read_u32(h + 20);
    if (width <= 0 || height == 0 || height == INT32_MIN || read_u16(h + 12) != 1 ||
        !valid_bit_count(bits))
        return false;
    int64_t table = colour_table_bytes(h, header_size);
    if (table < 0 || 14 + int64_t(header_size) + table > bound) return false;
    uint32_t pixel_offset = read_u32(data + 10);
    int64_t pixel_bytes;
    switch (compression) {
    case BI_RGB_CODE:
        pixel_bytes = rows_bytes(width, bits, magnitude(height));
        break;
    case BI_BITFIELDS_CODE:
        if (bits != 16 && bits != 32) return false;
        pixel_bytes = rows_bytes(width, bits, magnitude(height));
        break;
    case BI_RLE8_CODE:
    case BI_RLE4_CODE:
        // Run-length data is read up to its coded size, which must be given.
        if (bits != (compression == BI_RLE8_CODE ? 8 : 4) || height < 0 || coded_size == 0)
            return false;
        pixel_bytes = coded_size;
        break;
    default:
        return false;
    }
    if (pixel_bytes < 0 || int64_t(pixel_offset) + pixel_bytes > bound) return false;
    out->width = width;
    out->height = height;
    out->bit_count = bits;
    out->pixel_offset = pixel_offset;
    return true;
}

bool is_icon_directory(const uint8_t* data, int32_t length) {
    return data && length >= 4 && read_u16(data) == 0 && read_u16(data + 2) == 1;
}

bool choose_icon_entry(const uint8_t* data, int32_t length, icon_choice* out) {
    if (!is_icon_directory(data, length)) return false;
    // Without a length only what the directory itself declares bounds it.
    int64_t bound = length == LENGTH_NOT_GIVEN ? INT64_MAX : length;
    if (bound < 6) return false;
    uint16_t count = read_u16(data + 4);
    if (count == 0 || 6 + 16 * int64_t(count) > bound) return false;
    const uint8_t* first = data + 6;
    const uint8_t* chosen = first;
    for (uint16_t i = 1; i < count; i++) {
        const uint8_t* e = first + 16 * i;
        if (e[0] == first[0] && e[1] == first[1] && read_u16(e + 6) > read_u16(chosen + 6))
            chosen = e;
    }
    uint32_t bytes = read_u32(chosen + 8);
    uint32_t offset = read_u32(chosen + 12);
    if (bytes < INFO_HEADER_SIZE || int64_t(offset) + bytes > bound) return false;
    const uint8_t* image = data + offset;
    out->offset = offset;
    out->bytes = bytes;
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    bool is_png = true;
    for (int i = 0; i < 8; i++)
        is_png = is_png && image[i] == png[i];
    if (is_png) {
        // A PNG image carries its own size; the system decodes it.
        out->width = out->height = 0;
        out->bit_count = 0;
        return true;
    }
    uint32_t header_size = read_u32(image);
    int32_t width = read_i32(image + 4);
    int32_t height = read_i32(image + 8); // colour bits and mask, stacked
    uint16_t bits = read_u16(image + 14);
    // At least one row of colour and one of mask.
    if (header_size < INFO_HEADER_SIZE || header_size > bytes || width <= 0 || height < 2 ||
        !valid_bit_count(bits))
        return false;
    int64_t rows = height / 2;
    int64_t table = colour_table_bytes(image, header_size);
    int64_t colour = rows_bytes(width, bits, rows);
    int64_t mask = rows_bytes(width, 1, rows);
    if (table < 0 || colour < 0 || mask < 0 ||
        int64_t(header_size) + table + colour + mask > int64_t(bytes))
        return false;
    out->width = width;
    out->height = height / 2;
    out->bit_count = bits;
    return true;
}
