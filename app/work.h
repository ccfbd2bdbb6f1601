// The work of one start, without the window: the freshness check, the fetch
// into the temporary catalogue, the extraction and the replacement of the
// element file. The temporary catalogue is gone afterwards on every path.
#pragma once

enum class WorkOutcome {
    written,               // the new element set is on disk
    current,               // the element file is fresh: nothing was asked
    not_updated,           // the catalogue came but gave no usable set; the file stands
    catalogue_unavailable, // no catalogue could be had (the user is to be told); the file stands
};

// The network is started here when it is needed and ended by the caller's
// end sequence; the file streams and the string engine must be started.
WorkOutcome do_station_work(const char* catalogue_url);
