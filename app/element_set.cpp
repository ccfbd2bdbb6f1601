#include "app/element_set.h"

namespace {

std::string_view without_trailing_blanks(std::string_view line) {
    while (!line.empty() && line.back() == ' ')
        line.remove_suffix(1);
    return line;
}

bool shaped(std::string_view line, char number) {
    return line.size() == ELEMENT_LINE_LENGTH && line[0] == number && line[1] == ' ';
}

bool checksum_holds(std::string_view line) {
    const char last = line[ELEMENT_LINE_LENGTH - 1];
    return last >= '0' && last <= '9' && last - '0' == element_line_checksum(line);
}

} // namespace

int element_line_checksum(std::string_view line) {
    int sum = 0;
    for (size_t i = 0; i < line.size() && i < ELEMENT_LINE_LENGTH - 1; i++) {
        if (line[i] >= '0' && line[i] <= '9')
            sum += line[i] - '0';
        else if (line[i] == '-')
            sum += 1;
    }
    return sum % 10;
}

ElementSetFault element_set_fault(std::string_view line1, std::string_view line2) {
    line1 = without_trailing_blanks(line1);
    line2 = without_trailing_blanks(line2);
    if (!shaped(line1, '1') || !shaped(line2, '2')) return ElementSetFault::shape;
    if (!checksum_holds(line1) || !checksum_holds(line2)) return ElementSetFault::checksum;
    // Characters 3 to 7: the catalogue number. (No substr: its range check
    // would pull the library's exception machinery into the program.)
    if (std::string_view(line1.data() + 2, 5) != std::string_view(line2.data() + 2, 5))
        return ElementSetFault::numbers_differ;
    return ElementSetFault::none;
}

uint32_t element_line_number(std::string_view line) {
    if (line.size() < 7) return 0;
    uint32_t number = 0;
    bool digits = false;
    for (size_t i = 2; i < 7; i++) {
        const char c = line[i];
        if (c == ' ' && !digits) continue; // blank padding comes first only
        if (c < '0' || c > '9') return 0;
        number = number * 10 + uint32_t(c - '0');
        digits = true;
    }
    return number;
}

std::string_view element_set_name(std::string_view line) {
    line = without_trailing_blanks(line);
    if (line.empty() || line.size() > ELEMENT_NAME_LIMIT) return {};
    if (line.size() >= 2 && (line[0] == '1' || line[0] == '2') && line[1] == ' ') return {};
    for (const char c : line)
        if (c < ' ' || c > '~') return {};
    return line;
}

bool usable_element_set(std::string_view line1, std::string_view line2) {
    return element_set_fault(line1, line2) == ElementSetFault::none;
}
