#include "ui/status_bar.h"

#include <commctrl.h>

#include <climits>
#include <cstring>

#include "core/registry.h"
#include "ui/event_queue.h"
#include "ui/wide_text.h"

int32_t visual_styles;

namespace {

// Version 6.0 of the common controls (major in the high word) is the first
// that draws visual styles.
constexpr DWORD COMCTL_VERSION_6 = 6 << 16;

constexpr char ID_PROPERTY[] = "vx_statusbar_id";
constexpr char CALLBACK_PROPERTY[] = "vx_statusbar_callback";
constexpr int32_t FIELD_GROWTH = 8;
constexpr int32_t LOCAL_EDGES = 32;
constexpr int MIN_HEIGHT = 18;

struct LibraryState {
    StatusBarRecord* current; // the bar created last
};

ObjectRegistry* status_bars;
LibraryState* state;
uint32_t comctl_version;

// What DllGetVersion fills; cbSize 20.
struct VersionInfo {
    DWORD size, major, minor, build, platform;
};

LRESULT CALLBACK status_parent_procedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK status_bar_procedure(HWND, UINT, WPARAM, LPARAM);

// The replaced procedure, as kept in a property.
HANDLE subclass(HWND window, WNDPROC procedure) {
    return reinterpret_cast<HANDLE>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
}

LRESULT pass_on(HWND window, UINT message, WPARAM wParam, LPARAM lParam, HANDLE replaced) {
    if (!replaced) return DefWindowProcA(window, message, wParam, lParam);
    return CallWindowProcA(reinterpret_cast<WNDPROC>(replaced), window, message, wParam, lParam);
}

ObjectId number_of(HWND parent) {
    return reinterpret_cast<ObjectId>(GetPropA(parent, ID_PROPERTY)) - 1;
}

// The bar whose status window is `window`: the parent names its newest bar;
// an older bar of the same parent is found by its window.
ObjectId find_bar(HWND window) {
    ObjectId n = number_of(GetParent(window));
    StatusBarRecord* r = status_bar_record(n);
    if (r && r->window == window) return n;
    ObjectId id;
    for (void* rec = registry_first(status_bars, &id); rec; rec = registry_next(status_bars, &id))
        if (static_cast<StatusBarRecord*>(rec)->window == window) return id;
    return -1;
}

LRESULT CALLBACK status_parent_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    HANDLE replaced = GetPropA(hwnd, CALLBACK_PROPERTY);
    if (message == WM_SIZE && (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED)) {
        if (StatusBarRecord* r = status_bar_record(number_of(hwnd))) {
            RECT client;
            GetClientRect(GetParent(r->window), &client);
            if (client.right != r->parent_width || client.bottom != r->parent_height) {
                SendMessageA(r->window, WM_SIZE, 0, 0);
                layout_status_fields(r);
                InvalidateRect(r->window, nullptr, FALSE);
                r->parent_width = client.right;
                r->parent_height = client.bottom;
            }
        }
    } else if (message == WM_NCDESTROY) {
        RemovePropA(hwnd, CALLBACK_PROPERTY);
    }
    return pass_on(hwnd, message, wParam, lParam, replaced);
}

LRESULT CALLBACK status_bar_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    HANDLE replaced = GetPropA(hwnd, CALLBACK_PROPERTY);
    if (message == WM_NCDESTROY) {
        ObjectId n = find_bar(hwnd);
        if (StatusBarRecord* r = status_bar_record(n)) {
            HWND parent = GetParent(hwnd);
            RemovePropA(hwnd, CALLBACK_PROPERTY);
            if (number_of(parent) == n) RemovePropA(parent, ID_PROPERTY);
            heap_free(r->fields);
            // A dynamic bar's record goes with it: never keep it as current.
            if (state && state->current == r && n == handle_of(r)) state->current = nullptr;
            registry_release(status_bars, n);
        }
    }
    return pass_on(hwnd, message, wParam, lParam, replaced);
}

} // namespace

bool status_bars_start() {
    status_bars = registry_create(sizeof(StatusBarRecord), 16, free_status_bar);
    state = static_cast<LibraryState*>(state_block_create(sizeof(LibraryState), nullptr));
    return status_bars && state;
}

StatusBarRecord* status_bar_record(ObjectId n) {
    return status_bars ? static_cast<StatusBarRecord*>(registry_lookup(status_bars, n)) : nullptr;
}

uint32_t probe_visual_styles() {
    if (comctl_version) return comctl_version;
    if (HMODULE comctl = LoadLibraryA("COMCTL32.DLL")) {
        using GetVersion = HRESULT(WINAPI*)(VersionInfo*);
        auto get_version = reinterpret_cast<GetVersion>(
            reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
        if (get_version) {
            VersionInfo info{};
            info.size = sizeof info;
            if (get_version(&info) >= 0)
                comctl_version = (info.major & 0xFFFF) << 16 | (info.minor & 0xFFFF);
        } else {
            comctl_version = 1;
        }
        FreeLibrary(comctl);
    }
    if (HMODULE uxtheme = LoadLibraryA("uxtheme.dll")) { // stays loaded
        using IsThemed = BOOL(WINAPI*)();
        auto is_themed = reinterpret_cast<IsThemed>(
            reinterpret_cast<void*>(GetProcAddress(uxtheme, "IsAppThemed")));
        if (is_themed) visual_styles = is_themed() && comctl_version >= COMCTL_VERSION_6 ? 1 : 0;
    }
    return comctl_version;
}

intptr_t create_status_bar(ObjectId n, HWND parent) {
    probe_visual_styles();
    if (!status_bars) return 0;
    auto* r = static_cast<StatusBarRecord*>(registry_obtain(status_bars, n));
    if (!r) return 0;
    const bool dynamic = n == ANY_OBJECT;
    if (dynamic) n = handle_of(r);
    auto* fields = static_cast<StatusField*>(heap_alloc_zeroed(sizeof(StatusField) * FIELD_GROWTH));
    HWND window = fields
                      ? CreateStatusWindowA(WS_CHILD | WS_VISIBLE, nullptr, parent, STATUS_BAR_ID)
                      : nullptr;
    if (!window) {
        heap_free(fields);
        registry_release(status_bars, n);
        return 0;
    }
    *r = StatusBarRecord{window, fields, 0, FIELD_GROWTH, 0, 0};

    if (!GetPropA(parent, CALLBACK_PROPERTY))
        SetPropA(parent, CALLBACK_PROPERTY, subclass(parent, status_parent_procedure));
    SetPropA(parent, ID_PROPERTY, reinterpret_cast<HANDLE>(n + 1));
    SetPropA(window, CALLBACK_PROPERTY, subclass(window, status_bar_procedure));

    SendMessageA(window, SB_SETMINHEIGHT, MIN_HEIGHT, 0);
    SendMessageA(window, WM_SIZE, 0, 0);
    state->current = r;

    // Lay the bar out now, without leaving a size event behind.
    RECT client;
    GetClientRect(parent, &client);
    suspend_events();
    SendMessageA(parent, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    resume_events();
    return dynamic ? n : reinterpret_cast<intptr_t>(window);
}

void add_status_field(int32_t width) {
    StatusBarRecord* r = state ? state->current : nullptr;
    if (!record_live(r) || r->count >= MAX_STATUS_FIELDS) return;
    if (r->count >= r->capacity) {
        void* grown = HeapReAlloc(main_heap, HEAP_ZERO_MEMORY, r->fields,
                                  sizeof(StatusField) * (r->capacity + FIELD_GROWTH));
        if (!grown) return;
        r->fields = static_cast<StatusField*>(grown);
        r->capacity += FIELD_GROWTH;
    }
    StatusField& f = r->fields[r->count];
    f = StatusField{};
    f.width = width;
    f.progress_maximum = 100;
    r->count++;
    layout_status_fields(r);
}

void layout_status_fields(StatusBarRecord* r) {
    if (!record_live(r)) return;
    int local[LOCAL_EDGES];
    int* edges = local;
    if (r->count > LOCAL_EDGES) {
        edges = static_cast<int*>(heap_alloc(sizeof(int) * r->count));
        if (!edges) return;
    }
    RECT rect;
    GetClientRect(r->window, &rect);
    HWND parent = GetParent(r->window);
    if (parent && !IsZoomed(parent) && (GetWindowLongA(parent, GWL_STYLE) & WS_THICKFRAME))
        rect.right = rect.right - rect.bottom + 3; // room for the size grip

    // Sums in 64 bits: any widths give edges clamped to the int range.
    int64_t fixed = 0, fills = 0, share = 0;
    for (int32_t i = 0; i < r->count; i++) {
        if (r->fields[i].width == FILL_WIDTH)
            fills++;
        else
            fixed += r->fields[i].width;
    }
    if (fills) share = (int64_t(rect.right) - rect.left - fixed) / fills;
    int64_t edge = 0;
    for (int32_t i = 0; i < r->count; i++) {
        edge += r->fields[i].width == FILL_WIDTH ? share : r->fields[i].width;
        edges[i] = int(edge < INT_MIN ? INT_MIN : edge > INT_MAX ? INT_MAX : edge);
    }
    SendMessageA(r->window, SB_SETPARTS, WPARAM(r->count), reinterpret_cast<LPARAM>(edges));
    if (edges != local) heap_free(edges);
}

int32_t set_status_text(ObjectId n, int32_t index, const char* text, int32_t flags) {
    StatusBarRecord* r = status_bar_record(n);
    if (!r || index < 0 || index >= r->count) return 0;
    StatusField& f = r->fields[index];
    f.kind = 0;
    f.appearance = flags;
    if (!text) text = "";

    WPARAM wparam = WPARAM(index);
    if (flags & STATUS_RAISED)
        wparam |= SBT_POPOUT;
    else if (flags & STATUS_NO_BORDER)
        wparam |= SBT_NOBORDERS;

    const size_t length = std::strlen(text);
    char* block = nullptr;
    if (flags & STATUS_CENTRED) {
        block = static_cast<char*>(heap_alloc(length + 2));
        if (!block) return 0;
        block[0] = '\t';
        std::memcpy(block + 1, text, length + 1);
    } else if (flags & STATUS_RIGHT) {
        block = static_cast<char*>(heap_alloc(length + 7));
        if (!block) return 0;
        block[0] = block[1] = '\t';
        std::memcpy(block + 2, text, length);
        std::strcpy(block + 2 + length, visual_styles ? "    " : "");
    }
    // The control gets UTF-16, so the Windows-1251 text reads right whatever
    // the system's ANSI code page.
    wchar_t* wide = widen_text(block ? block : text);
    heap_free(block);
    if (!wide) return 0;
    SendMessageW(r->window, SB_SETTEXTW, wparam, reinterpret_cast<LPARAM>(wide));
    heap_free(wide);

    if (wparam & SBT_NOBORDERS) {
        RECT field;
        if (SendMessageA(r->window, SB_GETRECT, WPARAM(index), reinterpret_cast<LPARAM>(&field)))
            InvalidateRect(r->window, &field, TRUE);
    }
    return 1;
}

intptr_t free_status_bar(ObjectId n) {
    if (!status_bars) return 0;
    if (n == ANY_OBJECT) {
        registry_release_all(status_bars);
        return 1;
    }
    StatusBarRecord* r = status_bar_record(n);
    return r ? DestroyWindow(r->window) : 0;
}
