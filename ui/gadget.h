// Gadgets: numbered child controls placed in the current gadget parent, with
// the one kind this program creates, the image gadget, which shows a bitmap
// or icon and reports mouse actions as EVT_GADGET events. A gadget is
// destroyed with its window; the image it shows stays the image library's.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "core/win32.h"

constexpr int32_t IMAGE_GADGET = 9;

// Event types of EVT_GADGET from an image gadget.
constexpr int32_t GADGET_LEFT_CLICK = 0;
constexpr int32_t GADGET_RIGHT_CLICK = 1;
constexpr int32_t GADGET_LEFT_DOUBLE_CLICK = 2;
constexpr int32_t GADGET_RIGHT_DOUBLE_CLICK = 3;
constexpr int32_t GADGET_DRAG_START = 14002;

// create_image_gadget flags.
constexpr int32_t GADGET_DIALOG_FRAME = 0x1;
constexpr int32_t GADGET_CLIENT_EDGE = 0x200;

struct GadgetRecord;

// One descriptor per gadget kind; handlers a kind does not have are null.
struct GadgetType {
    int32_t kind;
    // For messages a window offers to the gadget; false: not handled.
    bool (*message)(GadgetRecord* gadget, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                    LRESULT* result);
    void (*free)(GadgetRecord* gadget);
    intptr_t (*get_state)(GadgetRecord* gadget);
    void (*set_state)(GadgetRecord* gadget, intptr_t state);
    void (*size)(GadgetRecord* gadget, int32_t* width, int32_t* height);
};

struct GadgetRecord {
    HWND window; // the control; non-zero while the gadget exists
    const GadgetType* kind;
    WNDPROC replaced_procedure;
    HANDLE image;       // as last set with STM_SETIMAGE / STM_SETICON
    HBITMAP image_copy; // premultiplied copy when the image has alpha
    int32_t left_button_held;
    LPARAM press_position;
};

bool gadgets_start();
void gadgets_end();
GadgetRecord* gadget_record(ObjectId n);

// For a number the control's HWND, for ANY_OBJECT the record address; 0 when
// the control cannot be created.
intptr_t create_image_gadget(ObjectId n, int32_t x, int32_t y, int32_t width, int32_t height,
                             HANDLE image, int32_t flags = 0);
