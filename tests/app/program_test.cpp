// The whole program, as built for tests: kestrin_loopback.exe asks over
// https on its fixed loopback port. Here a plain HTTP server answers there:
// the program must not talk plain HTTP to it, must tell the user in its
// message box and must write nothing. (Fetching over TLS is the end-to-end
// test's part.)
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "core/win32.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

namespace {

struct WindowSearch {
    DWORD process_id;
    const char* window_class;
    HWND found;
};

BOOL CALLBACK match_program_window(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<WindowSearch*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    char name[32] = {};
    GetClassNameA(h, name, sizeof name);
    if (owner != s->process_id || std::string(name) != s->window_class) return TRUE;
    s->found = h;
    return FALSE;
}

// The top-level window of the class that belongs to the given process.
HWND window_of_process(DWORD process_id, const char* window_class) {
    WindowSearch search{process_id, window_class, nullptr};
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

TEST(Program, NeverFallsBackToPlainHttp) {
    const std::string excerpt =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    ASSERT_FALSE(excerpt.empty());
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
    // The handshake fails on the plain answer: the box tells the user, who
    // presses OK; then the window is closed.
    HWND box = nullptr;
    wait_for([&] { return (box = window_of_process(process.dwProcessId, "#32770")) != nullptr; },
             60000);
    if (box) PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    HWND window = nullptr;
    wait_for(
        [&] {
            return (window = window_of_process(process.dwProcessId, "WindowClass_0")) != nullptr;
        },
        10000);
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    DWORD exit_code = 99;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_NE(box, nullptr) << "no message box";
    EXPECT_NE(window, nullptr) << "no program window";
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the program did not end";
    EXPECT_EQ(exit_code, 0u);

    // What came was a TLS handshake record, never a request in plain.
    ASSERT_TRUE(server.wait_done(10000));
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string hello = server.requests()[0];
    ASSERT_FALSE(hello.empty());
    EXPECT_EQ(hello[0], '\x16') << "not a TLS handshake record";
    EXPECT_EQ(hello.find("GET "), std::string::npos);
    EXPECT_FALSE(kt::file_exists(work_dir.file("norad_M2.txt")));
    EXPECT_FALSE(kt::file_exists(program_dir.file("tmp1")));
    EXPECT_FALSE(kt::file_exists(work_dir.file("tmp1")));
}

} // namespace
