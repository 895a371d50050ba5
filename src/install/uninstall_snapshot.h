#pragma once
// Snapshots of the Windows uninstall registrations and the match of an application name against them.
#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

struct UninstallSnapshot {
    std::set<std::wstring> keys;            // view prefix + subkey name, e.g. "LM64\{product code}"
    std::vector<std::wstring> displayNames;  // REG_SZ "DisplayName" values in scan order, duplicates kept
    // The "DisplayVersion" of the entry each display name came from, or empty; may be shorter.
    std::vector<std::wstring> displayVersions;
};

// The two registry roots the three uninstall locations hang under; tests point them at a scratch tree.
struct UninstallRoots {
    HKEY machine = HKEY_LOCAL_MACHINE;
    HKEY user = HKEY_CURRENT_USER;
};

// Visits every registration under the three uninstall locations (64-bit and 32-bit views of the
// machine, then the user): its key, the view prefix + subkey name as in UninstallSnapshot::keys, and
// the subkey opened for reading, or null when it cannot be opened.
void forEachUninstallEntry(const UninstallRoots& roots, const std::function<void(const std::wstring&, HKEY)>& visit);

UninstallSnapshot takeUninstallSnapshot();
UninstallSnapshot takeUninstallSnapshotUnder(const UninstallRoots& roots);

// Takes a fresh snapshot and tells whether it holds a key that before lacks.
bool hasNewUninstallEntry(const UninstallSnapshot& before);
bool hasNewUninstallKey(const UninstallSnapshot& before, const UninstallSnapshot& now);

std::wstring normalizeAppName(const std::wstring& text);
// Whether a registration's display name belongs to an app whose name, normalised, is wanted: the same
// name, or the name followed by a short addition (edition, bitness, year).
bool displayNameMatches(const std::wstring& wanted, const std::wstring& displayName);
bool isAppListed(const std::wstring& appName, const UninstallSnapshot& snapshot);
// The versions registered for an app of this name, sorted and joined, so two snapshots tell whether
// an installer moved them; empty when the app is not listed.
std::wstring listedVersions(const std::wstring& appName, const UninstallSnapshot& snapshot);
