// The message box under Windows (Wine) with a display: a probe thread finds
// the box, reads its texts back in UTF-16, checks the state of the program's
// windows while it is up and presses OK. Every wait is bounded; the test runs
// under ru_RU.CP1251 and C.UTF-8.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

// "Информация" and "Данные с example.org недоступны" in Windows-1251.
const char TITLE[] = "\xC8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xFF";
const char TEXT[] = "\xC4\xE0\xED\xED\xFB\xE5 \xF1 example.org \xED\xE5\xE4\xEE\xF1\xF2\xF3"
                    "\xEF\xED\xFB";
// What the box must show, whatever the ANSI code page.
const wchar_t SHOWN_TITLE[] = L"Информация";
const wchar_t SHOWN_TEXT[] = L"Данные с example.org недоступны";
constexpr DWORD PROBE_BUDGET_MS = 30000;

LRESULT CALLBACK plain_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}

// A plain top-level window of this thread, destroyed with the object.
struct TestWindow {
    HWND hwnd = nullptr;
    TestWindow(bool visible, DWORD ex_style = 0) {
        static ATOM atom = [] {
            WNDCLASSA c{};
            c.lpfnWndProc = plain_procedure;
            c.hInstance = GetModuleHandleA(nullptr);
            c.lpszClassName = "KestrinMessageBoxTest";
            return RegisterClassA(&c);
        }();
        EXPECT_NE(atom, 0);
        hwnd = CreateWindowExA(ex_style, "KestrinMessageBoxTest", "test", WS_OVERLAPPEDWINDOW, 10,
                               10, 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        EXPECT_NE(hwnd, nullptr);
        if (visible) ShowWindow(hwnd, SW_SHOW);
    }
    ~TestWindow() { DestroyWindow(hwnd); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
};

// Takes the thread's pending messages, so that activation settles.
void pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

bool make_foreground(HWND w) {
    for (int i = 0; i < 100 && GetForegroundWindow() != w; i++) {
        SetForegroundWindow(w);
        pump();
        if (GetForegroundWindow() != w)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return GetForegroundWindow() == w;
}

struct Seen {
    bool found = false;
    std::wstring title;
    std::wstring text;
    int buttons = 0;
    int visible_icons = 0;
    HWND owner = nullptr;
    std::vector<BOOL> enabled; // of the watched windows, while the box is up
    std::vector<bool> topmost; // likewise
};

BOOL CALLBACK count_controls(HWND child, LPARAM seen_address) {
    auto* seen = reinterpret_cast<Seen*>(seen_address);
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) seen->buttons++;
    bool icon = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    // Wine keeps an empty icon control in every box; only a shown icon counts.
    if (lstrcmpiA(cls, "Static") == 0 && icon && IsWindowVisible(child) &&
        SendMessageA(child, STM_GETICON, 0, 0))
        seen->visible_icons++;
    return TRUE;
}

// Looks for the box of `title` for a bounded time, records what it sees
// and presses OK. If no box shows, it ends the box's loop another way so
// that the test fails instead of hanging.
void probe(DWORD box_thread, const std::vector<HWND>& watched, Seen* seen) {
    DWORD start = GetTickCount();
    HWND box = nullptr;
    while (!box && GetTickCount() - start < PROBE_BUDGET_MS) {
        box = FindWindowW(L"#32770", SHOWN_TITLE);
        if (!box) Sleep(10); // polling another thread's window; no event to wait for
    }
    if (!box) {
        PostThreadMessageA(box_thread, WM_QUIT, 0, 0);
        return;
    }
    seen->found = true;
    wchar_t buffer[256] = {};
    GetWindowTextW(box, buffer, int(std::size(buffer)));
    seen->title = buffer;
    GetDlgItemTextW(box, 0xFFFF, buffer, int(std::size(buffer)));
    seen->text = buffer;
    EnumChildWindows(box, count_controls, reinterpret_cast<LPARAM>(seen));
    seen->owner = GetWindow(box, GW_OWNER);
    for (HWND w : watched) {
        seen->enabled.push_back(IsWindowEnabled(w));
        seen->topmost.push_back((GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Shows message_box, or message_box_typed when a type is given.
int shown_box(const std::vector<HWND>& watched, Seen* seen, UINT type = 0, bool typed = false) {
    std::thread t(probe, GetCurrentThreadId(), watched, seen);
    int result = typed ? message_box_typed(TITLE, TEXT, type) : message_box(TITLE, TEXT);
    t.join();
    return result;
}

TEST(MessageBoxShown, ForegroundWindowOwnsTheBoxAndIsEnabledAgainAfterOk) {
    kt::Runtime runtime;
    TestWindow main_window(true);
    ASSERT_TRUE(make_foreground(main_window.hwnd));
    EXPECT_EQ(dialog_owner(), main_window.hwnd);
    Seen seen;
    const size_t blocks = kt::heap_counts().live;
    EXPECT_EQ(shown_box({main_window.hwnd}, &seen), IDOK);
    EXPECT_EQ(kt::heap_counts().live, blocks) << "the texts' copies are given back";
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, SHOWN_TITLE);
    EXPECT_EQ(seen.text, SHOWN_TEXT);
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_EQ(seen.visible_icons, 0);
    EXPECT_EQ(seen.owner, main_window.hwnd);
    EXPECT_FALSE(seen.enabled[0]); // the box blocks its owner
    EXPECT_TRUE(IsWindowEnabled(main_window.hwnd));
    EXPECT_EQ(suspended_windows, nullptr);
}

TEST(MessageBoxShown, TypedBoxPassesItsTypeOn) {
    kt::Runtime runtime;
    TestWindow main_window(true);
    ASSERT_TRUE(make_foreground(main_window.hwnd));
    Seen seen;
    EXPECT_EQ(shown_box({}, &seen, MB_OKCANCEL | MB_ICONINFORMATION, true), IDOK);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.buttons, 2);
    EXPECT_EQ(seen.visible_icons, 1);
}

TEST(MessageBoxShown, OtherWindowsOfTheThreadAreInactiveWhileTheBoxIsUp) {
    kt::Runtime runtime;
    TestWindow front(true);
    TestWindow topmost(true, WS_EX_TOPMOST);
    TestWindow plain(true);
    TestWindow hidden(false);
    TestWindow disabled_before(true);
    EnableWindow(disabled_before.hwnd, FALSE);
    ASSERT_TRUE(make_foreground(front.hwnd));
    std::vector<HWND> watched = {topmost.hwnd, plain.hwnd, hidden.hwnd, disabled_before.hwnd};
    Seen seen;
    EXPECT_EQ(shown_box(watched, &seen), IDOK);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.owner, front.hwnd);
    EXPECT_EQ(seen.enabled, (std::vector<BOOL>{FALSE, FALSE, TRUE, FALSE}));
    EXPECT_EQ(seen.topmost, (std::vector<bool>{false, false, false, false}));
    // Afterwards: enabled again where the box disabled them, topmost again.
    EXPECT_TRUE(IsWindowEnabled(topmost.hwnd));
    EXPECT_TRUE(IsWindowEnabled(plain.hwnd));
    EXPECT_TRUE(IsWindowEnabled(hidden.hwnd));
    EXPECT_FALSE(IsWindowEnabled(disabled_before.hwnd));
    EXPECT_TRUE(GetWindowLongA(topmost.hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(IsWindowEnabled(front.hwnd));
    EXPECT_EQ(suspended_windows, nullptr);
}

TEST(SuspendedWindows, OnlyVisibleWindowsAreListedAndOnlyThisThreadsEntriesRestored) {
    kt::Runtime runtime;
    TestWindow front(true);
    TestWindow other(true);
    TestWindow hidden(false);
    ASSERT_TRUE(make_foreground(front.hwnd));
    // An entry left by another thread's message box.
    auto* foreign =
        static_cast<SuspendedWindow*>(list_add(&suspended_windows, sizeof(SuspendedWindow)));
    foreign->thread_id = GetCurrentThreadId() + 1;
    foreign->window = other.hwnd;
    foreign->disabled_here = 1;

    make_thread_windows_inactive();
    std::vector<HWND> listed;
    for (DynamicBlock* b = suspended_windows; b; b = b->older) {
        auto* s = reinterpret_cast<SuspendedWindow*>(b + 1);
        if (s != foreign) listed.push_back(s->window);
    }
    EXPECT_NE(std::find(listed.begin(), listed.end(), front.hwnd), listed.end());
    EXPECT_NE(std::find(listed.begin(), listed.end(), other.hwnd), listed.end());
    EXPECT_EQ(std::find(listed.begin(), listed.end(), hidden.hwnd), listed.end());
    EXPECT_TRUE(IsWindowEnabled(front.hwnd)); // the foreground window stays enabled
    EXPECT_FALSE(IsWindowEnabled(other.hwnd));

    restore_thread_windows();
    EXPECT_TRUE(IsWindowEnabled(other.hwnd));
    ASSERT_NE(suspended_windows, nullptr);
    EXPECT_EQ(reinterpret_cast<SuspendedWindow*>(suspended_windows + 1), foreign);
    EXPECT_EQ(suspended_windows->older, nullptr);
    list_remove(&suspended_windows, foreign);
}

} // namespace
