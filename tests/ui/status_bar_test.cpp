// Status bars on real windows under Wine: creation without a size event,
// the field layout read back with SB_GETPARTS, texts read back with
// SB_GETTEXTW, layout only on real size changes, and clean-up with the window.
#include <string>

#include "app/status_text.h"
#include "core/registry.h"
#include "tests/ui/ui_fixture.h"

#include <commctrl.h>
#include "ui/status_bar.h"

namespace {

using kt::Event;
using kt::queued_events;

constexpr int32_t PROGRAM_FLAGS = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;

struct StatusBarTest : kt::UiTest {
    HWND parent = nullptr;
    HWND bar = nullptr;
    void open_with_bar(int32_t flags = PROGRAM_FLAGS) {
        parent = reinterpret_cast<HWND>(open_window(0, 150, 150, 330, 120, "Kestrin", flags));
        ASSERT_NE(parent, nullptr);
        bar = reinterpret_cast<HWND>(create_status_bar(2, parent));
        ASSERT_NE(bar, nullptr);
    }
};

std::vector<int> parts(HWND bar) {
    int edges[300];
    LRESULT n = SendMessageA(bar, SB_GETPARTS, 300, LPARAM(edges));
    return std::vector<int>(edges, edges + n);
}

// The text of a field as the control holds it, in UTF-16, and its drawing
// type (SBT_ flags).
std::pair<std::wstring, int> text_of(HWND bar, int index) {
    wchar_t buffer[512] = {};
    LRESULT r = SendMessageW(bar, SB_GETTEXTW, index, LPARAM(buffer));
    return {std::wstring(buffer, LOWORD(r)), HIWORD(r)};
}

TEST_F(StatusBarTest, CreationDocksTheBarAndQueuesNoSizeEvent) {
    parent = reinterpret_cast<HWND>(open_window(0, 150, 150, 330, 120, "Kestrin", PROGRAM_FLAGS));
    queued_events();
    bar = reinterpret_cast<HWND>(create_status_bar(2, parent));
    ASSERT_NE(bar, nullptr);
    std::vector<Event> events = queued_events();
    EXPECT_TRUE(kt::codes_among(events, {EVT_WINDOW_RESIZED, EVT_WINDOW_RESTORED}).empty());
    EXPECT_EQ(event_queue->suspension_count, 0);

    char name[64] = {};
    GetClassNameA(bar, name, sizeof name);
    EXPECT_STREQ(name, STATUSCLASSNAMEA);
    EXPECT_EQ(GetParent(bar), parent);
    EXPECT_EQ(UINT(GetWindowLongA(bar, GWL_ID)), STATUS_BAR_ID);
    EXPECT_EQ(GetWindowLongA(bar, GWL_STYLE) & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(GetPropA(parent, "vx_statusbar_id"), reinterpret_cast<HANDLE>(3));
    EXPECT_NE(GetPropA(parent, "vx_statusbar_callback"), nullptr);
    EXPECT_NE(GetPropA(bar, "vx_statusbar_callback"), nullptr);

    // Along the bottom of the client area, at least 18 pixels for the fields.
    RECT client, own;
    GetClientRect(parent, &client);
    GetWindowRect(bar, &own);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&own), 2);
    EXPECT_EQ(own.bottom, client.bottom);
    EXPECT_EQ(own.left, 0);
    EXPECT_EQ(own.right, 330);
    EXPECT_GE(own.bottom - own.top, 18);
    StatusBarRecord* r = status_bar_record(2);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->window, bar);
    EXPECT_EQ(r->capacity, 8);
    EXPECT_EQ(r->count, 0);
    EXPECT_EQ(r->parent_width, 330);
    EXPECT_EQ(r->parent_height, 120);
}

TEST_F(StatusBarTest, ProgramsFieldOf350ReachesPastTheBar) {
    open_with_bar();
    add_status_field(350);
    EXPECT_EQ(parts(bar), std::vector<int>{350});
    StatusField& f = status_bar_record(2)->fields[0];
    EXPECT_EQ(f.width, 350);
    EXPECT_EQ(f.progress_minimum, 0);
    EXPECT_EQ(f.progress_maximum, 100);
    // Whatever the window's size.
    SetWindowPos(parent, nullptr, 0, 0, 600, 300, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(parts(bar), std::vector<int>{350});
}

struct LayoutCase {
    const char* name;
    int32_t flags;
    bool maximize;
    std::vector<int32_t> widths;
    // Expected edges from the bar's client width w and height h.
    std::vector<int> (*edges)(int w, int h);
};

const LayoutCase LAYOUT_CASES[] = {
    {"fill beside 100 in a sizable window leaves room for the grip",
     PROGRAM_FLAGS,
     false,
     {100, FILL_WIDTH},
     [](int w, int h) {
         return std::vector<int>{100, w - h + 3};
     }},
    {"two fills share equally",
     PROGRAM_FLAGS,
     false,
     {FILL_WIDTH, 50, FILL_WIDTH},
     [](int w, int h) {
         int share = (w - h + 3 - 50) / 2;
         return std::vector<int>{share, share + 50, 2 * share + 50};
     }},
    {"no grip without a sizing border",
     0x00C80000,
     false,
     {100, FILL_WIDTH},
     [](int w, int) {
         return std::vector<int>{100, w};
     }},
    {"no grip when maximized",
     PROGRAM_FLAGS | WS_MAXIMIZEBOX,
     true,
     {100, FILL_WIDTH},
     [](int w, int) {
         return std::vector<int>{100, w};
     }},
    {"a negative share is kept",
     PROGRAM_FLAGS,
     false,
     {1000, FILL_WIDTH},
     [](int w, int h) {
         return std::vector<int>{1000, 1000 + (w - h + 3 - 1000)};
     }},
};

TEST_F(StatusBarTest, FillWidthFieldsShareWhatTheFixedFieldsLeave) {
    for (const LayoutCase& c : LAYOUT_CASES) {
        SCOPED_TRACE(c.name);
        open_with_bar(c.flags);
        if (c.maximize) ShowWindow(parent, SW_MAXIMIZE);
        for (int32_t w : c.widths)
            add_status_field(w);
        RECT rect;
        GetClientRect(bar, &rect);
        EXPECT_EQ(parts(bar), c.edges(rect.right, rect.bottom));
        close_window(0);
    }
}

// The bar of 330 x 22 of a sizable, non-maximized window. Wine's control is
// 20 pixels high with a minimum height of 18 (Windows: 22), so the bar is
// given that geometry itself and the layout run on it.
TEST_F(StatusBarTest, ExampleBarOf330x22GivesEdges100And311) {
    open_with_bar();
    add_status_field(100);
    add_status_field(FILL_WIDTH);
    SetWindowLongA(bar, GWL_STYLE, GetWindowLongA(bar, GWL_STYLE) | CCS_NORESIZE);
    SetWindowPos(bar, nullptr, 0, 98, 330, 22, SWP_NOZORDER);
    RECT rect;
    GetClientRect(bar, &rect);
    ASSERT_EQ(rect.right, 330);
    ASSERT_EQ(rect.bottom, 22);
    layout_status_fields(status_bar_record(2));
    EXPECT_EQ(parts(bar), (std::vector<int>{100, 311}));
}

struct TextCase {
    const char* name;
    const char* text;
    int32_t flags;
    int32_t visual_styles;
    std::wstring shown;
    int type;
};

const TextCase TEXT_CASES[] = {
    {"left-aligned as given", "abc", 0, 0, L"abc", 0},
    {"centred after one TAB", "abc", 4, 0, L"\tabc", 0},
    {"right-aligned after two TABs", "abc", 8, 0, L"\t\tabc", 0},
    {"right-aligned with visual styles adds four blanks", "abc", 8, 1, L"\t\tabc    ", 0},
    {"centring wins over right", "abc", 12, 0, L"\tabc", 0},
    {"raised border", "abc", 1, 0, L"abc", SBT_POPOUT},
    {"no border", "abc", 2, 0, L"abc", SBT_NOBORDERS},
    {"raised wins over no border", "abc", 3, 0, L"abc", SBT_POPOUT},
    {"null text is empty", nullptr, 0, 0, L"", 0},
    {"null text centred is one TAB", nullptr, 4, 0, L"\t", 0},
};

TEST_F(StatusBarTest, AppearanceFlagsShapeTheTextAndBorder) {
    open_with_bar();
    add_status_field(100);
    add_status_field(350);
    const int32_t probed = visual_styles;
    for (const TextCase& c : TEXT_CASES) {
        SCOPED_TRACE(c.name);
        visual_styles = c.visual_styles;
        const size_t blocks = kt::heap_counts().live;
        EXPECT_EQ(set_status_text(2, 1, c.text, c.flags), 1);
        EXPECT_EQ(kt::heap_counts().live, blocks) << "no block kept";
        auto [shown, type] = text_of(bar, 1);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(status_bar_record(2)->fields[1].appearance, c.flags);
    }
    visual_styles = probed;
    EXPECT_EQ(text_of(bar, 0).first, L"") << "the other field is untouched";
}

// The program's Windows-1251 texts read as the Russian words under every
// ANSI code page (the test runs under ru_RU.CP1251 and C.UTF-8).
TEST_F(StatusBarTest, ProgramsStatusTextsReadAsRussianWhateverTheCodePage) {
    SCOPED_TRACE("ANSI code page " + std::to_string(GetACP()));
    open_with_bar();
    add_status_field(350);
    const std::pair<const char*, std::wstring> cases[] = {
        {STATUS_WRITTEN, L"\tФайл  *norad_M2.txt* загружен"},
        {STATUS_NOT_UPDATED, L"\tФайл  *norad_M2.txt* не обновлён"},
        {"\xC0\xFF\xA8\xB8\xB9", L"\tАяЁё№"}, // the alphabet's ends, Ё, ё and №
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(set_status_text(2, 0, text, 4), 1);
        auto [shown, type] = text_of(bar, 0);
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(type, 0) << "the control's default sunken border";
    }
}

TEST_F(StatusBarTest, TextForAMissingBarOrFieldIsRefused) {
    open_with_bar();
    add_status_field(100);
    EXPECT_EQ(set_status_text(7, 0, "x", 0), 0);
    EXPECT_EQ(set_status_text(2, 1, "x", 0), 0) << "only one field";
    EXPECT_EQ(set_status_text(2, -1, "x", 0), 0);
    EXPECT_EQ(set_status_text(2, 300, "x", 0), 0);
    EXPECT_EQ(set_status_text(2, 0, "kept", 0), 1);
    for (int32_t flags : {0, int32_t(STATUS_CENTRED)}) {
        kt::MainHeapFull full;
        EXPECT_EQ(set_status_text(2, 0, "x", flags), 0) << "no memory for the text";
    }
    EXPECT_EQ(text_of(bar, 0).first, L"kept");
}

// Counts what reaches the status window.
int setparts_seen, size_seen;
WNDPROC bar_replaced;
LRESULT CALLBACK counting_procedure(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == SB_SETPARTS) setparts_seen++;
    if (m == WM_SIZE && l == 0) size_seen++; // the library's re-dock, not the system's
    return CallWindowProcA(bar_replaced, h, m, w, l);
}

TEST_F(StatusBarTest, LayoutRunsOnlyWhenTheSizeReallyChanged) {
    open_with_bar();
    add_status_field(100);
    add_status_field(FILL_WIDTH);
    SetForegroundWindow(parent);
    kt::take_events();
    bar_replaced = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar, GWLP_WNDPROC, LONG_PTR(counting_procedure)));
    auto counts = [] {
        std::pair<int, int> c{setparts_seen, size_seen};
        setparts_seen = size_seen = 0;
        return c;
    };
    counts();
    SendMessageA(parent, WM_SIZE, SIZE_RESTORED, MAKELPARAM(330, 120));
    EXPECT_EQ(counts(), std::make_pair(0, 0)) << "same size: nothing";

    SetWindowPos(parent, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(counts(), std::make_pair(1, 1)) << "new size: re-dock and lay out once";
    RECT rect;
    GetClientRect(bar, &rect);
    EXPECT_EQ(parts(bar), (std::vector<int>{100, rect.right - rect.bottom + 3}));

    ShowWindow(parent, SW_MINIMIZE);
    EXPECT_EQ(counts().first, 0) << "minimizing lays nothing out";
    ShowWindow(parent, SW_RESTORE);
    EXPECT_EQ(counts().first, 0) << "restored to the size of the last layout";
    ShowWindow(parent, SW_MAXIMIZE);
    EXPECT_EQ(counts(), std::make_pair(1, 1)) << "maximized: re-dock and lay out";
    GetClientRect(bar, &rect);
    EXPECT_EQ(parts(bar), (std::vector<int>{100, rect.right})) << "no size grip when maximized";
    ShowWindow(parent, SW_RESTORE);
    SetWindowLongPtrA(bar, GWLP_WNDPROC, LONG_PTR(bar_replaced));
}

TEST_F(StatusBarTest, FieldsGrowByEightUpTo256) {
    open_with_bar();
    void* neighbour = heap_alloc(16); // the table cannot grow where it lies
    for (int i = 0; i < 9; i++)
        add_status_field(10);
    EXPECT_EQ(status_bar_record(2)->capacity, 16);
    for (int i = 9; i < 300; i++)
        add_status_field(10);
    StatusBarRecord* r = status_bar_record(2);
    EXPECT_EQ(r->count, 256);
    EXPECT_EQ(r->capacity, 256);
    EXPECT_EQ(HeapSize(main_heap, 0, r->fields), sizeof(StatusField) * 256) << "the grown table";
    heap_free(neighbour);
    const size_t blocks = kt::heap_counts().live;
    layout_status_fields(r); // edges beyond the 32 kept on the stack
    EXPECT_EQ(kt::heap_counts().live, blocks);
    std::vector<int> edges = parts(bar);
    ASSERT_EQ(edges.size(), 256u);
    EXPECT_EQ(edges.front(), 10);
    EXPECT_EQ(edges.back(), 2560);
    // Index 255 is the control's simple-mode text (SB_SIMPLEID), so 254 is
    // the last field whose text the control keeps.
    EXPECT_EQ(set_status_text(2, 254, "last", 0), 1);
    EXPECT_EQ(text_of(bar, 254).first, L"last");
}

TEST_F(StatusBarTest, BarGoesWithItsWindow) {
    open_with_bar();
    add_status_field(350);
    close_window(0);
    EXPECT_FALSE(IsWindow(bar));
    EXPECT_EQ(status_bar_record(2), nullptr);
    EXPECT_EQ(set_status_text(2, 0, "x", 0), 0);
    add_status_field(10); // the current bar is gone: nothing happens
    EXPECT_EQ(free_status_bar(2), 0);
}

TEST_F(StatusBarTest, OlderBarOfTheSameParentIsFreedAsItself) {
    open_with_bar();
    add_status_field(100);
    auto older = bar;
    auto newer = reinterpret_cast<HWND>(create_status_bar(5, parent));
    ASSERT_NE(newer, nullptr);
    add_status_field(200);
    EXPECT_EQ(GetPropA(parent, "vx_statusbar_id"), reinterpret_cast<HANDLE>(6));
    EXPECT_EQ(parts(newer), std::vector<int>{200});
    EXPECT_NE(free_status_bar(2), 0);
    EXPECT_FALSE(IsWindow(older));
    EXPECT_EQ(status_bar_record(2), nullptr);
    ASSERT_NE(status_bar_record(5), nullptr) << "the newer bar lives on";
    add_status_field(50);
    EXPECT_EQ(parts(newer).size(), 2u) << "and stays current";
    EXPECT_EQ(set_status_text(5, 0, "still here", 0), 1);
    EXPECT_EQ(text_of(newer, 0).first, L"still here");
    EXPECT_EQ(GetPropA(parent, "vx_statusbar_id"), reinterpret_cast<HANDLE>(6));
    EXPECT_NE(free_status_bar(ANY_OBJECT), 0);
    EXPECT_EQ(status_bar_record(5), nullptr);
    EXPECT_EQ(GetPropA(parent, "vx_statusbar_id"), nullptr);
}

TEST_F(StatusBarTest, DynamicBarIsNamedByItsRecord) {
    open_with_bar();
    add_status_field(100);
    intptr_t n = create_status_bar(ANY_OBJECT, parent);
    ASSERT_NE(n, 0);
    EXPECT_EQ(status_bar_record(n), reinterpret_cast<StatusBarRecord*>(n));
    add_status_field(120);
    EXPECT_EQ(set_status_text(n, 0, "dyn", 4), 1);
    EXPECT_EQ(text_of(status_bar_record(n)->window, 0).first, L"\tdyn");
    // Once destroyed, the dynamic bar is no longer the one fields go to, and
    // a field for no bar changes nothing.
    EXPECT_NE(free_status_bar(n), 0);
    EXPECT_EQ(status_bar_record(n), nullptr);
    // The heap hands the freed record's block out again; whatever it then
    // holds (here a live-looking copy of the other bar) is no bar of ours.
    const size_t block_size = sizeof(DynamicBlock) + sizeof(StatusBarRecord);
    std::vector<void*> taken;
    StatusBarRecord* reused = nullptr;
    for (int i = 0; i < 64 && !reused; i++) {
        auto* b = static_cast<DynamicBlock*>(HeapAlloc(main_heap, 0, block_size));
        if (!b) break;
        taken.push_back(b);
        if (handle_of(b + 1) == n) reused = reinterpret_cast<StatusBarRecord*>(b + 1);
    }
    ASSERT_NE(reused, nullptr) << "the heap gave the freed block back";
    *reused = *status_bar_record(2);
    for (int i = 0; i < 20; i++)
        add_status_field(10 + i);
    EXPECT_EQ(parts(bar), std::vector<int>{100});
    EXPECT_EQ(reused->count, 1);
    EXPECT_EQ(status_bar_record(2)->count, 1);
    for (void* b : taken)
        HeapFree(main_heap, 0, b);
    EXPECT_TRUE(HeapValidate(main_heap, 0, nullptr));
}

TEST_F(StatusBarTest, VisualStylesFollowTheCommonControlsVersionAndTheme) {
    HMODULE comctl = LoadLibraryA("COMCTL32.DLL");
    ASSERT_NE(comctl, nullptr);
    struct Info {
        DWORD size, major, minor, build, platform;
    } info{sizeof(Info), 0, 0, 0, 0};
    auto get = reinterpret_cast<HRESULT(WINAPI*)(Info*)>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    ASSERT_NE(get, nullptr);
    ASSERT_GE(get(&info), 0);
    const uint32_t version = probe_visual_styles();
    EXPECT_EQ(version, info.major << 16 | info.minor);
    HMODULE uxtheme = LoadLibraryA("uxtheme.dll");
    auto themed = reinterpret_cast<BOOL(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(uxtheme, "IsAppThemed")));
    ASSERT_NE(themed, nullptr);
    EXPECT_EQ(visual_styles, themed() && version >= 0x00060000 ? 1 : 0);
    EXPECT_EQ(probe_visual_styles(), version) << "probed once";
    FreeLibrary(comctl);
}

} // namespace
