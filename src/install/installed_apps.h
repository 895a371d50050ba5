#pragma once
// What Windows lists as installed, read from the same three uninstall locations the installer
// monitor scans, and the rules that relate it to the catalogue: which registration belongs to an
// app, whether its version is older than the catalogue's, and how its uninstall command is run.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "install/uninstall_snapshot.h"

struct InstalledApp {
    std::wstring key;  // view prefix + subkey name, as in UninstallSnapshot::keys
    std::wstring displayName;
    std::wstring displayVersion;
    std::wstring publisher;
    std::wstring uninstallString;
    std::wstring quietUninstallString;
    std::wstring installLocation;
    std::wstring displayIcon;  // "path" or "path,index"
    // The UninstallString is there but could not be read: the quiet one must not stand in for it.
    bool uninstallStringUnreadable = false;
};

// Every registration with a display name, without system components and without entries that
// name a parent (updates of another entry), as the Windows list of apps shows them. Text values are
// read up to 32 KiB, REG_EXPAND_SZ ones with their environment variables expanded.
std::vector<InstalledApp> readInstalledApps(const UninstallRoots& roots = UninstallRoots{});

// The registration an app of this name matches by the name rule of isAppListed; null when none.
// Of several, one named exactly as the app, then the one with the highest version.
const InstalledApp* findInstalledApp(const std::wstring& appName, const std::vector<InstalledApp>& installed);

// Compares two version texts: the version starts at the first digit and ends at the first space or
// character outside printable ASCII (so "v2.1" is 2.1 and "1.2 正式版" is 1.2); it is split at "."
// into parts, each a number and a text suffix; numbers compare first, then a part with a suffix is
// lower than one without ("1.0.1-beta" < "1.0.1"), two suffixes compare without case; missing
// parts count as 0 ("1.0" = "1.0.0"). Negative, zero or positive like strcmp; nullopt when either
// text holds no digit.
std::optional<int> compareVersions(const std::wstring& a, const std::wstring& b);
// True only when both versions can be read and the installed one is lower.
bool isUpdateAvailable(const std::wstring& installedVersion, const std::wstring& catalogueVersion);

// An uninstall command split into the program and its parameters, the way the shell runs it: a
// quoted program path; or, unquoted, the longest prefix ending at a blank that names an existing
// file, else a path up to its first ".exe" followed by a blank, else the first word. Every Windows
// Installer form that installs or repairs a product code ("MsiExec.exe /I{code}", "-i {code}",
// "/qb /I{code}", "/fa \"{code}\"", which open the repair dialog) becomes "/X{code}", the removal.
// nullopt for an empty or unterminated command.
struct UninstallCommand {
    std::wstring program;
    std::wstring parameters;
};
using FileExists = std::function<bool(const std::wstring& path)>;
// True for a file, false for a folder or nothing.
bool isExistingFile(const std::wstring& path);
std::optional<UninstallCommand> parseUninstallCommand(const std::wstring& commandLine,
                                                      const FileExists& fileExists = isExistingFile);

// A catalogue app as the matching needs it: copied for the worker, which never sees the records.
struct CatalogueName {
    int32_t id = 0;
    std::wstring name;
    std::wstring version;
};

// What the registrations say of one catalogue app.
struct InstallStatus {
    InstalledApp registration;  // the matched one (of several, as findInstalledApp chooses)
    bool updatable = false;     // its version is readable and lower than the catalogue's
};

// The catalogue apps that are installed, by id; every other app is not.
std::unordered_map<int32_t, InstallStatus> matchInstalledApps(const std::vector<CatalogueName>& apps,
                                                              const std::vector<InstalledApp>& installed);

// Reads the registrations and matches them against apps on a worker, then posts
// WM_QB_INSTALLED_READ with readNumber to window; false when no thread could be made.
bool startInstalledAppsRead(HWND window, uint32_t readNumber, std::vector<CatalogueName> apps,
                            const UninstallRoots& roots = UninstallRoots{});
struct InstalledAppsRead {
    uint32_t readNumber = 0;
    std::unordered_map<int32_t, InstallStatus> statuses;
};
// The newest finished read, once; nullopt when none finished since the last call.
std::optional<InstalledAppsRead> takeInstalledAppsRead();
