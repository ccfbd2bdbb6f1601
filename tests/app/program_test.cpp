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

struct WindowSearch {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK match_program_window(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<WindowSearch*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    char name[32] = {};
    GetClassNameA(h, name, sizeof name);
    if (owner != s->process_id || std::string(name) != "WindowClass_0") return TRUE;
    s->found = h;
    return FALSE;
}

// The program's window: the top-level window of class "WindowClass_0" that
// belongs to the given process.
HWND window_of_process(DWORD process_id) {
    WindowSearch search{process_id, nullptr};
    EnumWindows(match_program_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Polls until the condition holds or timeout_ms pass.
template <typename Condition> bool wait_for(Condition condition, DWORD timeout_ms) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!condition()) {
        if (GetTickCount64() > end) return false;
        Sleep(20);
    }
    return true;
}

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
    // The work is done before the event loop: the element set is on disk and
    // tmp1 gone while the window is still open. Then the user closes it.
    const std::string output = work_dir.file("norad_M2.txt");
    const bool written = wait_for(
        [&] {
            return kt::read_file(output) == expected && !kt::file_exists(program_dir.file("tmp1"));
        },
        60000);
    HWND window = nullptr;
    wait_for([&] { return (window = window_of_process(process.dwProcessId)) != nullptr; }, 10000);
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    DWORD exit_code = 99;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(written) << "norad_M2.txt not written while the window was open";
    EXPECT_NE(window, nullptr) << "no program window";
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(exit_code, 0u);

    ASSERT_TRUE(server.wait_done(10000));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "GET /NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE "
                                    "HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1:" +
                                        std::to_string(KESTRIN_LOOPBACK_PORT) +
                                        "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(kt::read_file(work_dir.file("norad_M2.txt")), expected);
    EXPECT_FALSE(kt::file_exists(program_dir.file("tmp1")));
    EXPECT_FALSE(kt::file_exists(work_dir.file("tmp1")));
}

} // namespace
