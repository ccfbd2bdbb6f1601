// The program's one first-in, first-out stream of window events. Window and
// gadget procedures post into it while Windows calls them; the event loop
// takes one event at a time and makes it the current event. The queue owns
// its nodes (from a block pool in the main heap) and the data words posted
// with events: each is released through its release function when the next
// event is taken, or at once when the event is not queued.
#pragma once

#include <cstdint>

#include "core/pool.h"
#include "core/runtime.h"

// Releases the data word carried by an event.
using EventDataRelease = void (*)(intptr_t data);

// Post flag: queue the event even while posting is suspended.
constexpr int32_t POST_EVEN_IF_SUSPENDED = 1;
// Equal neighbours with codes below this are merged into one event.
constexpr int32_t MERGE_CODE_LIMIT = 0x10000;

struct QueuedEvent {
    QueuedEvent* next;
    int32_t code;
    int32_t flags;
    ObjectId object;
    ObjectId window;
    int32_t type;
    intptr_t data;
    EventDataRelease release;
};

struct EventQueue {
    BlockPool* node_pool;
    QueuedEvent* head; // oldest; null when empty
    QueuedEvent* tail; // newest; null when empty
    int32_t suspension_count;
    int32_t current_code; // 0 when none
    ObjectId current_window;
    ObjectId current_object;
    int32_t current_type; // -1 when none
    intptr_t current_data;
    EventDataRelease current_release;
};

extern EventQueue* event_queue;

// The queue state and its node pool; the window-free half of
// event_queue_start. False when memory runs out.
bool event_queue_create();

// Appends an event, or lets the newest queued event stand for it when both
// are equal. False when it was dropped (suspended, no queue, no memory).
bool post_event(int32_t code, ObjectId object, ObjectId window, int32_t type, intptr_t data = 0,
                EventDataRelease release = nullptr, int32_t flags = 0);
// The oldest event's code, now the current event; 0 when the queue is empty.
int32_t fetch_event();
// The window number of the event last handed out.
ObjectId window_of_event();
void suspend_events();
void resume_events();
// Removes the queued events that match; -1 in an argument matches any value.
void discard_events(int32_t code, ObjectId object, ObjectId window, int32_t type);
void discard_window_events(ObjectId window);

// Events of other threads travel as a block (from the main heap, laid out
// as a QueuedEvent) in a window message. Only blocks made here and not yet
// received are ever read or freed: any other value a message carries, from
// another program for instance, is ignored. These three may be called from
// any thread.
//
// A block for the event, recorded as posted; null when memory runs out.
QueuedEvent* make_posted_event(int32_t code, ObjectId object, ObjectId window, int32_t type,
                               intptr_t data);
// A block whose message could not be posted: freed, if still recorded.
void drop_posted_event(QueuedEvent* block);
// Frees every block still recorded (their messages can no longer arrive).
void drop_posted_events();
// On the window thread, for a received message's value: when it names a
// recorded block, posts its event (even while suspended, no release
// function), frees the block and returns true; otherwise false.
bool take_posted_event(intptr_t value);
