#pragma once
// Opens a finished package with the shell, waits for it, and decides from the uninstall
// registrations whether the application is now installed. Knows the package only by its path and
// the application's name; whoever starts it hears the verdict through a callback.
#include <windows.h>

#include <functional>
#include <string>

#include "install/uninstall_snapshot.h"

constexpr DWORD kInstallRecheckIntervalMs = 2000;
constexpr int kRechecksAfterFailedExit = 2;
constexpr int kRechecksAfterCleanExit = 9;

enum class InstallVerdict {
    Installed,        // a registration appeared, or the application was listed already
    Cancelled,        // the installer failed and registered nothing
    NotInstalled,     // the installer ended cleanly (or could not be opened) and registered nothing
    SignatureBroken,  // the package's signature broke after the download; it was not started
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
    InstallerMonitorHooks hooks;
    // Called once, on the monitor's thread; exitedCleanly is false when the installer's process ended
    // with a non-zero exit code (an app listed before still counts as installed then).
    std::function<void(InstallVerdict verdict, bool exitedCleanly)> finished;
};

// Why an installer was not started although its task was: its signature broke after the download.
constexpr wchar_t kBrokenSignatureText[] = L"安装包签名无效，已禁止安装";

// Runs the package and returns the verdict.
// exitCode, when given, receives the process's exit code (0 when there was no process to wait for).
InstallVerdict monitorInstaller(const std::wstring& packagePath, const std::wstring& appName,
                                const InstallerMonitorHooks& hooks, DWORD* exitCode = nullptr);

// Runs monitorInstaller on a thread of its own and hands the verdict to `run.finished`; false when no
// thread could be made (nothing is called then).
bool startInstallerThread(InstallerRun run);
