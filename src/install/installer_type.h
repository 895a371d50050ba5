#pragma once
// What kind of installer a package is, from its bytes alone (never its name), the switches that run
// each kind without a window, and what each kind's exit code means.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

enum class InstallerType : uint32_t { Unknown = 0, Nsis = 1, Inno = 2, Msi = 3, Burn = 4 };

// Reads up to `length` bytes at `offset`; fewer (or none) at the end of the file or on a read error.
using ByteReader = std::function<std::string(uint64_t offset, size_t length)>;

// A Windows Installer database (compound document), an NSIS installer (its first header at a 512-byte
// boundary of the data appended to the program), an Inno Setup installer (its setup-data marker there,
// or its loader's offset table), a WiX Burn bundle (a ".wixburn" section), or Unknown.
InstallerType detectInstallerType(const ByteReader& read);
// The same through an open handle (GENERIC_READ; reads name their offsets) or a path.
InstallerType detectInstallerType(HANDLE file);
InstallerType detectInstallerTypeOfFile(const std::wstring& path);

// The switches that install a package of this type with no window of its own; empty for Unknown.
// For Windows Installer these follow `msiexec /i "<file>"`.
std::wstring silentSwitches(InstallerType type);

// Whether a catalogue's silent arguments may be used: no control characters, and for a Windows
// Installer package no switch that names another package, patch or transform.
bool silentArgsAcceptable(const std::wstring& args, bool forMsi);

// How to start a verified package without a window: the program and its arguments.
struct SilentLaunch {
    std::wstring program;
    std::wstring parameters;
    std::wstring commandLine() const { return L"\"" + program + L"\" " + parameters; }
};
// `catalogueArgs` replaces the detected switches when given; an empty value means the package cannot
// install silently. nullopt when it cannot: an unknown type without arguments, empty arguments, or
// arguments that are not acceptable. A Windows Installer package always runs as
// msiexec /i "<file>" with the switches after it; `systemFolder` is where msiexec.exe lives.
std::optional<SilentLaunch> silentLaunchFor(InstallerType type, const std::wstring& verifiedPath,
                                            const std::optional<std::wstring>& catalogueArgs,
                                            const std::wstring& systemFolder);

// Whether an installer's exit code says it succeeded: 0, or 3010 and 1641, which ask for a restart.
bool isSuccessCode(DWORD code);

// What an installer's run came to, once the registrations have been read.
enum class InstallOutcome {
    Installed,     // a registration appeared, an update's version moved, or a listed app's installer succeeded
    Cancelled,     // the type's exit code for a user who cancelled
    Failed,        // any other non-zero exit code of a known type
    NotInstalled,  // a clean exit that registered nothing
};
struct InstallFacts {
    InstallerType type = InstallerType::Unknown;
    DWORD exitCode = 0;
    bool wasListed = false;   // the app was registered before the run
    bool registered = false;  // a new registration appeared (for an app not listed before)
    bool versionMoved = false;  // the app's registered version changed (for an app listed before)
};
struct InstallJudgement {
    InstallOutcome outcome = InstallOutcome::NotInstalled;
    bool restartNeeded = false;   // 3010 or 1641: the change takes effect after a restart
    bool restartStarted = false;  // 1641: the installer has started a restart
};
// The registrations decide first; otherwise the exit code, read by the installer's type. An installer
// of unknown type has no table: an app listed before counts as installed, and any other non-zero
// code as cancelled.
InstallJudgement judgeInstall(const InstallFacts& facts);
// Whether a run with these facts is settled, so that the registrations need no re-check.
bool registrationsSettle(const InstallFacts& facts);
// Whether the package runs without a window: the setting is on, the catalogue vouched for its bytes,
// no wizard was asked for, and its type (or the catalogue's arguments) allows it.
bool runsSilently(bool silentSetting, InstallerType type, const std::optional<std::wstring>& catalogueArgs,
                  bool unverified, bool wizardAsked);
