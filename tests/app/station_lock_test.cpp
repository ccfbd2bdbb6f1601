// One start at a time: a start that finds the session's mutex held waits,
// and gives up when the wait runs out or its stop flag is set; a mutex left
// by a start that was killed counts as free.
#include <thread>

#include <gtest/gtest.h>

#include "app/station_lock.h"
// After the Windows declarations it extends.
#include <sddl.h>

namespace {

// Holds the station's mutex on a thread of its own (a mutex belongs to the
// thread that took it) until released, or leaves it abandoned.
struct OtherStart {
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE let_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;

    // dacl (SDDL), when given, is what others may do with the mutex, as
    // when a start running elevated made it.
    explicit OtherStart(bool abandon, const char* dacl = nullptr) {
        thread = std::thread([this, abandon, dacl] {
            SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
            if (dacl)
                ConvertStringSecurityDescriptorToSecurityDescriptorA(
                    dacl, SDDL_REVISION_1, &sa.lpSecurityDescriptor, nullptr);
            HANDLE m = CreateMutexA(dacl ? &sa : nullptr, FALSE, STATION_MUTEX_NAME);
            LocalFree(sa.lpSecurityDescriptor);
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

// A start that may not make the mutex (ERROR_ACCESS_DENIED: another start
// running elevated made it) opens it to wait for it; where it may not even
// do that it counts as busy. Never does it work unguarded.
TEST(StationLock, AMutexItMayNotMakeIsWaitedForOrCountsAsBusy) {
    const struct {
        const char* dacl;
        bool may_wait;
    } cases[] = {{"D:(A;;0x00100000;;;WD)", true}, {"D:(D;;0x001F0001;;;WD)", false}};
    for (const auto& c : cases) {
        HANDLE m = nullptr;
        {
            OtherStart other(false, c.dacl);
            HANDLE made = CreateMutexA(nullptr, FALSE, STATION_MUTEX_NAME);
            if (made) {
                CloseHandle(made);
                GTEST_SKIP() << "this system lets a start make a mutex its DACL denies (Wine)";
            }
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << c.dacl;
            HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, STATION_MUTEX_NAME);
            if (opened) CloseHandle(opened);
            if (!opened == c.may_wait)
                GTEST_SKIP() << "this system lets a start open a mutex its DACL denies (Wine)";
            // Opened to wait for it, the whole wait; else busy at once.
            const ULONGLONG started = GetTickCount64();
            EXPECT_EQ(take_station_lock(&m, nullptr, 300), LockWait::busy) << c.dacl;
            EXPECT_EQ(GetTickCount64() - started >= 300, c.may_wait) << c.dacl;
        }
        // The other start let go (and its mutex is gone): free again.
        EXPECT_EQ(take_station_lock(&m, nullptr, 300), LockWait::acquired) << c.dacl;
        release_station_lock(m);
    }
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
