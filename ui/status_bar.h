// Status bars: a common-controls status window along the bottom of a library
// window, divided into fields. Status bars are numbered objects; the library
// owns the records and field arrays and keeps the fields laid out by
// subclassing the parent. A bar is destroyed with its window.
#pragma once

#include <cstdint>

#include "core/runtime.h"

// A field width that takes an equal share of what the fixed fields leave.
constexpr int32_t FILL_WIDTH = -65535;
constexpr int32_t MAX_STATUS_FIELDS = 256;
constexpr UINT STATUS_BAR_ID = 0xE404040F;

// Appearance flags of set_status_text; 1 wins over 2, 4 over 8.
constexpr int32_t STATUS_RAISED = 1;
constexpr int32_t STATUS_NO_BORDER = 2;
constexpr int32_t STATUS_CENTRED = 4;
constexpr int32_t STATUS_RIGHT = 8;

struct StatusField {
    int32_t kind;  // 0: text
    int32_t width; // pixels or FILL_WIDTH
    int32_t appearance;
    int32_t progress_value, progress_minimum, progress_maximum;
    HWND progress_control;
    HANDLE image;
    HANDLE image_copy;
};

struct StatusBarRecord {
    HWND window; // the status window; non-zero while the bar exists
    StatusField* fields;
    int32_t count;
    int32_t capacity;
    int32_t parent_width, parent_height; // the parent's client size at the last layout
};

// 1 when common controls 6 or later are in use with visual styles active:
// right-aligned texts then get four trailing blanks.
extern int32_t visual_styles;

bool status_bars_start();
// For a number the status window, for ANY_OBJECT the record address; 0 on failure.
intptr_t create_status_bar(ObjectId n, HWND parent);
// Appends a field to the status bar created last.
void add_status_field(int32_t width);
// 0 when the bar does not exist or the field index is not one of its fields.
int32_t set_status_text(ObjectId n, int32_t index, const char* text, int32_t flags);
// ANY_OBJECT destroys every status bar.
intptr_t free_status_bar(ObjectId n);
void layout_status_fields(StatusBarRecord* record);
StatusBarRecord* status_bar_record(ObjectId n);
// The common controls version (major << 16 | minor), probed once.
uint32_t probe_visual_styles();
