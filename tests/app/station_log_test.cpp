// The station's log: its time stamp, its 64 KiB bound (the oldest half of
// its lines goes when a line would pass it) and its whole-or-nothing rewrite.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/station_log.h"
#include "tests/support/test_support.h"
#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

// FILETIME units of a UTC time given as seconds since 1970.
uint64_t utc_at(int64_t unix_seconds) {
    return uint64_t(unix_seconds + 11644473600) * 10000000;
}

TEST(StationLog, StampCarriesTheOffsetFromUtc) {
    const int64_t utc = 1796768102; // 2026-12-08 22:15:02 UTC
    const struct Case {
        SYSTEMTIME local;
        int64_t utc;
        const char* stamp;
    } cases[] = {
        {{2026, 12, 2, 8, 23, 15, 2, 0}, utc, "2026-12-08 23:15:02 +01:00"},
        {{2026, 12, 2, 8, 22, 15, 3, 0}, utc, "2026-12-08 22:15:03 +00:00"}, // a second later
        {{2026, 12, 2, 8, 16, 45, 2, 0}, utc, "2026-12-08 16:45:02 -05:30"},
        {{2026, 12, 3, 9, 3, 0, 2, 0}, utc, "2026-12-09 03:00:02 +04:45"}, // across midnight
        // Across the ends of February (in a leap year too) and of a year.
        {{2028, 3, 3, 1, 0, 30, 0, 0}, 1835479800, "2028-03-01 00:30:00 +01:00"},
        {{2027, 2, 0, 28, 23, 0, 0, 0}, 1803862800, "2027-02-28 23:00:00 -02:00"},
        {{2027, 1, 5, 1, 0, 30, 0, 0}, 1798759800, "2027-01-01 00:30:00 +01:00"},
        {{2399, 6, 2, 1, 12, 0, 0, 0},
         13551015600,
         "2399-06-01 12:00:00 +01:00"}, // a clock far ahead
        // 7 min 29 s behind is nearer to no offset than to a quarter hour.
        {{2026, 12, 2, 8, 22, 7, 33, 0}, utc, "2026-12-08 22:07:33 +00:00"},
    };
    for (const Case& c : cases) {
        char stamp[LOG_STAMP_SIZE];
        log_stamp(c.local, utc_offset_minutes(c.local, utc_at(c.utc)), stamp);
        EXPECT_STREQ(stamp, c.stamp);
    }
}

std::string lines(int from, int count, size_t width) {
    std::string s;
    for (int i = from; i < from + count; i++) {
        std::string line = std::to_string(i);
        line.resize(width - 2, '.');
        s += line + "\r\n";
    }
    return s;
}

TEST(StationLog, OldestHalfGoesWhenALineWouldPassTheBound) {
    const std::string full = lines(0, 1024, 64); // exactly 64 KiB
    const struct Case {
        const char* name;
        std::string old;
        size_t added;
        size_t kept_from;
    } cases[] = {
        {"fits", lines(0, 10, 64), 64, 0},
        {"fits to the byte", full.substr(64), 64, 0},
        {"one byte over: half the lines go", full, 1, 512 * 64},
        {"still over after a half: halved again", full, 40000, 768 * 64},
        {"one line longer than the bound", std::string(70000, 'x'), 10, 70000},
        {"a line past the bound alone", "", LOG_LIMIT + 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(log_kept_from(c.old, c.added), c.kept_from) << c.name;
}

TEST(StationLog, AppendedLinesStayWithinTheBound) {
    kt::Runtime runtime;
    kt::TempDir dir;
    const std::string log = dir.file("kestrin.log");
    const std::string text(100, 'a'); // with the stamp and a digit, 130 bytes a line
    size_t longest = 0;
    for (int i = 0; i < 600; i++) {
        ASSERT_TRUE(append_log_line(log.c_str(), (text + std::to_string(i % 10)).c_str()));
        longest = std::max(longest, kt::read_file(log).size());
    }
    EXPECT_LE(longest, LOG_LIMIT);
    EXPECT_GT(longest, LOG_LIMIT - 130);
    const std::string bytes = kt::read_file(log);
    // 504 lines fit; the 505th dropped the oldest 252; 600 - 252 remain.
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 348);
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "a9\r\n");
    EXPECT_EQ(bytes[26], ' '); // after the stamp
#ifndef _WIN32
    // The stamp's offset is the zone's (here 3 hours east of UTC).
    setenv("TZ", "UTC-03:00", 1);
    tzset();
    ASSERT_TRUE(append_log_line(log.c_str(), "east"));
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(kt::read_file(log).substr(kt::read_file(log).size() - 13), "+03:00 east\r\n");
#endif
    EXPECT_FALSE(kt::file_exists(log + ".new"));
    // A log grown past the bound by other means: its last 64 KiB are read,
    // from the first whole line on.
    kt::write_file(log, lines(0, 2000, 64));
    ASSERT_TRUE(append_log_line(log.c_str(), "x"));
    const std::string trimmed = kt::read_file(log);
    EXPECT_EQ(trimmed.substr(0, 64), lines(977, 1, 64));
}

TEST(StationLog, ALogThatCannotBeWrittenStaysAsItWas) {
    kt::Runtime runtime;
    kt::TempDir dir;
    const std::string log = dir.file("kestrin.log");
    kt::write_file(log, "earlier\r\n");
    // The new file cannot be made where a folder of its name stands.
    std::filesystem::create_directory(log + ".new");
    EXPECT_FALSE(append_log_line(log.c_str(), "lost"));
    EXPECT_EQ(kt::read_file(log), "earlier\r\n");
    EXPECT_FALSE(append_log_line(dir.file("no such folder/kestrin.log").c_str(), "lost"));
    EXPECT_FALSE(append_log_line(nullptr, "lost"));
    // Paths up to 255 characters leave room for ".new" within MAX_PATH; a
    // one-character name is a name like any other.
    const std::string stem = dir.path.string() + "/";
    EXPECT_TRUE(append_log_line((stem + std::string(255 - stem.size(), 'n')).c_str(), "kept"));
    EXPECT_FALSE(append_log_line((stem + std::string(256 - stem.size(), 'n')).c_str(), "lost"));
    const auto previous_folder = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    EXPECT_TRUE(append_log_line("L", "kept"));
    std::filesystem::current_path(previous_folder);
    EXPECT_TRUE(kt::file_exists(dir.file("L")));
#ifndef _WIN32
    // Any one call that fails (memory, open, read, write, flush, move): the
    // log stays as it was and nothing is left beside it.
    const std::string other = dir.file("other.log");
    for (FaultCall call : {FaultCall::heap_alloc, FaultCall::create_file, FaultCall::read_file,
                           FaultCall::write_file, FaultCall::flush_file, FaultCall::move_file}) {
        for (uint32_t k = 1; k < 20; k++) {
            kt::write_file(other, "earlier\r\n");
            const size_t blocks = kt::heap_counts().live;
            posix_fail_nth(call, k);
            const bool added = append_log_line(other.c_str(), "line");
            const bool failed = posix_calls_made(call) >= k;
            posix_fail_nth(call, 0);
            const std::string bytes = kt::read_file(other);
            EXPECT_EQ(added, !failed) << int(call) << " " << k;
            if (failed) {
                EXPECT_EQ(bytes, "earlier\r\n") << int(call) << " " << k;
            }
            EXPECT_FALSE(kt::file_exists(other + ".new")) << int(call) << " " << k;
            EXPECT_EQ(kt::heap_counts().live, blocks) << int(call) << " " << k;
            if (!failed) {
                EXPECT_EQ(bytes.substr(0, 9), "earlier\r\n");
                EXPECT_EQ(bytes.substr(bytes.size() - 7), " line\r\n");
                break;
            }
        }
    }
#endif
}

} // namespace
