// The whole program, as built for tests: kestrin_loopback.exe fetches the
// real catalogue excerpt from a loopback server on its fixed port, writes
// norad_M2.txt in its current directory and deletes its tmp1.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "core/win32.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

namespace {

std::string windows_path(std::string path) {
    // Under Wine the Unix file system is drive Z:.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    return path;
}

TEST(Program, LoopbackBuildFetchesTheCatalogueAndWritesTheElementSet) {
    const std::string excerpt =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    const std::string expected =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.expected-norad_M2.txt"));
    ASSERT_FALSE(excerpt.empty());
    ASSERT_FALSE(expected.empty());

    // The port is fixed at build time; another run of this test may hold it.
    kt::ServerOptions options;
    options.port = KESTRIN_LOOPBACK_PORT;
    options.bind_wait_ms = 60000;
    kt::HttpTestServer server({kt::reply("HTTP/1.1 200 OK\r\nContent-Length: " +
                                         std::to_string(excerpt.size()) + "\r\n\r\n" + excerpt)},
                              options);
    ASSERT_TRUE(server.listening()) << "port " << KESTRIN_LOOPBACK_PORT << " stays busy";

    // The program in one directory (tmp1 goes there), started in another
    // (norad_M2.txt goes there).
    kt::TempDir program_dir, work_dir;
    const std::string program = program_dir.file("kestrin.exe");
    std::filesystem::copy_file(windows_path(KESTRIN_LOOPBACK_EXE), program);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + program + "\"";
    ASSERT_TRUE(CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               work_dir.path.string().c_str(), &startup, &process));
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    DWORD exit_code = 99;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the program did not end within 60 s";
    EXPECT_EQ(exit_code, 0u);

    ASSERT_TRUE(server.wait_done(10000));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              "GET /NORAD/elements/weather.txt HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1:" +
                  std::to_string(KESTRIN_LOOPBACK_PORT) + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(kt::read_file(work_dir.file("norad_M2.txt")), expected);
    EXPECT_FALSE(kt::file_exists(program_dir.file("tmp1")));
    EXPECT_FALSE(kt::file_exists(work_dir.file("tmp1")));
}

} // namespace
