// What a start tells people: the message box's reason under its first line
// and the log line's outcome and detail, for each way a start can end.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/report_text.h"

namespace {

constexpr char SITE[] = "celestrak.org";
constexpr char FIRST[] = "First line";

DownloadReport at(DownloadStage stage, bool timed_out = false) {
    DownloadReport r{};
    r.stage = stage;
    r.timed_out = timed_out;
    return r;
}

DownloadReport refused() {
    DownloadReport r = at(DownloadStage::status);
    r.status_code = 403;
    std::strcpy(r.reason_phrase, "Forbidden");
    std::strcpy(r.host_text, "GP data has not updated");
    return r;
}

DownloadReport tls(TlsFailure f) {
    DownloadReport r = at(DownloadStage::tls);
    r.tls_failure = f;
    return r;
}

std::string text_of(const DownloadReport& r) {
    char out[1024];
    box_text(r, SITE, FIRST, out, sizeof out);
    return out;
}

TEST(ReportText, BoxGivesTheReasonUnderItsFirstLine) {
    const std::string first = std::string(FIRST) + "\n\n";
    const struct Case {
        const char* name;
        DownloadReport report;
        std::string text;
    } cases[] = {
        {"name not found", at(DownloadStage::resolve),
         first + REASON_NAME_BEFORE + SITE + REASON_NAME_AFTER},
        {"no connection", at(DownloadStage::connect),
         first + REASON_CONNECT_BEFORE + SITE + REASON_CONNECT_AFTER},
        {"certificate date", tls(TlsFailure::certificate_date), first + REASON_CERTIFICATE_DATE},
        {"untrusted root", tls(TlsFailure::certificate_untrusted),
         first + REASON_CERTIFICATE_UNTRUSTED},
        {"other name", tls(TlsFailure::certificate_name), first + REASON_CERTIFICATE_NAME},
        {"other TLS failure", tls(TlsFailure::other), first + REASON_TLS},
        {"refused with text", refused(),
         first + REASON_STATUS + "403 Forbidden\nGP data has not updated"},
        {"too slow", at(DownloadStage::body, true), first + REASON_SLOW},
        {"no head in time", at(DownloadStage::answer, true), first + REASON_SLOW},
        {"lookup took the whole budget", at(DownloadStage::resolve, true), first + REASON_SLOW},
        {"cut", at(DownloadStage::body), first + REASON_CUT},
        {"head cut", at(DownloadStage::answer), first + REASON_CUT},
        {"request not sent in time", at(DownloadStage::send, true), first + REASON_SLOW},
        {"connection broke while sending", at(DownloadStage::send), first + REASON_SEND_BROKEN},
        {"not stored", at(DownloadStage::file), first + REASON_DISK},
        {"nothing to tell", at(DownloadStage::request), FIRST},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text_of(c.report), c.text) << c.name;

    DownloadReport bare = refused();
    bare.host_text[0] = bare.reason_phrase[0] = 0;
    EXPECT_EQ(text_of(bare), first + REASON_STATUS + "403");
    // A text longer than the box's buffer is cut, not overrun.
    char small[8];
    box_text(refused(), SITE, FIRST, small, sizeof small);
    EXPECT_STREQ(small, "First l");
    char one[1];
    box_text(refused(), SITE, FIRST, one, sizeof one);
    EXPECT_STREQ(one, "");
}

TEST(ReportText, LogLineTellsOutcomeAndDetail) {
    WorkReport written{};
    written.download = at(DownloadStage::done);
    written.download.status_code = 200;
    written.download.body_bytes = 155;
    written.download.tls_version = 13;
    written.download.milliseconds = 61095;
    WorkReport current{};
    current.file_age = 119 * 60 + 59;
    WorkReport unavailable{};
    unavailable.download = refused();
    WorkReport refused_connection{};
    refused_connection.download = at(DownloadStage::connect);
    WorkReport csv{};
    csv.extract = ExtractResult::unusable;
    csv.detail.fault = ElementSetFault::shape;
    WorkReport checksum = csv;
    checksum.detail.fault = ElementSetFault::checksum;
    auto refused_certificate = [](TlsFailure f) {
        WorkReport r{};
        r.download = tls(f);
        return r;
    };
    auto held_by = [](uint32_t system_error) {
        WorkReport r{};
        r.extract = ExtractResult::output_unwritable;
        r.detail.system_error = system_error;
        return r;
    };
    WorkReport missing{};
    missing.extract = ExtractResult::not_found;
    missing.download.body_bytes = 1234;
    WorkReport busy{};
    busy.busy = true;
    WorkReport unreadable = written;
    WorkReport cut{};
    cut.download = at(DownloadStage::body);
    cut.download.body_bytes = 500;
    WorkReport send_broke{};
    send_broke.download = at(DownloadStage::send);
    WorkReport send_slow{};
    send_slow.download = at(DownloadStage::send, true);
    WorkReport slow_lookup{};
    slow_lookup.download = at(DownloadStage::resolve, true);
    WorkReport by_number = missing;
    by_number.catalogue_number = 57166;
    WorkReport from_mirror = written;
    from_mirror.catalogue_number = 59051;
    from_mirror.own_source = true;
    WorkReport short_of_memory{};
    short_of_memory.extract = ExtractResult::catalogue_unreadable;
    const struct Case {
        WorkOutcome outcome;
        WorkReport report;
        const char* line;
    } cases[] = {
        {WorkOutcome::written, written, "written: status 200, 155 body bytes, TLS 1.3, 61.09 s"},
        {WorkOutcome::current, current, "current: norad_M2.txt is 119 min old, nothing asked"},
        {WorkOutcome::catalogue_unavailable, unreadable,
         "unavailable: the stored answer could not be read"},
        {WorkOutcome::catalogue_unavailable, cut,
         "unavailable: the answer was cut after 500 body bytes"},
        {WorkOutcome::catalogue_unavailable, unavailable,
         "unavailable: the server answered 403 Forbidden: GP data has not updated"},
        {WorkOutcome::catalogue_unavailable, send_broke,
         "unavailable: the connection broke while the request was sent"},
        {WorkOutcome::catalogue_unavailable, send_slow,
         "unavailable: the request could not be sent in time"},
        {WorkOutcome::catalogue_unavailable, slow_lookup,
         "unavailable: the server did not send its answer in 40 s"},
        {WorkOutcome::catalogue_unavailable, refused_connection,
         "unavailable: celestrak.org accepts no connection"},
        {WorkOutcome::not_updated, csv,
         "not-updated: the lines after METEOR-M2 2 are no element set: a short or misshapen line"},
        {WorkOutcome::not_updated, checksum,
         "not-updated: the lines after METEOR-M2 2 are no element set: a checksum that does not "
         "hold"},
        {WorkOutcome::catalogue_unavailable, refused_certificate(TlsFailure::certificate_date),
         "unavailable: the server's certificate is not valid at this date (check the computer's "
         "date and time)"},
        {WorkOutcome::catalogue_unavailable, refused_certificate(TlsFailure::certificate_untrusted),
         "unavailable: the server's certificate is not from a trusted root"},
        {WorkOutcome::catalogue_unavailable, refused_certificate(TlsFailure::certificate_name),
         "unavailable: the server's certificate was issued to another server"},
        // The system's error in plain words where it is a common one.
        {WorkOutcome::not_updated, held_by(32),
         "not-updated: norad_M2.txt could not be replaced: the file is in use by another program "
         "(system error 32)"},
        {WorkOutcome::not_updated, held_by(33),
         "not-updated: norad_M2.txt could not be replaced: the file is in use by another program "
         "(system error 33)"},
        {WorkOutcome::not_updated, held_by(3),
         "not-updated: norad_M2.txt could not be replaced: no such file or folder (system error "
         "3)"},
        {WorkOutcome::not_updated, held_by(112),
         "not-updated: norad_M2.txt could not be replaced: the disk is full (system error 112)"},
        {WorkOutcome::not_updated, held_by(1450),
         "not-updated: norad_M2.txt could not be replaced: system error 1450"},
        {WorkOutcome::not_updated, missing,
         "not-updated: the answer (1234 bytes) has no line with METEOR-M2 2"},
        {WorkOutcome::not_updated, by_number,
         "not-updated: the answer (1234 bytes) has no set for catalogue number 57166 [catalogue "
         "number 57166]"},
        {WorkOutcome::written, from_mirror,
         "written: status 200, 155 body bytes, TLS 1.3, 61.09 s [catalogue number 59051, from "
         "celestrak.org]"},
        {WorkOutcome::not_updated, busy,
         "not-updated: another start was still at work, nothing asked"},
        {WorkOutcome::not_updated, short_of_memory,
         "not-updated: memory ran short while the answer was read"},
        {WorkOutcome::cancelled, WorkReport{},
         "cancelled: the window was closed while the work ran"},
    };
    char line[512];
    for (const Case& c : cases) {
        log_detail(c.outcome, c.report, SITE, line, sizeof line);
        EXPECT_STREQ(line, c.line);
    }
}

} // namespace
