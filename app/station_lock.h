// One start at a time: the work of a start runs under a named mutex of the
// session. A start that finds it held waits, its window answering through
// the wait hook, for at most STATION_WAIT_MS.
#pragma once

#include "core/win32.h"
#include "net/wait_hook.h"

constexpr char STATION_MUTEX_NAME[] = "Local\\KestrinStationWork";
constexpr DWORD STATION_WAIT_MS = 60000;

enum class LockWait {
    acquired,  // the work may run (also when a killed start left the mutex abandoned)
    busy,      // another start kept it for the whole wait
    cancelled, // the hook said stop
};

// Waits for the mutex in slices of WAIT_SLICE_MS, calling the hook (may be
// null) between them. *mutex is what release_station_lock takes: the held
// mutex, or null. When no mutex can be made the work runs unguarded.
LockWait take_station_lock(HANDLE* mutex, const WaitHook* hook, DWORD wait_ms = STATION_WAIT_MS);
void release_station_lock(HANDLE mutex);
