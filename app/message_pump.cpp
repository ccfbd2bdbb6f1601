#include "app/message_pump.h"

#include "ui/event_queue.h"
#include "ui/window.h"

namespace {

// More than a wait ever gathers, so one call cannot be held by a flood.
constexpr int MESSAGES_PER_CALL = 256;

bool close_requested(ObjectId window) {
    for (const QueuedEvent* e = event_queue ? event_queue->head : nullptr; e; e = e->next)
        if (e->code == EVT_CLOSE_REQUEST && e->window == window) return true;
    return false;
}

bool pump_messages(void* context) {
    MSG msg;
    for (int i = 0; i < MESSAGES_PER_CALL && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); i++) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // The request stays queued: the event loop takes it and closes the window.
    return !close_requested(*static_cast<const ObjectId*>(context));
}

} // namespace

WaitHook message_pump_hook(const ObjectId* window) {
    return WaitHook{pump_messages, const_cast<ObjectId*>(window)};
}
