#pragma once
// Opens a finished package with the shell, waits for it, and decides from the uninstall
// registrations whether the application is now installed. Knows the package only by its path and
// the application's name; whoever starts it hears the verdict through a callback.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "install/installer_type.h"
#include "install/uninstall_snapshot.h"

constexpr DWORD kInstallRecheckIntervalMs = 2000;
constexpr int kRechecksAfterFailedExit = 2;
constexpr int kRechecksAfterCleanExit = 9;

enum class InstallVerdict {
    Installed,        // a registration appeared, or the application was listed already
    Cancelled,        // the installer failed and registered nothing
    NotInstalled,     // the installer ended cleanly (or could not be opened) and registered nothing
    SignatureBroken,  // the package's signature broke after the download; it was not started
    PublisherRefused,  // the package is no longer signed by the publisher the catalogue pins; it was not started
    DigestMismatch,   // the package's bytes are no longer those the download verified; it was not started
    Failed,           // an installer of a known type ended with an exit code that means failure
};

// A run's verdict with the exit code behind it (0 when there was no process to wait for).
struct InstallerResult {
    InstallVerdict verdict = InstallVerdict::NotInstalled;
    DWORD exitCode = 0;
    bool restartNeeded = false;   // installed; the change takes effect after a restart
    bool restartStarted = false;  // the installer has started a restart of the machine
};

// Where the monitor reads the registrations and how it waits between re-checks; empty members
// mean the real registry and Sleep. Tests record the schedule and use a scratch tree.
struct InstallerMonitorHooks {
    std::function<UninstallSnapshot()> takeSnapshot;
    std::function<void(DWORD milliseconds)> wait;
};

struct InstallerRun {
    std::wstring packagePath;
    std::wstring appName;  // matched against the names already registered
    std::wstring pinnedPublisher;  // the signer the catalogue expects; empty: any
    // Whether the file, read through the handle held for the run, still has the digests its download
    // matched; empty when the catalogue gave none.
    std::function<bool(HANDLE file)> sameBytes;
    InstallerType type = InstallerType::Unknown;  // how its exit code is read
    // Started as given, with no window of its own; without it the shell opens the package (its wizard).
    std::optional<SilentLaunch> silent;
    InstallerMonitorHooks hooks;
    // Called once, on the monitor's thread.
    std::function<void(const InstallerResult& result)> finished;
};

// Runs the package (`run.finished` is not called) and returns the verdict.
InstallerResult monitorInstaller(const InstallerRun& run);

// Runs monitorInstaller on a thread of its own and hands the verdict to `run.finished`; false when no
// thread could be made (nothing is called then).
bool startInstallerThread(InstallerRun run);
