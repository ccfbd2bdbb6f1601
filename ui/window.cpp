#include "ui/window.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>

#include "core/registry.h"
#include "ui/event_queue.h"
#include "ui/gadget_list.h"

WindowThreadState* window_thread_state;
const DWORD COMMON_CONTROL_CLASSES = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                     ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;

namespace {

// Flags of open_window that are no window styles.
constexpr uint32_t OPEN_ONLY_FLAGS = WINDOW_CENTRED | WINDOW_TOOL;

ObjectRegistry* windows;
HICON program_icon;
HCURSOR arrow_cursor;

struct ClassName {
    char text[48];
    explicit ClassName(ObjectId n) {
        std::snprintf(text, sizeof text, "WindowClass_%lld", static_cast<long long>(n));
    }
};

void register_window_class(const char* name) {
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = module_handle;
    wc.hIcon = program_icon;
    wc.hCursor = arrow_cursor;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassA(&wc); // may exist already: CreateWindowExA tells
}

// Centres the outer rectangle on the owner, or on the work area without one.
void centre_window(HWND window, HWND owner) {
    RECT area, own;
    if (owner)
        GetWindowRect(owner, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window, &own);
    int w = own.right - own.left, h = own.bottom - own.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - w) / 2,
                 area.top + (area.bottom - area.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int show_command(DWORD style, bool no_activate) {
    if (style & WS_MAXIMIZE) return no_activate ? SW_SHOWNA : SW_SHOWMAXIMIZED;
    if (style & WS_MINIMIZE) return no_activate ? SW_SHOWMINNOACTIVE : SW_SHOWMINIMIZED;
    return no_activate ? SW_SHOWNOACTIVATE : SW_SHOWNORMAL;
}

bool make_accelerators(WindowRecord* r) {
    auto* entries = static_cast<ACCEL*>(heap_alloc_zeroed(sizeof(ACCEL) * 2));
    if (!entries) return false;
    entries[0] = ACCEL{FVIRTKEY | FNOINVERT, VK_TAB, COMMAND_NEXT_CONTROL};
    entries[1] = ACCEL{FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, COMMAND_PREVIOUS_CONTROL};
    r->accelerator_entries = entries;
    r->accelerator_count = 2;
    r->accelerator_table = CreateAcceleratorTableA(entries, 2);
    return true;
}

} // namespace

GadgetMessageOffer gadget_message_offer;

bool windows_start() {
    windows = registry_create(sizeof(WindowRecord), 16, close_window);
    window_thread_state =
        static_cast<WindowThreadState*>(state_block_create(sizeof(WindowThreadState), nullptr));
    program_icon = LoadIconA(module_handle, MAKEINTRESOURCEA(1));
    arrow_cursor = LoadCursorA(nullptr, IDC_ARROW);
    return windows && window_thread_state;
}

void windows_end() {
    if (windows) registry_release_all(windows);
}

void common_controls_start() {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&icc);
    CoInitialize(nullptr);
}

WindowRecord* window_record(ObjectId n) {
    return windows ? static_cast<WindowRecord*>(registry_lookup(windows, n)) : nullptr;
}

intptr_t open_window(ObjectId n, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* title, int32_t flags, HWND owner) {
    if (!windows) return 0;
    auto* r = static_cast<WindowRecord*>(registry_obtain(windows, n));
    if (!r) return 0;
    const bool dynamic = n == ANY_OBJECT;
    if (dynamic) n = handle_of(r);
    ClassName class_name(n);
    register_window_class(class_name.text);

    uint32_t style = uint32_t(flags);
    const bool gadget_parent = !(style & WINDOW_NO_GADGET_LIST);
    style &= ~uint32_t(WINDOW_NO_GADGET_LIST);
    if ((style & ~uint32_t(WINDOW_HIDDEN | WINDOW_CENTRED)) == 0) style |= WS_CAPTION;
    const bool hidden = style & WINDOW_HIDDEN;
    style &= ~uint32_t(WINDOW_HIDDEN);
    const bool no_activate = style & WINDOW_SHOW_NO_ACTIVATE;
    DWORD ex_style = 0;
    if (style & WINDOW_TOOL) {
        style &= ~uint32_t(WS_MINIMIZE | WS_MAXIMIZE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
        style |= WS_CAPTION;
        ex_style = WS_EX_TOOLWINDOW;
    }

    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, style & ~OPEN_ONLY_FLAGS, FALSE, ex_style);
    if (x == DEFAULT_POSITION || (y == DEFAULT_POSITION && !(flags & WINDOW_CENTRED)))
        x = y = CW_USEDEFAULT;

    HWND hwnd = CreateWindowExA(ex_style, class_name.text, title ? title : "",
                                style & ~(OPEN_ONLY_FLAGS | WINDOW_SHOW_NO_ACTIVATE), x, y,
                                outer.right - outer.left, outer.bottom - outer.top, owner, nullptr,
                                module_handle, nullptr);
    if (!hwnd) {
        UnregisterClassA(class_name.text, module_handle);
        registry_release(windows, n);
        return 0;
    }
    r->window = hwnd;
    if (flags & WINDOW_CENTRED) centre_window(hwnd, owner);
    if (!hidden) ShowWindow(hwnd, show_command(style, no_activate));
    r->minimized_or_maximized = (style & (WS_MINIMIZE | WS_MAXIMIZE)) ? 1 : 0;
    make_accelerators(r);
    if (gadget_parent) use_gadget_list(hwnd);
    // Last: messages during creation and showing find no window number.
    SetPropA(hwnd, WINDOW_ID_PROPERTY, reinterpret_cast<HANDLE>(n + 1));
    return dynamic ? n : reinterpret_cast<intptr_t>(hwnd);
}

HWND window_handle(ObjectId n) {
    WindowRecord* r = window_record(n);
    return r ? r->window : nullptr;
}

intptr_t close_window(ObjectId n) {
    if (!windows) return 0;
    if (n == ANY_OBJECT) {
        registry_release_all(windows);
        return 1;
    }
    WindowRecord* r = window_record(n);
    if (!r) return 0;
    if (HWND owner = GetWindow(r->window, GW_OWNER)) SetActiveWindow(owner);
    RemovePropA(r->window, WINDOW_ID_PROPERTY);
    DestroyWindow(r->window);
    UnregisterClassA(ClassName(n).text, module_handle);
    heap_free(r->accelerator_entries);
    if (r->accelerator_table) DestroyAcceleratorTable(r->accelerator_table);
    if (r->background_brush) DeleteObject(r->background_brush);
    discard_window_events(n);
    registry_release(windows, n);
    return 1;
}
