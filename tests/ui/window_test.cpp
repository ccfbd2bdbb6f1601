// Real windows under Wine: opening, the message-to-event table, the event
// loop, keyboard focus and the gadget parent.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "tests/ui/ui_fixture.h"
#include "ui/gadget_list.h"
#include "ui/post_event_window.h"

namespace {

using kt::codes_among;
using kt::Event;
using kt::queued_events;
using kt::take_events;

constexpr int32_t PROGRAM_FLAGS = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
const std::vector<int32_t> SIZE_EVENTS = {EVT_WINDOW_MINIMIZED, EVT_WINDOW_MAXIMIZED,
                                          EVT_WINDOW_RESTORED, EVT_WINDOW_RESIZED};

struct WindowTest : kt::UiTest {
    HWND open(ObjectId n, int32_t flags = PROGRAM_FLAGS, int32_t x = 150, int32_t y = 150) {
        auto h = reinterpret_cast<HWND>(open_window(n, x, y, 330, 120, "Kestrin", flags));
        EXPECT_NE(h, nullptr);
        return h;
    }
    // Brings the window to the foreground and empties the queue.
    void settle(HWND h) {
        SetForegroundWindow(h);
        EXPECT_TRUE(kt::pump_until([&] { return GetForegroundWindow() == h; }));
        take_events();
    }
};

std::string class_of(HWND h) {
    char name[64] = {};
    GetClassNameA(h, name, sizeof name);
    return name;
}

TEST_F(WindowTest, ProgramWindowHasClientAreaOf330x120AtItsPositionAndStyle) {
    HWND h = open(0);
    RECT client, frame;
    GetClientRect(h, &client);
    GetWindowRect(h, &frame);
    EXPECT_EQ(client.right, 330);
    EXPECT_EQ(client.bottom, 120);
    EXPECT_EQ(frame.left, 150);
    EXPECT_EQ(frame.top, 150);
    const DWORD style = GetWindowLongA(h, GWL_STYLE);
    EXPECT_EQ(style & 0x00CF0000, 0x00CE0000u) << "caption, system menu, frame, no maximize box";
    EXPECT_EQ(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(GetActiveWindow(), h) << "shown with SW_SHOWNORMAL: activated";
    char title[32] = {};
    GetWindowTextA(h, title, sizeof title);
    EXPECT_STREQ(title, "Kestrin");
    EXPECT_EQ(class_of(h), "WindowClass_0");
    // The class carries the program's icon, the arrow and the face colour.
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrA(h, GCLP_HICON)), icon);
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(h, GCLP_HCURSOR)),
              LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(GetClassLongPtrA(h, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
    EXPECT_EQ(GetPropA(h, "VX_WindowID"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(window_handle(0), h);
    EXPECT_EQ(window_record(0)->accelerator_count, 2);
    EXPECT_EQ(window_record(0)->minimized_or_maximized, 0);
}

// Flags that differ only in the style they give.
struct StyleCase {
    const char* name;
    int32_t flags;
    DWORD style_set;   // bits that must be set
    DWORD style_clear; // bits that must be clear
    DWORD ex_style;
    bool visible;
};

const StyleCase STYLE_CASES[] = {
    {"zero flags give a caption", 0, WS_CAPTION, WS_THICKFRAME, 0, true},
    {"centring bits alone still give a caption", 0x3, WS_CAPTION, 0, 0, true},
    {"no-gadget-list bit alone gives a caption", 0x8, WS_CAPTION, 0, 0, true},
    {"hidden bit opens hidden", 0x10000000, WS_CAPTION, 0, 0, false},
    {"tool window drops minimize and maximize", 0x00CF0004, WS_CAPTION | WS_THICKFRAME,
     WS_MINIMIZEBOX | WS_MAXIMIZEBOX, WS_EX_TOOLWINDOW, true},
    {"popup without caption bits keeps its style", int32_t(WS_POPUP | WS_BORDER),
     WS_POPUP | WS_BORDER, WS_DLGFRAME, 0, true},
    {"maximize bit opens maximized", PROGRAM_FLAGS | WS_MAXIMIZE, WS_MAXIMIZE, 0, 0, true},
    {"minimize bit opens minimized", PROGRAM_FLAGS | WS_MINIMIZE, WS_MINIMIZE, 0, 0, true},
};

TEST_F(WindowTest, FlagsGiveStylesAndTheClientSizeStaysExact) {
    for (const StyleCase& c : STYLE_CASES) {
        SCOPED_TRACE(c.name);
        HWND h = open(1, c.flags);
        const DWORD style = GetWindowLongA(h, GWL_STYLE);
        EXPECT_EQ(style & c.style_set, c.style_set);
        EXPECT_EQ(style & c.style_clear, 0u);
        EXPECT_EQ(DWORD(GetWindowLongA(h, GWL_EXSTYLE)) & WS_EX_TOOLWINDOW, c.ex_style);
        EXPECT_EQ(bool(IsWindowVisible(h)), c.visible);
        EXPECT_EQ(bool(IsZoomed(h)), bool(c.flags & WS_MAXIMIZE));
        EXPECT_EQ(bool(IsIconic(h)), bool(c.flags & WS_MINIMIZE));
        EXPECT_EQ(window_record(1)->minimized_or_maximized,
                  c.flags & (WS_MAXIMIZE | WS_MINIMIZE) ? 1 : 0);
        RECT client;
        GetClientRect(h, &client);
        if (!(c.flags & (WS_MAXIMIZE | WS_MINIMIZE))) {
            EXPECT_EQ(client.right, 330);
            EXPECT_EQ(client.bottom, 120);
        }
        EXPECT_EQ(close_window(1), 1);
        EXPECT_FALSE(IsWindow(h));
    }
}

TEST_F(WindowTest, PositionMinus65535LetsWindowsChoose) {
    for (auto [x, y] : {std::pair{DEFAULT_POSITION, 200}, std::pair{200, DEFAULT_POSITION}}) {
        HWND h = open(1, PROGRAM_FLAGS, x, y);
        RECT frame;
        GetWindowRect(h, &frame);
        // Not at -65535 but on the screen, where the system put it.
        EXPECT_GT(frame.left, -1000);
        EXPECT_GT(frame.top, -1000);
        EXPECT_LT(frame.left, GetSystemMetrics(SM_CXSCREEN));
        close_window(1);
    }
}

TEST_F(WindowTest, CentringBitsCentreOnTheWorkArea) {
    HWND h = open(1, PROGRAM_FLAGS | WINDOW_CENTRED, 0, 0);
    RECT area, frame;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(h, &frame);
    EXPECT_LE(std::abs((frame.left + frame.right) - (area.left + area.right)), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (area.top + area.bottom)), 1);
}

TEST_F(WindowTest, CreationEventsCarryWindowMinusOneAndNoSizeOrMove) {
    open(0);
    std::vector<Event> events = queued_events();
    ASSERT_FALSE(events.empty());
    bool activated = false;
    for (const Event& e : events) {
        EXPECT_EQ(e.window, -1) << e.code;
        EXPECT_NE(e.code, EVT_WINDOW_RESIZED);
        EXPECT_NE(e.code, EVT_WINDOW_MOVED);
        activated |= e.code == EVT_WINDOW_ACTIVATED;
    }
    EXPECT_TRUE(activated);
}

TEST_F(WindowTest, SizeMessageBeforeTheNumberIsSetReturnsOne) {
    HWND h = open(0);
    RemovePropA(h, "VX_WindowID");
    queued_events();
    EXPECT_EQ(SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10)), 1);
    EXPECT_EQ(SendMessageA(h, WM_MOVE, 0, 0), 0);
    EXPECT_EQ(SendMessageA(h, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(queued_events().empty());
    SetPropA(h, "VX_WindowID", reinterpret_cast<HANDLE>(1));
}

// Clicks the caption's close button with real mouse input.
void click_close_button(HWND h) {
    RECT frame;
    GetWindowRect(h, &frame);
    const int y = frame.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    int x = -1;
    for (int probe = frame.right - 2; probe > frame.left; probe--) {
        if (SendMessageA(h, WM_NCHITTEST, 0, MAKELPARAM(probe, y)) == HTCLOSE) {
            x = probe - GetSystemMetrics(SM_CXSIZE) / 4;
            break;
        }
    }
    ASSERT_GT(x, 0) << "no close button in the caption";
    ASSERT_EQ(SendMessageA(h, WM_NCHITTEST, 0, MAKELPARAM(x, y)), HTCLOSE);
    INPUT input[3] = {};
    input[0].type = input[1].type = input[2].type = INPUT_MOUSE;
    input[0].mi.dx = (x * 65536 + 65535) / GetSystemMetrics(SM_CXSCREEN);
    input[0].mi.dy = (y * 65536 + 65535) / GetSystemMetrics(SM_CYSCREEN);
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ASSERT_EQ(SendInput(3, input, sizeof(INPUT)), 3u);
}

TEST_F(WindowTest, CloseButtonTwiceQueuesOneCloseRequestAndTheWindowStays) {
    HWND h = open(0);
    settle(h);
    for (int i = 0; i < 2; i++) {
        click_close_button(h);
        // Dispatched as a modal loop would, before the event loop runs.
        ASSERT_TRUE(kt::pump_until([] {
            return event_queue->tail && event_queue->tail->code == EVT_CLOSE_REQUEST;
        })) << "click "
            << i;
    }
    std::vector<Event> events = take_events();
    ASSERT_EQ(codes_among(events, {EVT_CLOSE_REQUEST}).size(), 1u);
    for (const Event& e : events) {
        if (e.code != EVT_CLOSE_REQUEST) continue;
        EXPECT_EQ(e.window, 0);
        EXPECT_EQ(e.object, 0);
    }
    EXPECT_EQ(window_of_event(), 0);
    EXPECT_TRUE(IsWindow(h));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(close_window(0), 1);
    EXPECT_FALSE(IsWindow(h));
    WNDCLASSA wc;
    EXPECT_FALSE(GetClassInfoA(module_handle, "WindowClass_0", &wc)) << "class unregistered";
    EXPECT_EQ(window_handle(0), nullptr);
    EXPECT_EQ(close_window(0), 0);
}

TEST_F(WindowTest, MinimizeRestoreMaximizeAndResizeGiveTheirSizeEvents) {
    HWND h = open(0);
    settle(h);
    // The size events of one action; none names an object.
    auto sizes = [] {
        std::vector<int32_t> codes;
        for (const Event& e : take_events())
            if (std::count(SIZE_EVENTS.begin(), SIZE_EVENTS.end(), e.code)) {
                EXPECT_EQ(e, (Event{e.code, 0, 0, 0}));
                codes.push_back(e.code);
            }
        return codes;
    };
    using Codes = std::vector<int32_t>;
    ShowWindow(h, SW_MINIMIZE);
    EXPECT_EQ(sizes(), Codes{EVT_WINDOW_MINIMIZED});
    EXPECT_EQ(window_record(0)->minimized_or_maximized, 1);
    ShowWindow(h, SW_RESTORE);
    EXPECT_EQ(sizes(), (Codes{EVT_WINDOW_RESTORED, EVT_WINDOW_RESIZED}));
    EXPECT_EQ(window_record(0)->minimized_or_maximized, 0);
    SetWindowPos(h, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(sizes(), Codes{EVT_WINDOW_RESIZED});
    SendMessageA(h, WM_SIZE, SIZE_MAXSHOW, MAKELPARAM(400, 300)); // another window restored
    EXPECT_EQ(sizes(), Codes{EVT_WINDOW_RESIZED});
    ShowWindow(h, SW_MAXIMIZE);
    EXPECT_EQ(sizes(), (Codes{EVT_WINDOW_MAXIMIZED, EVT_WINDOW_RESIZED}));
    ShowWindow(h, SW_RESTORE);
    EXPECT_EQ(sizes(), (Codes{EVT_WINDOW_RESTORED, EVT_WINDOW_RESIZED}));
}

TEST_F(WindowTest, MoveGivesMovedWithTheWindowAsObject) {
    HWND h = open(4);
    settle(h);
    SetWindowPos(h, nullptr, 170, 180, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    std::vector<Event> events = take_events();
    ASSERT_EQ(codes_among(events, {EVT_WINDOW_MOVED}).size(), 1u);
    for (const Event& e : events) {
        if (e.code == EVT_WINDOW_MOVED) {
            EXPECT_EQ(e, (Event{EVT_WINDOW_MOVED, 4, 4, 0}));
        }
    }
}

TEST_F(WindowTest, EmptyQueueGivesPlainMessageNumbersAndKeepsTheEventWindow) {
    HWND h = open(3);
    settle(h);
    SendMessageA(h, WM_CLOSE, 0, 0);
    PostMessageA(h, WM_USER + 5, 7, 9);
    // The queued event first, with no message parameters.
    EXPECT_EQ(wait_window_event(), EVT_CLOSE_REQUEST);
    EXPECT_EQ(window_of_event(), 3);
    EXPECT_EQ(window_thread_state->wparam, 0u);
    // Then exactly one message per call.
    EXPECT_EQ(wait_window_event(), WM_USER + 5);
    EXPECT_EQ(window_thread_state->wparam, 7u);
    EXPECT_EQ(window_thread_state->lparam, 9);
    EXPECT_EQ(window_thread_state->lparam_copy, 9);
    EXPECT_EQ(window_of_event(), 3);
    InvalidateRect(h, nullptr, FALSE);
    int32_t code = 0;
    for (int i = 0; i < 100 && code != WM_PAINT; i++)
        code = wait_window_event();
    EXPECT_EQ(code, 15);
    EXPECT_EQ(window_of_event(), 3) << "a plain message keeps the last event's window";
}

TEST_F(WindowTest, MessagesBecomeEventsWithTheirObjects) {
    HWND h = open(5);
    settle(h);
    HWND button = CreateWindowExA(0, "BUTTON", "b", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, h,
                                  reinterpret_cast<HMENU>(77), module_handle, nullptr);
    struct Case {
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
        LRESULT result;
        Event event;
    };
    const Case cases[] = {
        {WM_LBUTTONUP, 0, 0, 0, {EVT_LEFT_BUTTON_UP, 5, 0, 0}},
        {WM_LBUTTONDBLCLK, 0, 0, 0, {EVT_LEFT_DOUBLE_CLICK, 5, 0, 0}},
        {WM_RBUTTONUP, 0, 0, 0, {EVT_RIGHT_BUTTON_UP, 5, 0, 0}},
        {WM_TIMER, 42, 0, 0, {EVT_TIMER, 5, 42, 0}},
        {WM_COMMAND, 12, 0, 0, {EVT_COMMAND, 5, 12, 0}},
        {WM_COMMAND, MAKEWPARAM(12, 1), 0, 0, {EVT_COMMAND, 5, 12, 0}},
        {WM_COMMAND,
         MAKEWPARAM(77, BN_DOUBLECLICKED),
         LPARAM(button),
         0,
         {EVT_GADGET, 5, 77, BN_DOUBLECLICKED}},
        {WM_CLOSE, 0, 0, 0, {EVT_CLOSE_REQUEST, 5, 5, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        queued_events();
        EXPECT_EQ(SendMessageA(h, c.message, c.wparam, c.lparam), c.result);
        EXPECT_EQ(queued_events(), std::vector<Event>{c.event});
    }
    // The accelerator commands move the focus and queue nothing.
    EXPECT_EQ(SendMessageA(h, WM_COMMAND, MAKEWPARAM(COMMAND_NEXT_CONTROL, 1), 0), 0);
    EXPECT_TRUE(queued_events().empty());
}

TEST_F(WindowTest, MessagesForAGadgetAreOfferedToTheGadgetLibrary) {
    HWND h = open(0);
    HWND control = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, h,
                                   reinterpret_cast<HMENU>(6), module_handle, nullptr);
    static int offered;
    offered = 0;
    gadget_message_offer = [](ObjectId gadget, HWND, HWND, UINT message, WPARAM, LPARAM,
                              LRESULT* result) {
        offered++;
        *result = 1234;
        return gadget == 6 && message != WM_HSCROLL;
    };
    queued_events();
    // Without "VX_ID" = the control identifier nothing is offered.
    SendMessageA(h, WM_COMMAND, MAKEWPARAM(6, 0), LPARAM(control));
    EXPECT_EQ(offered, 0);
    EXPECT_EQ(queued_events(), (std::vector<Event>{{EVT_GADGET, 0, 6, 0}}));

    SetPropA(control, "VX_ID", reinterpret_cast<HANDLE>(6));
    SendMessageA(h, WM_COMMAND, MAKEWPARAM(6, 0), LPARAM(control));
    EXPECT_EQ(offered, 1);
    EXPECT_TRUE(queued_events().empty()) << "a handled command posts nothing";
    EXPECT_EQ(SendMessageA(h, WM_CTLCOLORSTATIC, 0, LPARAM(control)), 1234);
    NMHDR header{control, 6, 0};
    EXPECT_EQ(SendMessageA(h, WM_NOTIFY, 6, LPARAM(&header)), 1234);
    EXPECT_EQ(offered, 3);
    // Not handled: the default result.
    EXPECT_EQ(SendMessageA(h, WM_HSCROLL, 0, LPARAM(control)), 0);
    EXPECT_EQ(offered, 4);
}

TEST_F(WindowTest, MinMaxInfoAppliesTheRecordsLimits) {
    HWND h = open(0);
    WindowRecord* r = window_record(0);
    MINMAXINFO info{};
    info.ptMinTrackSize = {11, 12};
    info.ptMaxTrackSize = {900, 800};
    SendMessageA(h, WM_GETMINMAXINFO, 0, LPARAM(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 11) << "no limits: unchanged";
    EXPECT_EQ(info.ptMaxTrackSize.y, 800);
    r->minimum_width = 200;
    r->minimum_height = 100;
    r->maximum_width = 600;
    r->maximum_height = 500;
    SendMessageA(h, WM_GETMINMAXINFO, 0, LPARAM(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 200);
    EXPECT_EQ(info.ptMinTrackSize.y, 100);
    EXPECT_EQ(info.ptMaxTrackSize.x, 600);
    EXPECT_EQ(info.ptMaxTrackSize.y, 500);
}

TEST_F(WindowTest, BackgroundBrushFillsTheClientAreaAndErasingQueuesAnEvent) {
    HWND h = open(0);
    settle(h);
    window_record(0)->background_brush = CreateSolidBrush(RGB(255, 0, 0));
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
    EXPECT_EQ(codes_among(queued_events(), {EVT_BACKGROUND_ERASED}),
              std::vector<int32_t>{EVT_BACKGROUND_ERASED});
    HDC dc = GetDC(h);
    EXPECT_EQ(GetPixel(dc, 100, 50), RGB(255, 0, 0));
    ReleaseDC(h, dc);
}

TEST_F(WindowTest, DeactivationKeepsTheFocusAndActivationGivesItBack) {
    HWND h0 = open(0);
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 50, 20, h0,
                                reinterpret_cast<HMENU>(1), module_handle, nullptr);
    settle(h0);
    SetFocus(edit);
    HWND h1 = open(1, PROGRAM_FLAGS, 500, 150);
    EXPECT_TRUE(kt::pump_until([&] { return GetActiveWindow() == h1; }));
    std::vector<Event> events = take_events();
    EXPECT_NE(std::find(events.begin(), events.end(), Event{EVT_WINDOW_DEACTIVATED, 0, 0, 0}),
              events.end());
    EXPECT_EQ(GetPropA(h0, "VX_Focus"), edit);
    settle(h0);
    EXPECT_EQ(GetFocus(), edit);
    SetForegroundWindow(h1);
    kt::pump_until([&] { return GetActiveWindow() == h1; });
    take_events();
    SetForegroundWindow(h0);
    kt::pump_until([&] { return GetActiveWindow() == h0; });
    events = take_events();
    EXPECT_NE(std::find(events.begin(), events.end(), Event{EVT_WINDOW_ACTIVATED, 0, 0, 0}),
              events.end());
    EXPECT_EQ(GetFocus(), edit);
}

// What keyboard_cues sends for each state WM_QUERYUISTATE reports.
LRESULT reported_ui_state;
std::vector<WPARAM> updates;
WNDPROC replaced;
LRESULT CALLBACK recording_procedure(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_QUERYUISTATE) return reported_ui_state;
    if (m == WM_UPDATEUISTATE) updates.push_back(w);
    return CallWindowProcA(replaced, h, m, w, l);
}

TEST_F(WindowTest, KeyboardCuesAreShownOrHiddenOnlyWhenNeeded) {
    HWND h = open(0);
    replaced = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(recording_procedure)));
    struct Case {
        LRESULT state;
        bool show;
        std::vector<WPARAM> sent;
    };
    const Case cases[] = {
        {0, true, {}},
        {UISF_HIDEFOCUS, true, {0x00030002}},
        {UISF_HIDEACCEL | UISF_HIDEFOCUS, true, {0x00030002}},
        {0, false, {0x00030001}},
        {UISF_HIDEACCEL, false, {0x00030001}},
        {UISF_HIDEACCEL | UISF_HIDEFOCUS, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.state << (c.show ? " show" : " hide"));
        reported_ui_state = c.state;
        updates.clear();
        keyboard_cues(h, c.show);
        EXPECT_EQ(updates, c.sent);
    }
    // Deactivation hides them.
    reported_ui_state = 0;
    updates.clear();
    SendMessageA(h, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(updates, std::vector<WPARAM>{0x00030001});
    SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(replaced));
}

TEST_F(WindowTest, ClosingAWindowDiscardsItsEventsAndKeepsOthers) {
    HWND h0 = open(0);
    HWND h1 = open(1, PROGRAM_FLAGS, 500, 150);
    settle(h0); // active while it is destroyed
    SendMessageA(h0, WM_CLOSE, 0, 0);
    SendMessageA(h1, WM_CLOSE, 0, 0);
    SendMessageA(h0, WM_LBUTTONUP, 0, 0);
    close_window(0);
    EXPECT_FALSE(IsWindow(h0));
    std::vector<Event> events = queued_events();
    EXPECT_EQ(codes_among(events, {EVT_CLOSE_REQUEST}), std::vector<int32_t>{EVT_CLOSE_REQUEST});
    for (const Event& e : events) {
        EXPECT_NE(e.window, 0) << e.code;
        if (e.code == EVT_CLOSE_REQUEST) {
            EXPECT_EQ(e.window, 1);
        }
    }
    // Its deactivation during DestroyWindow comes after its number was
    // removed: queued with window -1, and kept.
    EXPECT_NE(std::find(events.begin(), events.end(), Event{EVT_WINDOW_DEACTIVATED, -1, 0, 0}),
              events.end());
}

TEST_F(WindowTest, OpeningAnOpenNumberClosesTheOldWindow) {
    HWND first = open(2);
    HWND second = open(2);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(window_handle(2), second);
}

TEST_F(WindowTest, DynamicWindowIsNamedByItsRecord) {
    intptr_t n = open_window(ANY_OBJECT, 150, 150, 100, 50, nullptr, 0);
    ASSERT_NE(n, 0);
    WindowRecord* r = window_record(n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(n, reinterpret_cast<intptr_t>(r));
    HWND h = window_handle(n);
    EXPECT_EQ(class_of(h), "WindowClass_" + std::to_string(static_cast<int>(n)));
    SendMessageA(h, WM_CLOSE, 0, 0);
    std::vector<Event> events = queued_events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), (Event{EVT_CLOSE_REQUEST, n, n, 0}));
    close_window(ANY_OBJECT);
    EXPECT_FALSE(IsWindow(h));
}

TEST_F(WindowTest, FailedCreationReleasesTheNumber) {
    // An owner that is not a window makes CreateWindowExA fail.
    EXPECT_EQ(open_window(3, 0, 0, 10, 10, "x", 0, reinterpret_cast<HWND>(0x1234)), 0);
    EXPECT_EQ(window_record(3), nullptr);
    WNDCLASSA wc;
    EXPECT_FALSE(GetClassInfoA(module_handle, "WindowClass_3", &wc));
}

// Tab and Shift+Tab with real keyboard input through wait_window_event.
void press_tab(bool shift) {
    INPUT in[4] = {};
    int n = 0;
    auto key = [&](WORD vk, bool up) {
        in[n].type = INPUT_KEYBOARD;
        in[n].ki.wVk = vk;
        in[n].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        n++;
    };
    if (shift) key(VK_SHIFT, false);
    key(VK_TAB, false);
    key(VK_TAB, true);
    if (shift) key(VK_SHIFT, true);
    SendInput(n, in, sizeof(INPUT));
}

// Runs the event loop (wait_window_event) until the condition holds, bounded.
bool loop_until(const std::function<bool()>& condition) {
    const ULONGLONG end = GetTickCount64() + 5000;
    MSG m;
    while (!condition()) {
        if (GetTickCount64() > end) return false;
        if (event_queue->head || PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE))
            wait_window_event();
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// The keys pressed have all been taken by the loop.
bool keys_taken() {
    MSG m;
    return !(GetKeyState(VK_TAB) & 0x8000) && !(GetKeyState(VK_SHIFT) & 0x8000) &&
           !PeekMessageA(&m, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE);
}

TEST_F(WindowTest, TabAndShiftTabMoveTheFocusThroughTabStops) {
    HWND h = open(0);
    auto child = [&](int id, DWORD style) {
        return CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | style, id * 30, 0, 25, 20,
                               h, reinterpret_cast<HMENU>(intptr_t(id)), module_handle, nullptr);
    };
    HWND a = child(1, WS_TABSTOP);
    HWND plain = child(2, 0);
    HWND b = child(3, WS_TABSTOP);
    child(4, WS_TABSTOP | WS_DISABLED);
    HWND c = child(5, WS_TABSTOP);
    CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_TABSTOP, 0, 0, 1, 1, h, nullptr, module_handle,
                    nullptr); // hidden: no tab stop
    settle(h);
    SetFocus(h);
    for (HWND want : {a, b, c, a}) { // forward from none, then wrapping
        press_tab(false);
        EXPECT_TRUE(loop_until([&] { return GetFocus() == want; }));
    }
    press_tab(true);
    EXPECT_TRUE(loop_until([&] { return GetFocus() == c; })) << "backward from the first: last";
    press_tab(true);
    EXPECT_TRUE(loop_until([&] { return GetFocus() == b; }));
    SetFocus(plain);
    press_tab(false);
    EXPECT_TRUE(loop_until(keys_taken));
    EXPECT_EQ(GetFocus(), plain) << "forward from a non-tab-stop does nothing";
    press_tab(true);
    EXPECT_TRUE(loop_until([&] { return GetFocus() == c; })) << "backward from it: the last";
    EXPECT_TRUE(loop_until(keys_taken));
    // Tab shows the keyboard cues; a message with no key held leaves them,
    // whichever way Shift's toggle bit stands.
    replaced = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(recording_procedure)));
    reported_ui_state = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    for (int turn = 0; turn < 2; turn++) {
        press_tab(true);
        EXPECT_TRUE(loop_until(keys_taken));
        updates.clear();
        PostMessageA(h, WM_NULL, 0, 0);
        MSG m;
        EXPECT_TRUE(loop_until([&] { return !PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE); }));
        EXPECT_EQ(updates, std::vector<WPARAM>{}) << turn;
    }
    updates.clear();
    press_tab(false);
    EXPECT_TRUE(loop_until(keys_taken));
    EXPECT_EQ(updates, std::vector<WPARAM>{0x00030002});
    SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(replaced));
}

TEST_F(WindowTest, TabWithoutTabStopsChangesNoFocus) {
    HWND h = open(0);
    CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 25, 20, h, nullptr, module_handle,
                    nullptr);
    settle(h);
    SetFocus(h);
    focus_next_control(true);
    EXPECT_EQ(GetFocus(), h);
    focus_next_control(false);
    EXPECT_EQ(GetFocus(), h);
}

// What the procedure under the gadget list sees of the list's property
// when the window goes.
HANDLE property_at_destroy;
WNDPROC under_gadget_list;
LRESULT CALLBACK property_watching_procedure(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCDESTROY) property_at_destroy = GetPropA(h, gadget_list_property());
    return CallWindowProcA(under_gadget_list, h, m, w, l);
}

TEST_F(WindowTest, LastOpenedWindowIsTheGadgetParent) {
    GadgetParentState* const started = gadget_parent_state;
    {
        kt::MainHeapFull full;
        EXPECT_FALSE(gadget_parent_start(nullptr));
    }
    EXPECT_EQ(gadget_parent_state, started);
    EXPECT_EQ(use_gadget_list(nullptr), nullptr);
    HWND a = open(0);
    EXPECT_EQ(use_gadget_list(nullptr), a);
    EXPECT_NE(GetPropA(a, gadget_list_property()), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(a, GWLP_WNDPROC), LONG_PTR(gadget_list_procedure));
    HWND b = open(1, PROGRAM_FLAGS | WINDOW_NO_GADGET_LIST);
    EXPECT_EQ(use_gadget_list(nullptr), a) << "bit 3 keeps the parent";
    EXPECT_EQ(GetPropA(b, gadget_list_property()), nullptr);
    HWND c = open(2);
    EXPECT_EQ(use_gadget_list(nullptr), c);
    EXPECT_EQ(use_gadget_list(a), c) << "returns the previous parent";
    EXPECT_EQ(use_gadget_list(nullptr), a);
    EXPECT_EQ(gadget_parent_state->depth, 0);
    EXPECT_NE(gadget_parent_state->stack, nullptr);
    close_window(0);
    EXPECT_EQ(use_gadget_list(nullptr), nullptr) << "the parent went with its window";
    EXPECT_EQ(use_gadget_list(c), nullptr);
    EXPECT_EQ(use_gadget_list(nullptr), c);
    HWND plain =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, module_handle, nullptr);
    under_gadget_list = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(plain, GWLP_WNDPROC, LONG_PTR(property_watching_procedure)));
    EXPECT_EQ(use_gadget_list(plain), c) << "a window new to the list";
    property_at_destroy = INVALID_HANDLE_VALUE;
    DestroyWindow(plain);
    EXPECT_EQ(property_at_destroy, nullptr) << "the save block went before the window";
    char name[40];
    std::snprintf(name, sizeof name, "VX_GadgetStack_%lld",
                  static_cast<long long>(intptr_t(module_handle)));
    EXPECT_STREQ(gadget_list_property(), name);
}

TEST_F(WindowTest, HiddenPostEventWindowTakesEventsFromOtherThreads) {
    HWND w = post_event_window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(class_of(w), "PostEventClass");
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(post_event_message(), RegisterWindowMessageA("VX_PostEventMessage"));

    // Posted from another thread while posting is suspended: still queued.
    queued_events();
    suspend_events();
    bool sent = false;
    std::thread other([&] { sent = post_event_from_thread(13500, 8, 9, 10, 11); });
    other.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(kt::pump_until([] { return event_queue->head != nullptr; }));
    resume_events();
    ASSERT_EQ(fetch_event(), 13500);
    EXPECT_EQ(event_queue->current_object, 8);
    EXPECT_EQ(window_of_event(), 9);
    EXPECT_EQ(event_queue->current_type, 10);
    EXPECT_EQ(event_queue->current_data, 11);
    EXPECT_EQ(event_queue->current_release, nullptr);
}

BOOL CALLBACK note_post_event_window(HWND h, LPARAM found) {
    if (h == post_event_window()) *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

// Any program can broadcast the registered message or post it with a value
// of its choosing. The window is message-only, out of reach of broadcasts
// and of searches among the top-level windows, and a value it did not post
// itself is neither read nor freed.
TEST_F(WindowTest, PostEventWindowIgnoresValuesItDidNotPost) {
    HWND w = post_event_window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, "PostEventClass", nullptr), w);
    bool top_level = false;
    EnumWindows(note_post_event_window, LPARAM(&top_level));
    EXPECT_FALSE(top_level) << "among the top-level windows";

    queued_events();
    auto* foreign = static_cast<QueuedEvent*>(heap_alloc_zeroed(sizeof(QueuedEvent)));
    *foreign = QueuedEvent{nullptr, 13502, 0, 5, 6, 7, 0, nullptr};
    std::thread other([&] {
        PostMessageA(HWND_BROADCAST, post_event_message(), 0, 0x1234);
        PostMessageA(post_event_window(), post_event_message(), 0, 0x1234);
        PostMessageA(post_event_window(), post_event_message(), 0, LPARAM(foreign));
        // Messages to one window arrive in order: this one comes last.
        post_event_from_thread(13501, 1, 2, 3);
    });
    other.join();
    ASSERT_TRUE(kt::pump_until([] { return event_queue->head != nullptr; }));
    EXPECT_EQ(fetch_event(), 13501);
    EXPECT_EQ(fetch_event(), 0) << "only the event it posted itself";
    EXPECT_EQ(foreign->code, 13502);
    EXPECT_NE(HeapValidate(main_heap, 0, foreign), FALSE) << "the foreign block was not freed";
    heap_free(foreign);
}

// The window tests run under ru_RU.CP1251 and under C.UTF-8: the second run
// is only worth having if its ANSI code page really is another one.
TEST_F(WindowTest, AnsiCodePageFollowsTheLocale) {
    const char* locale = std::getenv("LC_ALL");
    ASSERT_NE(locale, nullptr);
    const std::string name = locale;
    if (name.ends_with(".CP1251") || name.ends_with(".cp1251"))
        EXPECT_EQ(GetACP(), 1251u);
    else
        EXPECT_NE(GetACP(), 1251u) << name;
}

} // namespace
