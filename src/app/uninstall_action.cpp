#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "install/uninstall_snapshot.h"
#include "model/app_state.h"

namespace {

std::wstring quoted(const std::wstring& name) { return L"「" + name + L"」"; }

bool taskBusy(int32_t appId) {
    if (appState().restartAfterUpdate.count(appId)) return true;  // its update waits for the app to close
    const auto tasks = shellServices().taskSnapshot();
    const auto task = tasks.find(appId);
    if (task == tasks.end()) return false;
    const uint32_t state = task->second.state;
    return state == Downloading || state == Verifying || state == Installing || state == InstallQueued;
}

}  // namespace

void uninstallFromCard(int32_t appId) {
    AppState& app = appState();
    const AppInfo* info = app.catalogue.findApp(appId);
    if (!info || !installStatusOf(app, appId)) return;
    const std::wstring name = info->name;
    if (app.installed.uninstalling.count(appId)) return showToast(quoted(name) + L"正在卸载", ToastNeutral);
    // Its installer may be about to run or running: the two would work on the same files.
    const std::wstring busy = quoted(name) + L"正在下载或安装，请稍后再卸载";
    if (taskBusy(appId)) return showToast(busy, ToastNeutral);

    // Windows may list it under a longer name ("Photo Studio (64-bit)"): the question says what will run.
    std::wstring question = L"确定要卸载" + quoted(name) + L"吗？";
    const std::wstring& listedAs = installStatusOf(app, appId)->registration.displayName;
    if (normalizeAppName(listedAs) != normalizeAppName(name))
        question += L"\n\n将运行 Windows 中" + quoted(listedAs) + L"的卸载程序。";
    const int answer = shellServices().messageBox(app.mainWnd, question, L"卸载软件",
                                                  MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES) return;
    // The box was modal: the registrations may have been read again, or an uninstall begun, meanwhile.
    const InstallStatus* status = installStatusOf(app, appId);
    if (!status || app.installed.uninstalling.count(appId)) return;
    if (taskBusy(appId)) return showToast(busy, ToastNeutral);
    if (!shellServices().startUninstall(app.mainWnd, appId, status->registration))
        return showToast(quoted(name) + L"未能卸载", ToastError);
    app.installed.uninstalling.insert(appId);
    repaintMainWindow();
}

LRESULT onUninstallFinished(int32_t appId) {
    AppState& app = appState();
    const std::optional<UninstallOutcome> outcome = shellServices().takeUninstallOutcome(appId);
    if (!outcome || app.installed.uninstalling.erase(appId) == 0) return 0;
    const AppInfo* info = app.catalogue.findApp(appId);
    const std::wstring name = info ? info->name : std::wstring();
    if (*outcome == UninstallOutcome::Removed) {
        // The card says so at once; the read below confirms it. A task that installed the app is over.
        const auto tasks = shellServices().taskSnapshot();
        const auto task = tasks.find(appId);
        if (task != tasks.end() && task->second.state == Installed)
            app.installed.uninstalledTasks[appId] = task->second.generation;
        app.installed.byId.erase(appId);
        showToast(quoted(name) + L"已卸载", ToastSuccess);
    } else {
        showToast(quoted(name) + L"未能卸载", ToastError);
    }
    rereadInstalledApps();
    repaintMainWindow();
    return 0;
}
