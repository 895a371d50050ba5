#include "app/app_action.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "model/app_state.h"

namespace {

std::wstring nameOf(int32_t appId) {
    const AppInfo* info = appState().catalogue.findApp(appId);
    return info ? info->name : std::wstring();
}

bool pendingInBatch(const InstallBatch& batch, int32_t appId) {
    for (const BatchItem& item : batch.items)
        if (item.appId == appId && item.outcome == BatchOutcome::Pending) return true;
    return false;
}

}  // namespace

bool deferForRunningApp(int32_t taskId) {
    AppState& state = appState();
    const InstallStatus* installed = installStatusOf(state, taskId);
    ShellServices& services = shellServices();
    if (!installed || !services.runningProcessesOf) return false;  // not an update
    std::vector<RunningProcess> running = services.runningProcessesOf(installed->registration);
    state.waitingForClose.erase(taskId);
    if (running.empty()) return false;
    const std::wstring name = nameOf(taskId);
    // A batch never waits for a person: the app is skipped and the rest go on.
    if (pendingInBatch(state.batch, taskId)) {
        state.batch.settle(taskId, BatchOutcome::Skipped);
        showToast(L"「" + name + L"」正在运行，已跳过", ToastNeutral);
        followBatch();
        return true;
    }
    if (!services.confirm(state.mainWnd, L"「" + name + L"」正在运行，关闭后继续升级？", L"升级软件", L"关闭并升级",
                          L"取消")) {
        state.restartAfterUpdate.erase(taskId);  // asked again after it came back, and declined
        return true;
    }
    std::vector<std::wstring> programs;
    for (const RunningProcess& process : running) programs.push_back(process.image);
    state.restartAfterUpdate[taskId] = std::move(programs);
    if (!services.closeRunningApp(state.mainWnd, taskId, std::move(running))) {
        state.restartAfterUpdate.erase(taskId);
        return true;
    }
    showToast(L"正在关闭「" + name + L"」…", ToastNeutral);
    return true;
}

LRESULT onAppClosed(int32_t appId, bool closed) {
    AppState& state = appState();
    if (!closed) {
        // Never killed: the update waits, and its button tries again.
        state.restartAfterUpdate.erase(appId);
        state.waitingForClose.insert(appId);
        showToast(L"请先关闭「" + nameOf(appId) + L"」", ToastError);
        repaintMainWindow();
        return 0;
    }
    // Deferred again (it came back and was asked about anew): the programs noted stay for that road.
    const InstallStart start = installAndReport(appId);
    if (start == InstallStart::Accepted) showToast(installAcceptedToast(appId, nameOf(appId)), ToastSuccess);
    if (start == InstallStart::Refused) state.restartAfterUpdate.erase(appId);
    repaintMainWindow();
    return 0;
}

void restartClosedApps() {
    AppState& state = appState();
    if (state.restartAfterUpdate.empty()) return;
    const auto tasks = shellServices().taskSnapshot();
    for (auto it = state.restartAfterUpdate.begin(); it != state.restartAfterUpdate.end();) {
        const auto task = tasks.find(it->first);
        const uint32_t taskState = task == tasks.end() ? Failed : task->second.state;
        if (taskState == Installing || taskState == InstallQueued) {
            ++it;
            continue;
        }
        if (taskState == Installed && !task->second.installerFailed) shellServices().startPrograms(it->second);
        it = state.restartAfterUpdate.erase(it);
    }
}
