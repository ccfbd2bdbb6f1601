#include "ui/gadget.h"

#include <commctrl.h>
#include <cstdlib>

#include "ui/alpha.h"
#include "ui/event_queue.h"
#include "ui/gadget_list.h"
#include "ui/window.h"

namespace {

intptr_t attach_gadget(ObjectId n, GadgetRecord* record, HWND control, const GadgetType* kind);
LRESULT CALLBACK gadget_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK image_gadget_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void post_gadget_event(HWND gadget, int32_t type);
void redraw_under_gadget(GadgetRecord* record, HWND gadget);
// The gadget itself or its nearest ancestor that is a library window.
HWND owning_window(HWND window);

constexpr char GADGET_ID_PROPERTY[] = "VX_ID";
constexpr ObjectId CLEANED_UP = -1;

struct GadgetLibrary {
    ObjectRegistry* registry;
    HFONT font;
};
GadgetLibrary gadgets;

// What every image gadget shares, filled by the first create_image_gadget.
struct ImageGadgetShared {
    bool ready;
    int drag_x, drag_y;
    WNDPROC static_procedure;
    bool right_double_click;
};
ImageGadgetShared image_shared;

ObjectId gadget_id(HWND hwnd) {
    return ObjectId(GetWindowLongPtrA(hwnd, GWLP_ID));
}

intptr_t release_gadget(ObjectId v) {
    if (v == ANY_OBJECT) {
        registry_release_all(gadgets.registry);
        return 1;
    }
    GadgetRecord* g = gadget_record(v);
    if (!g) return 0;
    // The record is given back by gadget_procedure at WM_NCDESTROY.
    DestroyWindow(g->window);
    return 1;
}

bool offer_message(ObjectId gadget, HWND, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                   LRESULT* result) {
    GadgetRecord* g = gadget_record(gadget);
    if (!g || !g->kind || !g->kind->message) return false;
    return g->kind->message(g, window, message, wParam, lParam, result);
}

void free_image_gadget(GadgetRecord* g) {
    if (g->image_copy) delete_alpha_copy(g->image_copy);
    g->image_copy = nullptr;
}

intptr_t image_gadget_state(GadgetRecord* g) {
    return intptr_t(SendMessageA(g->window, STM_GETIMAGE, IMAGE_BITMAP, 0));
}

void set_image_gadget_state(GadgetRecord* g, intptr_t image) {
    SendMessageA(g->window, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(image));
}

void image_gadget_size(GadgetRecord* g, int32_t* width, int32_t* height) {
    RECT r{};
    GetWindowRect(g->window, &r);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
}

constexpr GadgetType image_gadget_type = {
    IMAGE_GADGET,           nullptr,           free_image_gadget, image_gadget_state,
    set_image_gadget_state, image_gadget_size,
};

// The natural size of a bitmap or of an icon's colour bitmap.
bool image_size(HANDLE image, int* width, int* height) {
    BITMAP bm{};
    if (GetObjectType(image) == OBJ_BITMAP) {
        if (!GetObjectA(image, sizeof bm, &bm)) return false;
        *width = bm.bmWidth;
        *height = bm.bmHeight;
        return true;
    }
    ICONINFO info{};
    if (!GetIconInfo(static_cast<HICON>(image), &info)) return false;
    bool ok;
    if (info.hbmColor) {
        ok = GetObjectA(info.hbmColor, sizeof bm, &bm) != 0;
        *width = bm.bmWidth;
        *height = bm.bmHeight;
    } else {
        // A monochrome icon has only its mask: image and mask stacked.
        ok = GetObjectA(info.hbmMask, sizeof bm, &bm) != 0;
        *width = bm.bmWidth;
        *height = bm.bmHeight / 2;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return ok;
}

LRESULT set_image(GadgetRecord* g, HWND hwnd, HANDLE image) {
    g->image = image;
    if (g->image_copy) {
        delete_alpha_copy(g->image_copy);
        g->image_copy = nullptr;
    }
    if (image && has_alpha(image)) g->image_copy = premultiplied_copy(static_cast<HBITMAP>(image));
    redraw_under_gadget(g, hwnd);
    int width, height;
    if (image && image_size(image, &width, &height)) {
        // The gadget takes the image's size, plus its border.
        if ((GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) ||
            (GetWindowLongA(hwnd, GWL_STYLE) & WS_DLGFRAME)) {
            width += 4;
            height += 4;
        }
        SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
        if (!g->image_copy) {
            InvalidateRect(hwnd, nullptr, FALSE);
            UpdateWindow(hwnd);
        }
    }
    return LPARAM(image);
}

void paint(GadgetRecord* g, HDC dc) {
    if (!dc || !g->image) return;
    if (g->image_copy) {
        draw_alpha(dc, 0, 0, 0, 0, g->image_copy, 255);
        return;
    }
    UINT kind = GetObjectType(g->image) == OBJ_BITMAP ? DST_BITMAP : DST_ICON;
    DrawStateA(dc, nullptr, nullptr, LPARAM(g->image), 0, 0, 0, 0, 0, kind);
}

LRESULT call_static(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!image_shared.static_procedure) return DefWindowProcA(hwnd, message, wParam, lParam);
    return CallWindowProcA(image_shared.static_procedure, hwnd, message, wParam, lParam);
}

} // namespace

bool gadgets_start() {
    gadgets.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    gadgets.registry = registry_create(sizeof(GadgetRecord), 50, release_gadget);
    if (!gadgets.registry || !gadget_parent_start(gadgets.font)) return false;
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&icc);
    gadget_message_offer = offer_message;
    return true;
}

void gadgets_end() {
    // Gadgets go with their windows; nothing is destroyed here.
    gadget_message_offer = nullptr;
}

GadgetRecord* gadget_record(ObjectId n) {
    if (!gadgets.registry) return nullptr;
    return static_cast<GadgetRecord*>(registry_lookup(gadgets.registry, n));
}

intptr_t create_image_gadget(ObjectId n, int32_t x, int32_t y, int32_t width, int32_t height,
                             HANDLE image, int32_t flags) {
    if (!gadgets.registry || !gadget_parent_state) return 0;
    if (!image_shared.ready) {
        image_shared.drag_x = GetSystemMetrics(SM_CXDRAG);
        image_shared.drag_y = GetSystemMetrics(SM_CYDRAG);
        image_shared.ready = true;
    }
    DWORD style = WS_CHILD | WS_VISIBLE | SS_NOTIFY, ex_style = 0;
    if (flags & GADGET_CLIENT_EDGE)
        ex_style = WS_EX_CLIENTEDGE;
    else if (flags & GADGET_DIALOG_FRAME)
        style |= WS_DLGFRAME;
    HWND control = CreateWindowExA(ex_style, "STATIC", nullptr, style, x, y, width, height,
                                   gadget_parent_state->current_parent,
                                   reinterpret_cast<HMENU>(intptr_t(-1)), module_handle, nullptr);
    if (!control) return 0;
    image_shared.static_procedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(image_gadget_procedure)));
    auto* record = static_cast<GadgetRecord*>(registry_obtain(gadgets.registry, n));
    if (!record) {
        DestroyWindow(control);
        return 0;
    }
    intptr_t result = attach_gadget(n, record, control, &image_gadget_type);
    image_gadget_type.set_state(record, intptr_t(image));
    return result;
}

namespace {

intptr_t attach_gadget(ObjectId n, GadgetRecord* record, HWND control, const GadgetType* kind) {
    ObjectId id = n == ANY_OBJECT ? handle_of(record) : n;
    record->window = control;
    record->kind = kind;
    record->replaced_procedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_procedure)));
    SetWindowLongPtrA(control, GWLP_ID, LONG_PTR(id));
    SetPropA(control, GADGET_ID_PROPERTY, reinterpret_cast<HANDLE>(id));
    SendMessageA(control, WM_SETFONT, WPARAM(gadgets.font), TRUE);
    return n == ANY_OBJECT ? handle_of(record) : reinterpret_cast<intptr_t>(control);
}

LRESULT CALLBACK gadget_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ObjectId id = gadget_id(hwnd);
    GadgetRecord* g = id == CLEANED_UP ? nullptr : gadget_record(id);
    if (!g) return DefWindowProcA(hwnd, message, wParam, lParam);
    LRESULT result = CallWindowProcA(g->replaced_procedure, hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        if (g->kind && g->kind->free) g->kind->free(g);
        RemovePropA(hwnd, GADGET_ID_PROPERTY);
        SetWindowLongPtrA(hwnd, GWLP_ID, LONG_PTR(CLEANED_UP));
        discard_events(EVT_GADGET, id, -1, -1);
        registry_release(gadgets.registry, id);
    }
    return result;
}

LRESULT CALLBACK image_gadget_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ObjectId id = gadget_id(hwnd);
    GadgetRecord* g = id == CLEANED_UP ? nullptr : gadget_record(id);
    if (!g) return call_static(hwnd, message, wParam, lParam);
    switch (message) {
    case STM_SETIMAGE:
    case STM_SETICON:
        return set_image(g, hwnd, reinterpret_cast<HANDLE>(lParam));
    case STM_GETIMAGE:
    case STM_GETICON:
        return reinterpret_cast<LRESULT>(g->image);
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint(g, dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_PRINT:
    case WM_PRINTCLIENT:
        paint(g, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_MOVE:
        redraw_under_gadget(g, hwnd);
        break;
    case WM_ENABLE:
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return 0;
    case WM_LBUTTONDOWN:
        g->left_button_held = 1;
        g->press_position = lParam;
        SetCapture(hwnd);
        break;
    case WM_MOUSEMOVE:
        if (g->left_button_held) {
            int dx = std::abs(short(LOWORD(lParam)) - short(LOWORD(g->press_position)));
            int dy = std::abs(short(HIWORD(lParam)) - short(HIWORD(g->press_position)));
            if (dx > image_shared.drag_x || dy > image_shared.drag_y) {
                g->left_button_held = 0;
                ReleaseCapture();
                post_gadget_event(hwnd, GADGET_DRAG_START);
            }
        }
        break;
    case WM_LBUTTONUP:
        if (g->left_button_held) {
            g->left_button_held = 0;
            ReleaseCapture();
        }
        break;
    case WM_LBUTTONDBLCLK:
        post_gadget_event(hwnd, GADGET_LEFT_DOUBLE_CLICK);
        return 0;
    case WM_RBUTTONUP:
        if (image_shared.right_double_click)
            image_shared.right_double_click = false;
        else
            post_gadget_event(hwnd, GADGET_RIGHT_CLICK);
        return 0;
    case WM_RBUTTONDBLCLK:
        post_gadget_event(hwnd, GADGET_RIGHT_DOUBLE_CLICK);
        image_shared.right_double_click = true;
        return 0;
    }
    return call_static(hwnd, message, wParam, lParam);
}

HWND owning_window(HWND window) {
    for (HWND w = window; w; w = GetParent(w))
        if (GetPropA(w, WINDOW_ID_PROPERTY)) return w;
    return nullptr;
}

void post_gadget_event(HWND gadget, int32_t type) {
    HWND owner = owning_window(gadget);
    ObjectId window =
        owner ? reinterpret_cast<ObjectId>(GetPropA(owner, WINDOW_ID_PROPERTY)) - 1 : -1;
    post_event(EVT_GADGET, gadget_id(gadget), window, type);
}

void redraw_under_gadget(GadgetRecord* g, HWND gadget) {
    // An opaque bitmap covers its whole area: nothing shows through.
    if (GetObjectType(g->image) == OBJ_BITMAP && !g->image_copy) return;
    HWND owner = owning_window(gadget);
    if (!owner) return;
    RECT r;
    if (!GetWindowRect(gadget, &r)) return;
    ScreenToClient(owner, reinterpret_cast<POINT*>(&r.left));
    ScreenToClient(owner, reinterpret_cast<POINT*>(&r.right));
    RedrawWindow(owner, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

} // namespace
