// The work of one start, without the window: the freshness check, the fetch
// into the temporary catalogue, the extraction and the replacement of the
// element file. The temporary catalogue is gone afterwards on every path.
#pragma once

#include <cstdint>

#include "app/extract.h"
#include "http/download_report.h"
#include "core/win32.h"
#include "net/stop_flag.h"

enum class WorkOutcome {
    written,               // the new element set is on disk
    current,               // the element file is fresh: nothing was asked
    not_updated,           // the catalogue came but gave no usable set; the file stands
    catalogue_unavailable, // no catalogue could be had (the user is to be told); the file stands
    cancelled,             // the start was cancelled; the file stands
};

// Who ends a start, settled by one interlocked claim: the worker claims
// "replacing" before it writes the element file and "done" with its
// outcome; a close claims "cancelled" only while nothing was claimed.
enum StartClaim : LONG { CLAIM_NONE = 0, CLAIM_REPLACING, CLAIM_DONE, CLAIM_CANCELLED };

// How the work went, for the caller to tell.
struct WorkReport {
    DownloadReport download; // filled in once the catalogue was asked for
    ExtractResult extract;   // once the catalogue came
    ExtractDetail detail;    // likewise
    uint32_t file_age;       // current: the element file's age in seconds
    bool busy;               // another start kept the work past the wait (set by the caller)
    // What was asked, when not the defaults: named in the log line.
    uint32_t catalogue_number; // 0: METEOR-M2 2 found by its name
    bool own_source;           // the operator's source, not the built-in query
};

// The network is started here when it is needed and ended by the caller's
// end sequence; the file streams and the string engine must be started.
// The stop flag (may be null) ends every wait of the fetch; the report (may
// be null) is filled in. With a claim, the element file is replaced only
// once "replacing" was claimed from none; otherwise the work is cancelled.
// The satellite is the report's catalogue number (0: METEOR-M2 2 by name).
WorkOutcome do_station_work(const char* catalogue_url, const StopFlag* stop = nullptr,
                            WorkReport* report = nullptr, volatile LONG* claim = nullptr);
