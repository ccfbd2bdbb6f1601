// One start at a time: the work of a start runs under a named mutex of the
// logon session. A start that finds it held waits for at most
// STATION_WAIT_MS, longer than a whole fetch may take, looking at its stop
// flag every WAIT_SLICE_MS. Called from the start's worker.
#pragma once

#include "core/win32.h"
#include "net/stop_flag.h"

constexpr char STATION_MUTEX_NAME[] = "Local\\KestrinStationWork";
constexpr DWORD STATION_WAIT_MS = 60000;

enum class LockWait {
    acquired,  // the work may run (also when a killed start left the mutex abandoned)
    busy,      // another start kept it for the whole wait, or it could not be had at all
    cancelled, // the stop flag was set
};

// The named mutex, made or, where making it is refused (a start running
// elevated made it first), opened with SYNCHRONIZE | MUTEX_MODIFY_STATE,
// then with SYNCHRONIZE alone; null when none of these succeeds.
HANDLE open_named_mutex(const char* name);

// Waits for the mutex in slices of WAIT_SLICE_MS. *mutex is what
// release_station_lock takes: the held mutex, or null. A mutex that cannot
// be had at all counts as busy: two starts never work at once.
LockWait take_station_lock(HANDLE* mutex, const StopFlag* stop, DWORD wait_ms = STATION_WAIT_MS);
void release_station_lock(HANDLE mutex);
