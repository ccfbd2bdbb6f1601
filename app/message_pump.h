// The program's "while waiting" hook: dispatches the thread's messages, so
// that the window paints, moves and answers while the work waits, and says
// stop once a close request for the watched window has been queued. Events
// that window procedures post meanwhile stay in the event queue, in order,
// for the event loop.
#pragma once

#include "core/runtime.h"
#include "net/wait_hook.h"

// A hook that watches *window (which must outlive it) for a close request.
WaitHook message_pump_hook(const ObjectId* window);
