#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/freshness.h"
#include "core/win32.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint64_t SECOND = 10000000;

uint64_t now() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Dates the file with the platform's own call.
bool set_written(const std::string& path, uint64_t when) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    const FILETIME t{DWORD(when), DWORD(when >> 32)};
    const bool set = SetFileTime(f, nullptr, nullptr, &t);
    CloseHandle(f);
    return set;
}

const std::string expected =
    kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.expected-norad_M2.txt"));

TEST(Freshness, FileTimeDecides) {
    kt::TempDir dir;
    const std::string path = dir.file("norad_M2.txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_FALSE(station_file_fresh(path.c_str())); // no file
    kt::write_file(path, expected);
    const struct Case {
        const char* name;
        int64_t age_seconds;
        bool fresh;
    } cases[] = {
        {"just written", 1, true},
        {"a second short of two hours", 2 * 3600 - 1, true},
        {"two hours and a second old", 2 * 3600 + 1, false},
        {"dated an hour in the future", -3600, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(set_written(path, now() - uint64_t(c.age_seconds * int64_t(SECOND)))) << c.name;
        EXPECT_EQ(station_file_fresh(path.c_str()), c.fresh) << c.name;
    }
    EXPECT_EQ(kt::read_file(path), expected); // judged, never written
}

TEST(Freshness, OnlyAUsableSetOfTheSatelliteCounts) {
    ASSERT_FALSE(expected.empty());
    const std::string lf_only = "METEOR-M2 2\n" + expected.substr(13);
    const struct Case {
        const char* name;
        std::string bytes;
        bool candidate;
        uint32_t number = 0; // the satellite asked for by its catalogue number
    } cases[] = {
        {"the file as written", expected, true},
        {"LF line ends", lf_only, true},
        {"empty", "", false},
        {"the name padded", "METEOR-M2 2 " + expected.substr(11), false},
        {"another satellite", "METEOR-M2 3" + expected.substr(11), false},
        {"a damaged digit", expected.substr(0, 40) + "7" + expected.substr(41), false},
        {"cut inside line 2", expected.substr(0, 120), false},
        {"asked for by its number", expected, true, 44387},
        {"another number asked for", expected, false, 57166},
        {"by number, any name", "NOAA 18" + expected.substr(11), true, 44387},
        {"by number, no name", "1 x" + expected.substr(11), false, 44387},
    };
    for (const Case& c : cases) {
        // Exactly the bytes, in a block of their own: nothing past them is read.
        const std::vector<char> exact(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(holds_fresh_candidate(std::string_view(exact.data(), exact.size()), c.number),
                  c.candidate)
            << c.name;
    }
    EXPECT_FALSE(fresh_by_time(0, FRESH_SPAN));
    EXPECT_TRUE(fresh_by_time(1, FRESH_SPAN));
    EXPECT_TRUE(fresh_by_time(FRESH_SPAN, FRESH_SPAN)); // written this moment
}

} // namespace
