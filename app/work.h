// The work of one start, without the window: the freshness check, the fetch
// into the temporary catalogue, the extraction and the replacement of the
// element file. The temporary catalogue is gone afterwards on every path.
#pragma once

#include <cstdint>

#include "app/extract.h"
#include "http/download_report.h"
#include "net/wait_hook.h"

enum class WorkOutcome {
    written,               // the new element set is on disk
    current,               // the element file is fresh: nothing was asked
    not_updated,           // the catalogue came but gave no usable set; the file stands
    catalogue_unavailable, // no catalogue could be had (the user is to be told); the file stands
    cancelled,             // the caller's wait hook said stop; the file stands
};

// How the work went, for the caller to tell.
struct WorkReport {
    DownloadReport download; // filled in once the catalogue was asked for
    ExtractResult extract;   // once the catalogue came
    ExtractDetail detail;    // likewise
    uint32_t file_age;       // current: the element file's age in seconds
    bool busy;               // another start kept the work past the wait (set by the caller)
};

// The network is started here when it is needed and ended by the caller's
// end sequence; the file streams and the string engine must be started.
// The hook (may be null) is called during every wait of the fetch; the
// report (may be null) is filled in.
WorkOutcome do_station_work(const char* catalogue_url, const WaitHook* hook = nullptr,
                            WorkReport* report = nullptr);
