// Kestrin's main procedure: starts the libraries in their fixed order, opens
// the window with its picture and status bar, fetches the catalogue and
// copies the element set once, runs the event loop until the window is
// closed, and ends the libraries in their fixed order. The exit code is 0 on
// every path.
#include "app/fetch.h"
#include "app/message_pump.h"
#include "app/report_text.h"
#include "app/station_lock.h"
#include "app/station_log.h"
#include "app/status_text.h"
#include "app/work.h"
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

// The catalogue server, a build setting.
#ifndef KESTRIN_CATALOGUE_SITE
#define KESTRIN_CATALOGUE_SITE "celestrak.org"
#endif

namespace {

constexpr char CATALOGUE_URL[] = "https://" KESTRIN_CATALOGUE_SITE CATALOGUE_QUERY;
constexpr char WINDOW_TITLE[] = "Kestrin";
// "Информация" and "Данные с <site> недоступны", Windows-1251.
constexpr char MESSAGE_TITLE[] = "\xC8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xFF";
constexpr char MESSAGE_TEXT[] = "\xC4\xE0\xED\xED\xFB\xE5 \xF1 " KESTRIN_CATALOGUE_SITE
                                " \xED\xE5\xE4\xEE\xF1\xF2\xF3\xEF\xED\xFB";

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

// Does the work, one start at a time, with the window answering meanwhile;
// tells the log what happened and the status bar the outcome. A catalogue
// that could not be had is also told in a message box, with the reason. A
// close request ends the work at its next wait: the event loop then takes
// the request and the program ends.
void do_work() {
    static constexpr ObjectId watched = MAIN_WINDOW;
    const WaitHook hook = message_pump_hook(&watched);
    WorkReport report{};
    WorkOutcome outcome = WorkOutcome::cancelled;
    HANDLE lock = nullptr;
    switch (take_station_lock(&lock, &hook)) {
    case LockWait::acquired:
        outcome = do_station_work(CATALOGUE_URL, &hook, &report);
        break;
    case LockWait::busy:
        report.busy = true;
        outcome = WorkOutcome::not_updated;
        break;
    case LockWait::cancelled:
        break;
    }
    char detail[512];
    log_detail(outcome, report, KESTRIN_CATALOGUE_SITE, detail, sizeof detail);
    append_log_line(LOG_FILE_NAME, detail);
    release_station_lock(lock);
    if (outcome == WorkOutcome::cancelled) return;
    if (outcome == WorkOutcome::catalogue_unavailable) {
        char text[sizeof MESSAGE_TEXT + 512];
        box_text(report.download, KESTRIN_CATALOGUE_SITE, MESSAGE_TEXT, text, sizeof text);
        message_box(MESSAGE_TITLE, text);
    }
    set_status_text(STATUS_BAR, 0, status_text(outcome), STATUS_CENTRED);
}

void run_event_loop() {
    for (;;) {
        const int32_t last_event = wait_window_event();
        if (last_event == EVT_CLOSE_REQUEST && window_of_event() == MAIN_WINDOW) {
            close_window(MAIN_WINDOW);
            return;
        }
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    module_handle = GetModuleHandleA(nullptr);
    main_heap = HeapCreate(0, 4096, 0);
    start_libraries();

    // Without the window no close request can ever come: end at once.
    if (open_window(MAIN_WINDOW, 150, 150, 330, 120, WINDOW_TITLE, WINDOW_FLAGS)) {
        create_status_bar(STATUS_BAR, window_handle(MAIN_WINDOW));
        add_status_field(STATUS_FIELD_WIDTH);
        // The picture is loaded without a length: its end marker ends it.
        auto picture = reinterpret_cast<HANDLE>(load_image_from_memory(PICTURE, kestrin_picture));
        create_image_gadget(PICTURE_GADGET, 0, 0, 330, 100, picture);
        do_work();
        run_event_loop();
    }

    end_libraries();
    HeapDestroy(main_heap);
    ExitProcess(0);
}
