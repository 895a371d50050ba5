#include <windowsx.h>

#include "app/app_action.h"
#include "model/app_state.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "base/window_messages.h"
#include "app/search_field.h"
#include "app/settings_window.h"
#include "app/shell_services.h"
#include "app/window_dpi.h"
#include "render/focus_targets.h"
#include "render/sidebar_painter.h"
#include "app/main_window_paint.h"
#include "app/tray.h"

namespace {

constexpr UINT kPageRepeatFirstDelayMs = 400;
constexpr UINT kPageRepeatDelayMs = 80;

ScrollBarInfo& scrollBar(AppState& app, ScrollBarId bar) {
    return bar == ScrollBarId::Sidebar ? app.sidebarScrollBar : app.contentScrollBar;
}

int& scrollOffset(AppState& app, ScrollBarId bar) {
    return bar == ScrollBarId::Sidebar ? app.sidebarScroll : app.contentScroll;
}

bool isBusy(uint32_t state) {
    return state == Downloading || state == Verifying || state == Installing || state == InstallQueued;
}

void stepPage(AppState& app, ScrollBarId bar, int y) {
    int& offset = scrollOffset(app, bar);
    offset = pageStepOffset(scrollBar(app, bar), offset, y);
}

void selectCategory(int32_t row) {
    AppState& app = appState();
    const std::vector<CategoryInfo> categories = snapshotCategories(app.catalogue);
    if (row < 0 || static_cast<size_t>(row) >= categories.size()) return;
    clearSearchField(AfterClear::LeaveField);  // a category is chosen over the search
    app.selectedCategoryId = categories[static_cast<size_t>(row)].id;
    app.page = Page::Catalogue;
    app.contentScroll = 0;
    repaintMainWindow();
}

// A busy app's button only shows its progress on the download page instead of starting anything.
void pressCardAction(int32_t appId) {
    AppState& app = appState();
    const AppInfo* info = app.catalogue.findApp(appId);
    if (!info || app.installed.uninstalling.count(appId)) return;  // its button reads 卸载中
    const auto tasks = shellServices().taskSnapshot();
    const auto task = tasks.find(appId);
    if (task != tasks.end() && isBusy(task->second.state)) {
        app.page = Page::Downloads;
        repaintMainWindow();
        return;
    }
    shellServices().appAction(info);
}

void installFromRow(int32_t taskId) {
    // An installer and the app's uninstaller would work on the same files at once.
    if (appState().installed.uninstalling.count(taskId)) {
        const AppInfo* info = appState().catalogue.findApp(taskId);
        return showToast(L"「" + (info ? info->name : std::wstring()) + L"」正在卸载", ToastNeutral);
    }
    const auto tasks = shellServices().taskSnapshot();
    const auto task = tasks.find(taskId);
    if (task != tasks.end()) {
        const std::wstring refusal = installRefusal(task->second);
        if (!refusal.empty()) return showToast(refusal, ToastError);
        if (task->second.unverified && !confirmUnverifiedInstall(task->second)) return;
    }
    if (installAndReport(taskId) != InstallStart::Accepted) return;
    const AppInfo* info = appState().catalogue.findApp(taskId);
    showToast(installAcceptedToast(taskId, info ? info->name : std::wstring()), ToastSuccess);
    repaintMainWindow();
}

// 继续 goes on with the bytes on disk, unless the catalogue lists another package for the app by now:
// then the card's road replaces them with a new download.
void resumeFromRow(int32_t taskId) {
    const AppInfo* info = appState().catalogue.findApp(taskId);
    const auto tasks = shellServices().taskSnapshot();
    const auto task = tasks.find(taskId);
    // Nothing that only the journal on disk names is fetched: an app the catalogue lacks is not resumed.
    if (!info) return showToast(L"该应用已不在目录中，无法继续下载", ToastError);
    if (task != tasks.end() && !listsPausedPackage(*info, task->second)) return shellServices().appAction(info);
    shellServices().resumeTask(taskId);
}

void actOnRegion(HWND hwnd, const HitRegion& region) {
    AppState& app = appState();
    ShellServices& services = shellServices();
    switch (region.kind) {
        case HitKind::Category: selectCategory(region.param); break;
        case HitKind::Minimize: ::ShowWindow(hwnd, SW_MINIMIZE); break;
        case HitKind::Maximize: ::ShowWindow(hwnd, ::IsZoomed(hwnd) ? SW_RESTORE : SW_MAXIMIZE); break;
        case HitKind::Close: requestClose(hwnd); break;
        case HitKind::DownloadsTab:
            app.page = Page::Downloads;
            repaintMainWindow();
            break;
        case HitKind::SettingsButton:
        case HitKind::ChangeDir: openSettingsWindow(); break;
        case HitKind::CardAction: pressCardAction(region.param); break;
        case HitKind::RowCancel:
            services.cancelTask(region.param);
            repaintMainWindow();
            break;
        case HitKind::RowPause:
            services.pauseTask(region.param);
            repaintMainWindow();
            break;
        case HitKind::RowResume:
            resumeFromRow(region.param);
            repaintMainWindow();
            break;
        case HitKind::RowInstall: installFromRow(region.param); break;
        case HitKind::RowOpenFolder: services.openInFolder(region.param); break;
        case HitKind::RowRetry:
            if (const AppInfo* info = app.catalogue.findApp(region.param)) services.appAction(info);
            repaintMainWindow();
            break;
        case HitKind::ClearCompleted:
            services.clearFinished();
            repaintMainWindow();
            break;
        case HitKind::Reload: services.startCatalogueLoad(); break;
        case HitKind::OpenDir: openDownloadDirectory(); break;
        case HitKind::Notice:
            app.noticeText.clear();
            repaintMainWindow();
            break;
        case HitKind::SearchField: focusSearchField(FieldCaret::AtEnd); break;
        case HitKind::SearchClear: clearSearchField(AfterClear::KeepCaret); break;
        case HitKind::UpdatesTab: showUpdatesPage(); break;
        case HitKind::UpdateRow: pressCardAction(region.param); break;  // exactly what the card's button does
        case HitKind::UpdateAll:
            onUpdateAll();
            repaintMainWindow();
            break;
        case HitKind::StopBatch: stopBatch(); break;
        default: break;
    }
}

// The keyboard goes on from the item the pointer pressed.
void followPointer(HWND hwnd, const HitRegion& hit) {
    AppState& app = appState();
    const SIZE client = clientUnits(hwnd);
    if (const auto target = focusTargetOf(app, liveInputs(app), hit, client.cx, client.cy)) {
        app.focus.target = app.focus.heldTarget = *target;
        app.focus.heldId = target->region == FocusRegion::Content ? hit.param : 0;
    }
}

bool anyTransferShown() {
    for (const auto& entry : shellServices().taskSnapshot())
        if (entry.second.state == Downloading || entry.second.state == Verifying) return true;
    return false;
}

void onSpeedTimer(HWND hwnd) {
    // Nothing to show: a copy waiting in the background does not wake twice a second.
    if (!::IsWindowVisible(hwnd)) {
        ::KillTimer(hwnd, kSpeedTimerId);
        return;
    }
    AppState& app = appState();
    shellServices().updateSpeeds();
    if (!app.noticeText.empty() || !app.toastText.empty() || app.page == Page::Downloads || anyTransferShown())
        repaintMainWindow();
}

void onPageRepeatTimer(HWND hwnd) {
    AppState& app = appState();
    if (app.pageRepeatBar == ScrollBarId::None) return;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::ScreenToClient(hwnd, &cursor);
    stepPage(app, app.pageRepeatBar, clientPointUnits(cursor).y);
    repaintMainWindow();
    ::SetTimer(hwnd, kPageRepeatTimerId, kPageRepeatDelayMs, nullptr);
}

void endPointerMode(HWND hwnd) {
    AppState& app = appState();
    app.dragBar = ScrollBarId::None;
    app.pageRepeatBar = ScrollBarId::None;
    ::KillTimer(hwnd, kPageRepeatTimerId);
}

}  // namespace

void showUpdatesPage() {
    AppState& app = appState();
    if (app.page != Page::Updates) app.contentScroll = 0;  // the grid's offset means nothing to the list
    app.page = Page::Updates;
    repaintMainWindow();
}

void pressControl(HWND hwnd, const HitRegion& region) { actOnRegion(hwnd, region); }

LRESULT onSetCursor(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (LOWORD(lp) == HTCLIENT) {
        POINT cursor{};
        ::GetCursorPos(&cursor);
        ::ScreenToClient(hwnd, &cursor);
        if (const HitRegion* region = findHitRegion(appState().hitRegions, clientPointUnits(cursor))) {
            ::SetCursor(::LoadCursorW(nullptr, region->kind == HitKind::SearchField ? IDC_IBEAM : IDC_HAND));
            return TRUE;
        }
    }
    return ::DefWindowProcW(hwnd, WM_SETCURSOR, wp, lp);
}

LRESULT onMouseMove(HWND hwnd, int x, int y) {
    AppState& app = appState();
    app.mousePos = clientPointUnits({x, y});
    if (app.dragBar != ScrollBarId::None) {
        if (const auto offset = dragScrollOffset(scrollBar(app, app.dragBar), app.mousePos.y, app.dragGrabOffset))
            scrollOffset(app, app.dragBar) = *offset;
        repaintMainWindow();
        return 0;
    }
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
    ::TrackMouseEvent(&track);

    const bool wasActive = app.hoverActive;
    const HitKind oldKind = app.hoverKind;
    const int oldParam = app.hoverParam;
    app.hoverActive = false;
    if (const HitRegion* region = findHitRegion(app.hitRegions, app.mousePos)) {
        app.hoverActive = true;
        app.hoverKind = region->kind;
        app.hoverParam = region->param;
    }
    if (wasActive != app.hoverActive || oldKind != app.hoverKind ||
        oldParam != app.hoverParam)
        repaintMainWindow();
    return 0;
}

LRESULT onMouseLeave() {
    appState().hoverActive = false;
    repaintMainWindow();
    return 0;
}

LRESULT onLeftButtonDown(HWND hwnd, int x, int y) {
    AppState& app = appState();
    const POINT point = clientPointUnits({x, y});
    if (app.focus.ringShown) repaintMainWindow();
    app.focus.ringShown = false;  // the ring is for the keyboard
    if (cardMenuTakesPress(point)) return 0;
    const ScrollBarId bar = scrollBarAt(app.contentScrollBar, app.sidebarScrollBar, point);
    if (bar != ScrollBarId::None) {
        // Capture first: taking it again would report a capture change that ends the new mode.
        ::SetCapture(hwnd);
        const ScrollBarInfo& info = scrollBar(app, bar);
        if (::PtInRect(&info.thumb, point)) {
            app.dragBar = bar;
            app.dragGrabOffset = point.y - info.thumb.top;
        } else {
            app.pageRepeatBar = bar;
            stepPage(app, bar, point.y);
            ::SetTimer(hwnd, kPageRepeatTimerId, kPageRepeatFirstDelayMs, nullptr);
        }
        repaintMainWindow();
        return 0;
    }
    const HitRegion* region = findHitRegion(app.hitRegions, point);
    if (!region) return 0;
    const HitRegion hit = *region;  // the action may repaint, which rebuilds the list
    followPointer(hwnd, hit);
    actOnRegion(hwnd, hit);
    return 0;
}

LRESULT onLeftButtonUp(HWND hwnd) {
    AppState& app = appState();
    if (app.dragBar == ScrollBarId::None && app.pageRepeatBar == ScrollBarId::None) return 0;
    endPointerMode(hwnd);
    ::ReleaseCapture();
    return 0;
}

LRESULT onCaptureChanged(HWND hwnd) {
    AppState& app = appState();
    if (app.dragBar != ScrollBarId::None || app.pageRepeatBar != ScrollBarId::None) endPointerMode(hwnd);
    return 0;
}

LRESULT onMouseWheel(HWND hwnd, int delta, LPARAM screenPoint) {
    AppState& app = appState();
    closeCardMenu();
    POINT point{GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    ::ScreenToClient(hwnd, &point);
    switch (wheelTarget(clientPointUnits(point), app.page)) {
        case WheelTarget::Sidebar: app.sidebarScroll -= delta; break;
        case WheelTarget::Content: app.contentScroll -= delta; break;
        case WheelTarget::Nothing: return 0;
    }
    app.hoverActive = false;
    repaintMainWindow();
    return 0;
}

LRESULT onTimer(HWND hwnd, UINT_PTR id) {
    if (id == kSpeedTimerId) onSpeedTimer(hwnd);
    if (id == kPageRepeatTimerId) onPageRepeatTimer(hwnd);
    if (id == kUpdateCheckTimerId) onUpdateCheckTimer();
    if (id == kAutoUpdateTimerId) onAutoUpdateTimer(hwnd);
    if (id == kTrayRetryTimerId) onTrayRetryTimer(hwnd);
    if (id == kInstalledReadTimerId) {
        ::KillTimer(hwnd, id);
        startInstalledAppsReadNow();
    }
    return 0;
}
