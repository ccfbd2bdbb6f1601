#include "app/command_line.h"

#include <algorithm>
#include <string_view>

namespace {

// wchar_t is 16 bits on Windows and 32 on the host: only ASCII values are
// ever compared, never assumed wider or narrower.
using Argument = std::wstring_view;

// A part of a view, without substr's range check: that would pull the C++
// library's exception machinery into the program.
Argument part(Argument a, size_t from, size_t count = Argument::npos) {
    from = std::min(from, a.size());
    return Argument(a.data() + from, std::min(count, a.size() - from));
}
constexpr size_t NONE = Argument::npos;

constexpr size_t NUMBER_DIGITS = 5;
constexpr size_t PORT_DIGITS = 5;
constexpr uint32_t PORT_MAX = 65535;
constexpr size_t HOST_LIMIT = 253;
constexpr size_t LABEL_LIMIT = 63;

bool printable(wchar_t c) {
    return static_cast<uint32_t>(c) >= 0x20 && static_cast<uint32_t>(c) <= 0x7E;
}

bool digit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

wchar_t lower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

// word is lower-case ASCII.
bool starts(Argument a, std::string_view word) {
    if (a.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); i++)
        if (lower(a[i]) != wchar_t(word[i])) return false;
    return true;
}

bool same(Argument a, std::string_view word) {
    return a.size() == word.size() && starts(a, word);
}

// One to most decimal digits, nothing else.
bool decimal(Argument s, size_t most, uint32_t& value) {
    if (s.empty() || s.size() > most) return false;
    value = 0;
    for (wchar_t c : s) {
        if (!digit(c)) return false;
        value = value * 10 + uint32_t(c - L'0');
    }
    return true;
}

// True when check holds for each dot-separated part of text, empty ones too.
template <class Check> bool each_part(Argument text, Check check) {
    for (;;) {
        const size_t dot = text.find(L'.');
        if (!check(part(text, 0, dot))) return false;
        if (dot == NONE) return true;
        text.remove_prefix(dot + 1);
    }
}

bool host_label(Argument label) {
    if (label.empty() || label.size() > LABEL_LIMIT || label.front() == L'-' ||
        label.back() == L'-')
        return false;
    for (wchar_t c : label)
        if (!digit(c) && !(lower(c) >= L'a' && lower(c) <= L'z') && c != L'-') return false;
    return true;
}

// No leading zeros: the system's resolver reads "010" as octal.
bool address_part(Argument part) {
    uint32_t value;
    return decimal(part, 3, value) && value <= 255 && (part.size() == 1 || part[0] != L'0');
}

// Digits and dots alone would be taken for an address by the resolver, even
// "1.2.3": such a host must be a plain four-part address.
bool good_host(Argument host) {
    if (host.find_first_not_of(L"0123456789.") == NONE)
        return std::count(host.begin(), host.end(), L'.') == 3 && each_part(host, address_part);
    return host.size() <= HOST_LIMIT && each_part(host, host_label);
}

// Without leading zeros, so the site as typed is also the port's one spelling.
bool good_port(Argument port) {
    uint32_t value;
    return decimal(port, PORT_DIGITS, value) && value <= PORT_MAX && port[0] != L'0';
}

// Printable is checked before: each unit is one ASCII character. The
// choices start zeroed and are written once, so out ends terminated.
char* put(char* out, Argument text) {
    for (wchar_t c : text)
        *out++ = char(c);
    return out;
}

bool take_source(Argument url, StartChoices& c) {
    const bool secure = starts(url, "https://");
    if (!secure && !starts(url, "http://")) return false;
    const std::string_view scheme = secure ? "https://" : "http://";
    const Argument rest = part(url, scheme.size());
    const size_t slash = rest.find(L'/');
    const Argument authority = part(rest, 0, slash);
    const Argument path = slash == NONE ? Argument() : part(rest, slash);
    // The host's characters leave no room for a user name's "@" or a space.
    const size_t colon = authority.find(L':');
    if (!good_host(part(authority, 0, colon))) return false;
    if (colon != NONE && !good_port(part(authority, colon + 1))) return false;
    if (path.find(L' ') != NONE) return false;
    if (url.size() + path.empty() >= size_t(SOURCE_URL_LIMIT)) return false;

    char* out = c.source_url;
    for (char s : scheme)
        *out++ = s;
    out = put(out, rest);
    if (path.empty()) *out = '/';
    put(c.source_site, authority);
    c.has_source = true;
    c.source_secure = secure;
    return true;
}

CommandFault flag(bool& given) {
    if (given) return CommandFault::repeated_option;
    given = true;
    return CommandFault::none;
}

CommandFault take(Argument a, StartChoices& c, bool& usage) {
    for (wchar_t u : a)
        if (!printable(u)) return CommandFault::not_printable;
    if (a.empty() || (a[0] != L'/' && a[0] != L'-')) {
        // Catalogue numbers are often written zero-padded: leading zeros are
        // free, five digits after them at most.
        const size_t first = a.find_first_not_of(L'0');
        uint32_t number;
        if (first == NONE || !decimal(part(a, first), NUMBER_DIGITS, number))
            return CommandFault::bad_number;
        if (c.catalogue_number) return CommandFault::second_number;
        c.catalogue_number = number;
        return CommandFault::none;
    }
    const Argument name = part(a, 1);
    if (same(name, "?")) return flag(usage);
    if (same(name, "close")) return flag(c.unattended);
    if (starts(name, "source:")) {
        if (c.has_source) return CommandFault::repeated_option;
        return take_source(part(name, 7), c) ? CommandFault::none : CommandFault::bad_source;
    }
    if (same(name, "source")) return CommandFault::bad_source; // the URL forgotten
    return CommandFault::unknown_option;
}

// out starts zeroed, so it ends terminated.
void echo(char* out, Argument a) {
    for (size_t i = 0; i < a.size() && i < size_t(ECHO_LIMIT); i++)
        out[i] = printable(a[i]) ? char(a[i]) : '?';
}

} // namespace

CommandLine parse_command_line(const wchar_t* const* arguments, int32_t count) {
    CommandLine r{};
    bool usage = false;
    // Every argument is read, even after a fault: /close anywhere must still
    // keep a refusal from showing a box.
    for (int32_t i = 0; i < count; i++) {
        const Argument a = arguments[i] ? Argument(arguments[i]) : Argument();
        const CommandFault fault = take(a, r.choices, usage);
        if (fault == CommandFault::none || r.fault != CommandFault::none) continue;
        r.fault = fault;
        echo(r.echo, a);
    }
    // /? wins over a fault: whoever typed it is at the screen, and the usage
    // tells how to write the rest, which a refusal with /close would not show.
    // The fault stays told, so the caller may name it too.
    if (usage)
        r.verdict = CommandVerdict::usage;
    else if (r.fault != CommandFault::none)
        r.verdict = CommandVerdict::refused;
    if (r.verdict != CommandVerdict::start) {
        const bool unattended = r.choices.unattended;
        r.choices = StartChoices{};
        r.choices.unattended = unattended;
    }
    return r;
}
