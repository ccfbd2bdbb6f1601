#include "app/station_lock.h"

HANDLE open_named_mutex(const char* name) {
    if (HANDLE m = CreateMutexA(nullptr, FALSE, name)) return m;
    // Only the right to wait is needed to keep out of the other's way; a
    // mutex held without the right to release it is abandoned at the end.
    if (HANDLE m = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name)) return m;
    return OpenMutexA(SYNCHRONIZE, FALSE, name);
}

LockWait take_station_lock(HANDLE* mutex, const StopFlag* stop, DWORD wait_ms) {
    *mutex = nullptr;
    HANDLE m = open_named_mutex(STATION_MUTEX_NAME);
    if (!m) return LockWait::busy;
    const ULONGLONG end = GetTickCount64() + wait_ms;
    for (;;) {
        const DWORD got = WaitForSingleObject(m, WAIT_SLICE_MS);
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
            *mutex = m;
            return LockWait::acquired;
        }
        LockWait outcome = LockWait::busy;
        if (got != WAIT_FAILED) {
            if (stop_asked(stop))
                outcome = LockWait::cancelled;
            else if (GetTickCount64() < end)
                continue;
        }
        CloseHandle(m);
        return outcome;
    }
}

void release_station_lock(HANDLE mutex) {
    if (!mutex) return;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
