#include "http/answer_text.h"

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Views are cut with remove_prefix and remove_suffix, never substr: its
// range check would pull the exception machinery into the program.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Up to the first CR, LF or zero byte (a parsed head's line ends are zeros).
std::string_view first_line(std::string_view text) {
    const size_t end = text.find_first_of(std::string_view("\r\n\0", 3));
    if (end != std::string_view::npos) text.remove_suffix(text.size() - end);
    return text;
}

} // namespace

int32_t status_code_of(std::string_view status_line, std::string_view* reason) {
    if (reason) *reason = {};
    const std::string_view line = first_line(status_line);
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4) return 0;
    const char* code = line.data() + blank + 1;
    if (!is_digit(code[0]) || !is_digit(code[1]) || !is_digit(code[2])) return 0;
    if (line.size() > blank + 4 && line[blank + 4] != ' ') return 0;
    if (reason)
        *reason = trimmed(std::string_view(line.data() + blank + 4, line.size() - blank - 4));
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

bool headers_say_chunked(std::string_view headers) {
    constexpr std::string_view name = "transfer-encoding:";
    for (size_t at = 0; at < headers.size();) {
        size_t end = headers.find_first_of(std::string_view("\n\0", 2), at);
        if (end == std::string_view::npos) end = headers.size();
        const std::string_view line(headers.data() + at, end - at);
        at = end + 1;
        if (line.size() < name.size()) continue;
        bool named = true;
        for (size_t i = 0; i < name.size() && named; i++)
            named = lower(line[i]) == name[i];
        if (named && line.find("chunked") != std::string_view::npos) return true;
    }
    return false;
}

void printable_first_line(std::string_view text, char* out, int32_t limit) {
    int32_t n = 0;
    for (char c : first_line(text)) {
        if (c == '\t') c = ' ';
        if (c < ' ' || c > '~' || n >= limit) continue;
        if (c == ' ' && n == 0) continue; // leading blanks
        out[n++] = c;
    }
    while (n > 0 && out[n - 1] == ' ')
        n--;
    out[n] = 0;
}
