#include "app/extract.h"

#include "app/element_set.h"
#include "app/replace.h"
#include "core/strings.h"
#include "file/file_stream.h"

#include <cstring>
#include <string_view>
#include <utility>

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

namespace {

// The name the set is written under: the searched name itself, so that the
// catalogue's padding is not copied, or the line before the set's lines.
bool found(StringVar line, StringVar previous, uint32_t number, char* name) {
    if (number == 0) {
        if (!find_string(line, SATELLITE_NAME)) return false;
        std::memcpy(name, SATELLITE_NAME, sizeof SATELLITE_NAME);
        return true;
    }
    const std::string_view l(line ? line : "");
    if (l.size() < 2 || l[0] != '1' || l[1] != ' ' || element_line_number(l) != number)
        return false;
    const std::string_view n = element_set_name(previous ? previous : "");
    if (!n.empty()) std::memcpy(name, n.data(), n.size());
    name[n.size()] = 0;
    return true;
}

} // namespace

ExtractResult extract_element_set(const char* catalogue_path, const char* output_path,
                                  ExtractDetail* detail, uint32_t catalogue_number) {
    ExtractDetail own{};
    if (!detail) detail = &own;
    *detail = ExtractDetail{};
    if (!open_file_read(CATALOGUE_FILE, catalogue_path)) return ExtractResult::catalogue_unopenable;

    // String variables live in the string heap until the engine ends.
    StringVar previous = nullptr, current_line = nullptr, element_line1 = nullptr,
              element_line2 = nullptr;
    char name[ELEMENT_NAME_LIMIT + 1];
    ExtractResult result = ExtractResult::not_found;
    while (!file_at_end(CATALOGUE_FILE)) {
        std::swap(previous, current_line);
        if (!read_into(&current_line)) {
            result = ExtractResult::catalogue_unreadable;
            break;
        }
        if (!found(current_line, previous, catalogue_number, name)) continue;
        // By number the line found is the first element line.
        if (catalogue_number != 0) std::swap(current_line, element_line1);
        if ((catalogue_number == 0 && !read_into(&element_line1)) || !read_into(&element_line2)) {
            result = ExtractResult::catalogue_unreadable;
            break;
        }
        detail->fault = element_set_fault(element_line1 ? element_line1 : "",
                                          element_line2 ? element_line2 : "");
        if (detail->fault == ElementSetFault::none && !name[0])
            detail->fault = ElementSetFault::shape;
        if (detail->fault != ElementSetFault::none) {
            result = ExtractResult::unusable;
            break;
        }
        result = replace_element_file(output_path, name, element_line1, element_line2,
                                      &detail->system_error)
                     ? ExtractResult::written
                     : ExtractResult::output_unwritable;
        break;
    }
    close_file(CATALOGUE_FILE);
    return result;
}
