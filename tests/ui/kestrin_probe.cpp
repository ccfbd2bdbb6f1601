// A small Win32 probe that looks at the running kestrin.exe from outside,
// as a user's tools would: finds its window, checks the client size and the
// status text (read from the other process's status bar), waits until the
// window is painted, and asks it to close.
//
//   kestrin_probe check HEXBYTES   prints "frame LEFT TOP WIDTH HEIGHT"
//   kestrin_probe close
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD TIMEOUT_MS = 30000;

int fail(const char* what) {
    std::fprintf(stderr, "probe: %s\n", what);
    return 1;
}

// Polls until the condition holds or the time-out passes.
template <typename Condition> bool wait_for(Condition condition) {
    const ULONGLONG end = GetTickCount64() + TIMEOUT_MS;
    while (!condition()) {
        if (GetTickCount64() > end) return false;
        Sleep(20);
    }
    return true;
}

HWND find_main() {
    return FindWindowA("WindowClass_0", "Kestrin");
}

// The text of field 0 of a status bar in another process.
std::string status_text(HWND bar) {
    DWORD pid = 0;
    GetWindowThreadProcessId(bar, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return {};
    std::string text;
    const SIZE_T size = 1024;
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        LRESULT r = SendMessageA(bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(remote));
        size_t length = LOWORD(r);
        char local[size] = {};
        SIZE_T got = 0;
        if (length < size && ReadProcessMemory(process, remote, local, length, &got))
            text.assign(local, got);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

std::string from_hex(const char* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        bytes += char(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

std::string to_hex(const std::string& bytes) {
    std::string hex;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", c);
        hex += pair;
    }
    return hex;
}

int check(const std::string& expected) {
    HWND main = nullptr;
    if (!wait_for([&] { return (main = find_main()) && IsWindowVisible(main); }))
        return fail("no visible window \"Kestrin\"");
    HWND bar = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);
    if (!bar) return fail("no status bar");
    std::string text;
    if (!wait_for([&] { return (text = status_text(bar)) == expected; })) {
        std::fprintf(stderr, "probe: status text %s, expected %s\n", to_hex(text).c_str(),
                     to_hex(expected).c_str());
        return 1;
    }
    RECT client, frame;
    GetClientRect(main, &client);
    GetWindowRect(main, &frame);
    if (client.right != 330 || client.bottom != 120) {
        std::fprintf(stderr, "probe: client %ldx%ld\n", client.right, client.bottom);
        return 1;
    }
    if (frame.left != 150 || frame.top != 150) return fail("window not at (150, 150)");
    if (GetWindowLongA(bar, GWL_ID) != LONG(0xE404040F)) return fail("status bar identifier");
    // The program is in its event loop once it answers; then wait until
    // nothing of the window is left to paint.
    DWORD_PTR answer;
    if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &answer))
        return fail("the program does not answer");
    if (!wait_for([&] {
            return !GetUpdateRect(main, nullptr, FALSE) && !GetUpdateRect(bar, nullptr, FALSE);
        }))
        return fail("the window is not painted");
    SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &answer);
    std::printf("frame %ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left,
                frame.bottom - frame.top);
    std::printf("acp %u\n", GetACP());
    return 0;
}

int close() {
    HWND main = find_main();
    if (!main) return fail("no window \"Kestrin\"");
    PostMessageA(main, WM_CLOSE, 0, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(from_hex(argv[2]));
    if (argc == 2 && std::strcmp(argv[1], "close") == 0) return close();
    return fail("usage: kestrin_probe check HEXBYTES | close");
}
