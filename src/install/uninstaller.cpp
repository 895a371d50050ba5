#include "install/uninstaller.h"

#include <shellapi.h>

#include <map>
#include <utility>

#include "base/mailbox.h"
#include "base/win_handles.h"
#include "base/window_messages.h"
#include "base/worker_thread.h"
#include "install/uninstall_snapshot.h"

namespace {

void pause(const UninstallerHooks& hooks, DWORD milliseconds) {
    if (hooks.wait) {
        hooks.wait(milliseconds);
    } else {
        ::Sleep(milliseconds);
    }
}

using Outcomes = std::map<int32_t, UninstallOutcome>;  // by app id

qb::Mailbox<Outcomes>& finishedUninstalls() {
    static qb::Mailbox<Outcomes> outcomes;
    return outcomes;
}

}  // namespace

std::optional<UninstallCommand> uninstallCommandOf(const InstalledApp& registration) {
    if (registration.uninstallStringUnreadable) return std::nullopt;
    if (auto command = parseUninstallCommand(registration.uninstallString)) return command;
    return parseUninstallCommand(registration.quietUninstallString);
}

bool awaitUnregistration(DWORD exitCode, const UninstallerHooks& hooks) {
    if (!hooks.stillRegistered()) return true;
    const int rechecks = exitCode == 0 ? kUninstallRechecksAfterCleanExit : kUninstallRechecksAfterFailedExit;
    for (int i = 0; i < rechecks; ++i) {
        pause(hooks, kUninstallRecheckIntervalMs);
        if (!hooks.stillRegistered()) return true;
    }
    return false;
}

UninstallOutcome runUninstaller(const UninstallCommand& command, const UninstallerHooks& hooks) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // The shell's own error boxes would say again what the window's toast says.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = command.program.c_str();
    info.lpParameters = command.parameters.empty() ? nullptr : command.parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) return UninstallOutcome::NotStarted;

    // Without a process to wait for, the registration alone tells; its clean-exit patience applies.
    DWORD exitCode = 0;
    if (info.hProcess) {
        qb::UniqueHandle process(info.hProcess);
        ::WaitForSingleObject(process.get(), INFINITE);
        ::GetExitCodeProcess(process.get(), &exitCode);
    }
    return awaitUnregistration(exitCode, hooks) ? UninstallOutcome::Removed : UninstallOutcome::StillRegistered;
}

bool startUninstall(HWND window, int32_t appId, const InstalledApp& registration, UninstallerHooks hooks) {
    if (!hooks.stillRegistered) {
        hooks.stillRegistered = [key = registration.key] { return takeUninstallSnapshot().keys.count(key) != 0; };
    }
    return qb::startWorker([window, appId, registration, hooks = std::move(hooks)] {
        // Parsed here: splitting an unquoted path asks the file system, which may be slow to answer.
        const std::optional<UninstallCommand> command = uninstallCommandOf(registration);
        UninstallOutcome outcome = UninstallOutcome::NotStarted;
        if (command) {
            // The shell wants a single-threaded apartment, as for installers.
            qb::ComInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
            outcome = runUninstaller(*command, hooks);
        }
        finishedUninstalls().update([appId, outcome](std::optional<Outcomes>& waiting) {
            if (!waiting) waiting.emplace();
            (*waiting)[appId] = outcome;
        });
        ::PostMessageW(window, WM_QB_UNINSTALL_FINISHED, packIdAndGeneration(appId, 0), 0);
    });
}

std::optional<UninstallOutcome> takeUninstallOutcome(int32_t appId) {
    return finishedUninstalls().update([appId](std::optional<Outcomes>& waiting) -> std::optional<UninstallOutcome> {
        if (!waiting || !waiting->count(appId)) return std::nullopt;
        const UninstallOutcome outcome = waiting->at(appId);
        waiting->erase(appId);
        return outcome;
    });
}
