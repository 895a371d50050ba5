#include "install/installer_monitor.h"

#include <shellapi.h>

#include <utility>

#include "base/window_messages.h"
#include "base/win_handles.h"
#include "downloads/download_manager.h"
#include "downloads/file_signature.h"

namespace {

#if defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "the shell expects the 64-bit record");
#endif

struct InstallerStart {
    std::shared_ptr<Task> task;
    InstallerMonitorHooks hooks;
};

UninstallSnapshot takeSnapshot(const InstallerMonitorHooks& hooks) {
    return hooks.takeSnapshot ? hooks.takeSnapshot() : TakeUninstallSnapshot();
}

// Installers often register from a helper that outlives them, so a quiet registry is asked again.
bool registeredWithin(int rechecks, const UninstallSnapshot& before, const InstallerMonitorHooks& hooks) {
    for (int i = 0; i < rechecks; ++i) {
        if (hooks.wait) {
            hooks.wait(kInstallRecheckIntervalMs);
        } else {
            ::Sleep(kInstallRecheckIntervalMs);
        }
        if (hasNewUninstallKey(before, takeSnapshot(hooks))) return true;
    }
    return false;
}

}  // namespace

TaskState monitorInstaller(const Task& task, const InstallerMonitorHooks& hooks) {
    // Checked again right before it runs: the file may have changed since the download was verified.
    if (checkSignature(task.filePath).state == SignatureBroken) return Failed;
    const UninstallSnapshot before = takeSnapshot(hooks);
    const bool alreadyListed = IsAppListed(task.name, before);

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = task.filePath.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) return Completed;
    // Nothing to wait for (the shell handed the file to a program already running): taken as installed.
    if (!info.hProcess) return Installed;

    qb::UniqueHandle process(info.hProcess);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    process.reset();

    if (alreadyListed) return Installed;
    if (hasNewUninstallKey(before, takeSnapshot(hooks))) return Installed;
    if (exitCode != 0) return registeredWithin(kRechecksAfterFailedExit, before, hooks) ? Installed : InstallCancelled;
    return registeredWithin(kRechecksAfterCleanExit, before, hooks) ? Installed : Completed;
}

DWORD WINAPI InstallerThread(LPVOID startRecord) {
    std::unique_ptr<InstallerStart> start(static_cast<InstallerStart*>(startRecord));
    const std::shared_ptr<Task> task = std::move(start->task);
    const InstallerMonitorHooks hooks = std::move(start->hooks);
    start.reset();
    {
        // The shell wants a single-threaded apartment for the packages it hands to other handlers.
        qb::ComInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        const TaskState verdict = monitorInstaller(*task, hooks);
        if (verdict == Failed) task->setError(kBrokenSignatureText);
        task->state.store(verdict);
    }
    if (HWND window = DownloadManager::instance().mainWindow.load()) ::PostMessageW(window, WM_QB_REFRESH, 0, 0);
    return 0;
}

bool startInstallerThread(const std::shared_ptr<Task>& task) { return startInstallerThread(task, {}); }

bool startInstallerThread(const std::shared_ptr<Task>& task, InstallerMonitorHooks hooks) {
    auto* start = new InstallerStart{task, std::move(hooks)};
    HANDLE thread = ::CreateThread(nullptr, 0, InstallerThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    ::CloseHandle(thread);
    return true;
}
