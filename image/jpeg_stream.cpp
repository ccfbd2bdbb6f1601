#include "image/jpeg_stream.h"

namespace {

constexpr uint8_t SOI = 0xD8;
constexpr uint8_t EOI = 0xD9;
constexpr uint8_t TEM = 0x01;

bool is_restart(uint8_t m) {
    return m >= 0xD0 && m <= 0xD7;
}

} // namespace

int64_t jpeg_stream_extent(const uint8_t* data, int64_t limit) {
    if (!data || limit < 4 || data[0] != 0xFF || data[1] != SOI) return 0;
    int64_t p = 2;
    while (p < limit) {
        // Entropy-coded data and any stray bytes between segments run to the
        // next byte 0xFF that starts a marker.
        if (data[p] != 0xFF) {
            p++;
            continue;
        }
        int64_t m = p + 1;
        while (m < limit && data[m] == 0xFF) // fill bytes
            m++;
        if (m >= limit) return 0;
        uint8_t code = data[m];
        if (code == EOI) return m + 1;
        if (code == SOI) return 0;
        // A stuffed byte in scan data, and the markers that carry no length.
        if (code == 0x00 || code == TEM || is_restart(code)) {
            p = m + 1;
            continue;
        }
        if (m + 2 >= limit) return 0;
        int64_t length = int64_t(data[m + 1]) << 8 | data[m + 2];
        if (length < 2 || m + 1 + length > limit) return 0;
        p = m + 1 + length;
    }
    return 0;
}
