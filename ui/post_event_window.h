// The event queue's start and end on Windows: the queue state plus a hidden
// message-only window of the class "PostEventClass" and the registered
// message "VX_PostEventMessage", through which other threads post events.
// The library owns the window and the blocks the message carries.
#pragma once

#include "ui/event_queue.h"

bool event_queue_start();
void event_queue_end();
HWND post_event_window();
// The registered message; lParam is a block of make_posted_event.
UINT post_event_message();
// From any thread: the event reaches the queue through the window thread,
// posted even while posting is suspended. False when it could not be sent
// (no memory, no window).
bool post_event_from_thread(int32_t code, ObjectId object, ObjectId window, int32_t type,
                            intptr_t data = 0);
