#pragma once
// Snapshots of the Windows uninstall registrations and the match of an application name against them.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

struct UninstallSnapshot {
    std::set<std::wstring> keys;            // view prefix + subkey name, e.g. "LM64\{product code}"
    std::vector<std::wstring> displayNames;  // REG_SZ "DisplayName" values in scan order, duplicates kept
};

// The two registry roots the three uninstall locations hang under; tests point them at a scratch tree.
struct UninstallRoots {
    HKEY machine = HKEY_LOCAL_MACHINE;
    HKEY user = HKEY_CURRENT_USER;
};

UninstallSnapshot TakeUninstallSnapshot();
UninstallSnapshot takeUninstallSnapshotUnder(const UninstallRoots& roots);

// Takes a fresh snapshot and tells whether it holds a key that before lacks.
bool HasNewUninstallEntry(const UninstallSnapshot& before);
bool hasNewUninstallKey(const UninstallSnapshot& before, const UninstallSnapshot& now);

std::wstring NormalizeAppName(const std::wstring& text);
bool IsAppListed(const std::wstring& appName, const UninstallSnapshot& snapshot);
