#include "app/station_lock.h"

LockWait take_station_lock(HANDLE* mutex, const WaitHook* hook, DWORD wait_ms) {
    *mutex = nullptr;
    HANDLE m = CreateMutexA(nullptr, FALSE, STATION_MUTEX_NAME);
    if (!m) return LockWait::acquired;
    const ULONGLONG end = GetTickCount64() + wait_ms;
    for (;;) {
        const DWORD got = WaitForSingleObject(m, WAIT_SLICE_MS);
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
            *mutex = m;
            return LockWait::acquired;
        }
        if (got == WAIT_FAILED) { // the work runs unguarded, as it would without a mutex
            CloseHandle(m);
            return LockWait::acquired;
        }
        if (!wait_go_on(hook)) {
            CloseHandle(m);
            return LockWait::cancelled;
        }
        if (GetTickCount64() >= end) {
            CloseHandle(m);
            return LockWait::busy;
        }
    }
}

void release_station_lock(HANDLE mutex) {
    if (!mutex) return;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
