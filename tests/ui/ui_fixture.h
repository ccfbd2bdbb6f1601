// Scaffolding for tests with real windows under Wine: the libraries started
// as the program starts them, and bounded pumping of messages and events.
#pragma once

#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "ui/event_queue.h"
#include "ui/window.h"

namespace kt {

struct Event {
    int32_t code;
    ObjectId window;
    ObjectId object;
    int32_t type;
    bool operator==(const Event&) const = default;
};

// Starts the event queue, windows, gadget parent, common controls and
// status bars on a fresh runtime; ends them in the program's order.
struct UiTest : ::testing::Test {
    Runtime runtime;
    void SetUp() override;
    void TearDown() override;
};

// Dispatches the thread's pending messages without touching the event
// queue, as a modal loop does; waits up to timeout_ms for the condition.
bool pump_until(const std::function<bool()>& condition, unsigned timeout_ms = 5000);
void pump_pending();
// Hands out queued events and pending messages through wait_window_event
// until neither is left (bounded); returns the event codes 13100..13118
// with their windows, in order.
std::vector<Event> take_events();
// The queued events without pumping, in order (the queue is emptied).
std::vector<Event> queued_events();
// Only the events of the given codes.
std::vector<int32_t> codes_among(const std::vector<Event>& events, std::vector<int32_t> codes);
bool is_event_code(int32_t code);

} // namespace kt
