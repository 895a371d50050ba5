#pragma once
// The processes of an installed app that are running: found by whole folder (the app's own folder,
// never a shared one), asked to close like a user would, and started again after an update.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/installed_apps.h"

struct RunningProcess {
    DWORD id = 0;
    std::wstring image;  // the full path of its program
};

// Folders no app owns alone: drive roots, the Windows folder and everything under it, the Program
// Files and Common Files folders themselves, and the user profiles' roots.
struct SharedFolders {
    std::wstring windows;
    std::vector<std::wstring> exact;  // Program Files (both), Common Files (both), the profiles' root
    std::wstring profilesRoot;        // C:\Users: each folder directly in it is a profile's root
};
SharedFolders systemSharedFolders();

// The app's own folder: its InstallLocation, or the folder of its DisplayIcon where there is none;
// without a trailing separator. Empty when neither names a folder.
std::wstring appFolderOf(const InstalledApp& registration);
// False for an empty or relative folder and for the shared folders: such an app is not checked.
bool isOwnAppFolder(const std::wstring& folder, const SharedFolders& shared);
// The processes whose program lies inside the folder (matched as the folder plus a backslash).
std::vector<RunningProcess> processesInside(const std::wstring& folder, const std::vector<RunningProcess>& all);

// Every process whose program path can be read.
std::vector<RunningProcess> listRunningProcesses();
// The app's running processes; empty when it has none or its folder is not its own.
std::vector<RunningProcess> runningProcessesOf(const InstalledApp& registration);
// Sends WM_CLOSE to the top-level windows of each process and waits, at most `milliseconds`, for all
// of them to end. Never kills one. True when none is left.
bool closeProcesses(const std::vector<RunningProcess>& processes, DWORD milliseconds);
// Starts each program again (once per path); nothing is reported.
void startPrograms(const std::vector<std::wstring>& images);
