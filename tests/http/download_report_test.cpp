// What a download reports to its caller: the stage it stopped at, the
// host's status and own text when it refused, and that every wait asks the
// caller's hook and ends when the hook says stop.
#include <chrono>
#include <thread>

#include "tests/http/download_fixture.h"

#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

// The host's fault switch: every send from the next on fails, as after a
// reset, or none. False in the Windows build, which has no switch.
bool reset_sends(bool on) {
#ifdef _WIN32
    return !on;
#else
    posix_fail_from(FaultCall::send, on ? 1 : 0);
    return true;
#endif
}

struct Reported {
    int32_t count;
    DownloadReport report;
};

struct DownloadReportTest : DownloadTest {
    Reported fetch_reported(std::vector<kt::Reply> replies, int32_t budget = FETCH_BUDGET) {
        kt::HttpTestServer server(std::move(replies));
        EXPECT_TRUE(server.listening());
        Reported r{};
        r.count = download_file((server.base_url() + "/f").c_str(), target.c_str(), nullptr, budget,
                                nullptr, &r.report);
        server.stop();
        return r;
    }
};

const std::string REFUSAL =
    "GP data has not updated since your last successful download of CATNR=44387 at "
    "2026-12-08 18:00:00 UTC.\r\nData is updated once every 2 hours.\r\n";

TEST_F(DownloadReportTest, RefusalsTellTheStatusAndTheHostsFirstLine) {
    const std::string refusal_head =
        "HTTP/1.1 403 Forbidden\r\nContent-Length: " + std::to_string(REFUSAL.size()) + "\r\n\r\n";
    const std::string long_text = "\t \x01"
                                  "ab\x80"
                                  "c " +
                                  std::string(300, 'x') + "\r\n";
    const struct Case {
        const char* name;
        kt::Reply reply;
        int32_t code;
        std::string reason, host_text;
    } cases[] = {
        {"the host's block text", kt::reply(refusal_head + REFUSAL), 403, "Forbidden",
         "GP data has not updated since your last successful download of CATNR=44387 at "
         "2026-12-08 18:00:00 UTC."},
        {"the text in a later read", kt::split_reply(refusal_head + REFUSAL, {refusal_head.size()}),
         403, "Forbidden", REFUSAL.substr(0, REFUSAL.find('\r'))},
        {"a chunked text",
         kt::reply("HTTP/1.1 429 Too Many Requests\r\nTransfer-Encoding: chunked\r\n\r\n"
                   "9\r\nSlow down\r\n0\r\n\r\n"),
         429, "Too Many Requests", "Slow down"},
        {"printable ASCII only, 200 at most",
         kt::reply("HTTP/1.1 503  Service Unavailable \r\nConnection: close\r\n\r\n" + long_text),
         503, "Service Unavailable", "abc " + std::string(196, 'x')},
        {"no text, a 200 only in a header",
         kt::reply("HTTP/1.1 404 Not Found\r\nAge: 200\r\nContent-Length: 0\r\n\r\n"), 404,
         "Not Found", ""},
    };
    for (const Case& c : cases) {
        const Reported r = fetch_reported({c.reply});
        EXPECT_EQ(r.count, 0) << c.name;
        EXPECT_EQ(r.report.stage, DownloadStage::status) << c.name;
        EXPECT_EQ(r.report.status_code, c.code) << c.name;
        EXPECT_EQ(std::string(r.report.reason_phrase), c.reason) << c.name;
        EXPECT_EQ(std::string(r.report.host_text), c.host_text) << c.name;
        EXPECT_FALSE(kt::file_exists(target)) << c.name;
    }
}

TEST_F(DownloadReportTest, EachStageIsTold) {
    const struct Case {
        const char* name;
        std::vector<kt::Reply> replies;
        int32_t budget;
        DownloadStage stage;
        bool timed_out;
        int32_t body_bytes;
        bool reset_on_send = false; // the host fault switch resets the request's send
    } cases[] = {
        {"whole",
         {kt::reply(ok_counted("0123456789"))},
         FETCH_BUDGET,
         DownloadStage::done,
         false,
         10},
        {"head cut",
         {kt::reply("HTTP/1.1 200 OK\r\nContent-Le")},
         FETCH_BUDGET,
         DownloadStage::answer,
         false,
         0},
        {"head too slow",
         {kt::reply("HTTP/1.1 200 OK\r\n", kt::Ending::stall)},
         1,
         DownloadStage::answer,
         true,
         0},
        {"body cut",
         {kt::reply(response("HTTP/1.1 200 OK", "Content-Length: 100\r\n", "0123456789"))},
         FETCH_BUDGET,
         DownloadStage::body,
         false,
         10},
        {"body too slow",
         {kt::reply(response("HTTP/1.1 200 OK", "Content-Length: 100\r\n", "0123456789"),
                    kt::Ending::stall)},
         1,
         DownloadStage::body,
         true,
         10},
        {"reset while the request goes out",
         {kt::reply(ok_counted("0123456789"))},
         FETCH_BUDGET,
         DownloadStage::send,
         false,
         0,
         true},
    };
    for (const Case& c : cases) {
        if (!reset_sends(c.reset_on_send)) continue;
        const Reported r = fetch_reported(c.replies, c.budget);
        reset_sends(false);
        EXPECT_EQ(r.report.stage, c.stage) << c.name;
        EXPECT_EQ(r.report.timed_out, c.timed_out) << c.name;
        EXPECT_EQ(r.report.body_bytes, c.body_bytes) << c.name;
        // The status once its status line came; a reset is told at once.
        EXPECT_EQ(r.report.status_code, c.reset_on_send ? 0 : 200) << c.name;
        if (c.reset_on_send) {
            EXPECT_LT(r.report.milliseconds, 1000u) << c.name;
        }
    }
}

TEST_F(DownloadReportTest, ConnectionAndFileFailuresAreTold) {
    DownloadReport report{};
    const std::string refused = "http://127.0.0.1:" + std::to_string(kt::unused_port()) + "/f";
    EXPECT_EQ(
        download_file(refused.c_str(), target.c_str(), nullptr, FETCH_BUDGET, nullptr, &report), 0);
    EXPECT_EQ(report.stage, DownloadStage::connect);
    EXPECT_EQ(download_file(refused.c_str(), nullptr, nullptr, FETCH_BUDGET, nullptr, &report), 0);
    EXPECT_EQ(report.stage, DownloadStage::request); // no file named: nothing is tried
    EXPECT_EQ(download_file("http://host.invalid/f", target.c_str(), nullptr, FETCH_BUDGET, nullptr,
                            &report),
              0);
    EXPECT_EQ(report.stage, DownloadStage::resolve);

    kt::HttpTestServer server({kt::reply(ok_counted("0123456789"))});
    const std::string nowhere = dir.file("no such folder/tmp1");
    EXPECT_EQ(download_file((server.base_url() + "/f").c_str(), nowhere.c_str(), nullptr,
                            FETCH_BUDGET, nullptr, &report),
              0);
    EXPECT_EQ(report.stage, DownloadStage::file);
    EXPECT_NE(report.system_error, 0u);
}

// A stop flag set once the host has the request (another thread's close)
// ends the download at its next wait slice, as cut, keeping no file.
TEST_F(DownloadReportTest, AStopEndsTheDownloadAtItsNextWait) {
    const kt::Reply silent = kt::reply(
        response("HTTP/1.1 200 OK", "Content-Length: 100\r\n", "0123"), kt::Ending::stall);
    StopFlag stop{false};
    bool complete = true;
    Reported r{};
    kt::HttpTestServer server({silent});
    std::thread closer([&] {
        for (int i = 0; i < 500 && server.requests().empty(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop = true;
    });
    r.count = download_file((server.base_url() + "/f").c_str(), target.c_str(), &complete,
                            FETCH_BUDGET, &stop, &r.report);
    closer.join();
    server.stop();
    EXPECT_EQ(r.report.stage, DownloadStage::cancelled);
    EXPECT_FALSE(complete);
    EXPECT_LT(r.report.milliseconds, 6000u);

    // A request the host stops taking (it resets after its first 64 KiB)
    // is a broken send, told at once, not a wait until the budget ends.
    kt::HttpTestServer resetting({kt::reply("", kt::Ending::reset)});
    const std::string url = resetting.base_url() + "/" + std::string(16 << 20, 'p');
    r.count = download_file(url.c_str(), target.c_str(), nullptr, FETCH_BUDGET, nullptr, &r.report);
    resetting.stop();
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.report.stage, DownloadStage::send);
    EXPECT_FALSE(r.report.timed_out);
    EXPECT_LT(r.report.milliseconds, 2000u);
}

} // namespace
