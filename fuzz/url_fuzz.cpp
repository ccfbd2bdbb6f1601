// Fuzz target: arbitrary text through url_part with every selector (and
// some that are none). The URL must stay unchanged; a part is a non-empty
// run of the URL that holds none of the separators that end it: a site no
// ":" or "/", a port no "/", a path no "?"; the path begins the full path
// and the full path ends the URL. Without "://" nothing is a part.
//
// Input: the URL text, up to its first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/runtime.h"
#include "http/url.h"

namespace {

[[noreturn]] void fail(const char* what, int32_t selector) {
    std::fprintf(stderr, "url_fuzz: %s (selector %d)\n", what, int(selector));
    std::abort();
}

bool ends_with(const char* s, size_t n, const char* tail) {
    const size_t t = std::strlen(tail);
    return t <= n && std::memcmp(s + n - t, tail, t) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!main_heap) main_heap = HeapCreate(0, 4096, 0);
    const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t n = end ? size_t(end - data) : size;
    // Exactly as long as the text, so that a read past its end is caught.
    std::unique_ptr<char[]> url(new char[n + 1]);
    std::memcpy(url.get(), data, n);
    url[n] = 0;
    const bool has_scheme = std::strstr(url.get(), "://") != nullptr;

    constexpr int32_t selectors[] = {URL_SITE, URL_PORT, URL_PATH,  URL_PATH_FULL,
                                     4,        -1,       INT32_MIN, INT32_MAX};
    char* parts[4] = {};
    for (int32_t s : selectors) {
        char* part = url_part(url.get(), s);
        if (std::memcmp(url.get(), data, n) != 0 || url[n] != 0) fail("URL changed", s);
        if (!part) continue;
        if (s < URL_SITE || s > URL_PATH_FULL) fail("a part for no selector", s);
        if (!has_scheme) fail("a part without a scheme separator", s);
        if (!*part) fail("an empty part", s);
        if (!std::strstr(url.get(), part)) fail("a part that is not in the URL", s);
        if (s == URL_SITE && std::strpbrk(part, ":/")) fail("a site holding : or /", s);
        if (s == URL_PORT && std::strchr(part, '/')) fail("a port holding /", s);
        if (s == URL_PATH && std::strchr(part, '?')) fail("a path holding ?", s);
        if (s == URL_PATH_FULL && !ends_with(url.get(), n, part))
            fail("full path not at the end", s);
        parts[s] = part;
    }
    if (parts[URL_PATH] &&
        (!parts[URL_PATH_FULL] ||
         std::strncmp(parts[URL_PATH_FULL], parts[URL_PATH], std::strlen(parts[URL_PATH])) != 0))
        fail("path does not begin the full path", URL_PATH);
    for (char* part : parts)
        heap_free(part);
    return 0;
}
