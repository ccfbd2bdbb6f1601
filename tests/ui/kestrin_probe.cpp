// A small Win32 probe that looks at the running kestrin.exe from outside,
// as a user's tools would: finds its window, checks the client size and the
// status text (read from the other process's status bar), waits until the
// window is painted, and asks it to close. The expected texts are given as
// the hex of their Windows-1251 bytes and compared, as UTF-16, with what the
// controls hold (SB_GETTEXTW, GetWindowTextW): the screen must show the
// Russian words whatever the ANSI code page.
//
//   kestrin_probe check HEXBYTES   prints "frame LEFT TOP WIDTH HEIGHT", "acp N"
//   kestrin_probe message HEXTITLE HEXTEXT   checks the message box, presses OK
//   kestrin_probe lonebox HEXTITLE   a box with no program window: prints its
//                                text, presses OK
//   kestrin_probe close          asks every Kestrin window to close
//   kestrin_probe hold PATH MS   holds PATH open (read sharing only) for MS ms
//   kestrin_probe pair HEX1 HEX2 two windows, one showing each status text
//   kestrin_probe watch MS       for MS ms the window answers WM_NULL within
//                                1 s and is never hung; prints the longest answer
//   kestrin_probe move HEXBYTES  enters the system's move loop (SC_MOVE, as from
//                                the keyboard); the status text must come while
//                                the loop is up; then Enter ends the loop
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

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
std::wstring status_text(HWND bar) {
    DWORD pid = 0;
    GetWindowThreadProcessId(bar, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return {};
    std::wstring text;
    constexpr SIZE_T units = 512;
    void* remote =
        VirtualAllocEx(process, nullptr, units * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        LRESULT r = SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote));
        size_t length = LOWORD(r);
        wchar_t local[units] = {};
        SIZE_T got = 0;
        if (length < units &&
            ReadProcessMemory(process, remote, local, length * sizeof(wchar_t), &got))
            text.assign(local, got / sizeof(wchar_t));
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

// The text that Windows-1251 bytes given in hex stand for, in UTF-16.
std::wstring from_hex(const char* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        bytes += char(std::strtoul(pair, nullptr, 16));
    }
    std::wstring text(bytes.size(), L'\0');
    const int n = MultiByteToWideChar(1251, 0, bytes.data(), int(bytes.size()), text.data(),
                                      int(text.size()));
    text.resize(n > 0 ? size_t(n) : 0);
    return text;
}

// UTF-16 units in hex, for the failure messages.
std::string to_hex(const std::wstring& text) {
    std::string hex;
    char unit[6];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X ", unsigned(c));
        hex += unit;
    }
    return hex;
}

int check(const std::wstring& expected) {
    HWND main = nullptr;
    if (!wait_for([&] { return (main = find_main()) && IsWindowVisible(main); }))
        return fail("no visible window \"Kestrin\"");
    // The bar is made just after the window is shown.
    HWND bar = nullptr;
    if (!wait_for([&] { return (bar = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr)); }))
        return fail("no status bar");
    std::wstring text;
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
    // The picture: gadget 0, a static control at (0, 0) of 330 x 100 showing
    // a bitmap.
    HWND picture = GetDlgItem(main, 0);
    RECT at{};
    if (!picture || !GetWindowRect(picture, &at)) return fail("no picture gadget");
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&at), 2);
    if (at.left != 0 || at.top != 0 || at.right != 330 || at.bottom != 100)
        return fail("picture gadget not at (0, 0), 330 x 100");
    if (!SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)) return fail("picture has no image");
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
    POINT origin{0, 0};
    ClientToScreen(main, &origin);
    std::printf("client %ld %ld\n", origin.x, origin.y);
    std::printf("acp %u\n", GetACP());
    return 0;
}

// The text of a window of another process.
std::wstring window_text(HWND h) {
    std::wstring text(size_t(GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(h, text.data(), int(text.size()))));
    return text;
}

struct BoxSearch {
    std::wstring title;
    HWND found;
};

BOOL CALLBACK match_box(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<BoxSearch*>(p);
    char name[16] = {};
    GetClassNameA(h, name, sizeof name);
    if (std::strcmp(name, "#32770") != 0 || window_text(h) != s->title) return TRUE;
    s->found = h;
    return FALSE;
}

// Waits for the program's message box, checks its texts, its owner and its
// one button, then presses OK.
int message(const std::wstring& title, const std::wstring& text, bool owned = true) {
    BoxSearch search{title, nullptr};
    if (!wait_for([&] {
            EnumWindows(match_box, reinterpret_cast<LPARAM>(&search));
            return search.found && IsWindowVisible(search.found);
        }))
        return fail("no message box with the expected title");
    HWND box = search.found;
    std::wstring shown;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char name[16] = {};
        GetClassNameA(c, name, sizeof name);
        if (_stricmp(name, "Static") == 0 && !window_text(c).empty()) shown = window_text(c);
    }
    if (owned && shown != text) {
        std::fprintf(stderr, "probe: box text %s, expected %s\n", to_hex(shown).c_str(),
                     to_hex(text).c_str());
        return 1;
    }
    HWND main = find_main();
    if (owned && (!main || GetWindow(box, GW_OWNER) != main))
        return fail("the box is not owned by the window");
    if (!owned && main) return fail("a program window beside the box");
    if (owned && IsWindowEnabled(main)) return fail("the window is not blocked by the box");
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) return fail("no OK button");
    for (int id : {IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE})
        if (HWND other = GetDlgItem(box, id); other && IsWindowVisible(other))
            return fail("more than one button");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(ok));
    if (!wait_for([&] { return !IsWindow(box); })) return fail("the box does not close");
    // What the box showed, read back in UTF-16, for the log (in UTF-8, one line).
    std::string utf8(shown.size() * 3 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, shown.data(), int(shown.size()), utf8.data(),
                                      int(utf8.size()), nullptr, nullptr);
    utf8.resize(n > 0 ? size_t(n) : 0);
    for (char& c : utf8)
        if (c == '\n') c = '|';
    std::printf("message box ok: %s\n", utf8.c_str());
    return 0;
}

BOOL CALLBACK collect_main(HWND h, LPARAM p) {
    char name[32] = {};
    GetClassNameA(h, name, sizeof name);
    if (std::strcmp(name, "WindowClass_0") == 0 && window_text(h) == L"Kestrin")
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

// Every program window on the display.
std::vector<HWND> all_main() {
    std::vector<HWND> found;
    EnumWindows(collect_main, reinterpret_cast<LPARAM>(&found));
    return found;
}

int close() {
    const std::vector<HWND> windows = all_main();
    if (windows.empty()) return fail("no window \"Kestrin\"");
    for (HWND main : windows)
        PostMessageA(main, WM_CLOSE, 0, 0);
    return 0;
}

// Two program windows, one showing each text (in either order).
int pair(const std::wstring& one, const std::wstring& other) {
    std::wstring a, b;
    const bool seen = wait_for([&] {
        const std::vector<HWND> windows = all_main();
        if (windows.size() != 2) return false;
        HWND bars[2];
        for (int i = 0; i < 2; i++)
            if (!(bars[i] = FindWindowExA(windows[i], nullptr, STATUSCLASSNAMEA, nullptr)))
                return false;
        a = status_text(bars[0]);
        b = status_text(bars[1]);
        return (a == one && b == other) || (a == other && b == one);
    });
    if (!seen) {
        std::fprintf(stderr, "probe: status texts %s and %s\n", to_hex(a).c_str(),
                     to_hex(b).c_str());
        return 1;
    }
    std::printf("pair ok\n");
    return 0;
}

// For ms milliseconds asks the window, every 20 ms, to answer WM_NULL within
// 1 s and whether Windows takes it for hung.
int watch(DWORD ms) {
    HWND main = nullptr;
    if (!wait_for([&] { return (main = find_main()) && IsWindowVisible(main); }))
        return fail("no visible window \"Kestrin\"");
    ULONGLONG longest = 0;
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        const ULONGLONG asked = GetTickCount64();
        DWORD_PTR answer;
        if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer))
            return fail("the window did not answer within 1 s");
        const ULONGLONG took = GetTickCount64() - asked;
        if (took > longest) longest = took;
        if (IsHungAppWindow(main)) return fail("the window is taken for hung");
        Sleep(20);
    }
    std::printf("longest answer %llu ms\n", longest);
    return 0;
}

// Whether the window's thread runs the system's loop for moving or sizing.
bool moving(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) &&
           (info.flags & GUI_INMOVESIZE);
}

int move_window(const std::wstring& expected) {
    HWND main = nullptr, bar = nullptr;
    if (!wait_for([&] {
            return (main = find_main()) && IsWindowVisible(main) &&
                   (bar = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr));
        }))
        return fail("no visible window \"Kestrin\" with its status bar");
    PostMessageA(main, WM_SYSCOMMAND, SC_MOVE, 0);
    if (!wait_for([&] { return moving(main); })) return fail("the move loop did not begin");
    const ULONGLONG began = GetTickCount64();
    std::wstring text;
    wait_for([&] { return !moving(main) || (text = status_text(bar)) == expected; });
    if (text != expected) {
        std::fprintf(stderr, "probe: status text %s in the move loop, expected %s\n",
                     to_hex(text).c_str(), to_hex(expected).c_str());
        return 1;
    }
    if (!moving(main)) return fail("the move loop ended before the status text came");
    std::printf("status text in the move loop after %llu ms\n", GetTickCount64() - began);
    PostMessageA(main, WM_KEYDOWN, VK_RETURN, 0);
    if (!wait_for([&] { return !moving(main); })) return fail("the move loop does not end");
    return 0;
}

// Holds a file open for reading with read sharing only, as a reader that
// does not allow the file to be deleted or replaced; says "holding" once it
// does, and lets go after ms milliseconds.
int hold(const char* path, DWORD ms) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return fail("cannot open the file to hold");
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(ms);
    CloseHandle(f);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0)
        return hold(argv[2], DWORD(std::strtoul(argv[3], nullptr, 10)));
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(from_hex(argv[2]));
    if (argc == 2 && std::strcmp(argv[1], "close") == 0) return close();
    if (argc == 4 && std::strcmp(argv[1], "pair") == 0)
        return pair(from_hex(argv[2]), from_hex(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "watch") == 0)
        return watch(DWORD(std::strtoul(argv[2], nullptr, 10)));
    if (argc == 3 && std::strcmp(argv[1], "move") == 0) return move_window(from_hex(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "lonebox") == 0)
        return message(from_hex(argv[2]), L"", false);
    if (argc == 4 && std::strcmp(argv[1], "message") == 0)
        return message(from_hex(argv[2]), from_hex(argv[3]));
    return fail("usage: kestrin_probe check HEXBYTES | message HEXTITLE HEXTEXT | close | "
                "hold PATH MS | pair HEX1 HEX2 | watch MS | move HEXBYTES | lonebox HEXTITLE");
}
