#include "app/start.h"

#include "app/report_text.h"
#include "app/station_lock.h"
#include "app/station_log.h"

namespace {

void write_log_line(const Start* s, WorkOutcome outcome) {
    char detail[512];
    log_detail(outcome, s->report, s->site, detail, sizeof detail);
    append_log_line(LOG_FILE_NAME, detail);
}

DWORD WINAPI run_start(LPVOID context) {
    auto* s = static_cast<Start*>(context);
    HANDLE lock = nullptr;
    WorkOutcome outcome = WorkOutcome::cancelled;
    switch (take_station_lock(&lock, &s->stop)) {
    case LockWait::acquired:
        outcome = do_station_work(s->url, &s->stop, &s->report, &s->claim);
        break;
    case LockWait::busy:
        s->report.busy = true;
        outcome = WorkOutcome::not_updated;
        break;
    case LockWait::cancelled:
        break;
    }
    bool won = InterlockedCompareExchange(&s->claim, CLAIM_DONE, CLAIM_NONE) == CLAIM_NONE;
    // A replacement, once begun, is always the worker's to end: no close
    // can claim past it.
    if (!won &&
        InterlockedCompareExchange(&s->claim, CLAIM_DONE, CLAIM_REPLACING) == CLAIM_REPLACING)
        won = true;
    won = won && outcome != WorkOutcome::cancelled;
    if (won) {
        s->outcome = outcome;
        write_log_line(s, outcome);
    }
    release_station_lock(lock);
    if (won && s->told) s->told(s->context);
    return 0;
}

} // namespace

void start_work(Start* s) {
    s->claim = CLAIM_NONE;
    s->thread = CreateThread(nullptr, 0, run_start, s, 0, nullptr);
    if (!s->thread) run_start(s);
}

bool cancel_start(Start* s) {
    if (InterlockedCompareExchange(&s->claim, CLAIM_CANCELLED, CLAIM_NONE) != CLAIM_NONE)
        return false;
    s->stop.store(true, std::memory_order_release);
    write_log_line(s, WorkOutcome::cancelled);
    return true;
}

bool start_ended(Start* s, DWORD milliseconds) {
    if (!s->thread) return true;
    if (WaitForSingleObject(s->thread, milliseconds) != WAIT_OBJECT_0) return false;
    CloseHandle(s->thread);
    s->thread = nullptr;
    return true;
}
