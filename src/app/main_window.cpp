#include "app/main_window.h"

#include <windowsx.h>

#include "app/app_action.h"
#include "app/main_window_handlers.h"
#include "app/main_window_paint.h"
#include "app/proxy_auth_window.h"
#include "app/search_field.h"
#include "app/single_instance.h"
#include "app/tray.h"
#include "app/shell_services.h"
#include "app/window_dpi.h"
#include "base/window_messages.h"
#include "model/app_state.h"
#include "render/contrast.h"

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace {

constexpr UINT kSpeedTimerMs = 500;

LRESULT onCreate(HWND hwnd) {
    AppState& app = appState();
    ShellServices& services = shellServices();
    app.mainWnd = hwnd;
    applyMainWindowDpi(windowDpi(hwnd));  // the fonts were made for the system's DPI
    app.highContrast = highContrastOn();
    services.attachDownloadWindow(hwnd);
    if (!app.config.downloadDir.empty()) services.setDownloadDirOverride(app.config.downloadDir);
    startSpeedTimer(hwnd);
    // The search field's edit is made once the first frame is up (creating it costs a start-up about
    // 30 ms under Wine); until then the field is drawn empty, as it is whenever it is idle.
    ::PostMessageW(hwnd, WM_QB_CREATE_SEARCH_EDIT, 0, 0);
    services.startCatalogueLoad();
    return 0;
}

LRESULT onDestroy(HWND hwnd) {
    AppState& app = appState();
    if (app.shadowWnd) {
        ::DestroyWindow(app.shadowWnd);
        app.shadowWnd = nullptr;
    }
    ::KillTimer(hwnd, kSpeedTimerId);
    removeTrayIcon(hwnd);
    disconnectAccessClients();
    releaseMainWindowPaintCaches();
    ::PostQuitMessage(0);
    return 0;
}

// Windows may end the process once this returns: the transfers stop and record first.
LRESULT onEndSession(bool ending) {
    if (ending) shellServices().pauseAll(kExitPauseMs);
    return 0;
}

// Another start of the program handed its command line over: the window comes to the front, restored
// if it was minimised, and a list it names is imported after a question.
LRESULT onHandOver(HWND hwnd) {
    const std::optional<HandOver> handOver = singleInstance().take();
    if (!handOver) return 0;
    showMainWindow(hwnd);
    if (handOver->kind == StartKind::Import) importInstallListHandedOver(handOver->file);
    return 0;
}

// The close button or Alt+F4: to the tray after a background start, else the program ends as it may.
LRESULT onClose(HWND hwnd) {
    if (!closeToTray(hwnd)) requestClose(hwnd);
    return 0;
}

LRESULT onPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT client;
    ::GetClientRect(hwnd, &client);
    paintMainWindow(dc, client);
    ::EndPaint(hwnd, &ps);
    return 0;
}

}  // namespace

void startSpeedTimer(HWND hwnd) { ::SetTimer(hwnd, kSpeedTimerId, kSpeedTimerMs, nullptr); }

void repaintMainWindow() {
    if (HWND main = appState().mainWnd) ::InvalidateRect(main, nullptr, FALSE);
}

namespace {

// The program's own messages (WM_APP up to the registered ones), from its workers, the tray, another
// start and the accessibility objects.
LRESULT onOwnMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_QB_REFRESH: return onTasksChanged();
        case WM_QB_TRAY: return onTrayMessage(hwnd, wp, lp);
        case WM_QB_ICON_READY: return onIconReady();
        case WM_QB_CREATE_SEARCH_EDIT: createSearchEdit(hwnd); return 0;
        case WM_QB_PREPARE_FACES: prepareMainWindowFaces(); return 0;
        case WM_QB_DOWNLOAD_DONE: return onDownloadDone(unpackIdAndGeneration(wp));
        case WM_QB_CATALOGUE_LOADED: return onCatalogueLoaded(wp);
        case WM_QB_DOWNLOAD_FAILED: return onDownloadFailed(hwnd, unpackIdAndGeneration(wp));
        case WM_QB_INSTALLED_READ: return onInstalledRead(wp);
        case WM_QB_INSTALLER_FINISHED: return onInstallerFinished();
        case WM_QB_APP_CLOSED: return onAppClosed(static_cast<int32_t>(wp), lp != 0);
        case WM_QB_UNINSTALL_FINISHED: return onUninstallFinished(unpackIdAndGeneration(wp).id);
        case WM_QB_LIST_FILE_DONE: return onListFileDone(static_cast<uint32_t>(wp));
        case WM_QB_HAND_OVER: return onHandOver(hwnd);
        case WM_QB_PROXY_AUTH: return onProxyAuthAsked(hwnd, static_cast<uint32_t>(wp));
        case WM_QB_ACCESS_PRESS: return onAccessPress(hwnd, wp);
        case WM_QB_ACCESS_FOCUS: return onAccessFocus(wp);
        case WM_QB_ACCESS_SCROLL: return onAccessScroll(wp);
        default: return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg >= WM_APP && msg < 0xC000) return onOwnMessage(hwnd, msg, wp, lp);
    if (msg == taskbarCreatedMessage()) {
        onTaskbarCreated(hwnd);
        return 0;
    }
    switch (msg) {
        case WM_CREATE: return onCreate(hwnd);
        case WM_DESTROY: return onDestroy(hwnd);
        case WM_ENDSESSION: return onEndSession(wp != FALSE);
        case WM_PAINT: return onPaint(hwnd);
        case WM_ERASEBKGND: return 1;
        case WM_SETCURSOR: return onSetCursor(hwnd, wp, lp);
        case WM_MOUSEMOVE: return onMouseMove(hwnd, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        case WM_MOUSELEAVE: return onMouseLeave();
        case WM_LBUTTONDOWN: return onLeftButtonDown(hwnd, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        case WM_LBUTTONUP: return onLeftButtonUp(hwnd);
        case WM_RBUTTONUP: return onRightButtonUp(hwnd, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        case WM_CAPTURECHANGED: return onCaptureChanged(hwnd);
        case WM_MOUSEWHEEL: return onMouseWheel(hwnd, GET_WHEEL_DELTA_WPARAM(wp), lp);
        case WM_TIMER: return onTimer(hwnd, wp);
        case WM_SIZE: return onSize(hwnd, wp, LOWORD(lp), HIWORD(lp));
        case WM_GETMINMAXINFO: return onGetMinMaxInfo(hwnd, reinterpret_cast<MINMAXINFO*>(lp));
        case WM_NCCALCSIZE: return onNcCalcSize(hwnd, wp, lp);
        case WM_NCHITTEST: return onNcHitTest(hwnd, wp, lp);
        case WM_NCACTIVATE: return onNcActivate(hwnd, wp);
        case WM_WINDOWPOSCHANGED: return onWindowPosChanged(hwnd, wp, lp);
        case WM_SIZING: return onSizing(hwnd, wp, lp);
        case WM_ENTERSIZEMOVE: return onEnterSizeMove();
        case WM_EXITSIZEMOVE: return onExitSizeMove(hwnd);
        case WM_CLOSE: return onClose(hwnd);
        case WM_ACTIVATEAPP: onActivateApp(wp != FALSE); break;
        case WM_ACTIVATE: return onActivate(hwnd, wp, lp);
        case WM_KEYDOWN: return cardMenuTakesKey(wp) ? 0 : onKeyDown(hwnd, wp, lp);
        case WM_SYSKEYDOWN: return onSysKeyDown(hwnd, wp, lp);
        case WM_CONTEXTMENU: return onContextMenu(hwnd, wp, lp);
        case WM_GETOBJECT: return onGetObject(hwnd, wp, lp);
        case WM_COMMAND: return onCommand(hwnd, wp, lp);
        case WM_CTLCOLOREDIT: return onCtlColorEdit(hwnd, wp, lp);
        case WM_DPICHANGED: return onDpiChanged(hwnd, LOWORD(wp), *reinterpret_cast<const RECT*>(lp));
        case WM_GETDPISCALEDSIZE: return onGetDpiScaledSize(hwnd, static_cast<int>(wp), reinterpret_cast<SIZE*>(lp));
        case WM_SYSCOLORCHANGE: return onSystemColoursChanged(hwnd);
        case WM_SETTINGCHANGE:
            if (wp == SPI_SETHIGHCONTRAST) onSystemColoursChanged(hwnd);
            break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
