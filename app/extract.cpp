#include "app/extract.h"

#include <cstring>

#include "app/element_set.h"
#include "core/strings.h"
#include "file/file_stream.h"

namespace {

// Reads the next line of the catalogue into a string variable; at the end of
// the data the line reads as the empty string.
void read_into(StringVar* variable) {
    const int32_t mark = string_mark();
    read_line(CATALOGUE_FILE, mark);
    assign(variable, mark);
}

// Writes one line to the output file; false unless all its bytes and the
// CR LF were taken.
bool put_line(const char* s) {
    const int32_t length = s ? int32_t(std::strlen(s)) : 0;
    return write_line(OUTPUT_FILE, s) == length + 2;
}

// Writes out what the buffer still holds; false unless every byte reached
// the file (a full disk, say).
bool flushed() {
    FileStream* f = file_stream(OUTPUT_FILE);
    if (!f || !f->buffer || f->mode != FileMode::write) return f != nullptr;
    const int32_t pending = f->buffer_size - f->count;
    return flush_buffer(f) == pending;
}

} // namespace

ExtractResult extract_element_set(const char* catalogue_path, const char* output_path) {
    if (!open_file_read(CATALOGUE_FILE, catalogue_path)) return ExtractResult::catalogue_unopenable;

    // String variables live in the string heap until the engine ends.
    StringVar current_line = nullptr, element_line1 = nullptr, element_line2 = nullptr;
    ExtractResult result = ExtractResult::not_found;
    while (!file_at_end(CATALOGUE_FILE)) {
        read_into(&current_line);
        if (!find_string(current_line, SATELLITE_NAME)) continue;

        read_into(&element_line1);
        read_into(&element_line2);
        if (!usable_element_set(element_line1 ? element_line1 : "",
                                element_line2 ? element_line2 : "")) {
            result = ExtractResult::unusable;
            break;
        }
        if (!create_file(OUTPUT_FILE, output_path)) {
            result = ExtractResult::output_unwritable;
            break;
        }
        // The searched name itself, so the catalogue's padding is not copied.
        const bool complete = put_line(SATELLITE_NAME) && put_line(element_line1) &&
                              put_line(element_line2) && flushed();
        close_file(OUTPUT_FILE);
        result = complete ? ExtractResult::written : ExtractResult::output_unwritable;
        break;
    }
    close_file(CATALOGUE_FILE);
    return result;
}
