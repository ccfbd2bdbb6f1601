// The window picture: a baseline JPEG, 330 x 100, carried in the program's
// initialised data. The program loads it without a length; its end-of-image
// marker ends it. The size is there for tests.
#pragma once

#include <cstddef>

extern const unsigned char kestrin_picture[];
extern const size_t kestrin_picture_size;
