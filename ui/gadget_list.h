// The gadget parent: the window into which new gadgets are placed, with a
// nesting stack for gadget containers. Each library window that has been a
// gadget parent carries a save block (in the property "VX_GadgetStack_%i")
// holding its parent state while another window is the parent. The state
// and the save blocks live in the main heap; a block goes with its window.
#pragma once

#include <cstdint>

#include "core/runtime.h"

struct GadgetParentState {
    HWND current_parent; // none at first
    HFONT gadget_font;
    HWND* stack; // nesting stack of gadget containers
    int32_t depth;
    int32_t capacity;
};

struct GadgetListSaveBlock {
    HWND window;
    HWND saved_parent;
    HWND* saved_stack;
    int32_t saved_depth;
    int32_t saved_capacity;
    WNDPROC replaced_procedure;
};

extern GadgetParentState* gadget_parent_state;

// Creates the state (no parent, an empty stack of 10): the gadget library's
// start does this before the first window opens. False when memory runs out.
bool gadget_parent_start(HFONT gadget_font);
// Makes `window` the current gadget parent and returns the previous one;
// `window` 0 only returns the current one.
HWND use_gadget_list(HWND window);
LRESULT CALLBACK gadget_list_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The property name "VX_GadgetStack_%i" with the module handle.
const char* gadget_list_property();
