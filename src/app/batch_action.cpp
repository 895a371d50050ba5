#include "app/app_action.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/shell_services.h"
#include "downloads/download_manager.h"
#include "model/app_state.h"
#include "render/state_texts.h"

namespace {

bool installerRunning() {
    for (const auto& entry : shellServices().taskSnapshot())
        if (entry.second.state == Installing) return true;
    return false;
}

void showSummary(const BatchSummary& summary) {
    AppState& state = appState();
    state.noticeText = summary.title;
    state.noticeIsSummary = true;
    state.noticeSkipped = summary.skipped;
    state.noticeFailed = summary.failed;
    state.noticeTaskId = 0;
    state.noticeTick = ::GetTickCount();
}

}  // namespace

void followBatch() {
    AppState& state = appState();
    InstallBatch& batch = state.batch;
    if (!batch.active()) return;
    // An app that ended as it started (its program runs) waits until the rest have started: until then
    // their tasks still show how they stood before.
    if (batch.starting) {
        batch.followOwed = true;
        return;
    }
    batch.follow(shellServices().taskSnapshot());
    if (!batch.finished()) return;
    showSummary(batchSummary(batch));
    autoUpdateBatchEnded(batch);
    batch = InstallBatch{};
    repaintMainWindow();
}

void stopBatch() {
    AppState& state = appState();
    InstallBatch& batch = state.batch;
    if (!batch.active() || batch.stopping) return;
    batch.stopping = true;
    const auto tasks = shellServices().taskSnapshot();
    for (const int32_t id : batch.notYetInstalling()) {
        const auto task = tasks.find(id);
        const uint32_t taskState = task == tasks.end() ? Failed : task->second.state;
        // Downloads keep their bytes for later; a waiting installer leaves the queue; a package still
        // being checked is not installed when it is done.
        if (taskState == Downloading) shellServices().pauseTask(id);
        if (taskState == InstallQueued) shellServices().withdrawInstall(id);
        if (taskState == Verifying) state.installsHeld.insert(id);
        batch.settle(id, BatchOutcome::Skipped);
    }
    followBatch();
    repaintMainWindow();
}

void requestClose(HWND hwnd) {
    AppState& state = appState();
    if (state.batch.active()) {
        const int answer = shellServices().messageBox(
            hwnd, L"正在批量安装软件，退出后其余的软件不再安装，正在运行的安装程序会继续完成。\n\n要退出 Quillbox 吗？",
            L"退出 Quillbox", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer != IDYES) return;
        stopBatch();
        // An installer is never killed: the program goes once the one that runs has ended.
        if (installerRunning()) {
            state.quitWhenInstallerEnds = true;
            ::ShowWindow(hwnd, SW_HIDE);
            if (state.shadowWnd) ::ShowWindow(state.shadowWnd, SW_HIDE);
            return;
        }
    }
    ::DestroyWindow(hwnd);
}

void closeIfQuitting() {
    AppState& state = appState();
    if (state.quitWhenInstallerEnds && state.mainWnd && !installerRunning()) ::DestroyWindow(state.mainWnd);
}
