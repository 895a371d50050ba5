#include "app/frame.h"

#include <windowsx.h>

#include <algorithm>

#include "model/app_state.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/search_field.h"
#include "app/shadow_window.h"
#include "app/window_dpi.h"
#include "render/layout.h"

SIZE minimumWindowSize(const qb::DpiScale& scale, SIZE workArea) {
    const SIZE scaled{scale.length(kMinimumWindowSize.cx), scale.length(kMinimumWindowSize.cy)};
    if (workArea.cx <= 0 || workArea.cy <= 0) return scaled;
    return {std::min(scaled.cx, workArea.cx), std::min(scaled.cy, workArea.cy)};
}

SIZE monitorWorkArea(HWND hwnd) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &info)) return {0, 0};
    return {info.rcWork.right - info.rcWork.left, info.rcWork.bottom - info.rcWork.top};
}

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
    return frameHitTest(clientPointUnits(point), clientUnits(hwnd), appState().hitRegions);
}

// Activation changes without painting a non-client area that does not exist.
LRESULT onNcActivate(HWND hwnd, WPARAM wp) { return ::DefWindowProcW(hwnd, WM_NCACTIVATE, wp, -1); }

LRESULT onSize(HWND hwnd, WPARAM kind, int width, int height) {
    if (kind == SIZE_MAXIMIZED || ::IsZoomed(hwnd)) {
        ::SetWindowRgn(hwnd, nullptr, FALSE);
    } else {
        const int corner = appState().scale.length(kWindowCornerEllipse);
        HRGN region = ::CreateRoundRectRgn(0, 0, width + 1, height + 1, corner, corner);
        // During a size/move loop the region changes without a redraw, to avoid flicker.
        if (region && !::SetWindowRgn(hwnd, region, appState().inSizeMove ? FALSE : TRUE)) ::DeleteObject(region);
    }
    placeSearchEdit(width);
    repaintMainWindow();
    return 0;
}

LRESULT onGetMinMaxInfo(HWND hwnd, MINMAXINFO* info) {
    const SIZE minimum = minimumWindowSize(appState().scale, monitorWorkArea(hwnd));
    info->ptMinTrackSize = POINT{minimum.cx, minimum.cy};
    return 0;
}

LRESULT onWindowPosChanged(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (!appState().shadowHiddenForSizing) updateShadow(hwnd);
    const auto* pos = reinterpret_cast<const WINDOWPOS*>(lp);
    if (pos && !(pos->flags & SWP_NOMOVE)) accessWindowMoved(hwnd);
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
