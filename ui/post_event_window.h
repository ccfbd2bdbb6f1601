// The event queue's start and end on Windows: the queue state plus a hidden
// window of the class "PostEventClass" and the registered message
// "VX_PostEventMessage", through which other threads post events. The
// library owns the window; a posted block belongs to the receiver.
#pragma once

#include "ui/event_queue.h"

bool event_queue_start();
void event_queue_end();
HWND post_event_window();
// The registered message; lParam is a main-heap block laid out as a
// QueuedEvent, freed by the receiver.
UINT post_event_message();
