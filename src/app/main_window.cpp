#include "app/main_window.h"

#include "app/app_state.h"
#include "app/messages.h"
#include "app/shadow_window.h"
#include "app/startup.h"
#include "service/catalogue_loader.h"

namespace {

LRESULT onCreate(HWND hwnd) {
    AppState& app = appState();
    app.mainWnd = hwnd;
    ::SetTimer(hwnd, kSpeedTimerId, 500, nullptr);
    startCatalogLoad();
    return 0;
}

LRESULT onDestroy(HWND hwnd) {
    AppState& app = appState();
    if (app.shadowWnd) {
        ::DestroyWindow(app.shadowWnd);
        app.shadowWnd = nullptr;
    }
    ::KillTimer(hwnd, kSpeedTimerId);
    ::PostQuitMessage(0);
    return 0;
}

LRESULT onPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT client;
    ::GetClientRect(hwnd, &client);
    HBRUSH background = ::CreateSolidBrush(RGB(0xF5, 0xF6, 0xF8));
    ::FillRect(dc, &client, background);
    ::DeleteObject(background);
    ::EndPaint(hwnd, &ps);
    return 0;
}

LRESULT onCatalogLoaded(WPARAM succeeded) {
    AppState& app = appState();
    adoptLoadedCatalogue(app.catalog);
    app.catalogLoading = false;
    app.catalogFailed = succeeded == 0;
    repaintMainWindow();
    return 0;
}

}  // namespace

void repaintMainWindow() {
    if (HWND main = appState().mainWnd) ::InvalidateRect(main, nullptr, FALSE);
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE: return onCreate(hwnd);
        case WM_DESTROY: return onDestroy(hwnd);
        case WM_PAINT: return onPaint(hwnd);
        case WM_ERASEBKGND: return 1;
        case WM_NCCALCSIZE: return 0;
        case WM_QB_CATALOG_LOADED: return onCatalogLoaded(wp);
        case WM_QB_REFRESH:
        case WM_QB_ICON_READY: repaintMainWindow(); return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
