#include "app/work.h"

#include "app/fetch.h"
#include "app/freshness.h"
#include "file/file_stream.h"
#include "net/network.h"

WorkOutcome do_station_work(const char* catalogue_url, const StopFlag* stop, WorkReport* report,
                            volatile LONG* claim) {
    WorkReport own{};
    if (!report) report = &own;
    // A fresh element file means no request at all: the host's data would
    // not have changed, and asking too often gets a station blocked.
    if (station_file_fresh(OUTPUT_FILE_NAME, &report->file_age, report->catalogue_number))
        return WorkOutcome::current;
    StringVar temp_path = nullptr;
    network_start();
    // The fetch's own result decides: a catalogue it did not have is not
    // read, even when a file of its name could not be removed.
    if (!fetch_catalogue(catalogue_url, &temp_path, stop, &report->download)) {
        delete_file(temp_path);
        return report->download.stage == DownloadStage::cancelled
                   ? WorkOutcome::cancelled
                   : WorkOutcome::catalogue_unavailable;
    }
    // A close that came first has the start: the file is not touched.
    if (claim && InterlockedCompareExchange(claim, CLAIM_REPLACING, CLAIM_NONE) != CLAIM_NONE) {
        delete_file(temp_path);
        return WorkOutcome::cancelled;
    }
    report->extract =
        extract_element_set(temp_path, OUTPUT_FILE_NAME, &report->detail, report->catalogue_number);
    delete_file(temp_path);
    switch (report->extract) {
    case ExtractResult::written:
        return WorkOutcome::written;
    case ExtractResult::catalogue_unopenable:
        return WorkOutcome::catalogue_unavailable;
    case ExtractResult::not_found:
    case ExtractResult::unusable:
    case ExtractResult::catalogue_unreadable:
    case ExtractResult::output_unwritable:
        break;
    }
    return WorkOutcome::not_updated;
}
