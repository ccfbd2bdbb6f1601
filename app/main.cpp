// Kestrin's main procedure: starts the libraries in their fixed order, opens
// the window with its picture and status bar, starts the work of the start
// on its worker thread, runs the event loop until the window is closed, and
// ends the libraries in their fixed order once the worker has ended. The
// window's thread only runs the window: the worker's outcome comes back as a
// message to a window of the program's own, so that it is shown even while
// the system's loop for moving the window runs. The exit code is 0 on every
// path.
#include "app/fetch.h"
#include "app/report_text.h"
#include "app/start.h"
#include "app/status_text.h"
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

// The worker's outcome, on the window thread: the status bar, and the box
// when no catalogue could be had and the window is still open.
LRESULT CALLBACK told_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_START_TOLD) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (!window_handle(MAIN_WINDOW)) return 0;
    if (start.outcome == WorkOutcome::catalogue_unavailable) {
        char text[sizeof MESSAGE_TEXT + 512];
        box_text(start.report.download, KESTRIN_CATALOGUE_SITE, MESSAGE_TEXT, text, sizeof text);
        message_box(MESSAGE_TITLE, text);
    }
    if (window_handle(MAIN_WINDOW))
        set_status_text(STATUS_BAR, 0, status_text(start.outcome), STATUS_CENTRED);
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
            if (!start_ended(&start, cancelled ? CANCEL_WAIT_MS : INFINITE))
                TerminateProcess(GetCurrentProcess(), 0); // its libraries are the worker's still
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
        // Without its window the outcome still reaches the log.
        if (open_told_window()) start.told = tell_window;
        start_work(&start);
        run_event_loop();
    }

    end_libraries();
    HeapDestroy(main_heap);
    ExitProcess(0);
}
