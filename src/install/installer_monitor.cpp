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

// "The requested operation requires elevation" (740); older MinGW headers lack the name.
constexpr DWORD kElevationRequired = 740;

UninstallSnapshot takeSnapshot(const InstallerMonitorHooks& hooks) {
    return hooks.takeSnapshot ? hooks.takeSnapshot() : takeUninstallSnapshot();
}

void waitBetweenChecks(const InstallerMonitorHooks& hooks) {
    if (hooks.wait) {
        hooks.wait(kInstallRecheckIntervalMs);
    } else {
        ::Sleep(kInstallRecheckIntervalMs);
    }
}

// What the registrations say now, against the snapshot taken before the run.
void readRegistrations(const std::wstring& appName, const UninstallSnapshot& before, const UninstallSnapshot& now,
                       InstallFacts& facts) {
    facts.registered = hasNewUninstallKey(before, now);
    const std::wstring versions = listedVersions(appName, now);
    facts.versionMoved = !versions.empty() && versions != listedVersions(appName, before);
}

// Started without the shell, so no prompt about the file's origin comes first. A program that asks
// for elevation is handed to the shell instead, for the system's own consent prompt.
HANDLE startSilently(const SilentLaunch& launch) {
    std::wstring commandLine = launch.commandLine();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(launch.program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::CloseHandle(process.hThread);
        return process.hProcess;
    }
    if (::GetLastError() != kElevationRequired) return nullptr;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOZONECHECKS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = launch.program.c_str();
    info.lpParameters = launch.parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&info) ? info.hProcess : nullptr;
}

// The shell opens the package with its own verb: the installer's wizard. No process handle (the shell
// handed the file to a program already running) is taken as installed.
HANDLE startWithWizard(const std::wstring& packagePath, InstallerResult& result) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = packagePath.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) return nullptr;
    if (!info.hProcess) result.verdict = InstallVerdict::Installed;
    return info.hProcess;
}

InstallVerdict verdictFor(InstallOutcome outcome) {
    switch (outcome) {
        case InstallOutcome::Installed: return InstallVerdict::Installed;
        case InstallOutcome::Cancelled: return InstallVerdict::Cancelled;
        case InstallOutcome::Failed: return InstallVerdict::Failed;
        case InstallOutcome::NotInstalled: break;
    }
    return InstallVerdict::NotInstalled;
}

}  // namespace

InstallerResult monitorInstaller(const InstallerRun& run) {
    const InstallerMonitorHooks& hooks = run.hooks;
    InstallerResult result;
    // Checked again right before it runs, since the file may have changed after the download was
    // verified, and held until the installer has ended, shared for reading only: nothing replaces or
    // changes its bytes between their checks and the run.
    qb::UniqueHandle held(::CreateFileW(run.packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) return result;
    if (run.sameBytes && !run.sameBytes(held.get())) {
        result.verdict = InstallVerdict::DigestMismatch;
        return result;
    }
    const SignatureCheck signature = checkSignature(run.packagePath, held.get(), !run.pinnedPublisher.empty());
    if (signature.state == SignatureBroken) {
        result.verdict = InstallVerdict::SignatureBroken;
        return result;
    }
    if (publisherVerdict(run.pinnedPublisher, signature) == PublisherVerdict::Refused) {
        result.verdict = InstallVerdict::PublisherRefused;
        return result;
    }
    const UninstallSnapshot before = takeSnapshot(hooks);
    InstallFacts facts;
    facts.type = run.type;
    facts.wasListed = isAppListed(run.appName, before);

    qb::UniqueHandle process(run.silent ? startSilently(*run.silent) : startWithWizard(run.packagePath, result));
    if (!process) return result;
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &facts.exitCode);
    process.reset();
    held.reset();
    result.exitCode = facts.exitCode;

    // Installers often register from a helper that outlives them, so a quiet registry is asked again.
    readRegistrations(run.appName, before, takeSnapshot(hooks), facts);
    const int rechecks = facts.exitCode == 0 ? kRechecksAfterCleanExit : kRechecksAfterFailedExit;
    for (int i = 0; i < rechecks && !registrationsSettle(facts); ++i) {
        waitBetweenChecks(hooks);
        readRegistrations(run.appName, before, takeSnapshot(hooks), facts);
    }
    const InstallJudgement judgement = judgeInstall(facts);
    result.verdict = verdictFor(judgement.outcome);
    result.restartNeeded = judgement.restartNeeded;
    result.restartStarted = judgement.restartStarted;
    return result;
}

bool startInstallerThread(InstallerRun run) {
    return qb::startWorker([run = std::move(run)] {
        InstallerResult result;
        {
            // The shell wants a single-threaded apartment for the packages it hands to other handlers.
            qb::ComInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
            result = monitorInstaller(run);
        }
        run.finished(result);
    });
}
