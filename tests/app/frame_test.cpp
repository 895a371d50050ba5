#include <gtest/gtest.h>

#include <windowsx.h>

#include "app/frame.h"
#include "app/shadow_window.h"
#include "app/window_dpi.h"
#include "app/window_fixture.h"

namespace {

using wintest::MainWindowTest;

TEST(FrameHitTest, BordersOnThreeSidesAndTheHeaderMovesTheWindow) {
    const SIZE client{1180, 780};
    const std::vector<HitRegion> regions = {
        {RECT{1134, 0, 1180, 64}, HitKind::Close, 0},
        {RECT{810, 14, 914, 50}, HitKind::DownloadsTab, 0},
        {RECT{12, 60, 188, 106}, HitKind::Category, 0},
    };
    struct Case {
        POINT point;
        LRESULT expected;
    };
    const Case cases[] = {
        {{3, 300}, HTLEFT},          {{6, 300}, HTLEFT},        {{7, 300}, HTCLIENT},
        {{3, 778}, HTBOTTOMLEFT},    {{6, 774}, HTBOTTOMLEFT},  {{7, 774}, HTBOTTOM},
        {{600, 773}, HTCLIENT},      {{600, 779}, HTBOTTOM},    {{1173, 774}, HTBOTTOM},
        {{1174, 774}, HTBOTTOMRIGHT}, {{1173, 300}, HTCLIENT},  {{1174, 300}, HTRIGHT},
        {{600, 3}, HTCAPTION},       {{600, 63}, HTCAPTION},    {{600, 64}, HTCLIENT},
        {{3, 3}, HTLEFT},            {{1150, 30}, HTCLIENT},    {{860, 8}, HTCAPTION},
        {{860, 20}, HTCLIENT},       {{20, 62}, HTCLIENT},      {{1177, 30}, HTRIGHT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(frameHitTest(c.point, client, regions), c.expected) << c.point.x << "," << c.point.y;
}

class Frame : public MainWindowTest {};

TEST_F(Frame, TheWindowAnswersHitTestsInScreenCoordinates) {
    createMainWindow(true);
    appState().hitRegions = {{RECT{1134, 0, 1180, 64}, HitKind::Close, 0}};
    struct Case {
        int x, y;
        LRESULT expected;
    };
    const Case cases[] = {{3, 300, HTLEFT}, {3, 778, HTBOTTOMLEFT}, {600, 3, HTCAPTION}, {1150, 3, HTCLIENT},
                          {600, 400, HTCLIENT}};
    for (const Case& c : cases) {
        POINT screen{c.x, c.y};
        ::ClientToScreen(main_, &screen);
        EXPECT_EQ(send(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)), c.expected) << c.x << "," << c.y;
    }
    EXPECT_EQ(send(WM_NCHITTEST, 0, MAKELPARAM(5, 5)), HTNOWHERE);  // outside the window
}

TEST_F(Frame, TheWindowCannotBeTrackedBelowItsMinimumSize) {
    createMainWindow();
    MINMAXINFO info{};
    info.ptMinTrackSize = POINT{100, 100};
    EXPECT_EQ(send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 1000);
    EXPECT_EQ(info.ptMinTrackSize.y, 660);
    // Scaled with the window, but never larger than the work area it would have to fit.
    EXPECT_EQ(minimumWindowSize(qb::DpiScale{144}, {2400, 1600}).cx, 1500);
    EXPECT_EQ(minimumWindowSize(qb::DpiScale{192}, {2600, 1800}).cy, 1320);
    EXPECT_EQ(minimumWindowSize(qb::DpiScale{192}, {1920, 1040}).cx, 1920);
    EXPECT_EQ(minimumWindowSize(qb::DpiScale{192}, {1920, 1040}).cy, 1040);
}

// Wine never sends WM_DPICHANGED: sent here as Windows sends it on a move to a 200 % monitor (the
// suggested rectangle the test's 1400 x 900 screen, which the minimum size at 200 % is held to). The window takes the suggested rectangle, its fonts and
// hit-testing follow the new scale, and the size Windows asks about scales back.
TEST_F(Frame, AMoveToAnotherDpiScalesTheWindow) {
    createMainWindow(true);
    RECT suggested{0, 0, 1400, 900};
    send(WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    RECT window{};
    ::GetWindowRect(main_, &window);
    EXPECT_EQ(window.right - window.left, 1400);
    EXPECT_EQ(window.bottom - window.top, 900);
    EXPECT_EQ(appState().scale.dpi, 192);
    LOGFONTW font{};
    ::GetObjectW(uiFont(FontBody), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -28);
    appState().hitRegions = {{RECT{654, 0, 700, 64}, HitKind::Close, 0}};  // the close button of 700 units
    struct Case {
        int x, y;  // client pixels
        LRESULT expected;
    };
    const Case cases[] = {{13, 600, HTLEFT},   {14, 600, HTCLIENT},   {600, 6, HTCAPTION},
                          {1320, 6, HTCLIENT}, {1387, 600, HTCLIENT}, {1388, 600, HTRIGHT}};
    for (const Case& c : cases) {
        POINT screen{c.x, c.y};
        ::ClientToScreen(main_, &screen);
        EXPECT_EQ(send(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)), c.expected) << c.x << "," << c.y;
    }
    SIZE size{};
    EXPECT_EQ(send(0x02E4 /* WM_GETDPISCALEDSIZE */, 96, reinterpret_cast<LPARAM>(&size)), TRUE);
    EXPECT_EQ(size.cx, 700);
    EXPECT_EQ(size.cy, 450);
    applyMainWindowDpi(96);  // the next test's window starts at 96 DPI with fonts for it
}

TEST_F(Frame, TheCornersAreRoundedExceptWhileMaximised) {
    createMainWindow(true);
    send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(1180, 780));
    HRGN region = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(main_, region), ERROR);
    EXPECT_FALSE(::PtInRegion(region, 0, 0));
    EXPECT_FALSE(::PtInRegion(region, 1179, 779));
    EXPECT_TRUE(::PtInRegion(region, 7, 0));
    EXPECT_TRUE(::PtInRegion(region, 590, 390));
    EXPECT_TRUE(::PtInRegion(region, 1172, 779));

    ::ShowWindow(main_, SW_MAXIMIZE);
    ASSERT_TRUE(::IsZoomed(main_));
    EXPECT_EQ(::GetWindowRgn(main_, region), ERROR);

    // The client area leaves out the frame the system pushes off-screen.
    NCCALCSIZE_PARAMS params{};
    params.rgrc[0] = RECT{-8, -8, 1408, 908};
    EXPECT_EQ(send(WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params)), 0);
    const int b = ::GetSystemMetrics(SM_CXFRAME) + ::GetSystemMetrics(SM_CXPADDEDBORDER);
    EXPECT_GT(b, 0);
    EXPECT_EQ(params.rgrc[0].left, -8 + b);
    EXPECT_EQ(params.rgrc[0].bottom, 908 - b);

    ::ShowWindow(main_, SW_RESTORE);
    ASSERT_FALSE(::IsZoomed(main_));
    EXPECT_NE(::GetWindowRgn(main_, region), ERROR);
    params.rgrc[0] = RECT{110, 60, 1290, 840};
    send(WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params));
    EXPECT_EQ(params.rgrc[0].left, 110);
    EXPECT_EQ(params.rgrc[0].bottom, 840);
    ::DeleteObject(region);
}

TEST(ShadowRings, EighteenFadingOutlinesOutsideTheWindow) {
    const int alphas[kShadowRingCount] = {64, 57, 50, 44, 38, 33, 28, 23, 19, 16, 12, 9, 7, 4, 3, 1, 0, 0};
    for (int i = 0; i < kShadowRingCount; ++i) {
        const ShadowRing ring = shadowRing(i, 1180, 780);
        EXPECT_EQ(ring.alpha, alphas[i]) << i;
        EXPECT_EQ(ring.radius, 15 + i) << i;
        EXPECT_EQ(ring.rect.left, 17 - i) << i;
        EXPECT_EQ(ring.rect.top, 17 - i) << i;
        EXPECT_EQ(ring.rect.right, 18 + 1180 + 1 + i) << i;
        EXPECT_EQ(ring.rect.bottom, 18 + 780 + 1 + i) << i;
    }
    const RECT shadow = shadowWindowRect(RECT{110, 60, 1290, 840});
    EXPECT_EQ(shadow.left, 92);
    EXPECT_EQ(shadow.top, 42);
    EXPECT_EQ(shadow.right - shadow.left, 1216);
    EXPECT_EQ(shadow.bottom - shadow.top, 816);
}

TEST(ShadowRings, PremultipliesOnlyPartlyTransparentPixels) {
    uint32_t pixels[] = {0x80FF8040u, 0xFF123456u, 0x00FFFFFFu, 0x01FFFFFFu};
    premultiplyAlpha(pixels, 4);
    EXPECT_EQ(pixels[0], 0x80804020u);
    EXPECT_EQ(pixels[1], 0xFF123456u);
    EXPECT_EQ(pixels[2], 0x00FFFFFFu);
    EXPECT_EQ(pixels[3], 0x01010101u);
}

TEST(ShadowRings, ThePictureFadesOutwardsAndLeavesTheWindowClear) {
    ShadowImage image;
    ASSERT_TRUE(image.create(300, 200));
    ASSERT_EQ(image.size().cx, 336);
    ASSERT_EQ(image.size().cy, 236);
    const uint32_t* px = image.pixels();
    auto alphaAt = [&](int x, int y) { return px[y * 336 + x] >> 24; };
    for (int i = 0; i < 336 * 236; ++i) {
        const uint32_t a = px[i] >> 24;
        ASSERT_LE((px[i] >> 16) & 0xFF, a) << i;  // premultiplied: no channel above alpha
        ASSERT_LE(px[i] & 0xFF, a) << i;
    }
    const int mid = 118;
    EXPECT_GE(alphaAt(17, mid), 40u);
    EXPECT_GT(alphaAt(17, mid), alphaAt(10, mid));
    EXPECT_GT(alphaAt(10, mid), alphaAt(3, mid));
    EXPECT_EQ(alphaAt(0, mid), 0u);
    EXPECT_EQ(alphaAt(40, mid), 0u);  // inside the window
    EXPECT_EQ(alphaAt(168, 118), 0u);
    EXPECT_GT(alphaAt(168, 236 - 18), 0u);  // just below the bottom edge
    EXPECT_EQ(alphaAt(0, 0), 0u);
    // The dark slate #1E2230 keeps more blue than red.
    const uint32_t edge = px[mid * 336 + 17];
    EXPECT_GT(edge & 0xFF, (edge >> 16) & 0xFF);
}

class Shadow : public MainWindowTest {
protected:
    RECT shadowRect() {
        RECT r{};
        ::GetWindowRect(appState().shadowWnd, &r);
        return r;
    }
};

TEST_F(Shadow, FollowsTheWindowAndIsRebuiltOnlyForANewSize) {
    createMainWindow(true);
    createShadowWindow(main_);
    HWND shadow = appState().shadowWnd;
    ASSERT_NE(shadow, nullptr);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(shadow, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT),
              WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT);
    EXPECT_TRUE(::IsWindowVisible(shadow));
    RECT r = shadowRect();
    EXPECT_EQ(r.left, 92);
    EXPECT_EQ(r.top, 42);
    EXPECT_EQ(r.right - r.left, 1216);
    EXPECT_EQ(r.bottom - r.top, 816);
    EXPECT_EQ(appState().shadowBitmapSize.cx, 1216);
    EXPECT_EQ(appState().shadowBitmapSize.cy, 816);
    EXPECT_EQ(::GetWindow(main_, GW_HWNDNEXT), shadow);  // directly below the main window

    const unsigned builds = appState().shadowImageBuilds;
    ::SetWindowPos(main_, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    r = shadowRect();
    EXPECT_EQ(r.left, 182);
    EXPECT_EQ(r.top, 82);
    EXPECT_EQ(appState().shadowImageBuilds, builds);

    ::SetWindowPos(main_, nullptr, 0, 0, 1100, 700, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    r = shadowRect();
    EXPECT_EQ(r.right - r.left, 1136);
    EXPECT_EQ(r.bottom - r.top, 736);
    EXPECT_EQ(appState().shadowImageBuilds, builds + 1);
    EXPECT_EQ(appState().shadowBitmapSize.cx, 1136);
}

TEST_F(Shadow, HidesWhileMaximisedMinimisedOrResizing) {
    createMainWindow(true);
    createShadowWindow(main_);
    HWND shadow = appState().shadowWnd;
    ::ShowWindow(main_, SW_MAXIMIZE);
    EXPECT_FALSE(::IsWindowVisible(shadow));
    ::ShowWindow(main_, SW_RESTORE);
    EXPECT_TRUE(::IsWindowVisible(shadow));
    ::ShowWindow(main_, SW_MINIMIZE);
    EXPECT_FALSE(::IsWindowVisible(shadow));
    ::ShowWindow(main_, SW_RESTORE);
    EXPECT_TRUE(::IsWindowVisible(shadow));

    // An interactive resize: hidden from the first WM_SIZING until the loop ends, then rebuilt.
    const unsigned builds = appState().shadowImageBuilds;
    send(WM_ENTERSIZEMOVE);
    RECT sizing{110, 60, 1250, 800};
    send(WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&sizing));
    EXPECT_FALSE(::IsWindowVisible(shadow));
    EXPECT_TRUE(appState().shadowHiddenForSizing);
    ::SetWindowPos(main_, nullptr, 0, 0, 1140, 740, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_FALSE(::IsWindowVisible(shadow));
    EXPECT_EQ(appState().shadowImageBuilds, builds);
    send(WM_EXITSIZEMOVE);
    EXPECT_FALSE(appState().inSizeMove);
    EXPECT_FALSE(appState().shadowHiddenForSizing);
    EXPECT_TRUE(::IsWindowVisible(shadow));
    EXPECT_EQ(appState().shadowImageBuilds, builds + 1);
    const RECT r = shadowRect();
    EXPECT_EQ(r.right - r.left, 1176);
}

}  // namespace
