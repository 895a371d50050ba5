#include "app/window_dpi.h"

#include "app/main_window.h"
#include "app/search_field.h"
#include "model/app_state.h"
#include "render/contrast.h"

namespace {

using SetContextFunction = BOOL(WINAPI*)(HANDLE);
using SetAwarenessFunction = HRESULT(WINAPI*)(int);
using WindowDpiFunction = UINT(WINAPI*)(HWND);
using SystemDpiFunction = UINT(WINAPI*)();

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and _PER_MONITOR_AWARE, as the system's headers define them.
const HANDLE kPerMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE kPerMonitor = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));
constexpr int kProcessPerMonitorAware = 2;  // PROCESS_PER_MONITOR_DPI_AWARE

template <typename Function>
Function user32Function(const char* name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

// True when the process is per-monitor aware now, or was already declared aware (by the manifest).
bool perMonitorFromShcore() {
    HMODULE shcore = ::LoadLibraryW(L"shcore.dll");  // kept for the process, as the system keeps it
    if (!shcore) return false;
    const auto set = reinterpret_cast<SetAwarenessFunction>(
        reinterpret_cast<void*>(::GetProcAddress(shcore, "SetProcessDpiAwareness")));
    if (!set) return false;
    const HRESULT result = set(kProcessPerMonitorAware);
    return SUCCEEDED(result) || result == E_ACCESSDENIED;
}

// The same through awareness contexts (Windows 10 1607 on); ERROR_ACCESS_DENIED: already declared.
bool perMonitorFromContext(SetContextFunction set, HANDLE context) {
    return set(context) || ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

void declareDpiAwareness() {
    if (const auto set = user32Function<SetContextFunction>("SetProcessDpiAwarenessContext")) {
        if (perMonitorFromContext(set, kPerMonitorV2) || perMonitorFromContext(set, kPerMonitor)) return;
    }
    if (perMonitorFromShcore()) return;
    ::SetProcessDPIAware();
}

int systemDpi() {
    if (const auto get = user32Function<SystemDpiFunction>("GetDpiForSystem")) {
        if (const UINT dpi = get()) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : qb::kBaseDpi;
}

int windowDpi(HWND hwnd) {
    if (const auto get = user32Function<WindowDpiFunction>("GetDpiForWindow")) {
        if (const UINT dpi = hwnd ? get(hwnd) : 0) return static_cast<int>(dpi);
    }
    return systemDpi();
}

SIZE clientUnits(HWND hwnd) {
    RECT client{};
    ::GetClientRect(hwnd, &client);
    return appState().scale.unitsOfClient({client.right, client.bottom});
}

POINT clientPointUnits(POINT pixels) { return appState().scale.units(pixels); }

void applyMainWindowDpi(int dpi) {
    AppState& app = appState();
    if (dpi == app.scale.dpi && app.uiFonts[0]) return;
    HFONT made[kUiFontCount] = {};
    if (!createUiFonts(made, dpi)) {
        deleteUiFonts(made);
        return;  // the fonts in use stay, at their size
    }
    HFONT old[kUiFontCount] = {};
    for (int i = 0; i < kUiFontCount; ++i) old[i] = app.uiFonts[i], app.uiFonts[i] = made[i];
    app.scale = qb::DpiScale{dpi};
    if (HWND edit = app.search.edit)
        ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont(FontLabel)), TRUE);
    deleteUiFonts(old);
}

LRESULT onDpiChanged(HWND hwnd, int dpi, const RECT& suggested) {
    applyMainWindowDpi(dpi);
    ::SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    placeSearchEdit(client.right);
    repaintMainWindow();
    return 0;
}

LRESULT onGetDpiScaledSize(HWND hwnd, int dpi, SIZE* size) {
    RECT window{};
    if (!size || !::GetWindowRect(hwnd, &window)) return FALSE;
    const int current = appState().scale.dpi;
    size->cx = ::MulDiv(window.right - window.left, dpi, current);
    size->cy = ::MulDiv(window.bottom - window.top, dpi, current);
    return TRUE;
}

LRESULT onSystemColoursChanged(HWND hwnd) {
    appState().highContrast = highContrastOn();
    ::InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
}
