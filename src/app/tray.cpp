#include "app/tray.h"

#include <shellapi.h>

#include "app/app_action.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "model/app_state.h"

namespace {

constexpr UINT kTrayIconId = 1;

NOTIFYICONDATAW iconData(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

void showMenu(HWND window) {
    HMENU menu = ::CreatePopupMenu();
    if (!menu) return;
    for (const TrayMenuItem& item : trayMenuItems(updatableApps(appState()).size())) {
        if (item.command == TrayQuit) ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(item.command), item.text.c_str());
    }
    ::SetMenuDefaultItem(menu, TrayOpen, FALSE);
    POINT at{};
    ::GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only while the window is in the foreground.
    ::SetForegroundWindow(window);
    const int chosen = static_cast<int>(
        ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr));
    ::PostMessageW(window, WM_NULL, 0, 0);
    ::DestroyMenu(menu);
    switch (chosen) {
        case TrayOpen: showMainWindow(window); break;
        case TrayCheckUpdates:
            if (const auto& load = shellServices().startCatalogueLoad) load();
            break;
        case TrayUpdateAll:
            showMainWindow(window);
            onUpdateAll();
            break;
        case TrayQuit: requestClose(window); break;
        default: break;
    }
}

}  // namespace

std::vector<TrayMenuItem> trayMenuItems(size_t updatable) {
    std::vector<TrayMenuItem> items{{TrayOpen, L"打开 Quillbox"}, {TrayCheckUpdates, L"检查更新"}};
    if (updatable > 0) items.push_back({TrayUpdateAll, L"全部升级 (" + std::to_wstring(updatable) + L")"});
    items.push_back({TrayQuit, L"退出"});
    return items;
}

Tray& tray() {
    static Tray state;
    return state;
}

bool showTrayIcon(HWND window) {
    Tray& state = tray();
    if (state.shown) return true;
    NOTIFYICONDATAW data = iconData(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_QB_TRAY;
    data.hIcon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                 LR_DEFAULTCOLOR | LR_SHARED));
    lstrcpynW(data.szTip, L"Quillbox", ARRAYSIZE(data.szTip));
    state.shown = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return state.shown;
}

void removeTrayIcon(HWND window) {
    Tray& state = tray();
    if (!state.shown) return;
    NOTIFYICONDATAW data = iconData(window);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    state.shown = false;
}

void showMainWindow(HWND window) {
    ::ShowWindow(window, ::IsIconic(window) ? SW_RESTORE : SW_SHOW);
    HWND settings = appState().settingsWnd;
    ::SetForegroundWindow(settings ? settings : window);
}

bool closeToTray(HWND window) {
    if (!tray().background || !showTrayIcon(window)) return false;
    if (HWND settings = appState().settingsWnd) ::DestroyWindow(settings);
    ::ShowWindow(window, SW_HIDE);
    return true;
}

LRESULT onTrayMessage(HWND window, LPARAM event) {
    switch (LOWORD(event)) {
        case WM_LBUTTONUP:
        case NIN_SELECT:
        case NIN_KEYSELECT: showMainWindow(window); break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU: showMenu(window); break;
        default: break;
    }
    return 0;
}
