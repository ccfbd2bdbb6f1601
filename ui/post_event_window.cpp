#include "ui/post_event_window.h"

#include <atomic>

namespace {

constexpr char CLASS_NAME[] = "PostEventClass";

// Read by other threads as they post.
std::atomic<HWND> window;
UINT message;

LRESULT CALLBACK post_event_procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // The value is used only when this process posted it and it has not yet
    // arrived: anything else is ignored, whoever sent it.
    if (msg == message && message != 0) take_posted_event(lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

bool event_queue_start() {
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = post_event_procedure;
    wc.hInstance = module_handle;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = CLASS_NAME;
    RegisterClassA(&wc);
    message = RegisterWindowMessageA("VX_PostEventMessage");
    // A message-only window: broadcasts and window enumeration never reach
    // it, so other programs cannot hand it values.
    window = CreateWindowExA(0, CLASS_NAME, nullptr, WS_CAPTION, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                             module_handle, nullptr);
    return event_queue_create() && window != nullptr;
}

void event_queue_end() {
    if (HWND w = window.exchange(nullptr)) DestroyWindow(w);
    // Messages to the window that is gone are never received.
    drop_posted_events();
}

HWND post_event_window() {
    return window;
}

UINT post_event_message() {
    return message;
}

bool post_event_from_thread(int32_t code, ObjectId object, ObjectId target_window, int32_t type,
                            intptr_t data) {
    QueuedEvent* block = make_posted_event(code, object, target_window, type, data);
    if (!block) return false;
    // PostMessageA with no window would post to the calling thread itself.
    const HWND w = window;
    if (!w || !PostMessageA(w, message, 0, LPARAM(block))) {
        drop_posted_event(block);
        return false;
    }
    return true;
}
