#include "ui/post_event_window.h"

namespace {

constexpr char CLASS_NAME[] = "PostEventClass";

HWND window;
UINT message;

LRESULT CALLBACK post_event_procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == message && message != 0 && lParam != 0) {
        auto* block = reinterpret_cast<QueuedEvent*>(lParam);
        post_event(block->code, block->object, block->window, block->type, block->data, nullptr,
                   POST_EVEN_IF_SUSPENDED);
        heap_free(block);
    }
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
    window = CreateWindowExA(0, CLASS_NAME, nullptr, WS_CAPTION, 0, 0, 1, 1, nullptr, nullptr,
                             module_handle, nullptr);
    message = RegisterWindowMessageA("VX_PostEventMessage");
    return event_queue_create() && window != nullptr;
}

void event_queue_end() {
    if (window) DestroyWindow(window);
    window = nullptr;
}

HWND post_event_window() {
    return window;
}

UINT post_event_message() {
    return message;
}
