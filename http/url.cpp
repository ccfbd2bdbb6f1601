#include "http/url.h"

#include <cstring>

#include "core/runtime.h"

namespace {

// First occurrence of c at or after from, or null.
const char* find(const char* from, char c) {
    return std::strchr(from, c);
}

// The earlier of two positions, either of which may be missing.
const char* earlier(const char* a, const char* b) {
    if (!a) return b;
    if (!b) return a;
    return a < b ? a : b;
}

// Where the site begins: after user information when its "@" stands before
// the first slash (or there is no slash at all).
const char* site_begin(const char* authority) {
    const char* slash = find(authority, '/');
    const char* at = find(authority, '@');
    if (at && (!slash || at < slash)) return at + 1;
    return authority;
}

char* copy_part(const char* begin, const char* end) {
    const size_t n = size_t(end - begin);
    auto* s = static_cast<char*>(heap_alloc(n + 1));
    if (!s) return nullptr;
    std::memcpy(s, begin, n);
    s[n] = 0;
    return s;
}

// Where the part lies in the URL; false when it is missing or empty.
bool find_part(const char* url, int32_t selector, const char** begin, const char** end) {
    if (!url) return false;
    const char* scheme_end = std::strstr(url, "://");
    if (!scheme_end) return false;
    const char* authority = scheme_end + 3;
    const char* url_end = authority + std::strlen(authority);

    switch (selector) {
    case URL_SITE: {
        *begin = site_begin(authority);
        *end = earlier(find(*begin, ':'), find(*begin, '/'));
        break;
    }
    case URL_PORT: {
        const char* site = site_begin(authority);
        const char* colon = find(site, ':');
        const char* slash = find(site, '/');
        if (!colon || (slash && slash < colon)) return false;
        *begin = colon + 1;
        *end = find(*begin, '/');
        break;
    }
    case URL_PATH:
    case URL_PATH_FULL: {
        const char* slash = find(authority, '/');
        if (!slash) return false;
        *begin = slash + 1;
        *end = selector == URL_PATH ? find(*begin, '?') : nullptr;
        break;
    }
    default:
        return false;
    }
    if (!*end) *end = url_end;
    return *end > *begin;
}

} // namespace

char* url_part(const char* url, int32_t selector) {
    const char *begin, *end;
    return find_part(url, selector, &begin, &end) ? copy_part(begin, end) : nullptr;
}

bool url_has_part(const char* url, int32_t selector) {
    const char *begin, *end;
    return find_part(url, selector, &begin, &end);
}
