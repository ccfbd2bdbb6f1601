// The message box: MessageBoxW with the Windows-1251 texts widened, and the
// calling thread's other windows made inactive while it is shown, then restored.
#pragma once

#include "core/registry.h"
#include "core/win32.h"

// One window of a thread that a message box made inactive.
struct SuspendedWindow {
    DWORD thread_id;
    HWND window;
    BYTE was_topmost;   // 1 when it had WS_EX_TOPMOST
    BYTE disabled_here; // 1 when the message box disabled it
};

// The process's list of suspended windows (blocks of list_add); empty
// outside a message box.
extern DynamicBlock* suspended_windows;

// Records every visible top-level window of this thread, disables those
// that are enabled and not in the foreground, and takes them out of the
// topmost band.
void make_thread_windows_inactive();
// Undoes make_thread_windows_inactive for this thread's entries.
void restore_thread_windows();
// The foreground window when it belongs to this process, else null.
HWND dialog_owner();

// The MessageBoxW result (IDOK for the OK button; 0 when no box could be shown).
int message_box_typed(const char* title, const char* text, UINT type);
// An OK button and no icon.
int message_box(const char* title, const char* text);
