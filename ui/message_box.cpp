#include "ui/message_box.h"

#include "ui/wide_text.h"

DynamicBlock* suspended_windows;

namespace {

SuspendedWindow* entry_of(DynamicBlock* block) {
    return reinterpret_cast<SuspendedWindow*>(block + 1);
}

BOOL CALLBACK suspend_window(HWND window, LPARAM) {
    DWORD thread = GetCurrentThreadId();
    if (GetWindowThreadProcessId(window, nullptr) != thread || !IsWindowVisible(window))
        return TRUE;
    auto* s = static_cast<SuspendedWindow*>(list_add(&suspended_windows, sizeof(SuspendedWindow)));
    if (!s) return TRUE; // out of memory: this window stays as it is
    s->thread_id = thread;
    s->window = window;
    s->was_topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0;
    if (window != GetForegroundWindow() && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        s->disabled_here = 1;
    }
    return TRUE;
}

} // namespace

void make_thread_windows_inactive() {
    EnumWindows(suspend_window, 0);
    DWORD thread = GetCurrentThreadId();
    for (DynamicBlock* b = suspended_windows; b; b = b->older) {
        SuspendedWindow* s = entry_of(b);
        if (s->thread_id == thread && s->was_topmost)
            SetWindowPos(s->window, HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    }
}

void restore_thread_windows() {
    DWORD thread = GetCurrentThreadId();
    for (DynamicBlock* b = suspended_windows; b;) {
        DynamicBlock* older = b->older;
        SuspendedWindow* s = entry_of(b);
        if (s->thread_id == thread) {
            if (s->disabled_here) EnableWindow(s->window, TRUE);
            if (s->was_topmost)
                SetWindowPos(s->window, HWND_TOPMOST, 0, 0, 0, 0,
                             SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
            list_remove(&suspended_windows, s);
        }
        b = older;
    }
}

HWND dialog_owner() {
    HWND foreground = GetForegroundWindow();
    if (!foreground) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : nullptr;
}

int message_box_typed(const char* title, const char* text, UINT type) {
    // The box gets UTF-16, so the Windows-1251 texts read right whatever the
    // system's ANSI code page; without the copies no box can be shown.
    wchar_t* shown_title = widen_text(title);
    wchar_t* shown_text = widen_text(text);
    int result = 0;
    if (shown_title && shown_text) {
        make_thread_windows_inactive();
        result = MessageBoxW(dialog_owner(), shown_text, shown_title, type);
        restore_thread_windows();
    }
    heap_free(shown_title);
    heap_free(shown_text);
    return result;
}

int message_box(const char* title, const char* text) {
    return message_box_typed(title, text, MB_OK);
}
