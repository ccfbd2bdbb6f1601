// Top-level windows and the event loop. Windows are numbered objects; each
// gets a class of its own, a small accelerator table for Tab and Shift+Tab,
// and the shared window procedure that turns the messages that matter into
// events in the event queue. The library owns the records, classes,
// accelerator tables and the OS windows until close_window.
#pragma once

#include <cstdint>

#include "core/runtime.h"

// The property that marks a library window: its number + 1.
constexpr char WINDOW_ID_PROPERTY[] = "VX_WindowID";

// Event codes, in the same number space as Windows message numbers.
constexpr int32_t EVT_GADGET = 13100;
constexpr int32_t EVT_COMMAND = 13101;
constexpr int32_t EVT_WINDOW_ACTIVATED = 13104;
constexpr int32_t EVT_WINDOW_MINIMIZED = 13107;
constexpr int32_t EVT_WINDOW_MAXIMIZED = 13108;
constexpr int32_t EVT_WINDOW_RESTORED = 13109;
constexpr int32_t EVT_TIMER = 13110;
constexpr int32_t EVT_RIGHT_BUTTON_UP = 13111;
constexpr int32_t EVT_LEFT_BUTTON_UP = 13112;
constexpr int32_t EVT_LEFT_DOUBLE_CLICK = 13113;
constexpr int32_t EVT_WINDOW_DEACTIVATED = 13114;
constexpr int32_t EVT_BACKGROUND_ERASED = 13115;
constexpr int32_t EVT_CLOSE_REQUEST = 13116;
constexpr int32_t EVT_WINDOW_MOVED = 13117;
constexpr int32_t EVT_WINDOW_RESIZED = 13118;

// open_window flags beyond the window styles.
constexpr int32_t WINDOW_CENTRED = 0x3;        // bits 0 and 1
constexpr int32_t WINDOW_TOOL = 0x4;           // tool window
constexpr int32_t WINDOW_NO_GADGET_LIST = 0x8; // do not become the gadget parent
constexpr int32_t WINDOW_SHOW_NO_ACTIVATE = 0x02000000;
constexpr int32_t WINDOW_HIDDEN = 0x10000000;
// A position that lets Windows choose.
constexpr int32_t DEFAULT_POSITION = -65535;

// Accelerator commands of Tab and Shift+Tab.
constexpr WORD COMMAND_NEXT_CONTROL = 64001;
constexpr WORD COMMAND_PREVIOUS_CONTROL = 64002;

struct WindowRecord {
    HWND window; // non-zero exactly while open
    ACCEL* accelerator_entries;
    HACCEL accelerator_table;
    int32_t accelerator_count;
    HBRUSH background_brush;
    uint16_t minimum_width, minimum_height, maximum_width, maximum_height; // 0: no limit
    int32_t minimized_or_maximized;
};

// The wParam and lParam of the last message wait_window_event handled.
struct WindowThreadState {
    WPARAM wparam;
    LPARAM lparam;
    WPARAM wparam_copy;
    LPARAM lparam_copy;
};

extern WindowThreadState* window_thread_state;

// The common control classes that windows and gadgets register.
extern const DWORD COMMON_CONTROL_CLASSES;

bool windows_start();
void windows_end();
// InitCommonControlsEx for the program's control classes, then COM.
void common_controls_start();

// x, y: outer position; width, height: client size. For a number the HWND,
// for ANY_OBJECT the record address (the window's number); 0 on failure.
intptr_t open_window(ObjectId n, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* title, int32_t flags, HWND owner = nullptr);
HWND window_handle(ObjectId n);
// ANY_OBJECT closes every window. 1 when a window was closed, else 0.
intptr_t close_window(ObjectId n);
// The record of an open window, else null.
WindowRecord* window_record(ObjectId n);

// A queued event code, or, when none is queued, the number of the one
// Windows message taken and dispatched.
int32_t wait_window_event();

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The gadget library's answer to a message a window offers to the gadget
// with number `gadget`: true when handled, with the result in *result.
// `control` is the gadget's window, `window` the library window offering.
using GadgetMessageOffer = bool (*)(ObjectId gadget, HWND control, HWND window, UINT message,
                                    WPARAM wParam, LPARAM lParam, LRESULT* result);
// Set by the gadget library when it starts; null: no gadget handles messages.
extern GadgetMessageOffer gadget_message_offer;

// Keyboard focus and cues.
void focus_next_control(bool forward);
void keyboard_cues(HWND window, bool show);
HACCEL window_accelerators(HWND active);
