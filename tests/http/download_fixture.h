// What the download tests share: the runtime, a started network, a target
// file in a fresh directory, and one download against a scripted server.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/download.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

struct Fetched {
    int32_t count;
    bool file_exists;
    std::string file;
    std::vector<std::string> requests;
    uint16_t port;
};

struct DownloadTest : ::testing::Test {
    kt::Runtime runtime;
    kt::TempDir dir;
    std::string target = dir.file("tmp1");
    void SetUp() override { ASSERT_EQ(network_start(), 1); }
    void TearDown() override { network_end(); }

    // Downloads base URL + suffix from a server playing the replies.
    Fetched fetch(std::vector<kt::Reply> replies, const std::string& suffix = "/f") {
        std::remove(target.c_str());
        kt::HttpTestServer server(std::move(replies));
        EXPECT_TRUE(server.listening());
        Fetched f;
        f.count = download_file((server.base_url() + suffix).c_str(), target.c_str());
        EXPECT_TRUE(server.wait_done());
        f.requests = server.requests();
        f.port = server.port();
        f.file_exists = kt::file_exists(target);
        f.file = f.file_exists ? kt::read_file(target) : "";
        return f;
    }
    Fetched fetch(const std::string& response) { return fetch({kt::reply(response)}); }
};

// A response head with the given header lines, then the body.
inline std::string response(const std::string& status, const std::string& headers,
                            const std::string& body) {
    return status + "\r\n" + headers + "\r\n" + body;
}
inline std::string ok_counted(const std::string& body) {
    return response("HTTP/1.1 200 OK", "Content-Length: " + std::to_string(body.size()) + "\r\n",
                    body);
}
