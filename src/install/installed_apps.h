#pragma once
// What Windows lists as installed, read from the same three uninstall locations the installer
// monitor scans, and the rules that relate it to the catalogue: which registration belongs to an
// app, whether its version is older than the catalogue's, and how its uninstall command is run.
#include <optional>
#include <string>
#include <vector>

#include "install/uninstall_snapshot.h"

struct InstalledApp {
    std::wstring key;  // view prefix + subkey name, as in UninstallSnapshot::keys
    std::wstring displayName;
    std::wstring displayVersion;
    std::wstring publisher;
    std::wstring uninstallString;
    std::wstring quietUninstallString;
};

// Every registration with a display name, without system components and without entries that
// name a parent (updates of another entry), as the Windows list of apps shows them.
std::vector<InstalledApp> readInstalledApps(const UninstallRoots& roots = UninstallRoots{});

// The registration an app of this name matches by the name rule of IsAppListed; null when none.
// Of several, the one with the highest version.
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
// quoted program path, or an unquoted one ending in ".exe" (spaces allowed before that), or a first
// word. Windows Installer's "MsiExec.exe /I{code}" (which opens the repair dialog) becomes
// "/X{code}", the removal. nullopt for an empty or unterminated command.
struct UninstallCommand {
    std::wstring program;
    std::wstring parameters;
};
std::optional<UninstallCommand> parseUninstallCommand(const std::wstring& commandLine);
