// The event loop and the keyboard: one queued event or one dispatched
// Windows message per call, Tab and Shift+Tab through the accelerator table
// of the active window, and the keyboard cues.
#include "ui/window.h"

#include "ui/event_queue.h"

namespace {

constexpr WPARAM SHOW_CUES = MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL);
constexpr WPARAM HIDE_CUES = MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL);
constexpr LRESULT CUES_HIDDEN = UISF_HIDEFOCUS | UISF_HIDEACCEL;

bool is_candidate(HWND w) {
    return IsWindowEnabled(w) && IsWindowVisible(w) && (GetWindowLongA(w, GWL_STYLE) & WS_TABSTOP);
}

// One pass over the root's descendants in enumeration order.
struct FocusWalk {
    HWND current; // a candidate, or null
    bool forward;
    bool passed_current = false;
    HWND first = nullptr;
    HWND last = nullptr;
    HWND before_current = nullptr;
    HWND after_current = nullptr;
};

BOOL CALLBACK visit(HWND w, LPARAM data) {
    auto* walk = reinterpret_cast<FocusWalk*>(data);
    if (w == walk->current) {
        walk->passed_current = true;
        walk->before_current = walk->last;
        return TRUE;
    }
    if (!is_candidate(w)) return TRUE;
    if (!walk->first) walk->first = w;
    walk->last = w;
    if (walk->passed_current && !walk->after_current) {
        walk->after_current = w;
        if (walk->forward) return FALSE; // found
    }
    return TRUE;
}

} // namespace

void keyboard_cues(HWND window, bool show) {
    LRESULT state = SendMessageA(window, WM_QUERYUISTATE, 0, 0);
    if (show) {
        if (state & CUES_HIDDEN) SendMessageA(window, WM_UPDATEUISTATE, SHOW_CUES, 0);
    } else if ((state & CUES_HIDDEN) != CUES_HIDDEN) {
        SendMessageA(window, WM_UPDATEUISTATE, HIDE_CUES, 0);
    }
}

void focus_next_control(bool forward) {
    HWND root = GetActiveWindow();
    if (!root) return;
    HWND focus = GetFocus();
    HWND current = focus && IsChild(root, focus) ? focus : nullptr;
    FocusWalk walk{current && is_candidate(current) ? current : nullptr, forward};
    EnumChildWindows(root, visit, reinterpret_cast<LPARAM>(&walk));
    if (!walk.first) return; // no candidate
    HWND target;
    if (current && !walk.current) {
        // The focus sits on a descendant that takes no tab stop.
        if (forward) return;
        target = walk.last;
    } else if (forward) {
        target = walk.after_current ? walk.after_current : walk.first;
    } else {
        target = walk.before_current ? walk.before_current : walk.last;
    }
    SetFocus(target);
}

HACCEL window_accelerators(HWND active) {
    if (!active) return nullptr;
    if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0)
        keyboard_cues(active, true);
    HANDLE id = GetPropA(active, WINDOW_ID_PROPERTY);
    if (!id) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(active, &process);
    if (process != GetCurrentProcessId()) return nullptr;
    WindowRecord* r = window_record(reinterpret_cast<ObjectId>(id) - 1);
    return r ? r->accelerator_table : nullptr;
}

int32_t wait_window_event() {
    WindowThreadState* state = window_thread_state;
    if (int32_t code = fetch_event()) {
        if (state) *state = WindowThreadState{};
        return code;
    }
    MSG msg{};
    GetMessageA(&msg, nullptr, 0, 0);
    HWND active = GetActiveWindow();
    HACCEL table = window_accelerators(active);
    if (table && TranslateAcceleratorA(active, table, &msg)) {
        keyboard_cues(active, true);
    } else {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (state) *state = WindowThreadState{msg.wParam, msg.lParam, msg.wParam, msg.lParam};
    return int32_t(msg.message);
}
