// The image gadget in a real window under Wine: its size, painting source,
// and the mouse actions it reports as EVT_GADGET events.
#include <vector>

#include "image/image.h"
#include "tests/ui/ui_fixture.h"
#include "ui/alpha.h"
#include "ui/gadget.h"
#include "ui/status_bar.h"

namespace {

using kt::Event;
using kt::queued_events;

struct GadgetTest : kt::UiTest {
    HWND window = nullptr;
    std::vector<HBITMAP> bitmaps;

    void SetUp() override {
        kt::UiTest::SetUp();
        alpha_blend_start();
        ASSERT_TRUE(gadgets_start());
        window = reinterpret_cast<HWND>(
            open_window(0, 150, 150, 330, 120, "Kestrin",
                        WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX));
        ASSERT_NE(window, nullptr);
        queued_events();
    }
    void TearDown() override {
        close_window(ANY_OBJECT);
        gadgets_end();
        for (HBITMAP b : bitmaps)
            DeleteObject(b);
        alpha_blend_end();
        kt::UiTest::TearDown();
    }
    HBITMAP dib(int width, int height, int depth) {
        HBITMAP b = create_dib(width, height, depth);
        EXPECT_NE(b, nullptr);
        bitmaps.push_back(b);
        return b;
    }
    HWND gadget(HANDLE image, int32_t flags = 0) {
        auto h = reinterpret_cast<HWND>(create_image_gadget(0, 0, 0, 330, 100, image, flags));
        EXPECT_NE(h, nullptr);
        queued_events();
        return h;
    }
    static SIZE size_of(HWND h) {
        RECT r;
        GetWindowRect(h, &r);
        return {r.right - r.left, r.bottom - r.top};
    }
    // The EVT_GADGET events queued by one action.
    static std::vector<Event> gadget_events() {
        std::vector<Event> out;
        for (const Event& e : queued_events())
            if (e.code == EVT_GADGET) out.push_back(e);
        return out;
    }
};

Event gadget_event(int32_t type) {
    return {EVT_GADGET, 0, 0, type};
}

TEST_F(GadgetTest, ProgramPictureShowsAtTheTopLeftAndKeepsItsSize) {
    HBITMAP picture = dib(330, 100, 24);
    HWND h = gadget(picture);
    EXPECT_EQ(GetParent(h), window);
    RECT r;
    GetWindowRect(h, &r);
    POINT top_left{r.left, r.top};
    ScreenToClient(window, &top_left);
    EXPECT_EQ(top_left.x, 0);
    EXPECT_EQ(top_left.y, 0);
    EXPECT_EQ(size_of(h).cx, 330);
    EXPECT_EQ(size_of(h).cy, 100);
    EXPECT_EQ(GetWindowLongA(h, GWL_ID), 0);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageA(h, STM_GETIMAGE, IMAGE_BITMAP, 0)), picture);
    GadgetRecord* g = gadget_record(0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->image_copy, nullptr) << "a 24-bit picture has no alpha";
    EXPECT_EQ(g->kind->kind, IMAGE_GADGET);
    EXPECT_EQ(g->kind->get_state(g), intptr_t(picture));
    SIZE told{};
    g->kind->size(g, reinterpret_cast<int32_t*>(&told.cx), reinterpret_cast<int32_t*>(&told.cy));
    EXPECT_EQ(told.cx, 330);
    EXPECT_EQ(told.cy, 100);
    EXPECT_EQ(GetWindowLongA(h, GWL_STYLE) & 0x50000100, 0x50000100);
}

TEST_F(GadgetTest, GadgetTakesTheSizeOfItsImagePlusItsBorder) {
    struct Case {
        int32_t flags;
        int extra;
    } cases[] = {{0, 0}, {GADGET_CLIENT_EDGE, 4}, {GADGET_DIALOG_FRAME, 4}};
    HBITMAP small = dib(50, 40, 24);
    for (const Case& c : cases) {
        HWND h = gadget(small, c.flags);
        EXPECT_EQ(size_of(h).cx, 50 + c.extra) << c.flags;
        EXPECT_EQ(size_of(h).cy, 40 + c.extra) << c.flags;
    }
    // An icon takes its colour bitmap's size, a monochrome one half its
    // mask's height; the bitmaps the icon lends are given back.
    HICON colour = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    const BYTE planes[2 * 16 * 16 / 8] = {};
    HICON mono = CreateIcon(nullptr, 16, 16, 1, 1, planes, planes);
    HWND shown = gadget(colour);
    const size_t objects = kt::gdi_objects();
    for (HICON icon : {colour, mono, colour}) {
        SendMessageA(shown, STM_SETIMAGE, IMAGE_ICON, LPARAM(icon));
        const int side = icon == mono ? 16 : GetSystemMetrics(SM_CXICON);
        EXPECT_EQ(size_of(shown).cx, side);
        EXPECT_EQ(size_of(shown).cy, side);
    }
    EXPECT_EQ(kt::gdi_objects(), objects);
    DestroyIcon(mono);
    // No image: the created size stays.
    HWND empty = gadget(nullptr);
    EXPECT_EQ(size_of(empty).cx, 330);
    EXPECT_EQ(size_of(empty).cy, 100);
}

TEST_F(GadgetTest, ThirtyTwoBitImagesGetAPremultipliedCopy) {
    if (!alpha_support.alpha_blend) GTEST_SKIP() << "no AlphaBlend in msimg32.dll";
    HWND h = gadget(dib(20, 20, 32));
    GadgetRecord* g = gadget_record(0);
    ASSERT_NE(g, nullptr);
    EXPECT_NE(g->image_copy, nullptr);
    // Setting a plain image drops the copy.
    SendMessageA(h, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(dib(20, 20, 24)));
    EXPECT_EQ(g->image_copy, nullptr);
}

TEST_F(GadgetTest, MouseActionsBecomeGadgetEvents) {
    HWND h = gadget(dib(330, 100, 24));
    const LPARAM at = MAKELPARAM(10, 10);

    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(h, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(gadget_events(), std::vector<Event>{gadget_event(GADGET_LEFT_CLICK)}) << "click";

    SendMessageA(h, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageA(h, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(gadget_events(), std::vector<Event>{gadget_event(GADGET_LEFT_DOUBLE_CLICK)})
        << "second press of a double-click";

    SendMessageA(h, WM_RBUTTONDOWN, MK_RBUTTON, at);
    SendMessageA(h, WM_RBUTTONUP, 0, at);
    EXPECT_EQ(gadget_events(), std::vector<Event>{gadget_event(GADGET_RIGHT_CLICK)}) << "right";

    SendMessageA(h, WM_RBUTTONDBLCLK, MK_RBUTTON, at);
    SendMessageA(h, WM_RBUTTONUP, 0, at);
    EXPECT_EQ(gadget_events(), std::vector<Event>{gadget_event(GADGET_RIGHT_DOUBLE_CLICK)})
        << "right double-click: no right click for its release";
}

TEST_F(GadgetTest, DragStartIsReportedOnceBeyondTheThreshold) {
    HWND h = gadget(dib(330, 100, 24));
    const int cx = GetSystemMetrics(SM_CXDRAG), cy = GetSystemMetrics(SM_CYDRAG);
    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 50));
    queued_events(); // the click notification of the press
    SendMessageA(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100 + cx, 50 - cy));
    EXPECT_TRUE(gadget_events().empty()) << "within the threshold";
    SendMessageA(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100 - cx - 1, 50));
    EXPECT_EQ(gadget_events(), std::vector<Event>{gadget_event(GADGET_DRAG_START)});
    SendMessageA(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 90));
    SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(200, 90));
    EXPECT_TRUE(gadget_events().empty()) << "nothing more after the drag started";
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(GadgetTest, DestroyedGadgetTakesItsRecordAndQueuedEventsAlong) {
    HWND h = gadget(dib(330, 100, 24));
    SendMessageA(h, WM_RBUTTONUP, 0, 0);
    post_event(EVT_CLOSE_REQUEST, 0, 0, 0);
    DestroyWindow(h);
    EXPECT_EQ(gadget_record(0), nullptr);
    std::vector<Event> left = queued_events();
    EXPECT_EQ(kt::codes_among(left, {EVT_GADGET, EVT_CLOSE_REQUEST}),
              std::vector<int32_t>{EVT_CLOSE_REQUEST});
}

// Windows with a gadget and a status bar, opened and closed many times,
// leave no system object and no block behind. GetGuiResources counts USER
// objects on Windows only (Wine answers 0), so the window's own objects are
// also looked at one by one after each close.
TEST_F(GadgetTest, ClosedWindowsLeaveNoObjectsBehind) {
    close_window(0);
    HBITMAP picture = dib(330, 100, 32);
    auto open_and_close = [&] {
        HWND w = reinterpret_cast<HWND>(open_window(1, 150, 150, 330, 120, "Kestrin", 0x00CE0000));
        ASSERT_NE(w, nullptr);
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
        window_record(1)->background_brush = brush;
        HACCEL table = window_record(1)->accelerator_table;
        ASSERT_NE(create_image_gadget(3, 0, 0, 330, 100, picture, 0), 0);
        ASSERT_NE(create_status_bar(4, w), 0);
        add_status_field(FILL_WIDTH);
        set_status_text(4, 0, "status", 0);
        close_window(1);
        queued_events();
        ASSERT_FALSE(IsWindow(w));
        EXPECT_EQ(GetObjectType(brush), 0u) << "background brush deleted";
        EXPECT_EQ(CopyAcceleratorTableA(table, nullptr, 0), 0) << "accelerator table destroyed";
        WNDCLASSA wc;
        EXPECT_FALSE(GetClassInfoA(module_handle, "WindowClass_1", &wc)) << "class unregistered";
    };
    open_and_close(); // the registries and the queue have grown once
    HANDLE self = GetCurrentProcess();
    const size_t gdi = kt::gdi_objects();
    const DWORD user = GetGuiResources(self, GR_USEROBJECTS);
    const size_t blocks = kt::heap_counts().live;
    for (int i = 0; i < 30; i++)
        open_and_close();
    EXPECT_EQ(kt::gdi_objects(), gdi);
    EXPECT_EQ(GetGuiResources(self, GR_USEROBJECTS), user);
    EXPECT_EQ(kt::heap_counts().live, blocks);
}

TEST_F(GadgetTest, DynamicGadgetsAreNamedByTheirRecord) {
    intptr_t handle = create_image_gadget(ANY_OBJECT, 0, 0, 10, 10, dib(8, 8, 24));
    ASSERT_NE(handle, 0);
    GadgetRecord* g = gadget_record(handle);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(g->window, GWLP_ID), handle);
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropA(g->window, "VX_ID")), handle);
    HWND control = g->window;
    DestroyWindow(control);
    EXPECT_EQ(gadget_record(handle), nullptr);
}

TEST_F(GadgetTest, RecreatingANumberDestroysTheOldGadget) {
    HWND first = gadget(dib(10, 10, 24));
    HWND second = gadget(dib(10, 10, 24));
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(gadget_record(0)->window, second);
}

} // namespace
