// The class procedure of every library window: the messages that matter
// become events in the event queue; messages that concern a gadget are
// first offered to the gadget library.
#include "ui/window.h"

#include "ui/event_queue.h"

namespace {

constexpr char FOCUS_PROPERTY[] = "VX_Focus";
constexpr char GADGET_ID_PROPERTY[] = "VX_ID";
constexpr UINT GADGET_NOTIFY_MESSAGE = 0x3340;

// The library window that hwnd is or lies in, with its number; the number
// is -1 when there is none (as while the window is being created).
struct FoundWindow {
    HWND window = nullptr;
    ObjectId number = -1;
    WindowRecord* record = nullptr;
};

FoundWindow find_window(HWND hwnd) {
    FoundWindow found;
    for (HWND w = hwnd; w; w = GetParent(w)) {
        if (HANDLE id = GetPropA(w, WINDOW_ID_PROPERTY)) {
            found.window = w;
            found.number = reinterpret_cast<ObjectId>(id) - 1;
            found.record = window_record(found.number);
            break;
        }
    }
    return found;
}

// True when the gadget whose window is `control` handled the message.
bool offer_to_gadget(HWND control, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                     LRESULT* result) {
    if (!control || !gadget_message_offer) return false;
    auto number = reinterpret_cast<ObjectId>(GetPropA(control, GADGET_ID_PROPERTY));
    if (number != GetWindowLongA(control, GWL_ID)) return false;
    return gadget_message_offer(number, control, hwnd, message, wParam, lParam, result);
}

void post(int32_t code, ObjectId object, ObjectId window) {
    post_event(code, object, window, 0);
}

void on_command(const FoundWindow& f, WPARAM wParam, LPARAM lParam) {
    if (lParam) {
        auto control = reinterpret_cast<HWND>(lParam);
        post_event(EVT_GADGET, GetWindowLongA(control, GWL_ID), f.number, HIWORD(wParam));
    } else if (wParam <= 0xFFFF) {
        post(EVT_COMMAND, ObjectId(wParam), f.number);
    } else if (LOWORD(wParam) == COMMAND_NEXT_CONTROL) {
        focus_next_control(true);
    } else if (LOWORD(wParam) == COMMAND_PREVIOUS_CONTROL) {
        focus_next_control(false);
    } else {
        post(EVT_COMMAND, LOWORD(wParam), f.number);
    }
}

void on_size(const FoundWindow& f, WPARAM kind) {
    WindowRecord* r = f.record;
    switch (kind) {
    case SIZE_RESTORED:
        if (r && r->minimized_or_maximized) {
            r->minimized_or_maximized = 0;
            post(EVT_WINDOW_RESTORED, 0, f.number);
        }
        post(EVT_WINDOW_RESIZED, 0, f.number);
        break;
    case SIZE_MINIMIZED:
        if (r) r->minimized_or_maximized = 1;
        post(EVT_WINDOW_MINIMIZED, 0, f.number);
        break;
    case SIZE_MAXIMIZED:
        if (r) r->minimized_or_maximized = 1;
        post(EVT_WINDOW_MAXIMIZED, 0, f.number);
        post(EVT_WINDOW_RESIZED, 0, f.number);
        break;
    default:
        post(EVT_WINDOW_RESIZED, 0, f.number);
    }
}

void on_activate(HWND hwnd, const FoundWindow& f, WPARAM wParam) {
    if (LOWORD(wParam)) {
        if (auto focus = static_cast<HWND>(GetPropA(hwnd, FOCUS_PROPERTY))) SetFocus(focus);
        post(EVT_WINDOW_ACTIVATED, 0, f.number);
    } else {
        SetPropA(hwnd, FOCUS_PROPERTY, GetFocus());
        keyboard_cues(hwnd, false);
        post(EVT_WINDOW_DEACTIVATED, 0, f.number);
    }
}

void on_min_max_info(HWND hwnd, const WindowRecord* r, MINMAXINFO* info) {
    if (r->minimum_width)
        info->ptMinTrackSize.x = r->minimum_width;
    else if (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)
        info->ptMinTrackSize.x = 1;
    if (r->minimum_height) info->ptMinTrackSize.y = r->minimum_height;
    if (r->maximum_width) info->ptMaxTrackSize.x = r->maximum_width;
    if (r->maximum_height) info->ptMaxTrackSize.y = r->maximum_height;
}

BOOL CALLBACK send_sys_color_change(HWND child, LPARAM) {
    SendMessageA(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

// The result of one message; `handled` false sends it to DefWindowProcA.
LRESULT dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    const FoundWindow f = find_window(hwnd);
    const bool own = f.record && f.record->window == hwnd;
    LRESULT result = 0;
    handled = true;
    switch (message) {
    case WM_CLOSE:
        if (own) post(EVT_CLOSE_REQUEST, f.number, f.number);
        return 0;
    case WM_MOVE:
        if (own) post(EVT_WINDOW_MOVED, f.number, f.number);
        return 0;
    case WM_SIZE:
        if (f.window != hwnd) return 1;
        on_size(f, wParam);
        return 0;
    case WM_ACTIVATE:
        on_activate(hwnd, f, wParam);
        return 1;
    case WM_ERASEBKGND:
        post(EVT_BACKGROUND_ERASED, 0, f.number);
        if (f.record && f.record->background_brush) {
            RECT client;
            GetClientRect(hwnd, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, f.record->background_brush);
            return 1;
        }
        break;
    case WM_SYSCOLORCHANGE:
        if (f.record) EnumChildWindows(hwnd, send_sys_color_change, 0);
        break;
    case WM_GETMINMAXINFO:
        if (!f.record) break;
        on_min_max_info(hwnd, f.record, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_COMMAND:
        if (!offer_to_gadget(reinterpret_cast<HWND>(lParam), hwnd, message, wParam, lParam,
                             &result))
            on_command(f, wParam, lParam);
        return 0;
    case WM_NOTIFY:
        if (lParam && offer_to_gadget(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, hwnd, message,
                                      wParam, lParam, &result))
            return result;
        break;
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case GADGET_NOTIFY_MESSAGE:
        if (offer_to_gadget(reinterpret_cast<HWND>(lParam), hwnd, message, wParam, lParam, &result))
            return result;
        break;
    case WM_TIMER:
        if (!f.record) break;
        post(EVT_TIMER, ObjectId(wParam), f.number);
        return 0;
    case WM_LBUTTONUP:
        post(EVT_LEFT_BUTTON_UP, 0, f.number);
        return 0;
    case WM_LBUTTONDBLCLK:
        post(EVT_LEFT_DOUBLE_CLICK, 0, f.number);
        return 0;
    case WM_RBUTTONUP:
        post(EVT_RIGHT_BUTTON_UP, 0, f.number);
        return 0;
    case WM_NCDESTROY:
        RemovePropA(hwnd, FOCUS_PROPERTY);
        return 1;
    }
    handled = false;
    return 0;
}

} // namespace

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    bool handled;
    LRESULT result = dispatch(hwnd, message, wParam, lParam, handled);
    if (!handled) result = DefWindowProcA(hwnd, message, wParam, lParam);
    SetLastError(0);
    return result;
}
