#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/extract.h"
#include "app/fetch.h"
#include "app/start.h"
#include "file/file_stream.h"
#include "net/network.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

struct FetchTest : ::testing::Test {
    kt::Runtime runtime;
    kt::TempDir dir;
    std::string program = dir.file("kestrin.exe");
    void SetUp() override {
#ifndef _WIN32
        // The program's directory is the test's: tmp1 goes there.
        posix_set_module_file_name(program.c_str());
#endif
        ASSERT_TRUE(file_streams_start());
        ASSERT_EQ(network_start(), 1);
    }
    void TearDown() override {
        network_end();
        file_streams_end();
#ifndef _WIN32
        posix_set_module_file_name(nullptr);
#endif
    }
};

TEST_F(FetchTest, TempPathIsTheProgramDirectoryAndTmp1) {
    StringVar temp_path = nullptr;
    build_temp_path(&temp_path);
    ASSERT_NE(temp_path, nullptr);
    const std::string path = temp_path;
    char exe[MAX_PATH + 1] = {};
    ASSERT_NE(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    const std::string name = exe;
    EXPECT_EQ(path, name.substr(0, name.find_last_of("/\\") + 1) + "tmp1");
#ifndef _WIN32
    EXPECT_EQ(path, dir.file("tmp1"));
    // Where tmp1 cannot be made, the user's temporary folder takes it, even
    // one whose name is as long as the system gives (259 characters and the
    // separator).
    const std::string url = "http://127.0.0.1:" + std::to_string(kt::unused_port()) + "/";
    kt::TempDir user_temp;
    const std::string folder =
        user_temp.file(std::string(259 - user_temp.path.string().size() - 1, 'u'));
    std::filesystem::create_directory(folder);
    setenv("TMPDIR", folder.c_str(), 1);
    posix_fail_nth(FaultCall::create_file, 1);
    EXPECT_EQ(fetch_catalogue(url.c_str(), &temp_path), 0);
    posix_fail_nth(FaultCall::create_file, 0);
    unsetenv("TMPDIR");
    EXPECT_STREQ(temp_path, (folder + "/kestrin_tmp1").c_str());
#endif
}

TEST_F(FetchTest, FetchesTheCatalogueAndExtractsTheElementSet) {
    const std::string excerpt =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    const std::string expected =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.expected-norad_M2.txt"));
    ASSERT_FALSE(excerpt.empty());
    kt::HttpTestServer server({kt::reply("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                         "Content-Length: " +
                                         std::to_string(excerpt.size()) + "\r\n\r\n" + excerpt)});
    const std::string site = "127.0.0.1:" + std::to_string(server.port());
    StringVar temp_path = nullptr;
    DownloadReport report{};
    EXPECT_EQ(
        fetch_catalogue(("http://" + site + CATALOGUE_QUERY).c_str(), &temp_path, nullptr, &report),
        int32_t(excerpt.size()));
    EXPECT_EQ(report.status_code, 200);
    EXPECT_EQ(report.body_bytes, int32_t(excerpt.size()));
    ASSERT_TRUE(server.wait_done());
    EXPECT_EQ(server.requests().at(0),
              "GET /NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE HTTP/1.1\r\nAccept: */*\r\n"
              "Host: " +
                  site + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(kt::read_file(temp_path), excerpt);

    const std::string output = dir.file("norad_M2.txt");
    EXPECT_EQ(extract_element_set(temp_path, output.c_str()), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), expected);
    EXPECT_TRUE(delete_file(temp_path));
    EXPECT_FALSE(kt::file_exists(temp_path));
}

TEST_F(FetchTest, UnreachableServerLeavesNoCatalogue) {
    const std::string url = "http://127.0.0.1:" + std::to_string(kt::unused_port()) + "/";
    StringVar temp_path = nullptr;
    // A tmp1 left by a run that was killed is not taken for the catalogue.
    build_temp_path(&temp_path);
    kt::write_file(temp_path, "METEOR-M2 2\r\nstale 1\r\nstale 2\r\n");
    EXPECT_EQ(fetch_catalogue(url.c_str(), &temp_path), 0);
    ASSERT_NE(temp_path, nullptr);
    EXPECT_FALSE(kt::file_exists(temp_path));
    EXPECT_EQ(extract_element_set(temp_path, dir.file("norad_M2.txt").c_str()),
              ExtractResult::catalogue_unopenable);
}

TEST_F(FetchTest, CatalogueCutShortIsNotUsed) {
    const std::string excerpt =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    ASSERT_FALSE(excerpt.empty());
    // The server promises the whole excerpt and closes half-way through it.
    kt::HttpTestServer server(
        {kt::reply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(excerpt.size()) +
                   "\r\n\r\n" + excerpt.substr(0, excerpt.size() / 2))});
    StringVar temp_path = nullptr;
    EXPECT_EQ(fetch_catalogue((server.base_url() + "/").c_str(), &temp_path), 0);
    EXPECT_TRUE(server.wait_done());
    ASSERT_NE(temp_path, nullptr);
    EXPECT_FALSE(kt::file_exists(temp_path));
}

// A start's worker and a close on the window thread: the close cancels
// while the host has the request and nothing is claimed (the worker stops
// within its slice, the file stands, one "cancelled" line); once the worker
// told its outcome the close changes nothing (one "written" line).
TEST_F(FetchTest, ACloseCancelsTheStartOnlyBeforeItsOutcome) {
    const std::string excerpt =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(excerpt.size()) + "\r\n\r\n";
    const struct {
        const char* name;
        kt::Reply reply;
        bool cancelled;
    } cases[] = {{"silent host", kt::reply("", kt::Ending::stall), true},
                 {"whole answer", kt::reply(answer + excerpt), false}};
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    for (const auto& c : cases) {
        kt::write_file("norad_M2.txt", "previous");
        std::remove("kestrin.log");
        kt::HttpTestServer server({c.reply});
        const std::string url = server.base_url() + "/";
        std::atomic<bool> told{false};
        Start start{url.c_str(),
                    "127.0.0.1",
                    [](void* t) { *static_cast<std::atomic<bool>*>(t) = true; },
                    &told,
                    {},
                    CLAIM_NONE,
                    nullptr,
                    WorkOutcome::cancelled,
                    {}};
        start_work(&start);
        for (int i = 0; i < 1000 && (c.cancelled ? server.requests().empty() : !told); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(cancel_start(&start), c.cancelled) << c.name;
        EXPECT_TRUE(start_ended(&start, c.cancelled ? 300 + WAIT_SLICE_MS : 10000)) << c.name;
        EXPECT_EQ(told, !c.cancelled) << c.name;
        const std::string log = kt::read_file("kestrin.log");
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << c.name << log;
        EXPECT_NE(log.find(c.cancelled ? " cancelled: " : " written: "), std::string::npos)
            << c.name << log;
        EXPECT_EQ(kt::read_file("norad_M2.txt") == "previous", c.cancelled) << c.name;
        EXPECT_FALSE(kt::file_exists(dir.file("tmp1"))) << c.name;
        server.stop();
    }
    std::filesystem::current_path(here);
}

} // namespace
