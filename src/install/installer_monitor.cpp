#include "install/installer_monitor.h"

#include <shellapi.h>

#include <utility>

#include "base/win_handles.h"
#include "base/worker_thread.h"
#include "install/file_signature.h"

namespace {

#if defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "the shell expects the 64-bit record");
#endif

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

InstallVerdict monitorInstaller(const std::wstring& packagePath, const std::wstring& appName,
                                const InstallerMonitorHooks& hooks, DWORD* exitCodeOut) {
    // Checked again right before it runs: the file may have changed since the download was verified.
    if (checkSignature(packagePath).state == SignatureBroken) return InstallVerdict::SignatureBroken;
    const UninstallSnapshot before = takeSnapshot(hooks);
    const bool alreadyListed = IsAppListed(appName, before);

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = packagePath.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) return InstallVerdict::NotInstalled;
    // Nothing to wait for (the shell handed the file to a program already running): taken as installed.
    if (!info.hProcess) return InstallVerdict::Installed;

    qb::UniqueHandle process(info.hProcess);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    process.reset();
    if (exitCodeOut) *exitCodeOut = exitCode;

    if (alreadyListed || hasNewUninstallKey(before, takeSnapshot(hooks))) return InstallVerdict::Installed;
    if (exitCode != 0)
        return registeredWithin(kRechecksAfterFailedExit, before, hooks) ? InstallVerdict::Installed
                                                                         : InstallVerdict::Cancelled;
    return registeredWithin(kRechecksAfterCleanExit, before, hooks) ? InstallVerdict::Installed
                                                                    : InstallVerdict::NotInstalled;
}

bool startInstallerThread(InstallerRun run) {
    return qb::startWorker([run = std::move(run)] {
        InstallVerdict verdict;
        DWORD exitCode = 0;
        {
            // The shell wants a single-threaded apartment for the packages it hands to other handlers.
            qb::ComInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
            verdict = monitorInstaller(run.packagePath, run.appName, run.hooks, &exitCode);
        }
        run.finished(verdict, exitCode == 0);
    });
}
