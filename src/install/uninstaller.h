#pragma once
// Runs an application's uninstall command the way the Windows list of apps does, waits for it, and
// tells from the uninstall registrations whether the application is gone. Knows the application only
// by its registration key; whoever starts it hears the outcome through WM_QB_UNINSTALL_FINISHED.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "install/installed_apps.h"

constexpr DWORD kUninstallRecheckIntervalMs = 2000;
// Uninstallers that copy themselves to the temporary folder and start the copy end at once and
// leave the work to it: after a clean exit the registration is asked about for up to a minute.
constexpr int kUninstallRechecksAfterCleanExit = 30;
// An uninstaller that failed or was cancelled is given a moment for a helper still finishing.
constexpr int kUninstallRechecksAfterFailedExit = 2;

enum class UninstallOutcome {
    Removed,          // the registration is gone
    StillRegistered,  // the uninstaller ended (cancelled, failed or still running) and it is there
    NotStarted,       // no command, or the shell refused to run it (also when elevation was declined)
};

// Where the uninstaller learns whether the registration is still there and how it waits between
// re-checks; empty members mean the real registry and Sleep. Tests record the schedule.
struct UninstallerHooks {
    std::function<bool()> stillRegistered;
    std::function<void(DWORD milliseconds)> wait;
};

// The command a registration is removed with: its UninstallString (the quiet one only when there is
// no other), split as the shell runs it; nullopt when neither can be read.
std::optional<UninstallCommand> uninstallCommandOf(const InstalledApp& registration);

// After the uninstaller's process ended with exitCode: asks at once, then every 2 s up to the
// re-checks its exit allows, until the registration is gone. True when it went.
bool awaitUnregistration(DWORD exitCode, const UninstallerHooks& hooks);

// Opens the command with the shell (verb "open", no elevation asked: the uninstaller's manifest asks
// for it when it needs it), waits for the process and then for the registration to go.
UninstallOutcome runUninstaller(const UninstallCommand& command, const UninstallerHooks& hooks);

// Runs the uninstaller of registration on a worker; posts WM_QB_UNINSTALL_FINISHED with appId to
// window when it is over, its outcome kept for takeUninstallOutcome. False when no thread could be
// made. Empty hooks check registration.key in the real registry.
bool startUninstall(HWND window, int32_t appId, const InstalledApp& registration, UninstallerHooks hooks = {});
// The outcome of the app's finished uninstall, once; nullopt when none is waiting.
std::optional<UninstallOutcome> takeUninstallOutcome(int32_t appId);
