// Every heap allocation and every file call of one start's work made to
// fail, one at a time, until a run no longer reaches the failing call. After
// each run norad_M2.txt is the previous file or the new set, nothing else;
// nothing but it is left in the current directory, no catalogue is left
// anywhere, and the outcome reported is the one that happened. Leaks show in
// LeakSanitizer at the end of the process.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/fetch.h"
#include "app/work.h"
#include "file/file_stream.h"
#include "net/network.h"
#include "platform/faults.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string expected =
    kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.expected-norad_M2.txt"));
// An earlier set of the station (NOAA 18's real lines).
const std::string previous =
    "METEOR-M2 2\r\n"
    "1 28654U 05018A   24169.91608596  .00000284  00000+0  17494-3 0  9996\r\n"
    "2 28654  98.8743 246.8749 0015146  64.1200 296.1532 14.13233021983273\r\n";

std::string entry() {
    return "METEOR-M2 2             \r\n" + expected.substr(13);
}

// Dates a file three hours back, so that the work asks for a new set.
void age(const std::string& path) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(3));
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

struct FaultSweep : ::testing::Test {
    kt::TempDir program_dir, work_dir, user_temp;
    std::string program = program_dir.file("kestrin.exe");
    fs::path started_in = fs::current_path();
    kt::HttpTestServer server{{kt::reply("HTTP/1.1 200 OK\r\nContent-Length: " +
                                         std::to_string(entry().size()) + "\r\n\r\n" + entry())},
                              [] {
                                  kt::ServerOptions o;
                                  o.repeat = true;
                                  return o;
                              }()};
    // A host that has no catalogue to give.
    kt::HttpTestServer refusing{{kt::reply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")},
                                [] {
                                    kt::ServerOptions o;
                                    o.repeat = true;
                                    return o;
                                }()};
    std::string url = server.base_url() + CATALOGUE_QUERY;

    void SetUp() override {
        ASSERT_FALSE(expected.empty());
        ASSERT_TRUE(server.listening());
        posix_set_module_file_name(program.c_str());
        setenv("TMPDIR", user_temp.path.c_str(), 1);
        fs::current_path(work_dir.path);
    }
    void TearDown() override {
        fs::current_path(started_in);
        unsetenv("TMPDIR");
        posix_set_module_file_name(nullptr);
    }

    // One start's work with the k-th call of one kind failing (onward: and
    // every later one); false once the run made fewer than k such calls.
    bool run(FaultCall call, uint32_t k, bool onward = false) {
        kt::write_file("norad_M2.txt", previous);
        age("norad_M2.txt");
        WorkOutcome outcome;
        uint32_t made;
        {
            kt::Runtime runtime;
            EXPECT_TRUE(file_streams_start());
            if (onward)
                posix_fail_from(call, k);
            else
                posix_fail_nth(call, k);
            outcome = do_station_work(url.c_str());
            made = posix_calls_made(call);
            posix_fail_nth(call, 0);
            EXPECT_EQ(file_stream(0), nullptr) << "catalogue left open";
            EXPECT_EQ(file_stream(10), nullptr) << "element file left open";
            network_end();
            file_streams_end();
        }
        const std::string now = kt::read_file("norad_M2.txt");
        const std::string where = "call " + std::to_string(int(call)) + " #" + std::to_string(k);
        EXPECT_TRUE(now == previous || now == expected) << where;
        EXPECT_EQ(outcome == WorkOutcome::written, now == expected) << where;
        EXPECT_EQ(names_in(work_dir.path), std::vector<std::string>{"norad_M2.txt"}) << where;
        EXPECT_TRUE(names_in(user_temp.path).empty()) << where;
        // Only a failed delete of the catalogue itself may leave it behind;
        // the next run's fetch removes it first.
        if (call != FaultCall::delete_file) {
            EXPECT_TRUE(names_in(program_dir.path).empty()) << where;
        }
        for (const std::string& name : names_in(program_dir.path))
            fs::remove(program_dir.path / name);
        if (k > made) return false;
        outcomes[int(outcome)]++;
        return true;
    }

    // What the failure points led to, by WorkOutcome.
    uint32_t outcomes[4] = {};

    // Sweeps k from 1 up; the number of failure points covered.
    uint32_t sweep(FaultCall call, bool onward = false) {
        for (uint32_t& n : outcomes)
            n = 0;
        uint32_t k = 1;
        while (k < 10000 && run(call, k, onward))
            k++;
        return k - 1;
    }
};

const struct {
    FaultCall call;
    const char* name;
} KINDS[] = {
    {FaultCall::heap_alloc, "heap allocation"},  {FaultCall::create_file, "CreateFileA"},
    {FaultCall::read_file, "ReadFile"},          {FaultCall::write_file, "WriteFile"},
    {FaultCall::flush_file, "FlushFileBuffers"}, {FaultCall::move_file, "MoveFileExA"},
    {FaultCall::delete_file, "DeleteFileA"},
};

TEST_F(FaultSweep, EveryFailingCallLeavesTheOldSetOrTheNewOne) {
    // Unfaulted, the work writes the new set.
    run(FaultCall::heap_alloc, 0);
    EXPECT_EQ(kt::read_file("norad_M2.txt"), expected);
    // Once failing, a call kind may stay failing (memory short, disk full):
    // the work must still end, and as soundly.
    for (bool onward : {false, true}) {
        for (const auto& kind : KINDS) {
            const uint32_t points = sweep(kind.call, onward);
            std::printf("%-17s %-7s %2u failure points: %u written, %u not updated, "
                        "%u unavailable\n",
                        kind.name, onward ? "onward" : "once", points,
                        outcomes[int(WorkOutcome::written)],
                        outcomes[int(WorkOutcome::not_updated)],
                        outcomes[int(WorkOutcome::catalogue_unavailable)]);
            EXPECT_GT(points, 0u) << kind.name;
        }
    }
}

// A fetch that had no catalogue is reported as such whatever fails after
// it, a tmp1 that cannot be removed included: the box is never skipped.
TEST_F(FaultSweep, AFailedFetchIsReportedWhateverFailsAfterIt) {
    url = refusing.base_url() + CATALOGUE_QUERY;
    // Nothing is read, written or moved when no catalogue came.
    for (bool onward : {false, true}) {
        for (FaultCall call :
             {FaultCall::heap_alloc, FaultCall::create_file, FaultCall::delete_file}) {
            SCOPED_TRACE(int(call));
            const uint32_t points = sweep(call, onward);
            EXPECT_GT(points, 0u);
            EXPECT_EQ(outcomes[int(WorkOutcome::catalogue_unavailable)], points);
        }
    }
}

} // namespace
