// One start at a time: a start that finds the session's mutex held waits,
// and gives up when the wait runs out or its stop flag is set; a mutex left
// by a start that was killed counts as free.
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

TEST(StationLock, WaitsThenGivesUpOrStops) {
    OtherStart other(false);
    HANDLE m = nullptr;
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(take_station_lock(&m, nullptr, 500), LockWait::busy);
    EXPECT_GE(GetTickCount64() - started, 500u);
    EXPECT_EQ(m, nullptr);
    const StopFlag stop{true};
    EXPECT_EQ(take_station_lock(&m, &stop, 60000), LockWait::cancelled);
    EXPECT_LT(GetTickCount64() - started, 5000u);
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
