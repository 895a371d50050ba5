#pragma once
// Opens a finished package with the shell, waits for it, and decides from the uninstall
// registrations whether the application is now installed.
#include <windows.h>

#include <memory>

struct Task;

// Starts InstallerThread for a task already in state Installing; false when no thread could be made.
bool startInstallerThread(const std::shared_ptr<Task>& task);
DWORD WINAPI InstallerThread(LPVOID startRecord);
