// The status bar's report after the work, in Windows-1251 bytes.
#pragma once

#include "app/work.h"

// "Файл  *norad_M2.txt* загружен" (29 bytes): the element set was written.
constexpr char STATUS_WRITTEN[] =
    "\xD4\xE0\xE9\xEB  *norad_M2.txt* \xE7\xE0\xE3\xF0\xF3\xE6\xE5\xED";
// "Файл  *norad_M2.txt* не обновлён" (32 bytes): the previous file stands.
constexpr char STATUS_NOT_UPDATED[] =
    "\xD4\xE0\xE9\xEB  *norad_M2.txt* \xED\xE5 \xEE\xE1\xED\xEE\xE2\xEB\xB8\xED";
// "Файл  *norad_M2.txt* актуален" (29 bytes): the file is fresh, nothing was asked.
constexpr char STATUS_CURRENT[] =
    "\xD4\xE0\xE9\xEB  *norad_M2.txt* \xE0\xEA\xF2\xF3\xE0\xEB\xE5\xED";
static_assert(sizeof STATUS_WRITTEN - 1 == 29 && sizeof STATUS_NOT_UPDATED - 1 == 32 &&
              sizeof STATUS_CURRENT - 1 == 29);

inline const char* status_text(WorkOutcome outcome) {
    switch (outcome) {
    case WorkOutcome::written:
        return STATUS_WRITTEN;
    case WorkOutcome::current:
        return STATUS_CURRENT;
    default:
        return STATUS_NOT_UPDATED;
    }
}
