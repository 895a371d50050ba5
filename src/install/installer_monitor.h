#pragma once
// Opens a finished package with the shell, waits for it, and decides from the uninstall
// registrations whether the application is now installed.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "install/uninstall_snapshot.h"

struct Task;
enum TaskState : uint32_t;

constexpr DWORD kInstallRecheckIntervalMs = 2000;
constexpr int kRechecksAfterFailedExit = 2;
constexpr int kRechecksAfterCleanExit = 9;

// Where the monitor reads the registrations and how it waits between re-checks; empty members
// mean the real registry and Sleep. Tests record the schedule and use a scratch tree.
struct InstallerMonitorHooks {
    std::function<UninstallSnapshot()> takeSnapshot;
    std::function<void(DWORD milliseconds)> wait;
};

// Why an installer was not started although its task was: its signature broke after the download.
constexpr wchar_t kBrokenSignatureText[] = L"安装包签名无效，已禁止安装";

// Runs the package of a task and returns the verdict (Installed, InstallCancelled or Completed, or
// Failed when the package's signature is broken and it was not started); does not touch the task's state.
TaskState monitorInstaller(const Task& task, const InstallerMonitorHooks& hooks);

// Starts InstallerThread for a task already in state Installing; false when no thread could be made.
bool startInstallerThread(const std::shared_ptr<Task>& task);
bool startInstallerThread(const std::shared_ptr<Task>& task, InstallerMonitorHooks hooks);
DWORD WINAPI InstallerThread(LPVOID startRecord);
