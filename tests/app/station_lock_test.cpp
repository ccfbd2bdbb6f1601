// One start at a time: a start that finds the session's mutex held waits,
// asking the hook, and gives up when the wait runs out or the hook says
// stop; a mutex left by a start that was killed counts as free.
#include <thread>

#include <gtest/gtest.h>

#include "app/station_lock.h"

namespace {

// Holds the station's mutex on a thread of its own (a mutex belongs to the
// thread that took it) until released, or leaves it abandoned.
struct OtherStart {
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE let_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;

    explicit OtherStart(bool abandon) {
        thread = std::thread([this, abandon] {
            HANDLE m = CreateMutexA(nullptr, FALSE, STATION_MUTEX_NAME);
            WaitForSingleObject(m, INFINITE);
            SetEvent(taken);
            if (abandon) return; // ends holding it, as a killed start does
            WaitForSingleObject(let_go, INFINITE);
            ReleaseMutex(m);
            CloseHandle(m);
        });
        WaitForSingleObject(taken, 10000);
    }
    ~OtherStart() {
        SetEvent(let_go);
        thread.join();
        CloseHandle(taken);
        CloseHandle(let_go);
    }
};

struct Counter {
    int calls = 0;
    int stop_at = 0; // 0: never
    static bool go_on(void* c) {
        auto* counter = static_cast<Counter*>(c);
        return ++counter->calls != counter->stop_at;
    }
};

TEST(StationLock, WaitsAskingTheHookThenGivesUp) {
    OtherStart other(false);
    Counter counter;
    const WaitHook hook{Counter::go_on, &counter};
    HANDLE m = nullptr;
    EXPECT_EQ(take_station_lock(&m, &hook, 500), LockWait::busy);
    EXPECT_EQ(m, nullptr);
    EXPECT_GE(counter.calls, 4); // every 100 ms

    Counter stopping;
    stopping.stop_at = 2;
    const WaitHook stop{Counter::go_on, &stopping};
    EXPECT_EQ(take_station_lock(&m, &stop, 60000), LockWait::cancelled);
    EXPECT_EQ(stopping.calls, 2);
}

TEST(StationLock, AbandonedByAKilledStartCountsAsFree) {
    HANDLE m = nullptr;
    { OtherStart killed(true); }
    ASSERT_EQ(take_station_lock(&m, nullptr, 500), LockWait::acquired);
    ASSERT_NE(m, nullptr);
    release_station_lock(m);
    // Released whole: the next start takes it at once.
    std::thread next([] {
        HANDLE h = CreateMutexA(nullptr, FALSE, STATION_MUTEX_NAME);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
        ReleaseMutex(h);
        CloseHandle(h);
    });
    next.join();
}

} // namespace
