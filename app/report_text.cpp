#include "app/report_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "http/download.h"

namespace {

// Text appended to a fixed buffer, cut where it is full.
struct Text {
    char* out;
    size_t size;
    size_t length;

    Text(char* o, size_t s) : out(o), size(s), length(0) {
        if (size) out[0] = 0;
    }
    void add(const char* s) {
        for (; s && *s && length + 1 < size; s++)
            out[length++] = *s;
        if (size) out[length] = 0;
    }
    void format(const char* f, ...) __attribute__((format(printf, 2, 3))) {
        char piece[256];
        va_list args;
        va_start(args, f);
        std::vsnprintf(piece, sizeof piece, f, args);
        va_end(args);
        add(piece);
    }
};

// The fetch's budget ran out: a name lookup that took it all included.
bool too_slow(const DownloadReport& r) {
    return r.timed_out && (r.stage == DownloadStage::resolve || r.stage == DownloadStage::send ||
                           r.stage == DownloadStage::answer || r.stage == DownloadStage::body);
}

const char* certificate_reason(TlsFailure f) {
    switch (f) {
    case TlsFailure::certificate_date:
        return REASON_CERTIFICATE_DATE;
    case TlsFailure::certificate_untrusted:
        return REASON_CERTIFICATE_UNTRUSTED;
    case TlsFailure::certificate_name:
        return REASON_CERTIFICATE_NAME;
    case TlsFailure::none:
    case TlsFailure::cancelled:
    case TlsFailure::other:
        break;
    }
    return REASON_TLS;
}

// The code and phrase as the host sent them, "403 Forbidden".
void add_status(Text& t, const DownloadReport& r) {
    t.format("%03d", int(r.status_code));
    if (r.reason_phrase[0]) t.format(" %s", r.reason_phrase);
}

// Plain words for the errors a replacement or a file commonly meets.
const char* system_error_words(uint32_t error) {
    switch (error) {
    case 2:
    case 3:
        return "no such file or folder";
    case 5:
        return "access denied (held by another program, or protected)";
    case 32:
    case 33:
        return "the file is in use by another program";
    case 39:
    case 112:
        return "the disk is full";
    default:
        return nullptr;
    }
}

void add_system_error(Text& t, uint32_t error) {
    if (!error) return;
    if (const char* words = system_error_words(error))
        t.format(": %s (system error %u)", words, unsigned(error));
    else
        t.format(": system error %u", unsigned(error));
}

void add_unavailable(Text& t, const DownloadReport& r, const char* site) {
    if (too_slow(r) && r.stage != DownloadStage::send) {
        t.format("the server did not send its answer in %d s", int(FETCH_BUDGET));
        return;
    }
    switch (r.stage) {
    case DownloadStage::resolve:
        t.format("the name %s was not found", site);
        return;
    case DownloadStage::connect:
        t.format("%s accepts no connection", site);
        return;
    case DownloadStage::tls:
        switch (r.tls_failure) {
        case TlsFailure::certificate_date:
            t.add("the server's certificate is not valid at this date (check the computer's date "
                  "and time)");
            return;
        case TlsFailure::certificate_untrusted:
            t.add("the server's certificate is not from a trusted root");
            return;
        case TlsFailure::certificate_name:
            t.add("the server's certificate was issued to another server");
            return;
        case TlsFailure::none:
        case TlsFailure::cancelled:
        case TlsFailure::other:
            break;
        }
        t.add("no secure connection could be made");
        return;
    case DownloadStage::status:
        t.add("the server answered ");
        add_status(t, r);
        if (r.host_text[0]) t.format(": %s", r.host_text);
        return;
    case DownloadStage::file:
        t.add("the answer could not be stored");
        add_system_error(t, r.system_error);
        return;
    case DownloadStage::done:
        t.add("the answer was empty");
        return;
    case DownloadStage::request:
        t.add("the request could not be made");
        return;
    case DownloadStage::send:
    case DownloadStage::answer:
    case DownloadStage::body:
    case DownloadStage::cancelled:
        break;
    }
    if (r.stage == DownloadStage::send)
        t.add(too_slow(r) ? "the request could not be sent in time"
                          : "the connection broke while the request was sent");
    else
        t.format("the answer was cut after %d body bytes", int(r.body_bytes));
}

const char* fault_words(ElementSetFault f) {
    switch (f) {
    case ElementSetFault::shape:
        return "a short or misshapen line";
    case ElementSetFault::checksum:
        return "a checksum that does not hold";
    case ElementSetFault::numbers_differ:
    case ElementSetFault::none:
        break;
    }
    return "catalogue numbers that differ";
}

} // namespace

void box_text(const DownloadReport& r, const char* site, const char* first_line, char* out,
              size_t size) {
    Text t(out, size);
    t.add(first_line);
    const char* reason = nullptr;
    if (too_slow(r)) {
        t.add("\n\n");
        t.add(REASON_SLOW);
        return;
    }
    switch (r.stage) {
    case DownloadStage::resolve:
        t.add("\n\n");
        t.add(REASON_NAME_BEFORE);
        t.add(site);
        t.add(REASON_NAME_AFTER);
        return;
    case DownloadStage::connect:
        t.add("\n\n");
        t.add(REASON_CONNECT_BEFORE);
        t.add(site);
        t.add(REASON_CONNECT_AFTER);
        return;
    case DownloadStage::tls:
        reason = certificate_reason(r.tls_failure);
        break;
    case DownloadStage::status:
        t.add("\n\n");
        t.add(REASON_STATUS);
        add_status(t, r);
        if (r.host_text[0]) {
            t.add("\n");
            t.add(r.host_text);
        }
        return;
    case DownloadStage::file:
        reason = REASON_DISK;
        break;
    case DownloadStage::send:
        reason = too_slow(r) ? REASON_SLOW : REASON_SEND_BROKEN;
        break;
    case DownloadStage::answer:
    case DownloadStage::body:
        reason = too_slow(r) ? REASON_SLOW : REASON_CUT;
        break;
    case DownloadStage::done:
    case DownloadStage::request:
    case DownloadStage::cancelled:
        return; // nothing the operator could act on
    }
    t.add("\n\n");
    t.add(reason);
}

namespace {

void log_outcome(WorkOutcome outcome, const WorkReport& r, const char* site, char* out,
                 size_t size) {
    Text t(out, size);
    const DownloadReport& d = r.download;
    switch (outcome) {
    case WorkOutcome::written:
        t.format("written: status %03d, %d body bytes", int(d.status_code), int(d.body_bytes));
        if (d.tls_version) t.format(", TLS 1.%d", int(d.tls_version % 10));
        t.format(", %u.%02u s", unsigned(d.milliseconds / 1000),
                 unsigned(d.milliseconds % 1000 / 10));
        return;
    case WorkOutcome::current:
        t.format("current: %s is %u min old, nothing asked", OUTPUT_FILE_NAME,
                 unsigned(r.file_age / 60));
        return;
    case WorkOutcome::cancelled:
        t.add("cancelled: the window was closed while the work ran");
        return;
    case WorkOutcome::catalogue_unavailable:
        t.add("unavailable: ");
        if (d.stage == DownloadStage::done && d.body_bytes > 0) // stored, not read back
            t.add("the stored answer could not be read");
        else
            add_unavailable(t, d, site);
        return;
    case WorkOutcome::not_updated:
        break;
    }
    t.add("not-updated: ");
    if (r.busy) {
        t.add("another start was still at work, nothing asked");
        return;
    }
    switch (r.extract) {
    case ExtractResult::not_found:
        if (r.catalogue_number)
            t.format("the answer (%d bytes) has no set for catalogue number %u", int(d.body_bytes),
                     unsigned(r.catalogue_number));
        else
            t.format("the answer (%d bytes) has no line with %s", int(d.body_bytes),
                     SATELLITE_NAME);
        return;
    case ExtractResult::unusable:
        if (r.catalogue_number)
            t.format("the lines of catalogue number %u are no element set: %s",
                     unsigned(r.catalogue_number), fault_words(r.detail.fault));
        else
            t.format("the lines after %s are no element set: %s", SATELLITE_NAME,
                     fault_words(r.detail.fault));
        return;
    case ExtractResult::catalogue_unreadable:
        t.add("memory ran short while the answer was read");
        return;
    case ExtractResult::written:
    case ExtractResult::catalogue_unopenable:
    case ExtractResult::output_unwritable:
        break;
    }
    t.format("%s could not be replaced", OUTPUT_FILE_NAME);
    add_system_error(t, r.detail.system_error);
}

} // namespace

void log_detail(WorkOutcome outcome, const WorkReport& r, const char* site, char* out,
                size_t size) {
    log_outcome(outcome, r, site, out, size);
    if (size == 0 || (!r.catalogue_number && !r.own_source)) return;
    Text t(out + std::strlen(out), size - std::strlen(out));
    t.add(" [");
    if (r.catalogue_number) t.format("catalogue number %u", unsigned(r.catalogue_number));
    if (r.catalogue_number && r.own_source) t.add(", ");
    if (r.own_source) t.format("from %s", site);
    t.add("]");
}
