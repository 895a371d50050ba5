#include "app/tray.h"

#include <shellapi.h>

#include <netlistmgr.h>

#include <algorithm>
#include <mutex>

#include "app/app_action.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/proxy_auth_window.h"
#include "app/shell_services.h"
#include "app/startup.h"
#include "base/worker_thread.h"
#include "model/app_state.h"
#include "updates/auto_update.h"

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
        case TrayCheckUpdates: refreshCatalogue(); break;
        case TrayUpdateAll:
            showMainWindow(window);
            onUpdateAll();
            break;
        case TrayQuit: requestClose(window); break;
        default: break;
    }
}

LRESULT showUpdateNotice(HWND window) {
    const std::optional<std::vector<updates::Updatable>> apps = tray().toName.take();
    if (apps && !apps->empty()) showTrayNotice(window, updateNoticeTitle(apps->size()), updateNoticeText(*apps));
    return 0;
}

// The icon belongs in the tray: the program runs from a background start, or closes to the tray.
bool trayIconWanted() { return tray().background || appState().config.closeToTray; }

}  // namespace

void scheduleUpdateChecks(HWND window) {
    const UINT hours = static_cast<UINT>(std::clamp(appState().config.updateCheckHours, 1, kMaxUpdateCheckHours));
    ::SetTimer(window, kUpdateCheckTimerId, hours * 3600u * 1000u, nullptr);
}

void onUpdateCheckTimer() {
    if (!updates::mayCheck(connectionMetered(), appState().config.checkOnMetered)) return;
    refreshCatalogue();
}

bool connectionMetered() {
    INetworkCostManager* costs = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkCostManager,
                                  reinterpret_cast<void**>(&costs))))
        return false;
    DWORD cost = NLM_CONNECTION_COST_UNKNOWN;
    const HRESULT asked = costs->GetCost(&cost, nullptr);
    costs->Release();
    return SUCCEEDED(asked) && updates::meteredCost(cost);
}

void trayAtStart(HWND window, bool background) {
    tray().background = background;
    if (trayIconWanted() && !showTrayIcon(window))
        ::SetTimer(window, kTrayRetryTimerId, 5000, nullptr);
    scheduleUpdateChecks(window);
}

void onTrayRetryTimer(HWND window) {
    Tray& state = tray();
    if (!trayIconWanted() || showTrayIcon(window) || ++state.addFailures >= 12) {
        ::KillTimer(window, kTrayRetryTimerId);
        if (!state.shown && !::IsWindowVisible(window)) showMainWindow(window);
    }
}

void showTrayNotice(HWND window, const std::wstring& title, const std::wstring& text) {
    if (!tray().shown) return;
    NOTIFYICONDATAW data = iconData(window);
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_INFO;
    lstrcpynW(data.szInfoTitle, title.c_str(), ARRAYSIZE(data.szInfoTitle));
    lstrcpynW(data.szInfo, text.c_str(), ARRAYSIZE(data.szInfo));
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

std::wstring updateNoticeTitle(size_t count) { return std::to_wstring(count) + L" 款软件可升级"; }

std::wstring updateNoticeText(const std::vector<updates::Updatable>& apps) { return namedApps(apps); }

std::wstring namedApps(const std::vector<updates::Updatable>& apps) {
    std::wstring text;
    for (size_t i = 0; i < apps.size() && i < 3; ++i) text += (i ? L"、「" : L"「") + apps[i].name + L"」";
    return apps.size() > 3 ? text + L" 等" : text;
}

TrayNotice autoUpdateNotice(const std::vector<updates::Updatable>& installed,
                            const std::vector<updates::Updatable>& downloaded) {
    const std::wstring waiting =
        downloaded.empty() ? std::wstring() : std::to_wstring(downloaded.size()) + L" 款升级已下载，点击安装";
    if (installed.empty()) return {waiting, namedApps(downloaded)};
    TrayNotice notice{L"已自动升级 " + std::to_wstring(installed.size()) + L" 款", namedApps(installed)};
    if (!waiting.empty()) notice.text += L"\n" + waiting;
    return notice;
}

void announceUpdates(HWND window) {
    if (!tray().shown) return;
    const AppState& app = appState();
    std::vector<updates::Updatable> now;
    for (const size_t index : updatableApps(app)) {
        const AppInfo& info = app.catalogue.apps[index];
        now.push_back({info.id, info.name, info.version});
    }
    // The kept list is read and written by a worker, one at a time, so that no app is named twice.
    qb::startWorker([now = std::move(now), window] {
        static std::mutex oneAtATime;
        std::lock_guard<std::mutex> lock(oneAtATime);
        updates::Announced announced = updates::loadAnnounced();
        const std::vector<updates::Updatable> fresh = updates::toAnnounce(now, announced);
        if (fresh.empty()) return;
        updates::markAnnounced(announced, fresh);
        if (!updates::saveAnnounced(announced)) return;  // named again next time rather than lost
        tray().toName.post(fresh);
        ::PostMessageW(window, WM_QB_TRAY, kTrayAnnounce, 0);
    });
}

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

UINT taskbarCreatedMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void onTaskbarCreated(HWND window) {
    Tray& state = tray();
    if (!state.shown && !trayIconWanted()) return;
    state.shown = false;
    if (showTrayIcon(window)) ::KillTimer(window, kTrayRetryTimerId);
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
    startSpeedTimer(window);
    HWND settings = appState().settingsWnd;
    ::SetForegroundWindow(settings ? settings : window);
    askWaitingProxyQuestions(window);
}

bool closeToTray(HWND window) {
    if (!(tray().background || appState().config.closeToTray) || !showTrayIcon(window)) return false;
    if (HWND settings = appState().settingsWnd) ::DestroyWindow(settings);
    ::ShowWindow(window, SW_HIDE);
    return true;
}

LRESULT onTrayMessage(HWND window, WPARAM what, LPARAM event) {
    if (what == kTrayAnnounce) return showUpdateNotice(window);
    switch (LOWORD(event)) {
        case NIN_BALLOONUSERCLICK:
            showMainWindow(window);
            showUpdatesPage();
            break;
        case WM_LBUTTONUP:
        case NIN_SELECT:
        case NIN_KEYSELECT: showMainWindow(window); break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU: showMenu(window); break;
        default: break;
    }
    return 0;
}
