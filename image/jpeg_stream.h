// Finds where a JPEG stream ends when its length is not given, by walking its
// marker segments and entropy-coded data the way the decoder reads them.
#pragma once

#include <cstdint>

// The number of bytes from the start-of-image marker up to and including
// the end-of-image marker, reading no byte at or past `limit`; 0 when the
// stream does not start with a start-of-image marker, declares a segment
// that does not fit, or does not end within `limit`.
int64_t jpeg_stream_extent(const uint8_t* data, int64_t limit);
