#include <string>

#include <gtest/gtest.h>

#include "core/runtime.h"
#include "http/url.h"
#include "tests/support/test_support.h"

namespace {

struct UrlCase {
    const char* name;
    const char* url;
    int32_t selector;
    const char* expected; // null: no part
};

const UrlCase cases[] = {
    {"catalogue site", "http://celestrak.org/NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE",
     URL_SITE, "celestrak.org"},
    {"catalogue has no port", "http://celestrak.org/NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE",
     URL_PORT, nullptr},
    {"catalogue full path keeps its query, no leading slash",
     "http://celestrak.org/NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE", URL_PATH_FULL,
     "NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE"},
    {"no scheme separator: no site", "celestrak.org/x", URL_SITE, nullptr},
    {"no scheme separator: no port", "celestrak.org:80/x", URL_PORT, nullptr},
    {"no scheme separator: no path", "celestrak.org/x", URL_PATH_FULL, nullptr},
    {"scheme is never looked at", "gopher+x://h/p", URL_SITE, "h"},
    {"site ends at the port", "http://h:8080/p", URL_SITE, "h"},
    {"port as text", "http://h:8080/p", URL_PORT, "8080"},
    {"port to the end of the URL", "http://h:8080", URL_PORT, "8080"},
    {"empty port before a slash", "http://h:/p", URL_PORT, nullptr},
    {"empty port at the end", "http://h:", URL_PORT, nullptr},
    {"query right after the port belongs to it", "http://h:81?q=1", URL_PORT, "81?q=1"},
    {"colon in the path is no port", "http://h/a:b", URL_PORT, nullptr},
    {"site without anything after it", "http://h", URL_SITE, "h"},
    {"no path after the site", "http://h", URL_PATH_FULL, nullptr},
    {"only a slash after the site", "http://h/", URL_PATH_FULL, nullptr},
    {"only a slash after the site, short path", "http://h/", URL_PATH, nullptr},
    {"query and anchor stay in the full path", "http://h/a/b?q=1#top", URL_PATH_FULL,
     "a/b?q=1#top"},
    {"path stops at the query", "http://h/a/b?q=1#top", URL_PATH, "a/b"},
    {"anchor without query stays in the path", "http://h/a#top", URL_PATH, "a#top"},
    {"query or anchor do not end the site", "http://h?q#a", URL_SITE, "h?q#a"},
    {"user information is skipped", "http://user:pw@h:81/p", URL_SITE, "h"},
    {"port after user information", "http://user:pw@h:81/p", URL_PORT, "81"},
    {"path slash comes first: @ in the path", "http://h/p@q", URL_SITE, "h"},
    {"no slash at all: @ starts the site", "http://a:b@h", URL_SITE, "h"},
    {"path slash is the first after the authority", "http://u@h/p", URL_PATH_FULL, "p"},
    {"bracketed IPv6 ends at its first colon", "http://[::1]:80/p", URL_SITE, "["},
    {"empty site", "http:///p", URL_SITE, nullptr},
    {"unknown selector", "http://h/p", 4, nullptr},
    {"negative selector", "http://h/p", -1, nullptr},
    {"no URL", nullptr, URL_SITE, nullptr},
};

TEST(UrlPart, TakesEachPartTextually) {
    kt::Runtime runtime;
    for (const UrlCase& c : cases) {
        char* part = url_part(c.url, c.selector);
        if (c.expected) {
            ASSERT_NE(part, nullptr) << c.name;
            EXPECT_STREQ(part, c.expected) << c.name;
        } else {
            EXPECT_EQ(part, nullptr) << c.name;
        }
        heap_free(part);
    }
}

TEST(UrlPart, LeavesTheUrlUnchanged) {
    kt::Runtime runtime;
    char url[] = "http://u:p@h:8/a?b#c";
    const std::string before = url;
    for (int32_t s = URL_SITE; s <= URL_PATH_FULL; s++)
        heap_free(url_part(url, s));
    EXPECT_EQ(std::string(url), before);
}

} // namespace
