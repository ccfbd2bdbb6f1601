#include "app/extract.h"

#include "app/element_set.h"
#include "app/replace.h"
#include "core/strings.h"
#include "file/file_stream.h"

namespace {

// Reads the next line of the catalogue into a string variable; at the end of
// the data the line reads as the empty string. False when memory ran short:
// the line is lost and reading must stop.
bool read_into(StringVar* variable) {
    const int32_t mark = string_mark();
    if (!read_line(CATALOGUE_FILE, mark)) return false;
    // A line that finds no memory in its variable is lost too: the old value
    // must not pass for it.
    return assign(variable, mark);
}

} // namespace

ExtractResult extract_element_set(const char* catalogue_path, const char* output_path,
                                  ExtractDetail* detail) {
    ExtractDetail own{};
    if (!detail) detail = &own;
    *detail = ExtractDetail{};
    if (!open_file_read(CATALOGUE_FILE, catalogue_path)) return ExtractResult::catalogue_unopenable;

    // String variables live in the string heap until the engine ends.
    StringVar current_line = nullptr, element_line1 = nullptr, element_line2 = nullptr;
    ExtractResult result = ExtractResult::not_found;
    while (!file_at_end(CATALOGUE_FILE)) {
        if (!read_into(&current_line)) {
            result = ExtractResult::catalogue_unreadable;
            break;
        }
        if (!find_string(current_line, SATELLITE_NAME)) continue;

        if (!read_into(&element_line1) || !read_into(&element_line2)) {
            result = ExtractResult::catalogue_unreadable;
            break;
        }
        detail->fault = element_set_fault(element_line1 ? element_line1 : "",
                                          element_line2 ? element_line2 : "");
        if (detail->fault != ElementSetFault::none) {
            result = ExtractResult::unusable;
            break;
        }
        // The searched name itself, so the catalogue's padding is not copied.
        result = replace_element_file(output_path, SATELLITE_NAME, element_line1, element_line2,
                                      &detail->system_error)
                     ? ExtractResult::written
                     : ExtractResult::output_unwritable;
        break;
    }
    close_file(CATALOGUE_FILE);
    return result;
}
