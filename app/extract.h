// The extraction step: copies the element set of one satellite from the
// downloaded catalogue into the output file: by name, its name and the two
// lines after the first catalogue line that contains it; by catalogue number,
// the first two element lines that carry the number, with the line before
// them as the name.
#pragma once

#include "app/element_set.h"
#include "core/runtime.h"

constexpr char SATELLITE_NAME[] = "METEOR-M2 2";
constexpr char OUTPUT_FILE_NAME[] = "norad_M2.txt";
constexpr ObjectId CATALOGUE_FILE = 0;
constexpr ObjectId OUTPUT_FILE = 10;

enum class ExtractResult {
    written,              // the three lines are on disk under the output name
    not_found,            // no line holds the name (or number); the output file is untouched
    unusable,             // the two lines after the name are no usable element set; untouched
    catalogue_unopenable, // the catalogue cannot be opened; nothing else is tried
    catalogue_unreadable, // memory ran short while reading it; the output file is untouched
    output_unwritable,    // the set was usable but could not replace the output file
};

// Reads the catalogue at catalogue_path as file 0. The output file is
// replaced (whole, through a new file moved over it) only once the name has
// been found and the two lines after it form a usable element set, so a
// failed fetch, an error page or a damaged set never destroys the previous
// one. The element lines are written as read.
// detail, when given, tells what made the set unusable, or the system's
// error when the output file could not be replaced.
struct ExtractDetail {
    ElementSetFault fault;
    uint32_t system_error;
};
// catalogue_number 0 finds SATELLITE_NAME by its name. A set found by number
// whose name line can name none is unusable (a misshapen line).
ExtractResult extract_element_set(const char* catalogue_path, const char* output_path,
                                  ExtractDetail* detail = nullptr, uint32_t catalogue_number = 0);
