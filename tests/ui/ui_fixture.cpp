#include "tests/ui/ui_fixture.h"

#include <algorithm>
#include <cstdio>

#include "ui/gadget_list.h"
#include "ui/post_event_window.h"
#include "ui/status_bar.h"

namespace kt {

namespace {

LONG WINAPI report_crash(EXCEPTION_POINTERS* e) {
    std::fprintf(stderr, "crash: exception %08lx\n", e->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void UiTest::SetUp() {
    // A crash ends the test at once instead of waiting in the debugger.
    SetUnhandledExceptionFilter(report_crash);
    ASSERT_TRUE(event_queue_start());
    ASSERT_TRUE(windows_start());
    ASSERT_TRUE(gadget_parent_start(nullptr));
    common_controls_start();
    ASSERT_TRUE(status_bars_start());
}

void UiTest::TearDown() {
    windows_end();
    pump_pending();
    event_queue_end();
    gadget_message_offer = nullptr;
}

void pump_pending() {
    MSG msg;
    for (int i = 0; i < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); i++) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool pump_until(const std::function<bool()>& condition, unsigned timeout_ms) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    for (;;) {
        pump_pending();
        if (condition()) return true;
        if (GetTickCount64() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool is_event_code(int32_t code) {
    return code >= EVT_GADGET && code <= EVT_WINDOW_RESIZED;
}

std::vector<Event> take_events() {
    std::vector<Event> events;
    MSG msg;
    for (int i = 0; i < 10000; i++) {
        if (!event_queue->head && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) break;
        int32_t code = wait_window_event();
        if (is_event_code(code) && event_queue->current_code == code)
            events.push_back(
                {code, window_of_event(), event_queue->current_object, event_queue->current_type});
    }
    return events;
}

std::vector<Event> queued_events() {
    std::vector<Event> events;
    while (int32_t code = fetch_event())
        events.push_back(
            {code, window_of_event(), event_queue->current_object, event_queue->current_type});
    return events;
}

std::vector<int32_t> codes_among(const std::vector<Event>& events, std::vector<int32_t> codes) {
    std::vector<int32_t> found;
    for (const Event& e : events)
        if (std::find(codes.begin(), codes.end(), e.code) != codes.end()) found.push_back(e.code);
    return found;
}

} // namespace kt
