// Kestrin's main procedure: starts the libraries in their fixed order, opens
// the window with its picture and status bar, starts the work of the start
// on its worker thread, runs the event loop until the window is closed, and
// ends the libraries in their fixed order once the worker has ended. The
// window's thread only runs the window: the worker's outcome comes back as a
// message to a window of the program's own, so that it is shown even while
// the system's loop for moving the window runs. The command line may ask for
// another satellite, another source and an unattended start; the exit code
// is 0, but 87 for a command line not understood and, unattended, the
// outcome's code.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/fetch.h"
#include "app/report_text.h"
#include "app/start.h"
#include "app/station_log.h"
#include "app/status_text.h"
#include "app/usage_text.h"
#include "core/strings.h"
#include "file/file_stream.h"
#include "image/image.h"
#include "image/image_decoder.h"
#include "image/jpeg_decoder.h"
#include "net/network.h"
#include "resources/picture.h"
#include "ui/alpha.h"
#include "ui/gadget.h"
#include "ui/message_box.h"
#include "ui/post_event_window.h"
#include "ui/status_bar.h"
#include "ui/window.h"
// After the Windows declarations it extends.
#include <shellapi.h>

// The catalogue server, a build setting.
#ifndef KESTRIN_CATALOGUE_SITE
#define KESTRIN_CATALOGUE_SITE "celestrak.org"
#endif

namespace {

constexpr char CATALOGUE_URL[] = "https://" KESTRIN_CATALOGUE_SITE CATALOGUE_QUERY;
// The same query for another catalogue number.
constexpr char NUMBER_URL_FORMAT[] =
    "https://" KESTRIN_CATALOGUE_SITE "/NORAD/elements/gp.php?CATNR=%u&FORMAT=TLE";
constexpr char WINDOW_TITLE[] = "Kestrin";
// "Информация" and "Данные с <site> недоступны", Windows-1251.
constexpr char MESSAGE_TITLE[] = "\xC8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xFF";
constexpr char MESSAGE_BEFORE_SITE[] = "\xC4\xE0\xED\xED\xFB\xE5 \xF1 ";
constexpr char MESSAGE_AFTER_SITE[] = " \xED\xE5\xE4\xEE\xF1\xF2\xF3\xEF\xED\xFB";
// The system's "the parameter is incorrect", for a command line not understood.
constexpr int EXIT_NOT_UNDERSTOOD = 87;
// Unattended, the window closes itself this long after the outcome shows.
constexpr UINT CLOSE_AFTER_MS = 3000;

constexpr ObjectId MAIN_WINDOW = 0;
constexpr ObjectId PICTURE = 1;
constexpr ObjectId STATUS_BAR = 2;
constexpr ObjectId PICTURE_GADGET = 0;
constexpr int32_t WINDOW_FLAGS = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
constexpr int32_t STATUS_FIELD_WIDTH = 350;

void start_libraries() {
    string_engine_start();
    event_queue_start();
    file_streams_start();
    image_decoders_start();
    images_start();
    alpha_blend_start();
    windows_start();
    gadgets_start();
    common_controls_start();
    status_bars_start();
    register_jpeg_decoder();
}

void end_libraries() {
    network_end();
    gadgets_end();
    windows_end();
    alpha_blend_end();
    images_end();
    file_streams_end();
    event_queue_end();
    string_engine_end();
}

// A close waits this long for the worker to stop at its next wait slice; a
// worker held in a call that cannot be interrupted (the name lookup, the
// certificate chain build) is not waited for. No file of the start exists
// then: tmp1 is made only once the answer's body begins.
constexpr DWORD CANCEL_WAIT_MS = 300;
constexpr UINT WM_START_TOLD = WM_APP + 1;
constexpr char TOLD_CLASS[] = "KestrinStartTold";

Start start{CATALOGUE_URL, KESTRIN_CATALOGUE_SITE, nullptr, nullptr, {}, CLAIM_NONE,
            nullptr,       WorkOutcome::cancelled, {}};
HWND told_window;
CommandLine command;
char number_url[sizeof NUMBER_URL_FORMAT + 8];

// The program's arguments, from the UTF-16 command line.
CommandLine read_command_line() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const CommandLine c = parse_command_line(arguments && count > 1 ? arguments + 1 : nullptr,
                                             arguments && count > 1 ? count - 1 : 0);
    if (arguments) LocalFree(arguments);
    return c;
}

// What the start asks for, and where from.
void choose(const StartChoices& c) {
    if (c.has_source) {
        start.url = c.source_url;
        start.site = c.source_site;
    } else if (c.catalogue_number) {
        std::snprintf(number_url, sizeof number_url, NUMBER_URL_FORMAT,
                      unsigned(c.catalogue_number));
        start.url = number_url;
    }
    start.report.catalogue_number = c.catalogue_number;
    start.report.own_source = c.has_source;
}

// The exit code of an unattended start: 0 written or current, 1 not
// updated, 2 unavailable, 3 another start at work or closed before the
// outcome.
int outcome_code() {
    if (start.claim != CLAIM_DONE) return 3;
    switch (start.outcome) {
    case WorkOutcome::written:
    case WorkOutcome::current:
        return 0;
    case WorkOutcome::not_updated:
        return start.report.busy ? 3 : 1;
    case WorkOutcome::catalogue_unavailable:
        return 2;
    case WorkOutcome::cancelled:
        break;
    }
    return 3;
}

// A command line not understood: nothing is asked, the log says why, and a
// person (not an unattended start) is shown what was not understood.
void refuse_command_line() {
    char line[128];
    std::snprintf(line, sizeof line, "not-updated: the command line was not understood: %s",
                  command.echo);
    append_log_line(LOG_FILE_NAME, line);
    if (command.choices.unattended) return;
    char text[sizeof NOT_UNDERSTOOD + ECHO_LIMIT + 2 + sizeof USAGE_TEXT];
    std::snprintf(text, sizeof text, "%s%s\n\n%s", NOT_UNDERSTOOD, command.echo, USAGE_TEXT);
    message_box(USAGE_TITLE, text);
}

// The worker's outcome, on the window thread: the status bar, and the box
// when no catalogue could be had and the window is still open.
// Unattended, no box is ever shown, and the window then closes itself after
// CLOSE_AFTER_MS.
LRESULT CALLBACK told_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        KillTimer(hwnd, wParam);
        if (HWND main = window_handle(MAIN_WINDOW)) PostMessageA(main, WM_CLOSE, 0, 0);
        return 0;
    }
    if (message != WM_START_TOLD) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (!window_handle(MAIN_WINDOW)) return 0;
    const bool unattended = command.choices.unattended;
    if (start.outcome == WorkOutcome::catalogue_unavailable && !unattended) {
        char first[sizeof MESSAGE_BEFORE_SITE + SOURCE_SITE_LIMIT + sizeof MESSAGE_AFTER_SITE];
        std::snprintf(first, sizeof first, "%s%s%s", MESSAGE_BEFORE_SITE, start.site,
                      MESSAGE_AFTER_SITE);
        char text[sizeof first + 512];
        box_text(start.report.download, start.site, first, text, sizeof text);
        message_box(MESSAGE_TITLE, text);
    }
    if (window_handle(MAIN_WINDOW))
        set_status_text(STATUS_BAR, 0, status_text(start.outcome), STATUS_CENTRED);
    if (unattended) SetTimer(hwnd, 1, CLOSE_AFTER_MS, nullptr);
    return 0;
}

// On the worker's thread.
void tell_window(void*) {
    PostMessageA(told_window, WM_START_TOLD, 0, 0);
}

bool open_told_window() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = told_procedure;
    wc.hInstance = module_handle;
    wc.lpszClassName = TOLD_CLASS;
    if (!RegisterClassA(&wc)) return false;
    told_window = CreateWindowExA(0, TOLD_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  module_handle, nullptr);
    return told_window != nullptr;
}

// Until the window is closed. A close before the replacement began cancels
// the start and ends the program at once; one during the replacement waits
// for it.
void run_event_loop() {
    for (;;) {
        const int32_t last_event = wait_window_event();
        if (last_event == EVT_CLOSE_REQUEST && window_of_event() == MAIN_WINDOW) {
            close_window(MAIN_WINDOW);
            const bool cancelled = cancel_start(&start);
            // Its libraries are the worker's still: they are not ended.
            if (!start_ended(&start, cancelled ? CANCEL_WAIT_MS : INFINITE))
                TerminateProcess(GetCurrentProcess(), command.choices.unattended ? 3 : 0);
            return;
        }
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    module_handle = GetModuleHandleA(nullptr);
    main_heap = HeapCreate(0, 4096, 0);
    start_libraries();
    command = read_command_line();
    choose(command.choices);
    int exit_code = 0;
    if (command.verdict == CommandVerdict::usage) {
        message_box(USAGE_TITLE, USAGE_TEXT); // asked for by a person, even with /close
    } else if (command.verdict == CommandVerdict::refused) {
        refuse_command_line();
        exit_code = EXIT_NOT_UNDERSTOOD;
    } else if (open_window(MAIN_WINDOW, 150, 150, 330, 120, WINDOW_TITLE, WINDOW_FLAGS)) {
        // Only with its window: without one no close request could ever come.
        create_status_bar(STATUS_BAR, window_handle(MAIN_WINDOW));
        add_status_field(STATUS_FIELD_WIDTH);
        // The picture is loaded without a length: its end marker ends it.
        auto picture = reinterpret_cast<HANDLE>(load_image_from_memory(PICTURE, kestrin_picture));
        create_image_gadget(PICTURE_GADGET, 0, 0, 330, 100, picture);
        // Without its window the outcome still reaches the log.
        if (open_told_window()) start.told = tell_window;
        start_work(&start);
        run_event_loop();
        if (command.choices.unattended) exit_code = outcome_code();
    }

    end_libraries();
    HeapDestroy(main_heap);
    ExitProcess(UINT(exit_code));
}
