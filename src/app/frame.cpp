#include "app/frame.h"

#include <windowsx.h>

#include "model/app_state.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/search_field.h"
#include "app/shadow_window.h"
#include "render/layout.h"

LRESULT frameHitTest(POINT client, SIZE clientSize, const std::vector<HitRegion>& regions) {
    const LONG x = client.x;
    const LONG y = client.y;
    if (y >= clientSize.cy - layout::kResizeBorderBottom) {
        if (x < layout::kResizeBorderLeft) return HTBOTTOMLEFT;
        return x < clientSize.cx - layout::kResizeBorderRight ? HTBOTTOM : HTBOTTOMRIGHT;
    }
    if (x < layout::kResizeBorderLeft) return HTLEFT;
    if (x >= clientSize.cx - layout::kResizeBorderRight) return HTRIGHT;
    if (y >= layout::kHeaderHeight) return HTCLIENT;
    return anyHitRegionContains(regions, client) ? HTCLIENT : HTCAPTION;
}

// Maximised, the system pushes the frame off-screen: keep the client inside the visible part.
LRESULT onNcCalcSize(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (wp && ::IsZoomed(hwnd)) {
        const int border = ::GetSystemMetrics(SM_CXFRAME) + ::GetSystemMetrics(SM_CXPADDEDBORDER);
        auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lp);
        ::InflateRect(&params->rgrc[0], -border, -border);
    }
    return 0;
}

LRESULT onNcHitTest(HWND hwnd, WPARAM wp, LPARAM lp) {
    const LRESULT system = ::DefWindowProcW(hwnd, WM_NCHITTEST, wp, lp);
    if (system != HTCLIENT) return system;
    POINT point{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    ::ScreenToClient(hwnd, &point);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    return frameHitTest(point, SIZE{client.right, client.bottom}, appState().hitRegions);
}

// Activation changes without painting a non-client area that does not exist.
LRESULT onNcActivate(HWND hwnd, WPARAM wp) { return ::DefWindowProcW(hwnd, WM_NCACTIVATE, wp, -1); }

LRESULT onSize(HWND hwnd, WPARAM kind, int width, int height) {
    if (kind == SIZE_MAXIMIZED || ::IsZoomed(hwnd)) {
        ::SetWindowRgn(hwnd, nullptr, FALSE);
    } else {
        HRGN region = ::CreateRoundRectRgn(0, 0, width + 1, height + 1, kWindowCornerEllipse, kWindowCornerEllipse);
        // During a size/move loop the region changes without a redraw, to avoid flicker.
        if (region && !::SetWindowRgn(hwnd, region, appState().inSizeMove ? FALSE : TRUE)) ::DeleteObject(region);
    }
    placeSearchEdit(width);
    repaintMainWindow();
    return 0;
}

LRESULT onGetMinMaxInfo(MINMAXINFO* info) {
    info->ptMinTrackSize = POINT{kMinimumWindowSize.cx, kMinimumWindowSize.cy};
    return 0;
}

LRESULT onWindowPosChanged(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (!appState().shadowHiddenForSizing) updateShadow(hwnd);
    ::DefWindowProcW(hwnd, WM_WINDOWPOSCHANGED, wp, lp);
    return 0;
}

// A live resize would rebuild the shadow image on every step: hide it until the resize ends.
LRESULT onSizing(HWND hwnd, WPARAM wp, LPARAM lp) {
    AppState& app = appState();
    if (app.shadowWnd && ::IsWindowVisible(app.shadowWnd) && !::IsZoomed(hwnd)) {
        ::ShowWindow(app.shadowWnd, SW_HIDE);
        app.shadowHiddenForSizing = true;
    }
    return ::DefWindowProcW(hwnd, WM_SIZING, wp, lp);
}

LRESULT onEnterSizeMove() {
    appState().inSizeMove = true;
    return 0;
}

LRESULT onExitSizeMove(HWND hwnd) {
    AppState& app = appState();
    app.inSizeMove = false;
    if (app.shadowHiddenForSizing) {
        app.shadowHiddenForSizing = false;
        updateShadow(hwnd);
    }
    return 0;
}
