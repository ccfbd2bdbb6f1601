// Image objects: numbered pictures held as DIB sections (BMP data, decoded
// data) or icons (icon data), loaded from memory. The image library owns each
// image's bitmap or icon until release_image or images_end; a gadget that
// shows an image only borrows its handle.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "core/win32.h"

struct image_record {
    HANDLE handle; // HBITMAP of a DIB section or HICON; 0: the number holds no image
    uint16_t width;
    uint16_t height;
    uint8_t depth;        // bits per pixel of the bitmap
    uint8_t source_depth; // bits per pixel of the source data
    uint32_t format;      // "BMP\0", "ICON" or the decoder's code, in memory order
};

extern ObjectRegistry* image_registry;

// Creates the image registry (after image_decoders_start); 0 when memory runs out.
int images_start();
// Releases every image. The registry, the decoder table and the decode
// context stay until the process ends.
void images_end();

// Loads an image from memory: BMP data ("BM"), an icon directory, or data a
// registered decoder accepts. Returns the native handle for a number, the
// record's address for ANY_OBJECT, 0 on failure (the number is then empty).
// `length` bounds every read; LENGTH_NOT_GIVEN lets the data's own format
// say where it ends.
intptr_t load_image_from_memory_sized(ObjectId number, const void* address, int32_t length);
intptr_t load_image_from_memory(ObjectId number, const void* address);

// An empty bottom-up (or, for a negative height, top-down) DIB section of at
// least 24 bits per pixel; 0 on failure.
HBITMAP create_dib(int32_t width, int32_t height, int depth);

// Releases one image, or every image for ANY_OBJECT; 0 when the number holds
// no image.
intptr_t release_image(ObjectId number);
