#include "ui/gadget_list.h"

#include <cstdio>

#include "core/registry.h"

GadgetParentState* gadget_parent_state;

namespace {

constexpr int32_t INITIAL_STACK = 10;

HWND* new_stack() {
    return static_cast<HWND*>(heap_alloc_zeroed(sizeof(HWND) * INITIAL_STACK));
}

GadgetListSaveBlock* save_block_of(HWND window) {
    return window ? static_cast<GadgetListSaveBlock*>(GetPropA(window, gadget_list_property()))
                  : nullptr;
}

// The outermost gadget parent: the bottom of the nesting stack when
// containers are open, else the current parent.
HWND outermost_parent(const GadgetParentState* s) {
    return s->depth != 0 && s->stack ? s->stack[0] : s->current_parent;
}

} // namespace

bool gadget_parent_start(HFONT gadget_font) {
    auto* s =
        static_cast<GadgetParentState*>(state_block_create(sizeof(GadgetParentState), nullptr));
    if (!s) return false;
    s->gadget_font = gadget_font;
    s->stack = new_stack();
    s->capacity = s->stack ? INITIAL_STACK : 0;
    gadget_parent_state = s;
    return s->stack != nullptr;
}

const char* gadget_list_property() {
    static char name[40];
    if (!name[0])
        std::snprintf(name, sizeof name, "VX_GadgetStack_%lld",
                      static_cast<long long>(reinterpret_cast<intptr_t>(module_handle)));
    return name;
}

HWND use_gadget_list(HWND window) {
    GadgetParentState* s = gadget_parent_state;
    if (!s) return nullptr;
    HWND previous = outermost_parent(s);
    if (!window) return previous;

    if (GadgetListSaveBlock* saved = save_block_of(previous)) {
        saved->saved_parent = s->current_parent;
        saved->saved_stack = s->stack;
        saved->saved_depth = s->depth;
        saved->saved_capacity = s->capacity;
        s->stack = nullptr;
    }

    if (GadgetListSaveBlock* own = save_block_of(window)) {
        heap_free(s->stack);
        s->current_parent = own->saved_parent;
        s->stack = own->saved_stack;
        s->depth = own->saved_depth;
        s->capacity = own->saved_capacity;
        own->saved_stack = nullptr;
        return previous;
    }

    if (!s->stack) {
        s->stack = new_stack();
        s->capacity = s->stack ? INITIAL_STACK : 0;
    }
    s->depth = 0;
    s->current_parent = window;
    auto* block = static_cast<GadgetListSaveBlock*>(heap_alloc_zeroed(sizeof(GadgetListSaveBlock)));
    if (!block) return previous;
    block->window = window;
    SetPropA(window, gadget_list_property(), block);
    block->replaced_procedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_list_procedure)));
    return previous;
}

LRESULT CALLBACK gadget_list_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    GadgetListSaveBlock* block = save_block_of(hwnd);
    if (!block) return DefWindowProcA(hwnd, message, wParam, lParam);
    WNDPROC replaced = block->replaced_procedure;
    if (message == WM_NCDESTROY) {
        GadgetParentState* s = gadget_parent_state;
        if (s && outermost_parent(s) == hwnd) {
            s->current_parent = nullptr;
            s->depth = 0;
        }
        heap_free(block->saved_stack);
        heap_free(block);
        RemovePropA(hwnd, gadget_list_property());
    }
    return CallWindowProcA(replaced, hwnd, message, wParam, lParam);
}
